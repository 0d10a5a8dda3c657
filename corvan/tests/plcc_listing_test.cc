// The assembly listing (ASMOUT): the OPEN SERVO header, the end of scan,
// the instruction lines of statement code with labels at jump targets, the
// commands that have no text form, and an unwritable listing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plcc/plcc_compiler.h"
#include "plcc_test_files.h"
#include "temp_home.h"

namespace zimo::corvan::plcc {
namespace {

using testing::OutputLines;
using testing::WriteText;
using Lines = std::vector<std::string>;

// Routine k of the test cards lies at $3000 + 16k (older: $2000 + 16k);
// the extended firmware ("1.940") has its own at $FF00 + 2k.
PlccTarget Older() {
  PlccTarget t = PlccTarget::Older("1.16F");
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) t.link_list[k] = 0x2000 + 16 * k;
  return t;
}
PlccTarget Spran(const char* firmware = "1.940") {
  PlccTarget t = PlccTarget::Spran(firmware);
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) t.link_list[k] = 0x3000 + 16 * k;
  return t;
}

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

TEST_F(PlccListingTest, UnwritableListingGives41) {
  WriteText(in_, "ASMOUT\nOPEN PLCC 1\nP1=1\nCLOSE\n");
  const PlccCompileResult r = CompilePlccFile(Spran(), in_.c_str(), "/dev/full", nullptr);
  EXPECT_EQ(r.result, 41);
}

}  // namespace
}  // namespace zimo::corvan::plcc
