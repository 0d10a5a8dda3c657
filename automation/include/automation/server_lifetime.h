// How long a server process lives: every object it serves holds one lock
// while it exists. When a release brings the count to 0, the monitor waits
// for a quiet time (5000 ms) with no further release to 0; if by then no
// lock is held and nothing happened, the server is told to end. A server
// started by hand (count 0, nothing released yet) runs until a client has
// come and gone.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/clock.h"

namespace zimo::automation {

class ServerLifetime {
 public:
  static constexpr std::chrono::milliseconds kDefaultQuietTime{5000};

  // `on_quit` runs once, on the monitor's thread, when the server should end.
  explicit ServerLifetime(std::function<void()> on_quit,
                          std::chrono::milliseconds quiet_time = kDefaultQuietTime,
                          platform::Clock& clock = platform::CurrentClock());
  ~ServerLifetime();
  ServerLifetime(const ServerLifetime&) = delete;
  ServerLifetime& operator=(const ServerLifetime&) = delete;

  // Starts the monitor thread.
  void Start();

  // Returns the new count.
  long Lock();
  long Unlock();
  long count() const { return count_.load(); }

 private:
  void Monitor(std::stop_token stop);
  // Waits for the shutdown event until `deadline` (auto-reset). True when
  // the event came; false when the deadline passed or the monitor stops.
  bool WaitForEvent(platform::Micros deadline, bool forever, const std::stop_token& stop);
  void SignalEvent();

  std::function<void()> on_quit_;
  const std::chrono::milliseconds quiet_time_;
  platform::Clock& clock_;
  std::atomic<long> count_{0};
  std::atomic<bool> activity_{false};
  std::mutex mu_;
  std::stop_source event_;  // requested = signalled; replaced once taken
  std::jthread monitor_;
};

// Holds one lock of a server's lifetime for as long as it lives. Objects of
// a server keep one as a member; null lifetime: nothing is counted.
class ModuleLock {
 public:
  explicit ModuleLock(ServerLifetime* lifetime) : lifetime_(lifetime) {
    if (lifetime_ != nullptr) lifetime_->Lock();
  }
  ~ModuleLock() {
    if (lifetime_ != nullptr) lifetime_->Unlock();
  }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;

 private:
  ServerLifetime* lifetime_;
};

}  // namespace zimo::automation
