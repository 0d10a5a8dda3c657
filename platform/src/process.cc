#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <thread>

extern char** environ;

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_getfd
#define SYS_pidfd_getfd 438
#endif

namespace zimo::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Splits from `pos` on; `program_rules` applies the program-name rule to the
// first argument (ends at a blank outside quotes, backslashes literal).
std::vector<std::string> SplitFrom(std::string_view line, bool program_rules) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (program_rules && i < n) {
    std::string program;
    bool quoted = false;
    for (; i < n; ++i) {
      char c = line[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (IsBlank(c) && !quoted) {
        break;
      } else {
        program += c;
      }
    }
    args.push_back(std::move(program));
  }
  while (true) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = line[i];
      if (c == '\\') {
        size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
          // An even run leaves the quote for the next round to toggle.
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (IsBlank(c) && !quoted) break;
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The argv of a command line, resolving an unquoted program path with blanks.
std::vector<std::string> ArgvOfCommandLine(std::string_view command_line) {
  size_t start = 0;
  while (start < command_line.size() && IsBlank(command_line[start])) ++start;
  std::string_view line = command_line.substr(start);
  if (!line.empty() && line.front() != '"') {
    for (size_t p = 0; p < line.size(); ++p) {
      if (line[p] == '"') break;  // quotes inside the name: take it as written
      if (!IsBlank(line[p])) continue;
      std::string candidate(line.substr(0, p));
      if (p + 1 < line.size() && candidate.find('/') != std::string::npos &&
          IsRegularFile(candidate)) {
        std::vector<std::string> argv{candidate};
        std::vector<std::string> rest = SplitFrom(line.substr(p), false);
        argv.insert(argv.end(), rest.begin(), rest.end());
        return argv;
      }
    }
  }
  return SplitFrom(line, true);
}

// Lets a dropped child end in peace: someone must collect its exit status or
// it stays a zombie and still looks alive to kill(pid, 0).
void ReapInBackground(pid_t pid, int pidfd) {
  std::thread([pid, pidfd] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pidfd >= 0) ::close(pidfd);
  }).detach();
}

class SpawnAttributes {
 public:
  SpawnAttributes() {
    ::posix_spawnattr_init(&attr_);
    ::posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnAttributes() {
    ::posix_spawnattr_destroy(&attr_);
    ::posix_spawn_file_actions_destroy(&actions_);
  }
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  return SplitFrom(command_line, true);
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), exit_code_(other.exit_code_) {
  other.pid_ = -1;
  other.pidfd_ = -1;
  other.exit_code_.reset();
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Reset();
    pid_ = other.pid_;
    pidfd_ = other.pidfd_;
    exit_code_ = other.exit_code_;
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.exit_code_.reset();
  }
  return *this;
}

Process::~Process() { Reset(); }

void Process::Reset() {
  if (pid_ > 0 && !exit_code_.has_value()) {
    if (IsRunning()) {
      ReapInBackground(pid_, pidfd_);
      pidfd_ = -1;
    }
  }
  if (pidfd_ >= 0) ::close(pidfd_);
  pid_ = -1;
  pidfd_ = -1;
  exit_code_.reset();
}

bool Process::IsRunning() {
  if (pid_ <= 0 || exit_code_.has_value()) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    exit_code_ = ExitCodeFromStatus(status);
    return false;
  }
  if (r < 0) return IsProcessAlive(pid_);  // reaped elsewhere (SIGCHLD ignored)
  return true;
}

Result<int> Process::Wait() {
  if (pid_ <= 0) return Status(Code::kInvalidArgument, "waiting for a process never started");
  if (exit_code_.has_value()) return *exit_code_;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    return Status::FromErrno("waiting for process " + std::to_string(pid_), errno);
  }
  exit_code_ = ExitCodeFromStatus(status);
  return *exit_code_;
}

Result<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return Status(Code::kInvalidArgument, "waiting for a process never started");
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::max(timeout, std::chrono::milliseconds(0));
  while (true) {
    if (exit_code_.has_value()) return *exit_code_;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_code_ = ExitCodeFromStatus(status);
      return *exit_code_;
    }
    if (r < 0 && errno != EINTR) {
      return Status::FromErrno("waiting for process " + std::to_string(pid_), errno);
    }
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
      return Status(Code::kTimeout, "process " + std::to_string(pid_) + " still runs after " +
                                        std::to_string(timeout.count()) + " ms");
    }
    if (pidfd_ >= 0) {
      // The pidfd becomes readable when the child ends.
      pollfd pfd{pidfd_, POLLIN, 0};
      int ms = static_cast<int>(std::min<long long>(left.count() + 1, INT_MAX));
      ::poll(&pfd, 1, ms);
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
    }
  }
}

Status Process::Signal(int signal_number) {
  if (pid_ <= 0) return Status(Code::kInvalidArgument, "signalling a process never started");
  if (exit_code_.has_value()) {
    return Status(Code::kClosed, "process " + std::to_string(pid_) + " has already ended");
  }
  // Safe by pid: an unreaped child's pid cannot be reused.
  if (::kill(pid_, signal_number) != 0) {
    return Status::FromErrno("signalling process " + std::to_string(pid_), errno);
  }
  return Status::Ok();
}

Result<Process> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options) {
  if (argv.empty() || argv[0].empty()) {
    return Status(Code::kInvalidArgument, "starting a program: no program named");
  }
  SpawnAttributes sa;
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.detached) flags |= POSIX_SPAWN_SETSID;
  ::posix_spawnattr_setflags(&sa.attr_, flags);
  sigset_t empty_mask;
  sigemptyset(&empty_mask);
  ::posix_spawnattr_setsigmask(&sa.attr_, &empty_mask);
  // Dispositions we (or a test runner) changed must not leak into the child.
  sigset_t defaults;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  ::posix_spawnattr_setsigdefault(&sa.attr_, &defaults);

  if (!options.working_directory.empty()) {
    ::posix_spawn_file_actions_addchdir_np(&sa.actions_, options.working_directory.c_str());
  }
  if (options.quiet) {
    ::posix_spawn_file_actions_addopen(&sa.actions_, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&sa.actions_, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&sa.actions_, 2, "/dev/null", O_WRONLY, 0);
  }

  std::vector<std::string> env;
  if (options.inherit_environment) {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
      std::string_view entry(*e);
      std::string_view name = entry.substr(0, entry.find('='));
      bool replaced = std::any_of(
          options.environment.begin(), options.environment.end(),
          [&](const std::string& o) { return std::string_view(o).substr(0, o.find('=')) == name; });
      if (!replaced) env.emplace_back(entry);
    }
  }
  env.insert(env.end(), options.environment.begin(), options.environment.end());

  std::vector<char*> c_argv;
  for (const std::string& a : argv) c_argv.push_back(const_cast<char*>(a.c_str()));
  c_argv.push_back(nullptr);
  std::vector<char*> c_env;
  for (const std::string& e : env) c_env.push_back(const_cast<char*>(e.c_str()));
  c_env.push_back(nullptr);

  pid_t pid = -1;
  const bool search = argv[0].find('/') == std::string::npos;
  int err = search ? ::posix_spawnp(&pid, argv[0].c_str(), &sa.actions_, &sa.attr_, c_argv.data(),
                                    c_env.data())
                   : ::posix_spawn(&pid, argv[0].c_str(), &sa.actions_, &sa.attr_, c_argv.data(),
                                   c_env.data());
  if (err != 0) return Status::FromErrno("starting \"" + argv[0] + "\"", err);

  Process process;
  process.pid_ = pid;
  process.pidfd_ = PidfdOpen(pid);
  if (process.pidfd_ >= 0) ::fcntl(process.pidfd_, F_SETFD, FD_CLOEXEC);
  return process;
}

Result<Process> SpawnCommandLine(std::string_view command_line, const SpawnOptions& options) {
  std::vector<std::string> argv = ArgvOfCommandLine(command_line);
  if (argv.empty() || argv[0].empty()) {
    return Status(Code::kInvalidArgument, "starting a program: empty command line");
  }
  return Spawn(argv, options);
}

uint32_t WinExecCodeFromErrno(int err, std::string_view program) {
  std::string path(program);
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
  if (slash == 0) folder = "/";
  switch (err) {
    case ENOENT:
      // A missing folder is a missing path, a missing file in a folder a missing file.
      return (!folder.empty() && !IsDirectory(folder)) ? kWinExecPathNotFound
                                                       : kWinExecFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kWinExecPathNotFound;
    case EACCES:
      // Denied on the file itself: it cannot run. Denied on a folder: no path.
      return IsRegularFile(path) || IsDirectory(path) || folder.empty() ? kWinExecBadFormat
                                                                        : kWinExecPathNotFound;
    case ENOEXEC:
    case EISDIR:
    case ETXTBSY:
    case ELIBBAD:
    case EPERM:
    case EINVAL:
      return kWinExecBadFormat;
    default:
      // ENOMEM, EAGAIN, EMFILE, E2BIG and the rest: out of resources.
      return kWinExecOutOfMemory;
  }
}

uint32_t WinExec(std::string_view command_line, int /*show_command*/) {
  std::vector<std::string> argv = ArgvOfCommandLine(command_line);
  if (argv.empty() || argv[0].empty()) return kWinExecFileNotFound;
  SpawnOptions options;
  options.detached = true;
  Result<Process> started = Spawn(argv, options);
  if (!started.ok()) return WinExecCodeFromErrno(started.status().os_error(), argv[0]);
  return kWinExecStarted;  // dropping the Process leaves the program running
}

bool IsProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  // kill() also succeeds for a zombie: look at its state.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;  // no /proc to ask: it exists
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return true;
  char state = line[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

pid_t CurrentProcessId() { return ::getpid(); }

Result<int> DuplicateFdFromProcess(pid_t pid, int fd) {
  const std::string what =
      "taking descriptor " + std::to_string(fd) + " from process " + std::to_string(pid);
  if (pid <= 0 || fd < 0) return Status(Code::kInvalidArgument, what + ": bad pid or descriptor");
  int pidfd = PidfdOpen(pid);
  if (pidfd < 0) {
    int err = errno;
    if (err == ESRCH) return Status(Code::kNotFound, what + ": no such process", err);
    return Status::FromErrno(what + ": pidfd_open", err);
  }
  int copy = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, fd, 0));
  int err = errno;
  ::close(pidfd);
  if (copy < 0) {
    if (err == EBADF) return Status(Code::kNotFound, what + ": no such descriptor", err);
    if (err == ESRCH) return Status(Code::kNotFound, what + ": the process has ended", err);
    if (err == EPERM) return Status(Code::kOsError, what + ": not permitted to trace it", err);
    return Status::FromErrno(what + ": pidfd_getfd", err);
  }
  return copy;
}

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : path;
}

std::filesystem::path ExecutableDir() { return ExecutablePath().parent_path(); }

}  // namespace zimo::platform
