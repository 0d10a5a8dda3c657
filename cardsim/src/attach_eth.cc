#include "cardsim/attach_eth.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace zimo::cardsim {
namespace {

using platform::Result;
using platform::Status;
using platform::UniqueFd;

// The read form of the IP address request may come without its 4 bytes; a
// TCP peer gets this long to send them.
constexpr int kIpPayloadWaitMs = 100;

sockaddr_in SocketAddress(uint32_t ip, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(ip);
  return sa;
}

Result<UniqueFd> BoundSocket(int type, uint32_t ip, uint16_t port, const std::string& where) {
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd) return Status::FromErrno("socket for " + where, errno);
  // A TCP port in TIME_WAIT may be taken again; a UDP port never twice,
  // or two cards would share its datagrams.
  if (type == SOCK_STREAM) {
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  }
  const sockaddr_in sa = SocketAddress(ip, port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0) {
    return Status::FromErrno("bind " + where, errno);
  }
  return fd;
}

uint16_t BoundPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof(sa);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

// Waits until `fd` is readable or the wake descriptor fires. Returns 1 when
// readable, 0 on time-out, -1 when stopping or on an error.
int WaitFor(int fd, int wake, int timeout_ms) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (fds[1].revents & POLLIN)) return -1;
    if (n == 0) return 0;
    return 1;
  }
}

// Reads exactly `size` bytes. Returns 1 on success, 0 on time-out before
// the first byte (only with a finite time-out), -1 on end of stream, error or
// stop.
int ReadExact(int fd, int wake, char* data, size_t size, int first_timeout_ms) {
  size_t got = 0;
  while (got < size) {
    const int w = WaitFor(fd, wake, got == 0 ? first_timeout_ms : -1);
    if (w <= 0) return w;
    const ssize_t n = ::recv(fd, data + got, size - got, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return -1;
    got += static_cast<size_t>(n);
  }
  return 1;
}

bool SendAll(int fd, std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Result<uint32_t> ParseIpv4(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) {
    return Status(platform::Code::kInvalidArgument, "not an IPv4 address: \"" + text + "\"");
  }
  return static_cast<uint32_t>(ntohl(a.s_addr));
}

EthAttachment::EthAttachment(Card& card, std::string address, uint32_t ip)
    : address_(std::move(address)), server_(card, ip) {}

Result<std::unique_ptr<EthAttachment>> EthAttachment::Start(Card& card, const EthOptions& options) {
  Result<uint32_t> ip = ParseIpv4(options.address);
  if (!ip) return ip.status();
  if (!options.udp && !options.tcp) {
    return Status(platform::Code::kInvalidArgument, "Ethernet port without UDP and TCP");
  }
  std::unique_ptr<EthAttachment> eth(new EthAttachment(card, options.address, *ip));
  eth->wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!eth->wake_) return Status::FromErrno("eventfd", errno);

  const std::string where = options.address + ":" + std::to_string(options.port);
  if (options.udp) {
    Result<UniqueFd> udp = BoundSocket(SOCK_DGRAM, *ip, options.port, "UDP " + where);
    if (!udp) return udp.status();
    eth->udp_ = std::move(*udp);
    eth->udp_port_ = BoundPort(eth->udp_.get());
  }
  if (options.tcp) {
    // With port 0 the TCP port follows the UDP one when it is free.
    const uint16_t tcp_port = options.port == 0 && options.udp ? eth->udp_port_ : options.port;
    Result<UniqueFd> tcp = BoundSocket(SOCK_STREAM, *ip, tcp_port, "TCP " + where);
    if (!tcp) return tcp.status();
    if (::listen(tcp->get(), 16) != 0) return Status::FromErrno("listen TCP " + where, errno);
    eth->listener_ = std::move(*tcp);
    eth->tcp_port_ = BoundPort(eth->listener_.get());
  }
  if (eth->udp_) eth->udp_thread_ = std::thread([p = eth.get()] { p->ServeUdp(); });
  if (eth->listener_) eth->accept_thread_ = std::thread([p = eth.get()] { p->AcceptTcp(); });
  return eth;
}

EthAttachment::~EthAttachment() { Stop(); }

void EthAttachment::Stop() {
  if (stopping_.exchange(true)) return;
  const uint64_t one = 1;
  if (wake_) (void)::write(wake_.get(), &one, sizeof(one));
  if (udp_thread_.joinable()) udp_thread_.join();
  if (accept_thread_.joinable()) accept_thread_.join();
  std::lock_guard lock(connections_mu_);
  for (Connection& c : connections_) {
    if (c.thread.joinable()) c.thread.join();
  }
  connections_.clear();
  udp_.reset();
  listener_.reset();
}

bool EthAttachment::Hold(std::chrono::microseconds delay) const {
  if (delay.count() <= 0) return !stopping_;
  const int ms = static_cast<int>((delay.count() + 999) / 1000);
  pollfd fd{wake_.get(), POLLIN, 0};
  while (::poll(&fd, 1, ms) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void EthAttachment::ServeUdp() {
  std::vector<char> buffer(65536);
  for (;;) {
    if (WaitFor(udp_.get(), wake_.get(), -1) < 0) return;
    sockaddr_in peer{};
    socklen_t peer_len = sizeof(peer);
    const ssize_t n = ::recvfrom(udp_.get(), buffer.data(), buffer.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&peer), &peer_len);
    if (n < 0) continue;
    const size_t got = static_cast<size_t>(n);
    const std::string_view packet(buffer.data(), std::min(got, buffer.size()));
    const std::optional<RequestHeader> header = RequestHeader::Parse(packet);
    RequestAnswer answer;
    if (!header || got > buffer.size()) {
      answer = server_.Handle(RequestHeader{}, {});  // counted as refused
    } else {
      // The payload is the rest of the datagram; the server refuses it when
      // its length is not the one the header announces.
      answer = server_.Handle(*header, packet.substr(request::kHeaderSize));
    }
    if (!answer.send) continue;
    if (!Hold(answer.delay)) return;
    ::sendto(udp_.get(), answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&peer), peer_len);
  }
}

void EthAttachment::AcceptTcp() {
  for (;;) {
    if (WaitFor(listener_.get(), wake_.get(), -1) < 0) return;
    UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) continue;
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::lock_guard lock(connections_mu_);
    // Reap the connections that have ended.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->done) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    Connection& c = connections_.emplace_back();
    c.fd = std::move(fd);
    c.thread = std::thread([this, p = &c] { ServeTcp(p); });
  }
}

void EthAttachment::ServeTcp(Connection* connection) {
  const int fd = connection->fd.get();
  const int wake = wake_.get();
  std::string payload;
  for (;;) {
    char head[request::kHeaderSize];
    if (ReadExact(fd, wake, head, sizeof(head), -1) <= 0) break;
    const RequestHeader header = *RequestHeader::Parse(std::string_view(head, sizeof(head)));
    const std::optional<size_t> length = PayloadLength(header);
    if (!length) {
      server_.Handle(header, {});  // counted as refused
      break;                       // the stream cannot be cut into requests any more
    }
    payload.assign(*length, '\0');
    int got = 1;
    if (*length > 0) {
      const bool ip_read =
          header.request == request::kIpAddress && header.request_type == request::kCardToHost;
      got = ReadExact(fd, wake, payload.data(), payload.size(), ip_read ? kIpPayloadWaitMs : -1);
      if (got == 0) payload.clear();  // the read form came without its 4 bytes
    }
    if (got < 0) break;
    const RequestAnswer answer = server_.Handle(header, payload);
    if (!answer.send || answer.bytes.empty()) continue;
    if (!Hold(answer.delay)) break;
    if (!SendAll(fd, answer.bytes)) break;
  }
  connection->fd.reset();
  connection->done = true;
}

}  // namespace zimo::cardsim
