// Time: tick counts, sleeping, timers, and the clock they all read.
//
// Everything that measures or waits goes through a Clock. The process has one
// current clock (the steady system clock unless a test installs another), so
// a test can install a FakeClock and drive a 10-second time-out in no real
// time at all.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>

namespace zimo::platform {

using Micros = std::chrono::microseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  // Time since the clock's start (for the real clock: since boot).
  virtual Micros Now() const = 0;
  // Returns at `deadline` (at once when it has passed), or earlier when `stop`
  // is requested. True when the deadline was reached.
  virtual bool WaitUntil(Micros deadline, std::stop_token stop) = 0;

  void WaitUntil(Micros deadline) { WaitUntil(deadline, std::stop_token()); }
  void Sleep(Micros duration) { WaitUntil(Now() + duration); }
};

// The steady system clock (CLOCK_MONOTONIC).
Clock& RealClock();

// A clock that moves only when told. Waiters block until Advance or SetNow
// carries the time to their deadline. With auto-advance on, a waiter instead
// moves the time to its own deadline and returns at once, so code that sleeps
// in small steps until a time-out runs through in no real time.
class FakeClock : public Clock {
 public:
  explicit FakeClock(Micros start = Micros(0)) : now_(start) {}

  Micros Now() const override;
  bool WaitUntil(Micros deadline, std::stop_token stop) override;
  using Clock::WaitUntil;

  void Advance(Micros duration);
  // Moves to `when`; a time earlier than now is ignored (clocks never go back).
  void SetNow(Micros when);
  void set_auto_advance(bool on);

  // Waiters whose deadline is still ahead, i.e. who block until time moves.
  size_t PendingSleepers() const;
  // Waits in real time until at least `count` waiters block on this clock;
  // false after `real_timeout`. Tests call it before Advance so that the
  // advance cannot slip in before a sleeper has taken its deadline.
  bool WaitForPendingSleepers(size_t count, std::chrono::milliseconds real_timeout) const;

 private:
  size_t PendingLocked() const;

  mutable std::mutex mutex_;
  mutable std::condition_variable_any changed_;
  Micros now_;
  bool auto_advance_ = false;
  std::multiset<Micros> deadlines_;
};

// The process-wide clock that waiting code consults.
Clock& CurrentClock();
// nullptr restores the real clock. The clock must outlive its use.
void SetCurrentClock(Clock* clock);

// Installs a clock for a scope and restores the previous one after it.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

// Milliseconds of the current clock, wrapping at 2^32 like the 32-bit tick
// count (every 49.7 days): compare ticks by unsigned difference, never by <.
uint32_t TickCount();
uint64_t TickCount64();
// Microseconds of the current clock.
uint64_t MicrosecondCount();
// Sleeps on the current clock.
void SleepMs(uint32_t milliseconds);

// True when the system timer resolves `resolution` (the multimedia timers'
// one-millisecond promise).
bool TimerResolutionAvailable(std::chrono::milliseconds resolution);

// A one-shot or periodic timer: calls `callback` on a thread of its own after
// `delay`, and for a periodic timer again at every further multiple of it (a
// late tick is caught up, not dropped). Cancel (or destruction) stops it; when
// a callback is running on another thread, Cancel waits for it to return. A
// callback may cancel its own timer.
class Timer {
 public:
  enum class Kind { kOneShot, kPeriodic };

  Timer() = default;
  Timer(std::chrono::milliseconds delay, Kind kind, std::function<void()> callback,
        Clock& clock = CurrentClock());
  ~Timer();
  Timer(Timer&&) noexcept;
  Timer& operator=(Timer&&) noexcept;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void Cancel();
  // Until cancelled, or for a one-shot timer until its callback has returned.
  bool active() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace zimo::platform
