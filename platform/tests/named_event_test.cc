#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_mapping.h"
#include "sync_test_support.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;
using sync_test::Child;
using sync_test::Pipe;

constexpr milliseconds kNow{0};
// Short: only for things that must not happen.
constexpr milliseconds kMustNot{100};

const char* const kInterruptSuffixes[] = {"IPOS", "BREQ", "ERROR", "FERROR", "HREQ",
                                          "IR5",  "IR6",  "IR7",   "STOP"};

// Every test runs once with futex_waitv and once with the fallback for
// kernels without it.
class NamedEventTest : public ::testing::TestWithParam<bool> {
 protected:
  NamedEventTest() { ForceWaitAnyFallbackForTesting(GetParam()); }
  ~NamedEventTest() override {
    ForceWaitAnyFallbackForTesting(false);
    (void)UnlinkHomeSharedMemory();
  }

  static NamedEvent MustCreate(const std::string& name, EventReset reset, bool set = false) {
    Result<NamedEvent> e = NamedEvent::Create(name, reset, set);
    EXPECT_TRUE(e.ok()) << e.status().ToString();
    return e.ok() ? std::move(e).value() : NamedEvent();
  }

  // A child that opens `name`, says it is ready, waits without limit and
  // exits 0 when let through.
  static std::unique_ptr<Child> Waiter(const std::string& name) {
    auto ready = std::make_shared<Pipe>();
    auto child = std::make_unique<Child>([&] {
      Result<NamedEvent> e = NamedEvent::Open(name);
      if (!e.ok()) return 1;
      ready->Signal();
      return e->Wait().ok() ? 0 : 1;
    });
    EXPECT_EQ(ready->Await(), '!');
    EXPECT_TRUE(sync_test::ProcessSleeps(child->pid()));
    return child;
  }

  zimo::testing::TempHome home_;
};

INSTANTIATE_TEST_SUITE_P(Waits, NamedEventTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fallback" : "Waitv"; });

TEST_P(NamedEventTest, CreateOpenAndLifetime) {
  EXPECT_EQ(NamedEvent::Open("ETHEvent0").status().code(), Code::kNotFound);
  NamedEvent first = MustCreate("ETHEvent0", EventReset::kManual, true);
  EXPECT_FALSE(first.already_existed());

  // The creator's kind and state hold; a later Create's are ignored.
  Result<NamedEvent> second = NamedEvent::Create("ETHEvent0", EventReset::kAuto, false);
  ASSERT_TRUE(second.ok());
  EXPECT_TRUE(second->already_existed());
  EXPECT_TRUE(second->Wait(kNow).ok());
  EXPECT_TRUE(second->Wait(kNow).ok());  // manual: not taken by a wait
  Result<NamedEvent> opened = NamedEvent::Open("ETHEvent0");
  ASSERT_TRUE(opened.ok());
  EXPECT_TRUE(opened->Reset().ok());
  EXPECT_EQ(first.Wait(kNow).code(), Code::kTimeout);

  first = NamedEvent();
  *second = NamedEvent();
  *opened = NamedEvent();
  EXPECT_EQ(NamedEvent::Open("ETHEvent0").status().code(), Code::kNotFound);
}

TEST_P(NamedEventTest, LeftoverOfCrashedProcessIsNotTakenForTheEvent) {
  Child crashed([] {
    Result<NamedEvent> e = NamedEvent::Create("ZIMO0IPOS", EventReset::kManual, true);
    if (!e.ok()) return 1;
    ::raise(SIGKILL);
    return 0;
  });
  EXPECT_EQ(crashed.Wait(), 128 + SIGKILL);
  EXPECT_EQ(NamedEvent::Open("ZIMO0IPOS").status().code(), Code::kNotFound);
  NamedEvent fresh = MustCreate("ZIMO0IPOS", EventReset::kAuto);
  EXPECT_FALSE(fresh.already_existed());
  EXPECT_EQ(fresh.Wait(kNow).code(), Code::kTimeout);
}

TEST_P(NamedEventTest, RejectsBadNamesAndEmptyHandles) {
  for (const std::string& name : {std::string(), std::string(300, 'e')}) {
    EXPECT_EQ(NamedEvent::Create(name, EventReset::kAuto, false).status().code(),
              Code::kInvalidArgument);
    EXPECT_EQ(NamedEvent::Open(name).status().code(), Code::kInvalidArgument);
  }
  NamedEvent empty;
  EXPECT_EQ(empty.Set().code(), Code::kInvalidArgument);
  EXPECT_EQ(empty.Reset().code(), Code::kInvalidArgument);
  EXPECT_EQ(empty.Pulse().code(), Code::kInvalidArgument);
  EXPECT_EQ(empty.Wait(kNow).code(), Code::kInvalidArgument);
}

// Single-process sequences of operations and what a zero-time wait sees.
enum class Op { kSet, kReset, kPulse, kTaken, kNotTaken };
struct StateCase {
  const char* what;
  EventReset reset;
  bool initially_set;
  std::vector<Op> ops;
};

TEST_P(NamedEventTest, StatesWithoutWaiters) {
  const StateCase cases[] = {
      {"manual starts set, stays set",
       EventReset::kManual,
       true,
       {Op::kTaken, Op::kTaken, Op::kReset, Op::kNotTaken}},
      {"auto starts set, one wait takes it", EventReset::kAuto, true, {Op::kTaken, Op::kNotTaken}},
      {"auto sets do not add up",
       EventReset::kAuto,
       false,
       {Op::kSet, Op::kSet, Op::kTaken, Op::kNotTaken}},
      {"manual set then reset", EventReset::kManual, false, {Op::kSet, Op::kReset, Op::kNotTaken}},
      {"auto reset clears", EventReset::kAuto, false, {Op::kSet, Op::kReset, Op::kNotTaken}},
      {"manual pulse leaves it clear", EventReset::kManual, true, {Op::kPulse, Op::kNotTaken}},
      {"auto pulse leaves it clear", EventReset::kAuto, true, {Op::kPulse, Op::kNotTaken}},
      {"pulse without waiters is lost",
       EventReset::kAuto,
       false,
       {Op::kPulse, Op::kNotTaken, Op::kSet, Op::kTaken}},
  };
  int n = 0;
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.what);
    NamedEvent e = MustCreate("state" + std::to_string(n++), c.reset, c.initially_set);
    for (Op op : c.ops) {
      switch (op) {
        case Op::kSet:
          EXPECT_TRUE(e.Set().ok());
          break;
        case Op::kReset:
          EXPECT_TRUE(e.Reset().ok());
          break;
        case Op::kPulse:
          EXPECT_TRUE(e.Pulse().ok());
          break;
        case Op::kTaken:
          EXPECT_TRUE(e.Wait(kNow).ok());
          break;
        case Op::kNotTaken:
          EXPECT_EQ(e.Wait(kNow).code(), Code::kTimeout);
          break;
      }
    }
  }
}

TEST_P(NamedEventTest, WaitsTimeOut) {
  NamedEvent a = MustCreate("a", EventReset::kAuto);
  NamedEvent b = MustCreate("b", EventReset::kManual);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(a.Wait(milliseconds(30)).code(), Code::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  NamedEvent* both[] = {&a, &b};
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitAny(both, milliseconds(30)).status().code(), Code::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  // A timed-out wait leaves nothing behind: a later Set is still kept.
  EXPECT_TRUE(a.Set().ok());
  EXPECT_TRUE(a.Wait(kNow).ok());
  EXPECT_EQ(a.Wait(kNow).code(), Code::kTimeout);
}

TEST_P(NamedEventTest, SetInOneProcessWakesWaitAnyOverNineInAnother) {
  std::vector<NamedEvent> events;
  for (const char* suffix : kInterruptSuffixes) {
    events.push_back(MustCreate(std::string("ZIMO0") + suffix, EventReset::kAuto));
  }
  const bool fallback = GetParam();
  Pipe ready;
  Child waiter([&] {
    ForceWaitAnyFallbackForTesting(fallback);
    std::vector<NamedEvent> mine;
    std::vector<NamedEvent*> list;
    for (const char* suffix : kInterruptSuffixes) {
      Result<NamedEvent> e = NamedEvent::Open(std::string("ZIMO0") + suffix);
      if (!e.ok()) return 100;
      mine.push_back(std::move(e).value());
    }
    for (NamedEvent& e : mine) list.push_back(&e);
    ready.Signal();
    Result<size_t> r = WaitAny(list);
    return r.ok() ? static_cast<int>(*r) : 101;
  });
  ASSERT_EQ(ready.Await(), '!');
  ASSERT_TRUE(sync_test::ProcessSleeps(waiter.pid()));
  EXPECT_TRUE(events[6].Set().ok());
  EXPECT_EQ(waiter.Wait(), 6);
  // The waiter took it.
  EXPECT_EQ(events[6].Wait(kNow).code(), Code::kTimeout);
}

TEST_P(NamedEventTest, WaitAnyTakesOnlyTheLowestSignalledEvent) {
  std::vector<NamedEvent> events;
  for (int i = 0; i < 5; ++i) {
    events.push_back(
        MustCreate("e" + std::to_string(i), i == 2 ? EventReset::kManual : EventReset::kAuto));
  }
  std::vector<NamedEvent*> list;
  for (NamedEvent& e : events) list.push_back(&e);
  EXPECT_TRUE(events[4].Set().ok());
  EXPECT_TRUE(events[1].Set().ok());
  EXPECT_TRUE(events[2].Set().ok());
  EXPECT_EQ(*WaitAny(list, kNow), 1u);
  EXPECT_EQ(*WaitAny(list, kNow), 2u);
  EXPECT_EQ(*WaitAny(list, kNow), 2u);  // manual: still set
  EXPECT_TRUE(events[2].Reset().ok());
  EXPECT_EQ(*WaitAny(list, kNow), 4u);
  EXPECT_EQ(WaitAny(list, kNow).status().code(), Code::kTimeout);
}

TEST_P(NamedEventTest, WaitAnyRejectsBadLists) {
  std::vector<NamedEvent> events;
  for (size_t i = 0; i < kMaxWaitEvents + 1; ++i) {
    events.push_back(MustCreate("l" + std::to_string(i), EventReset::kAuto, true));
  }
  std::vector<NamedEvent*> all;
  for (NamedEvent& e : events) all.push_back(&e);
  NamedEvent empty;
  const std::vector<NamedEvent*> bad[] = {
      {}, all, {&events[0], nullptr}, {&events[0], &empty}, {&events[0], &events[1], &events[0]},
  };
  for (const auto& list : bad) {
    EXPECT_EQ(WaitAny(list, kNow).status().code(), Code::kInvalidArgument) << list.size();
  }
  // Nothing was taken by the refused waits.
  for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(events[i].Wait(kNow).ok());
  all.pop_back();
  EXPECT_EQ(*WaitAny(all, kNow), 2u);
}

TEST_P(NamedEventTest, AutoResetLetsOneWaiterThroughPerSet) {
  NamedEvent e = MustCreate("ETHEvent1", EventReset::kAuto);
  auto first = Waiter("ETHEvent1");
  auto second = Waiter("ETHEvent1");
  EXPECT_TRUE(e.Set().ok());
  // One of them ends; the other keeps waiting.
  auto until = std::chrono::steady_clock::now() + sync_test::kLong;
  while (first->Running() && second->Running() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  Child& done = first->Running() ? *second : *first;
  Child& still = first->Running() ? *first : *second;
  EXPECT_EQ(done.Wait(kNow), 0);
  EXPECT_EQ(still.Wait(kMustNot), -1);
  EXPECT_TRUE(e.Set().ok());
  EXPECT_EQ(still.Wait(), 0);
  EXPECT_EQ(e.Wait(kNow).code(), Code::kTimeout);  // both Sets were used up
}

TEST_P(NamedEventTest, ManualResetLetsAllWaitersThrough) {
  NamedEvent e = MustCreate("ZIMO1HREQ", EventReset::kManual);
  auto first = Waiter("ZIMO1HREQ");
  auto second = Waiter("ZIMO1HREQ");
  EXPECT_TRUE(e.Set().ok());
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_TRUE(e.Wait(kNow).ok());  // and stays set
}

TEST_P(NamedEventTest, PulseLetsCurrentWaitersThroughAndLeavesItClear) {
  for (EventReset reset : {EventReset::kManual, EventReset::kAuto}) {
    SCOPED_TRACE(reset == EventReset::kManual ? "manual" : "auto");
    const std::string name = reset == EventReset::kManual ? "pulse-m" : "pulse-a";
    NamedEvent e = MustCreate(name, reset);
    auto first = Waiter(name);
    auto second = Waiter(name);
    EXPECT_TRUE(e.Pulse().ok());
    if (reset == EventReset::kManual) {
      EXPECT_EQ(first->Wait(), 0);
      EXPECT_EQ(second->Wait(), 0);
    } else {
      auto until = std::chrono::steady_clock::now() + sync_test::kLong;
      while (first->Running() && second->Running() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(1));
      }
      Child& still = first->Running() ? *first : *second;
      EXPECT_EQ(still.Wait(kMustNot), -1);
      EXPECT_TRUE(e.Pulse().ok());
      EXPECT_EQ(still.Wait(), 0);
    }
    EXPECT_EQ(e.Wait(kNow).code(), Code::kTimeout);
  }
}

// Keeps the calling thread on one CPU until destroyed.
class PinnedToCpu {
 public:
  explicit PinnedToCpu(int cpu) {
    ok_ = ::sched_getaffinity(0, sizeof saved_, &saved_) == 0;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ok_ = ok_ && ::sched_setaffinity(0, sizeof one, &one) == 0;
  }
  ~PinnedToCpu() {
    if (ok_) ::sched_setaffinity(0, sizeof saved_, &saved_);
  }
  bool ok() const { return ok_; }

 private:
  cpu_set_t saved_;
  bool ok_ = false;
};

// A thread of this process that waits on `events` and records the result.
// With `idle_on_cpu` it runs on that CPU at idle priority: while the test's
// thread keeps that CPU busy it cannot run, even when woken.
struct WaitingThread {
  explicit WaitingThread(std::vector<NamedEvent*> events, int idle_on_cpu = -1)
      : list(std::move(events)) {
    thread = std::thread([this, idle_on_cpu] {
      if (idle_on_cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(idle_on_cpu, &one);
        sched_param param{};
        if (::sched_setaffinity(0, sizeof one, &one) != 0 ||
            ::sched_setscheduler(0, SCHED_IDLE, &param) != 0) {
          setup_failed = true;
        }
      }
      tid = ::gettid();
      result = WaitAny(list);
      done = true;
    });
    while (tid == 0) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_TRUE(sync_test::ThreadSleeps(tid));
  }
  ~WaitingThread() {
    // A waiter a fault left stuck is set free, so the test can end.
    while (!done) {
      for (NamedEvent* e : list) (void)e->Set();
      std::this_thread::sleep_for(milliseconds(1));
    }
    if (thread.joinable()) thread.join();
  }
  // The index it was let through by; 99 when it failed, 98 when still
  // waiting after a long time.
  size_t Join() {
    auto until = std::chrono::steady_clock::now() + sync_test::kLong;
    while (!done) {
      if (std::chrono::steady_clock::now() >= until) return 98;
      std::this_thread::sleep_for(milliseconds(1));
    }
    thread.join();
    return result.ok() ? *result : 99;
  }

  std::vector<NamedEvent*> list;
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::atomic<bool> setup_failed{false};
  Result<size_t> result = Status(Code::kOsError, "not run");
  std::thread thread;
};

TEST_P(NamedEventTest, SetsWhileAWaiterWakesAreNotLost) {
  // Auto reset: two Sets with one waiter in place let it through and leave
  // the event set, as if the first had been handed to the waiter at once.
  NamedEvent a = MustCreate("handover", EventReset::kAuto);
  {
    WaitingThread waiter({&a});
    EXPECT_TRUE(a.Set().ok());
    EXPECT_TRUE(a.Set().ok());
    EXPECT_EQ(waiter.Join(), 0u);
  }
  EXPECT_TRUE(a.Wait(kNow).ok());
  EXPECT_EQ(a.Wait(kNow).code(), Code::kTimeout);

  // Manual reset: a Reset right after the Set still lets the waiter through.
  NamedEvent m = MustCreate("set-reset", EventReset::kManual);
  WaitingThread waiter({&m});
  EXPECT_TRUE(m.Set().ok());
  EXPECT_TRUE(m.Reset().ok());
  EXPECT_EQ(waiter.Join(), 0u);
}

TEST_P(NamedEventTest, WakeUpNotUsedByOneWaiterPassesToAnother) {
  // `both` sleeps on b and a, `only_a` on a. b is set, then a, before `both`
  // gets to run: the wake-up for a reaches `both` (first in line), which
  // takes b (the lower index) and must pass a's wake-up on to `only_a`.
  NamedEvent a = MustCreate("pass-a", EventReset::kAuto);
  NamedEvent b = MustCreate("pass-b", EventReset::kAuto);
  const int cpu = ::sched_getcpu();
  ASSERT_GE(cpu, 0);
  PinnedToCpu pinned(cpu);
  ASSERT_TRUE(pinned.ok());
  WaitingThread both({&b, &a}, cpu);
  ASSERT_FALSE(both.setup_failed);
  WaitingThread only_a({&a});
  EXPECT_TRUE(b.Set().ok());
  EXPECT_TRUE(a.Set().ok());
  EXPECT_EQ(both.Join(), 0u);
  EXPECT_EQ(only_a.Join(), 0u);
}

TEST_P(NamedEventTest, UnnamedEventsCanBeHandedToAnotherProcess) {
  Result<NamedEvent> stop = NamedEvent::CreateUnnamed(EventReset::kAuto, false);
  Result<NamedEvent> start = NamedEvent::CreateUnnamed(EventReset::kAuto, false);
  ASSERT_TRUE(stop.ok() && start.ok());
  EXPECT_NE(stop->name(), start->name());
  Child setter([name = stop->name()] {
    Result<NamedEvent> e = NamedEvent::Open(name);
    return e.ok() && e->Set().ok() ? 0 : 1;
  });
  EXPECT_TRUE(stop->Wait(sync_test::kLong).ok());
  EXPECT_EQ(setter.Wait(), 0);
  EXPECT_EQ(start->Wait(kNow).code(), Code::kTimeout);
}

}  // namespace
}  // namespace zimo::platform
