// Generated inputs of the PLC compiler fuzz target for the replay driver:
// by turns, sources made of the language's words, variables, numbers and
// signs (now and then a random byte), and blocks of statements that parse.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz_replay.h"

namespace {

std::string Generate(std::mt19937& random) {
  static const char* const kPieces[] = {"P1",
                                        "P0",
                                        "P300",
                                        "Q5",
                                        "I100",
                                        "M7",
                                        "L1",
                                        "L5[",
                                        "F2",
                                        "F3[",
                                        "MTRNUM",
                                        "MI1",
                                        "MP2",
                                        "MM3",
                                        "MI[",
                                        "=",
                                        "=-",
                                        "|=",
                                        "&=",
                                        "+",
                                        "-",
                                        "*",
                                        "/",
                                        "|",
                                        "^",
                                        "&",
                                        "%",
                                        "(",
                                        "(-",
                                        ")",
                                        "]",
                                        ",",
                                        "1",
                                        "2.5",
                                        "-3",
                                        "0",
                                        "$10",
                                        "1E400",
                                        "IF",
                                        "WHILE",
                                        "AND",
                                        "OR",
                                        "ELSE",
                                        "ENDIF",
                                        "ENDWHILE",
                                        "RETURN",
                                        "ABS(",
                                        "SIN(",
                                        "ATAN2(",
                                        "FTOI(",
                                        "ITOF(",
                                        "Q(",
                                        "I(",
                                        "M(",
                                        "P(",
                                        "FLIMIT(",
                                        "RET(",
                                        "~",
                                        "!~",
                                        ">",
                                        "<",
                                        "!=",
                                        "COMMAND\"#1J+\"",
                                        "SEND^A",
                                        "CMD^B",
                                        "DISPLAY 3\"HI\"",
                                        "DISPLAY 10,8.3,P5",
                                        "ADDRESS#2&3",
                                        "ADDRESS#P4",
                                        "LOCK 2,P300",
                                        "UNLOCK 1",
                                        "SETPHASE 1,3",
                                        "ENABLE PLC 1",
                                        "DISABLE PLCC 2..4",
                                        "COPYREG P5",
                                        "CHN=",
                                        "\n",
                                        "\n",
                                        "\n",
                                        " ",
                                        "OPEN PLCC 0\n",
                                        "OPEN PLCC 5\n",
                                        "OPEN SERVO\n",
                                        "OPEN VARPLCC\n",
                                        "CLOSE\n",
                                        "L1->X:$10,24\n",
                                        "L5->X:$100[16]\n",
                                        "L2->Y:$20,8,8,S\n",
                                        "L3->X:(R1-3)\n",
                                        "F2->D:$200\n",
                                        "F3->L:$300[8]\n",
                                        "OPTIMIZE OFF\n",
                                        "LMOVERLAY 100,200\n",
                                        "ASMOUT\n"};
  constexpr std::size_t kCount = sizeof kPieces / sizeof kPieces[0];
  std::string source;
  const int pieces = 1 + static_cast<int>(random() % 60);
  for (int i = 0; i < pieces; ++i) {
    if (random() % 40 == 0) {
      source.push_back(static_cast<char>(random()));
    } else {
      source += kPieces[random() % kCount];
    }
  }
  return source;
}

// A block of statements that parse, nested properly, with now and then a
// piece of noise.
std::string Structured(std::mt19937& random) {
  static const char* const kOperands[] = {
      "P1", "P0",       "P300",    "Q5",      "I100",  "M7",        "1",       "2.5", "-3",
      "0",  "ABS(-P2)", "(P1+P2)", "SIN(P3)", "Q(P1)", "ATAN2(P1)", "I(P2+1)", "P(3)"};
  static const char* const kIntOperands[] = {"L1", "L5[L1]", "L2", "3", "$10", "-L1", "(L1+2)"};
  static const char* const kOps[] = {"+", "-", "*", "/", "|", "^", "&", "%"};
  static const char* const kCmp[] = {"=", ">", "<", "~", "!=", "!>", "!<", "!~", "=-"};
  auto expr = [&](bool integer) {
    std::string e;
    const int n = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < n; ++i) {
      if (i > 0) e += kOps[random() % 8];
      e += integer ? kIntOperands[random() % 7] : kOperands[random() % 17];
    }
    return e;
  };
  const bool spran_only = random() % 2 == 0;
  std::string s = "L1->X:$10,24\nL2->Y:$20,8,8\nL5->X:$100[16]\n";
  if (spran_only) s += "F2->D:$200\nF3->L:$300[8]\n";
  s += "OPEN PLCC " + std::to_string(random() % 32) + "\n";
  std::vector<int> open;  // 0 IF, 1 IF with ELSE, 2 WHILE
  const int lines = 1 + static_cast<int>(random() % 25);
  for (int i = 0; i < lines; ++i) {
    switch (random() % 12) {
      case 0:
      case 1: {
        const bool integer = random() % 2 == 0;
        s += std::string(random() % 2 == 0 ? "IF (" : "WHILE (") + expr(integer) +
             kCmp[random() % 9] + expr(integer);
        if (random() % 3 == 0)
          s += std::string(random() % 2 ? " AND " : " OR ") + expr(false) + ">" + expr(false);
        s += ")\n";
        open.push_back(s[s.rfind('\n', s.size() - 2) + 1] == 'W' ? 2 : 0);
        if (random() % 3 == 0)
          s += std::string(random() % 2 ? "AND (" : "OR (") + expr(false) + "<1)\n";
        break;
      }
      case 2:
        if (!open.empty()) {
          if (open.back() == 0 && random() % 2 == 0) {
            s += "ELSE\n";
            open.back() = 1;
          } else {
            s += open.back() == 2 ? "ENDWHILE\n" : "ENDIF\n";
            open.pop_back();
          }
        }
        break;
      case 3:
        s += "L1=" + expr(true) + "\n";
        break;
      case 4:
        s += std::string(random() % 2 ? "L5[L1]" : "L1") + (random() % 2 ? "|=" : "=-") +
             expr(true) + "\n";
        break;
      case 5: {
        static const char* const kCommands[] = {"COMMAND\"#1J+\"", "SEND^A",
                                                "DISPLAY 3\"HI\"", "DISPLAY 10,8.3,Q5",
                                                "ADDRESS#2&3",     "LOCK 2,P300",
                                                "UNLOCK 1",        "SETPHASE 1,3",
                                                "ENABLE PLC 1",    "DISABLE PLCC 2..4",
                                                "RETURN",          "ADDRESS#P4",
                                                "F2=P1",           "F3[L1]=P2",
                                                "M(P1)=2",         "M(P1)|=2",
                                                "Q(3)=P1",         "M7^=P1"};
        s += kCommands[random() % 18];
        s += "\n";
        break;
      }
      case 6:
        if (random() % 4 == 0) s += static_cast<char>(random());
        break;
      default:
        s += std::string(random() % 2 ? "P4=" : (random() % 2 ? "Q6=-" : "M8=")) + expr(false) +
             "\n";
        break;
    }
  }
  while (!open.empty()) {
    s += open.back() == 2 ? "ENDWHILE\n" : "ENDIF\n";
    open.pop_back();
  }
  s += "CLOSE\n";
  return s;
}

}  // namespace

namespace zimo::testing {

const int kFuzzGeneratedInputs = 3000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static int turn = 0;
  const std::string input = turn++ % 2 == 0 ? Generate(random) : Structured(random);
  return std::vector<std::uint8_t>(input.begin(), input.end());
}

}  // namespace zimo::testing
