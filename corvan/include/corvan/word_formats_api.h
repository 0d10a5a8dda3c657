// Converters for the card's numeric formats, which reach the host either as
// hex text (memory-read replies, gather data) or as 32-bit dword pairs in
// DPR. Underneath, the card computes with 24-bit words and 48-bit doubles:
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
// Text parsing turns each digit into c - '0' for c < 'A', else c - '7', so
// 'A'..'F' map to 10..15. There is no validation: lower-case or non-hex input
// yields a deterministic but useless value (only getBitValue understands
// lower case). Null text returns 0.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// `digits` characters accumulated as value * 16 + digit in 32 bits (more
// than 8 digits wrap); 0 for a null text or a count below 1.
int32_t hex_long2(const char* text, int32_t digits);

// 1 when bit `bit` of the hexadecimal number in the terminated `text` is
// set (bit 0 is the lowest bit of the last digit); 0 for a negative bit, a
// bit beyond the text, or a character that is no hexadecimal digit.
int32_t getBitValue(const char* text, int32_t bit);

// Parses 6 digits as a 24-bit word, sign taken from bit 23.
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
double ZimoDPRFloat(const uint32_t* words, double scale);
// The DPR form of a 48-bit fixed word times `scale`.
double ZimoDPRLFixed(const uint32_t* words, double scale);

#ifdef __cplusplus
}  // extern "C"
#endif
