// The motors' current loop: the commanded current (Ixx77, or the output the
// motor applies) reaches the current words through a first-order lag whose
// time constant is 10 ms / (1 + 100 x Ixx62).
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

constexpr double kCycleMs = 3713707.0 / 8388608.0;

// The 16-bit reading in bits 8-23 of a current word, signed.
int Reading(const Card& card, Space space, uint32_t address) {
  auto word = static_cast<int32_t>(card.memory().Read(space, address));
  if (word & 0x800000) word -= 0x1000000;
  return word / 256;
}

// Cycles until motor 1's direct current (Y:$44) first reaches `level`.
int CyclesTo(Card& card, int level, int limit = 100000) {
  for (int c = 1; c <= limit; ++c) {
    card.AdvanceServo(1);
    if (Reading(card, Space::kY, 0x44) >= level) return c;
  }
  return -1;
}

TEST(CurrentLoop, DirectCurrentFollowsIxx77WithALagThatShortensAsIxx62Rises) {
  // 63.2 % of the step is reached after one time constant.
  struct Case {
    const char* gain;
    double tau_ms;
  };
  const Case cases[] = {{"I162=0", 10.0}, {"I162=0.0625", 10.0 / 7.25}, {"I162=0.25", 10.0 / 26}};
  int previous = 1 << 30;
  for (const auto& c : cases) {
    Card card(CardModel::Older());
    card.Execute(c.gain);
    card.Execute("#1O0 I177=1000");
    const int cycles = CyclesTo(card, 632);
    const int expected = static_cast<int>(std::ceil(c.tau_ms / kCycleMs - 1e-9));
    EXPECT_NEAR(cycles, expected, 1) << c.gain;
    EXPECT_LT(cycles, previous) << c.gain;
    previous = cycles;
    card.AdvanceServo(2000);
    // The whole step, as the 16-bit reading: 1000 x 256.
    EXPECT_EQ(card.memory().Read(Space::kY, 0x44), 0x03E800u) << c.gain;
    EXPECT_EQ(card.memory().Read(Space::kY, 0x46), 0x03E800u) << c.gain;  // phase A
    // Phase B: -1000 / 2.
    EXPECT_EQ(Reading(card, Space::kX, 0x46), -500) << c.gain;
    EXPECT_EQ(card.memory().Read(Space::kX, 0x44), 0u) << c.gain;  // no output applied
  }
}

TEST(CurrentLoop, TheOpenLoopOutputWordDrivesTheQuadratureCurrentOfItsMotor) {
  Card card(CardModel::Older());
  // Motor 3: output word X:$B2 (bits 4-23, 16 per output unit), current
  // words $3C x 2 past motor 1's.
  card.Execute("I362=0.25 #3O0 M319->X:$B2,4,20");
  card.Execute("M319=16000");  // 1000 output units
  card.AdvanceServo(500);
  EXPECT_EQ(Reading(card, Space::kX, 0xBC), 1000);
  EXPECT_EQ(Reading(card, Space::kY, 0xBC), 0);
  EXPECT_EQ(Reading(card, Space::kX, 0xBE), 866);  // sqrt(3)/2 x 1000
  // Motor 1's words stay quiet.
  EXPECT_EQ(card.memory().Read(Space::kX, 0x44), 0u);

  // A killed motor commands no current: it dies away with the same lag.
  card.Execute("#3K I377=2000");
  card.AdvanceServo(500);
  EXPECT_EQ(card.memory().Read(Space::kX, 0xBC), 0u);
  EXPECT_EQ(card.memory().Read(Space::kY, 0xBC), 0u);
}

TEST(CurrentLoop, ANegativeCommandAndADeactivatedMotor) {
  Card card(CardModel::Older());
  card.Execute("I262=0.25 #2O0 I277=-32768");
  card.AdvanceServo(500);
  EXPECT_EQ(Reading(card, Space::kY, 0x80), -32767);  // held to the output range
  card.Execute("I200=0");
  card.AdvanceServo(500);
  EXPECT_EQ(card.memory().Read(Space::kY, 0x80), 0u);
}

TEST(CurrentLoop, SpranCardsHaveNoCurrentWords) {
  Card card(CardModel::Spran());
  card.Execute("I162=0.25 #1O0 I177=1000");
  card.AdvanceServo(500);
  for (uint32_t a : {0x44u, 0x46u}) {
    EXPECT_EQ(card.memory().Read(Space::kY, a), 0u);
    EXPECT_EQ(card.memory().Read(Space::kX, a), 0u);
  }
}

TEST(CurrentLoop, AProgramHoldingTheGatherBitRecordsTheStep) {
  // Gather the direct current (Y:$44) every cycle while PLC 31 holds bit 19
  // of X:$0003 for 20 cycles with Ixx77 stepped.
  Card card(CardModel::Older());
  for (const char* line : {"I21=$44",
                           "I20=1",
                           "I19=1",
                           "I162=0.0625",
                           "#1O0",
                           "DEFINE GATHER",
                           "M1019->X:$0003,19",
                           "M0->X:0,24",
                           "M1023->X:$07F0,24",
                           "OPEN PLC 31 CLEAR",
                           "M1019=1",
                           "I177=1000",
                           "M1023=M0",
                           "WHILE(M0-M1023<20)",
                           "ENDWHILE",
                           "M1019=0",
                           "I177=0",
                           "DIS PLC 31",
                           "CLOSE",
                           "I5=2",
                           "ENA PLC 31"}) {
    ASSERT_EQ(card.Execute(line).error, 0) << line;
  }
  card.AdvanceServo(100);
  const Reply listing = card.Execute("LIST GATHER");
  std::vector<int> samples;
  for (const auto& line : listing.lines) {
    for (std::size_t at = 0; at + 12 <= line.size(); at += 13) {
      // One sample a word: its Y half (the last 6 digits); the X half pads.
      auto word = static_cast<int32_t>(std::stoul(line.substr(at + 6, 6), nullptr, 16));
      if (word & 0x800000) word -= 0x1000000;
      samples.push_back(word / 256);
    }
  }
  ASSERT_GE(samples.size(), 20u);
  ASSERT_LE(samples.size(), 24u);
  EXPECT_EQ(samples[0], 0);  // the step is set after the cycle's current
  for (std::size_t i = 1; i < samples.size(); ++i) EXPECT_GE(samples[i], samples[i - 1]) << i;
  EXPECT_GT(samples.back(), 950);
  EXPECT_LT(samples.back(), 1000);
}

}  // namespace
}  // namespace zimo::cardsim
