// What the hardware dialogs read when they open and send on OK: the two
// auxiliary analog outputs, the rotor speed and the sensor calibration of
// the magnetic levitation plant. The dialogs' widgets only show these.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// The sources of both auxiliary outputs, in list order (the card takes
// the index + 1).
const std::vector<std::string>& AuxOutputSources();

struct AuxOutputFields {
  int source1 = 0, source2 = 0;  // list indexes
  std::string scale1, scale2;
};
AuxOutputFields AuxOutputsOnLoad(const ExperimentConfiguration& config);
void AuxOutputsOk(LabProgram& program, const AuxOutputFields& fields);

// The speed the rotor dialog opens with: the card's I622 in revolutions
// per minute (its value x 950 / 60 / 1.058, the inverse of what OK sends),
// "200" offline or when the value lies outside 0..1200.
std::string RotorSpeedOnLoad(LabProgram& program);
void RotorSpeedOk(LabProgram& program, const std::string& rpm_text);

struct SensorFields {
  bool calibrate = false;               // the second option
  std::array<std::string, 8> coefficients;  // lower e, f, g, h; upper e, f, g, h
  bool thermal_compensation = false;
};
SensorFields SensorCalibrationOnLoad(const ExperimentConfiguration& config);
void SensorCalibrationOk(LabProgram& program, const SensorFields& fields);

}  // namespace zimo::labprog
