// What a why-not-moving diagnosis reads of the card: the motor word's fault
// and soft-limit bits, the coordinate-system words built from its motors
// and its program's feed hold, and the older cards' word of the motors
// with an axis in each system.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"
#include "cardsim/motors.h"

namespace zimo::cardsim {
namespace {

TEST(DiagnosisStatus, SoftLimitsShowInTheMotorWord) {
  Card card(CardModel::Older());
  Type(card, {"I113=500", "I114=-500"});
  EXPECT_EQ(card.MotorStatusWord(1) & motor_bit::kSoftLimit, 0u);
  card.SetMotorPosition(1, 501);
  EXPECT_EQ(card.MotorStatusWord(1) & motor_bit::kSoftLimit, motor_bit::kSoftLimit);
  card.SetMotorPosition(1, -501);
  EXPECT_EQ(card.MotorStatusWord(1) & motor_bit::kSoftLimit, motor_bit::kSoftLimit);
  // A limit switch is no software limit.
  card.SetMotorPosition(1, 0);
  card.SetLimitSwitch(1, true, true);
  EXPECT_EQ(card.MotorServoStatus(1) & servo_bit::kPositiveLimit, servo_bit::kPositiveLimit);
  EXPECT_EQ(card.MotorStatusWord(1) & motor_bit::kSoftLimit, 0u);
}

TEST(DiagnosisStatus, SystemWordsFromMotorFaultsAndFeedHold) {
  struct Case {
    uint32_t motor_bits;
    const char* status;  // "??" of system 1
  };
  const Case cases[] = {
      {motor_bit::kAmpFault, "000000120000"},
      {motor_bit::kI2TFault, "000000120000"},
      {motor_bit::kIntegratedFollowingError, "0000000A0000"},
      {motor_bit::kFatalFollowingError, "0000000A0000"},
      {motor_bit::kWarnFollowingError, "000000060000"},
      {0, "000000020000"},
  };
  for (const auto& c : cases) {
    Card card(CardModel::Spran());
    Type(card, {"&1#1->X"});
    card.SetMotorStatusBits(1, 0, c.motor_bits);
    EXPECT_EQ(FirstLine(card, "&1??"), c.status) << std::hex << c.motor_bits;
  }
  Card card(CardModel::Older());
  Type(card, {"&1#1->X", "OPEN PROG 1 CLR", "X1000", "CLOSE", "&1B1R"});
  const std::string running = FirstLine(card, "??");
  ASSERT_EQ(running.size(), 12u);
  EXPECT_EQ(std::stoul(running.substr(6), nullptr, 16) & (1u << 23), 0u);
  Type(card, {"\\"});
  const std::string held = FirstLine(card, "??");
  EXPECT_EQ(held.substr(0, 6), running.substr(0, 6));
  EXPECT_EQ(std::stoul(held.substr(6), nullptr, 16),
            std::stoul(running.substr(6), nullptr, 16) | (1u << 23));
  card.AdvanceServo(100);  // held: the program does not move on
  EXPECT_EQ(card.MotorCommandedPosition(1), 0);
  Type(card, {"R"});
  EXPECT_EQ(FirstLine(card, "??"), running);
  card.AdvanceServo(100);
  EXPECT_GT(card.MotorCommandedPosition(1), 0);
}

TEST(DiagnosisStatus, OlderCardsKeepAWordOfTheMotorsWithAnAxisPerSystem) {
  Card card(CardModel::Older());
  EXPECT_EQ(FirstLine(card, "RY$818"), "0");
  Type(card, {"&1#1->X", "#2->Y", "#3->1000Z", "#4->0", "&2#5->A", "#8->U"});
  // Three bits a motor from bit 0: X 1, Y 2, Z 3, U V W 4, A B C 5; a
  // motor in the system without an axis 0.
  EXPECT_EQ(FirstLine(card, "RY$818"), std::to_string(1 | 2 << 3 | 3 << 6));
  EXPECT_EQ(FirstLine(card, "RHY$8D8"), "805000");  // motor 5 A, motor 8 U
  EXPECT_EQ(FirstLine(card, "RY$998"), "0");
  Type(card, {"&1UNDEF"});
  EXPECT_EQ(FirstLine(card, "RY$818"), "0");
  // The newer cards have no such word.
  Card newer(CardModel::Spran());
  Type(newer, {"&1#1->X"});
  EXPECT_EQ(FirstLine(newer, "RY$818"), "0");
}

}  // namespace
}  // namespace zimo::cardsim
