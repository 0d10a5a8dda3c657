// Programs that run: the card's PLC language (statements, comparisons,
// keyword short forms), scans in simulated time, the programs the tuning
// and set-up code downloads, typed into the card line by line, and what the
// card answers to broken programs.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"
#include "cardsim/expression.h"

namespace zimo::cardsim {
namespace {

std::string Hex6(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", v);
  return text;
}

double CycleMs(Card& card) { return card.IVarValue(10) / 8388608.0; }

TEST(PlcLanguage, LinesOfTheSetUpProgramsAnswerAsTheCardDoes) {
  struct Case {
    const char* line;
    int error;
    Lines reply;
  };
  const Case cases[] = {
      {"I162=0.25/4 I162", 0, {"0.0625"}},
      {"#1O0ENA PLC 31 ENA PLC29 #", 0, {"#1"}},
      {"M166->X:$3C,24,1 M166->", 0, {"X:$3C,0,24,U"}},
      {"M1015->X:$33,24,S M1015->", 0, {"X:$33,0,24,S"}},
      {"M90->Y:$700,0,24,S M90=-5 M90", 0, {"-5"}},
      {"P1=3 ; a comment with I10=5 in it", 0, {}},
      {"CLS I10", 0, {"3713707"}},  // nothing open: closes nothing
      {"M1->X:$3,24,Q", card_error::kBadCommand, {}},
      {"IF(P1=1)", card_error::kBadCommand, {}},  // program statements only
  };
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    for (const Case& c : cases) {
      Reply reply = card.Execute(c.line);
      EXPECT_EQ(reply.error, c.error) << c.line;
      if (reply.error == 0) {
        EXPECT_EQ(reply.lines, c.reply) << c.line;
      }
    }
    EXPECT_EQ(card.PlcEnabled(), (1u << 31) | (1u << 29));
    EXPECT_EQ(card.IVar(10), 3713707);  // the commented-out assignment did not run
  }
}

TEST(PlcLanguage, ComparisonsAndConnectives) {
  // P1 = 5, P2 = 7, M1022 = 3, P1021 = 4.
  ExpressionContext context;
  context.read = [](char letter, int n) -> std::optional<double> {
    if (letter == 'P' && n == 1) return 5;
    if (letter == 'P' && n == 2) return 7;
    if (letter == 'P' && n == 1021) return 4;
    if (letter == 'M' && n == 1022) return 3;
    return 0.0;
  };
  const std::pair<const char*, bool> cases[] = {
      {"P1=5", true},
      {"P1!=5", false},
      {"P1>P2", false},
      {"P1<P2", true},
      {"P1!>P2", true},
      {"P1!<P2", false},
      {"P1~6", true},
      {"P1~7", false},
      {"P1!~4", false},
      {"P1 = -(-5)", true},
      {"P1<P2ANDP2<P1", false},
      {"P1<P2 OR P2<P1", true},
      {"P1>P2 OR P1=5 AND P2=7", true},  // AND binds tighter
      {"(P1>P2 OR P1=5) AND P2=6", false},
      {"ABS(P1-P2)>(P1021/4)ANDM1022<P1021", true},
      {"(P1=5)ANDM1022<P1021", true},
  };
  for (const auto& [text, expected] : cases) {
    Scanner s(text);
    auto v = EvaluateCondition(s, context);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_TRUE(s.AtEnd()) << text;
    EXPECT_EQ(*v, expected) << text;
  }
  // A value alone is no condition.
  for (const char* text : {"P1023andM1022<P1021", "P1", "P1<", "(P1<P2"}) {
    Scanner s(text);
    EXPECT_FALSE(EvaluateCondition(s, context).has_value()) << text;
  }
}

TEST(PlcLanguage, ShortFormsCommentsAndStructureInStoredPrograms) {
  Card card(CardModel::Older());
  Type(card, {"OPN PLC 3 CLR", "P10=0", "IF (P1 = 1)   ; first", "P10=P10+1", "ELSE",
              "IF(P1=2)P10=P10+20", "END I", "WHILE (P11 < 3)   ; do a delay", "P11=P11+1",
              "END WHI", "P12=1", "CLOS", "I5=2 P1=2 ENA PLC 3"});
  EXPECT_EQ(card.ProgramBuffer("PLC 3")->at(1), "IF (P1 = 1)   ");
  card.AdvanceServo(1);  // the WHILE body runs once, then the scan ends
  EXPECT_DOUBLE_EQ(card.PVar(10), 20.0);
  EXPECT_DOUBLE_EQ(card.PVar(11), 1.0);
  EXPECT_DOUBLE_EQ(card.PVar(12), 0.0);
  card.AdvanceServo(3);  // two more passes, then the WHILE ends and the scan runs through
  EXPECT_DOUBLE_EQ(card.PVar(11), 3.0);
  EXPECT_DOUBLE_EQ(card.PVar(12), 1.0);
  EXPECT_DOUBLE_EQ(card.PVar(10), 20.0);
  card.Execute("P1=1");
  card.AdvanceServo(1);  // a fresh scan from the top
  EXPECT_DOUBLE_EQ(card.PVar(10), 1.0);
}

TEST(PlcScans, I5GatesPlcZeroAndTheOthersSeparately) {
  Card card(CardModel::Older());
  Type(card, {"OPEN PLC 0 CLEAR", "P1=P1+1", "CLOSE", "OPEN PLC 7 CLEAR", "P2=P2+1", "CLOSE",
              "ENA PLC 0,7"});
  const std::pair<int, std::pair<double, double>> cases[] = {
      {0, {0, 0}}, {1, {1, 0}}, {2, {0, 1}}, {3, {1, 1}}};
  for (const auto& [i5, counts] : cases) {
    card.Execute("P1..2=0 I5=" + std::to_string(i5));
    card.AdvanceServo(1);
    EXPECT_DOUBLE_EQ(card.PVar(1), counts.first) << i5;
    EXPECT_DOUBLE_EQ(card.PVar(2), counts.second) << i5;
  }
}

TEST(PlcScans, CycleCounterAndCountdownTimerFollowTheServoClock) {
  Card older(CardModel::Older());
  Type(older, {"M0->X:0,24", "M90->Y:$700,0,24,S", "M0=$FFFFFE", "M90=2"});
  older.AdvanceServo(3);
  EXPECT_EQ(Ask(older, "M0 M90"), (Lines{"1", "0"}));  // wrapped at 24 bits; stops at 0
  Card spran(CardModel::Spran());
  spran.AdvanceServo(5);
  EXPECT_EQ(Ask(spran, "M0->X:0,24 M0"), Lines{"5"});
}

// The brushless current-loop step program for motor 1 and the limit
// watchdog it enables, as the tuning code types them.
Lines BrushlessStepProgram() {
  return {"M0->x:0,24",
          "M90->Y:$700,0,24,S",
          "M171->X:$40,0,24,S",
          "M1023->x:$07F0,24",
          "M1022->x:$07F1,24",
          "M1020->X:$0003,18",
          "M1019->X:$0003,19",
          "P1022=10",
          "ENDG I48=0",
          "ENDG I48=0",
          "DEL GAT",
          "DELETE TRACE",
          "M1000->X:$3d,21,1",
          "M1001->X:$3d,22,1",
          "OPEN PLC 30 CLR",
          "IF(M1000=1 OR M1001=1)",
          "CMD\"#1K\"",
          "DIS PLC 30",
          "ENDIF",
          "CLS",
          "OPEN PLC 31 CLEAR",
          "P179=I179",
          "I179=3276.700000",
          "M90=1000*8388608/I10",
          "WHILE (M90>0 and P996=-1)",
          "ENDWHILE",
          "M171=0",
          "I179=P179",
          "P1021=P1022*8388608/I10",
          "M1020=1",
          "M1019=1",
          "I177=P1018",
          "M1023=M0",
          "M1022=M0-M1023",
          "WHILE(M1022<P1021)",
          "M1022=M0-M1023",
          "ENDWHILE",
          "M1019=0",
          "P1019=1",
          "I177=0",
          "DIS PLC 31",
          "CLS"};
}

TEST(PlcPrograms, BrushlessStepEndsAfterTheDwellAndRestoresIn79) {
  Card card(CardModel::Older());
  Type(card, {"I10=928426", "I179=17", "P996=-1"});
  Type(card, BrushlessStepProgram());
  Type(card, {"#1K I100=1 I101=1", "#1O0 I8=15", "I177=0 I171=1", "P1018=100", "P1019=0",
              "DISABLE PLC 0..31", "I3=0 I5=2 I6=1 I19=1 I63=1I64=1", "#1O0", "ENA PLC 31"});
  int cycles = 0;
  while (card.PVar(1019) != 1 && cycles < 20000) {
    card.AdvanceServo(1);
    ++cycles;
  }
  double ms = cycles * CycleMs(card);
  EXPECT_NEAR(ms, 1010.0, 3 * CycleMs(card));
  EXPECT_EQ(card.IVar(179), 17);
  EXPECT_EQ(card.IVar(177), 0);
  EXPECT_EQ(card.PlcEnabled(), 0u);                                    // disabled itself
  EXPECT_EQ(card.memory().Read(Space::kX, 3) & (3u << 18), 1u << 18);  // M1020 set, M1019 cleared
}

TEST(PlcPrograms, RoughPhaseTakesTwoCountedDelaysAndPutsTheOffsetsBack) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    Type(card, {"I129=11 I179=22 I172=200"});
    Type(card, {"DELETE GATHER", "DELETE TRACE"});
    Type(card, RoughPhasePlc());
    Type(card, {"I5=2 ENA PLC 31"});
    card.AdvanceServo(1);
    EXPECT_EQ(card.IVar(129), 3000);
    EXPECT_EQ(card.IVar(179), -3000);
    EXPECT_NE(card.MotorServoStatus(1) & (1u << 18), 0u);  // the command opened the loop
    card.AdvanceServo(5000);
    EXPECT_EQ(card.IVar(129), 11);  // first offset back after the first delay
    EXPECT_EQ(card.IVar(179), -3000);
    card.AdvanceServo(4999);  // 10000 scans: the second delay's last pass
    EXPECT_DOUBLE_EQ(card.PVar(998), 0.0);
    card.AdvanceServo(1);
    EXPECT_DOUBLE_EQ(card.PVar(998), 10.0);  // written after the PLC disabled itself
    EXPECT_EQ(card.IVar(179), 22);
    EXPECT_EQ(card.PlcEnabled(), 0u);
  }
}

TEST(PlcPrograms, DisabledFromTheHostMidWhileRunsNoneOfItsClosingLines) {
  Card card(CardModel::Older());
  Type(card, {"OPEN PLC 4 CLEAR", "P1=0", "WHILE(P1<100)", "P1=P1+1", "ENDWHILE", "P2=1", "CLOSE",
              "I5=2 ENA PLC 4"});
  card.AdvanceServo(10);
  card.Execute("DIS PLC 4");
  card.AdvanceServo(200);
  EXPECT_DOUBLE_EQ(card.PVar(1), 10.0);
  EXPECT_DOUBLE_EQ(card.PVar(2), 0.0);
  card.Execute("ENA PLC 4");  // enabled again, it starts from its top
  card.AdvanceServo(1);
  EXPECT_DOUBLE_EQ(card.PVar(1), 1.0);
}

TEST(PlcPrograms, CommandsWaitForTheSlotAndUseThePlcsOwnAddressing) {
  Card card(CardModel::Older());
  Type(card, {"OPEN PLC 2 CLEAR", "CMD\"#2\"", "COMMAND\"Q1=5 P5=P5+1\"", "CMD^K", "P6=P6+1",
              "DIS PLC 2", "CLOSE", "&3 #1 I5=2 ENA PLC 2"});
  card.AdvanceServo(1);  // the first command issued; the second waits
  EXPECT_DOUBLE_EQ(card.PVar(5), 0.0);
  card.AdvanceServo(1);
  EXPECT_DOUBLE_EQ(card.PVar(5), 1.0);
  EXPECT_DOUBLE_EQ(card.QVar(1, 1), 5.0);            // the PLC's own system is &1
  EXPECT_EQ(Ask(card, "# &"), (Lines{"#1", "&3"}));  // the host's addressing is untouched
  card.AdvanceServo(1);
  EXPECT_DOUBLE_EQ(card.PVar(6), 1.0);
  EXPECT_EQ(card.MotorServoStatus(1) & (1u << 18), 1u << 18);  // ^K killed: open loop
  card.AdvanceServo(5);
  EXPECT_DOUBLE_EQ(card.PVar(5), 1.0);  // once: it disabled itself
}

TEST(PlcPrograms, ProgramsSurviveAResetAndRunAsI5Allows) {
  Card card(CardModel::Older());
  Type(card,
       {"OPEN PLC 1 CLEAR", "P1=P1+1", "CLOSE", "OPEN PLC 2 CLEAR", "CLOSE", "I5=2 SAVE", "$$$"});
  EXPECT_EQ(card.PlcEnabled(), 1u << 1);  // PLC 2 holds nothing
  card.AdvanceServo(3);
  EXPECT_DOUBLE_EQ(card.PVar(1), 3.0);
  card.Execute("$$$***");
  EXPECT_EQ(card.ProgramBuffer("PLC 1"), std::nullopt);
}

TEST(PlcPrograms, TablesEnableWordAndOpenBufferBits) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    uint32_t table = spran ? 0x9000 : 0xE00;
    uint32_t start = spran ? 0x9600 : 0x1800;
    Type(card, {"OPEN PLC 2 CLEAR"});
    // A PLC buffer open shows in the global status.
    EXPECT_EQ(Ask(card, "???").at(0).substr(6), "020000");
    Type(card, {"P1=1", "P2=2", "CLOSE", "OPEN PROG 1 CLEAR", "P3=1", "CLOSE", "I5=3 ENA PLC 2"});
    card.AdvanceServo(1);
    // Program 1: two words from the start; PLC 2: three more; enabled.
    EXPECT_EQ(Ask(card, "RHL$" + Hex6(table) + ",2"),
              Lines{"000000" + Hex6(start) + " 000000" + Hex6(start + 2)});
    EXPECT_EQ(Ask(card, "RHL$" + Hex6(table + 256 + 2)), Lines{"000000" + Hex6(start + 5)});
    EXPECT_EQ(Ask(card, "RHL$" + Hex6(table + 256 + 3)),
              Lines{"000000" + Hex6(0x800000 | (start + 5))});
    EXPECT_EQ(card.memory().Read(Space::kX, spran ? 0x26 : 0x1) & 3u, 3u);
  }
}

TEST(PlcBadInput, BrokenStructureFullBufferSelfEnableAndDeepNesting) {
  Card card(CardModel::Older());
  const Lines unmatched[] = {{"IF(P1=1)"},
                             {"WHILE(P1<2)", "ENDIF"},
                             {"ENDWHILE"},
                             {"ELSE"},
                             {"IF(P1=1)", "ELSE", "ELSE", "ENDIF"},
                             {"CMD\"#1J/"},
                             {"WHILE(P1<3"}};
  for (const Lines& body : unmatched) {
    Type(card, {"OPEN PLC 5 CLEAR"});
    Type(card, body);
    EXPECT_EQ(card.Execute("CLOSE").error, card_error::kStructure) << body[0];
    EXPECT_EQ(card.Execute("ENA PLC 5").error, card_error::kBadStructureRun) << body[0];
    EXPECT_EQ(card.PlcEnabled() & (1u << 5), 0u);
  }

  // A PLC that enables itself keeps running one scan per cycle.
  Type(card, {"OPEN PLC 6 CLEAR", "ENA PLC 6", "P7=P7+1", "CLOSE", "I5=2 ENA PLC 6"});
  card.AdvanceServo(4);
  EXPECT_DOUBLE_EQ(card.PVar(7), 4.0);

  // Deep nesting runs; deeper than the card keeps is a structural error.
  Lines deep{"OPEN PLC 8 CLEAR"};
  for (int i = 0; i < 200; ++i) deep.push_back("IF(P9=0)");
  deep.push_back("P10=1");
  for (int i = 0; i < 200; ++i) deep.push_back("ENDIF");
  deep.push_back("CLOSE");
  Type(card, deep);
  Type(card, {"ENA PLC 8"});
  card.AdvanceServo(1);
  EXPECT_DOUBLE_EQ(card.PVar(10), 1.0);
  Type(card, {"OPEN PLC 9 CLEAR"});
  for (int i = 0; i < 300; ++i) card.Execute("WHILE(P9=0)");
  EXPECT_EQ(card.Execute("CLOSE").error, card_error::kStructure);
}

TEST(PlcBadInput, AFullBufferRefusesTheLineAndKeepsWhatItHas) {
  Card card(CardModel::Older());
  card.Execute("OPEN PLC 1 CLEAR");
  for (int i = 0; i < 65536; ++i) card.Execute("P1=1");
  EXPECT_EQ(card.Execute("P2=2").error, card_error::kBufferFull);
  EXPECT_EQ(card.Execute("CLOSE").error, 0);
  EXPECT_EQ(card.ProgramBuffer("PLC 1")->size(), 65536u);
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(Ring, StationsAnswerTheirVariablesAndAbsentNodesErr008) {
  struct Case {
    const char* line;
    int error;
    Lines reply;
  };
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    card.AddRingStation(0, 5);
    card.AddRingStation(13, 7);
    const Case cases[] = {
        {"MS0,I3", 0, {"5"}},
        {"MS13,I3 MS13,I996", 0, {"7", "13"}},
        {"MS0,I12=1 MS0,I12", 0, {"1"}},
        {"MS 0 , I 910 = $10 MS0,I910", 0, {"16"}},
        {"I9=1 MS0,I3 I9=0", 0, {"MS0,I3=5"}},
        {"MS1,I3", card_error::kNoRingNode, {}},
        {"MS0,I1000", card_error::kBadCommand, {}},
        {"MS0,P3", card_error::kBadCommand, {}},
    };
    for (const Case& c : cases) {
      Reply reply = card.Execute(c.line);
      EXPECT_EQ(reply.error, c.error) << c.line;
      if (c.error == 0) {
        EXPECT_EQ(reply.lines, c.reply) << c.line;
      }
    }
    // Nodes past the generation's last: older cards have 14, SPRAN cards 64.
    EXPECT_EQ(card.Execute("MS14,I3").error,
              spran ? card_error::kNoRingNode : card_error::kBadCommand);
    EXPECT_EQ(card.Execute("MS64,I3").error, card_error::kBadCommand);
    card.RemoveRingStation(13);
    EXPECT_EQ(card.Execute("MS13,I3").error, card_error::kNoRingNode);
  }
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(PlcPrograms, AutotuningHandshakeJogsBackOnceThroughTheCommandSlot) {
  Card card(CardModel::Older());
  // The single-motor autotuning program for motor 1, older-card words.
  Type(card, {"M0->x:0,24",
              "M1023->x:$07F0,24",
              "M1022->x:$07F1,24",
              "M1021->x:$3d,13,1",
              "M1020->X:$0003,18",
              "M1019->X:$0003,19",
              "M1018->X:$3a,4,20",
              "M1017->d:$2b",
              "M1016->d:$80b",
              "M1015->X:$33,24,S",
              "M1014->Y:$814,2,1",
              "OPEN PLC 31 CLEAR",
              "P996=-1",
              "P1021=P1022*8388608/I10",
              "M1020=1",
              "M1019=1",
              "M1016=M1017",
              "M1018=P1020",
              "M1023=M0",
              "M1022=M0-M1023",
              "WHILE(abs(M1017-M1016)<P1023andM1022<P1021)",
              "M1022=M0-M1023",
              "ENDWHILE",
              "M1019=0",
              "M1018=0",
              "M1023=M0",
              "M1022=M0-M1023",
              "WHILE(ABS(M1015)>(I109*32*2)ANDM1022<P1021)",
              "M1022=M0-M1023",
              "ENDWHILE",
              "IF(M1014=0)",
              "CMD\"#1J= p996=-123\"",
              "WHILE(P996!=-123)",
              "ENDWHILE",
              "WHILE(M1021=1)",
              "ENDWHILE",
              "WHILE(M1021=0)",
              "ENDWHILE",
              "ELSE",
              "CMD\"#1J/\"",
              "ENDIF",
              "P1019=0",
              "P996=123",
              "DIS PLC 31",
              "CLS"});
  // 50 output units (800 in the 20-bit field) for at most 300 ms or 200 counts of
  // travel, in the position word's units.
  Type(card, {"P1020=800", "P1022=300", "P1023=200*96*32", "P1019=1", "#1O0", "I5=2 ENA PLC 31"});
  std::vector<double> p996;
  for (int c = 0; c < 4000 && card.PlcEnabled() != 0; ++c) {
    card.AdvanceServo(1);
    if (p996.empty() || p996.back() != card.PVar(996)) p996.push_back(card.PVar(996));
  }
  EXPECT_EQ(p996, (std::vector<double>{-1, -123, 123}));  // the command ran once
  EXPECT_EQ(card.PVar(1019), 0);
  EXPECT_EQ(card.PlcEnabled(), 0u);
  card.AdvanceServo(100);
  EXPECT_EQ(card.MotorPosition(1), 0);                   // jogged back to where it started
  EXPECT_EQ(card.MotorServoStatus(1) & (1u << 18), 0u);  // closed loop again
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(PlcPrograms, CurrentFeedbackTestFillsItsSlotsThroughARetargetedMVariable) {
  Card card(CardModel::Older());
  // Motor 1 with its current readings at X:/Y:$710 (channel 0: I182 = 49158).
  Type(card, {"I182=49158",
              "M102->Y:$c002,8,16,S",
              "M104->Y:$c003,8,16,S",
              "M107->Y:$c004,8,16,S",
              "M114->X:$c005,14",
              "WY:$728,$10c005,$10c006,0",
              "M105->X:$710,8,16,S",
              "M106->Y:$710,8,16,S",
              "M90->Y:$700,0,24,S",
              "M91->L:$1000",
              "M92->Y:$BC5B,0,12",
              "P100..104=0",
              "P200..204=0",
              "M114=1",
              "M114=0",
              "M114=1",
              "M114=0",
              "I901=2 I902=0",
              "ENDG I48=0",
              "ENDG I48=0",
              "DEL GAT",
              "DELETE TRACE"});
  Type(card, {"OPEN PLC 31 CLEAR",
              "I10=8388608/(2*1.500000)*3",
              "P999=0",
              "P998=0",
              "M114=1",
              "M102=0M104=0M107=0",
              "WHILE (P999 < 10 AND P996=-1)",
              "  M102=0M104=0M107=0",
              "  M90=1000*8388608/I10",
              "  WHILE (M90>0 and P996=-1)",
              "  ENDWHILE",
              "  M92=100+P999",
              "  M91=M105",
              "  M92=200+P999",
              "  M91=M106",
              "M102=I900*0.01*10.000000",
              "M104=-I900*0.01*10.000000",
              "M107=0",
              "  P998=P998+.5",
              "  M90=1000*8388608/I10",
              "  WHILE (M90>0 and P996=-1)",
              "  ENDWHILE",
              "  IF (P999 > 4)",
              "    M92=100+P999-5",
              "    M91=M105-M91",
              "    M92=200+P999-5",
              "    M91=M106-M91",
              "  ENDIF",
              "  P999=P999+1",
              "  P998=P998+.5",
              "ENDWHILE",
              "M102=0M104=0M107=0",
              "DISABLE PLC 31",
              "I10=3713707",
              "cmd\"WY:$728,0\"",
              "CLOSE",
              "P996=-1 I5=2 ENA PLC 31"});
  // Readings 7 (X) and 3 (Y) for the first five passes (1 ms cycles from the
  // PLC's first line on), 19 and 10 after them: the channel's offsets, as
  // the drive lines write 0 (I900 is 0).
  PhaseCurrentScript readings;
  readings.offset_a = 7;
  readings.offset_b = 3;
  card.script().SetPhaseCurrents(0, readings);
  card.AdvanceServo(10500);
  EXPECT_EQ(card.IVar(10), 8388608);
  EXPECT_EQ(card.PVar(998), 5);
  readings.offset_a = 19;
  readings.offset_b = 10;
  card.script().SetPhaseCurrents(0, readings);
  for (int c = 0; c < 20000 && card.PlcEnabled() != 0; ++c) card.AdvanceServo(1);
  card.AdvanceServo(1);  // the command slot's write runs after the last scan
  EXPECT_EQ(Ask(card, "P100..109"),
            (Lines{"12", "12", "12", "12", "12", "19", "19", "19", "19", "19"}));
  EXPECT_EQ(Ask(card, "P200..204"), (Lines{"7", "7", "7", "7", "7"}));
  EXPECT_EQ(card.PVar(998), 10);
  EXPECT_EQ(card.IVar(10), 3713707);
  EXPECT_EQ(card.memory().Read(Space::kY, 0x728), 0u);  // the feedback entries dropped
  EXPECT_EQ(Ask(card, "M91->"), Lines{"L:$10CC"});      // left on P204
}

}  // namespace
}  // namespace zimo::cardsim
