// Status output of the server: prints one formatted line to stdout. With no
// console attached, the output is only visible where stdout is redirected,
// e.g. a log file or a test harness.
#pragma once

namespace zimo::server {

// printf-style; the line is cut at kServerTraceMax characters, never
// written past its buffer.
void ServerTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline constexpr int kServerTraceMax = 1024;

// Tests: every line also goes to `sink` while one is set (null: none).
void SetServerTraceSinkForTesting(void (*sink)(const char* line));

}  // namespace zimo::server
