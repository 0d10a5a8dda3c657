// Character classes and the token vocabulary of the NC macro language.
#pragma once

#include <cstdint>

namespace zimo::nc {

enum CharClass : uint8_t {
  kClassOther = 0,
  kClassBlank = 1,       // tab, CR, space
  kClassEnd = 2,         // NUL, LF, 0x1A, '%', ';'
  kClassDigit = 3,       // '0'..'9' and '.'
  kClassSpecial = 4,     // '#', '(', '=', '[', ']'
  kClassArithmetic = 5,  // '*', '+', '-', '/'
  kClassLetter = 6,
};

// Bytes 128..255 are of class 0.
CharClass ClassOf(char c);
inline bool IsBlankClass(char c) {
  const CharClass k = ClassOf(c);
  return k == kClassBlank || k == kClassEnd;
}
inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Token indexes of the operator and function table.
enum Token : int {
  kTokNone = 0, kTokAdd = 1, kTokSub = 2, kTokMul = 3, kTokDiv = 4, kTokOpen = 5,
  kTokClose = 6, kTokPlus = 7, kTokMinus = 8, kTokEq = 9, kTokNe = 10, kTokGe = 11,
  kTokGt = 12, kTokLe = 13, kTokLt = 14, kTokAnd = 15, kTokMod = 16, kTokOr = 17,
  kTokXor = 18, kTokPclos = 19, kTokPopen = 20, kTokHash = 22, kTokAbs = 23,
  kTokAcos = 24, kTokAsin = 25, kTokAtan = 26, kTokCos = 27, kTokExp = 28, kTokFix = 29,
  kTokFup = 30, kTokLn = 31, kTokRound = 32, kTokSin = 33, kTokSqrt = 34, kTokTan = 35,
  kTokDprnt = 36,
};
inline constexpr int kTokenCount = 38;
// Indexes below this are operators, from it on functions.
inline constexpr int kFirstFunctionToken = 22;

const char* TokenText(int token);
int IncomingPrecedence(int token);
int StackPrecedence(int token);

// Keyword positions.
enum Keyword : int {
  kKeyNone = 0, kKeyIf = 1, kKeyThen = 2, kKeyWh = 3, kKeyWhile = 4, kKeyGoto = 6,
  kKeyDo = 7, kKeyEnd = 8
};
// The keyword text of a position ("" for none and for the empty entry).
const char* KeywordText(int position);

}  // namespace zimo::nc
