// The open-loop tests over a scripted card: the three programs byte for
// byte, the feedback entry and In03 by VARLO flag and node value, the loop
// line by repetitions, the amplitude, the gather set-up, the refusals, the
// unreadable feedback table and the card falling silent at every line; and
// one run on the simulated card to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/motor_tests.h"
#include "tuning/open_loop.h"
#include "tuning_setup_card.h"

#if __has_include("cardsim/attach_pty.h")
#define TUNING_TEST_WITH_CARD 1
#include "cardsim/memory.h"
#include "corvan/device_api.h"
#include "corvan/gather_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;
using tuning::OpenLoopKind;
using tuning::OpenLoopRequest;
using tuning::SavedMotorTest;

using TestPath = testing::SetupTestCard;
using testing::GoldenLines;
using testing::Has;
using testing::UnreadableTable;
using testing::UnreadableTables;

// Motor 3 of an older card: five feedback entries, the end word at $725,
// In83 = $C009, In03 = $C00A, In69 = 32000.
void ScriptMotor3(TestPath& path) {
  path.Table({"1049347", "1049407", "1049467", "1049527", "1049587", "0"});
  path.Reply("I303", "$C00A\r");
  path.Reply("I383", "$C009\r");
  path.Reply("I369", "32000\r");
}

// 50 % for 100 ms, three times.
OpenLoopRequest Request(int gather_currents = 1, int varlo = 0) {
  return OpenLoopRequest{3, 50, 100, 3, gather_currents, varlo};
}

int Download(TestPath& path, OpenLoopKind kind, const OpenLoopRequest& request) {
  return tuning::DownloadOpenLoopTest(path.Card(), kind, request);
}

class OpenLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    tuning::ResetMotorTests();
    tuning::ResetOpenLoopTests();
  }
  void TearDown() override { SetUp(); }
};

struct Procedure {
  const char* golden;
  OpenLoopKind kind;
  int gather_currents;
};
const Procedure kProcedures[] = {
    {"open_loop_older_motor3.txt", OpenLoopKind::kAlternating, 1},
    {"open_loop1_older_motor3.txt", OpenLoopKind::kPositive, 0},
    {"open_loop_first_generation_motor3.txt", OpenLoopKind::kFirstGeneration, 1},
};

TEST_F(OpenLoop, ProgramsByteForByte) {
  for (const Procedure& p : kProcedures) {
    TestPath path;
    ScriptMotor3(path);
    EXPECT_EQ(Download(path, p.kind, Request(p.gather_currents)), 1) << p.golden;
    EXPECT_EQ(path.sent, GoldenLines(p.golden)) << p.golden;
  }
  // The entry of In83 - 1 at the end word and In03 pointed at it, in
  // decimal; the first-generation test has neither.
  const Lines golden = GoldenLines("open_loop_older_motor3.txt");
  EXPECT_TRUE(Has(golden, "WY:$725,$00c008,0"));
  EXPECT_TRUE(Has(golden, "I303=1829"));
  EXPECT_TRUE(Has(golden, "cmd\"WY:$725,0\""));
  EXPECT_TRUE(Has(golden, "I303=$c00a"));
  EXPECT_EQ(SavedMotorTest().tableEndWord, 0u);  // the search is the test's own
}

TEST_F(OpenLoop, RestsLoopLineAndGatherByArguments) {
  struct Case {
    const char* name;
    OpenLoopKind kind;
    OpenLoopRequest request;
    Lines present;
    Lines absent;
  };
  const Case cases[] = {
      {"no rests without gathering currents",
       OpenLoopKind::kAlternating,
       {3, 50, 100, 3, 0, 0},
       {"P1019=0*8388608/I10", "[quick gather $40404, 1]", "WHILE (P1021<3)", "P1021=P1021+1"},
       {"P1019=100*8388608/I10"}},
      {"0 repetitions: until P1021 is set from outside",
       OpenLoopKind::kAlternating,
       {3, 50, 100, 0, 1, 0},
       {"WHILE (P1021=0)", "[current gather $40404, 1]"},
       {"P1021=P1021+1"}},
      {"negative repetitions as 0",
       OpenLoopKind::kPositive,
       {3, 50, 100, -2, 0, 0},
       {"WHILE (P1021=0)", "P1019=100*8388608/I10"},
       {"P1021=P1021+1", "WHILE (P1021<-2)"}},
      {"motor 1 gathers bits 0, 8, 16",
       OpenLoopKind::kAlternating,
       {1, 50, 100, 1, 1, 0},
       {"[current gather $10101, 1]", "M1019->X:$3a,4,20", "WHILE (P1021<1)"},
       {}},
      {"motor 8",
       OpenLoopKind::kPositive,
       {8, 50, 100, 1, 0, 0},
       {"[quick gather $808080, 1]", "M1019->X:$1de,4,20", "#8O0", "I800=1", "I801=1"},
       {}},
      {"first generation, motor 6",
       OpenLoopKind::kFirstGeneration,
       {6, 10, 100, 1, 1, 1},
       {"[gather source 0 D:$157, 1]", "[gather source 1 X:$15f, 1]", "[gather source 2 X:$171, 1]",
        "P1022=3276.700000", "I600=1", "M1019->X:$166,4,20"},
       {"I601=1", "RY:$720"}},
  };
  for (const Case& c : cases) {
    TestPath path;
    ScriptMotor3(path);
    const std::string m = std::to_string(c.request.motor);
    path.Reply("I" + m + "03", "$C00A\r");
    path.Reply("I" + m + "83", "$C009\r");
    path.Reply("I" + m + "69", "32000\r");
    EXPECT_EQ(Download(path, c.kind, c.request), 1) << c.name;
    for (const auto& line : c.present) EXPECT_TRUE(Has(path.sent, line)) << c.name << ": " << line;
    for (const auto& line : c.absent) EXPECT_FALSE(Has(path.sent, line)) << c.name << ": " << line;
  }
  // The mask of the last test stays in the record.
  EXPECT_EQ(SavedMotorTest().gatherMask, 0x808080u);
}

TEST_F(OpenLoop, AmplitudeHeldToSixteenBits) {
  struct Case {
    const char* in69;
    int magnitude;
    const char* line;
  };
  const Case cases[] = {
      {"32000", 150, "P1022=32767.000000"},  // not -17536, which reverses the motor
      {"32000", 100, "P1022=32000.000000"},
      {"32000", -150, "P1022=-32768.000000"},
      {"1000", 33, "P1022=330.000000"},
      {"-999", 50, "P1022=-499.000000"},  // truncated toward zero
      {"0", 50, "P1022=0.000000"},
  };
  for (const Case& c : cases) {
    TestPath path;
    ScriptMotor3(path);
    path.Reply("I369", std::string(c.in69) + "\r");
    EXPECT_EQ(Download(path, OpenLoopKind::kAlternating, {3, c.magnitude, 100, 3, 1, 0}), 1);
    EXPECT_TRUE(Has(path.sent, c.line)) << c.in69 << " x " << c.magnitude;
  }
  // The first-generation test scales the magnitude alone.
  TestPath path;
  EXPECT_EQ(Download(path, OpenLoopKind::kFirstGeneration, {3, 100, 100, 3, 1, 0}), 1);
  EXPECT_TRUE(Has(path.sent, "P1022=32767.000000"));
}

TEST_F(OpenLoop, VarloEntryByTheLastNodeValue) {
  struct Case {
    const char* name;
    std::int32_t node;  // left by an earlier test
    int motor;
    Lines lines;
  };
  const Case cases[] = {
      {"fresh process: node value 0", 0, 3, {"WY:$725,$2c00b7,$1FFE0,0", "I303=1830"}},
      {"node value 1", 1, 3, {"WY:$725,$28c0a8,$FFFFFF,0", "I303=1830"}},
      {"motor 1, node value 0", 0, 1, {"WY:$725,$2c003f,$1FFE0,0", "I103=1830"}},
  };
  for (const Case& c : cases) {
    tuning::ResetMotorTests();
    SavedMotorTest().nodeBit = c.node;
    TestPath path;
    ScriptMotor3(path);
    const std::string m = std::to_string(c.motor);
    path.Reply("I" + m + "03", "$C00A\r");
    OpenLoopRequest request = Request(1, 1);
    request.motor = c.motor;
    EXPECT_EQ(Download(path, OpenLoopKind::kAlternating, request), 1) << c.name;
    // Right after the search and the reads of In03 and In83.
    const auto at = std::find(path.sent.begin(), path.sent.end(), "I" + m + "83");
    ASSERT_NE(at, path.sent.end()) << c.name;
    EXPECT_EQ(Lines(at + 1, at + 3), c.lines) << c.name;
    EXPECT_TRUE(Has(path.sent, "cmd\"WY:$725,0\"")) << c.name;
  }
}

TEST_F(OpenLoop, RefusedWithoutTraffic) {
  for (const Procedure& p : kProcedures) {
    // The newer card generation: older-map addresses would hit other memory.
    TestPath spran;
    ScriptMotor3(spran);
    EXPECT_EQ(tuning::DownloadOpenLoopTest(spran.Card(true), p.kind, Request()), 0);
    EXPECT_TRUE(spran.sent.empty()) << p.golden;
    // Motor 9 would write card-wide variables ("I900=1", the PWM
    // frequency) and gathers no source; motor 0 addresses below the map.
    for (int motor : {0, 9, -1}) {
      TestPath path;
      ScriptMotor3(path);
      OpenLoopRequest request = Request();
      request.motor = motor;
      EXPECT_EQ(Download(path, p.kind, request), 0) << p.golden << " motor " << motor;
      EXPECT_TRUE(path.sent.empty()) << p.golden << " motor " << motor;
    }
  }
}

TEST_F(OpenLoop, AnUnreadableFeedbackTableChangesNothing) {
  for (const Procedure& p : kProcedures) {
    if (p.kind == OpenLoopKind::kFirstGeneration) continue;  // it writes no entry
    for (const UnreadableTable& c : UnreadableTables()) {
      TestPath path;
      ScriptMotor3(path);
      path.Table(c);
      EXPECT_EQ(Download(path, p.kind, Request()), 0) << c.name;
      const std::size_t searched = c.words.size() == 32 ? 32 : 2;
      EXPECT_EQ(path.sent.size(), searched) << c.name;
      for (const auto& line : path.sent) EXPECT_EQ(line.rfind("RY:$7", 0), 0u) << c.name << line;
      EXPECT_EQ(path.sent.back(), searched == 32 ? "RY:$73f" : "RY:$721") << c.name;
    }
  }
}

// The index of the first line that starts with `prefix`.
std::size_t IndexOf(const Lines& lines, const std::string& prefix) {
  return static_cast<std::size_t>(
      std::find_if(lines.begin(), lines.end(),
                   [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }) -
      lines.begin());
}

TEST_F(OpenLoop, LossAtEveryCutPointThenTheNextDownloadPutsBack) {
  for (const Procedure& p : kProcedures) {
    const Lines golden = GoldenLines(p.golden);
    const std::size_t entry = IndexOf(golden, "WY:$725,$");
    const std::size_t open = IndexOf(golden, "OPEN PLC 31");
    const std::size_t close = IndexOf(golden, "CLS");
    // The pulse program's own "CLS" (PLC 30's comes earlier).
    const std::size_t closed = static_cast<std::size_t>(
        std::find(golden.begin() + static_cast<long>(open), golden.end(), "CLS") - golden.begin());
    ASSERT_LT(close, closed);
    for (std::size_t k = 0; k < golden.size(); ++k) {
      SetUp();
      TestPath path;
      ScriptMotor3(path);
      path.SilentAfter(static_cast<int>(k));
      EXPECT_EQ(Download(path, p.kind, Request(p.gather_currents)), 0) << p.golden << " cut " << k;
      // The line that got no answer is the last one sent (the gather
      // set-up is no exchange of its own here: the next line is).
      std::size_t last = k;
      while (golden[last][0] == '[') ++last;
      Lines sent(golden.begin(), golden.begin() + static_cast<long>(last) + 1);
      if (testing::BufferLeftOpen(golden, last)) sent.push_back("CLOSE");
      EXPECT_EQ(path.sent, sent)
          << p.golden << " cut " << k;

      // The card answers again: the next download first closes a program
      // left open and takes the temporary entry away, In03 back.
      Lines expected;
      if (last >= open && last <= closed) expected.push_back("CLS");
      if (entry < golden.size() && last >= entry) {
        expected.push_back("WY:$725,0");
        expected.push_back("I303=$c00a");
      }
      expected.insert(expected.end(), golden.begin(), golden.end());
      TestPath later;
      ScriptMotor3(later);
      EXPECT_EQ(Download(later, p.kind, Request(p.gather_currents)), 1) << p.golden << " cut " << k;
      EXPECT_EQ(later.sent, expected) << p.golden << " cut " << k;
    }
  }
  // A put-back that is cut off itself stays to be done.
  SetUp();
  TestPath path;
  ScriptMotor3(path);
  path.SilentAfter(10);
  ASSERT_EQ(Download(path, OpenLoopKind::kAlternating, Request()), 0);
  TestPath lost;
  lost.SilentAfter(0);
  EXPECT_EQ(Download(lost, OpenLoopKind::kAlternating, Request()), 0);
  EXPECT_EQ(lost.sent, Lines{"WY:$725,0"});
  TestPath again;
  ScriptMotor3(again);
  EXPECT_EQ(Download(again, OpenLoopKind::kPositive, Request()), 1);
  EXPECT_EQ(Lines(again.sent.begin(), again.sent.begin() + 3),
            (Lines{"WY:$725,0", "I303=$c00a", "RY:$720"}));
}

#ifdef TUNING_TEST_WITH_CARD

using namespace zimo::corvan::testing;
using cardsim::Space;

// Motor 3 of the simulated older card with a feedback table of one entry.
class OpenLoopCard : public ::testing::Test {
 protected:
  void SetUp() override {
    tuning::ResetMotorTests();
    tuning::ResetOpenLoopTests();
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    for (const char* line :
         {"I383=$C009", "I303=$C00A", "I369=32000", "WY:$720,$10C003", "WY:$721,0"}) {
      card().Execute(line);
    }
    card().script().ClearLog();
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    tuning::ResetMotorTests();
    tuning::ResetOpenLoopTests();
  }
  cardsim::Card& card() { return card_->card(); }
  Lines Received() {
    Lines got;
    for (const auto& line : card_->received()) {
      if (line != "^X") got.push_back(line);
    }
    card().script().ClearLog();
    return got;
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(OpenLoopCard, ARunEndsWithP996At123AndIn03Back) {
  ASSERT_EQ(DownloadOpenLoopTestProgram(0, 3, 50, 10, 2, 1, 0), 1);
  const Lines got = Received();
  EXPECT_TRUE(Has(got, "WY:$721,$00c008,0"));
  EXPECT_TRUE(Has(got, "I303=1825"));
  EXPECT_TRUE(Has(got, "P1022=16000.000000"));
  EXPECT_EQ(got.back(), "DEFGAT I5=2 ENA PLC 31");
  // During the test In03 reads the temporary entry, which holds In83 - 1.
  EXPECT_EQ(card().IVar(303), 0x721);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0xC008u);
  EXPECT_EQ(card().PVar(996), -1);
  // The motor's currents are gathered: sources 0 to 2 of the mask $40404.
  char text[32];
  const char* sources[] = {"Y:$BE", "D:$A3", "X:$BE"};
  for (std::uint32_t s = 0; s < 3; ++s) {
    ASSERT_EQ(ZimoGetGather(0, s, text, sizeof text), 1);
    EXPECT_STREQ(text, sources[s]) << s;
  }
  EXPECT_EQ(card().IVar(19), 5);

  bool output_seen = false;
  for (int cycle = 0; cycle < 20000 && card().PVar(996) != 123; ++cycle) {
    card().AdvanceServo(1);
    if (card().memory().Read(Space::kX, 0x0B2) != 0) output_seen = true;
  }
  card().AdvanceServo(4);  // the program's queued table write runs after its last scan
  EXPECT_TRUE(output_seen);
  EXPECT_EQ(card().PVar(996), 123);
  EXPECT_EQ(card().PVar(1021), 2);
  EXPECT_EQ(card().IVar(303), 0xC00A);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x720), 0x10C003u);
  EXPECT_EQ(card().PlcEnabled() & (3u << 30), 0u);
}

TEST_F(OpenLoopCard, FirstGenerationGathersFixedAddressesAndLeavesIn03) {
  ASSERT_EQ(DownloadOpenLoopTestProgramForZimo1(0, 3, 50, 10, 1, 0, 1), 1);
  const Lines got = Received();
  EXPECT_TRUE(Has(got, "P1022=16383.500000"));
  for (const auto& line : got) EXPECT_NE(line.rfind("RY:", 0), 0u) << line;
  char text[32];
  const char* sources[] = {"D:$A3", "X:$AB", "X:$BD"};
  for (std::uint32_t s = 0; s < 3; ++s) {
    ASSERT_EQ(ZimoGetGather(0, s, text, sizeof text), 1);
    EXPECT_STREQ(text, sources[s]) << s;
  }
  for (int cycle = 0; cycle < 20000 && card().PVar(996) != 123; ++cycle) card().AdvanceServo(1);
  EXPECT_EQ(card().PVar(996), 123);
  EXPECT_EQ(card().PVar(1021), 1);
  EXPECT_EQ(card().IVar(303), 0xC00A);
  EXPECT_EQ(card().memory().Read(Space::kY, 0x721), 0u);
  EXPECT_EQ(card().PlcEnabled() & (3u << 30), 0u);
}

TEST_F(OpenLoopCard, ASilentCardThenTheNextDownloadPutsBack) {
  // Silent from the read of In69 on, after the entry and In03 changed.
  card().script().SilenceAfter(6, -1);
  EXPECT_EQ(DownloadOpenLoopTestProgram1(0, 3, 50, 10, 2, 0, 0), 0);
  const Lines cut = Received();
  ASSERT_GE(cut.size(), 7u);
  EXPECT_EQ(Lines(cut.begin(), cut.begin() + 7), (Lines{"RY:$720", "RY:$721", "I303", "I383",
                                                        "WY:$721,$00c008,0", "I303=1825", "I369"}));
  for (const char* line : {"M0->X:0,24", "I19=5", "OPEN PLC 31 CLEAR", "I300=1"}) {
    EXPECT_FALSE(Has(cut, line)) << line;
  }
  EXPECT_EQ(card().IVar(303), 0x721);
  card().script().ClearSilence();
  // The next download takes the entry away and puts In03 back first.
  EXPECT_EQ(DownloadOpenLoopTestProgram1(0, 3, 50, 10, 2, 0, 0), 1);
  // (The link's own recovery line after the time-out may come first.)
  Lines again = Received();
  again.erase(std::remove(again.begin(), again.end(), "I3=2 I6=1"), again.end());
  ASSERT_GE(again.size(), 3u);
  EXPECT_EQ(Lines(again.begin(), again.begin() + 3), (Lines{"WY:$721,0", "I303=$c00a", "RY:$720"}));
  EXPECT_TRUE(Has(again, "I303=1825"));
}

#endif  // TUNING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
