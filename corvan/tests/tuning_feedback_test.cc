// The current-feedback test and the pointing of feedback I-variables, over
// a scripted card: the lines sent (the whole program byte for byte), the
// variants by motor, VARLO flag, node value and compact card, the judging
// of the averages, and what happens when the card falls silent, when the
// feedback table cannot be read and when no test is pending.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/motor_tests.h"
#include "tuning_setup_card.h"

#if __has_include("cardsim/attach_pty.h")
#define TUNING_TEST_WITH_CARD 1
#include "cardsim/memory.h"
#include "corvan/device_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;
using tuning::SavedMotorTest;

using TestPath = testing::SetupTestCard;
using testing::GoldenLines;
using testing::Has;
using testing::UnreadableTable;
using testing::UnreadableTables;

// Motor 2 of an older card: outputs at Y:$C00C, current channel 2
// (In82 = 49174), no node, I904/I900 adding 10 % to a duty of 10 %,
// I901 = 0, I902 = 3, I10 = 3713707; one feedback entry before the end.
void ScriptMotor2(TestPath& path) {
  path.Table({"1049347", "0"});
  path.Reply("I282", "49174\r");
  path.Reply("I202", "49164\r");
  path.Reply("I225", "49160\r");
  path.Reply("I1002", "0\r");
  path.Reply("I904", "261\r");
  path.Reply("I900", "6525\r");
  path.Reply("I901", "0\r");
  path.Reply("I902", "3\r");
  path.Reply("I10", "3713707\r");
}

int DownloadMotor2(TestPath& path) {
  return tuning::DownloadCurrentFeedbackTestProgram(path.Card(), 2, 10.0f, 1500, 0, 0);
}

// The averages come from five readings each; these give A and B exactly.
void ScriptResults(TestPath& path, const std::string& p996, std::int32_t a, std::int32_t b) {
  path.Reply("P996", p996 + "\r");
  for (int k = 0; k < 5; ++k) {
    path.Reply("P10" + std::to_string(k), std::to_string(a) + "\r");
    path.Reply("P20" + std::to_string(k), std::to_string(b) + "\r");
  }
}

class CurrentFeedback : public ::testing::Test {
 protected:
  void SetUp() override { tuning::ResetMotorTests(); }
  void TearDown() override { tuning::ResetMotorTests(); }
};

TEST_F(CurrentFeedback, Motor2ProgramByteForByte) {
  TestPath path;
  ScriptMotor2(path);
  EXPECT_EQ(DownloadMotor2(path), 1);
  EXPECT_EQ(path.sent, GoldenLines("current_feedback_older_motor2.txt"));
  const auto& s = SavedMotorTest();
  EXPECT_EQ(s.tableEndWord, 0x721u);
  EXPECT_EQ(s.varloFlag, 0);
  EXPECT_EQ(s.clockPairFlag, 0);
  EXPECT_EQ(s.savedClockA, 0);
  EXPECT_EQ(s.savedClockB, 3);
  EXPECT_EQ(s.savedI10, 3713707);

  // A newer card, and motors outside 1 to 8, get nothing.
  for (int motor : {0, 9}) {
    TestPath other;
    ScriptMotor2(other);
    EXPECT_EQ(tuning::DownloadCurrentFeedbackTestProgram(other.Card(), motor, 10, 1500, 0, 0), 0);
    EXPECT_TRUE(other.sent.empty()) << motor;
  }
  TestPath spran;
  ScriptMotor2(spran);
  EXPECT_EQ(tuning::DownloadCurrentFeedbackTestProgram(spran.Card(true), 2, 10, 1500, 0, 0), 0);
  EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(spran.Card(true)), -5);
  EXPECT_EQ(tuning::SetIvarForFeedback(spran.Card(true), 203, 0xC00F, 3), 0);
  EXPECT_TRUE(spran.sent.empty());
}

TEST_F(CurrentFeedback, VariantsByMotorVarloNodeAndCompactCard) {
  struct Case {
    const char* name;
    int motor;
    std::int32_t varlo;
    int compact;
    const char* in25;
    const char* i1002;
    Lines present;  // lines that must be sent
    Lines absent;   // and lines that must not
  };
  // In25 = $160F70 + e gives the node exponent e.
  const Case cases[] = {
      {"motor 6 uses I908/I905 and I906",
       6,
       0,
       0,
       "49160",
       "0",
       {"I908", "I905", "M602=I906*0.01*20.000000", "M604=-I906*0.01*20.000000", "I901=2 I902=0",
        "M605->X:$712,8,16,S"},
       {"I904", "I992"}},
      {"compact card: I997/I998 and I992",
       2,
       0,
       1,
       "49160",
       "0",
       {"I997", "I998", "I997=2 I998=0", "M202=I992*0.01*20.000000"},
       {"I901=2 I902=0"}},
      {"exponent 0 with bit 0 of I1002 acts as a compact card",
       2,
       0,
       0,
       "1445744",
       "1",
       {"I997=2 I998=0", "M202=I992*0.01*20.000000"},
       {"I901"}},
      {"exponent 2 gives node value 4: not 1",
       2,
       0,
       0,
       "1445746",
       "7",
       {"I901=2 I902=0", "M202=I900*0.01*20.000000"},
       {"I997"}},
      {"exponent 32 is outside: node 0", 2, 0, 0, "1445776", "-1", {"I901=2 I902=0"}, {"I997"}},
      {"VARLO with a node: readings at In02 + 1 and + 2",
       2,
       1,
       0,
       "1445744",
       "1",
       {"I994", "I992", "M214->Y:$f70,14", "M205->Y:$c00d,8,16,S", "M206->Y:$c00e,8,16,S",
        "I997=2 I998=0", "M202=I992*0.01*20.000000"},
       {"WY:$721,$10c00f,$10c010,0", "I904"}},
      {"VARLO without a node: readings at In02 and + 1",
       2,
       1,
       0,
       "1445743",
       "1",
       {"M214->Y:$f6f,14", "M205->Y:$c00c,8,16,S", "M206->Y:$c00d,8,16,S", "I901=2 I902=0"},
       {"WY:$721,$10c00f,$10c010,0"}},
  };
  for (const Case& c : cases) {
    TestPath path;
    ScriptMotor2(path);
    const std::string m = std::to_string(c.motor);
    path.Reply("I" + m + "82", "49174\r");
    path.Reply("I" + m + "02", "49164\r");
    path.Reply("I" + m + "25", std::string(c.in25) + "\r");
    path.Reply("I1002", std::string(c.i1002) + "\r");
    path.Reply("I908", "261\r");
    path.Reply("I905", "6525\r");
    path.Reply("I994", "261\r");
    path.Reply("I992", "6525\r");
    EXPECT_EQ(tuning::DownloadCurrentFeedbackTestProgram(path.Card(), c.motor, 10.0f, 1500, c.varlo,
                                                         static_cast<int>(c.compact)),
              1)
        << c.name;
    for (const auto& line : c.present) EXPECT_TRUE(Has(path.sent, line)) << c.name << ": " << line;
    for (const auto& line : c.absent) EXPECT_FALSE(Has(path.sent, line)) << c.name << ": " << line;
    EXPECT_EQ(SavedMotorTest().varloFlag, c.varlo) << c.name;
  }
}

TEST_F(CurrentFeedback, CompensatedDutyAndNodeValues) {
  EXPECT_FLOAT_EQ(tuning::CompensatedDuty(10.0f, 261, 6525), 20.0f);
  EXPECT_FLOAT_EQ(tuning::CompensatedDuty(50.0f, 3, 1000), 50.75f);
  EXPECT_FLOAT_EQ(tuning::CompensatedDuty(50.0f, 3, 0), 50.0f);  // no PWM variable: no division
  EXPECT_EQ(tuning::NodeValue(tuning::NodeExponentOffset(0x160F70 + 3), 0xF), 8);
  EXPECT_EQ(tuning::NodeValue(tuning::NodeExponentMasked(0xC0F72), 0x4), 4);
  EXPECT_EQ(tuning::NodeValue(-1, -1), 0);
  EXPECT_EQ(tuning::NodeValue(32, -1), 0);
  EXPECT_EQ(tuning::ReducedNode(8), 1);
  EXPECT_EQ(tuning::OutputScaleVariable(false, 4), 900u);
  EXPECT_EQ(tuning::OutputScaleVariable(false, 5), 906u);
  EXPECT_EQ(tuning::OutputScaleVariable(true, 5), 992u);
}

TEST_F(CurrentFeedback, ChannelIndexFromIn82) {
  struct Case {
    const char* in82;
    const char* definition;  // of Mn05, or nothing when refused
  };
  const Case cases[] = {
      {"49158", "M205->X:$710,8,16,S"},
      {"49174", "M205->X:$712,8,16,S"},
      {"49285", "M205->X:$71f,8,16,S"},  // (49285 - 49150) / 8 - 1 = 15
      {"49293", nullptr},                // channel 16: no current register
      {"0", nullptr},                    // unset: a negative channel
  };
  for (const Case& c : cases) {
    TestPath path;
    ScriptMotor2(path);
    path.Reply("I282", std::string(c.in82) + "\r");
    const int result = DownloadMotor2(path);
    if (c.definition != nullptr) {
      EXPECT_EQ(result, 1) << c.in82;
      EXPECT_TRUE(Has(path.sent, c.definition)) << c.in82;
    } else {
      EXPECT_EQ(result, 0) << c.in82;
      EXPECT_EQ(path.sent.back(), "I1002") << c.in82;  // nothing changed
      EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -5);
    }
  }
}

TEST_F(CurrentFeedback, ResultsJudgeTheAverages) {
  struct Case {
    std::int32_t a, b;  // the averages
    int result;
  };
  const Case cases[] = {
      {-9, 12, 1}, {7, 100, -2}, {20, 3, -3},  {10, 10, -1},
      {9, -8, 2},  {-7, 7, -4},  {-8, -8, -1}, {8, -7, -3},
  };
  for (const Case& c : cases) {
    TestPath path;
    ScriptMotor2(path);
    ASSERT_EQ(DownloadMotor2(path), 1);
    path.sent.clear();
    ScriptResults(path, "-1", c.a, c.b);
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), c.result)
        << c.a << ", " << c.b;
    EXPECT_EQ(path.sent, (Lines{"I901=0I902=3", "P996", "P100", "P200", "P101", "P201", "P102",
                                "P202", "P103", "P203", "P104", "P204", "WY:$721,0"}));
    // Read once: a second call has no test to read.
    path.sent.clear();
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -5);
    EXPECT_TRUE(path.sent.empty());
  }

  // The averages are truncated: -39 / 5 is -7, a reading too small.
  TestPath path;
  ScriptMotor2(path);
  ASSERT_EQ(DownloadMotor2(path), 1);
  path.Reply("P996", "-1\r");
  const char* a[] = {"-7", "-8", "-8", "-8", "-8"};
  for (int k = 0; k < 5; ++k) {
    path.Reply("P10" + std::to_string(k), std::string(a[k]) + "\r");
    path.Reply("P20" + std::to_string(k), "50\r");
  }
  EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -2);
}

TEST_F(CurrentFeedback, AStoppedTestGivesMinus5AfterTheClockIsBack) {
  for (const char* p996 : {"123", "0"}) {
    TestPath path;
    ScriptMotor2(path);
    ASSERT_EQ(tuning::DownloadCurrentFeedbackTestProgram(path.Card(), 2, 10, 1500, 0, 1), 1);
    path.sent.clear();
    ScriptResults(path, p996, -9, 12);
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -5) << p996;
    // The compact card's pair, without a blank between the assignments;
    // the stopped program has taken its entries away itself.
    EXPECT_EQ(path.sent, (Lines{"I997=0I998=0", "P996"})) << p996;
  }
}

TEST_F(CurrentFeedback, NoPendingTestSendsNothing) {
  TestPath path;
  EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -5);
  EXPECT_TRUE(path.sent.empty());
  // A test of another device is not this device's.
  ScriptMotor2(path);
  ASSERT_EQ(DownloadMotor2(path), 1);
  path.sent.clear();
  EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card(false, 1)), -5);
  EXPECT_TRUE(path.sent.empty());
}

TEST_F(CurrentFeedback, AnUnreadableFeedbackTableChangesNothing) {
  for (const UnreadableTable& c : UnreadableTables()) {
    TestPath path;
    ScriptMotor2(path);
    path.Table(c);
    EXPECT_EQ(DownloadMotor2(path), 0) << c.name;
    for (const auto& line : path.sent) EXPECT_EQ(line.rfind("RY:$7", 0), 0u) << c.name << line;
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(path.Card()), -5) << c.name;
    EXPECT_EQ(tuning::SetIvarForFeedback(path.Card(), 203, 0xC00F, 3), 0) << c.name;
    for (const auto& line : path.sent) EXPECT_NE(line.rfind("WY", 0), 0u) << c.name << line;
    EXPECT_FALSE(Has(path.sent, "I203=$721")) << c.name;
  }
  // In02 reading 0: the search has been sent, nothing else.
  TestPath path;
  ScriptMotor2(path);
  path.Reply("I202", "0\r");
  EXPECT_EQ(DownloadMotor2(path), 0);
  EXPECT_EQ(path.sent, (Lines{"RY:$720", "RY:$721", "I282", "I202", "I225", "I1002"}));
}

// The index of the I10 read that saves the clock in the golden program.
std::size_t IndexOf(const Lines& lines, const std::string& line) {
  return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

TEST_F(CurrentFeedback, LossAtEveryCutPointThenTheCardAnswersAgain) {
  const Lines golden = GoldenLines("current_feedback_older_motor2.txt");
  const std::size_t first_change = IndexOf(golden, "M202->Y:$c00c,8,16,S");
  const std::size_t clock_saved = IndexOf(golden, "I901=2 I902=0");
  for (std::size_t k = 0; k < golden.size(); ++k) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor2(path);
    path.SilentAfter(static_cast<int>(k));
    EXPECT_EQ(DownloadMotor2(path), 0) << "cut after " << k;
    // The line that got no answer is the last one sent (a control
    // character is no exchange: the next line is).
    std::size_t last = k;
    while (golden[last][0] == '^') ++last;
    Lines sent(golden.begin(), golden.begin() + static_cast<long>(last) + 1);
    if (testing::BufferLeftOpen(golden, last)) sent.push_back("CLOSE");
    EXPECT_EQ(path.sent, sent) << "cut after " << k;

    // The card answers again: the read-results call puts back what was
    // changed and reports the test as not completed.
    TestPath later;
    Lines restore;
    if (last >= clock_saved) restore.push_back("I901=0I902=3");
    if (last >= first_change) restore.push_back("WY:$721,0");
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(later.Card()), -5) << "cut after " << k;
    EXPECT_EQ(later.sent, restore) << "cut after " << k;
    later.sent.clear();
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(later.Card()), -5) << "cut after " << k;
    EXPECT_TRUE(later.sent.empty()) << "cut after " << k;
  }
}

TEST_F(CurrentFeedback, ALostReadStaysPendingUntilItCanBeRead) {
  const Lines read = {"I901=0I902=3", "P996", "P100", "P200", "P101", "P201",     "P102",
                      "P202",         "P103", "P203", "P104", "P204", "WY:$721,0"};
  for (std::size_t k = 0; k < read.size(); ++k) {
    tuning::ResetMotorTests();
    TestPath path;
    ScriptMotor2(path);
    ASSERT_EQ(DownloadMotor2(path), 1);
    TestPath lost;
    ScriptResults(lost, "-1", 7, 100);
    lost.SilentAfter(static_cast<int>(k));
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(lost.Card()), -5) << k;
    EXPECT_EQ(lost.sent, Lines(read.begin(), read.begin() + static_cast<long>(k) + 1)) << k;
    TestPath again;
    ScriptResults(again, "-1", 7, 100);
    EXPECT_EQ(tuning::ReadResultsFromCurrentFeedbackTest(again.Card()), -2) << k;
    EXPECT_EQ(again.sent, read) << k;
  }
}

TEST_F(CurrentFeedback, SetIvarForFeedback) {
  // Type 1 only after a VARLO current-feedback test; other types never.
  for (int type : {1, 2, 0}) {
    TestPath path;
    EXPECT_EQ(tuning::SetIvarForFeedback(path.Card(), 203, 0xC00F, type), 1) << type;
    EXPECT_TRUE(path.sent.empty()) << type;
  }

  struct Case {
    const char* name;
    std::int32_t varlo;
    int type;
    const char* in25;  // $C0F70 + e: exponent e in the masked form
    const char* i1002;
    std::vector<std::string> table;
    Lines tail;  // after the node reads and the search
    std::uint32_t end;
  };
  const Case cases[] = {
      {"incremental, new entry",
       0,
       3,
       "790384",
       "1",
       {"1049347", "0"},
       {"WY:$721,49167", "WY:$722,0", "I203=$721"},
       0x721},
      {"incremental, entry already there",
       0,
       3,
       "790384",
       "1",
       {"1049347", "49167", "0"},
       {"I203=$721"},
       0x721},
      {"absolute, VARLO, node 0",
       1,
       1,
       "790385",
       "1",
       {"1049347", "0"},
       {"WY:$721,49167,$1FFE0,0", "I203=$722"},
       0x721},
      {"absolute, VARLO, node 1",
       1,
       1,
       "790384",
       "1",
       {"0"},
       {"WY:$720,49167,$FFFFFF,0", "I203=$721"},
       0x720},
      {"incremental, VARLO, node 1",
       1,
       3,
       "790386",
       "4",
       {"1049347", "0"},
       {"WY:$721,49167,$FFFFFF,0", "I203=$722"},
       0x721},
      {"incremental, VARLO, node 0: nothing written",
       1,
       3,
       "790386",
       "1",
       {"1049347", "0"},
       {"I203=$721"},
       0x721},
  };
  for (const Case& c : cases) {
    tuning::ResetMotorTests();
    SavedMotorTest().varloFlag = c.varlo;
    TestPath path;
    path.Reply("I225", std::string(c.in25) + "\r");
    path.Reply("I1002", std::string(c.i1002) + "\r");
    path.Table(c.table);
    EXPECT_EQ(tuning::SetIvarForFeedback(path.Card(), 203, 49167, c.type), 1) << c.name;
    Lines expected = {"I225", "I1002"};
    for (std::size_t i = 0; 0x720 + i <= c.end; ++i) {
      char command[16];
      std::snprintf(command, sizeof command, "RY:$%x", static_cast<unsigned>(0x720 + i));
      expected.push_back(command);
    }
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(path.sent, expected) << c.name;
    // The search leaves the saved test's end word as it was.
    EXPECT_EQ(SavedMotorTest().tableEndWord, 0u) << c.name;
  }

  // Silent after the search: nothing more, and a failure.
  tuning::ResetMotorTests();
  TestPath path;
  path.Table({"1049347", "0"});
  path.SilentAfter(4);
  EXPECT_EQ(tuning::SetIvarForFeedback(path.Card(), 203, 49167, 3), 0);
  EXPECT_EQ(path.sent, (Lines{"I225", "I1002", "RY:$720", "RY:$721", "WY:$721,49167"}));
}

#ifdef TUNING_TEST_WITH_CARD

using namespace zimo::corvan::testing;
using cardsim::Space;

// Motor 2 of the simulated older card, its outputs at Y:$C00A, its current
// channel 2 (X:/Y:$712); a feedback table of one entry. The test plays the
// motor's current sensors: while output 2 is driven the readings are the
// driven ones, else the resting ones.
class FeedbackCard : public ::testing::Test {
 protected:
  void SetUp() override {
    tuning::ResetMotorTests();
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    for (const char* line :
         {"I282=49174", "I202=$C00C", "I904=261", "I900=6525", "I902=3", "WY:$721,0"}) {
      card().Execute(line);
    }
    for (std::uint32_t a = 0x720; a <= 0x721; ++a) card().WatchWord(Space::kY, a);
    before_ = card().TakeSnapshot();
    card().script().ClearLog();
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    tuning::ResetMotorTests();
  }
  cardsim::Card& card() { return card_->card(); }
  // What the card received, without the flushes of the serial link.
  Lines Received() {
    Lines got;
    for (const auto& line : card_->received()) {
      if (line != "^X") got.push_back(line);
    }
    card().script().ClearLog();
    return got;
  }
  // Runs the card until the test program has ended, with the readings
  // (in units of the 16-bit field) of the motor's current channel scripted
  // to rest at rest_x/rest_y and to read driven_x/driven_y while the
  // program drives outputs 1 and 2 at +1305 and -1305 (I900 6525, duty
  // 20 % once compensated).
  void RunTest(int rest_x, int driven_x, int rest_y, int driven_y) {
    cardsim::PhaseCurrentScript readings;
    readings.offset_a = rest_x;
    readings.offset_b = rest_y;
    readings.gain_a = (driven_x - rest_x) / 1305.0;
    readings.gain_b = (driven_y - rest_y) / -1305.0;
    card().script().SetPhaseCurrents(2, readings);
    for (int cycle = 0; cycle < 30000 && card().PlcEnabled() != 0; ++cycle) {
      card().AdvanceServo(1);
    }
    card().AdvanceServo(2);  // the PLC's queued table write runs after its last scan
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
  cardsim::Card::Snapshot before_;
};

TEST_F(FeedbackCard, BothPolaritiesAndTheCardPutBack) {
  struct Case {
    int rest_x, driven_x, rest_y, driven_y;
    int result;
  };
  const Case cases[] = {
      {5, -30, 2, 40, 1},  // X falls and Y rises with output 2
      {-3, 60, 4, -20, 2},
  };
  const Lines read = {"I901=0I902=3", "P996", "P100", "P200", "P101", "P201",     "P102",
                      "P202",         "P103", "P203", "P104", "P204", "WY:$721,0"};
  for (const Case& c : cases) {
    ASSERT_EQ(DownloadCurrentFeedbackTestProgram(0, 2, 10.0f, 1500, 0, 0), 1);
    EXPECT_EQ(Received(), GoldenLines("current_feedback_older_motor2.txt"));
    EXPECT_EQ(card().IVar(901), 2);
    RunTest(c.rest_x, c.driven_x, c.rest_y, c.driven_y);
    EXPECT_EQ(card().PVar(998), 10);
    EXPECT_EQ(card().PVar(100), c.driven_x - c.rest_x);
    EXPECT_EQ(card().PVar(204), c.driven_y - c.rest_y);
    EXPECT_EQ(ReadResultsFromCurrentFeedbackTest(0, 2), c.result);
    EXPECT_EQ(Received(), read);

    // Only the motors' activation and I5 have changed; the clock pair, I10
    // and the feedback table are as before.
    for (const auto& change : cardsim::Card::Compare(before_, card().TakeSnapshot())) {
      const bool allowed =
          change.rfind("I5:", 0) == 0 || change.rfind("I48:", 0) == 0 ||
          (change.size() > 4 && change[0] == 'I' && change[1] >= '1' && change[1] <= '8' &&
           change[2] == '0' && (change[3] == '0' || change[3] == '1') && change[4] == ':');
      EXPECT_TRUE(allowed) << change;
    }
    EXPECT_EQ(card().IVar(100), 0);
    EXPECT_EQ(card().IVar(5), 2);
  }
}

// Pointing an I-variable at an existing feedback entry while a test is
// pending leaves the test's end word alone: its read-results call ends the
// table at the test's own entry ($721), not at the entry just found ($720),
// which every motor still uses.
TEST_F(FeedbackCard, PointingAnIVariableDuringAPendingTestKeepsTheTable) {
  ASSERT_EQ(DownloadCurrentFeedbackTestProgram(0, 2, 10.0f, 1500, 0, 0), 1);
  Received();
  EXPECT_EQ(SetIvarForFeedback(0, 203, 0xC000, 3), 1);
  EXPECT_EQ(Received(), (Lines{"I225", "I1002", "RY:$720", "I203=$720"}));
  RunTest(5, -30, 2, 40);
  EXPECT_EQ(ReadResultsFromCurrentFeedbackTest(0, 2), 1);
  const Lines read = Received();
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read.back(), "WY:$721,0");
  EXPECT_EQ(card().memory().Read(Space::kY, 0x720), 0xC000u);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);
  EXPECT_EQ(card().IVar(203), 0x720);
}

TEST_F(FeedbackCard, AStoppedTestAndASilentCard) {
  ASSERT_EQ(DownloadCurrentFeedbackTestProgram(0, 2, 10.0f, 1500, 0, 0), 1);
  card().Execute("P996=0");
  RunTest(0, 0, 0, 0);
  Received();
  EXPECT_EQ(ReadResultsFromCurrentFeedbackTest(0, 2), -5);
  EXPECT_EQ(Received(), (Lines{"I901=0I902=3", "P996"}));
  EXPECT_EQ(card().IVar(902), 3);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);  // the program took its entries away

  // In a fresh process nothing is pending: nothing is sent.
  EXPECT_EQ(ReadResultsFromCurrentFeedbackTest(0, 2), -5);
  EXPECT_EQ(SetIvarForFeedback(0, 203, 0xC00F, 1), 1);
  EXPECT_TRUE(Received().empty());

  // A card that falls silent after the table search: 0, and once it
  // answers again the read-results call puts the clock pair and the end
  // word back.
  card().script().SilenceAfter(30, -1);
  EXPECT_EQ(DownloadCurrentFeedbackTestProgram(0, 2, 10.0f, 1500, 0, 0), 0);
  const Lines cut = Received();
  const Lines golden = GoldenLines("current_feedback_older_motor2.txt");
  ASSERT_GE(cut.size(), 31u);
  EXPECT_EQ(Lines(cut.begin(), cut.begin() + 31), Lines(golden.begin(), golden.begin() + 31));
  for (std::size_t i = 31; i < golden.size(); ++i) {
    EXPECT_EQ(std::count(cut.begin() + 31, cut.end(), golden[i]), 0) << golden[i];
  }
  EXPECT_EQ(card().IVar(902), 0);
  card().script().ClearSilence();
  EXPECT_EQ(ReadResultsFromCurrentFeedbackTest(0, 2), -5);
  EXPECT_EQ(card().IVar(901), 0);
  EXPECT_EQ(card().IVar(902), 3);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x720), 0xC000u);
}

#endif  // TUNING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
