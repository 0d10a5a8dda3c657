#include "platform/named_mutex.h"

#include <linux/futex.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "platform/home.h"
#include "sync_shm.h"

namespace zimo::platform {
namespace {

constexpr uint32_t kMutexMagic = 0x5854554d;  // "MUTX"

struct MutexBlock {
  uint32_t magic;
  uint32_t reserved;
  pthread_mutex_t mutex;
};

MutexBlock* BlockOf(const internal::Segment& segment) {
  return static_cast<MutexBlock*>(segment.data());
}

Status InitMutex(void* data) {
  auto* block = new (data) MutexBlock{};
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  // Priority inheritance makes the kernel hand the lock to the next waiter
  // on release. With a plain futex mutex the release clears the word first
  // and wakes a waiter afterwards; a process killed between the two steps
  // would leave that waiter asleep on a free mutex for good.
  pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  int rc = pthread_mutex_init(&block->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) return Status::FromErrno("initialisation of a shared mutex", rc);
  block->magic = kMutexMagic;
  return Status::Ok();
}

// The robust-futex word of a locked mutex holds its owner's thread id.
bool HeldHere(const void* data) {
  const auto* block = static_cast<const MutexBlock*>(data);
  const auto word = static_cast<unsigned>(
      reinterpret_cast<const std::atomic<int>*>(&block->mutex.__data.__lock)->load());
  return internal::IsOwnThread(static_cast<pid_t>(word & FUTEX_TID_MASK));
}

timespec MonotonicDeadline(std::chrono::milliseconds timeout) {
  auto at = std::chrono::steady_clock::now().time_since_epoch() +
            std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(at);
  timespec ts;
  ts.tv_sec = static_cast<time_t>(secs.count());
  ts.tv_nsec = static_cast<long>((at - secs).count());
  return ts;
}

// Time-outs beyond this are taken as "no limit" (and cannot overflow).
constexpr std::chrono::milliseconds kLongestTimeout = std::chrono::hours(24 * 365 * 10);

}  // namespace

NamedMutex::NamedMutex() = default;
NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : mutex_(std::exchange(other.mutex_, nullptr)),
      segment_(std::move(other.segment_)),
      name_(std::move(other.name_)),
      existed_(other.existed_) {}
NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    mutex_ = std::exchange(other.mutex_, nullptr);
    segment_ = std::move(other.segment_);
    name_ = std::move(other.name_);
    existed_ = other.existed_;
  }
  return *this;
}
NamedMutex::~NamedMutex() = default;

Result<NamedMutex> NamedMutex::Make(std::string_view name, bool create, bool initially_owned) {
  if (Status status = internal::CheckObjectName("mutex", name); !status.ok()) return status;
  internal::SegmentType type;
  type.size = sizeof(MutexBlock);
  type.magic = kMutexMagic;
  type.what = "mutex";
  type.init = InitMutex;
  type.held_here = HeldHere;
  if (initially_owned) {
    // Taken before any other process can see the new mutex.
    type.on_created = [](internal::Segment& segment) -> Status {
      int rc = pthread_mutex_lock(&BlockOf(segment)->mutex);
      if (rc != 0) return Status::FromErrno("first lock of a new shared mutex", rc);
      return Status::Ok();
    };
  }
  Result<internal::AcquiredSegment> acquired = internal::AcquireSegment(
      internal::ShmPath(ObjectName("mutex", name)), type,
      create ? internal::OpenMode::kCreateOrOpen : internal::OpenMode::kOpenExisting);
  if (!acquired.ok()) {
    Status s = acquired.status();
    return Status(s.code(), "mutex \"" + std::string(name) + "\": " + s.message(), s.os_error());
  }
  NamedMutex mutex;
  mutex.segment_ = std::move(acquired->segment);
  mutex.mutex_ = &BlockOf(*mutex.segment_)->mutex;
  mutex.existed_ = acquired->existed;
  mutex.name_ = std::string(name);
  return mutex;
}

Result<NamedMutex> NamedMutex::Create(std::string_view name, bool initially_owned) {
  return Make(name, true, initially_owned);
}

Result<NamedMutex> NamedMutex::Open(std::string_view name) { return Make(name, false, false); }

Result<NamedMutex> NamedMutex::CreateUnnamed(bool initially_owned) {
  return Make(internal::HiddenUniqueName(), true, initially_owned);
}

// The rare outcomes are kept out of line, so that taking and releasing a
// free mutex costs little more than the pthread calls themselves.
Status NamedMutex::EmptyHandle(const char* what) {
  return Status(Code::kInvalidArgument, std::string(what) + " of an empty mutex handle");
}

Status NamedMutex::Lock(std::chrono::milliseconds timeout) {
  if (mutex_ == nullptr) return EmptyHandle("lock");
  if (timeout > kLongestTimeout) return Lock();
  int rc;
  if (timeout.count() <= 0) {
    rc = pthread_mutex_trylock(mutex_);
  } else {
    timespec deadline = MonotonicDeadline(timeout);
    rc = pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &deadline);
  }
  if (rc == 0) return Status();
  return LockOutcome(rc);
}

Status NamedMutex::LockOutcome(int rc) {
  switch (rc) {
    case EOWNERDEAD:
      // We own it now; mark it usable again so that our unlock does not
      // leave it unrecoverable for everyone.
      pthread_mutex_consistent(mutex_);
      return Status(Code::kAbandoned,
                    "mutex \"" + name_ + "\" was abandoned: its owner ended while holding it");
    case EBUSY:
    case ETIMEDOUT:
      return Status(Code::kTimeout, "mutex \"" + name_ + "\" is held by another thread");
    case EAGAIN:
      return Status(Code::kOsError, "mutex \"" + name_ + "\" is held too many times", rc);
    default:
      return Status::FromErrno("lock of mutex \"" + name_ + "\"", rc);
  }
}

Status NamedMutex::UnlockFailure(int rc) const {
  if (rc == EPERM) {
    return Status(Code::kOsError,
                  "unlock of mutex \"" + name_ + "\", which this thread does not own", rc);
  }
  return Status::FromErrno("unlock of mutex \"" + name_ + "\"", rc);
}

}  // namespace zimo::platform
