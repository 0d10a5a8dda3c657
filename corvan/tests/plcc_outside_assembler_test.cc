// The assembly listing (ASMOUT) assembled by an outside DSP56000 assembler,
// a56, must give the very words the compiler places without ASMOUT: every
// address of the block code, nothing more and nothing less. Older cards only:
// a56 knows the DSP56000 instruction set, not the SPRAN card's additions.
//
// a56 lacks two spellings that DSP56000 assembly allows and the listing
// uses: MOVE for the program-memory move MOVEM ("MOVE P:$8023,X0") and for
// the control-register move MOVEC ("MOVE M4,M5"). The check writes those
// lines with the explicit mnemonic before assembling, counts them by form
// and prints the counts; their words are compared like all the others.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "plcc/plcc_compiler.h"
#include "plcc_test_files.h"
#include "temp_home.h"

namespace zimo::corvan::plcc {
namespace {

using testing::Older;
using testing::OutputLines;
using testing::ReadText;
using testing::WriteText;
using testing::WrittenMemory;
using Memory = std::map<std::uint32_t, std::uint32_t>;

std::filesystem::path FindA56() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::filesystem::path candidate = std::filesystem::path(dir) / "a56";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Example programs for an older card: every statement and operand form that
// card compiles, with blocks that reuse label numbers, loops in PLCC 0 and
// in other PLCs, a RETURN before CLOSE, and the commands that have no
// instruction text.
struct Example {
  const char* name;
  const char* source;
};
const Example kExamples[] = {
    {"conditions and enable", R"(OPEN PLCC 1
IF (P1 = 1)
  P2 = P2 + 1
  ENABLE PLC 1
ELSE
  DISABLE PLC 3
ENDIF
IF (P3 > 2)
  Q4 = Q(5) * 2
ENDIF
RETURN
CLOSE
OPEN PLCC 2
IF (P1 = 1)
  P2 = 3
  ENABLE PLCC 0..31
ENDIF
CLOSE
)"},
    {"bit fields and loops", R"(L1->X:$10,0,8
L2->Y:$11,24
L3->X:$12,16,8
L4->X:$12,4,12
L5->Y:$13,20,4
OPEN PLCC 0
WHILE (P1 < 10)
  P1 = P1 + 1
ENDWHILE
WHILE (P2 < 10)
  IF (L1 = 3 AND P2 > 1)
    L3 = L4 + L5
    L5 = L3 - 1
  ELSE
    L4 = L1 & 15
    L1 = L2 * 2 | 2
  ENDIF
  P2 = P2 + 1
ENDWHILE
CLOSE
OPEN PLCC 3
WHILE (P7 < 10)
  P7 = P7 + 1
ENDWHILE
WHILE (P8 < 10)
  Q3 = SIN(P7) + ABS(P8) - P9 / 3
ENDWHILE
CLOSE
)"},
    {"expressions", R"(OPEN PLCC 7
IF (P1 > 0)
AND (P2 < 0)
OR (P3 = 1)
  P4 = -2.5 * P5 / (P6 + 1)
  Q7 = COS(Q8) + SQRT(P9) + ATAN2(P1)
  M20 = I130 + M21
  P10 = Q(P1 + 2) + I(P3) + M(P4) + P(P2)
ENDIF
IF (P11 !> -3 OR P12 != 4)
  P13 = EXP(P11) % 3
ENDIF
IF (P4 ~ 2)
  P8 = -P8
ENDIF
CLOSE
)"},
    {"operand order, nesting and a command in PLCC 0", R"(L1->X:$10,24
L2->Y:$11,0,12
OPEN PLCC 0
IF (P1 > 0)
OR (P2 < 0)
  P3 = P1 + P2 * P3
  P4 = P1 - P2 - P3
  P0 = P300
  P5 = -P5
  P6 = -2 * P1
  L1 = -7 + L1
  L1 = L1 + 5
  P7 = P1 * I100 + 2
  WHILE (L1 < 100)
    IF (L2 = 0)
      L1 = L1 + 1
    ENDIF
    L2 = L1 / 3
  ENDWHILE
  COMMAND "#1J+"
  DISPLAY 10,8.3,P5
ENDIF
CLOSE
)"},
    {"commands", R"(OPEN PLCC 5
IF (P1 = 1)
  COMMAND "#1J+"
  COMMAND ^A
  SEND "P1"
  ADDRESS #2
  DISPLAY 0,8.2,P1
ENDIF
P2 = 1
CLOSE
)"},
};

// The addresses whose words differ, one line each ("" when none do).
std::string Differences(const Memory& assembled, const Memory& code) {
  std::string out;
  auto word = [](const Memory& m, std::uint32_t a) {
    const auto at = m.find(a);
    char text[16] = "none";
    if (at != m.end()) std::snprintf(text, sizeof text, "$%06X", static_cast<unsigned>(at->second));
    return std::string(text);
  };
  std::set<std::uint32_t> addresses;
  for (const auto& entry : assembled) addresses.insert(entry.first);
  for (const auto& entry : code) addresses.insert(entry.first);
  int shown = 0;
  for (const std::uint32_t a : addresses) {
    if (word(assembled, a) == word(code, a)) continue;
    if (++shown > 20) return out + "...\n";
    char line[80];
    std::snprintf(line, sizeof line, "P:$%04X assembled %s, placed %s\n", static_cast<unsigned>(a),
                  word(assembled, a).c_str(), word(code, a).c_str());
    out += line;
  }
  return out;
}

class PlccOutsideAssemblerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a56_ = FindA56();
    if (a56_.empty()) {
      GTEST_SKIP() << "a56 (Debian package a56) is not installed: the listing is not assembled";
    }
  }

  std::vector<std::string> Compile(const std::string& source, bool listing) {
    WriteText(in_, (listing ? "ASMOUT\n" : "") + source);
    const PlccCompileResult r = CompilePlccFile(target_, in_.c_str(), out_.c_str(), nullptr);
    EXPECT_EQ(r.result, 0) << source;
    return OutputLines(out_);
  }

  // Assembles `lines` from the block origin; the words a56 places, by
  // address. Fails the test on any complaint of the assembler.
  Memory Assemble(const std::vector<std::string>& lines, std::string* listing) {
    std::string text;
    char org[32];
    std::snprintf(org, sizeof org, "\tORG\tP:$%X\n", static_cast<unsigned>(target_.code_start));
    text += org;
    for (const std::string& l : lines) text += l + "\n";
    text += "\tEND\n";
    const std::filesystem::path asm_file = home_.path() / "listing.asm";
    const std::filesystem::path lod = home_.path() / "listing.lod";
    const std::filesystem::path printed = home_.path() / "a56.txt";
    const std::filesystem::path errors = home_.path() / "a56.err";
    WriteText(asm_file, text);
    const std::string command = "'" + a56_.string() + "' -b -o '" + lod.string() + "' '" +
                                asm_file.string() + "' >'" + printed.string() + "' 2>'" +
                                errors.string() + "'";
    const int status = std::system(command.c_str());
    *listing = ReadText(printed);
    EXPECT_EQ(status, 0) << ReadText(errors);
    EXPECT_EQ(ReadText(errors), "");
    Memory words;
    std::ifstream in(lod);
    for (std::string line; std::getline(in, line);) {
      unsigned address = 0;
      unsigned word = 0;
      if (std::sscanf(line.c_str(), "P %x %x", &address, &word) == 2) words[address] = word;
    }
    return words;
  }

  // Compiles `source` with and without ASMOUT, assembles the listing and
  // compares every word with the code words.
  void Check(const std::string& source) {
    // The spellings a56 lacks, each with its explicit mnemonic.
    static const std::regex program_move(R"re(^\tMOVE(\t(P:[^,\s]+,\S+|[^,\s]+,P:\S+)))re");
    static const std::regex control_move(
        R"re(^\tMOVE(\t(M[0-7]|SR|OMR|SP|SSH|SSL|LA|LC),(M[0-7]|SR|OMR|SP|SSH|SSL|LA|LC)(\s|$)))re");
    const std::vector<std::string> plain = Compile(source, false);
    const std::vector<std::string> listed = Compile(source, true);
    // The block code: what the plain output writes and the listing's own
    // memory writes (the PLC tables) do not.
    Memory code = WrittenMemory(plain);
    for (const auto& [address, word] : WrittenMemory(listed)) code.erase(address);
    ASSERT_FALSE(code.empty());
    // The listing: the output's lines that are neither memory writes nor
    // lines the plain output has too (the driver's card commands).
    std::multiset<std::string> card_lines;
    for (const std::string& l : plain) {
      if (l.rfind("WP:", 0) != 0) card_lines.insert(l);
    }
    std::vector<std::string> assembly;
    for (const std::string& l : listed) {
      if (l.rfind("WP:", 0) == 0) continue;
      const auto card = card_lines.find(l);
      if (card != card_lines.end()) {
        card_lines.erase(card);
        continue;
      }
      std::string line = l;
      if (std::regex_search(line, program_move)) {
        line = std::regex_replace(line, program_move, "\tMOVEM$1");
        ++program_moves_;
      } else if (std::regex_search(line, control_move)) {
        line = std::regex_replace(line, control_move, "\tMOVEC$1");
        ++control_moves_;
      }
      assembly.push_back(line);
    }
    std::string printed;
    const Memory assembled = Assemble(assembly, &printed);
    EXPECT_EQ(Differences(assembled, code), "") << printed;
  }
  void ReportRewrites() {
    std::printf("lines written with the explicit mnemonic for a56: MOVEM %d, MOVEC %d\n",
                program_moves_, control_moves_);
    RecordProperty("explicit_movem", program_moves_);
    RecordProperty("explicit_movec", control_moves_);
  }

  int program_moves_ = 0;
  int control_moves_ = 0;
  std::filesystem::path a56_;
  zimo::testing::TempHome home_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
  PlccTarget target_ = Older();
};

TEST_F(PlccOutsideAssemblerTest, ListingsAssembleToTheCodeWords) {
  for (const Example& example : kExamples) {
    SCOPED_TRACE(example.name);
    Check(example.source);
  }
  ReportRewrites();
}

// Programs made up of random statements (a fixed seed: the same programs
// every run), nested up to three levels, over every older-card form the
// examples use.
class ProgramMaker {
 public:
  explicit ProgramMaker(std::uint32_t seed) : random_(seed) {}

  std::string Program() {
    std::string text =
        "L1->X:$10,24\nL2->Y:$11,0,12\nL3->X:$12,16,8\nL4->Y:$13,4,4\nL5->X:$14,20,4\n"
        "L6->X:$15,0,1\nL7->Y:$16,23,1\nL8->X:$17,8,16\n";
    const int blocks = 1 + Pick(3);
    for (int b = 0; b < blocks; ++b) {
      text += "OPEN PLCC " + std::to_string(Pick(32)) + "\n";
      for (int n = 1 + Pick(5); n > 0; --n) Statement(0, text);
      text += "CLOSE\n";
    }
    return text;
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<std::uint32_t>(n)); }
  template <std::size_t N>
  const char* One(const char* const (&choices)[N]) {
    return choices[Pick(static_cast<int>(N))];
  }

  std::string FloatOperand(int depth) {
    static const char* const kVariable[] = {"P", "Q", "I", "M"};
    static const char* const kNumber[] = {"0", "1", "2", "63", "100", "300", "1023"};
    static const char* const kConstant[] = {"0",     "1",   "3.5", "-2",   "1000",
                                            "-0.25", "255", "256", "70000"};
    static const char* const kFunction[] = {"SIN(", "COS(",  "TAN(",  "SQRT(", "ABS(", "EXP(",
                                            "LN(",  "ATAN(", "ASIN(", "ACOS(", "INT("};
    static const char* const kIndexed[] = {"Q(", "P(", "I(", "M("};
    const int r = depth > 1 ? Pick(6) : Pick(10);
    if (r < 4) return std::string(One(kVariable)) + One(kNumber);
    if (r < 6) return One(kConstant);
    if (r < 8) return One(kFunction) + FloatExpression(depth + 1) + ")";
    if (r < 9) return One(kIndexed) + FloatExpression(depth + 1) + ")";
    return "(" + FloatExpression(depth + 1) + ")";
  }
  std::string FloatExpression(int depth) {
    static const char* const kOperator[] = {"+", "-", "*", "/", "%"};
    std::string e = FloatOperand(depth);
    for (int n = Pick(depth == 0 ? 3 : 2); n > 0; --n) e += One(kOperator) + FloatOperand(depth);
    return e;
  }
  std::string IntOperand() {
    static const char* const kConstant[] = {"0", "1", "5", "-3", "255", "256", "4096", "-70000"};
    return Pick(5) < 3 ? "L" + std::to_string(1 + Pick(8)) : One(kConstant);
  }
  std::string IntExpression() {
    static const char* const kOperator[] = {"+", "-", "*", "/", "%", "|", "^", "&"};
    std::string e = IntOperand();
    for (int n = Pick(3); n > 0; --n) e += One(kOperator) + IntOperand();
    return e;
  }
  std::string Condition() {
    static const char* const kIntCompare[] = {"=", "!=", ">", "<", "!>", "!<"};
    static const char* const kFloatCompare[] = {"=", "!=", ">", "<", "!>", "!<", "~", "!~"};
    std::string c = "(";
    for (int n = 1 + Pick(3); n > 0; --n) {
      if (c.size() > 1) c += Pick(2) == 0 ? " AND " : " OR ";
      if (Pick(2) == 0) {
        c += "L" + std::to_string(1 + Pick(8)) + One(kIntCompare) + IntOperand();
      } else {
        c += FloatOperand(1) + One(kFloatCompare) + FloatOperand(1);
      }
    }
    return c + ")";
  }
  void Statement(int depth, std::string& text) {
    static const char* const kTarget[] = {"P1", "Q2", "M50", "I300", "P300"};
    static const char* const kCommand[] = {"ENABLE PLC 1",      "DISABLE PLCC 2..5",
                                           "ENABLE PLCC 0..31", "DISABLE PLC 31",
                                           "COMMAND \"#1J+\"",  "COMMAND ^A",
                                           "SEND \"P1\"",       "ADDRESS #2",
                                           "DISPLAY 10,8.3,P5", "RETURN"};
    const int r = depth > 2 ? 40 : Pick(100);
    if (r < 35) {
      text += std::string(One(kTarget)) + "=" + FloatExpression(0) + "\n";
    } else if (r < 60) {
      text += "L" + std::to_string(1 + Pick(8)) + "=" + IntExpression() + "\n";
    } else if (r < 70) {
      text += std::string(One(kCommand)) + "\n";
    } else {
      const bool loop = Pick(2) == 0;
      text += (loop ? "WHILE " : "IF ") + Condition() + "\n";
      if (Pick(2) == 0) text += (Pick(2) == 0 ? "AND " : "OR ") + Condition() + "\n";
      for (int n = 1 + Pick(3); n > 0; --n) Statement(depth + 1, text);
      if (!loop && Pick(5) < 2) {
        text += "ELSE\n";
        for (int n = 1 + Pick(2); n > 0; --n) Statement(depth + 1, text);
      }
      text += loop ? "ENDWHILE\n" : "ENDIF\n";
    }
  }

  std::mt19937 random_;
};

TEST_F(PlccOutsideAssemblerTest, MadeUpProgramsAssembleToTheCodeWords) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    const std::string source = ProgramMaker(seed).Program();
    SCOPED_TRACE(source);
    Check(source);
    if (HasFailure()) break;
  }
  ReportRewrites();
}


// Label names at their limits: all 32 blocks, each with IF/ELSE and a loop
// more than once and a RETURN before CLOSE; one block opened three times;
// IFs nested thirty deep. Every label stays unique in the file.
TEST_F(PlccOutsideAssemblerTest, LabelsStayUniqueInFullPrograms) {
  std::string blocks;
  for (int b = 0; b < 32; ++b) {
    blocks += "OPEN PLCC " + std::to_string(b) + "\n";
    for (int i = 0; i < 4; ++i) {
      blocks += "IF (P" + std::to_string(i) + " = " + std::to_string(b) +
                ")\nP1=P1+1\nELSE\nWHILE (P2 < 3)\nP2=P2+1\nENDWHILE\nENDIF\n";
    }
    blocks += "RETURN\nCLOSE\n";
  }
  std::string deep = "OPEN PLCC 4\n";
  for (int i = 0; i < 30; ++i) deep += "IF (P1 > " + std::to_string(i) + ")\n";
  deep += "P2=1\n";
  for (int i = 0; i < 30; ++i) deep += "ENDIF\n";
  deep += "CLOSE\n";
  const std::pair<const char*, std::string> programs[] = {
      {"every block", blocks},
      {"one block three times",
       "OPEN PLCC 1\nP1=1\nCLOSE\nOPEN PLCC 1\nP1=2\nRETURN\nCLOSE\n"
       "OPEN PLCC 1\nIF (P1=1)\nP2=1\nENDIF\nCLOSE\n"},
      {"thirty deep", deep},
  };
  for (const auto& [name, source] : programs) {
    SCOPED_TRACE(name);
    Check(source);
  }
}

}  // namespace
}  // namespace zimo::corvan::plcc
