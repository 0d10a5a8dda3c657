#include "kernel/error_log.h"

#include <cstdio>

namespace zimo::kernel {

std::string FormatErrorLogEntry(const ErrorLogEntry& entry) {
  char head[128];
  std::snprintf(head, sizeof(head), " error 0x%08X unique %u status 0x%08X", entry.error_code,
                entry.unique_value, static_cast<uint32_t>(entry.final_status));
  std::string line = entry.source + head;
  for (const std::string& s : entry.strings) {
    line += " \"";
    for (char c : s) {
      if (c == '\n') {
        line += "\\n";
      } else if (c == '"' || c == '\\') {
        line += '\\';
        line += c;
      } else {
        line += c;
      }
    }
    line += '"';
  }
  return line;
}

}  // namespace zimo::kernel
