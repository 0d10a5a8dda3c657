// The six-step tests over a scripted card: the programs byte for byte, the
// variants by motor, VARLO flag, node value and compact card, the reading
// back of the records, and what happens when no test is pending, when the
// test was stopped, when the feedback table cannot be read and when the
// card falls silent; then on the simulated card's brushless motor.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/six_step.h"
#include "tuning_setup_card.h"

#if __has_include("cardsim/attach_pty.h")
#define SIX_STEP_TEST_WITH_CARD 1
#include "cardsim/memory.h"
#include "corvan/device_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;

using TestPath = testing::SetupTestCard;
using testing::GoldenLines;
using testing::Has;
using testing::UnreadableTable;
using testing::UnreadableTables;

// Motor 1 of an older card: outputs at Y:$C002, commutation word X:$C001,
// no node, I904/I900 adding 10 % to the duty, In69 20000; one feedback
// entry before the table's end.
void ScriptMotor1(TestPath& path) {
  path.Table({"1049347", "0"});
  path.Reply("I102", "49154\r");
  path.Reply("I183", "49153\r");
  path.Reply("I125", "49160\r");
  path.Reply("I1002", "0\r");
  path.Reply("I904", "261\r");
  path.Reply("I900", "6525\r");
  path.Reply("I169", "20000\r");
}

enum class Which { kVoltage, kCurrent, kUvw };

int Download(Which test, TestPath& path, int motor = 1) {
  switch (test) {
    case Which::kVoltage:
      return tuning::DownloadVoltageSixStepTestProgram(path.Card(), motor, 10.0f, 0, 0);
    case Which::kCurrent:
      return tuning::DownloadCurrentSixStepTestProgram(path.Card(), motor, 50.0f, 0, 0);
    case Which::kUvw:
      return tuning::DownloadUVWSixStepTestProgram(path.Card(), motor, 10.0f);
  }
  return 0;
}

const char* GoldenName(Which test) {
  switch (test) {
    case Which::kVoltage:
      return "six_step_voltage_older_motor1.txt";
    case Which::kCurrent:
      return "six_step_current_older_motor1.txt";
    case Which::kUvw:
      return "six_step_uvw_older_motor1.txt";
  }
  return "";
}

// Records P100 to P107 as given.
void ScriptRecords(TestPath& path, const std::string& p996, const std::vector<int>& records) {
  path.Reply("P996", p996 + "\r");
  for (std::size_t i = 0; i < records.size(); ++i) {
    path.Reply("P10" + std::to_string(i), std::to_string(records[i]) + "\r");
  }
}

class SixStep : public ::testing::Test {
 protected:
  void SetUp() override { tuning::ResetMotorTests(); }
  void TearDown() override { tuning::ResetMotorTests(); }
};

TEST_F(SixStep, ProgramsByteForByte) {
  for (Which test : {Which::kVoltage, Which::kCurrent, Which::kUvw}) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor1(path);
    EXPECT_EQ(Download(test, path), 1) << GoldenName(test);
    EXPECT_EQ(path.sent, GoldenLines(GoldenName(test))) << GoldenName(test);
    // The seven-step tests have no progress line for 7; the eight-step one
    // has.
    EXPECT_EQ(Has(path.sent, "P998=7*10/8"), test == Which::kVoltage) << GoldenName(test);
    EXPECT_TRUE(Has(path.sent, "P998=6*10/8"));
    EXPECT_EQ(path.sent.back(),
              test == Which::kVoltage ? "I5=2 ENA PLC 31" : "I5=2 #1o0 ENA PLC 31");
  }
  // Duty 50 % of In69 = 20000 in the current test's first step; duty 10 in
  // the UVW test's: u = 3276.7 and -u/2.
  TestPath current;
  ScriptMotor1(current);
  ASSERT_EQ(Download(Which::kCurrent, current), 1);
  auto first = std::find(current.sent.begin(), current.sent.end(), "P998=0");
  ASSERT_LT(first + 2, current.sent.end());
  EXPECT_EQ(Lines(first + 1, first + 3), (Lines{"I179=10000.000000", "I129=0"}));
  EXPECT_EQ(tuning::SavedMotorTest().tableEndWord, 0x721u);
  TestPath uvw;
  ScriptMotor1(uvw);
  ASSERT_EQ(Download(Which::kUvw, uvw), 1);
  first = std::find(uvw.sent.begin(), uvw.sent.end(), "P998=0");
  ASSERT_LT(first + 2, uvw.sent.end());
  EXPECT_EQ(Lines(first + 1, first + 3), (Lines{"I179=3276.700000", "I129=-1638.350000"}));
}

TEST_F(SixStep, VariantsByMotorVarloNodeAndCompactCard) {
  struct Case {
    const char* name;
    Which test;
    int motor;
    int varlo, compact;
    const char* in25;
    const char* i1002;
    Lines present;  // lines that must be sent
    Lines absent;   // and lines that must not
  };
  // In25 = $160F70 + e gives the first form's exponent e, $C0F70 + e the
  // second's.
  const Case cases[] = {
      {"motor 6 drives with I906 and d + I908 x 250 / I905",
       Which::kVoltage,
       6,
       0,
       0,
       "49160",
       "0",
       {"I908", "I905", "M602=I906*0.01*20.000000", "M604=-I906*0.01*20.000000", "M607=0",
        "M601->X:$c001,0,24,S", "WY:$721,$10c005,$10c006,0"},
       {"I904", "I900", "I992"}},
      {"compact card: I992",
       Which::kVoltage,
       1,
       0,
       1,
       "49160",
       "0",
       {"M102=I992*0.01*20.000000"},
       {"M102=I900*0.01*20.000000"}},
      {"node 4 counts as 1: I992",
       Which::kVoltage,
       1,
       0,
       0,
       "1445746",
       "4",
       {"M102=I992*0.01*20.000000"},
       {}},
      {"VARLO with a node: Mn01 the whole output word, no feedback entry",
       Which::kVoltage,
       1,
       1,
       0,
       "1445744",
       "1",
       {"I994", "I992", "M101->Y:$c002,0,24,S", "M114->Y:$f70,14", "M102=I992*0.01*20.000000"},
       {"WY:$721,$10c005,$10c006,0", "I904"}},
      {"VARLO without a node: Mn01 16 bits at In83",
       Which::kVoltage,
       1,
       1,
       0,
       "1445743",
       "1",
       {"M101->Y:$c001,8,16,S", "M114->Y:$f6f,14", "M102=I900*0.01*20.000000"},
       {"WY:$721,$10c005,$10c006,0"}},
      {"current test, VARLO with a node (second form): the output word",
       Which::kCurrent,
       1,
       1,
       0,
       "790385",
       "2",
       {"I102", "M101->Y:$c002,0,24,S", "WY:$721,$10c005,$10c006,0", "M171->X:$40,0,24,S"},
       {}},
      {"current test, VARLO without a node: 16 bits at In83",
       Which::kCurrent,
       3,
       1,
       0,
       "790385",
       "1",
       {"M301->Y:$c001,8,16,S", "WY:$721,$10c004,$10c005,0", "M371->X:$b8,0,24,S"},
       {"I302"}},
  };
  for (const Case& c : cases) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor1(path);
    const std::string m = std::to_string(c.motor);
    path.Reply("I" + m + "02", "49154\r");
    path.Reply("I" + m + "83", "49153\r");
    path.Reply("I" + m + "25", std::string(c.in25) + "\r");
    path.Reply("I1002", std::string(c.i1002) + "\r");
    path.Reply("I908", "261\r");
    path.Reply("I905", "6525\r");
    path.Reply("I994", "261\r");
    path.Reply("I992", "6525\r");
    const int result = c.test == Which::kVoltage
                           ? tuning::DownloadVoltageSixStepTestProgram(path.Card(), c.motor, 10.0f,
                                                                       c.varlo, c.compact)
                           : tuning::DownloadCurrentSixStepTestProgram(path.Card(), c.motor, 10.0f,
                                                                       c.varlo, c.compact);
    EXPECT_EQ(result, 1) << c.name;
    for (const auto& line : c.present) EXPECT_TRUE(Has(path.sent, line)) << c.name << ": " << line;
    for (const auto& line : c.absent) EXPECT_FALSE(Has(path.sent, line)) << c.name << ": " << line;
  }
}

TEST_F(SixStep, ResultsAreTheRecordsAndTheirDifferences) {
  const std::vector<int> records = {500, -500, -1500, -2500, -3500, -4500, -5500, -6600};
  struct Case {
    int skip;
    std::vector<std::int32_t> steps;
    Lines reads;
  };
  const Case cases[] = {
      {0,
       {-1000, -1000, -1000, -1000, -1000, -1000},
       {"P100", "P101", "P102", "P103", "P104", "P105", "P106"}},
      {1,
       {-1000, -1000, -1000, -1000, -1000, -1100},
       {"P101", "P102", "P103", "P104", "P105", "P106", "P107"}},
  };
  for (const Case& c : cases) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor1(path);
    ASSERT_EQ(Download(Which::kVoltage, path), 1);
    path.sent.clear();
    ScriptRecords(path, "-1", records);
    std::vector<std::int32_t> steps(6, 77);
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), steps.data(), c.skip), 1);
    EXPECT_EQ(steps, c.steps) << c.skip;
    Lines expected = {"P996"};
    expected.insert(expected.end(), c.reads.begin(), c.reads.end());
    expected.push_back("WY:$721,0");
    EXPECT_EQ(path.sent, expected) << c.skip;
    // Read once: a second call has no test to read.
    path.sent.clear();
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), steps.data(), c.skip), -5);
    EXPECT_TRUE(path.sent.empty());
  }

  TestPath path;
  ScriptMotor1(path);
  ASSERT_EQ(Download(Which::kUvw, path), 1);
  path.sent.clear();
  ScriptRecords(path, "-1", {4, 6, 2, 3, 1, 5, 4, 9});
  std::vector<std::int32_t> out(7, 0);
  EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(), out.data()), 1);
  EXPECT_EQ(out, (std::vector<std::int32_t>{4, 6, 2, 3, 1, 5, 4}));
  EXPECT_EQ(path.sent, (Lines{"P996", "P100", "P101", "P102", "P103", "P104", "P105", "P106"}));
}

TEST_F(SixStep, AStoppedTestGivesMinus5AndLeavesTheArray) {
  for (const char* p996 : {"0", "123"}) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor1(path);
    ASSERT_EQ(Download(Which::kCurrent, path), 1);
    ASSERT_EQ(Download(Which::kUvw, path), 1);
    path.sent.clear();
    ScriptRecords(path, p996, {1, 2, 3, 4, 5, 6, 7, 8});
    std::vector<std::int32_t> steps(6, 77), out(7, 77);
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), steps.data(), 0), -5) << p996;
    EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(), out.data()), -5) << p996;
    EXPECT_EQ(steps, std::vector<std::int32_t>(6, 77));
    EXPECT_EQ(out, std::vector<std::int32_t>(7, 77));
    // The stopped program leaves its feedback entries: they go all the same.
    EXPECT_EQ(path.sent, (Lines{"P996", "WY:$721,0", "P996"})) << p996;
    path.sent.clear();
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), steps.data(), 0), -5);
    EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(), out.data()), -5);
    EXPECT_TRUE(path.sent.empty());
  }
}

TEST_F(SixStep, WithoutAPendingTestOrOnARefusedCardNothingIsSent) {
  std::vector<std::int32_t> out(7, 0);
  TestPath path;
  ScriptMotor1(path);
  EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), out.data(), 0), -5);
  EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(), out.data()), -5);
  // A UVW test is not a six-step test; a test of another device not this
  // device's.
  ASSERT_EQ(Download(Which::kUvw, path), 1);
  path.sent.clear();
  EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), out.data(), 0), -5);
  EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(false, 1), out.data()), -5);
  // No array to fill: the test stays pending.
  EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(path.Card(), nullptr), -5);
  EXPECT_TRUE(path.sent.empty());
  EXPECT_TRUE(tuning::MotorTestPending(tuning::MotorTestKind::kUvwSixStep, 0));

  // Newer cards and motors outside 1 to 8.
  for (Which test : {Which::kVoltage, Which::kCurrent, Which::kUvw}) {
    for (int motor : {0, 9}) {
      TestPath other;
      ScriptMotor1(other);
      EXPECT_EQ(Download(test, other, motor), 0) << motor;
      EXPECT_TRUE(other.sent.empty()) << motor;
    }
  }
  TestPath spran;
  ScriptMotor1(spran);
  EXPECT_EQ(tuning::DownloadVoltageSixStepTestProgram(spran.Card(true), 1, 10, 0, 0), 0);
  EXPECT_EQ(tuning::DownloadCurrentSixStepTestProgram(spran.Card(true), 1, 10, 0, 0), 0);
  EXPECT_EQ(tuning::DownloadUVWSixStepTestProgram(spran.Card(true), 1, 10), 0);
  EXPECT_EQ(tuning::ReadResultsFromSixStepTest(spran.Card(true), out.data(), 0), -5);
  EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(spran.Card(true), out.data()), -5);
  EXPECT_TRUE(spran.sent.empty());

  // A motor without outputs has no Hall word two below them.
  TestPath no_outputs;
  ScriptMotor1(no_outputs);
  no_outputs.Reply("I102", "0\r");
  EXPECT_EQ(Download(Which::kUvw, no_outputs), 0);
  EXPECT_EQ(no_outputs.sent, Lines{"I102"});
}

TEST_F(SixStep, AnUnreadableFeedbackTableChangesNothing) {
  for (Which test : {Which::kVoltage, Which::kCurrent}) {
    for (const UnreadableTable& c : UnreadableTables()) {
      tuning::ResetMotorTests();
      TestPath path;
      ScriptMotor1(path);
      path.Table(c);
      EXPECT_EQ(Download(test, path), 0) << c.name;
      for (const auto& line : path.sent) EXPECT_EQ(line.rfind("RY:$7", 0), 0u) << c.name << line;
      EXPECT_EQ(path.sent.back(), c.words.size() == 32 ? "RY:$73f" : "RY:$721") << c.name;
      path.sent.clear();
      std::int32_t steps[6] = {};
      EXPECT_EQ(tuning::ReadResultsFromSixStepTest(path.Card(), steps, 0), -5) << c.name;
      EXPECT_TRUE(path.sent.empty()) << c.name;
    }
  }
}

TEST_F(SixStep, LossAtEveryCutPointThenTheCardAnswersAgain) {
  for (Which test : {Which::kVoltage, Which::kCurrent, Which::kUvw}) {
    const Lines golden = GoldenLines(GoldenName(test));
    ASSERT_FALSE(golden.empty());
    const auto entry = std::find_if(golden.begin(), golden.end(), [](const std::string& line) {
      return line.rfind("WY:$721,$10", 0) == 0;
    });
    ASSERT_EQ(entry == golden.end(), test == Which::kUvw);
    const auto entry_at = static_cast<std::size_t>(entry - golden.begin());
    for (std::size_t k = 0; k < golden.size(); ++k) {
      tuning::ResetMotorTests();
      TestPath path;
      ScriptMotor1(path);
      path.SilentAfter(static_cast<int>(k));
      EXPECT_EQ(Download(test, path), 0) << GoldenName(test) << " cut after " << k;
      // The line that got no answer is the last one sent (a control
      // character is no exchange: the next line is).
      std::size_t last = k;
      while (golden[last][0] == '^') ++last;
      Lines sent(golden.begin(), golden.begin() + static_cast<long>(last) + 1);
      if (testing::BufferLeftOpen(golden, last)) sent.push_back("CLOSE");
      EXPECT_EQ(path.sent, sent)
          << GoldenName(test) << " cut after " << k;

      // The card answers again: the read-results call takes the feedback
      // entries away when they may have been written, and reports the
      // test as not completed.
      TestPath later;
      std::int32_t out[7] = {};
      const int result = test == Which::kUvw
                             ? tuning::ReadResultsFromUVWSixStepTest(later.Card(), out)
                             : tuning::ReadResultsFromSixStepTest(later.Card(), out, 0);
      EXPECT_EQ(result, -5);
      const Lines restore = test != Which::kUvw && last >= entry_at ? Lines{"WY:$721,0"} : Lines{};
      EXPECT_EQ(later.sent, restore) << GoldenName(test) << " cut after " << k;
      later.sent.clear();
      EXPECT_EQ(tuning::ReadResultsFromSixStepTest(later.Card(), out, 0), -5);
      EXPECT_EQ(tuning::ReadResultsFromUVWSixStepTest(later.Card(), out), -5);
      EXPECT_TRUE(later.sent.empty()) << GoldenName(test) << " cut after " << k;
    }
  }
}

TEST_F(SixStep, ALostReadStaysPendingUntilItCanBeRead) {
  const Lines read = {"P996", "P100", "P101", "P102", "P103", "P104", "P105", "P106", "WY:$721,0"};
  const std::vector<int> records = {0, 10, 30, 60, 100, 150, 210};
  for (std::size_t k = 0; k < read.size(); ++k) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor1(path);
    ASSERT_EQ(Download(Which::kVoltage, path), 1);
    TestPath lost;
    ScriptRecords(lost, "-1", records);
    lost.SilentAfter(static_cast<int>(k));
    std::vector<std::int32_t> steps(6, 77);
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(lost.Card(), steps.data(), 0), -5) << k;
    EXPECT_EQ(lost.sent, Lines(read.begin(), read.begin() + static_cast<long>(k) + 1)) << k;
    EXPECT_EQ(steps, std::vector<std::int32_t>(6, 77)) << k;
    TestPath again;
    ScriptRecords(again, "-1", records);
    EXPECT_EQ(tuning::ReadResultsFromSixStepTest(again.Card(), steps.data(), 0), 1) << k;
    EXPECT_EQ(steps, (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60})) << k;
    EXPECT_EQ(again.sent, read) << k;
  }
}

#ifdef SIX_STEP_TEST_WITH_CARD

using namespace zimo::corvan::testing;
using cardsim::Space;

// Motor 1 of the simulated older card with its brushless rotor: outputs at
// Y:$C002, commutation word X:$C001 (6000 counts an electrical cycle at
// first), Hall bits in X:$C000, output scale I900 without dead time; each
// voltage and current step dwells 100 ms.
class SixStepCard : public ::testing::Test {
 protected:
  void SetUp() override {
    tuning::ResetMotorTests();
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    for (const char* line : {"I183=$C001", "I900=6525", "I904=0", "P999=100", "WY:$721,0"}) {
      card().Execute(line);
    }
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    tuning::ResetMotorTests();
  }
  cardsim::Card& card() { return card_->card(); }
  // Runs the card until the test program has ended.
  void RunTest() {
    for (int cycle = 0; cycle < 40000 && (card().PlcEnabled() & (1u << 31)) != 0; ++cycle) {
      card().AdvanceServo(1);
    }
    EXPECT_EQ(card().PlcEnabled(), 0u);
    EXPECT_EQ(card().PVar(998), 10);
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(SixStepCard, TheVoltageAndCurrentTestsStepASixthOfTheCycle) {
  struct Case {
    bool current;
    int wiring;
    double cycle;
    std::int32_t step;
  };
  const Case cases[] = {
      {false, 1, 6000, -1000},
      {false, -1, 6000, 1000},  // the encoder counts the other way
      {true, 1, 4800, -800},
  };
  for (const Case& c : cases) {
    cardsim::RotorScript rotor;
    rotor.wiring = c.wiring;
    rotor.cycle_counts = c.cycle;
    card().script().SetRotor(1, rotor);
    const int started = c.current ? DownloadCurrentSixStepTestProgram(0, 1, 20.0f, 0, 0)
                                  : DownloadVoltageSixStepTestProgram(0, 1, 20.0f, 0, 0);
    ASSERT_EQ(started, 1);
    // The test's entries: $10 and In02 + 3 (voltage) or In83 + 3 (current).
    EXPECT_EQ(card().memory().Read(Space::kY, 0x721), c.current ? 0x10C004u : 0x10C005u);
    RunTest();
    // Skipping the first record is for the eight records of the voltage
    // test (the current test leaves P107 alone).
    for (std::int16_t skip = 0; skip <= (c.current ? 0 : 1); ++skip) {
      if (skip == 1) {
        // Read again: the test was read; run it once more.
        ASSERT_EQ(c.current ? DownloadCurrentSixStepTestProgram(0, 1, 20.0f, 0, 0)
                            : DownloadVoltageSixStepTestProgram(0, 1, 20.0f, 0, 0),
                  1);
        RunTest();
      }
      std::vector<std::int32_t> steps(6, 0);
      EXPECT_EQ(ReadResultsFromSixStepTest(0, steps.data(), skip), 1);
      EXPECT_EQ(steps, std::vector<std::int32_t>(6, c.step)) << c.current << " " << skip;
      EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);  // the entries gone
      EXPECT_EQ(card().memory().Read(Space::kY, 0x720), 0xC000u);
    }
  }
}

TEST_F(SixStepCard, TheUvwTestSeesSixDistinctHallStates) {
  ASSERT_EQ(DownloadUVWSixStepTestProgram(0, 1, 10.0f), 1);
  RunTest();
  std::vector<std::int32_t> out(7, 0);
  EXPECT_EQ(ReadResultsFromUVWSixStepTest(0, out.data(), 0, 0, 0, 0), 1);
  EXPECT_EQ(out, (std::vector<std::int32_t>{4, 6, 2, 3, 1, 5, 4}));
  std::vector<std::int32_t> six(out.begin(), out.begin() + 6);
  std::sort(six.begin(), six.end());
  EXPECT_EQ(six, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  // The offsets are back at 0 and the motor stays in open loop.
  EXPECT_EQ(card().IVarValue(179), 0);
  EXPECT_EQ(card().IVarValue(129), 0);
  EXPECT_NE(card().MotorServoStatus(1) & (1u << 18), 0u);
}

#endif  // SIX_STEP_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
