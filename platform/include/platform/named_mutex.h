// Named mutexes shared by the processes of one home: the locks that keep a
// card exchange together ("MutexZimo%d"), guard the host copies of DPR data
// ("DPRMutexZimo%d") and Ethernet requests ("ETHMutext%d"), and keep the
// server to one instance ("ZimoServer Mutex").
//
// A mutex is recursive for the thread that owns it. When its owner ends
// while holding it the next taker is told so (Code::kAbandoned) and owns it
// from then on: nobody hangs on a dead owner. A mutex exists while some
// process has it open; when the last handle closes (or the last process
// holding it dies) the name is free again and the next Create makes a new,
// unowned mutex.
#pragma once

#include <pthread.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace zimo::platform {

namespace internal {
class Segment;
}

class NamedMutex {
 public:
  NamedMutex();  // an empty handle
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  // Closing a handle releases no hold: a thread that still owns the mutex
  // keeps it until it unlocks through another handle or ends.
  ~NamedMutex();

  // Creates the mutex, or opens it when it exists (already_existed() then
  // says so). `initially_owned` makes the calling thread its owner, only when
  // this call created it.
  static Result<NamedMutex> Create(std::string_view name, bool initially_owned = false);
  // Opens an existing mutex; Code::kNotFound when there is none.
  static Result<NamedMutex> Open(std::string_view name);
  // A mutex under a hidden unique name (name() tells it to another process).
  static Result<NamedMutex> CreateUnnamed(bool initially_owned = false);

  // Takes the mutex, waiting without limit: Ok, or Code::kAbandoned when the
  // previous owner ended holding it (the caller owns it now; what it guards
  // may be half-written). Inline: the command lock is taken for every
  // exchange with a card.
  Status Lock() {
    if (mutex_ == nullptr) [[unlikely]]
      return EmptyHandle("lock");
    int rc = pthread_mutex_lock(mutex_);
    if (rc == 0) [[likely]]
      return Status();
    return LockOutcome(rc);
  }
  // As Lock(), or Code::kTimeout when `timeout` passed first. Zero only
  // tries; milliseconds::max() (anything beyond ten years) waits without limit.
  Status Lock(std::chrono::milliseconds timeout);
  // Releases one hold of the calling thread. A thread that does not own the
  // mutex gets an error (EPERM) and nothing changes.
  Status Unlock() {
    if (mutex_ == nullptr) [[unlikely]]
      return EmptyHandle("unlock");
    int rc = pthread_mutex_unlock(mutex_);
    if (rc == 0) [[likely]]
      return Status();
    return UnlockFailure(rc);
  }

  bool valid() const { return mutex_ != nullptr; }
  bool already_existed() const { return existed_; }
  const std::string& name() const { return name_; }

 private:
  static Result<NamedMutex> Make(std::string_view name, bool create, bool initially_owned);
  static Status EmptyHandle(const char* what);
  Status LockOutcome(int rc);
  Status UnlockFailure(int rc) const;

  pthread_mutex_t* mutex_ = nullptr;  // inside segment_'s mapping
  std::shared_ptr<internal::Segment> segment_;
  std::string name_;
  bool existed_ = false;
};

}  // namespace zimo::platform
