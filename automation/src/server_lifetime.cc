#include "automation/server_lifetime.h"

#include <condition_variable>

namespace zimo::automation {
ServerLifetime::ServerLifetime(std::function<void()> on_quit, std::chrono::milliseconds quiet_time,
                               platform::Clock& clock)
    : on_quit_(std::move(on_quit)), quiet_time_(quiet_time), clock_(clock) {}

ServerLifetime::~ServerLifetime() {
  if (monitor_.joinable()) {
    monitor_.request_stop();
    monitor_.join();
  }
}

void ServerLifetime::Start() {
  if (monitor_.joinable()) return;
  monitor_ = std::jthread([this](std::stop_token stop) { Monitor(stop); });
}

long ServerLifetime::Lock() { return ++count_; }

long ServerLifetime::Unlock() {
  long n = --count_;
  if (n == 0) {
    activity_ = true;
    SignalEvent();
  }
  return n;
}

void ServerLifetime::SignalEvent() {
  std::lock_guard lock(mu_);
  event_.request_stop();
}

bool ServerLifetime::WaitForEvent(platform::Micros deadline, bool forever,
                                  const std::stop_token& stop) {
  // One token that ends the wait for either the event or the monitor's stop.
  std::stop_source either;
  std::stop_token event;
  {
    std::lock_guard lock(mu_);
    event = event_.get_token();
  }
  std::stop_callback on_event(event, [&either] { either.request_stop(); });
  std::stop_callback on_stop(stop, [&either] { either.request_stop(); });
  if (forever) {
    // No deadline, so no clock: only the event or the stop ends this.
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait(lock, either.get_token(), [] { return false; });
  } else if (clock_.WaitUntil(deadline, either.get_token()) && !event.stop_requested()) {
    return false;  // the quiet time passed
  }
  if (stop.stop_requested()) return false;
  std::lock_guard lock(mu_);
  event_ = std::stop_source();  // auto-reset: the event is taken
  return true;
}

void ServerLifetime::Monitor(std::stop_token stop) {
  while (!stop.stop_requested()) {
    if (!WaitForEvent({}, true, stop)) return;
    // Quiet time: start again at every release to 0 within it.
    do {
      activity_ = false;
    } while (WaitForEvent(clock_.Now() + quiet_time_, false, stop));
    if (stop.stop_requested()) return;
    if (activity_ || count_ > 0) continue;
    if (on_quit_) on_quit_();
    return;
  }
}

}  // namespace zimo::automation
