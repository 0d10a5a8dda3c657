#include "cardsim/expression.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string_view>

namespace zimo::cardsim {

namespace {

class Parser {
 public:
  Parser(Scanner& s, const ExpressionContext& c) : s_(s), c_(c) {}

  std::optional<double> Sum() {
    auto left = Product();
    while (left) {
      char op = s_.Peek();
      if (op != '+' && op != '-' && op != '|' && op != '^') break;
      s_.Take();
      auto right = Product();
      if (!right) return std::nullopt;
      switch (op) {
        case '+':
          *left += *right;
          break;
        case '-':
          *left -= *right;
          break;
        case '|':
          *left = static_cast<double>(Int(*left) | Int(*right));
          break;
        default:
          *left = static_cast<double>(Int(*left) ^ Int(*right));
          break;
      }
    }
    return left;
  }

 private:
  static int64_t Int(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 9e18) return 0;
    return static_cast<int64_t>(v);
  }

  std::optional<double> Product() {
    auto left = Unary();
    while (left) {
      char op = s_.Peek();
      if (op != '*' && op != '/' && op != '%' && op != '&') break;
      // A blank before "&" ends the expression: "P1=1 &1B5R" addresses a
      // coordinate system.
      if (op == '&' && s_.spaced()) break;
      s_.Take();
      auto right = Unary();
      if (!right) return std::nullopt;
      switch (op) {
        case '*':
          *left *= *right;
          break;
        case '/':
          *left = *right == 0 ? 0.0 : *left / *right;
          break;
        case '%':
          *left = *right == 0 ? 0.0 : std::fmod(*left, *right);
          break;
        default:
          *left = static_cast<double>(Int(*left) & Int(*right));
          break;
      }
    }
    return left;
  }

  std::optional<double> Unary() {
    if (s_.Accept('-')) {
      auto v = Unary();
      if (!v) return std::nullopt;
      return -*v;
    }
    if (s_.Accept('+')) return Unary();
    return Primary();
  }

  double ToRadians(double v) const { return c_.degrees ? v * std::numbers::pi / 180.0 : v; }
  double FromRadians(double v) const { return c_.degrees ? v * 180.0 / std::numbers::pi : v; }

  std::optional<double> Function(std::string_view name) {
    auto a = Sum();
    if (!a) return std::nullopt;
    std::optional<double> b;
    if (name == "ATAN2") {
      if (!s_.Accept(',')) return std::nullopt;
      b = Sum();
      if (!b) return std::nullopt;
    }
    if (!s_.Accept(')')) return std::nullopt;
    double x = *a;
    double r = 0;
    if (name == "SIN")
      r = std::sin(ToRadians(x));
    else if (name == "COS")
      r = std::cos(ToRadians(x));
    else if (name == "TAN")
      r = std::tan(ToRadians(x));
    else if (name == "ASIN")
      r = FromRadians(std::asin(std::clamp(x, -1.0, 1.0)));
    else if (name == "ACOS")
      r = FromRadians(std::acos(std::clamp(x, -1.0, 1.0)));
    else if (name == "ATAN")
      r = FromRadians(std::atan(x));
    else if (name == "ATAN2")
      r = FromRadians(std::atan2(x, *b));
    else if (name == "SQRT")
      r = x < 0 ? 0.0 : std::sqrt(x);
    else if (name == "EXP")
      r = std::exp(x);
    else if (name == "LN")
      r = x <= 0 ? 0.0 : std::log(x);
    else if (name == "ABS")
      r = std::fabs(x);
    else if (name == "INT")
      r = std::floor(x);
    if (!std::isfinite(r)) r = 0;
    return r;
  }

  std::optional<double> Primary() {
    char c = s_.Peek();
    if (c == '(') {
      s_.Take();
      auto v = Sum();
      if (!v || !s_.Accept(')')) return std::nullopt;
      return v;
    }
    if (c == '$' || Scanner::IsDigit(c) || c == '.') return s_.Number();
    static constexpr std::string_view kFunctions[] = {
        "ATAN2", "ASIN", "ACOS", "ATAN", "SQRT", "SIN", "COS", "TAN", "EXP", "ABS", "INT", "LN"};
    size_t start = s_.pos();
    for (std::string_view f : kFunctions) {
      if (s_.AcceptWord(f)) {
        if (s_.Accept('(')) return Function(f);
        s_.Reset(start);
      }
    }
    if (c == 'I' || c == 'P' || c == 'Q' || c == 'M') {
      s_.Take();
      if (!Scanner::IsDigit(s_.PeekRaw(0))) {
        s_.Reset(start);
        return std::nullopt;
      }
      auto n = s_.Unsigned();
      if (!n || *n > static_cast<uint64_t>(std::numeric_limits<int>::max()) || !c_.read) {
        s_.Reset(start);
        return std::nullopt;
      }
      auto v = c_.read(c, static_cast<int>(*n));
      if (!v) s_.Reset(start);
      return v;
    }
    return std::nullopt;
  }

  Scanner& s_;
  const ExpressionContext& c_;
};

}  // namespace

std::optional<double> EvaluateExpression(Scanner& scanner, const ExpressionContext& context) {
  size_t start = scanner.pos();
  Parser parser(scanner, context);
  auto v = parser.Sum();
  if (!v) scanner.Reset(start);
  return v;
}

}  // namespace zimo::cardsim
