#include "nc/language/expression.h"

#include <cmath>
#include <cstring>

#include "nc/language/error_ids.h"
#include "nc/language/operators.h"
#include "nc/language/tokens.h"

namespace zimo::nc {

namespace {

constexpr int kStackCapacity = 100;

bool IsOperatorKind(int kind) { return kind == kKindArithmetic || kind == kKindWord; }
bool AfterTerm(int kind) {
  return kind == kKindNumber || kind == kKindClose || kind == kKindVariable;
}

class Evaluation {
 public:
  Evaluation(NcLineCursor& c, double* operand_values, int* operators)
      : c_(c), operators_(operators) {
    operands_.value = operand_values;
  }

  bool Run();

 private:
  bool Fail(uint32_t id) {
    c_.Fail(id);
    return false;
  }
  bool PushOperand(double v) {
    if (operands_.size >= NcOperandStack::kCapacity) return Fail(kErrValueStack);
    operands_.value[operands_.size++] = v;
    ++pushed_;
    return true;
  }
  bool PushOperator(int token) {
    if (operator_count_ >= kStackCapacity) return Fail(kErrValueStack);
    operators_[operator_count_++] = token;
    return true;
  }
  bool Apply(int token) {
    const uint32_t code = ApplyOperator(token, operands_, c_);
    return code == 0 || Fail(code);
  }
  bool CloseBracket();
  bool Flush();
  bool Finish();
  double VacantRule(double v);

  NcLineCursor& c_;
  NcOperandStack operands_;
  int* operators_;
  int operator_count_ = 0;
  int last_variable_ = -1;
  bool assignment_ = false;
  int target_ = -1;
  int token_count_ = 0;
  int pushed_ = 0;
  bool indirect_pending_ = false;
};

bool Evaluation::CloseBracket() {
  for (;;) {
    if (operator_count_ == 0) return Fail(kErrUnbalanced);
    const int top = operators_[operator_count_ - 1];
    if (top == kTokOpen) break;
    --operator_count_;
    if (!Apply(top)) return false;
  }
  --operator_count_;  // the "["
  if (operator_count_ > 0 && StackPrecedence(operators_[operator_count_ - 1]) > 4) {
    const int top = operators_[--operator_count_];
    if (!Apply(top)) return false;
  }
  // "#[...]" at the very start that is no assignment target reads the
  // variable, as the same construct does anywhere else.
  if (indirect_pending_ && operator_count_ == 0 && PeekNextKind(c_) != kKindAssign) {
    indirect_pending_ = false;
    if (!Apply(kTokHash)) return false;
  }
  return true;
}

bool Evaluation::Flush() {
  while (operator_count_ > 0) {
    const int top = operators_[--operator_count_];
    if (top == kTokOpen) return Fail(kErrUnbalanced);
    if (!Apply(top)) return false;
  }
  return true;
}

bool Evaluation::Finish() {
  if (pushed_ == 0) return Fail(kErrTermExpected);
  if (operands_.size != 1) return Fail(kErrValueStack);
  if (operator_count_ != 0) return Fail(kErrOperandStack);
  double v = operands_.value[0];
  if (v == -kVacant) v = kVacant;
  c_.value = v;
  if (assignment_) {
    if (c_.env == nullptr || !c_.env->WriteVariable(c_.cs, target_, v)) {
      return Fail(kErrInvalidAssignment);
    }
  }
  return true;
}

double Evaluation::VacantRule(double v) {
  // What follows is classified as it follows a variable ("+ 1" is binary).
  const int prev_kind = c_.prev_kind;
  c_.prev_kind = kKindVariable;
  int next_token = 0;
  const int next = PeekNextKind(c_, &next_token);
  c_.prev_kind = prev_kind;
  const bool before_operator = IsOperatorKind(next);
  const bool after_operator = IsOperatorKind(prev_kind);
  if (prev_kind == kKindAssign && !before_operator) return v;
  if (after_operator && (c_.prev_token == kTokEq || c_.prev_token == kTokNe)) return v;
  if (before_operator) return (next_token == kTokEq || next_token == kTokNe) ? v : 0.0;
  if (!after_operator) return v;
  return 0.0;
}

bool Evaluation::Run() {
  for (;;) {
    if (!ClassifyNext(c_)) break;
    ++token_count_;
    c_.pos = AfterBlanks(c_.pos);
    switch (c_.kind) {
      case kKindAssign: {
        ++c_.pos;
        if (assignment_) return Fail(kErrOneAssignment);
        assignment_ = true;
        if (indirect_pending_) {
          if (operands_.size == 0) return Fail(kErrValueStack);
          const double t = operands_.value[--operands_.size];
          target_ = (t > -2147483648.0 && t < 2147483648.0) ? static_cast<int>(t) : -1;
          indirect_pending_ = false;
        } else {
          target_ = last_variable_;
          if (token_count_ >= 3 && c_.prev_kind != kKindVariable) {
            return Fail(kErrAssignmentFirst);
          }
        }
        if (c_.env == nullptr || !c_.env->CanAssign(c_.cs, target_)) {
          return Fail(kErrInvalidAssignment);
        }
        c_.prev_kind = kKindAssign;
        break;
      }
      case kKindOpen:
        ++c_.pos;
        if (!PushOperator(kTokOpen)) return false;
        c_.prev_kind = kKindOpen;
        c_.prev_token = kTokOpen;
        break;
      case kKindClose:
        ++c_.pos;
        if (!CloseBracket()) return false;
        if ((c_.bracket_condition || c_.word_slot < kSlotNone) && operator_count_ == 0) {
          c_.bracket_condition = false;
          return Finish();
        }
        c_.prev_kind = kKindClose;
        c_.prev_token = kTokClose;
        break;
      case kKindVariable: {
        if (AfterTerm(c_.prev_kind)) return Fail(kErrOperatorExpected);
        ++c_.pos;  // "#"
        const char* end = nullptr;
        const double n = ConvertNumber(c_.pos, &end);
        if (end == c_.pos || ClassOf(*end) == kClassDigit || !(n >= 0.0 && n <= 65535.0) ||
            std::fabs(n - std::round(n)) > 1e-8) {
          c_.pos = end == c_.pos ? c_.pos : end;
          return Fail(kErrIllegalVariable);
        }
        c_.pos = end;
        const int number = static_cast<int>(std::round(n));
        last_variable_ = number;
        if (PeekNextKind(c_) != kKindAssign) {
          double v = 0.0;
          if (c_.env == nullptr || !c_.env->ReadVariable(c_.cs, number, &v)) {
            c_.ok = false;
            return false;
          }
          if (number == 0 || v == kVacant) v = VacantRule(kVacant);
          if (!PushOperand(v)) return false;
        }
        c_.prev_kind = kKindVariable;
        break;
      }
      case kKindNumber: {
        if (AfterTerm(c_.prev_kind)) return Fail(kErrOperatorExpected);
        double v = 0.0;
        if (!ReadNumber(c_, &v, true)) return false;
        if (!PushOperand(v)) return false;
        c_.prev_kind = kKindNumber;
        break;
      }
      case kKindArithmetic:
      case kKindWord: {
        const int kind = c_.kind;
        int token = c_.token;
        if (c_.prev_kind == kKindStart && kind == kKindWord && token == kTokHash) {
          c_.pos = AfterBlanks(c_.pos + 1) + 1;  // "#", blanks, "["
          if (!PushOperator(kTokOpen)) return false;
          indirect_pending_ = true;
          c_.prev_kind = kind;
          c_.prev_token = token;
          break;
        }
        const int pk = c_.prev_kind;
        if ((token == kTokAdd || token == kTokSub) &&
            (pk == kKindArithmetic || pk == kKindWord || pk == kKindStart ||
             pk == kKindAssign || pk == kKindOpen)) {
          token += kTokPlus - kTokAdd;
        }
        if (token >= kTokAdd && token <= kTokDiv &&
            (((c_.prev_token >= kTokAdd && c_.prev_token <= kTokDiv) &&
              (pk == kKindArithmetic || pk == kKindWord)) ||
             pk == kKindAssign || pk == kKindOpen)) {
          return Fail(kErrTermExpected);
        }
        if (kind == kKindArithmetic) {
          ++c_.pos;
        } else {
          c_.pos += std::strlen(TokenText(c_.token));
          if (c_.token >= kFirstFunctionToken) c_.pos = AfterBlanks(c_.pos) + 1;
        }
        while (operator_count_ > 0 && operands_.size > 0 &&
               StackPrecedence(operators_[operator_count_ - 1]) >= IncomingPrecedence(token)) {
          const int top = operators_[--operator_count_];
          if (!Apply(top)) return false;
        }
        if (!PushOperator(token)) return false;
        if (token >= kFirstFunctionToken && !PushOperator(kTokOpen)) return false;
        c_.prev_token = token;
        c_.prev_kind = kind;
        break;
      }
      default:
        return Flush() && Finish();
    }
  }
  return Flush() && Finish();
}

}  // namespace

bool EvaluateExpression(NcLineCursor& cursor) {
  cursor.kind = kKindStart;
  cursor.prev_kind = kKindStart;
  cursor.prev_token = 0;
  // Both stacks live on this frame, apart, each of a fixed size.
  double operand_values[NcOperandStack::kCapacity];
  int operators[kStackCapacity];
  Evaluation evaluation(cursor, operand_values, operators);
  return evaluation.Run();
}

bool WordValue(NcLineCursor& cursor) {
  const char c = *cursor.pos;
  if (c == '\0' || IsBlankClass(c)) {
    cursor.Fail(kErrAddressValue);
    return false;
  }
  if (ClassOf(c) == kClassDigit) return ReadNumber(cursor, &cursor.value, true);
  return EvaluateExpression(cursor);
}

bool CodeNumber(NcLineCursor& cursor) {
  const char c = *cursor.pos;
  const bool label = cursor.word_slot == kSlotN || cursor.word_slot == kSlotO;
  if (!(ClassOf(c) == kClassDigit || (!label && c == '-'))) {
    cursor.Fail(kErrAddressValue);
    return false;
  }
  return ReadNumber(cursor, &cursor.value, true);
}

bool AssignmentStatement(NcLineCursor& cursor) { return EvaluateExpression(cursor); }

}  // namespace zimo::nc
