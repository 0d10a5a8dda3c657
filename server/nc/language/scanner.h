// The line cursor of the macro language: classifying the next token of a
// line, keyword tests and number conversion. The cursor works on a line that
// ends with a NUL; nothing here allocates.
#pragma once

#include <cstdint>

#include "nc/language/nc_types.h"

namespace zimo::nc {

// What the expression parser needs of the controller: its macro variables and
// the display format of an axis letter.
class NcMacroEnvironment {
 public:
  virtual ~NcMacroEnvironment() = default;
  // Reads variable `number`; false when it cannot be read (the variables
  // layer reports why).
  virtual bool ReadVariable(unsigned cs, int number, double* value) = 0;
  // Whether `number` may be the target of an assignment.
  virtual bool CanAssign(unsigned cs, int number) = 0;
  // Writes an assignment; false when refused.
  virtual bool WriteVariable(unsigned cs, int number, double value) = 0;
  // Decimals shown for the axis of address slot `slot` in the current units.
  virtual int AxisFormatDigits(unsigned cs, int slot) = 0;
};

// Kinds of the token under the cursor.
enum TokenKind : int {
  kKindStart = 0,       // start of an expression
  kKindEnd = 1,         // end of line or only blanks left
  kKindComment = 2,     // "("
  kKindLetter = 3,      // an address letter
  kKindAssign = 4,      // "="
  kKindOpen = 5,        // "["
  kKindClose = 6,       // "]"
  kKindVariable = 7,    // "#" and a number
  kKindNumber = 8,      // a number (with its sign where a term is expected)
  kKindArithmetic = 9,  // "+", "-", "*", "/"
  kKindWord = 10,       // an operator or function word, or "#["
  kKindLetterVar = 11,  // a letter followed by "#" and a digit
  kKindLetterExpr = 12, // a letter followed by "[", "#[" or a sign without digit
  kKindKeyword = 13,    // IF, THEN, WH, WHILE, GOTO, DO, END
  kKindDprnt = 14,      // DPRNT followed by "["
};

// The scan state of one line of one coordinate system.
struct NcLineCursor {
  unsigned cs = 0;
  NcCardSide* card = nullptr;        // where errors go
  NcMacroEnvironment* env = nullptr; // variables and axis formats
  uint32_t line_number = 0;          // reported with errors
  const char* line = nullptr;        // first character of the line
  const char* pos = nullptr;         // scan position
  bool ok = true;                    // false ends the line
  bool bracket_condition = false;    // IF/WHILE: the expression ends at its bracket
  int word_slot = kSlotNone;         // address word whose value is read
  int prev_kind = kKindStart;
  int prev_token = 0;
  int kind = kKindStart;
  int token = 0;
  double value = 0.0;
  bool macro_line = false;
  bool macro_call = false;

  void Reset(const char* text) {
    line = pos = text;
    ok = true;
    bracket_condition = false;
    word_slot = kSlotNone;
    prev_kind = kind = kKindStart;
    prev_token = token = 0;
    value = 0.0;
    macro_line = macro_call = false;
  }
  // Records a code error of this line and ends the line.
  void Fail(uint32_t id);
};

// Counts the blank and end-of-line characters at the start of text; -1 when
// the text ends (NUL) first.
int SkipBlanks(const char* text);
// The text after any blanks (stops at the NUL).
const char* AfterBlanks(const char* text);

// Sets the cursor's kind and token from the next token without moving it;
// false when the next character cannot start a token.
bool ClassifyNext(NcLineCursor& cursor);
// The kind of the next token; the cursor's kind and token are kept.
int PeekNextKind(NcLineCursor& cursor, int* token = nullptr);

// The first non-empty token text that begins `text` (case ignored), 0 if none.
int FindTokenWord(const char* text);
// The operator or function word at the cursor: operators as found, functions
// only when "[" follows; 0 otherwise.
int OperatorWord(const char* text);
// The keyword at text (its position in the keyword table), 0 if none.
int KeywordWord(const char* text);

// Keyword tests on the text (case ignored).
bool IsGotoWord(const char* text);
bool IsThenWord(const char* text);
bool IsPopenWord(const char* text);
bool IsPclosWord(const char* text);
bool IsIfWord(const char* text);     // IF, blanks, "["
bool IsDoWord(const char* text);     // DO, blanks, a digit
bool IsEndWord(const char* text);    // END, blanks, a digit
bool IsDprntWord(const char* text);  // DPRNT, blanks, "["
int WhileWordLength(const char* text);  // WHILE or WH, blanks, "[": 5 or 2; else 0

// The number at text: blanks skipped, one optional sign, digits with an
// optional point. No exponent: "10E5" converts as 10. *end is where the
// conversion stopped (text when nothing converted). Overflow gives +-inf.
double ConvertNumber(const char* text, const char** end);

// Converts the number at the cursor into *value and moves past it. Fails
// (reporting the error and ending the line) on overflow, on nothing to
// convert, or with digit_check on a digit or point where the conversion
// stopped.
bool ReadNumber(NcLineCursor& cursor, double* value, bool digit_check);

}  // namespace zimo::nc
