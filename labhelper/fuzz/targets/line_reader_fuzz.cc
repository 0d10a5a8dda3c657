// Fuzz target: the shared line reader over a file of any bytes. Each line it
// hands out is at most 255 raw characters, cleaned (no control characters,
// nothing from the first ';' on) and never longer than what was read; the
// read that meets the end says so, and the reader then stops.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "labhelper/qeldll32.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 3000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const std::uint8_t kAlphabet[] = {'\r', '\n', '\t', ';', ' ', 'P', '1', '=', 0, 127};
  std::vector<std::uint8_t> bytes(random() % 700);
  for (auto& byte : bytes) {
    byte = random() % 3 == 0 ? static_cast<std::uint8_t>(random())
                             : kAlphabet[random() % sizeof kAlphabet];
  }
  return bytes;
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = labhelper_fuzz::WriteScratch(data, size);
  if (open_file(path.c_str()) != 1) std::abort();
  char line[256];
  size_t total = 0;
  int16_t result = 0;
  for (int calls = 0; result == 0; ++calls) {
    if (calls > static_cast<int>(size) + 1) std::abort();  // the reader must move on
    std::memset(line, 'x', sizeof line);
    int16_t raw = -1;
    result = read_a_line_from_file(line, &raw);
    if (result == 1) break;
    if (result != 0 && result != 16) std::abort();
    if (raw < 0 || raw > 255 || memchr(line, '\0', sizeof line) == nullptr) std::abort();
    const size_t length = std::strlen(line);
    if (length > static_cast<size_t>(raw)) std::abort();
    for (size_t i = 0; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (c < 32 || c == 127 || c == ';') std::abort();
    }
    total += raw;
  }
  if (total > size) std::abort();
  if (read_a_line_from_file(line, nullptr) != 1) std::abort();
  if (close_file() != 1) std::abort();
  return 0;
}
