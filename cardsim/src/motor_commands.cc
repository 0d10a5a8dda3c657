// Commands to the addressed motor ("#n"): jogs, homing, kill, open-loop
// output, the position, velocity and following-error reports, and the axis
// definitions of the addressed coordinate system ("&1#1->1000X").
#include <cmath>
#include <string>

#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
std::string Rounded(double value, double step) {
  return Variables::Format(std::round(value / step) * step);
}
}  // namespace

int Interpreter::JogPlus(Scanner&, Reply&) {
  motors_.JogPositive(motor_);
  return 0;
}

int Interpreter::JogMinus(Scanner&, Reply&) {
  motors_.JogNegative(motor_);
  return 0;
}

int Interpreter::JogStop(Scanner&, Reply&) {
  motors_.JogStop(motor_);
  return 0;
}

int Interpreter::JogEquals(Scanner& s, Reply&) {
  char c = s.Peek();
  if (Scanner::IsDigit(c) || c == '-' || c == '+' || c == '.' || c == '$') {
    auto target = s.SignedNumber();
    if (!target) return card_error::kBadCommand;
    motors_.JogTo(motor_, *target);
  } else {
    motors_.JogReturn(motor_);
  }
  return 0;
}

int Interpreter::JogRelative(Scanner& s, Reply&) {
  auto distance = s.SignedNumber();
  if (!distance) return card_error::kBadCommand;
  motors_.JogBy(motor_, *distance);
  return 0;
}

int Interpreter::HomeMotor(Scanner&, Reply&) {
  motors_.Home(motor_);
  return 0;
}

int Interpreter::KillMotor(Scanner&, Reply&) {
  motors_.Kill(motor_);
  return 0;
}

int Interpreter::OpenLoop(Scanner& s, Reply&) {
  auto percent = s.SignedNumber();
  if (!percent) return card_error::kBadCommand;
  motors_.OpenLoop(motor_, *percent);
  return 0;
}

int Interpreter::ReportPosition(Scanner&, Reply& reply) {
  reply.lines.push_back(Rounded(motors_.Position(motor_), 0.1));
  return 0;
}

int Interpreter::ReportVelocity(Scanner&, Reply& reply) {
  reply.lines.push_back(Rounded(motors_.Velocity(motor_), 0.001));
  return 0;
}

int Interpreter::ReportFollowingError(Scanner&, Reply& reply) {
  reply.lines.push_back(Rounded(motors_.FollowingError(motor_), 0.1));
  return 0;
}

int Interpreter::AxisDefinition(Scanner& s, Reply& reply) {
  static constexpr std::string_view kAxes = "ABCUVWXYZ";
  size_t start = s.pos();
  std::optional<double> scale;
  char c = s.Peek();
  if (Scanner::IsDigit(c) || c == '-' || c == '+' || c == '.') scale = s.SignedNumber();
  char axis = s.Peek();
  if (axis == '\0' || kAxes.find(axis) == std::string_view::npos) {
    if (scale && *scale == 0) {  // "#4->0": in the system, moving no axis
      for (auto& [cs, motors] : axes_) motors.erase(motor_);
      axes_[coord_][motor_].assign(1, '0');
      return 0;
    }
    if (scale) return card_error::kBadCommand;
    s.Reset(start);
    auto cs = axes_.find(coord_);
    std::string def = "0";
    if (cs != axes_.end()) {
      auto it = cs->second.find(motor_);
      if (it != cs->second.end()) def = it->second;
    }
    reply.lines.push_back(def);
    return 0;
  }
  s.Take();
  std::string def = (scale ? Variables::Format(*scale) : std::string()) + axis;
  char sign = s.Peek();
  if (sign == '+' || sign == '-') {
    s.Take();
    auto offset = s.Number();
    if (!offset) return card_error::kBadCommand;
    def += sign + Variables::Format(*offset);
  }
  for (auto& [cs, motors] : axes_) motors.erase(motor_);  // a motor serves one system
  axes_[coord_][motor_] = def;
  return 0;
}

}  // namespace zimo::cardsim
