// IPv4 stream and datagram sockets with the behaviour the library expects of
// Windows Sockets: blocking calls, a receive time-out in milliseconds that
// belongs to the socket (and so to every process sharing it), TCP_NODELAY,
// and failures readable as Windows Sockets numbers (LastSocketError()).
// The server-side calls (bind, listen, accept, recvfrom, sendto) serve the
// simulated card and test peers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"
#include "platform/unix_socket.h"  // UniqueFd, Timeout
#include "platform/win_error.h"

namespace zimo::platform {

// IPv4 address plus port. The address is held as the library holds it: the
// first dotted-quad number sits in the top byte.
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Ipv4Endpoint&) const = default;
};

constexpr uint32_t Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d;
}

// "127.0.0.5:1025".
std::string ToString(const Ipv4Endpoint& endpoint);

enum class SocketType { kStream, kDatagram };

class Socket {
 public:
  Socket() = default;
  // Adopts a socket descriptor, for instance one shared by another process.
  explicit Socket(UniqueFd fd);

  static Result<Socket> Create(SocketType type);

  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  SocketType type() const { return type_; }

  Status SetReuseAddress(bool on);
  // TCP_NODELAY: send small requests at once.
  Status SetNoDelay(bool on);
  // SO_RCVTIMEO in milliseconds; 0 waits without limit. A receive that runs
  // out fails with Code::kTimeout and LastSocketError() 10060. The kernel
  // keeps it in its own ticks (a few ms), so it is not read back.
  Status SetReceiveTimeout(uint32_t ms);

  Status Bind(const Ipv4Endpoint& local);
  // A datagram socket only fixes its peer; a stream socket connects, giving
  // up after `timeout` (kTimeout, 10060). A refused connection is kClosed
  // with LastSocketError() 10054.
  Status Connect(const Ipv4Endpoint& remote, Timeout timeout = kWaitForever);
  Status Listen(int backlog = 16);
  // Waits up to `timeout` for a connection on a listening stream socket.
  Result<Socket> Accept(Timeout timeout = kWaitForever);

  // Stream sockets send every byte; datagram sockets send one datagram.
  // Returns the bytes sent.
  Result<size_t> Send(const void* data, size_t size);
  Result<size_t> SendTo(const void* data, size_t size, const Ipv4Endpoint& to);

  // One receive, waiting as long as the receive time-out allows. A stream
  // socket gives 0 when the peer has closed. A datagram larger than `size`
  // fills the buffer and fails with Code::kBadData (WSAEMSGSIZE, 10040); the
  // rest of it is gone, as on Windows.
  Result<size_t> Receive(void* data, size_t size);
  Result<size_t> ReceiveFrom(void* data, size_t size, Ipv4Endpoint* from);

  Result<Ipv4Endpoint> LocalEndpoint() const;
  Result<Ipv4Endpoint> PeerEndpoint() const;

  // Ends both directions; a receive blocked in another thread returns (0
  // bytes), on datagram sockets too.
  void Shutdown();
  void Close() { fd_.reset(); }

 private:
  // Records the failure as this thread's last socket error and returns it.
  Status Fail(const char* what, int err, SocketCall call = SocketCall::kOther) const;

  UniqueFd fd_;
  SocketType type_ = SocketType::kStream;
};

// The Windows Sockets number of the last socket call of this thread that
// failed (WSAGetLastError); successful calls leave it alone.
int LastSocketError();
void SetLastSocketError(int wsa_error);

}  // namespace zimo::platform
