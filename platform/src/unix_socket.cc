#include "platform/unix_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

namespace zimo::platform {

void UniqueFd::reset(int fd) {
  int old = std::exchange(fd_, fd);
  // close() must not be retried on EINTR on Linux: the descriptor is gone.
  if (old >= 0) ::close(old);
}

Deadline::Deadline(Timeout timeout) : forever_(timeout == kWaitForever), end_() {
  if (!forever_) {
    if (timeout < Timeout::zero()) timeout = Timeout::zero();
    end_ = std::chrono::steady_clock::now() + timeout;
  }
}

bool Deadline::expired() const { return !forever_ && std::chrono::steady_clock::now() >= end_; }

Timeout Deadline::remaining() const {
  if (forever_) return kWaitForever;
  auto left = end_ - std::chrono::steady_clock::now();
  if (left <= decltype(left)::zero()) return Timeout::zero();
  return std::chrono::ceil<Timeout>(left);
}

int Deadline::poll_ms() const {
  if (forever_) return -1;
  Timeout left = remaining();
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

namespace {

Status WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, deadline.poll_ms());
    if (n > 0) return Status::Ok();
    if (n < 0 && errno != EINTR) return Status::FromErrno("poll", errno);
    if (n == 0 && deadline.expired()) return Status(Code::kTimeout, "timed out", ETIMEDOUT);
  }
}

}  // namespace

Status WaitReadable(int fd, const Deadline& deadline) { return WaitFor(fd, POLLIN, deadline); }
Status WaitWritable(int fd, const Deadline& deadline) { return WaitFor(fd, POLLOUT, deadline); }

namespace {

// A sockaddr_un for `path`. Paths longer than sun_path go through the
// parent folder's descriptor ("/proc/self/fd/N/name"), which the kernel
// resolves like the full path; the folder stays open while the address lives.
class UnixAddress {
 public:
  Status Set(const std::filesystem::path& path) {
    std::memset(&addr_, 0, sizeof addr_);
    addr_.sun_family = AF_UNIX;
    std::string text = path.string();
    if (text.empty()) return Status(Code::kInvalidArgument, "socket path is empty");
    if (text.size() >= sizeof addr_.sun_path) {
      std::filesystem::path parent = path.parent_path();
      std::string name = path.filename().string();
      if (parent.empty()) parent = ".";
      dir_.reset(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!dir_) return Status::FromErrno("open folder of socket " + text, errno);
      char buf[64];
      std::snprintf(buf, sizeof buf, "/proc/self/fd/%d/", dir_.get());
      text = std::string(buf) + name;
      if (text.size() >= sizeof addr_.sun_path) {
        return Status(Code::kInvalidArgument, "socket name too long: " + path.string());
      }
    }
    std::memcpy(addr_.sun_path, text.data(), text.size());
    len_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + 1);
    return Status::Ok();
  }
  const sockaddr* addr() const { return reinterpret_cast<const sockaddr*>(&addr_); }
  socklen_t len() const { return len_; }

 private:
  sockaddr_un addr_{};
  socklen_t len_ = 0;
  UniqueFd dir_;
};

Status WithPath(Status st, const std::filesystem::path& path) {
  if (st.ok()) return st;
  return Status(st.code(), st.message() + " " + path.string(), st.os_error());
}

}  // namespace

// ---------------------------------------------------------------------------
// UnixConnection

Result<UnixConnection> UnixConnection::Connect(const std::filesystem::path& path, Timeout timeout) {
  UnixAddress addr;
  if (Status st = addr.Set(path); !st.ok()) return st;
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return Status::FromErrno("create unix socket", errno);
  Deadline deadline(timeout);
  // A non-blocking connect on a unix socket either completes at once or
  // fails with EAGAIN while the listener's backlog is full; retry then.
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::connect(fd.get(), addr.addr(), addr.len()) == 0) break;
    int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      if (deadline.expired()) {
        return Status(Code::kTimeout, "connect to " + path.string() + ": listener busy", err);
      }
      std::this_thread::sleep_for(pause);
      if (pause < std::chrono::milliseconds(10)) pause *= 2;
      continue;
    }
    if (err == ECONNREFUSED) {
      return Status(Code::kClosed, "connect to " + path.string() + ": nobody listens", err);
    }
    return WithPath(Status::FromErrno("connect to", err), path);
  }
  // Blocking from here on; waits go through poll() with their own time-outs.
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) {
    return Status::FromErrno("make unix socket blocking", errno);
  }
  return UnixConnection(std::move(fd));
}

Status UnixConnection::SendAll(const void* data, size_t size) {
  if (!fd_) return Status(Code::kClosed, "send on a closed connection", EBADF);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd_.get(), p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      if (err == EPIPE || err == ECONNRESET) return Status(Code::kClosed, "send: peer gone", err);
      return Status::FromErrno("send", err);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return Status::Ok();
}

Result<size_t> UnixConnection::RecvSome(void* data, size_t size, Timeout timeout) {
  if (!fd_) return Status(Code::kClosed, "receive on a closed connection", EBADF);
  if (size == 0) return size_t{0};
  Deadline deadline(timeout);
  for (;;) {
    // Try first: when the data is already there this saves the poll.
    ssize_t n = ::recv(fd_.get(), data, size, MSG_DONTWAIT);
    if (n > 0) return static_cast<size_t>(n);
    if (n == 0) return Status(Code::kClosed, "receive: peer closed the connection");
    int err = errno;
    if (err == EINTR) continue;
    if (err == ECONNRESET) return Status(Code::kClosed, "receive: connection reset", err);
    if (err != EAGAIN) return Status::FromErrno("receive", err);
    Status st = WaitReadable(fd_.get(), deadline);
    if (!st.ok()) return Status(st.code(), "receive: " + st.message(), st.os_error());
  }
}

Status UnixConnection::RecvExact(void* data, size_t size, Timeout timeout) {
  Deadline deadline(timeout);
  char* p = static_cast<char*>(data);
  while (size > 0) {
    Result<size_t> n = RecvSome(p, size, deadline.remaining());
    if (!n.ok()) return n.status();
    p += *n;
    size -= *n;
  }
  return Status::Ok();
}

Status UnixConnection::SendFd(int fd, const void* data, size_t size) {
  if (!fd_) return Status(Code::kClosed, "send on a closed connection", EBADF);
  if (size == 0) return Status(Code::kInvalidArgument, "a descriptor needs at least one byte");
  if (fd < 0) return Status(Code::kInvalidArgument, "no descriptor to send", EBADF);
  iovec iov{const_cast<void*>(data), size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* cm = CMSG_FIRSTHDR(&msg);
  cm->cmsg_level = SOL_SOCKET;
  cm->cmsg_type = SCM_RIGHTS;
  cm->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(cm), &fd, sizeof(int));
  ssize_t n;
  do {
    n = ::sendmsg(fd_.get(), &msg, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int err = errno;
    if (err == EPIPE || err == ECONNRESET) return Status(Code::kClosed, "send fd: peer gone", err);
    return Status::FromErrno("send fd", err);
  }
  // The descriptor travelled with the first byte; the rest is plain data.
  return SendAll(static_cast<const char*>(data) + n, size - static_cast<size_t>(n));
}

Result<UniqueFd> UnixConnection::RecvFd(void* data, size_t size, Timeout timeout) {
  if (!fd_) return Status(Code::kClosed, "receive on a closed connection", EBADF);
  if (size == 0) return Status(Code::kInvalidArgument, "a descriptor comes with at least one byte");
  Deadline deadline(timeout);
  UniqueFd received;
  size_t got = 0;
  for (;;) {
    iovec iov{data, size};
    // Room for a few descriptors, so a sender that sends more than one does
    // not make us lose track of them: extra ones are closed below.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd_.get(), &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      int err = errno;
      if (err == EINTR) continue;
      if (err == ECONNRESET) return Status(Code::kClosed, "receive fd: connection reset", err);
      if (err != EAGAIN) return Status::FromErrno("receive fd", err);
      if (Status st = WaitReadable(fd_.get(), deadline); !st.ok()) {
        return Status(st.code(), "receive fd: " + st.message(), st.os_error());
      }
      continue;
    }
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm)) {
      if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
      size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof fd);
        if (!received) {
          received.reset(fd);
        } else {
          ::close(fd);
        }
      }
    }
    if (n == 0) return Status(Code::kClosed, "receive fd: peer closed the connection");
    if (msg.msg_flags & MSG_CTRUNC) {
      return Status(Code::kBadData, "receive fd: more descriptors than expected arrived");
    }
    got = static_cast<size_t>(n);
    break;
  }
  if (Status st = RecvExact(static_cast<char*>(data) + got, size - got, deadline.remaining());
      !st.ok()) {
    return st;
  }
  if (!received) return Status(Code::kBadData, "receive fd: the message carried no descriptor");
  return received;
}

Result<PeerCredentials> UnixConnection::Peer() const {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd_.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
    return Status::FromErrno("read peer credentials", errno);
  }
  return PeerCredentials{cred.pid, cred.uid, cred.gid};
}

void UnixConnection::Shutdown() {
  if (fd_) ::shutdown(fd_.get(), SHUT_RDWR);
}

Result<std::pair<UnixConnection, UnixConnection>> UnixSocketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    return Status::FromErrno("create socket pair", errno);
  }
  return std::make_pair(UnixConnection(UniqueFd(fds[0])), UnixConnection(UniqueFd(fds[1])));
}

// ---------------------------------------------------------------------------
// UnixListener

UnixListener::UnixListener(UnixListener&& other) noexcept
    : fd_(std::move(other.fd_)),
      wake_(std::move(other.wake_)),
      interrupted_(other.interrupted_.load()),
      path_(std::move(other.path_)),
      dev_(other.dev_),
      ino_(other.ino_) {
  other.path_.clear();
}

UnixListener& UnixListener::operator=(UnixListener&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::move(other.fd_);
    wake_ = std::move(other.wake_);
    interrupted_.store(other.interrupted_.load());
    path_ = std::move(other.path_);
    other.path_.clear();
    dev_ = other.dev_;
    ino_ = other.ino_;
  }
  return *this;
}

Result<UnixListener> UnixListener::Listen(const std::filesystem::path& path, int backlog) {
  std::filesystem::path parent = path.parent_path();
  if (parent.empty()) parent = ".";
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) return Status::FromErrno("create folder " + parent.string(), ec.value());

  // Hold the folder's lock while we look at and replace a stale socket file,
  // so two listeners starting together cannot both take the same path.
  UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return Status::FromErrno("open folder " + parent.string(), errno);
  while (::flock(dir.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Status::FromErrno("lock folder " + parent.string(), errno);
  }

  UnixAddress addr;
  if (Status st = addr.Set(path); !st.ok()) return st;
  UnixListener listener;
  listener.fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.fd_) return Status::FromErrno("create unix socket", errno);

  if (::bind(listener.fd_.get(), addr.addr(), addr.len()) != 0) {
    int err = errno;
    if (err != EADDRINUSE) return WithPath(Status::FromErrno("bind", err), path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
      return Status(Code::kAlreadyExists, "bind " + path.string() + ": not a socket, left alone",
                    EADDRINUSE);
    }
    // Does anybody still listen there?
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe) return Status::FromErrno("create unix socket", errno);
    int rc = ::connect(probe.get(), addr.addr(), addr.len());
    int probe_err = rc == 0 ? 0 : errno;
    if (rc == 0 || probe_err == EAGAIN) {
      return Status(Code::kAlreadyExists, "listen at " + path.string() + ": already served",
                    EADDRINUSE);
    }
    if (probe_err != ECONNREFUSED && probe_err != ENOENT) {
      return WithPath(Status::FromErrno("probe", probe_err), path);
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return WithPath(Status::FromErrno("remove stale socket", errno), path);
    }
    if (::bind(listener.fd_.get(), addr.addr(), addr.len()) != 0) {
      return WithPath(Status::FromErrno("bind", errno), path);
    }
  }
  if (::listen(listener.fd_.get(), backlog) != 0) {
    int err = errno;
    ::unlink(path.c_str());
    return WithPath(Status::FromErrno("listen", err), path);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    listener.dev_ = st.st_dev;
    listener.ino_ = st.st_ino;
  }
  listener.path_ = path;
  listener.wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!listener.wake_) return Status::FromErrno("create wake-up event", errno);
  return listener;
}

Result<UnixConnection> UnixListener::Accept(Timeout timeout) {
  if (!fd_) return Status(Code::kClosed, "accept on a closed listener", EBADF);
  Deadline deadline(timeout);
  for (;;) {
    if (interrupted()) return Status(Code::kClosed, "accept: listener interrupted");
    int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return UnixConnection(UniqueFd(fd));
    int err = errno;
    // A client that gave up before we took it is no failure of ours.
    if (err == EINTR || err == ECONNABORTED) continue;
    if (err != EAGAIN) return Status::FromErrno("accept", err);
    pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    int n = ::poll(fds, 2, deadline.poll_ms());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno("wait for a connection", errno);
    }
    if (n == 0) {
      if (deadline.expired())
        return Status(Code::kTimeout, "accept: no connection came", ETIMEDOUT);
    }
  }
}

void UnixListener::Interrupt() {
  interrupted_.store(true, std::memory_order_release);
  if (wake_) {
    uint64_t one = 1;
    // The counter only grows; a full counter still wakes everyone.
    [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
  }
}

void UnixListener::Close() {
  if (!fd_) return;
  fd_.reset();
  wake_.reset();
  if (!path_.empty()) {
    struct stat st {};
    // Only our own file: a newer listener may have replaced it meanwhile.
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
      ::unlink(path_.c_str());
    }
    path_.clear();
  }
}

}  // namespace zimo::platform
