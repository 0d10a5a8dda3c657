// The card's word formats: 24-bit words, and the 48-bit pairs of them that
// hold floating values (L: words, P variables) and fixed values (D: words,
// motor positions), with their hexadecimal text forms.
#pragma once

#include <cstdint>
#include <string>

namespace zimo::cardsim::word {

inline constexpr uint32_t kMask24 = 0xFFFFFF;
inline constexpr uint64_t kMask48 = 0xFFFFFFFFFFFFull;

// A 24-bit word as a signed number (bit 23 is the sign).
int32_t SignExtend24(uint32_t w);

// The card's 48-bit float, to and from double: signed 36-bit mantissa on
// top, 12-bit exponent biased by 2047 underneath, so that
// value = mantissa / 2^35 * 2^(exponent - 2047). When encoding, magnitudes
// too big for the exponent clamp to the largest value; tiny ones become 0.
uint64_t EncodeFloat48(double value);
double DecodeFloat48(uint64_t w);

// 48-bit two's-complement fixed word; values beyond 48 bits saturate.
uint64_t EncodeFixed48(double value);
int64_t DecodeFixed48(uint64_t w);

// Upper-case hexadecimal: 6 digits for a 24-bit word, 12 for a pair.
std::string Hex24(uint32_t w);
std::string Hex48(uint64_t w);

}  // namespace zimo::cardsim::word
