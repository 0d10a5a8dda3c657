#include "nc/language/scanner.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "nc/language/code_error.h"
#include "nc/language/error_ids.h"
#include "nc/language/tokens.h"

namespace zimo::nc {

void NcLineCursor::Fail(uint32_t id) {
  ok = false;
  if (card != nullptr) CodeError(*card, cs, line_number, id);
}

int SkipBlanks(const char* text) {
  int n = 0;
  for (const char* p = text;; ++p, ++n) {
    if (*p == '\0') return -1;
    if (!IsBlankClass(*p)) return n;
  }
}

const char* AfterBlanks(const char* text) {
  while (*text != '\0' && IsBlankClass(*text)) ++text;
  return text;
}

namespace {

// Case-insensitive: does text begin with word (given in capitals)?
bool StartsWith(const char* text, const char* word) {
  for (; *word != '\0'; ++word, ++text) {
    if (Upper(*text) != *word) return false;
  }
  return true;
}

bool IsSign(char c) { return c == '+' || c == '-'; }

}  // namespace

int FindTokenWord(const char* text) {
  for (int t = 0; t < kTokenCount; ++t) {
    const char* word = TokenText(t);
    if (*word != '\0' && StartsWith(text, word)) return t;
  }
  return 0;
}

int OperatorWord(const char* text) {
  text = AfterBlanks(text);
  const int token = FindTokenWord(text);
  if (token == 0) return 0;
  if (token < kFirstFunctionToken) return token;
  const char* after = AfterBlanks(text + std::strlen(TokenText(token)));
  return *after == '[' ? token : 0;
}

int KeywordWord(const char* text) {
  char word[11];
  int n = 0;
  while (n < 10 && ClassOf(text[n]) == kClassLetter) {
    word[n] = Upper(text[n]);
    ++n;
  }
  if (n < 2) return 0;
  word[n] = '\0';
  for (int k = 1; k <= kKeyEnd; ++k) {
    const char* keyword = KeywordText(k);
    if (*keyword != '\0' && std::strcmp(keyword, word) == 0) return k;
  }
  return 0;
}

bool IsGotoWord(const char* text) { return StartsWith(text, "GOTO"); }
bool IsThenWord(const char* text) { return StartsWith(text, "THEN"); }
bool IsPopenWord(const char* text) { return StartsWith(text, "POPEN"); }
bool IsPclosWord(const char* text) { return StartsWith(text, "PCLOS"); }
bool IsIfWord(const char* text) {
  return StartsWith(text, "IF") && *AfterBlanks(text + 2) == '[';
}
bool IsDoWord(const char* text) { return StartsWith(text, "DO") && IsDigit(*AfterBlanks(text + 2)); }
bool IsEndWord(const char* text) {
  return StartsWith(text, "END") && IsDigit(*AfterBlanks(text + 3));
}
bool IsDprntWord(const char* text) {
  return StartsWith(text, "DPRNT") && *AfterBlanks(text + 5) == '[';
}
int WhileWordLength(const char* text) {
  if (StartsWith(text, "WHILE")) return *AfterBlanks(text + 5) == '[' ? 5 : 0;
  if (StartsWith(text, "WH")) return *AfterBlanks(text + 2) == '[' ? 2 : 0;
  return 0;
}

bool ClassifyNext(NcLineCursor& c) {
  const char* p = AfterBlanks(c.pos);
  const char ch = Upper(*p);
  if (ch == '\0') {
    c.kind = kKindEnd;
    c.token = 0;
    return true;
  }
  switch (ClassOf(ch)) {
    case kClassSpecial:
      c.token = 0;
      if (ch == '#') {
        if (*AfterBlanks(p + 1) == '[') {
          c.kind = kKindWord;
          c.token = kTokHash;
        } else {
          c.kind = kKindVariable;
        }
      } else if (ch == '(') {
        c.kind = kKindComment;
      } else if (ch == '=') {
        c.kind = kKindAssign;
      } else if (ch == '[') {
        c.kind = kKindOpen;
      } else {
        c.kind = kKindClose;
      }
      return true;
    case kClassArithmetic:
      if (ch == '*' || ch == '/') {
        c.kind = kKindArithmetic;
        c.token = ch == '*' ? kTokMul : kTokDiv;
        return true;
      }
      if ((c.prev_kind == kKindArithmetic || c.prev_kind == kKindOpen ||
           c.prev_kind == kKindStart || c.prev_kind == kKindAssign) &&
          IsDigit(*AfterBlanks(p + 1))) {
        c.kind = kKindNumber;
        c.token = 0;
      } else {
        c.kind = kKindArithmetic;
        c.token = ch == '+' ? kTokAdd : kTokSub;
      }
      return true;
    case kClassLetter: {
      const char* next = AfterBlanks(p + 1);
      const char* after = *next != '\0' ? AfterBlanks(next + 1) : next;
      c.token = 0;
      if (*next == '#') {
        if (IsDigit(*after)) {
          c.kind = kKindLetterVar;
          return true;
        }
        if (*after == '[') {
          c.kind = kKindLetterExpr;
          return true;
        }
      } else if (IsSign(*next)) {
        c.kind = IsDigit(*after) ? kKindLetter : kKindLetterExpr;
        return true;
      } else if (*next == '[') {
        c.kind = kKindLetterExpr;
        return true;
      }
      const int token = OperatorWord(p);
      if (token == kTokDprnt) {
        c.kind = kKindDprnt;
        c.token = token;
      } else if (token != 0) {
        c.kind = kKindWord;
        c.token = token;
      } else if (const int keyword = KeywordWord(p); keyword != 0) {
        c.kind = kKindKeyword;
        c.token = keyword;
      } else {
        c.kind = kKindLetter;
      }
      return true;
    }
    case kClassEnd:
      c.kind = kKindEnd;
      c.token = 0;
      return true;
    case kClassDigit:
      c.kind = kKindNumber;
      c.token = 0;
      return true;
    default:
      return false;
  }
}

int PeekNextKind(NcLineCursor& c, int* token) {
  const int kind = c.kind;
  const int tok = c.token;
  const int next = ClassifyNext(c) ? c.kind : -1;
  if (token != nullptr) *token = c.token;
  c.kind = kind;
  c.token = tok;
  return next;
}

double ConvertNumber(const char* text, const char** end) {
  const char* p = text;
  while (*p != '\0' && (static_cast<unsigned char>(*p) < 33 || *p == 127)) ++p;
  bool negative = false;
  if (IsSign(*p)) {
    negative = *p == '-';
    ++p;
  }
  const char* digits = p;
  while (IsDigit(*p) || *p == '.') ++p;
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(digits, p, value, std::chars_format::fixed);
  if (ec == std::errc::invalid_argument) {
    *end = text;
    return 0.0;
  }
  if (ec == std::errc::result_out_of_range) {
    // Too large when a non-zero digit stands before the point, else too small.
    bool large = false;
    for (const char* q = digits; q < ptr && *q != '.'; ++q) large = large || (*q != '0');
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
  }
  *end = ptr;
  return negative ? -value : value;
}

bool ReadNumber(NcLineCursor& c, double* value, bool digit_check) {
  const char* end = nullptr;
  const double v = ConvertNumber(c.pos, &end);
  if (std::isinf(v)) {
    c.Fail(kErrConversionOverflow);
    return false;
  }
  const bool nothing = end == c.pos;
  if (nothing || (digit_check && ClassOf(*end) == kClassDigit)) {
    const uint32_t id =
        nothing && ClassOf(*end) != kClassDigit ? kErrAddressValue : kErrTooManyDigits;
    c.pos = nothing ? end + (*end != '\0') : end;
    c.Fail(id);
    return false;
  }
  c.pos = end;
  *value = v;
  return true;
}

}  // namespace zimo::nc
