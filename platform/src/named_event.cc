#include "platform/named_event.h"

#include <time.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <new>

#include "platform/home.h"
#include "sync_futex.h"
#include "sync_shm.h"

namespace zimo::platform {
namespace {

constexpr uint32_t kEventMagic = 0x544e5645;       // "EVNT"
constexpr uint32_t kGenerationMagic = 0x4e454745;  // "EGEN"

// The state of an event is one 64-bit word, so that a waiter can take the
// event and stop counting as a waiter in one step:
//   bits 0-15   tokens: for a manual-reset event 1 when signalled; for an
//               auto-reset event the number of waits it will still let
//               through, at most one more than there are waiters (a Set
//               with a waiter in place is that waiter's, like a hand-over)
//   bits 16-31  waiters now registered
//   bits 32-63  release count: bumped when a manual-reset event lets the
//               registered waiters through (Set, Pulse), so that a Reset
//               right after cannot strand them
// `seq` changes after every change that may satisfy a waiter; it is the
// word waiters sleep on.
// A process killed in the middle of a wait stays counted as a waiter until
// every process has closed the event; until then an auto-reset event can
// keep one Set more than it otherwise would.
struct EventBlock {
  uint32_t magic;
  uint32_t manual_reset;
  std::atomic<uint32_t> seq;
  uint32_t reserved;
  std::atomic<uint64_t> state;
};
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// One per home: advanced by every Set that has waiters, for WaitAny on
// kernels without futex_waitv.
struct GenerationBlock {
  uint32_t magic;
  std::atomic<uint32_t> generation;
  std::atomic<uint32_t> waiters;
};

constexpr uint64_t kField = 0xFFFF;
uint32_t Tokens(uint64_t s) { return static_cast<uint32_t>(s & kField); }
uint32_t Waiters(uint64_t s) { return static_cast<uint32_t>((s >> 16) & kField); }
uint32_t Releases(uint64_t s) { return static_cast<uint32_t>(s >> 32); }
uint64_t Pack(uint64_t tokens, uint64_t waiters, uint32_t releases) {
  return (static_cast<uint64_t>(releases) << 32) | (waiters << 16) | tokens;
}

EventBlock* BlockOf(const internal::Segment& segment) {
  return static_cast<EventBlock*>(segment.data());
}
GenerationBlock* GenerationOf(const internal::Segment& segment) {
  return static_cast<GenerationBlock*>(segment.data());
}

// Wakes waiters after a change that may satisfy them.
void Notify(EventBlock* block, GenerationBlock* gen, int count) {
  block->seq.fetch_add(1);
  internal::FutexWake(&block->seq, count);
  gen->generation.fetch_add(1);
  if (gen->waiters.load() > 0) internal::FutexWake(&gen->generation, INT_MAX);
}

// A wait in progress on one event.
struct Waiter {
  EventBlock* block = nullptr;
  GenerationBlock* gen = nullptr;
  bool manual = false;
  bool registered = false;
  uint32_t releases = 0;  // the release count when the wait began
};

// Takes the event if it is signalled, without waiting.
bool TakeNow(EventBlock* block) {
  uint64_t s = block->state.load();
  if (block->manual_reset) return Tokens(s) > 0;
  while (Tokens(s) > 0) {
    if (block->state.compare_exchange_weak(s, s - 1)) return true;
  }
  return false;
}

Status Register(Waiter& w) {
  uint64_t s = w.block->state.load();
  do {
    if (Waiters(s) == kField) return Status(Code::kOsError, "too many waits on one event");
  } while (!w.block->state.compare_exchange_weak(s, s + (uint64_t{1} << 16)));
  w.registered = true;
  w.releases = Releases(s);
  return Status::Ok();
}

// For a registered waiter: true when the event lets it through. An
// auto-reset event is taken and the waiter unregistered in the same step.
bool Take(Waiter& w) {
  uint64_t s = w.block->state.load();
  if (w.manual) return Tokens(s) > 0 || Releases(s) != w.releases;
  while (Tokens(s) > 0) {
    if (w.block->state.compare_exchange_weak(s, s - 1 - (uint64_t{1} << 16))) {
      w.registered = false;
      return true;
    }
  }
  return false;
}

void Leave(Waiter& w) {
  if (!w.registered) return;
  w.registered = false;
  uint64_t s = w.block->state.load();
  uint64_t next;
  do {
    uint64_t waiters = Waiters(s) - 1;
    uint64_t tokens = Tokens(s);
    // A hand-over meant for this waiter becomes at most the plain signal.
    if (!w.manual && tokens > waiters + 1) tokens = waiters + 1;
    next = Pack(tokens, waiters, Releases(s));
  } while (!w.block->state.compare_exchange_weak(s, next));
  // This waiter may have been the one a Set woke: pass the wake-up on.
  if (!w.manual && Tokens(next) > 0 && Waiters(next) > 0) Notify(w.block, w.gen, 1);
}

internal::Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
  auto at = std::chrono::steady_clock::now().time_since_epoch() +
            std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(at);
  timespec ts;
  ts.tv_sec = static_cast<time_t>(secs.count());
  ts.tv_nsec = static_cast<long>((at - secs).count());
  return ts;
}

constexpr std::chrono::milliseconds kLongestTimeout = std::chrono::hours(24 * 365 * 10);

enum class SleepMode { kSingle, kVector, kGeneration };

internal::SegmentType GenerationType() {
  internal::SegmentType type;
  type.size = sizeof(GenerationBlock);
  type.magic = kGenerationMagic;
  type.what = "event generation word";
  type.init = [](void* data) {
    auto* gen = new (data) GenerationBlock{};
    gen->magic = kGenerationMagic;
    return Status::Ok();
  };
  return type;
}

}  // namespace

NamedEvent::NamedEvent() = default;
NamedEvent::NamedEvent(NamedEvent&& other) noexcept = default;
NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept = default;
NamedEvent::~NamedEvent() = default;

Result<NamedEvent> NamedEvent::Make(std::string_view name, bool create, EventReset reset,
                                    bool initially_set) {
  if (Status status = internal::CheckObjectName("event", name); !status.ok()) return status;
  internal::SegmentType type;
  type.size = sizeof(EventBlock);
  type.magic = kEventMagic;
  type.what = "event";
  type.init = [reset, initially_set](void* data) {
    auto* block = new (data) EventBlock{};
    block->manual_reset = reset == EventReset::kManual ? 1 : 0;
    block->state.store(Pack(initially_set ? 1 : 0, 0, 0));
    block->magic = kEventMagic;
    return Status::Ok();
  };
  auto fail = [name](const Status& s) {
    return Status(s.code(), "event \"" + std::string(name) + "\": " + s.message(), s.os_error());
  };
  Result<internal::AcquiredSegment> acquired = internal::AcquireSegment(
      internal::ShmPath(ObjectName("event", name)), type,
      create ? internal::OpenMode::kCreateOrOpen : internal::OpenMode::kOpenExisting);
  if (!acquired.ok()) return fail(acquired.status());
  Result<internal::AcquiredSegment> gen =
      internal::AcquireSegment(internal::ShmPath(ObjectName("evgen", "home")), GenerationType(),
                               internal::OpenMode::kCreateOrOpen);
  if (!gen.ok()) return fail(gen.status());
  NamedEvent event;
  event.segment_ = std::move(acquired->segment);
  event.generation_ = std::move(gen->segment);
  event.existed_ = acquired->existed;
  event.name_ = std::string(name);
  return event;
}

Result<NamedEvent> NamedEvent::Create(std::string_view name, EventReset reset, bool initially_set) {
  return Make(name, true, reset, initially_set);
}

Result<NamedEvent> NamedEvent::Open(std::string_view name) {
  return Make(name, false, EventReset::kAuto, false);
}

Result<NamedEvent> NamedEvent::CreateUnnamed(EventReset reset, bool initially_set) {
  return Make(internal::HiddenUniqueName(), true, reset, initially_set);
}

Status NamedEvent::Set() {
  if (!segment_) return Status(Code::kInvalidArgument, "set of an empty event handle");
  EventBlock* block = BlockOf(*segment_);
  const bool manual = block->manual_reset != 0;
  uint64_t s = block->state.load();
  uint64_t next;
  do {
    uint64_t tokens = Tokens(s), waiters = Waiters(s);
    if (manual) {
      if (tokens > 0) return Status::Ok();
      next = Pack(1, waiters, Releases(s) + (waiters > 0 ? 1 : 0));
    } else {
      uint64_t cap = std::min(waiters + 1, kField);
      if (tokens >= cap) return Status::Ok();
      next = Pack(tokens + 1, waiters, Releases(s));
    }
  } while (!block->state.compare_exchange_weak(s, next));
  if (Waiters(next) > 0) Notify(block, GenerationOf(*generation_), manual ? INT_MAX : 1);
  return Status::Ok();
}

Status NamedEvent::Reset() {
  if (!segment_) return Status(Code::kInvalidArgument, "reset of an empty event handle");
  EventBlock* block = BlockOf(*segment_);
  uint64_t s = block->state.load();
  while (Tokens(s) > 0 && !block->state.compare_exchange_weak(s, s & ~kField)) {
  }
  return Status::Ok();
}

Status NamedEvent::Pulse() {
  if (!segment_) return Status(Code::kInvalidArgument, "pulse of an empty event handle");
  EventBlock* block = BlockOf(*segment_);
  const bool manual = block->manual_reset != 0;
  uint64_t s = block->state.load();
  uint64_t next;
  bool wake;
  do {
    uint64_t tokens = Tokens(s), waiters = Waiters(s);
    if (manual) {
      next = Pack(0, waiters, Releases(s) + (waiters > 0 ? 1 : 0));
      wake = waiters > 0;
    } else {
      // One more hand-over if a waiter lacks one; no signal is left behind.
      uint64_t handed = std::min(tokens + 1, waiters);
      next = Pack(handed, waiters, Releases(s));
      wake = handed > tokens;
    }
  } while (!block->state.compare_exchange_weak(s, next));
  if (wake) Notify(block, GenerationOf(*generation_), manual ? INT_MAX : 1);
  return Status::Ok();
}

Status NamedEvent::Wait() { return Wait(std::chrono::milliseconds::max()); }

Status NamedEvent::Wait(std::chrono::milliseconds timeout) {
  NamedEvent* self = this;
  return WaitAny(std::span<NamedEvent* const>(&self, 1), timeout).status();
}

Result<size_t> WaitAny(std::span<NamedEvent* const> events) {
  return WaitAny(events, std::chrono::milliseconds::max());
}

Result<size_t> WaitAny(std::span<NamedEvent* const> events, std::chrono::milliseconds timeout) {
  const size_t n = events.size();
  if (n == 0 || n > kMaxWaitEvents) {
    return Status(Code::kInvalidArgument, "a wait takes 1 to " + std::to_string(kMaxWaitEvents) +
                                              " events, not " + std::to_string(n));
  }
  std::array<Waiter, kMaxWaitEvents> waiters;
  for (size_t i = 0; i < n; ++i) {
    if (events[i] == nullptr || !events[i]->valid()) {
      return Status(Code::kInvalidArgument,
                    "wait on an empty event handle (index " + std::to_string(i) + ")");
    }
    waiters[i].block = BlockOf(*events[i]->segment_);
    waiters[i].gen = GenerationOf(*events[i]->generation_);
    waiters[i].manual = waiters[i].block->manual_reset != 0;
    for (size_t j = 0; j < i; ++j) {
      if (waiters[j].block == waiters[i].block) {
        return Status(Code::kInvalidArgument,
                      "event \"" + events[i]->name() + "\" is listed twice in one wait");
      }
    }
    if (waiters[i].gen != waiters[0].gen) {
      return Status(Code::kInvalidArgument, "events of different homes in one wait");
    }
  }

  for (size_t i = 0; i < n; ++i) {
    if (TakeNow(waiters[i].block)) return i;
  }
  auto timed_out = [] { return Status(Code::kTimeout, "no event was signalled in time"); };
  if (timeout.count() <= 0) return timed_out();
  internal::Deadline deadline;
  if (timeout <= kLongestTimeout) deadline = DeadlineAfter(timeout);

  // A taken auto-reset event has already left; the rest leave here.
  auto leave_all = [&] {
    for (size_t i = 0; i < n; ++i) Leave(waiters[i]);
  };
  for (size_t i = 0; i < n; ++i) {
    if (Status status = Register(waiters[i]); !status.ok()) {
      leave_all();
      return status;
    }
  }

  GenerationBlock* gen = waiters[0].gen;
  SleepMode mode = n == 1                    ? SleepMode::kSingle
                   : internal::WaitvUsable() ? SleepMode::kVector
                                             : SleepMode::kGeneration;
  if (mode == SleepMode::kGeneration) gen->waiters.fetch_add(1);
  auto finish = [&](size_t winner) -> Result<size_t> {
    leave_all();
    if (mode == SleepMode::kGeneration) gen->waiters.fetch_sub(1);
    if (winner < n) return winner;
    return timed_out();
  };
  auto check = [&]() -> size_t {
    for (size_t i = 0; i < n; ++i) {
      if (Take(waiters[i])) return i;
    }
    return n;
  };

  std::array<std::atomic<uint32_t>*, kMaxWaitEvents> words;
  std::array<uint32_t, kMaxWaitEvents> seen;
  for (size_t i = 0; i < n; ++i) words[i] = &waiters[i].block->seq;
  for (;;) {
    // Read the words we sleep on before looking at the states: a change
    // after the look also changes a word, and the sleep returns at once.
    uint32_t gen_seen = 0;
    if (mode == SleepMode::kGeneration) {
      gen_seen = gen->generation.load();
    } else {
      for (size_t i = 0; i < n; ++i) seen[i] = words[i]->load();
    }
    if (size_t winner = check(); winner < n) return finish(winner);
    int rc = 0;
    switch (mode) {
      case SleepMode::kSingle:
        rc = internal::FutexWait(words[0], seen[0], deadline);
        break;
      case SleepMode::kVector:
        rc =
            internal::FutexWaitAny(std::span(words.data(), n), std::span(seen.data(), n), deadline);
        if (rc == ENOSYS) {
          internal::NoteWaitvMissing();
          mode = SleepMode::kGeneration;
          gen->waiters.fetch_add(1);
          continue;
        }
        break;
      case SleepMode::kGeneration:
        rc = internal::FutexWait(&gen->generation, gen_seen, deadline);
        break;
    }
    if (rc == ETIMEDOUT) return finish(check());
  }
}

void ForceWaitAnyFallbackForTesting(bool on) { internal::ForceWaitvFallback(on); }

}  // namespace zimo::platform
