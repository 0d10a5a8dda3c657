// Fuzz target: the card-word converters and the text helpers on any text,
// short ones included. They may read only up to the text's terminator and
// must give values within the word formats' ranges.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "labhelper/qeldll32.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 20000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char kAlphabet[] = "0123456789ABCDEFabcdef ;\t\r\n-";
  std::vector<std::uint8_t> bytes(random() % 20);
  for (auto& byte : bytes) {
    byte = random() % 5 == 0 ? static_cast<std::uint8_t>(random())
                             : kAlphabet[random() % (sizeof kAlphabet - 1)];
  }
  return bytes;
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of exactly the text and its terminator, so any read past
  // the end is caught.
  const size_t length = size == 0 ? 0 : strnlen(reinterpret_cast<const char*>(data), size);
  char* text = static_cast<char*>(std::malloc(length + 1));
  if (length > 0) std::memcpy(text, data, length);
  text[length] = '\0';

  const int32_t word = hex_long(text);
  if (word < 0 || word > 0xFFFFFF) std::abort();
  const double short_word = convert_short_word_to_long(text);
  if (short_word < -8388608.0 || short_word > 8388607.0) std::abort();
  const double long_word = convert_word_to_long(text);
  if (std::fabs(long_word) > 140737488355328.0) std::abort();  // 2^47
  if (std::isnan(convert_word_to_double(text))) std::abort();

  char* word_buffer = static_cast<char*>(std::malloc(260));
  for (int32_t n = -1; n <= 3; ++n) {
    const int16_t got = get_parameter(text, word_buffer, n);
    if (got < 0 || got > 259 || (got > 0 && std::strlen(word_buffer) != static_cast<size_t>(got))) {
      std::abort();
    }
  }
  std::free(word_buffer);

  const int16_t end = strip_off_extra(text);
  if (end != ';' && end != 0) std::abort();
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == ';') std::abort();
  }
  std::free(text);
  return 0;
}
