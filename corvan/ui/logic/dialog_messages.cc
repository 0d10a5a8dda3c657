#include "logic/dialog_messages.h"

#include <cstdio>

#include "link/error_texts.h"

namespace zimo::corvan::dialogs {

int ShowMessage(std::string_view text, std::uint32_t flags) {
  return platform::ShowMessageBox(text, kMessageCaption, flags);
}

int ShowLibraryText(std::uint32_t number, std::uint32_t flags) {
  const char* text = LibraryText(number);
  return ShowMessage(text != nullptr ? text : "", flags);
}

std::string LibraryTextWith(std::uint32_t number, std::string_view insert) {
  const char* stored = LibraryText(number);
  std::string text = stored != nullptr ? stored : "";
  const size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, insert);
  return text;
}

std::string DeviceCaption(int device) {
  char text[48];
  std::snprintf(text, sizeof text, "ZIMO Device number %d", device);
  return text;
}

bool ParseUnsigned(std::string_view text, std::uint32_t* value) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  const size_t last = text.find_last_not_of(' ');
  text = text.substr(first, last - first + 1);
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace zimo::corvan::dialogs
