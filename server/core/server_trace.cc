#include "core/server_trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zimo::server {

void ServerTrace(const char* format, ...) {
  char line[kServerTraceMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // Lines from several threads stay whole; each is flushed, as the reader
  // may be another process following the output.
  static std::mutex mu;
  std::lock_guard lock(mu);
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace zimo::server
