// Compiled-PLC enables: the jump slot of each listed PLC points at its
// resume address or, when disabled, at the next slot; variable series and
// ring-station variables; scripted answers to download blocks. PLCC 0's
// disabled slot leads to the chain end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

TEST(PlccSlots, EnableAndDisableRewriteTheSlotTargets) {
  for (const bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    const uint32_t b = spran ? 0x50000 : 0x8000;
    const uint32_t s = b + 32;
    Memory& m = card.memory();
    for (uint32_t n = 0; n < 32; ++n) m.Write(Space::kP, b + n, 0x800000 + 0x100 * n + 0x62);
    EXPECT_EQ(card.Execute("CLS DISPLCC 0..31").error, 0);
    // PLCC 0 runs alone: disabled, its slot leads to the chain end (the
    // return its own end-of-scan code compares with), not into PLCC 1.
    EXPECT_EQ(m.Read(Space::kP, s + 1), b + 96);
    for (uint32_t n = 1; n < 32; ++n) ASSERT_EQ(m.Read(Space::kP, s + 2 * n + 1), s + 2 * n + 2);
    EXPECT_EQ(card.Execute("ENABLE PLCC 1,3..4").error, 0);
    EXPECT_EQ(m.Read(Space::kP, s + 3), 0x162u);
    EXPECT_EQ(m.Read(Space::kP, s + 7), 0x362u);
    EXPECT_EQ(m.Read(Space::kP, s + 9), 0x462u);
    EXPECT_EQ(m.Read(Space::kP, s + 5), s + 6);  // PLCC 2 stays disabled
    EXPECT_EQ(card.Execute("DISABLE PLCC 3").error, 0);
    EXPECT_EQ(m.Read(Space::kP, s + 7), s + 8);
    EXPECT_EQ(card.Execute("ENA PLCC 32").error, 3);
    EXPECT_EQ(card.Execute("ENAPLCC 5..4").error, 3);
  }
}

TEST(PlccSlots, SetUpLinesOfCompiledPrograms) {
  Card card(CardModel::Spran());
  EXPECT_EQ(card.Execute("I159=5 I259=5 I3259=5 I3359=5 I160=5").error, 0);
  EXPECT_EQ(card.Execute(" CLS I159,32,100=0").error, 0);
  EXPECT_EQ(card.Execute("I159 I259 I3259 I3359 I160").lines,
            (std::vector<std::string>{"0", "0", "0", "5", "5"}));
  EXPECT_EQ(card.Execute("I159,2,100").lines, (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(card.Execute("I159,0,100=1").error, 3);
  EXPECT_EQ(card.Execute("I8100,2,100=1").error, 3);  // past the last variable
  EXPECT_EQ(card.Execute("MI15=7").error, 0);
  EXPECT_EQ(card.Execute("MI14=0").error, 0);
  EXPECT_EQ(card.Execute("MI15 MI14").lines, (std::vector<std::string>{"7", "0"}));
}

TEST(BlockStatus, ScriptedAnswerRunsNothing) {
  Card card(CardModel::Older());
  const std::string block("P1=5\0XYZZY\0", 12);
  card.script().SetBlockStatus(0x80000007u, 1);
  EXPECT_EQ(card.ExecuteBlock(block), 0x80000007u);
  EXPECT_EQ(card.Execute("P1").lines, (std::vector<std::string>{"0"}));
  // The card's own answer again: the failing line's position and error.
  EXPECT_EQ(card.ExecuteBlock(block), 0x80030002u);
  EXPECT_EQ(card.Execute("P1").lines, (std::vector<std::string>{"5"}));
}

}  // namespace
}  // namespace zimo::cardsim
