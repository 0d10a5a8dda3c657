// Expression statements of the binary rotary commands (rotary_statement.h).
#include "cardsim/rotary_statement.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "cardsim/rotary_units.h"

namespace zimo::cardsim::rotary {
namespace {

constexpr const char* kFunctionNames[] = {"I",   "M",   "P",    "Q",    "SIN",  "COS",
                                          "TAN", "ABS", "ASIN", "ACOS", "ATAN", "SQRT",
                                          "EXP", "LN",  "INT",  "ATAN2"};
constexpr const char* kComparisons[] = {"=", ">", "<", "~", "!=", "!>", "!<", "!~"};
constexpr char kOperators[] = "+-*/|^&%";
constexpr char kLetters[] = "IMPQ";

// The statement's bits, most significant first: the first unit from bit 47
// down to its header, every further unit from bit 47 down to bit 12.
class Stream {
 public:
  Stream(const std::vector<uint64_t>& units, int first_header)
      : units_(units), header_(first_header) {}

  bool Bits(int n, uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (bit_ < Floor()) {
        if (unit_ + 1 >= units_.size()) return false;
        ++unit_;
        bit_ = 47;
      }
      v = (v << 1) | static_cast<uint32_t>((units_[unit_] >> bit_) & 1u);
      --bit_;
    }
    *value = v;
    return true;
  }
  bool Bit(uint32_t* value) { return Bits(1, value); }
  // The unit the last bit came from.
  size_t unit() const { return unit_; }
  // The bits after the last one read, in its unit, are all zero.
  bool RestZero() const {
    for (int b = bit_; b >= Floor(); --b) {
      if (((units_[unit_] >> b) & 1u) != 0) return false;
    }
    return true;
  }
  bool exhausted() const { return bit_ < Floor() && unit_ + 1 >= units_.size(); }

 private:
  int Floor() const { return unit_ == 0 ? header_ : 12; }
  const std::vector<uint64_t>& units_;
  int header_;
  size_t unit_ = 0;
  int bit_ = 47;
};

enum class Context {
  kValue,      // ends with the end bit at parenthesis level 0
  kParen,      // opened by its statement; ends with the ")" that closes it
  kCondition,  // IF and WHILE: opened by the statement; ")" and the end bit close it
};

// Reads an expression; false when the bits run out.
bool Expression(Stream& s, Context context, bool spran, std::vector<Token>* out, int* constants) {
  int level = context == Context::kValue ? 0 : 1;
  bool want_operand = true;
  bool compared = false;
  uint32_t v = 0;
  for (;;) {
    if (want_operand) {
      if (!s.Bits(2, &v)) return false;
      if (v == 2) {  // variable: type and number
        uint32_t type = 0, n = 0;
        if (!s.Bits(2, &type) || !s.Bits(spran ? 13 : 10, &n)) return false;
        out->push_back({Token::Kind::kVariable, static_cast<int>(type), static_cast<int>(n)});
        want_operand = false;
      } else if (v == 3) {
        out->push_back({Token::Kind::kConstant, (*constants)++, 0});
        want_operand = false;
      } else if (v == 1) {  // function or indirect read, opening a level
        if (!s.Bits(5, &v)) return false;
        out->push_back({Token::Kind::kFunction, static_cast<int>(v >> 1), 0});
        if ((v & 1u) != 0) out->push_back({Token::Kind::kMinus, 0, 0});
        ++level;
      } else {
        if (!s.Bit(&v)) return false;
        out->push_back({Token::Kind::kOpen, 0, 0});
        if (v != 0) out->push_back({Token::Kind::kMinus, 0, 0});
        ++level;
      }
      continue;
    }
    if (!s.Bit(&v)) return false;
    if (v == 0) {
      if (!s.Bits(3, &v)) return false;
      out->push_back({Token::Kind::kOperator, static_cast<int>(v), 0});
      want_operand = true;
      continue;
    }
    if (context == Context::kCondition && level == 1) {
      if (!compared) {
        if (!s.Bits(4, &v)) return false;
        out->push_back({Token::Kind::kComparison, static_cast<int>(v >> 1), 0});
        if ((v & 1u) != 0) out->push_back({Token::Kind::kMinus, 0, 0});
        compared = true;
        want_operand = true;
        continue;
      }
      if (!s.Bit(&v)) return false;
      if (v != 0) return true;  // ")" closing the condition, then the end bit
      if (!s.Bits(2, &v)) return false;
      out->push_back({v < 2 ? Token::Kind::kOr : Token::Kind::kAnd, 0, 0});
      if ((v & 1u) != 0) out->push_back({Token::Kind::kMinus, 0, 0});
      compared = false;
      want_operand = true;
      continue;
    }
    if (context == Context::kValue && level == 0) return true;  // the end bit
    --level;
    if (context != Context::kValue && level == 0) return true;  // the statement's own ")"
    out->push_back({Token::Kind::kClose, 0, 0});
  }
}

// The stream of one statement over `units` with the first unit's header
// `header` bits wide; kDone with out->units set to the stream's units.
DecodeResult Stream1(const std::vector<uint64_t>& units, bool complete, int header, bool spran,
                     bool indirect_older, Statement* out, int* constants, std::string* why) {
  Stream s(units, header);
  const uint64_t first = units[0];
  const int kind = static_cast<int>(Field(first, 0, 5));
  uint32_t v = 0;
  bool ok = true;
  auto fail = [&]() { return complete ? DecodeResult::kInvalid : DecodeResult::kWait; };
  auto value_with_minus = [&](uint32_t minus, Context context, std::vector<Token>* tokens) {
    if (minus != 0) tokens->push_back({Token::Kind::kMinus, 0, 0});
    return Expression(s, context, spran, tokens, constants);
  };
  auto indirect = [&](bool lead_read) {
    // 1, then the type or operator (2 bits) and the index's minus; the
    // index; ")"; "=" with its minus; the value.
    uint32_t lead = 1, target = 0, minus = 0;
    if (!lead_read && (!s.Bit(&lead) || lead != 1)) return false;
    if (!s.Bits(2, &target) || !s.Bit(&minus)) return false;
    out->kind = kind == 14 ? Statement::Kind::kIndirectAssign : Statement::Kind::kIndirectMOperator;
    (kind == 14 ? out->type : out->op) = static_cast<int>(target);
    if (!value_with_minus(minus, Context::kParen, &out->index)) return false;
    if (!s.Bit(&minus)) return false;
    return value_with_minus(minus, Context::kValue, &out->value);
  };
  if (kind == 14 || kind == 15) {
    if (spran) {
      if (!s.Bit(&v)) return fail();
      if (v == 0) {
        uint32_t rest = 0;
        if (!s.Bits(16, &rest)) return fail();
        out->kind = kind == 14 ? Statement::Kind::kAssign : Statement::Kind::kMOperator;
        (kind == 14 ? out->type : out->op) = static_cast<int>((rest >> 14) & 3u);
        out->number = static_cast<int>((rest >> 1) & 0x1FFFu);
        ok = value_with_minus(rest & 1u, Context::kValue, &out->value);
      } else {
        ok = indirect(true);
      }
    } else if (indirect_older) {
      ok = indirect(false);
    } else {
      out->kind = kind == 14 ? Statement::Kind::kAssign : Statement::Kind::kMOperator;
      (kind == 14 ? out->type : out->op) = static_cast<int>(Field(first, 12, 2));
      out->number = static_cast<int>(Field(first, 14, 10));
      ok = s.Bit(&v) && value_with_minus(v, Context::kValue, &out->value);
    }
  } else if (kind == 30 || kind == 31) {
    out->kind = kind == 30 ? Statement::Kind::kIf : Statement::Kind::kWhile;
    ok = s.Bit(&v) && value_with_minus(v, Context::kCondition, &out->value);
  } else if (kind == kTimeWord) {
    out->kind = Statement::Kind::kTimeExpression;
    out->code = static_cast<int>(Field(first, 17, 7));
    if (TimeName(out->code).empty()) {
      *why = "expression of an unknown time word";
      return DecodeResult::kInvalid;
    }
    ok = s.Bit(&v) && value_with_minus(v, Context::kParen, &out->value);
  } else {
    out->kind = Statement::Kind::kWordExpression;
    out->code = kind;
    if (WordName(kind).empty()) {
      *why = "expression of no word";
      return DecodeResult::kInvalid;
    }
    ok = s.Bit(&v) && value_with_minus(v, Context::kParen, &out->value);
  }
  if (!ok) {
    *why = "statement stream ends early";
    return fail();
  }
  if (!s.RestZero()) {
    *why = "bits after the end of the statement";
    return DecodeResult::kInvalid;
  }
  out->units = s.unit() + 1;
  // Bit 5 marks the last unit (a word or time-word expression that exactly
  // filled its last unit may come without it).
  for (size_t u = 0; u + 1 < out->units; ++u) {
    if (Field(units[u], 5, 1) != 0) {
      *why = "statement ends before its last unit";
      return DecodeResult::kInvalid;
    }
  }
  const bool word_like = out->kind == Statement::Kind::kWordExpression ||
                         out->kind == Statement::Kind::kTimeExpression;
  if (Field(units[out->units - 1], 5, 1) == 0 && !(word_like && s.exhausted())) {
    *why = "last unit of the statement without its end mark";
    return DecodeResult::kInvalid;
  }
  return DecodeResult::kDone;
}

// A continuation unit of a statement of `kind`.
bool Continues(uint64_t unit, int kind) {
  return Opcode(unit) == 0 && static_cast<int>(Field(unit, 0, 5)) == kind && !BlockStart(unit);
}

class Evaluator {
 public:
  Evaluator(const std::vector<Token>& t, const std::vector<double>& c, const Evaluation& e)
      : t_(t), c_(c), e_(e) {}

  bool Any() {
    bool left = All();
    while (Is(Token::Kind::kOr)) {
      ++i_;
      const bool right = All();
      left = left || right;
    }
    return left;
  }
  double Sum() {
    double left = Product();
    while (Is(Token::Kind::kOperator) &&
           (t_[i_].a == 0 || t_[i_].a == 1 || t_[i_].a == 4 || t_[i_].a == 5)) {
      const int op = t_[i_++].a;
      const double right = Product();
      switch (op) {
        case 0:
          left += right;
          break;
        case 1:
          left -= right;
          break;
        case 4:
          left = static_cast<double>(Int(left) | Int(right));
          break;
        default:
          left = static_cast<double>(Int(left) ^ Int(right));
          break;
      }
    }
    return left;
  }

 private:
  bool Is(Token::Kind k) const { return i_ < t_.size() && t_[i_].kind == k; }
  static int64_t Int(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 9e18) return 0;
    return static_cast<int64_t>(v);
  }
  bool All() {
    bool left = Clause();
    while (Is(Token::Kind::kAnd)) {
      ++i_;
      const bool right = Clause();
      left = left && right;
    }
    return left;
  }
  bool Clause() {
    const double a = Sum();
    if (!Is(Token::Kind::kComparison)) return false;
    const int cmp = t_[i_++].a;
    const double b = Sum();
    bool r = false;
    switch (cmp & 3) {
      case 0:
        r = a == b;
        break;
      case 1:
        r = a > b;
        break;
      case 2:
        r = a < b;
        break;
      default:
        r = std::fabs(a - b) <= 1.0;
        break;
    }
    return cmp >= 4 ? !r : r;
  }
  double Product() {
    double left = Unary();
    while (Is(Token::Kind::kOperator) &&
           (t_[i_].a == 2 || t_[i_].a == 3 || t_[i_].a == 6 || t_[i_].a == 7)) {
      const int op = t_[i_++].a;
      const double right = Unary();
      switch (op) {
        case 2:
          left *= right;
          break;
        case 3:
          left = right == 0 ? 0.0 : left / right;
          break;
        case 7:
          left = right == 0 ? 0.0 : std::fmod(left, right);
          break;
        default:
          left = static_cast<double>(Int(left) & Int(right));
          break;
      }
    }
    return left;
  }
  double Unary() {
    if (Is(Token::Kind::kMinus)) {
      ++i_;
      return -Unary();
    }
    return Primary();
  }
  double Rad(double v) const { return e_.degrees ? v * std::numbers::pi / 180.0 : v; }
  double Deg(double v) const { return e_.degrees ? v * 180.0 / std::numbers::pi : v; }
  double Primary() {
    if (i_ >= t_.size()) return 0;
    const Token token = t_[i_++];
    switch (token.kind) {
      case Token::Kind::kVariable:
        return e_.read ? e_.read(token.a, token.n) : 0.0;
      case Token::Kind::kConstant:
        return token.a >= 0 && static_cast<size_t>(token.a) < c_.size() ? c_[token.a] : 0.0;
      case Token::Kind::kOpen: {
        const double v = Sum();
        if (Is(Token::Kind::kClose)) ++i_;
        return v;
      }
      case Token::Kind::kFunction: {
        const double x = Sum();
        if (Is(Token::Kind::kClose)) ++i_;
        return Function(token.a, x);
      }
      default:
        return 0;
    }
  }
  double Function(int f, double x) const {
    if (f < 4) {
      if (!std::isfinite(x) || x < 0 || x > 1e9 || !e_.read) return 0;
      return e_.read(f, static_cast<int>(x));
    }
    double r = 0;
    switch (f) {
      case 4:
        r = std::sin(Rad(x));
        break;
      case 5:
        r = std::cos(Rad(x));
        break;
      case 6:
        r = std::tan(Rad(x));
        break;
      case 7:
        r = std::fabs(x);
        break;
      case 8:
        r = Deg(std::asin(std::clamp(x, -1.0, 1.0)));
        break;
      case 9:
        r = Deg(std::acos(std::clamp(x, -1.0, 1.0)));
        break;
      case 10:
        r = Deg(std::atan(x));
        break;
      case 11:
        r = x < 0 ? 0.0 : std::sqrt(x);
        break;
      case 12:
        r = std::exp(x);
        break;
      case 13:
        r = x <= 0 ? 0.0 : std::log(x);
        break;
      case 14:
        r = std::floor(x);
        break;
      default:
        r = Deg(std::atan2(x, e_.atan2_x));
        break;
    }
    return std::isfinite(r) ? r : 0.0;
  }

  const std::vector<Token>& t_;
  const std::vector<double>& c_;
  const Evaluation& e_;
  size_t i_ = 0;
};

}  // namespace

DecodeResult DecodeStatement(const std::function<bool(size_t, uint64_t*)>& unit, bool spran,
                             Statement* out, std::string* why) {
  std::vector<uint64_t> units;
  uint64_t u = 0;
  if (!unit(0, &u)) return DecodeResult::kWait;
  units.push_back(u & kUnitMask);
  const int kind = static_cast<int>(Field(units[0], 0, 5));
  // The stream's units: up to the one marked last, or up to a unit that
  // cannot continue it.
  bool complete = true;
  while (Field(units.back(), 5, 1) == 0 && units.size() < 76) {
    if (!unit(units.size(), &u)) {
      complete = false;
      break;
    }
    if (!Continues(u & kUnitMask, kind)) break;
    units.push_back(u & kUnitMask);
  }
  int constants = 0;
  DecodeResult r;
  const bool headed24 = kind == kTimeWord || (!spran && (kind == 14 || kind == 15));
  *out = Statement{};
  r = Stream1(units, complete, headed24 ? 24 : 12, spran, false, out, &constants, why);
  if (r != DecodeResult::kDone && !spran && (kind == 14 || kind == 15)) {
    // Older cards' indirect assignments carry a 12-bit header.
    Statement other;
    int other_constants = 0;
    std::string other_why;
    const DecodeResult r2 =
        Stream1(units, complete, 12, spran, true, &other, &other_constants, &other_why);
    if (r2 == DecodeResult::kDone || r == DecodeResult::kInvalid) {
      r = r2;
      *out = other;
      constants = other_constants;
      *why = other_why;
    }
  }
  if (r != DecodeResult::kDone) return r;
  for (int k = 0; k < constants; ++k) {
    if (!unit(out->units + static_cast<size_t>(k), &u)) return DecodeResult::kWait;
    if (Opcode(u & kUnitMask) != kConstant) {
      *why = "statement without its constant";
      return DecodeResult::kInvalid;
    }
    out->constants.push_back(FullValue(u & kUnitMask));
  }
  out->units += static_cast<size_t>(constants);
  return DecodeResult::kDone;
}

std::string TokensText(const std::vector<Token>& tokens, const std::vector<double>& constants) {
  std::string out;
  for (const Token& t : tokens) {
    switch (t.kind) {
      case Token::Kind::kVariable:
        out += kLetters[t.a & 3];
        out += std::to_string(t.n);
        break;
      case Token::Kind::kConstant:
        out += t.a >= 0 && static_cast<size_t>(t.a) < constants.size() ? FormatValue(constants[t.a])
                                                                       : "?";
        break;
      case Token::Kind::kFunction:
        out += kFunctionNames[t.a & 15];
        out += '(';
        break;
      case Token::Kind::kOpen:
        out += '(';
        break;
      case Token::Kind::kClose:
        out += ')';
        break;
      case Token::Kind::kOperator:
        out += kOperators[t.a & 7];
        break;
      case Token::Kind::kComparison:
        out += kComparisons[t.a & 7];
        break;
      case Token::Kind::kAnd:
        out += " AND ";
        break;
      case Token::Kind::kOr:
        out += " OR ";
        break;
      case Token::Kind::kMinus:
        out += '-';
        break;
    }
  }
  return out;
}

std::string StatementText(const Statement& s) {
  static constexpr const char* kMOperators[] = {"|=", "^=", "&=", "=="};
  const std::string value = TokensText(s.value, s.constants);
  switch (s.kind) {
    case Statement::Kind::kAssign:
      return kLetters[s.type & 3] + std::to_string(s.number) + "=" + value;
    case Statement::Kind::kMOperator:
      return "M" + std::to_string(s.number) + kMOperators[s.op & 3] + value;
    case Statement::Kind::kIndirectAssign:
      return std::string(1, kLetters[s.type & 3]) + "(" + TokensText(s.index, s.constants) +
             ")=" + value;
    case Statement::Kind::kIndirectMOperator:
      return "M(" + TokensText(s.index, s.constants) + ")" + kMOperators[s.op & 3] + value;
    case Statement::Kind::kWordExpression:
      return WordName(s.code) + "(" + value + ")";
    case Statement::Kind::kTimeExpression:
      return TimeName(s.code) + "(" + value + ")";
    case Statement::Kind::kIf:
      return "IF(" + value + ")";
    case Statement::Kind::kWhile:
      return "WHILE(" + value + ")";
  }
  return {};
}

double EvaluateValue(const std::vector<Token>& tokens, const std::vector<double>& constants,
                     const Evaluation& context) {
  return Evaluator(tokens, constants, context).Sum();
}

bool EvaluateCondition(const std::vector<Token>& tokens, const std::vector<double>& constants,
                       const Evaluation& context) {
  return Evaluator(tokens, constants, context).Any();
}

}  // namespace zimo::cardsim::rotary
