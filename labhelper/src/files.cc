#include "files.h"

#include <sys/stat.h>

#include <string>

#include "platform/win_path.h"

namespace zimo::labhelper {

std::FILE* OpenForReading(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  const std::string host = platform::ToHostPath(path).string();
  std::FILE* file = std::fopen(host.c_str(), "rb");
  if (file == nullptr) return nullptr;
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

std::FILE* OpenForWriting(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  const std::string host = platform::ToHostPath(path).string();
  return std::fopen(host.c_str(), "wb");
}

}  // namespace zimo::labhelper
