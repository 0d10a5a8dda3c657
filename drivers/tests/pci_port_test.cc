// The port channel: lines, status words, errors, time-outs and control
// characters, against the simulated card.
#include <algorithm>
#include <cstring>

#include "cardsim/script.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using PciPortTest = PciTest;

TEST_F(PciPortTest, SendsALineAndReadsTheReplyWithItsStatusWords) {
  AddCard();
  EXPECT_EQ(SendLine("I10"), 1u);
  LineIoBlock first = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_STREQ(first.text, "3713707\r");
  EXPECT_EQ(first.status, kLineCr);
  EXPECT_EQ(first.count, 8u);
  LineIoBlock end = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(end.status, kLineEnd);
  EXPECT_EQ(end.count, 0u);
  EXPECT_STREQ(end.text, "");
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, 0u);
}

TEST_F(PciPortTest, ALineLongerThanTheRequestIsCut) {
  AddCard();
  SendLine("I10");
  LineIoBlock cut = LineCode(IOCTL_ZIMO_BUS_GET_LINE, 0, 4);
  EXPECT_EQ(cut.status, kLineCut);
  EXPECT_EQ(cut.count, 3u);
  EXPECT_STREQ(cut.text, "371");
  // A request of 1 leaves room for the NUL only.
  LineIoBlock none = LineCode(IOCTL_ZIMO_BUS_GET_LINE, 0, 1);
  EXPECT_EQ(none.status, kLineCut);
  EXPECT_EQ(none.count, 0u);
}

TEST_F(PciPortTest, ACardErrorGivesTheErrorStatusAndItsNumber) {
  const int card = AddCard();
  Card(card).script().InjectError(12);
  SendLine("I10");
  LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(line.status, kLineError);
  EXPECT_EQ(line.text[0], '\a');
  EXPECT_NE(std::strstr(line.text, "ERR012"), nullptr);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, 12u);
}

TEST_F(PciPortTest, ASilentCardTimesOutWithError1006) {
  const int card = AddCard();
  Card(card).script().SetMuted(true);
  SendLine("I10");
  LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(line.status, kLineTimeout);
  EXPECT_EQ(line.count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, kErrorPortTimeout);
}

TEST_F(PciPortTest, TheDriversOwnExchangeRestoresThePortSettingsAfterATimeOut) {
  const int card = AddCard();
  Card(card).script().SetMuted(true);
  Card(card).script().ClearLog();
  // I10 through the driver's own exchange: nothing comes back, so the
  // default stands and the exchange sends its correction.
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10).count, kDefaultI10);
  const auto log = Card(card).script().received();
  EXPECT_NE(std::find(log.begin(), log.end(), "I3=2 I6=1"), log.end());
}

TEST_F(PciPortTest, ALineIsSentWithAtMost255Characters) {
  const int card = AddCard();
  Card(card).script().ClearLog();
  EXPECT_EQ(SendLine(std::string(300, 'P')), 1u);
  const auto log = Card(card).script().received();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), std::string(255, 'P'));
}

TEST_F(PciPortTest, ControlCharacterReplies) {
  AddCard();
  // CTRL-X is not one of the characters that answer a line.
  LineIoBlock x = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, 24);
  EXPECT_EQ(x.status, kLineEnd);
  EXPECT_EQ(x.count, 0u);
  EXPECT_STREQ(x.text, "");
  LineIoBlock e = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, 5);
  EXPECT_EQ(e.status, 0u);
  EXPECT_STREQ(e.text, "");
  // CTRL-B answers one line; the result always carries the end status.
  LineIoBlock b = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, 2);
  EXPECT_EQ(b.status, kLineEnd);
  EXPECT_GT(b.count, 0u);
}

// A control character's answer is taken up to its ACK: asked again and
// again, CTRL-G and CTRL-C give the whole status every time (an ACK left in
// the port would be the next call's empty answer), and a line sent after
// them reads its own reply.
TEST_F(PciPortTest, ControlAnswersAreTakenUpToTheirAck) {
  AddCard();
  for (char c : {char{7}, char{3}}) {
    SCOPED_TRACE(static_cast<int>(c));
    std::string first;
    for (int round = 0; round < 4; ++round) {
      LineIoBlock answer = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, c);
      EXPECT_EQ(answer.status, kLineEnd);
      ASSERT_GT(answer.count, 0u) << "round " << round;
      EXPECT_EQ(answer.text[answer.count - 1], '\r');
      if (round == 0) first = answer.text;
      EXPECT_EQ(std::string(answer.text), first);
    }
  }
  EXPECT_EQ(SendLine("I10"), 1u);
  LineIoBlock reply = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_STREQ(reply.text, "3713707\r");
}

TEST_F(PciPortTest, GetBufferTakesOneLineAndFlushesTheRest) {
  AddCard();
  SendLine("I10..12");
  // Wait until the reply starts arriving.
  for (int i = 0; i < 1000 && Query(IOCTL_ZIMO_BUS_READ_READY).count == 0; ++i) {
  }
  LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_BUFFER);
  EXPECT_STREQ(line.text, "3713707\r");
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_READ_READY).count, 0u);
  // Nothing waiting: an empty result.
  LineIoBlock empty = LineCode(IOCTL_ZIMO_BUS_GET_BUFFER);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.status, 0u);
}

TEST_F(PciPortTest, PortRegistersByteInTheCount) {
  AddCard();
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_WRITE, std::vector<uint8_t>{5, 0x5A}).count, 1u);
  // No output buffer: the byte read is the transfer count.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_READ, std::vector<uint8_t>{5}).count, 0x5Au);
  EXPECT_EQ(Query(IOCTL_ZIMO_CLEAR_PORT_REGS).count, 0u);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_READ, std::vector<uint8_t>{5}).count, 0u);
  // Registers past the card's range belong to other devices: refused.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_WRITE, std::vector<uint8_t>{200, 1}).count, 0u);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_READ, std::vector<uint8_t>{200}).count, 0u);
  // Missing input bytes change nothing.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_WRITE, std::vector<uint8_t>{5}).count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_SEND_CHAR).count, 0u);
}

TEST_F(PciPortTest, LineCodesWantTheWholeRecord) {
  AddCard();
  SendLine("I10");
  // An output of 267 bytes gets nothing, and the line stays for the next read.
  Reply r = Ioctl(IOCTL_ZIMO_BUS_GET_LINE, std::vector<uint8_t>(268, 0), 267);
  EXPECT_EQ(r.status, kernel::kStatusSuccess);
  EXPECT_EQ(r.count, 0u);
  EXPECT_STREQ(LineCode(IOCTL_ZIMO_BUS_GET_LINE).text, "3713707\r");
}

TEST_F(PciPortTest, ShortReadEndsAtLineFeedAndCountsTheTerminator) {
  AddCard();
  SendLine("I10");
  LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE_EX);
  EXPECT_EQ(line.status, kLineCr);
  EXPECT_STREQ(line.text, "3713707\r");
  LineIoBlock ack = LineCode(IOCTL_ZIMO_BUS_GET_LINE_EX);
  EXPECT_EQ(ack.status, kLineCr);
  EXPECT_EQ(ack.count, 1u);
  EXPECT_EQ(ack.text[0], '\x06');
}

}  // namespace
}  // namespace zimo::drivers::testing
