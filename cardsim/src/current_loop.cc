// The current loop of each motor (older card map). Two currents follow
// their commands through a first-order lag each servo cycle:
//
//   direct      commanded by Ixx77 (output units), as a current-loop test
//               sets it for a brushless motor;
//   quadrature  commanded by the output the motor applies: the output word
//               in open loop (a brush motor driven directly), the servo's
//               output in closed loop.
//
// A killed or deactivated motor (Ixx00 = 0) commands no current. The lag's
// time constant is 10 ms / (1 + 100 x Ixx62): a larger integral gain makes a
// faster loop, and Ixx62 = 0 still lets the current build up slowly.
//
// The card publishes the currents as a 16-bit reading in bits 8-23 of its
// current words (so 1000 output units read $03E800):
//
//   Y:$44 + $3C m   direct current          X:$44 + $3C m   quadrature current
//   Y:$46 + $3C m   phase A current         X:$46 + $3C m   phase B current
//
// The phase currents are the two currents seen from the stator at
// commutation angle 0: phase A the direct current, phase B
// -direct/2 + sqrt(3)/2 x quadrature. SPRAN cards have no current words.
#include <algorithm>
#include <cmath>

#include "cardsim/motors.h"

namespace zimo::cardsim {

namespace {
constexpr double kLagAtZeroGain = 10.0;  // ms
constexpr double kGainScale = 100.0;
constexpr double kFullCurrent = 32767;
constexpr uint32_t kFirstCurrentWord = 0x44, kPhaseWords = 0x46, kMotorStep = 0x3C;

// A current as the card's 16-bit reading in bits 8-23.
uint32_t Reading(double current) {
  const double units = std::clamp(std::round(current), -kFullCurrent - 1, kFullCurrent);
  return (static_cast<uint32_t>(static_cast<int32_t>(units)) << 8) & 0xFFFFFFu;
}
}  // namespace

void Motors::CurrentLoop(int motor, const Motor& m, double dt) {
  if (model_.spran || !Valid(motor)) return;
  if (currents_.size() < motors_.size()) currents_.resize(motors_.size());
  Currents& c = currents_[motor - 1];

  double direct = 0, quadrature = 0;
  if (m.mode != Mode::kKilled && I(motor, 0) != 0) {
    direct = std::clamp(I(motor, 77), -kFullCurrent, kFullCurrent);
    quadrature = m.mode == Mode::kOpen ? m.output : m.servo_out;
  }
  const double tau = kLagAtZeroGain / (1 + kGainScale * std::max(I(motor, 62), 0.0));
  const double follow = dt > 0 ? 1 - std::exp(-dt / tau) : 0;
  c.direct += (direct - c.direct) * follow;
  c.quadrature += (quadrature - c.quadrature) * follow;

  const uint32_t base = kMotorStep * static_cast<uint32_t>(motor - 1);
  memory_.Write(Space::kY, kFirstCurrentWord + base, Reading(c.direct));
  memory_.Write(Space::kX, kFirstCurrentWord + base, Reading(c.quadrature));
  memory_.Write(Space::kY, kPhaseWords + base, Reading(c.direct));
  memory_.Write(Space::kX, kPhaseWords + base,
                Reading(-c.direct / 2 + std::sqrt(3.0) / 2 * c.quadrature));
}

}  // namespace zimo::cardsim
