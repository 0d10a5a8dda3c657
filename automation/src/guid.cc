#include "automation/guid.h"

#include <cstdio>

namespace zimo::automation {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits from text at pos; false when any is not hex.
bool ReadHex(std::string_view text, size_t& pos, int digits, uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    int v = HexValue(text[pos]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint64_t>(v);
  }
  return true;
}

}  // namespace

std::optional<Guid> Guid::Parse(std::string_view text) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return std::nullopt;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return std::nullopt;
  }
  Guid g;
  size_t pos = 0;
  uint64_t v = 0;
  if (!ReadHex(text, pos, 8, v)) return std::nullopt;
  g.data1 = static_cast<uint32_t>(v);
  ++pos;
  if (!ReadHex(text, pos, 4, v)) return std::nullopt;
  g.data2 = static_cast<uint16_t>(v);
  ++pos;
  if (!ReadHex(text, pos, 4, v)) return std::nullopt;
  g.data3 = static_cast<uint16_t>(v);
  ++pos;
  for (int i = 0; i < 8; ++i) {
    if (i == 2) ++pos;  // the dash between the fourth and fifth group
    if (!ReadHex(text, pos, 2, v)) return std::nullopt;
    g.data4[i] = static_cast<uint8_t>(v);
  }
  return g;
}

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1,
                data2, data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5],
                data4[6], data4[7]);
  return buf;
}

size_t GuidHash::operator()(const Guid& g) const noexcept {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(g.data1);
  mix(g.data2);
  mix(g.data3);
  for (uint8_t b : g.data4) mix(b);
  return static_cast<size_t>(h);
}

}  // namespace zimo::automation
