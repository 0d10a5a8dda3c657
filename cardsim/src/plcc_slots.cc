// Compiled PLCs run from a chain of jump slots in program memory: slot n is
// a long jump at S + 2n whose target word at S + 2n + 1 is the PLC's resume
// address while it is enabled, and the next slot (S + 2n + 2) while it is
// disabled. S lies 32 words above the table base B, whose word n holds the
// PLC's entry address (bit 23 set, addressing bits 16-22 above it).
#include <string>

#include "cardsim/expression.h"
#include "cardsim/variables.h"

#include "cardsim/interpreter.h"
#include "cardsim/plcc_runner.h"

namespace zimo::cardsim {

int Interpreter::PlccList(Scanner& s, bool enable) {
  uint32_t mask = 0;
  if (int error = ProgramNumbers(s, &mask); error != 0) return error;
  plcc_->SetEnabled(mask, enable);
  return 0;
}

// "I159,32,100": 32 variables from I159 on, 100 apart.
bool Interpreter::VariableSeries(Scanner& s, uint64_t first, uint64_t* last, uint64_t* step) {
  auto count = s.Unsigned();
  if (!count || *count == 0 || !s.Accept(',')) return false;
  auto by = s.Unsigned();
  if (!by || *by == 0) return false;
  *step = *by;
  *last = first + (*count - 1) * *by;
  return true;
}

// Ring-station variables: MIn queries and assignments (values kept by the
// card, 0 until set).
int Interpreter::RingStationVariable(Scanner& s, Reply& reply) {
  s.Take();
  s.Take();
  auto n = s.Unsigned();
  constexpr uint64_t kRingStationVars = 1024;
  if (!n || *n >= kRingStationVars) return card_error::kBadCommand;
  const int index = static_cast<int>(*n);
  if (s.Accept('=')) {
    ExpressionContext context;
    context.read = [this](char l, int v) { return ReadVariable(l, v); };
    auto value = EvaluateExpression(s, context);
    if (!value) return card_error::kBadCommand;
    ring_station_vars_[index] = *value;
    return 0;
  }
  const auto it = ring_station_vars_.find(index);
  reply.lines.push_back(Variables::Format(it != ring_station_vars_.end() ? it->second : 0.0));
  return 0;
}

// DELETE PLCC n: the PLC is disabled and its entry word no longer marks
// compiled code, so it stays off until a new download.
int Interpreter::DeletePlcc(Scanner& s, Reply&) {
  uint32_t mask = 0;
  if (int error = ProgramNumbers(s, &mask); error != 0) return error;
  plcc_->Delete(mask);
  return 0;
}

int Interpreter::EnablePlcc(Scanner& s, Reply&) { return PlccList(s, true); }

int Interpreter::DisablePlcc(Scanner& s, Reply&) { return PlccList(s, false); }

}  // namespace zimo::cardsim
