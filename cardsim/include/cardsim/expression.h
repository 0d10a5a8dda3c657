// On-line expressions on the right of an assignment ("P1=P2+3*I10",
// "I5=I5|2", "P1023=123*I108*32"): numbers, I/P/Q/M variables, the four
// arithmetic operators, % (remainder), the bitwise & | ^, parentheses and
// the card's functions (SIN COS TAN ASIN ACOS ATAN ATAN2 SQRT EXP LN ABS INT).
#pragma once

#include <functional>
#include <optional>

#include "cardsim/lexer.h"

namespace zimo::cardsim {

struct ExpressionContext {
  // The value of variable `letter` (I, P, Q or M) number n, or nullopt when
  // there is no such variable.
  std::function<std::optional<double>(char letter, int n)> read;
  bool degrees = true;  // angles of the trigonometric functions (I15 = 0)
};

// Parses and evaluates the expression at the scanner. On failure returns
// nullopt with the scanner where it was; the card answers ERR003.
std::optional<double> EvaluateExpression(Scanner& scanner, const ExpressionContext& context);

// A program condition: comparisons of two expressions with = != > < ~ !> !<
// !~ ("~" is within one of each other), joined by AND and OR (AND binds
// tighter; parentheses group). Evaluates to nullopt when it does not parse.
std::optional<bool> EvaluateCondition(Scanner& scanner, const ExpressionContext& context);

}  // namespace zimo::cardsim
