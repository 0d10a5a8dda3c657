// The card's ring: stations on nodes 0 to 63 (SPRAN) or 0 to 13, each with
// its own I-variables 0 to 999, read and written with "MSn,Im" and
// "MSn,Im=value". A node without a station answers ERR008.
#include <string>

#include "cardsim/expression.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
constexpr int kStationVariables = 1000;
}  // namespace

void Interpreter::AddRingStation(int node, double station_type) {
  if (node < 0 || node >= ring_nodes()) return;
  std::vector<double> vars(kStationVariables, 0.0);
  vars[3] = station_type;  // what a ring scan reads to find the station
  vars[996] = node;        // the station's own number
  stations_[node] = std::move(vars);
}

void Interpreter::RemoveRingStation(int node) { stations_.erase(node); }

int Interpreter::RingCommand(Scanner& s, Reply& reply) {
  auto node = s.Unsigned();
  if (!node || !s.Accept(',') || !s.Accept('I')) return card_error::kBadCommand;
  auto n = s.Unsigned();
  if (!n || *n >= kStationVariables || *node >= static_cast<uint64_t>(ring_nodes())) {
    return card_error::kBadCommand;
  }
  auto station = stations_.find(static_cast<int>(*node));
  if (station == stations_.end()) return card_error::kNoRingNode;
  double& value = station->second[static_cast<size_t>(*n)];
  if (s.Accept('=')) {
    ExpressionContext context;
    context.read = [this](char l, int v) { return ReadVariable(l, v); };
    auto v = EvaluateExpression(s, context);
    if (!v) return card_error::kBadCommand;
    value = *v;
    return 0;
  }
  // I9 bit 0 puts the station variable's name in front, as for I-variables.
  std::string text = Variables::Format(value);
  if ((static_cast<int>(vars_.I(9)) & 1) != 0) {
    text = "MS" + std::to_string(*node) + ",I" + std::to_string(*n) + "=" + text;
  }
  reply.lines.push_back(text);
  return 0;
}

}  // namespace zimo::cardsim
