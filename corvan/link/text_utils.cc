#include "link/text_utils.h"

#include <cstring>

#include "corvan/errors.h"

namespace zimo::corvan {
namespace {

// Keeps the characters `drop` says no to, closing the gaps in place.
template <typename Drop>
char* RemoveInPlace(char* text, Drop drop) {
  if (text == nullptr) return nullptr;
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (!drop(*in)) *out++ = *in;
  }
  *out = '\0';
  return text;
}

}  // namespace

bool IsControlChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 1 && byte <= 31) || byte == 127;
}

bool IsWhiteSpaceChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char* StripControlChars(char* text) { return RemoveInPlace(text, IsControlChar); }

char* StripWhiteSpace(char* text) {
  return RemoveInPlace(text, [](char c) { return IsControlChar(c) || IsWhiteSpaceChar(c); });
}

std::size_t CopyTerminated(char* out, std::size_t capacity, const char* text) {
  if (out == nullptr || capacity == 0) return 0;
  const std::size_t length = text == nullptr ? 0 : strnlen(text, capacity - 1);
  if (length != 0) std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

}  // namespace zimo::corvan

extern "C" {

char* szStripControlCharA(char* text) { return zimo::corvan::StripControlChars(text); }

char* szStripWhiteSpaceA(char* text) { return zimo::corvan::StripWhiteSpace(text); }

}  // extern "C"
