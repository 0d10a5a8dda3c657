// 128-bit identifiers of classes, interfaces, applications and type
// libraries, in the registry's text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zimo::automation {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // Accepts the text with or without braces, digits in either case.
  static std::optional<Guid> Parse(std::string_view text);
  // Upper-case digits in braces, as the registry holds them.
  std::string ToString() const;
  bool IsNull() const { return *this == Guid{}; }

  friend bool operator==(const Guid&, const Guid&) = default;
};

// A Guid written as a literal in a table: constexpr and checked at compile
// time by the caller's static_assert if wanted.
constexpr Guid MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4) {
  return Guid{d1, d2, d3, d4};
}

struct GuidHash {
  size_t operator()(const Guid& g) const noexcept;
};

}  // namespace zimo::automation
