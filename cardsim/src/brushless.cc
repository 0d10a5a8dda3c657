#include "cardsim/brushless.h"

#include <algorithm>
#include <cmath>

namespace zimo::cardsim {

namespace {
constexpr double kPi = 3.14159265358979323846;
// A field weaker than this (output units) does not pull the rotor.
constexpr double kLeastField = 0.5;

// -180 (excluded) .. 180 degrees.
double Wrap180(double deg) {
  double d = std::fmod(deg, 360.0);
  if (d <= -180) d += 360;
  if (d > 180) d -= 360;
  return d;
}

double Wrap360(double deg) {
  double d = std::fmod(deg, 360.0);
  return d < 0 ? d + 360 : d;
}

// A signed 16-bit value in bits 8-23 of a word.
double Field16(uint32_t word) {
  auto v = static_cast<int32_t>((word >> 8) & 0xFFFF);
  return v >= 0x8000 ? v - 0x10000 : v;
}

uint32_t Word16(double value) {
  double v = std::clamp(std::round(value), -32768.0, 32767.0);
  return (static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFFFu) << 8;
}
}  // namespace

Brushless::Brushless(const CardModel& model, Variables& vars, Memory& memory, const Motors& motors,
                     const Script& script)
    : model_(model),
      vars_(vars),
      memory_(memory),
      motors_(motors),
      script_(script),
      rotors_(static_cast<size_t>(motors.count())),
      phases_(static_cast<size_t>(motors.count())) {}

double Brushless::I(int motor, int k) const { return vars_.I(motor * 100 + k); }

int Brushless::PhaseCurrentChannel(double ixx82) {
  // The current registers of channel c sit at $C006 + 8c on the card's
  // bus ($C006 = 49158); the card keeps its copy of channel c's two
  // readings at $710 + c.
  double c = std::trunc((std::trunc(ixx82) - 49150) / 8) - 1;
  return c >= 0 && c < kPhaseCurrentChannels ? static_cast<int>(c) : -1;
}

void Brushless::Reread() {
  rotor_settings_.resize(rotors_.size());
  for (size_t i = 0; i < rotors_.size(); ++i) {
    rotor_settings_[i] = script_.rotor(static_cast<int>(i) + 1);
  }
  channel_settings_.resize(kPhaseCurrentChannels);
  for (int c = 0; c < kPhaseCurrentChannels; ++c) channel_settings_[c] = script_.phase_currents(c);
}

Brushless::Phases Brushless::Commands(int motor) const {
  Phases p;
  if (motors_.InOpenLoop(motor) && I(motor, 0) != 0 && I(motor, 1) != 0) {
    // The card commutates the motor: with an open-loop output of 0 the
    // phases carry only their offsets; the third phase closes the sum.
    p.a = I(motor, 79);
    p.b = I(motor, 29);
    p.c = -(p.a + p.b);
    return p;
  }
  double out = I(motor, 2);
  if (out <= 0 || out > 0xFFFFFD) return p;
  auto a = static_cast<uint32_t>(out);
  p.a = Field16(memory_.Read(Space::kY, a));
  p.b = Field16(memory_.Read(Space::kY, a + 1));
  p.c = Field16(memory_.Read(Space::kY, a + 2));
  return p;
}

void Brushless::Turn(int motor, Rotor& rotor, const Phases& p, double dt_ms) {
  // Phases A, B, C lie at 0, 120 and 240 electrical degrees.
  double alpha = p.a - (p.b + p.c) / 2;
  double beta = std::sqrt(3.0) / 2 * (p.b - p.c);
  if (std::hypot(alpha, beta) < kLeastField) return;
  double field = std::atan2(beta, alpha) * 180 / kPi;
  const RotorScript& s = rotor_settings_[static_cast<size_t>(motor - 1)];
  double share = s.lag_ms > 0 ? 1 - std::exp(-dt_ms / s.lag_ms) : 1;
  double turn = Wrap180(field - rotor.angle) * share;
  rotor.angle = Wrap360(rotor.angle + turn);
  rotor.counts += (s.wiring < 0 ? -1 : 1) * turn / 360 * s.cycle_counts;
}

void Brushless::WriteIfChanged(Space space, uint32_t address, uint32_t value) {
  if (memory_.Read(space, address) != value) memory_.Write(space, address, value);
}

void Brushless::Publish(int motor, const Rotor& rotor) {
  double commutation = I(motor, 83);
  if (commutation > 0 && commutation <= 0xFFFFFF) {
    double count = std::fmod(std::round(rotor.counts), 16777216.0);
    if (count < 0) count += 16777216.0;
    WriteIfChanged(Space::kX, static_cast<uint32_t>(commutation), static_cast<uint32_t>(count));
  }
  double out = I(motor, 2);
  if (out >= 2 && out <= 0xFFFFFF) {
    // U, V, W: each on for half a cycle, 120 degrees apart, so the three
    // make six states a cycle.
    const RotorScript& s = rotor_settings_[static_cast<size_t>(motor - 1)];
    double at = rotor.angle - s.hall_offset_deg;
    uint32_t hall = 0;
    for (int k = 0; k < 3; ++k) {
      if (Wrap360(at - 120.0 * k) < 180) hall |= 1u << (20 + k);
    }
    auto address = static_cast<uint32_t>(out) - 2;
    uint32_t word = memory_.Read(Space::kX, address);
    WriteIfChanged(Space::kX, address, (word & ~(7u << 20)) | hall);
  }
}

void Brushless::PublishCurrents() {
  // The $710 block is the older cards' map.
  if (model_.spran) return;
  bool taken[kPhaseCurrentChannels] = {};
  for (int motor = 1; motor <= motors_.count(); ++motor) {
    int c = PhaseCurrentChannel(I(motor, 82));
    if (c < 0 || taken[c]) continue;  // the lowest motor on a channel is read
    taken[c] = true;
    const PhaseCurrentScript& s = channel_settings_[static_cast<size_t>(c)];
    const Phases& p = phases_[static_cast<size_t>(motor - 1)];
    double sign = s.sign < 0 ? -1 : 1;
    auto address = kPhaseCurrentWords + static_cast<uint32_t>(c);
    WriteIfChanged(Space::kX, address, Word16(s.offset_a + sign * s.gain_a * p.a));
    WriteIfChanged(Space::kY, address, Word16(s.offset_b + sign * s.gain_b * p.b));
  }
}

void Brushless::Cycle(double dt_ms) {
  if (script_.brushless_version() != version_) {
    version_ = script_.brushless_version();
    Reread();
  }
  for (int motor = 1; motor <= motors_.count(); ++motor) {
    Rotor& rotor = rotors_[static_cast<size_t>(motor - 1)];
    Phases& p = phases_[static_cast<size_t>(motor - 1)];
    p = Commands(motor);
    Turn(motor, rotor, p, dt_ms);
    Publish(motor, rotor);
  }
  PublishCurrents();
}

void Brushless::Place(int motor, double electrical_deg) {
  if (motor < 1 || motor > motors_.count()) return;
  rotors_[static_cast<size_t>(motor - 1)].angle = Wrap360(electrical_deg);
}

double Brushless::ElectricalAngle(int motor) const {
  if (motor < 1 || motor > motors_.count()) return 0;
  return rotors_[static_cast<size_t>(motor - 1)].angle;
}

double Brushless::EncoderCounts(int motor) const {
  if (motor < 1 || motor > motors_.count()) return 0;
  return rotors_[static_cast<size_t>(motor - 1)].counts;
}

}  // namespace zimo::cardsim
