// The token-by-token grammar check of a PLC source line: statement starts,
// operands and operators in turn, balanced parentheses and brackets, one
// comparison per clause, and one kind of arithmetic (24-bit integer or
// floating point) per statement.
#include <cmath>

#include "plcc/plcc_tokenizer.h"

namespace zimo::corvan::plcc {

namespace {

bool IsStatementCode(std::uint32_t k) { return (k >= 256 && k <= 383) || (k >= 770 && k <= 775); }
bool IsOperand(std::uint32_t k) { return k >= 32 && k <= 63; }
bool IsClosing(std::uint32_t k) { return k == 98 || k == 108; }
bool IsOpening(std::uint32_t k) { return k >= 64 && k <= 127 && !IsClosing(k); }
bool IsOperator(std::uint32_t k) { return (k >= 128 && k <= 191) || (k >= 648 && k <= 655); }
bool IsConditionStatement(std::uint32_t k) { return k == 292 || k == 296 || k == 298 || k == 299; }
bool IsAssignmentTarget(std::uint32_t k) { return (k >= 256 && k <= 287) || (k >= 770 && k <= 773); }

void ClearStatement(GrammarState& g) {
  g.statement = 0;
  g.comparison = false;
  g.paren = 0;
  g.bracket = 0;
  g.ftoi = 0;
  g.itof = 0;
  g.integer = false;
  g.floating = false;
  g.condition = false;
}

int BeginStatement(GrammarState& g, const PlccToken& t) {
  const std::uint32_t k = t.code & 0x3FF;
  ClearStatement(g);
  g.statement = k;
  g.phase = GrammarState::kOperand;
  if ((k >= 266 && k <= 267) || (k >= 272 && k <= 277) || (k >= 282 && k <= 287)) {
    g.integer = true;
  } else if (k == 774 || k == 775) {
    g.integer = true;
    g.paren = -1;  // RET( carries its own parenthesis
  } else if (k >= 320 && k <= 383) {
    g.phase = GrammarState::kStart;  // commands are complete in one token
  } else if (k >= 770 && k <= 773) {
    const int kind = static_cast<int>(t.value) & 30;
    if (kind == 10 || kind == 16 || kind == 18 || kind == 20) {
      g.integer = true;
    } else {
      g.floating = true;
    }
  } else if (k >= 256 && k <= 287) {
    g.floating = true;
  }
  if (IsConditionStatement(k)) g.condition = true;
  return 0;
}

int Opening(GrammarState& g, std::uint32_t k) {
  const bool in_brackets = g.bracket < 0;
  switch (k & ~1u) {
    case 110:  // FTOI(
      if (g.ftoi != 0 || g.itof != 0) return -kErrFormat;
      --g.paren;
      --g.ftoi;
      if (!in_brackets) g.integer = true;
      break;
    case 112:  // ITOF(
      if (g.ftoi != 0 || g.itof != 0 || in_brackets) return -kErrFormat;
      --g.paren;
      --g.itof;
      g.floating = true;
      break;
    case 102:  // Ln[
      if (g.ftoi != 0) return -kErrFormat;
      if (g.itof == 0 && !in_brackets) g.integer = true;
      --g.bracket;
      break;
    case 104:  // Fn[
    case 106:  // the [ of an indexed target
      --g.bracket;
      if ((k & ~1u) == 104 && g.ftoi == 0) g.floating = true;
      break;
    case 116:
    case 118:
    case 120:  // MI[ MM[ MP[
      g.integer = true;
      --g.bracket;
      break;
    default:
      --g.paren;
      if (g.ftoi != 0) --g.ftoi;
      if (g.itof != 0) --g.itof;
      if ((k & ~1u) != 96) {
        if (g.itof != 0 || in_brackets) return -kErrFormat;
        if (g.ftoi == 0) g.floating = true;
      }
      break;
  }
  return 0;
}

int Operand(const PlccCompilation& c, GrammarState& g, const PlccToken& t) {
  const std::uint32_t k = t.code & ~1u;
  const bool in_brackets = g.bracket < 0;
  if (k == 42 || k == 46) {
    if (g.ftoi != 0 && !in_brackets) return -kErrFormat;
    if (!in_brackets && g.itof == 0) g.integer = true;
  } else if (k == 48 || k == 50 || k == 52) {
    g.integer = true;
  } else if (k == 40) {
    const double v = t.value;
    const bool whole = std::isfinite(v) && v == std::floor(v) && v >= -0x800000 && v <= 0xFFFFFF;
    if (!whole) {
      if (in_brackets || g.itof != 0) return -kErrFormat;
      if (g.ftoi == 0) g.floating = true;
    }
    if (c.varplcc_section) {
      g.integer = true;
    } else if (!g.integer) {
      g.floating = true;
    }
  } else {  // I M P Q F
    if (in_brackets || g.itof != 0) return -kErrFormat;
    if (g.ftoi == 0) g.floating = true;
  }
  g.phase = GrammarState::kAfterOperand;
  return 0;
}

int Operator(GrammarState& g, std::uint32_t k) {
  if (k >= 160 && k <= 191) {
    if (!g.condition || g.paren != -1 || g.bracket != 0) return -kErrFormat;
    if (k >= 176) {
      if (g.comparison) return -kErrFormat;
      g.comparison = true;
      if ((k & ~1u) == 182 || (k & ~1u) == 190) g.floating = true;
    } else if (k >= 168 && k <= 171) {
      if (!g.comparison) return -kErrFormat;
      g.comparison = false;
      g.integer = false;
      g.floating = false;
      g.ftoi = 0;
      g.itof = 0;
    }
  }
  if (k >= 648 && k <= 655 && g.bracket < 0) return -kErrFormat;
  g.phase = GrammarState::kOperand;
  return 0;
}

}  // namespace

int IsPlccStatementComplete(const PlccCompilation& c) {
  const GrammarState& g = c.grammar;
  if (g.paren < 0) return -kErrParen;
  // A line may not end where its value is still to come: after an
  // operator, an opening, or an assignment target ("P1=", "L1=-").
  const bool last_open = g.has_previous && (IsOperator(g.previous) || IsOpening(g.previous) ||
                                            (g.phase == GrammarState::kOperand &&
                                             IsAssignmentTarget(g.previous)));
  if (g.bracket == 0 && (!g.condition || g.comparison) && !last_open) return 0;
  return g.bracket < 0 ? -kErrParen : -kErrFormat;
}

int CheckPlccToken(PlccCompilation& c, const PlccToken* token, const PlccToken* tokens,
                   std::size_t slot) {
  GrammarState& g = c.grammar;
  if (token == nullptr) {
    g = GrammarState{};
    return 0;
  }
  const std::uint32_t k = token->code & 0x3FF;
  int r = 0;
  switch (g.phase) {
    case GrammarState::kStart:
      if (!IsStatementCode(k)) return -kErrFormat;
      // COPYREG belongs right after OPEN SERVO, on the next line.
      if (k == kTokCopyReg && !(slot > 0 && (tokens[slot - 1].code & 0x3FF) == kTokOpenServo)) {
        return -kErrFormat;
      }
      r = BeginStatement(g, *token);
      break;
    case GrammarState::kOperand:
      if (IsOperator(k) || IsStatementCode(k)) return -kErrFormat;
      if (IsClosing(k)) return -kErrParen;  // right after an opening, operator or statement
      if (IsOpening(k)) {
        r = Opening(g, k);
      } else if (IsOperand(k)) {
        r = Operand(c, g, *token);
      } else {
        return -kErrFormat;
      }
      break;
    case GrammarState::kAfterOperand:
      if (IsOperand(k) || IsOpening(k)) return -kErrFormat;
      if (IsClosing(k)) {
        if (k == 98) {
          ++g.paren;
          if (g.ftoi != 0) ++g.ftoi;
          if (g.itof != 0) ++g.itof;
        } else {
          ++g.bracket;
        }
        if (g.paren > 0 || g.bracket > 0 || g.ftoi > 0 || g.itof > 0) return -kErrParen;
        const bool closes_condition =
            k == 98 && g.paren == 0 &&
            (IsConditionStatement(g.statement) || g.statement == 774 || g.statement == 775);
        if (closes_condition) {
          g.previous = k;
          g.has_previous = true;
          r = IsPlccStatementComplete(c);
          if (r != 0) return r;
          ClearStatement(g);
          g.phase = GrammarState::kStart;
        }
      } else if (IsOperator(k)) {
        r = Operator(g, k);
      } else if (IsStatementCode(k)) {
        r = IsPlccStatementComplete(c);
        if (r == 0) r = BeginStatement(g, *token);
      } else {
        return -kErrFormat;
      }
      break;
  }
  if (r != 0) return r;
  g.previous = k;
  g.has_previous = true;
  if (g.integer && g.floating) return -kErrFormat;
  if (c.varplcc_section && g.floating) return -kErrFormat;
  return 0;
}

}  // namespace zimo::corvan::plcc
