// Motion programs: "&cBn" points coordinate system c at program n, "R"
// runs it, "A" stops it. Statements run in order as they are reached (no
// look-ahead): a move or a dwell holds the program until it is over, then
// the next statement runs in the same servo cycle. Moves are LINEAR
// (trapezoids with TA ms of acceleration, lasting TM ms or distance / F)
// or PVT (cubic segments of the set time that meet the given end position
// and velocity), ABS or INC, of the axes "#m->" defines; the "%" override
// scales how fast program time passes, dwells excepted.
#include <cmath>
#include <string>

#include "cardsim/expression.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
constexpr std::string_view kAxisLetters = "XYZUVWABC";
// Statements a program may run in one servo cycle without moving (a WHILE
// loop with no move in it runs on in the next cycle).
constexpr int kStatementsPerCycle = 1000;

std::string ProgramName(int n) { return "PROG " + std::to_string(n); }
}  // namespace

std::map<int, Interpreter::AxisOf> Interpreter::AxesOf(int coord) const {
  std::map<int, AxisOf> out;
  auto it = axes_.find(coord);
  if (it == axes_.end()) return out;
  for (const auto& [motor, def] : it->second) {
    AxisOf a;
    Scanner s(def);
    char c = s.Peek();
    if (Scanner::IsDigit(c) || c == '-' || c == '+' || c == '.')
      a.scale = s.SignedNumber().value_or(1);
    if (kAxisLetters.find(s.Peek()) != std::string_view::npos && s.Peek() != '\0') {
      a.letter = s.Take();
      if (auto off = s.SignedNumber()) a.offset = *off;
    }
    out[motor] = a;
  }
  return out;
}

bool Interpreter::ProgramRunning(int coord) const {
  auto it = cs_.find(coord);
  return it != cs_.end() && it->second.running;
}

void Interpreter::MatchPositions(int coord) {
  CoordState& c = cs_[coord];
  for (const auto& [motor, a] : AxesOf(coord)) {
    if (a.letter == 0 || a.scale == 0) continue;
    c.axis[a.letter] = (motors_.CommandedPosition(motor) - a.offset) / a.scale;
    c.axis_vel[a.letter] = 0;
  }
}

void Interpreter::StopProgram(int coord) {
  CoordState& c = cs_[coord];
  c.running = c.moving = c.dwelling = false;
  c.held = c.step = c.step_wait = false;
  c.moves.clear();
  for (const auto& [motor, a] : AxesOf(coord)) motors_.Release(motor);
}

int Interpreter::Begin(Scanner& s, Reply&) {
  auto n = s.Unsigned();
  if (!n || *n > 32767) return card_error::kBadCommand;
  if (ProgramRunning(coord_)) return card_error::kRunning;
  if (*n != kRotaryProgram && Buffer(ProgramName(static_cast<int>(*n))) == nullptr) {
    return card_error::kNoProgram;
  }
  CoordState& c = cs_[coord_];
  c.program = static_cast<int>(*n);
  c.pc = c.sub = 0;
  c.pvt = c.inc = false;
  // The system's defaults: acceleration time Isx87 (ms) and feed rate Isx89
  // in units per Isx90 ms.
  int base = (model_.spran ? 5000 : 0) + 100 * coord_;
  if (vars_.Valid(base + 90)) {
    c.ta = std::max(vars_.I(base + 87), 0.0);
    double per_ms = vars_.I(base + 90) > 0 ? vars_.I(base + 90) : 1000.0;
    c.f = std::max(vars_.I(base + 89), 0.0) * 1000.0 / per_ms;
    c.tm = 0;
  }
  return 0;
}

int Interpreter::RunChecks(int coord) {
  auto it = cs_.find(coord);
  if (it == cs_.end() || it->second.program < 0 ||
      (it->second.program != kRotaryProgram &&
       Buffer(ProgramName(it->second.program)) == nullptr)) {
    return card_error::kNoProgram;
  }
  auto axes = AxesOf(coord);
  if (axes.empty()) return card_error::kNoMotors;
  for (const auto& [motor, a] : axes) {
    if (vars_.I(motor * 100) == 0) return card_error::kNotActivated;
  }
  for (const auto& [motor, a] : axes) {
    if (!motors_.ClosedLoop(motor)) return card_error::kOpenLoop;
  }
  if (it->second.program == kRotaryProgram) return 0;
  const CompiledProgram* program = Compiled(ProgramName(it->second.program));
  if (program == nullptr || !program->well_formed) return card_error::kBadStructureRun;
  return 0;
}

int Interpreter::RunProgram(Scanner&, Reply&) {
  if (ProgramRunning(coord_)) {  // R on a held or stepping program runs it on
    CoordState& c = cs_[coord_];
    c.held = c.step = c.step_wait = false;
    return 0;
  }
  if (int error = RunChecks(coord_); error != 0) return error;
  CoordState& c = cs_[coord_];
  MatchPositions(coord_);
  c.running = true;
  c.moving = c.dwelling = false;
  return 0;
}

int Interpreter::Abort(Scanner&, Reply&) {
  if (ProgramRunning(coord_)) StopProgram(coord_);
  return 0;
}

int Interpreter::PositionMatch(Scanner&, Reply&) {
  MatchPositions(coord_);
  return 0;
}

int Interpreter::ProgramCounter(Scanner&, Reply& reply) {
  auto it = cs_.find(coord_);
  if (it == cs_.end() || it->second.program < 0) return card_error::kNoProgram;
  const CompiledProgram* program = Compiled(ProgramName(it->second.program));
  size_t line = 0;
  if (program != nullptr && it->second.pc < program->statements.size()) {
    line = program->statements[it->second.pc].line;
  }
  reply.lines.push_back("P" + std::to_string(it->second.program) + ":" + std::to_string(line));
  return 0;
}

std::optional<double> Interpreter::ProgramValue(Scanner& s, int coord) {
  ExpressionContext context;
  context.read = [this, coord](char l, int n) -> std::optional<double> {
    if (l == 'Q') return vars_.Valid(n) ? std::optional<double>(vars_.Q(coord, n)) : std::nullopt;
    return ReadVariable(l, n);
  };
  context.degrees = vars_.I(15) == 0;
  return EvaluateExpression(s, context);
}

void Interpreter::ApplyMove(CoordState& c, double t) {
  for (const MotorMove& m : c.moves) {
    double p = 0, v = 0;
    double T = c.duration;
    if (T <= 0) {
      p = c.cubic ? m.p1 : m.end;
    } else if (c.cubic) {
      // Cubic Hermite segment: meets (p0, v0) at its start, (p1, v1) at its end.
      double u = std::clamp(t / T, 0.0, 1.0);
      double u2 = u * u, u3 = u2 * u;
      p = (2 * u3 - 3 * u2 + 1) * m.p0 + (u3 - 2 * u2 + u) * T * m.v0 + (-2 * u3 + 3 * u2) * m.p1 +
          (u3 - u2) * T * m.v1;
      v = ((6 * u2 - 6 * u) * m.p0 + (3 * u2 - 4 * u + 1) * T * m.v0 + (-6 * u2 + 6 * u) * m.p1 +
           (3 * u2 - 2 * u) * T * m.v1) /
          T;
    } else {
      // Trapezoid: accelerate for ta, cruise, decelerate for ta.
      double ta = c.accel_time;
      double d = m.end - m.start;
      double vmax = d / (T - ta);
      double tt = std::clamp(t, 0.0, T);
      double s = 0;
      if (tt < ta) {
        s = 0.5 * vmax / ta * tt * tt;
        v = vmax / ta * tt;
      } else if (tt <= T - ta) {
        s = 0.5 * vmax * ta + vmax * (tt - ta);
        v = vmax;
      } else {
        double r = T - tt;
        s = d - 0.5 * vmax / ta * r * r;
        v = vmax / ta * r;
      }
      p = m.start + s;
    }
    motors_.Drive(m.motor, p, t >= T ? (c.cubic ? m.v1 : 0.0) : v);
  }
}

bool Interpreter::AxisMove(int coord, CoordState& c, Scanner& s) {
  // One or more axis words ("X1000", "X(P1023):0", "X100Y200").
  std::map<char, std::pair<double, double>> target;  // letter -> position, velocity
  while (true) {
    size_t at = s.pos();
    char letter = s.Peek();
    if (letter == '\0' || kAxisLetters.find(letter) == std::string_view::npos) break;
    if (target.count(letter) != 0) break;  // the same axis again: the next move
    s.Take();
    char next = s.Peek();
    if (!(Scanner::IsDigit(next) || next == '-' || next == '+' || next == '.' || next == '(' ||
          next == '$')) {
      s.Reset(at);
      break;
    }
    auto value = ProgramValue(s, coord);
    if (!value) {
      s.Reset(at);
      break;
    }
    double vel = 0;
    if (s.Accept(':')) {
      auto v = ProgramValue(s, coord);
      if (!v) return false;
      vel = *v / 1000.0;  // units per second
    }
    double start = c.axis.count(letter) != 0 ? c.axis[letter] : 0.0;
    target[letter] = {c.inc ? start + *value : *value, vel};
  }
  return StartMove(coord, c, target, -1);
}

// Starts one move of a system's axes to `target` (letter -> position, velocity).
// The duration follows the move mode: PVT segment, TM time, feed rate over the
// longest axis, or `rapid_duration` (ms) when the caller has worked one out.
bool Interpreter::StartMove(int coord, CoordState& c,
                            const std::map<char, std::pair<double, double>>& target,
                            double rapid_duration) {
  if (target.empty()) return false;
  c.moves.clear();
  c.cubic = c.pvt;
  double longest = 0;
  for (const auto& [letter, pv] : target) {
    longest = std::max(longest, std::fabs(pv.first - c.axis[letter]));
  }
  if (c.pvt) {
    c.duration = c.segment;
  } else if (rapid_duration >= 0) {
    c.duration = rapid_duration;
  } else if (c.tm > 0) {
    c.duration = c.tm;
  } else {
    c.duration = c.f > 0 ? longest / c.f * 1000.0 : 0;
  }
  if (!c.pvt) {
    c.duration = std::max(c.duration, c.ta);
    c.accel_time = std::min(c.ta, c.duration / 2);
    if (c.accel_time <= 0) c.accel_time = c.duration / 2;
  }
  for (const auto& [motor, a] : AxesOf(coord)) {
    auto t = target.find(a.letter);
    if (a.letter == 0 || t == target.end()) continue;
    MotorMove m;
    m.motor = motor;
    m.p0 = m.start = a.scale * c.axis[a.letter] + a.offset;
    m.v0 = a.scale * c.axis_vel[a.letter];
    m.p1 = m.end = a.scale * t->second.first + a.offset;
    m.v1 = c.pvt ? a.scale * t->second.second : 0;
    c.moves.push_back(m);
  }
  for (const auto& [letter, pv] : target) {
    c.axis[letter] = pv.first;
    c.axis_vel[letter] = c.pvt ? pv.second : 0;
  }
  c.moving = true;
  c.t = 0;
  return true;
}

bool Interpreter::MotionStatement(int coord, CoordState& c, const std::string& text) {
  // Runs the commands of one statement from c.sub on; true when a move or
  // dwell started (c.sub then marks what follows it).
  Scanner s(text);
  s.Reset(c.sub);
  while (!s.AtEnd()) {
    auto value_after = [&](std::string_view word) -> std::optional<double> {
      if (!s.AcceptWord(word)) return std::nullopt;
      auto v = ProgramValue(s, coord);
      return v ? v : std::optional<double>(0.0);
    };
    if (s.AcceptWord("LINEAR") || s.AcceptWord("LIN")) {
      c.pvt = false;
    } else if (s.AcceptWord("ABS")) {
      c.inc = false;
    } else if (s.AcceptWord("INC")) {
      c.inc = true;
    } else if (auto pvt = value_after("PVT")) {
      c.pvt = true;
      c.segment = std::max(*pvt, 0.0);
    } else if (auto tm = value_after("TM")) {
      c.tm = std::max(*tm, 0.0);
      c.segment = c.tm;
    } else if (auto ta = value_after("TA")) {
      c.ta = std::max(*ta, 0.0);
    } else if (value_after("TS")) {
      // S-curve time: the simulated profiles have none.
    } else if (s.AcceptWord("DWELL") || s.AcceptWord("DWE") || s.AcceptWord("DELAY") ||
               s.AcceptWord("DLY")) {
      auto ms = ProgramValue(s, coord);
      if (!ms) return false;
      c.dwelling = true;
      c.duration = std::max(*ms, 0.0);
      c.t = 0;
      c.sub = s.pos();
      for (auto& [letter, v] : c.axis_vel) v = 0;
      return true;
    } else if (AxisMove(coord, c, s)) {
      c.sub = s.pos();
      return true;
    } else if (s.Peek() == 'F' && s.PeekRaw(1) != '\0' &&
               (Scanner::IsDigit(s.PeekRaw(1)) || s.PeekRaw(1) == '(' || s.PeekRaw(1) == '.')) {
      s.Take();
      c.f = std::max(ProgramValue(s, coord).value_or(c.f), 0.0);
    } else {
      // Anything else runs as in a PLC: assignments, definitions, commands.
      size_t before = s.pos();
      Reply reply;
      int saved_coord = coord_;
      coord_ = coord;
      bool was = in_program_;
      in_program_ = true;
      int error = RunOne(s, reply);
      in_program_ = was;
      coord_ = saved_coord;
      if (error != 0 || s.pos() == before) break;  // cannot run the rest: pass over it
    }
  }
  c.sub = 0;
  return false;
}

void Interpreter::MotionCycle() {
  double dt = vars_.I(10) > 0 ? vars_.I(10) / 8388608.0 : 3713707 / 8388608.0;
  for (auto& [coord, c] : cs_) {
    if (!c.running) continue;
    writer_ = "&" + std::to_string(coord);
    const bool rotary = c.program == kRotaryProgram;
    const CompiledProgram* program = rotary ? nullptr : Compiled(ProgramName(c.program));
    if (!rotary && (program == nullptr || !program->well_formed)) {
      StopProgram(coord);
      continue;
    }
    bool loop_open = false;
    for (const auto& [motor, a] : AxesOf(coord))
      loop_open = loop_open || !motors_.ClosedLoop(motor);
    if (loop_open) {  // a killed or open-loop motor ends the program
      StopProgram(coord);
      continue;
    }
    if (c.held || c.step_wait) {  // program time stands still
      for (const MotorMove& m : c.moves)
        motors_.Drive(m.motor, motors_.CommandedPosition(m.motor), 0);
      continue;
    }
    auto feed = feed_.find(coord);
    double rate = feed == feed_.end() ? 1.0 : std::max(feed->second, 0.0) / 100.0;
    double left = dt;  // time of this cycle still to spend
    if (c.moving) {
      c.t += dt * rate;
      ApplyMove(c, c.t);
      if (c.t < c.duration) continue;
      left = (c.t - c.duration) / (rate > 0 ? rate : 1);
      c.moving = false;
      if (c.step) {  // single step: wait for the next step or run
        c.step_wait = true;
        continue;
      }
    } else if (c.dwelling) {
      c.t += dt;
      if (c.t < c.duration) continue;
      left = c.t - c.duration;
      c.dwelling = false;
      if (c.step) {
        c.step_wait = true;
        continue;
      }
    }
    if (rotary) {
      RotaryStatements(coord, c, left, rate);
      continue;
    }
    const auto& st = program->statements;
    for (int budget = kStatementsPerCycle; budget > 0 && c.running; --budget) {
      if (c.pc >= st.size()) {
        StopProgram(coord);  // the program's end
        break;
      }
      const Statement& s = st[c.pc];
      bool started = false;
      switch (s.kind) {
        case Statement::Kind::kPlain:
          started = MotionStatement(coord, c, s.text);
          if (c.sub == 0) ++c.pc;
          break;
        case Statement::Kind::kIf:
        case Statement::Kind::kWhile:
          c.pc = Condition(s.text, coord).value_or(false) ? c.pc + 1 : s.jump + 1;
          break;
        case Statement::Kind::kElse:
          c.pc = s.jump + 1;
          break;
        case Statement::Kind::kEndIf:
          ++c.pc;
          break;
        case Statement::Kind::kEndWhile:
          c.pc = s.jump;
          break;
        case Statement::Kind::kCommand: {
          int m = motor_, k = coord;
          RunInProgram(s.text, m, k, false);
          ++c.pc;
          break;
        }
      }
      if (started && SpendStarted(c, left, rate)) break;
    }
  }
}

bool Interpreter::SpendStarted(CoordState& c, double& left, double rate) {
  // What is left of this cycle goes into the new move or dwell.
  if (c.moving) {
    c.t = left * rate;
    ApplyMove(c, c.t);
    if (c.t < c.duration) return true;
    left = (c.t - c.duration) / (rate > 0 ? rate : 1);
    c.moving = false;
  } else {
    c.t = left;
    if (c.t < c.duration) return true;
    left = c.t - c.duration;
    c.dwelling = false;
  }
  if (c.step) {
    c.step_wait = true;
    return true;
  }
  return false;
}

}  // namespace zimo::cardsim
