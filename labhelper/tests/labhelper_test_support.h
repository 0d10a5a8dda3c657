// What the library's tests share: a recorder for message boxes and beeps in
// the order they happen, scratch files, and the sample values the golden
// files were built with.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "labhelper/beep.h"
#include "platform/message.h"

namespace zimo::labhelper::testing {

inline std::string DataPath(const std::string& name) {
  return std::string(LABHELPER_TEST_DATA) + "/" + name;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
}

// Replaces the file rather than truncating it: the file system would flush a
// truncated file at once, which makes thousands of small writes slow.
inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::remove(path);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The value the golden files hold for the array passed as argument `arg`
// (0 = commanded position ... 12 = encoder 4, in call order) at sample i.
inline double GoldenValue(int arg, int i) { return (arg + 1) * 100 + i * 0.25 - 450; }

// Records boxes and beeps as one sequence ("box:<text>", "beep").
class LabHelperTest : public ::testing::Test {
 protected:
  LabHelperTest() : service_(recorder_) {
    SetBeepHook([this](uint32_t type) {
      beep_box_counts_.push_back(recorder_.count());
      beep_types_.push_back(type);
      return 1;
    });
    dir_ = std::filesystem::temp_directory_path() /
           ("labhelper_test_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~LabHelperTest() override {
    SetBeepHook({});
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Boxes and beeps in order; boxes also checked for title and flags.
  std::vector<std::string> Events() const {
    std::vector<std::string> merged;
    const auto boxes = recorder_.boxes();
    size_t box = 0;
    for (size_t i = 0; i <= beep_box_counts_.size(); ++i) {
      const size_t until = i < beep_box_counts_.size() ? beep_box_counts_[i] : boxes.size();
      for (; box < until; ++box) merged.push_back("box:" + boxes[box].text);
      if (i < beep_box_counts_.size()) merged.push_back("beep");
    }
    return merged;
  }

  platform::MessageRecorder recorder_;
  std::vector<uint32_t> beep_types_;
  std::vector<size_t> beep_box_counts_;
  std::filesystem::path dir_;

 private:
  platform::ScopedMessageService service_;
};

}  // namespace zimo::labhelper::testing
