// The system error log: entries drivers write when something fails that an
// administrator should see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/ntstatus.h"

namespace zimo::kernel {

struct ErrorLogEntry {
  std::string source;  // the writing driver's or device's name
  uint32_t error_code = 0;
  uint32_t unique_value = 0;
  NTSTATUS final_status = kStatusSuccess;
  std::vector<std::string> strings;  // insertion strings
};

// One line of the log file: "<source> error 0x%08X unique %u status 0x%08X"
// followed by the insertion strings, each quoted.
std::string FormatErrorLogEntry(const ErrorLogEntry& entry);

}  // namespace zimo::kernel
