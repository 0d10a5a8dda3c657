// The debug channel: where the system's "debugger output" traces go. Silent
// unless ZIMO_DEBUG=1 (then each message goes to stderr as one line headed by
// the pid); tests capture it with DebugCapture.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zimo::platform {

// Sends one message, as written.
void DebugOutput(std::string_view text);
// printf-style; a message of any length is formatted whole.
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugVPrintf(const char* format, va_list args);

// True when ZIMO_DEBUG=1 was set when the channel was first used.
bool DebugToStderr();

// While alive, records every message sent on the channel (from any thread),
// on top of whatever the channel does anyway. Captures nest: the newest one
// records; the one before it resumes when it goes.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  // Each message as sent.
  std::vector<std::string> Messages() const;
  // All messages joined, as a debugger window would show them.
  std::string Text() const;
  // True when some message contains `part`.
  bool Contains(std::string_view part) const;
  void Clear();

 private:
  friend void DebugOutput(std::string_view text);
  void Record(std::string_view text);

  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  DebugCapture* previous_ = nullptr;
};

}  // namespace zimo::platform
