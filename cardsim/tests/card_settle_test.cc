// The card words the tuning programs lean on: each motor's settle word
// (large while the motor moves or lags its command, within two counts of
// Ixx09 x 32 once it rests) and the gather trigger bit a program holds for
// the span it wants recorded.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

// The settle word of motor 2 as a signed 24-bit number.
double Settle(Card& card, bool spran) {
  const std::uint32_t word = card.memory().Read(Space::kX, spran ? 0x11D : 0x6F);
  return static_cast<double>(static_cast<std::int32_t>(word << 8) >> 8);
}

TEST(SettleWord, LargeWhileTheMotorMovesWithinTheBoundAtRest) {
  constexpr double kBound = 96 * 32 * 2;  // two counts of Ixx09 x 32
  for (bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    card.AdvanceServo(10);
    EXPECT_EQ(Settle(card, spran), 0);  // closed loop, at rest
    // A jog: the motor moves and lags its command.
    Type(card, {"#2J:5000"});
    card.AdvanceServo(300);
    EXPECT_GT(Settle(card, spran), 10 * kBound);
    card.AdvanceServo(3000);
    EXPECT_EQ(Settle(card, spran), 0);
    // Open loop: no following error, but the motor moves.
    Type(card, {"#2O30"});
    card.AdvanceServo(200);
    EXPECT_GT(Settle(card, spran), 10 * kBound);
    // Output off: the motor coasts and the word falls inside the bound.
    Type(card, {"#2O0"});
    int cycles = 0;
    while (std::abs(Settle(card, spran)) > kBound && cycles < 5000) {
      card.AdvanceServo(1);
      ++cycles;
    }
    EXPECT_GT(cycles, 20);  // it took the coast
    EXPECT_LT(cycles, 5000);
    // A motor held away from its command (a steady load) is not settled.
    Type(card, {"#2J/"});
    card.SetPlantFault(2, -3, false);
    card.AdvanceServo(2000);
    EXPECT_GT(Settle(card, spran), kBound);
  }
}

TEST(GatherTrigger, TheCardRecordsWhileAProgramHoldsTheBit) {
  for (bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    // One X word a sample (padded to an L word), every cycle.
    const std::string source = spran ? "I5001" : "I21";
    Type(card, {source + "=" + std::to_string(0x400000 + 0x3000), spran ? "I5050=1" : "I20=1",
                spran ? "I5049=1" : "I19=1", "DEFINE GATHER",
                spran ? "M1019->X:$0006,19" : "M1019->X:$0003,19"});
    auto words = [&] {
      const std::uint32_t pointers = spran ? 0x3120 : 0xF20;
      return card.memory().Read(Space::kY, pointers) - card.memory().Read(Space::kX, pointers);
    };
    card.AdvanceServo(10);
    EXPECT_EQ(words(), 0u);  // no GAT, no trigger: nothing
    Type(card, {"M1019=1"});
    card.AdvanceServo(8);
    EXPECT_EQ(words(), 8u);  // 8 samples
    Type(card, {"M1019=0"});
    card.AdvanceServo(8);
    EXPECT_EQ(words(), 8u);
    // The neighbouring bit (the older card's second control bit) records
    // nothing.
    Type(card, {spran ? "M1020->X:$0006,18" : "M1020->X:$0003,18", "M1020=1"});
    card.AdvanceServo(8);
    EXPECT_EQ(words(), 8u);
  }
}

}  // namespace
}  // namespace zimo::cardsim
