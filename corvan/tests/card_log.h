// The lines a card behind zimo-drvhost received, from the host's "log N"
// reply ("ok " and the entries, each ended by '|', with '\' escaping the
// next character): lines, and control characters as "^C". The channel's
// flush before each line (^X) is left out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zimo::corvan::testing {

inline std::vector<std::string> CardLogLines(const std::string& reply) {
  std::vector<std::string> lines;
  if (reply.rfind("ok ", 0) != 0) return lines;
  std::string entry;
  for (std::size_t i = 3; i < reply.size(); ++i) {
    if (reply[i] == '\\' && i + 1 < reply.size()) {
      entry += reply[++i];
    } else if (reply[i] == '|') {
      if (entry != "^X") lines.push_back(entry);
      entry.clear();
    } else {
      entry += reply[i];
    }
  }
  return lines;
}

}  // namespace zimo::corvan::testing
