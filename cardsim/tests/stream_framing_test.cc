// The card's answers as bytes on a stream port, exactly: every command form
// the host sends, on both card generations, and the framing the handshake
// I-variables choose.
#include <cstdio>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

constexpr char kAck[] = "\x06";

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

struct Exchange {
  const char* in;
  std::string older;  // bytes out on an older card
  std::string spran;  // bytes out on a SPRAN card (same as older when empty)
};

void PrintTo(const Exchange& e, std::ostream* os) { *os << Printable(e.in); }

// A fresh card per generation for each row, so rows do not depend on
// each other.
class FramingTable : public ::testing::TestWithParam<Exchange> {};

TEST_P(FramingTable, ExactBytesOnBothGenerations) {
  const Exchange& e = GetParam();
  Card older(CardModel::Older());
  EXPECT_EQ(Printable(older.Feed(e.in)), Printable(e.older)) << "older card, input " << e.in;
  Card spran(CardModel::Spran());
  const std::string& want = e.spran.empty() ? e.older : e.spran;
  EXPECT_EQ(Printable(spran.Feed(e.in)), Printable(want)) << "SPRAN card, input " << e.in;
}

// Motor 1 at rest: activated and velocity zero in the servo word; in
// position (and, on older cards, amplifier enabled) in the motor word.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    CommandForms, FramingTable,
    ::testing::Values(
        Exchange{"I3=2I6=1I63=1I64=1?\r", "802000004001\r\x06", "882000000001\r\x06"},
        Exchange{"I3=2 I6=1 I63=1I64=1\r", kAck, ""},
        Exchange{"I3=2 I6=1 I63=1 I64=1\r", kAck, ""},
        Exchange{"CLOSEI3=2\r", kAck, ""},
        Exchange{"CLOSE I3=2 I6=1 I4=0\r", kAck, ""},
        Exchange{"I5 = 3 I3= 2 I5\r", "3\r\x06", ""},
        Exchange{"TYPE\r", "ZIMO2\r\x06", "SPRAN2\r\x06"},
        Exchange{"type\r", "ZIMO2\r\x06", "SPRAN2\r\x06"},
        Exchange{"VER\r", "1.16F\r\x06", "1.940\r\x06"},
        Exchange{"VERSION\r", "1.16F\r\x06", "1.940\r\x06"},
        Exchange{"DATE\r", "09/22/1998\r\x06", "05/14/2003\r\x06"},
        Exchange{"CPU\r", "DSP56002\r\x06", "DSP56303\r\x06"},
        Exchange{"??\r", "000000000000\r\x06", ""},
        Exchange{"???\r", "000000000000\r\x06", ""},
        Exchange{"I10\r", "3713707\r\x06", ""},
        Exchange{"I9=1 I10\r", "I10=3713707\r\x06", ""},
        Exchange{"I140..143\r", "0\r0\r0\r0\r\x06", ""},
        Exchange{"I108..109\r", "96\r96\r\x06", ""},
        Exchange{"P100..105=7 P100 P105 P106\r", "7\r7\r0\r\x06", ""},
        Exchange{"P2=4P1=P2+3*I10 P1\r", "11141125\r\x06", ""},
        Exchange{"I5=1 I5=I5|2 I5\r", "3\r\x06", ""},
        Exchange{"P1=(1+2)*-2.5 P1\r", "-7.5\r\x06", ""},
        Exchange{"#1O0ENA PLC 31 #1?\r", "842000004000\r\x06", "8C2000000000\r\x06"},
        Exchange{"#2 #\r", "#2\r\x06", ""},
        Exchange{"&3 &\r", "&3\r\x06", ""},
        Exchange{"&1#1->1000X &1#1-> #2->\r", "1000X\r0\r\x06", ""},
        Exchange{"M1->X:$C000,0,24,S M1->\r", "X:$C000,0,24,S\r\x06", ""},
        Exchange{"wy$2000,5,$10,-1 ry$2000,3 rhy$2000,3\r", "5 16 -1\r000005 000010 FFFFFF\r\x06",
                 ""},
        Exchange{"wl$100,$AAAAAAAAAAAA rhl$100\r", "AAAAAAAAAAAA\r\x06", ""},
        Exchange{"%\r", "100\r\x06", ""},
        Exchange{"CLS\r", kAck, ""},
        Exchange{"i48..49=0endgat DELETE GATHER del gat\r", kAck, ""},
        Exchange{"\r", kAck, ""},
        Exchange{"FOO\r", "\aERR003\r", ""},
        Exchange{"I10 FOO I10\r", "3713707\r\aERR003\r", ""},
        Exchange{"I99999\r", "\aERR003\r", ""},
        Exchange{"CLEAR\r", "\aERR005\r", ""},
        Exchange{"OPEN PLC 3\rOPEN PLC 4\r", "\x06\aERR007\r", ""},
        Exchange{"P1=\r", "\aERR003\r", ""}));
// clang-format on

TEST(LinkListForms, EverySpellingListsTheSameEntries) {
  Card card(CardModel::Older());
  std::string want;
  for (const std::string& entry : card.model().link_list) want += entry + "\r";
  want += kAck;
  for (const char* spelling : {"LISTLINK\r", "LIST LINK\r", "LIST   LINK\r", "list link\r"}) {
    EXPECT_EQ(Printable(card.Feed(spelling)), Printable(want)) << spelling;
  }
  // The host counts (characters + 1) / 7 entries.
  EXPECT_EQ((want.size() - 1 + 1) / 7, 68u);
}

struct ControlExchange {
  char c;
  std::string out;
};

void PrintTo(const ControlExchange& e, std::ostream* os) { *os << "control " << int{e.c}; }

class ControlTable : public ::testing::TestWithParam<ControlExchange> {};

TEST_P(ControlTable, AnswersOnOlderCard) {
  Card card(CardModel::Older());
  card.Feed("I10\r");  // something for ^Y to repeat
  EXPECT_EQ(Printable(card.Feed(std::string(1, GetParam().c))), Printable(GetParam().out))
      << "control character " << static_cast<int>(GetParam().c);
}

const std::string kEightStatus = [] {
  std::string s = "802000004001";
  for (int i = 0; i < 7; ++i) s += " 802000004001";
  return s;
}();
const std::string kEightCoords = [] {
  std::string s = "000000000000";
  for (int i = 0; i < 7; ++i) s += " 000000000000";
  return s;
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Characters, ControlTable,
    ::testing::Values(ControlExchange{ctrl::kCtrlX, "\x18"},
                      ControlExchange{ctrl::kCtrlG, "000000000000\r\x06"},
                      ControlExchange{ctrl::kCtrlB, kEightStatus + "\r\x06"},
                      ControlExchange{ctrl::kCtrlC, kEightCoords + "\r\x06"},
                      ControlExchange{ctrl::kCtrlP, "0 0 0 0 0 0 0 0\r\x06"},
                      ControlExchange{ctrl::kCtrlV, "0 0 0 0 0 0 0 0\r\x06"},
                      ControlExchange{ctrl::kCtrlF, "0 0 0 0 0 0 0 0\r\x06"},
                      ControlExchange{ctrl::kCtrlY, "I10\r\x06"},
                      ControlExchange{ctrl::kCtrlA, kAck}, ControlExchange{ctrl::kCtrlD, kAck},
                      ControlExchange{ctrl::kCtrlK, kAck}, ControlExchange{ctrl::kCtrlE, kAck},
                      ControlExchange{ctrl::kCtrlT, kAck}, ControlExchange{ctrl::kCtrlZ, ""}));
// clang-format on

TEST(ControlCharacters, FlushDropsThePartialLineAndPendingOutput) {
  Card card(CardModel::Older());
  // The unfinished "I1" is forgotten; the answer to TYPE is dropped too.
  EXPECT_EQ(Printable(card.Feed("TYPE\rI1\x18I10\r")), Printable("\x18"
                                                                 "3713707\r\x06"));
}

TEST(ControlCharacters, StayOutOfTheLineBeingTyped) {
  Card card(CardModel::Older());
  EXPECT_EQ(Printable(card.Feed("I1\x07"
                                "0\r")),
            Printable("000000000000\r\x06"
                      "3713707\r\x06"));
}

struct ModeExchange {
  const char* setup;
  const char* in;
  std::string out;
};

void PrintTo(const ModeExchange& e, std::ostream* os) {
  *os << Printable(e.setup) << " then " << Printable(e.in);
}

class HandshakeModes : public ::testing::TestWithParam<ModeExchange> {};

TEST_P(HandshakeModes, ShapeTheReply) {
  Card card(CardModel::Older());
  card.Feed(GetParam().setup);
  EXPECT_EQ(Printable(card.Feed(GetParam().in)), Printable(GetParam().out))
      << GetParam().setup << " then " << GetParam().in;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Variables, HandshakeModes,
    ::testing::Values(ModeExchange{"I3=0\r", "I10 I10\r", "3713707\r3713707\r"},
                      ModeExchange{"I3=1\r", "I10\r", "3713707\r\n"},
                      ModeExchange{"I3=3\r", "I10\r", "3713707\r\n\x06"},
                      ModeExchange{"I6=0\r", "FOO\r", "\a\r"},
                      ModeExchange{"I6=2\r", "FOO\r", kAck},
                      ModeExchange{"I6=3\r", "FOO\r", "\aERR003\r"},
                      ModeExchange{"I63=0\r", "\x07", "000000000000\r"},
                      ModeExchange{"I63=0\r", "\x01", ""},
                      ModeExchange{"I9=2\r", "I182\r", "$0\r\x06"},
                      ModeExchange{"I9=3 I182=$C006\r", "I182 I10\r", "I182=$C006\rI10=3713707\r\x06"}));
// clang-format on

TEST(Unsolicited, StxLinesComeBeforeTheNextAnswer) {
  Card card(CardModel::Older());
  card.PostUnsolicited("HELLO");
  EXPECT_EQ(Printable(card.Feed("I10\r")), Printable("\x02HELLO\r3713707\r\x06"));
  card.PostUnsolicited("LATER");
  card.Feed("I64=0\r");  // the line went out with the reply to this command
  card.PostUnsolicited("PLAIN");
  EXPECT_EQ(Printable(card.TakeStreamOutput()), Printable("PLAIN\r"));
  EXPECT_EQ(card.TakeStreamOutput(), "");
}

TEST(Checksummed, LinesAndAckCarryTheirSums) {
  Card card(CardModel::Older());
  EXPECT_EQ(Printable(card.Feed("CLOSE I3=2 I6=1 I4=1\r")), Printable(kAck));
  ASSERT_TRUE(card.ChecksumMode());
  // The card answers CTRL-N with the sum of what it holds: "P1" is 0x81.
  EXPECT_EQ(Printable(card.Feed("P1\x0E")), Printable("\x81"));
  // On CR it runs the line: "0" CR with its sum 0x3D, then ACK and the
  // line's sum.
  EXPECT_EQ(Printable(card.Feed("\r")), Printable("0\r\x3D\x06\x81"));
  // A control character stands for itself after the ACK.
  EXPECT_EQ(Printable(card.Feed("\x07")), Printable("000000000000\r\x4D\x06\x07"));
  // Errors carry no sum.
  EXPECT_EQ(Printable(card.Feed("FOO\r")), Printable("\aERR003\r"));
  EXPECT_EQ(Printable(card.Feed("I4=0\r")), Printable("\x06\xEA"));
  EXPECT_FALSE(card.ChecksumMode());
  EXPECT_EQ(Printable(card.Feed("P1\r")), Printable("0\r\x06"));
}

}  // namespace
}  // namespace zimo::cardsim
