// Coordinate systems running their binary rotary buffer ("&cB0R"): each
// servo cycle the system reads units of buffer c - 1 (host-side records
// first, then the DPR ring) and runs them in order, as a motion program runs
// its statements: axis words of one block make one move, which holds the
// system until it is over; IF and WHILE frames pass over or repeat the rest
// of their line. Every item that runs goes into the motion log.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "cardsim/interpreter.h"
#include "cardsim/rotary_statement.h"
#include "cardsim/rotary_units.h"

namespace zimo::cardsim {
namespace {

using rotary::Item;
using Kind = rotary::Item::Kind;

constexpr int kStepsPerCycle = 1000;
constexpr int kTimeTa = 0, kTimeTs = 1, kTimePvt = 2, kTimeTm = 67, kTimeDwell = 68,
              kTimeDelay = 69, kTimeVelocity = 70;
constexpr int kWordF = 6;
constexpr char kVariableLetters[] = "IMPQ";

// The axis letters in the order of their bits in a unit's axis mask: the
// n-th (from 0) has bit 2n + 1.
constexpr char kAxisLetters[] = "ABCUVWXYZ";

uint32_t AxisBit(char letter) {
  const char* at = letter == '\0' ? nullptr : std::strchr(kAxisLetters, letter);
  return at == nullptr ? 0 : 1u << (2 * (at - kAxisLetters) + 1);
}

}  // namespace

bool Interpreter::BinaryRotaryOn() const {
  return model_.spran ? binary_rotary_open_ : vars_.I(57) != 0;
}

uint32_t Interpreter::RotaryStatusBits(int coord) const {
  uint32_t bits = 0;
  if (rotary_ != nullptr && rotary_->RingFull(coord - 1)) bits |= 1u << 16;  // rotary buffer full
  auto it = rotary_runs_.find(coord);
  if (it == rotary_runs_.end()) return bits;
  switch (it->second.mode) {
    case 1:
      bits |= 1u << 1;  // rapid
      break;
    case 2:
      bits |= 1u << 0;  // circle clockwise
      break;
    case 3:
      bits |= (1u << 0) | (1u << 1);
      break;
    case 4:
      bits |= (1u << 0) | (1u << 4);  // spline
      break;
    default:
      break;
  }
  if (it->second.error) bits |= 1u << 22;  // run-time error
  return bits;
}

bool Interpreter::RotaryFetch(RotaryRun& r, int buffer, size_t number, uint64_t* unit) {
  if (number < r.base) return false;
  while (number - r.base >= r.window.size()) {
    uint64_t u = 0;
    if (rotary_ == nullptr || !rotary_->Take(buffer, &u)) return false;
    r.window.push_back(u & rotary::kUnitMask);
  }
  *unit = r.window[number - r.base];
  return true;
}

void Interpreter::RotaryFail(int coord, RotaryRun& r, const std::string& why, uint64_t unit) {
  if (rotary_ != nullptr) rotary_->Log(coord, "ERROR " + why + " " + rotary::UnitHex(unit));
  r.error = true;
  r.pending.clear();
  StopProgram(coord);
}

void Interpreter::RotaryText(int coord, const std::string& text) {
  // Commands the card also takes on line run as they would there, with the
  // system's Q-variables.
  Scanner s(text);
  Reply reply;
  const int saved = coord_;
  const bool was = in_program_;
  coord_ = coord;
  in_program_ = true;
  while (!s.AtEnd()) {
    const size_t before = s.pos();
    if (RunOne(s, reply) != 0 || s.pos() == before) break;
  }
  in_program_ = was;
  coord_ = saved;
}

bool Interpreter::RotaryMove(int coord, CoordState& c, RotaryRun& r) {
  // The axis words of the block so far make one move.
  std::map<char, std::pair<double, double>> target;
  for (const auto& [letter, pv] : r.pending) {
    const double start = c.axis.count(letter) != 0 ? c.axis[letter] : 0.0;
    target[letter] = {(r.inc_axes & AxisBit(letter)) != 0 ? start + pv.first : pv.first, pv.second};
  }
  r.pending.clear();
  r.last_axis = 0;
  if (target.empty()) return false;
  if (c.pvt || r.mode != 1) return StartMove(coord, c, target, -1);
  // Rapid: as fast as the slowest motor's limit Ixx16 (counts/ms) allows.
  double rapid = 0;
  for (const auto& [motor, a] : AxesOf(coord)) {
    auto t = target.find(a.letter);
    if (a.letter == 0 || t == target.end()) continue;
    const double vmax = std::max(vars_.I(motor * 100 + 16), 1e-6);
    const double from = c.axis.count(a.letter) != 0 ? c.axis[a.letter] : 0.0;
    rapid = std::max(rapid, std::fabs(a.scale * (t->second.first - from)) / vmax);
  }
  return StartMove(coord, c, target, rapid);
}

void Interpreter::RotaryWord(int coord, CoordState& c, RotaryRun& r, int code, double value) {
  const char letter = rotary::AxisLetter(code);
  if (letter != 0) {
    if (r.pset) {
      // PSET: the axis reads `value` from now on; its motors are placed there.
      for (const auto& [motor, a] : AxesOf(coord)) {
        if (a.letter == letter) motors_.SetPosition(motor, a.scale * value + a.offset);
      }
      c.axis[letter] = value;
      c.axis_vel[letter] = 0;
      return;
    }
    r.pending[letter] = {value, 0.0};
    r.last_axis = letter;
    return;
  }
  if (code == kWordF) c.f = std::max(value, 0.0);
  // The other words (G, M, T, D, I, J, K, R, CALL, ...) change no motion of
  // this card: they are only logged.
}

bool Interpreter::RotaryTime(int coord, CoordState& c, RotaryRun& r, int code, double value) {
  (void)coord;
  switch (code) {
    case kTimeTa:
      c.ta = std::max(value, 0.0);
      return false;
    case kTimeTs:
      return false;  // S-curve time: the simulated profiles have none
    case kTimePvt:
      c.pvt = true;
      r.mode = 0;
      c.segment = std::max(value, 0.0);
      return false;
    case kTimeTm:
      c.tm = std::max(value, 0.0);
      c.segment = c.tm;
      return false;
    case kTimeDwell:
    case kTimeDelay:
      c.dwelling = true;
      c.duration = std::max(value, 0.0);
      c.t = 0;
      for (auto& [letter, v] : c.axis_vel) v = 0;
      return true;
    case kTimeVelocity:
      // ":" gives the end velocity (units per second) of the axis before it.
      if (auto it = r.pending.find(r.last_axis); it != r.pending.end()) {
        it->second.second = value / 1000.0;
      }
      return false;
    default:
      return false;  // "^" and CCR are only logged
  }
}

Interpreter::RotaryStepResult Interpreter::RotaryStep(int coord, CoordState& c, RotaryRun& r) {
  const int buffer = coord - 1;
  uint64_t unit = 0;
  if (!RotaryFetch(r, buffer, r.pc, &unit)) {
    // Nothing more has come: a pending move runs now.
    if (!r.pending.empty() && RotaryMove(coord, c, r)) return RotaryStepResult::kStarted;
    return RotaryStepResult::kWait;
  }
  const Item item = rotary::DecodeUnit(unit, model_.spran);
  if (!r.pending.empty()) {
    // The move of the block so far ends at anything but a further axis
    // word of the same block (or the ":" velocity of its last axis).
    const char letter = item.kind == Kind::kWord ? rotary::AxisLetter(item.code) : 0;
    const bool more =
        !item.block_start && ((letter != 0 && r.pending.count(letter) == 0 && !r.pset) ||
                              (item.kind == Kind::kTimeWord && item.code == kTimeVelocity));
    if (!more) {
      return RotaryMove(coord, c, r) ? RotaryStepResult::kStarted : RotaryStepResult::kContinue;
    }
  }
  if (item.block_start) r.pset = false;  // PSET holds for the rest of its block
  auto log = [&](const std::string& text) {
    if (rotary_ != nullptr) rotary_->Log(coord, text);
  };
  switch (item.kind) {
    case Kind::kWord:
      log(rotary::ItemText(item));
      ++r.pc;
      RotaryWord(coord, c, r, item.code, item.value);
      return RotaryStepResult::kContinue;
    case Kind::kTimeWord:
      log(rotary::ItemText(item));
      ++r.pc;
      return RotaryTime(coord, c, r, item.code, item.value) ? RotaryStepResult::kStarted
                                                            : RotaryStepResult::kContinue;
    case Kind::kPlcList:
      log(rotary::ItemText(item));
      ++r.pc;
      if (item.mask != 0) RotaryText(coord, rotary::ItemText(item));
      return RotaryStepResult::kContinue;
    case Kind::kAxisMode:
      log(rotary::ItemText(item));
      ++r.pc;
      r.inc_axes = item.code == 1 ? (r.inc_axes | item.mask) : (r.inc_axes & ~item.mask);
      return RotaryStepResult::kContinue;
    case Kind::kFrax:
      log(rotary::ItemText(item));
      ++r.pc;
      r.frax_axes = item.mask;
      return RotaryStepResult::kContinue;
    case Kind::kHome:
      log(rotary::ItemText(item));
      ++r.pc;
      for (int m = 1; m <= 32; ++m) {
        if (((item.mask >> (m - 1)) & 1u) == 0 || !motors_.Valid(m)) continue;
        if (item.code == 3) {
          motors_.Home(m);
          r.homing |= 1u << (m - 1);
        } else {
          motors_.HomeHere(m);
        }
      }
      if (item.code != 3) MatchPositions(coord);
      return r.homing != 0 ? RotaryStepResult::kWait : RotaryStepResult::kContinue;
    case Kind::kCountCommand:
      log(rotary::ItemText(item));
      ++r.pc;
      if (item.code == 0) {  // CIRCLE n: 1 clockwise, 2 counter-clockwise, 0 back to linear
        r.mode = item.count == 1 ? 2 : item.count == 2 ? 3 : 0;
        c.pvt = false;
      } else if (item.code == 4) {  // SPLINE
        r.mode = 4;
        c.pvt = false;
      }
      return RotaryStepResult::kContinue;
    case Kind::kPlainCommand:
      log(rotary::ItemText(item));
      ++r.pc;
      switch (item.code) {
        case 1:  // LINEAR
          r.mode = 0;
          c.pvt = false;
          break;
        case 9:  // RAPID
          r.mode = 1;
          c.pvt = false;
          break;
        case 3:  // PSET
          r.pset = true;
          break;
        case 5:  // STOP: the system stops; R runs on from the next unit
          StopProgram(coord);
          return RotaryStepResult::kWait;
        case 8:  // WAIT: until the system's motors are in position
          r.wait_in_position = true;
          return RotaryStepResult::kWait;
        default:
          break;  // NORMAL, BLOCK START, BLOCK STOP, TINIT
      }
      return RotaryStepResult::kContinue;
    case Kind::kEmpty:
      ++r.pc;
      return RotaryStepResult::kContinue;
    case Kind::kFrame: {
      const bool held = r.conditions;
      r.conditions = true;
      r.pc += held ? 1 : 1 + item.count;
      if (!held && item.is_while) r.keep_from.reset();  // the loop is over
      return RotaryStepResult::kContinue;
    }
    case Kind::kBackJump: {
      const int64_t to = static_cast<int64_t>(r.pc) + 1 + item.jump;
      if (to < static_cast<int64_t>(r.base) || to > static_cast<int64_t>(r.pc)) {
        RotaryFail(coord, r, "jump back out of its line", unit);
        ++r.pc;
        return RotaryStepResult::kWait;
      }
      r.pc = static_cast<size_t>(to);
      return RotaryStepResult::kContinue;
    }
    case Kind::kStatement: {
      rotary::Statement st;
      std::string why;
      const size_t first = r.pc;
      const rotary::DecodeResult result = rotary::DecodeStatement(
          [&](size_t k, uint64_t* u) { return RotaryFetch(r, buffer, first + k, u); }, model_.spran,
          &st, &why);
      if (result == rotary::DecodeResult::kWait) return RotaryStepResult::kWait;
      if (result == rotary::DecodeResult::kInvalid) {
        RotaryFail(coord, r, why, unit);
        ++r.pc;
        return RotaryStepResult::kWait;
      }
      if (st.kind == rotary::Statement::Kind::kWhile && !r.keep_from) r.keep_from = first;
      r.pc += st.units;
      log(rotary::StatementText(st));
      rotary::Evaluation context;
      const int saved = coord_;
      coord_ = coord;
      context.read = [this](int type, int n) {
        return ReadVariable(kVariableLetters[type & 3], n).value_or(0.0);
      };
      context.degrees = vars_.I(15) == 0;
      context.atan2_x = ReadVariable('Q', 0).value_or(0.0);
      using SK = rotary::Statement::Kind;
      RotaryStepResult out = RotaryStepResult::kContinue;
      switch (st.kind) {
        case SK::kAssign:
          WriteVariable(kVariableLetters[st.type & 3], st.number,
                        rotary::EvaluateValue(st.value, st.constants, context));
          break;
        case SK::kIndirectAssign:
        case SK::kMOperator:
        case SK::kIndirectMOperator: {
          double v = rotary::EvaluateValue(st.value, st.constants, context);
          int n = st.number;
          if (st.kind != SK::kMOperator) {
            const double index = rotary::EvaluateValue(st.index, st.constants, context);
            n = std::isfinite(index) && index >= 0 && index < 1e9 ? static_cast<int>(index) : -1;
          }
          const char letter = st.kind == SK::kIndirectAssign ? kVariableLetters[st.type & 3] : 'M';
          if (letter == 'M' && st.kind != SK::kIndirectAssign && st.op != 3) {
            // "&=", "|=", "^=" work on the integer parts.
            const auto old = static_cast<int64_t>(ReadVariable('M', n).value_or(0.0));
            const auto with = static_cast<int64_t>(v);
            v = static_cast<double>(st.op == 2   ? (old & with)
                                    : st.op == 0 ? (old | with)
                                                 : (old ^ with));
          }
          if (n >= 0) WriteVariable(letter, n, v);
          break;
        }
        case SK::kWordExpression:
          RotaryWord(coord, c, r, st.code, rotary::EvaluateValue(st.value, st.constants, context));
          break;
        case SK::kTimeExpression:
          if (RotaryTime(coord, c, r, st.code,
                         rotary::EvaluateValue(st.value, st.constants, context))) {
            out = RotaryStepResult::kStarted;
          }
          break;
        case SK::kIf:
        case SK::kWhile:
          r.conditions = rotary::EvaluateCondition(st.value, st.constants, context) && r.conditions;
          break;
      }
      coord_ = saved;
      return out;
    }
    case Kind::kConstant:
      RotaryFail(coord, r, "constant without its statement", unit);
      ++r.pc;
      return RotaryStepResult::kWait;
    case Kind::kInvalid:
      RotaryFail(coord, r, item.why, unit);
      ++r.pc;
      return RotaryStepResult::kWait;
  }
  return RotaryStepResult::kWait;
}

void Interpreter::RotaryStatements(int coord, CoordState& c, double& left, double rate) {
  RotaryRun& r = rotary_runs_[coord];
  const int buffer = coord - 1;
  if (rotary_ == nullptr) return;
  r.error = false;
  if (const uint64_t g = rotary_->generation(buffer); g != r.generation) {
    // The host set the buffer up anew: what was read ahead is gone.
    r.window.clear();
    r.base = r.pc;
    r.keep_from.reset();
    r.pending.clear();
    r.conditions = true;
    r.generation = g;
  }
  if (!BinaryRotaryOn()) return;
  if (r.homing != 0) {
    for (int m = 1; m <= 32; ++m) {
      if (((r.homing >> (m - 1)) & 1u) != 0 && motors_.Valid(m) &&
          (motors_.ServoStatus(m) & servo_bit::kHomeSearch) != 0) {
        return;
      }
    }
    r.homing = 0;
    MatchPositions(coord);
  }
  if (r.wait_in_position) {
    for (const auto& [motor, a] : AxesOf(coord)) {
      if (!motors_.InPosition(motor)) return;
    }
    r.wait_in_position = false;
  }
  for (int budget = kStepsPerCycle; budget > 0 && c.running; --budget) {
    const RotaryStepResult result = RotaryStep(coord, c, r);
    // Units before the next one (or before a WHILE that may jump back) are done.
    const size_t keep = r.keep_from ? std::min(*r.keep_from, r.pc) : r.pc;
    while (r.base < keep && !r.window.empty()) {
      r.window.pop_front();
      ++r.base;
    }
    if (result == RotaryStepResult::kWait) break;
    if (result == RotaryStepResult::kStarted && SpendStarted(c, left, rate)) break;
    if (r.homing != 0 || r.wait_in_position) break;
  }
}

}  // namespace zimo::cardsim
