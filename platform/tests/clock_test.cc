#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kGenerous(10000);

// Runs `fn` on a thread and reports whether it finished.
class Background {
 public:
  explicit Background(std::function<void()> fn) : future_(std::async(std::launch::async, fn)) {}
  bool Finished(milliseconds within) {
    return future_.wait_for(within) == std::future_status::ready;
  }

 private:
  std::future<void> future_;
};

TEST(FakeClockTest, SleeperWakesExactlyWhenTimeReachesItsDeadline) {
  FakeClock clock(milliseconds(500));
  std::atomic<bool> woke{false};
  Background sleeper([&] {
    clock.Sleep(milliseconds(100));
    woke = true;
  });
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));

  clock.Advance(milliseconds(99));
  EXPECT_EQ(clock.PendingSleepers(), 1u);  // still blocked: deadline is 600 ms
  EXPECT_FALSE(woke);

  clock.Advance(milliseconds(1));
  ASSERT_TRUE(sleeper.Finished(kGenerous));
  EXPECT_TRUE(woke);
  EXPECT_EQ(clock.Now(), milliseconds(600));
}

TEST(FakeClockTest, SetNowWakesOnlyTheSleepersItPasses) {
  FakeClock clock;
  std::atomic<int> woken{0};
  std::vector<std::unique_ptr<Background>> sleepers;
  for (int ms : {10, 20, 30}) {
    sleepers.push_back(std::make_unique<Background>([&, ms] {
      clock.WaitUntil(milliseconds(ms));
      ++woken;
    }));
  }
  ASSERT_TRUE(clock.WaitForPendingSleepers(3, kGenerous));

  clock.SetNow(milliseconds(20));
  ASSERT_TRUE(sleepers[0]->Finished(kGenerous));
  ASSERT_TRUE(sleepers[1]->Finished(kGenerous));
  EXPECT_EQ(clock.PendingSleepers(), 1u);
  EXPECT_EQ(woken, 2);

  clock.SetNow(milliseconds(5));  // going back is ignored
  EXPECT_EQ(clock.Now(), milliseconds(20));
  clock.Advance(milliseconds(10));
  ASSERT_TRUE(sleepers[2]->Finished(kGenerous));
  EXPECT_EQ(woken, 3);
}

TEST(FakeClockTest, StopEndsAWaitWithoutMovingTime) {
  FakeClock clock;
  std::stop_source stop;
  std::atomic<bool> reached{true};
  Background sleeper([&] { reached = clock.WaitUntil(milliseconds(1000), stop.get_token()); });
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));
  stop.request_stop();
  ASSERT_TRUE(sleeper.Finished(kGenerous));
  EXPECT_FALSE(reached);
  EXPECT_EQ(clock.Now(), milliseconds(0));
  EXPECT_EQ(clock.PendingSleepers(), 0u);
}

// The pattern of a polling time-out: with auto-advance and the fake clock
// installed as current, a 2-second loop of 1 ms sleeps runs in no real time.
TEST(FakeClockTest, AutoAdvanceRunsAPollingTimeoutThrough) {
  FakeClock clock(milliseconds(1234));
  clock.set_auto_advance(true);
  ScopedClock use(clock);

  const uint32_t start = TickCount();
  int polls = 0;
  while (TickCount() - start < 2000) {
    SleepMs(1);
    ++polls;
  }
  EXPECT_EQ(polls, 2000);
  EXPECT_EQ(clock.Now(), milliseconds(1234 + 2000));
}

TEST(ClockTest, CurrentClockIsScopedAndTickCountWrapsAt32Bits) {
  const Clock* real = &CurrentClock();
  EXPECT_EQ(real, &RealClock());
  {
    FakeClock clock(milliseconds(0xFFFFFFFBull));
    ScopedClock use(clock);
    EXPECT_EQ(&CurrentClock(), &clock);
    const uint32_t before = TickCount();
    EXPECT_EQ(before, 0xFFFFFFFBu);
    clock.Advance(milliseconds(10));
    EXPECT_EQ(TickCount(), 5u);
    EXPECT_EQ(static_cast<uint32_t>(TickCount() - before), 10u);
    EXPECT_EQ(TickCount64(), 0xFFFFFFFBull + 10);
    EXPECT_EQ(MicrosecondCount(), (0xFFFFFFFBull + 10) * 1000);
  }
  EXPECT_EQ(&CurrentClock(), real);
}

TEST(ClockTest, RealClockMovesForwardAndStopInterruptsALongWait) {
  Clock& clock = RealClock();
  const Micros before = clock.Now();
  clock.Sleep(milliseconds(2));
  EXPECT_GE(clock.Now() - before, milliseconds(2));

  std::stop_source stop;
  std::atomic<bool> reached{true};
  Background sleeper(
      [&] { reached = clock.WaitUntil(clock.Now() + std::chrono::hours(1), stop.get_token()); });
  stop.request_stop();
  ASSERT_TRUE(sleeper.Finished(kGenerous));
  EXPECT_FALSE(reached);
}

TEST(ClockTest, OneMillisecondResolutionIsAvailable) {
  EXPECT_TRUE(TimerResolutionAvailable(milliseconds(1)));
  EXPECT_FALSE(TimerResolutionAvailable(milliseconds(0)));
}

class FiredCounter {
 public:
  std::function<void()> Callback() {
    return [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
      changed_.notify_all();
    };
  }
  bool WaitFor(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kGenerous, [&] { return count_ >= count; });
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

TEST(TimerTest, OneShotFiresOnceWhenItsDelayHasPassed) {
  FakeClock clock;
  FiredCounter fired;
  Timer timer(milliseconds(50), Timer::Kind::kOneShot, fired.Callback(), clock);
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));
  clock.Advance(milliseconds(49));
  EXPECT_EQ(clock.PendingSleepers(), 1u);
  EXPECT_EQ(fired.count(), 0);

  clock.Advance(milliseconds(1));
  ASSERT_TRUE(fired.WaitFor(1));
  clock.Advance(milliseconds(500));
  timer.Cancel();  // joins the thread: any further firing would have happened
  EXPECT_EQ(fired.count(), 1);
  EXPECT_FALSE(timer.active());
}

TEST(TimerTest, PeriodicCatchesUpLateTicksAndStopsOnCancel) {
  FakeClock clock;
  FiredCounter fired;
  Timer timer(milliseconds(100), Timer::Kind::kPeriodic, fired.Callback(), clock);
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));

  clock.Advance(milliseconds(350));  // ticks due at 100, 200, 300
  ASSERT_TRUE(fired.WaitFor(3));
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));  // waiting for 400
  EXPECT_EQ(fired.count(), 3);
  EXPECT_TRUE(timer.active());

  timer.Cancel();
  EXPECT_FALSE(timer.active());
  clock.Advance(milliseconds(1000));
  EXPECT_EQ(fired.count(), 3);
}

TEST(TimerTest, CallbackMayCancelOrDestroyItsOwnTimer) {
  FakeClock clock;
  FiredCounter fired;
  auto timer = std::make_unique<Timer>();
  *timer = Timer(
      milliseconds(10), Timer::Kind::kPeriodic,
      [&] {
        timer.reset();  // destroys the Timer from its own thread
        fired.Callback()();
      },
      clock);
  ASSERT_TRUE(clock.WaitForPendingSleepers(1, kGenerous));
  clock.Advance(milliseconds(100));
  ASSERT_TRUE(fired.WaitFor(1));
  // The loop saw the stop: no second tick although ten were due.
  clock.Advance(milliseconds(100));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(fired.count(), 1);
}

TEST(TimerTest, CancelWaitsForARunningCallback) {
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  Timer timer(milliseconds(0), Timer::Kind::kOneShot, [&] {
    entered = true;
    std::this_thread::sleep_for(milliseconds(50));
    finished = true;
  });
  while (!entered) std::this_thread::sleep_for(milliseconds(1));
  timer.Cancel();
  EXPECT_TRUE(finished);
}

TEST(TimerTest, RealClockTimerFiresAndACancelledOneNever) {
  FiredCounter fired;
  Timer soon(milliseconds(5), Timer::Kind::kOneShot, fired.Callback(), RealClock());
  ASSERT_TRUE(fired.WaitFor(1));

  std::atomic<bool> late_fired{false};
  {
    Timer late(
        std::chrono::hours(1), Timer::Kind::kOneShot, [&] { late_fired = true; }, RealClock());
    EXPECT_TRUE(late.active());
  }  // destruction cancels at once instead of waiting an hour
  EXPECT_FALSE(late_fired);
}

}  // namespace
}  // namespace zimo::platform
