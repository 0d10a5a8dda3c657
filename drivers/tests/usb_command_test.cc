// ZimoUSB's text channel: lines and characters to the card, replies read
// ahead in blocks and handed out line by line, control characters, resets
// and the identification codes, checked against what the card received.
#include <string>

#include "usb_fixture.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::string_literals;

TEST_F(UsbTest, ATwoLineReplyTakesThreeGetLines) {
  const int card = AddCard();
  Query(IOCTL_ZIMO_BUS_FLUSH);
  SendLine("I10..11");
  LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_STREQ(line.text, "3713707\r");
  EXPECT_EQ(line.status, kLineCr);
  EXPECT_EQ(line.count, 8u);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_READ_READY).count, 1u);  // more lines are being handed out
  line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_STREQ(line.text, "10\r");
  EXPECT_EQ(line.status, kLineCr);
  EXPECT_EQ(line.count, 3u);
  line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(line.status, kLineEnd);
  EXPECT_EQ(line.count, 0u);
  EXPECT_STREQ(line.text, "");
  // One block read carried the whole reply.
  EXPECT_EQ(Requests(card, usbreq::kReadBlock).size(), 1u);

  // The mailbox code hands out the same lines without their CR.
  const std::vector<LineIoBlock> dpr = Exchange("I10", IOCTL_ZIMO_DPR_GET_LINE);
  ASSERT_EQ(dpr.size(), 2u);
  EXPECT_STREQ(dpr[0].text, "3713707");
  EXPECT_EQ(dpr[0].count, 8u);
  EXPECT_EQ(dpr[1].status, kLineEnd);

  // Nothing sent: nothing comes, a time-out.
  line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(line.status, kLineTimeout);
  EXPECT_EQ(line.count, 0u);
}

TEST_F(UsbTest, ACardErrorGivesItsStatusAndNumber) {
  const int card = AddCard();
  Card(card).script().InjectError(15);
  const std::vector<LineIoBlock> lines = Exchange("I10");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].status, kLineError);
  EXPECT_STREQ(lines[0].text, "\aERR015\r");
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, 15u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_GET_ERROR).count, 15u);
  // The next get line reads afresh (the card has nothing more); a good reply
  // clears the error.
  EXPECT_EQ(LineCode(IOCTL_ZIMO_BUS_GET_LINE).status, kLineTimeout);
  EXPECT_EQ(Exchange("I10")[0].status, kLineCr);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, 0u);

  // A reply whose last line is an error ends with it.
  const std::vector<LineIoBlock> mixed = Exchange("I10 XYZZY");
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_STREQ(mixed[0].text, "3713707\r");
  EXPECT_EQ(mixed[1].status, kLineError);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_GET_ERROR).count, 3u);
}

// Replies longer than the read-ahead buffer come back byte for byte, also
// when a line is cut by the buffer's end and when one ends exactly there.
TEST_F(UsbTest, LongRepliesComeBackByteForByte) {
  const int card = AddCard();
  struct Case {
    const char* what;
    int i3;
    std::string command;
  } cases[] = {
      {"words, 112-byte lines: one is cut", 2, "RHX$0,3000"},
      {"128-byte lines: one ends with its CR at the end", 2, "LIST PROG 1"},
      {"CR LF lines: blocks and the buffer end with an LF", 3, "LIST PROG 2"},
  };
  // Programs of 160 lines, 127 and 126 characters long.
  for (int program : {1, 2}) {
    SendLine("OPEN PROG " + std::to_string(program) + " CLEAR");
    for (int i = 0; i < 160; ++i) {
      char head[16];
      std::snprintf(head, sizeof(head), "X%03d", i);
      SendLine(head + std::string(program == 1 ? 123 : 122, static_cast<char>('A' + i % 26)));
    }
    SendLine("CLOSE");
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Card(card).SetIVar(3, c.i3);
    std::string expected = Card(card).Format(Card(card).Execute(c.command));
    ASSERT_EQ(expected.back(), '\x06');
    expected.pop_back();
    ASSERT_GT(expected.size(), 20000u);
    std::string got;
    size_t lines = 0;
    for (const LineIoBlock& line : Exchange(c.command)) {
      ASSERT_LE(line.count, 256u);
      got.append(line.text, line.count);
      lines += line.count > 0;
      if (line.status != kLineCr) {
        EXPECT_EQ(line.status, kLineEnd);
      }
    }
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    // CR and LF each end a line.
    EXPECT_EQ(lines, static_cast<size_t>(std::count(expected.begin(), expected.end(), '\r') +
                                         std::count(expected.begin(), expected.end(), '\n')));
  }
}

// A block of a single LF joins the block after it: the LF stays in the text.
TEST_F(UsbTest, ASingleLineFeedBlockJoinsTheNextBlock) {
  const int card = AddCard();
  SendLine("I3=3");  // lines end with CR LF
  Query(IOCTL_ZIMO_BUS_FLUSH);
  SendLine("I10");
  // The card hands out "3713707\r", then the LF alone, then the ACK.
  Port(card).ScriptFault(usbreq::kReadBlock, cardsim::UsbFault::kShort, 8);
  Port(card).ScriptFault(usbreq::kReadBlock, cardsim::UsbFault::kShort, 1);
  const std::vector<LineIoBlock> lines = ReadLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_STREQ(lines[0].text, "3713707\r");
  EXPECT_EQ(lines[1].count, 1u);
  EXPECT_EQ(lines[1].text[0], '\n');
  EXPECT_EQ(lines[1].status, kLineCr);
  EXPECT_EQ(lines[2].status, kLineEnd);
}

TEST_F(UsbTest, ResetCardSendsCloseI3AndOlderCardsAreResetFirst) {
  struct Case {
    int id;
    std::vector<uint8_t> codes;
  } cases[] = {
      {3, {usbreq::kFlush, usbreq::kSendLine, usbreq::kFlush}},
      {0, {usbreq::kReset, usbreq::kFlush, usbreq::kSendLine, usbreq::kFlush}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].id);
    const int card = AddCard(UsbCard(cases[i].id));
    Port(card).ClearLog();
    Card(card).script().ClearLog();
    EXPECT_EQ(Query(IOCTL_ZIMO_RESET_CARD, 0, i).count, 0u);
    EXPECT_EQ(RequestCodes(card), cases[i].codes);
    const std::vector<std::string> received = Card(card).script().received();
    EXPECT_NE(std::find(received.begin(), received.end(), "CLOSEI3=2"), received.end());
  }
}

TEST_F(UsbTest, CharactersAndLinesByGeneration) {
  struct Case {
    int id;
    uint64_t char_reply;
    uint8_t char_request;
    std::vector<size_t> long_line_pieces;
  } cases[] = {
      {3, 1, usbreq::kSendChar, {200}},
      {2, 0, usbreq::kSendLine, {160, 41}},  // older firmware: the rest of the input follows
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.id);
    const int card = AddCard(UsbCard(c.id));
    Port(card).ClearLog();
    EXPECT_EQ(Ioctl(IOCTL_ZIMO_BUS_SEND_CHAR, {'K'}, 0, i).count, c.char_reply);
    ASSERT_EQ(RequestCodes(card), std::vector<uint8_t>{c.char_request});
    Port(card).ClearLog();
    SendLine("P1=" + std::string(197, '1'), i);
    std::vector<size_t> pieces;
    for (const auto& r : Requests(card, usbreq::kSendLine)) pieces.push_back(r.data_bytes);
    EXPECT_EQ(pieces, c.long_line_pieces);
  }
  // CTRL-X drops a reply being handed out.
  Query(IOCTL_ZIMO_BUS_FLUSH);
  SendLine("I10..11");
  LineCode(IOCTL_ZIMO_BUS_GET_LINE);
  Ioctl(IOCTL_ZIMO_BUS_SEND_CHAR, {24});
  EXPECT_EQ(LineCode(IOCTL_ZIMO_BUS_GET_LINE).status, kLineTimeout);
}

TEST_F(UsbTest, ControlCharactersAndTheirAnswers) {
  const int card = AddCard();
  struct Case {
    char c;
    std::vector<uint8_t> codes;
    uint32_t status;
    std::string text;
  } cases[] = {
      {7, {usbreq::kControlResponse}, kLineEnd, std::string(12, '0') + "\r\x06"},
      {5, {usbreq::kFlush, usbreq::kSendChar}, kLineCr, ""},
      {1, {usbreq::kSendChar}, kLineEnd, ""},
      {20, {usbreq::kSendChar, usbreq::kFlush}, kLineEnd, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.c));
    Port(card).ClearLog();
    const LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, c.c);
    EXPECT_EQ(RequestCodes(card), c.codes);
    EXPECT_EQ(line.status, c.status);
    EXPECT_EQ(std::string(line.text, line.count), c.text);
  }
  // The answer never exceeds what the caller accepts.
  const LineIoBlock cut = LineCode(IOCTL_ZIMO_DPR_CONTROL_RESPONSE, 7, 5);
  EXPECT_EQ(cut.count, 5u);
  EXPECT_EQ(Requests(card, usbreq::kControlResponse).back().setup.value, 1024 + 7);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_SEND_CONTROL).count, 0u);  // no character given
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_CONTROL, {11}).count, 1u);
}

TEST_F(UsbTest, ReadyChecksAskTheCardOrItsMailboxWord) {
  struct Case {
    int id;
    uint8_t request;
    uint16_t value;
  } cases[] = {
      {3, usbreq::kReadyWord, 0}, {0, usbreq::kReadDpr, 0x06D0}, {1, usbreq::kReadDpr, 0x0F40}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.id);
    const int card = AddCard(UsbCard(c.id));
    Query(IOCTL_ZIMO_BUS_FLUSH, 0, i);
    EXPECT_EQ(Query(IOCTL_ZIMO_DPR_READ_READY, 0, i).count, 0u);
    SendLine("I10", i);
    Port(card).ClearLog();
    EXPECT_EQ(Query(IOCTL_ZIMO_BUS_READ_READY, 0, i).count, 1u);
    const auto log = Port(card).vendor_requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].setup.request, c.request);
    EXPECT_EQ(log[0].setup.value, c.value);
    // The short read takes the line once the card is ready.
    const LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE_EX, 0, 256, i);
    EXPECT_STREQ(line.text, "3713707\r\x06");
    EXPECT_EQ(line.status, kLineCr);
  }
  const LineIoBlock none = LineCode(IOCTL_ZIMO_BUS_GET_LINE_EX);
  EXPECT_EQ(none.status, kLineEnd);
  EXPECT_EQ(none.count, 0u);
}

TEST_F(UsbTest, IdentificationCodes) {
  struct Case {
    bool spran;
    const char* version;
    uint32_t type;
    size_t motors;
  } cases[] = {{false, "1.16F", 2, 8}, {true, "1.940", 6, 32}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.version);
    const int card = AddCard(UsbCard(-1, c.spran));
    UsbReply r = Query(IOCTL_ZIMO_GET_VERSION, kVersionBytes, i);
    EXPECT_EQ(r.count, std::strlen(c.version) + 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(r.out.data()), c.version);
    r = Query(IOCTL_ZIMO_GET_DATE, kVersionBytes, i);
    EXPECT_STREQ(reinterpret_cast<const char*>(r.out.data()), Card(card).model().date.c_str());
    r = Query(IOCTL_ZIMO_GET_CARD_TYPE, 4, i);
    EXPECT_EQ(r.count, 4u);
    EXPECT_EQ(FromBytes<uint32_t>(r.out), c.type);
    EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10, 0, i).count, 3713707u);
    Card(card).SetIVar(9, 1);  // names in front of the values
    EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10, 0, i).count, 3713707u);

    r = Query(IOCTL_ZIMO_GET_POS_SCALES, kScaleTableBytes, i);
    ASSERT_EQ(r.count, 4 * c.motors);
    for (size_t m = 0; m < c.motors; ++m) EXPECT_EQ(FromBytes<uint32_t>(r.out, 4 * m), 96u) << m;
    Card(card).SetIVar(9, 0);
    Card(card).SetIVar(209, 1234);
    r = Query(IOCTL_ZIMO_GET_VEL_SCALES, kScaleTableBytes, i);
    EXPECT_EQ(FromBytes<uint32_t>(r.out, 4), 1234u);

    r = Query(IOCTL_ZIMO_GET_LINK_LIST, sizeof(ZimoLinkList), i);
    const std::vector<std::string>& list = Card(card).model().link_list;
    ASSERT_EQ(r.count, 4 * std::min<size_t>(list.size(), kLinkListEntries));
    for (size_t k = 0; k < r.count / 4; ++k) {
      EXPECT_EQ(FromBytes<uint32_t>(r.out, 4 * k), std::stoul(list[k], nullptr, 16)) << k;
    }
  }
  // A short output gets no more than it holds.
  UsbReply small = Query(IOCTL_ZIMO_GET_VERSION, 3);
  EXPECT_EQ(small.count, 3u);
  EXPECT_EQ(small.Text(), "1.\0"s);
}

TEST_F(UsbTest, ResponseBlocksStayInsideTheOutput) {
  const int card = AddCard();
  (void)card;
  Query(IOCTL_ZIMO_BUS_FLUSH);
  SendLine("RHX$0,3000");
  UsbReply r = Query(IOCTL_ZIMO_GET_RESPONSE_BLOCK, 16385);
  EXPECT_EQ(r.count, 16384u);  // four full blocks, more to come
  r = Query(IOCTL_ZIMO_GET_RESPONSE_BLOCK, 16385);
  EXPECT_GT(r.count, 4000u);
  EXPECT_LT(r.count, 16384u);

  Query(IOCTL_ZIMO_BUS_FLUSH);
  SendLine("RHX$0,3000");
  r = Query(IOCTL_ZIMO_GET_RESPONSE_BLOCK, 100);
  EXPECT_EQ(r.count, 99u);  // room for the NUL
  EXPECT_EQ(r.out.size(), 100u);
}

}  // namespace
}  // namespace zimo::drivers::testing
