// Test access to the card: the change log with its writers, snapshots and
// their compare, and scripted silence.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

using Entry = std::tuple<std::string, std::string, double, double>;  // writer, what, old, new

std::vector<Entry> Entries(const Card& card) {
  std::vector<Entry> out;
  for (const Card::Change& c : card.Changes()) {
    out.emplace_back(c.writer, c.what, c.old_value, c.new_value);
  }
  return out;
}

TEST(ChangeLog, TheRoughPhasePlcWritesAndRestoresItsOffsets) {
  Card card(CardModel::Older());
  Type(card, {"I129=11 I179=22 I172=200"});
  Type(card, RoughPhasePlc());
  Card::Snapshot before = card.TakeSnapshot();
  card.SetChangeLogging(true);
  Type(card, {"I5=2 ENA PLC 31"});
  card.AdvanceServo(10001);
  EXPECT_EQ(Entries(card), (std::vector<Entry>{{"host", "I5", 0, 2},
                                               {"PLC 31", "I129", 11, 3000},
                                               {"PLC 31", "I179", 22, -3000},
                                               {"PLC 31", "I129", 3000, 11},
                                               {"PLC 31", "I179", -3000, 22}}));
  std::vector<Card::Change> changes = card.Changes();
  EXPECT_NEAR(changes[3].ms - changes[1].ms, 5000.0 * 3713707 / 8388608.0, 1e-6);
  Type(card, {"I5=0"});
  EXPECT_EQ(Card::Compare(before, card.TakeSnapshot()), Lines{});
  card.Execute("I130=7");
  EXPECT_EQ(Card::Compare(before, card.TakeSnapshot()), Lines{"I130: 2048 -> 7"});
}

TEST(ChangeLog, WatchedWordsNameTheirWriter) {
  Card card(CardModel::Older());
  card.WatchWord(Space::kX, 3);
  card.WatchWord(Space::kY, 0x700);
  card.SetChangeLogging(true);
  Type(card, {"M1019->X:$3,19 M1020->X:$3,18 M90->Y:$700,0,24,S", "M1019=1", "&1#1->X",
              "OPEN PROG 1 CLR", "M1020=1", "CLOSE", "OPEN PLC 2 CLR", "CMD\"M1019=0\"", "M90=2",
              "DIS PLC 2", "CLOSE", "I5=2 ENA PLC 2 B1R"});
  card.AdvanceServo(4);
  EXPECT_EQ(Entries(card), (std::vector<Entry>{{"host", "X:$3", 0, 0x80000},
                                               {"host", "I5", 0, 2},
                                               {"&1", "X:$3", 0x80000, 0xC0000},
                                               {"PLC 2", "Y:$700", 0, 2},
                                               {"CMD PLC 2", "X:$3", 0xC0000, 0x40000},
                                               {"servo", "Y:$700", 2, 1},
                                               {"servo", "Y:$700", 1, 0}}));
  card.ClearChanges();
  card.SetChangeLogging(false);
  card.Execute("M1019=1");
  EXPECT_TRUE(card.Changes().empty());
}

TEST(Silence, AfterSomeLinesOrAtATextThenAnswersAgain) {
  Card card(CardModel::Older());
  card.script().SilenceAfter(2, 1);
  EXPECT_FALSE(card.Execute("P1=1").silent);
  EXPECT_FALSE(card.Execute("P2=1").silent);
  EXPECT_TRUE(card.Execute("P3=1").silent);  // silent and not run
  EXPECT_FALSE(card.Execute("P4=1").silent);
  EXPECT_EQ(card.PVar(3), 0);
  EXPECT_EQ(card.PVar(4), 1);

  card.script().SilenceAt("p6", 2);
  EXPECT_FALSE(card.Execute("P5=1").silent);
  EXPECT_TRUE(card.Execute("P6=1").silent);
  EXPECT_TRUE(card.Execute("P7=1").silent);
  EXPECT_EQ(card.Execute("P8").lines, Lines{"0"});

  card.script().SilenceAfter(0);  // from now on, until cleared
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(card.Execute("P9").silent);
  card.script().ClearSilence();
  EXPECT_EQ(card.Execute("P9").lines, Lines{"0"});
}

}  // namespace
}  // namespace zimo::cardsim
