// The autotuning programs: the lines each download sends, byte for byte, on
// both card maps and with each flag; a card that falls silent part way; the
// gather mask of motors past 8; and the programs run on the simulated card
// as a client runs them, driving the motor, letting it settle and jogging
// it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/tuning.h"
#include "tuning_transcripts.h"

#if __has_include("cardsim/attach_pty.h")
#define AUTOTUNING_WITH_CARD 1
#include "corvan/gather_api.h"
#include "corvan/variables_api.h"
#include "gather_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using namespace testing;
using tuning::TuningCard;

// Motor 3 alone, motors 1 and 2 as a gantry pair; the output reversed
// (current-loop flag set) and the jog back kept; card type 2 is of the
// older map, 6 of the newer.
std::vector<TuningProcedure> Procedures() {
  return {
      {"autotuning_older.txt", 2,
       [](TuningCard& c) { return tuning::DownloadAutoTuningPLC(c, 3, 1, 0); }},
      {"autotuning_newer.txt", 6,
       [](TuningCard& c) { return tuning::DownloadAutoTuningPLC(c, 3, 1, 0); }},
      {"gantry_autotuning_p1_older.txt", 2,
       [](TuningCard& c) { return tuning::DownloadGantryAutoTuningPLCP1(c, 1, 2, 1, 0); }},
      {"gantry_autotuning_p1_newer.txt", 6,
       [](TuningCard& c) { return tuning::DownloadGantryAutoTuningPLCP1(c, 1, 2, 1, 0); }},
      {"gantry_autotuning_older.txt", 2,
       [](TuningCard& c) {
         return tuning::DownloadGantryAutoTuningPLC(c, 1, 2, 1, 0, 200.5f, 300);
       }},
      {"gantry_autotuning_newer.txt", 6,
       [](TuningCard& c) {
         return tuning::DownloadGantryAutoTuningPLC(c, 1, 2, 1, 0, 200.5f, 300);
       }},
  };
}

TEST(Autotuning, EachDownloadSendsItsGoldenTranscript) { ExpectGoldenTranscripts(Procedures()); }

TEST(Autotuning, StopAtTheFirstUnansweredLine) { ExpectStopAtEveryCut(Procedures()); }

TEST(Autotuning, CardErrorsDoNotStopADownload) {
  ExpectCardErrorsDoNotStop(Procedures(), "ENDWHILE");
}

// `golden` with each run of lines (first) replaced by other lines (second).
Lines Replaced(const std::string& golden, const std::vector<std::pair<Lines, Lines>>& changes) {
  Lines lines = LoadTranscript(golden).lines;
  for (const auto& [from, to] : changes) {
    auto at = std::search(lines.begin(), lines.end(), from.begin(), from.end());
    EXPECT_NE(at, lines.end()) << golden << ": " << from.front();
    if (at == lines.end()) continue;
    at = lines.erase(at, at + static_cast<long>(from.size()));
    lines.insert(at, to.begin(), to.end());
  }
  return lines;
}

TEST(Autotuning, TheFlagsShapeTheProgram) {
  const Lines single_jog = {
      "IF(M1014=0)", "CMD\"#3J= p996=-123\"", "WHILE(P996!=-123)", "ENDWHILE", "WHILE(M1021=1)",
      "ENDWHILE",    "WHILE(M1021=0)",        "ENDWHILE",          "ELSE",     "CMD\"#3J/\"",
      "ENDIF"};
  const Lines gantry_jog = {"IF(M1014=0 OR M1004=0) ",
                            "p2=1234",
                            "CMD\"#2J=#1J=p2=0\"",
                            "WHILE(P2=1234)",
                            "ENDWHILE",
                            "WHILE(M1021=0 AND M1011=0)",
                            "ENDWHILE",
                            "ELSE",
                            "CMD\"#2J/#1J/\"",
                            "ENDIF"};
  struct Case {
    const char* name;
    int card_type;
    std::function<int(TuningCard&)> run;
    Lines expected;
  };
  const Lines cleared = {"CMD\"M1008=0 M1018=0 \""};
  const Case cases[] = {
      {"bypass jog", 2, [](TuningCard& c) { return tuning::DownloadAutoTuningPLC(c, 3, 1, 1); },
       Replaced("autotuning_older.txt", {{single_jog, {"M1018=0"}}})},
      {"output cleared", 2, [](TuningCard& c) { return tuning::DownloadAutoTuningPLC(c, 3, 0, 0); },
       Replaced("autotuning_older.txt", {{{"M1018=-P1020"}, {"M1018=0"}}})},
      {"newer, bypass jog", 6,
       [](TuningCard& c) { return tuning::DownloadAutoTuningPLC(c, 3, 1, 1); },
       Replaced("autotuning_newer.txt", {{single_jog, {"M1018=0"}}})},
      {"gantry P1, bypass jog", 2,
       [](TuningCard& c) { return tuning::DownloadGantryAutoTuningPLCP1(c, 1, 2, 1, 1); },
       Replaced("gantry_autotuning_p1_older.txt", {{gantry_jog, cleared}})},
      {"gantry P1, output cleared", 6,
       [](TuningCard& c) { return tuning::DownloadGantryAutoTuningPLCP1(c, 1, 2, 0, 0); },
       Replaced("gantry_autotuning_p1_newer.txt",
                {{{"CMD\" M1008= -P1020 M1018= -P1020 \""}, cleared}})},
      {"gantry, bypass jog and output cleared", 2,
       [](TuningCard& c) {
         return tuning::DownloadGantryAutoTuningPLC(c, 1, 2, 0, 1, 200.5f, 300);
       },
       Replaced("gantry_autotuning_older.txt",
                {{{"CMD\" M1008=-P1020 M1018=-P1020 \""}, cleared}, {gantry_jog, cleared}})},
  };
  for (const auto& c : cases) {
    ScriptedTuningCard scripted(c.card_type);
    auto card = scripted.card();
    EXPECT_EQ(c.run(card), 1) << c.name;
    EXPECT_EQ(scripted.path.sent, c.expected) << c.name;
  }
  // The bypassed single program has no IF block at all.
  ScriptedTuningCard scripted(2);
  auto card = scripted.card();
  ASSERT_EQ(tuning::DownloadAutoTuningPLC(card, 3, 1, 1), 1);
  for (const std::string& line : scripted.path.sent) EXPECT_EQ(line.find("IF("), std::string::npos);
}

TEST(Autotuning, TheGantryGatherPeriodLineFollowsTheCardMap) {
  const Lines older = LoadTranscript("gantry_autotuning_p1_older.txt").lines;
  const Lines newer = LoadTranscript("gantry_autotuning_p1_newer.txt").lines;
  EXPECT_NE(std::find(older.begin(), older.end(), "I19=1"), older.end());
  EXPECT_EQ(std::find(older.begin(), older.end(), "I5049=1"), older.end());
  EXPECT_NE(std::find(newer.begin(), newer.end(), "I5049=1"), newer.end());
  EXPECT_EQ(std::find(newer.begin(), newer.end(), "I19=1"), newer.end());
  for (const std::string& line : newer) {
    EXPECT_EQ(line.find("M1019"), std::string::npos) << line;
    EXPECT_EQ(line.find("$0003"), std::string::npos) << line;
    EXPECT_EQ(line.find("$07F"), std::string::npos) << line;
  }
  // The single-motor program on a newer card: that map's words only.
  for (const std::string& line : LoadTranscript("autotuning_newer.txt").lines) {
    EXPECT_EQ(line.find("M1019"), std::string::npos) << line;
    EXPECT_EQ(line.find("$0003"), std::string::npos) << line;
    EXPECT_EQ(line.find("$07F"), std::string::npos) << line;
  }
}

TEST(Autotuning, MotorsPastEightReuseTheLastGatherMask) {
  tuning::LastQuickGatherMask() = 0;
  ScriptedTuningCard scripted(2);
  auto card = scripted.card();
  // A fresh process has no earlier mask: 0.
  ASSERT_EQ(tuning::DownloadAutoTuningPLC(card, 9, 1, 0), 1);
  ASSERT_EQ(tuning::DownloadAutoTuningPLC(card, 3, 1, 0), 1);
  const std::size_t before_nine = scripted.path.sent.size();
  ASSERT_EQ(tuning::DownloadAutoTuningPLC(card, 9, 1, 0), 1);
  ASSERT_EQ(scripted.gathers.size(), 3u);
  EXPECT_EQ(scripted.gathers[0].second, 0u);
  EXPECT_EQ(scripted.gathers[1].second, 0x040404u);
  EXPECT_EQ(scripted.gathers[2].second, 0x040404u);
  // Motor 9's own words on the older map: 60 words a motor (192 for the
  // start position and the status word).
  const Lines nine(scripted.path.sent.begin() + static_cast<long>(before_nine),
                   scripted.path.sent.end());
  const Lines wanted = {"M1021->x:$21d,13,1",
                        "M1018->X:$21a,4,20",
                        "M1017->d:$20b",
                        "M1016->d:$e0b",
                        "M1015->X:$213,24,S",
                        "M1014->Y:$e14,2,1",
                        "WHILE(ABS(M1015)>(I909*32*2)ANDM1022<P1021)",
                        "CMD\"#9J= p996=-123\""};
  for (const std::string& line : wanted) {
    EXPECT_NE(std::find(nine.begin(), nine.end(), line), nine.end()) << line;
  }
  // A position step sets the mask the next motor past 8 uses.
  ASSERT_EQ(tuning::DoAPositionLoopStep(card, 2, 100, 100, 1), 1);
  ASSERT_EQ(tuning::DownloadGantryAutoTuningPLCP1(card, 12, 1, 1, 0), 1);
  EXPECT_EQ(scripted.gathers.back().second, 0x020202u);
}

TEST(Autotuning, MotorsOutsideTheCardsRangeAreRefusedWithoutTraffic) {
  for (int motor : {0, 33, -1}) {
    ScriptedTuningCard scripted(2);
    auto card = scripted.card();
    EXPECT_EQ(tuning::DownloadAutoTuningPLC(card, motor, 1, 0), 0);
    EXPECT_EQ(tuning::DownloadGantryAutoTuningPLCP1(card, 1, motor, 1, 0), 0);
    EXPECT_EQ(tuning::DownloadGantryAutoTuningPLCP1(card, motor, 1, 1, 0), 0);
    EXPECT_EQ(tuning::DownloadGantryAutoTuningPLC(card, 1, motor, 1, 0, 100, 300), 0);
    EXPECT_EQ(tuning::DownloadGantryAutoTuningPLC(card, motor, 1, 1, 0, 100, 300), 0);
    EXPECT_TRUE(scripted.path.sent.empty()) << motor;
    EXPECT_TRUE(scripted.gathers.empty()) << motor;
  }
}

#ifdef AUTOTUNING_WITH_CARD

class AutotuningOnCard : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Open());
    rig_.card().script().ClearLog();
  }
  bool Newer() const { return GetParam(); }
  double P(int n) { return ZimoGetVariableDouble(0, 'P', static_cast<std::uint32_t>(n), -999); }
  // The output word's field for `units` of output: 16 a unit in the older
  // card's 20-bit field, 1 in the newer card's 16-bit one.
  int Output(int units) const { return Newer() ? units : units * 16; }

  // Runs the servo while PLC 31 is enabled (at most `limit` cycles): the
  // values P996 took (each change once) and how far motors 1 and 2 went.
  struct Run {
    std::vector<double> p996;
    double high[3] = {0, 0, 0};
  };
  Run RunWhileEnabled(int limit) {
    Run run;
    run.p996.push_back(P(996));
    for (int c = 0; c < limit && (rig_.card().PlcEnabled() & (1u << 31)) != 0; c += 10) {
      rig_.card().AdvanceServo(10);
      for (int m = 1; m <= 2; ++m) {
        run.high[m] = std::max(run.high[m], rig_.card().MotorPosition(m));
      }
      const double now = P(996);
      if (now != run.p996.back()) run.p996.push_back(now);
    }
    return run;
  }
  bool OpenLoop(int motor) { return (rig_.card().MotorServoStatus(motor) & (1u << 18)) != 0; }

  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{{GatherLink::kUdp, GetParam()}};
};

INSTANTIATE_TEST_SUITE_P(Cards, AutotuningOnCard, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

TEST_P(AutotuningOnCard, TheCardReceivesEachGoldenTranscript) {
  const char* map = Newer() ? "newer" : "older";
  struct Case {
    std::string golden;
    std::function<int()> run;
  };
  const Case cases[] = {
      {std::string("autotuning_") + map + ".txt", [] { return DownloadAutoTuningPLC(0, 3, 1, 0); }},
      {std::string("gantry_autotuning_p1_") + map + ".txt",
       [] { return DownloadGantryAutoTuningPLCP1(0, 1, 2, 1, 0); }},
      {std::string("gantry_autotuning_") + map + ".txt",
       [] { return DownloadGantryAutoTuningPLC(0, 1, 2, 1, 0, 200.5f, 300); }},
  };
  for (const auto& c : cases) {
    const Lines expected = ExpectedOnCard(LoadTranscript(c.golden), [this] {
      Lines all = rig_.card().script().received();
      rig_.card().script().ClearLog();
      return all;
    });
    EXPECT_EQ(c.run(), 1) << c.golden;
    EXPECT_EQ(rig_.card().script().received(), expected) << c.golden;
  }
}

// Each run starts on a fresh card: the jog back goes to where the motor's
// last jog began, which on a fresh card is where the run starts.
TEST_P(AutotuningOnCard, TheProgramDrivesTheMotorReversesAndJogsBack) {
  rig_.Command("#1O0");
  ASSERT_TRUE(OpenLoop(1));
  ASSERT_EQ(DownloadAutoTuningPLC(0, 1, 1, 0), 1);
  EXPECT_EQ(rig_.card().PlcEnabled() & (1u << 31), 0u);  // written, not enabled
  // 1000 output units for at most 300 ms or 2000 counts of travel.
  rig_.Command("P996=0 P1020=" + std::to_string(Output(1000)) + " P1022=300 P1023=2000*I108*32");
  rig_.Command("I5=I5|2 ENA PLC 31");
  const Run run = RunWhileEnabled(8000);
  EXPECT_EQ(run.p996, (std::vector<double>{0, -1, -123, 123}));
  EXPECT_GE(run.high[1], 2000);
  EXPECT_EQ(P(1019), 0);
  EXPECT_FALSE(OpenLoop(1));  // the jog closed the loop
  rig_.card().AdvanceServo(200);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);  // back where it started
}

TEST_P(AutotuningOnCard, WithTheOutputClearedTheMotorCoastsToRestFirst) {
  rig_.Command("#1O0");
  ASSERT_EQ(DownloadAutoTuningPLC(0, 1, 0, 0), 1);
  rig_.Command("P996=0 P1020=" + std::to_string(Output(1000)) + " P1022=300 P1023=1000*I108*32");
  rig_.Command("I5=I5|2 ENA PLC 31");
  const Run run = RunWhileEnabled(8000);
  EXPECT_EQ(run.p996, (std::vector<double>{0, -1, -123, 123}));
  // Driven at 50 counts/ms to 1000 counts, then coasting on friction: the
  // program jogged back only once the motor had come (nearly) to rest.
  EXPECT_GE(run.high[1], 1150);
  rig_.card().AdvanceServo(200);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);
}

TEST_P(AutotuningOnCard, TheSettleWordHoldsTheProgramWhileTheMotorMoves) {
  // Output cleared, the jog bypassed: the program waits while the motor
  // coasts, then ends with the motor where it nearly stopped.
  rig_.Command("#1O0");
  ASSERT_EQ(DownloadAutoTuningPLC(0, 1, 0, 1), 1);
  rig_.Command("P996=0 P1020=" + std::to_string(Output(1000)) + " P1022=2000 P1023=1000*I108*32");
  // The client defines the gather buffer; the program records while it
  // drives the motor.
  rig_.Command("DEFGAT I5=I5|2 ENA PLC 31");
  const Run run = RunWhileEnabled(20000);
  EXPECT_EQ(run.p996, (std::vector<double>{0, -1, 123}));
  // At the end the settle word is within the bound (two counts of Ixx09 x
  // 32) and the motor coasts only a little further: a program that did not
  // wait would end near 1000 counts with about 250 still to coast.
  const double at_end = rig_.card().MotorPosition(1);
  EXPECT_GE(at_end, 1150);
  EXPECT_LE(std::abs(ZimoGetVariableDouble(0, 'M', 1015, 1e9)), 96 * 32 * 2);
  rig_.card().AdvanceServo(4000);
  EXPECT_LE(rig_.card().MotorPosition(1) - at_end, 25);
  EXPECT_TRUE(OpenLoop(1));  // no jog: still in open loop
  // The drive was gathered: the actual position rises through it and the
  // recording stopped when the output was cleared.
  std::uint32_t sources = 0, samples = 0;
  ASSERT_EQ(ZimoCollectGatherData(0, &sources, &samples), 1);
  std::vector<double> actual(samples);
  std::uint32_t count = 0;
  ASSERT_EQ(ZimoGetGatherSamples(0, 1, &count, actual.data(), samples), 1);
  ASSERT_GT(count, 10u);
  EXPECT_LT(actual.front() / (96 * 32), 10);
  EXPECT_NEAR(actual[count - 1] / (96 * 32), 1000, 60);
}

TEST_P(AutotuningOnCard, TheGantryProgramDrivesBothMotorsAndJogsThemBack) {
  rig_.Command("#1O0 #2O0");
  ASSERT_EQ(DownloadGantryAutoTuningPLCP1(0, 1, 2, 1, 0), 1);
  rig_.Command("P996=0 P2=0 P1020=" + std::to_string(Output(1000)) +
               " P1022=300 P1023=1500*I108*32");
  rig_.Command("I5=I5|2 ENA PLC 31");
  const Run run = RunWhileEnabled(8000);
  EXPECT_EQ(run.p996, (std::vector<double>{0, -1, 123}));
  EXPECT_GE(run.high[1], 1500);
  EXPECT_GE(run.high[2], 1400);
  EXPECT_EQ(P(2), 0);
  rig_.card().AdvanceServo(400);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);
  EXPECT_EQ(rig_.card().MotorPosition(2), 0);
}

TEST_P(AutotuningOnCard, TheTimedGantryProgramSetsItsLimitsAndLeavesTheRunFlag) {
  rig_.Command("#1O0 #2O0");
  ASSERT_EQ(DownloadGantryAutoTuningPLC(0, 1, 2, 1, 0, 1500.0f, 300), 1);
  EXPECT_EQ(P(1023), 1500.0 * 96 * 32);
  EXPECT_EQ(P(1022), 300);
  rig_.Command("P996=7 P1020=" + std::to_string(Output(1000)));
  rig_.Command("I5=I5|2 ENA PLC 31");
  const Run run = RunWhileEnabled(8000);
  EXPECT_EQ(run.p996, (std::vector<double>{7}));
  EXPECT_GE(run.high[1], 1500);
  rig_.card().AdvanceServo(400);
  EXPECT_EQ(rig_.card().MotorPosition(1), 0);
  EXPECT_EQ(rig_.card().MotorPosition(2), 0);
}

#endif  // AUTOTUNING_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
