// What the algorithm tests share: a scratch folder that is the current
// folder (the library reads and writes there), the link list the lab
// program would save, and the student's PID algorithm.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {

// 41 routine addresses, short ones (below $1000) and long ones alternating.
inline std::uint32_t LinkValue(int k) {
  return k % 2 == 0 ? 0x0400u + 8u * static_cast<std::uint32_t>(k)
                    : 0x2000u + 8u * static_cast<std::uint32_t>(k);
}

inline std::string ReadText(const std::string& path) {
  const auto bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// The lines of a CR LF text.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Every "WP:" word of an output by its address.
inline std::map<std::uint32_t, std::uint32_t> Written(const std::string& out) {
  std::map<std::uint32_t, std::uint32_t> words;
  for (const std::string& line : Lines(out)) {
    if (line.rfind("WP:$", 0) != 0) continue;
    std::stringstream s(line.substr(4));
    std::string item;
    std::getline(s, item, ',');
    std::uint32_t address = static_cast<std::uint32_t>(std::stoul(item, nullptr, 16));
    while (std::getline(s, item, ',')) {
      words[address++] = static_cast<std::uint32_t>(std::stoul(item.substr(1), nullptr, 16));
    }
  }
  return words;
}

// Student line numbers 1 to 13; BEGIN on line 8, END on line 13.
inline const char kPidAlgorithm[] =
    "; PID position loop\n"
    "#define KP 0.8\n"
    "#define KI 0.01 ; integral gain\n"
    "#define KD 0.2\n"
    "#define ERR P10\n"
    "#define SUM P11\n"
    "#define LAST P12\n"
    "BEGIN\n"
    "ERR = CMD_POS - ENC1_POS\n"
    "SUM = SUM + ERR\n"
    "CONTROL_EFFORT = KP*ERR + KI*SUM + KD*(ERR - LAST)\n"
    "LAST = ERR\n"
    "END\n";

class AlgorithmTest : public LabHelperTest {
 protected:
  AlgorithmTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_);
  }
  ~AlgorithmTest() override { std::filesystem::current_path(previous_); }

  // The link list as the lab program saves it from the card's reply.
  void WriteLinkList(int count = 41, const std::string& name = "listlink.txt") {
    std::string text;
    for (int k = 0; k < count; ++k) {
      char line[16];
      std::snprintf(line, sizeof line, "%06X\r\n", LinkValue(k));
      text += line;
    }
    WriteText(Path(name), text);
  }

 private:
  std::filesystem::path previous_;
};

}  // namespace zimo::labhelper::testing
