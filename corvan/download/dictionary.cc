#include "download/dictionary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "download/download_files.h"
#include "download/download_state.h"

namespace zimo::corvan {

namespace {

constexpr std::size_t kNameMax = 31;
constexpr std::size_t kValueMax = 127;
constexpr int kReadLine = 255;

}  // namespace

bool WriteMapFile(const DefineDictionary& dictionary, const char* map_path,
                  const char* source_path) {
  std::FILE* f = OpenHostFile(map_path, "wb");
  if (f == nullptr) {
    char text[kReportTextSize];
    std::snprintf(text, sizeof text, "Unable to open map file: %s", map_path);
    DownloadState::Instance().ReportDownloadError(text, 0);
    return false;
  }
  std::fprintf(f, ";Map created by ZIMO Win32 Driver from file: %s\r\n;\r\n\r\n\r\n", source_path);
  std::fprintf(f, "; DEFINES sorted by KEY --------------------------\r\n");
  for (const auto& [name, entry] : dictionary.entries) {
    std::fprintf(f, "%*s %s\r\n", -32, name.c_str(), entry.value.c_str());
  }
  // Equal values keep name order: the pairs are collected in name order and
  // the sort is stable.
  std::vector<std::pair<const std::string*, const std::string*>> by_value;
  by_value.reserve(dictionary.entries.size());
  for (const auto& [name, entry] : dictionary.entries) by_value.emplace_back(&entry.value, &name);
  std::stable_sort(by_value.begin(), by_value.end(),
                   [](const auto& a, const auto& b) { return *a.first < *b.first; });
  std::fprintf(f, "\r\n\r\n; DEFINES sorted by VALUE ------------------------\r\n");
  for (const auto& [value, name] : by_value) {
    std::fprintf(f, "%*s %s\r\n", -32, value->c_str(), name->c_str());
  }
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

bool WriteDictionaryFile(const DefineDictionary& dictionary, const char* path) {
  std::FILE* f = OpenHostFile(path, "wb");
  if (f == nullptr) return false;
  for (const auto& [name, entry] : dictionary.entries) {
    std::fprintf(f, "%s=%s\r\n", name.c_str(), entry.value.c_str());
  }
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

bool ReadDictionaryFile(DefineDictionary& dictionary, const char* path) {
  std::FILE* f = OpenHostFile(path, "rb");
  if (f == nullptr) return false;
  char line[kReadLine];
  std::uint32_t count = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    std::string text;
    for (const char* p = line; *p != '\0'; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != 0x7F) text.push_back(*p);
    }
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    std::string name = text.substr(0, std::min(eq, kNameMax));
    std::string value = text.substr(eq + 1, kValueMax);
    auto [it, added] = dictionary.entries.try_emplace(std::move(name));
    if (added) it->second.number = count;
    it->second.value = std::move(value);
    ++count;
  }
  std::fclose(f);
  return true;
}

}  // namespace zimo::corvan

extern "C" std::int32_t WriteDictionary(const char* path, DefineDictionary** root) {
  if (path == nullptr) return 0;
  static const DefineDictionary kEmpty;
  const DefineDictionary& d = (root != nullptr && *root != nullptr) ? **root : kEmpty;
  return zimo::corvan::WriteDictionaryFile(d, path) ? 1 : 0;
}

extern "C" std::int32_t ReadDictionary(const char* path, DefineDictionary** root) {
  if (path == nullptr || root == nullptr) return 0;
  const bool fresh = *root == nullptr;
  DefineDictionary* d = fresh ? new DefineDictionary : *root;
  if (!zimo::corvan::ReadDictionaryFile(*d, path)) {
    if (fresh) delete d;
    return 0;
  }
  *root = d;
  return 1;
}

extern "C" void FreeDictionary(DefineDictionary** root) {
  if (root == nullptr) return;
  delete *root;
  *root = nullptr;
}
