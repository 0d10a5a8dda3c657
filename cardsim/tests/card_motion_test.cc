// Motion programs in simulated time: pointing and running, LINEAR and PVT
// moves, dwells, the feed-rate override, and the card's refusals.
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

double CycleMs(Card& card) { return card.IVarValue(10) / 8388608.0; }

// Runs cycles until `done` holds (at most `limit` ms); the elapsed ms.
template <typename Done>
double RunUntil(Card& card, Done done, double limit_ms) {
  int cycles = 0;
  int limit = static_cast<int>(limit_ms / CycleMs(card)) + 1;
  while (!done() && cycles < limit) {
    card.AdvanceServo(1);
    ++cycles;
  }
  return cycles * CycleMs(card);
}

TEST(MotionPrograms, ParabolicMoveOutAndBackSetsItsFlagAfterTheDwells) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    const std::string cmd_word = spran ? "D:$88" : "D:$0028";
    Type(card, {"UNDEF ALL &1 A",
                "#1->X",
                "%100",
                "M1017->*",
                "M0->X:0,24",
                "M1022->X:$07F0,24",
                "M1021->X:$07F1,24",
                "M1019->X:$0003,19",
                "M1018->" + cmd_word,
                "M1016->L:$081F",
                "M1014->Y:$814,2,1",
                "OPEN PROG 999 CLR",
                "M1019=1",
                "PVT(P1022)",
                "INC",
                "X(P1023):0",
                "X(-P1023):0",
                "DWE2",
                "DWE2",
                "M1019=0",
                "P1021=0",
                "LINEAR",
                "ABS",
                "P996=123",
                "CLS",
                "M1017=12345",
                "#1J/",
                "P1023=1000",
                "P1022=500",
                "PMATCH",
                "P996=-1",
                "#1J/",
                "P1021=1 &1B999R"});
    EXPECT_DOUBLE_EQ(card.PVar(1021), 1.0);
    double half = RunUntil(
        card, [&] { return card.MotorCommandedPosition(1) >= 999.999; }, 600);
    EXPECT_NEAR(half, 500.0, CycleMs(card));  // the end of the first segment
    EXPECT_EQ(card.memory().Read(Space::kX, 3) & (1u << 19), 1u << 19);
    double rest = RunUntil(
        card, [&] { return card.PVar(996) == 123; }, 600);
    EXPECT_NEAR(half + rest, 1004.0, 2 * CycleMs(card));
    EXPECT_DOUBLE_EQ(card.PVar(1021), 0.0);
    EXPECT_EQ(card.memory().Read(Space::kX, 3) & (1u << 19), 0u);
    card.AdvanceServo(200);  // settled at its start
    EXPECT_NEAR(card.MotorPosition(1), 0.0, 0.01);
    EXPECT_EQ(card.MotorStatusWord(1) & 1u, 1u);  // in position
  }
}

TEST(MotionPrograms, PvtSegmentsMeetTheirEndPositionsAndVelocities) {
  Card card(CardModel::Older());
  // 100 ms to 1000 at 15000 units/s, then 100 ms to 2000 at rest.
  Type(card, {"&1 #1->X", "OPEN PROG 1 CLR", "PVT100 ABS X1000:15000 X2000:0", "CLOSE", "&1 B1 R"});
  RunUntil(
      card, [&] { return card.MotorCommandedPosition(1) >= 1000; }, 200);
  EXPECT_NEAR(card.MotorCommandedPosition(1), 1000, 15.0 * CycleMs(card) + 0.01);
  // Halfway through the second segment: p = (p0+p1)/2 + T(v0-v1)/8 = 1500 + 100*15/8.
  double t0 = RunUntil(
      card, [&] { return card.MotorCommandedPosition(1) >= 1687.5; }, 200);
  EXPECT_NEAR(t0, 50.0, 2 * CycleMs(card));
  card.AdvanceServo(static_cast<int>(60 / CycleMs(card)));
  EXPECT_NEAR(card.MotorCommandedPosition(1), 2000, 1e-6);
}

TEST(MotionPrograms, LinearMovesByMoveTimeOrFeedRateWithAcceleration) {
  struct Case {
    Lines setup;
    double end_ms;
  };
  const Case cases[] = {
      {{"LINEAR ABS TA100 TM1000 X2000"}, 1000},
      {{"LINEAR INC TA100 F500 X1000"}, 2000},  // 1000 units at 500 units/s
      {{"LINEAR TA400 TM200 X2000"}, 400},      // never shorter than its acceleration
  };
  for (const Case& c : cases) {
    Card card(CardModel::Older());
    Type(card, {"&1 #1->X", "OPEN PROG 2 CLR"});
    Type(card, c.setup);
    Type(card, {"P1=1", "CLOSE", "B2R"});
    double ms = RunUntil(
        card, [&] { return card.PVar(1) == 1; }, 5000);
    EXPECT_NEAR(ms, c.end_ms, CycleMs(card)) << c.setup[0];
    EXPECT_NEAR(card.MotorCommandedPosition(1),
                c.setup[0].find("INC") != std::string::npos ? 1000 : 2000, 1e-6);
  }
  // Trapezoid halfway: half the distance; the override stretches time.
  Card card(CardModel::Older());
  Type(card, {"&1 #1->2X+10", "OPEN PROG 3 CLR", "TA100 TM1000 X1000", "DWE100", "P1=1", "CLOSE",
              "%50 B3R"});
  double ms = RunUntil(
      card, [&] { return card.MotorCommandedPosition(1) >= 1005; }, 3000);
  EXPECT_NEAR(ms, 1000.0, CycleMs(card));  // 500 program ms at 50 %
  ms += RunUntil(
      card, [&] { return card.PVar(1) == 1; }, 3000);
  EXPECT_NEAR(ms, 2100.0, 2 * CycleMs(card));  // the dwell is not stretched
  EXPECT_NEAR(card.MotorCommandedPosition(1), 2010, 1e-6);
}

TEST(MotionPrograms, RefusalsCarryTheCardsNumbers) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    EXPECT_EQ(card.Execute("&1R").error, card_error::kNoProgram);
    EXPECT_EQ(card.Execute("B5").error, card_error::kNoProgram);
    EXPECT_EQ(card.Execute("PC").error, card_error::kNoProgram);
    Type(card, {"OPEN PROG 5 CLR", "DWE1000", "CLOSE", "OPEN PROG 6 CLR", "WHILE(P1=0)"});
    EXPECT_EQ(card.Execute("CLOSE").error, card_error::kStructure);
    EXPECT_EQ(card.Execute("&3 B5 R").error, card_error::kNoMotors);
    Type(card, {"&1 #1->X #2->Y I200=0"});
    EXPECT_EQ(card.Execute("B5R").error, card_error::kNotActivated);
    Type(card, {"I200=1 #2O0"});
    EXPECT_EQ(card.Execute("B5R").error, card_error::kOpenLoop);
    Type(card, {"#2J/"});
    EXPECT_EQ(card.Execute("B6R").error, card_error::kBadStructureRun);
    Type(card, {"B5R"});
    EXPECT_EQ(card.Execute("PC").lines, Lines{"P5:0"});
    EXPECT_EQ(card.Execute("B6").error, card_error::kRunning);
    EXPECT_EQ(card.Execute("OPEN PROG 5").error, card_error::kRunning);
    card.AdvanceServo(10);
    Type(card, {"A"});
    EXPECT_EQ(card.Execute("B6").error, 0);
    // ^K ends a running program with its motors.
    Type(card, {"B5R"});
    card.Control(ctrl::kCtrlK);
    EXPECT_EQ(card.Execute("#1J/ B5").error, 0);
  }
}

TEST(MotionPrograms, ProgramsAndPlcsMoveMotorsThroughTheCommandedWord) {
  // A PLC step of the commanded-position word moves the motor there.
  Card card(CardModel::Older());
  Type(card, {"M1018->D:$0028", "M0->X:0,24", "OPEN PLC 31 CLEAR", "M1018=M1018+P1023",
              "DIS PLC 31", "CLS", "P1023=1000*I108*32", "I5=2 ENA PLC 31"});
  card.AdvanceServo(1);
  card.AdvanceServo(100);
  EXPECT_NEAR(card.MotorCommandedPosition(1), 1000.0, 1e-9);
  EXPECT_NEAR(card.MotorPosition(1), 1000.0, 0.01);
  // The host writes the word too.
  Type(card, {"WD$28,0"});
  card.AdvanceServo(100);
  EXPECT_NEAR(card.MotorPosition(1), 0.0, 0.01);
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(ServoClock, CyclesFollowI10AtOnceAndTheTimeScaleRunsLongProgramsFast) {
  Card card(CardModel::Older());
  card.AdvanceServo(10);
  EXPECT_NEAR(card.SimulatedMs(), 10 * 3713707 / 8388608.0, 1e-9);
  card.Execute("I10=8388608");  // 1 ms cycles from the next one on
  card.AdvanceServo(5);
  EXPECT_NEAR(card.SimulatedMs(), 10 * 3713707 / 8388608.0 + 5, 1e-9);

  // Two simulated seconds through the background clock at 400 times real time.
  Type(card, {"&1 #1->X", "OPEN PROG 4 CLR", "DWE2000", "P1=1", "CLOSE", "B4R"});
  card.StartServoClock(400);
  for (int i = 0; i < 2000 && card.PVar(1) != 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  card.StopServoThread();
  EXPECT_DOUBLE_EQ(card.PVar(1), 1.0);
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(MotionPrograms, BeginTakesTheSystemsDefaultAccelerationAndFeedRate) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    // System 2: TA 100 ms and 250 units per 500 ms (500 units/s).
    const std::string base = spran ? "I52" : "I2";
    Type(card, {base + "87=100 " + base + "89=250 " + base + "90=500", "&2 #3->X",
                "OPEN PROG 8 CLR", "X1000", "P2=1", "CLOSE", "&2B8R"});
    double ms = RunUntil(
        card, [&] { return card.PVar(2) == 1; }, 5000);
    EXPECT_NEAR(ms, 2000.0, CycleMs(card));
  }
}

}  // namespace
}  // namespace zimo::cardsim
