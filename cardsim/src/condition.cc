#include <cmath>

#include "cardsim/expression.h"

namespace zimo::cardsim {

namespace {

class Condition {
 public:
  Condition(Scanner& s, const ExpressionContext& c) : s_(s), c_(c) {}

  std::optional<bool> Any() {
    auto left = All();
    while (left) {
      if (!s_.AcceptWord("OR")) break;
      auto right = All();
      if (!right) return std::nullopt;
      left = *left || *right;
    }
    return left;
  }

 private:
  std::optional<bool> All() {
    auto left = One();
    while (left) {
      if (!s_.AcceptWord("AND")) break;
      auto right = One();
      if (!right) return std::nullopt;
      left = *left && *right;
    }
    return left;
  }

  std::optional<bool> One() {
    size_t start = s_.pos();
    if (auto v = Comparison()) return v;
    s_.Reset(start);
    if (!s_.Accept('(')) return std::nullopt;
    auto v = Any();
    if (!v || !s_.Accept(')')) return std::nullopt;
    return v;
  }

  std::optional<bool> Comparison() {
    auto a = EvaluateExpression(s_, c_);
    if (!a) return std::nullopt;
    bool negate = s_.Accept('!');
    char op = s_.Take();
    if (op != '=' && op != '>' && op != '<' && op != '~') return std::nullopt;
    auto b = EvaluateExpression(s_, c_);
    if (!b) return std::nullopt;
    bool r = false;
    switch (op) {
      case '=':
        r = *a == *b;
        break;
      case '>':
        r = *a > *b;
        break;
      case '<':
        r = *a < *b;
        break;
      default:
        r = std::fabs(*a - *b) <= 1.0;
        break;
    }
    return negate ? !r : r;
  }

  Scanner& s_;
  const ExpressionContext& c_;
};

}  // namespace

std::optional<bool> EvaluateCondition(Scanner& scanner, const ExpressionContext& context) {
  size_t start = scanner.pos();
  auto v = Condition(scanner, context).Any();
  if (!v) scanner.Reset(start);
  return v;
}

}  // namespace zimo::cardsim
