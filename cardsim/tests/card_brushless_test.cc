// The motors' brushless side: the stator field of the three output words
// (or, in open loop, of the phase offsets) turns the rotor, which shows in
// the commutation word X:Ixx83 and the Hall bits of X:(Ixx02 - 2); the
// phase-current channel of Ixx82 reads the two driven phases.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/brushless_control.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

constexpr double kCycleMs = 3713707.0 / 8388608.0;

void RunMs(Card& card, double ms) { card.AdvanceServo(static_cast<int>(std::ceil(ms / kCycleMs))); }

double Value(Card& card, const std::string& query) {
  Reply r = card.Execute(query);
  EXPECT_EQ(r.error, 0) << query;
  return r.lines.empty() ? 0 : std::stod(r.lines.front());
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

// Motor 1 of an older card: outputs Y:$C002..$C004, commutation word
// X:$C001, Hall bits in X:$C000.
struct Motor1 {
  Motor1() : card_(CardModel::Older()) {
    card_.Execute("I183=$C001");
    card_.Execute("M102->Y:$C002,8,16,S M104->Y:$C003,8,16,S M107->Y:$C004,8,16,S");
    card_.Execute("M101->X:$C001,0,24,S M128->X:$C000,20,4");
  }
  // One step of the voltage table: each output +, - or 0 of 1000.
  void Drive(int a, int b, int c) {
    card_.Execute("M102=" + std::to_string(1000 * a) + " M104=" + std::to_string(1000 * b) +
                  " M107=" + std::to_string(1000 * c));
  }
  Card card_;
};

class Brushless1 : public ::testing::Test, public Motor1 {};

// The eight steps of the voltage six-step test (+ 0 -, + - 0, 0 - +, ...).
const int kVoltageSteps[8][3] = {{1, 0, -1}, {1, -1, 0}, {0, -1, 1}, {-1, 0, 1},
                                 {-1, 1, 0}, {0, 1, -1}, {1, 0, -1}, {1, -1, 0}};

TEST(Brushless, TheVoltageStepsTurnTheRotorInSixEqualSteps) {
  struct Case {
    const char* rotor;  // control command, or none
    double step;        // counts between successive records
    double first;       // count after the first step (from 0 degrees)
  };
  const Case cases[] = {
      {nullptr, -1000, 500},                    // 6000 counts a cycle: -60 degrees a step
      {"rotor 1 wiring -", 1000, -500},         // the encoder counts the other way
      {"rotor 1 cycle 4800 lag 2", -800, 400},  // another motor
  };
  for (const Case& c : cases) {
    Motor1 fresh;
    Card& card = fresh.card_;
    if (c.rotor) {
      auto r = RunBrushlessControl(card, Words(c.rotor));
      ASSERT_TRUE(r && r->ok) << c.rotor;
    }
    std::vector<double> record;
    for (const auto& s : kVoltageSteps) {
      fresh.Drive(s[0], s[1], s[2]);
      RunMs(card, 100);
      record.push_back(Value(card, "M101"));
    }
    EXPECT_EQ(record[0], c.first) << (c.rotor ? c.rotor : "default");
    for (size_t i = 1; i < record.size(); ++i) {
      EXPECT_EQ(record[i] - record[i - 1], c.step) << "step " << i + 1;
    }
  }
}

TEST_F(Brushless1, TheRotorLagsTheFieldAndAZeroFieldHoldsIt) {
  Drive(1, 0, -1);  // 30 degrees; lag 5 ms
  RunMs(card_, 5);
  double cycles = std::ceil(5 / kCycleMs);
  EXPECT_NEAR(card_.RotorAngle(1), 30 * (1 - std::exp(-cycles * kCycleMs / 5)), 1e-9);
  RunMs(card_, 100);
  EXPECT_NEAR(card_.RotorAngle(1), 30, 1e-6);
  Drive(0, 0, 0);
  card_.PlaceRotor(1, 200);
  RunMs(card_, 100);
  EXPECT_EQ(card_.RotorAngle(1), 200);  // no field, no pull
  // Half-way across the cycle it takes the short way: from 200 to 30 is +190
  // the long way, -170 the short one.
  Drive(1, 0, -1);
  double before = card_.RotorCounts(1);
  RunMs(card_, 100);
  EXPECT_NEAR(card_.RotorCounts(1) - before, -170.0 / 360 * 6000, 1e-3);
}

TEST_F(Brushless1, TheOpenLoopOffsetsGiveSixDistinctHallStates) {
  // The UVW test: motor activated, commutated, open loop at 0, then the
  // phase offsets In79/In29 in multiples of u.
  card_.memory().Write(Space::kX, 0xC000, 0x800001);  // bits outside 20-22 stay
  card_.Execute("I100=1 I101=1 #1O0");
  const double u = 3276.7;
  const double steps[7][2] = {{u, -0.5 * u}, {0.5 * u, -u}, {-0.5 * u, -0.5 * u},
                              {-u, 0.5 * u}, {-0.5 * u, u}, {0.5 * u, 0.5 * u},
                              {u, -0.5 * u}};
  std::vector<int> halls;
  for (const auto& s : steps) {
    card_.SetIVarValue(179, s[0]);
    card_.SetIVarValue(129, s[1]);
    RunMs(card_, 2000);
    halls.push_back(static_cast<int>(Value(card_, "M128")) & 7);
  }
  EXPECT_EQ(halls, (std::vector<int>{4, 6, 2, 3, 1, 5, 4}));
  EXPECT_EQ(card_.memory().Read(Space::kX, 0xC000) & ~(7u << 20), 0x800001u);
  // The field of step 7 lies at 0 degrees; killed, the outputs (all 0) hold it.
  EXPECT_NEAR(card_.RotorAngle(1), 0, 1e-6);
  card_.Execute("K");
  RunMs(card_, 100);
  EXPECT_NEAR(card_.RotorAngle(1), 0, 1e-6);
  // Not commutated (In01 = 0), the offsets make no field.
  card_.Execute("I101=0 #1O0");
  card_.SetIVarValue(179, -u);
  card_.SetIVarValue(129, 0.5 * u);
  RunMs(card_, 100);
  EXPECT_NEAR(card_.RotorAngle(1), 0, 1e-6);
}

TEST(BrushlessCurrents, ThePhaseCurrentsFollowTheOutputsScaled) {
  struct Case {
    const char* script;  // phase-current words after the channel, or none
    int a, b;            // outputs of phases A and B
    double x, y;         // readings of X:$712 and Y:$712
  };
  const Case cases[] = {
      {nullptr, 1000, -500, 1000, -500},
      {"sign - gain 0.5 2 offset 10 -20", 1000, -500, -490, 980},
      {"offset -9 12", 0, 0, -9, 12},
      {"gain 100 100", 1000, -500, 32767, -32768},  // the 16-bit field saturates
  };
  for (const Case& c : cases) {
    Card card(CardModel::Older());
    card.Execute("I282=49174");  // (49174 - 49150) / 8 - 1 = channel 2
    card.Execute("M202->Y:$C00A,8,16,S M204->Y:$C00B,8,16,S M207->Y:$C00C,8,16,S");
    card.Execute("M205->X:$712,8,16,S M206->Y:$712,8,16,S");
    if (c.script) {
      auto r = RunBrushlessControl(card, Words(std::string("phase-current 2 ") + c.script));
      ASSERT_TRUE(r && r->ok) << c.script;
    }
    card.Execute("M202=" + std::to_string(c.a) + " M204=" + std::to_string(c.b) + " M207=7000");
    card.AdvanceServo(1);
    EXPECT_EQ(Value(card, "M205"), c.x) << (c.script ? c.script : "default");
    EXPECT_EQ(Value(card, "M206"), c.y) << (c.script ? c.script : "default");
    // Bits 0-7 carry nothing.
    EXPECT_EQ(card.memory().Read(Space::kX, 0x712) & 0xFF, 0u);
  }
}

TEST(BrushlessCurrents, OnlyAMotorsOwnChannelIsWritten) {
  Card card(CardModel::Older());
  card.memory().Write(Space::kX, 0x710, 0x123456);
  card.Execute("I182=49158 I282=49158");  // both on channel 0: motor 1 is read
  card.Execute("I382=49150");             // no channel
  card.Execute("M102->Y:$C002,8,16,S M202->Y:$C00A,8,16,S M302->Y:$C012,8,16,S");
  card.Execute("M102=111 M202=222 M302=333");
  card.AdvanceServo(1);
  EXPECT_EQ(card.memory().Read(Space::kX, 0x710), 111u << 8);
  for (uint32_t a = 0x711; a <= 0x71F; ++a) {
    EXPECT_EQ(card.memory().Read(Space::kX, a), 0u) << a;
  }
  // In open loop, commutated, the currents are those of the offsets.
  card.Execute("I100=1 I101=1 #1O0 I179=300 I129=-100");
  card.AdvanceServo(1);
  EXPECT_EQ(card.memory().Read(Space::kX, 0x710), 300u << 8);
  EXPECT_EQ(card.memory().Read(Space::kY, 0x710), 0xFF9C00u);  // -100
  // The $710 block is the older card's: a SPRAN card leaves it alone.
  Card spran(CardModel::Spran());
  spran.memory().Write(Space::kX, 0x710, 0x123456);
  spran.Execute("I182=49158 M102->Y:$78002,8,16,S M102=500");
  spran.AdvanceServo(1);
  EXPECT_EQ(spran.memory().Read(Space::kX, 0x710), 0x123456u);
}

TEST(BrushlessControl, CommandsSetTheRotorAndChannelsAndRefuseBadWords) {
  Card card(CardModel::Older());
  auto run = [&](std::vector<std::string> words) { return RunBrushlessControl(card, words); };
  EXPECT_FALSE(run({"mute", "on"}).has_value());
  auto set = run({"rotor", "2", "cycle", "1200", "wiring", "-", "hall", "0", "angle", "90"});
  ASSERT_TRUE(set && set->ok);
  auto report = run({"rotor", "2"});
  ASSERT_TRUE(report && report->ok);
  EXPECT_EQ(report->lines, (std::vector<std::string>{"rotor 90 0"}));
  RotorScript r = card.script().rotor(2);
  EXPECT_EQ(r.cycle_counts, 1200);
  EXPECT_EQ(r.wiring, -1);
  EXPECT_EQ(r.hall_offset_deg, 0);
  EXPECT_EQ(r.lag_ms, 5);  // unchanged
  auto pc = run({"phase-current", "15", "sign", "-", "gain", "2", "3", "offset", "1", "-2"});
  ASSERT_TRUE(pc && pc->ok);
  PhaseCurrentScript s = card.script().phase_currents(15);
  EXPECT_EQ(s.sign, -1);
  EXPECT_EQ(s.gain_a, 2);
  EXPECT_EQ(s.gain_b, 3);
  EXPECT_EQ(s.offset_a, 1);
  EXPECT_EQ(s.offset_b, -2);
  const std::vector<std::vector<std::string>> bad = {
      {"rotor"},
      {"rotor", "9"},
      {"rotor", "0"},
      {"rotor", "1", "cycle", "0"},
      {"rotor", "1", "lag", "-1"},
      {"rotor", "1", "wiring", "x"},
      {"rotor", "1", "speed", "3"},
      {"rotor", "1", "cycle"},
      {"phase-current", "16", "sign", "+"},
      {"phase-current", "1"},
      {"phase-current", "1", "gain", "2"},
      {"phase-current", "1", "sign", "*"},
      {"phase-current", "1", "offset", "1", "x"},
  };
  for (const auto& words : bad) {
    auto r = run(words);
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->ok) << words.size();
  }
  // A refused command changes nothing.
  EXPECT_EQ(card.script().rotor(1).cycle_counts, 6000);
  EXPECT_EQ(card.script().phase_currents(1).gain_a, 1);
}

}  // namespace
}  // namespace zimo::cardsim
