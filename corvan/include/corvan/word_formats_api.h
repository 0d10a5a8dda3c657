// The card's word formats as the host meets them: hexadecimal text in
// command replies (memory reads, gathered samples) and pairs of 32-bit
// dwords in the DPR copies. The card's processor works on 24-bit words and
// on 48-bit pairs of them:
//
//   24-bit word     two's complement, 6 digits, most significant first
//   48-bit fixed    signed upper word * 2^24 + unsigned lower word, 12 digits
//   48-bit float    36-bit two's-complement mantissa (digits 1-9) and a
//                   12-bit exponent with offset 2047 (digits 10-12):
//                   mantissa / 2^35 * 2^(exponent - 2047)
//   double word     a signed 32-bit value: its high half in digits 3-6, its
//                   low half in digits 9-12 (the low 16 bits of each word)
//   split single    an IEEE single laid out as the double word
//
// In DPR a 48-bit word is two dwords, lower word first, each 24-bit word in
// bits 0-23 of its dword (the upper dword presented sign-extended).
//
// Text functions read a digit as its value minus '0' when it is below 'A'
// and minus '7' otherwise: upper-case 'A' to 'F' give 10 to 15. Nothing is
// validated, so lower-case or non-hexadecimal text gives a defined but
// meaningless number (getBitValue alone also takes lower-case digits). A
// null text gives 0.
#pragma once

#include <cstdint>

extern "C" {

// `digits` characters accumulated as value * 16 + digit in 32 bits (more
// than 8 digits wrap); 0 for a null text or a count below 1.
std::int32_t hex_long2(const char* text, std::int32_t digits);

// 1 when bit `bit` of the hexadecimal number in the terminated `text` is
// set (bit 0 is the lowest bit of the last digit); 0 for a negative bit, a
// bit beyond the text, or a character that is no hexadecimal digit.
std::int32_t getBitValue(const char* text, std::int32_t bit);

// 6 digits: the 24-bit word sign-extended from bit 23.
double strtod24(const char* text);
// 12 digits: the 48-bit fixed word.
double strtod48l(const char* text);
// 12 digits: the 48-bit floating word.
double strtod48f(const char* text);
// 12 digits: the double-word form.
double strtod32dp(const char* text);
// 12 digits: the split IEEE single (no denormals, infinities or NaNs: every
// exponent is taken as a normal one).
double strtod32f(const char* text);

// The DPR form of a 48-bit floating word (two dwords, lower first) times
// `scale`: 0 when the mantissa is 0, or when the result is not a finite
// number. Equal to strtod48f of the same word.
double ZimoDPRFloat(const std::uint32_t* words, double scale);
// The DPR form of a 48-bit fixed word times `scale`.
double ZimoDPRLFixed(const std::uint32_t* words, double scale);

}  // extern "C"
