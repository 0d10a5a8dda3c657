// User units, signal codes and the status captions of the connected plant.
//
// User units: Config.UserUnits names the unit ("counts", "inches", "cm",
// "mm", "degrees", "radians", compared exactly) and Config.UnitsScaleFactor
// is k, the encoder counts per inch (linear units) or per revolution (rotary
// units). Any other unit name leaves values in counts, shown whole.
#pragma once

#include <cstdint>
#include <string>

#include "labprog/lab_program.h"

namespace zimo::labprog {

double CountsToUserUnits(const ExperimentConfiguration& config, double counts);
double UserUnitsToCounts(const ExperimentConfiguration& config, double value);
// How many decimals the configured unit is shown with (unknown names: none).
int16_t UnitDecimalPlaces(const ExperimentConfiguration& config);
// `value` with exactly UnitDecimalPlaces decimals (rounded whole for none).
std::string FormatUserUnits(const ExperimentConfiguration& config, float value);

// The plot signal code of a signal's display name ("Encoder 2 Velocity" and
// "Sensor 2 Velocity" are both 0x400). A name that is not a signal's gives
// 0, which callers answer with a beep.
int32_t GatherSourceMask(const std::string& name);

// The status window's panel captions for the plant of the last connection
// (the number in the apparatus tag; 11 is the magnetic levitation plant,
// whose positions come from sensors).
StatusPanelCaptions StatusPanelCaptionsFor(const LabProgram& program);
// Hands those captions to the shell's windows; the sensor calibration item
// is enabled when the current apparatus code is 11 (and otherwise left as
// it is).
void SetStatusPanelCaptions(LabProgram& program);

}  // namespace zimo::labprog
