#include "download/source_name.h"

#include <cstdlib>
#include <cstring>

namespace zimo::corvan {

bool CommentSourceName(const char* line, char* name, std::size_t size) {
  if (line == nullptr || name == nullptr || size == 0) return false;
  bool quoted = false;
  const char* p = line;
  for (; *p != '\0'; ++p) {
    if (*p == '"') quoted = !quoted;
    if (*p == ';' && !quoted) break;
  }
  if (*p != ';') return false;
  const char first = p[1];
  const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  if (!letter && first != '/' && first != '.') return false;
  const char* start = p + 1;
  std::size_t length = std::strcspn(start, "\r\n");
  if (length > size - 1) length = size - 1;
  std::memcpy(name, start, length);
  name[length] = '\0';
  return true;
}

unsigned long CommentLineNumber(const char* line) {
  const char* p = line != nullptr ? std::strchr(line, ';') : nullptr;
  if (p == nullptr || !(p[1] >= '0' && p[1] <= '9')) return 0;
  return std::strtoul(p + 1, nullptr, 10);
}

}  // namespace zimo::corvan
