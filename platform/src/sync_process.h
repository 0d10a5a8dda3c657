// Which process made a shared object, told apart from a later process that
// happens to get the same pid: the pid plus the process's start time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace zimo::platform::internal {

struct ProcessStamp {
  int32_t pid = 0;
  uint64_t start_ticks = 0;  // clock ticks after boot; 0 when unknown
};

ProcessStamp CurrentProcessStamp();

// The start time of a running process; nullopt when there is no such process
// or it has ended (a zombie has ended).
std::optional<uint64_t> ProcessStartTicks(pid_t pid);

// True while the process the stamp names still runs.
bool ProcessAlive(const ProcessStamp& stamp);

}  // namespace zimo::platform::internal
