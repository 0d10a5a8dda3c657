// The fixed texts the windows show for codes: the apparatus caption, the
// trajectory titles and the names of the plot signals.
#pragma once

#include <cstdint>
#include <string>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// The apparatus panel's caption for plant `code`, with the accessory's
// caption when `accessory` is 1. Records `code` as Config.ApparatusCode,
// also a code without a caption (" Apparatus:  ???").
std::string ApparatusCaption(LabProgram& program, int16_t code, int16_t accessory);

// Titles of trajectory 1 (by its type and loop choice) and trajectory 2
// (always closed loop); "" for a type outside 0..7.
std::string TrajectoryTitle(const ExperimentConfiguration& config);
std::string Trajectory2Title(const ExperimentConfiguration& config);

// The display name of a plot signal code (one bit of 0x1..0x8000000); ""
// for a code without a name. For the magnetic levitation plant (the
// apparatus tag reads 11) positions and their derivatives come from
// sensors, and encoder 3's and 4's positions do not exist.
std::string GatherSourceName(const LabProgram& program, int32_t code);

}  // namespace zimo::labprog
