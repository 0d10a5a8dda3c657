#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
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

class NamedMutexTest : public ::testing::Test {
 protected:
  ~NamedMutexTest() override { (void)UnlinkHomeSharedMemory(); }
  zimo::testing::TempHome home_;
};

// Child exit codes of the probes below.
constexpr int kTaken = 0;
constexpr int kBusy = 1;
constexpr int kFailed = 2;

// Whether another process could take the mutex now.
int ProbeFromChild(const std::string& name) {
  Child child([&] {
    Result<NamedMutex> m = NamedMutex::Open(name);
    if (!m.ok()) return kFailed;
    Status s = m->Lock(kNow);
    if (s.code() == Code::kTimeout) return kBusy;
    return s.ok() && m->Unlock().ok() ? kTaken : kFailed;
  });
  return child.Wait();
}

TEST_F(NamedMutexTest, ExistsWhileSomeProcessHasItOpen) {
  EXPECT_EQ(NamedMutex::Open("MutexZimo0").status().code(), Code::kNotFound);

  Result<NamedMutex> first = NamedMutex::Create("MutexZimo0");
  ASSERT_TRUE(first.ok()) << first.status().ToString();
  EXPECT_FALSE(first->already_existed());
  Result<NamedMutex> second = NamedMutex::Create("MutexZimo0");
  ASSERT_TRUE(second.ok());
  EXPECT_TRUE(second->already_existed());
  EXPECT_TRUE(NamedMutex::Open("MutexZimo0").ok());
  // Names are distinct objects.
  Result<NamedMutex> other = NamedMutex::Create("DPRMutexZimo0");
  ASSERT_TRUE(other.ok());
  EXPECT_FALSE(other->already_existed());

  Child child([] {
    Result<NamedMutex> m = NamedMutex::Create("MutexZimo0");
    return m.ok() && m->already_existed() ? 0 : 1;
  });
  EXPECT_EQ(child.Wait(), 0);

  // The last handle gone, the name is free and a new mutex is made.
  *first = NamedMutex();
  *second = NamedMutex();
  EXPECT_EQ(NamedMutex::Open("MutexZimo0").status().code(), Code::kNotFound);
  Result<NamedMutex> again = NamedMutex::Create("MutexZimo0");
  ASSERT_TRUE(again.ok());
  EXPECT_FALSE(again->already_existed());
}

TEST_F(NamedMutexTest, RejectsBadNamesAndEmptyHandles) {
  for (const std::string& name : {std::string(), std::string(300, 'x'), std::string("a\0b", 3)}) {
    EXPECT_EQ(NamedMutex::Create(name).status().code(), Code::kInvalidArgument);
  }
  NamedMutex empty;
  EXPECT_FALSE(empty.valid());
  EXPECT_EQ(empty.Lock().code(), Code::kInvalidArgument);
  EXPECT_EQ(empty.Unlock().code(), Code::kInvalidArgument);
}

TEST_F(NamedMutexTest, RecursiveForItsOwnerUntilTheLastUnlock) {
  Result<NamedMutex> m = NamedMutex::Create("MutexZimo1");
  ASSERT_TRUE(m.ok());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(m->Lock().ok());
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(m->Unlock().ok());
    EXPECT_EQ(ProbeFromChild("MutexZimo1"), kBusy);
  }
  ASSERT_TRUE(m->Unlock().ok());
  EXPECT_EQ(ProbeFromChild("MutexZimo1"), kTaken);
  // One unlock too many is refused.
  Status extra = m->Unlock();
  EXPECT_FALSE(extra.ok());
  EXPECT_EQ(extra.os_error(), EPERM);
}

TEST_F(NamedMutexTest, UnlockWithoutOwnershipChangesNothing) {
  Result<NamedMutex> m = NamedMutex::Create("ETHMutext0");
  ASSERT_TRUE(m.ok());
  EXPECT_FALSE(m->Unlock().ok());  // never locked

  // Held by another thread of this process.
  std::atomic<bool> held{false}, release{false};
  std::thread owner([&] {
    ASSERT_TRUE(m->Lock().ok());
    held = true;
    while (!release) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_TRUE(m->Unlock().ok());
  });
  while (!held) std::this_thread::sleep_for(milliseconds(1));
  Status s = m->Unlock();
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.os_error(), EPERM);
  EXPECT_EQ(m->Lock(kNow).code(), Code::kTimeout);  // still the other thread's

  // Held by another process: our unlock cannot free it either.
  release = true;
  owner.join();
  ASSERT_TRUE(m->Lock().ok());
  Child child([] {
    Result<NamedMutex> theirs = NamedMutex::Open("ETHMutext0");
    if (!theirs.ok() || theirs->Unlock().ok()) return 1;
    return theirs->Lock(kNow).code() == Code::kTimeout ? 0 : 1;
  });
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(m->Unlock().ok());
}

TEST_F(NamedMutexTest, TimedLockTimesOutWhileAnotherProcessHoldsIt) {
  Result<NamedMutex> m = NamedMutex::Create("ZimoNC0");
  ASSERT_TRUE(m.ok());
  Pipe held, release;
  Child child([&] {
    if (!m->Lock().ok()) return 1;
    held.Signal();
    release.Await();
    return m->Unlock().ok() ? 0 : 1;
  });
  ASSERT_EQ(held.Await(), '!');
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(m->Lock(milliseconds(50)).code(), Code::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(50));
  EXPECT_EQ(m->Lock(kNow).code(), Code::kTimeout);

  release.Signal();
  EXPECT_TRUE(m->Lock(sync_test::kLong).ok());
  EXPECT_TRUE(m->Unlock().ok());
  EXPECT_EQ(child.Wait(), 0);
}

// The owner is killed before, or while, we wait for the mutex.
class AbandonedMutexTest : public NamedMutexTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AbandonedMutexTest, NextTakerIsToldAndOwnsIt) {
  const bool waiting_when_killed = GetParam();
  Result<NamedMutex> m = NamedMutex::Create("MutexZimo2");
  ASSERT_TRUE(m.ok());
  Pipe held;
  Child owner([&] {
    Result<NamedMutex> theirs = NamedMutex::Open("MutexZimo2");
    if (!theirs.ok() || !theirs->Lock().ok() || !theirs->Lock().ok()) return 1;  // held twice
    held.Signal();
    ::pause();
    return 0;
  });
  ASSERT_EQ(held.Await(), '!');

  Status taken;
  if (waiting_when_killed) {
    const pid_t me = ::gettid();
    std::thread killer([&] {
      sync_test::ThreadSleeps(me);  // in Lock below
      owner.Kill();
    });
    taken = m->Lock();
    killer.join();
  } else {
    owner.Kill();
    taken = m->Lock();
  }
  EXPECT_EQ(taken.code(), Code::kAbandoned) << taken.ToString();

  // Ours now, held once: another process cannot take it until we unlock.
  EXPECT_EQ(ProbeFromChild("MutexZimo2"), kBusy);
  EXPECT_TRUE(m->Unlock().ok());
  EXPECT_FALSE(m->Unlock().ok());
  EXPECT_EQ(ProbeFromChild("MutexZimo2"), kTaken);
  // Reported once only.
  EXPECT_TRUE(m->Lock().ok());
  EXPECT_TRUE(m->Unlock().ok());
}

INSTANTIATE_TEST_SUITE_P(WhenKilled, AbandonedMutexTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Waiting" : "NotWaiting"; });

TEST_F(NamedMutexTest, ProcessesCreatingAtOnceShareOneMutex) {
  constexpr int kChildren = 6;
  constexpr int kRounds = 200;
  // A plain counter in shared memory: only the mutex keeps increments whole.
  void* shared =
      ::mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  volatile long* counter = static_cast<volatile long*>(shared);
  *counter = 0;

  Pipe go, results, finish;
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<Child>([&] {
      go.Await();
      Result<NamedMutex> m = NamedMutex::Create("ZimoServer Mutex");
      if (!m.ok()) {
        results.Signal('X');
        return 1;
      }
      results.Signal(m->already_existed() ? 'E' : 'C');
      for (int r = 0; r < kRounds; ++r) {
        if (!m->Lock().ok()) return 1;
        long v = *counter;
        if (r % 16 == 0) sched_yield();
        *counter = v + 1;
        if (!m->Unlock().ok()) return 1;
      }
      finish.Await();  // keep the handle until every child has reported
      return 0;
    }));
  }
  for (int i = 0; i < kChildren; ++i) go.Signal();
  int created = 0, existed = 0;
  for (int i = 0; i < kChildren; ++i) {
    char c = results.Await();
    created += c == 'C';
    existed += c == 'E';
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(existed, kChildren - 1);
  for (int i = 0; i < kChildren; ++i) finish.Signal();
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
  EXPECT_EQ(*counter, kChildren * kRounds);
  ::munmap(shared, sizeof(long));
}

TEST_F(NamedMutexTest, InitialOwnershipOnlyForTheCreator) {
  Result<NamedMutex> server = NamedMutex::Create("ZimoServer Mutex", true);
  ASSERT_TRUE(server.ok());
  EXPECT_FALSE(server->already_existed());
  Child second_instance([] {
    Result<NamedMutex> m = NamedMutex::Create("ZimoServer Mutex", true);
    if (!m.ok() || !m->already_existed()) return 1;
    // It did not become the owner.
    if (m->Unlock().ok()) return 1;
    return m->Lock(kNow).code() == Code::kTimeout ? 0 : 1;
  });
  EXPECT_EQ(second_instance.Wait(), 0);
  EXPECT_TRUE(server->Unlock().ok());
}

TEST_F(NamedMutexTest, LeftoverOfCrashedProcessesIsMadeAfresh) {
  // A server that died holding its instance mutex, with no other holder.
  Child crashed([] {
    Result<NamedMutex> m = NamedMutex::Create("ZimoServer Mutex", true);
    if (!m.ok()) return 1;
    ::raise(SIGKILL);
    return 0;
  });
  EXPECT_EQ(crashed.Wait(), 128 + SIGKILL);

  EXPECT_EQ(NamedMutex::Open("ZimoServer Mutex").status().code(), Code::kNotFound);
  Result<NamedMutex> restarted = NamedMutex::Create("ZimoServer Mutex", true);
  ASSERT_TRUE(restarted.ok());
  EXPECT_FALSE(restarted->already_existed());
  EXPECT_EQ(ProbeFromChild("ZimoServer Mutex"), kBusy);
  EXPECT_TRUE(restarted->Unlock().ok());
  EXPECT_TRUE(restarted->Lock().ok());  // a new mutex: nothing abandoned
  EXPECT_TRUE(restarted->Unlock().ok());
}

TEST_F(NamedMutexTest, ClosingTheHandleKeepsTheHold) {
  Result<NamedMutex> m = NamedMutex::Create("DPRMutexZimo3");
  ASSERT_TRUE(m.ok());
  ASSERT_TRUE(m->Lock().ok());
  *m = NamedMutex();  // closed while held

  // Other robust mutexes of this thread still work (the C library's list of
  // held robust mutexes runs through the first one's memory).
  Result<NamedMutex> other = NamedMutex::Create("DPRMutexZimo4");
  ASSERT_TRUE(other.ok());
  ASSERT_TRUE(other->Lock().ok());
  ASSERT_TRUE(other->Unlock().ok());

  EXPECT_EQ(ProbeFromChild("DPRMutexZimo3"), kBusy);
  Result<NamedMutex> reopened = NamedMutex::Open("DPRMutexZimo3");
  ASSERT_TRUE(reopened.ok());
  EXPECT_TRUE(reopened->Unlock().ok());
  EXPECT_EQ(ProbeFromChild("DPRMutexZimo3"), kTaken);
}

TEST_F(NamedMutexTest, UnnamedMutexesGetDistinctHiddenNames) {
  Result<NamedMutex> a = NamedMutex::CreateUnnamed();
  Result<NamedMutex> b = NamedMutex::CreateUnnamed(true);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_FALSE(a->name().empty());
  EXPECT_NE(a->name(), b->name());
  EXPECT_EQ(ProbeFromChild(a->name()), kTaken);
  EXPECT_EQ(ProbeFromChild(b->name()), kBusy);
  EXPECT_TRUE(b->Unlock().ok());
}

// Holders killed at random, some inside their release, while the others
// wait with and without a time limit: afterwards every survivor must still
// get the mutex. A release that clears the word and is killed before it
// wakes anyone, or a wake-up spent on a waiter whose time ran out, would
// leave an untimed waiter asleep on a free mutex.
TEST_F(NamedMutexTest, WaitersSurviveHoldersKilledAtRandom) {
  constexpr int kWorkers = 6;
  constexpr int kKills = 150;
  struct Shared {
    std::atomic<uint32_t> stop;
    std::atomic<uint64_t> progress[kWorkers];
  };
  void* page =
      ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  auto* shared = new (page) Shared{};
  Result<NamedMutex> m = NamedMutex::Create("MutexZimo0");
  ASSERT_TRUE(m.ok());

  auto start = [&](int slot) {
    return std::make_unique<Child>([shared, slot] {
      Result<NamedMutex> theirs = NamedMutex::Open("MutexZimo0");
      if (!theirs.ok()) return 1;
      const bool timed = slot % 2 == 1;
      while (shared->stop.load() == 0) {
        Status s = timed ? theirs->Lock(milliseconds(1)) : theirs->Lock();
        if (s.code() == Code::kTimeout) continue;
        if (!s.ok() && s.code() != Code::kAbandoned) return 2;
        shared->progress[slot].fetch_add(1);
        if (!theirs->Unlock().ok()) return 3;
      }
      return 0;
    });
  };
  std::vector<std::unique_ptr<Child>> workers;
  for (int i = 0; i < kWorkers; ++i) workers.push_back(start(i));

  std::mt19937 random(12345);
  for (int k = 0; k < kKills; ++k) {
    const int victim = static_cast<int>(random() % kWorkers);
    const uint64_t seen = shared->progress[victim].load();
    // Let it take the mutex at least once, then kill it wherever it is.
    for (int spin = 0; spin < 2000 && shared->progress[victim].load() == seen; ++spin) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
    workers[victim]->Kill();
    workers[victim] = start(victim);
  }

  // Every worker, the untimed ones above all, keeps taking the mutex.
  uint64_t before[kWorkers];
  for (int i = 0; i < kWorkers; ++i) before[i] = shared->progress[i].load();
  for (int i = 0; i < kWorkers; ++i) {
    const auto until = std::chrono::steady_clock::now() + sync_test::kLong;
    while (shared->progress[i].load() < before[i] + 20 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_GE(shared->progress[i].load(), before[i] + 20) << "worker " << i << " is stuck";
  }
  shared->stop = 1;
  for (auto& w : workers) EXPECT_EQ(w->Wait(), 0);
  Status last = m->Lock(milliseconds(1000));
  EXPECT_TRUE(last.ok() || last.code() == Code::kAbandoned) << last.ToString();
  (void)m->Unlock();
  ::munmap(page, sizeof(Shared));
}

}  // namespace
}  // namespace zimo::platform
