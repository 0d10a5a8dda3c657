// The DPR mailbox channel on both layouts, and what the driver makes of the
// status words the card posts.
#include <cstring>

#include "cardsim/memory.h"
#include "cardsim/script.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

struct Layout {
  const char* name;
  bool spran;
  size_t host_flag, control, host_text, card_status, card_count, card_text;
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

const Layout kLayouts[] = {
    {"Older", false, 0x62C, 0x62E, 0x630, 0x6D0, 0x6D2, 0x6D4},
    {"Spran", true, 0xE9C, 0xE9E, 0xEA0, 0xF40, 0xF42, 0xF44},
};

class PciMailboxTest : public PciTest, public ::testing::WithParamInterface<Layout> {
 protected:
  // A card with its mailbox firmware on (I58=1), or off to post by hand.
  int AddLayoutCard(bool firmware) {
    host::CardConfig config;
    config.spran = GetParam().spran;
    const int card = AddCard(config);
    PortExchange(firmware ? "I58=1" : "I58=0");
    return card;
  }
  cardsim::Memory& Dpr(int card) { return Card(card).memory(); }
  // What a card posts: status, count and text.
  void Post(int card, uint16_t status, uint16_t count, const std::string& text) {
    Dpr(card).WriteDpr(GetParam().card_text, text.data(), text.size());
    Dpr(card).SetDprWord(GetParam().card_count, count);
    Dpr(card).SetDprWord(GetParam().card_status, status);
  }
};

TEST_P(PciMailboxTest, SendsALineAndReadsItsReply) {
  AddLayoutCard(true);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("I10")).count, 3u);
  LineIoBlock line = LineCode(IOCTL_ZIMO_DPR_GET_LINE);
  EXPECT_STREQ(line.text, "3713707");
  EXPECT_EQ(line.status, kLineCr);
  EXPECT_EQ(line.count, 7u);
  LineIoBlock end = LineCode(IOCTL_ZIMO_DPR_GET_LINE);
  EXPECT_EQ(end.status, kLineEnd);
  EXPECT_EQ(end.count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, 0u);
}

TEST_P(PciMailboxTest, Refuses160Characters) {
  const int card = AddLayoutCard(true);
  Card(card).script().ClearLog();
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text(std::string(160, 'A'))).count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, 0u);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("P1=" + std::string(156, '1'))).count, 159u);
  LineCode(IOCTL_ZIMO_DPR_GET_LINE);  // the card takes the line as time goes on
  const auto log = Card(card).script().received();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].size(), 159u);
}

TEST_P(PciMailboxTest, ACardErrorBecomesTheErrorTextAndNumber) {
  const int card = AddLayoutCard(true);
  Card(card).script().InjectError(12);
  Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("I10"));
  LineIoBlock line = LineCode(IOCTL_ZIMO_DPR_GET_LINE);
  EXPECT_EQ(line.status, kLineError);
  EXPECT_EQ(line.count, 7u);
  EXPECT_STREQ(line.text, "\aERR012");
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, 12u);
}

TEST_P(PciMailboxTest, NothingPostedTimesOutWithError1007) {
  AddLayoutCard(false);
  LineIoBlock line = LineCode(IOCTL_ZIMO_DPR_GET_LINE);
  EXPECT_EQ(line.status, kLineTimeout);
  EXPECT_EQ(line.count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, kErrorMailboxTimeout);
}

TEST_P(PciMailboxTest, PostedStatusWords) {
  const int card = AddLayoutCard(false);
  struct Case {
    uint16_t status, count;
    std::string text;
    uint32_t line_status, line_count;
    std::string line_text;
    uint32_t last_error;
  };
  const std::string full(255, 'x');
  const Case cases[] = {
      {13, 4, "abc", kLineCr, 3, "abc", 0},
      {0x10D, 3, "xy", kLineMore, 2, "xy", 0},
      {6, 1, "", kLineEnd, 0, "", 0},
      {0x8012, 0, "", kLineError, 7, "\aERR012", 12},
      {0x8005, 0, "", kLineError, 7, "\aERR005", 5},
      // A count of 0 is an empty line, not 255 bytes of the slot.
      {13, 0, "garbage", kLineCr, 0, "", 0},
      // The largest reply: 255 characters, whose count (one more) needs the
      // word's ninth bit; a count beyond that still takes only the slot.
      {13, 256, full, kLineCr, 255, full, 0},
      {13, 300, full, kLineCr, 255, full, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Post(card, c.status, c.count, c.text);
    EXPECT_EQ(Query(IOCTL_ZIMO_DPR_READ_READY).count, 1u);
    LineIoBlock line = LineCode(IOCTL_ZIMO_DPR_GET_LINE);
    EXPECT_EQ(line.status, c.line_status);
    EXPECT_EQ(line.count, c.line_count);
    EXPECT_EQ(std::string(line.text), c.line_text);
    EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, c.last_error);
    // Taken: the status word is cleared for the card's next entry.
    EXPECT_EQ(Dpr(card).DprWord(GetParam().card_status), 0u);
  }
}

TEST_P(PciMailboxTest, ControlCharactersFollowTheLayout) {
  const int card = AddLayoutCard(false);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_CONTROL, std::vector<uint8_t>{0x0B}).count, 1u);
  uint8_t control = 0;
  Dpr(card).ReadDpr(GetParam().control, &control, 1);
  EXPECT_EQ(control, 0x0B);
  // Older cards take the character with the flag word; SPRAN cards watch
  // the control byte on its own.
  EXPECT_EQ(Dpr(card).DprWord(GetParam().host_flag), GetParam().spran ? 0u : 1u);
}

TEST_P(PciMailboxTest, AWriteWaitsForTheCardToTakeThePreviousCommand) {
  AddLayoutCard(false);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("I10")).count, 3u);
  // The firmware is off: the flag stays set and the next write times out.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("I11")).count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, kErrorMailboxTimeout);
}

TEST_P(PciMailboxTest, ControlResponses) {
  AddLayoutCard(true);
  // CTRL-X only flushes.
  LineIoBlock x = LineCode(IOCTL_ZIMO_DPR_CONTROL_RESPONSE, 24);
  EXPECT_EQ(x.status, 0u);
  EXPECT_EQ(x.count, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_READ_READY).count, 0u);
  // CTRL-B: the card posts the status words of its eight motors (12 hex
  // digits each, CR between them) as one entry, which carries the end status.
  LineIoBlock b = LineCode(IOCTL_ZIMO_DPR_CONTROL_RESPONSE, 2);
  EXPECT_EQ(b.status, 0x80000000u);
  EXPECT_EQ(b.count, 103u);
  EXPECT_EQ(std::strlen(b.text), 103u);
}

// A single character goes out as a one-character command: the character and
// a NUL over whatever the text slot held, then the flag.
TEST_P(PciMailboxTest, ACharacterIsWrittenAsATerminatedText) {
  const int card = AddLayoutCard(false);
  Dpr(card).WriteDpr(GetParam().host_text, "XYZ", 3);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_CHAR, std::vector<uint8_t>{'A'}).count, 1u);
  char text[3] = {};
  Dpr(card).ReadDpr(GetParam().host_text, text, 3);
  EXPECT_EQ(std::string(text, 3), std::string("A\0Z", 3));
  EXPECT_EQ(Dpr(card).DprWord(GetParam().host_flag), 1u);
}

TEST_P(PciMailboxTest, MailboxStatusWord) {
  const int card = AddLayoutCard(false);
  Post(card, 13, 2, "a");
  Reply r = Query(IOCTL_ZIMO_DPR_MAILBOX_STATUS, 4);
  EXPECT_EQ(r.count, 4u);
  uint32_t status;
  std::memcpy(&status, r.out.data(), 4);
  EXPECT_EQ(status, 13u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PciMailboxTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zimo::drivers::testing
