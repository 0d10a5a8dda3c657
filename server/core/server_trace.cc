#include "core/server_trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zimo::server {
namespace {
std::atomic<void (*)(const char*)> g_sink{nullptr};
}  // namespace

void SetServerTraceSinkForTesting(void (*sink)(const char* line)) { g_sink = sink; }

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
  if (auto sink = g_sink.load()) sink(line);
}

}  // namespace zimo::server
