// Scripting the card for tests: mute, injected errors, reply delays, a
// missing ACK, odd status lengths, stuck DPR bits, unsolicited lines and
// the log of what the card received.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

using namespace std::chrono_literals;

TEST(Script, MutedCardTakesNothingAndSaysNothing) {
  Card card(CardModel::Older());
  card.script().SetMuted(true);
  EXPECT_EQ(card.Feed("P1=5\r\x07\x18"), "");
  EXPECT_TRUE(card.Execute("I10").silent);
  EXPECT_DOUBLE_EQ(card.PVar(1), 0.0);
  card.PostUnsolicited("HELD");
  EXPECT_EQ(card.TakeStreamOutput(), "");
  card.script().SetMuted(false);
  EXPECT_EQ(card.Feed("I10\r"), "\x02HELD\r3713707\r\x06");
}

TEST(Script, InjectedErrorsReplaceTheNextLines) {
  Card card(CardModel::Older());
  card.script().InjectError(12, 2);
  EXPECT_EQ(card.Feed("P1=5\r"), "\aERR012\r");
  EXPECT_EQ(card.Feed("\r"), "\x06");  // an empty line uses up nothing
  EXPECT_EQ(card.Execute("P2=5").error, 12);
  EXPECT_EQ(card.Execute("P3=5").error, 0);
  EXPECT_DOUBLE_EQ(card.PVar(1) + card.PVar(2), 0.0);
  EXPECT_DOUBLE_EQ(card.PVar(3), 5.0);
  // Until cleared.
  card.script().InjectError(7, -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(card.Execute("I10").error, 7);
  card.script().InjectError(0);
  EXPECT_EQ(card.Execute("I10").error, 0);
  // By content: a line holding the pattern fails, others run.
  card.script().FailLinesMatching("p7=", 9);
  EXPECT_EQ(card.Feed("P6=1\rP7=1\r"), "\x06\aERR009\r");
  card.script().FailLinesMatching("", 9);
  EXPECT_EQ(card.Feed("P7=1\r"), "\x06");
}

TEST(Script, DelaysTravelWithTheReplies) {
  Card card(CardModel::Older());
  card.script().SetReplyDelay(1500us, 2);
  CardOutput first = card.FeedWithDelay("I10\rI10\r");
  EXPECT_EQ(first.delay, 3000us);
  EXPECT_EQ(card.Control(ctrl::kCtrlG).delay, 0us);
  card.script().SetReplyDelay(250ms);
  EXPECT_EQ(card.Execute("I10").delay, 250ms);
  EXPECT_EQ(card.Execute("I10").delay, 250ms);
}

TEST(Script, AckCanGoMissingAndStatusCanBeOddLength) {
  Card card(CardModel::Older());
  card.script().SetAckOmitted(true);
  EXPECT_EQ(card.Feed("I10\r"), "3713707\r");
  card.script().SetAckOmitted(false);
  card.script().SetStatusLength(11);
  EXPECT_EQ(card.Feed("?\r"), "80200000400\r\x06");
  card.script().SetStatusLength(13);
  EXPECT_EQ(card.Feed("?\r"), "8020000040010\r\x06");
}

TEST(Script, StuckDprBitsAndTheReceivedLog) {
  Card card(CardModel::Spran());
  card.script().StickDprBits(0xF40, 0x1, 0x1);
  card.memory().SetDprWord(0xF40, 0);
  EXPECT_EQ(card.memory().DprWord(0xF40), 1);
  card.script().ClearStuckBits();
  card.memory().SetDprWord(0xF40, 0);
  EXPECT_EQ(card.memory().DprWord(0xF40), 0);

  card.script().ClearLog();
  card.Feed("I3=2\r\x07\x18?\r");
  card.Execute("TYPE");
  card.Control(ctrl::kCtrlP);
  EXPECT_EQ(card.script().received(),
            (std::vector<std::string>{"I3=2", "^G", "^X", "?", "TYPE", "^P"}));
}

TEST(Script, UnsolicitedLinesForPacketAttachments) {
  Card card(CardModel::Older());
  card.PostUnsolicited("ONE");
  card.PostUnsolicited("TWO");
  EXPECT_EQ(card.TakeUnsolicited(), "ONE");
  EXPECT_EQ(card.TakeStreamOutput(), "\x02TWO\r");
  EXPECT_EQ(card.TakeUnsolicited(), std::nullopt);
}

}  // namespace
}  // namespace zimo::cardsim
