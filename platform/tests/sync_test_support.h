// Helpers for tests of objects shared between processes: forked children,
// one-byte signals over pipes, and waiting until a process or thread sleeps
// (inside the wait under test).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace zimo::platform::sync_test {

using std::chrono::milliseconds;

// Generous: for things that should happen.
inline constexpr milliseconds kLong{10000};

// A forked child that runs `body` and exits with its result. Children use no
// test assertions: they report through their exit code.
class Child {
 public:
  explicit Child(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) {
      int rc = body();
      ::_exit(rc);
    }
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }

  // The exit code (128 + n when signal n ended it); -1 when still running
  // after `limit`.
  int Wait(milliseconds limit = kLong) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!Ended()) {
      if (std::chrono::steady_clock::now() >= until) return -1;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return *code_;
  }
  bool Running() { return !Ended(); }
  void Kill() {
    if (pid_ > 0 && !code_) {
      ::kill(pid_, SIGKILL);
      Reap(0);
    }
  }

 private:
  bool Ended() {
    if (code_) return true;
    return Reap(WNOHANG);
  }
  bool Reap(int flags) {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid_, &status, flags);
    } while (r < 0 && errno == EINTR);
    if (r != pid_) return false;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }

  pid_t pid_ = -1;
  std::optional<int> code_;
};

// One-way signals between processes.
class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Pipe() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  void Signal(char c = '!') {
    ssize_t n;
    do {
      n = ::write(fds_[1], &c, 1);
    } while (n < 0 && errno == EINTR);
  }
  // The next byte, or '\0' when none came within `limit`.
  char Await(milliseconds limit = kLong) {
    pollfd p{fds_[0], POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&p, 1, static_cast<int>(limit.count()));
    } while (rc < 0 && errno == EINTR);
    char c = '\0';
    if (rc == 1 && ::read(fds_[0], &c, 1) != 1) c = '\0';
    return c;
  }

 private:
  int fds_[2];
};

// The scheduler state letter of a process ("/proc/<pid>/stat") or thread
// ("/proc/self/task/<tid>/stat").
inline char StateOf(const std::string& stat_path) {
  FILE* f = std::fopen(stat_path.c_str(), "r");
  if (f == nullptr) return '?';
  char buf[512] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* p = std::strrchr(buf, ')');
  return p != nullptr && p[1] == ' ' ? p[2] : '?';
}

// True once the process or thread sleeps. The callers make sure the only
// place it can sleep is the wait under test.
inline bool WaitUntilSleeping(const std::string& stat_path, milliseconds limit = kLong) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (StateOf(stat_path) != 'S') {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}
inline bool ProcessSleeps(pid_t pid, milliseconds limit = kLong) {
  return WaitUntilSleeping("/proc/" + std::to_string(pid) + "/stat", limit);
}
inline bool ThreadSleeps(pid_t tid, milliseconds limit = kLong) {
  return WaitUntilSleeping("/proc/self/task/" + std::to_string(tid) + "/stat", limit);
}

}  // namespace zimo::platform::sync_test
