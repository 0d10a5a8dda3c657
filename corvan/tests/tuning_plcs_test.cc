// The limit and phasing programs: the lines the card receives, byte for
// byte, on the simulated card and on a card that falls silent part way; and
// the fine-phasing file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "temp_home.h"
#include "tuning/tuning.h"
#include "tuning_scripted_path.h"
#include "tuning_transcripts.h"

#if __has_include("cardsim/attach_pty.h")
#define TUNING_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "tuning_serial_card.h"
#endif

namespace zimo::corvan {
namespace {

using testing::TuningPath;
using Lines = std::vector<std::string>;

const Lines kPosLimitMotor8 = {
    "M1000->X:$1e1,21,1", "M1001->X:$1e1,22,1", "OPEN PLC 30 CLR", "IF(M1000=1 OR M1001=1)",
    "CMD\"#8K\"",         "DIS PLC 30",         "ENDIF",           "CLS",
};

const Lines kVelLimitMotor2 = {
    "M166->X:$6f,24,1", "OPEN PLC 32 CLR", "IF(M166 > $64)", "CMD\"#2K\"", "ENDIF", "CLS",
    "ENA PLC 32",
};

const Lines kRoughPhaseMotor3 = {
    "DELETE GATHER",
    "DELETE TRACE",
    "OPEN PLC 31 CLEAR",
    "CMD\"#3o0\"",
    "P329=I329",
    "P379=I379",
    "IF (I372 > 128)",
    "  I329=3000",
    "  I379=-3000",
    "ELSE",
    "  I329=-3000",
    "  I379=3000",
    "ENDIF",
    "P1=0",
    "WHILE (P1 < 5000)   ; do a delay",
    "  P1=P1+1",
    "ENDWHILE",
    "I329=P329",
    "P1=0",
    "WHILE (P1 < 5000)",
    "  P1=P1+1",
    "ENDWHILE",
    "M371=0",
    "I379=P379",
    "DISABLE PLC 31",
    "P998=10",
    "CLS",
    "P998=0",
    "I5=2 ENA PLC 31",
};

Lines GantryParabolic(const Lines& definitions, const char* start) {
  Lines lines = {"UNDEF ALL A &1", "#1->X", "#2->X", "M1017->*", "M0->X:0,24"};
  lines.insert(lines.end(), definitions.begin(), definitions.end());
  const Lines rest = {"M1016->L:$081F",
                      "DELETE GATHER",
                      "DELETE TRACE",
                      "OPEN PROG 999 CLR",
                      "PVT(P1022)",
                      "M1019=1",
                      start,
                      "INC",
                      "X(P1023):0",
                      "X(-P1023):0",
                      "DWE2",
                      "DWE2",
                      "M1019=0",
                      "P1021=0",
                      "LINEAR",
                      "ABS",
                      "CLS",
                      "M1017=12345"};
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

const Lines kGantryOlder =
    GantryParabolic({"M1019->X:$0003,19", "M1020->X:$0003,18", "M1018->D:$0028", "M1008->D:$0064",
                     "M1021->X:$07F1,24", "M1022->X:$07F0,24"},
                    "M1020=1");
const Lines kGantryNewer = GantryParabolic({"M1018->D:$88", "M1008->D:$108", "M1019->X:$0006,19",
                                            "M1021->X:$10F1,24", "M1022->X:$10F0,24"},
                                           "TM(P1022)");

struct Procedure {
  const char* name;
  std::function<int(CardCommandPath&)> run;
  const Lines* lines;
};

const Procedure kProcedures[] = {
    {"position limit", [](CardCommandPath& p) { return tuning::DownloadPosLimitPLC(p, 0, 8); },
     &kPosLimitMotor8},
    {"velocity limit", [](CardCommandPath& p) { return tuning::DownloadVelLimitPLC(p, 0, 2, 100); },
     &kVelLimitMotor2},
    {"rough phasing",
     [](CardCommandPath& p) { return tuning::DownloadAndRunRoughPhasePLC(p, 0, 3); },
     &kRoughPhaseMotor3},
    {"gantry parabolic, older card",
     [](CardCommandPath& p) { return tuning::DoAGantryParabolic(p, 0, 1, 1, 2); }, &kGantryOlder},
    {"gantry parabolic, newer card",
     [](CardCommandPath& p) { return tuning::DoAGantryParabolic(p, 0, 5, 1, 2); }, &kGantryNewer},
};

TEST(LimitPlcs, WholeProgramsAndTheirAddresses) {
  for (const auto& p : kProcedures) {
    TuningPath path;
    EXPECT_EQ(p.run(path), 1) << p.name;
    EXPECT_EQ(path.sent, *p.lines) << p.name;
  }
  struct Case {
    int motor;
    std::int32_t speed;
    const char* definition;
    const char* condition;
  };
  const Case cases[] = {
      {1, 255, "M166->X:$3c,24,1", "IF(M166 > $ff)"},
      {3, 100, "M166->X:$a2,24,1", "IF(M166 > $64)"},  // $33 a motor
  };
  for (const auto& c : cases) {
    TuningPath path;
    ASSERT_EQ(tuning::DownloadVelLimitPLC(path, 0, c.motor, c.speed), 1);
    EXPECT_EQ(path.sent[0], c.definition);
    EXPECT_EQ(path.sent[2], c.condition);
  }
  TuningPath path;
  ASSERT_EQ(tuning::DownloadPosLimitPLC(path, 0, 1), 1);
  EXPECT_EQ(path.sent[0], "M1000->X:$3d,21,1");
}

TEST(LimitPlcs, CardErrorsDoNotStopAProgram) {
  TuningPath path;
  path.Reply("IF(M166 > $64)", "\aERR003\r", kStatusCardError);
  EXPECT_EQ(tuning::DownloadVelLimitPLC(path, 0, 2, 100), 1);
  EXPECT_EQ(path.sent, kVelLimitMotor2);
}

TEST(LimitPlcs, StopAtTheCutAndNeverStartAPartProgram) {
  for (const auto& p : kProcedures) {
    for (std::size_t k = 0; k < p.lines->size(); ++k) {
      TuningPath path;
      path.SilentAfter(static_cast<int>(k));
      EXPECT_EQ(p.run(path), 0) << p.name << " cut after " << k;
      // The line that got no answer is the last one sent, but for the
      // CLOSE of a program the cut left open.
      Lines expected(p.lines->begin(), p.lines->begin() + static_cast<long>(k) + 1);
      if (testing::BufferLeftOpen(*p.lines, k)) expected.push_back("CLOSE");
      EXPECT_EQ(path.sent, expected) << p.name << " cut after " << k;
    }
  }
}

TEST(LimitPlcs, MotorsOutsideOneToEightAreRefusedWithoutTraffic) {
  for (int motor : {0, 9, -1}) {
    TuningPath path;
    EXPECT_EQ(tuning::DownloadPosLimitPLC(path, 0, motor), 0);
    EXPECT_EQ(tuning::DownloadVelLimitPLC(path, 0, motor, 100), 0);
    EXPECT_EQ(tuning::DownloadAndRunRoughPhasePLC(path, 0, motor), 0);
    EXPECT_EQ(tuning::CreateIncrementalFinePhasePLC(path, 0, "/tmp/never.pmc", 5, motor), 0);
    EXPECT_EQ(tuning::DoAGantryParabolic(path, 0, 1, 1, motor), 0);
    EXPECT_EQ(tuning::DoAGantryParabolic(path, 0, 1, motor, 1), 0);
    EXPECT_TRUE(path.sent.empty()) << motor;
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

const char kFinePhaseMotor1Plc5[] =
    ";  ****** Fine Phasing PLC Program for Motor #1 *****\r\n\r\n"
    ";  NOTICE:  This PLC program should only be used AFTER Zimo2 has been\r\n"
    ";           powered up AND AFTER YOUR AMPLIFIERS have are powered up.\r\n"
    ";           Not observing this precaution could result in damage to\r\n"
    ";           your motors and/or amplifiers!  It is recommended that you\r\n"
    ";           run this PLC program upon confirmed request from the user.\r\n\r\n"
    "I5 = 0    ; this is a precaution so that this PLC does not run instantly after reset\r\n"
    "M171->X:$40,0,24,S    ; phase position register \r\n"
    "M145->Y:$814,10,1      ; home complete bit\r\n"
    "M133->X:$3d,13,1\t\t; desired velocity zero bit \r\n"
    "DELETE GATHER\r\n"
    "DELETE TRACE\r\n\r\n"
    "OPEN PLC 5 CLEAR\r\n"
    "M145=0              ; now fine phasing\r\n"
    "CMD\"#1hm\"\t\t\t; tell motor to home\r\n"
    "WHILE (M145 = 0)   ; wait for home to finish\r\n"
    "ENDWHILE\r\n"
    "WHILE (M133 = 1)   ; wait for motor to stop moving\r\n"
    "ENDWHILE\r\n"
    "M171=-2345           ; drop in the phase register value\r\n"
    "DISABLE PLC 5\r\n"
    "CLOSE\r\n";

class FinePhaseFile : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  std::string file_ = home_.path().string() + "/fine.pmc";
};

TEST_F(FinePhaseFile, WrittenByteForByte) {
  TuningPath path;
  path.Reply("M171", "-2345\r");
  ASSERT_EQ(tuning::CreateIncrementalFinePhasePLC(path, 0, file_.c_str(), 5, 1), 1);
  EXPECT_EQ(path.sent, Lines{"M171"});
  EXPECT_EQ(ReadFile(file_), kFinePhaseMotor1Plc5);

  // Motor 8, PLC 12: the addresses step by motor.
  TuningPath eight;
  eight.Reply("M871", "0\r");
  ASSERT_EQ(tuning::CreateIncrementalFinePhasePLC(eight, 0, file_.c_str(), 12, 8), 1);
  const std::string text = ReadFile(file_);
  EXPECT_NE(text.find("M871->X:$1e4,0,24,S "), std::string::npos);
  EXPECT_NE(text.find("M845->Y:$d54,10,1 "), std::string::npos);
  EXPECT_NE(text.find("M833->X:$1e1,13,1\t"), std::string::npos);
  EXPECT_NE(text.find("OPEN PLC 12 CLEAR\r\n"), std::string::npos);
  EXPECT_NE(text.find("M871=0           ;"), std::string::npos);
}

TEST_F(FinePhaseFile, NoFileWithoutThePhaseValue) {
  struct Case {
    const char* name;
    std::function<void(TuningPath&)> setup;
  };
  const Case cases[] = {
      {"silent card", [](TuningPath& p) { p.SilentAfter(0); }},
      {"card error", [](TuningPath& p) { p.Reply("M171", "\aERR003\r", kStatusCardError); }},
      {"no number", [](TuningPath& p) { p.Reply("M171", "\r"); }},
  };
  for (const auto& c : cases) {
    TuningPath path;
    c.setup(path);
    EXPECT_EQ(tuning::CreateIncrementalFinePhasePLC(path, 0, file_.c_str(), 5, 1), 0) << c.name;
    EXPECT_FALSE(Exists(file_)) << c.name;
  }
  // A file that cannot be created: nothing is asked.
  TuningPath path;
  const std::string nowhere = home_.path().string() + "/missing/fine.pmc";
  EXPECT_EQ(tuning::CreateIncrementalFinePhasePLC(path, 0, nowhere.c_str(), 5, 1), 0);
  EXPECT_TRUE(path.sent.empty());
}

#ifdef TUNING_TEST_WITH_CARD

using namespace zimo::corvan::testing;

class PlcCardTest : public SerialCardTest<> {};

TEST_F(PlcCardTest, TheCardReceivesEachProgramAsWritten) {
  EXPECT_EQ(DownloadPosLimitPLC(0, 8), 1);
  EXPECT_EQ(card_->received(), kPosLimitMotor8);
  card_->card().script().ClearLog();
  EXPECT_EQ(DownloadVelLimitPLC(0, 2, 100), 1);
  EXPECT_EQ(card_->received(), kVelLimitMotor2);
  card_->card().script().ClearLog();
  EXPECT_EQ(DownloadAndRunRoughPhasePLC(0, 3), 1);
  EXPECT_EQ(card_->received(), kRoughPhaseMotor3);
  card_->card().script().ClearLog();
  EXPECT_EQ(DoAGantryParabolic(0, 1, 2), 1);  // the simulated card is of the older map
  EXPECT_EQ(card_->received(), kGantryOlder);
}

TEST_F(PlcCardTest, FinePhaseFileTakesTheCardsPhaseValue) {
  char reply[256];
  FormatAndGetResponse(0, reply, 255, "M171->X:$40,0,24,S");
  FormatAndGetResponse(0, reply, 255, "M171=-2345");
  card_->card().script().ClearLog();
  const std::string file = home_.path().string() + "/fine.pmc";
  ASSERT_EQ(CreateIncrementalFinePhasePLC(0, file.c_str(), 5, 1, 0, 0), 1);
  EXPECT_EQ(card_->received(), Lines{"M171"});
  EXPECT_EQ(ReadFile(file), kFinePhaseMotor1Plc5);
}

TEST_F(PlcCardTest, AMutedCardGetsOneLineAndTheProgramIsNotStarted) {
  card_->card().script().SetMuted(true);
  EXPECT_EQ(DownloadVelLimitPLC(0, 2, 100), 0);
  // The link may add its own recovery line after the time-out; of the
  // program only the first line reached the card.
  const Lines got = card_->received();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], "M166->X:$6f,24,1");
  for (std::size_t i = 1; i < kVelLimitMotor2.size(); ++i) {
    EXPECT_EQ(std::count(got.begin(), got.end(), kVelLimitMotor2[i]), 0) << kVelLimitMotor2[i];
  }
}

// The link drops the answer to the first line inside each program body:
// the procedure stops, and closes the buffer it opened on its way out, so
// the card runs the next line of any client instead of storing it.
TEST_F(PlcCardTest, ALostAnswerInsideAProgramLeavesNoBufferOpen) {
  struct Case {
    const char* name;
    const Lines* lines;
    std::function<std::int32_t()> run;
  };
  const Case cases[] = {
      {"position limit", &kPosLimitMotor8, [] { return DownloadPosLimitPLC(0, 8); }},
      {"velocity limit", &kVelLimitMotor2, [] { return DownloadVelLimitPLC(0, 2, 100); }},
      {"rough phase", &kRoughPhaseMotor3, [] { return DownloadAndRunRoughPhasePLC(0, 3); }},
      {"gantry parabolic", &kGantryOlder, [] { return DoAGantryParabolic(0, 1, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto open = std::find_if(c.lines->begin(), c.lines->end(),
                                   [](const std::string& l) { return l.rfind("OPEN", 0) == 0; });
    ASSERT_NE(open, c.lines->end());
    ASSERT_NE(open + 1, c.lines->end());
    const std::string inside = *(open + 1);
    for (auto it = c.lines->begin(); it <= open; ++it) ASSERT_EQ(it->find(inside), std::string::npos);
    card_->card().script().SilenceAt(inside, 1);
    EXPECT_EQ(c.run(), 0);
    card_->card().script().ClearSilence();
    char reply[256];
    FormatAndGetResponse(0, reply, 255, "P77=5");
    EXPECT_EQ(card_->card().PVar(77), 5);
    FormatAndGetResponse(0, reply, 255, "P77=0");
    card_->card().script().ClearLog();
  }
}

#endif  // TUNING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
