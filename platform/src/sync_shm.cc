#include "sync_shm.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/home.h"

namespace zimo::platform::internal {
namespace {

constexpr char kShmDir[] = "/dev/shm";
// Longer names would be cut by ObjectName and could then meet.
constexpr size_t kMaxNameLength = 200;
// A name that is replaced this often while we open it is being fought over.
constexpr int kMaxAttempts = 1000;

constexpr off_t kGuardByte = 0;
constexpr off_t kHolderByte = 1;

int Fcntl(int fd, int cmd, short type, off_t start) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = 1;
  int rc;
  do {
    rc = ::fcntl(fd, cmd, &lock);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

Result<SegmentKey> KeyOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Status::FromErrno("fstat of a shared object", errno);
  return SegmentKey{st.st_dev, st.st_ino};
}

Result<void*> MapShared(int fd, size_t size, const std::string& path) {
  void* addr = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (addr == MAP_FAILED) return Status::FromErrno("mmap of " + path, errno);
  return addr;
}

}  // namespace

// Segments mapped by this process, by file identity.
class SegmentRegistry {
 public:
  static SegmentRegistry& Get() {
    static SegmentRegistry* registry = new SegmentRegistry;  // never destroyed: used at exit
    return *registry;
  }

  std::shared_ptr<Segment> Find(const SegmentKey& key) {
    std::lock_guard lock(mu_);
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : it->second.lock();
  }
  void Insert(const std::shared_ptr<Segment>& segment) {
    std::lock_guard lock(mu_);
    map_[segment->key_] = segment;
    segment->registered_ = true;
  }
  // Called by a dying segment; a live replacement under the same key stays.
  void EraseExpired(const SegmentKey& key) {
    std::lock_guard lock(mu_);
    auto it = map_.find(key);
    if (it != map_.end() && it->second.expired()) map_.erase(it);
  }

 private:
  SegmentRegistry() {
    // A fork while another thread holds mu_ must not leave the child locked
    // out. The child opens objects anew, with holder locks of its own; the
    // handles it inherited share the parent's.
    ::pthread_atfork([] { Get().mu_.lock(); }, [] { Get().mu_.unlock(); },
                     [] {
                       Get().map_.clear();
                       Get().mu_.unlock();
                     });
  }

  std::mutex mu_;
  std::map<SegmentKey, std::weak_ptr<Segment>> map_;
};

// Friend of Segment: builds segments and hands them to the registry.
struct SegmentOpener {
  static Status Register(const std::shared_ptr<Segment>& segment, const std::string& path) {
    Result<SegmentKey> key = KeyOf(segment->fd());
    if (!key.ok()) return key.status();
    segment->path_ = path;
    segment->key_ = *key;
    SegmentRegistry::Get().Insert(segment);
    return Status::Ok();
  }

  // A brand-new object, written under a temporary name and then linked.
  static Result<AcquiredSegment> Publish(const std::string& path, const SegmentType& type) {
    Result<TempObject> temp = CreateTempObject(type.size);
    if (!temp.ok()) return temp.status();
    Result<void*> addr = MapShared(temp->fd.get(), type.size, temp->path);
    if (!addr.ok()) {
      ::unlink(temp->path.c_str());
      return addr.status();
    }
    std::string temp_path = temp->path;
    auto segment = std::make_shared<Segment>(std::move(temp->fd), *addr, type.size, temp_path);
    segment->held_here_ = type.held_here;
    Status status = type.init(segment->data());
    if (status.ok()) status = HoldShared(segment->fd());
    // Whoever opens the name before we are done waits at the guard.
    if (status.ok()) status = GuardLock(segment->fd());
    if (!status.ok()) {
      ::unlink(temp_path.c_str());
      return status;
    }
    status = LinkInPlace(temp_path, path);
    if (!status.ok()) return status;  // kAlreadyExists: the caller opens the winner's
    status = Register(segment, path);
    if (status.ok() && type.on_created) status = type.on_created(*segment);
    GuardUnlock(segment->fd());
    if (!status.ok()) return status;
    return AcquiredSegment{std::move(segment), false};
  }

  // `fd` is open on `path` and holds the guard.
  static Result<AcquiredSegment> Adopt(UniqueFd fd, const std::string& path,
                                       const SegmentType& type, OpenMode mode) {
    Result<SegmentKey> key = KeyOf(fd.get());
    if (!key.ok()) return key.status();
    if (std::shared_ptr<Segment> mine = SegmentRegistry::Get().Find(*key)) {
      return AcquiredSegment{std::move(mine), true};  // closing fd drops the guard
    }
    Result<bool> others = OthersHold(fd.get());
    if (!others.ok()) return others.status();
    const bool fresh = !*others;
    if (fresh && mode == OpenMode::kOpenExisting) {
      // Left behind by processes that are all gone: it no longer exists.
      ::unlink(path.c_str());
      return Status(Code::kNotFound, std::string("no ") + type.what + " " + path);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return Status::FromErrno("fstat of " + path, errno);
    if (static_cast<size_t>(st.st_size) != type.size) {
      if (!fresh) {
        return Status(Code::kBadData, path + " is in use but is not a " + type.what);
      }
      if (::ftruncate(fd.get(), static_cast<off_t>(type.size)) != 0) {
        return Status::FromErrno("resize of " + path, errno);
      }
    }
    Result<void*> addr = MapShared(fd.get(), type.size, path);
    if (!addr.ok()) return addr.status();
    auto segment = std::make_shared<Segment>(std::move(fd), *addr, type.size, path);
    segment->held_here_ = type.held_here;
    Status status;
    if (fresh) {
      status = type.init(segment->data());
    } else {
      uint32_t magic;
      std::memcpy(&magic, segment->data(), sizeof magic);
      if (magic != type.magic) {
        status = Status(Code::kBadData, path + " is in use but is not a " + type.what);
      }
    }
    if (status.ok()) status = HoldShared(segment->fd());
    if (status.ok()) status = Register(segment, path);
    if (status.ok() && fresh && type.on_created) status = type.on_created(*segment);
    GuardUnlock(segment->fd());
    if (!status.ok()) return status;
    return AcquiredSegment{std::move(segment), !fresh};
  }
};

std::string ShmPath(std::string_view object_name) {
  std::string path = kShmDir;
  path += object_name;
  return path;
}

Status CheckObjectName(std::string_view kind, std::string_view name) {
  if (name.empty()) return Status(Code::kInvalidArgument, std::string(kind) + " name is empty");
  if (name.size() > kMaxNameLength) {
    return Status(Code::kInvalidArgument, std::string(kind) + " name is longer than " +
                                              std::to_string(kMaxNameLength) + " characters");
  }
  if (name.find('\0') != std::string_view::npos) {
    return Status(Code::kInvalidArgument, std::string(kind) + " name holds a NUL character");
  }
  return Status::Ok();
}

std::string HiddenUniqueName() {
  static std::atomic<uint32_t> counter{0};
  uint32_t salt = 0;
  if (::getrandom(&salt, sizeof salt, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof salt)) {
    salt = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&salt));
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "~%d-%u-%08x", static_cast<int>(::getpid()),
                counter.fetch_add(1, std::memory_order_relaxed), salt);
  return buf;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

Status GuardLock(int fd) {
  if (Fcntl(fd, F_OFD_SETLKW, F_WRLCK, kGuardByte) != 0) {
    return Status::FromErrno("lock of a shared object's guard", errno);
  }
  return Status::Ok();
}

void GuardUnlock(int fd) { Fcntl(fd, F_OFD_SETLK, F_UNLCK, kGuardByte); }

Status HoldShared(int fd) {
  if (Fcntl(fd, F_OFD_SETLK, F_RDLCK, kHolderByte) != 0) {
    return Status::FromErrno("holder lock of a shared object", errno);
  }
  return Status::Ok();
}

Result<bool> OthersHold(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kHolderByte;
  lock.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) {
    return Status::FromErrno("holder query of a shared object", errno);
  }
  return lock.l_type != F_UNLCK;
}

bool PathRefersTo(const std::string& path, int fd) {
  struct stat by_name, by_fd;
  if (::stat(path.c_str(), &by_name) != 0 || ::fstat(fd, &by_fd) != 0) return false;
  return by_name.st_dev == by_fd.st_dev && by_name.st_ino == by_fd.st_ino;
}

Result<TempObject> CreateTempObject(size_t size) {
  TempObject temp;
  temp.path = ShmPath(ObjectName("tmp", HiddenUniqueName()));
  temp.fd =
      UniqueFd(::open(temp.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!temp.fd) return Status::FromErrno("create of " + temp.path, errno);
  if (::ftruncate(temp.fd.get(), static_cast<off_t>(size)) != 0) {
    int err = errno;
    ::unlink(temp.path.c_str());
    return Status::FromErrno("resize of " + temp.path, err);
  }
  return temp;
}

Status LinkInPlace(const std::string& temp_path, const std::string& path) {
  int rc = ::link(temp_path.c_str(), path.c_str());
  int err = errno;
  ::unlink(temp_path.c_str());
  if (rc == 0) return Status::Ok();
  if (err == EEXIST) return Status(Code::kAlreadyExists, path + " appeared meanwhile");
  return Status::FromErrno("publish of " + path, err);
}

Segment::Segment(UniqueFd fd, void* addr, size_t size, std::string path)
    : fd_(std::move(fd)),
      addr_(addr),
      size_(size),
      path_(std::move(path)),
      owner_pid_(::getpid()) {}

Segment::~Segment() {
  if (registered_) SegmentRegistry::Get().EraseExpired(key_);
  if (held_here_ != nullptr && held_here_(addr_)) {
    // A thread still owns the mutex in here and the C library's robust list
    // points into this mapping: keep the mapping and our hold on the object.
    (void)fd_.release();
    return;
  }
  const bool ours = owner_pid_ == ::getpid();
  if (ours && GuardLock(fd_.get()).ok()) {
    Result<bool> others = OthersHold(fd_.get());
    if (others.ok() && !*others && PathRefersTo(path_, fd_.get())) ::unlink(path_.c_str());
  }
  ::munmap(addr_, size_);
  // Closing the descriptor drops the guard and the holder lock.
}

bool IsOwnThread(pid_t tid) {
  if (tid <= 0) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d", static_cast<int>(tid));
  struct stat st;
  return ::stat(path, &st) == 0;
}

Result<AcquiredSegment> AcquireSegment(const std::string& path, const SegmentType& type,
                                       OpenMode mode) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
      if (errno != ENOENT) return Status::FromErrno("open of " + path, errno);
      if (mode == OpenMode::kOpenExisting) {
        return Status(Code::kNotFound, std::string("no ") + type.what + " " + path);
      }
      Result<AcquiredSegment> made = SegmentOpener::Publish(path, type);
      if (!made.ok() && made.status().code() == Code::kAlreadyExists) continue;
      return made;
    }
    if (Status status = GuardLock(fd.get()); !status.ok()) return status;
    // Removed or replaced while we waited: start again with what the name
    // refers to now.
    if (!PathRefersTo(path, fd.get())) continue;
    return SegmentOpener::Adopt(std::move(fd), path, type, mode);
  }
  return Status(Code::kOsError, path + " kept being replaced while it was opened");
}

Status UnlinkHomeObjects() {
  const std::string prefix = "zimo-" + HomeHash() + "-";
  DIR* dir = ::opendir(kShmDir);
  if (dir == nullptr) return Status::FromErrno(std::string("listing of ") + kShmDir, errno);
  Status first_error;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) != 0 && errno != ENOENT && first_error.ok()) {
      first_error =
          Status::FromErrno(std::string("removal of ") + kShmDir + "/" + entry->d_name, errno);
    }
  }
  ::closedir(dir);
  return first_error;
}

}  // namespace zimo::platform::internal
