// Shared-memory objects of one home (mutexes, events, the event generation
// word): files in /dev/shm that several processes map.
//
// Life of an object. A new object is written in full under a temporary name
// and then linked under its real name, so no process ever maps a half-made
// one. Every process that has the object open keeps a shared OFD lock on
// byte 1 of its file; the kernel drops that lock when the process dies, so
// "somebody still has it" is always true to fact. Decisions about an object
// (create, re-create, remove) are taken under an exclusive OFD lock on byte 0,
// the guard. An object that nobody holds any more is as good as gone: the
// last process to close it removes its name, and a name left behind by
// processes that crashed is re-initialised by the next creator.
//
// Within one process each object is mapped once and shared by all handles:
// the robust-mutex list that the C library keeps per thread points into the
// mapping, so a second mapping at another address must never be needed, and
// a mapping whose mutex this process still holds is never unmapped.
#pragma once

#include <sys/types.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace zimo::platform::internal {

// The file behind a POSIX shared-memory name ("/zimo-...").
std::string ShmPath(std::string_view object_name);

// Names given by callers: not empty, no NUL, short enough for the system.
Status CheckObjectName(std::string_view kind, std::string_view name);

// A name nobody else uses, for objects the caller did not name but may hand
// to another process.
std::string HiddenUniqueName();

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// The guard and the holder lock described above.
Status GuardLock(int fd);
void GuardUnlock(int fd);
Status HoldShared(int fd);
// True when an open file description other than fd's holds the object.
Result<bool> OthersHold(int fd);
// True while `path` still names the file open on fd.
bool PathRefersTo(const std::string& path, int fd);

// A file of `size` zero bytes under a fresh temporary name of the current
// home, to be filled and then published with LinkInPlace.
struct TempObject {
  UniqueFd fd;
  std::string path;
};
Result<TempObject> CreateTempObject(size_t size);
// Links the temporary file under `path` and removes the temporary name.
// kAlreadyExists when `path` appeared meanwhile.
Status LinkInPlace(const std::string& temp_path, const std::string& path);

struct SegmentKey {
  dev_t dev = 0;
  ino_t ino = 0;
  auto operator<=>(const SegmentKey&) const = default;
};

// One mapped object, shared by all handles of this process.
class Segment {
 public:
  Segment(UniqueFd fd, void* addr, size_t size, std::string path);
  ~Segment();
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;

  void* data() const { return addr_; }
  size_t size() const { return size_; }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

 private:
  friend class SegmentRegistry;
  friend struct SegmentOpener;

  UniqueFd fd_;
  void* addr_;
  size_t size_;
  std::string path_;
  pid_t owner_pid_;  // a forked child's copy never removes the parent's object
  bool registered_ = false;
  SegmentKey key_;
  bool (*held_here_)(const void* data) = nullptr;
};

// What an object's file holds and how to make a fresh one.
struct SegmentType {
  size_t size = 0;
  uint32_t magic = 0;     // the first 32-bit word of a well-formed object
  const char* what = "";  // "mutex", "event": for messages
  // Writes the contents of a fresh object, magic word included.
  std::function<Status(void* data)> init;
  // Runs, still under the guard, when this call made the object (fresh or
  // re-initialised): nobody else can touch it yet.
  std::function<Status(Segment& segment)> on_created;
  // For objects holding a lock: whether a thread of this process owns it.
  // Such a mapping outlives its last handle (see above).
  bool (*held_here)(const void* data) = nullptr;
};

// Whether `tid` is a thread of this process.
bool IsOwnThread(pid_t tid);

enum class OpenMode { kCreateOrOpen, kOpenExisting };

struct AcquiredSegment {
  std::shared_ptr<Segment> segment;
  bool existed = false;
};

// Opens the object at `path` (a ShmPath), creating it when asked. An object
// that exists but that no process holds is treated as absent.
Result<AcquiredSegment> AcquireSegment(const std::string& path, const SegmentType& type,
                                       OpenMode mode);

// Removes every shared-memory file of the current home.
Status UnlinkHomeObjects();

}  // namespace zimo::platform::internal
