// The Ethernet transport: the request packets byte for byte, the time-out
// each request sets, connecting and closing (the close request, what a
// failed connect leaves), DPR blocks in network chunks through the DPR
// front, one device shared by two processes, and a TCP card that is killed.
#include "link/eth_transport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "corvan/dpr_api.h"
#include "corvan/eth_api.h"
#include "eth_test_fixture.h"
#include "link/eth_response.h"
#include "platform/message.h"
#include "platform/named_event.h"
#include "platform/process.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

constexpr int kDevice = 0;
constexpr int kOtherDevice = 1;

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
}

// The socket's receive time-out in milliseconds, as the kernel keeps it.
int ReceiveTimeoutMs(int device) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  if (holder == nullptr || !holder->socket.is_open()) return -1;
  timeval tv{};
  socklen_t len = sizeof tv;
  if (::getsockopt(holder->socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, &len) != 0) return -1;
  return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

class EthTransportTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  std::string address_ = UniqueLoopbackAddress();
  EthTable table_;
};

// Each request as it goes on the wire, answered by a peer that records it.
TEST_F(EthTransportTest, RequestsGoOutAsTheirPacketsWithBigEndianWords) {
  RoguePeer peer(address_, [](const std::string& request) -> std::optional<std::string> {
    const Header h = ParseHeader(request);
    if (h.request == eth::kReadDpr) return std::string(h.length, '\x5A');
    if (h.request == eth::kIpAddress) return Bytes({10, 0, 0, 7});
    if (h.request == eth::kRotBufPut) return Bytes({0x34, 0x12, 0x02, 0x00});
    return std::string(1, '\x01');
  });
  table_.Register(kDevice, 0, false);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);

  struct Case {
    const char* what;
    std::function<void()> call;
    std::string packet;
  };
  std::uint16_t word1 = 0, word2 = 0;
  char dpr[8] = {};
  std::uint8_t ip[4] = {};
  const Case cases[] = {
      {"read 8 DPR bytes at 0x0123", [&] { EXPECT_EQ(EthDPRGetMem(kDevice, dpr, 0x0123, 8), 8); },
       Bytes({0xC0, 0xB4, 0x01, 0x23, 0x00, 0x00, 0x00, 0x08})},
      {"field of 4 bits from bit 4 to 0xA",
       [&] { EXPECT_EQ(EthDPRSetMemBits(kDevice, 0x10, 4, 4, 0xA), 1); },
       Bytes({0xC0, 0xBB, 0x00, 0x10, 0x00, 0x00, 0x00, 0x08, 0x0F, 0xFF, 0xFF, 0xFF, 0xA0, 0x00,
              0x00, 0x00})},
      {"a value wider than its field keeps to it",
       [&] { EXPECT_EQ(EthDPRSetMemBits(kDevice, 0x10, 4, 4, 0x1F), 1); },
       Bytes({0xC0, 0xBB, 0x00, 0x10, 0x00, 0x00, 0x00, 0x08, 0x0F, 0xFF, 0xFF, 0xFF, 0xF0, 0x00,
              0x00, 0x00})},
      {"clear bit 3", [&] { EXPECT_EQ(EthDPRSetMemBit(kDevice, 0x20, 3, 0), 1); },
       Bytes({0xC0, 0xBA, 0x00, 0x20, 0x00, 0x00, 0x00, 0x04, 0xF7, 0xFF, 0xFF, 0xFF})},
      {"set bit 31", [&] { EXPECT_EQ(EthDPRSetMemBit(kDevice, 0x20, 31, 1), 1); },
       Bytes({0xC0, 0xBA, 0x00, 0x20, 0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x80})},
      {"Ctrl-X", [&] { EXPECT_EQ(EthSendChar(kDevice, 0x18), 1u); },
       Bytes({0x40, 0xB6, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00})},
      {"a character above 0x7F is a signed byte",
       [&] { EXPECT_EQ(EthSendChar(kDevice, static_cast<char>(0xC1)), 1u); },
       Bytes({0x40, 0xB6, 0xFF, 0xC1, 0x00, 0x00, 0x00, 0x00})},
      {"a command line without CR", [&] { EXPECT_EQ(EthSendLine(kDevice, "I10"), 11u); },
       Bytes({0x40, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 'I', '1', '0'})},
      {"flush", [&] { EXPECT_EQ(EthFlush(kDevice), 1); },
       Bytes({0x40, 0xB3, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00})},
      {"port register 7 = 0x0F", [&] { EXPECT_EQ(EthOutp(kDevice, 7, 0x0F), 1); },
       Bytes({0x40, 0xBE, 0x00, 0x07, 0x00, 0x0F, 0x00, 0x00})},
      {"read the IP address",
       [&] {
         EXPECT_EQ(EthIpAddress(kDevice, 0, ip), 4);
         EXPECT_EQ(ip[0], 10);
         EXPECT_EQ(ip[3], 7);
       },
       // The read form carries the caller's four bytes too.
       Bytes({0xC0, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0, 0, 0, 0})},
      {"rotary put into buffer 2",
       [&] {
         EXPECT_EQ(EthRotBufPut(kDevice, 2, "\x01\x02", 2, &word1, &word2), 4);
         EXPECT_EQ(word1, 0x1234);
         EXPECT_EQ(word2, 0x0002);
       },
       Bytes({0x40, 0xC8, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02})},
      {"rotary init of buffer 0x0103", [&] { EXPECT_EQ(EthRotBufInit(kDevice, 0x0103), 1); },
       Bytes({0x40, 0xCA, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = peer.requests().size();
    c.call();
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(Hex(requests.back()), Hex(c.packet));
  }
}

TEST_F(EthTransportTest, EachRequestSetsItsReceiveTimeout) {
  EthCard card(address_);
  table_.Register(kDevice, 0, false);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  char text[64];
  std::uint32_t count = 0;
  char dpr[4];
  std::uint8_t ip[4] = {};
  struct Case {
    const char* what;
    std::function<void()> call;
    int timeout_ms;
  };
  const Case cases[] = {
      {"command line", [&] { EthSendLine(kDevice, "I10"); }, 500},
      {"flush", [&] { EthFlush(kDevice); }, 250},
      {"DPR read", [&] { EthDPRGetMem(kDevice, dpr, 0, 4); }, 500},
      {"character", [&] { EthSendChar(kDevice, 'A'); }, 550},
      {"IP address", [&] { EthIpAddress(kDevice, 0, ip); }, 250},
      {"response", [&] { EthGetResponse(kDevice, text, sizeof text - 1, "I10"); }, 10000},
      {"port register", [&] { EthOutp(kDevice, 3, 0); }, 550},
      // Read ready and rotary init keep what the request before them set.
      {"read ready", [&] { EthReadReady(kDevice); }, 550},
      {"line", [&] { EthGetLine(kDevice, text, sizeof text - 1, &count); }, 10000},
      {"rotary init", [&] { EthRotBufInit(kDevice, 0); }, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.call();
    EXPECT_NEAR(ReceiveTimeoutMs(kDevice), c.timeout_ms, 10);
  }
}

// The card forgets the host of a datagram link only when told; a stream
// ends with its connection.
TEST_F(EthTransportTest, LastUserSendsTheCloseRequestOnDatagramLinksOnly) {
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "TCP" : "UDP");
    const std::string address = UniqueLoopbackAddress();
    RoguePeer peer(
        address,
        [](const std::string& request) {
          return ParseHeader(request).request == eth::kIpAddress ? Bytes({10, 0, 0, 7})
                                                                 : std::string(1, '\x01');
        },
        tcp);
    table_.Register(kDevice, 0, tcp);
    ASSERT_NE(EthOpen(kDevice, AddressNumber(address)), nullptr);
    EXPECT_EQ(table_.block(kDevice).TransportUserCount, 1u);
    EXPECT_EQ(table_.block(kDevice).EthOwnerProcessId,
              static_cast<std::uint32_t>(platform::CurrentProcessId()));
    std::uint8_t ip[4] = {};
    EXPECT_EQ(EthIpAddress(kDevice, 0, ip), 4);
    EXPECT_EQ(EthClose(kDevice), 0);
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), tcp ? 1u : 2u);
    if (!tcp) {
      EXPECT_EQ(Hex(requests[1]), Hex(Bytes({0x40, 0xD0, 0, 0, 0, 0, 0, 0})));
    }
    EXPECT_EQ(table_.block(kDevice).TransportUserCount, 0u);
    EXPECT_EQ(table_.block(kDevice).EthOwnerSocket, kNoOwner);
    EXPECT_EQ(table_.block(kDevice).EthOwnerProcessId, kNoOwner);
    // Closed: requests fail at once.
    char dpr[4];
    EXPECT_EQ(EthDPRGetMem(kDevice, dpr, 0, 4), -1);
  }
}

TEST_F(EthTransportTest, CloseThatIsNotTheLastClosesItsOwnSocketAndSendsNothing) {
  RoguePeer peer(address_, [](const std::string&) { return std::string(1, '\x01'); });
  table_.Register(kDevice, 0, false);
  table_.block(kDevice).TransportUserCount = 1;  // another process uses the device
  const int before = OpenDescriptors();
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  EXPECT_EQ(table_.block(kDevice).TransportUserCount, 2u);
  EthClose(kDevice);
  EXPECT_TRUE(peer.requests().empty());
  EXPECT_EQ(table_.block(kDevice).TransportUserCount, 1u);
  EXPECT_EQ(OpenDescriptors(), before);
  // Nobody may copy the number of a socket that was closed.
  EXPECT_EQ(table_.block(kDevice).EthOwnerSocket, kNoOwner);
}

// A client killed while it had the device open leaves its share behind; the
// next open gives it back, so the last real user still closes the link.
// The share of a process that is alive stays.
TEST_F(EthTransportTest, SharesOfEndedProcessesAreGivenBackAtTheNextOpen) {
  RoguePeer peer(address_, [](const std::string&) { return std::string(1, '\x01'); });
  table_.Register(kDevice, 0, false);
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const pid_t alive = ::fork();
  if (alive == 0) {
    ::pause();
    ::_exit(0);
  }

  // One share of a killed client, then one of a live one.
  SharedDeviceBlock& block = table_.block(kDevice);
  block.TransportUserCount = 1;
  block.TransportUserPids[0] = static_cast<std::uint32_t>(ended);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  EXPECT_EQ(block.TransportUserCount, 1u);
  EXPECT_EQ(EthClose(kDevice), 0);
  ASSERT_EQ(peer.requests().size(), 1u);
  EXPECT_EQ(Hex(peer.requests()[0]), Hex(Bytes({0x40, 0xD0, 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(block.TransportUserCount, 0u);

  block.TransportUserCount = 1;
  block.TransportUserPids[3] = static_cast<std::uint32_t>(alive);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  EXPECT_EQ(block.TransportUserCount, 2u);
  EXPECT_EQ(EthClose(kDevice), 0);
  EXPECT_EQ(peer.requests().size(), 1u);  // the live user still has the link
  EXPECT_EQ(block.TransportUserCount, 1u);
  ::kill(alive, SIGKILL);
  ::waitpid(alive, nullptr, 0);
}

TEST_F(EthTransportTest, FailedConnectLeavesNothingHeld) {
  // Nobody listens: the stream connect is refused.
  table_.Register(kDevice, 0, true);
  const int before = OpenDescriptors();
  EXPECT_EQ(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(table_.block(kDevice).TransportUserCount, 0u);
  EXPECT_EQ(table_.block(kDevice).EthOwnerSocket, kNoOwner);
  EXPECT_EQ(table_.block(kDevice).EthOwnerProcessId, kNoOwner);
  EXPECT_EQ(EthHolderOf(kDevice), nullptr);
}

// ZimoDPRGetMem of 3000 bytes: three requests of 1400, 1400 and 200 bytes at
// +0, +1400, +2800; a block one of whose chunks comes back short fails and
// leaves the caller's memory alone; bits answered with anything but the
// exact size fail.
TEST_F(EthTransportTest, DprBlocksGoInNetworkChunksAndFailUnlessEveryChunkCameWhole) {
  std::atomic<bool> cut_second_chunk{false};
  RoguePeer peer(address_, [&](const std::string& request) -> std::optional<std::string> {
    const Header h = ParseHeader(request);
    if (h.request == eth::kReadDpr) {
      std::string answer;
      for (int i = 0; i < h.length; ++i) answer.push_back(static_cast<char>((h.value + i) % 251));
      if (cut_second_chunk && h.value == 1400) answer.resize(100);
      return answer;
    }
    // The flush that settles the link after a request went unanswered is
    // acknowledged, as the card does.
    if (h.request == eth::kFlush) return std::string(1, '\x01');
    return std::nullopt;  // bits and writes: no answer
  });
  table_.Register(kOtherDevice, 0, false);
  ASSERT_NE(EthOpen(kOtherDevice, AddressNumber(address_)), nullptr);
  SetEthTimeoutCapForTesting(100);

  std::vector<char> block(3000, 0);
  ASSERT_EQ(ZimoDPRGetMem(kOtherDevice, 0, 3000, block.data()), block.data());
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(static_cast<unsigned char>(block[i]), i % 251) << i;
  auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::pair<int, int> chunks[] = {{0, 1400}, {1400, 1400}, {2800, 200}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ParseHeader(requests[i]).value, chunks[i].first);
    EXPECT_EQ(ParseHeader(requests[i]).length, chunks[i].second);
  }

  cut_second_chunk = true;
  std::vector<char> untouched(3000, '#');
  EXPECT_EQ(ZimoDPRGetMem(kOtherDevice, 0, 3000, untouched.data()), nullptr);
  EXPECT_EQ(std::string(untouched.begin(), untouched.end()), std::string(3000, '#'));

  // Bits that were never answered are no success (device 1 asks nobody
  // about time-outs).
  EXPECT_EQ(ZimoDPRSetMemBits(kOtherDevice, 0x10, 0, 4, 3), 0);
  EXPECT_EQ(ZimoDPRSetMemBit(kOtherDevice, 0x10, 1, 1), 0);
  std::uint32_t value = 7;
  EXPECT_EQ(ZimoDPRGetMemBits(kOtherDevice, 0x10, 4, 4, &value), 1);  // reads are answered
  EXPECT_EQ(value, 0x1u);  // the dword of pattern bytes 16, 17, 18, 19 is 0x13121110
  SetEthTimeoutCapForTesting(0);
}

TEST_F(EthTransportTest, BinaryRequestsReachTheCardOverDatagramsAndStreams) {
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "TCP" : "UDP");
    const std::string address = UniqueLoopbackAddress();
    EthCard card(address);
    table_.Register(kDevice, 0, tcp);
    ASSERT_NE(EthOpen(kDevice, AddressNumber(address)), nullptr);

    const char pattern[] = "dual-ported";
    EXPECT_EQ(EthDPRSetMem(kDevice, pattern, 0x200, sizeof pattern), 1);
    char back[sizeof pattern] = {};
    EXPECT_EQ(EthDPRGetMem(kDevice, back, 0x200, sizeof back), static_cast<int>(sizeof back));
    EXPECT_STREQ(back, pattern);

    EXPECT_EQ(EthDPRSetMemBits(kDevice, 0x300, 8, 4, 0x5), 1);
    EXPECT_EQ(EthDPRSetMemBit(kDevice, 0x300, 31, 1), 1);
    EXPECT_EQ(card.card().memory().DprDword(0x300), 0x80000500u);
    std::uint32_t field = 0, bit = 0;
    EXPECT_EQ(EthDPRGetMemBits(kDevice, 0x300, 8, 4, &field), 4);
    EXPECT_EQ(EthDPRGetMemBit(kDevice, 0x300, 31, &bit), 4);
    EXPECT_EQ(field, 0x5u);
    EXPECT_EQ(bit, 1u);

    std::uint8_t ip[4] = {};
    EXPECT_EQ(EthIpAddress(kDevice, 0, ip), 4);
    EXPECT_EQ((std::uint32_t{ip[0]} << 24 | ip[1] << 16 | ip[2] << 8 | ip[3]),
              AddressNumber(address));
    EthClose(kDevice);
  }
}

// One card, two processes: the second takes a copy of the first one's
// socket, and each process's requests get their own answers.
TEST_F(EthTransportTest, TwoProcessesShareOneDeviceWithoutMixingAnswers) {
  EthCard card(address_);
  table_.Register(kDevice, 0, false);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  const std::string mine(8, 'P'), theirs(12, 'C');
  card.card().memory().WriteDpr(0x100, mine.data(), mine.size());
  card.card().memory().WriteDpr(0x200, theirs.data(), theirs.size());

  auto child = platform::Spawn(
      {SelfPath(), "--gtest_filter=EthSharedDeviceChild.DISABLED_RequestsOfTheSecondProcess",
       "--gtest_also_run_disabled_tests"},
      WithEnvironment("ZIMO_TEST_ETH_ADDRESS=" + address_));
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  // The child says when it has opened and waits until the user count has
  // been looked at, so the count is seen while both hold the device.
  const std::filesystem::path opened = home_.path() / "child-opened";
  const std::filesystem::path seen = home_.path() / "child-seen";
  int rounds = 0;
  bool checked_second_user = false;
  while (child->IsRunning()) {
    char got[8] = {};
    ASSERT_EQ(EthDPRGetMem(kDevice, got, 0x100, sizeof got), 8);
    ASSERT_EQ(std::string(got, 8), mine);
    if (!checked_second_user && std::filesystem::exists(opened)) {
      EXPECT_EQ(table_.block(kDevice).TransportUserCount, 2u);
      checked_second_user = true;
      std::ofstream(seen).put('1');
    }
    ++rounds;
  }
  auto code = child->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0) << "the second process got answers that were not its own";
  EXPECT_GT(rounds, 0);
  EXPECT_TRUE(checked_second_user);
  EXPECT_EQ(table_.block(kDevice).TransportUserCount, 1u);
}

TEST(EthSharedDeviceChild, DISABLED_RequestsOfTheSecondProcess) {
  const char* address = std::getenv("ZIMO_TEST_ETH_ADDRESS");
  ASSERT_NE(address, nullptr);
  App().Start();  // maps the table the first process made
  EthSocketHolder* holder = EthOpen(kDevice, AddressNumber(address));
  ASSERT_NE(holder, nullptr);
  auto copy = platform::DuplicateFdFromProcess(
      static_cast<pid_t>(App().Block(kDevice)->EthOwnerProcessId), 0);
  if (copy.ok() || copy.status().code() != platform::Code::kOsError) {
    // Copying descriptors is allowed here, so the socket is the owner's.
    EXPECT_FALSE(holder->owner);
  }
  if (copy.ok()) ::close(*copy);
  const char* home = std::getenv("ZIMO_HOME");
  ASSERT_NE(home, nullptr);
  std::ofstream(std::filesystem::path(home) / "child-opened").put('1');
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(std::filesystem::path(home) / "child-seen")) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the first process never looked";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int i = 0; i < 2000; ++i) {
    char got[12] = {};
    ASSERT_EQ(EthDPRGetMem(kDevice, got, 0x200, sizeof got), 12);
    ASSERT_EQ(std::string(got, 12), std::string(12, 'C'));
  }
  EthClose(kDevice);
}

// A TCP card whose process is killed: the next request meets a reset
// connection (10054), the user is told, and this process lets go of the
// socket.
TEST_F(EthTransportTest, KilledStreamPeerTearsTheConnectionDown) {
  auto card =
      platform::Spawn({SelfPath(), "--gtest_filter=EthCardProcess.DISABLED_ServeUntilKilled",
                       "--gtest_also_run_disabled_tests"},
                      WithEnvironment("ZIMO_TEST_ETH_ADDRESS=" + address_));
  ASSERT_TRUE(card.ok());
  table_.Register(kDevice, 0, true);
  EthSocketHolder* holder = nullptr;
  for (int i = 0; i < 400 && holder == nullptr; ++i) {
    holder = EthOpen(kDevice, AddressNumber(address_));
    if (holder == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_NE(holder, nullptr) << "the card process did not come up";
  char text[64];
  EXPECT_EQ(EthGetResponse(kDevice, text, sizeof text - 1, "I10"), 0x80000008u);

  ASSERT_TRUE(card->Signal(SIGKILL).ok());
  ASSERT_TRUE(card->Wait(std::chrono::seconds(30)).ok());

  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  EXPECT_EQ(EthGetResponse(kDevice, text, sizeof text - 1, "I10"), 0xF0000000u);
  EXPECT_EQ(platform::LastSocketError(), 10054);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.last()->caption, "ZIMO TCP/IP");
  EXPECT_EQ(boxes.last()->text,
            "The vital circuit was reset by the remote side.\n"
            "Close all connections to ZIMO including ZIMOServer then replug");
  EXPECT_EQ(boxes.last()->flags & platform::kMbTopmost, platform::kMbTopmost);
  EXPECT_FALSE(EthSocketValid(EthHolderOf(kDevice).get()));
  EXPECT_EQ(table_.block(kDevice).EthOwnerSocket, kNoOwner);
  auto event = platform::NamedEvent::Open("ETHEvent0");
  ASSERT_TRUE(event.ok());
  EXPECT_TRUE(event->Wait(std::chrono::milliseconds(0)).ok());
  // Without a socket every request fails at once.
  EXPECT_EQ(EthGetResponse(kDevice, text, sizeof text - 1, "I10"), 0xF0000000u);
  EXPECT_EQ(boxes.count(), 1u);
}

TEST_F(EthTransportTest, LostConnectionStaysQuietWithNoUnplugMessage) {
  RoguePeer peer(address_, [](const std::string&) { return std::nullopt; });
  table_.Register(kDevice, 0, false);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "NoUnplugMessage", 1), 1);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  platform::SetLastSocketError(10053);
  EXPECT_EQ(EthReportSocketError(kDevice), 10053);
  EXPECT_EQ(boxes.count(), 0u);
  EXPECT_FALSE(EthSocketValid(EthHolderOf(kDevice).get()));
}

TEST(EthCardProcess, DISABLED_ServeUntilKilled) {
  const char* address = std::getenv("ZIMO_TEST_ETH_ADDRESS");
  ASSERT_NE(address, nullptr);
  EthCard card(address, false, true);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace
}  // namespace zimo::corvan
