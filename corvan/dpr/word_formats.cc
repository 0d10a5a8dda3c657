#include "corvan/word_formats_api.h"

#include <cmath>
#include <cstring>

namespace {

// The card's digit rule: below 'A' counts from '0', anything else from '7'.
std::uint32_t DigitValue(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u < 'A' ? u - static_cast<unsigned>('0') : u - static_cast<unsigned>('7');
}

// `digits` digits of `text` from index `first` on, accumulated into 32 bits
// (hex_long2 without its sign). A card word's text has a fixed width; the
// digits of a shorter text past its end read as 0, so nothing beyond the
// text is read.
std::uint32_t HexBits(const char* text, int first, int digits) {
  if (text == nullptr) return 0;
  bool ended = false;
  for (int i = 0; i < first && !ended; ++i) ended = text[i] == '\0';
  std::uint32_t value = 0;
  for (int i = 0; i < digits; ++i) {
    std::uint32_t digit = 0;
    if (!ended) {
      const char c = text[first + i];
      if (c == '\0') {
        ended = true;
      } else {
        digit = DigitValue(c);
      }
    }
    value = value * 16u + digit;
  }
  return value;
}

std::int64_t SignExtend24(std::uint32_t word) {
  const std::int64_t w = word & 0xFFFFFFu;
  return w >= 0x800000 ? w - 0x1000000 : w;
}

double FiniteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

}  // namespace

extern "C" {

std::int32_t hex_long2(const char* text, std::int32_t digits) {
  if (digits < 1) return 0;
  return static_cast<std::int32_t>(HexBits(text, 0, digits));
}

std::int32_t getBitValue(const char* text, std::int32_t bit) {
  if (text == nullptr || bit < 0) return 0;
  const long index = static_cast<long>(std::strlen(text)) - bit / 4 - 1;
  if (index < 0) return 0;
  const char c = text[index];
  std::uint32_t value = 0;
  if (c >= '0' && c <= '9') {
    value = static_cast<std::uint32_t>(c - '0');
  } else if (c >= 'A' && c <= 'F') {
    value = static_cast<std::uint32_t>(c - '7');
  } else if (c >= 'a' && c <= 'f') {
    value = static_cast<std::uint32_t>(c - 'W');
  }
  const std::uint32_t mask = 1u << (bit % 4);
  return (value & mask) == mask ? 1 : 0;
}

double strtod24(const char* text) {
  if (text == nullptr) return 0.0;
  return static_cast<double>(SignExtend24(HexBits(text, 0, 6)));
}

double strtod48l(const char* text) {
  if (text == nullptr) return 0.0;
  const std::int64_t upper = SignExtend24(HexBits(text, 0, 6));
  const std::int64_t lower = HexBits(text, 6, 6) & 0xFFFFFFu;
  return static_cast<double>(upper * 16777216 + lower);
}

double strtod48f(const char* text) {
  if (text == nullptr) return 0.0;
  const int exponent = static_cast<int>(HexBits(text, 9, 3)) - 2047;
  // The mantissa is 36 bits: the first 8 digits as a signed 32-bit number,
  // shifted up by the ninth digit. That needs 64 bits.
  const std::int64_t high = static_cast<std::int32_t>(HexBits(text, 0, 8));
  const std::int64_t mantissa = high * 16 + static_cast<std::int64_t>(HexBits(text, 8, 1));
  return FiniteOrZero(std::ldexp(static_cast<double>(mantissa), exponent - 35));
}

double strtod32dp(const char* text) {
  if (text == nullptr) return 0.0;
  const std::uint32_t high = HexBits(text, 2, 4);
  const std::uint32_t low = HexBits(text, 8, 4);
  return static_cast<double>(static_cast<std::int32_t>((high << 16) + low));
}

double strtod32f(const char* text) {
  if (text == nullptr) return 0.0;
  const std::uint32_t t = HexBits(text, 2, 3) >> 3;  // bit 8 the sign, 0-7 the exponent
  const std::uint32_t f = ((HexBits(text, 4, 2) & 0x7Fu) << 16) + HexBits(text, 8, 4);
  const double magnitude = std::ldexp(1.0 + f / 8388608.0, static_cast<int>(t & 0xFFu) - 127);
  return (t & 0x100u) != 0 ? -magnitude : magnitude;
}

double ZimoDPRFloat(const std::uint32_t* words, double scale) {
  if (words == nullptr) return 0.0;
  const std::uint32_t lower = words[0];
  const std::int64_t upper = static_cast<std::int32_t>(words[1]);
  // upper * 4096 overflows 32 bits for most words.
  const std::int64_t mantissa = upper * 4096 + ((lower >> 12) & 0xFFFu);
  if (mantissa == 0) return 0.0;
  const int exponent = static_cast<int>(lower & 0xFFFu) - 2082;  // 2047 + 35
  return FiniteOrZero(std::ldexp(static_cast<double>(mantissa), exponent) * scale);
}

double ZimoDPRLFixed(const std::uint32_t* words, double scale) {
  if (words == nullptr) return 0.0;
  const std::int64_t lower = words[0] & 0xFFFFFFu;
  const std::int64_t upper = static_cast<std::int32_t>(words[1]);
  return static_cast<double>(lower + upper * 16777216) * scale;
}

}  // extern "C"
