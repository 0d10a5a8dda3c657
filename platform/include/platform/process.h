// Processes: starting programs from a Windows-style command line or an argv,
// waiting for them, asking whether a pid still runs, taking a descriptor out
// of another process, and finding the running program's own file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace zimo::platform {

// Splits a command line the way Windows programs split theirs: blanks
// separate arguments, double quotes group, 2n backslashes before a quote give
// n backslashes and a quote that toggles grouping, 2n+1 give n backslashes and
// a literal quote, "" inside a group is a literal quote, other backslashes are
// literal. The program name (first argument) ends at the first blank outside
// quotes and keeps its backslashes as written.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

struct SpawnOptions {
  // "NAME=value" entries added to (or replacing in) the environment.
  std::vector<std::string> environment;
  // false: the child sees only `environment`.
  bool inherit_environment = true;
  // A session of its own: signals aimed at our terminal's process group
  // (Ctrl-C) do not reach it, so it outlives an interrupted starter.
  bool detached = false;
  // Empty: the child starts in our working directory.
  std::filesystem::path working_directory;
  // Redirect the child's stdin, stdout and stderr to /dev/null.
  bool quiet = false;
};

// A started child. Dropping a Process never stops the child; a child nobody
// waited for is reaped in the background, so it never lingers as a zombie.
class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool valid() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The exit code once the child ended: its exit status, or 128 + the signal
  // number when a signal ended it. Code::kTimeout when it still runs after
  // `timeout`.
  Result<int> Wait(std::chrono::milliseconds timeout);
  Result<int> Wait();  // without a time limit
  // Checks without waiting; also collects the exit code when it has ended.
  bool IsRunning();
  // Known once Wait or IsRunning saw the end.
  std::optional<int> exit_code() const { return exit_code_; }

  // Sends a signal (SIGTERM, SIGKILL, ...) unless the child was already reaped.
  Status Signal(int signal_number);

 private:
  friend Result<Process> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options);
  void Reset();

  pid_t pid_ = -1;
  int pidfd_ = -1;  // -1 when the kernel offers no pidfd_open
  std::optional<int> exit_code_;
};

// Starts argv[0] with the arguments argv[1..]. A name without '/' is looked
// up in PATH. Fails with the errno of the failed exec (ENOENT, EACCES, ...).
Result<Process> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// Starts a Windows-style command line (see SplitCommandLine). When the
// program name is not quoted and words follow it, the program may be a path
// with blanks: as on Windows, the shortest run of leading words that names an
// existing file is the program ("/opt/my app/run /zimo 1").
Result<Process> SpawnCommandLine(std::string_view command_line, const SpawnOptions& options = {});

// WinExec's result numbers.
inline constexpr uint32_t kWinExecOutOfMemory = 0;
inline constexpr uint32_t kWinExecFileNotFound = 2;
inline constexpr uint32_t kWinExecPathNotFound = 3;
inline constexpr uint32_t kWinExecBadFormat = 11;
inline constexpr uint32_t kWinExecStarted = 33;  // anything above 31 means started

// Starts a command line detached and returns WinExec's result: 33 when
// started, else 0 (out of memory or resources), 2 (file not found), 3 (path
// not found) or 11 (not an executable). `show_command` is accepted for the
// callers' sake; there is no window to show here.
uint32_t WinExec(std::string_view command_line, int show_command = 1);
// The WinExec number for the errno of a failed start of `program`.
uint32_t WinExecCodeFromErrno(int err, std::string_view program);

// True while a process with this pid exists and has not ended (a zombie
// counts as ended). Works for any pid, not only our children.
bool IsProcessAlive(pid_t pid);
pid_t CurrentProcessId();

// A copy, in this process, of descriptor `fd` of process `pid` (close-on-exec
// set). Needs pidfd_getfd (Linux 5.6) and the right to trace `pid`; when
// either is missing the Status says so (Code::kUnsupported for a kernel
// without it, an EPERM OS error when refused) and the caller falls back to
// reopening the resource.
Result<int> DuplicateFdFromProcess(pid_t pid, int fd);

// The running program's file and its folder.
std::filesystem::path ExecutablePath();
std::filesystem::path ExecutableDir();

}  // namespace zimo::platform
