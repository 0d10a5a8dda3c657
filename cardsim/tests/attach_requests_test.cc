// The card's request layer, driven without sockets: each request as the
// host builds it, the answer bytes the card gives back, and what the request
// did to the card.
#include "cardsim/attach_requests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cardsim/card.h"
#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
namespace rq = request;

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

uint32_t FromLe32(const std::string& s) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[i]);
  return v;
}

class RequestServerTest : public ::testing::Test {
 protected:
  explicit RequestServerTest(CardModel model = CardModel::Older())
      : card_(std::move(model)), server_(card_, 0x7F000005) {}

  RequestAnswer Send(uint8_t type, uint8_t code, uint16_t value, uint16_t index,
                     const std::string& payload, uint16_t length) {
    return server_.Handle(RequestHeader{type, code, value, index, length}, payload);
  }
  // A request with payload (wLength = its size).
  RequestAnswer Out(uint8_t code, const std::string& payload, uint16_t value = 0,
                    uint16_t index = 0, uint8_t type = rq::kHostToCard) {
    return Send(type, code, value, index, payload, static_cast<uint16_t>(payload.size()));
  }
  // A request that asks for `length` bytes of answer.
  RequestAnswer In(uint8_t code, uint16_t length, uint16_t value = 0,
                   uint8_t type = rq::kCardToHost) {
    return Send(type, code, value, 0, "", length);
  }
  std::string Text(const RequestAnswer& a) {
    EXPECT_TRUE(a.send);
    return a.bytes;
  }

  Card card_;
  RequestServer server_;
};

TEST(RequestHeaderTest, WordsAreBigEndianAndPayloadDependsOnTheRequest) {
  // Reading 8 DPR bytes at 0x0123.
  const RequestHeader read{rq::kCardToHost, rq::kReadDpr, 0x0123, 0, 8};
  EXPECT_EQ(read.Encode(), "\xC0\xB4\x01\x23\x00\x00\x00\x08"s);
  const auto back = RequestHeader::Parse(read.Encode());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->value, 0x0123);
  EXPECT_EQ(back->length, 8);
  EXPECT_FALSE(RequestHeader::Parse("\x40\xB0\x00"s));

  struct Case {
    uint8_t type, code;
    uint16_t length;
    std::optional<size_t> payload;
  } cases[] = {
      {rq::kHostToCard, rq::kSendLine, 5, 5},          // the text follows
      {rq::kHostToCard, rq::kSendLine, 1492, 1492},    // a full packet
      {rq::kHostToCard, rq::kSendLine, 1493, {}},      // more than a packet holds
      {rq::kCardToHost, rq::kReadDpr, 1400, 0},        // wLength is the answer's size
      {rq::kCardToHost, rq::kWriteDpr, 12, 12},
      {rq::kCardToHost, rq::kSetDprBit, 4, 4},
      {rq::kCardToHost, rq::kSetDprBits, 8, 8},
      {rq::kCardToHost, rq::kIpAddress, 4, 4},
      {rq::kHostToCard, rq::kReadPending, 1400, 0},
      {0x41, rq::kSendLine, 3, {}},                    // not a request type
      {rq::kHostToCard, 0xB2, 0, {}},                  // not a request the card knows
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PayloadLength(RequestHeader{c.type, c.code, 0, 0, c.length}), c.payload)
        << std::hex << int(c.type) << " " << int(c.code) << " " << std::dec << c.length;
  }
}

TEST_F(RequestServerTest, CommandWithResponseAnswersTheWholeReply) {
  EXPECT_EQ(Text(Out(rq::kGetResponse, "I10")), "3713707\r\x06");
  EXPECT_EQ(Text(Out(rq::kGetResponse, "NOSUCHCOMMAND")), "\aERR003\r");
  EXPECT_EQ(Text(Out(rq::kGetResponse, "P1=5 P1")), "5\r\x06");
}

TEST_F(RequestServerTest, LongReplyComesInPiecesOf1400) {
  // 1000 lines "0" CR and the ACK: 2001 bytes.
  const std::string first = Text(Out(rq::kGetResponse, "P1..1000"));
  ASSERT_EQ(first.size(), 1400u);
  const std::string rest = Text(In(rq::kReadPending, 1400, 0, rq::kCardToHost));
  EXPECT_EQ(rest.size(), 601u);
  EXPECT_EQ(rest.back(), '\x06');
  std::string all = first + rest;
  all.pop_back();
  for (size_t i = 0; i < all.size(); i += 2) ASSERT_EQ(all.substr(i, 2), "0\r") << i;
}

TEST_F(RequestServerTest, LinesSentAloneAreFetchedAsPendingOutput) {
  EXPECT_EQ(Text(Out(rq::kSendLine, "I10 P1..2")), "\x01");
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\x01\x00"s);
  // A small maximum takes the output in pieces.
  EXPECT_EQ(Text(In(rq::kReadPending, 4, 0, rq::kHostToCard)), "3713");
  EXPECT_EQ(Text(In(rq::kReadPending, 1400, 0, rq::kHostToCard)), "707\r0\r0\r\x06");
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\0\0"s);
  // Nothing waits: an empty, complete response.
  EXPECT_EQ(Text(In(rq::kReadPending, 1400, 0, rq::kHostToCard)), "\x06");

  Out(rq::kSendLine, "I10");
  EXPECT_EQ(Text(In(rq::kFlush, 0, 10, rq::kHostToCard)), "\x01");
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\0\0"s);
}

TEST_F(RequestServerTest, CharactersBuildLinesAndCtrlXDropsOutput) {
  for (char c : "P7=3\r"s) In(rq::kSendChar, 0, static_cast<uint8_t>(c), rq::kHostToCard);
  EXPECT_EQ(card_.PVar(7), 3);
  EXPECT_EQ(Text(In(rq::kReadPending, 1400)), "\x06");

  for (char c : "I10\r"s) In(rq::kSendChar, 0, static_cast<uint8_t>(c), rq::kHostToCard);
  // wValue carries the character as a signed byte widened to 16 bits.
  In(rq::kSendChar, 0, 0xFF18, rq::kHostToCard);
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\0\0"s);

  // Port register 7 is the same way into the interpreter.
  for (char c : "P8=4\r"s) {
    Send(rq::kHostToCard, rq::kWritePort, 7, static_cast<uint8_t>(c), "", 0);
  }
  EXPECT_EQ(card_.PVar(8), 4);
  EXPECT_EQ(Text(Send(rq::kHostToCard, rq::kWritePort, 17, 0, "", 0)), "\x00"s);
}

TEST_F(RequestServerTest, UnsolicitedMessagesComeOneFetchEach) {
  card_.PostUnsolicited("FIRST");
  card_.PostUnsolicited("SECOND");
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\x01\x00"s);
  EXPECT_EQ(Text(In(rq::kReadPending, 1400)), "\x02" "FIRST\r");
  EXPECT_EQ(Text(In(rq::kReadPending, 1400)), "\x02SECOND\r");
  EXPECT_EQ(Text(In(rq::kReadReady, 2)), "\0\0"s);
}

TEST_F(RequestServerTest, ControlCharacterAnswersEndWithAckAndFitTheMaximum) {
  const std::string status = Text(In(rq::kControlResponse, 1400, ctrl::kCtrlG));
  ASSERT_GE(status.size(), 2u);
  EXPECT_EQ(status.back(), '\x06');
  EXPECT_EQ(status[status.size() - 2], '\r');
  EXPECT_EQ(Text(In(rq::kControlResponse, 5, ctrl::kCtrlB)).size(), 5u);
  // A character without a reply of its own still gets an answer.
  EXPECT_EQ(Text(In(rq::kControlResponse, 100, 0x01)), "\x06");
}

TEST_F(RequestServerTest, DprBlocksStayInsideTheWindow) {
  EXPECT_EQ(Text(Out(rq::kWriteDpr, "\x11\x22\x33"s, 0x0123, 0, rq::kCardToHost)), "\x01");
  EXPECT_EQ(Text(In(rq::kReadDpr, 4, 0x0122)), "\x00\x11\x22\x33"s);
  EXPECT_EQ(Text(In(rq::kReadDpr, 4, 0x3FFC)).size(), 4u);

  const uint64_t refused = server_.refused();
  const RequestAnswer past_end = In(rq::kReadDpr, 8, 0x3FFC);
  EXPECT_TRUE(past_end.send);
  EXPECT_EQ(past_end.bytes, "");  // nothing could be read
  EXPECT_EQ(server_.refused(), refused + 1);
  EXPECT_EQ(Text(Out(rq::kWriteDpr, "\xAA\xBB\xCC\xDD\xEE"s, 0x3FFC, 0, rq::kCardToHost)), "\x00"s);
  EXPECT_EQ(card_.memory().DprDword(0x3FFC), 0u);  // nothing written
}

TEST_F(RequestServerTest, BitAndBitFieldWrites) {
  struct Case {
    uint8_t code;
    uint16_t index;  // 1 set, 0 clear (single bit)
    std::string payload;
    uint32_t before, after;
  } cases[] = {
      {rq::kSetDprBit, 1, Le32(1u << 3), 0x00000000, 0x00000008},
      {rq::kSetDprBit, 0, Le32(~(1u << 3)), 0xFFFFFFFF, 0xFFFFFFF7},
      // First bit 4, count 4, value 0xA: AND 0xFFFFFF0F, OR 0xA0.
      {rq::kSetDprBits, 0, Le32(0xFFFFFF0F) + Le32(0xA0), 0xFFFFFFFF, 0xFFFFFFAF},
      {rq::kSetDprBits, 0, Le32(0xFFFFFF0F) + Le32(0xA0), 0x12345678, 0x123456A8},
  };
  for (const Case& c : cases) {
    card_.memory().SetDprDword(0x40, c.before);
    EXPECT_EQ(Text(Out(c.code, c.payload, 0x40, c.index, rq::kCardToHost)), "\x01");
    EXPECT_EQ(card_.memory().DprDword(0x40), c.after) << std::hex << c.before;
  }
  EXPECT_EQ(Text(Out(rq::kSetDprBit, Le32(1), 0x3FFE, 1, rq::kCardToHost)), "\x00"s);
}

TEST_F(RequestServerTest, DownloadBlockStopsAtTheFailingLine) {
  const std::string block = "P1=5\0NOSUCHCOMMAND\0P2=6\0"s;
  const std::string answer = Text(Out(rq::kDownloadBlock, block));
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(FromLe32(answer), 0x80030002u);  // error 3 at the second line
  EXPECT_EQ(card_.PVar(1), 5);
  EXPECT_EQ(card_.PVar(2), 0);
  EXPECT_EQ(FromLe32(Text(Out(rq::kDownloadBlock, "P2=6\0"s))), 0u);
}

TEST_F(RequestServerTest, FirmwareBlocksOnlyInBootstrapMode) {
  EXPECT_EQ(Text(Out(rq::kFirmwareBlock, std::string(30, 'x'), 1)), "\x00"s);
  card_.EnterBootstrap();
  EXPECT_EQ(Text(Out(rq::kFirmwareBlock, std::string(1023, 'x'), 1)), "\x01");
  EXPECT_EQ(Text(Out(rq::kFirmwareBlock, std::string(6, 'x'), 0)), "\x01");
  EXPECT_EQ(card_.firmware_bytes(), 1029u);
}

TEST_F(RequestServerTest, IpAddressReadsAndWrites) {
  EXPECT_EQ(Text(Out(rq::kIpAddress, "\0\0\0\0"s, 0, 0, rq::kCardToHost)), "\x7F\x00\x00\x05"s);
  // The read form may come without its four bytes.
  EXPECT_EQ(Text(Send(rq::kCardToHost, rq::kIpAddress, 0, 0, "", 4)), "\x7F\x00\x00\x05"s);
  EXPECT_EQ(Text(Out(rq::kIpAddress, "\xC0\xA8\x01\x09"s)), "\xC0\xA8\x01\x09"s);
  EXPECT_EQ(Text(Out(rq::kIpAddress, "\0\0\0\0"s, 0, 0, rq::kCardToHost)), "\xC0\xA8\x01\x09"s);
}

TEST_F(RequestServerTest, MalformedRequestsAreRefusedWithoutAnswer) {
  struct Case {
    RequestHeader header;
    std::string payload;
  } cases[] = {
      {{rq::kHostToCard, rq::kSendLine, 0, 0, 5}, "I10"},          // shorter than announced
      {{rq::kHostToCard, rq::kSendLine, 0, 0, 2}, "I10"},          // longer than announced
      {{rq::kCardToHost, rq::kSetDprBits, 0, 0, 8}, "\0\0\0\0"s},  // a bit field needs 8 bytes
      {{rq::kHostToCard, rq::kFlush, 10, 0, 0}, "x"},              // no payload expected
      {{0x00, rq::kSendLine, 0, 0, 3}, "I10"},
      {{rq::kHostToCard, 0xFF, 0, 0, 0}, ""},
  };
  for (const Case& c : cases) {
    const uint64_t before = server_.refused();
    const RequestAnswer a = server_.Handle(c.header, c.payload);
    EXPECT_FALSE(a.send) << std::hex << int(c.header.request);
    EXPECT_EQ(server_.refused(), before + 1);
  }
  EXPECT_TRUE(card_.script().received().empty());  // nothing reached the interpreter
}

TEST_F(RequestServerTest, MutedCardTakesRequestsButAnswersNothing) {
  card_.script().SetMuted(true);
  card_.PostUnsolicited("KEPT");
  EXPECT_FALSE(In(rq::kReadPending, 1400).send);
  EXPECT_FALSE(Out(rq::kGetResponse, "I10").send);
  EXPECT_FALSE(Out(rq::kWriteDpr, "\x5A"s, 0x10, 0, rq::kCardToHost).send);
  EXPECT_EQ(card_.memory().DprDword(0x10) & 0xFF, 0x5Au);
  card_.script().SetMuted(false);
  EXPECT_EQ(Text(Out(rq::kGetResponse, "I10")), "3713707\r\x06");
  EXPECT_EQ(Text(In(rq::kReadPending, 1400)), "\x02KEPT\r");
}

TEST_F(RequestServerTest, ScriptedDelayHoldsTheAnswerBack) {
  card_.script().SetReplyDelay(std::chrono::milliseconds(40), 1);
  const RequestAnswer a = Out(rq::kGetResponse, "I10");
  EXPECT_EQ(a.bytes, "3713707\r\x06");
  EXPECT_EQ(a.delay, std::chrono::milliseconds(40));
  EXPECT_EQ(Out(rq::kGetResponse, "I10").delay.count(), 0);
}

// Rotary data over the network: staged commands (16-bit byte count, then
// the words) go into the ring of descriptor 0 in DPR, whole commands only.
class RotaryPutTest : public RequestServerTest {
 protected:
  explicit RotaryPutTest(CardModel model = CardModel::Older()) : RequestServerTest(model) {}

  // Descriptor 0 and its ring of `size` words at DPR byte 0xC00.
  void SetUpRing(uint16_t size, uint16_t host, uint16_t card, uint16_t status = 0) {
    Memory& m = card_.memory();
    const bool spran = card_.model().spran;
    desc_ = spran ? 0x1050 : 0x7DC;
    m.SetDprWord(desc_ + 0, status);
    m.SetDprWord(desc_ + 2, 1);
    m.SetDprWord(desc_ + 4, host);
    m.SetDprWord(desc_ + 6, card);
    m.SetDprWord(desc_ + 8, size);
    const uint32_t word = kRingByte / 4;
    m.SetDprWord(desc_ + 10, static_cast<uint16_t>(spran ? word - 0x450 : m.dpr_card_base() + word));
  }
  static std::string Command(uint32_t first, int words) {
    std::string s;
    s += static_cast<char>((words * 4) & 0xFF);
    s += static_cast<char>((words * 4) >> 8);
    for (int i = 0; i < words; ++i) s += Le32(first + i);
    return s;
  }
  uint32_t Put(const std::string& staged) {
    return FromLe32(Text(Out(rq::kRotaryPut, staged)));
  }
  uint32_t RingWord(int i) { return card_.memory().DprDword(kRingByte + 4 * i); }
  uint16_t HostIndex() { return card_.memory().DprWord(desc_ + 4); }

  static constexpr size_t kRingByte = 0x1200;  // inside the free DPR area
  size_t desc_ = 0;
};

TEST_F(RotaryPutTest, CommandWrapsAroundTheRing) {
  // Size 100, host index 98, card index 10: room 10 - (102 mod 100) = 8.
  SetUpRing(100, 98, 10);
  EXPECT_EQ(Put(Command(0x100, 8)), 34u);  // code 0, 2 + 32 bytes taken
  EXPECT_EQ(HostIndex(), 6);
  EXPECT_EQ(RingWord(98), 0x100u);
  EXPECT_EQ(RingWord(99), 0x101u);
  EXPECT_EQ(RingWord(0), 0x102u);
  EXPECT_EQ(RingWord(5), 0x107u);
  // The ring is full now: nothing taken.
  EXPECT_EQ(Put(Command(0x200, 1)), 1u << 16);
  EXPECT_EQ(HostIndex(), 6);
}

TEST_F(RotaryPutTest, OnlyWholeCommandsAreTaken) {
  SetUpRing(20, 0, 0);  // room 16 words
  EXPECT_EQ(Put(Command(1, 10) + Command(100, 10)), (3u << 16) | 42u);  // partly: the first
  EXPECT_EQ(HostIndex(), 10);
  EXPECT_EQ(RingWord(9), 10u);
}

TEST_F(RotaryPutTest, SizeErrorsAndBuffersNotSetUp) {
  SetUpRing(20, 0, 0, 0x8000);
  EXPECT_EQ(Put(Command(1, 2)) >> 16, 2u);  // the descriptor reports an error
  SetUpRing(0, 0, 0);
  EXPECT_EQ(Put(Command(1, 2)) >> 16, 1u);  // not set up
  SetUpRing(20, 0, 0);
  EXPECT_EQ(Put(Command(1, 17)) >> 16, 2u);  // can never fit
  EXPECT_EQ(Put("\x05\x00\x01\x02\x03\x04\x05"s) >> 16, 2u);  // not whole words
  EXPECT_EQ(Put("\x08\x00\x01\x02"s) >> 16, 2u);               // shorter than its count
  EXPECT_EQ(HostIndex(), 0);
}

TEST_F(RotaryPutTest, InitEmptiesTheRing) {
  SetUpRing(100, 40, 30);
  EXPECT_EQ(Text(Send(rq::kHostToCard, rq::kRotaryInit, 0, 0, "", 0)), "\x01");
  EXPECT_EQ(HostIndex(), 0);
  EXPECT_EQ(card_.memory().DprWord(desc_ + 6), 0);
  EXPECT_EQ(Text(Send(rq::kHostToCard, rq::kRotaryInit, 8, 0, "", 0)), "\x00"s);
}

class SpranRotaryPutTest : public RotaryPutTest {
 protected:
  SpranRotaryPutTest() : RotaryPutTest(CardModel::Spran()) {}
};

TEST_F(SpranRotaryPutTest, RingStartCountsFromWord0x450) {
  SetUpRing(50, 0, 0);
  EXPECT_EQ(Put(Command(0xABC, 3)), 14u);
  EXPECT_EQ(RingWord(0), 0xABCu);
  EXPECT_EQ(RingWord(2), 0xABEu);
}

}  // namespace
}  // namespace zimo::cardsim
