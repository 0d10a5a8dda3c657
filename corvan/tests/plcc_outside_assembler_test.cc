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

  std::filesystem::path a56_;
  zimo::testing::TempHome home_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
  PlccTarget target_ = Older();
};

TEST_F(PlccOutsideAssemblerTest, ListingsAssembleToTheCodeWords) {
  // The spellings a56 lacks, each with its explicit mnemonic.
  const std::regex program_move(R"re(^\tMOVE(\t(P:[^,\s]+,\S+|[^,\s]+,P:\S+)))re");
  const std::regex control_move(
      R"re(^\tMOVE(\t(M[0-7]|SR|OMR|SP|SSH|SSL|LA|LC),(M[0-7]|SR|OMR|SP|SSH|SSL|LA|LC)(\s|$)))re");
  int program_moves = 0;
  int control_moves = 0;
  for (const Example& example : kExamples) {
    SCOPED_TRACE(example.name);
    const std::vector<std::string> plain = Compile(example.source, false);
    const std::vector<std::string> listed = Compile(example.source, true);
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
        ++program_moves;
      } else if (std::regex_search(line, control_move)) {
        line = std::regex_replace(line, control_move, "\tMOVEC$1");
        ++control_moves;
      }
      assembly.push_back(line);
    }
    std::string printed;
    const Memory assembled = Assemble(assembly, &printed);
    EXPECT_EQ(Differences(assembled, code), "") << printed;
  }
  std::printf("lines written with the explicit mnemonic for a56: MOVEM %d, MOVEC %d\n",
              program_moves, control_moves);
  RecordProperty("explicit_movem", program_moves);
  RecordProperty("explicit_movec", control_moves);
}

}  // namespace
}  // namespace zimo::corvan::plcc
