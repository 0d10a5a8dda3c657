// The lab plants behind the DAC words and encoders: their modal frequencies,
// static deflection, energy without damping, and an open-loop step checked
// against the documented equations integrated here on their own.
#include <cmath>
#include <complex>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"
#include "cardsim/lab_plant.h"

namespace zimo::cardsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kLabI10 = 7427414;
constexpr double kCycleS = kLabI10 / 8388608.0 / 1000.0;

// The documented parameters (cardsim/README.md), written out on their own.
struct Documented {
  std::vector<double> mass, ground_k, coupling_k, ground_c, coupling_c, drive1;
  double counts;
};
Documented Doc(const std::string& name) {
  double rev = 16384 / (2 * kPi);
  if (name == "torsion3") return {{0.0025, 0.0025, 0.0025}, {0, 0, 0}, {2.7, 2.7}, {0.005, 0.005, 0.005}, {0.001, 0.001}, {0.1, 0, 0}, rev};
  if (name == "torsion2") return {{0.0025, 0.0025}, {0, 0}, {2.7}, {0.005, 0.005}, {0.001}, {0.1, 0}, rev};
  return {{0.5, 0.5, 0.5}, {200, 0, 0}, {200, 200}, {1, 1, 1}, {0, 0}, {2, 0, 0}, 100000};
}

CardModel LabCard(const std::string& plant, double damping = 1) {
  CardModel m = CardModel::Older();
  m.i10 = kLabI10;
  m.plant = plant;
  m.plant_damping = damping;
  return m;
}

void SetDac1(Card& card, double volts) {
  card.Execute("WY$C003," + std::to_string(static_cast<long>(std::lround(volts * 838656))));
}

// Encoder signals sampled every servo cycle.
std::vector<std::vector<double>> Record(Card& card, int bodies, double seconds) {
  std::vector<std::vector<double>> s(bodies);
  int cycles = static_cast<int>(seconds / kCycleS);
  for (int c = 0; c < cycles; ++c) {
    card.AdvanceServo(1);
    for (int b = 0; b < bodies; ++b) s[b].push_back(card.MotorPosition(b + 1));
  }
  return s;
}

// The magnitude of the Hann-windowed spectrum of x at f (Hz).
double Spectrum(const std::vector<double>& x, double f) {
  std::complex<double> sum = 0;
  const size_t n = x.size();
  for (size_t i = 0; i < n; ++i) {
    double w = 0.5 - 0.5 * std::cos(2 * kPi * i / (n - 1));
    sum += w * x[i] * std::polar(1.0, -2 * kPi * f * i * kCycleS);
  }
  return std::abs(sum);
}

// The strongest frequency within +-20 % of `near`; NaN when the strongest
// lies on the edge of that band (no peak there).
double PeakNear(const std::vector<double>& x, double near) {
  double lo = near * 0.8, hi = near * 1.2, best = lo, best_mag = -1;
  for (int i = 0; i <= 100; ++i) {
    double f = lo + (hi - lo) * i / 100;
    double m = Spectrum(x, f);
    if (m > best_mag) best_mag = m, best = f;
  }
  if (best <= lo || best >= hi) return std::nan("");
  double step = (hi - lo) / 100;  // refine by golden-section search
  double a = best - step, b = best + step;
  for (int i = 0; i < 40; ++i) {
    double c = b - (b - a) * 0.618, d = a + (b - a) * 0.618;
    if (Spectrum(x, c) > Spectrum(x, d)) b = d; else a = c;
  }
  return (a + b) / 2;
}

TEST(LabPlant, FreeResponsesRingAtTheDocumentedModalFrequencies) {
  struct Case {
    const char* plant;
    int bodies;
    std::vector<double> hz;  // cardsim/README.md
    // the signal watched: a combination of encoders without the rigid motion
    std::function<double(const std::vector<double>&)> signal;
  };
  const Case cases[] = {
      {"torsion3", 3, {5.2304, 9.0593}, [](const std::vector<double>& p) { return p[0] - p[1]; }},
      {"torsion2", 2, {7.3969}, [](const std::vector<double>& p) { return p[0] - p[1]; }},
      {"linear", 3, {1.4166, 3.9693, 5.7357}, [](const std::vector<double>& p) { return p[0]; }},
  };
  for (const Case& c : cases) {
    Card card(LabCard(c.plant, 0));
    SetDac1(card, 1);  // a 30 ms push, then free
    Record(card, c.bodies, 0.03);
    SetDac1(card, 0);
    auto s = Record(card, c.bodies, 30);
    std::vector<double> x(s[0].size());
    for (size_t i = 0; i < x.size(); ++i) {
      std::vector<double> p;
      for (int b = 0; b < c.bodies; ++b) p.push_back(s[b][i]);
      x[i] = c.signal(p);
    }
    for (double hz : c.hz) {
      double f = PeakNear(x, hz);
      EXPECT_NEAR(f, hz, hz * 0.01) << c.plant << " mode at " << hz << " Hz";
    }
  }
}

TEST(LabPlant, OneVoltHoldsTheCartsAtForceOverStiffness) {
  Card card(LabCard("linear"));
  SetDac1(card, 1);
  Record(card, 3, 30);
  // 2 N on the wall spring of 200 N/m: 10 mm, 1000 counts, on every cart.
  for (int m = 1; m <= 3; ++m) EXPECT_NEAR(card.MotorPosition(m), 1000, 1) << m;
  SetDac1(card, -1);
  Record(card, 3, 30);
  for (int m = 1; m <= 3; ++m) EXPECT_NEAR(card.MotorPosition(m), -1000, 1) << m;
}

double Energy(const Documented& d, const std::vector<double>& x, const std::vector<double>& v) {
  double e = 0;
  for (size_t i = 0; i < x.size(); ++i) e += 0.5 * d.mass[i] * v[i] * v[i] + 0.5 * d.ground_k[i] * x[i] * x[i];
  for (size_t i = 0; i + 1 < x.size(); ++i) e += 0.5 * d.coupling_k[i] * std::pow(x[i + 1] - x[i], 2);
  return e;
}

TEST(LabPlant, UndampedEnergyStaysWithinAThousandthOverTenSeconds) {
  for (const char* name : {"torsion3", "torsion2", "linear"}) {
    Card card(LabCard(name, 0));
    SetDac1(card, 1);
    Record(card, 1, 0.05);
    SetDac1(card, 0);
    Documented d = Doc(name);
    double e0 = Energy(d, card.lab_plant()->positions(), card.lab_plant()->velocities());
    ASSERT_GT(e0, 0) << name;
    int cycles = static_cast<int>(10 / kCycleS);
    for (int c = 0; c < cycles; ++c) {
      card.AdvanceServo(1);
      double e = Energy(d, card.lab_plant()->positions(), card.lab_plant()->velocities());
      ASSERT_NEAR(e, e0, e0 * 0.001) << name << " at cycle " << c;
    }
  }
}

// The documented equations, integrated here with a fine explicit midpoint step.
struct Reference {
  Documented d;
  std::vector<double> x, v;
  explicit Reference(Documented doc) : d(std::move(doc)), x(d.mass.size()), v(d.mass.size()) {}
  std::vector<double> Accel(const std::vector<double>& xs, const std::vector<double>& vs, double u) const {
    size_t n = xs.size();
    std::vector<double> a(n);
    for (size_t i = 0; i < n; ++i) {
      double f = d.drive1[i] * u - d.ground_k[i] * xs[i] - d.ground_c[i] * vs[i];
      if (i > 0) f += d.coupling_k[i - 1] * (xs[i - 1] - xs[i]) + d.coupling_c[i - 1] * (vs[i - 1] - vs[i]);
      if (i + 1 < n) f += d.coupling_k[i] * (xs[i + 1] - xs[i]) + d.coupling_c[i] * (vs[i + 1] - vs[i]);
      a[i] = f / d.mass[i];
    }
    return a;
  }
  void Advance(double dt, double u) {
    const int steps = 200;
    double h = dt / steps;
    for (int s = 0; s < steps; ++s) {
      auto a = Accel(x, v, u);
      std::vector<double> xm(x.size()), vm(x.size());
      for (size_t i = 0; i < x.size(); ++i) xm[i] = x[i] + h / 2 * v[i], vm[i] = v[i] + h / 2 * a[i];
      auto am = Accel(xm, vm, u);
      for (size_t i = 0; i < x.size(); ++i) x[i] += h * vm[i], v[i] += h * am[i];
    }
  }
};

TEST(LabPlant, AnOpenLoopVoltStepMatchesTheEquationsWithinACount) {
  for (const char* name : {"torsion3", "torsion2", "linear"}) {
    Card card(LabCard(name));
    Reference ref(Doc(name));
    SetDac1(card, 1);
    int bodies = static_cast<int>(ref.x.size());
    for (int c = 0; c < static_cast<int>(2 / kCycleS); ++c) {
      card.AdvanceServo(1);
      ref.Advance(kCycleS, 1);
      for (int b = 0; b < bodies; ++b) {
        double expected = ref.x[b] * ref.d.counts;
        double diff = std::fabs(card.MotorPosition(b + 1) - expected);
        ASSERT_LE(diff, 1) << name << " encoder " << b + 1 << " at cycle " << c;
      }
    }
    // The step moved the plant well beyond a count.
    EXPECT_GT(std::fabs(card.MotorPosition(1)), 500) << name;
  }
}

TEST(LabPlant, ItIsDeterministicAndRefusesUnknownNames) {
  auto run = [] {
    Card card(LabCard("torsion3"));
    SetDac1(card, 2.5);
    card.Execute("WY$C002,-419328");  // DAC 2 drives nothing on this plant
    return Record(card, 3, 1);
  };
  EXPECT_EQ(run(), run());
  EXPECT_THROW(Card(LabCard("seesaw")), std::invalid_argument);
}

}  // namespace
}  // namespace zimo::cardsim
