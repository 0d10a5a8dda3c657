#include "labprog/experiment_configuration.h"

#include <optional>
#include <string>

#include "labprog/command_path.h"
#include "labprog/lab_program.h"
#include "ui/form_language.h"

namespace zimo::labprog {

float CountsPerUnitFromCard(CommandPath& link) {
  // A reply variable of its own: offline nothing is sent, and the shared
  // reply text may still hold an older answer, which is no count.
  std::string reply;
  link.SendControllerCommand(reply, "P1001");
  const std::optional<float> counts = ui::CSng(ui::Val(reply));
  return counts && *counts > 0 ? *counts : 1.0f;
}

void SetDefaultConfiguration(LabProgram& program) {
  ExperimentConfiguration& c = program.Config;
  // General settings.
  c.Filename = "default.cfg";
  c.UnitsScaleFactor = 1.0f;
  c.ApparatusCode = 1;
  c.UserUnits = "counts";
  c.Ts = 0.000884;
  c.ControlAlgorithm = 1;
  c.TrajectoryType = 1;
  c.Trajectory2Type = 1;
  c.ExecuteOptions = 0;
  c.Unidirectional = 0;
  c.Unidirectional2 = 0;
  c.DiscreteTime = -1;
  // Gathering and the auxiliary outputs.
  c.WhatToGather = 0;
  c.WhatToPlotLeft = 0;
  c.WhatToPlotRight = 0;
  c.GatherPeriod = 10;
  c.AuxDAC3 = 8;
  c.AuxDAC4 = 8;
  c.AuxDAC3Scaler = 1.0;
  c.AuxDAC4Scaler = 1.0;
  // User-defined trajectories and the algorithm file.
  c.Trajectory1.User.Type = 1;
  c.Trajectory1.User.SegmentTime = 50;
  c.Trajectory2.User.SegmentTime = 50;
  c.UserTrajectoryFilename.clear();
  c.UserTrajectory2Filename.clear();
  c.USRAlgorithmFilename.clear();
  // The disturbance.
  c.DisturbanceType = 1;
  DisturbanceParameters& d = c.Disturbance;
  d.CoulombAmplitude = 1.0f;
  d.ViscousAmplitude = 1.0f;
  d.SineTimeAmplitude = 1.0f;
  d.SineTimeFrequency = 10.0f;
  d.SineThetaAmplitude = 1.0f;
  d.SineThetaFrequency = 10.0f;
  d.SineTimeReps = 10;
  d.SineThetaTime = 100;
  d.UserFilename.clear();
  d.UserSegmentTime = 4;
  d.StepSize = 1.0f;
  d.StepDwellTime = 500;
  d.StepReps = 2;
  // Counts per unit from the card (1.0 before the link is open).
  c.UnitsScaleFactor = CountsPerUnitFromCard(program.Link);
  c.Trajectory1.User.DataSplined = -1;
  c.Trajectory2.User.DataSplined = -1;
  GeneralContinuousSet& g = c.GeneralContinuous;
  g.R[0] = g.H[0] = g.J[0] = g.E[0] = g.G[0] = 1.0;
  // Vibration settings and the sensor calibration.
  c.ForceScaleFactor = 1.0;
  c.AccelType = 0;
  c.SystemScaleFactor = 1.0;
  c.SpringConstant = 2.0;
  c.DampingConstant = 3.0;
  c.ControllerType = 0;
  c.SensorMode = 0;
  for (int i = 1; i <= 4; ++i) c.UpperCoeff[i] = c.LowerCoeff[i] = 0;
  c.ThermalCompensation = 0;
  program.BatchModeFlag = 0;
}

}  // namespace zimo::labprog
