// A fresh ZIMO_HOME for one test: every test process gets its own registry,
// folders and named objects, so tests run in parallel without meeting.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zimo::testing {

class TempHome {
 public:
  TempHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zimo-test-XXXXXX").string();
    char* dir = ::mkdtemp(tmpl.data());
    path_ = dir != nullptr ? dir : tmpl;
    if (const char* old = std::getenv("ZIMO_HOME")) {
      had_old_ = true;
      old_ = old;
    }
    ::setenv("ZIMO_HOME", path_.c_str(), 1);
  }
  ~TempHome() {
    if (had_old_) {
      ::setenv("ZIMO_HOME", old_.c_str(), 1);
    } else {
      ::unsetenv("ZIMO_HOME");
    }
    if (std::getenv("ZIMO_KEEP_TEST_HOME") == nullptr) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool had_old_ = false;
  std::string old_;
};

// Directory of the built programs (zimoserver, zimo-cardsim, ...), set by ctest.
inline std::filesystem::path BinDir() {
  const char* dir = std::getenv("ZIMO_BIN_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::path(".");
}

}  // namespace zimo::testing
