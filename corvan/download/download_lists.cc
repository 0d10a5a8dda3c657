// Per-user lists of program files kept in an INI file, and the download of
// a user's whole list through one generated include file.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "corvan/download_api.h"
#include "download/download_files.h"
#include "link/text_utils.h"
#include "platform/codepage.h"
#include "platform/profile.h"

namespace zimo::corvan {

namespace {

constexpr char kSection[] = "ZIMODOWNLOAD";
constexpr char kEndMarker[] = "NoFilePresent";
constexpr char kDefaultIni[] = "WIN.INI";
constexpr char kDefaultInclude[] = "ZIMODNLD";
constexpr std::uint32_t kValueSize = 256;  // 255 characters
constexpr std::size_t kTextMax = 260;

std::string Key(int n) { return "DOWNLOADFILE" + std::to_string(n); }

// The entry under key n; nullopt-like: `*end` set at the end marker.
std::string ReadEntry(const char* ini, int n, bool* end) {
  char value[kValueSize];
  platform::GetPrivateProfileStringA(kSection, Key(n).c_str(), kEndMarker, value, sizeof value,
                                     ini);
  *end = std::strcmp(value, kEndMarker) == 0;
  return value;
}

bool WriteEntry(const char* ini, int n, const std::string& entry) {
  const std::string quoted = "\"" + entry + "\"";
  return platform::WritePrivateProfileStringA(kSection, Key(n).c_str(), quoted.c_str(), ini) != 0;
}

// Removes white space and upper-cases, in the caller's buffer.
void Normalize(char* text) {
  StripWhiteSpace(text);
  for (char* p = text; *p != '\0'; ++p) {
    *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  }
}

const char* IniName(const char* ini) { return ini == nullptr || *ini == '\0' ? kDefaultIni : ini; }

// The user id of an entry: its first word.
std::string UserOf(const std::string& entry) { return entry.substr(0, entry.find(' ')); }

bool Narrow(const char16_t* text, std::string* out) {
  out->clear();
  if (text == nullptr) return true;
  for (const char16_t* p = text; *p != u'\0'; ++p) {
    const char ch = platform::Utf16ToCp1252Char(*p);
    if (ch == '?' && *p != u'?') return false;
    out->push_back(ch);
  }
  return out->size() < kTextMax;
}

}  // namespace

}  // namespace zimo::corvan

using namespace zimo::corvan;

extern "C" std::int32_t ZimoRenumberFilesA(std::uint32_t, std::int32_t key, const char* ini) {
  if (key < 2 || ini == nullptr) return 0;
  int k = key;
  for (;; ++k) {
    bool end = false;
    const std::string entry = ReadEntry(ini, k, &end);
    if (end) break;
    WriteEntry(ini, k - 1, entry);
  }
  return zimo::platform::WritePrivateProfileStringA(kSection, Key(k - 1).c_str(), nullptr, ini);
}

extern "C" std::int32_t ZimoAddDownloadFileA(std::uint32_t, const char* ini, char* user_id,
                                             char* file) {
  if (user_id == nullptr || file == nullptr) return 0;
  Normalize(user_id);
  Normalize(file);
  if (*user_id == '\0' || *file == '\0') return 0;
  const char* name = IniName(ini);
  const std::string entry = std::string(user_id) + " " + file;
  // The whole list is checked for the entry; it goes into the first gap.
  int slot = 0;
  int n = 1;
  for (;; ++n) {
    bool end = false;
    const std::string value = ReadEntry(name, n, &end);
    if (end) break;
    if (value == entry) return 0;
    if (value.empty() && slot == 0) slot = n;
  }
  return WriteEntry(name, slot != 0 ? slot : n, entry) ? 1 : 0;
}

extern "C" std::int32_t ZimoRemoveDownloadFileA(std::uint32_t device, const char* ini,
                                                char* user_id, char* file) {
  if (user_id == nullptr) return 0;
  Normalize(user_id);
  if (*user_id == '\0') return 0;
  if (file != nullptr) Normalize(file);
  const char* name = IniName(ini);
  const bool by_file = file != nullptr && *file != '\0';
  const std::string wanted = by_file ? std::string(user_id) + " " + file : std::string(user_id);
  std::int32_t removed = 0;
  for (int n = 1;;) {
    bool end = false;
    const std::string value = ReadEntry(name, n, &end);
    if (end) break;
    const bool match = !value.empty() && (by_file ? value == wanted : UserOf(value) == wanted);
    if (!match) {
      ++n;
      continue;
    }
    zimo::platform::WritePrivateProfileStringA(kSection, Key(n).c_str(), "", name);
    ZimoRenumberFilesA(device, n + 1, name);
    removed = 1;
    if (by_file) break;
    n = 1;
  }
  return removed;
}

extern "C" std::int32_t ZimoMultiDownloadA(std::uint32_t device, DownloadMessageCallback message,
                                           const char* include_file, const char* ini, char* user_id,
                                           std::int32_t macro, std::int32_t map, std::int32_t log,
                                           std::int32_t download) {
  if (user_id != nullptr) Normalize(user_id);
  const char* name = IniName(ini);
  const char* include =
      include_file == nullptr || *include_file == '\0' ? kDefaultInclude : include_file;
  std::FILE* f = OpenHostFile(include, "wb");
  if (f == nullptr) return 0;
  int written = 0;
  for (int n = 1;; ++n) {
    bool end = false;
    const std::string value = ReadEntry(name, n, &end);
    if (end) break;
    if (value.empty()) continue;
    const std::size_t blank = value.find(' ');
    const std::string user = value.substr(0, blank);
    const std::string path = blank == std::string::npos ? std::string() : value.substr(blank + 1);
    if (user_id != nullptr && user != user_id) continue;
    std::fprintf(f, "#include \"%s\"\r\n", path.c_str());
    ++written;
  }
  std::fclose(f);
  if (written == 0) return 0;
  return ZimoDownloadA(device, message, nullptr, nullptr, include, macro, map, log, download);
}

extern "C" std::int32_t ZimoAddDownloadFileW(std::uint32_t device, const char16_t* ini,
                                             const char16_t* user_id, const char16_t* file) {
  std::string i, u, f;
  if (!Narrow(ini, &i) || !Narrow(user_id, &u) || !Narrow(file, &f)) return 0;
  if (user_id == nullptr || file == nullptr) return 0;
  return ZimoAddDownloadFileA(device, i.c_str(), u.data(), f.data());
}

extern "C" std::int32_t ZimoRemoveDownloadFileW(std::uint32_t device, const char16_t* ini,
                                                const char16_t* user_id, const char16_t* file) {
  std::string i, u, f;
  if (!Narrow(ini, &i) || !Narrow(user_id, &u) || !Narrow(file, &f)) return 0;
  if (user_id == nullptr) return 0;
  return ZimoRemoveDownloadFileA(device, i.c_str(), u.data(), file != nullptr ? f.data() : nullptr);
}

extern "C" std::int32_t ZimoRenumberFilesW(std::uint32_t device, std::int32_t key,
                                           const char16_t* ini) {
  std::string i;
  if (ini == nullptr || !Narrow(ini, &i)) return 0;
  return ZimoRenumberFilesA(device, key, i.c_str());
}

extern "C" std::int32_t ZimoMultiDownloadW(std::uint32_t device, DownloadMessageCallback message,
                                           const char16_t* include_file, const char16_t* ini,
                                           const char16_t* user_id, std::int32_t macro,
                                           std::int32_t map, std::int32_t log,
                                           std::int32_t download) {
  std::string inc, i, u;
  if (!Narrow(include_file, &inc) || !Narrow(ini, &i) || !Narrow(user_id, &u)) return 0;
  return ZimoMultiDownloadA(device, message, inc.c_str(), i.c_str(),
                            user_id != nullptr ? u.data() : nullptr, macro, map, log, download);
}
