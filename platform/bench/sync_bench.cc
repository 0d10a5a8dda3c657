// Named mutexes and events against their floors, measured in the same run:
// a bare robust pthread mutex in shared memory and a bare futex wake-up.
// The named mutex inherits priority (the kernel hands it on at release), so
// its floor is the bare mutex of the same kind (BM_BarePiRobustMutex*); the
// plain robust mutex shows what the hand-over costs.
//
//   BM_*Uncontended         lock + unlock, one process
//   BM_*Contended           lock + unlock while a second process hammers the
//                           same mutex
//   BM_*PingPong            one round trip between two processes = two
//                           set-to-wake latencies
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../testing/temp_home.h"
#include "../tests/sync_test_support.h"
#include "platform/file_mapping.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"

namespace zimo::platform {
namespace {

// A home of the benchmark's own; its shared memory goes with it.
struct BenchHome {
  zimo::testing::TempHome home;
  ~BenchHome() { (void)UnlinkHomeSharedMemory(); }
};

struct SharedPage {
  SharedPage() {
    void* p = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    data = p == MAP_FAILED ? nullptr : p;
  }
  ~SharedPage() {
    if (data != nullptr) ::munmap(data, 4096);
  }
  void* data;
};

// Shared state of a benchmark and its second process.
struct Control {
  std::atomic<uint32_t> stop{0};
  std::atomic<uint32_t> ping{0};
  std::atomic<uint32_t> pong{0};
  alignas(64) pthread_mutex_t mutex;
};

// The second process: a forked child that runs the body and exits.
using Peer = sync_test::Child;

void InitBareMutex(pthread_mutex_t* mutex, bool inherit = false) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (inherit) pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void FutexWait(std::atomic<uint32_t>* word, uint32_t expected) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, nullptr, nullptr,
            0);
}
void FutexWake(std::atomic<uint32_t>* word) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// --- mutexes ---------------------------------------------------------------

void BareUncontended(benchmark::State& state, bool inherit) {
  SharedPage page;
  auto* control = new (page.data) Control;
  InitBareMutex(&control->mutex, inherit);
  for (auto _ : state) {
    pthread_mutex_lock(&control->mutex);
    pthread_mutex_unlock(&control->mutex);
  }
}
void BM_BareRobustMutexUncontended(benchmark::State& state) { BareUncontended(state, false); }
BENCHMARK(BM_BareRobustMutexUncontended);
void BM_BarePiRobustMutexUncontended(benchmark::State& state) { BareUncontended(state, true); }
BENCHMARK(BM_BarePiRobustMutexUncontended);

void BM_NamedMutexUncontended(benchmark::State& state) {
  BenchHome home;
  Result<NamedMutex> mutex = NamedMutex::Create("MutexZimo0");
  if (!mutex.ok()) return state.SkipWithError(mutex.status().ToString().c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(mutex->Lock());
    benchmark::DoNotOptimize(mutex->Unlock());
  }
}
BENCHMARK(BM_NamedMutexUncontended);

void BareContended(benchmark::State& state, bool inherit) {
  SharedPage page;
  auto* control = new (page.data) Control;
  InitBareMutex(&control->mutex, inherit);
  Peer peer([control] {
    while (control->stop.load(std::memory_order_relaxed) == 0) {
      pthread_mutex_lock(&control->mutex);
      pthread_mutex_unlock(&control->mutex);
    }
    return 0;
  });
  for (auto _ : state) {
    pthread_mutex_lock(&control->mutex);
    pthread_mutex_unlock(&control->mutex);
  }
  control->stop = 1;
  (void)peer.Wait();
}
void BM_BareRobustMutexContended(benchmark::State& state) { BareContended(state, false); }
BENCHMARK(BM_BareRobustMutexContended);
void BM_BarePiRobustMutexContended(benchmark::State& state) { BareContended(state, true); }
BENCHMARK(BM_BarePiRobustMutexContended);

void BM_NamedMutexContended(benchmark::State& state) {
  BenchHome home;
  SharedPage page;
  auto* control = new (page.data) Control;
  Result<NamedMutex> mutex = NamedMutex::Create("MutexZimo0");
  if (!mutex.ok()) return state.SkipWithError(mutex.status().ToString().c_str());
  Peer peer([control] {
    Result<NamedMutex> theirs = NamedMutex::Open("MutexZimo0");
    if (!theirs.ok()) return 1;
    while (control->stop.load(std::memory_order_relaxed) == 0) {
      (void)theirs->Lock();
      (void)theirs->Unlock();
    }
    return 0;
  });
  for (auto _ : state) {
    benchmark::DoNotOptimize(mutex->Lock());
    benchmark::DoNotOptimize(mutex->Unlock());
  }
  control->stop = 1;
  (void)peer.Wait();
}
BENCHMARK(BM_NamedMutexContended);

// --- events ----------------------------------------------------------------

void BM_BareFutexPingPong(benchmark::State& state) {
  SharedPage page;
  auto* control = new (page.data) Control;
  // Each word is a binary semaphore: 1 = posted.
  auto post = [](std::atomic<uint32_t>* word) {
    word->store(1);
    FutexWake(word);
  };
  auto take = [](std::atomic<uint32_t>* word) {
    while (word->exchange(0) == 0) FutexWait(word, 0);
  };
  Peer peer([&] {
    for (;;) {
      take(&control->ping);
      if (control->stop.load() != 0) break;
      post(&control->pong);
    }
    return 0;
  });
  for (auto _ : state) {
    post(&control->ping);
    take(&control->pong);
  }
  control->stop = 1;
  post(&control->ping);
  (void)peer.Wait();
}
BENCHMARK(BM_BareFutexPingPong)->UseRealTime();

// The peer waits on one event (arg 0) or on nine with WaitAny, the ping at
// index 5 (arg 1: futex_waitv; arg 2: the fallback for kernels without it).
void BM_NamedEventPingPong(benchmark::State& state) {
  BenchHome home;
  SharedPage page;
  auto* control = new (page.data) Control;
  const int mode = static_cast<int>(state.range(0));
  std::vector<NamedEvent> events;
  for (int i = 0; i < 9; ++i) {
    Result<NamedEvent> e =
        NamedEvent::Create("ZIMO0EV" + std::to_string(i), EventReset::kAuto, false);
    if (!e.ok()) return state.SkipWithError(e.status().ToString().c_str());
    events.push_back(std::move(e).value());
  }
  Result<NamedEvent> pong = NamedEvent::Create("pong", EventReset::kAuto, false);
  if (!pong.ok()) return state.SkipWithError(pong.status().ToString().c_str());
  NamedEvent& ping = events[5];
  Peer peer([&] {
    ForceWaitAnyFallbackForTesting(mode == 2);
    std::vector<NamedEvent*> list;
    for (NamedEvent& e : events) list.push_back(&e);
    for (;;) {
      if (mode == 0) {
        (void)ping.Wait();
      } else {
        (void)WaitAny(list);
      }
      if (control->stop.load() != 0) break;
      (void)pong->Set();
    }
    return 0;
  });
  for (auto _ : state) {
    (void)ping.Set();
    (void)pong->Wait();
  }
  control->stop = 1;
  (void)ping.Set();
  (void)peer.Wait();
}
BENCHMARK(BM_NamedEventPingPong)->Arg(0)->Arg(1)->Arg(2)->UseRealTime();

}  // namespace
}  // namespace zimo::platform

BENCHMARK_MAIN();
