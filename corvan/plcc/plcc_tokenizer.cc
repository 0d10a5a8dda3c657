// The line scanner of the PLC source language: keywords, variables,
// constants, operators, command arguments and quoted texts.
#include "plcc/plcc_tokenizer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zimo::corvan::plcc {

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsHexDigit(char ch) { return IsDigit(ch) || (ch >= 'A' && ch <= 'F'); }

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

bool IsLineEnd(char ch) { return ch == '\n' || ch == '\r' || ch == ';' || ch == '\0'; }

// The operators and closing marks that are a token on their own.
constexpr char kOneCharTokens[] = "%*+,/)]";
constexpr std::uint32_t kOneCharCodes[] = {135, 130, 128, 136, 131, 98, 108};

std::uint32_t OneCharCode(char ch) {
  return kOneCharCodes[std::strchr(kOneCharTokens, ch) - kOneCharTokens];
}

// An optional sign after the blanks at `p`: "-" picks the negated form of
// `code` (the next code up), "+" is passed over.
std::uint32_t TakeSign(const char*& p, std::uint32_t code) {
  p = SkipBlanks(p);
  if (*p == '-') {
    ++p;
    return code + 1;
  }
  if (*p == '+') ++p;
  return code;
}

// The longest decimal number at `p` (digits, point, exponent); 0 characters
// when none converts.
std::size_t ScanDecimal(const char* p, double* value) {
  std::size_t n = 0;
  std::size_t mantissa = 0;
  while (IsDigit(p[n])) ++n, ++mantissa;
  if (p[n] == '.') {
    ++n;
    while (IsDigit(p[n])) ++n, ++mantissa;
  }
  if (mantissa == 0) return 0;
  if (p[n] == 'E') {
    std::size_t e = n + 1;
    if (p[e] == '+' || p[e] == '-') ++e;
    if (IsDigit(p[e])) {
      while (IsDigit(p[e])) ++e;
      n = e;
    }
  }
  char buffer[96];
  const std::size_t length = n < sizeof buffer - 1 ? n : sizeof buffer - 1;
  std::memcpy(buffer, p, length);
  buffer[length] = '\0';
  *value = std::strtod(buffer, nullptr);
  return n;
}

// Hexadecimal digits after "$": 0 characters when there are none.
std::size_t ScanHex(const char* p, double* value) {
  std::size_t n = 0;
  double v = 0;
  while (IsHexDigit(p[n])) {
    v = v * 16 + (IsDigit(p[n]) ? p[n] - '0' : p[n] - 'A' + 10);
    ++n;
  }
  *value = v;
  return n;
}

// A decimal integer or $hexadecimal number: the decimal form must be whole.
// nullptr when there is none or it is not whole.
const char* ScanWholeNumber(const char* p, double* value) {
  if (*p == '$') {
    const std::size_t n = ScanHex(p + 1, value);
    return n == 0 ? nullptr : p + 1 + n;
  }
  if (!IsDigit(*p)) return nullptr;
  double v = 0;
  const std::size_t n = ScanDecimal(p, &v);
  if (n == 0 || !std::isfinite(v) || v != std::floor(v)) return nullptr;
  *value = v;
  return p + n;
}

// Decimal digits only; -1 when there are none.
long ScanDigits(const char*& p) {
  if (!IsDigit(*p)) return -1;
  long v = 0;
  while (IsDigit(*p)) {
    if (v < 100000000) v = v * 10 + (*p - '0');
    ++p;
  }
  return v;
}

// What follows the closing bracket or parenthesis that matches the opening
// just before `p`: 0 nothing, 1 "=", 2 "|=", 3 "^=", 4 "&=", -1 "==".
int FindOperatorAfter(const char* p) {
  int depth = 1;
  for (; depth > 0 && !IsLineEnd(*p); ++p) {
    if (*p == '(' || *p == '[') ++depth;
    if (*p == ')' || *p == ']') --depth;
  }
  if (depth > 0) return 0;
  p = SkipBlanks(p);
  if (*p == '=') return p[1] == '=' ? -1 : 1;
  if (p[1] == '=') {
    if (*p == '|') return 2;
    if (*p == '^') return 3;
    if (*p == '&') return 4;
  }
  return 0;
}

// A list of numbers first..last with "a..b" ranges, rising, ending at a
// delimiter; bit (n - offset) per number.
int ParseNumberList(const char*& p, long first, long last, long offset, double* mask) {
  p = SkipBlanks(p);
  std::uint64_t bits = 0;
  long previous = first - 1;
  for (;;) {
    const long a = ScanDigits(p);
    if (a < 0 || a <= previous || a > last || a < first) return -kErrFormat;
    long b = a;
    if (p[0] == '.' && p[1] == '.') {
      p += 2;
      b = ScanDigits(p);
      if (b < 0 || b <= a || b > last) return -kErrFormat;
    }
    for (long n = a; n <= b; ++n) bits |= std::uint64_t{1} << (n - offset);
    previous = b;
    if (*p == ',') {
      ++p;
      continue;
    }
    if (!IsTokenDelimiter(*p)) return -kErrFormat;
    break;
  }
  *mask = static_cast<double>(bits);
  return 0;
}

// Spellings that differ between callers: the lab's COMMAND also reads "CD".
struct KeywordPatterns {
  const char* command;
};
constexpr KeywordPatterns kFullPatterns = {"CoMmanD"};
constexpr KeywordPatterns kLabPatterns = {"CommanD"};

class LineScanner {
 public:
  LineScanner(PlccCompilation& c, PlccToken* tokens, std::size_t& slot, std::size_t capacity)
      : c_(c), tokens_(tokens), slot_(slot), capacity_(capacity), first_slot_(slot) {}

  int Run(const char*& pos);

 private:
  int Emit(std::uint32_t code, double value = 0);
  int EmitUncounted(std::uint32_t code, double value);
  bool condition() const { return c_.grammar.condition; }
  bool in_special_section() const { return c_.servo_section || c_.varplcc_section; }
  bool lab() const { return c_.target.language == PlccLanguage::kLab; }
  const KeywordPatterns& patterns() const { return lab() ? kLabPatterns : kFullPatterns; }

  int Word(const char*& p);
  int Function(const char*& p, std::uint32_t code);
  int Connective(const char*& p, std::uint32_t line_code, std::uint32_t connective);
  int VariableIPQ(const char*& p, char letter);
  int NumberedVariable(const char*& p, std::uint32_t read, std::uint32_t assign);
  int VariableF(const char*& p);
  int VariableL(const char*& p);
  int VariableM(const char*& p);
  int CommandText(const char*& p, bool send);
  int Display(const char*& p);
  int Address(const char*& p);
  int Open(const char*& p);
  int PlcSwitch(const char*& p, std::uint32_t plc_code, std::uint32_t plcc_code);
  int AddPoolString(const char*& p, const std::uint8_t* header, std::size_t header_size,
                    std::size_t* offset);
  int AddPoolBytes(const std::uint8_t* bytes, std::size_t size, std::size_t* offset);
  int CheckLUse(int n, bool indexed, bool compound);
  int CheckFUse(int n, bool indexed);
  int CheckFRead(int n, bool indexed);

  PlccCompilation& c_;
  PlccToken* tokens_;
  std::size_t& slot_;
  std::size_t capacity_;
  std::size_t first_slot_;
  int count_ = 0;
  bool uncounted_ = false;
  bool closed_ = false;
};

int LineScanner::Emit(std::uint32_t code, double value) {
  if (slot_ >= capacity_) return -kErrTokens;
  PlccToken& t = tokens_[slot_];
  t.code = code;
  t.value = value;
  const int r = CheckPlccToken(c_, &t, tokens_, slot_);
  if (r != 0) return r;
  ++count_;
  ++slot_;
  return 0;
}

// Definitions, ASMOUT and LMOVERLAY stand alone on their line.
int LineScanner::EmitUncounted(std::uint32_t code, double value) {
  if (slot_ != first_slot_) return -kErrFormat;
  if (slot_ >= capacity_) return -kErrTokens;
  tokens_[slot_].code = code;
  tokens_[slot_].value = value;
  ++slot_;
  uncounted_ = true;
  return 0;
}

int LineScanner::Run(const char*& pos) {
  const char* p = SkipBlanks(pos);
  for (;;) {
    const unsigned char ch = static_cast<unsigned char>(*p);
    if (IsLineEnd(static_cast<char>(ch))) break;
    if (uncounted_) {
      pos = p;
      return -kErrFormat;
    }
    if (ch > 126) {
      pos = p;
      return -kErrFormat;
    }
    int r = 0;
    switch (ch) {
      case '!': {
        p = SkipBlanks(p + 1);
        std::uint32_t code = 0;
        if (*p == '=')
          code = 184;
        else if (*p == '>')
          code = 186;
        else if (*p == '<')
          code = 188;
        else if (*p == '~')
          code = 190;
        else
          return -kErrFormat;
        ++p;
        r = Emit(TakeSign(p, code));
        break;
      }
      case '$': {
        double v = 0;
        r = ParseConstant(p, &v, &p);
        if (r == 0) r = Emit(kTokConstant, v);
        break;
      }
      case '%':
      case '*':
      case '+':
      case ',':
      case '/':
      case ')':
      case ']':
        r = Emit(OneCharCode(static_cast<char>(ch))), ++p;
        break;
      case '&':
      case '|':
      case '^': {
        std::uint32_t code = ch == '&' ? 134 : ch == '|' ? 132 : 133;
        if (p[1] != '=') {
          ++p;
          r = Emit(code);
          break;
        }
        // The operator of an indexed compound assignment.
        const GrammarState& g = c_.grammar;
        if (g.phase != GrammarState::kAfterOperand || g.paren != 0 ||
            (g.statement & ~1u) != kTokIndexedCompound) {
          return -kErrFormat;
        }
        p += 2;
        r = Emit(TakeSign(p, ch == '&' ? 652 : ch == '|' ? 648 : 650));
        break;
      }
      case '(':
        ++p;
        r = Emit(TakeSign(p, 96));
        break;
      case '-': {
        const GrammarState& g = c_.grammar;
        const std::uint32_t prev = g.previous;
        const bool after_operator = g.has_previous && ((prev >= 128 && prev <= 136) ||
                                                       (prev >= 648 && prev <= 655) || (prev & 1));
        if (after_operator) {
          double v = 0;
          r = ParseConstant(p, &v, &p);
          if (r == 0) r = Emit(kTokConstant, v);
        } else {
          ++p;
          r = Emit(129);
        }
        break;
      }
      case '<':
      case '>':
      case '~':
        ++p;
        r = Emit(TakeSign(p, ch == '<' ? 180 : ch == '>' ? 178 : 182));
        break;
      case '=': {
        std::uint32_t code = (c_.grammar.statement & ~1u) == kTokIndexedTarget ? 654 : 176;
        p = SkipBlanks(p + 1);
        if (*p == '=') {
          // "==" takes a "-" after it but leaves a "+" to the expression.
          p = SkipBlanks(p + 1);
          if (*p == '-') ++code, ++p;
        } else {
          code = TakeSign(p, code);
        }
        r = Emit(code);
        break;
      }
      default:
        if (ch == '.' || IsDigit(static_cast<char>(ch))) {
          double v = 0;
          p += ScanDecimal(p, &v);  // a lone point reads as 0 and stays put
          r = Emit(kTokConstant, v);
        } else if (std::strchr("ACDEFILMOPQRSTUW", ch) != nullptr && ch != '\0') {
          r = Word(p);
        } else {
          r = -kErrFormat;
        }
        break;
    }
    if (r != 0) {
      pos = p;
      return r;
    }
    if (closed_) {
      pos = p;
      return count_;
    }
    p = SkipBlanks(p);
  }
  pos = p;
  if (!uncounted_) {
    const int r = IsPlccStatementComplete(c_);
    if (r != 0) return r;
  }
  return count_;
}

int LineScanner::Function(const char*& p, std::uint32_t code) {
  const char* q = SkipBlanks(p);
  if (*q != '(') return -kErrFormat;
  p = q + 1;
  return Emit(TakeSign(p, code));
}

// AND and OR begin a condition line at a statement start; elsewhere they
// join comparisons.
int LineScanner::Connective(const char*& p, std::uint32_t line_code, std::uint32_t connective) {
  if (c_.grammar.phase == GrammarState::kStart) {
    const int r = Emit(line_code);
    if (r != 0) return r;
    return Function(p, kTokParen);
  }
  return Emit(TakeSign(p, connective));
}

int LineScanner::Word(const char*& p) {
  const char* e = nullptr;
  auto is = [&](const char* pattern) {
    if (MatchKeyword(p, pattern, &e) != 0) return false;
    p = e;
    return true;
  };
  switch (*p) {
    case 'A':
      if (is("ABS")) return Function(p, 78);
      if (is("ADdRess")) return Address(p);
      if (is("ASIN")) return Function(p, 80);
      if (is("ACOS")) return Function(p, 82);
      if (is("ATAN2")) return Function(p, 94);
      if (is("ATAN")) return Function(p, 84);
      if (is("AND")) return Connective(p, kTokAndLine, 170);
      if (is("ASMOUT")) {
        if (lab()) return -kErrFormat;
        c_.asm_output = true;
        return EmitUncounted(kTokAsmOut, 0);
      }
      return -kErrFormat;
    case 'C':
      if (is("CLoSe")) {
        const int r = Emit(kTokClose);
        closed_ = r == 0;
        return r;
      }
      if (is("COPyReg")) {
        if (!c_.servo_section) return -kErrFormat;
        p = SkipBlanks(p);
        if (*p != 'P') return -kErrFormat;
        double v = 0;
        const std::size_t n = ScanDecimal(p + 1, &v);
        if (n == 0 || v < 0 || v >= c_.variable_limit || v != std::floor(v)) return -kErrFormat;
        p += 1 + n;
        return Emit(kTokCopyReg, v);
      }
      if (is("COS")) return Function(p, 74);
      if (is(patterns().command)) return CommandText(p, false);
      if (is("CLeaR")) return 0;
      if (is("CHN")) {
        if (!c_.varplcc_section) return -kErrFormat;
        p = SkipBlanks(p);
        if (*p != '=') return -kErrFormat;
        ++p;
        std::uint32_t code = 266;
        if (*p == '-') ++code, ++p;
        return Emit(code, 8192);
      }
      return -kErrFormat;
    case 'D':
      if (is("DISable_PLC")) return PlcSwitch(p, 321, 323);
      if (is("DISPlay")) return Display(p);
      return -kErrFormat;
    case 'E':
      if (is("ENAble_PLC")) return PlcSwitch(p, kTokEnablePlc, 322);
      if (is("EXP")) return Function(p, 88);
      if (is("END_If")) return Emit(kTokEndIf);
      if (is("END_While")) return Emit(kTokEndWhile);
      if (is("ELSE")) return Emit(kTokElse);
      return -kErrFormat;
    case 'F':
      if (!c_.spran || c_.varplcc_section) return -kErrFormat;
      if (is("FTOI")) return Function(p, 110);
      if (is("FLIMIT")) {
        if (!c_.servo_section) return -kErrFormat;
        return Function(p, 114);
      }
      ++p;
      return VariableF(p);
    case 'I':
      if (is("INT")) return Function(p, 92);
      if (is("IF")) {
        const int r = Emit(kTokIf);
        return r != 0 ? r : Function(p, kTokParen);
      }
      if (is("ITOF")) {
        // ITOF calls the firmware's long-to-float routine, which only the
        // extended firmware's routine table has.
        if (!c_.spran || c_.varplcc_section || !c_.extended_firmware) return -kErrFormat;
        return Function(p, 112);
      }
      ++p;
      return VariableIPQ(p, 'I');
    case 'L':
      if (is("LN")) return Function(p, 90);
      if (is("LOCK")) {
        if (!c_.extended_firmware || in_special_section()) return -kErrFormat;
        p = SkipBlanks(p);
        const long n = ScanDigits(p);
        if (n < 0 || n > 7) return -kErrFormat;
        p = SkipBlanks(p);
        if (*p != ',' || p[1] != 'P') return -kErrFormat;
        p += 2;
        const long m = ScanDigits(p);
        if (m < 0 || m >= c_.variable_limit) return -kErrFormat;
        return Emit(336, static_cast<double>(n + m * 256));
      }
      if (is("LMOVeRLaY")) {
        if (!c_.extended_firmware) return -kErrFormat;
        double a = 0;
        double b = c_.overlay_last;
        const char* q = ScanWholeNumber(SkipBlanks(p), &a);
        if (q == nullptr) return -kErrFormat;
        q = SkipBlanks(q);
        if (*q == ',' || *q == '-') {
          q = ScanWholeNumber(SkipBlanks(q + 1), &b);
          if (q == nullptr) return -kErrFormat;
        }
        if (a < 0 || a > b || b > 8191) return -kErrFormat;
        p = q;
        c_.overlay_first = static_cast<int>(a);
        c_.overlay_last = static_cast<int>(b);
        return EmitUncounted(kTokLmOverlay, 0);
      }
      ++p;
      return VariableL(p);
    case 'M':
      if (is("MTRNum")) {
        if (!c_.servo_section) return -kErrFormat;
        return Emit(46);
      }
      ++p;
      return VariableM(p);
    case 'O':
      if (is("OR")) return Connective(p, kTokOrLine, 168);
      {
        const char* start = p;
        if (is("OPeN")) {
          const int r = Open(p);
          if (r != 1) return r;
          p = start;  // no section word: OPTIMIZE OFF is tried from the start
        }
      }
      if (is("OPTImize_OFf")) {
        if (!c_.extended_firmware) return -kErrFormat;
        c_.optimize = false;
        return Emit(kTokOptimizeOff);
      }
      return -kErrFormat;
    case 'P':
    case 'Q': {
      const char letter = *p++;
      return VariableIPQ(p, letter);
    }
    case 'R':
      if (is("RETurn")) {
        if (lab()) return -kErrFormat;
        const char* q = SkipBlanks(p);
        if (*q != '(') return Emit(kTokReturn);
        if (!c_.servo_section) return -kErrFormat;
        return Function(p, 774);
      }
      return -kErrFormat;
    case 'S':
      if (is("SQRT")) return Function(p, 86);
      if (is("SIN")) return Function(p, 72);
      if (is("SEND")) return CommandText(p, true);
      if (is("SETPHASE")) {
        if (!c_.extended_firmware || in_special_section()) return -kErrFormat;
        double mask = 0;
        const int r = ParseNumberList(p, 1, 32, 1, &mask);
        return r != 0 ? r : Emit(338, mask);
      }
      return -kErrFormat;
    case 'T':
      if (is("TAN")) return Function(p, 76);
      return -kErrFormat;
    case 'U':
      if (is("UNLOCK")) {
        if (!c_.extended_firmware || in_special_section()) return -kErrFormat;
        p = SkipBlanks(p);
        const long n = ScanDigits(p);
        if (n < 0 || n > 7) return -kErrFormat;
        return Emit(337, static_cast<double>(n));
      }
      return -kErrFormat;
    case 'W':
      if (is("WHILE")) {
        const int r = Emit(kTokWhile);
        return r != 0 ? r : Function(p, kTokParen);
      }
      return -kErrFormat;
    default:
      return -kErrFormat;
  }
}

// ENABLE/DISABLE PLC or PLCC and the list of program numbers it applies to.
int LineScanner::PlcSwitch(const char*& p, std::uint32_t plc_code, std::uint32_t plcc_code) {
  std::uint32_t code = plc_code;
  if (*p == 'C') code = plcc_code, ++p;
  if (in_special_section()) return -kErrFormat;
  double mask = 0;
  const int r = ParseNumberList(p, 0, 31, 0, &mask);
  return r != 0 ? r : Emit(code, mask);
}

// OPEN PLCC n / OPEN SERVO / OPEN VARPLCC; 1 when no section word follows.
int LineScanner::Open(const char*& p) {
  const char* q = SkipBlanks(p);
  const char* e = nullptr;
  if (MatchKeyword(q, "PLCC_", &e) == 0) {
    double n = 0;
    const int r = ParseConstant(e, &n, &p);
    if (r != 0) return r;
    if (n < 0 || n > 31 || n != std::floor(n)) return -kErrRange;
    return Emit(kTokOpenPlcc, n);
  }
  if (lab()) return -kErrFormat;
  if (MatchKeyword(q, "SERVO", &e) == 0) {
    p = e;
    return Emit(kTokOpenServo);
  }
  if (MatchKeyword(q, "VARPLCC_", &e) == 0) {
    p = e;
    // Only a line that starts with it can open the section; elsewhere the
    // driver refuses it, and it must not change the compilation meanwhile.
    if (slot_ == first_slot_) {
      c_.variable_limit = 512;
      c_.UseVarPlccRoutines();
    }
    return Emit(kTokOpenVarPlcc, 0);
  }
  return 1;
}

int LineScanner::CheckLUse(int n, bool indexed, bool compound) {
  const VariableDefinition& d = c_.l_table[static_cast<std::size_t>(n)];
  if (!d.defined()) return indexed ? -kErrFormat : -kErrUndefined;
  if (indexed != IsLArray(d)) return -kErrFormat;
  if (compound && IsLArray(d)) return -kErrFormat;
  return 0;
}

int LineScanner::CheckFUse(int n, bool indexed) {
  const VariableDefinition& d = c_.f_table[static_cast<std::size_t>(n)];
  if (!d.defined()) return indexed ? -kErrFormat : -kErrUndefined;
  if (indexed != IsFArray(d)) return -kErrFormat;
  return 0;
}

// A read of an F variable in D memory converts with the long-to-float
// routine, which firmware without the extended routine table lacks.
int LineScanner::CheckFRead(int n, bool indexed) {
  if (const int r = CheckFUse(n, indexed); r != 0) return r;
  const VariableDefinition& d = c_.f_table[static_cast<std::size_t>(n)];
  if ((d.flags & 1) != 0 && !c_.extended_firmware) return -kErrFormat;
  return 0;
}

// I, P and Q: a number, or an indexed form with its parenthesis.
int LineScanner::VariableIPQ(const char*& p, char letter) {
  const std::uint32_t read = letter == 'I' ? 32 : letter == 'P' ? 36 : 38;
  const std::uint32_t assign = letter == 'I' ? 256 : letter == 'P' ? 260 : 262;
  const std::uint32_t indexed = letter == 'I' ? 64 : letter == 'P' ? 68 : 70;
  const double kind = letter == 'I' ? 0 : letter == 'P' ? 4 : 6;
  const char* q = SkipBlanks(p);
  if (*q == '(') {
    const int op = condition() ? 0 : FindOperatorAfter(q + 1);
    if (op != 0) {
      if (op != 1 || !c_.spran) return -kErrFormat;
      const int r = Emit(kTokIndexedTarget, kind);
      return r != 0 ? r : Function(p, kTokParen);
    }
    return Function(p, indexed);
  }
  return NumberedVariable(p, read, assign);
}

// A variable number below the limit, read, or outside a condition assigned
// with "=" ("==" there is refused).
int LineScanner::NumberedVariable(const char*& p, std::uint32_t read, std::uint32_t assign) {
  double n = 0;
  const char* e = ScanWholeNumber(SkipBlanks(p), &n);
  if (e == nullptr || n >= c_.variable_limit) return -kErrFormat;
  p = e;
  if (!condition()) {
    const char* q = SkipBlanks(p);
    if (*q == '=') {
      q = SkipBlanks(q + 1);
      if (*q == '=') return -kErrFormat;
      p = q;
      return Emit(TakeSign(p, assign), n);
    }
  }
  return Emit(read, n);
}

int LineScanner::VariableF(const char*& p) {
  const char* q = SkipBlanks(p);
  double value = 0;
  const char* e = ScanWholeNumber(q, &value);
  if (e == nullptr || value >= c_.variable_limit || value >= kDefinitionEntries) {
    return -kErrFormat;
  }
  const int n = static_cast<int>(value);
  p = SkipBlanks(e);
  if (p[0] == '-' && p[1] == '>') {
    int r = EmitUncounted(kTokFDefinition, n);
    if (r == 0) r = ParseLDDefinition(c_, p + 2, n, &p);
    return r;
  }
  if (*p == '[') {
    const int op = condition() ? 0 : FindOperatorAfter(p + 1);
    int r = op != 0 ? CheckFUse(n, true) : CheckFRead(n, true);
    if (r != 0) return r;
    if (op != 0) {
      if (op != 1) return -kErrFormat;
      r = Emit(kTokIndexedTarget, n * 256 + 12);
      if (r != 0) return r;
      ++p;
      return Emit(TakeSign(p, 106));
    }
    ++p;
    return Emit(TakeSign(p, 104), n);
  }
  if (!condition() && *p == '=') {
    const char* a = SkipBlanks(p + 1);
    if (*a == '=') return -kErrFormat;
    const std::uint32_t code = TakeSign(a, 268);
    const int r = CheckFUse(n, false);
    if (r != 0) return r;
    p = a;
    return Emit(code, n);
  }
  const int r = CheckFRead(n, false);
  return r != 0 ? r : Emit(44, n);
}

// The assignment operator after an L or M number: 0 none, 1 "=" (also
// "=="), 2 "|=", 3 "^=", 4 "&="; `minus` for a "-" after it.
int ParseAssignOperator(const char*& p, bool* minus) {
  int op = 0;
  if (*p == '=') {
    op = 1;
    p += p[1] == '=' ? 2 : 1;
  } else if (p[1] == '=' && (*p == '|' || *p == '^' || *p == '&')) {
    op = *p == '|' ? 2 : *p == '^' ? 3 : 4;
    p += 2;
  } else {
    return 0;
  }
  *minus = TakeSign(p, 0) != 0;
  return op;
}

int LineScanner::VariableL(const char*& p) {
  double value = 0;
  const char* e = ScanWholeNumber(p, &value);
  const int limit = c_.varplcc_section ? 512 : lab() ? 1024 : kDefinitionEntries;
  if (e == nullptr) return -kErrFormat;
  if (value >= limit) {
    // The lab's definition of a number past its table is still a definition:
    // refused as one, never copied through.
    const char* q = SkipBlanks(e);
    if (lab() && q[0] == '-' && q[1] == '>') {
      const int r = EmitUncounted(kTokLDefinition, value);
      return r != 0 ? r : -kErrRange;
    }
    return -kErrFormat;
  }
  const int n = static_cast<int>(value);
  p = SkipBlanks(e);
  if (p[0] == '-' && p[1] == '>') {
    int r = EmitUncounted(kTokLDefinition, n);
    if (r == 0) r = ParseXYDefinition(c_, p + 2, n, &p);
    return r;
  }
  if (*p == '[') {
    if (!c_.spran) return -kErrFormat;
    const int op = condition() ? 0 : FindOperatorAfter(p + 1);
    if (op < 0) return -kErrFormat;
    int r = CheckLUse(n, true, false);
    if (r != 0) return r;
    std::uint32_t code = 106;
    if (op != 0) {
      r = Emit(op == 1 ? kTokIndexedTarget : kTokIndexedCompound, n * 256 + 10);
      if (r != 0) return r;
    } else {
      code = 102;
    }
    ++p;
    code = TakeSign(p, code);
    return Emit(code, op != 0 ? 0 : n);
  }
  if (!condition()) {
    bool minus = false;
    const int op = ParseAssignOperator(p, &minus);
    if (op != 0) {
      const int r = CheckLUse(n, false, op != 1);
      if (r != 0) return r;
      static const std::uint32_t kCodes[] = {0, 266, 282, 284, 286};
      return Emit(kCodes[op] + (minus ? 1 : 0), n);
    }
  }
  const int r = CheckLUse(n, false, false);
  return r != 0 ? r : Emit(42, n);
}

int LineScanner::VariableM(const char*& p) {
  if (*p == 'I' || *p == 'M' || *p == 'P') {
    if (!c_.varplcc_section) return -kErrFormat;
    const char kind = *p++;
    c_.variable_limit = kind == 'I' ? 2000 : 512;
    const std::uint32_t read = kind == 'I' ? 48 : kind == 'M' ? 50 : 52;
    const std::uint32_t indexed = kind == 'I' ? 116 : kind == 'M' ? 118 : 120;
    const double target = kind == 'I' ? 16 : kind == 'M' ? 18 : 20;
    const char* q = SkipBlanks(p);
    if (*q == '[') {
      const int op = condition() ? 0 : FindOperatorAfter(q + 1);
      std::uint32_t code = indexed;
      if (op != 0) {
        if (op != 1 || !c_.spran) return -kErrFormat;
        const int r = Emit(kTokIndexedTarget, target);
        if (r != 0) return r;
        code = 106;
      }
      p = q + 1;
      return Emit(TakeSign(p, code));
    }
    return NumberedVariable(p, read, read + 224);  // 272, 274, 276
  }
  const char* q = SkipBlanks(p);
  if (*q == '(') {
    const int op = (condition() || !c_.spran) ? 0 : FindOperatorAfter(q + 1);
    if (op < 0) return -kErrFormat;
    if (op != 0) {
      const int r = Emit(op == 1 ? kTokIndexedTarget : kTokIndexedCompound, 2);
      return r != 0 ? r : Function(p, kTokParen);
    }
    return Function(p, 66);
  }
  double value = 0;
  const char* e = ScanWholeNumber(p, &value);
  if (e == nullptr || value >= c_.variable_limit) return -kErrFormat;
  p = SkipBlanks(e);
  if (!condition()) {
    bool minus = false;
    const int op = ParseAssignOperator(p, &minus);
    if (op != 0) {
      static const std::uint32_t kCodes[] = {0, 258, 270, 278, 280};
      return Emit(kCodes[op] + (minus ? 1 : 0), value);
    }
  }
  return Emit(34, value);
}

int LineScanner::AddPoolBytes(const std::uint8_t* bytes, std::size_t size, std::size_t* offset) {
  if (c_.pool_fill + size > c_.pool.size()) return -kErrString;
  *offset = c_.pool_fill;
  std::memcpy(c_.pool.data() + c_.pool_fill, bytes, size);
  c_.pool_fill += size;
  return 0;
}

// A quoted text after `header` into the pool, ended by one to three zero
// bytes so that the word holding its end holds a zero byte.
int LineScanner::AddPoolString(const char*& p, const std::uint8_t* header, std::size_t header_size,
                               std::size_t* offset) {
  if (*p != '"') return -kErrString;
  const char* end = p + 1;
  while (*end != '"' && *end != '\0' && *end != '\n' && *end != '\r') ++end;
  if (*end != '"') return -kErrString;
  const std::size_t length = static_cast<std::size_t>(end - p - 1);
  if (length > 255) return -kErrString;
  const std::size_t zeros = 3 - length % 3;
  if (c_.pool_fill + header_size + length + zeros > c_.pool.size()) return -kErrString;
  *offset = c_.pool_fill;
  std::uint8_t* out = c_.pool.data() + c_.pool_fill;
  if (header_size != 0) std::memcpy(out, header, header_size);
  std::memcpy(out + header_size, p + 1, length);
  std::memset(out + header_size + length, 0, zeros);
  c_.pool_fill += header_size + length + zeros;
  p = end + 1;
  return 0;
}

int LineScanner::CommandText(const char*& p, bool send) {
  if (in_special_section()) return -kErrFormat;
  std::uint8_t header[3] = {0, 0, 0};
  if (c_.spran) {
    std::uint8_t port = 0;
    switch (*p) {
      case 'P':
        port = 0x14;
        break;
      case 'S':
        port = 0x34;
        break;
      case 'R':
        port = 0x24;
        break;
      case 'A':
        port = 0x44;
        break;
      default:
        break;
    }
    if (port != 0) ++p;
    if (send && port == 0) return -kErrString;
    header[0] = send ? port : static_cast<std::uint8_t>(0x84 | port);
  } else if (send) {
    std::uint8_t code = 0x30;
    if (*p == 'P')
      code = 0x10, ++p;
    else if (*p == 'S')
      code = 0x20, ++p;
    header[1] = code;
  }
  p = SkipBlanks(p);
  std::size_t offset = 0;
  if (*p == '^') {
    const char ch = p[1];
    if (!c_.spran && send) {
      if (ch < 64 || ch > 95) return -kErrRange;
    } else if (ch < 'A' || ch > 'Z') {
      return -kErrFormat;
    }
    p += 2;
    const std::uint8_t control = static_cast<std::uint8_t>(ch - 64);
    if (c_.spran || send) {
      const std::uint8_t bytes[6] = {header[0], header[1], header[2], 0, 0, control};
      const int r = AddPoolBytes(bytes, sizeof bytes, &offset);
      if (r != 0) return r;
      return Emit(c_.spran ? kTokCommandChar : kTokCommandText, static_cast<double>(offset));
    }
    // COMMAND ^c on older cards: firmware from 1.16F on takes it as a
    // command entry (header word, then the control code's word).
    if (CompareFirmware5(c_.target.firmware.c_str(), "1.16F") >= 0) {
      const std::uint8_t bytes[6] = {0, 0, 0, 0, 0, control};
      const int r = AddPoolBytes(bytes, sizeof bytes, &offset);
      if (r != 0) return r;
      return Emit(kTokCommandText, static_cast<double>(offset));
    }
    return Emit(kTokCommandChar, control);
  }
  const int r = AddPoolString(p, header, sizeof header, &offset);
  if (r != 0) return r;
  return Emit(kTokCommandText, static_cast<double>(offset));
}

int LineScanner::Display(const char*& p) {
  if (in_special_section()) return -kErrFormat;
  p = SkipBlanks(p);
  std::size_t offset = 0;
  if (*p == '"') {
    const int r = AddPoolString(p, nullptr, 0, &offset);
    return r != 0 ? r : Emit(kTokDisplayText, static_cast<double>(offset));
  }
  const long position = ScanDigits(p);
  if (position < 0) return -kErrFormat;
  if (position > 79) return -kErrRange;
  p = SkipBlanks(p);
  if (*p == '"') {
    const int r = AddPoolString(p, nullptr, 0, &offset);
    if (r != 0) return r;
    return Emit(kTokDisplayText, static_cast<double>(position * 65536 + static_cast<long>(offset)));
  }
  if (*p != ',') return -kErrFormat;
  ++p;
  const long width = ScanDigits(p);
  if (width < 0) return -kErrFormat;
  if (width < 2 || width > 16) return -kErrRange;
  if (*p != '.') return -kErrFormat;
  ++p;
  const long decimals = ScanDigits(p);
  if (decimals < 0) return -kErrFormat;
  // The digits before the point must leave room for the decimals.
  if (decimals > 9 || decimals > width - 1) return -kErrRange;
  if (*p != ',') return -kErrFormat;
  ++p;
  int type = 0;
  switch (*p) {
    case 'I':
      type = 0;
      break;
    case 'M':
      type = 1;
      break;
    case 'P':
      type = 2;
      break;
    case 'Q':
      type = 3;
      break;
    default:
      return -kErrFormat;
  }
  double n = 0;
  const int r = ParseConstant(p + 1, &n, &p);
  if (r != 0) return r;
  if (n < 0 || n >= c_.variable_limit || n != std::floor(n)) return -kErrRange;
  const std::uint32_t high =
      static_cast<std::uint32_t>(position + ((((width - 1 - decimals) * 16) + decimals) << 8));
  const std::uint32_t packed =
      (high << 16) + static_cast<std::uint32_t>(type) + static_cast<std::uint32_t>(n) * 4;
  return Emit(kTokDisplayVar, static_cast<double>(static_cast<std::int32_t>(packed)));
}

int LineScanner::Address(const char*& p) {
  if (in_special_section()) return -kErrFormat;
  p = SkipBlanks(p);
  const long motors = c_.spran ? 32 : 8;
  const long systems = c_.spran ? 16 : 8;
  const char first = *p;
  if (first != '#' && (first != '&' || lab())) return -kErrFormat;
  ++p;
  if (*p == 'P') {
    if (!c_.extended_firmware) return -kErrRange;
    ++p;
    const long n = ScanDigits(p);
    if (n < 0 || n >= c_.variable_limit) return -kErrFormat;
    return Emit(326, static_cast<double>(n * 65536 + (first == '#' ? 0x80 : 0x8000)));
  }
  const long a = ScanDigits(p);
  if (a < 0 || a < 1 || a > (first == '#' ? motors : systems)) return -kErrRange;
  long motor = first == '#' ? a : 0;
  long system = first == '&' ? a : 0;
  const char* q = SkipBlanks(p);
  const char second = first == '#' ? '&' : '#';
  if (*q == second && !lab()) {
    ++q;
    const long b = ScanDigits(q);
    if (b < 1 || b > (second == '#' ? motors : systems)) return -kErrRange;
    (second == '#' ? motor : system) = b;
    p = q;
  }
  return Emit(326, static_cast<double>(motor + system * 256));
}

}  // namespace

bool IsTokenDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';' || c == '\0';
}

int MatchKeyword(const char* input, const char* pattern, const char** end) {
  const char* in = input;
  for (const char* pat = pattern; *pat != '\0'; ++pat) {
    const bool optional = (*pat >= 'a' && *pat <= 'z') || *pat == '_';
    const char want = *pat == '_' ? ' ' : optional ? static_cast<char>(*pat - 'a' + 'A') : *pat;
    if (*in == want) {
      ++in;
    } else if (!optional) {
      return 1;
    }
  }
  *end = in;
  return 0;
}

int ParseConstant(const char* text, double* value, const char** end) {
  const char* p = SkipBlanks(text);
  bool negative = false;
  bool sign = false;
  if (*p == '-' || *p == '+') {
    sign = true;
    negative = *p == '-';
    p = SkipBlanks(p + 1);
  }
  double v = 0;
  if (*p == '$') {
    const std::size_t n = ScanHex(p + 1, &v);
    if (n == 0) return -kErrConvert;
    p += 1 + n;
  } else if (IsDigit(*p) || *p == '.') {
    const std::size_t n = ScanDecimal(p, &v);
    if (n == 0) {
      if (!(sign && *p == '.' && (p[1] == ' ' || p[1] == '\t'))) return -kErrConvert;
      v = 0;
      ++p;
    } else {
      p += n;
    }
  } else {
    return -kErrConvert;
  }
  *value = negative ? -v : v;
  *end = p;
  return 0;
}

int PlccTokenizeLine(PlccCompilation& c, const char*& pos, PlccToken* tokens, std::size_t& slot,
                     std::size_t capacity) {
  CheckPlccToken(c, nullptr, tokens, slot);
  if (slot < capacity) tokens[slot].code = 0;
  LineScanner scanner(c, tokens, slot, capacity);
  return scanner.Run(pos);
}

}  // namespace zimo::corvan::plcc
