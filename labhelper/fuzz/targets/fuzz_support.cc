#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/message.h"

namespace labhelper_fuzz {

void QuietBoxes() {
  static zimo::platform::MessageRecorder* recorder = [] {
    auto* r = new zimo::platform::MessageRecorder;
    zimo::platform::SetMessageService(r);
    return r;
  }();
  recorder->Clear();
}

const std::string& WriteScratch(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/labhelper_fuzz_" +
           std::to_string(getpid());
  }();
  // A new file each time: truncating one makes the file system flush it.
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

void EnterScratchFolder() {
  static const bool entered = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/labhelper_fuzz_dir_" +
                             std::to_string(getpid());
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
    // Leave it behind empty-handed when the process ends.
    std::atexit([] {
      const std::filesystem::path here = std::filesystem::current_path();
      std::filesystem::current_path(here.parent_path());
      std::error_code ignored;
      std::filesystem::remove_all(here, ignored);
    });
    return true;
  }();
  (void)entered;
}

}  // namespace labhelper_fuzz
