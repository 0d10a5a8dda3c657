#include "sync_futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#ifndef SYS_futex_waitv
#define SYS_futex_waitv 449
#endif

namespace zimo::platform::internal {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "futex words must be plain 32-bit words");

std::atomic<bool> waitv_missing{false};
std::atomic<bool> waitv_forced_off{false};

uint32_t* Addr(std::atomic<uint32_t>* word) { return reinterpret_cast<uint32_t*>(word); }

}  // namespace

int FutexWait(std::atomic<uint32_t>* word, uint32_t expected, const Deadline& deadline) {
  // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time, so retries
  // after EINTR never stretch the wait.
  long rc = ::syscall(SYS_futex, Addr(word), FUTEX_WAIT_BITSET, expected,
                      deadline ? &*deadline : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
  return rc == 0 ? 0 : errno;
}

void FutexWake(std::atomic<uint32_t>* word, int count) {
  ::syscall(SYS_futex, Addr(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

int FutexWaitAny(std::span<std::atomic<uint32_t>* const> words, std::span<const uint32_t> expected,
                 const Deadline& deadline) {
  constexpr size_t kMost = 64;  // callers wait on far fewer
  struct futex_waitv waiters[kMost];
  if (words.size() > kMost || expected.size() != words.size()) return EINVAL;
  for (size_t i = 0; i < words.size(); ++i) {
    waiters[i].val = expected[i];
    waiters[i].uaddr = reinterpret_cast<uintptr_t>(Addr(words[i]));
    waiters[i].flags = FUTEX_32;  // shared between processes: no FUTEX2_PRIVATE
    waiters[i].__reserved = 0;
  }
  long rc = ::syscall(SYS_futex_waitv, waiters, static_cast<unsigned>(words.size()), 0u,
                      deadline ? &*deadline : nullptr, CLOCK_MONOTONIC);
  return rc >= 0 ? 0 : errno;
}

bool WaitvUsable() {
  return !waitv_missing.load(std::memory_order_relaxed) &&
         !waitv_forced_off.load(std::memory_order_relaxed);
}

void NoteWaitvMissing() { waitv_missing.store(true, std::memory_order_relaxed); }

void ForceWaitvFallback(bool on) { waitv_forced_off.store(on, std::memory_order_relaxed); }

}  // namespace zimo::platform::internal
