#include "nc/translator/settings_store.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <vector>

#include "platform/win_error.h"
#include "platform/win_path.h"

namespace zimo::nc {

namespace w32 = platform::win32;

namespace {

std::string RunningProgram() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return platform::FromHostPath(std::string(buffer.data(), static_cast<std::size_t>(n)));
}

}  // namespace

NcSettings::NcSettings(int device, int control, std::string server_file)
    : device_(device), control_(control), server_file_(std::move(server_file)) {
  if (server_file_.empty()) server_file_ = RunningProgram();
}

NcSettings::~NcSettings() {
  if (enum_key_ != 0) platform::RegCloseKey(enum_key_);
}

std::string NcSettings::KeyPath(std::string_view section) const {
  char base[96];
  std::snprintf(base, sizeof base, "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device%d\\Nc%d",
                device_, control_);
  std::string path(base);
  if (!section.empty()) {
    path.push_back('\\');
    path.append(section);
  }
  return path;
}

int NcSettings::OpenSection(std::string_view section, platform::HKey* key) const {
  const std::string path = KeyPath(section);
  const std::string key_class(kNcKeyClass);
  uint32_t disposition = 0;
  const int32_t r = platform::RegCreateKeyExA(
      platform::kHkeyLocalMachine, path.c_str(), 0, key_class.c_str(),
      platform::kRegOptionNonVolatile, platform::kKeyAllAccess, nullptr, key, &disposition);
  return r == 0 ? 0 : static_cast<int>(w32::kErrorFileNotFound);
}

int NcSettings::GetLong(std::string_view section, std::string_view name, uint32_t* out,
                        uint32_t default_value) const {
  *out = default_value;
  platform::HKey key = 0;
  if (OpenSection(section, &key) != 0) return static_cast<int>(w32::kErrorFileNotFound);
  const std::string value_name(name);
  uint32_t type = 0;
  uint32_t data = 0;
  uint32_t size = sizeof data;
  const int32_t r = platform::RegQueryValueExA(key, value_name.c_str(), nullptr, &type,
                                               reinterpret_cast<uint8_t*>(&data), &size);
  platform::RegCloseKey(key);
  if (r != 0 || type != platform::kRegDword || size != sizeof data) {
    return static_cast<int>(w32::kErrorFileNotFound);
  }
  *out = data;
  return 0;
}

int NcSettings::GetBool(std::string_view section, std::string_view name, bool* out,
                        bool default_value) const {
  uint32_t v = 0;
  const int r = GetLong(section, name, &v, default_value ? 1 : 0);
  *out = v != 0;
  return r;
}

int NcSettings::GetText(std::string_view section, std::string_view name, std::string* out,
                        std::size_t size, std::string_view default_value) const {
  out->assign(default_value);
  platform::HKey key = 0;
  if (OpenSection(section, &key) != 0) return static_cast<int>(w32::kErrorFileNotFound);
  const std::string value_name(name);
  uint32_t type = 0;
  uint32_t needed = 0;
  int32_t r = platform::RegQueryValueExA(key, value_name.c_str(), nullptr, &type, nullptr, &needed);
  if (r == 0 && type != platform::kRegSz && type != platform::kRegExpandSz) {
    platform::RegCloseKey(key);
    return static_cast<int>(w32::kErrorFileNotFound);
  }
  if (r == 0 && needed > size) r = static_cast<int32_t>(w32::kErrorMoreData);
  std::string text;
  if (r == 0) {
    text.resize(needed);
    uint32_t got = needed;
    r = platform::RegQueryValueExA(key, value_name.c_str(), nullptr, &type,
                                   reinterpret_cast<uint8_t*>(text.data()), &got);
    text.resize(got);
  }
  platform::RegCloseKey(key);
  if (r != 0) return r;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  *out = std::move(text);
  return 0;
}

int NcSettings::GetDouble(std::string_view section, std::string_view name, double* out,
                          double default_value) const {
  *out = default_value;
  std::string text;
  const std::string default_text = FormatDouble(default_value);
  // Room for the longest "%lf" text a double gives (-DBL_MAX: 317 characters
  // and the terminator), so every value SetDouble writes reads back.
  const int r = GetText(section, name, &text, 320, default_text);
  double v = 0.0;
  if (r == 0 && ParseDouble(text, &v)) *out = v;
  return r;
}

int NcSettings::GetPath(std::string_view section, std::string_view name, std::string* out,
                        std::size_t size, std::string_view default_value) const {
  const int r = GetText(section, name, out, size, default_value);
  if (out->empty()) return r;
  platform::WinPathParts parts = platform::SplitWinPath(*out);
  const platform::WinPathParts server = platform::SplitWinPath(server_file_);
  const bool rooted = !parts.dir.empty() && (parts.dir[0] == '\\' || parts.dir[0] == '/');
  if (parts.drive.empty() && !(rooted && server.drive.empty())) parts.drive = server.drive;
  if (parts.dir.empty()) parts.dir = server.dir;
  *out = platform::MakeWinPath(parts.drive, parts.dir, parts.name, parts.ext);
  return r;
}

int NcSettings::SetLong(std::string_view section, std::string_view name, uint32_t value) {
  platform::HKey key = 0;
  if (OpenSection(section, &key) != 0) return static_cast<int>(w32::kErrorFileNotFound);
  const std::string value_name(name);
  const int32_t r =
      platform::RegSetValueExA(key, value_name.c_str(), 0, platform::kRegDword,
                               reinterpret_cast<const uint8_t*>(&value), sizeof value);
  platform::RegCloseKey(key);
  return r;
}

int NcSettings::SetText(std::string_view section, std::string_view name, std::string_view text) {
  if (text.empty()) return static_cast<int>(w32::kErrorInvalidParameter);
  platform::HKey key = 0;
  if (OpenSection(section, &key) != 0) return static_cast<int>(w32::kErrorFileNotFound);
  const std::string value_name(name);
  const std::string data(text);
  const int32_t r = platform::RegSetValueExA(key, value_name.c_str(), 0, platform::kRegSz,
                                             reinterpret_cast<const uint8_t*>(data.c_str()),
                                             static_cast<uint32_t>(data.size() + 1));
  platform::RegCloseKey(key);
  return r;
}

int NcSettings::SetDouble(std::string_view section, std::string_view name, double value) {
  return SetText(section, name, FormatDouble(value));
}

bool NcSettings::EnumValueNames(const char* section, std::string* name) {
  if (section != nullptr) {
    if (enum_key_ != 0) platform::RegCloseKey(enum_key_);
    enum_key_ = 0;
    enum_index_ = 0;
    if (OpenSection(section, &enum_key_) != 0) enum_key_ = 0;
  }
  while (enum_key_ != 0) {
    char buffer[128];
    uint32_t length = sizeof buffer;
    const int32_t r = platform::RegEnumValueA(enum_key_, enum_index_++, buffer, &length, nullptr,
                                              nullptr, nullptr, nullptr);
    if (r == 0) {
      name->assign(buffer, length);
      return true;
    }
    if (r == static_cast<int32_t>(w32::kErrorMoreData)) continue;  // longer than 127
    platform::RegCloseKey(enum_key_);
    enum_key_ = 0;
  }
  name->clear();
  return false;
}

std::string NcSettings::FormatDouble(double value) {
  char buffer[400];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0.000000");
}

bool NcSettings::ParseDouble(std::string_view text, double* value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double v = 0.0;
  const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (ec == std::errc::invalid_argument || ptr == text.data() + i) return false;
  *value = negative ? -v : v;
  return true;
}

}  // namespace zimo::nc
