// The start-up values of the experiment record: what they set, what they
// leave alone, and the counts per unit and batch flag they reset.
#include "labprog/experiment_configuration.h"

#include <gtest/gtest.h>

#include "recording_fakes.h"

namespace zimo::labprog {
namespace {

TEST(ExperimentConfigurationTest, StartUpValuesSetTheirFieldsAndLeaveTheRest) {
  testing::RecordingCommandPath link;
  testing::RecordingShellWindows windows;
  LabProgram program(link, windows);
  ExperimentConfiguration& c = program.Config;
  // Fields the start-up values never touch keep what they hold.
  c.DoDataGathering = -1;
  c.DoExtendedGathering = -1;
  c.WhatToPlotLeftRealTime = 8;
  c.WhatToPlotRightRealTime = 16;
  c.Trajectory1.Step.StepType = 2;
  c.Trajectory1.Step.StepReps = 3;
  c.Trajectory2.Ramp.RampVelocity = 40;
  c.Trajectory1.Impulse.ImpulseType = 2;
  c.Trajectory2.User.Type = 2;
  c.PidDiscrete.FeedbackChannel = 2;
  c.GeneralContinuous.R[1] = 5;
  c.UpperCoeff[0] = 7;
  program.BatchModeFlag = -1;

  SetDefaultConfiguration(program);

  EXPECT_EQ(c.Filename, "default.cfg");
  EXPECT_EQ(c.UnitsScaleFactor, 1.0f);
  EXPECT_EQ(c.ApparatusCode, 1);
  EXPECT_EQ(c.UserUnits, "counts");
  EXPECT_EQ(c.Ts, 0.000884);
  EXPECT_EQ(c.ControlAlgorithm, 1);
  EXPECT_EQ(c.TrajectoryType, 1);
  EXPECT_EQ(c.Trajectory2Type, 1);
  EXPECT_EQ(c.DiscreteTime, -1);
  EXPECT_EQ(c.GatherPeriod, 10);
  EXPECT_EQ(c.AuxDAC3, 8);
  EXPECT_EQ(c.AuxDAC4, 8);
  EXPECT_EQ(c.AuxDAC4Scaler, 1.0);
  EXPECT_EQ(c.Trajectory1.User.Type, 1);
  EXPECT_EQ(c.Trajectory1.User.SegmentTime, 50);
  EXPECT_EQ(c.Trajectory2.User.SegmentTime, 50);
  EXPECT_EQ(c.Trajectory1.User.DataSplined, -1);
  EXPECT_EQ(c.Trajectory2.User.DataSplined, -1);
  EXPECT_EQ(c.DisturbanceType, 1);
  EXPECT_EQ(c.Disturbance.SineThetaFrequency, 10.0f);
  EXPECT_EQ(c.Disturbance.SineTimeReps, 10);
  EXPECT_EQ(c.Disturbance.SineThetaTime, 100);
  EXPECT_EQ(c.Disturbance.UserSegmentTime, 4);
  EXPECT_EQ(c.Disturbance.StepDwellTime, 500);
  EXPECT_EQ(c.Disturbance.StepReps, 2);
  for (double v : {c.GeneralContinuous.R[0], c.GeneralContinuous.H[0], c.GeneralContinuous.J[0],
                   c.GeneralContinuous.E[0], c.GeneralContinuous.G[0]}) {
    EXPECT_EQ(v, 1.0);
  }
  EXPECT_EQ(c.SpringConstant, 2.0);
  EXPECT_EQ(c.DampingConstant, 3.0);
  EXPECT_EQ(program.BatchModeFlag, 0);

  EXPECT_EQ(c.DoDataGathering, -1);
  EXPECT_EQ(c.DoExtendedGathering, -1);
  EXPECT_EQ(c.WhatToPlotLeftRealTime, 8);
  EXPECT_EQ(c.WhatToPlotRightRealTime, 16);
  EXPECT_EQ(c.Trajectory1.Step.StepType, 2);
  EXPECT_EQ(c.Trajectory1.Step.StepReps, 3);
  EXPECT_EQ(c.Trajectory2.Ramp.RampVelocity, 40.0f);
  EXPECT_EQ(c.Trajectory1.Impulse.ImpulseType, 2);
  EXPECT_EQ(c.Trajectory2.User.Type, 2);
  EXPECT_EQ(c.PidDiscrete.FeedbackChannel, 2);
  EXPECT_EQ(c.GeneralContinuous.R[1], 5.0);
  EXPECT_EQ(c.UpperCoeff[0], 7.0);
  EXPECT_TRUE(link.sent.empty());  // offline at start-up: nothing asked
}

TEST(ExperimentConfigurationTest, AFreshRecordHoldsZerosOutsideTheStartUpValues) {
  testing::RecordingCommandPath link;
  testing::RecordingShellWindows windows;
  LabProgram program(link, windows);
  SetDefaultConfiguration(program);
  const ExperimentConfiguration& c = program.Config;
  EXPECT_EQ(c.Trajectory1.Step.StepReps, 0);
  EXPECT_EQ(c.Trajectory1.Ramp.RampVelocity, 0.0f);
  EXPECT_EQ(c.DoDataGathering, 0);
  EXPECT_EQ(c.Trajectory2.User.Type, 0);
  EXPECT_EQ(c.Trajectory1.Impulse.ImpulseType, 0);
}

}  // namespace
}  // namespace zimo::labprog
