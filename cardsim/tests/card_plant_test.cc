// Motors as plants: inertia and friction driven by the servo's output (or,
// in open loop, by the output word), whole-count encoders, limit bits, and
// the factory settings of a working card.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

constexpr double kCycleMs = 3713707.0 / 8388608.0;

struct StepResponse {
  double peak = 0;
  double rise_ms = -1;  // first time at 90 % of the step
  bool settled = false;
};

// A 1000-count step of motor 1's commanded-position word, watched for 300 ms.
StepResponse Step(bool spran, const std::string& gains) {
  Card card(spran ? CardModel::Spran() : CardModel::Older());
  card.Execute(gains);
  card.Execute(spran ? "WD$88,3072000" : "WD$28,3072000");  // 1000 counts x I108 x 32
  StepResponse r;
  for (int c = 1; c * kCycleMs <= 300; ++c) {
    card.AdvanceServo(1);
    double p = card.MotorPosition(1);
    r.peak = std::max(r.peak, p);
    if (r.rise_ms < 0 && p >= 900) r.rise_ms = c * kCycleMs;
  }
  r.settled = card.MotorPosition(1) == 1000 && (card.MotorStatusWord(1) & 1u) != 0;
  return r;
}

TEST(Plant, AStepOfTheCommandedWordOvershootsWithLittleDerivativeGain) {
  for (bool spran : {false, true}) {
    StepResponse damped = Step(spran, "");
    EXPECT_EQ(damped.peak, 1000);  // critically damped with the factory gains
    EXPECT_TRUE(damped.settled);
    StepResponse ringing = Step(spran, "I131=100");
    EXPECT_GT(ringing.peak, 1500);  // damping ratio 0.15: about 60 % overshoot
    EXPECT_TRUE(ringing.settled);
    StepResponse stiff = Step(spran, "I130=8192 I131=3800");
    EXPECT_GT(stiff.rise_ms, 0);
    EXPECT_LT(stiff.rise_ms, damped.rise_ms * 0.8);  // output-limited, still faster
  }
}

TEST(Plant, TheOpenLoopOutputWordGivesAFirstOrderVelocityRise) {
  struct Case {
    bool spran;
    const char* define;
    const char* write;  // 100 output units either way
  };
  const Case cases[] = {{false, "M1018->X:$3A,4,20,S", "M1018=1600"},
                        {true, "M1018->X:$AE,8,16,S", "M1018=100"}};
  for (const Case& c : cases) {
    Card card(c.spran ? CardModel::Spran() : CardModel::Older());
    card.Execute(std::string("#1O0 ") + c.define);
    card.Execute(c.write);
    const double v_end = 0.01 * 100 / 0.2;  // counts/ms: gain x output / friction
    for (double ms : {5.0, 20.0}) {
      int cycles = static_cast<int>(ms / kCycleMs);
      Card& k = card;
      k.AdvanceServo(cycles - (ms == 5.0 ? 0 : static_cast<int>(5.0 / kCycleMs)));
      double t = cycles * kCycleMs;
      double v = std::stod(k.Execute("#1V").lines.at(0)) / kCycleMs;
      EXPECT_NEAR(v, v_end * (1 - std::exp(-0.2 * t)), 0.01) << c.write << " at " << ms;
    }
    // Closed loop, the servo writes its output into the same word.
    card.Execute("#1J/ M1018->X:$3A,4,20,S M1019->X:$AE,8,16,S");
    card.Execute(c.spran ? "WD$88,307200" : "WD$28,307200");  // a 100-count step
    card.AdvanceServo(1);
    EXPECT_NE(card.Execute(c.spran ? "M1019" : "M1018").lines.at(0), "0");
  }
}

TEST(Plant, LimitBitsFromSoftLimitsAndScriptedSwitches) {
  Card card(CardModel::Older());
  card.Execute("I113=100 I114=-100 #1J=150");
  card.AdvanceServo(400);
  EXPECT_EQ(card.MotorServoStatus(1) & (3u << 21), 1u << 21);
  card.Execute("#1J=-150");
  card.AdvanceServo(800);
  EXPECT_EQ(card.MotorServoStatus(1) & (3u << 21), 1u << 22);
  card.Execute("I113=0 I114=0");
  card.AdvanceServo(1);
  EXPECT_EQ(card.MotorServoStatus(1) & (3u << 21), 0u);
  card.SetLimitSwitch(1, true, true);
  EXPECT_EQ(card.memory().Read(Space::kX, 0x3D) & (3u << 21), 1u << 21);
  card.SetLimitSwitch(1, true, false);
  card.SetLimitSwitch(1, false, true);
  EXPECT_EQ(card.memory().Read(Space::kX, 0x3D) & (3u << 21), 1u << 22);
}

TEST(Plant, ScriptedFaultsLoadAndStuckPlant) {
  Card card(CardModel::Older());
  card.SetPlantFault(1, 2.0);  // a steady push: the loop holds with an error
  card.AdvanceServo(200);
  EXPECT_NEAR(card.MotorFollowingError(1), -2.0, 0.01);  // load / proportional gain
  card.SetPlantFault(2, 0, true);
  card.Execute("I211=3200 #2J=500");  // fatal at 200 counts
  card.AdvanceServo(400);
  EXPECT_EQ(card.MotorPosition(2), 0);
  EXPECT_NE(card.MotorStatusWord(2) & (1u << 2), 0u);  // fatal following error
}

bool KnownOutput(int type, uint32_t a) {
  std::set<uint32_t> known;
  const uint32_t b[] = {0x78000, 0x78100, 0x78200, 0x78300, 0x79200, 0x79300, 0x7A200, 0x7A300};
  const uint32_t b8[] = {0x78200, 0x78300, 0x79200, 0x79300, 0x7A200, 0x7A300, 0x7B200, 0x7B300};
  for (uint32_t k = 0; k < 8; ++k) {
    if (type == 2) known.insert({0xC002 + 8 * k, 0xC004 + 8 * k});
    for (uint32_t off : {0x2u, 0xAu, 0x12u, 0x1Au}) {
      if (type == 6) known.insert(b[k] + off);
      if (type == 8) known.insert(b8[k] + off);
    }
  }
  return known.count(type == 2 ? (a & 0xFFFF) : (a & 0xFFFFF)) != 0;
}

TEST(FactorySettings, EveryIVariableCheckOfTheDiagnosisPasses) {
  for (CardModel model : {CardModel::Older(), CardModel::Spran(), CardModel::SpranType8(0x60000)}) {
    Card card(model);
    const bool spran = model.spran;
    auto i = [&](int n) { return card.IVarValue(n); };
    for (int m = 1; m <= model.motors; ++m) {
      int b = 100 * m;
      SCOPED_TRACE("type " + std::to_string(model.type) + " motor " + std::to_string(m));
      EXPECT_GE(spran ? i(b + 92) : i(12), 10);
      EXPECT_NE(i(b + 0), 0);
      EXPECT_TRUE(KnownOutput(model.type, static_cast<uint32_t>(i(b + 2))));
      auto fb = static_cast<uint32_t>(i(b + 3));
      if (spran) {
        EXPECT_TRUE((fb & 0xFFFFF) >= 0x3501 && (fb & 0xFFFFF) <= 0x3520);
      } else {
        EXPECT_TRUE(fb >= 0x720 && fb <= 0x73F);
      }
      for (int k : {7, 8}) EXPECT_TRUE(i(b + k) != 0 && i(b + k) <= 1000);
      EXPECT_TRUE(i(b + 11) == 0 || i(b + 11) >= 1600);
      for (int k : {16, 17, 19, 22}) EXPECT_GE(i(b + k), 0.001);
      for (int k : {20, 21}) EXPECT_LE(i(b + k), 60000);
      EXPECT_GE(i(b + 30), 2001);
      EXPECT_GE(i(b + 67), 9600);
      EXPECT_GE(i(b + 69), 8192);
    }
    EXPECT_GE(i(10), 250000);
    EXPECT_GE(i(11), 10);
    for (int s = 1; s <= model.coordinate_systems(); ++s) {
      int b = (spran ? 5000 : 0) + 100 * s;
      SCOPED_TRACE("system " + std::to_string(s));
      double i13 = spran ? i(b + 13) : i(13);
      EXPECT_TRUE(i13 != 0 && i13 <= 100);
      EXPECT_LE(i(b + 87), 60000);
      EXPECT_LE(i(b + 88), 60000);
      EXPECT_GE(i(b + 89), 1.0);
      EXPECT_LE(i(b + 90), 1000000);
      EXPECT_GE(i(b + 94), 250);
      EXPECT_TRUE(i(b + 96) == 0 || i(b + 96) >= 5.0);
    }
  }
  // The feedback table: one entry per motor from Y:$720, then a 0 word.
  Card older(CardModel::Older());
  for (uint32_t k = 0; k < 8; ++k) EXPECT_NE(older.memory().Read(Space::kY, 0x720 + k), 0u);
  EXPECT_EQ(older.memory().Read(Space::kY, 0x728), 0u);
}

}  // namespace
}  // namespace zimo::cardsim
