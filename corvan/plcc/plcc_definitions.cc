// L and F variable definitions: which card memory a compiled program's L
// (24-bit integer) and F (48-bit) variables stand for.
#include <cctype>

#include "plcc/plcc_tokenizer.h"

namespace zimo::corvan::plcc {

namespace {

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

int Log2Exact(std::int64_t size) {
  int bits = 0;
  while ((std::int64_t{1} << bits) < size) ++bits;
  return (std::int64_t{1} << bits) == size ? bits : -1;
}

// Register-relative form "(Rr+offset)" / "(Rr-offset)", `p` at the "(".
int ParseRegisterRelative(PlccCompilation& c, const char* p, std::uint32_t base,
                          VariableDefinition& d, const char** end) {
  c.register_relative = true;
  p = SkipBlanks(p + 1);
  if (*p != 'R' || (p[1] != '0' && p[1] != '1')) return -kErrFormat;
  const std::uint32_t reg = static_cast<std::uint32_t>(p[1] - '0');
  std::int64_t offset = 0;
  const int r = ParseDefinitionNumber(p + 2, &offset, &p);
  if (r != 0) return r;
  if (offset < -64 || offset > 63) return -kErrRange;
  d.address = static_cast<std::int32_t>(offset);
  d.code = base + 256 * reg + ((static_cast<std::uint32_t>(offset) & 126u) << 10) +
           ((static_cast<std::uint32_t>(offset) & 1u) << 6);
  if (*p != ')') return -kErrFormat;
  *end = p + 1;
  return 0;
}

}  // namespace

int ParseDefinitionNumber(const char* text, std::int64_t* value, const char** end) {
  const char* p = SkipBlanks(text);
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  std::int64_t v = 0;
  int digits = 0;
  if (*p == '$') {
    ++p;
    while (std::isxdigit(static_cast<unsigned char>(*p)) && digits < 12) {
      const char ch = *p++;
      v = v * 16 + (ch <= '9' ? ch - '0' : ch - 'A' + 10);
      ++digits;
    }
  } else {
    while (*p >= '0' && *p <= '9' && digits < 15) {
      v = v * 10 + (*p++ - '0');
      ++digits;
    }
  }
  if (digits == 0) return -kErrFormat;
  // A number too long to hold is out of every range.
  if (std::isxdigit(static_cast<unsigned char>(*p))) v = std::int64_t{1} << 50;
  while (std::isxdigit(static_cast<unsigned char>(*p))) ++p;
  *value = negative ? -v : v;
  *end = SkipBlanks(p);
  return 0;
}

int ParseXYDefinition(PlccCompilation& c, const char* text, int n, const char** end) {
  VariableDefinition& d = c.l_table[static_cast<std::size_t>(n)];
  if (d.defined()) return -kErrTwice;
  const char* p = SkipBlanks(text);
  if (*p != 'X' && *p != 'Y') return -kErrFormat;
  const bool y = *p == 'Y';
  ++p;
  if (*p == ':') ++p;
  p = SkipBlanks(p);
  const bool lab = c.target.language == PlccLanguage::kLab;
  if (*p == '(') {
    if (lab) return -kErrFormat;
    d.flags = y ? 0x40 : 0;
    return ParseRegisterRelative(c, p, y ? 0x200A0u : 0x20080u, d, end);
  }
  std::int64_t address = 0;
  int r = ParseDefinitionNumber(p, &address, &p);
  if (r != 0) return r;
  const std::int64_t top = (c.spran && !c.varplcc_section) ? 0x7FFFF : 0xFFFF;
  if (address < 0 || address > top) return -kErrRange;
  d.address = static_cast<std::int32_t>(address);
  const std::uint32_t x = y ? 0 : 112;
  if (*p == '[') {
    if (lab) return -kErrFormat;
    std::int64_t size = 0;
    r = ParseDefinitionNumber(p + 1, &size, &p);
    if (r != 0) return r;
    if (size < 2 || size > c.variable_limit) return -kErrRange;
    const int bits = Log2Exact(size);
    if (bits < 0) return -kErrFormat;
    p = SkipBlanks(p);
    if (*p != ']') return -kErrFormat;
    d.flags = y ? 0x40 : 0;
    d.width = static_cast<std::uint8_t>(bits);
    d.code = y ? kLArrayCodeY : kLArrayCode;
    *end = p + 1;
    return 0;
  }
  if (*p == ',') ++p;
  std::int64_t first = 0;
  r = ParseDefinitionNumber(p, &first, &p);
  if (r != 0) return r;
  if (first < 0 || first > 24) return -kErrRange;
  std::int64_t width = 1;
  bool is_signed = false;
  std::uint32_t code = 0;
  if (first == 24) {
    first = 0;
    width = 24;
    is_signed = true;
    code = x + 121;
  } else {
    const char* q = p;
    if (*q == ',') ++q;
    q = SkipBlanks(q);
    if ((*q >= '0' && *q <= '9') || *q == '$' || *q == '-' || *q == '+') {
      r = ParseDefinitionNumber(q, &width, &p);
      if (r != 0) return r;
    }
    if (width <= 0 || first + width > 24) return -kErrFormat;
    std::uint32_t base = 0;
    switch (width) {
      case 1:
        base = 16;
        break;
      case 4:
        base = 40;
        break;
      case 8:
        base = 64;
        break;
      case 12:
        base = 84;
        break;
      case 16:
        base = 100;
        break;
      case 20:
        base = 112;
        break;
      case 24:
        base = 121;
        break;
      default:
        return -kErrFormat;
    }
    if (width != 1) {
      if (first % 4 != 0 || width % 4 != 0) return -kErrFormat;
      q = p;
      if (*q == ',') ++q;
      q = SkipBlanks(q);
      if (*q == 'U' || *q == 'S') {
        if (*q == 'U' && width == 24) return -kErrFormat;
        is_signed = *q == 'S';
        p = SkipBlanks(q + 1);
      }
    }
    code =
        width == 24 ? x + 121 : x + static_cast<std::uint32_t>(first) + base + (is_signed ? 1 : 0);
  }
  const std::uint8_t flags =
      static_cast<std::uint8_t>((y ? 0x40 : 0) | static_cast<int>(first) | (is_signed ? 0x80 : 0));
  // The lab's L-variables each name a place of their own: a second name for
  // the same field (sign aside) is refused.
  if (lab) {
    for (const VariableDefinition& other : c.l_table) {
      if (&other != &d && other.defined() && other.address == static_cast<std::int32_t>(address) &&
          (other.flags & 0x7F) == (flags & 0x7F) && other.width == width) {
        d = VariableDefinition{};
        return -kErrTwice;
      }
    }
  }
  d.flags = flags;
  d.width = static_cast<std::uint8_t>(width);
  d.code = code;
  *end = p;
  return 0;
}

int ParseLDDefinition(PlccCompilation& c, const char* text, int n, const char** end) {
  VariableDefinition& d = c.f_table[static_cast<std::size_t>(n)];
  if (d.address != 0 || d.code != 0) return -kErrTwice;
  const char* p = SkipBlanks(text);
  if (*p != 'L' && *p != 'D') return -kErrFormat;
  d.flags = *p == 'D' ? 1 : 0;
  ++p;
  if (*p == ':') ++p;
  p = SkipBlanks(p);
  if (*p == '(') return ParseRegisterRelative(c, p, 0x20080u, d, end);
  std::int64_t address = 0;
  int r = ParseDefinitionNumber(p, &address, &p);
  if (r != 0) return r;
  if (address < 0 || address > 0x7FFFF) return -kErrRange;
  d.address = static_cast<std::int32_t>(address);
  if (*p != '[') {
    d.code = kFPlainCode;
    *end = p;
    return 0;
  }
  std::int64_t size = 0;
  r = ParseDefinitionNumber(p + 1, &size, &p);
  if (r != 0) return r;
  if (size < 2 || size > 8192) return -kErrRange;
  const int bits = Log2Exact(size);
  if (bits < 0) return -kErrFormat;
  p = SkipBlanks(p);
  if (*p != ']') return -kErrFormat;
  d.width = static_cast<std::uint8_t>(bits);
  d.code = kFArrayCode;
  *end = p + 1;
  return 0;
}

}  // namespace zimo::corvan::plcc
