// Source and output files of PLC compiler tests, in the test's own home.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "plcc/plcc_target.h"

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

// The card memory that a compiled program's "WP:$address $word ..." lines
// write.
inline std::map<std::uint32_t, std::uint32_t> WrittenMemory(const std::vector<std::string>& lines) {
  std::map<std::uint32_t, std::uint32_t> memory;
  for (const std::string& line : lines) {
    if (line.rfind("WP:$", 0) != 0) continue;
    std::vector<std::uint32_t> fields;
    for (std::size_t at = line.find('$'); at != std::string::npos; at = line.find('$', at + 1)) {
      fields.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(at + 1), nullptr, 16)));
    }
    for (std::size_t i = 1; i < fields.size(); ++i) {
      memory[fields[0] + static_cast<std::uint32_t>(i - 1)] = fields[i];
    }
  }
  return memory;
}

// The test cards' targets: routine k of the link list lies at $2000 + 16k
// on the older card and at $3000 + 16k on the SPRAN card (the extended
// firmware has its own fixed table besides).
inline PlccTarget Older(const char* firmware = "1.16F") {
  PlccTarget t = PlccTarget::Older(firmware);
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) t.link_list[k] = 0x2000 + 16 * k;
  return t;
}
inline PlccTarget Spran(const char* firmware = "1.940") {
  PlccTarget t = PlccTarget::Spran(firmware);
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) t.link_list[k] = 0x3000 + 16 * k;
  return t;
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
