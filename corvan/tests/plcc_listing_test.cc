// The assembly listing (ASMOUT): the OPEN SERVO header, the end of scan,
// the instruction lines of statement code with labels at jump targets, the
// commands that have no text form, and an unwritable listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plcc/plcc_compiler.h"
#include "plcc_test_files.h"
#include "temp_home.h"

namespace zimo::corvan::plcc {
namespace {

using testing::Older;
using testing::OutputLines;
using testing::Spran;
using testing::WriteText;
using Lines = std::vector<std::string>;

Lines Cat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class PlccListingTest : public ::testing::Test {
 protected:
  Lines Compile(const PlccTarget& t, const std::string& source, int expect = 0) {
    WriteText(in_, "ASMOUT\n" + source);
    result_ = CompilePlccFile(t, in_.c_str(), out_.c_str(), nullptr);
    EXPECT_EQ(result_.result, expect) << source;
    return OutputLines(out_);
  }
  // The listing lines of a single PLCC block: from its start label to the
  // line before the PLC tables' memory writes.
  Lines Block(const PlccTarget& t, const std::string& source) {
    const Lines all = Compile(t, source);
    Lines block;
    bool in = false;
    for (const std::string& line : all) {
      if (line.rfind("PLCC", 0) == 0 && line.find("Start") != std::string::npos) in = true;
      if (line.rfind("WP:", 0) == 0) in = false;
      if (in) block.push_back(line);
    }
    return block;
  }

  zimo::testing::TempHome home_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
  PlccCompileResult result_;
};

// End of scan of PLCC n on a SPRAN card (B $20000? no: values from the
// target), built from the listing's fixed text.
Lines SpranEnd(const PlccTarget& t, int n) {
  char a[128];
  Lines l;
  const unsigned long s = t.slot_table;
  const unsigned long target = s + 2 * static_cast<unsigned long>(n) + 1;
  const unsigned long next = n > 0 ? target + 1 : t.chain_end;
  std::snprintf(a, sizeof a, "\tMOVE\tP:$%06lX,X0\t;*** PLCC RET CODE ***", target);
  l.push_back(a);
  std::snprintf(a, sizeof a, "\tMOVE\t#$%06lX,A", next);
  l.push_back(a);
  l.push_back("\tSUB\tX0,A");
  std::snprintf(a, sizeof a, "\tJEQ\t$%06lX\t\t; PLCC DISABLED RET", next);
  l.push_back(a);
  l.push_back(";****** Restore the PLCC program counter to the beginning *******");
  std::snprintf(a, sizeof a, "\tMOVE\tP:$%06lX,A", static_cast<unsigned long>(t.table_base) + n);
  l.push_back(a);
  l.push_back("\tAND\t#$7FFFF,A");
  std::snprintf(a, sizeof a, "\tMOVE\tA1,P:$%06lX", target);
  l.push_back(a);
  std::snprintf(a, sizeof a, "PLCC%dEnd\t\t;*** Goto next PLCC program *** ", n);
  l.push_back(a);
  if (n > 0) {
    std::snprintf(a, sizeof a, "\tJMP\t$%06lX", target + 1);
    l.push_back(a);
  } else {
    l.push_back("\tRTS");
  }
  return l;
}

TEST_F(PlccListingTest, EndOfScanOfPlccZeroAndFive) {
  const PlccTarget t = Spran();
  EXPECT_EQ(Block(t, "OPEN PLCC 0\nCLOSE\n"), Cat({{"PLCC0Start"}, SpranEnd(t, 0)}));
  const Lines five = Block(t, "OPEN PLCC 5\nCLOSE\n");
  EXPECT_EQ(five, Cat({{"PLCC5Start"}, SpranEnd(t, 5)}));
  // The last line jumps to S + 12.
  char jmp[32];
  std::snprintf(jmp, sizeof jmp, "\tJMP\t$%06lX", static_cast<unsigned long>(t.slot_table + 12));
  ASSERT_FALSE(five.empty());
  EXPECT_EQ(five.back(), jmp);
  // The PLC tables still go out as memory writes after the listing.
  EXPECT_NE(OutputLines(out_).back().rfind("WP:$", 0), std::string::npos);
}

TEST_F(PlccListingTest, OlderCardsListTheirOwnRestart) {
  const PlccTarget t = Older();
  const Lines l = Block(t, "OPEN PLCC 2\nCLOSE\n");
  ASSERT_EQ(l.size(), 10u);
  char a[64];
  std::snprintf(a, sizeof a, "\tMOVE\tP:$%06lX,R4", static_cast<unsigned long>(t.table_base + 2));
  EXPECT_EQ(l[6], a);
  std::snprintf(a, sizeof a, "\tMOVE\tR4,P:$%06lX", static_cast<unsigned long>(t.slot_table + 5));
  EXPECT_EQ(l[7], a);
}

TEST_F(PlccListingTest, ServoHeaderReplacesTheHeaderWords) {
  const Lines l = Compile(Spran("1.938"), "OPEN SERVO\nCLOSE\n");
  EXPECT_EQ(result_.words, 67u);  // the header still counts 64 words
  const Lines header = {
      "\x11 CLS I159,32,100=0",
      "\tOPT CEX,CC,NOIDW,NOINTR",
      "\tLIST",
      "\tORG\tP:$40000\t\t; Open Servo Entry Point",
      "\tBCLR\t#0,X:(R3)\t\t; CLR STACK PUSH FLG",
      "\tJCLR\t#3,SP,SERVO_BUF",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tBSET\t#0,X:(R3)\t\t; SET STACK PUSH FLG",
      "\tBRA\t<SERVO_BUF",
      "SERVORTN\t\t\t; OPEN SERVO RTN",
      "\tJCLR\t#0,X:(R3),$1",
      "\tMOVEC\tY:(R3)+,SSH\t ; RESTORE 3 JSR ON H/W STACK",
      "\tMOVEC\tX:(R3),SSL",
      "\tMOVEC\tY:(R3)+,SSH",
      "\tMOVEC\tX:(R3),SSL",
      "\tMOVEC\tY:(R3)+,SSH",
      "\tMOVEC\tX:(R3),SSL",
      "\tJMP\t\t<$1",
      "SERVO_SIZE",
      "\tDC      0",
      "\t;***************************************************************",
      "MTR_NUM",
      "\t;   INP:    N1 = BL",
      "\t;   OUT:    A = MTR_NUM",
      "\t;   USES:   B,R4,Y0",
      "\t;****************************************************************",
      "\tMOVE    #0,R4",
      "\tMOVE    R1,B",
      "\tMOVE    N1,Y0",
      "\tSUB     Y0,B",
      "MTR_LP  SUB     Y0,B    (R4)+",
      "\tBPL     MTR_LP",
      "\tMOVE    R4,A",
      "\tRTS",
      "SERVO_BUF\t\t; Start of OpenServo Program",
  };
  ASSERT_GE(l.size(), header.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(header.size())), header);
  // No header words after the section: the listing ends with the block.
  for (const std::string& line : l) EXPECT_EQ(line.rfind("WP:", 0), std::string::npos) << line;
}

TEST_F(PlccListingTest, VarPlccStartsWithItsOrigin) {
  const Lines l = Compile(Spran("1.938"), "OPEN VARPLCC\nCLOSE\n");
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[0], "MI15=0");
  EXPECT_EQ(l[1], "\tORG\t$4004\t\t;Start of VARPlcc");
}

TEST_F(PlccListingTest, VarPlccLoopReturnAndClose) {
  Lines v =
      Compile(Spran("1.938"), "OPEN VARPLCC\nWHILE (MP1>0)\nMP2=1\nENDWHILE\nRETURN\nCLOSE\n");
  ASSERT_GE(v.size(), 2u);
  v.resize(v.size() - 2);  // the section's closing memory writes
  const Lines tail = {"\tMOVE\t#L1,R4\t\t; WHILE1",
                      "\tMOVE\tR4,P:$004002\t\t; Restart While",
                      "\tRTS\t\t; EndWh RTN from PLCC",
                      "L1F1\t\t; WHILE1 False Path",
                      "\tMOVE\t#$004004,R4\t\t; PC to $004004",
                      "\tMOVE\tR4,P:$004002\t\t; Restart While",
                      "\tRTS\t\t; EndWh RTN from PLCC",
                      "\tMOVE\t#$004004,R4\t\t; PC to $004004",
                      "\tMOVE\tR4,P:$004002\t\t; Restart at PLCC Start",
                      "\tRTS\t\t; CLOSE RTN from PLCC"};
  ASSERT_GE(v.size(), tail.size());
  EXPECT_EQ(Lines(v.end() - static_cast<long>(tail.size()), v.end()), tail);
  EXPECT_EQ(v[2], "L1\t\t\t; WHILE1 Start");
}

// The first loop of a PLC lists the shared EndWhile block, later loops
// jump to it; PLCC 0 leaves its scan with RTS.
TEST_F(PlccListingTest, EveryLoopListsItsEndWhileCode) {
  const PlccTarget t = Spran();
  const unsigned long s = t.slot_table;
  char a[96];
  auto line = [&a](const char* format, unsigned long v) {
    std::snprintf(a, sizeof a, format, v);
    return std::string(a);
  };
  auto loop = [](const char* n) {
    return Lines{std::string("\tMOVE\tX:$24,R4\t; X:P_BASE to R4"),
                 std::string("\tMOVE\t#") + n + ",N4",
                 std::string("\tMOVE\tL:(R4+N4),A\t; A = P") + n,
                 "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
                 "\tMOVE\t#>$400000,A",
                 "\tMOVE\t#$800,A0\t; A = 1.000000",
                 "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                 "\tSUB\tB,A\tB0,R5",
                 "\tMOVE\tL:(R7)+,X\t; Pop X off Stack",
                 "\tJSR\t$00FF40\t\t; CMP X,A"};
  };
  auto body = [](const char* n) {
    return Lines{"\tCLR\tA\t; A = 0.000000", "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                 std::string("\tMOVE\t#") + n + ",N4",
                 std::string("\tMOVE\tA,L:(R4+N4)\t; P") + n + " = A"};
  };
  // Each loop's end lists the 13 words it places, in their order.
  auto end_while = [&](const char* n) {
    return Lines{line("\tMOVE\tP:$%06lX,X0\t;*** EndWhile CODE ***", s + 5),
                 line("\tMOVE\t#$%06lX,A", s + 6),
                 "\tSUB\tX0,A",
                 line("\tJEQ\t$%06lX\t\t; PLCC DISABLED RET", s + 6),
                 std::string("\tMOVE\t#L") + n + ",R4\t\t; WHILE" + n,
                 line("\tMOVE\tR4,P:$%06lX\t\t; Restart While", s + 5),
                 line("\tJMP\t$%06lX\t\t; GOTO next PLC", s + 6)};
  };
  const std::string source = "WHILE (P1>1)\nP1=0\nENDWHILE\nWHILE (P2>1)\nP2=0\nENDWHILE\nCLOSE\n";
  const Lines expected =
      Cat({{"PLCC2Start", "L1\t\t\t; WHILE1 Start"},
           loop("1"),
           {"\tJGE\tL1F1\t\t; JMP FALSE", "L1THEN\t\t; Conditional EXP TRUE path"},
           body("1"),
           {"PLCC2EndW\t\t; PLCC2 ENDWhile Code"},
           end_while("1"),
           {"L1F1\t\t; WHILE1 False Path", "L2\t\t\t; WHILE2 Start"},
           loop("2"),
           {"\tJGE\tL2F1\t\t; JMP FALSE", "L2THEN\t\t; Conditional EXP TRUE path"},
           body("2"),
           end_while("2"),
           {"L2F1\t\t; WHILE2 False Path"},
           SpranEnd(t, 2)});
  EXPECT_EQ(Block(t, "OPEN PLCC 2\n" + source), expected);

  // PLCC 0 leaves through RTS, and every PLC has its own block.
  const Lines two = Block(t,
                          "OPEN PLCC 0\nWHILE (P1>1)\nP1=0\nENDWHILE\n"
                          "OPEN PLCC 1\nWHILE (P1>1)\nP1=0\nENDWHILE\nCLOSE\n");
  Lines ends;
  for (const std::string& l : two) {
    if ((l.rfind("PLCC", 0) == 0 && l.find("EndW") != std::string::npos) ||
        l.find("END PLC") != std::string::npos || l.find("GOTO next") != std::string::npos) {
      ends.push_back(l);
    }
  }
  EXPECT_EQ(ends, (Lines{"PLCC0EndW\t\t; PLCC0 ENDWhile Code", "\tRTS\t\t; END PLC 0",
                         "PLCC1EndW\t\t; PLCC1 ENDWhile Code",
                         line("\tJMP\t$%06lX\t\t; GOTO next PLC", s + 4)}));
}

TEST_F(PlccListingTest, IfElseBlocksAndTheirLabels) {
  const PlccTarget t = Spran();
  const Lines store_p1 = {"\tMOVE\tX:$24,R4\t; X:P_BASE to R4", "\tMOVE\t#1,N4",
                          "\tMOVE\tA,L:(R4+N4)\t; P1 = A"};
  const Lines l = Block(t,
                        "L1->X:$10,24\nOPEN PLCC 1\nIF (L1=5)\nP1=1\nELSE\nP1=2\nENDIF\n"
                        "IF (L1=5)\nP1=1\nENDIF\nCLOSE\n");
  const Lines condition = {"\tMOVE\tX:$10,A\t\t; A = L1",
                           "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
                           "\tMOVE\t#>5,A",
                           "\tMOVE\tL:(R7)+,X\t; Pop X off Stack",
                           "\tMOVE\t#0,A0\t\t; Pop Lnn NEG",
                           "\tSUB\tX1,A"};
  const Lines p1_one = {"\tMOVE\t#>$400000,A", "\tMOVE\t#$800,A0\t; A = 1.000000"};
  const Lines p1_two = {"\tMOVE\t#>$400000,A", "\tMOVE\t#$801,A0\t; A = 2.000000"};
  const Lines expected =
      Cat({{"PLCC1Start", "L1\t\t\t; IF1 Start"},
           condition,
           {"\tJNE\tL1F1\t\t; JMP FALSE", "L1THEN\t\t; Conditional EXP TRUE path"},
           p1_one,
           store_p1,
           {"\tJMP\tL1F2\t\t; ELSE JMP ENDIF", "L1F1\t\t; ELSE1 FALSE path"},
           p1_two,
           store_p1,
           {"L1F2\t\t; ENDIF1", "L2\t\t\t; IF2 Start"},
           condition,
           {"\tJNE\tL2F1\t\t; JMP FALSE", "L2THEN\t\t; Conditional EXP TRUE path"},
           p1_one,
           store_p1,
           {"L2F1\t\t; ENDIF2"},
           SpranEnd(t, 1)});
  EXPECT_EQ(l, expected);
}

TEST_F(PlccListingTest, CommandsWithoutTextFormAreCommentsAndConstants) {
  const PlccTarget t = Spran();
  const std::string source =
      "OPEN PLCC 1\nCMD\"P1\"\nDISPLAY 10,8.3,P5\nDISPLAY 0 \"AB\"\nADDRESS #2\nCMD^A\nCLOSE\n";
  const Lines l = Block(t, source);
  Lines comments;
  std::vector<std::uint32_t> constants;
  std::size_t i = 1;
  for (; i < l.size() && l[i].rfind("\tMOVE\tP:$", 0) != 0; ++i) {
    if (l[i].rfind(";", 0) == 0) {
      comments.push_back(l[i]);
    } else {
      ASSERT_EQ(l[i].rfind("\tDC\t$", 0), 0u) << l[i];
      constants.push_back(static_cast<std::uint32_t>(std::stoul(l[i].substr(5), nullptr, 16)));
    }
  }
  EXPECT_EQ(comments, (Lines{";***** Cmd SENDx N/A *****", ";***** Cmd DISPLAY VAR N/A *****",
                             ";***** Cmd DISPLAY STR N/A *****", ";***** Cmd ADDRESS N/A *****",
                             ";***** Cmd ^CHAR N/A *****"}));
  // The constants are the words the commands place, so the end of scan
  // after them lies where the code words have it.
  WriteText(in_, source);
  ASSERT_EQ(CompilePlccFile(t, in_.c_str(), out_.c_str(), nullptr).result, 0);
  const auto memory = testing::WrittenMemory(OutputLines(out_));
  ASSERT_FALSE(constants.empty());
  for (std::size_t k = 0; k < constants.size(); ++k) {
    const auto at = memory.find(t.code_start + static_cast<std::uint32_t>(k));
    ASSERT_NE(at, memory.end());
    EXPECT_EQ(at->second, constants[k]) << k;
  }
  EXPECT_EQ(Lines(l.begin() + static_cast<long>(i), l.end()), SpranEnd(t, 1));
}

TEST_F(PlccListingTest, NestingPastTheLabelStackGives45) {
  std::string nested;
  for (int i = 0; i < 42; ++i) nested += "IF (P1>1)\n";
  std::string closing;
  for (int i = 0; i < 42; ++i) closing += "ENDIF\n";
  Compile(Spran(), "OPEN PLCC 1\n" + nested + closing + "CLOSE\n", 0);
  Compile(Spran(), "OPEN PLCC 1\n" + nested + "IF (P1>1)\n" + closing + "ENDIF\nCLOSE\n", 45);
}

// Label lines and jumps (not calls) of a block's listing.
Lines Flow(const Lines& block) {
  Lines flow;
  for (const std::string& line : block) {
    if (line.rfind("PLCC", 0) == 0) continue;
    if (line[0] != '\t' && line[0] != ';') flow.push_back(line);
    const bool jump = line.rfind("\tJ", 0) == 0 && line.rfind("\tJSR", 0) != 0;
    if (jump || line.rfind("\tBRA", 0) == 0) flow.push_back(line);
  }
  return flow;
}

TEST_F(PlccListingTest, OrGroupsGetFalseLabelsOfTheirOwn) {
  const PlccTarget t = Spran();
  char next[32];
  std::snprintf(next, sizeof next, "\tJEQ\t$%06lX", static_cast<unsigned long>(t.slot_table + 4));
  const std::string end_jump = std::string(next) + "\t\t; PLCC DISABLED RET";
  std::snprintf(next, sizeof next, "\tJMP\t$%06lX", static_cast<unsigned long>(t.slot_table + 4));
  const std::string last = next;
  // A OR B: A holds -> THEN; no false label between the sides.
  EXPECT_EQ(
      Flow(Block(t, "OPEN PLCC 1\nIF (P1>1 OR P2>1)\nP3=1\nENDIF\nCLOSE\n")),
      (Lines{"L1\t\t\t; IF1 Start", "\tJLT\tL1THEN\t\t; JMP TRUE", "\tJGE\tL1F1\t\t; JMP FALSE",
             "L1THEN\t\t; Conditional EXP TRUE path", "L1F1\t\t; ENDIF1", end_jump, last}));
  // A AND B OR C: the failed AND group tries C at a false label of its own.
  EXPECT_EQ(
      Flow(Block(t, "OPEN PLCC 1\nIF (P1>1 AND P2>1 OR P3>1)\nP3=1\nENDIF\nCLOSE\n")),
      (Lines{"L1\t\t\t; IF1 Start", "\tJGE\tL1F1\t\t; JMP FALSE", "\tJLT\tL1THEN\t\t; JMP TRUE",
             "L1F1\t\t; Logical OR FALSE path", "\tJGE\tL1F2\t\t; JMP FALSE",
             "L1THEN\t\t; Conditional EXP TRUE path", "L1F2\t\t; ENDIF1", end_jump, last}));
  // An OR line: the line before jumps on true, the OR line tries its own
  // condition and fails to the ENDIF.
  EXPECT_EQ(
      Flow(Block(t, "OPEN PLCC 1\nIF (P1>1)\nAND (P2>1)\nOR (P3>1)\nP3=1\nENDIF\nCLOSE\n")),
      (Lines{"L1\t\t\t; IF1 Start", "\tJGE\tL1F1\t\t; JMP FALSE", "\tJLT\tL1THEN\t\t; JMP TRUE",
             "L1F1\t\t; Logical OR FALSE path", "\tJGE\tL1F2\t\t; JMP FALSE",
             "L1THEN\t\t; Conditional EXP TRUE path", "L1F2\t\t; ENDIF1", end_jump, last}));
}

// The listing shows what the code words do where the card's own listing
// text would not: the R1/N1 save around I/M calls in OPEN SERVO, the M4
// restore after Q access and the older cards' P and Q forms.
TEST_F(PlccListingTest, ServoCallsAndRegisterRelativeOperands) {
  const Lines l = Compile(Spran("1.938"),
                          "L3->X:(R1-3)\nL4->X:(R1+63)\nL5->Y:(R0-64)\nOPEN SERVO\n"
                          "L3=L4+L5\nM1=I100\nCLOSE\n");
  const Lines body = {"SERVO_BUF\t\t; Start of OpenServo Program",
                      "\tMOVE\tX:(R1+$3F),A",
                      "\tMOVE\tY:(R0-$40),X1",
                      "\tADD\tX1,A\t\t; Lnn ADD",
                      "\tMOVE\tA1,X:(R1-$03)",
                      "\tMOVE\t#100,N4",
                      "\tMOVE\tR1,X:-(R7)",
                      "\tMOVE\tN1,Y:(R7)",
                      "\tJSR\t$00FF36\t\t; A=I/M100",
                      "\tMOVE\tY:(R7),N1",
                      "\tMOVE\tX:(R7)+,R1",
                      "\tMOVE\t#1,N4",
                      "\tMOVE\tR1,X:-(R7)",
                      "\tMOVE\tN1,Y:(R7)",
                      "\tJSR\t$00FF3C\t\t; I/M1 = A",
                      "\tMOVE\tY:(R7),N1",
                      "\tMOVE\tX:(R7)+,R1",
                      "\tCLR\tA",
                      "\tJMP\tSERVORTN",
                      "\tEND\t\t; End of Open Servo code"};
  ASSERT_GE(l.size(), body.size());
  EXPECT_EQ(Lines(l.end() - static_cast<long>(body.size()), l.end()), body);
}

// The server's build lists the same save around I/M calls; only the
// comments of the calls read differently.
TEST_F(PlccListingTest, ServerBuildKeepsTheSaveAroundIMCalls) {
  PlccTarget server = Spran("1.938");
  server.server_build = true;
  const Lines l = Compile(server, "OPEN SERVO\nM1=I100\nM(2)=P1\nCLOSE\n");
  const Lines saved = {"\tMOVE\tR1,X:-(R7)", "\tMOVE\tN1,Y:(R7)"};
  const Lines restored = {"\tMOVE\tY:(R7),N1", "\tMOVE\tX:(R7)+,R1"};
  const Lines expected = Cat({{"SERVO_BUF\t\t; Start of OpenServo Program", "\tMOVE\t#100,N4"},
                              saved,
                              {"\tJSR\t$00FF36\t\t; A = I/M100"},
                              restored,
                              {"\tMOVE\t#1,N4"},
                              saved,
                              {"\tJSR\t$00FF3C\t\t; I/M1 = A"},
                              restored});
  const auto start = std::find(l.begin(), l.end(), expected[0]);
  ASSERT_GE(static_cast<std::size_t>(l.end() - start), expected.size());
  EXPECT_EQ(Lines(start, start + static_cast<long>(expected.size())), expected);
  // The indexed M store.
  const auto store = std::find(l.begin(), l.end(), "\tJSR\t$00FF3C\t\t; M(Exp) = A ");
  ASSERT_NE(store, l.end());
  EXPECT_EQ(Lines(store - 2, store + 3),
            Cat({saved, {"\tJSR\t$00FF3C\t\t; M(Exp) = A "}, restored}));
}

// Label names are unique in the whole file: IF/WHILE numbers go on from
// block to block, and an end of scan placed twice (RETURN, then CLOSE) gets
// a second name.
TEST_F(PlccListingTest, LabelsAreUniqueInTheFile) {
  const Lines all = Compile(Older(),
                            "OPEN PLCC 1\nIF (P1=1)\nP2=1\nENDIF\nRETURN\nCLOSE\n"
                            "OPEN PLCC 2\nWHILE (P1=1)\nP2=1\nENDWHILE\nCLOSE\n");
  Lines labels;
  for (const std::string& l : all) {
    if (l.empty() || l[0] == '\t' || l[0] == ';' || l.rfind("WP:", 0) == 0 ||
        l.rfind("CLS ", 0) == 0) {
      continue;
    }
    labels.push_back(l.substr(0, l.find('\t')));
  }
  EXPECT_EQ(labels, (Lines{"PLCC1Start", "L1", "L1THEN", "L1F1", "PLCC1End", "PLCC1End_2",
                           "PLCC2Start", "L2", "L2THEN", "PLCC2EndW", "L2F1", "PLCC2End"}));
}

// The older cards' Q( reads its base through R5 into R1: an instruction,
// not a constant.
TEST_F(PlccListingTest, OlderCardQFunctionListsItsInstruction) {
  const Lines l = Block(Older(), "OPEN PLCC 1\nP1=Q(P2)\nCLOSE\n");
  EXPECT_NE(std::find(l.begin(), l.end(), "\tMOVEM\tP:(R5+N5),R1"), l.end());
  for (const std::string& line : l) EXPECT_EQ(line.find("\tDC\t"), std::string::npos) << line;
}

TEST_F(PlccListingTest, QStoreOnAnOlderCardRestoresFromM4) {
  const PlccTarget t = Older();
  const Lines l = Block(t, "OPEN PLCC 3\nQ5=1\nCLOSE\n");
  char address[48];
  std::snprintf(address, sizeof address, "\tMOVE\tP:$%06lX,B1",
                static_cast<unsigned long>(t.table_base + 3));
  char routine[32];
  std::snprintf(routine, sizeof routine, "\tJSR\t$%06lX\t\t; Get C.S. Q", 0x2000ul + 16 * 36);
  const Lines expected = {"PLCC3Start",
                          "\tMOVE\t#>$400000,A",
                          "\tMOVE\t#$800,A0\t; A = 1.000000",
                          "\tCLR\tB",
                          address,
                          routine,
                          "\tMOVEM\tP:(R5+N5),R5",
                          "\tMOVE\t#5,N5\t\t; N5 = nn of Qnn",
                          "\tMOVEC\t#$0003FF,M5",
                          "\tNOP",
                          "\tMOVE\tA,L:(R5+N5)\t; Q5 = A",
                          "\tMOVE\tM4,M5\t\t; Restore M5"};
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

// The lines of `all` from the first one equal to `from` up to the first
// one equal to `to` (both included); empty when either is missing.
Lines Between(const Lines& all, const std::string& from, const std::string& to) {
  const auto first = std::find(all.begin(), all.end(), from);
  if (first == all.end()) return {};
  const auto last = std::find(first, all.end(), to);
  if (last == all.end()) return {};
  return Lines(first, last + 1);
}

TEST_F(PlccListingTest, ApproximateComparisons) {
  const Lines operands = {"L1\t\t\t; IF1 Start",
                          "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tL:(R4+N4),A\t; A = P1",
                          "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
                          "\tMOVE\t#2,N4",
                          "\tMOVE\tL:(R4+N4),A\t; A = P2",
                          "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                          "\tSUB\tB,A\tB0,R5",
                          "\tMOVE\tL:(R7)+,X\t; Pop X off Stack",
                          "\tJSR\t$00FF22\t\t; FSUB_XA",
                          "\tABS\tA\t\t; FABS",
                          "\tNORM\tR5,A",
                          "\tMOVE\t#$40,X1\t\t; .5 flt to X",
                          "\tMOVE\t#>$7FF,X0",
                          "\tJSR\t$00FF40\t\t; CMP X,A"};
  const struct {
    const char* comparison;
    const char* jump;
  } cases[] = {{"~", "\tJGE\tL1F1\t\t; JMP FALSE"}, {"!~", "\tJLT\tL1F1\t\t; JMP FALSE"}};
  for (const auto& c : cases) {
    const Lines l = Block(
        Spran(), std::string("OPEN PLCC 1\nIF (P1") + c.comparison + "P2)\nP3=1\nENDIF\nCLOSE\n");
    EXPECT_EQ(Between(l, "L1\t\t\t; IF1 Start", "L1THEN\t\t; Conditional EXP TRUE path"),
              Cat({operands, {c.jump, "L1THEN\t\t; Conditional EXP TRUE path"}}))
        << c.comparison;
  }
}

// A minus sign after the comparison negates the operand as it is loaded,
// listed as calls (the words use EXTRACTU and NEG A / NORM R5,A).
TEST_F(PlccListingTest, NegatedRightSideOfAComparison) {
  const Lines l = Block(Spran(), "OPEN PLCC 1\nIF (P1>-P2)\nP3=1\nENDIF\nCLOSE\n");
  EXPECT_EQ(Between(l, "\tMOVE\tL:(R4+N4),A\t; A = P2", "\tJGE\tL1F1\t\t; JMP FALSE"),
            (Lines{"\tMOVE\tL:(R4+N4),A\t; A = P2", "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                   "\tSUB\tB,A\tB0,R5", "\tNEG\tA\t\t; Negate A", "\tNORM\tR5,A",
                   "\tJSR\t$00FF42\t\t; Pack A", "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                   "\tSUB\tB,A\tB0,R5", "\tMOVE\tL:(R7)+,X\t; Pop X off Stack",
                   "\tJSR\t$00FF40\t\t; CMP X,A", "\tJGE\tL1F1\t\t; JMP FALSE"}));
}

TEST_F(PlccListingTest, IntegerOperators) {
  const std::string defs = "L1->X:$10,24\nL2->X:$11,24\nL3->X:$12,24\nL4->X:$13,24\n";
  const Lines load = {"\tMOVE\tX:$11,A\t\t; A = L2", "\tMOVE\tX:$12,X1\t\t; X1 = L3"};
  const std::string store = "\tMOVE\tA1,X:$000010\t\t; L1 = A";
  const Lines multiply = {"\tMOVE\tA1,Y1\t\t; Y1 = A1", "\tMPY\tX1,Y1,A\t\t; A = X1*Y1"};
  const struct {
    bool spran;
    const char* op;
    Lines text;
  } cases[] = {
      {true, "+", {"\tADD\tX1,A\t\t; Lnn ADD"}},
      {true, "-", {"\tSUB\tX1,A\t\t; Push Lnn SUB"}},
      {true, "*", Cat({multiply, {"\tASL\t#23,A,A\t\t; Fract to Int"}})},
      {false, "*",
       Cat({multiply, {"\tASR\tA\t\t; Fract to Int", "\tMOVE\tA0,A\t\t; Sign extend"}})},
      {true, "|", {"\tOR\tX1,A\t\t; A = X1 | A", "\tMOVE\tA1,A\t\t; Sign extend"}},
      {true, "^", {"\tEOR\tX1,A\t\t; A = X1 ^ A", "\tMOVE\tA1,A\t\t; Sign extend"}},
      {true, "&", {"\tAND\tX1,A\t\t; A = X1 & A", "\tMOVE\tA1,A\t\t; Sign extend"}},
      {true, "/", {"\tJSR\t$00FF5A\t\t; Push DIV Opr"}},
      {true, "%", {"\tJSR\t$00FF5C\t\t; Push Modulo Opr"}},
  };
  for (const auto& c : cases) {
    const Lines l =
        Block(c.spran ? Spran() : Older(), defs + "OPEN PLCC 1\nL1=L2" + c.op + "L3\nCLOSE\n");
    EXPECT_EQ(Between(l, load[0], store), Cat({load, c.text, {store}})) << c.op;
  }
  // The deferred operand: the stacked "-" is applied reversed.
  const Lines l = Block(Spran(), defs + "OPEN PLCC 1\nL1=L2-L3*L4\nCLOSE\n");
  EXPECT_EQ(Between(l, "\tMOVE\tX:$11,A\t\t; A = L2", store),
            Cat({{"\tMOVE\tX:$11,A\t\t; A = L2", "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
                  "\tMOVE\tX:$12,A\t\t; A = L3", "\tMOVE\tX:$13,X1\t\t; X1 = L4"},
                 multiply,
                 {"\tASL\t#23,A,A\t\t; Fract to Int", "\tMOVE\tL:(R7)+,X\t; Pop X off Stack",
                  "\tMOVE\t#0,A0\t\t; Pop Lnn SUB", "\tNEG\tA", "\tADD\tX1,A", store}}));
}

// An operand read through A is applied from the stack; a P operand goes
// into X. Both are announced by the same comment line.
TEST_F(PlccListingTest, OperandsAppliedAtOnce) {
  const PlccTarget t = Spran();
  const Lines p2 = {"PLCC1Start", "\tMOVE\tX:$24,R4\t; X:P_BASE to R4", "\tMOVE\t#2,N4",
                    "\tMOVE\tL:(R4+N4),A\t; A = P2",
                    ";*** (oper == HIType) || NextOperatorLow ***"};
  const Lines store = {"\tMOVE\tX:$24,R4\t; X:P_BASE to R4", "\tMOVE\t#1,N4",
                       "\tMOVE\tA,L:(R4+N4)\t; P1 = A"};
  EXPECT_EQ(Block(t, "OPEN PLCC 1\nP1=P2+I3\nCLOSE\n"),
            Cat({p2,
                 {"\tMOVE\tA,L:-(R7)\t; Push A on Stack", "\tMOVE\t#3,N4",
                  "\tJSR\t$00FF36\t\t; A=I/M3", "\tMOVE\tL:(R7)+,X\t; Stack to X",
                  "\tJSR\t$00FF20\t\t; Call Pop Operator", "\tJSR\t$00FF42\t\t; Pack A"},
                 store,
                 SpranEnd(t, 1)}));
  EXPECT_EQ(Block(t, "OPEN PLCC 1\nP1=P2+P3\nCLOSE\n"),
            Cat({p2,
                 {"\tMOVE\t#3,N4", "\tMOVE\tL:(R4+N4),X\t; X = P3",
                  "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A", "\tSUB\tB,A\tB0,R5",
                  "\tJSR\t$00FF20\t\t; Call Push Operator", "\tJSR\t$00FF42\t\t; Pack A"},
                 store,
                 SpranEnd(t, 1)}));
}

TEST_F(PlccListingTest, RingStationVariables) {
  const Lines l = Compile(Spran("1.938"), "OPEN VARPLCC\nMP2=MI3+MM4\nCLOSE\n");
  EXPECT_EQ(Between(l, "\tMOVE\t#>3,B", "\tMOVE\tA1,X:(R4+N4)"),
            (Lines{"\tMOVE\t#>3,B", "\tJSR\t$000008\t\t; MI_READ", "\tASL\t#24,A,A",
                   "\tMOVE\t#4,N4", "\tMOVE\tA1,X0", "\tJSR\t$000009\t\t; MM_READ",
                   "\tASL\t#24,A,A", "\tTFR\tX0,A\tA1,X1", "\tADD\tX1,A\t\t; Lnn ADD",
                   "\tMOVE\t#$400,R4", "\tMOVE\t#2,N4", "\tMOVE\tA1,X:(R4+N4)"}));
}

// The indexed MI read names its routine with a single tab before the comment.
TEST_F(PlccListingTest, IndexedRingStationRead) {
  const Lines l = Compile(Spran(), "OPEN VARPLCC\nMP2=MI[3]\nCLOSE\n");
  EXPECT_EQ(Between(l, "\tMOVE\t#>3,A", "\tASL\t#24,A,A"),
            (Lines{"\tMOVE\t#>3,A", "\tMOVE\tA1,B",
                   "\tJSR\t$000008\t; MI_READ // LIMITS B to 0 1999", "\tASL\t#24,A,A"}));
}

// Bit fields written inline (older cards, SPRAN cards before the extended
// firmware) and read through the multiplier: the masking and shifting lines.
TEST_F(PlccListingTest, InlineBitFieldLines) {
  const std::string defs =
      "L1->X:$10,24\nL2->X:$20,8,8\nL3->X:$21,0,4\nL4->Y:$22,16,8\nL6->X:$23,4,8,S\n"
      "L7->X:$25,0,20,S\n";
  const Lines save = {"\tMOVE\t#>1,A", "\tMOVEC\tSR,Y0\t\t; Save STATUS REG",
                      "\tORI\t#3,MR\t\t; BLK INTR"};
  const Lines restore = {"\tADD\tB,A", "\tMOVEC\tY0,SR\t\t; Restore STATUS REG"};
  const Lines low_field = {"\tMOVE\t#>$00000F,Y1", "\tAND\tY1,A\tY1,B", "\tNOT\tB"};
  const Lines low_old = {"\tMOVE\tX:$000021,Y1\t\t; L3 Old", "\tAND\tY1,B"};
  const std::string l1 = "\tMOVE\tA1,X:$000010\t\t; L1 = A";
  const struct {
    PlccTarget target;
    const char* statement;
    Lines lines;
  } cases[] = {
      {Older(), "L2=1",
       Cat({save,
            {"\tCLR\tA\tA1,X0\t\t; X0 = A", "\tMOVE\t#>$000080,Y1", "\tMPY\tX0,Y1,B\t#>$FF00,Y1",
             "\tADD\tY1,A\tB0,B", "\tAND\tY1,B", "\tNOT\tA\tX:$000020,Y1\t\t; Y1 = Old data",
             "\tAND\tY1,A"},
            restore,
            {"\tMOVE\tA1,X:$000020\t\t; L2 = A"}})},
      // A mask above bit 15 fits the short immediate; it is listed by its value.
      {Older(), "L4=1",
       Cat({save,
            {"\tCLR\tA\tA1,X0\t\t; X0 = A", "\tMOVE\t#>$008000,Y1", "\tMPY\tX0,Y1,B\t#<$FF,Y1",
             "\tADD\tY1,A\tB0,B", "\tAND\tY1,B", "\tNOT\tA\tY:$000022,Y1\t\t; Y1 = Old data",
             "\tAND\tY1,A"},
            restore,
            {"\tMOVE\tA1,Y:$000022\t\t; L4 = A"}})},
      {Older(), "L3=1",
       Cat({save, low_field, low_old, restore, {"\tMOVE\tA1,X:$000021\t\t; L3 = A"}})},
      {Spran("1.935"), "L3=1",
       Cat({save,
            low_field,
            {"\tBRA\t<*+1"},
            low_old,
            restore,
            {"\tMOVE\tA1,X:$000021\t\t; L3 = A"}})},
      {Older(),
       "L1=L2",
       {"\tMOVE\tX:$000020,X0\t\t; L2 Old", "\tMOVE\t#>$008000,Y1", "\tMPY\tX0,Y1,B\t#>$FF,Y1",
        "\tAND\tY1,B", "\tMOVE\tB1,A", l1}},
      {Older(),
       "L1=L6",
       {"\tMOVE\tX:$000023,X0\t\t; L6 Old", "\tMOVE\t#>$000800,Y1", "\tMPY\tX0,Y1,B\t#>$80,Y1",
        "\tMOVE\tB0,X0\t\t; Old Data right justify", "\tMPY\tX0,Y1,A\t\t; A = New Data", l1}},
      {Older(),
       "L1=L7",
       {"\tMOVE\tX:$000025,X0\t\t; L7 Old", "\tMOVE\t#>$000008,Y1", "\tMPY\tX0,Y1,B\t#<$8,Y1",
        "\tMOVE\tB0,X0\t\t; Old Data right justify", "\tMPY\tX0,Y1,A\t\t; A = New Data", l1}},
  };
  for (const auto& c : cases) {
    const Lines l = Block(c.target, defs + "OPEN PLCC 1\n" + c.statement + "\nCLOSE\n");
    ASSERT_GT(l.size(), c.lines.size()) << c.statement;
    EXPECT_EQ(Lines(l.begin() + 1, l.begin() + 1 + static_cast<long>(c.lines.size())), c.lines)
        << c.statement;
  }
}

// With the extended firmware a bit field goes through its routines, B
// holding the field's access code and B0 its address.
TEST_F(PlccListingTest, BitFieldsThroughTheFirmware) {
  const Lines l = Block(Spran(),
                        "L1->X:$10,24\nL2->X:$20,8,8\nL8->X:$123,4,8,S\nOPEN PLCC 1\nL2=1\nL1=L8\n"
                        "L1=L1+L2\nCLOSE\n");
  const std::string l1 = "\tMOVE\tA1,X:$000010\t\t; L1 = A";
  const Lines expected = {"PLCC1Start",
                          "\tMOVE\t#>1,A",
                          "\tMOVE\t#<$B8,B",
                          "\tMOVE\t#$20,B0",
                          "\tJSR\t$00FF6C\t\t; L_Write0",
                          "\tMOVE\t#<$B5,B",
                          "\tMOVE\t#$123,B0",
                          "\tJSR\t$00FF6A\t\t; L_Read0",
                          l1,
                          "\tMOVE\tX:$10,A\t\t; A = L1",
                          "\tMOVE\t#<$B8,B",
                          "\tMOVE\t#$20,B0",
                          "\tMOVE\tA1,X0\t\t; Save A",
                          "\tJSR\t$00FF6A\t\t; L_Read0",
                          "\tTFR\tX0,A\tA1,X1\t\t; Put data into X1 & restore A",
                          "\tADD\tX1,A\t\t; Lnn ADD",
                          l1};
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

// F variables: the plain store, the conversions of a D-memory definition
// and the pop of its value when it is applied to the left operand.
TEST_F(PlccListingTest, FVariableStoresReadsAndConversions) {
  const Lines l = Block(Spran(),
                        "F1->L:$100\nF2->D:$102\nF4->D:$104[8]\nOPEN PLCC 1\nF1=P1\nF2=P6\n"
                        "P8=P1+F2\nF4[3]=P1\nCLOSE\n");
  EXPECT_EQ(Between(l, "\tMOVE\tL:(R4+N4),A\t; A = P1", "\tMOVE\tA,L:$000100\t\t"),
            (Lines{"\tMOVE\tL:(R4+N4),A\t; A = P1", "\tMOVE\tA,L:$000100\t\t"}));
  EXPECT_EQ(Between(l, "\tMOVE\tL:(R4+N4),A\t; A = P6", "\tMOVE\tA,L:$000102\t\t"),
            (Lines{"\tMOVE\tL:(R4+N4),A\t; A = P6", "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                   "\tSUB\tB,A\tB0,R5", "\tJSR\t$00FF58\t\t; FTOL A ", "\tMOVE\tA,L:$000102\t\t"}));
  EXPECT_EQ(
      Between(l, ";*** (oper == HIType) || NextOperatorLow ***",
              "\tJSR\t$00FF20\t\t; Call Pop Operator"),
      (Lines{";*** (oper == HIType) || NextOperatorLow ***", "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
             "\tMOVE\tL:$000102,A", "\tJSR\t$00FF62\t\t; LTOF A", "\tMOVE\t L:(R7)+,X",
             "\tJSR\t$00FF20\t\t; Call Pop Operator"}));
  EXPECT_EQ(
      Between(l, "\tMOVE\t#$000104,R4\t", "\tMOVE\tA,L:(R4+N4)"),
      (Lines{"\tMOVE\t#$000104,R4\t", "\tMOVE\tL:(R7)+,A", "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
             "\tSUB\tB,A\tB0,R5", "\tJSR\t$00FF58\t\t; FTOL A ", "\tMOVE\tA,L:(R4+N4)"}));
}

// L array elements: the table's address is loaded once while R4 holds it
// (every time after OPTIMIZE OFF).
TEST_F(PlccListingTest, ArrayElements) {
  const std::string source =
      "L5->X:$100[16]\nL1->X:$10,24\nOPEN PLCC 1\nL1=L5[2]\nL1=L5[3]\nCLOSE\n";
  const Lines index_and_read = {"\tAND\t#$F,A\t", "\tMOVE\tA1,N4"};
  const std::string base = "\tMOVE\t#$000100,R4\t";
  const std::string read = "\tMOVE\tX:(R4+N4),A";
  const std::string store = "\tMOVE\tA1,X:$000010\t\t; L1 = A";
  const Lines once = Cat({{"PLCC1Start", "\tMOVE\t#>2,A"},
                          index_and_read,
                          {base, read, store},
                          {"\tMOVE\t#>3,A"},
                          index_and_read,
                          {read, store}});
  Lines l = Block(Spran(), source);
  ASSERT_GE(l.size(), once.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(once.size())), once);
  const Lines every = Cat({{"PLCC1Start", "\tMOVE\t#>2,A"},
                           index_and_read,
                           {base, read, store},
                           {"\tMOVE\t#>3,A"},
                           index_and_read,
                           {base, read, store}});
  l = Block(Spran(), "OPTIMIZE OFF\n" + source);
  ASSERT_GE(l.size(), every.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(every.size())), every);
}

// Q variables through the extended firmware's routines.
TEST_F(PlccListingTest, QThroughTheFirmwareRoutines) {
  const PlccTarget t = Spran();
  char word[48];
  std::snprintf(word, sizeof word, "\tMOVE\tP:$%06lX,B",
                static_cast<unsigned long>(t.code_start - 32 + 3));
  const Lines l = Block(t, "OPEN PLCC 3\nP1=Q5\nQ6=P1\nCLOSE\n");
  const Lines expected = {"PLCC3Start",
                          word,
                          "\tMOVE\t#000005,N4",
                          "\tJSR\t$00FF76\t\t; QreadA ",
                          "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tA,L:(R4+N4)\t; P1 = A",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tL:(R4+N4),A\t; A = P1",
                          word,
                          "\tMOVE\t#000006,N4",
                          "\tJSR\t$00FF7A\t\t; QwriteA "};
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

// Q( and ATAN2( find the coordinate system's Q base through the PLC's
// addressing word; an indexed Q store uses the Q addressing lines.
TEST_F(PlccListingTest, QFunctionsAndIndexedQStores) {
  const PlccTarget t = Spran("1.935");
  char b1[48];
  std::snprintf(b1, sizeof b1, "\tMOVE\tP:$%06lX,B1",
                static_cast<unsigned long>(t.code_start - 32 + 3));
  char b[48];
  std::snprintf(b, sizeof b, "\tMOVE\tP:$%06lX,B",
                static_cast<unsigned long>(t.code_start - 32 + 3));
  const Lines l = Block(t, "OPEN PLCC 3\nP1=Q(2)\nP2=ATAN2(P1)\nQ(P3)=P4\nCLOSE\n");
  const Lines base = {"\tCLR\tB\tR5,R4\t; Save R5", b1, "\tJSR\t$003240\t\t; plcq_base_addr"};
  EXPECT_EQ(Between(l, base[0], "\tJSR\t$003030\t\t; Q(Exp) to A Reg"),
            Cat({base,
                 {"\tMOVE\tY:(R5),R1", "\tJSR\t$003220\t\t; Unpack A",
                  "\tJSR\t$003030\t\t; Q(Exp) to A Reg"}}));
  EXPECT_EQ(Between(l, "\tMOVE\tL:(R4+N4),A\t; A = P1", "\tJSR\t$0030F0\t\t; Remaining Funcs(A)"),
            Cat({{"\tMOVE\tL:(R4+N4),A\t; A = P1"},
                 base,
                 {"\tMOVE\tY:(R5),R5", "\tMOVE\tL:(R5),X\t\t; Read Q0 to X",
                  "\tJSR\t$003220\t\t; Unpack A", "\tJSR\t$0030F0\t\t; Remaining Funcs(A)"}}));
  EXPECT_EQ(Between(l, "\tMOVE\tA1,N5", "\tMOVE\tM4,M5\t\t; Restore M5"),
            (Lines{"\tMOVE\tA1,N5", b, "\tJSR\t$003240\t\t; Get C.S. Q", "\tMOVE\tY:(R5),R5",
                   "\tMOVE\t#$1FFF,M5\t; M5 = modulo 8191", "\tMOVE\tL:(R7)+,A\t; Pop A off Stack",
                   "\tMOVE\tA,L:(R5+N5)\t; Q(Exp) = A", "\tMOVE\tM4,M5\t\t; Restore M5"}));
  // A deferred Q read restores M5 from M4 as well.
  const Lines deferred = Block(t, "OPEN PLCC 3\nP1=P2+Q5*P3\nCLOSE\n");
  EXPECT_EQ(Between(deferred, "\tMOVE\t#5,N5\t\t; N5 = nn of Qnn", "\tMOVE\tM4,M5\t\t; Restore M5"),
            (Lines{"\tMOVE\t#5,N5\t\t; N5 = nn of Qnn", "\tMOVE\t#$1FFF,M5\t; M5 = modulo 8191",
                   "\tMOVE\tL:(R5+N5),A\t; A = Q5", "\tMOVE\tM4,M5\t\t; Restore M5"}));
  // In OPEN SERVO the store goes through the Q0 base in R4.
  const Lines servo = Compile(Spran(), "OPEN SERVO\nQ(P3)=P4\nCLOSE\n");
  EXPECT_EQ(Between(servo, "\tMOVE\tA1,N4", "\tMOVE\tA,L:(R4+N4)\t; Q(Exp) = A"),
            (Lines{"\tMOVE\tA1,N4", "\tMOVE\tY:$002000,R4\t\t; Q0 Base Adr",
                   "\tMOVE\tL:(R7)+,A\t; Pop A off Stack", "\tMOVE\tA,L:(R4+N4)\t; Q(Exp) = A"}));
}

TEST_F(PlccListingTest, CompoundAssignmentToAnArrayElement) {
  const Lines l = Block(Spran(), "L1->X:$100[16]\nOPEN PLCC 1\nL1[2]|=5\nCLOSE\n");
  const Lines index = {"\tAND\t#$F,A\t", "\tMOVE\tA1,N4"};
  const Lines expected =
      Cat({{"PLCC1Start", "\tMOVE\t#>2,A", "\tMOVE\tA,L:-(R7)\t; Push A on Stack", "\tMOVE\t#>5,A",
            "\tTFR\tA,B\tL:(R7),A", "\tMOVE\tB,L:-(R7)"},
           index,
           {"\tMOVE\t#$000100,R4\t", "\tMOVE\tX:(R4+N4),A", "\tMOVE\tL:(R7)+,X\t\t; X = ExpRight",
            "\tOR\tX1,A\t\t; A = X1 | A", "\tMOVE\tA1,A\t\t; Sign extend", "\tTFR\tA,B\tL:(R7)+,A",
            "\tMOVE\tB,L:-(R7)"},
           index,
           {"\tMOVE\tL:(R7)+,A\t; Data on Stack", "\tMOVE\tA1,X:(R4+N4)"}});
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(PlccListingTest, CompoundAssignmentToAnMVariable) {
  const Lines l = Block(Spran(), "OPEN PLCC 1\nM(P1)|=3\nCLOSE\n");
  const Lines expected = {"PLCC1Start",
                          "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tL:(R4+N4),A\t; A = P1",
                          "\tMOVE\tA,L:-(R7)\t; Push A on Stack",
                          "\tMOVE\t#>$600000,A",
                          "\tMOVE\t#$801,A0\t; A = 3.000000",
                          "\tTFR\tA,B\tL:(R7),A",
                          "\tMOVE\tB,L:-(R7)",
                          "\tEXTRACTU\t#$00C000,A,B\t\t; UnPack A",
                          "\tSUB\tB,A\tB0,R5",
                          "\tJSR\t$00FF02\t\t; A = M(ExpLeft)",
                          "\tMOVE\tL:(R7)+,X\t\t; X = ExpRight",
                          "\tJSR\t$00FF28\t\t; Call Pop Operator",
                          "\tJSR\t$00FF42\t\t; Pack A",
                          "\tTFR\tA,B\tL:(R7)+,A\t\t; RghtExp->B, LeftExp->A",
                          "\tMOVE\tB,L:-(R7)\t\t; B->Stack",
                          "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                          "\tSUB\tB,A\tB0,R5",
                          "\tJSR\t$00FF58\t\t; FTOL(Exp)",
                          "\tMOVE\tA0,A",
                          "\tAND\t#8191,A\t\t; Force (Exp = 0-8191)",
                          "\tMOVE\tA1,N4",
                          "\tMOVE\tL:(R7)+,A\t; Pop A off Stack",
                          "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                          "\tSUB\tB,A\tB0,R5",
                          "\tJSR\t$00FF3C\t\t; M(Exp) = A"};
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(PlccListingTest, ConversionMarkersAndCalls) {
  const Lines l = Block(Spran(), "L1->X:$10,24\nOPEN PLCC 1\nL1=FTOI(P1)\nP1=ITOF(L1)\nCLOSE\n");
  const Lines expected = {"PLCC1Start",
                          "; **** Now inside a FTOI(",
                          "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tL:(R4+N4),A\t; A = P1",
                          "\tEXTRACTU\t#$00C000,A,B\t\t; Unpack A",
                          "\tSUB\tB,A\tB0,R5",
                          "\tJSR\t$00FF58\t\t; FTOL",
                          "\tASL\t#24,A,A\t\t; Make 24 bit INT",
                          "\tMOVE\tA1,X:$000010\t\t; L1 = A",
                          "; **** Now inside a ITOF(",
                          "\tMOVE\tX:$10,A\t\t; A = L1",
                          "\tASR\t#24,A,A\t\t; Make 24 bit INT to 48 bit",
                          "\tJSR\t$00FF62\t\t; LTOF",
                          "\tJSR\t$00FF42\t\t; Pack A",
                          "\tMOVE\tX:$24,R4\t; X:P_BASE to R4",
                          "\tMOVE\t#1,N4",
                          "\tMOVE\tA,L:(R4+N4)\t; P1 = A"};
  ASSERT_GE(l.size(), expected.size());
  EXPECT_EQ(Lines(l.begin(), l.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(PlccListingTest, LockUnlockEnableAndSetphase) {
  const PlccTarget t = Spran();
  const Lines l =
      Block(t, "OPEN PLCC 1\nLOCK 2,P300\nUNLOCK 2\nENABLE PLC 1,3\nSETPHASE 1,2\nCLOSE\n");
  EXPECT_EQ(l, Cat({{"PLCC1Start", "\tMOVE\t#     2,N5", "\tMOVE\t#001200,B1",
                     "\tJSR\t$00FF6E\t\t; lock A", "\tMOVE\tX:$24,R4", "\tJSR\t$00FF42\t\t; pack A",
                     "\tMOVE\tA,L:(R4+N4)", "\tMOVE\t# 2,A1", "\tJSR\t$00FF70\t\t; unlock A",
                     "\tMOVE\t#>$000000,A", "\tMOVE\t#>$0A0000,A0", "\tJSR\t$00FF46\t\t; ena plc A",
                     "\tCLR\tA", "\tMOVE\t#$000003,A0", "\tJSR\t$00FF72\t\t; SETPHASE A"},
                    SpranEnd(t, 1)}));
  // Motors 25 to 32 load the mask's top byte, zero-padded like every other
  // hexadecimal operand.
  EXPECT_EQ(Block(t, "OPEN PLCC 1\nSETPHASE 25,32\nCLOSE\n"),
            Cat({{"PLCC1Start", "\tMOVE\t#>$000081,A", "\tMOVE\t#$000000,A0",
                  "\tJSR\t$00FF72\t\t; SETPHASE A"},
                 SpranEnd(t, 1)}));
}

TEST_F(PlccListingTest, CopyRegListsItsRoutine) {
  const Lines l = Compile(Spran(), "OPEN SERVO\nCOPYREG P5\nCLOSE\n");
  const Lines golden = testing::GoldenLines("listing_copyreg.txt");
  ASSERT_GE(l.size(), golden.size());
  EXPECT_EQ(Lines(l.end() - static_cast<long>(golden.size()), l.end()), golden);
}

// Older cards: P variables at $1000 + n, as their code words have them.
TEST_F(PlccListingTest, OlderCardPVariables) {
  const Lines l = Block(Older(), "OPEN PLCC 1\nP2=P1\nCLOSE\n");
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(Lines(l.begin(), l.begin() + 3), (Lines{"PLCC1Start", "\tMOVE\tL:$001001,A\t; A = P1",
                                                    "\tMOVE\tA,L:$001002\t; P2 = A"}));
}

TEST_F(PlccListingTest, UnwritableListingGives41) {
  WriteText(in_, "ASMOUT\nOPEN PLCC 1\nP1=1\nCLOSE\n");
  const PlccCompileResult r = CompilePlccFile(Spran(), in_.c_str(), "/dev/full", nullptr);
  EXPECT_EQ(r.result, 41);
}

}  // namespace
}  // namespace zimo::corvan::plcc
