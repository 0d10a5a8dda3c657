#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <thread>
#include <utility>

namespace zimo::platform {
namespace {

class SteadyClock : public Clock {
 public:
  Micros Now() const override {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
  }

  bool WaitUntil(Micros deadline, std::stop_token stop) override {
    const std::chrono::steady_clock::time_point when(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline));
    if (!stop.stop_possible()) {
      std::this_thread::sleep_until(when);
      return true;
    }
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait_until(lock, stop, when, [] { return false; });
    return !stop.stop_requested();
  }
};

std::atomic<Clock*> g_current{nullptr};

}  // namespace

Clock& RealClock() {
  static SteadyClock clock;
  return clock;
}

Micros FakeClock::Now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

bool FakeClock::WaitUntil(Micros deadline, std::stop_token stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop.stop_requested()) return false;
  if (now_ >= deadline) return true;
  if (auto_advance_) {
    now_ = deadline;
    changed_.notify_all();
    return true;
  }
  auto entry = deadlines_.insert(deadline);
  changed_.notify_all();  // a new pending sleeper
  bool reached = changed_.wait(lock, stop, [&] { return now_ >= deadline; });
  deadlines_.erase(entry);
  return reached;
}

void FakeClock::Advance(Micros duration) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (duration > Micros(0)) now_ += duration;
  changed_.notify_all();
}

void FakeClock::SetNow(Micros when) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (when > now_) now_ = when;
  changed_.notify_all();
}

void FakeClock::set_auto_advance(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto_advance_ = on;
  // Waiters already blocked stay until time reaches them: turning auto-advance
  // on must not move time behind the test's back.
}

size_t FakeClock::PendingLocked() const {
  size_t count = 0;
  for (auto it = deadlines_.upper_bound(now_); it != deadlines_.end(); ++it) ++count;
  return count;
}

size_t FakeClock::PendingSleepers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return PendingLocked();
}

bool FakeClock::WaitForPendingSleepers(size_t count, std::chrono::milliseconds real_timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, real_timeout, [&] { return PendingLocked() >= count; });
}

Clock& CurrentClock() {
  Clock* clock = g_current.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : RealClock();
}

void SetCurrentClock(Clock* clock) { g_current.store(clock, std::memory_order_release); }

ScopedClock::ScopedClock(Clock& clock) : previous_(g_current.load(std::memory_order_acquire)) {
  SetCurrentClock(&clock);
}

ScopedClock::~ScopedClock() { SetCurrentClock(previous_); }

uint64_t TickCount64() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(CurrentClock().Now()).count());
}

uint32_t TickCount() { return static_cast<uint32_t>(TickCount64()); }

uint64_t MicrosecondCount() { return static_cast<uint64_t>(CurrentClock().Now().count()); }

void SleepMs(uint32_t milliseconds) {
  CurrentClock().Sleep(std::chrono::milliseconds(milliseconds));
}

bool TimerResolutionAvailable(std::chrono::milliseconds resolution) {
  if (resolution.count() <= 0) return false;
  timespec res{};
  if (::clock_getres(CLOCK_MONOTONIC, &res) != 0) return false;
  const auto tick = std::chrono::seconds(res.tv_sec) + std::chrono::nanoseconds(res.tv_nsec);
  return tick <= resolution;
}

struct Timer::State {
  std::mutex start;  // held until `thread` is assigned
  std::jthread thread;
  std::atomic<bool> finished{false};
};

Timer::Timer(std::chrono::milliseconds delay, Kind kind, std::function<void()> callback,
             Clock& clock)
    : state_(std::make_shared<State>()) {
  // A periodic timer of 0 ms would spin; the multimedia timers' floor is 1 ms.
  const Micros period =
      kind == Kind::kPeriodic ? std::max<Micros>(delay, std::chrono::milliseconds(1)) : delay;
  const Micros first = clock.Now() + std::max<Micros>(delay, Micros(0));
  // The thread keeps the state alive, so a callback may destroy its Timer.
  std::lock_guard<std::mutex> started(state_->start);
  state_->thread = std::jthread([state = state_, &clock, kind, period, first,
                                 cb = std::move(callback)](std::stop_token stop) {
    // A first callback that cancels needs `thread` in place to see itself.
    { std::lock_guard<std::mutex> wait_for_start(state->start); }
    Micros next = first;
    // Stop is checked before touching the clock again: a callback that
    // cancelled its timer may also have ended the clock's owner.
    while (!stop.stop_requested() && clock.WaitUntil(next, stop) && !stop.stop_requested()) {
      if (cb) cb();
      if (kind == Kind::kOneShot) break;
      next += period;
    }
    state->finished = true;
  });
}

Timer::~Timer() { Cancel(); }

Timer::Timer(Timer&& other) noexcept : state_(std::move(other.state_)) {}

Timer& Timer::operator=(Timer&& other) noexcept {
  if (this != &other) {
    Cancel();
    state_ = std::move(other.state_);
  }
  return *this;
}

void Timer::Cancel() {
  if (!state_) return;
  std::shared_ptr<State> state = std::move(state_);
  state->thread.request_stop();
  if (state->thread.get_id() == std::this_thread::get_id()) {
    // Called from the callback: it returns to a loop that sees the stop.
    state->thread.detach();
  } else if (state->thread.joinable()) {
    state->thread.join();
  }
}

bool Timer::active() const { return state_ && !state_->finished.load(); }

}  // namespace zimo::platform
