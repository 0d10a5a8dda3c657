// Motors on the servo clock: jogs, moves to a position, homing, kill,
// open-loop output, the following-error limit, and what the host sees of
// them (status words, reports, control-character lines, card memory).
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "cardsim/card.h"
#include "cardsim/motors.h"

namespace zimo::cardsim {
namespace {

// Servo cycles in a number of milliseconds at the default I10.
int Cycles(double ms) { return static_cast<int>(std::ceil(ms * 8388608.0 / 3713707.0)); }

double Number(Card& card, std::string_view query) {
  Reply reply = card.Execute(query);
  EXPECT_EQ(reply.lines.size(), 1u) << query;
  return reply.lines.empty() ? NAN : std::stod(reply.lines[0]);
}

TEST(Jogging, RampsToJogSpeedWithAFollowingErrorAndSettlesWhenStopped) {
  Card card(CardModel::Older());
  card.Execute("#1J+");
  EXPECT_FALSE(card.MotorStatusWord(1) & motor_bit::kInPosition);
  card.AdvanceServo(Cycles(300));  // past the 128 ms ramp at 0.25 counts/ms^2
  double cycle_ms = 3713707.0 / 8388608.0;
  EXPECT_NEAR(Number(card, "#1V"), 32 * cycle_ms, 0.01);
  EXPECT_GT(Number(card, "#1P"), 4000);
  EXPECT_NEAR(Number(card, "#1F"), 64, 10);  // about speed x the 2 ms lag
  card.Execute("#1J/");
  card.AdvanceServo(Cycles(400));
  EXPECT_TRUE(card.MotorStatusWord(1) & motor_bit::kInPosition);
  EXPECT_TRUE(card.MotorServoStatus(1) & servo_bit::kVelocityZero);
  EXPECT_EQ(Number(card, "#1F"), 0);
  // J- runs the other way.
  double stopped = card.MotorPosition(1);
  card.Execute("#1J-");
  card.AdvanceServo(Cycles(50));
  EXPECT_LT(card.MotorPosition(1), stopped);
}

TEST(Jogging, MovesToATargetAndBackExactly) {
  Card card(CardModel::Older());
  card.Execute("#2J=1000");
  EXPECT_TRUE(card.MotorServoStatus(2) & servo_bit::kDefiniteMove);
  card.AdvanceServo(Cycles(500));
  EXPECT_DOUBLE_EQ(card.MotorPosition(2), 1000);
  EXPECT_FALSE(card.MotorServoStatus(2) & servo_bit::kDefiniteMove);
  EXPECT_TRUE(card.MotorStatusWord(2) & motor_bit::kInPosition);
  card.Execute("#2J:-250");
  card.AdvanceServo(Cycles(500));
  EXPECT_DOUBLE_EQ(card.MotorPosition(2), 750);
  card.Execute("#2J=");  // back to where the last jog started
  card.AdvanceServo(Cycles(500));
  EXPECT_DOUBLE_EQ(card.MotorPosition(2), 1000);
}

TEST(Homing, ReachesTheSwitchAndMakesItZero) {
  Card card(CardModel::Older());
  card.SetMotorPosition(3, -500);
  card.Execute("#3HM");
  EXPECT_TRUE(card.MotorServoStatus(3) & servo_bit::kHomeSearch);
  card.AdvanceServo(Cycles(600));
  EXPECT_FALSE(card.MotorServoStatus(3) & servo_bit::kHomeSearch);
  EXPECT_TRUE(card.MotorStatusWord(3) & motor_bit::kHomeComplete);
  EXPECT_DOUBLE_EQ(card.MotorPosition(3), 0);
}

TEST(KillAndOpenLoop, OpenTheLoopAndDropTheAmplifier) {
  Card older(CardModel::Older());
  older.Execute("#1O50");
  EXPECT_TRUE(older.MotorServoStatus(1) & servo_bit::kOpenLoop);
  // Half output: the velocity rises to 819.2 counts/ms with the plant's
  // 5 ms time constant (0.01 counts/ms^2 per output unit, friction 0.2/ms).
  const double cycle_ms = 3713707.0 / 8388608.0;
  const double v_end = 0.01 * 32767 * 0.5 / 0.2;
  older.AdvanceServo(Cycles(5));
  double t = Cycles(5) * cycle_ms;
  EXPECT_NEAR(Number(older, "#1V") / cycle_ms, v_end * (1 - std::exp(-0.2 * t)), 2.0);
  older.AdvanceServo(Cycles(100) - Cycles(5));
  t = Cycles(100) * cycle_ms;
  EXPECT_NEAR(older.MotorPosition(1), v_end * (t - (1 - std::exp(-0.2 * t)) / 0.2), 3.0);
  EXPECT_EQ(older.MotorFollowingError(1), 0);
  older.Control(ctrl::kCtrlK);
  older.AdvanceServo(Cycles(200));  // a killed motor coasts to rest
  for (int m = 1; m <= 8; ++m) {
    EXPECT_TRUE(older.MotorServoStatus(m) & servo_bit::kOpenLoop) << m;
    EXPECT_FALSE(older.MotorStatusWord(m) & motor_bit::kAmpEnabledOlder) << m;
  }
  double at = older.MotorPosition(1);
  older.AdvanceServo(Cycles(100));
  EXPECT_DOUBLE_EQ(older.MotorPosition(1), at);
  // A jog closes the loop again.
  older.Execute("#1J/");
  EXPECT_FALSE(older.MotorServoStatus(1) & servo_bit::kOpenLoop);

  Card spran(CardModel::Spran());
  EXPECT_TRUE(spran.MotorServoStatus(32) & servo_bit::kAmpEnabledSpran);
  spran.Execute("#32K");
  EXPECT_FALSE(spran.MotorServoStatus(32) & servo_bit::kAmpEnabledSpran);
  EXPECT_EQ(spran.Execute("#33K").error, card_error::kBadCommand);
}

TEST(FollowingError, BeyondTheFatalLimitKillsTheMotor) {
  Card card(CardModel::Older());
  card.Execute("I111=320 #1J+");  // fatal at 20 counts
  card.AdvanceServo(Cycles(300));
  EXPECT_TRUE(card.MotorStatusWord(1) & motor_bit::kFatalFollowingError);
  EXPECT_TRUE(card.MotorServoStatus(1) & servo_bit::kOpenLoop);
  // Another motor is untouched.
  EXPECT_FALSE(card.MotorStatusWord(2) & motor_bit::kFatalFollowingError);
}

TEST(Deactivated, MotorsWithIxx00ZeroIgnoreCommands) {
  Card card(CardModel::Older());
  card.Execute("I400=0 #4J=100");
  card.AdvanceServo(Cycles(100));
  EXPECT_EQ(card.MotorPosition(4), 0);
  EXPECT_FALSE(card.MotorServoStatus(4) & servo_bit::kActivated);
}

TEST(Reports, ControlCharactersListTheFirstEightMotors) {
  Card card(CardModel::Spran());
  card.SetMotorPosition(1, 12.4);  // the encoder counts whole counts
  card.SetMotorPosition(8, -3);
  card.SetMotorPosition(9, 99);  // beyond the eight reported
  EXPECT_EQ(card.Control(ctrl::kCtrlP).lines, std::vector<std::string>{"12 0 0 0 0 0 0 -3"});
  card.Execute("#1J+");
  card.AdvanceServo(Cycles(20));
  std::string fe = card.Control(ctrl::kCtrlF).lines.at(0);
  EXPECT_NE(fe.substr(0, 2), "0 ");
  std::string vel = card.Control(ctrl::kCtrlV).lines.at(0);
  EXPECT_NE(vel.substr(0, 2), "0 ");
}

TEST(Memory, MotorsPublishStatusAndPositionsWhereTheHostReadsThem) {
  struct Case {
    CardModel model;
    uint32_t servo, status, commanded, actual;  // motor 2's addresses
  };
  for (const Case& c :
       {Case{CardModel::Older(), 0x3D + 0x3C, 0x814 + 0xC0, 0x28 + 0x3C, 0x2B + 0x3C},
        Case{CardModel::Spran(), 0xB0 + 0x80, 0xC0 + 0x80, 0x88 + 0x80, 0x8B + 0x80}}) {
    Card card(c.model);
    card.Execute("#2J=10");
    card.AdvanceServo(Cycles(200));
    EXPECT_EQ(card.memory().Read(Space::kX, c.servo), card.MotorServoStatus(2));
    EXPECT_EQ(card.memory().Read(Space::kY, c.status), card.MotorStatusWord(2));
    // Positions in units of 1/(Ixx08 x 32) count.
    EXPECT_EQ(card.memory().ReadFixed48(c.actual), 10 * 96 * 32);
    EXPECT_EQ(card.memory().ReadFixed48(c.commanded), 10 * 96 * 32);
    char query[32];
    std::snprintf(query, sizeof query, "RL$%x", c.actual);
    EXPECT_EQ(Number(card, query) / (96 * 32), 10);
  }
}

TEST(ServoThread, AdvancesTheMotorsOnItsOwn) {
  Card card(CardModel::Older());
  card.Execute("#1J=1");
  card.StartServoThread(std::chrono::microseconds(50));
  for (int i = 0; i < 2000 && card.MotorPosition(1) != 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  card.StopServoThread();
  EXPECT_DOUBLE_EQ(card.MotorPosition(1), 1);
}

}  // namespace
}  // namespace zimo::cardsim
