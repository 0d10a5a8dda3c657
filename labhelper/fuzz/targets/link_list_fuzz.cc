// Fuzz target: the link-list reader on any bytes. It reads all 41 values or
// says it could not, and every value it gives is a non-zero 24-bit address
// (read up to the 41st, a 0 or the end).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "algorithm.h"
#include "fuzz_support.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 3000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  std::string text;
  const int n = static_cast<int>(random() % 50);
  for (int i = 0; i < n; ++i) {
    char word[24];
    std::snprintf(word, sizeof word, random() % 2 ? "%06X" : "%x",
                  static_cast<unsigned>(random() % 16 == 0 ? 0 : random() % 0x2000000));
    text += word;
    const char* gaps[] = {"\r\n", "\n", " ", "\t", "  ", "g", ""};
    text += gaps[random() % 7];
  }
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t values[41];
  for (auto& v : values) v = 0xDEADBEEF;
  const bool whole =
      zimo::labhelper::ParseLinkList(reinterpret_cast<const char*>(data), size, values);
  if (!whole) return 0;
  for (std::uint32_t v : values) {
    if (v == 0 || v > 0xFFFFFF) std::abort();
  }
  return 0;
}
