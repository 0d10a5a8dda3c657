// The experiment record: everything a student sets up for one experiment,
// one instance for the whole program. Fields carry the names of their keys
// in the settings file; widths are those of the file and the card: Integer
// fields int16_t, Long int32_t, Single float, Double double. Flags hold -1
// for true and 0 for false. Positions and sizes along a trajectory are in
// encoder counts, times in milliseconds, frequencies in hertz, open-loop
// sizes in volts, Ts in seconds.
#pragma once

#include <cstdint>
#include <string>

namespace zimo::labprog {

class CommandPath;

// One trajectory's settings, grouped by the shape they belong to (each
// group is one section of the settings file). A loop choice holds 1 for
// open loop and 2 for closed loop.
struct TrajectoryParameters {
  struct Step {
    int16_t StepType = 0;
    float StepSizeOpen = 0;    // volts
    float StepSizeClosed = 0;  // counts
    int16_t StepTimeOpen = 0;
    int16_t StepTimeClosed = 0;
    int16_t StepReps = 0;
  } Step;
  struct Impulse {
    int16_t ImpulseType = 0;  // kept by the dialog only, never in the file
    float ImpulseSizeOpen = 0;
    float ImpulseSizeClosed = 0;
    int16_t ImpulseTimeOpen = 0;
    int16_t ImpulseTimeClosed = 0;
    int16_t ImpulseTime2Open = 0;
    int16_t ImpulseTime2Closed = 0;
    int16_t ImpulseReps = 0;
  } Impulse;
  struct Ramp {
    float RampSize = 0;
    float RampVelocity = 0;
    int16_t RampTime = 0;
    int16_t RampReps = 0;
  } Ramp;
  struct Trap {  // the parabolic move
    float TrapSize = 0;
    float TrapVelocity = 0;
    int16_t TrapAccelTime = 0;
    int16_t TrapTime = 0;
    int16_t TrapReps = 0;
  } Trap;
  struct SCurve {  // the cubic move
    float SCurveSize = 0;
    float SCurveVelocity = 0;
    int16_t SCurveAccelTime = 0;
    int16_t SCurveTime = 0;
    int16_t SCurveReps = 0;
  } SCurve;
  struct Sine {
    int16_t SineType = 0;
    float SineSizeOpen = 0;    // the closed-loop amplitude, counts (sic: by its key)
    float SineSizeClosed = 0;  // the open-loop amplitude, volts
    float SineFrequency = 0;
    int16_t SineReps = 0;
  } Sine;
  struct SineSweep {
    int16_t SineType = 0;
    int16_t SweepMode = 0;     // 1 linear, 2 logarithmic
    float SineSizeClosed = 0;  // counts
    float SineSizeOpen = 0;    // volts
    float SweepTime = 0;       // seconds
    float StartFrequency = 0;
    float EndFrequency = 0;
  } SineSweep;
  struct User {
    int16_t Type = 0;  // only trajectory 1's is in the file
    int16_t SegmentTime = 0;
    int16_t DataSplined = 0;
    // The point file is ExperimentConfiguration::UserTrajectoryFilename
    // (UserTrajectory2Filename for trajectory 2): one field, two keys.
  } User;
};

struct DisturbanceParameters {
  float CoulombAmplitude = 0;
  float ViscousAmplitude = 0;
  float SineTimeAmplitude = 0;
  float SineTimeFrequency = 0;
  float SineThetaAmplitude = 0;
  float SineThetaFrequency = 0;
  int16_t SineTimeReps = 0;
  int16_t SineThetaTime = 0;
  std::string UserFilename;
  int16_t UserSegmentTime = 0;
  float StepSize = 0;
  int16_t StepDwellTime = 0;
  int16_t StepReps = 0;
};

// Coefficient sets of the standard control algorithms: loaded, kept and
// saved, used by nothing else.
struct PidSet {
  double Kp = 0, Ki = 0, Kd = 0;
  int16_t FeedbackChannel = 0;
};
struct PidNotchSet {
  double Kp = 0, Ki = 0, Kd = 0;
  double N[6] = {}, D[6] = {};
  int16_t FeedbackChannel = 0;
};
struct DynamicForwardSet {
  double S[9] = {}, R[9] = {};
  int16_t FeedbackChannel = 0;
};
struct DynamicPreFilterSet {
  double T[9] = {}, S[9] = {}, R[9] = {};
  int16_t FeedbackChannel = 0;
};
struct StateFeedbackSet {
  double Kpf = 0;
  double K[7] = {};
};
struct FeedforwardSet {
  double K[7] = {}, L[7] = {};
};
struct GeneralDiscreteSet {
  double T[9] = {}, S[9] = {}, R[9] = {};
  double H[3] = {}, I[3] = {};
  double J1 = 0;
  double E[3] = {}, F[3] = {};
  double G1 = 0;
  int16_t FeedbackChannelS = 0, FeedbackChannelI = 0, FeedbackChannelF = 0;
};
struct GeneralContinuousSet {
  double T[9] = {}, S[9] = {}, R[9] = {};
  double H[3] = {}, I[3] = {}, J[3] = {}, E[3] = {}, F[3] = {}, G[3] = {};
  int16_t FeedbackChannelS = 0, FeedbackChannelI = 0, FeedbackChannelF = 0;
};

struct ExperimentConfiguration {
  // General settings.
  std::string Filename;        // where a save writes
  float UnitsScaleFactor = 0;  // encoder counts per user unit, from the card
  int16_t ApparatusCode = 0;   // the connected plant (names.h)
  std::string UserUnits;       // "counts", "inches", "cm", "mm", "degrees", "radians"
  double Ts = 0;               // sample period, seconds
  int16_t ControlAlgorithm = 0;
  int16_t TrajectoryType = 0;  // 0 impulse ... 7 user defined
  int16_t Trajectory2Type = 0;
  int16_t DisturbanceType = 0;  // 1 viscous ... 5 user defined
  int16_t ExecuteOptions = 0;   // 2 viscous friction, 4 programmed disturbance
  int16_t Unidirectional = 0;
  int16_t Unidirectional2 = 0;
  int16_t DiscreteTime = 0;
  int16_t ControllerType = 0;  // kept with the vibration settings in the file
  int16_t DoDataGathering = 0;
  int16_t DoExtendedGathering = 0;
  std::string UserTrajectoryFilename;
  std::string UserTrajectory2Filename;
  std::string USRAlgorithmFilename;

  TrajectoryParameters Trajectory1;
  TrajectoryParameters Trajectory2;
  DisturbanceParameters Disturbance;

  // Gathering, plotting and the auxiliary analog outputs.
  int32_t WhatToGather = 0;    // gather channel bits 0x1..0x800
  int32_t WhatToPlotLeft = 0;  // sums of plot signal codes
  int32_t WhatToPlotRight = 0;
  int32_t WhatToPlotLeftRealTime = 0;
  int32_t WhatToPlotRightRealTime = 0;
  int16_t GatherPeriod = 0;  // samples Ts per gathered sample
  int16_t AuxDAC3 = 0;
  int16_t AuxDAC4 = 0;
  double AuxDAC3Scaler = 0;
  double AuxDAC4Scaler = 0;

  PidSet PidDiscrete, PidContinuous;
  PidNotchSet PidNotchDiscrete, PidNotchContinuous;
  DynamicForwardSet DynamicForwardDiscrete, DynamicForwardContinuous;
  DynamicPreFilterSet DynamicPreFilterDiscrete, DynamicPreFilterContinuous;
  GeneralDiscreteSet GeneralDiscrete;
  GeneralContinuousSet GeneralContinuous;
  StateFeedbackSet StateFeedbackDiscrete, StateFeedbackContinuous;
  FeedforwardSet FeedforwardDiscrete, FeedforwardContinuous;

  // Vibration settings.
  double ForceScaleFactor = 0;
  int16_t AccelType = 0;
  double SystemScaleFactor = 0;
  double SpringConstant = 0;
  double DampingConstant = 0;

  // Sensor calibration of the magnetic levitation plant.
  int16_t SensorMode = 0;
  double UpperCoeff[5] = {};
  double LowerCoeff[5] = {};
  int16_t ThermalCompensation = 0;
};

// The program-wide state the settings share with the shell.
struct LabProgram;

// The start-up values; also asks the card for its counts per unit.
void SetDefaultConfiguration(LabProgram& program);

// Counts per user unit as the card reports them in P1001; 1.0 when the card
// gives no positive number or the link is not open.
float CountsPerUnitFromCard(CommandPath& link);

}  // namespace zimo::labprog
