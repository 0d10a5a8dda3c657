// I, P, Q and M variables on line: queries ("I130", "I130..133"),
// assignments with expressions ("P1=P2+3*I10", "P100..105=0") and
// M-variable definitions ("M1->X:$C000,0,24,S", "M2->*", "M3->").
#include <algorithm>
#include <string>

#include "cardsim/card_word.h"
#include "cardsim/expression.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

std::optional<double> Interpreter::ReadVariable(char letter, int n) const {
  if (!vars_.Valid(n)) return std::nullopt;
  switch (letter) {
    case 'I':
      return vars_.I(n);
    case 'P':
      return vars_.P(n);
    case 'Q':
      return vars_.Q(coord_, n);
    case 'M':
      return vars_.M(n);
    default:
      return std::nullopt;
  }
}

void Interpreter::WriteVariable(char letter, int n, double value) {
  switch (letter) {
    case 'I':
      vars_.SetI(n, value);
      break;
    case 'P':
      vars_.SetP(n, value);
      break;
    case 'Q':
      vars_.SetQ(coord_, n, value);
      break;
    case 'M':
      vars_.SetM(n, value);
      break;
    default:
      break;
  }
}

std::string Interpreter::VariableText(char letter, int n) const {
  double value = ReadVariable(letter, n).value_or(0.0);
  if (letter != 'I') return Variables::Format(value);
  // I9 bit 1: address variables in hex; bit 0: the name in front.
  auto i9 = static_cast<int>(vars_.I(9));
  std::string text = (i9 & 2) != 0 && vars_.IsAddressIVar(n) ? Variables::FormatHex(value)
                                                             : Variables::Format(value);
  if ((i9 & 1) != 0) text = "I" + std::to_string(n) + "=" + text;
  return text;
}

int Interpreter::Variable(Scanner& s, Reply& reply) {
  char letter = s.Take();
  auto first = s.Unsigned();
  if (!first || *first >= static_cast<uint64_t>(vars_.count())) return card_error::kBadCommand;
  uint64_t last = *first;
  if (s.AcceptWord("..")) {
    auto end = s.Unsigned();
    if (!end || *end < *first || *end >= static_cast<uint64_t>(vars_.count())) {
      return card_error::kBadCommand;
    }
    last = *end;
  }
  uint64_t step = 1;
  if (s.Accept(',') && !VariableSeries(s, *first, &last, &step)) return card_error::kBadCommand;
  if (last >= static_cast<uint64_t>(vars_.count())) return card_error::kBadCommand;
  int from = static_cast<int>(*first);
  int to = static_cast<int>(last);
  if (letter == 'M' && s.AcceptWord("->")) return MDefinitionCommand(s, reply, from, to);
  if (s.Accept('=')) {
    ExpressionContext context;
    context.read = [this](char l, int n) { return ReadVariable(l, n); };
    context.degrees = vars_.I(15) == 0;
    auto value = EvaluateExpression(s, context);
    if (!value) return card_error::kBadCommand;
    for (int n = from; n <= to; n += static_cast<int>(step)) WriteVariable(letter, n, *value);
    return 0;
  }
  for (int n = from; n <= to; n += static_cast<int>(step))
    reply.lines.push_back(VariableText(letter, n));
  return 0;
}

int Interpreter::MDefinitionCommand(Scanner& s, Reply& reply, int first, int last) {
  MDefinition def;
  char kind = s.Peek();
  if (s.Accept('*')) {
    def.kind = MDefinition::Kind::kSelf;
  } else if ((kind == 'X' || kind == 'Y' || kind == 'L' || kind == 'D') && s.PeekRaw(1) == ':') {
    s.Take();
    s.Take();
    auto address = s.Unsigned();
    if (!address || *address > word::kMask24) return card_error::kBadCommand;
    def.address = static_cast<uint32_t>(*address);
    if (kind == 'L' || kind == 'D') {
      def.kind = kind == 'L' ? MDefinition::Kind::kL : MDefinition::Kind::kD;
    } else {
      def.kind = kind == 'X' ? MDefinition::Kind::kX : MDefinition::Kind::kY;
      def.offset = 0;
      def.width = 24;
      if (s.Accept(',')) {
        auto a = s.Unsigned();
        if (!a) return card_error::kBadCommand;
        if (*a == 24) {
          // Offset 24 is the whole word; a width after it says nothing more
          // ("X:$a,24,1"), a format letter may follow ("X:$a,24,S").
          if (s.Accept(',')) {
            bool format_next = true;
            if (Scanner::IsDigit(s.Peek())) {
              if (!s.Unsigned()) return card_error::kBadCommand;
              format_next = s.Accept(',');
            }
            if (format_next) {
              char format = s.Take();
              if (format != 'U' && format != 'S') return card_error::kBadCommand;
              def.is_signed = format == 'S';
            }
          }
        } else if (s.Accept(',')) {
          auto b = s.Unsigned();
          if (!b) return card_error::kBadCommand;
          def.offset = static_cast<int>(std::min<uint64_t>(*a, 99));
          def.width = static_cast<int>(std::min<uint64_t>(*b, 99));
          if (s.Accept(',')) {
            char format = s.Take();
            if (format != 'U' && format != 'S') return card_error::kBadCommand;
            def.is_signed = format == 'S';
          }
        } else {  // "addr,n": bit n
          def.offset = static_cast<int>(std::min<uint64_t>(*a, 99));
          def.width = 1;
        }
      }
      if (def.width < 1 || def.offset + def.width > 24) return card_error::kBadCommand;
    }
  } else {
    for (int n = first; n <= last; ++n) reply.lines.push_back(vars_.MDef(n).Text());
    return 0;
  }
  for (int n = first; n <= last; ++n) vars_.DefineM(n, def);
  return 0;
}

}  // namespace zimo::cardsim
