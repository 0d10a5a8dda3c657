// 8-bit and 16-bit text: the system's A forms take Windows-1252 bytes, its W
// forms UTF-16 (char16_t); files and new code use UTF-8. These are the only
// conversions between them.
//
// Windows-1252 -> UTF-16 is total: the five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of
// the same number, as Windows maps them, so every byte survives a round trip.
// UTF-16 -> Windows-1252 replaces what the code page cannot show with '?'.
// Malformed UTF-8 or unpaired surrogates become U+FFFD when decoded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zimo::platform {

char16_t Cp1252ToUtf16Char(unsigned char byte);
// '?' when the character has no Windows-1252 byte.
char Utf16ToCp1252Char(char16_t ch);

std::u16string Cp1252ToUtf16(std::string_view text);
std::string Utf16ToCp1252(std::u16string_view text);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

std::string Cp1252ToUtf8(std::string_view text);
std::string Utf8ToCp1252(std::string_view text);

// Length of a zero-terminated 16-bit text.
size_t Utf16Length(const char16_t* text);

// The W-form helper: converts the zero-terminated text with its terminator
// into a Windows-1252 buffer one longer than the text, to be handed to the A
// form. A null text stays null (c_str() gives nullptr), so optional
// arguments pass through.
class NarrowText {
 public:
  explicit NarrowText(const char16_t* text);
  explicit NarrowText(std::u16string_view text);
  const char* c_str() const { return null_ ? nullptr : text_.c_str(); }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
  bool null_ = false;
};

// Copies 1252 text into a 16-bit buffer of `capacity` characters, always
// terminated (when capacity > 0); returns the characters copied without the
// terminator.
size_t WidenInto(std::string_view text, char16_t* out, size_t capacity);

// Upper case of one character as Windows upper-cases names (ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic basic letters); other characters are
// returned as they are.
char32_t FoldUpper(char32_t ch);
// Case-insensitive comparison of two UTF-8 texts, the way registry keys and
// INI sections and keys compare: <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return CompareNoCase(a, b) == 0;
}
// Case-insensitive comparison of Windows-1252 texts.
int CompareNoCase1252(std::string_view a, std::string_view b);
// Upper-cased copy of a UTF-8 text.
std::string ToUpperUtf8(std::string_view text);

}  // namespace zimo::platform
