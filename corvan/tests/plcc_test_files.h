// Source and output files of PLC compiler tests, in the test's own home.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace zimo::corvan::plcc::testing {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of a compiler output; every line must end with CR LF, and a
// line that does not is returned with a "<no CR LF>" mark so that the
// comparison shows it.
inline std::vector<std::string> OutputLines(const std::filesystem::path& path) {
  const std::string text = ReadText(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The lines of a golden file (LF lines, kept beside the tests).
inline std::vector<std::string> GoldenLines(const std::string& name) {
  // A compiler cache may leave this file's name relative to the build tree.
  std::filesystem::path source(__FILE__);
  if (source.is_relative()) source = platform::ExecutableDir().parent_path() / source;
  const std::filesystem::path path = source.parent_path() / "data" / "plcc" / name;
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace zimo::corvan::plcc::testing
