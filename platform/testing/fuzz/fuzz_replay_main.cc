// Replay driver for the fuzz targets when libFuzzer is not there: runs every
// file named on the command line through the target, then the target's
// generated inputs from a fixed seed. A fault aborts under the sanitizers.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "fuzz_replay.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::mt19937 random(1);
  for (int i = 0; i < zimo::testing::kFuzzGeneratedInputs; ++i) {
    const std::vector<std::uint8_t> input = zimo::testing::FuzzGenerate(random);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d generated inputs and %d files: no fault\n", zimo::testing::kFuzzGeneratedInputs,
              argc - 1);
  return 0;
}
