#include "dpr/rotary_parser.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zimo::corvan {
namespace {

// Token codes.
constexpr int kEnd = 0;
constexpr int kConstant = 40;
constexpr int kParen = 96;
constexpr int kClose = 98;
constexpr int kEquals = 100;
constexpr int kPlus = 128;
constexpr int kMinus = 129;
constexpr int kOr = 168;
constexpr int kAnd = 170;
constexpr int kComparison = 176;
constexpr int kIf = 292;
constexpr int kWhile = 296;
constexpr int kWord = 320;
constexpr int kTimeWord = 321;
constexpr int kPlcList = 322;
constexpr int kAbsInc = 323;
constexpr int kFrax = 324;
constexpr int kMotorList = 325;
constexpr int kCountCommand = 326;
constexpr int kPlainCommand = 327;
constexpr int kIndirectAssign = 770;
constexpr int kIndirectMOperator = 772;

constexpr std::int32_t kAllAxes = 0x2AAAA;

bool IsStatementCode(int code) {
  return (code >= 256 && code <= 383) || (code >= 770 && code <= 773);
}
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) { return IsDigit(c) ? c - '0' : (c & ~0x20) - 'A' + 10; }
bool EndsLine(char c) { return c == '\0' || c == '\n' || c == ';'; }
// Where a PLC or motor list may end.
bool EndsList(char c) { return IsBlank(c) || c == '\r' || EndsLine(c); }

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

// Keyword patterns written with the optional letters in lower case and an
// optional blank as '_'; Pattern() turns them into the matcher's form (bit 7
// set on optional letters).
struct Pattern {
  std::array<unsigned char, 16> bytes{};
  constexpr explicit Pattern(const char* text) {
    for (std::size_t i = 0; text[i] != '\0' && i + 1 < bytes.size(); ++i) {
      const char c = text[i];
      if (c == '_') {
        bytes[i] = static_cast<unsigned char>(' ' | 0x80);
      } else if (c >= 'a' && c <= 'z') {
        bytes[i] = static_cast<unsigned char>((c - 'a' + 'A') | 0x80);
      } else {
        bytes[i] = static_cast<unsigned char>(c);
      }
    }
  }
};

bool Match(const char* text, const Pattern& pattern, const char** end) {
  return RotaryMatchKeyword(text, pattern.bytes.data(), end) == 0;
}

// A number read from the text.
struct Number {
  double value = 0;
  bool fraction = false;  // a decimal point was written
};

// Reads a decimal number (digits, a fraction, an exponent "E" with an
// optional sign when digits follow it) or "$" and hexadecimal digits at
// *p. A lone "." reads as 0. False when nothing readable stands there or the
// number is beyond a double.
bool ReadNumber(const char*& p, Number* number) {
  const char* s = p;
  if (*s == '$') {
    ++s;
    if (!IsHexDigit(*s)) return false;
    double v = 0;
    while (IsHexDigit(*s)) v = v * 16 + HexValue(*s++);
    number->value = v;
    number->fraction = false;
    p = s;
    return true;
  }
  if (!IsDigit(*s) && *s != '.') return false;
  const char* first = s;
  bool digits = false;
  while (IsDigit(*s)) ++s, digits = true;
  bool fraction = false;
  if (*s == '.') {
    fraction = true;
    ++s;
    while (IsDigit(*s)) ++s, digits = true;
  }
  if (digits && *s == 'E') {
    const char* e = s + 1;
    if (*e == '+' || *e == '-') ++e;
    if (IsDigit(*e)) {
      while (IsDigit(*e)) ++e;
      s = e;
    }
  }
  double v = 0;
  if (digits) {
    // from_chars reads no leading '.' before digits the same way on every
    // library, so a leading '.' gets a 0 in front of it.
    char text[320];
    const std::size_t length = static_cast<std::size_t>(s - first);
    if (length + 1 >= sizeof text) return false;
    std::size_t at = 0;
    if (*first == '.') text[at++] = '0';
    std::memcpy(text + at, first, length);
    at += length;
    const auto [ptr, ec] = std::from_chars(text, text + at, v);
    if (ec != std::errc() || ptr != text + at || !std::isfinite(v)) return false;
  }
  number->value = v;
  number->fraction = fraction;
  p = s;
  return true;
}

// Reads an unsigned integer the way C reads base 0 ("0X..." hex, "0..."
// octal, decimal otherwise), saturating just above 32 bits.
bool ReadInteger(const char*& p, std::uint64_t* value) {
  const char* s = p;
  if (!IsDigit(*s)) return false;
  std::uint64_t v = 0;
  auto add = [&v](std::uint64_t base, int digit) {
    v = v * base + static_cast<std::uint64_t>(digit);
    if (v > 0x100000000ull) v = 0x100000000ull;
  };
  if (s[0] == '0' && (s[1] == 'X' || s[1] == 'x') && IsHexDigit(s[2])) {
    s += 2;
    while (IsHexDigit(*s)) add(16, HexValue(*s++));
  } else if (s[0] == '0') {
    while (*s >= '0' && *s <= '7') add(8, *s++ - '0');
  } else {
    while (IsDigit(*s)) add(10, *s++ - '0');
  }
  *value = v;
  p = s;
  return true;
}

// A PLC or motor list: numbers lo..hi, single or as ranges a..b, separated
// by ",", strictly ascending; bit (n - bias) of the mask per number.
bool ReadList(const char*& p, std::uint32_t lo, std::uint32_t hi, std::uint32_t bias,
              std::uint32_t* mask) {
  const char* s = SkipBlanks(p);
  std::uint32_t bits = 0;
  std::int64_t last = -1;
  for (;;) {
    std::uint64_t a = 0;
    if (!ReadInteger(s, &a) || a < lo || a > hi || static_cast<std::int64_t>(a) <= last) {
      return false;
    }
    std::uint64_t b = a;
    if (s[0] == '.' && s[1] == '.' && IsDigit(s[2])) {
      s += 2;
      if (!ReadInteger(s, &b) || b < a || b > hi) return false;
    }
    for (std::uint64_t n = a; n <= b; ++n) bits |= 1u << (n - bias);
    last = static_cast<std::int64_t>(b);
    if (*s == ',') {
      ++s;
      continue;
    }
    if (!EndsList(*s)) return false;
    break;
  }
  *mask = bits;
  p = s;
  return true;
}

// An axis list "(" letters separated by "," ")" at *p (the "(" included):
// the mask, or false when the text there forms no axis list.
bool ReadAxisList(const char*& p, std::uint32_t* mask) {
  const char* s = p;
  if (*s != '(') return false;
  ++s;
  std::uint32_t bits = 0;
  for (;;) {
    s = SkipBlanks(s);
    // R is bit 0; A B C U V W X Y Z the odd bits 1 to 17.
    static constexpr char kAxes[] = "RABCUVWXYZ";
    const char* axis = *s != '\0' ? std::strchr(kAxes, *s) : nullptr;
    if (axis == nullptr) return false;
    const int index = static_cast<int>(axis - kAxes);
    const int bit = index == 0 ? 0 : 2 * index - 1;
    bits |= 1u << bit;
    s = SkipBlanks(s + 1);
    if (*s == ',') {
      ++s;
      continue;
    }
    if (*s != ')') return false;
    ++s;
    break;
  }
  *mask = bits;
  p = s;
  return true;
}

int WordCode(char letter) {
  if (letter >= 'A' && letter <= 'M') return letter - 'A' + 1;
  if (letter >= 'P' && letter <= 'Z') return letter - 'P' + 16;
  return 0;
}

class Lexer {
 public:
  Lexer(const RotaryDialect& dialect, const char* text, RotaryToken* tokens)
      : dialect_(dialect), p_(text), tokens_(tokens) {}

  int Run();

 private:
  // Stores a token and checks it.
  int Emit(int code, double value = 0, int word = 0, int sub = 0, int count = 0) {
    if (stored_ >= kRotaryTokenLimit) return kRotaryTooLong;
    if (code != kEnd && stored_ >= kRotaryTokenLimit - 1) return kRotaryTooLong;
    RotaryToken& t = tokens_[stored_++];
    t = RotaryToken{};
    t.code = code;
    t.value = value;
    t.word = word + block_start_;
    t.sub = sub;
    t.count = count;
    previous_ = code;
    const int checked = syntax_.Check(code);
    block_start_ = 0;
    return checked;
  }
  // A "-" after optional blanks: consumed, 1; else 0.
  int MinusAfter() {
    const char* s = SkipBlanks(p_);
    if (*s == '-') {
      p_ = s + 1;
      return 1;
    }
    return 0;
  }
  // A function, IF or WHILE: "(" must follow; a "-" after it selects the
  // odd code.
  int Opening(int code) {
    p_ = SkipBlanks(p_);
    if (*p_ != '(') return kRotaryIllegal;
    ++p_;
    return Emit(code + MinusAfter());
  }
  int Comparison(int word) {
    p_ = SkipBlanks(p_);
    int minus = 0;
    if (*p_ == '-') {
      minus = 1;
      ++p_;
    } else if (*p_ == '+') {
      ++p_;
    }
    return Emit(kComparison, 0, word + minus);
  }
  // "=", "==", "&=", "|=", "^=" outside a condition: the "=" of an indirect
  // assignment (the operator already consumed, p_ after its "=").
  int AssignEquals() { return Emit(kEquals + MinusAfter()); }

  int Valued(int expression, int kind, int valued, int word, int sub);
  int Word(int code) { return Valued(270, code, kWord, code, 0); }
  int TimeWord(int time_code) { return Valued(272, time_code, kTimeWord, 28, time_code); }
  int Variable(char letter);
  int Letter();
  int NegativeConstant();

  const RotaryDialect& dialect_;
  const char* p_;
  RotaryToken* tokens_;
  int stored_ = 0;
  int previous_ = 0;
  int block_start_ = kRotaryBlockStart;
  RotarySyntax syntax_;
};

// A word or time word (its letter or keyword consumed): "(" gives the
// expression form (`expression`, with `kind` as its sub-code), else a signed
// number must follow and gives the `valued` token.
int Lexer::Valued(int expression, int kind, int valued, int word, int sub) {
  p_ = SkipBlanks(p_);
  if (*p_ == '(') {
    ++p_;
    return Emit(expression + MinusAfter(), 0, 0, kind);
  }
  const char* s = p_;
  double sign = 1;
  if (*s == '+' || *s == '-') {
    if (*s == '-') sign = -1;
    s = SkipBlanks(s + 1);
  }
  Number n;
  if (!ReadNumber(s, &n)) return kRotaryBadNumber;
  p_ = s;
  return Emit(valued, sign * n.value, word, sub);
}

// I, M, P or Q (the letter consumed).
int Lexer::Variable(char letter) {
  const int type = letter == 'I' ? 0 : letter == 'M' ? 1 : letter == 'P' ? 2 : 3;
  const int word_code = WordCode(letter);
  const bool is_m = letter == 'M';
  const char* s = SkipBlanks(p_);
  if (*s == '(') {
    p_ = s + 1;
    if (syntax_.ExpectsOperand()) return Emit(64 + 2 * type + MinusAfter());
    // At statement level, what follows the matching ")" decides.
    const char* q = p_;
    int depth = 1;
    while (!EndsLine(*q) && depth > 0) {
      if (*q == '(') ++depth;
      if (*q == ')') --depth;
      ++q;
    }
    if (depth == 0) {
      q = SkipBlanks(q);
      if (is_m) {
        int op = -1;
        if (q[0] == '=' && q[1] == '=')
          op = 3;
        else if (q[0] == '&' && q[1] == '=')
          op = 2;
        else if (q[0] == '|' && q[1] == '=')
          op = 0;
        else if (q[0] == '^' && q[1] == '=')
          op = 1;
        if (op >= 0) return Emit(kIndirectMOperator + MinusAfter(), 0, 0, 2 * op);
      }
      if (q[0] == '=') return Emit(kIndirectAssign + MinusAfter(), 0, 0, 2 * type);
    }
    return Emit(270 + MinusAfter(), 0, 0, word_code);
  }
  // A number: decimal or hexadecimal, with an optional sign, right after the
  // letter ("P 1" is no variable).
  s = p_;
  if (!IsDigit(*s) && *s != '$' && *s != '+' && *s != '-' && *s != '.') return kRotaryIllegal;
  bool flagged = false;
  double sign = 1;
  if (*s == '+' || *s == '-') {
    flagged = true;
    if (*s == '-') sign = -1;
    ++s;
  }
  Number n;
  if (!ReadNumber(s, &n)) return kRotaryIllegal;
  p_ = s;
  const double value = sign * n.value;
  if (n.fraction || value < 0 || value >= static_cast<double>(dialect_.variable_count)) {
    flagged = true;
  }
  const int number = flagged ? 0 : static_cast<int>(value);
  if (!syntax_.InCondition()) {
    const char* e = SkipBlanks(p_);
    int code = -1;
    int sub = type;
    const char* after = nullptr;
    if (is_m && (e[0] == '=' || e[0] == '&' || e[0] == '|' || e[0] == '^') && e[1] == '=') {
      code = 274;
      sub = e[0] == '=' ? 3 : e[0] == '&' ? 2 : e[0] == '|' ? 0 : 1;
      after = e + 2;
    } else if (e[0] == '=') {
      code = 256 + 2 * type;
      after = e + 1;
    }
    if (code >= 0) {
      if (flagged) return kRotaryOutOfRange;
      p_ = after;
      return Emit(code + MinusAfter(), number, 0, sub, number);
    }
  }
  if (!syntax_.ExpectsOperand()) return Emit(kWord, value, word_code);
  if (flagged) return kRotaryOutOfRange;
  return Emit(32 + 2 * type, number, 0, 0, number);
}

int Lexer::NegativeConstant() {
  const char* s = SkipBlanks(p_);
  Number n;
  if (!ReadNumber(s, &n)) return kRotaryBadNumber;
  p_ = s;
  return Emit(kConstant, -n.value);
}

int Lexer::Letter() {
  const char letter = *p_;
  const char* end = nullptr;
  auto is = [&](const char* pattern) {
    if (!Match(p_, Pattern(pattern), &end)) return false;
    p_ = end;
    return true;
  };
  auto count_command = [&](int sub, std::uint64_t limit) {
    p_ = SkipBlanks(p_);
    std::uint64_t v = 0;
    if (IsDigit(*p_)) ReadInteger(p_, &v);
    if (v > limit) return kRotaryOutOfRange;
    return Emit(kCountCommand, 0, 30, sub, static_cast<int>(v));
  };
  auto plain = [&](int sub) { return Emit(kPlainCommand, 0, 30, sub); };
  auto plc_list = [&](int sub) {
    std::uint32_t mask = 0;
    if (!ReadList(p_, 0, 31, 0, &mask)) return kRotaryBadPlcs;
    return Emit(kPlcList, 0, 30, sub, static_cast<std::int32_t>(mask));
  };
  auto motor_list = [&](int sub) {
    std::uint32_t mask = 0;
    if (!ReadList(p_, 1, dialect_.motor_count, 1, &mask)) return kRotaryBadMotors;
    return Emit(kMotorList, 0, 30, sub, static_cast<std::int32_t>(mask));
  };
  // INC and FRAX: an optional axis list that must be sound.
  auto axes = [&](int code, int sub, bool allow_r) {
    const char* s = SkipBlanks(p_);
    std::uint32_t mask = kAllAxes;
    if (*s == '(') {
      if (!ReadAxisList(s, &mask) || (!allow_r && (mask & 1u) != 0)) return kRotaryBadAxes;
      p_ = s;
    }
    if (code == kFrax) mask >>= 1;  // its unit holds the mask without R
    return Emit(code, 0, 30, sub, static_cast<std::int32_t>(mask));
  };
  auto connective = [&](int code) {
    if (syntax_.ExpectsStatement()) return kRotaryIllegal;
    return Emit(code + MinusAfter());
  };

  switch (letter) {
    case 'A':
      if (is("ABS")) {
        const char* s = SkipBlanks(p_);
        std::uint32_t mask = kAllAxes;
        if (*s == '(') {
          if (!ReadAxisList(s, &mask)) return Opening(78);
          p_ = s;
        }
        return Emit(kAbsInc, 0, 30, 0, static_cast<std::int32_t>(mask));
      }
      if (is("AND")) return connective(kAnd);
      if (is("AROTate")) return count_command(13, 1015);
      if (is("ADISplace")) return count_command(12, 1021);
      if (is("ASIN")) return Opening(80);
      if (is("ACOS")) return Opening(82);
      if (is("ATAN2")) return Opening(94);
      if (is("ATAN")) return Opening(84);
      break;
    case 'B':
      if (is("Block_START")) return plain(6);
      if (is("Block_STOP")) return plain(7);
      break;
    case 'C':
      if (is("CCR")) return TimeWord(72);
      if (is("CC")) return count_command(10, 2);
      if (is("CIRcle")) return count_command(0, 2);
      if (is("CALL")) return Word(27);
      if (is("COS")) return Opening(74);
      break;
    case 'D':
      if (is("DWEll")) return TimeWord(68);
      if (is("DeLaY")) return TimeWord(69);
      if (is("DISable_PLCC")) return plc_list(3);
      if (is("DISable_PLC")) return plc_list(1);
      break;
    case 'E':
      if (is("ENAble_PLCC")) return plc_list(2);
      if (is("ENAble_PLC")) return plc_list(0);
      if (is("EXP")) return Opening(88);
      break;
    case 'F':
      if (is("FRAX")) return axes(kFrax, 0, false);
      break;
    case 'H':
      if (is("HoMeZ")) return motor_list(6);
      if (is("HoMe")) return motor_list(3);
      break;
    case 'I':
      if (is("INC")) return axes(kAbsInc, 1, true);
      if (is("IDISplace")) return count_command(14, 1021);
      if (is("IROTate")) return count_command(15, 1015);
      if (is("INT")) return Opening(92);
      if (is("IF")) return Opening(kIf);
      ++p_;
      return Variable('I');
    case 'L':
      if (is("LINear")) return plain(1);
      if (is("LN")) return Opening(90);
      break;
    case 'M':
      ++p_;
      return Variable('M');
    case 'N':
      if (is("NoRMal")) return plain(2);
      return kRotaryIllegal;
    case 'O':
      if (is("OR")) return connective(kOr);
      return kRotaryIllegal;
    case 'P':
      if (is("PVT")) return TimeWord(2);
      if (is("PSET")) return plain(3);
      if (is("PRELUDE")) return count_command(17, 1024);
      ++p_;
      return Variable('P');
    case 'Q':
      ++p_;
      return Variable('Q');
    case 'R':
      if (is("RaPiD")) return plain(9);
      break;
    case 'S':
      if (is("STOP")) return plain(5);
      if (is("SPLINE")) return count_command(4, 1);
      if (is("SIN")) return Opening(72);
      if (is("SQRT")) return Opening(86);
      break;
    case 'T':
      if (is("TAN")) return Opening(76);
      if (is("TINIT")) return plain(16);
      if (is("TSELect")) return count_command(11, 5);
      if (is("TA")) return TimeWord(0);
      if (is("TS")) return TimeWord(1);
      if (is("TM")) return TimeWord(67);
      break;
    case 'W':
      if (is("WAIT")) return plain(8);
      if (is("WHILE")) return Opening(kWhile);
      break;
    default:
      break;
  }
  const int code = WordCode(letter);
  if (code == 0) return kRotaryIllegal;
  ++p_;
  return Word(code);
}

int Lexer::Run() {
  syntax_.Reset();
  p_ = SkipBlanks(p_);
  for (;;) {
    const char c = *p_;
    const auto u = static_cast<unsigned char>(c);
    int result = 0;
    if (EndsLine(c)) return Emit(kEnd);
    if (c == ' ' || c == '\t') {
      ++p_;
      continue;
    }
    if (c == ',') {
      block_start_ = 0;  // before a block's first token it clears the flag
      ++p_;
      continue;
    }
    if (c == '\r') {
      block_start_ = kRotaryBlockStart;
      ++p_;
      continue;
    }
    if (u > 126) return kRotaryIllegal;
    switch (c) {
      case '!': {
        const char n = p_[1];
        p_ += 2;
        if (n == '=')
          result = Comparison(184);
        else if (n == '>')
          result = Comparison(186);
        else if (n == '<')
          result = Comparison(188);
        else if (n == '~')
          result = Comparison(190);
        else
          return kRotaryIllegal;
        break;
      }
      case '<':
        ++p_;
        result = Comparison(180);
        break;
      case '>':
        ++p_;
        result = Comparison(178);
        break;
      case '~':
        ++p_;
        result = Comparison(182);
        break;
      case '=':
        if (syntax_.InCondition()) {
          if (p_[1] == '=') return kRotaryIllegal;
          ++p_;
          result = Comparison(176);
        } else {
          p_ += p_[1] == '=' ? 2 : 1;
          result = AssignEquals();
        }
        break;
      case '&':
      case '|':
      case '^':
        if (p_[1] == '=' && !syntax_.InCondition()) {
          p_ += 2;
          result = AssignEquals();
        } else if (c == '&') {
          ++p_;
          result = Emit(134);
        } else if (c == '|') {
          ++p_;
          result = Emit(132);
        } else if (syntax_.AfterOperand()) {
          ++p_;
          result = Emit(133);
        } else {
          ++p_;
          result = TimeWord(71);
        }
        break;
      case ':':
        ++p_;
        result = TimeWord(70);
        break;
      case '(':
        ++p_;
        result = Emit(kParen + MinusAfter());
        break;
      case ')':
        ++p_;
        result = Emit(kClose);
        break;
      case '*':
        ++p_;
        result = Emit(130);
        break;
      case '+':
        ++p_;
        result = Emit(kPlus);
        break;
      case '/':
        ++p_;
        result = Emit(131);
        break;
      case '%':
        ++p_;
        result = Emit(135);
        break;
      case '-':
        ++p_;
        if ((previous_ >= 128 && previous_ <= 135) || (previous_ & 1) != 0) {
          result = NegativeConstant();
        } else {
          result = Emit(kMinus);
        }
        break;
      default:
        if (c == '$' || c == '.' || IsDigit(c)) {
          Number n;
          if (!ReadNumber(p_, &n)) return kRotaryBadNumber;
          result = Emit(kConstant, n.value);
        } else if (c >= 'A' && c <= 'Z') {
          result = Letter();
        } else {
          return kRotaryIllegal;
        }
        break;
    }
    if (result != 0) return result;
    p_ = SkipBlanks(p_);
  }
}

}  // namespace

// --- Syntax ------------------------------------------------------------------

void RotarySyntax::Reset() { *this = RotarySyntax(); }

int RotarySyntax::Complete() const {
  if (statement_ == 0) return 0;
  if (level_ != 0) return kRotaryUnmatchedParen;
  if (expect_ != Expect::kOperator) return kRotaryIllegal;
  return 0;
}

int RotarySyntax::Check(int code) {
  if (code == kEnd) return Complete();
  if (IsStatementCode(code)) {
    if (const int r = Complete(); r != 0) return r;
    statement_ = code;
    level_ = 0;
    condition_ = false;
    comparison_ = false;
    target_closed_ = false;
    if (code >= kWord && code <= 383) {
      statement_ = 0;
      expect_ = Expect::kStatement;
      return 0;
    }
    if ((code >= 256 && code <= 263) || code == 274 || code == 275) {
      expect_ = Expect::kOperand;
      return 0;
    }
    if ((code >= 270 && code <= 273) || code >= kIndirectAssign) {
      level_ = 1;
      expect_ = Expect::kOperand;
      return 0;
    }
    if ((code >= kIf && code <= kIf + 1) || (code >= kWhile && code <= kWhile + 1)) {
      level_ = 1;
      condition_ = true;
      expect_ = Expect::kOperand;
      return 0;
    }
    return kRotaryIllegal;
  }
  if (code >= 128 && code <= 255) {
    if (expect_ != Expect::kOperator) return kRotaryIllegal;
    if (code <= 135) {
      expect_ = Expect::kOperand;
      return 0;
    }
    if (code >= kOr && code <= kAnd + 1) {
      if (!condition_ || level_ != 1 || !comparison_) return kRotaryIllegal;
      comparison_ = false;
      expect_ = Expect::kOperand;
      return 0;
    }
    if (code >= kComparison && code <= kComparison + 1) {
      if (!condition_ || level_ != 1 || comparison_) return kRotaryIllegal;
      comparison_ = true;
      expect_ = Expect::kOperand;
      return 0;
    }
    return kRotaryIllegal;
  }
  if ((code >= 32 && code <= 39) || code == kConstant) {
    if (expect_ != Expect::kOperand) return kRotaryIllegal;
    expect_ = Expect::kOperator;
    return 0;
  }
  if (code >= 64 && code <= 97) {
    if (expect_ != Expect::kOperand) return kRotaryIllegal;
    ++level_;
    return 0;
  }
  if (code == kClose) {
    if (expect_ != Expect::kOperator || level_ == 0) return kRotaryIllegal;
    if (--level_ != 0) return 0;
    if (condition_) {
      if (!comparison_) return kRotaryIllegal;
      condition_ = false;
      statement_ = 0;
      expect_ = Expect::kStatement;
    } else if (statement_ >= 270 && statement_ <= 273) {
      statement_ = 0;
      expect_ = Expect::kStatement;
    } else if (statement_ >= kIndirectAssign && !target_closed_) {
      target_closed_ = true;  // the target's ")": its "=" comes next
      expect_ = Expect::kAssignEquals;
    }
    return 0;
  }
  if (code == kEquals || code == kEquals + 1) {
    if (expect_ != Expect::kAssignEquals) return kRotaryIllegal;
    expect_ = Expect::kOperand;
    return 0;
  }
  return kRotaryIllegal;
}

// --- Entry points -------------------------------------------------------------

int RotaryMatchKeyword(const char* text, const unsigned char* pattern, const char** end) {
  if (text == nullptr || pattern == nullptr) return 1;
  // Optional letters are tried first and skipped when the rest does not
  // match with them.
  struct Frame {
    const char* t;
    const unsigned char* p;
  };
  std::array<Frame, 32> stack{};
  std::size_t depth = 0;
  stack[depth++] = {text, pattern};
  while (depth > 0) {
    Frame f = stack[--depth];
    for (;;) {
      if (*f.p == 0) {
        if (end != nullptr) *end = f.t;
        return 0;
      }
      const bool optional = (*f.p & 0x80) != 0;
      const char want = static_cast<char>(*f.p & 0x7F);
      if (optional) {
        if (depth < stack.size()) stack[depth++] = {f.t, f.p + 1};
        if (*f.t == want) {
          ++f.t;
          ++f.p;
          continue;
        }
        break;
      }
      if (*f.t != want) break;
      ++f.t;
      ++f.p;
    }
  }
  return 1;
}

int RotaryParseLine(const RotaryDialect& dialect, const char* text, RotaryToken* tokens) {
  if (text == nullptr || tokens == nullptr) return kRotaryIllegal;
  Lexer lexer(dialect, text, tokens);
  return lexer.Run();
}

}  // namespace zimo::corvan
