// Unix-domain stream sockets: the local channel of the object layer and the
// driver host (one listening socket each under RunDir()), with descriptor
// passing and peer credentials. Also home of UniqueFd, the owner of one file
// descriptor that every fd-based platform class builds on.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/status.h"

namespace zimo::platform {

// Owns one file descriptor and closes it exactly once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the current descriptor (if any) and takes `fd`.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Time-outs of the blocking calls. kWaitForever waits without limit; zero
// polls once.
using Timeout = std::chrono::milliseconds;
inline constexpr Timeout kWaitForever = Timeout::max();

// A point in time computed once from a Timeout, so that loops of several
// waits keep to the caller's total.
class Deadline {
 public:
  explicit Deadline(Timeout timeout);
  bool forever() const { return forever_; }
  bool expired() const;
  // What is left (kWaitForever when forever, zero once expired).
  Timeout remaining() const;
  // What is left for poll(): -1 forever, else milliseconds rounded up.
  int poll_ms() const;

 private:
  bool forever_;
  std::chrono::steady_clock::time_point end_;
};

// Waits until `fd` is readable (or writable), or reports a hang-up or error
// there, or `deadline` passes (kTimeout).
Status WaitReadable(int fd, const Deadline& deadline);
Status WaitWritable(int fd, const Deadline& deadline);

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// One connected stream. Calls on one connection come from one thread at a
// time, except Shutdown(), which any thread may call to wake a blocked call.
class UnixConnection {
 public:
  UnixConnection() = default;
  explicit UnixConnection(UniqueFd fd) : fd_(std::move(fd)) {}

  // Connects to the listener at `path`. kNotFound when no socket file is
  // there, kClosed (ECONNREFUSED) when the file is there but nobody listens,
  // kTimeout when the listener's backlog stays full for `timeout`.
  static Result<UnixConnection> Connect(const std::filesystem::path& path,
                                        Timeout timeout = kWaitForever);

  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // Sends all `size` bytes (no SIGPIPE). kClosed when the peer has gone.
  Status SendAll(const void* data, size_t size);
  // Receives exactly `size` bytes. kTimeout when they have not all come in
  // `timeout` (what did come is consumed; treat the stream as broken);
  // kClosed when the peer closed first.
  Status RecvExact(void* data, size_t size, Timeout timeout = kWaitForever);
  // Receives what is there, between 1 and `size` bytes, waiting up to
  // `timeout` for the first. kClosed on end of stream.
  Result<size_t> RecvSome(void* data, size_t size, Timeout timeout = kWaitForever);

  // Sends `fd` (SCM_RIGHTS) together with `size` bytes (at least one); the
  // receiver gets its own descriptor of the same open file.
  Status SendFd(int fd, const void* data, size_t size);
  // Receives the `size` bytes a SendFd sent and the descriptor with them.
  // kBadData when the bytes came without a descriptor.
  Result<UniqueFd> RecvFd(void* data, size_t size, Timeout timeout = kWaitForever);

  // Process, user and group of the peer as they were when it connected.
  Result<PeerCredentials> Peer() const;

  // Ends both directions: blocked calls in other threads return kClosed, the
  // peer sees end of stream. The descriptor stays open until Close().
  void Shutdown();
  void Close() { fd_.reset(); }

 private:
  UniqueFd fd_;
};

// A connected pair within this process (or to hand one end to a child).
Result<std::pair<UnixConnection, UnixConnection>> UnixSocketPair();

// A listening socket bound to a path. The socket file is removed again when
// the listener closes (unless another listener has replaced it meanwhile).
class UnixListener {
 public:
  UnixListener() = default;
  ~UnixListener() { Close(); }
  UnixListener(UnixListener&& other) noexcept;
  UnixListener& operator=(UnixListener&& other) noexcept;
  UnixListener(const UnixListener&) = delete;
  UnixListener& operator=(const UnixListener&) = delete;

  // Binds and listens at `path`, creating its folder. A socket file left by a
  // listener that is gone is replaced; kAlreadyExists when a live listener
  // answers there; kAlreadyExists also when a file that is not a socket sits
  // at `path` (it is left alone).
  static Result<UnixListener> Listen(const std::filesystem::path& path, int backlog = 64);

  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const std::filesystem::path& path() const { return path_; }

  // Waits up to `timeout` for the next connection. kTimeout when none came,
  // kClosed once Interrupt() was called.
  Result<UnixConnection> Accept(Timeout timeout = kWaitForever);

  // Wakes every Accept() blocked in other threads and makes every later
  // Accept() return kClosed. Safe from any thread and from a signal handler.
  void Interrupt();
  bool interrupted() const { return interrupted_.load(std::memory_order_acquire); }

  // Stops listening and removes the socket file if it is still ours.
  void Close();

 private:
  UniqueFd fd_;
  UniqueFd wake_;  // eventfd that Interrupt() signals
  std::atomic<bool> interrupted_{false};
  std::filesystem::path path_;
  dev_t dev_ = 0;  // identity of the socket file we created
  ino_t ino_ = 0;
};

}  // namespace zimo::platform
