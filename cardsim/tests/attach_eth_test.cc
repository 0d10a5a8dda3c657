// The card's Ethernet port over real sockets: a client written here sends
// request packets over UDP and TCP to the card on a loopback address of its
// own and checks the answer bytes; bad packets must never crash the card or
// stop it answering.
#include "cardsim/attach_eth.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/card.h"
#include "loopback_address.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
namespace rq = request;

std::string Packet(uint8_t type, uint8_t code, uint16_t value, uint16_t index,
                   const std::string& payload, std::optional<uint16_t> length = {}) {
  const uint16_t l = length ? *length : static_cast<uint16_t>(payload.size());
  return RequestHeader{type, code, value, index, l}.Encode() + payload;
}

class Client {
 public:
  Client(int type, const std::string& address, uint16_t port) : fd_(::socket(AF_INET, type, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    const int one = 1;
    if (type == SOCK_STREAM) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }

  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // One receive (a datagram, or what a stream has), or nothing within `ms`.
  std::optional<std::string> Receive(int ms = kAnswerMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return std::nullopt;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
  }
  // Exactly `size` bytes from a stream.
  std::string ReceiveExact(size_t size) {
    std::string out;
    while (out.size() < size) {
      std::optional<std::string> part = Receive();
      if (!part || part->empty()) break;
      out += *part;
    }
    return out;
  }
  // True when the card ended the connection (end of stream or reset).
  bool Closed() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, kAnswerMs) <= 0) return false;
    char c;
    return ::recv(fd_, &c, 1, 0) <= 0;
  }
  std::optional<std::string> Ask(const std::string& packet, int ms = kAnswerMs) {
    Send(packet);
    return Receive(ms);
  }

 private:
  int fd_;
  bool connected_ = false;
};

class EthAttachmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    address_ = UniqueAddress();
    auto started = EthAttachment::Start(card_, EthOptions{address_, 1025, true, true});
    ASSERT_TRUE(started.ok()) << started.status().ToString();
    eth_ = std::move(*started);
  }
  Client Udp() { return Client(SOCK_DGRAM, address_, 1025); }
  Client Tcp() { return Client(SOCK_STREAM, address_, 1025); }

  Card card_{CardModel::Older()};
  std::string address_;
  std::unique_ptr<EthAttachment> eth_;
};

TEST_F(EthAttachmentTest, UdpRequestsGetTheirExactAnswers) {
  Client udp = Udp();
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10")), "3713707\r\x06");
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "BADCOMMAND")),
            "\aERR003\r");
  card_.memory().WriteDpr(0x0123, "ABCDEFGH", 8);
  EXPECT_EQ(udp.Ask(Packet(rq::kCardToHost, rq::kReadDpr, 0x0123, 0, "", 8)), "ABCDEFGH");
  in_addr own{};
  ::inet_pton(AF_INET, address_.c_str(), &own);  // network order: first number first
  EXPECT_EQ(udp.Ask(Packet(rq::kCardToHost, rq::kIpAddress, 0, 0, "\0\0\0\0"s)),
            std::string(reinterpret_cast<char*>(&own), 4));
  // A long reply: a full first packet, the rest on request.
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "P1..1000"))->size(), 1400u);
  const std::optional<std::string> rest =
      udp.Ask(Packet(rq::kCardToHost, rq::kReadPending, 0, 0, "", 1400));
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->size(), 601u);
  EXPECT_EQ(rest->back(), '\x06');
}

TEST_F(EthAttachmentTest, TcpStreamCarriesRequestsBackToBack) {
  Client tcp = Tcp();
  ASSERT_TRUE(tcp.connected());
  // Three requests in one write: the card cuts them apart by their headers.
  tcp.Send(Packet(rq::kCardToHost, rq::kWriteDpr, 0x200, 0, "\x01\x02\x03\x04"s) +
           Packet(rq::kCardToHost, rq::kReadDpr, 0x200, 0, "", 4) +
           Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10"));
  EXPECT_EQ(tcp.ReceiveExact(1 + 4 + 9), "\x01\x01\x02\x03\x04" "3713707\r\x06"s);
  // The read form of the address request, sent without its four bytes.
  tcp.Send(Packet(rq::kCardToHost, rq::kIpAddress, 0, 0, "", 4));
  EXPECT_EQ(tcp.ReceiveExact(4).size(), 4u);
  EXPECT_EQ(tcp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "P1=7 P1")), "7\r\x06");
}

TEST_F(EthAttachmentTest, SeveralPeersAtOnce) {
  constexpr int kPeers = 4;
  constexpr int kRounds = 40;
  std::atomic<int> good{0};
  std::vector<std::thread> peers;
  for (int p = 0; p < kPeers; ++p) {
    peers.emplace_back([&, p] {
      Client client = p % 2 == 0 ? Udp() : Tcp();
      for (int i = 0; i < kRounds; ++i) {
        // Each peer works on a P-variable of its own.
        const std::string value = std::to_string(p * 1000 + i);
        const std::string command = "P" + std::to_string(100 + p) + "=" + value + " P" +
                                    std::to_string(100 + p);
        if (client.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, command)) ==
            value + "\r\x06") {
          ++good;
        }
      }
    });
  }
  for (std::thread& t : peers) t.join();
  EXPECT_EQ(good, kPeers * kRounds);
}

TEST_F(EthAttachmentTest, BadDatagramsAreDroppedAndTheCardGoesOn) {
  Client udp = Udp();
  const std::string bad[] = {
      "\x40\xBF\x00"s,                                                     // truncated header
      Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10", 10),          // truncated payload
      Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10", 1),           // more than announced
      Packet(rq::kHostToCard, rq::kSendLine, 0, 0, std::string(1600, 'P')),  // oversized
      Packet(0x12, rq::kGetResponse, 0, 0, "I10"),                         // unknown type
      Packet(rq::kHostToCard, 0x01, 0, 0, ""),                             // unknown request
  };
  for (const std::string& packet : bad) {
    EXPECT_EQ(udp.Ask(packet, kSilenceMs), std::nullopt) << packet.size();
  }
  EXPECT_GE(eth_->server().refused(), std::size(bad));

  // Random bytes, a fixed seed: whatever the card makes of them, it must
  // survive and keep its DPR writes inside the window.
  std::mt19937 random(1234);
  for (int i = 0; i < 400; ++i) {
    std::string packet(random() % 40, '\0');
    for (char& c : packet) c = static_cast<char>(random());
    if (packet.size() > 1) packet[1] = static_cast<char>(0xB0 + random() % 0x40);
    udp.Send(packet);
  }
  while (udp.Receive(kSilenceMs)) {
  }
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10 I3=2 I6=1 I63=1")),
            "3713707\r\x06");
}

TEST_F(EthAttachmentTest, TcpPeerWithAGarbageHeaderIsDisconnected) {
  {
    Client tcp = Tcp();
    tcp.Send("\x99\x99\x00\x00\x00\x00\x00\x05hello"s);
    EXPECT_TRUE(tcp.Closed());
  }
  Client again = Tcp();
  EXPECT_EQ(again.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10")), "3713707\r\x06");
}

TEST_F(EthAttachmentTest, MutedCardIsSilentAndDelayedAnswersComeLate) {
  Client udp = Udp();
  card_.script().SetMuted(true);
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10"), kSilenceMs),
            std::nullopt);
  card_.script().SetMuted(false);

  card_.script().SetReplyDelay(std::chrono::milliseconds(600), 1);
  udp.Send(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10"));
  EXPECT_EQ(udp.Receive(kSilenceMs), std::nullopt);
  EXPECT_EQ(udp.Receive(), "3713707\r\x06");
}

TEST_F(EthAttachmentTest, AddressInUseIsReported) {
  Card other(CardModel::Older());
  auto second = EthAttachment::Start(other, EthOptions{address_, 1025, true, false});
  ASSERT_FALSE(second.ok());
  EXPECT_NE(second.status().message().find(address_ + ":1025"), std::string::npos)
      << second.status().ToString();
  EXPECT_FALSE(EthAttachment::Start(other, EthOptions{"127.0.0.300", 1025, true, true}).ok());
}

TEST_F(EthAttachmentTest, StopEndsEveryConnection) {
  Client tcp = Tcp();
  EXPECT_EQ(tcp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10")), "3713707\r\x06");
  eth_->Stop();
  EXPECT_TRUE(tcp.Closed());
  Client udp = Udp();
  EXPECT_EQ(udp.Ask(Packet(rq::kHostToCard, rq::kGetResponse, 0, 0, "I10"), kSilenceMs),
            std::nullopt);
}

}  // namespace
}  // namespace zimo::cardsim
