// Reading text responses over Ethernet: the response exchange and the line
// reader against scripted answers (every shape of packet a card or anything
// else may send), against the simulated card over UDP and TCP, against a
// card that stays silent (the time-out prompts) and against a rogue peer
// whose answers are too long or garbage.
#include "link/eth_response.h"

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/eth_api.h"
#include "eth_test_fixture.h"
#include "platform/debug.h"
#include "platform/message.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

// Plays the card from a script of answers; a missing answer (or the end of
// the script) is a failed exchange. An answer longer than the receive asks
// for fails as an oversized datagram does.
class ScriptedPeer : public EthPeer {
 public:
  explicit ScriptedPeer(std::vector<std::optional<std::string>> answers)
      : answers_(answers.begin(), answers.end()) {}

  std::optional<std::size_t> Exchange(const EthRequest& request, std::string_view payload,
                                      std::uint32_t, char* answer, std::size_t max) override {
    requests.push_back(request);
    payloads.emplace_back(payload);
    if (answers_.empty()) return std::nullopt;
    std::optional<std::string> next = std::move(answers_.front());
    answers_.pop_front();
    if (!next || next->size() > max) return std::nullopt;
    std::memcpy(answer, next->data(), next->size());
    return next->size();
  }
  int ReportFailure() override {
    ++failures_reported;
    return platform::wsa::kETimedOut;
  }
  void RestoreReplyFormat() override { ++restores; }
  void StoreUnsolicited(const char* text, std::size_t length) override {
    unsolicited.emplace_back(text, length);
  }

  std::vector<EthRequest> requests;
  std::vector<std::string> payloads;
  int failures_reported = 0;
  int restores = 0;
  std::vector<std::string> unsolicited;

 private:
  std::deque<std::optional<std::string>> answers_;
};

// A caller's buffer of max + 1 characters with guard bytes behind it.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::uint32_t max) : max_(max), bytes_(max + 1 + kGuard, kFill) {}
  char* data() { return bytes_.data(); }
  std::uint32_t max() const { return max_; }
  std::string text() const { return std::string(bytes_.data()); }
  bool guard_intact() const {
    for (std::size_t i = max_ + 1; i < bytes_.size(); ++i) {
      if (bytes_[i] != kFill) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kGuard = 64;
  static constexpr char kFill = '~';
  std::uint32_t max_;
  std::vector<char> bytes_;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(EthResponseCollectTest, PacketsBecomeStatusCountAndText) {
  const std::string full_x = Repeat('x', 1400);
  struct Case {
    const char* what;
    std::vector<std::optional<std::string>> packets;
    std::uint32_t max;
    std::uint32_t result;
    std::string text;
    int restores;
    std::uint32_t error;  // the last error it leaves
  };
  const Case cases[] = {
      {"lines and ACK", {"1\r2\r\x06"}, 100, 0x80000004, "1\r2\r", 0, 0},
      {"empty response", {"\x06"}, 100, 0x80000000, "", 0, 0},
      {"card error", {"\aERR003\r"}, 100, 0xE0000008, "\aERR003\r", 0, 3},
      {"card error into a small buffer", {"\aERR017\r"}, 3, 0xE0000003, "\aER", 0, 17},
      {"LF-ended reply", {"abc\n"}, 100, 0x80000004, "abc\n", 1, 0},
      {"CR-ended reply without ACK", {"12\r"}, 100, 0x00000003, "12\r", 1, 0},
      {"long CR-ended reply without ACK is no card error",
       {"12345678\r"},
       100,
       0x00000009,
       "12345678\r",
       1,
       0},
      {"reply cut short", {"abc"}, 100, 0x00000003, "abc", 1, 0},
      {"empty datagram", {""}, 100, 0x00000000, "", 1, 0},
      {"two packets", {full_x, "yz\x06"}, 2000, 0x80000000 | 1402, full_x + "yz", 0, 0},
      {"more than the caller takes",
       {full_x, Repeat('y', 1400), "\x06"},
       10,
       0xF000000A,
       Repeat('x', 10),
       0,
       54},
      {"card error after a full packet",
       {full_x, "ab\aERR012\r"},
       100,
       0xE0000064,
       Repeat('x', 100),
       0,
       12},
      {"card error after a full packet, all of it kept",
       {full_x, "ab\aERR012\r"},
       2000,
       0xE0000000 | 1410,
       full_x + "ab\aERR012\r",
       0,
       12},
      {"no answer in time", {std::nullopt}, 100, 0xF0000000, "", 0, 1021},
      {"continuation lost", {full_x, std::nullopt}, 2000, 1400, full_x, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer(c.packets);
    EthReceiveState state;
    GuardedBuffer buffer(c.max);
    EXPECT_EQ(CollectEthResponse(peer, state, "LIST", buffer.data(), c.max), c.result);
    EXPECT_EQ(buffer.text(), c.text);
    EXPECT_TRUE(buffer.guard_intact());
    EXPECT_EQ(peer.restores, c.restores);
    EXPECT_EQ(state.last_error, c.error);
    EXPECT_FALSE(state.HasUnread());
  }
}

TEST(EthResponseCollectTest, RequestsAreTheCommandThenContinuations) {
  ScriptedPeer peer({Repeat('x', 1400), Repeat('y', 1400), "z\x06"});
  EthReceiveState state;
  GuardedBuffer buffer(4000);
  EXPECT_EQ(CollectEthResponse(peer, state, "LIST PLC 3", buffer.data(), buffer.max()),
            0x80000000u | 2801);
  ASSERT_EQ(peer.requests.size(), 3u);
  EXPECT_EQ(peer.requests[0].RequestType, eth::kHostToCard);
  EXPECT_EQ(peer.requests[0].Request, eth::kGetResponse);
  EXPECT_EQ(peer.requests[0].wLength, 10);
  EXPECT_EQ(peer.payloads[0], "LIST PLC 3");
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(peer.requests[i].RequestType, eth::kCardToHost);
    EXPECT_EQ(peer.requests[i].Request, eth::kReadPending);
    EXPECT_EQ(peer.requests[i].wLength, 1400);
  }
  EXPECT_EQ(peer.failures_reported, 0);
}

TEST(EthResponseCollectTest, FailuresGoToTheSocketErrorReport) {
  ScriptedPeer first({std::nullopt});
  ScriptedPeer later({Repeat('x', 1400), std::nullopt});
  EthReceiveState state;
  char buffer[2000];
  CollectEthResponse(first, state, "I10", buffer, sizeof buffer - 1);
  CollectEthResponse(later, state, "I10", buffer, sizeof buffer - 1);
  EXPECT_EQ(first.failures_reported, 1);
  EXPECT_EQ(later.failures_reported, 1);
}

// A peer that answers every request with a full packet, for ever.
class EndlessPeer : public EthPeer {
 public:
  std::optional<std::size_t> Exchange(const EthRequest&, std::string_view, std::uint32_t,
                                      char* answer, std::size_t max) override {
    ++exchanges;
    std::memset(answer, 'x', max);
    return max;
  }
  int ReportFailure() override { return 0; }
  void RestoreReplyFormat() override {}
  void StoreUnsolicited(const char*, std::size_t) override {}
  std::size_t exchanges = 0;
};

TEST(EthResponseCollectTest, EndlessResponseEndsAtTheLimit) {
  EndlessPeer peer;
  EthReceiveState state;
  GuardedBuffer buffer(100);
  EXPECT_EQ(CollectEthResponse(peer, state, "I10", buffer.data(), buffer.max()), 0xF0000000u | 100);
  EXPECT_TRUE(buffer.guard_intact());
  EXPECT_LE(peer.exchanges * kEthChunk, kEthResponseLimit);
  EXPECT_LT(state.buffer.size(), 8 * kEthRecvBufferStep);  // beyond max nothing is kept

  EndlessPeer line_peer;
  std::uint32_t count = 0;
  EXPECT_EQ(ReadEthLine(line_peer, state, buffer.data(), buffer.max(), &count), 0xF0000000u);
  EXPECT_LE(state.buffer.size(), kEthResponseLimit);
  EXPECT_TRUE(buffer.guard_intact());
}

struct Line {
  std::string text;
  std::uint32_t status;
  std::uint32_t count;
};

// Runs the line reader `lines.size()` times against the packets.
void ExpectLines(ScriptedPeer& peer, EthReceiveState& state, std::uint32_t max,
                 const std::vector<Line>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE("line " + std::to_string(i));
    GuardedBuffer buffer(max);
    std::uint32_t count = 99;
    EXPECT_EQ(ReadEthLine(peer, state, buffer.data(), max, &count), lines[i].status);
    EXPECT_EQ(buffer.text(), lines[i].text);
    EXPECT_EQ(count, lines[i].count);
    EXPECT_TRUE(buffer.guard_intact());
  }
}

TEST(EthLineReaderTest, HandsOutOneLineAtATimeFromOneFetch) {
  struct Case {
    const char* what;
    std::vector<std::optional<std::string>> packets;
    std::uint32_t max;
    std::vector<Line> lines;
    std::size_t fetches;
  };
  std::string full;  // 14 lines of 99 characters and a CR: exactly one full packet
  for (int i = 0; i < 14; ++i) full += Repeat('a', 99) + "\r";
  std::vector<Line> long_lines(14, Line{Repeat('a', 99) + "\r", 0, 100});
  long_lines.push_back({"b\r", 0, 2});
  long_lines.push_back({"", 0x80000000, 0});
  const Case cases[] = {
      {"lines then the end",
       {"1\r2\r\x06"},
       100,
       {{"1\r", 0, 2}, {"2\r", 0, 2}, {"", 0x80000000, 0}},
       1},
      {"a line then a card error",
       {"1\r\aERR003\r"},
       100,
       {{"1\r", 0, 2}, {"\aERR003\r", 0xE0000000, 8}},
       1},
      {"CR LF lines",
       {"1\r\n2\r\n", "\x06"},
       100,
       {{"1\r", 0, 2}, {"2\r", 0, 2}, {"", 0x80000000, 0}},
       2},
      {"a line longer than the buffer comes in pieces",
       {"abcdef\r\x06"},
       4,
       {{"abcd", 0xF0000000, 4}, {"ef\r", 0, 3}, {"", 0x80000000, 0}},
       1},
      {"a response over two packets", {full, "b\r\x06"}, 200, long_lines, 2},
      {"a reply cut short", {"abc"}, 100, {{"", 0, 0}}, 1},
      {"no answer", {std::nullopt}, 100, {{"", 0xF0000000, 0}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer(c.packets);
    EthReceiveState state;
    ExpectLines(peer, state, c.max, c.lines);
    EXPECT_EQ(peer.requests.size(), c.fetches);
    for (const EthRequest& r : peer.requests) {
      EXPECT_EQ(r.RequestType, eth::kHostToCard);
      EXPECT_EQ(r.Request, eth::kReadPending);
      EXPECT_EQ(r.wLength, 1400);
    }
  }
}

TEST(EthLineReaderTest, CardErrorNumberAndRestoreAreKept) {
  ScriptedPeer peer({"1\r\aERR042\r"});
  EthReceiveState state;
  ExpectLines(peer, state, 100, {{"1\r", 0, 2}, {"\aERR042\r", 0xE0000000, 8}});
  EXPECT_EQ(state.last_error, 42u);

  ScriptedPeer cut({"abc"});
  ExpectLines(cut, state, 100, {{"", 0, 0}});
  EXPECT_EQ(cut.restores, 1);
  EXPECT_FALSE(state.HasUnread());
}

TEST(EthLineReaderTest, UnsolicitedLinesGoToTheRingAndLinesInFrontStay) {
  ScriptedPeer peer({"1\r\x02MOTOR 1 DONE\r"});
  EthReceiveState state;
  ExpectLines(peer, state, 100, {{"", 0x10000000, 0}, {"1\r", 0, 2}});
  ASSERT_EQ(peer.unsolicited.size(), 1u);
  EXPECT_EQ(peer.unsolicited[0], "MOTOR 1 DONE\r");
  EXPECT_EQ(peer.requests.size(), 1u);
}

// After a long response has been handed out, a short one that ends with LF
// is read as it is: nothing of the earlier text comes back.
TEST(EthLineReaderTest, NeverRescansTextOfAnEarlierFetch) {
  ScriptedPeer peer({"AAAAAAAAAAAAAAAA\r\x06", "B\n"});
  EthReceiveState state;
  ExpectLines(peer, state, 100,
              {{"AAAAAAAAAAAAAAAA\r", 0, 17}, {"", 0x80000000, 0}, {"B\n", 0x80000000, 2}});
}

// --- Against the simulated card ---------------------------------------------

class EthCardResponseTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    table_.Register(kDevice, 0, GetParam());
    ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  }

  static constexpr int kDevice = 0;
  zimo::testing::TempHome home_;
  std::string address_ = UniqueLoopbackAddress();
  EthCard card_{address_};
  EthTable table_;
};

TEST_P(EthCardResponseTest, CommandRoundTrip) {
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "I10"), 0x80000008u);
  EXPECT_EQ(buffer.text(), "3713707\r");
  EXPECT_TRUE(card_.Received("I10"));
}

TEST_P(EthCardResponseTest, ResponseOverSeveralPacketsIsReassembledExactly) {
  cardsim::Reply reply = card_.card().Execute("RHX$0,500");
  std::string expected;
  for (const std::string& line : reply.lines) expected += line + "\r";
  ASSERT_GT(expected.size(), 2 * kEthChunk);  // three packets

  GuardedBuffer buffer(8000);
  const std::uint32_t word = EthGetResponse(kDevice, buffer.data(), buffer.max(), "RHX$0,500");
  EXPECT_EQ(word, 0x80000000u | static_cast<std::uint32_t>(expected.size()));
  EXPECT_EQ(buffer.text(), expected);
}

TEST_P(EthCardResponseTest, LinesComeOneByOneThenTheEnd) {
  GuardedBuffer buffer(100);
  ASSERT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "P1=11 P2=22 P3=33"), 0x80000000u);
  ASSERT_EQ(EthSendLine(kDevice, "P1..3"), 5u + 8u);
  const std::vector<Line> lines = {
      {"11\r", 0, 3}, {"22\r", 0, 3}, {"33\r", 0, 3}, {"", 0x80000000, 0}};
  for (const Line& line : lines) {
    std::uint32_t count = 99;
    EXPECT_EQ(EthGetLine(kDevice, buffer.data(), buffer.max(), &count), line.status);
    EXPECT_EQ(buffer.text(), line.text);
    EXPECT_EQ(count, line.count);
  }
}

TEST_P(EthCardResponseTest, CardErrorsKeepTheirNumber) {
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "NONSENSE"), 0xE0000008u);
  EXPECT_EQ(buffer.text(), "\aERR003\r");
  EXPECT_EQ(EthGetLastError(kDevice), 3u);
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "I10"), 0x80000008u);
  EXPECT_EQ(EthGetLastError(kDevice), 0u);
}

// A response longer than the caller's buffer is reported as cut, as on the
// other links: failure with the characters stored and error 54.
TEST_P(EthCardResponseTest, ResponseLongerThanTheBufferIsACutNotAnEnd) {
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "I100..999"), 0xF0000064u);
  EXPECT_EQ(buffer.text().size(), 100u);
  EXPECT_EQ(EthGetLastError(kDevice), 54u);
  // The next exchange starts clean.
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "I10"), 0x80000008u);
  EXPECT_EQ(buffer.text(), "3713707\r");
}

TEST_P(EthCardResponseTest, ControlCharactersAnswerTextOrNothing) {
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetControlResponse(kDevice, buffer.data(), 100, 7), 13);
  EXPECT_EQ(buffer.text().size(), 13u);  // twelve hex digits and a CR; the ACK is not text
  EXPECT_EQ(buffer.text().back(), '\r');
  EXPECT_EQ(EthGetControlResponse(kDevice, buffer.data(), 100, 1), 0);
  EXPECT_EQ(buffer.text(), "");
}

TEST_P(EthCardResponseTest, ReplyWithoutAckRestoresTheReplyFormat) {
  card_.card().script().SetAckOmitted(true);
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetResponse(kDevice, buffer.data(), buffer.max(), "I10"), 0x00000008u);
  EXPECT_EQ(buffer.text(), "3713707\r");
  EXPECT_TRUE(card_.Received("I63=1I3=2"));
}

TEST_P(EthCardResponseTest, PendingOutputIsReportedAndFlushed) {
  EXPECT_EQ(EthReadReady(kDevice), 0u);
  ASSERT_EQ(EthSendLine(kDevice, "I10"), 11u);
  EXPECT_EQ(EthReadReady(kDevice), 1u);
  EXPECT_EQ(EthFlush(kDevice), 1);
  EXPECT_EQ(EthReadReady(kDevice), 0u);
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, EthCardResponseTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

// --- Through the command API ---------------------------------------------------

// An Ethernet device opened like any other: the command API's functions reach
// the card through this transport.
TEST(EthDispatchTest, CommandApiTalksToAnEthernetCard) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  const std::string address = UniqueLoopbackAddress();
  ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address)), 1);
  EthCard card(address);
  StandInServer server;
  ASSERT_EQ(OpenZimoDevice(0), 1);

  char buffer[64];
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "NONSENSE"), 0xE0000008u);
  EXPECT_EQ(ZimoGetError(0), 3);
  char text[100];
  EXPECT_EQ(ZimoGetErrorStrA(0, text, sizeof text), 3);
  EXPECT_STREQ(text, "Data error or unrecognized command.");

  ASSERT_EQ(ZimoGetResponseA(0, buffer, sizeof buffer, "P7=70 P8=80"), 0u);
  ZimoSendLineA(0, "P7..8");
  EXPECT_NE(ZimoReadReady(0), 0u);
  EXPECT_EQ(ZimoGetLineExA(0, buffer, sizeof buffer), 3u);
  EXPECT_STREQ(buffer, "70\r");
  EXPECT_EQ(ZimoGetLineExA(0, buffer, sizeof buffer), 3u);
  EXPECT_EQ(ZimoGetLineExA(0, buffer, sizeof buffer), 0x80000000u);

  EXPECT_EQ(ZimoGetControlResponseA(0, buffer, sizeof buffer, 7), 13u);
  EXPECT_EQ(ZimoFlush(0), 1);

  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(server.table()->Devices[0].TransportUserCount, 0u);
  EXPECT_EQ(server.table()->Devices[0].EthOwnerSocket, kNoOwner);
  App().End();
}

// --- A card that does not answer --------------------------------------------

constexpr char kTimeoutPrompt[] =
    "WSAETIMEDOUT! A connection attempt failed because the connected ZIMO\n"
    "did not properly respond after a period of time, or established\n"
    "connection failed because the connected host has failed to respond.\n"
    "If you unplugged the cable press yes and communication to this ZIMO\n"
    "will be terminated. If you have not powered off or unplugged your\n"
    "ZIMO the error may be due to a dropped packet";
constexpr char kNotifyPrompt[] =
    "Do you wish to receive be notified of any\npossible dropped packets in the future?";

class EthSilentCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEthTimeoutCapForTesting(150);
    card_.card().script().SetMuted(true);
  }
  void TearDown() override { SetEthTimeoutCapForTesting(0); }

  zimo::testing::TempHome home_;
  std::string address_ = UniqueLoopbackAddress();
  EthCard card_{address_};
  EthTable table_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_{boxes_};
};

TEST_F(EthSilentCardTest, DeviceZeroAsksWhetherTheCableWasUnplugged) {
  table_.Register(0, 0, false);
  ASSERT_NE(EthOpen(0, AddressNumber(address_)), nullptr);
  GuardedBuffer buffer(100);

  // No: a dropped packet, keep the link and go on being told.
  boxes_.QueueAnswers({platform::kIdNo, platform::kIdYes});
  EXPECT_EQ(EthGetResponse(0, buffer.data(), buffer.max(), "I10"), 0xF0000000u);
  EXPECT_EQ(platform::LastSocketError(), 10060);
  auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, kTimeoutPrompt);
  EXPECT_EQ(shown[0].caption, "ZIMO TCP/IP");
  EXPECT_EQ(shown[0].flags, platform::kMbYesNo | platform::kMbDefButton2 | platform::kMbTopmost);
  EXPECT_EQ(shown[1].text, kNotifyPrompt);
  EXPECT_TRUE(EthSocketValid(EthHolderOf(0).get()));
  EXPECT_TRUE(card_.Received("I10"));  // the card took the line and said nothing

  // Yes: the cable was unplugged; this process lets go of the socket.
  boxes_.Clear();
  boxes_.QueueAnswers({platform::kIdYes});
  char dpr[4];
  EXPECT_EQ(EthDPRGetMem(0, dpr, 0, 4), -1);
  EXPECT_EQ(boxes_.count(), 1u);
  EXPECT_FALSE(EthSocketValid(EthHolderOf(0).get()));
  EXPECT_EQ(table_.block(0).EthOwnerSocket, kNoOwner);

  // Every later operation fails and says why; nothing reads as success.
  EXPECT_EQ(EthGetResponse(0, buffer.data(), buffer.max(), "I10"), 0xF0000000u);
  EXPECT_EQ(EthGetLastError(0), 10057u);
  std::uint32_t count = 5;
  EXPECT_EQ(EthGetLine(0, buffer.data(), buffer.max(), &count), 0xF0000000u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(EthGetBuffer(0, buffer.data(), buffer.max(), &count), -1);
  EXPECT_EQ(EthGetControlResponse(0, buffer.data(), 100, 2), -1);
  EXPECT_EQ(EthSendLine(0, "I10"), 0xF0000000u);
  EXPECT_EQ(EthSendChar(0, 'A'), 0xF0000000u);
  EXPECT_EQ(EthFlush(0), -1);
  EXPECT_EQ(EthDPRGetMem(0, dpr, 0, 4), -1);
  EXPECT_EQ(EthDPRSetMem(0, dpr, 0, 4), -1);
  EXPECT_EQ(EthReadReady(0), 0u);
  EXPECT_EQ(boxes_.count(), 1u);  // and asks nobody again
}

TEST_F(EthSilentCardTest, OtherDevicesAndTheNoAnswerStopTheQuestions) {
  table_.Register(1, 0, false);
  ASSERT_NE(EthOpen(1, AddressNumber(address_)), nullptr);
  platform::DebugCapture debug;
  GuardedBuffer buffer(100);
  EXPECT_EQ(EthGetResponse(1, buffer.data(), buffer.max(), "I10"), 0xF0000000u);
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_TRUE(debug.Contains(kNotifyPrompt));
  // The dispatcher's view: a failure, no count.
  EXPECT_EQ(EthernetChannel().GetControlResponse(1, buffer.data(), buffer.max(), 2), 0xF0000000u);
  std::uint32_t count = 5;
  EXPECT_EQ(EthernetChannel().GetLine(1, buffer.data(), buffer.max(), &count), 0xF0000000u);
  EXPECT_EQ(count, 0u);
}

// --- A rogue peer -------------------------------------------------------------

TEST(EthRoguePeerTest, OversizedTruncatedAndGarbageAnswersNeverOverrunABuffer) {
  zimo::testing::TempHome home;
  const std::string address = UniqueLoopbackAddress();
  std::mt19937 random(20240601);
  std::mutex random_mutex;
  std::atomic<int> mode{0};
  RoguePeer peer(address, [&](const std::string& request) -> std::optional<std::string> {
    std::lock_guard<std::mutex> guard(random_mutex);
    // The flush that settles the link after an unanswered request is
    // acknowledged, as the card does; every other request gets the mode's
    // answer.
    if (request.size() >= 2 && static_cast<std::uint8_t>(request[1]) == eth::kFlush) {
      return std::string(1, '\x01');
    }
    switch (mode.load()) {
      case 0:  // oversized: more than any answer may be
        return Repeat('\x06', 1600);
      case 1:  // truncated
        return std::string("\x02");
      default: {  // garbage of any length up to a packet
        std::string bytes(random() % (kEthChunk + 1), 0);
        for (char& c : bytes) c = static_cast<char>(random());
        return bytes;
      }
    }
  });
  EthTable table;
  table.Register(1, 0, false);
  ASSERT_NE(EthOpen(1, AddressNumber(address)), nullptr);
  SetEthTimeoutCapForTesting(100);

  GuardedBuffer buffer(16);
  std::uint32_t count = 0;
  EXPECT_EQ(EthGetResponse(1, buffer.data(), buffer.max(), "I10"), 0xF0000000u);
  EXPECT_EQ(platform::LastSocketError(), 10040);
  EXPECT_EQ(EthSendLine(1, "I10"), 0xF0000000u);
  EXPECT_EQ(EthGetLine(1, buffer.data(), buffer.max(), &count), 0xF0000000u);
  EXPECT_TRUE(buffer.guard_intact());

  mode = 1;
  char dpr[8] = {};
  EXPECT_EQ(EthDPRGetMem(1, dpr, 0, 8), 1);
  std::uint8_t ip[4] = {};
  EXPECT_EQ(EthIpAddress(1, 0, ip), 1);

  mode = 2;
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    const std::uint32_t word = EthGetResponse(1, buffer.data(), buffer.max(), "I10");
    ASSERT_LE(word & 0x0FFFFFFF, buffer.max());
    ASSERT_LE(buffer.text().size(), buffer.max());
    const std::uint32_t status = EthGetLine(1, buffer.data(), buffer.max(), &count);
    ASSERT_LE(count, buffer.max());
    (void)status;
    const std::int32_t control =
        EthGetControlResponse(1, buffer.data(), static_cast<std::uint16_t>(buffer.max()), 2);
    ASSERT_TRUE(control == -1 || (control >= 0 && control <= 16)) << control;
    ASSERT_TRUE(buffer.guard_intact());
  }
  SetEthTimeoutCapForTesting(0);
}

}  // namespace
}  // namespace zimo::corvan
