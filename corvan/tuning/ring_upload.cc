// Stations on the card's ring: one station I-variable read or written
// ("MSnode,Inumber"), every station's settings saved into a text file that
// can be sent back line by line, and a scan of the ring's nodes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/errors.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "link/variables.h"
#include "tuning/diagnosis.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

// A station reply holds at most 39 characters.
constexpr std::uint32_t kStationReplyMax = kVariableTextSize - 1;
constexpr std::int32_t kNoAnswer = 65535;

bool IsLost(std::uint32_t status) {
  const std::uint32_t kind = status & kStatusMask;
  return kind == kStatusTimeout || kind == kStatusBadAck || kind == kStatusFailure;
}

int LastNode(bool spran) { return spran ? 63 : 13; }

// Nodes 2 and 3 of every four carry I/O, not stations.
bool IsIoNode(int node) { return node % 4 >= 2; }

std::uint32_t AskStation(CardCommandPath& path, int device, std::uint32_t node,
                         std::uint32_t number, char* buffer) {
  char command[48];
  std::snprintf(command, sizeof command, "MS%u,I%u", node, number);
  buffer[0] = '\0';
  return path.GetResponseEx(device, buffer, kStationReplyMax, command);
}

// A command path that stops talking once the card is lost: after the first
// exchange that times out or fails nothing more is sent, and every later
// exchange fails at once. Sends go through an exchange too, so that their
// loss is seen.
class WatchedPath final : public CardCommandPath {
 public:
  explicit WatchedPath(CardCommandPath& path) : path_(path) {}
  bool lost() const { return lost_; }
  CardCommandPath& underlying() { return path_; }

  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    if (size > 0) buffer[0] = '\0';
    if (lost_) return kStatusFailure;
    const std::uint32_t status = path_.GetResponseEx(device, buffer, size, command);
    lost_ = IsLost(status);
    return status;
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t size) override {
    if (lost_) {
      if (size > 0) buffer[0] = '\0';
      return 0;
    }
    return path_.GetLine(device, buffer, size);
  }
  void SendCommand(int device, const char* command) override {
    char reply[kReplyMax + 1];
    GetResponseEx(device, reply, kReplyMax, command);
  }
  void ChangeStore(int device, const char* text) override {
    if (!lost_) path_.ChangeStore(device, text);
  }
  void Lock(int device) override { path_.Lock(device); }
  void Unlock(int device) override { path_.Unlock(device); }

 private:
  CardCommandPath& path_;
  bool lost_ = false;
};

// The upload file. Lines go into a file beside the caller's, which takes
// the caller's name only once the whole upload succeeded; lines end in
// CR LF.
class UploadFile {
 public:
  explicit UploadFile(const char* path)
      : path_(path), temporary_(path_ + "." + std::to_string(::getpid()) + ".part") {}
  ~UploadFile() { Discard(); }

  bool Open() {
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
      ::close(fd);
      ::unlink(temporary_.c_str());
      return false;
    }
    return true;
  }
  // One line; false when it could not be written.
  bool Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    const int n = std::vfprintf(file_, format, args);
    va_end(args);
    return n >= 0 && std::fputs("\r\n", file_) >= 0 && std::fflush(file_) == 0;
  }
  // Closes the file and gives it the caller's name; false (no file left)
  // when that fails.
  bool Commit() {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (closed && std::rename(temporary_.c_str(), path_.c_str()) == 0) return true;
    ::unlink(temporary_.c_str());
    return false;
  }
  void Discard() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    ::unlink(temporary_.c_str());
  }

 private:
  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

// I-variables whose lines are kept for reading only: a file sent back to
// the card leaves them alone.
bool IsCommentedOut(long n) {
  switch (n) {
    case 0:
    case 1:
    case 3:
    case 4:
    case 5:
    case 12:
    case 99:
    case 920:
    case 921:
    case 922:
    case 924:
    case 930:
    case 974:
      return true;
    default:
      return (n >= 154 && n <= 160) || (n >= 176 && n <= 178) || (n >= 181 && n <= 197) ||
             (n >= 200 && n <= 299);
  }
}

class RingUpload {
 public:
  RingUpload(CardCommandPath& path, int device, bool spran, void (*progress)(std::int32_t),
             const char* file)
      : path_(path), device_(device), spran_(spran), progress_(progress), file_(file) {}

  int Run() {
    if (!file_.Open()) return 0;
    CommandPathLock lock(path_, device_);
    const bool done = Upload();
    bool ok = done && !path_.lost();
    if (i9_changed_) {
      // Put I9 back even when the card stopped answering.
      CardCommandPath& restore = path_.lost() ? path_.underlying() : path_;
      SetVariable32(restore, device_, 'I', 9, saved_i9_, true);
      ok = ok && !path_.lost();
    }
    if (!ok) {
      file_.Discard();
      return 0;
    }
    return file_.Commit() ? 1 : 0;
  }

 private:
  bool Upload() {
    std::vector<int> scanned;
    for (int node = 0; node <= LastNode(spran_); ++node) {
      const std::int32_t type =
          StationLong(path_, device_, static_cast<std::uint32_t>(node), 3, kNoAnswer);
      if (path_.lost()) return false;
      if (type != kNoAnswer && !IsIoNode(node)) scanned.push_back(node);
    }

    saved_i9_ = GetVariable32(path_, device_, 'I', 9, 2);
    if (path_.lost()) return false;
    i9_changed_ = true;
    SetVariable32(path_, device_, 'I', 9, 2, true);
    if (path_.lost()) return false;

    // Nodes that share their station number (I996) belong to one station,
    // saved once under the first of them.
    std::vector<int> stations;
    std::int32_t last_station = -1;
    for (int node : scanned) {
      if (!Range(node, 910, 930)) return false;
      const std::int32_t station =
          StationLong(path_, device_, static_cast<std::uint32_t>(node), 996, kNoAnswer);
      if (path_.lost()) return false;
      if (station != kNoAnswer && station != last_station) {
        last_station = station;
        stations.push_back(node);
      }
    }

    for (int node : stations) {
      CommandPathLock again(path_, device_);
      static const int kRanges[][2] = {{0, 99},    {101, 108}, {111, 118}, {120, 197},
                                       {198, 198}, {900, 909}, {940, 942}, {974, 977},
                                       {981, 982}, {985, 989}, {990, 999}};
      for (const auto& r : kRanges) {
        if (!Range(node, r[0], r[1])) return false;
      }
      const std::int32_t i12 = StationLong(path_, device_, static_cast<std::uint32_t>(node), 12, 0);
      if (path_.lost()) return false;
      if (i12 != 0 && (!Range(node, 200, 265) || !Range(node, 943, 943))) return false;
    }
    return true;
  }

  // The lines of I-variables first to last of a node; progress in percent
  // of the range at every fifth number.
  bool Range(int node, int first, int last) {
    char buffer[kVariableTextSize];
    for (int n = first; n <= last; ++n) {
      const char* value = StationText(path_, device_, static_cast<std::uint32_t>(node),
                                      static_cast<std::uint32_t>(n), "0", buffer);
      if (path_.lost()) return false;
      if (!file_.Line(IsCommentedOut(n) ? ";MS%ld,I%ld=%s" : "MS%ld,I%ld=%s",
                      static_cast<long>(node), static_cast<long>(n), value)) {
        return false;
      }
      if (progress_ != nullptr && last > first && n % 5 == 0) {
        const double percent = static_cast<double>(n - first) / (last - first) * 100.0;
        progress_(static_cast<std::int32_t>(percent));
      }
    }
    return true;
  }

  WatchedPath path_;
  int device_;
  bool spran_;
  void (*progress_)(std::int32_t);
  UploadFile file_;
  std::int32_t saved_i9_ = 2;
  bool i9_changed_ = false;
};

}  // namespace

std::int32_t StationLong(CardCommandPath& path, int device, std::uint32_t node,
                         std::uint32_t number, std::int32_t default_value) {
  char reply[kVariableTextSize];
  const std::uint32_t status = AskStation(path, device, node, number, reply);
  const std::uint32_t kind = status & kStatusMask;
  if (IsLost(status) || kind == kStatusCardError) return default_value;
  if ((status & kCountMask) == 0 || std::strstr(reply, "ERR") != nullptr) return default_value;
  szStripControlCharA(reply);
  // A card that names the variable in its replies puts the value after '='.
  const char* value = std::strchr(reply, '=');
  return VariableTextToLong(value != nullptr ? value + 1 : reply);
}

const char* StationText(CardCommandPath& path, int device, std::uint32_t node, std::uint32_t number,
                        const char* default_text, char* buffer) {
  AskStation(path, device, node, number, buffer);
  if (std::strstr(buffer, "ERR") != nullptr) return default_text;
  return szStripControlCharA(buffer);
}

int SetStationText(CardCommandPath& path, int device, std::uint32_t node, std::uint32_t number,
                   const char* value) {
  if (value == nullptr) return 0;
  char command[kCommandSize];
  const int n = std::snprintf(command, sizeof command, "MS%u,I%u=%s", node, number, value);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof command) return 0;
  char reply[kReplyMax + 1];
  reply[0] = '\0';
  const std::uint32_t status = path.GetResponseEx(device, reply, kReplyMax, command);
  if (IsLost(status)) return 0;
  return std::strstr(reply, "ERR") != nullptr ? 0 : 1;
}

int UploadRingConfig(CardCommandPath& path, int device, bool spran, void (*progress)(std::int32_t),
                     const char* file) {
  if (file == nullptr || file[0] == '\0') return 0;
  return RingUpload(path, device, spran, progress, file).Run();
}

int AnalyzeRing(CardCommandPath& path, int device, bool spran, std::int32_t* table) {
  if (table == nullptr) return 0;
  CommandPathLock lock(path, device);
  table[0] = table[1] = 0;
  for (int i = 2; i < kVarloNodeTableWords; ++i) table[i] = -1;
  std::int32_t previous = -1;
  for (int node = 0; node <= LastNode(spran); ++node) {
    const std::int32_t v =
        StationLong(path, device, static_cast<std::uint32_t>(node), 3, kNoAnswer);
    if (v == kNoAnswer) continue;
    ++table[0];
    if (v != previous) ++table[1];
    previous = v;
    table[2 + node] = 1;
    table[66 + node] = IsIoNode(node) ? 1 : 0;
    table[130 + node] = v;
  }
  return table[0];
}

}  // namespace zimo::corvan::tuning

namespace {

// The reply of the last station text read of this thread.
thread_local char station_reply[zimo::corvan::kVariableTextSize];

bool IsSpranDevice(int device) {
  using namespace zimo::corvan;
  const SharedDeviceBlock* block = IsRealDevice(device) ? App().Block(device) : nullptr;
  return block != nullptr && block->SpranFlag == 1;
}

}  // namespace

extern "C" {

std::int32_t VARLOGetIVariableLong(std::uint32_t device, std::uint32_t node, std::uint32_t number,
                                   std::int32_t default_value) {
  return zimo::corvan::tuning::StationLong(zimo::corvan::LibraryCommandPath(),
                                           zimo::corvan::IndexFromDeviceNumber(device), node,
                                           number, default_value);
}

const char* VARLOGetIVariableString(std::uint32_t device, std::uint32_t node, std::uint32_t number,
                                    const char* default_text) {
  return zimo::corvan::tuning::StationText(zimo::corvan::LibraryCommandPath(),
                                           zimo::corvan::IndexFromDeviceNumber(device), node,
                                           number, default_text, station_reply);
}

std::int32_t VARLOSetIVariableString(std::uint32_t device, std::uint32_t node, std::uint32_t number,
                                     const char* value) {
  return zimo::corvan::tuning::SetStationText(zimo::corvan::LibraryCommandPath(),
                                              zimo::corvan::IndexFromDeviceNumber(device), node,
                                              number, value);
}

std::int32_t VARLOUploadConfig(std::uint32_t device, void (*progress)(std::int32_t),
                               const char* path) {
  const int d = zimo::corvan::IndexFromDeviceNumber(device);
  return zimo::corvan::tuning::UploadRingConfig(zimo::corvan::LibraryCommandPath(), d,
                                                IsSpranDevice(d), progress, path);
}

std::int32_t AerivoAnalyze(std::uint32_t device, std::int32_t* table) {
  const int d = zimo::corvan::IndexFromDeviceNumber(device);
  return zimo::corvan::tuning::AnalyzeRing(zimo::corvan::LibraryCommandPath(), d, IsSpranDevice(d),
                                           table);
}

}  // extern "C"
