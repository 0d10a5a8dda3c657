// The fuzz targets' own driver where libFuzzer is not there: replays every
// file named on the command line, then the target's generated inputs (a
// fixed seed, so a failure repeats).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "fuzz_support.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::mt19937 random(1);
  for (int i = 0; i < labhelper_fuzz::kGeneratedInputs; ++i) {
    const std::vector<std::uint8_t> input = labhelper_fuzz::Generate(random);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d generated inputs and %d files: no fault\n", labhelper_fuzz::kGeneratedInputs,
              argc - 1);
  return 0;
}
