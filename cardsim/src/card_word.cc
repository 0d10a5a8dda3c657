#include "cardsim/card_word.h"

#include <cmath>
#include <cstdio>

namespace zimo::cardsim::word {

namespace {
constexpr int64_t kMantissaMax = (int64_t{1} << 35) - 1;
constexpr int64_t kMantissaMin = -(int64_t{1} << 35);
constexpr int kExponentOffset = 2047;
}  // namespace

int32_t SignExtend24(uint32_t w) {
  w &= kMask24;
  return (w & 0x800000) != 0 ? static_cast<int32_t>(w) - 0x1000000 : static_cast<int32_t>(w);
}

uint64_t EncodeFloat48(double value) {
  if (value == 0.0 || std::isnan(value)) return 0;
  int exp2 = 0;
  double frac = std::frexp(value, &exp2);  // |frac| in [0.5, 1)
  if (std::isinf(value)) {
    frac = value > 0 ? 0.5 : -0.5;
    exp2 = 4095 - kExponentOffset + 1;
  }
  int64_t mantissa = std::llround(std::ldexp(frac, 35));
  if (mantissa > kMantissaMax) {  // rounding carried into the next power of two
    mantissa = int64_t{1} << 34;
    ++exp2;
  }
  int exponent = exp2 + kExponentOffset;
  if (exponent < 0) return 0;
  if (exponent > 4095) {  // saturate at the largest magnitude
    exponent = 4095;
    mantissa = value > 0 ? kMantissaMax : kMantissaMin;
  }
  uint64_t m36 = static_cast<uint64_t>(mantissa) & 0xFFFFFFFFFull;
  return (m36 << 12) | static_cast<uint64_t>(exponent);
}

double DecodeFloat48(uint64_t w) {
  w &= kMask48;
  int64_t mantissa = static_cast<int64_t>(w >> 12);
  if ((mantissa & (int64_t{1} << 35)) != 0) mantissa -= int64_t{1} << 36;
  if (mantissa == 0) return 0.0;
  int exponent = static_cast<int>(w & 0xFFF);
  return std::ldexp(static_cast<double>(mantissa), exponent - kExponentOffset - 35);
}

uint64_t EncodeFixed48(double value) {
  constexpr double kMax = 140737488355327.0;  // 2^47 - 1
  if (std::isnan(value)) return 0;
  if (value > kMax) value = kMax;
  if (value < -kMax - 1) value = -kMax - 1;
  return static_cast<uint64_t>(std::llround(value)) & kMask48;
}

int64_t DecodeFixed48(uint64_t w) {
  w &= kMask48;
  int64_t v = static_cast<int64_t>(w);
  if ((w & (uint64_t{1} << 47)) != 0) v -= int64_t{1} << 48;
  return v;
}

std::string Hex24(uint32_t w) {
  char text[8];
  std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(w & kMask24));
  return text;
}

std::string Hex48(uint64_t w) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(w & kMask48));
  return text;
}

}  // namespace zimo::cardsim::word
