// What a response exchange answers on every transport that carries
// commands (the serial line, UDP, TCP, and through the driver host the PCI
// bus port, the PCI DPR mailbox and USB), with the same cases for each: a
// caller's buffer exactly the size of the reply, one byte short, a card
// error; and that a failed exchange always leaves an error (with its text)
// for ZimoGetError.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "gather_card_fixture.h"
#include "link/eth_transport.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

using testing::GatherLink;
using testing::GatherRig;
using testing::GatherRigCase;

std::vector<GatherRigCase> AllLinks() {
  std::vector<GatherRigCase> all;
  for (GatherLink link : {GatherLink::kSerial, GatherLink::kUdp, GatherLink::kTcp,
                          GatherLink::kPciPort, GatherLink::kPciMailbox, GatherLink::kUsb}) {
    all.push_back({link, false});
  }
  return all;
}

// The reply to `command` in a buffer of `size` bytes: the result word and
// the text the buffer holds.
std::uint32_t Ask(const char* command, std::uint32_t size, std::string* text) {
  std::string buffer(size + 16, '#');  // guard bytes behind the caller's buffer
  const std::uint32_t word = ZimoGetResponseExA(0, buffer.data(), size, command);
  EXPECT_EQ(buffer.substr(size), std::string(16, '#')) << "written past the buffer";
  *text = std::string(buffer.c_str(), strnlen(buffer.c_str(), size));
  return word;
}

// The card's I10 reads "3713707" and a line of two variables "1" and "22":
// one rule on every link. The count is the characters the buffer holds. A
// reply that fits whole (its characters and the terminator) is complete,
// whatever room is left; one that does not fit is marked as a failure with
// the characters that were stored, and error 54; a card error counts the
// error text it stored. Nothing of a reply is left behind for the next
// exchange.
void CheckTheReplyRule() {
  std::string text;
  ASSERT_EQ(Ask("P1=1P2=22", 100, &text), kStatusAck);

  struct Case {
    const char* what;
    const char* command;
    std::uint32_t size;
    std::uint32_t word;
    const char* text;
    std::int32_t error;
  };
  const Case cases[] = {
      {"room to spare", "I10", 100, 0x80000008u, "3713707\r", 0},
      {"exactly the reply", "I10", 9, 0x80000008u, "3713707\r", 0},
      {"one byte short", "I10", 8, 0xF0000007u, "3713707", 54},
      {"two lines exactly", "P1..2", 6, 0x80000005u, "1\r22\r", 0},
      {"two lines, one byte short", "P1..2", 5, 0xF0000004u, "1\r22", 54},
      {"a card error", "NOSUCHCOMMAND", 100, 0xE0000008u, "\aERR003\r", 3},
      {"a card error exactly", "NOSUCHCOMMAND", 9, 0xE0000008u, "\aERR003\r", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Ask(c.command, c.size, &text), c.word);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(ZimoGetError(0), c.error);
    // The next exchange gets its own reply, and no error.
    EXPECT_EQ(Ask("P2", 100, &text), kStatusAck | 3u);
    EXPECT_EQ(text, "22\r");
    EXPECT_EQ(ZimoGetError(0), 0);
  }
}

class LinkRepliesTest : public ::testing::TestWithParam<GatherRigCase> {
 protected:
  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{GetParam()};
};

TEST_P(LinkRepliesTest, BufferOfTheRepliesSizeAndOneByteShort) {
  ASSERT_TRUE(rig_.Open());
  CheckTheReplyRule();
}

// The serial link with checksums on keeps the same rule.
TEST(LinkRepliesChecksummedTest, BufferOfTheRepliesSizeAndOneByteShort) {
  zimo::testing::TempHome home;
  testing::LibraryClock clock;
  GatherRig rig({GatherLink::kSerial, false});
  ASSERT_TRUE(rig.Open());
  ASSERT_EQ(ZimoDoChecksums(0, 1), 1);
  CheckTheReplyRule();
  EXPECT_EQ(ZimoDoChecksums(0, 0), 1);
}

// The error a failed exchange leaves, and its text.
struct FailureSeen {
  std::uint32_t word = 0;
  std::int32_t error = 0;
  std::string text;
};

FailureSeen Fail(const char* command) {
  FailureSeen seen;
  char buffer[100];
  seen.word = ZimoGetResponseExA(0, buffer, sizeof buffer, command);
  char text[200] = {};
  EXPECT_EQ(ZimoGetErrorStrA(0, text, sizeof text), ZimoGetError(0));
  seen.error = ZimoGetError(0);
  seen.text = text;
  return seen;
}

// Every exchange that fails leaves an error with a text for ZimoGetError:
// a command longer than any link takes, a card that does not answer, a
// device that is not open here.
TEST_P(LinkRepliesTest, AFailedExchangeAlwaysLeavesItsErrorAndText) {
  ASSERT_TRUE(rig_.Open());
  SetEthTimeoutCapForTesting(300);
  struct Reset {
    ~Reset() { SetEthTimeoutCapForTesting(0); }
  } reset;
  const GatherLink link = GetParam().link;

  const std::string overlong = "P1=" + std::string(1500, '1');
  FailureSeen seen = Fail(overlong.c_str());
  EXPECT_EQ(seen.word, kStatusFailure);
  EXPECT_EQ(seen.error, 28);
  EXPECT_EQ(seen.text, "Comm BUS Send Line > 200 char");

  rig_.Mute(true);
  seen = Fail("I10");
  EXPECT_NE(seen.word & kErrorBits, 0u);
  // The serial line's own time-out error; the other links' drivers keep
  // none once the card's settings are restored: the library's.
  if (link == GatherLink::kSerial) {
    EXPECT_EQ(seen.error, 1008);
    EXPECT_EQ(seen.text, "Timeout during serial ascii read");
  } else {
    EXPECT_EQ(seen.error, 1021);
    EXPECT_EQ(seen.text, "Timeout during communication read");
  }
  // A control character's answer that does not come. (The bus port's
  // drivers answer it as an empty direct answer, no failure.)
  if (link != GatherLink::kPciPort && link != GatherLink::kUsb) {
    char reply[100];
    EXPECT_NE(ZimoGetControlResponseExA(0, reply, sizeof reply, 7) & kErrorBits, 0u);
    std::int32_t control_error = 1021;
    if (link == GatherLink::kSerial) control_error = 1008;
    if (link == GatherLink::kPciMailbox) control_error = 1007;
    EXPECT_EQ(ZimoGetError(0), control_error);
  }
  rig_.Mute(false);
  std::string text;
  EXPECT_EQ(Ask("P2=22P2", 100, &text), kStatusAck | 3u);
  EXPECT_EQ(ZimoGetError(0), 0);

  // A device that is not open in this process.
  char buffer[16];
  EXPECT_EQ(ZimoGetResponseExA(5, buffer, sizeof buffer, "I10"), kStatusFailure);
  EXPECT_EQ(ZimoGetError(5), 105);
  char not_open[100] = {};
  EXPECT_EQ(ZimoGetErrorStrA(5, not_open, sizeof not_open), 105);
  EXPECT_STREQ(not_open, "Unable to open ZIMO device.");
}

// A TCP card that goes away: the first exchange meets the reset
// connection, every later one a link that has gone; both say so.
TEST(LinkRepliesEthernetTest, ALinkResetByTheCardSaysSoFromItsFirstCall) {
  zimo::testing::TempHome home;
  testing::LibraryClock clock;
  GatherRig rig({GatherLink::kTcp, false});
  ASSERT_TRUE(rig.Open());
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  rig.StopServing();
  const char* const lost =
      "The vital circuit was reset by the remote side.\n"
      "Close all connections to ZIMO including ZIMOServer then replug";
  FailureSeen seen = Fail("I10");
  EXPECT_EQ(seen.word, kStatusFailure);
  EXPECT_EQ(seen.error, 10054);
  EXPECT_EQ(seen.text, std::string(lost).substr(0, 79));
  seen = Fail("I10");
  EXPECT_EQ(seen.word, kStatusFailure);
  EXPECT_EQ(seen.error, 10057);
  EXPECT_EQ(seen.text, std::string(lost).substr(0, 79));
}

INSTANTIATE_TEST_SUITE_P(Links, LinkRepliesTest, ::testing::ValuesIn(AllLinks()),
                         [](const auto& info) { return testing::GatherRigName(info.param); });

}  // namespace
}  // namespace zimo::corvan
