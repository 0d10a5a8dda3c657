#include "ui/form_language.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zimo::ui {
namespace {

bool Skipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The text without the characters Val skips.
std::string Compact(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!Skipped(c)) out.push_back(c);
  }
  return out;
}

int DigitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

// "&H" / "&O" numbers: a value of up to 16 bits is the 16-bit word it
// spells ("&HFFFF" is -1), up to 32 bits the 32-bit one; beyond that the
// number does not fit any whole type.
double RadixValue(std::string_view digits, int base) {
  uint64_t v = 0;
  for (char c : digits) {
    int d = DigitValue(c, base);
    if (d < 0) break;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return std::numeric_limits<double>::infinity();
  }
  if (v <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(v));
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// Digits of |value| rounded to `significant` places: the digit string with
// its trailing zeros removed and the decimal exponent of its first digit.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

Decimal Digits(double magnitude, int significant) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", significant - 1, magnitude);
  Decimal d;
  const char* p = buf;
  for (; *p != 'e'; ++p) {
    if (*p != '.') d.digits.push_back(*p);
  }
  d.exponent = std::atoi(p + 1);
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

std::string ShortestForm(double value, int significant) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
  if (value == 0) return "0";
  Decimal d = Digits(std::fabs(value), significant);
  std::string out = value < 0 ? "-" : "";
  if (d.exponent >= significant || d.exponent < -4) {
    out += d.digits.substr(0, 1);
    if (d.digits.size() > 1) out += "." + d.digits.substr(1);
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%c%02d", d.exponent < 0 ? '-' : '+', std::abs(d.exponent));
    return out + exp;
  }
  if (d.exponent < 0) return out + "." + std::string(-d.exponent - 1, '0') + d.digits;
  size_t whole = static_cast<size_t>(d.exponent) + 1;
  if (d.digits.size() <= whole) return out + d.digits + std::string(whole - d.digits.size(), '0');
  return out + d.digits.substr(0, whole) + "." + d.digits.substr(whole);
}

std::string WithBlank(std::string text) { return text[0] == '-' ? text : " " + text; }

}  // namespace

double Val(std::string_view text) {
  std::string s = Compact(text);
  if (s.size() >= 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return RadixValue(std::string_view(s).substr(2), 16);
    if (s[1] == 'O' || s[1] == 'o') return RadixValue(std::string_view(s).substr(2), 8);
    return 0;
  }
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // The number in the form from_chars reads: digits, point, digits, exponent.
  std::string number;
  size_t mantissa_digits = 0;
  int leading_whole = 0;  // whole digits after leading zeros, for overflow
  bool nonzero = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++mantissa_digits) {
    number.push_back(s[i]);
    if (s[i] != '0') nonzero = true;
    if (nonzero) ++leading_whole;
  }
  if (i < s.size() && s[i] == '.') {
    number.push_back('.');
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++mantissa_digits) {
      number.push_back(s[i]);
    }
  }
  if (mantissa_digits == 0) return 0;
  int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    size_t j = i + 1;
    bool exp_negative = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp_negative = s[j++] == '-';
    if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      for (; j < s.size() && s[j] >= '0' && s[j] <= '9'; ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (s[j] - '0');
      }
      if (exp_negative) exponent = -exponent;
      number += "e" + std::to_string(exponent);
    }
  }
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    value = leading_whole + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc()) {
    value = 0;
  }
  return negative ? -value : value;
}

std::string CStr(double value) { return ShortestForm(value, 15); }
std::string CStrSingle(float value) { return ShortestForm(value, 7); }
std::string CStr(int64_t value) { return std::to_string(value); }
std::string Str(double value) { return WithBlank(CStr(value)); }
std::string StrSingle(float value) { return WithBlank(CStrSingle(value)); }
std::string Str(int64_t value) { return WithBlank(CStr(value)); }

std::string Format(double value, std::string_view pattern) {
  size_t point = pattern.find('.');
  std::string_view whole_part = pattern.substr(0, point);
  std::string_view fraction_part =
      point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
  size_t min_whole = 0;
  for (char c : whole_part) min_whole += c == '0';
  size_t min_fraction = 0;
  for (char c : fraction_part) min_fraction += c == '0';
  const int max_fraction = static_cast<int>(fraction_part.size());

  // The value's 15-digit decimal form, rounded at the last place shown.
  std::string whole;
  std::string fraction;
  if (std::isfinite(value) && value != 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits;
    const char* p = buf;
    for (; *p != 'e'; ++p) {
      if (*p != '.') digits.push_back(*p);
    }
    int exponent = std::atoi(p + 1);
    int keep = exponent + 1 + max_fraction;  // digits left of the cut
    if (keep >= 0) {
      bool up = keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
      if (keep < static_cast<int>(digits.size())) digits.resize(static_cast<size_t>(keep));
      if (up) {
        int k = keep - 1;
        for (; k >= 0 && digits[k] == '9'; --k) digits[k] = '0';
        if (k >= 0) {
          ++digits[k];
        } else {
          digits.insert(digits.begin(), '1');
          ++exponent;
        }
      }
      // Place the digits: `exponent + 1` whole digits, then the fraction.
      int whole_count = exponent + 1;
      if (whole_count > 0) {
        std::string padded = digits;
        if (static_cast<int>(padded.size()) < whole_count) padded.resize(whole_count, '0');
        whole = padded.substr(0, whole_count);
        fraction = padded.substr(whole_count);
      } else {
        fraction = std::string(-whole_count, '0') + digits;
      }
    }
  }
  if (static_cast<int>(fraction.size()) > max_fraction) fraction.resize(max_fraction);
  while (fraction.size() > min_fraction && fraction.back() == '0') fraction.pop_back();
  if (fraction.size() < min_fraction) fraction.resize(min_fraction, '0');
  while (!whole.empty() && whole[0] == '0') whole.erase(0, 1);
  bool nonzero = whole.find_first_not_of('0') != std::string::npos ||
                 fraction.find_first_not_of('0') != std::string::npos;
  if (whole.size() < min_whole) whole.insert(0, min_whole - whole.size(), '0');
  std::string out = value < 0 && nonzero ? "-" : "";
  out += whole;
  if (point != std::string_view::npos) out += "." + fraction;
  return out;
}

std::optional<float> CSng(double value) {
  if (!(std::fabs(value) <= std::numeric_limits<float>::max())) return std::nullopt;
  return static_cast<float>(value);
}

std::optional<int16_t> CInt(double value) {
  double r = std::nearbyint(value);
  if (!(r >= -32768.0 && r <= 32767.0)) return std::nullopt;
  return static_cast<int16_t>(r);
}

std::optional<int32_t> CLng(double value) {
  double r = std::nearbyint(value);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
  return static_cast<int32_t>(r);
}

}  // namespace zimo::ui
