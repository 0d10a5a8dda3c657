// The lab's plants: chains of bodies on springs and dampers, integrated with
// fourth-order Runge-Kutta over sub-steps of each servo cycle.
#include "cardsim/lab_plant.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zimo::cardsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
// 16384 counts per revolution on the torsional disks.
constexpr double kTorsionCounts = 16384 / (2 * kPi);
// 10 micrometres per count on the carts.
constexpr double kLinearCounts = 100000;

LabPlantParameters Torsion(int disks) {
  LabPlantParameters p;
  p.mass.assign(disks, 0.0025);
  p.ground_spring.assign(disks, 0);
  p.coupling_spring.assign(disks - 1, 2.7);
  p.ground_damping.assign(disks, 0.005);
  p.coupling_damping.assign(disks - 1, 0.001);
  p.drive1.assign(disks, 0);
  p.drive1[0] = 0.1;
  p.drive2.assign(disks, 0);
  p.counts_per_unit = kTorsionCounts;
  return p;
}

LabPlantParameters Linear() {
  LabPlantParameters p;
  p.mass = {0.5, 0.5, 0.5};
  p.ground_spring = {200, 0, 0};
  p.coupling_spring = {200, 200};
  p.ground_damping = {1, 1, 1};
  p.coupling_damping = {0, 0};
  p.drive1 = {2, 0, 0};
  p.drive2 = {0, 0, 0};
  p.counts_per_unit = kLinearCounts;
  return p;
}

}  // namespace

bool LabPlant::Known(const std::string& name) {
  return name == "torsion3" || name == "torsion2" || name == "linear";
}

const char* LabPlant::KnownNames() { return "torsion3|torsion2|linear"; }

std::unique_ptr<LabPlant> LabPlant::Make(const std::string& name, double damping) {
  LabPlantParameters p;
  if (name == "torsion3") {
    p = Torsion(3);
  } else if (name == "torsion2") {
    p = Torsion(2);
  } else if (name == "linear") {
    p = Linear();
  } else {
    return nullptr;
  }
  for (double& c : p.ground_damping) c *= damping;
  for (double& c : p.coupling_damping) c *= damping;
  return std::make_unique<LabPlant>(std::move(p));
}

LabPlant::LabPlant(LabPlantParameters p) : p_(std::move(p)) {
  x_.assign(p_.mass.size(), 0);
  v_.assign(p_.mass.size(), 0);
}

void LabPlant::Accel(const std::vector<double>& x, const std::vector<double>& v, double u1,
                     double u2, std::vector<double>& a) const {
  const size_t n = x.size();
  for (size_t i = 0; i < n; ++i) {
    a[i] = p_.drive1[i] * u1 + p_.drive2[i] * u2 - p_.ground_spring[i] * x[i] -
           p_.ground_damping[i] * v[i];
  }
  for (size_t i = 0; i + 1 < n; ++i) {
    double f = p_.coupling_spring[i] * (x[i + 1] - x[i]) + p_.coupling_damping[i] * (v[i + 1] - v[i]);
    a[i] += f;
    a[i + 1] -= f;
  }
  for (size_t i = 0; i < n; ++i) a[i] /= p_.mass[i];
}

void LabPlant::Step(double dt_ms, double volts1, double volts2) {
  if (!(dt_ms > 0) || !std::isfinite(volts1) || !std::isfinite(volts2)) return;
  // Sub-steps of at most 0.1 ms keep the fastest mode's error far below a count.
  const int steps = std::max(1, static_cast<int>(std::ceil(dt_ms / 0.1)));
  const double h = dt_ms / 1000.0 / steps;
  const size_t n = x_.size();
  std::vector<double> x(n), v(n), k1x(n), k1v(n), k2x(n), k2v(n), k3x(n), k3v(n), k4x(n), k4v(n);
  for (int s = 0; s < steps; ++s) {
    k1x = v_;
    Accel(x_, v_, volts1, volts2, k1v);
    for (size_t i = 0; i < n; ++i) x[i] = x_[i] + h / 2 * k1x[i], v[i] = v_[i] + h / 2 * k1v[i];
    k2x = v;
    Accel(x, v, volts1, volts2, k2v);
    for (size_t i = 0; i < n; ++i) x[i] = x_[i] + h / 2 * k2x[i], v[i] = v_[i] + h / 2 * k2v[i];
    k3x = v;
    Accel(x, v, volts1, volts2, k3v);
    for (size_t i = 0; i < n; ++i) x[i] = x_[i] + h * k3x[i], v[i] = v_[i] + h * k3v[i];
    k4x = v;
    Accel(x, v, volts1, volts2, k4v);
    for (size_t i = 0; i < n; ++i) {
      x_[i] += h / 6 * (k1x[i] + 2 * k2x[i] + 2 * k3x[i] + k4x[i]);
      v_[i] += h / 6 * (k1v[i] + 2 * k2v[i] + 2 * k3v[i] + k4v[i]);
    }
  }
}

double LabPlant::Counts(int body) const {
  if (body < 1 || body > bodies()) return 0;
  return x_[body - 1] * p_.counts_per_unit;
}

}  // namespace zimo::cardsim
