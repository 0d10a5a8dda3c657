// Position steps and parabolic moves: the lines each sends, byte for byte,
// on both card maps; a card that falls silent part way; the gather period;
// and the moves run on the simulated card through the library, gathered
// and collected as a client does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/tuning.h"
#include "tuning_transcripts.h"

#if __has_include("cardsim/attach_pty.h")
#define POSITION_MOVES_WITH_CARD 1
#include "corvan/gather_api.h"
#include "corvan/variables_api.h"
#include "gather_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using namespace testing;
using tuning::TuningCard;

// Motor 1 (gantry: motors 1 and 2), a step of 1000 counts, 500 ms, both
// ways; card type 2 is of the older map, 6 of the newer.
std::vector<TuningProcedure> Procedures() {
  return {
      {"position_step_older.txt", 2,
       [](TuningCard& c) { return tuning::DoAPositionLoopStep(c, 1, 1000, 500, 1); }},
      {"position_step_newer.txt", 6,
       [](TuningCard& c) { return tuning::DoAPositionLoopStep(c, 1, 1000, 500, 1); }},
      {"gantry_step_older.txt", 2,
       [](TuningCard& c) { return tuning::DoAGantryPositionLoopStep(c, 1, 2, 1000, 500, 1); }},
      {"gantry_step_newer.txt", 6,
       [](TuningCard& c) { return tuning::DoAGantryPositionLoopStep(c, 1, 2, 1000, 500, 1); }},
      {"parabolic_older.txt", 2,
       [](TuningCard& c) { return tuning::DoAParabolicMove(c, 1, 1000, 500, 1); }},
      {"parabolic_newer.txt", 6,
       [](TuningCard& c) { return tuning::DoAParabolicMove(c, 1, 1000, 500, 1); }},
      {"gantry_parabolic_older.txt", 2,
       [](TuningCard& c) { return tuning::DoAGantryParabolicMove(c, 1, 2, 1000, 500, 1); }},
      {"gantry_parabolic_newer.txt", 6,
       [](TuningCard& c) { return tuning::DoAGantryParabolicMove(c, 1, 2, 1000, 500, 1); }},
  };
}

TEST(PositionMoves, EachSendsItsGoldenTranscript) { ExpectGoldenTranscripts(Procedures()); }

TEST(PositionMoves, StopAtTheFirstUnansweredLineAndNeverStartAPartProgram) {
  ExpectStopAtEveryCut(Procedures());
}

TEST(PositionMoves, CardErrorsDoNotStopAMove) {
  ExpectCardErrorsDoNotStop(Procedures(), "DELETE TRACE");
}

TEST(PositionMoves, TheMotorsAndTheFlagShapeTheProgram) {
  // One way only: the step has no return block, the parabolic move no
  // return segment; the gantry parabolic move always comes back.
  struct Case {
    const char* golden;
    int card_type;
    std::function<int(TuningCard&)> run;
    Lines dropped;
  };
  const Case cases[] = {
      {"position_step_older.txt",
       2,
       [](TuningCard& c) { return tuning::DoAPositionLoopStep(c, 1, 1000, 500, 0); },
       {"M1018=M1018-P1023", "M1022=M0", "WHILE(M0-M1022<P1022)", "ENDW"}},
      {"gantry_step_newer.txt",
       6,
       [](TuningCard& c) { return tuning::DoAGantryPositionLoopStep(c, 1, 2, 1000, 500, 0); },
       {"M1018=M1018-P1023 M1008=M1008-p1023", "M1022=M0", "WHILE(M0-M1022<P1022)", "ENDW"}},
      {"parabolic_older.txt",
       2,
       [](TuningCard& c) { return tuning::DoAParabolicMove(c, 1, 1000, 500, 0); },
       {"X(-P1023):0"}},
      {"gantry_parabolic_older.txt",
       2,
       [](TuningCard& c) { return tuning::DoAGantryParabolicMove(c, 1, 2, 1000, 500, 0); },
       {}},
  };
  for (const auto& c : cases) {
    Lines expected = LoadTranscript(c.golden).lines;
    // The return block is one run of lines in the two-way transcript.
    if (!c.dropped.empty()) {
      auto at = std::search(expected.begin(), expected.end(), c.dropped.begin(), c.dropped.end());
      ASSERT_NE(at, expected.end()) << c.golden;
      expected.erase(at, at + static_cast<long>(c.dropped.size()));
    }
    ScriptedTuningCard scripted(c.card_type);
    auto card = scripted.card();
    EXPECT_EQ(c.run(card), 1) << c.golden;
    EXPECT_EQ(scripted.path.sent, expected) << c.golden;
  }

  // Motor 8 on each map: the position register steps 60 (older) or 128
  // (newer) words a motor, the status word 192 (older) or 128 (newer).
  struct Address {
    int card_type;
    bool parabolic;
    Lines wanted;
  };
  const Address addresses[] = {
      {2, false, {"M1018->D:$001cc", "M1014->Y:$d54,2,1", "I3=2 #8J/"}},
      {6, false, {"M1018->D:$408"}},
      {2, true, {"M1018->D:$001cc", "M1014->Y:$d54,2,1", "#8->X"}},
      {6, true, {"M1018->D:$408", "M1014->Y:$440,2,1"}},
  };
  for (const auto& a : addresses) {
    ScriptedTuningCard scripted(a.card_type);
    auto card = scripted.card();
    ASSERT_EQ(a.parabolic ? tuning::DoAParabolicMove(card, 8, 10, 100, 1)
                          : tuning::DoAPositionLoopStep(card, 8, 10, 100, 1),
              1);
    for (const std::string& line : a.wanted) {
      EXPECT_NE(std::find(scripted.path.sent.begin(), scripted.path.sent.end(), line),
                scripted.path.sent.end())
          << line;
    }
    EXPECT_EQ(scripted.gathers.at(0).second, 0x808080u);
  }
}

TEST(PositionMoves, NewerCardsNeverGetTheOlderWords) {
  // The older map's control word, scratch words and register addresses
  // would land on unrelated words of a newer card; the gantry step there
  // has a single control bit.
  for (const auto& p : Procedures()) {
    if (p.card_type < 4) continue;
    const Lines lines = LoadTranscript(p.golden).lines;
    for (const std::string& line : lines) {
      EXPECT_EQ(line.find("$0003"), std::string::npos) << p.golden << ": " << line;
      EXPECT_EQ(line.find("$07F"), std::string::npos) << p.golden << ": " << line;
      EXPECT_EQ(line.find("D:$00"), std::string::npos) << p.golden << ": " << line;
    }
  }
  const Lines gantry = LoadTranscript("gantry_step_newer.txt").lines;
  for (const std::string& line : gantry) {
    EXPECT_EQ(line.find("M1020"), std::string::npos) << line;
  }
  EXPECT_NE(std::find(gantry.begin(), gantry.end(), "M1019->X:$0006,19"), gantry.end());
}

TEST(PositionMoves, GatherPeriodFromTheStepTimeAndTheServoTime) {
  struct Case {
    std::int32_t i10;
    int milliseconds;
    std::int32_t period;
  };
  const Case cases[] = {
      {3713707, 500, 5},       // 8388608 / 3713707 = 2; 2 x 1000 / 400
      {3713707, 50, 1},        // 2 x 100 / 400 = 0: at least 1
      {3713707, 99, 1},        // 2 x 198 / 400 = 0
      {3713707, 100, 1},       // 2 x 200 / 400 = 1
      {1048576, 1000, 40},     // 8 x 2000 / 400
      {0, 500, 1},             // no servo time: never a division by zero
      {-3713707, 500, 1},      //
      {1, 32767, 1374347591},  // the product needs more than 32 bits
      {3713707, -500, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tuning::StepGatherPeriod(c.i10, c.milliseconds), c.period)
        << c.i10 << " " << c.milliseconds;
  }
  // What the card answers to "I10" decides the line sent.
  struct Reply {
    const char* text;
    std::uint32_t status;
    const char* line;
  };
  const Reply replies[] = {
      {"3713707\r", kStatusAck, "I19=5"},
      {"I10=3713707\r", kStatusAck, "I19=5"},  // a card that names its variables
      {"0\r", kStatusAck, "I19=1"},
      {"\r", kStatusAck, "I19=1"},
      {"\aERR003\r", kStatusCardError, "I19=1"},
  };
  for (const auto& r : replies) {
    ScriptedTuningCard scripted(2);
    scripted.path.Reply("I10", r.text, r.status);
    auto card = scripted.card();
    ASSERT_EQ(tuning::DoAPositionLoopStep(card, 1, 1000, 500, 1), 1) << r.text;
    EXPECT_EQ(scripted.path.sent.at(5), r.line) << r.text;
  }
}

TEST(PositionMoves, MotorsOutsideOneToEightAreRefusedWithoutTraffic) {
  for (int motor : {0, 9, -1}) {
    for (int type : {2, 6}) {
      ScriptedTuningCard scripted(type);
      auto card = scripted.card();
      EXPECT_EQ(tuning::DoAPositionLoopStep(card, motor, 1000, 500, 1), 0);
      EXPECT_EQ(tuning::DoAParabolicMove(card, motor, 1000, 500, 1), 0);
      EXPECT_EQ(tuning::DoAGantryPositionLoopStep(card, 1, motor, 1000, 500, 1), 0);
      EXPECT_EQ(tuning::DoAGantryPositionLoopStep(card, motor, 1, 1000, 500, 1), 0);
      EXPECT_EQ(tuning::DoAGantryParabolicMove(card, 1, motor, 1000, 500, 1), 0);
      EXPECT_EQ(tuning::DoAGantryParabolicMove(card, motor, 1, 1000, 500, 1), 0);
      EXPECT_TRUE(scripted.path.sent.empty()) << motor;
      EXPECT_TRUE(scripted.gathers.empty()) << motor;
    }
  }
}

#ifdef POSITION_MOVES_WITH_CARD

class PositionMovesOnCard : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Open());
    // Soft gains for motor 1 (and 2) so the rise spans many samples.
    rig_.Command("I130=256 I230=256");
    rig_.card().script().ClearLog();
  }
  bool Newer() const { return GetParam(); }
  Lines Received() {
    Lines all = rig_.card().script().received();
    rig_.card().script().ClearLog();
    return all;
  }
  double P(int n) { return ZimoGetVariableDouble(0, 'P', static_cast<std::uint32_t>(n), -999); }

  // Runs the servo until P996 is 123 (asked the way a client asks) or
  // `limit` cycles have passed; the values P996 took, each change once,
  // and the range each of the motors' positions covered.
  struct Run {
    std::vector<double> p996;
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  };
  Run RunUntilDone(int limit) {
    Run run;
    run.p996.push_back(P(996));
    for (int c = 0; c < limit && run.p996.back() != 123; c += 10) {
      rig_.card().AdvanceServo(10);
      for (int m = 1; m <= 2; ++m) {
        run.low[m] = std::min(run.low[m], rig_.card().MotorPosition(m));
        run.high[m] = std::max(run.high[m], rig_.card().MotorPosition(m));
      }
      const double now = P(996);
      if (now != run.p996.back()) run.p996.push_back(now);
    }
    return run;
  }
  // The actual positions gathered (the second source of the preset), in
  // counts.
  std::vector<double> GatheredActual() {
    std::uint32_t sources = 0, samples = 0;
    EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 1);
    EXPECT_EQ(sources, 3u);
    std::vector<double> values(samples);
    std::uint32_t count = 0;
    EXPECT_EQ(ZimoGetGatherSamples(0, 1, &count, values.data(), samples), 1);
    values.resize(count);
    for (double& v : values) v /= 96 * 32;  // Ixx08 x 32 a count
    return values;
  }

  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{{GatherLink::kUdp, GetParam()}};
};

INSTANTIATE_TEST_SUITE_P(Cards, PositionMovesOnCard, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

TEST_P(PositionMovesOnCard, TheCardReceivesEachGoldenTranscript) {
  const char* map = Newer() ? "newer" : "older";
  struct Case {
    std::string golden;
    std::function<int()> run;
  };
  const Case cases[] = {
      {std::string("position_step_") + map + ".txt",
       [] { return DoAPositionLoopStep(0, 1, 1000, 500, 1); }},
      {std::string("gantry_step_") + map + ".txt",
       [] { return DoAGantryPositionLoopStep(0, 1, 2, 1000, 500, 1); }},
      {std::string("parabolic_") + map + ".txt",
       [] { return DoAParabolicMove(0, 1, 1000, 500, 1); }},
      {std::string("gantry_parabolic_") + map + ".txt",
       [] { return DoAGantryParabolicMove(0, 1, 2, 1000, 500, 1); }},
  };
  for (const auto& c : cases) {
    const Lines expected = ExpectedOnCard(LoadTranscript(c.golden), [this] { return Received(); });
    EXPECT_EQ(c.run(), 1) << c.golden;
    EXPECT_EQ(Received(), expected) << c.golden;
    rig_.Command("DIS PLC 31 &1A");
  }
}

TEST_P(PositionMovesOnCard, AStepMovesTheMotorByTheStepAndBackAndIsGathered) {
  ASSERT_EQ(DoAPositionLoopStep(0, 1, 1000, 500, 1), 1);
  if (!Newer()) {
    EXPECT_EQ(ZimoGetIVariableLong(0, 19, 0), 5);
  }
  const Run run = RunUntilDone(4000);
  EXPECT_EQ(run.p996, (std::vector<double>{-1, 123}));
  EXPECT_EQ(run.low[1], 0);
  EXPECT_NEAR(run.high[1], 1000, 2);  // an overdamped loop: no overshoot
  rig_.card().AdvanceServo(400);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);  // back where it started
  EXPECT_EQ(rig_.card().PlcEnabled() & (1u << 31), 0u);

  // The gathered actual position: the step's rise, a plateau at the step,
  // the fall back; recorded only while the program ran.
  const std::vector<double> actual = GatheredActual();
  ASSERT_GT(actual.size(), 100u);
  EXPECT_LT(actual.front(), 50);
  EXPECT_NEAR(actual[actual.size() / 2 - 2], 1000, 2);
  EXPECT_LT(actual.back(), 50);
  EXPECT_NEAR(*std::max_element(actual.begin(), actual.end()), 1000, 2);
}

TEST_P(PositionMovesOnCard, AStifferLoopRisesFaster) {
  auto rise_with = [this](int ixx30) {
    rig_.Command("I130=" + std::to_string(ixx30));
    EXPECT_EQ(DoAPositionLoopStep(0, 1, 1000, 500, 0), 1);
    EXPECT_EQ(RunUntilDone(4000).p996.back(), 123);
    std::vector<double> actual = GatheredActual();
    std::vector<std::int32_t> samples(actual.begin(), actual.end());
    char rise[ZIMO_STEP_TEXT_SIZE], peak[ZIMO_STEP_TEXT_SIZE], natural[ZIMO_STEP_TEXT_SIZE],
        overshoot[ZIMO_STEP_TEXT_SIZE], damping[ZIMO_STEP_TEXT_SIZE], settling[ZIMO_STEP_TEXT_SIZE];
    const auto period = static_cast<std::int32_t>(Newer() ? 1 : ZimoGetIVariableLong(0, 19, 0));
    CalculateStepStatistics(samples.data(), static_cast<std::int32_t>(samples.size()), 1000,
                            3713707, period, rise, peak, natural, overshoot, damping, settling);
    // Back to the start for the next run.
    rig_.Command("#1J=0");
    rig_.card().AdvanceServo(4000);
    return std::strtod(rise, nullptr);
  };
  const double soft = rise_with(256);
  const double stiff = rise_with(1024);
  EXPECT_GT(soft, 0.02);
  EXPECT_GT(stiff, 0.0);
  EXPECT_LT(stiff, soft / 2);
}

TEST_P(PositionMovesOnCard, AParabolicMoveGoesOutAndOptionallyBack) {
  for (int both_ways : {1, 0}) {
    ASSERT_EQ(DoAParabolicMove(0, 1, 1000, 500, static_cast<std::int16_t>(both_ways)), 1);
    EXPECT_EQ(P(1021), 1);
    const Run run = RunUntilDone(4000);
    EXPECT_EQ(run.p996, (std::vector<double>{-1, 123})) << both_ways;
    EXPECT_EQ(P(1021), 0);
    EXPECT_NEAR(run.high[1], 1000, 20) << both_ways;
    rig_.card().AdvanceServo(400);
    EXPECT_NEAR(rig_.card().MotorPosition(1), both_ways ? 0 : 1000, 2) << both_ways;
    const std::vector<double> actual = GatheredActual();
    ASSERT_GT(actual.size(), 10u);
    EXPECT_NEAR(*std::max_element(actual.begin(), actual.end()), 1000, 20);
  }
}

TEST_P(PositionMovesOnCard, GantryMovesTakeBothMotors) {
  ASSERT_EQ(DoAGantryPositionLoopStep(0, 1, 2, 500, 300, 1), 1);
  Run run = RunUntilDone(4000);
  EXPECT_EQ(run.p996, (std::vector<double>{-1, 123}));
  EXPECT_NEAR(run.high[1], 500, 2);
  EXPECT_NEAR(run.high[2], 500, 2);
  rig_.card().AdvanceServo(400);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);
  EXPECT_EQ(rig_.card().MotorPosition(2), 0);

  ASSERT_EQ(DoAGantryParabolicMove(0, 1, 2, 500, 300, 0), 1);
  run = RunUntilDone(4000);
  EXPECT_EQ(run.p996, (std::vector<double>{-1, 123}));
  EXPECT_EQ(P(1021), 0);
  EXPECT_NEAR(run.high[1], 500, 20);
  EXPECT_NEAR(run.high[2], 500, 20);
  rig_.card().AdvanceServo(400);
  EXPECT_NEAR(rig_.card().MotorPosition(1), 0, 2);  // always out and back
  EXPECT_NEAR(rig_.card().MotorPosition(2), 0, 2);
}

// A card that stops answering part way: nothing after that line reaches
// it, and the step program is never started.
class PositionMovesLostCard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.Open()); }
  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{{GatherLink::kSerial, false}};
};

TEST_F(PositionMovesLostCard, NothingAfterTheCutAndNothingStarted) {
  rig_.card().script().ClearLog();
  rig_.card().script().SilenceAt("OPEN PLC 31", -1);
  EXPECT_EQ(DoAPositionLoopStep(0, 1, 1000, 500, 1), 0);
  const Lines got = rig_.card().script().received();
  ASSERT_FALSE(got.empty());
  const auto cut = std::find(got.begin(), got.end(), "OPEN PLC 31");
  ASSERT_NE(cut, got.end());
  for (const char* later : {"CLEAR", "M1018=M1018+P1023", "I5=I5|2", "P996=-1", "ENA PLC 31"}) {
    EXPECT_EQ(std::find(cut, got.end(), later), got.end()) << later;
  }
  rig_.card().script().ClearSilence();
  rig_.card().AdvanceServo(100);
  EXPECT_EQ(rig_.card().PlcEnabled() & (1u << 31), 0u);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);
}

#endif  // POSITION_MOVES_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
