#include "configuration_keys.h"

#include <string>

namespace zimo::labprog {
namespace {

class Table {
 public:
  explicit Table(std::vector<ConfigurationKey>& rows) : rows_(rows) {}
  void Section(const char* name) { section_ = name; }
  void Add(std::string key, int16_t& f, const char* def) { Put(key, Width::kInteger, &f, def); }
  void Add(std::string key, int32_t& f, const char* def) { Put(key, Width::kLong, &f, def); }
  void Add(std::string key, float& f, const char* def) { Put(key, Width::kSingle, &f, def); }
  void Add(std::string key, double& f, const char* def) { Put(key, Width::kDouble, &f, def); }
  void Add(std::string key, std::string& f, const char* def) { Put(key, Width::kString, &f, def); }
  void Blank() { rows_.back().blank_before = true; }

 private:
  void Put(std::string& key, Width width, void* field, const char* def) {
    rows_.push_back({section_, std::move(key), width, field, def});
  }
  std::vector<ConfigurationKey>& rows_;
  const char* section_ = "";
};

std::string Indexed(char letter, int index) { return letter + std::to_string(index); }

void TrajectorySections(Table& t, TrajectoryParameters& p, const char* step, const char* impulse,
                        const char* ramp, const char* trap, const char* scurve, const char* sine,
                        const char* sweep) {
  t.Section(step);
  t.Add("StepType", p.Step.StepType, "1");
  t.Add("StepSizeOpen", p.Step.StepSizeOpen, "1");
  t.Add("StepSizeClosed", p.Step.StepSizeClosed, "1");
  t.Add("StepTimeOpen", p.Step.StepTimeOpen, "1");
  t.Add("StepTimeClosed", p.Step.StepTimeClosed, "1");
  t.Add("StepReps", p.Step.StepReps, "1");
  t.Section(impulse);
  t.Add("ImpulseSizeOpen", p.Impulse.ImpulseSizeOpen, "1");
  t.Add("ImpulseSizeClosed", p.Impulse.ImpulseSizeClosed, "1");
  t.Add("ImpulseTimeOpen", p.Impulse.ImpulseTimeOpen, "1");
  t.Add("ImpulseTimeClosed", p.Impulse.ImpulseTimeClosed, "1");
  t.Add("ImpulseTime2Open", p.Impulse.ImpulseTime2Open, "1");
  t.Add("ImpulseTime2Closed", p.Impulse.ImpulseTime2Closed, "1");
  t.Add("ImpulseReps", p.Impulse.ImpulseReps, "1");
  t.Section(ramp);
  t.Add("RampSize", p.Ramp.RampSize, "1");
  t.Add("RampVelocity", p.Ramp.RampVelocity, "1");
  t.Add("RampTime", p.Ramp.RampTime, "1");
  t.Add("RampReps", p.Ramp.RampReps, "1");
  t.Section(trap);
  t.Add("TrapSize", p.Trap.TrapSize, "1");
  t.Add("TrapVelocity", p.Trap.TrapVelocity, "1");
  t.Add("TrapAccelTime", p.Trap.TrapAccelTime, "1");
  t.Add("TrapTime", p.Trap.TrapTime, "1");
  t.Add("TrapReps", p.Trap.TrapReps, "1");
  t.Section(scurve);
  t.Add("SCurveSize", p.SCurve.SCurveSize, "1");
  t.Add("SCurveVelocity", p.SCurve.SCurveVelocity, "1");
  t.Add("SCurveAccelTime", p.SCurve.SCurveAccelTime, "1");
  t.Add("SCurveTime", p.SCurve.SCurveTime, "1");
  t.Add("SCurveReps", p.SCurve.SCurveReps, "1");
  t.Section(sine);
  t.Add("SineType", p.Sine.SineType, "1");
  t.Add("SineSizeOpen", p.Sine.SineSizeOpen, "1");
  t.Add("SineSizeClosed", p.Sine.SineSizeClosed, "1");
  t.Add("SineFrequency", p.Sine.SineFrequency, "1");
  t.Add("SineReps", p.Sine.SineReps, "1");
  t.Section(sweep);
  t.Add("SineType", p.SineSweep.SineType, "1");
  t.Add("SweepMode", p.SineSweep.SweepMode, "1");
  t.Add("SineSizeClosed", p.SineSweep.SineSizeClosed, "1");
  t.Add("SineSizeOpen", p.SineSweep.SineSizeOpen, "1");
  t.Add("SweepTime", p.SineSweep.SweepTime, "1");
  t.Add("StartFrequency", p.SineSweep.StartFrequency, "1");
  t.Add("EndFrequency", p.SineSweep.EndFrequency, "10");
}

void Pid(Table& t, const char* section, PidSet& s) {
  t.Section(section);
  t.Add("Kp", s.Kp, "0");
  t.Add("Kd", s.Kd, "0");
  t.Add("Ki", s.Ki, "0");
  t.Add("Feedback Channel", s.FeedbackChannel, "1");
}

void PidNotch(Table& t, const char* section, PidNotchSet& s, int last_n, int first_d) {
  t.Section(section);
  t.Add("Kp", s.Kp, "0");
  t.Add("Kd", s.Kd, "0");
  t.Add("Ki", s.Ki, "0");
  t.Add("Feedback Channel", s.FeedbackChannel, "1");
  for (int i = 0; i <= last_n; ++i) t.Add(Indexed('N', i), s.N[i], "0");
  for (int i = first_d; i <= 4; ++i) t.Add(Indexed('D', i), s.D[i], "0");
}

void DynamicForward(Table& t, const char* section, DynamicForwardSet& s) {
  t.Section(section);
  for (int i = 0; i <= 7; ++i) {
    t.Add(Indexed('S', i), s.S[i], "0");
    t.Add(Indexed('R', i), s.R[i], "0");
  }
  t.Add("Feedback Channel", s.FeedbackChannel, "1");
}

void DynamicPreFilter(Table& t, const char* section, DynamicPreFilterSet& s) {
  t.Section(section);
  for (int i = 0; i <= 7; ++i) {
    t.Add(Indexed('S', i), s.S[i], "0");
    t.Add(Indexed('R', i), s.R[i], "0");
    t.Add(Indexed('T', i), s.T[i], "0");
  }
  t.Add("Feedback Channel", s.FeedbackChannel, "1");
}

void GeneralDiscrete(Table& t, GeneralDiscreteSet& s) {
  t.Section("General Discrete");
  t.Add("T0", s.T[0], "0");
  t.Add("S0", s.S[0], "0");
  t.Add("R0", s.R[0], "0");
  t.Add("G1", s.G1, "0");
  t.Add("J1", s.J1, "0");
  t.Add("H0", s.H[0], "0");
  t.Add("I0", s.I[0], "0");
  t.Add("E0", s.E[0], "0");
  t.Add("F0", s.F[0], "0");
  t.Add("T1", s.T[1], "0");
  t.Add("S1", s.S[1], "0");
  t.Add("R1", s.R[1], "0");
  t.Add("H1", s.H[1], "0");
  t.Add("I1", s.I[1], "0");
  t.Add("E1", s.E[1], "0");
  t.Add("F1", s.F[1], "0");
  for (int i = 2; i <= 7; ++i) {
    t.Add(Indexed('T', i), s.T[i], "0");
    t.Add(Indexed('S', i), s.S[i], "0");
    t.Add(Indexed('R', i), s.R[i], "0");
  }
  t.Add("Feedback Channel S", s.FeedbackChannelS, "1");
  t.Add("Feedback Channel I", s.FeedbackChannelI, "1");
  t.Add("Feedback Channel F", s.FeedbackChannelF, "1");
}

void GeneralContinuous(Table& t, GeneralContinuousSet& s) {
  t.Section("General Continuous");
  for (int i = 0; i <= 1; ++i) {
    t.Add(Indexed('T', i), s.T[i], "0");
    t.Add(Indexed('S', i), s.S[i], "0");
    t.Add(Indexed('R', i), s.R[i], "0");
    t.Add(Indexed('H', i), s.H[i], "0");
    t.Add(Indexed('I', i), s.I[i], "0");
    t.Add(Indexed('E', i), s.E[i], "0");
    t.Add(Indexed('F', i), s.F[i], "0");
    t.Add(Indexed('G', i), s.G[i], "0");
    t.Add(Indexed('J', i), s.J[i], "0");
  }
  for (int i = 2; i <= 7; ++i) {
    t.Add(Indexed('T', i), s.T[i], "0");
    t.Add(Indexed('S', i), s.S[i], "0");
    t.Add(Indexed('R', i), s.R[i], "0");
  }
  t.Add("Feedback Channel S", s.FeedbackChannelS, "1");
  t.Add("Feedback Channel I", s.FeedbackChannelI, "1");
  t.Add("Feedback Channel F", s.FeedbackChannelF, "1");
}

void StateFeedback(Table& t, const char* section, StateFeedbackSet& s) {
  t.Section(section);
  t.Add("Kpf", s.Kpf, "0");
  for (int i = 1; i <= 6; ++i) t.Add(Indexed('K', i), s.K[i], "0");
}

void Feedforward(Table& t, const char* section, FeedforwardSet& s) {
  t.Section(section);
  for (int i = 0; i <= 6; ++i) {
    t.Add(Indexed('K', i), s.K[i], "0");
    t.Add(Indexed('L', i), s.L[i], "0");
  }
}

}  // namespace

std::vector<ConfigurationKey> ConfigurationKeys(ExperimentConfiguration& c) {
  std::vector<ConfigurationKey> rows;
  rows.reserve(377);
  Table t(rows);

  t.Section("General");
  t.Add("Filename", c.Filename, "default.cfg");
  t.Add("UnitsScaleFactor", c.UnitsScaleFactor, nullptr);
  t.Add("Apparatus", c.ApparatusCode, nullptr);
  t.Add("UserUnits", c.UserUnits, "counts");
  t.Add("Ts", c.Ts, "0.000884");
  t.Blank();
  t.Add("ControlAlgorithm", c.ControlAlgorithm, "1");
  t.Add("TrajectoryType", c.TrajectoryType, "2");
  t.Add("Trajectory2Type", c.Trajectory2Type, "2");
  t.Add("ExecuteOptions", c.ExecuteOptions, "0");
  t.Add("Unidirectional", c.Unidirectional, "0");
  t.Add("Unidirectional2", c.Unidirectional2, "0");
  t.Add("DiscreteTime", c.DiscreteTime, "-1");
  t.Add("DoDataGathering", c.DoDataGathering, "-1");
  t.Add("DoExtendedGathering", c.DoExtendedGathering, "0");
  t.Add("UserTrajectoryFilename", c.UserTrajectoryFilename, "");
  t.Add("UserTrajectory2Filename", c.UserTrajectory2Filename, "");
  t.Add("USRAlgorithmFilename", c.USRAlgorithmFilename, "");

  t.Section("Disturbance");
  DisturbanceParameters& d = c.Disturbance;
  t.Add("DisturbanceType", c.DisturbanceType, "1");
  t.Add("CoulombAmplitude", d.CoulombAmplitude, "1");
  t.Add("ViscousAmplitude", d.ViscousAmplitude, "1");
  t.Add("SineTimeAmplitude", d.SineTimeAmplitude, "1");
  t.Add("SineTimeFrequency", d.SineTimeFrequency, "10");
  t.Add("SineThetaAmplitude", d.SineThetaAmplitude, "1");
  t.Add("SineThetaFrequency", d.SineThetaFrequency, "10");
  t.Add("SineTimeReps", d.SineTimeReps, "10");
  t.Add("SineThetaTime", d.SineThetaTime, "100");
  t.Add("UserFilename", d.UserFilename, "");
  t.Add("UserSegmentTime", d.UserSegmentTime, "4");
  t.Add("StepSize", d.StepSize, "1");
  t.Add("StepDwellTime", d.StepDwellTime, "500");
  t.Add("StepReps", d.StepReps, "2");

  t.Section("Vibration");
  t.Add("ForceScaleFactor", c.ForceScaleFactor, "1");
  t.Add("AccelType", c.AccelType, "1");
  t.Add("SystemScaleFactor", c.SystemScaleFactor, "1");
  t.Add("SpringConstant", c.SpringConstant, "2");
  t.Add("DampingConstant", c.DampingConstant, "3");
  t.Add("ControllerType", c.ControllerType, "1");

  TrajectorySections(t, c.Trajectory1, "Step Trajectory", "Impulse Trajectory", "Ramp Trajectory",
                     "Trap Trajectory", "SCurve Trajectory", "Sine Trajectory",
                     "SineSweep Trajectory");
  TrajectorySections(t, c.Trajectory2, "Step2 Trajectory", "Impulse2 Trajectory",
                     "Ramp2 Trajectory", "Trap2 Trajectory", "SCurve2 Trajectory",
                     "Sine2 Trajectory", "SineSweep2 Trajectory");

  // The point files: read after [General]'s keys of the same fields, so
  // these decide, also when missing.
  t.Section("User Trajectory");
  t.Add("Type", c.Trajectory1.User.Type, "1");
  t.Add("SegmentTime", c.Trajectory1.User.SegmentTime, "50");
  t.Add("Filename", c.UserTrajectoryFilename, "");
  t.Add("DataSplined", c.Trajectory1.User.DataSplined, "");
  t.Section("User2 Trajectory");
  t.Add("SegmentTime", c.Trajectory2.User.SegmentTime, "50");
  t.Add("Filename", c.UserTrajectory2Filename, "");
  t.Add("DataSplined", c.Trajectory2.User.DataSplined, "");

  // The rest of [General], written after the trajectories: at the end of
  // the section in a new file.
  t.Section("General");
  t.Add("WhatToGather", c.WhatToGather, "0");
  t.Add("WhatToPlotLeft", c.WhatToPlotLeft, "0");
  t.Add("WhatToPlotRight", c.WhatToPlotRight, "0");
  t.Add("WhatToPlotLeftRealTime", c.WhatToPlotLeftRealTime, "0");
  t.Add("WhatToPlotRightRealTime", c.WhatToPlotRightRealTime, "0");
  t.Add("GatherPeriod", c.GatherPeriod, "1");
  t.Add("AuxDAC3", c.AuxDAC3, "0");
  t.Add("AuxDAC4", c.AuxDAC4, "0");
  t.Add("AuxDAC3Scaler", c.AuxDAC3Scaler, "1");
  t.Add("AuxDAC4Scaler", c.AuxDAC4Scaler, "1");

  Pid(t, "PID Discrete", c.PidDiscrete);
  Pid(t, "PID Continuous", c.PidContinuous);
  PidNotch(t, "PID Notch Discrete", c.PidNotchDiscrete, 4, 1);
  PidNotch(t, "PID Notch Continuous", c.PidNotchContinuous, 2, 0);
  DynamicForward(t, "Dynamic Forward Discrete", c.DynamicForwardDiscrete);
  DynamicForward(t, "Dynamic Forward Continuous", c.DynamicForwardContinuous);
  DynamicPreFilter(t, "Dynamic PreFilter Discrete", c.DynamicPreFilterDiscrete);
  DynamicPreFilter(t, "Dynamic PreFilter Continuous", c.DynamicPreFilterContinuous);
  GeneralDiscrete(t, c.GeneralDiscrete);
  GeneralContinuous(t, c.GeneralContinuous);
  StateFeedback(t, "State Feedback Discrete", c.StateFeedbackDiscrete);
  StateFeedback(t, "State Feedback Continuous", c.StateFeedbackContinuous);
  Feedforward(t, "Feedforward Discrete", c.FeedforwardDiscrete);
  Feedforward(t, "Feedforward Continuous", c.FeedforwardContinuous);

  t.Section("MagLev");
  t.Add("SensorMode", c.SensorMode, "0");
  t.Blank();
  for (int i = 1; i <= 4; ++i) t.Add("UpperCoeff" + std::to_string(i), c.UpperCoeff[i], "0");
  for (int i = 1; i <= 4; ++i) t.Add("LowerCoeff" + std::to_string(i), c.LowerCoeff[i], "0");
  t.Add("ThermalCompensation", c.ThermalCompensation, "0");
  return rows;
}

}  // namespace zimo::labprog
