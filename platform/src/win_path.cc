#include "platform/win_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/codepage.h"
#include "platform/home.h"

namespace zimo::platform {
namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool HasDrive(std::string_view p) { return p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == ':'; }

std::vector<std::string> Components(std::string_view p) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < p.size()) {
    while (i < p.size() && IsSep(p[i])) ++i;
    size_t start = i;
    while (i < p.size() && !IsSep(p[i])) ++i;
    if (i > start) out.emplace_back(p.substr(start, i - start));
  }
  return out;
}

// Joins components below `base` the way Windows resolves a rooted path: "."
// is dropped and ".." never climbs above the root.
std::filesystem::path BelowRoot(const std::filesystem::path& base, std::string_view rest) {
  std::vector<std::string> kept;
  for (std::string& c : Components(rest)) {
    if (c == ".") continue;
    if (c == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(std::move(c));
  }
  std::filesystem::path out = base;
  for (const std::string& c : kept) out /= c;
  return out;
}

// Matches "\SystemRoot" or "%SystemRoot%" at the start, followed by a
// separator or the end; returns the length matched.
size_t SystemRootPrefix(std::string_view p) {
  for (std::string_view prefix :
       {std::string_view("\\SystemRoot"), std::string_view("%SystemRoot%")}) {
    if (p.size() >= prefix.size() && CompareNoCase1252(p.substr(0, prefix.size()), prefix) == 0 &&
        (p.size() == prefix.size() || IsSep(p[prefix.size()]))) {
      return prefix.size();
    }
  }
  return 0;
}

bool Exists(const std::filesystem::path& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

bool IsRegularFile(const std::filesystem::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::filesystem::path ResolveCase(const std::filesystem::path& path) {
  std::filesystem::path out = path.root_path();
  bool matching = true;
  for (const std::filesystem::path& part : path.relative_path()) {
    std::string name = part.string();
    if (name.empty()) continue;
    if (!matching || name == "." || name == "..") {
      out /= part;
      continue;
    }
    std::filesystem::path exact = out / part;
    if (Exists(exact)) {
      out = exact;
      continue;
    }
    // The first match in name order, so the answer does not depend on the
    // order the folder lists its entries in.
    std::string best;
    std::error_code ec;
    std::filesystem::path folder = out.empty() ? std::filesystem::path(".") : out;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      std::string entry = it->path().filename().string();
      if (EqualsNoCase(entry, name) && (best.empty() || entry < best)) best = entry;
    }
    if (best.empty()) {
      matching = false;
      out /= part;
    } else {
      out /= best;
    }
  }
  return out;
}

std::filesystem::path ToHostPath(std::string_view path) {
  std::string_view p = path;
  if (p.size() >= 4 && p.substr(0, 4) == "\\\\?\\") p.remove_prefix(4);
  if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) {
    // Devices and network shares are not files here.
    std::string s(p);
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
  }
  if (HasDrive(p)) {
    char letter = static_cast<char>(p[0] | 0x20);
    std::string folder = std::string("drive_") + letter;
    return ResolveCase(BelowRoot(ZimoHome() / folder, p.substr(2)));
  }
  if (size_t n = SystemRootPrefix(p)) return ResolveCase(BelowRoot(WindowsDir(), p.substr(n)));
  if (!p.empty() && p[0] == '\\') return ResolveCase(BelowRoot(ZimoHome() / "drive_c", p));
  std::string s(p);
  std::replace(s.begin(), s.end(), '\\', '/');
  return ResolveCase(std::filesystem::path(s));
}

std::string FromHostPath(const std::filesystem::path& path) {
  std::filesystem::path home = ZimoHome();
  std::filesystem::path rel = path.lexically_relative(home);
  if (!rel.empty() && rel.native().rfind("..", 0) != 0) {
    auto it = rel.begin();
    std::string first = it->string();
    if (first.size() == 7 && first.rfind("drive_", 0) == 0 && IsDriveLetter(first[6])) {
      std::string out;
      out += static_cast<char>(first[6] & ~0x20);
      out += ":\\";
      bool sep = false;
      for (++it; it != rel.end(); ++it) {
        if (it->empty()) continue;
        if (sep) out += '\\';
        out += it->string();
        sep = true;
      }
      return out;
    }
  }
  return path.string();
}

WinPathParts SplitWinPath(std::string_view path) {
  WinPathParts parts;
  std::string_view p = path;
  if (HasDrive(p)) {
    parts.drive = std::string(p.substr(0, 2));
    p.remove_prefix(2);
  }
  size_t last_sep = std::string_view::npos;
  for (size_t i = 0; i < p.size(); ++i) {
    if (IsSep(p[i])) last_sep = i;
  }
  if (last_sep != std::string_view::npos) {
    parts.dir = std::string(p.substr(0, last_sep + 1));
    p.remove_prefix(last_sep + 1);
  }
  size_t dot = p.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(p);
  } else {
    parts.name = std::string(p.substr(0, dot));
    parts.ext = std::string(p.substr(dot));
  }
  return parts;
}

std::string MakeWinPath(std::string_view drive, std::string_view dir, std::string_view name,
                        std::string_view ext) {
  std::string out;
  if (!drive.empty()) {
    out += drive.substr(0, 1);
    out += ':';
  }
  if (!dir.empty()) {
    out += dir;
    if (!IsSep(dir.back())) out += '\\';
  }
  out += name;
  if (!ext.empty()) {
    if (ext.front() != '.') out += '.';
    out += ext;
  }
  return out;
}

std::optional<std::filesystem::path> SearchFile(std::string_view folders,
                                                std::string_view file_name,
                                                std::string_view extension) {
  if (file_name.empty()) return std::nullopt;
  std::string name(file_name);
  if (!extension.empty() && SplitWinPath(name).ext.empty()) {
    if (extension.front() != '.') name += '.';
    name += extension;
  }
  auto absolute = [](const std::filesystem::path& p) {
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    return ec ? p : a.lexically_normal();
  };
  if (HasDrive(name) || std::any_of(name.begin(), name.end(), IsSep)) {
    std::filesystem::path p = ToHostPath(name);
    if (IsRegularFile(p)) return absolute(p);
    return std::nullopt;
  }
  std::vector<std::filesystem::path> dirs;
  if (folders.empty()) {
    dirs.push_back(".");
    dirs.push_back(SystemDir());
    dirs.push_back(WindowsDir());
    if (const char* env = std::getenv("PATH")) {
      std::string_view rest(env);
      while (!rest.empty()) {
        size_t colon = rest.find(':');
        std::string_view one = rest.substr(0, colon);
        if (!one.empty()) dirs.emplace_back(std::string(one));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
    }
  } else {
    std::string_view rest = folders;
    while (true) {
      size_t semi = rest.find(';');
      std::string_view one = rest.substr(0, semi);
      while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
      while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
      if (!one.empty()) dirs.push_back(ToHostPath(one));
      if (semi == std::string_view::npos) break;
      rest.remove_prefix(semi + 1);
    }
  }
  for (const std::filesystem::path& dir : dirs) {
    std::filesystem::path p = ResolveCase(dir / name);
    if (IsRegularFile(p)) return absolute(p);
  }
  return std::nullopt;
}

uint32_t SearchPathA(const char* folders, const char* file_name, const char* extension,
                     uint32_t buffer_length, char* buffer, char** file_part) {
  if (file_name == nullptr) return 0;
  std::optional<std::filesystem::path> found = SearchFile(
      folders != nullptr ? folders : "", file_name, extension != nullptr ? extension : "");
  if (!found) return 0;
  std::string text = found->string();
  if (buffer == nullptr || text.size() + 1 > buffer_length) {
    return static_cast<uint32_t>(text.size() + 1);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  if (file_part != nullptr) {
    size_t slash = text.rfind('/');
    *file_part = buffer + (slash == std::string::npos ? 0 : slash + 1);
  }
  return static_cast<uint32_t>(text.size());
}

}  // namespace zimo::platform
