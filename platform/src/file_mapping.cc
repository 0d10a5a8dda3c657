#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/home.h"
#include "sync_process.h"
#include "sync_shm.h"

namespace zimo::platform {
namespace {

constexpr uint32_t kMappingMagic = 0x50414d5a;  // "ZMAP"
constexpr uint32_t kMappingVersion = 1;
// Far beyond any table of this system, and safe from off_t overflow.
constexpr size_t kLargestMapping = size_t{1} << 40;
constexpr int kMaxAttempts = 1000;

// Kept in the file past the page-aligned end of the user's region, so no
// view of the region can reach it.
struct MappingHeader {
  uint32_t magic;
  uint32_t version;
  uint64_t size;
  int32_t creator_pid;
  uint32_t reserved;
  uint64_t creator_start_ticks;
};

size_t HeaderOffset(size_t size) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

Result<MappingHeader> ReadHeader(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Status::FromErrno("fstat of " + path, errno);
  auto bad = [&] { return Status(Code::kBadData, path + " is not a file mapping of this system"); };
  if (static_cast<size_t>(st.st_size) < sizeof(MappingHeader)) return bad();
  MappingHeader header;
  ssize_t n = ::pread(fd, &header, sizeof header, st.st_size - sizeof header);
  if (n != static_cast<ssize_t>(sizeof header)) return bad();
  if (header.magic != kMappingMagic || header.version != kMappingVersion || header.size == 0 ||
      header.size > kLargestMapping ||
      HeaderOffset(header.size) + sizeof header != static_cast<size_t>(st.st_size)) {
    return bad();
  }
  return header;
}

Result<void*> MapRegion(int fd, size_t size, const std::string& path) {
  void* addr = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (addr == MAP_FAILED) return Status::FromErrno("mmap of " + path, errno);
  return addr;
}

struct GuardRelease {
  int fd;
  ~GuardRelease() { internal::GuardUnlock(fd); }
};

uint64_t InodeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

Status Named(std::string_view name, const Status& s) {
  return Status(s.code(), "file mapping \"" + std::string(name) + "\": " + s.message(),
                s.os_error());
}

}  // namespace

FileMapping::FileMapping(FileMapping&& other) noexcept { *this = std::move(other); }

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    name_ = std::move(other.name_);
    path_ = std::move(other.path_);
    existed_ = other.existed_;
    creating_handle_ = std::exchange(other.creating_handle_, false);
    creator_pid_ = other.creator_pid_;
    creator_start_ticks_ = other.creator_start_ticks_;
    opener_pid_ = other.opener_pid_;
    file_ino_ = other.file_ino_;
  }
  return *this;
}

FileMapping::~FileMapping() { Close(); }

void FileMapping::Close() {
  if (data_ == nullptr) return;
  ::munmap(data_, size_);
  data_ = nullptr;
  if (creating_handle_ && opener_pid_ == ::getpid()) {
    // Withdraw the name, unless it has meanwhile been given to another mapping.
    internal::UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (fd && internal::GuardLock(fd.get()).ok() && internal::PathRefersTo(path_, fd.get()) &&
        InodeOf(fd.get()) == file_ino_) {
      ::unlink(path_.c_str());
    }
  }
  creating_handle_ = false;
}

Result<FileMapping> FileMapping::Create(std::string_view name, size_t size) {
  if (Status status = internal::CheckObjectName("file mapping", name); !status.ok()) {
    return status;
  }
  if (size == 0 || size > kLargestMapping) {
    return Named(
        name, Status(Code::kInvalidArgument, "size " + std::to_string(size) + " is out of range"));
  }
  const std::string path = internal::ShmPath(ObjectName("mapping", name));
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    internal::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
      if (errno != ENOENT) return Named(name, Status::FromErrno("open of " + path, errno));
      // A new mapping: written in full under a temporary name, then linked,
      // so nobody ever sees it half-made. Fresh file pages read as zero.
      internal::ProcessStamp me = internal::CurrentProcessStamp();
      MappingHeader header{kMappingMagic, kMappingVersion, size, me.pid, 0, me.start_ticks};
      const size_t offset = HeaderOffset(size);
      Result<internal::TempObject> temp = internal::CreateTempObject(offset + sizeof header);
      if (!temp.ok()) return Named(name, temp.status());
      if (::pwrite(temp->fd.get(), &header, sizeof header, static_cast<off_t>(offset)) !=
          static_cast<ssize_t>(sizeof header)) {
        int err = errno;
        ::unlink(temp->path.c_str());
        return Named(name, Status::FromErrno("write of " + temp->path, err));
      }
      Result<void*> addr = MapRegion(temp->fd.get(), size, temp->path);
      if (!addr.ok()) {
        ::unlink(temp->path.c_str());
        return Named(name, addr.status());
      }
      Status linked = internal::LinkInPlace(temp->path, path);
      if (!linked.ok()) {
        ::munmap(*addr, size);
        if (linked.code() == Code::kAlreadyExists) continue;
        return Named(name, linked);
      }
      FileMapping mapping;
      mapping.data_ = *addr;
      mapping.size_ = size;
      mapping.name_ = std::string(name);
      mapping.path_ = path;
      mapping.existed_ = false;
      mapping.creating_handle_ = true;
      mapping.creator_pid_ = me.pid;
      mapping.creator_start_ticks_ = me.start_ticks;
      mapping.opener_pid_ = me.pid;
      mapping.file_ino_ = InodeOf(temp->fd.get());
      return mapping;
    }
    if (Status status = internal::GuardLock(fd.get()); !status.ok()) return Named(name, status);
    // A view keeps the open file, and with it the lock, alive past close().
    GuardRelease release{fd.get()};
    if (!internal::PathRefersTo(path, fd.get())) continue;
    Result<MappingHeader> header = ReadHeader(fd.get(), path);
    if (!header.ok() ||
        !internal::ProcessAlive({header->creator_pid, header->creator_start_ticks})) {
      // Its creator is gone (or it is not ours to read): as good as absent.
      // Withdraw the name; the next round makes a new mapping.
      ::unlink(path.c_str());
      continue;
    }
    if (header->size < size) {
      return Named(name,
                   Status(Code::kInvalidArgument, "exists with " + std::to_string(header->size) +
                                                      " bytes, fewer than the " +
                                                      std::to_string(size) + " asked for"));
    }
    return MapExisting(name, path, fd.get(), header->size, header->creator_pid,
                       header->creator_start_ticks);
  }
  return Named(name, Status(Code::kOsError, path + " kept being replaced while it was opened"));
}

Result<FileMapping> FileMapping::MapExisting(std::string_view name, const std::string& path,
                                             int fd, size_t size, pid_t creator_pid,
                                             uint64_t creator_start_ticks) {
  Result<void*> addr = MapRegion(fd, size, path);
  if (!addr.ok()) return Named(name, addr.status());
  FileMapping mapping;
  mapping.data_ = *addr;
  mapping.size_ = size;
  mapping.name_ = std::string(name);
  mapping.path_ = path;
  mapping.existed_ = true;
  mapping.creator_pid_ = creator_pid;
  mapping.creator_start_ticks_ = creator_start_ticks;
  mapping.opener_pid_ = ::getpid();
  mapping.file_ino_ = InodeOf(fd);
  return mapping;
}

Result<FileMapping> FileMapping::Open(std::string_view name) {
  if (Status status = internal::CheckObjectName("file mapping", name); !status.ok()) {
    return status;
  }
  const std::string path = internal::ShmPath(ObjectName("mapping", name));
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    internal::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
      if (errno == ENOENT) return Named(name, Status(Code::kNotFound, "does not exist"));
      return Named(name, Status::FromErrno("open of " + path, errno));
    }
    if (Status status = internal::GuardLock(fd.get()); !status.ok()) return Named(name, status);
    // A view keeps the open file, and with it the lock, alive past close().
    GuardRelease release{fd.get()};
    if (!internal::PathRefersTo(path, fd.get())) continue;
    Result<MappingHeader> header = ReadHeader(fd.get(), path);
    if (!header.ok()) return Named(name, header.status());
    if (!internal::ProcessAlive({header->creator_pid, header->creator_start_ticks})) {
      ::unlink(path.c_str());
      return Named(name, Status(Code::kNotFound, "does not exist (its creator has ended)"));
    }
    return MapExisting(name, path, fd.get(), header->size, header->creator_pid,
                       header->creator_start_ticks);
  }
  return Named(name, Status(Code::kOsError, path + " kept being replaced while it was opened"));
}

Status FileMapping::Unlink(std::string_view name) {
  if (Status status = internal::CheckObjectName("file mapping", name); !status.ok()) {
    return status;
  }
  const std::string path = internal::ShmPath(ObjectName("mapping", name));
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT) return Named(name, Status(Code::kNotFound, "does not exist"));
    return Named(name, Status::FromErrno("removal of " + path, errno));
  }
  return Status::Ok();
}

bool FileMapping::CreatorAlive() const {
  return valid() && internal::ProcessAlive({creator_pid_, creator_start_ticks_});
}

Status UnlinkHomeSharedMemory() { return internal::UnlinkHomeObjects(); }

}  // namespace zimo::platform
