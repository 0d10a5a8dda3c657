// The number functions of the forms' language, once for every window and
// file of the lab program. Plain C++, no Qt: the settings code and its tests
// use them without a display.
//
//  * Val: the leading number of a text. Blanks, tabs and line feeds are
//    skipped wherever they stand (" 1 2.5E1x" is 125); an optional sign,
//    digits, an optional point with digits, an optional exponent written
//    with E or D; "&H" and "&O" start a hexadecimal or octal whole number.
//    A text that does not begin with a number gives 0. A magnitude too large
//    for a double gives an infinity, which the callers refuse.
//  * Str: one blank before a value that is not negative ("-" otherwise),
//    then the shortest decimal form: whole numbers in full, a Single to 7
//    and a Double to 15 significant digits, no 0 before the point of a
//    magnitude below 1 (" .5"), exponent form ("1E-05", "1.5E+15") below
//    .0001 and from 1E7 (Single) or 1E15 (Double) on. CStr is the same
//    without the blank.
//  * Format: the patterns made of '#', '0' and one '.' ("#0.000",
//    "######0.###", "0.000000"): '0' places always show a digit, '#' places
//    only a significant one; a pattern with a point keeps it even without
//    decimals ("10."); the value is rounded at the last place, halves away
//    from zero, on its 15-digit decimal form.
//  * CSng: the nearest Single; nothing when the magnitude is beyond the
//    largest Single (or the value is not a number).
//  * CInt / CLng: rounded to the nearest whole number, halves to the even
//    neighbour; nothing (instead of a wrapped value) when the result does
//    not fit 16 or 32 bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zimo::ui {

double Val(std::string_view text);

// Str and CStr of a Double, a Single and a whole number.
std::string Str(double value);
std::string StrSingle(float value);
std::string Str(int64_t value);
inline std::string Str(int32_t value) { return Str(static_cast<int64_t>(value)); }
inline std::string Str(int16_t value) { return Str(static_cast<int64_t>(value)); }
std::string CStr(double value);
std::string CStrSingle(float value);
std::string CStr(int64_t value);
inline std::string CStr(int32_t value) { return CStr(static_cast<int64_t>(value)); }
inline std::string CStr(int16_t value) { return CStr(static_cast<int64_t>(value)); }

// `value` written with a pattern of '#', '0' and at most one '.'.
std::string Format(double value, std::string_view pattern);

std::optional<float> CSng(double value);
std::optional<int16_t> CInt(double value);
std::optional<int32_t> CLng(double value);

}  // namespace zimo::ui
