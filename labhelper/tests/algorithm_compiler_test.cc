// The lab's algorithm compiler: the routine table of the link list, the
// reduced language and its limits, the memory-write output with the PLC
// table, the shared code generation and compile_the_file's error report.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "algorithm.h"
#include "algorithm_test_support.h"
#include "cardsim/card.h"
#include "labhelper/qeldll32.h"
#include "plcc/plcc_compiler.h"

namespace zimo::labhelper::testing {
namespace {

namespace plcc = corvan::plcc;

constexpr int kTokens = 46;  // the compiler's "too many tokens"

struct Compiled {
  int result = 0;
  std::uint32_t line = 0;  // the refused input line
  std::string out;
};

// The code words from $8062 on.
std::vector<std::uint32_t> Code(const std::string& out) {
  const auto words = Written(out);
  std::vector<std::uint32_t> code;
  for (std::uint32_t a = 0x8062; words.count(a) != 0; ++a) code.push_back(words.at(a));
  return code;
}

bool Contains(const std::vector<std::uint32_t>& code, const std::vector<std::uint32_t>& run) {
  return std::search(code.begin(), code.end(), run.begin(), run.end()) != code.end();
}

class LabCompilerTest : public AlgorithmTest {
 protected:
  LabCompilerTest() {
    for (int k = 0; k < plcc::kLabLinkValues; ++k) values_[k] = LinkValue(k);
  }

  Compiled CompileWith(const plcc::PlccTarget& target, const std::string& source) {
    WriteText(Path("in.src"), source);
    std::FILE* in = std::fopen(Path("in.src").c_str(), "rb");
    std::FILE* out = std::fopen(Path("out.56k").c_str(), "wb");
    const plcc::PlccCompileResult r = plcc::CompilePlccStream(target, in, out, nullptr);
    std::fclose(in);
    std::fclose(out);
    return Compiled{r.result, r.input_line, ReadText(Path("out.56k"))};
  }
  Compiled Compile(const std::string& source) { return CompileWith(LabTarget(values_), source); }

  // Compiled by the card library for an older card with the same link.
  Compiled CompileForCard(const std::string& source) {
    plcc::PlccTarget t = plcc::PlccTarget::Older("");
    for (int k = 0; k < plcc::kLabLinkValues; ++k) t.link_list[k] = values_[k];
    return CompileWith(t, source);
  }

  std::uint32_t values_[plcc::kLabLinkValues] = {};
};

TEST_F(LabCompilerTest, RoutineTableTakesTheLinkValuesInItsOrder) {
  const plcc::LabRoutineTable t = plcc::MakeLabRoutineTable(values_);
  auto v = [this](int k) { return values_[k]; };
  plcc::LabRoutineTable want{};
  for (int k = 0; k < 24; ++k) want[k] = v(k);
  want[24] = v(16);
  want[25] = v(24);
  want[26] = v(18);
  want[27] = v(25);
  want[28] = v(20);
  want[29] = v(21);
  want[30] = v(22);
  want[31] = v(26);
  for (int k = 32; k <= 43; ++k) want[k] = v(k - 5);
  want[44] = v(40) + 1;
  want[45] = v(40);
  want[46] = v(39) + 1;
  want[47] = v(39);
  EXPECT_EQ(t, want);
}

TEST(LinkListText, NeedsAll41NonZeroValues) {
  std::string one_per_line;
  std::string several;
  for (int k = 0; k < 41; ++k) {
    char word[16];
    std::snprintf(word, sizeof word, "%06X", LinkValue(k));
    one_per_line += std::string(word) + "\r\n";
    several += std::string(word) + (k % 5 == 4 ? "\n" : "  ");
  }
  std::uint32_t values[41] = {};
  ASSERT_TRUE(ParseLinkList(one_per_line.data(), one_per_line.size(), values));
  for (int k = 0; k < 41; ++k) ASSERT_EQ(values[k], LinkValue(k)) << k;
  EXPECT_TRUE(ParseLinkList(several.data(), several.size(), values));
  const std::string more = one_per_line + "00ABCD\r\n";
  EXPECT_TRUE(ParseLinkList(more.data(), more.size(), values));

  const std::string short_list = one_per_line.substr(0, 40 * 8);
  EXPECT_FALSE(ParseLinkList(short_list.data(), short_list.size(), values));
  std::string zero = one_per_line;
  zero.replace(20 * 8, 6, "000000");
  EXPECT_FALSE(ParseLinkList(zero.data(), zero.size(), values));
  std::string garbage = one_per_line;
  garbage.replace(3 * 8, 6, "00G400");
  EXPECT_FALSE(ParseLinkList(garbage.data(), garbage.size(), values));
}

TEST_F(LabCompilerTest, AcceptsTheLanguageSpellings) {
  const char* programs[] = {
      "OPN PLCC 0\nCLS\n",
      "OPEN PLCC0\nCLOSE\n",
      "open plcc 0\np1=p2*2\nclose\n",
      "OPEN PLCC 0\nWHILE(P1<10)\nP1=P1+1\nENDW\nCLOSE\n",
      "OPEN PLCC 0\nWHILE(P1<10)\nP1=P1+1\nEND WHILE\nCLOSE\n",
      "OPEN PLCC 0\nWHILE(P1<10)\nP1=P1+1\nENDWHILE\nCLOSE\n",
      "OPEN PLCC 0\nIF(P1=1)\nP2=1\nELSE\nP2=2\nENDI\nCLOSE\n",
      "OPEN PLCC 0\nIF(P1=1)\nAND(P2>1)\nOR(P3!<1)\nP2=1\nEND IF\nCLOSE\n",
      "L5->X:$0770,0,24,S\nOPEN PLCC 0\nL5=L5+1\nCLOSE\n",
      "L6->Y:$10,4,4\nOPEN PLCC 0\nL6=3\nCLOSE\n",
      "L6->Y:$10,4,4,S\nOPEN PLCC 0\nL6=-3\nCLOSE\n",
      "L1023->X:$10,7\nOPEN PLCC 0\nL1023=1\nCLOSE\n",
      "OPEN PLCC 0\nCD\"#1J+\"\nCOMMAND^A\nSENDP\"x\"\nSEND^C\nCLOSE\n",
      "OPEN PLCC 0\nDISPLAY 10,8.3,P5\nDISP \"hello\"\nADDRESS #8\nCLEAR\nCLOSE\n",
      "OPEN PLCC 0\nM5&=3\nM5|=4\nM5^=1\nP1=SIN(P2)+ATAN2(P3,P4)\nCLOSE\n",
  };
  for (const char* p : programs) {
    const Compiled c = Compile(p);
    EXPECT_EQ(c.result, 0) << p;
    EXPECT_EQ(Lines(c.out).at(0), "DISABLE PLCC 0..31") << p;
  }
}

TEST_F(LabCompilerTest, CommandTextKeepsItsCase) {
  const Compiled c = Compile("OPEN PLCC 1\nCMD\"abc\"\nCLOSE\n");
  ASSERT_EQ(c.result, 0);
  // Header word, "abc", the zero word that ends a text of three.
  EXPECT_TRUE(Contains(Code(c.out), {0x000000, 0x616263, 0x000000}));
  EXPECT_FALSE(Contains(Code(c.out), {0x414243}));
}

TEST_F(LabCompilerTest, EnableListBecomesItsMask) {
  const Compiled c = Compile("OPEN PLCC 0\nENABLE PLC 1..3,5\nDIS PLCC 0\nCLOSE\n");
  ASSERT_EQ(c.result, 0);
  // Routine 40 of the table is link value 35, above $1000: a long call.
  ASSERT_EQ(LinkValue(35), 0x2118u);
  EXPECT_EQ(Code(c.out),
            (std::vector<std::uint32_t>{
                0x56F400, 0x000000, 0x50F400, 0x2E0000, 0x0BF080, 0x002118,  // ENABLE PLC
                0x56F400, 0x000000, 0x50F400, 0x013000, 0x0BF080, 0x002118,  // DISABLE PLCC
                0x07F084, 0x008021, 0x56F400, 0x008060, 0x200044, 0x0AF0AA,
                0x008060, 0x07F094, 0x008000, 0x077094, 0x008021, 0x00000C}));
}

TEST_F(LabCompilerTest, LinesOutsideProgramsAreCopiedDefinitionsTaken) {
  const Compiled c = Compile("I5=2 % 3\nL5->X:$10,24\n#50\n");
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(c.out, "DISABLE PLCC 0..31\r\nI5=2 % 3\r\n#50\r\n");
}

TEST_F(LabCompilerTest, RefusesWhatTheLanguageDoesNotHold) {
  const struct {
    const char* source;
    std::uint32_t line;
  } cases[] = {
      {"L7->X:$10,3,4\n", 1},
      {"L8->X:$10,20,8\n", 1},
      {"L9->X:$10,24,U\n", 1},
      {"L9->D:$10\n", 1},
      {"L1024->X:$10,24\n", 1},
      {"L1->X:$10,24\nL2->X:$10,0,24,S\n", 2},
      {"OPEN PLCC 0\nP1=L3\nCLOSE\n", 2},
      {"OPEN PLCC 0\nELSE\nCLOSE\n", 2},
      {"OPEN PLCC 0\nENDWHILE\nCLOSE\n", 2},
      {"OPEN PLCC 0\nIF(P1=1)\nOPEN PLCC 1\n", 3},
      {"OPEN PLCC 0\nIF(P1=1)\nCLOSE\n", 3},
      {"OPEN PLCC 0\nCMD\"abc\nCLOSE\n", 2},
      {"OPEN PLCC 0\nADDRESS #9\nCLOSE\n", 2},
      {"OPEN PLCC 0\nADDRESS &1\nCLOSE\n", 2},
      {"OPEN PLCC 0\nRETURN\nCLOSE\n", 2},
      {"OPEN PLCC 0\nP1=P2+\nCLOSE\n", 2},
      {"OPEN PLCC 0\nP1=1\n", 1},
      {"OPEN PLCC 0\nP1=1\nCLOSE\nOPEN PLCC 1\nASMOUT\n", 5},
  };
  for (const auto& c : cases) {
    const Compiled r = Compile(c.source);
    EXPECT_NE(r.result, 0) << c.source;
    EXPECT_EQ(r.line, c.line) << c.source;
  }
}

TEST_F(LabCompilerTest, LinesAreRefusedPast255Characters) {
  for (const bool inside : {false, true}) {
    for (const std::size_t length : {255u, 256u}) {
      const std::string line = "P1=1" + std::string(length - 4, ' ');
      const std::string source = inside ? "OPEN PLCC 0\n" + line + "\nCLOSE\n" : line + "\n";
      const Compiled r = Compile(source);
      EXPECT_EQ(r.result != 0, length == 256) << inside << length;
      if (length == 256) {
        EXPECT_EQ(r.line, inside ? 2u : 1u);
      }
    }
  }
}

TEST_F(LabCompilerTest, TextPoolHolds2048Bytes) {
  // Each text of 240 characters takes 243 pool bytes: eight fit, a ninth
  // does not.
  const std::string display = "DISP\"" + std::string(240, 'x') + "\"\n";
  std::string source = "OPEN PLCC 0\n";
  for (int i = 0; i < 8; ++i) source += display;
  EXPECT_EQ(Compile(source + "CLOSE\n").result, 0);
  const Compiled r = Compile(source + display + "CLOSE\n");
  EXPECT_NE(r.result, 0);
  EXPECT_EQ(r.line, 10u);
}

TEST_F(LabCompilerTest, ProgramHoldsAtMost6479Tokens) {
  // OPEN and CLOSE one token each; "P1=1+1+..." lines of 100 tokens.
  const std::string hundred = "P1=1" + [] {
    std::string s;
    for (int i = 0; i < 49; ++i) s += "+1";
    return s;
  }() + "\n";
  auto program = [&](int last_ones) {
    std::string s = "OPEN PLCC 0\nIF(P1=1)\nENDIF\n";  // 6 + 1 tokens
    for (int i = 0; i < 64; ++i) s += hundred;
    s += "P1=1";
    for (int i = 0; i < last_ones; ++i) s += "+1";
    return s + "\nCLOSE\n";
  };
  // 1 + 7 + 6400 + 70 + 1 = 6479 tokens; with two more in line 68 that line
  // brings the count to 6480.
  const Compiled fits = Compile(program(34));
  EXPECT_NE(fits.result, kTokens);
  const Compiled over = Compile(program(35));
  EXPECT_EQ(over.result, kTokens);
  EXPECT_EQ(over.line, 68u);
}

// The table of the compiled-PLC area after a compile of program 0 alone.
std::map<std::uint32_t, std::uint32_t> TableWithOnlyProgram0(std::uint32_t words) {
  std::map<std::uint32_t, std::uint32_t> t;
  t[0x8000] = 0x8062 + 0x800000;
  for (std::uint32_t n = 1; n < 32; ++n) t[0x8000 + n] = 0x8060;
  for (std::uint32_t n = 0; n < 32; ++n) {
    t[0x8020 + 2 * n] = 0x0AF080;
    t[0x8021 + 2 * n] = n == 0 ? 0x8062 : 0x8060;
  }
  t[0x8060] = 0x00000C;
  t[0x8061] = words;
  return t;
}

TEST_F(LabCompilerTest, OnlyProgram0ChainsTheOthersToTheReturn) {
  const Compiled c = Compile("OPEN PLCC 0\nP1=P1+1\nCLOSE\n");
  ASSERT_EQ(c.result, 0);
  auto words = Written(c.out);
  const std::size_t code = Code(c.out).size();
  std::map<std::uint32_t, std::uint32_t> table(words.lower_bound(0x8000),
                                               words.lower_bound(0x8062));
  EXPECT_EQ(table, TableWithOnlyProgram0(static_cast<std::uint32_t>(code)));
  const std::vector<std::string> lines = Lines(c.out);
  // Twelve lines of eight, $8060 alone, then the count as the last line.
  ASSERT_GE(lines.size(), 14u);
  EXPECT_EQ(lines[lines.size() - 14].rfind("WP:$008000,$808062,$008060,", 0), 0u);
  EXPECT_EQ(lines[lines.size() - 2], "WP:$008060,$00000C");
  char count[32];
  std::snprintf(count, sizeof count, "WP:$008061,$%06zX", code);
  EXPECT_EQ(lines.back(), count);
}

TEST_F(LabCompilerTest, NineteenWordsAreTwoLinesOfEightAndThreeSingles) {
  // An M-variable write and the end of scan of program 0: 19 words.
  const Compiled c = Compile("OPEN PLCC 0\nM1=1\nCLOSE\n");
  ASSERT_EQ(c.result, 0);
  const std::vector<std::uint32_t> code = Code(c.out);
  ASSERT_EQ(code.size(), 19u);
  const std::vector<std::string> lines = Lines(c.out);
  auto hex = [](std::uint32_t v) {
    char s[16];
    std::snprintf(s, sizeof s, "$%06X", v);
    return std::string(s);
  };
  std::string first = "WP:$008062";
  std::string second = "WP:$00806A";
  for (int i = 0; i < 8; ++i) first += "," + hex(code[i]);
  for (int i = 8; i < 16; ++i) second += "," + hex(code[i]);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[1], first);
  EXPECT_EQ(lines[2], second);
  EXPECT_EQ(lines[3], "WP:$008072," + hex(code[16]));
  EXPECT_EQ(lines[4], "WP:$008073," + hex(code[17]));
  EXPECT_EQ(lines[5], "WP:$008074," + hex(code[18]));
  EXPECT_EQ(lines[6],
            "WP:$008000,$808062,$008060,$008060,$008060,$008060,$008060,$008060,"
            "$008060");
}

TEST_F(LabCompilerTest, SameCodeAsTheCardLibraryForAnOlderCard) {
  const char* programs[] = {
      "OPEN PLCC 0\nP1=P2+3\nP3=P1-P2*2.5\nP4=P1/P2\nP5=P1%7\nM100=(P1-P2)/(P3+1)\nCLOSE\n",
      "OPEN PLCC 2\nIF(P1>0)\nP2=1\nELSE\nP2=-P1\nENDIF\nCLOSE\n",
      "OPEN PLCC 3\nWHILE(P1<10)\nAND(P2!=0)\nP1=P1+1\nENDWHILE\nCLOSE\n",
      "OPEN PLCC 1\nENABLE PLCC 2,3\nDISABLE PLC 4..6\nCMD\"#1J+\"\nSEND\"x\"\nCLOSE\n",
  };
  std::vector<std::string> sources(std::begin(programs), std::end(programs));
  sources.push_back(ReadText(DataPath("pid_plc0.txt")));  // the demacrotized PID
  for (const std::string& p : sources) {
    const Compiled lab = Compile(p);
    const Compiled card = CompileForCard(p);
    ASSERT_EQ(lab.result, 0) << p;
    ASSERT_EQ(card.result, 0) << p;
    EXPECT_FALSE(Code(lab.out).empty());
    EXPECT_EQ(Written(lab.out), Written(card.out)) << p;
  }
}

TEST_F(LabCompilerTest, CompileTheFileWritesTheWholeCommandFile) {
  WriteLinkList();
  WriteText(Path("plc0.$$$"),
            "OPEN PLCC 0 ;Line 1\r\nENABLE PLC 1..3,5 ;Line 2\r\nDIS PLCC 0 ;Line 3\r\n"
            "CLOSE ;Line 4\r\n");
  ASSERT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
  // 24 code words at $8062 (two ENABLE/DISABLE forms calling link value 35,
  // then the end of scan of program 0), the table, the word count.
  const std::string pairs = ",$0AF080,$008060,$0AF080,$008060,$0AF080,$008060,$0AF080,$008060";
  const std::string entries = ",$008060,$008060,$008060,$008060,$008060,$008060,$008060,$008060";
  EXPECT_EQ(ReadText(Path("plc0.56k")),
            "DISABLE PLCC 0..31\r\n"
            "WP:$008062,$56F400,$000000,$50F400,$2E0000,$0BF080,$002118,$56F400,$000000\r\n"
            "WP:$00806A,$50F400,$013000,$0BF080,$002118,$07F084,$008021,$56F400,$008060\r\n"
            "WP:$008072,$200044,$0AF0AA,$008060,$07F094,$008000,$077094,$008021,$00000C\r\n"
            "WP:$008000,$808062,$008060,$008060,$008060,$008060,$008060,$008060,$008060\r\n"
            "WP:$008008" +
                entries + "\r\nWP:$008010" + entries + "\r\nWP:$008018" + entries +
                "\r\n"
                "WP:$008020,$0AF080,$008062,$0AF080,$008060,$0AF080,$008060,$0AF080,$008060\r\n"
                "WP:$008028" +
                pairs + "\r\nWP:$008030" + pairs + "\r\nWP:$008038" + pairs + "\r\nWP:$008040" +
                pairs + "\r\nWP:$008048" + pairs + "\r\nWP:$008050" + pairs + "\r\nWP:$008058" +
                pairs +
                "\r\n"
                "WP:$008060,$00000C\r\n"
                "WP:$008061,$000018\r\n");
}

TEST_F(LabCompilerTest, OnlyTheLabReadsCdAsCommand) {
  const std::string source = "OPEN PLCC 0\nCD\"#1J+\"\nCLOSE\n";
  EXPECT_EQ(Compile(source).result, 0);
  const Compiled card = CompileForCard(source);
  EXPECT_NE(card.result, 0);
  EXPECT_EQ(card.line, 2u);
}

TEST_F(LabCompilerTest, CompileTheFileWithoutProgramsCopiesLines) {
  WriteLinkList();
  WriteText(Path("plc0.$$$"), "P1=1 ;Line 1\r\nM1->X:$10,0,24 ;Line 2\n");
  EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
  EXPECT_EQ(ReadText(Path("plc0.56k")),
            "DISABLE PLCC 0..31\r\nP1=1 ;Line 1\r\nM1->X:$10,0,24 ;Line 2\r\n");
  EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(LabCompilerTest, CompileTheFileNamesTheStudentsLine) {
  WriteLinkList(41, "LISTLINK.TXT");
  WriteText(Path("plc0.$$$"),
            "OPEN PLCC 0 ;Line 3\r\nP1=1 ;Line 5\r\nP1=P2+  ;Line 12\r\nCLOSE ;Line 13\r\n");
  EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 1);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Error on line 12");
  EXPECT_EQ(recorder_.boxes()[0].caption, "PLCC Compiler Error");
  EXPECT_EQ(recorder_.boxes()[0].flags, platform::kMbOk | platform::kMbIconExclamation);
}

TEST_F(LabCompilerTest, AssignmentWithoutValueIsNamedOnItsOwnLine) {
  WriteLinkList();
  for (const char* statement : {"CONTROL_EFFORT =", "P1=", "L1=-", "M5&="}) {
    recorder_.Clear();
    std::string text = std::string("L1->X:$10,24\nBEGIN\n") + statement + "\nP2=1\nEND\n";
    text.push_back('\0');
    ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", 0.000884f), 0);
    EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 1) << statement;
    ASSERT_EQ(recorder_.boxes().size(), 1u) << statement;
    EXPECT_EQ(recorder_.boxes()[0].text, "Error on line 3") << statement;
  }
}

TEST_F(LabCompilerTest, OpenStructuresAndPendingJumpsStopAt124) {
  // An open IF or WHILE is one entry, each AND or OR line of one a further
  // pending jump; the generator finds the excess at CLOSE.
  WriteLinkList();
  auto compile = [&](int ifs, int ors) {
    std::string source = "OPEN PLCC 0 ;Line 1\n";
    int line = 2;
    auto add = [&](const std::string& s) { source += s + " ;Line " + std::to_string(line++) + "\n"; };
    add("WHILE(P1<10)");
    for (int i = 1; i < ifs; ++i) add("IF(P1=1)");
    for (int i = 0; i < ors; ++i) add("OR(P2=2)");
    for (int i = 1; i < ifs; ++i) add("ENDIF");
    add("ENDWHILE");
    add("CLOSE");
    WriteText(Path("plc0.$$$"), source);
    recorder_.Clear();
    const int r = compile_the_file("plc0.$$$", "plc0.56k");
    return std::make_pair(r, recorder_.boxes().empty() ? std::string()
                                                       : recorder_.boxes()[0].text);
  };
  EXPECT_EQ(compile(124, 0), std::make_pair(0, std::string()));
  EXPECT_EQ(compile(120, 4), std::make_pair(0, std::string()));
  // 125 open blocks: lines 2 to 126 open, 127 to 251 close, CLOSE on 252.
  EXPECT_EQ(compile(125, 0), std::make_pair(1, std::string("Error on line 252")));
  EXPECT_EQ(compile(120, 5), std::make_pair(1, std::string("Error on line 247")));
}

TEST_F(LabCompilerTest, LinkListWrittenLastIsTheOneRead) {
  // A left-over list of other addresses beside the one the lab program has
  // just written, in either case of the name: the newer list is compiled in.
  std::string text = kPidAlgorithm;
  text.push_back('\0');
  ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", 0.000884f), 0);
  auto stale_list = [&](const std::string& name) {
    std::string list;
    for (int k = 0; k < plcc::kLabLinkValues; ++k) {
      char line[16];
      std::snprintf(line, sizeof line, "%06X\r\n", LinkValue(k) + 0x100);
      list += line;
    }
    WriteText(Path(name), list);
  };
  auto compiled = [&]() {
    EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
    return ReadText(Path("plc0.56k"));
  };
  const auto earlier = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);

  WriteLinkList(41, "listlink.txt");
  const std::string fresh = compiled();
  std::filesystem::remove(Path("listlink.txt"));
  stale_list("LISTLINK.TXT");
  const std::string stale = compiled();
  ASSERT_NE(fresh, stale);

  for (const bool exact_is_stale : {true, false}) {
    for (const auto& p : std::filesystem::directory_iterator(dir_)) {
      if (p.path().filename().string().find("istlink") != std::string::npos ||
          p.path().filename().string().find("ISTLINK") != std::string::npos) {
        std::filesystem::remove(p.path());
      }
    }
    const std::string stale_name = exact_is_stale ? "LISTLINK.TXT" : "listlink.txt";
    const std::string fresh_name = exact_is_stale ? "listlink.txt" : "LISTLINK.TXT";
    stale_list(stale_name);
    std::filesystem::last_write_time(Path(stale_name), earlier);
    WriteLinkList(41, fresh_name);
    EXPECT_EQ(compiled(), fresh) << fresh_name;
  }
}

TEST_F(LabCompilerTest, FrameDuplicateIsReportedOnTheBeginLine) {
  WriteLinkList();
  std::string text = "L200->X:$8,0,24,S\n\nBEGIN\nP1=1\nEND\n";
  text.push_back('\0');
  ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", 0.000884f), 0);
  EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 1);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Error on line 3");
}

TEST_F(LabCompilerTest, UntaggedFailureWithNoTagAfterItCountsPastTheEnd) {
  WriteLinkList();
  WriteText(Path("plc0.$$$"), "P1=1 ;Line 1\r\nOPEN PLCC 0\r\nP1=L1\r\nCLOSE\r\n");
  EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 1);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Error on line 5");
}

TEST_F(LabCompilerTest, MissingInputOrLinkListIsReportedAndWritesNothing) {
  WriteText(Path("plc0.$$$"), "OPEN PLCC 0\r\nP1=1\r\nCLOSE\r\n");
  for (int values : {-1, 40}) {
    recorder_.Clear();
    std::filesystem::remove(Path("listlink.txt"));
    if (values > 0) WriteLinkList(values);
    EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 2) << values;
    EXPECT_FALSE(std::filesystem::exists(Path("plc0.56k")));
    ASSERT_EQ(recorder_.boxes().size(), 1u);
    EXPECT_EQ(recorder_.boxes()[0].text, "Unable to open temp files.");
    EXPECT_EQ(recorder_.boxes()[0].caption, "Error");
  }
  recorder_.Clear();
  WriteLinkList();
  EXPECT_EQ(compile_the_file("nothing.$$$", "plc0.56k"), 2);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Unable to open temp files.");
}

TEST_F(LabCompilerTest, PidAlgorithmLoadsIntoTheCard) {
  WriteLinkList();
  std::string text = kPidAlgorithm;
  text.push_back('\0');
  ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", 0.000884f), 0);
  ASSERT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
  const std::string out = ReadText(Path("plc0.56k"));
  const std::vector<std::string> lines = Lines(out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "DISABLE PLCC 0..31");
  const auto words = Written(out);
  const std::size_t code = Code(out).size();
  std::map<std::uint32_t, std::uint32_t> table(words.lower_bound(0x8000),
                                               words.lower_bound(0x8062));
  EXPECT_EQ(table, TableWithOnlyProgram0(static_cast<std::uint32_t>(code)));
  EXPECT_EQ(words.size(), 98 + code);
  // The card library writes the same words for an older card with this link.
  const Compiled library = CompileForCard(ReadText(Path("plc0.$$$")));
  ASSERT_EQ(library.result, 0);
  EXPECT_EQ(words, Written(library.out));

  cardsim::Card card(cardsim::CardModel::Older());
  for (const std::string& line : lines) {
    ASSERT_EQ(card.Execute(line).error, 0) << line;
  }
  for (const auto& [address, word] : words) {
    char command[32];
    std::snprintf(command, sizeof command, "RHP$%X", address);
    char want[16];
    std::snprintf(want, sizeof want, "%06X", word);
    ASSERT_EQ(card.Execute(command).lines, std::vector<std::string>{want}) << command;
  }
}

}  // namespace
}  // namespace zimo::labhelper::testing
