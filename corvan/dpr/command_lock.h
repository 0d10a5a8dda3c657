// The command lock ("MutexZimo", through LockZimo/ReleaseZimo) held for a
// scope, for exports whose card exchanges belong together. The lock is
// recursive, so the command and variable calls made under it take it again.
#pragma once

#include <cstdint>

#include "corvan/command_api.h"

namespace zimo::corvan {

class CommandLock {
 public:
  explicit CommandLock(std::uint32_t device) : device_(device) { LockZimo(device_); }
  ~CommandLock() { Release(); }
  // Lets the lock go before the scope ends (before a message box, say).
  void Release() {
    if (held_) ReleaseZimo(device_);
    held_ = false;
  }
  CommandLock(const CommandLock&) = delete;
  CommandLock& operator=(const CommandLock&) = delete;

 private:
  std::uint32_t device_;
  bool held_ = true;
};

}  // namespace zimo::corvan
