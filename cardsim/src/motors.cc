#include "cardsim/motors.h"

#include <algorithm>
#include <cmath>

namespace zimo::cardsim {

namespace {
// The plant: counts/ms^2 of acceleration per output unit, and viscous
// friction (1/ms). With the default gains (Ixx30 2048, Ixx31 1800) the loop
// is critically damped at 1 rad/ms and lags a steady move by 2 ms.
constexpr double kPlantGain = 0.01;
constexpr double kFriction = 0.2;
constexpr double kFullOutput = 32767;  // "On" percentages are of this
}  // namespace

Motors::Motors(const CardModel& model, Variables& vars, Memory& memory)
    : model_(model), vars_(vars), memory_(memory), motors_(std::clamp(model.motors, 1, 32)) {
  PublishAll();
}

bool Motors::Active(int motor) const { return Valid(motor) && I(motor, 0) != 0; }

double Motors::I(int motor, int k) const { return vars_.I(motor * 100 + k); }

double Motors::CycleMs() const {
  double i10 = vars_.I(10);
  if (i10 <= 0) i10 = 3713707;
  return i10 / 8388608.0;
}

void Motors::StartMove(int motor, Motor& m) {
  if (m.mode != Mode::kClosed) {
    m.mode = Mode::kClosed;
    m.cmd = m.act;
    m.cmd_vel = 0;
    m.output = 0;
  }
  m.fatal = false;
  m.pre_jog = m.cmd - m.home_offset;
  m.homing = false;
  m.to_target = false;
  m.driven = false;
  (void)motor;
}

void Motors::Drive(int motor, double position, double velocity) {
  if (!Valid(motor)) return;
  Motor& m = motors_[motor - 1];
  if (m.mode != Mode::kClosed) return;
  m.driven = true;
  m.to_target = m.homing = false;
  m.target_vel = 0;
  m.cmd = position + m.home_offset;
  m.cmd_vel = velocity;
}

void Motors::Release(int motor) {
  if (!Valid(motor)) return;
  Motor& m = motors_[motor - 1];
  m.driven = false;
  m.cmd_vel = 0;
}

void Motors::SetLimitSwitch(int motor, bool positive, bool on) {
  if (!Valid(motor)) return;
  (positive ? motors_[motor - 1].switch_positive : motors_[motor - 1].switch_negative) = on;
  Publish(motor);
}

void Motors::SetPlantFault(int motor, double load, bool stuck) {
  if (!Valid(motor)) return;
  motors_[motor - 1].load = load;
  motors_[motor - 1].stuck = stuck;
}

bool Motors::ClosedLoop(int motor) const {
  return Valid(motor) && motors_[motor - 1].mode == Mode::kClosed;
}

uint32_t Motors::OutputAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  return model_.spran ? 0xAE + 0x80 * i : 0x3A + 0x3C * i;
}

uint32_t Motors::FollowingErrorAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  return model_.spran ? 0x9D + 0x80 * i : 0x33 + 0x3C * i;
}

void Motors::AdoptOutputWord(int motor, Motor& m) {
  // In open loop the output word drives the motor: the host or a program
  // writes it (older cards bits 4-23, SPRAN cards bits 8-23, signed).
  uint32_t word = memory_.Read(Space::kX, OutputAddress(motor));
  if (word == m.published_output || m.mode != Mode::kOpen) return;
  int shift = model_.spran ? 8 : 4;
  int width = 24 - shift;
  int32_t v = static_cast<int32_t>(word >> shift);
  if (v & (1 << (width - 1))) v -= 1 << width;
  m.output = model_.spran ? v : v / 16.0;
  m.published_output = word;
}

void Motors::AdoptCommandedWord(int motor, Motor& m) {
  // The commanded-position word is the card's own: a host or program write
  // into it moves the motor there (a step, as the card's servo sees it).
  int64_t word = memory_.ReadFixed48(CommandedAddress(motor));
  if (word == m.published_cmd || m.mode != Mode::kClosed) return;
  double scale = I(motor, 8) * 32;
  if (scale <= 0) scale = 3072;
  m.cmd = static_cast<double>(word) / scale + m.home_offset;
  m.cmd_vel = m.target_vel = 0;
  m.to_target = m.homing = m.driven = false;
  m.published_cmd = word;
}

void Motors::JogPositive(int motor) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  StartMove(motor, m);
  m.target_vel = std::fabs(I(motor, 22));
  Publish(motor);
}

void Motors::JogNegative(int motor) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  StartMove(motor, m);
  m.target_vel = -std::fabs(I(motor, 22));
  Publish(motor);
}

void Motors::JogStop(int motor) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  if (m.mode != Mode::kClosed) {
    StartMove(motor, m);
  }
  m.target_vel = 0;
  m.to_target = false;
  m.homing = false;
  Publish(motor);
}

void Motors::JogReturn(int motor) {
  if (!Active(motor)) return;
  JogTo(motor, motors_[motor - 1].pre_jog);
}

void Motors::JogTo(int motor, double position) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  double pre = m.cmd - m.home_offset;
  StartMove(motor, m);
  m.pre_jog = pre;
  m.to_target = true;
  m.target = position + m.home_offset;
  Publish(motor);
}

void Motors::JogBy(int motor, double distance) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  StartMove(motor, m);
  m.to_target = true;
  m.target = m.cmd + distance;
  Publish(motor);
}

void Motors::Home(int motor) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  StartMove(motor, m);
  // The home switch sits at the plant's zero; reaching it makes that the
  // motor's new zero.
  m.to_target = true;
  m.target = 0;
  m.homing = true;
  m.home_complete = false;
  Publish(motor);
}

void Motors::Kill(int motor) {
  if (!Valid(motor)) return;
  Motor& m = motors_[motor - 1];
  m.mode = Mode::kKilled;
  m.driven = false;
  m.cmd = m.act;
  // The amplifier is off: the plant coasts to rest on its friction.
  m.cmd_vel = m.target_vel = 0;
  m.to_target = m.homing = false;
  m.output = 0;
  Publish(motor);
}

void Motors::OpenLoop(int motor, double percent) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  m.mode = Mode::kOpen;
  m.driven = false;
  m.output = std::clamp(percent, -100.0, 100.0) / 100.0 * kFullOutput;
  m.to_target = m.homing = false;
  m.target_vel = m.cmd_vel = 0;
  m.fatal = false;
  Publish(motor);
}

void Motors::KillAll() {
  for (int i = 1; i <= count(); ++i) Kill(i);
}

void Motors::StopAll() {
  for (int i = 1; i <= count(); ++i) {
    Motor& m = motors_[i - 1];
    if (m.mode != Mode::kClosed) continue;
    m.target_vel = 0;
    m.to_target = m.homing = false;
    Publish(i);
  }
}

double Motors::Position(int motor) const {
  // The encoder counts whole counts.
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  return std::round(m.act - m.home_offset);
}

double Motors::CommandedPosition(int motor) const {
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  return m.cmd - m.home_offset;
}

double Motors::Velocity(int motor) const {
  return Valid(motor) ? motors_[motor - 1].act_vel * CycleMs() : 0;
}

double Motors::FollowingError(int motor) const {
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  return m.mode == Mode::kClosed ? m.cmd - m.act : 0;
}

bool Motors::InPosition(int motor) const {
  if (!Valid(motor)) return false;
  const Motor& m = motors_[motor - 1];
  return m.mode == Mode::kClosed && !m.to_target && m.target_vel == 0 && m.cmd_vel == 0 &&
         std::fabs(m.cmd - m.act) * 16 < std::max(I(motor, 28), 1.0);
}

uint32_t Motors::ServoStatus(int motor) const {
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  uint32_t w = 0;
  if (I(motor, 0) != 0) w |= servo_bit::kActivated;
  if (m.mode != Mode::kClosed) w |= servo_bit::kOpenLoop;
  if (m.to_target) w |= servo_bit::kDefiniteMove;
  if (!m.to_target && m.target_vel == 0 && m.cmd_vel == 0) w |= servo_bit::kVelocityZero;
  if (m.homing) w |= servo_bit::kHomeSearch;
  // Software limits (Ixx13 positive, Ixx14 negative; 0 is none) and the
  // scripted limit switches.
  double at = Position(motor);
  if (m.switch_positive || (I(motor, 13) != 0 && at > I(motor, 13))) {
    w |= servo_bit::kPositiveLimit;
  }
  if (m.switch_negative || (I(motor, 14) != 0 && at < I(motor, 14))) {
    w |= servo_bit::kNegativeLimit;
  }
  if (model_.spran && m.mode != Mode::kKilled) w |= servo_bit::kAmpEnabledSpran;
  return (w | m.scripted_servo) & 0xFFFFFFu;
}

uint32_t Motors::MotorStatus(int motor) const {
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  uint32_t w = 0;
  if (InPosition(motor)) w |= motor_bit::kInPosition;
  if (m.warn) w |= motor_bit::kWarnFollowingError;
  if (m.fatal) w |= motor_bit::kFatalFollowingError;
  if (m.home_complete) w |= motor_bit::kHomeComplete;
  if (!model_.spran && m.mode != Mode::kKilled) w |= motor_bit::kAmpEnabledOlder;
  const double at = Position(motor);
  if ((I(motor, 13) != 0 && at > I(motor, 13)) || (I(motor, 14) != 0 && at < I(motor, 14))) {
    w |= motor_bit::kSoftLimit;
  }
  // Assignment: SPRAN bit 15 and the system minus 1 in bits 16-19; older
  // bit 23 and the system minus 1 in bits 20-22.
  if (m.coord > 0) {
    auto c = static_cast<uint32_t>(m.coord - 1);
    w |= model_.spran ? (1u << 15) | ((c & 0xF) << 16) : (1u << 23) | ((c & 0x7) << 20);
  }
  return (w | m.scripted_motor) & 0xFFFFFFu;
}

void Motors::SetAssignment(int motor, int coord) {
  if (Valid(motor)) motors_[motor - 1].coord = coord;
}

void Motors::SetScriptedBits(int motor, uint32_t servo_bits, uint32_t motor_bits) {
  if (!Valid(motor)) return;
  motors_[motor - 1].scripted_servo = servo_bits & 0xFFFFFFu;
  motors_[motor - 1].scripted_motor = motor_bits & 0xFFFFFFu;
  Publish(motor);
}

int32_t Motors::Output(int motor) const {
  if (!Valid(motor)) return 0;
  const Motor& m = motors_[motor - 1];
  double units = m.mode == Mode::kOpen ? m.output : (m.mode == Mode::kKilled ? 0 : m.servo_out);
  return static_cast<int32_t>(std::clamp(std::round(units), -32768.0, 32767.0));
}

void Motors::HomeHere(int motor) {
  if (!Active(motor)) return;
  Motor& m = motors_[motor - 1];
  m.home_offset = m.cmd;
  m.home_complete = true;
  Publish(motor);
}

void Motors::SetPosition(int motor, double position) {
  if (!Valid(motor)) return;
  Motor& m = motors_[motor - 1];
  m.act = m.cmd = position + m.home_offset;
  m.cmd_vel = m.act_vel = m.target_vel = 0;
  m.to_target = m.homing = false;
  Publish(motor);
}

void Motors::SetExternalPosition(int motor, double counts) {
  if (!Valid(motor)) return;
  Motor& m = motors_[motor - 1];
  m.external = true;
  m.external_pos = counts;
}

void Motors::Advance(int cycles) {
  double dt = CycleMs();
  for (int c = 0; c < cycles; ++c) {
    for (int i = 1; i <= count(); ++i) {
      AdoptCommandedWord(i, motors_[i - 1]);
      AdoptOutputWord(i, motors_[i - 1]);
      Step(i, motors_[i - 1], dt);
      CurrentLoop(i, motors_[i - 1], dt);
    }
  }
  if (cycles > 0) PublishAll();
}

double Motors::ServoOutput(int motor, const Motor& m, double cmd, double cmd_acc) const {
  // Proportional on the following error, derivative on the plant's
  // velocity, velocity and acceleration feed-forward, integral; in output
  // units, limited to Ixx69.
  double kp = I(motor, 30) / 2048.0;
  double kd = I(motor, 31) / 1000.0;
  double kvff = I(motor, 32) / 1000.0;
  double ki = I(motor, 33) / 1e6;
  double kaff = I(motor, 35) / 1000.0;
  double e = cmd - m.act;
  double a = kp * e + kvff * m.cmd_vel - kd * m.act_vel + ki * m.integral + kaff * cmd_acc;
  double limit = std::fabs(I(motor, 69));
  return std::clamp(a / kPlantGain, -limit, limit);
}

void Motors::Plant(int motor, Motor& m, double dt, double cmd_from, double cmd_acc) {
  // Inertia and viscous friction: acceleration = gain x output - friction x
  // velocity (+ a scripted load). Sub-steps keep a stiff loop stable.
  double kp = std::max(I(motor, 30) / 2048.0, 0.0);
  double rate = std::sqrt(kp) + std::fabs(I(motor, 31)) / 1000.0 + kFriction;
  int steps = std::clamp(static_cast<int>(std::ceil(dt * rate / 0.2)), 2, 400);
  double h = dt / steps;
  for (int k = 0; k < steps; ++k) {
    double u = 0;
    if (m.mode == Mode::kClosed) {
      // The commanded position moves on smoothly within the cycle.
      double cmd = cmd_from + (m.cmd - cmd_from) * (k + 1) / steps;
      u = ServoOutput(motor, m, cmd, cmd_acc);
      m.integral += (cmd - m.act) * h;
    } else if (m.mode == Mode::kOpen) {
      u = m.output;
    }
    m.servo_out = u;
    if (m.external) {
      // A lab plant moves the encoder; its velocity is the cycle's travel.
      if (k + 1 == steps) {
        m.act_vel = (m.external_pos - m.act) / dt;
        m.act = m.external_pos;
      }
      continue;
    }
    if (m.stuck) {
      m.act_vel = 0;
      continue;
    }
    // Exact over the sub-step for a held output: the velocity moves
    // exponentially toward drive / friction.
    double v_end = (kPlantGain * u + m.load) / kFriction;
    double decay = std::exp(-kFriction * h);
    m.act += v_end * h + (m.act_vel - v_end) * (1 - decay) / kFriction;
    m.act_vel = v_end + (m.act_vel - v_end) * decay;
  }
  if (!m.external && m.mode == Mode::kClosed && m.cmd_vel == 0 && std::fabs(m.cmd - m.act) < 1e-9 &&
      std::fabs(m.act_vel) < 1e-9 && m.load == 0) {
    m.act = m.cmd;  // at rest on the target
    m.act_vel = 0;
  }
}

void Motors::Step(int motor, Motor& m, double dt) {
  double cmd_vel_before = m.cmd_vel;
  double cmd_before = m.cmd;
  switch (m.mode) {
    case Mode::kKilled:
    case Mode::kOpen:
      Plant(motor, m, dt, m.act, 0);
      m.cmd = m.act;
      m.cmd_vel = 0;
      m.integral = 0;
      break;
    case Mode::kClosed: {
      if (!m.driven) {
        double accel = std::fabs(I(motor, 19));
        if (m.to_target) {
          double speed = std::fabs(I(motor, m.homing ? 23 : 22));
          double dist = m.target - m.cmd;
          if (std::fabs(dist) <= std::max(std::fabs(m.cmd_vel) * dt, 1e-9) || speed == 0) {
            m.cmd = m.target;
            m.cmd_vel = m.target_vel = 0;
            m.to_target = false;
            if (m.homing) {
              m.homing = false;
              m.home_complete = true;
              m.home_offset = m.target;
            }
          } else {
            double reach = accel > 0 ? std::sqrt(2 * accel * std::fabs(dist)) : speed;
            m.target_vel = std::copysign(std::min(speed, reach), dist);
          }
        }
        double dv = m.target_vel - m.cmd_vel;
        double step = accel > 0 ? accel * dt : std::fabs(dv);
        m.cmd_vel += std::clamp(dv, -step, step);
        if (m.to_target) {  // never overshoot the target
          double next = m.cmd + m.cmd_vel * dt;
          if ((m.target - m.cmd) * (m.target - next) < 0) m.cmd_vel = (m.target - m.cmd) / dt;
        }
        m.cmd += m.cmd_vel * dt;
      }
      // A program's or a host's step of the commanded position is a step.
      Plant(motor, m, dt, m.cmd_vel != 0 ? cmd_before : m.cmd, (m.cmd_vel - cmd_vel_before) / dt);
      double fe16 = std::fabs(m.cmd - m.act) * 16;
      m.warn = I(motor, 12) > 0 && fe16 > I(motor, 12);
      if (I(motor, 11) > 0 && fe16 > I(motor, 11)) {
        Kill(motor);
        m.fatal = true;
      }
      break;
    }
  }
}

uint32_t Motors::ServoStatusAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  if (model_.spran) return 0xB0 + 0x80 * i;
  bool variant2 = model_.type_text.find("ESA") != std::string::npos;
  return (variant2 ? 0x4F : 0x3D) + 0x3C * i;
}

uint32_t Motors::MotorStatusAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  return model_.spran ? 0xC0 + 0x80 * i : 0x814 + 0xC0 * i;
}

uint32_t Motors::CommandedAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  return model_.spran ? 0x88 + 0x80 * i : 0x28 + 0x3C * i;
}

uint32_t Motors::ActualAddress(int motor) const {
  uint32_t i = static_cast<uint32_t>(motor - 1);
  return model_.spran ? 0x8B + 0x80 * i : 0x2B + 0x3C * i;
}

void Motors::Publish(int motor) {
  if (!Valid(motor)) return;
  double scale = I(motor, 8) * 32;
  if (scale <= 0) scale = 3072;
  memory_.Write(Space::kX, ServoStatusAddress(motor), ServoStatus(motor));
  memory_.Write(Space::kY, MotorStatusAddress(motor), MotorStatus(motor));
  memory_.WriteFixed48(CommandedAddress(motor), CommandedPosition(motor) * scale);
  Motor& m = motors_[motor - 1];
  m.published_cmd = memory_.ReadFixed48(CommandedAddress(motor));
  // The output word: what the servo (or the open loop) applies.
  int shift = model_.spran ? 8 : 4;
  int width = 24 - shift;
  double units = m.mode == Mode::kOpen ? m.output : (m.mode == Mode::kKilled ? 0 : m.servo_out);
  double raw = std::round(model_.spran ? units : units * 16);
  double top = static_cast<double>((1 << (width - 1)) - 1);
  auto bits = static_cast<uint32_t>(static_cast<int32_t>(std::clamp(raw, -top - 1, top)));
  uint32_t old = memory_.Read(Space::kX, OutputAddress(motor));
  uint32_t low = (1u << shift) - 1;
  memory_.Write(Space::kX, OutputAddress(motor), (old & low) | ((bits << shift) & 0xFFFFFFu));
  m.published_output = memory_.Read(Space::kX, OutputAddress(motor));
  // The settle word, in 1/(Ixx09 x 32) count: the following error plus the
  // distance the motor moved in the last servo cycle, so it is near 0 only
  // while the motor rests where it is commanded to (open loop: at rest).
  double fe_scale = I(motor, 9) * 32;
  if (fe_scale <= 0) fe_scale = 3072;
  double fe = std::clamp(std::round((FollowingError(motor) + Velocity(motor)) * fe_scale),
                         -8388608.0, 8388607.0);
  memory_.Write(Space::kX, FollowingErrorAddress(motor),
                static_cast<uint32_t>(static_cast<int32_t>(fe)) & 0xFFFFFFu);
  memory_.WriteFixed48(ActualAddress(motor), Position(motor) * scale);
}

void Motors::PublishAll() {
  for (int i = 1; i <= count(); ++i) Publish(i);
}

}  // namespace zimo::cardsim
