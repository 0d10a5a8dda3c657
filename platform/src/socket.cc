#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zimo::platform {

namespace {

thread_local int last_socket_error = 0;

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(endpoint.address);
  addr.sin_port = htons(endpoint.port);
  return addr;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& addr) {
  return Ipv4Endpoint{ntohl(addr.sin_addr.s_addr), ntohs(addr.sin_port)};
}

Status SetBlocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return Status::FromErrno("read socket flags", errno);
  int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) < 0) {
    return Status::FromErrno("set socket flags", errno);
  }
  return Status::Ok();
}

}  // namespace

int LastSocketError() { return last_socket_error; }
void SetLastSocketError(int wsa_error) { last_socket_error = wsa_error; }

std::string ToString(const Ipv4Endpoint& endpoint) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", (endpoint.address >> 24) & 0xFF,
                (endpoint.address >> 16) & 0xFF, (endpoint.address >> 8) & 0xFF,
                endpoint.address & 0xFF, endpoint.port);
  return buf;
}

Socket::Socket(UniqueFd fd) : fd_(std::move(fd)) {
  int type = 0;
  socklen_t len = sizeof type;
  if (fd_ && ::getsockopt(fd_.get(), SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM) {
    type_ = SocketType::kDatagram;
  }
}

Result<Socket> Socket::Create(SocketType type) {
  int kind = type == SocketType::kStream ? SOCK_STREAM : SOCK_DGRAM;
  int fd = ::socket(AF_INET, kind | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    int err = errno;
    SetLastSocketError(WsaErrorFromErrno(err));
    return Status::FromErrno("create socket", err);
  }
  Socket socket;
  socket.fd_.reset(fd);
  socket.type_ = type;
  return socket;
}

Status Socket::Fail(const char* what, int err, SocketCall call) const {
  SetLastSocketError(WsaErrorFromErrno(err, call));
  if (call == SocketCall::kReceive && (err == EAGAIN || err == EWOULDBLOCK)) {
    return Status(Code::kTimeout, std::string(what) + ": receive time-out", err);
  }
  switch (err) {
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
      return Status(Code::kClosed, what, err);
    default:
      return Status::FromErrno(what, err);
  }
}

Status Socket::SetReuseAddress(bool on) {
  int v = on ? 1 : 0;
  if (::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) != 0) {
    return Fail("set SO_REUSEADDR", errno);
  }
  return Status::Ok();
}

Status Socket::SetNoDelay(bool on) {
  int v = on ? 1 : 0;
  if (::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) != 0) {
    return Fail("set TCP_NODELAY", errno);
  }
  return Status::Ok();
}

Status Socket::SetReceiveTimeout(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  if (::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    return Fail("set receive time-out", errno);
  }
  return Status::Ok();
}

Status Socket::Bind(const Ipv4Endpoint& local) {
  sockaddr_in addr = ToSockaddr(local);
  if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    Status st = Fail("bind", err);
    return Status(st.code(), "bind " + ToString(local), err);
  }
  return Status::Ok();
}

Status Socket::Connect(const Ipv4Endpoint& remote, Timeout timeout) {
  sockaddr_in addr = ToSockaddr(remote);
  std::string what = "connect to " + ToString(remote);
  if (type_ == SocketType::kDatagram) {
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return Fail(what.c_str(), errno);
    }
    return Status::Ok();
  }
  // A stream connect, bounded in time: start it without blocking, wait until
  // it is writable, then read how it ended.
  if (Status st = SetBlocking(fd_.get(), false); !st.ok()) return st;
  int rc = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int err = rc == 0 ? 0 : errno;
  if (err == EINPROGRESS || err == EINTR) {
    Status st = WaitWritable(fd_.get(), Deadline(timeout));
    if (st.code() == Code::kTimeout) {
      SetLastSocketError(wsa::kETimedOut);
      // The attempt stays half-open; a socket must not be reused after it.
      ::shutdown(fd_.get(), SHUT_RDWR);
      return Status(Code::kTimeout, what + ": no answer", ETIMEDOUT);
    }
    if (!st.ok()) return st;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  }
  if (Status st = SetBlocking(fd_.get(), true); !st.ok()) return st;
  if (err != 0) return Fail(what.c_str(), err);
  return Status::Ok();
}

Status Socket::Listen(int backlog) {
  if (::listen(fd_.get(), backlog) != 0) return Fail("listen", errno);
  // Accept() polls first; a connection that vanishes in between must not
  // leave accept() blocked.
  return SetBlocking(fd_.get(), false);
}

Result<Socket> Socket::Accept(Timeout timeout) {
  Deadline deadline(timeout);
  for (;;) {
    int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      Socket peer;
      peer.fd_.reset(fd);
      peer.type_ = SocketType::kStream;
      return peer;
    }
    int err = errno;
    if (err == EINTR || err == ECONNABORTED) continue;
    if (err != EAGAIN) return Fail("accept", err);
    Status st = WaitReadable(fd_.get(), deadline);
    if (st.code() == Code::kTimeout) {
      SetLastSocketError(wsa::kETimedOut);
      return Status(Code::kTimeout, "accept: no connection came", ETIMEDOUT);
    }
    if (!st.ok()) return st;
  }
}

Result<size_t> Socket::Send(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  size_t sent = 0;
  do {
    ssize_t n = ::send(fd_.get(), p + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail("send", errno);
    }
    sent += static_cast<size_t>(n);
  } while (type_ == SocketType::kStream && sent < size);
  return sent;
}

Result<size_t> Socket::SendTo(const void* data, size_t size, const Ipv4Endpoint& to) {
  sockaddr_in addr = ToSockaddr(to);
  for (;;) {
    ssize_t n = ::sendto(fd_.get(), data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                         sizeof addr);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Fail("send to", errno);
  }
}

Result<size_t> Socket::Receive(void* data, size_t size) { return ReceiveFrom(data, size, nullptr); }

Result<size_t> Socket::ReceiveFrom(void* data, size_t size, Ipv4Endpoint* from) {
  sockaddr_in addr{};
  iovec iov{data, size};
  msghdr msg{};
  msg.msg_name = &addr;
  msg.msg_namelen = sizeof addr;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  for (;;) {
    ssize_t n = ::recvmsg(fd_.get(), &msg, 0);
    if (n < 0) {
      // EINTR with a receive time-out set restarts the whole wait; the
      // signals that reach us (none by default) are rare enough.
      if (errno == EINTR) continue;
      return Fail("receive", errno, SocketCall::kReceive);
    }
    if (from != nullptr && msg.msg_namelen >= sizeof(sockaddr_in)) *from = FromSockaddr(addr);
    if (type_ == SocketType::kDatagram && (msg.msg_flags & MSG_TRUNC)) {
      SetLastSocketError(wsa::kEMsgSize);
      return Status(Code::kBadData, "receive: datagram larger than the buffer", EMSGSIZE);
    }
    return static_cast<size_t>(n);
  }
}

Result<Ipv4Endpoint> Socket::LocalEndpoint() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return Fail("read local address", errno);
  }
  return FromSockaddr(addr);
}

Result<Ipv4Endpoint> Socket::PeerEndpoint() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return Fail("read peer address", errno);
  }
  return FromSockaddr(addr);
}

void Socket::Shutdown() {
  // On an unconnected datagram socket this reports ENOTCONN but still wakes
  // a blocked receive, which is all we want of it.
  if (fd_) ::shutdown(fd_.get(), SHUT_RDWR);
}

}  // namespace zimo::platform
