#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/codepage.h"
#include "platform/home.h"
#include "platform/text_file.h"
#include "platform/win_path.h"

namespace zimo::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) { return CompareNoCase1252(a, b) == 0; }

// One line of an INI file, classified.
struct Line {
  enum Kind { kSection, kEntry, kOther } kind = kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // entry value, trimmed
};

Line Classify(std::string_view raw) {
  Line l;
  std::string_view t = Trim(raw);
  if (t.empty() || t.front() == ';') return l;
  if (t.front() == '[') {
    size_t close = t.find(']');
    l.kind = Line::kSection;
    l.name =
        Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return l;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return l;  // no '=': skipped, as Windows does
  l.kind = Line::kEntry;
  l.name = Trim(t.substr(0, eq));
  l.value = Trim(t.substr(eq + 1));
  return l;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// A name that exists but is no plain file: a folder, a pipe or a device. An
// INI file is always a plain file; reading a pipe would wait for a writer
// and a device such as /dev/zero would never end.
bool NotAFile(const std::filesystem::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// The file's lines, or nothing when it cannot be read.
std::optional<std::vector<std::string>> Load(const std::filesystem::path& path) {
  if (NotAFile(path)) return std::nullopt;
  Result<std::string> bytes = ReadFileBytes(path);
  if (!bytes.ok()) return std::nullopt;
  return SplitLines(*bytes);
}

// Entries of every section with this name, in file order.
std::vector<Line> EntriesOf(const std::vector<std::string>& lines, std::string_view section) {
  std::vector<Line> out;
  bool inside = false;
  for (const std::string& raw : lines) {
    Line l = Classify(raw);
    if (l.kind == Line::kSection) {
      inside = SameName(l.name, section);
    } else if (inside && l.kind == Line::kEntry) {
      out.push_back(l);
    }
  }
  return out;
}

uint32_t CopyValue(std::string_view text, char* buffer, uint32_t size) {
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

// A double-NUL list; a list that does not fit is cut, ends in two NULs and
// returns size - 2.
uint32_t CopyList(const std::vector<std::string>& items, char* buffer, uint32_t size) {
  if (items.empty()) {  // an empty list still ends in two NULs where they fit
    buffer[0] = '\0';
    if (size >= 2) buffer[1] = '\0';
    return 0;
  }
  size_t total = 1;
  for (const std::string& s : items) total += s.size() + 1;
  if (total <= size) {
    size_t pos = 0;
    for (const std::string& s : items) {
      std::memcpy(buffer + pos, s.data(), s.size());
      pos += s.size();
      buffer[pos++] = '\0';
    }
    buffer[pos] = '\0';
    return static_cast<uint32_t>(total - 1);
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  size_t room = size - 2;
  size_t pos = 0;
  for (const std::string& s : items) {
    for (char c : s) {
      if (pos == room) break;
      buffer[pos++] = c;
    }
    if (pos == room) break;
    buffer[pos++] = '\0';
  }
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

void AddUnique(std::vector<std::string>* items, std::string_view name) {
  for (const std::string& s : *items) {
    if (SameName(s, name)) return;
  }
  items->emplace_back(name);
}

bool ValidSection(std::string_view s) {
  s = Trim(s);
  return !s.empty() && s.find_first_of("]\r\n") == std::string_view::npos;
}

bool ValidKey(std::string_view k) {
  k = Trim(k);
  return !k.empty() && k.front() != '[' && k.front() != ';' &&
         k.find_first_of("=\r\n") == std::string_view::npos;
}

bool ValidValue(std::string_view v) { return v.find_first_of("\r\n") == std::string_view::npos; }

std::filesystem::path LockPathFor(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(file, ec);
  std::string text = (ec ? file : abs.lexically_normal()).string();
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  char name[40];
  std::snprintf(name, sizeof name, "profile-%08x.lock", h);
  return RunDir() / name;
}

bool Save(const std::filesystem::path& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    text += l;
    text += "\r\n";
  }
  std::filesystem::path tmp = path;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp.%d", static_cast<int>(::getpid()));
  tmp += suffix;
  mode_t mode = 0644;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

// A file that exists and is marked read-only (no write permission for
// anyone) or that this process may not write. Saving goes through a new file
// renamed over the old one, which the folder alone would allow; a read-only
// file is refused as a write into it would be.
bool ReadOnly(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// Applies the change to the file's lines under the file's lock.
bool Edit(const char* section, const char* key, const char* value,
          const std::filesystem::path& path) {
  if (ReadOnly(path) || NotAFile(path)) return false;
  std::filesystem::path lock_path = LockPathFor(path);
  int lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd < 0) return false;
  while (::flock(lock_fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::vector<std::string> lines;
  if (auto loaded = Load(path)) lines = std::move(*loaded);
  bool changed = false;

  if (key == nullptr) {
    // Delete every section of this name with all its lines.
    std::vector<std::string> kept;
    bool inside = false;
    for (std::string& raw : lines) {
      Line l = Classify(raw);
      if (l.kind == Line::kSection) inside = SameName(l.name, section);
      if (inside) {
        changed = true;
      } else {
        kept.push_back(std::move(raw));
      }
    }
    lines = std::move(kept);
  } else if (value == nullptr) {
    std::vector<std::string> kept;
    bool inside = false;
    for (std::string& raw : lines) {
      Line l = Classify(raw);
      if (l.kind == Line::kSection) inside = SameName(l.name, section);
      if (inside && l.kind == Line::kEntry && SameName(l.name, key)) {
        changed = true;
      } else {
        kept.push_back(std::move(raw));
      }
    }
    lines = std::move(kept);
  } else {
    std::optional<size_t> header;     // first section of this name
    std::optional<size_t> entry;      // the key in it
    std::optional<size_t> last_line;  // last non-blank line of that section
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      Line l = Classify(lines[i]);
      if (l.kind == Line::kSection) {
        if (header && inside) break;
        inside = !header && SameName(l.name, section);
        if (inside) header = last_line = i;
        continue;
      }
      if (!inside) continue;
      if (!Trim(lines[i]).empty()) last_line = i;
      if (l.kind == Line::kEntry && SameName(l.name, key)) {
        entry = i;
        break;
      }
    }
    if (entry) {
      std::string line = std::string(Classify(lines[*entry]).name) + "=" + value;
      changed = line != lines[*entry];
      lines[*entry] = std::move(line);
    } else if (header) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*last_line + 1),
                   std::string(Trim(key)) + "=" + value);
      changed = true;
    } else {
      lines.push_back("[" + std::string(Trim(section)) + "]");
      lines.push_back(std::string(Trim(key)) + "=" + value);
      changed = true;
    }
  }
  bool ok = !changed || Save(path, lines);
  ::close(lock_fd);
  return ok;
}

std::string DefaultText(const char* default_text) {
  std::string_view d = default_text == nullptr ? std::string_view() : default_text;
  while (!d.empty() && IsBlank(d.back())) d.remove_suffix(1);
  return std::string(d);
}

// Runs an A form into a narrow buffer and widens what it placed, NULs and all.
template <typename F>
uint32_t WidenCall(char16_t* buffer, uint32_t size, F call) {
  if (buffer == nullptr || size == 0) return 0;
  std::string narrow(size, '\0');
  uint32_t n = call(narrow.data(), size);
  size_t count = std::min<size_t>(size, static_cast<size_t>(n) + 2);
  for (size_t i = 0; i < count; ++i)
    buffer[i] = Cp1252ToUtf16Char(static_cast<unsigned char>(narrow[i]));
  return n;
}

}  // namespace

std::filesystem::path ProfilePath(std::string_view file_name) {
  bool bare = file_name.find_first_of("\\/") == std::string_view::npos &&
              !(file_name.size() >= 2 && file_name[1] == ':');
  if (bare) return ResolveCase(WindowsDir() / std::string(file_name));
  return ToHostPath(file_name);
}

namespace {

// The lines of a named profile file; none for a missing name or file.
std::vector<std::string> LinesOf(const char* file_name) {
  if (file_name != nullptr && *file_name != '\0') {
    if (auto loaded = Load(ProfilePath(file_name))) return std::move(*loaded);
  }
  return {};
}

// GetPrivateProfileStringA over lines already read.
uint32_t ReadFromLines(const std::vector<std::string>& lines, const char* section, const char* key,
                       const char* default_text, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  if (section == nullptr) {
    std::vector<std::string> names;
    for (const std::string& raw : lines) {
      Line l = Classify(raw);
      if (l.kind == Line::kSection) AddUnique(&names, l.name);
    }
    return CopyList(names, buffer, size);
  }
  std::vector<Line> entries = EntriesOf(lines, section);
  if (key == nullptr) {
    std::vector<std::string> keys;
    for (const Line& l : entries) AddUnique(&keys, l.name);
    return CopyList(keys, buffer, size);
  }
  for (const Line& l : entries) {
    if (SameName(l.name, Trim(key))) return CopyValue(StripQuotes(l.value), buffer, size);
  }
  return CopyValue(DefaultText(default_text), buffer, size);
}

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size, const char* file_name) {
  if (buffer == nullptr || size == 0) return 0;
  return ReadFromLines(LinesOf(file_name), section, key, default_text, buffer, size);
}

ProfileReader::ProfileReader(const char* file_name) : lines_(LinesOf(file_name)) {}

uint32_t ProfileReader::GetString(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size) const {
  return ReadFromLines(lines_, section, key, default_text, buffer, size);
}

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                  const char16_t* default_text, char16_t* buffer, uint32_t size,
                                  const char16_t* file_name) {
  NarrowText s(section), k(key), d(default_text), f(file_name);
  return WidenCall(buffer, size, [&](char* out, uint32_t n) {
    return GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), out, n, f.c_str());
  });
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t default_value,
                               const char* file_name) {
  if (section == nullptr || key == nullptr) return static_cast<uint32_t>(default_value);
  char buf[64];
  uint32_t n = GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file_name);
  std::string_view t = Trim(std::string_view(buf, n));
  if (t.empty()) return static_cast<uint32_t>(default_value);
  bool negative = false;
  if (t.front() == '-' || t.front() == '+') {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  uint32_t base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  uint32_t v = 0;
  for (char c : t) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    v = v * base + digit;  // wraps like the 32-bit conversion it stands for
  }
  return negative ? 0u - v : v;
}

uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t default_value,
                               const char16_t* file_name) {
  NarrowText s(section), k(key), f(file_name);
  return GetPrivateProfileIntA(s.c_str(), k.c_str(), default_value, f.c_str());
}

uint32_t GetPrivateProfileSectionNamesA(char* buffer, uint32_t size, const char* file_name) {
  return GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer, size, file_name);
}

uint32_t GetPrivateProfileSectionNamesW(char16_t* buffer, uint32_t size,
                                        const char16_t* file_name) {
  NarrowText f(file_name);
  return WidenCall(buffer, size, [&](char* out, uint32_t n) {
    return GetPrivateProfileSectionNamesA(out, n, f.c_str());
  });
}

uint32_t GetPrivateProfileSectionA(const char* section, char* buffer, uint32_t size,
                                   const char* file_name) {
  if (buffer == nullptr || size == 0) return 0;
  std::vector<std::string> items;
  if (section != nullptr && file_name != nullptr && *file_name != '\0') {
    if (auto lines = Load(ProfilePath(file_name))) {
      for (const Line& l : EntriesOf(*lines, section)) {
        items.push_back(std::string(l.name) + "=" + std::string(l.value));
      }
    }
  }
  return CopyList(items, buffer, size);
}

uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, uint32_t size,
                                   const char16_t* file_name) {
  NarrowText s(section), f(file_name);
  return WidenCall(buffer, size, [&](char* out, uint32_t n) {
    return GetPrivateProfileSectionA(s.c_str(), out, n, f.c_str());
  });
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file_name) {
  if (section == nullptr && key == nullptr && value == nullptr) return 1;  // flush: no cache
  if (section == nullptr || file_name == nullptr || *file_name == '\0') return 0;
  if (!ValidSection(section)) return 0;
  if (key != nullptr && !ValidKey(key)) return 0;
  if (key != nullptr && value != nullptr && !ValidValue(value)) return 0;
  return Edit(section, key, value, ProfilePath(file_name)) ? 1 : 0;
}

int WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                               const char16_t* file_name) {
  NarrowText s(section), k(key), v(value), f(file_name);
  return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), f.c_str());
}

}  // namespace zimo::platform
