// Hexadecimal words in the card's ASCII replies (status and memory reads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zimo::corvan {

// The value of one hexadecimal digit (either case); -1 for any other character.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The number written by `digits` hexadecimal digits at `at`, most significant
// first; nothing when the text ends before them or one is no digit.
inline std::optional<std::uint32_t> HexAt(const std::string& text, std::size_t at,
                                          std::size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[at + i]);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

}  // namespace zimo::corvan
