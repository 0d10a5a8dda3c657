#include "platform/socket.h"

#include <cstring>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;

// A loopback address of our own (127.0.0.2 .. 127.0.0.250), so tests running
// in parallel do not meet.
uint32_t RandomLoopback() {
  static std::mt19937 rng{std::random_device{}()};
  return Ipv4Address(127, 0, 0, static_cast<uint8_t>(std::uniform_int_distribution<>(2, 250)(rng)));
}

// A socket of `type` bound to `port` on a loopback address of its own; for
// a fixed port a taken address is skipped.
Socket BoundSocket(SocketType type, uint16_t port, Ipv4Endpoint* where) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    auto s = Socket::Create(type);
    EXPECT_TRUE(s.ok());
    Ipv4Endpoint local{RandomLoopback(), port};
    Status st = s->Bind(local);
    if (st.ok()) {
      *where = *s->LocalEndpoint();
      return std::move(*s);
    }
    EXPECT_EQ(LastSocketError(), wsa::kEAddrInUse) << st.ToString();
  }
  ADD_FAILURE() << "no free loopback address";
  return Socket();
}

TEST(SocketTest, UdpExchangeOnPort1025AndReceiveTimeout) {
  Ipv4Endpoint card;
  Socket server = BoundSocket(SocketType::kDatagram, 1025, &card);
  ASSERT_TRUE(server.is_open());
  EXPECT_EQ(card.port, 1025);

  auto client = Socket::Create(SocketType::kDatagram);
  ASSERT_TRUE(client.ok());
  // The host binds a chosen local address of its own, then fixes its peer.
  ASSERT_TRUE(client->Bind({RandomLoopback(), 0}).ok());
  ASSERT_TRUE(client->Connect(card, milliseconds(1000)).ok());
  ASSERT_TRUE(client->SetReceiveTimeout(2000).ok());

  const unsigned char request[8] = {0xC0, 0xB4, 0x01, 0x23, 0x00, 0x00, 0x00, 0x08};
  auto sent = client->Send(request, sizeof request);
  ASSERT_TRUE(sent.ok());
  EXPECT_EQ(*sent, 8u);

  unsigned char got[16];
  Ipv4Endpoint from;
  auto n = server.ReceiveFrom(got, sizeof got, &from);
  ASSERT_TRUE(n.ok()) << n.status().ToString();
  ASSERT_EQ(*n, 8u);
  EXPECT_EQ(std::memcmp(got, request, 8), 0);
  EXPECT_EQ(from, *client->LocalEndpoint());
  ASSERT_TRUE(server.SendTo("12345678", 8, from).ok());

  char answer[16];
  auto r = client->Receive(answer, sizeof answer);
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(std::string(answer, *r), "12345678");

  // Nothing more comes: the receive time-out is WSAETIMEDOUT.
  ASSERT_TRUE(client->SetReceiveTimeout(30).ok());
  SetLastSocketError(0);
  auto none = client->Receive(answer, sizeof answer);
  EXPECT_EQ(none.status().code(), Code::kTimeout);
  EXPECT_EQ(LastSocketError(), 10060);
  EXPECT_EQ(WsaErrorFromStatus(none.status(), SocketCall::kReceive), 10060);
}

TEST(SocketTest, UdpToAPortNobodyServesIsConnectionReset) {
  Ipv4Endpoint gone;
  {
    Socket s = BoundSocket(SocketType::kDatagram, 0, &gone);
  }  // closed: the port is unreachable now
  auto client = Socket::Create(SocketType::kDatagram);
  ASSERT_TRUE(client.ok());
  ASSERT_TRUE(client->Connect(gone).ok());
  ASSERT_TRUE(client->SetReceiveTimeout(2000).ok());
  ASSERT_TRUE(client->Send("x", 1).ok());
  char b[4];
  auto r = client->Receive(b, sizeof b);
  EXPECT_EQ(r.status().code(), Code::kClosed) << r.status().ToString();
  EXPECT_EQ(LastSocketError(), 10054);
}

TEST(SocketTest, OversizedDatagramIsMessageSizeError) {
  Ipv4Endpoint card;
  Socket server = BoundSocket(SocketType::kDatagram, 0, &card);
  auto client = Socket::Create(SocketType::kDatagram);
  ASSERT_TRUE(client.ok());
  ASSERT_TRUE(client->Connect(card).ok());
  ASSERT_TRUE(client->Send("ABCDEFGH", 8).ok());
  char b[4] = {};
  ASSERT_TRUE(server.SetReceiveTimeout(2000).ok());
  auto r = server.Receive(b, sizeof b);
  EXPECT_EQ(r.status().code(), Code::kBadData);
  EXPECT_EQ(LastSocketError(), 10040);
  EXPECT_EQ(std::string(b, 4), "ABCD");
}

TEST(SocketTest, TcpExchangeNoDelayTimeoutAndClose) {
  Ipv4Endpoint card;
  Socket listener = BoundSocket(SocketType::kStream, 0, &card);
  ASSERT_TRUE(listener.Listen().ok());
  EXPECT_EQ(listener.Accept(milliseconds(10)).status().code(), Code::kTimeout);

  auto client = Socket::Create(SocketType::kStream);
  ASSERT_TRUE(client.ok());
  ASSERT_TRUE(client->Connect(card, milliseconds(5000)).ok());
  ASSERT_TRUE(client->SetNoDelay(true).ok());
  auto peer = listener.Accept(milliseconds(5000));
  ASSERT_TRUE(peer.ok()) << peer.status().ToString();
  EXPECT_EQ(*peer->PeerEndpoint(), *client->LocalEndpoint());

  ASSERT_TRUE(client->Send("\x40\xBF\x00\x00\x00\x00\x00\x01?", 9).ok());
  char got[9];
  size_t have = 0;
  ASSERT_TRUE(peer->SetReceiveTimeout(2000).ok());
  while (have < sizeof got) {
    auto n = peer->Receive(got + have, sizeof got - have);
    ASSERT_TRUE(n.ok() && *n > 0);
    have += *n;
  }
  EXPECT_EQ(got[8], '?');
  ASSERT_TRUE(peer->Send("1\r\x06", 3).ok());

  ASSERT_TRUE(client->SetReceiveTimeout(2000).ok());
  char answer[8];
  auto r = client->Receive(answer, sizeof answer);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::string(answer, *r), "1\r\x06");

  ASSERT_TRUE(client->SetReceiveTimeout(30).ok());
  EXPECT_EQ(client->Receive(answer, sizeof answer).status().code(), Code::kTimeout);
  EXPECT_EQ(LastSocketError(), 10060);

  peer->Close();
  ASSERT_TRUE(client->SetReceiveTimeout(2000).ok());
  auto end = client->Receive(answer, sizeof answer);
  ASSERT_TRUE(end.ok());
  EXPECT_EQ(*end, 0u);  // orderly close, as recv reports it
}

TEST(SocketTest, TcpConnectRefusedIsConnectionReset) {
  Ipv4Endpoint gone;
  { Socket s = BoundSocket(SocketType::kStream, 0, &gone); }
  for (Timeout timeout : {Timeout(5000), kWaitForever}) {
    auto client = Socket::Create(SocketType::kStream);
    ASSERT_TRUE(client.ok());
    SetLastSocketError(0);
    Status st = client->Connect(gone, timeout);
    EXPECT_EQ(st.code(), Code::kClosed) << st.ToString();
    EXPECT_EQ(LastSocketError(), 10054);
    EXPECT_EQ(WsaErrorFromStatus(st), 10054);
  }
}

TEST(SocketTest, ShutdownWakesABlockedDatagramReceive) {
  Ipv4Endpoint where;
  Socket server = BoundSocket(SocketType::kDatagram, 0, &where);
  Result<size_t> seen = Status(Code::kOsError, "not yet");
  std::thread reader([&] {
    char b[8];
    seen = server.ReceiveFrom(b, sizeof b, nullptr);  // no time-out set
  });
  std::this_thread::sleep_for(milliseconds(20));
  server.Shutdown();
  reader.join();
  ASSERT_TRUE(seen.ok()) << seen.status().ToString();
  EXPECT_EQ(*seen, 0u);
}

TEST(SocketTest, LastErrorIsPerThread) {
  SetLastSocketError(10054);
  int other = -1;
  std::thread([&] { other = LastSocketError(); }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(LastSocketError(), 10054);
}

}  // namespace
}  // namespace zimo::platform
