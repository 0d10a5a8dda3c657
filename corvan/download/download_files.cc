#include "download/download_files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include "platform/codepage.h"
#include "platform/win_path.h"

namespace zimo::corvan {

std::string HostFilePath(const char* path) {
  return platform::ToHostPath(platform::Cp1252ToUtf8(path != nullptr ? path : "")).string();
}

std::FILE* OpenHostFile(const char* path, const char* mode) {
  if (path == nullptr || *path == '\0') return nullptr;
  return std::fopen(HostFilePath(path).c_str(), mode);
}

bool HostFileExists(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(HostFilePath(path), ec);
}

std::string FullDownloadPath(const char* path, SourceProblem* problem) {
  *problem = SourceProblem::kNotFound;
  if (path == nullptr || *path == '\0') return {};
  const std::string host = HostFilePath(path);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(host, ec);
  if (ec) return {};
  std::string full = platform::Utf8ToCp1252(platform::FromHostPath(absolute.lexically_normal()));
  if (full.size() >= kDownloadPathMax) {
    *problem = SourceProblem::kOther;
    return {};
  }
  if (!std::filesystem::is_regular_file(absolute, ec)) {
    *problem =
        std::filesystem::exists(absolute, ec) ? SourceProblem::kOther : SourceProblem::kNotFound;
    return {};
  }
  if (::access(absolute.c_str(), R_OK) != 0) {
    *problem = errno == EACCES ? SourceProblem::kAccessDenied : SourceProblem::kOther;
    return {};
  }
  *problem = SourceProblem::kNone;
  return full;
}

bool ReadWholeLine(std::FILE* f, std::string* line) {
  line->clear();
  int ch = 0;
  while ((ch = std::getc(f)) != EOF) {
    line->push_back(static_cast<char>(ch));
    if (ch == '\n') break;
  }
  return !line->empty();
}

std::size_t LineTextLength(const std::string& line) {
  std::size_t n = line.size();
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
  return n;
}

std::string SiblingPath(const std::string& full, const char* ext) {
  const platform::WinPathParts parts = platform::SplitWinPath(full);
  if (parts.drive.empty() && !parts.dir.empty() && parts.dir.front() == '/') {
    // A host path keeps its slashes.
    return parts.dir + parts.name + "." + ext;
  }
  return platform::MakeWinPath(parts.drive, parts.dir, parts.name, ext);
}

}  // namespace zimo::corvan
