#include "platform/codepage.h"

#include <array>

namespace zimo::platform {
namespace {

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined
// map to the C1 control of the same number, as Windows does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from UTF-8 at text[*i], advancing *i. Malformed
// sequences (overlong, surrogates, out of range, cut short) give U+FFFD and
// advance by one byte.
char32_t DecodeUtf8(std::string_view text, size_t* i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(*i);
  if (b0 < 0x80) {
    ++*i;
    return b0;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++*i;
    return kReplacement;
  }
  if (*i + extra >= text.size()) {
    ++*i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    unsigned char b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return kReplacement;
  }
  *i += extra + 1;
  return cp;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one code point from UTF-16, advancing *i; unpaired surrogates give
// U+FFFD.
char32_t DecodeUtf16(std::u16string_view text, size_t* i) {
  char16_t c = text[(*i)++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (*i < text.size() && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[*i] - 0xDC00);
      ++*i;
      return cp;
    }
    return kReplacement;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
  return c;
}

}  // namespace

char16_t Cp1252ToUtf16Char(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

char Utf16ToCp1252Char(char16_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<char>(ch);
  for (size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == ch) return static_cast<char>(0x80 + k);
  }
  return '?';
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(Cp1252ToUtf16Char(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = DecodeUtf16(text, &i);
    // A surrogate pair is one character and becomes one '?'.
    out.push_back(cp > 0xFFFF ? '?' : Utf16ToCp1252Char(static_cast<char16_t>(cp)));
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(DecodeUtf16(text, &i), &out);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = DecodeUtf8(text, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(Cp1252ToUtf16Char(static_cast<unsigned char>(c)), &out);
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = DecodeUtf8(text, &i);
    out.push_back(cp > 0xFFFF ? '?' : Utf16ToCp1252Char(static_cast<char16_t>(cp)));
  }
  return out;
}

size_t Utf16Length(const char16_t* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (text[n] != 0) ++n;
  }
  return n;
}

NarrowText::NarrowText(const char16_t* text) : null_(text == nullptr) {
  if (text != nullptr) text_ = Utf16ToCp1252(std::u16string_view(text, Utf16Length(text)));
}

NarrowText::NarrowText(std::u16string_view text) : text_(Utf16ToCp1252(text)) {}

size_t WidenInto(std::string_view text, char16_t* out, size_t capacity) {
  if (capacity == 0 || out == nullptr) return 0;
  size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  for (size_t i = 0; i < n; ++i) out[i] = Cp1252ToUtf16Char(static_cast<unsigned char>(text[i]));
  out[n] = 0;
  return n;
}

char32_t FoldUpper(char32_t ch) {
  if (ch < 0x80) return (ch >= 'a' && ch <= 'z') ? ch - 0x20 : ch;
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return ch - 0x20;
  if (ch == 0xFF) return 0x178;
  if (ch >= 0x100 && ch <= 0x17F) {
    // Latin Extended-A pairs: even upper/odd lower, except the ranges where
    // the pairs start on an odd code point.
    bool odd_upper = (ch >= 0x139 && ch <= 0x148) || (ch >= 0x179 && ch <= 0x17E);
    if (ch == 0x130 || ch == 0x131 || ch == 0x138 || ch == 0x149 || ch == 0x17F) return ch;
    if (odd_upper) return (ch % 2 == 0) ? ch - 1 : ch;
    return (ch % 2 == 1) ? ch - 1 : ch;
  }
  if (ch >= 0x3B1 && ch <= 0x3C9) return ch == 0x3C2 ? 0x3A3 : ch - 0x20;
  if (ch >= 0x430 && ch <= 0x44F) return ch - 0x20;
  if (ch >= 0x450 && ch <= 0x45F) return ch - 0x50;
  return ch;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned char ba = static_cast<unsigned char>(a[i]);
    unsigned char bb = static_cast<unsigned char>(b[j]);
    char32_t ca, cb;
    if ((ba | bb) < 0x80) {  // the common case: plain ASCII names
      ca = (ba >= 'a' && ba <= 'z') ? ba - 0x20 : ba;
      cb = (bb >= 'a' && bb <= 'z') ? bb - 0x20 : bb;
      ++i, ++j;
    } else {
      ca = FoldUpper(DecodeUtf8(a, &i));
      cb = FoldUpper(DecodeUtf8(b, &j));
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

int CompareNoCase1252(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char32_t ca = FoldUpper(Cp1252ToUtf16Char(static_cast<unsigned char>(a[i])));
    char32_t cb = FoldUpper(Cp1252ToUtf16Char(static_cast<unsigned char>(b[i])));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string ToUpperUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(FoldUpper(DecodeUtf8(text, &i)), &out);
  return out;
}

}  // namespace zimo::platform
