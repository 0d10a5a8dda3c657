// The card's Ethernet port: UDP and TCP servers on one IPv4 address (port 1025
// by default) that cut request packets out of datagrams or the TCP stream and
// answer them through one RequestServer, so every peer talks to the same
// card. Any number of peers at once: UDP peers are answered in arrival order,
// each TCP connection has a thread of its own.
//
// Bad input never reaches the card: a datagram that is shorter than a
// header, longer or shorter than its header announces, or carries an unknown
// request is dropped; a TCP peer that sends such a header is disconnected,
// since the stream can no longer be cut into requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cardsim/attach_requests.h"
#include "cardsim/card.h"
#include "platform/status.h"
#include "platform/unix_socket.h"

namespace zimo::cardsim {

struct EthOptions {
  std::string address = "127.0.0.1";  // dotted IPv4 address to serve on
  uint16_t port = 1025;               // 0 picks a free port (see udp_port()/tcp_port())
  bool udp = true;
  bool tcp = true;
};

// "a.b.c.d" -> the address with the first number in the top byte.
platform::Result<uint32_t> ParseIpv4(const std::string& text);

class EthAttachment {
 public:
  static platform::Result<std::unique_ptr<EthAttachment>> Start(Card& card,
                                                                const EthOptions& options);
  ~EthAttachment();
  EthAttachment(const EthAttachment&) = delete;
  EthAttachment& operator=(const EthAttachment&) = delete;

  // Stops serving: closes the sockets and every TCP connection. Idempotent.
  void Stop();

  const std::string& address() const { return address_; }
  uint16_t udp_port() const { return udp_port_; }  // 0 when UDP is off
  uint16_t tcp_port() const { return tcp_port_; }  // 0 when TCP is off
  RequestServer& server() { return server_; }

 private:
  struct Connection {
    platform::UniqueFd fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  EthAttachment(Card& card, std::string address, uint32_t ip);
  void ServeUdp();
  void AcceptTcp();
  void ServeTcp(Connection* connection);
  // Sleeps `delay`, or less when the attachment stops; false when stopping.
  bool Hold(std::chrono::microseconds delay) const;

  std::string address_;
  RequestServer server_;
  platform::UniqueFd udp_;
  platform::UniqueFd listener_;
  platform::UniqueFd wake_;  // an eventfd, readable once Stop() has begun
  uint16_t udp_port_ = 0;
  uint16_t tcp_port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread udp_thread_;
  std::thread accept_thread_;
  std::mutex connections_mu_;
  std::list<Connection> connections_;
};

}  // namespace zimo::cardsim
