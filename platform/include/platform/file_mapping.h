// Named file mappings shared by the processes of one home, such as the
// shared device table "ZimoSharedMemory" of exactly 0x1E000 bytes.
//
// The region is exactly the size asked for and starts zero-filled; its first
// byte is offset 0 of the table (the bookkeeping lives beyond it). A mapping
// exists while its creator process lives and its creating handle is open:
// Open treats one whose creator died (or closed it) as absent, and Create
// then makes a new one. Views that are already mapped stay usable after
// that, with their data; CreatorAlive() tells their holders whether the
// creator still runs.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace zimo::platform {

class FileMapping {
 public:
  FileMapping() = default;  // an empty handle
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  // Unmaps the view; the creating handle also withdraws the name.
  ~FileMapping();

  // Creates a zero-filled mapping of `size` bytes and maps it read-write; or,
  // when one exists, maps that (already_existed() says so; size() is then the
  // existing size, and an existing mapping smaller than `size` is an error).
  static Result<FileMapping> Create(std::string_view name, size_t size);
  // Maps an existing mapping whole; Code::kNotFound when there is none.
  static Result<FileMapping> Open(std::string_view name);
  // Withdraws the name now; views already mapped stay usable.
  static Status Unlink(std::string_view name);

  bool valid() const { return data_ != nullptr; }
  void* data() const { return data_; }
  size_t size() const { return size_; }
  bool already_existed() const { return existed_; }
  const std::string& name() const { return name_; }
  pid_t creator_pid() const { return creator_pid_; }
  // Whether the process that created this mapping still runs (a later
  // process that reuses its pid does not count).
  bool CreatorAlive() const;

 private:
  // A view of a mapping someone else created, whose record says `size`.
  static Result<FileMapping> MapExisting(std::string_view name, const std::string& path, int fd,
                                         size_t size, pid_t creator_pid,
                                         uint64_t creator_start_ticks);
  void Close();

  void* data_ = nullptr;
  size_t size_ = 0;
  std::string name_;
  std::string path_;
  bool existed_ = false;
  bool creating_handle_ = false;
  pid_t creator_pid_ = 0;
  uint64_t creator_start_ticks_ = 0;
  pid_t opener_pid_ = 0;  // a forked child's copy never withdraws the name
  uint64_t file_ino_ = 0;
};

// Removes every named object (mappings, mutexes, events) of the current home
// from the system; handles already open keep working. For tests and for a
// clean end of the server.
Status UnlinkHomeSharedMemory();

}  // namespace zimo::platform
