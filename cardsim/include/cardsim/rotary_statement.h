// Expression statements of the binary rotary commands, as the card reads
// them: a header (12 bits, or 24 for older cards' direct assignments and for
// time words), then a bit stream of operand and operator codes spread over
// the statement's units most significant bit first, the last unit marked by
// bit 5, and then one constant unit per constant of the stream. The card
// decodes the stream into tokens, gives them a canonical text and evaluates
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zimo::cardsim::rotary {

struct Token {
  enum class Kind {
    kVariable,  // a: 0 I, 1 M, 2 P, 3 Q; n
    kConstant,  // a: index into the statement's constants
    kFunction,  // a: 0-3 the indexed variables I( M( P( Q(, 4 on the math functions
    kOpen,
    kClose,
    kOperator,    // a: + - * / | ^ & %
    kComparison,  // a: = > < ~ != !> !< !~
    kAnd,
    kOr,
    kMinus,  // the operand after it is negated
  };
  Kind kind;
  int a = 0;
  int n = 0;
};

struct Statement {
  enum class Kind {
    kAssign,             // target type and number
    kMOperator,          // M number, op (3 "==", 2 "&=", 0 "|=", 1 "^=")
    kIndirectAssign,     // target type, index expression
    kIndirectMOperator,  // op, index expression
    kWordExpression,     // code = word code
    kTimeExpression,     // code = time code
    kIf,
    kWhile,
  };
  Kind kind = Kind::kAssign;
  int type = 0;  // 0 I, 1 M, 2 P, 3 Q
  int op = 0;
  int number = 0;
  int code = 0;
  std::vector<Token> index;
  std::vector<Token> value;  // the value, or the condition of IF and WHILE
  std::vector<double> constants;
  size_t units = 0;  // units read: the stream's and the constants'
};

enum class DecodeResult { kDone, kWait, kInvalid };

// Decodes the statement whose first unit is unit(0); unit(k) gives the k-th
// unit from there, or false when it has not arrived yet (kWait).
DecodeResult DecodeStatement(const std::function<bool(size_t, uint64_t*)>& unit, bool spran,
                             Statement* out, std::string* why);

std::string StatementText(const Statement& statement);
std::string TokensText(const std::vector<Token>& tokens, const std::vector<double>& constants);

struct Evaluation {
  // The value of I, M, P or Q variable n (type 0-3); nullopt: no such variable.
  std::function<double(int type, int n)> read;
  bool degrees = true;
  double atan2_x = 0;  // ATAN2's second argument (the card takes it from Q0)
};
double EvaluateValue(const std::vector<Token>& tokens, const std::vector<double>& constants,
                     const Evaluation& context);
bool EvaluateCondition(const std::vector<Token>& tokens, const std::vector<double>& constants,
                       const Evaluation& context);

}  // namespace zimo::cardsim::rotary
