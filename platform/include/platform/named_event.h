// Named events shared by the processes of one home: the card interrupt
// events ("ZIMO%dIPOS" ...) that the driver host sets and Corvan32 waits on,
// "ETHEvent%d", and unnamed events handed to the driver host by a hidden name.
//
// An auto-reset event lets exactly one wait through per Set; a Set that
// finds no waiter leaves the event signalled until one wait takes it. A
// manual-reset event stays signalled, letting every wait through, until
// Reset. Like mutexes, an event exists while some process has it open.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace zimo::platform {

namespace internal {
class Segment;
}

enum class EventReset { kManual, kAuto };

class NamedEvent {
 public:
  NamedEvent();  // an empty handle
  NamedEvent(NamedEvent&& other) noexcept;
  NamedEvent& operator=(NamedEvent&& other) noexcept;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  ~NamedEvent();

  // Creates the event, or opens it when it exists (already_existed() then
  // says so, and `reset` and `initially_set` are ignored).
  static Result<NamedEvent> Create(std::string_view name, EventReset reset, bool initially_set);
  // Opens an existing event; Code::kNotFound when there is none.
  static Result<NamedEvent> Open(std::string_view name);
  // An event under a hidden unique name, which name() tells, so that another
  // process (the driver host) can open it.
  static Result<NamedEvent> CreateUnnamed(EventReset reset, bool initially_set);

  Status Set();
  Status Reset();
  // Lets the waits in progress through (manual reset: all; auto reset: one)
  // and leaves the event not signalled.
  Status Pulse();
  // Returns when the event is signalled (taking it, if auto-reset).
  Status Wait();
  // As Wait(), or Code::kTimeout when `timeout` passed first. Zero only
  // tests; milliseconds::max() (anything beyond ten years) waits without limit.
  Status Wait(std::chrono::milliseconds timeout);

  bool valid() const { return segment_ != nullptr; }
  bool already_existed() const { return existed_; }
  const std::string& name() const { return name_; }

 private:
  friend Result<size_t> WaitAny(std::span<NamedEvent* const> events,
                                std::chrono::milliseconds timeout);
  static Result<NamedEvent> Make(std::string_view name, bool create, EventReset reset,
                                 bool initially_set);

  std::shared_ptr<internal::Segment> segment_;
  std::shared_ptr<internal::Segment> generation_;  // the home's, for waits without futex_waitv
  std::string name_;
  bool existed_ = false;
};

inline constexpr size_t kMaxWaitEvents = 16;

// Waits until one of up to kMaxWaitEvents events is signalled and returns
// its index; when several are, the lowest index wins and only that event is
// taken. Code::kTimeout when `timeout` passed first (timeouts as for Wait);
// Code::kInvalidArgument for an empty or too long list, an empty handle or
// an event listed twice. Events of one wait belong to one home.
Result<size_t> WaitAny(std::span<NamedEvent* const> events, std::chrono::milliseconds timeout);
Result<size_t> WaitAny(std::span<NamedEvent* const> events);  // without limit

// Makes WaitAny in this process use the path for kernels without
// futex_waitv (a per-home generation word that every Set also advances).
void ForceWaitAnyFallbackForTesting(bool on);

}  // namespace zimo::platform
