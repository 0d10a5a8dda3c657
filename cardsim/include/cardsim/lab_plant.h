// The lab's plants: a laboratory apparatus behind the card's DAC outputs
// and encoder inputs. Each plant is a set of masses (or disks) joined by
// springs and dampers, driven by the voltages of the two DAC words and read
// through encoders. It is integrated once per servo cycle with the DAC
// voltages held over the cycle; the same inputs always give the same counts.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zimo::cardsim {

// A linear plant M x'' + C x' + K x = B u, in SI units (metres or radians).
struct LabPlantParameters {
  std::vector<double> mass;                    // kg or kg m^2, per body
  std::vector<double> ground_spring;           // N/m or N m/rad from each body to the frame
  std::vector<double> coupling_spring;         // between body i and i + 1
  std::vector<double> ground_damping;          // N s/m or N m s/rad, per body
  std::vector<double> coupling_damping;        // between body i and i + 1
  std::vector<double> drive1, drive2;          // force (torque) per volt of DAC 1 / DAC 2, per body
  double counts_per_unit = 1;                  // encoder counts per metre or radian
};

class LabPlant {
 public:
  // The plant named (torsion3, torsion2, linear) with its documented
  // parameters, the damping scaled by `damping` (1 as documented, 0 none);
  // nullptr for an unknown name.
  static std::unique_ptr<LabPlant> Make(const std::string& name, double damping = 1);
  static bool Known(const std::string& name);
  static const char* KnownNames();  // "torsion3|torsion2|linear"

  explicit LabPlant(LabPlantParameters p);

  const LabPlantParameters& parameters() const { return p_; }
  int bodies() const { return static_cast<int>(p_.mass.size()); }

  // Advance by dt_ms with the two DAC voltages held.
  void Step(double dt_ms, double volts1, double volts2);
  // Encoder i (1-based) in counts, not yet rounded.
  double Counts(int body) const;
  const std::vector<double>& positions() const { return x_; }   // m or rad
  const std::vector<double>& velocities() const { return v_; }  // m/s or rad/s

 private:
  void Accel(const std::vector<double>& x, const std::vector<double>& v, double u1, double u2,
             std::vector<double>& a) const;
  LabPlantParameters p_;
  std::vector<double> x_, v_;
};

// The DAC word scale: a word of 838656 is one volt.
inline constexpr double kDacWordsPerVolt = 838656.0;

}  // namespace zimo::cardsim
