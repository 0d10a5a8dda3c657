#include "platform/debug.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zimo::platform {
namespace {

// Guards the capture chain; held while a message is recorded so a capture
// cannot go away under a writer on another thread.
std::mutex& ChainMutex() {
  static std::mutex mutex;
  return mutex;
}
DebugCapture* g_capture = nullptr;

bool ReadDebugEnv() {
  const char* value = std::getenv("ZIMO_DEBUG");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

void WriteToStderr(std::string_view text) {
  // One write per message keeps lines of several processes from interleaving.
  std::string line = "[" + std::to_string(::getpid()) + "] ";
  line.append(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;  // nowhere to report a failing stderr
    done += static_cast<size_t>(n);
  }
}

}  // namespace

bool DebugToStderr() {
  static const bool enabled = ReadDebugEnv();
  return enabled;
}

void DebugOutput(std::string_view text) {
  if (DebugToStderr()) WriteToStderr(text);
  std::lock_guard<std::mutex> lock(ChainMutex());
  if (g_capture != nullptr) g_capture->Record(text);
}

void DebugVPrintf(const char* format, va_list args) {
  char buffer[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (needed < 0) {
    DebugOutput(format);  // a broken format still says where it came from
    return;
  }
  if (static_cast<size_t>(needed) < sizeof buffer) {
    DebugOutput(std::string_view(buffer, static_cast<size_t>(needed)));
    return;
  }
  std::string big(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<size_t>(needed));
  DebugOutput(big);
}

void DebugPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugVPrintf(format, args);
  va_end(args);
}

DebugCapture::DebugCapture() {
  std::lock_guard<std::mutex> lock(ChainMutex());
  previous_ = g_capture;
  g_capture = this;
}

DebugCapture::~DebugCapture() {
  std::lock_guard<std::mutex> lock(ChainMutex());
  // Usually the newest; unlink from the middle when captures end out of order.
  DebugCapture** link = &g_capture;
  while (*link != nullptr && *link != this) link = &(*link)->previous_;
  if (*link == this) *link = previous_;
}

void DebugCapture::Record(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.emplace_back(text);
}

std::vector<std::string> DebugCapture::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::string DebugCapture::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const std::string& m : messages_) text += m;
  return text;
}

bool DebugCapture::Contains(std::string_view part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& m : messages_) {
    if (m.find(part) != std::string::npos) return true;
  }
  return false;
}

void DebugCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

}  // namespace zimo::platform
