// Generated inputs shared by the NC fuzz targets: lines made of the
// language's words, letters, numbers and punctuation.
#include <random>
#include <string>
#include <vector>

#include "fuzz_replay.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 20000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* const kPieces[] = {
      "#",     "#1",    "#[",   "[",     "]",     "=",     "+",      "-",     "*",   "/",
      " EQ ",  " NE ",  " GT ", " GE ",  " LT ",  " LE ",  " AND ",  " OR ",  " XOR ",
      " MOD ", "SIN[",  "COS[", "TAN[",  "ATAN[", "ACOS[", "ASIN[",  "SQRT[", "ABS[",
      "EXP[",  "LN[",   "FIX[", "FUP[",  "ROUND[", "POPEN", "PCLOS", "DPRNT[", "IF",
      "WHILE", "GOTO",  "DO1",  "END1",  "THEN",  "G",     "G0.5",   "G41.1", "M",   "M3.5",
      "T0114", "N10",   "O5",   ":",     "X",     "Y-",    "Z1.5",   "U",     "F",   "S",
      "(",     ")",     "(A(B)C)", "*",  "%",     ";",     "/",      " ",     "\t",  "\r",
      "1",     "2",     ".",    "0",     "10E5",  "1.5D2", "70000",  "1.7e308", "99999999999",
      "\xC4",  "\x1A",  "\x7F", "e",     "d"};
  std::vector<std::uint8_t> input;
  const int pieces = 1 + static_cast<int>(random() % 40);
  for (int i = 0; i < pieces; ++i) {
    const std::string piece = kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
    input.insert(input.end(), piece.begin(), piece.end());
  }
  // Now and then a line as deep as the stacks or as long as the reader's room.
  if (random() % 50 == 0) input.insert(input.begin(), 150, '[');
  if (random() % 50 == 0) input.insert(input.end(), 400, '9');
  return input;
}

}  // namespace zimo::testing
