// Statement code of compiled PLCs, compared word for word with the card
// code each statement must give, on both card generations; every compiled
// block also passes the structure check.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "plcc/plcc_compiler.h"
#include "plcc_test_files.h"
#include "plcc_verifier.h"
#include "temp_home.h"

namespace zimo::corvan::plcc {
namespace {

using testing::Older;
using testing::OutputLines;
using testing::Spran;
using testing::VerifierTargets;
using testing::VerifyPlccCode;
using testing::WriteText;
using testing::WrittenMemory;
using Words = std::vector<std::uint32_t>;

// The extended firmware has its fixed routine table at $FF00 + 2k.
std::uint32_t Ext(std::uint32_t k) { return 0xFF00 + 2 * k; }
std::uint32_t Old(std::uint32_t k) { return 0x2000 + 16 * k; }

// The three words that unpack A with the extended firmware.
const Words kUnpack = {0x0C1881, 0x00C000, 0x213514};

Words Cat(std::initializer_list<Words> parts) {
  Words all;
  for (const Words& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class PlccStatementTest : public ::testing::Test {
 protected:
  // Compiles `source` and returns the code words of its blocks (the card
  // program area from its origin on); the words also pass the verifier.
  Words Compile(const PlccTarget& t, const std::string& source, int expect = 0) {
    WriteText(in_, source);
    result_ = CompilePlccFile(t, in_.c_str(), out_.c_str(), nullptr);
    EXPECT_EQ(result_.result, expect) << source;
    if (result_.result != 0) return {};
    std::uint32_t origin = t.code_start;
    std::uint32_t count = result_.words - 98;
    if (source.find("OPEN SERVO") != std::string::npos) {
      origin = 0x40040;
      count = result_.words - 64;
    } else if (source.find("OPEN VARPLCC") != std::string::npos) {
      origin = 0x4004;
      count = result_.words;
    }
    std::map<std::uint32_t, std::uint32_t> memory = WrittenMemory(OutputLines(out_));
    Words words;
    for (std::uint32_t a = origin; a < origin + count; ++a) words.push_back(memory[a]);
    origin_ = origin;
    VerifierTargets targets;
    targets.slot_table = t.slot_table;
    targets.chain_end = t.chain_end;
    for (std::uint32_t k = 0; k < kLinkListWords; ++k) {
      targets.routines.insert(t.link_list[k]);
      targets.routines.insert(Ext(k));
    }
    // Divide and modulo have a second entry one word on.
    targets.routines.insert(t.link_list[39] + 1);
    targets.routines.insert(t.link_list[40] + 1);
    // VARPLCC sections divide and take the modulo at 4 to 7.
    for (std::uint32_t k = 4; k <= 7; ++k) targets.routines.insert(k);
    const bool ext = t.spran && CompareFirmware5(t.firmware.c_str(), "1.936") > 0;
    for (std::uint32_t k : {37u, 41u, 42u})
      targets.text_routines.insert(ext ? Ext(k) : t.link_list[k]);
    EXPECT_EQ(VerifyPlccCode(words, origin, targets), "") << source;
    return words;
  }

  // The words of the statements of one PLCC n block, without its end of scan.
  Words Body(const PlccTarget& t, const std::string& statements, int n = 1) {
    Words w = Compile(t, "OPEN PLCC " + std::to_string(n) + "\n" + statements + "CLOSE\n");
    const std::size_t tail = (t.spran ? 15 : 13) - (n == 0 ? 1 : 0);
    if (w.size() < tail) return {};
    w.resize(w.size() - tail);
    return w;
  }

  zimo::testing::TempHome home_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
  PlccCompileResult result_;
  std::uint32_t origin_ = 0;
};

TEST_F(PlccStatementTest, LVariableReadsAndWrites) {
  struct Case {
    const char* name;
    PlccTarget target;
    std::string source;
    Words words;
  };
  const std::vector<Case> cases = {
      {"whole X word",
       Spran(),
       "L1->X:$10,24\nOPEN PLCC 1\nL1=L1\n",
       {0x56F000, 0x000010, 0x547000, 0x000010}},
      {"whole Y word",
       Spran(),
       "L1->Y:$10,24\nOPEN PLCC 1\nL1=L1\n",
       {0x5EF000, 0x000010, 0x5C7000, 0x000010}},
      {"unsigned field at bit 8",
       Older(),
       "L1->X:$10,24\nL2->X:$20,8,8\nOPEN PLCC 1\nL1=L2\n",
       {0x44F000, 0x000020, 0x47F400, 0x008000, 0x47F4C8, 0x0000FF, 0x20007E, 0x21AE00, 0x547000,
        0x000010}},
      {"unsigned field at bit 0",
       Older(),
       "L1->X:$10,24\nL3->X:$20,0,4\nOPEN PLCC 1\nL1=L3\n",
       {0x57F000, 0x000020, 0x47F400, 0x00000F, 0x20007E, 0x21AE00, 0x547000, 0x000010}},
      {"field written through the firmware",
       Spran(),
       "L2->X:$20,8,8\nOPEN PLCC 1\nL2=1\n",
       {0x56F400, 0x000001, 0x2FB800, 0x292000, 0x0BF080, Ext(54)}},
      {"field written inline",
       Older(),
       "L2->X:$20,8,8\nOPEN PLCC 1\nL2=1\n",
       {0x56F400, 0x000001, 0x0446B9, 0x0003F8, 0x218413, 0x47F400, 0x000080, 0x47F4C8, 0x00FF00,
        0x212F70, 0x20007E, 0x47F017, 0x000020, 0x200076, 0x200010, 0x04C6B9, 0x547000, 0x000020}},
      {"array loads R4 once",
       Spran(),
       "L5->X:$100[16]\nL1->X:$10,24\nOPEN PLCC 1\nL1=L5[2]\nL1=L5[3]\n",
       {0x56F400, 0x000002, 0x014F86, 0x219C00, 0x64F400, 0x000100, 0x56EC00, 0x547000, 0x000010,
        0x56F400, 0x000003, 0x014F86, 0x219C00, 0x56EC00, 0x547000, 0x000010}},
      {"overlaid L through N4 and the firmware",
       Spran(),
       "LMOVERLAY 10,20\nL12->X:$10,8,8\nL1->X:$10,24\nOPEN PLCC 1\nL1=L12\nL12=L1\n",
       {0x3C0C00, 0x0BF080, Ext(47), 0x547000, 0x000010, 0x56F000, 0x000010, 0x3C0C00, 0x0BF080,
        Ext(48)}},
      {"array after OPTIMIZE OFF",
       Spran(),
       "OPTIMIZE OFF\nL5->X:$100[16]\nL1->X:$10,24\nOPEN PLCC 1\nL1=L5[2]\nL1=L5[3]\n",
       {0x56F400, 0x000002, 0x014F86, 0x219C00, 0x64F400, 0x000100, 0x56EC00, 0x547000, 0x000010,
        0x56F400, 0x000003, 0x014F86, 0x219C00, 0x64F400, 0x000100, 0x56EC00, 0x547000, 0x000010}},
  };
  for (const Case& c : cases) {
    Words w = Compile(c.target, c.source + "CLOSE\n");
    w.resize(w.size() >= c.words.size() ? c.words.size() : w.size());
    EXPECT_EQ(w, c.words) << c.name;
  }
}

TEST_F(PlccStatementTest, FloatingExpressions) {
  const Words p1 = {0x64A400, 0x3C0100, 0x48EC00};
  const Words store_p4 = {0x0BF080, Ext(33), 0x64A400, 0x3C0400, 0x486C00};
  struct Case {
    const char* source;
    Words words;
  };
  const std::vector<Case> cases = {
      // The product first, then the deferred sum from the stack.
      {"P4=P1+P2*P3\n", Cat({p1,
                             {0x487F00, 0x3C0200, 0x48EC00, 0x3C0300, 0x42EC00},
                             kUnpack,
                             {0x0BF080, Ext(18), 0x42DF00, 0x0BF080, Ext(16)},
                             store_p4})},
      // Equal priorities go left to right without the data stack.
      {"P4=P1-P2-P3\n", Cat({p1,
                             {0x3C0200, 0x42EC00},
                             kUnpack,
                             {0x0BF080, Ext(17), 0x64A400, 0x3C0300, 0x42EC00, 0x0BF080, Ext(17)},
                             store_p4})},
      {"P4=P0\n", {0x64A400, 0x48E400, 0x3C0400, 0x486C00}},
      {"P4=P300\n", {0x64A400, 0x74F400, 300, 0x48EC00, 0x3C0400, 0x486C00}},
      // I100 goes through A: the left side waits on the stack.
      {"P4=P1*I100+2\n", Cat({p1,
                              {0x487F00, 0x3C6400, 0x0BF080, Ext(27), 0x42DF00, 0x0BF080, Ext(18),
                               0x45F400, 0x400000, 0x44F400, 0x000801, 0x0BF080, Ext(16)},
                              store_p4})},
      // The minus sign is applied before the absolute value, once.
      {"P4=ABS(-P2)\n", Cat({{0x64A400, 0x3C0200, 0x48EC00},
                             kUnpack,
                             {0x200036, 0x01DD15, 0x200026, 0x01DD15},
                             store_p4})},
      // Negated once, at the load.
      {"P4=-P2\n", Cat({{0x64A400, 0x3C0200, 0x48EC00}, kUnpack, {0x200036, 0x01DD15}, store_p4})},
      {"P4=-(P2+P3)\n", Cat({{0x64A400, 0x3C0200, 0x48EC00, 0x3C0300, 0x42EC00},
                             kUnpack,
                             {0x0BF080, Ext(16), 0x200036, 0x01DD15},
                             store_p4})},
  };
  for (const Case& c : cases) EXPECT_EQ(Body(Spran(), c.source), c.words) << c.source;
}

TEST_F(PlccStatementTest, IntegerExpressionsAndIndexedStores) {
  const std::string defs = "L1->X:$10,24\nL2->X:$11,24\nL3->X:$12,24\nL4->X:$13,24\n";
  // Immediate subtraction, and the deferred one that comes back popped.
  Words w = Compile(Spran(), defs + "OPEN PLCC 1\nL1=L2-L3\nCLOSE\n");
  w.resize(7);
  EXPECT_EQ(w, (Words{0x56F000, 0x11, 0x45F000, 0x12, 0x200064, 0x547000, 0x10}));
  w = Compile(Spran(), defs + "OPEN PLCC 1\nL1=L2-L3*L4\nCLOSE\n");
  w.resize(16);
  EXPECT_EQ(w, (Words{0x56F000, 0x11, 0x487F00, 0x56F000, 0x12, 0x45F000, 0x13, 0x218700, 0x2000F0,
                      0x0C1D2E, 0x42DF00, 0x280000, 0x200036, 0x200060, 0x547000, 0x10}));

  // An or-assignment to an array element: read, OR, store with the index
  // taken back from the stack.
  w = Compile(Spran(), "L1->X:$100[16]\nOPEN PLCC 1\nL1[2]|=5\nCLOSE\n");
  w.resize(21);
  EXPECT_EQ(w, (Words{0x56F400, 2,        0x487F00, 0x56F400, 5,        0x48E709, 0x497F00,
                      0x014F86, 0x219C00, 0x64F400, 0x000100, 0x56EC00, 0x42DF00, 0x200062,
                      0x218E00, 0x48DF09, 0x497F00, 0x014F86, 0x219C00, 0x48DF00, 0x546C00}));
}

TEST_F(PlccStatementTest, QStoreOnAnOlderCard) {
  EXPECT_EQ(Body(Older(), "Q5=1\n", 3),
            (Words{0x56F400, 0x400000, 0x50F400, 0x000800, 0x20001B, 0x07F08D, 0x8003, 0x0BF080,
                   Old(36), 0x07ED95, 0x3D0500, 0x05F425, 0x0003FF, 0x000000, 0x486D00, 0x0465A4}));
}

TEST_F(PlccStatementTest, ConditionsAndTheirJumps) {
  const std::uint32_t c = Spran().code_start;
  const Words p_const_one = {0x56F400, 0x400000, 0x50F400, 0x000800};
  // IF (L1=5): integer compare, false jump past the ENDIF.
  Words w = Compile(Spran(), "L1->X:$10,24\nOPEN PLCC 1\nIF (L1=5)\nP1=1\nENDIF\nCLOSE\n");
  w.resize(17);
  EXPECT_EQ(
      w,
      Cat({{0x56F000, 0x10, 0x487F00, 0x56F400, 5, 0x42DF00, 0x280000, 0x200064, 0x0AF0A2, c + 17},
           p_const_one,
           {0x64A400, 0x3C0100, 0x486C00}}));

  // IF (P1>1) OR (P2>1): the first line jumps on true to THEN, the second
  // on false past the ENDIF.
  const Words p_gt_one_tail = Cat({p_const_one, kUnpack, {0x42DF00, 0x0BF080, Ext(32)}});
  EXPECT_EQ(Body(Spran(), "IF (P1>1)\nOR (P2>1)\nP3=1\nENDIF\n"),
            Cat({{0x64A400, 0x3C0100, 0x48EC00, 0x487F00},
                 p_gt_one_tail,
                 {0x0AF0A9, c + 32},
                 {0x64A400, 0x3C0200, 0x48EC00, 0x487F00},
                 p_gt_one_tail,
                 {0x0AF0A1, c + 39},
                 p_const_one,
                 {0x64A400, 0x3C0300, 0x486C00}}));

  // IF (P1~P2): |X - A| against 0.5, false on JGE.
  EXPECT_EQ(Body(Spran(), "IF (P1~P2)\nP3=1\nENDIF\n"),
            Cat({{0x64A400, 0x3C0100, 0x48EC00, 0x487F00, 0x3C0200, 0x48EC00},
                 kUnpack,
                 {0x42DF00, 0x0BF080, Ext(17), 0x200026, 0x01DD15, 0x254000, 0x44F400, 0x0007FF,
                  0x0BF080, Ext(32), 0x0AF0A1, c + 28},
                 p_const_one,
                 {0x64A400, 0x3C0300, 0x486C00}}));
}

}  // namespace
}  // namespace zimo::corvan::plcc

namespace zimo::corvan::plcc {
namespace {

TEST_F(PlccStatementTest, IfElseAndNestedBlocks) {
  const std::uint32_t c = Spran().code_start;
  const std::uint32_t s = Spran().slot_table;
  const Words one = {0x56F400, 0x400000, 0x50F400, 0x000800};
  auto p_gt_one = [](std::uint32_t p, std::uint32_t target) {
    return Cat({{0x64A400, 0x3C0000 + (p << 8), 0x48EC00, 0x487F00, 0x56F400, 0x400000, 0x50F400,
                 0x000800},
                kUnpack,
                {0x42DF00, 0x0BF080, Ext(32), 0x0AF0A1, target}});
  };
  // The false exit lands after the ELSE's jump; the jump lands after ENDIF.
  EXPECT_EQ(Body(Spran(), "IF (P1>1)\nP2=1\nELSE\nP3=1\nENDIF\n"),
            Cat({p_gt_one(1, c + 25),
                 one,
                 {0x64A400, 0x3C0200, 0x486C00, 0x0AF080, c + 32},
                 one,
                 {0x64A400, 0x3C0300, 0x486C00}}));
  // An IF inside a WHILE of PLCC 3: the loop gives up its scan with the
  // resume point on its condition.
  EXPECT_EQ(Body(Spran(), "WHILE (P1>1)\nIF (P2>1)\nP3=1\nENDIF\nENDWHILE\n", 3),
            Cat({p_gt_one(1, c + 52),
                 p_gt_one(2, c + 39),
                 one,
                 {0x64A400, 0x3C0300, 0x486C00, 0x07F084, s + 7, 0x56F400, s + 8, 0x200044,
                  0x0AF0AA, s + 8, 0x64F400, c, 0x077094, s + 7, 0x0AF080, s + 8}}));
}

TEST_F(PlccStatementTest, LoopsOfServoAndVarPlccSections) {
  // OPEN SERVO loops branch straight back, counted from the branch.
  Words w = Compile(Spran(), "OPEN SERVO\nWHILE (P1>1)\nP2=1\nENDWHILE\nCLOSE\n");
  ASSERT_EQ(w.size(), 28u);
  EXPECT_EQ(w[15], 0x40059u);
  EXPECT_EQ(Words(w.begin() + 23, w.end()),
            (Words{0x0D10C0, 0xFFFFE9, 0x200013, 0x0AF080, 0x04000B}));
  // VARPLCC loops restart through P:$4002.
  w = Compile(Spran(), "OPEN VARPLCC\nWHILE (MP1>0)\nMP2=1\nENDWHILE\nCLOSE\n");
  EXPECT_EQ(w, (Words{0x64F400, 0x000400, 0x3C0100, 0x56EC00, 0x487F00, 0x200013, 0x42DF00,
                      0x280000, 0x200064, 0x0AF0A1, 0x00401A, 0x56F400, 0x000001, 0x64F400,
                      0x000400, 0x3C0200, 0x546C00, 0x64F400, 0x004004, 0x077094, 0x004002,
                      0x00000C, 0x64F400, 0x004004, 0x077094, 0x004002, 0x00000C}));
}

TEST_F(PlccStatementTest, ServoCallsOfIAndMRoutinesKeepR1AndN1) {
  const Words expected = {0x3C6400, 0x617F00, 0x796700, 0x0BF080, Ext(27),
                          0x79E700, 0x61DF00, 0x0BF080, Ext(33),  0x64A400,
                          0x3C0100, 0x486C00, 0x200013, 0x0AF080, 0x04000B};
  EXPECT_EQ(Compile(Spran(), "OPEN SERVO\nP1=I100\nCLOSE\n"), expected);
  // The server's build compiles the same source to the same words.
  PlccTarget server = Spran();
  server.server_build = true;
  EXPECT_EQ(Compile(server, "OPEN SERVO\nP1=I100\nCLOSE\n"), expected);
}

TEST_F(PlccStatementTest, CommandsWaitForAFreeSlot) {
  struct Case {
    const char* firmware;
    Words words;
  };
  const std::uint32_t c = Spran().code_start;
  const std::uint32_t s = Spran().slot_table;
  const std::uint32_t r41 = 0x3000 + 16 * 41;
  const std::vector<Case> spran = {
      // Text at +16 from the TST's word, the PLC's addressing shifted by 4.
      {"1.935",
       {0x64F400, c + 4,    0x077094, s + 3,    0x56B100, 0x61F403, c + 22,   0x0AF0A2, s + 4,
        0x07D98E, 0x07F08F, c - 31,   0x0C1EC9, 0x64F400, 0x001A00, 0x200010, 0x543100, 0x07D98E,
        0x0BF080, r41,      0x0AF080, c + 25,   0x840000, 0x23314A, 0x2B0000}},
      // Older firmware: text at +17, shift by 12 and the command cells.
      {"1.934", {0x64F400, c + 4,    0x077094, s + 3,    0x56B100, 0x61F403,
                 c + 23,   0x0AF0A2, s + 4,    0x07D98E, 0x543100, 0x07F08E,
                 c - 31,   0x0C1ED8, 0x64F400, 0x001A00, 0x547000, 0x3000 + 16 * 43 + 1,
                 0x07D98E, 0x0BF080, r41,      0x0AF080, c + 26,   0x840000,
                 0x23314A, 0x2B0000}},
  };
  for (const Case& k : spran) {
    EXPECT_EQ(Body(Spran(k.firmware), "COMMAND\"#1J+\"\n"), k.words) << k.firmware;
  }
  // PLCC 0 of an older card uses its own slot Y:$75A and returns while busy.
  const std::uint32_t oc = Older().code_start;
  const std::uint32_t os = Older().slot_table;
  EXPECT_EQ(Body(Older(), "COMMAND\"X\"\n", 0),
            (Words{0x64F400, oc + 4,   0x077094, os + 1,   0x5EF000, 0x00075A, 0x45F403, oc + 21,
                   0x0AF0AA, oc + 11,  0x00000C, 0x22B41B, 0x07F08D, 0x8000,   0x24FF60, 0x20004E,
                   0x200010, 0x5C7000, 0x00075A, 0x0AF080, oc + 23,  0x000000, 0x580000}));
}

TEST_F(PlccStatementTest, LockDisplayAndCopyReg) {
  EXPECT_EQ(Body(Spran(), "LOCK 2,P300\n"), (Words{0x3D0200, 0x55F400, 1200, 0x0BF080, Ext(55),
                                                   0x64A400, 0x0BF080, Ext(33), 0x486C00}));
  EXPECT_EQ(
      Body(Spran(), "DISPLAY 10,8.3,P5\n"),
      Cat({{0x65A400, 0x3D0500, 0x48ED00},
           kUnpack,
           {0x61F400, 0x108A, 0x054FA1, 0x64F400, 0x10E1, 0x3C0400, 0x0BF080, Ext(38), 0x0461A0}}));
  EXPECT_EQ(Compile(Spran(), "OPEN SERVO\nCOPYREG P5\nCLOSE\n"),
            (Words{0x3C0500, 0x382400, 0x64A400, 0x205700, 0x415700, 0x204000, 0x43573C, 0x65D800,
                   0x415700, 0x405700, 0x4ED800, 0xC28500, 0x4C5044, 0x204C00, 0x218700, 0x2050B4,
                   0x204822, 0x486700, 0x060590, 0x000007, 0x48DF00, 0x0BF080, 0x00FF62, 0x0BF080,
                   0x00FF42, 0x485C00, 0x200013, 0x0AF080, 0x04000B}));
}

TEST_F(PlccStatementTest, BadInput) {
  const std::string deep =
      "OPEN PLCC 1\nP1=" + std::string(124, '(') + "1" + std::string(124, ')') + "\nCLOSE\n";
  Compile(Spran(), deep, 45);
  const std::string just =
      "OPEN PLCC 1\nP1=" + std::string(123, '(') + "1" + std::string(123, ')') + "\nCLOSE\n";
  Compile(Spran(), just, 0);
  // One token may push twice: an operand and its operator wait with the
  // opening.
  std::string twice = "OPEN PLCC 1\nP1=";
  for (int i = 0; i < 62; ++i) twice += "1+(";
  twice += "1" + std::string(62, ')') + "\nCLOSE\n";
  Compile(Spran(), twice, 45);
  Compile(Spran(), "OPEN PLCC 1\nP1=1E400\nCLOSE\n", 33);
  // An assignment with nothing to assign is refused, not stored from
  // whatever A holds.
  Compile(Spran(), "OPEN PLCC 1\nP1=\nCLOSE\n", 35);
}

}  // namespace
}  // namespace zimo::corvan::plcc

namespace zimo::corvan::plcc {
namespace {

// The structure check itself must see the faults it is there for.
TEST(PlccVerifierTest, FindsBrokenCode) {
  VerifierTargets t;
  t.slot_table = 0x50020;
  t.chain_end = 0x50060;
  t.routines = {0xFF40};
  struct Case {
    const char* name;
    Words code;
    bool sound;
  };
  const std::vector<Case> cases = {
      {"jumps to itself, a slot and a routine",
       {0x0AF0A2, 0x1000, 0x0AF080, 0x50024, 0x0BF080, 0xFF40},
       true},
      {"unpatched false exit", {0x0AF0A2, 0x2000000}, false},
      {"flag bit left on a word", {0x4000000 | 0x56F400, 5}, false},
      {"jump into an extension word", {0x56F400, 5, 0x0AF080, 0x1001}, false},
      {"jump to an odd slot word", {0x0AF080, 0x50025}, false},
      {"last instruction cut short", {0x200013, 0x0AF080}, false},
      {"text skipped after the display call",
       {0x0BF080, 0xFF40, 0x0AF080, 0x1005, 0x414200, 0x200013},
       true},
  };
  t.text_routines = {0xFF40};
  for (const Case& c : cases) {
    EXPECT_EQ(VerifyPlccCode(c.code, 0x1000, t).empty(), c.sound) << c.name;
  }
}

}  // namespace
}  // namespace zimo::corvan::plcc

namespace zimo::corvan::plcc {
namespace {

TEST_F(PlccStatementTest, MoreStatementsOnTheExtendedFirmware) {
  const std::uint32_t c = Spran().code_start;
  const std::uint32_t s = Spran().slot_table;
  const Words p1 = {0x64A400, 0x3C0100, 0x48EC00};
  const Words store_p1 = {0x0BF080, Ext(33), 0x64A400, 0x3C0100, 0x486C00};
  struct Case {
    std::string source;
    Words words;
  };
  const std::vector<Case> cases = {
      {"ENABLE PLC 1,3\n", {0x56F400, 0, 0x50F400, 0x0A0000, 0x0BF080, Ext(35)}},
      {"DISABLE PLCC 2..4\n", {0x56F400, 0, 0x50F400, 0x1C3000, 0x0BF080, Ext(35)}},
      {"SETPHASE 1,3\n", {0x200013, 0x280500, 0x0BF080, Ext(57)}},
      {"SETPHASE 32\n", {0x56F400, 0x000080, 0x280000, 0x0BF080, Ext(57)}},
      {"UNLOCK 3\n", {0x2C0300, 0x0BF080, Ext(56)}},
      {"DISPLAY 3\"HI\"\n",
       {0x65F400, 0x1083, 0x61F400, c + 8, 0x0BF080, Ext(37), 0x0AF080, c + 9, 0x484900}},
      // A control character goes through the slot with its two pool words.
      {"SENDS^A\n",
       {0x64F400, c + 4,    0x077094, s + 3,    0x56B100, 0x61F403, c + 22,   0x0AF0A2,
        s + 4,    0x07D98E, 0x543100, 0x07F08E, c - 31,   0x0C1ED8, 0x64F400, 0x001A00,
        0x547000, 0x0035C3, 0x07D98E, 0x565C00, 0x643200, 0x050C03, 0x340000, 0x000001}},
      {"M7|=P1\n", Cat({p1,
                        {0x487F00, 0x3C0700, 0x0BF080, Ext(28), 0x42DF00, 0x0BF080, Ext(20),
                         0x3C0700, 0x0BF080, Ext(30)}})},
      // The index of P(e) becomes a variable number before the store.
      {"P(3)=P1\n", Cat({{0x56F400, 0x600000, 0x50F400, 0x000801, 0x487F00},
                         p1,
                         {0x48DF09, 0x497F00},
                         kUnpack,
                         {0x0BF080, Ext(44), 0x210E00, 0x0140C6, 0x001FFF, 0x219C00, 0x64A400,
                          0x48DF00, 0x486C00}})},
      {"L1->X:$10,24\nOPEN PLCC 1\nL1=FTOI(P1)\n",
       Cat({p1, kUnpack, {0x0BF080, Ext(44), 0x0C1D30, 0x547000, 0x000010}})},
      {"L1->X:$10,24\nOPEN PLCC 1\nP1=ITOF(L1)\n",
       Cat({{0x56F000, 0x000010, 0x0C1C30, 0x0BF080, Ext(49)}, store_p1})},
      {"F2->L:$200\nOPEN PLCC 1\nF2=P1\n", Cat({p1, {0x487000, 0x000200}})},
      {"F2->D:$200\nOPEN PLCC 1\nF2=P1\n",
       Cat({p1, kUnpack, {0x0BF080, Ext(44), 0x487000, 0x000200}})},
      {"F2->D:$200\nOPEN PLCC 1\nP1=F2\n",
       Cat({{0x48F000, 0x000200, 0x0BF080, Ext(49)}, store_p1})},
      {"P1=Q(2)\n", Cat({{0x56F400, 0x400000, 0x50F400, 0x000801, 0x22B41B, 0x07F08D, c - 31,
                          0x0BF080, Ext(36), 0x69E500},
                         kUnpack,
                         {0x0BF080, Ext(3)},
                         store_p1})},
  };
  for (const Case& k : cases) {
    const std::string src =
        k.source.find("OPEN PLCC") == std::string::npos ? "OPEN PLCC 1\n" + k.source : k.source;
    Words w = Compile(Spran(), src + "CLOSE\n");
    const std::size_t tail = 15;
    w.resize(w.size() >= tail ? w.size() - tail : 0);
    EXPECT_EQ(w, k.words) << k.source;
  }
}

TEST_F(PlccStatementTest, AddressOnBothGenerations) {
  const std::uint32_t c = Spran().code_start;
  EXPECT_EQ(Body(Spran(), "ADDRESS#2&3\n"),
            (Words{0x07F08E, c - 31, 0x0140C6, 0xC00FFF, 0x0140C2, 0x041000, 0x07708C, c - 31}));
  EXPECT_EQ(Body(Older(), "ADDRESS#2\n"),
            (Words{0x07F084, 0x8001, 0x2E0700, 0x258117, 0x200046, 0x200062, 0x07708C, 0x8001}));
}

TEST_F(PlccStatementTest, RingStationVariablesAndServoReturn) {
  EXPECT_EQ(Compile(Spran(), "OPEN VARPLCC\nMP1=MI5+MM300\nCLOSE\n"),
            (Words{0x57F400, 5,        0x0D0008, 0x0C1D30, 0x74F400, 300,      0x218400,
                   0x0D0009, 0x0C1D30, 0x218541, 0x200060, 0x64F400, 0x000400, 0x3C0100,
                   0x546C00, 0x64F400, 0x004004, 0x077094, 0x004002, 0x00000C}));
  // The minus sign is taken by the value once; the return itself does not
  // negate again.
  EXPECT_EQ(Compile(Spran(), "OPEN SERVO\nRET(-1)\nCLOSE\n"),
            (Words{0x56F400, 0xFFFFFF, 0x0AF080, 0x04000B, 0x200013, 0x0AF080, 0x04000B}));
}

}  // namespace
}  // namespace zimo::corvan::plcc

namespace zimo::corvan::plcc {
namespace {

// Eleven words: one line of eight, then one line per word.
TEST_F(PlccStatementTest, BlockWordsAsMemoryWrites) {
  Compile(Spran(), "OPEN VARPLCC\nMP1=MP2\nCLOSE\n");
  EXPECT_EQ(
      OutputLines(out_),
      (std::vector<std::string>{
          "MI15=0", "WP:$004004,$64F400,$000400,$3C0200,$56EC00,$3C0100,$546C00,$64F400,$004004",
          "WP:$00400C,$077094", "WP:$00400D,$004002", "WP:$00400E,$00000C", "WP:$004000,$00400F",
          "WP:$004002,$004004"}));
}

}  // namespace
}  // namespace zimo::corvan::plcc

namespace zimo::corvan::plcc {
namespace {

// VARPLCC sections divide with their own short routines.
TEST_F(PlccStatementTest, VarPlccDividesWithItsOwnRoutines) {
  Words w = Compile(Spran(), "OPEN VARPLCC\nMP1=MP2/MP3%MP4\nCLOSE\n");
  w.resize(w.size() >= 5 ? w.size() - 5 : 0);
  EXPECT_EQ(
      w, (Words{0x64F400, 0x000400, 0x3C0200, 0x56EC00, 0x3C0300, 0x45EC00, 0x0D0004, 0x64F400,
                0x000400, 0x3C0400, 0x45EC00, 0x0D0006, 0x64F400, 0x000400, 0x3C0100, 0x546C00}));
}

}  // namespace
}  // namespace zimo::corvan::plcc
