// The fuzz target's own driver where libFuzzer is not there: replays every
// file named on the command line, then runs generated inputs (a fixed seed,
// so a failure repeats): answers of random lengths made of the bytes the
// parser looks at (CR, LF, ACK, BEL, STX, digits) and others.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr int kGeneratedInputs = 20000;

std::vector<std::uint8_t> Generate(std::mt19937& random) {
  static const std::uint8_t kAlphabet[] = {'\r', '\n', 0x06, 0x07, 0x02, '0', '3', 'E', 'R', 'x', 0};
  std::vector<std::uint8_t> input;
  input.push_back(static_cast<std::uint8_t>(random()));
  const int answers = 1 + random() % 6;
  for (int a = 0; a < answers; ++a) {
    std::uint16_t length;
    switch (random() % 5) {
      case 0: length = 1400; break;
      case 1: length = 0xFFFF; break;
      case 2: length = static_cast<std::uint16_t>(1401 + random() % 200); break;
      default: length = static_cast<std::uint16_t>(random() % 40); break;
    }
    input.push_back(static_cast<std::uint8_t>(length));
    input.push_back(static_cast<std::uint8_t>(length >> 8));
    if (length == 0xFFFF) continue;
    for (int i = 0; i < length; ++i) {
      input.push_back(random() % 4 == 0 ? static_cast<std::uint8_t>(random())
                                        : kAlphabet[random() % sizeof kAlphabet]);
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::mt19937 random(1);
  for (int i = 0; i < kGeneratedInputs; ++i) {
    const std::vector<std::uint8_t> input = Generate(random);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d generated inputs and %d files: no fault\n", kGeneratedInputs, argc - 1);
  return 0;
}
