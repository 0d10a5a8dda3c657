// The server's status print: one formatted line to standard output. The
// server has no console, so the lines are seen where standard output is
// redirected (a log file, a test).
#pragma once

namespace zimo::server {

// printf-style; the line is cut at kServerTraceMax characters, never
// written past its buffer.
void ServerTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline constexpr int kServerTraceMax = 1024;

}  // namespace zimo::server
