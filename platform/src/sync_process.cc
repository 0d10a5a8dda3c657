#include "sync_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sync_shm.h"

namespace zimo::platform::internal {

std::optional<uint64_t> ProcessStartTicks(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  char buf[1024];
  ssize_t n;
  do {
    n = ::read(fd.get(), buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  buf[n] = '\0';
  // The command name (field 2) may hold blanks and parentheses: the fields
  // that follow start after its last ')'.
  const char* p = std::strrchr(buf, ')');
  if (p == nullptr) return std::nullopt;
  ++p;
  // Field 3 is the state, field 22 the start time.
  char state = '\0';
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (*p == '\0') return std::nullopt;
    if (field == 3) state = *p;
    if (field == 22) {
      char* end = nullptr;
      unsigned long long ticks = std::strtoull(p, &end, 10);
      if (end == p) return std::nullopt;
      if (state == 'Z' || state == 'X' || state == 'x') return std::nullopt;
      return static_cast<uint64_t>(ticks);
    }
    while (*p != ' ' && *p != '\0') ++p;
  }
  return std::nullopt;
}

ProcessStamp CurrentProcessStamp() {
  ProcessStamp stamp;
  stamp.pid = static_cast<int32_t>(::getpid());
  stamp.start_ticks = ProcessStartTicks(stamp.pid).value_or(0);
  return stamp;
}

bool ProcessAlive(const ProcessStamp& stamp) {
  if (stamp.pid <= 0) return false;
  std::optional<uint64_t> ticks = ProcessStartTicks(stamp.pid);
  if (ticks) return stamp.start_ticks == 0 || *ticks == stamp.start_ticks;
  // Without /proc/<pid>/stat (hidden or unmounted /proc) the pid is all we have.
  if (::access("/proc/self/stat", R_OK) == 0) return false;
  return ::kill(stamp.pid, 0) == 0 || errno == EPERM;
}

}  // namespace zimo::platform::internal
