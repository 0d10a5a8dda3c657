// Futex waits and wake-ups on 32-bit words in shared memory, shared between
// processes (no private flag). Deadlines are absolute CLOCK_MONOTONIC times
// (std::chrono::steady_clock); none means no limit.
#pragma once

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zimo::platform::internal {

using Deadline = std::optional<timespec>;

// 0 when woken (perhaps spuriously), else EAGAIN (the word no longer held
// `expected`), ETIMEDOUT or EINTR.
int FutexWait(std::atomic<uint32_t>* word, uint32_t expected, const Deadline& deadline);
void FutexWake(std::atomic<uint32_t>* word, int count);

// Sleeps until one of the words is woken or no longer holds its expected
// value (futex_waitv). 0 when woken, else EAGAIN, ETIMEDOUT, EINTR, or ENOSYS
// when the kernel lacks the call.
int FutexWaitAny(std::span<std::atomic<uint32_t>* const> words, std::span<const uint32_t> expected,
                 const Deadline& deadline);

// False once the kernel said it lacks futex_waitv, or while a test forces
// the fallback.
bool WaitvUsable();
void NoteWaitvMissing();
void ForceWaitvFallback(bool on);

}  // namespace zimo::platform::internal
