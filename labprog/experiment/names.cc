#include "labprog/names.h"

#include "ui/form_language.h"

namespace zimo::labprog {
namespace {

struct Apparatus {
  int16_t code;
  const char* plain;
  const char* with_accessory;
};

constexpr Apparatus kApparatus[] = {
    {1, " Apparatus:  Torsion Bar Model R-31 (3 disk)",
     " Apparatus:  Model R-31 (3 disk) with K88"},
    {2, " Apparatus:  Torsion Bar Model R-31 (2 disk)",
     " Apparatus:  Model R-31 (2 disk) with K88"},
    {3, " Apparatus:  Linear Inertia Model R-32", " Apparatus:  Model R-32 with K88"},
    {4, " Apparatus:  Pendulum Model R-34", " Apparatus:  Pendulum Model R-34"},
    {6, " Apparatus:  Industrial Emulator Model R-33", " Apparatus:  Model R-33 with K88"},
    {10, " Apparatus:  C. M. G. Model R-36", " Apparatus:  Model R-36 with K88"},
    {11, " Apparatus:  Magnetic Levitation Model R-35",
     " Apparatus:  Magnetic Levitation Model R-35"},
};

struct Signal {
  int32_t code;
  const char* name;
  const char* levitation_name;
};

constexpr Signal kSignals[] = {
    {0x1, "Commanded 1 Position", "Commanded 1 Position"},
    {0x2, "Commanded 1 Velocity", "Commanded 1 Velocity"},
    {0x4, "Commanded 1 Acceleration", "Commanded 1 Acceleration"},
    {0x8, "Encoder 1 Position", "Sensor 1 Position"},
    {0x10, "Encoder 2 Position", "Sensor 2 Position"},
    {0x20, "Encoder 3 Position", ""},
    {0x200, "Encoder 1 Velocity", "Sensor 1 Velocity"},
    {0x400, "Encoder 2 Velocity", "Sensor 2 Velocity"},
    {0x800, "Encoder 3 Velocity", "Encoder 3 Velocity"},
    {0x1000, "Encoder 1 Acceleration", "Sensor 1 Acceleration"},
    {0x2000, "Encoder 2 Acceleration", "Sensor 2 Acceleration"},
    {0x4000, "Encoder 3 Acceleration", "Encoder 3 Acceleration"},
    {0x8000, "Variable Q10", "Variable Q10"},
    {0x10000, "Variable Q11", "Variable Q11"},
    {0x20000, "Variable Q12", "Variable Q12"},
    {0x40000, "Variable Q13", "Variable Q13"},
    {0x80000, "Control Effort 1", "Control Effort 1"},
    {0x100000, "Control Effort 2", "Control Effort 2"},
    {0x200000, "Commanded 2 Position", "Commanded 2 Position"},
    {0x400000, "Commanded 2 Velocity", "Commanded 2 Velocity"},
    {0x800000, "Commanded 2 Acceleration", "Commanded 2 Acceleration"},
    {0x2000000, "Encoder 4 Position", ""},
    {0x4000000, "Encoder 4 Velocity", "Encoder 4 Velocity"},
    {0x8000000, "Encoder 4 Acceleration", "Encoder 4 Acceleration"},
};

const char* Loop(int16_t choice, const char* open, const char* closed) {
  return choice == 1 ? open : closed;
}

}  // namespace

std::string ApparatusCaption(LabProgram& program, int16_t code, int16_t accessory) {
  program.Config.ApparatusCode = code;
  for (const Apparatus& a : kApparatus) {
    if (a.code == code) return accessory == 1 ? a.with_accessory : a.plain;
  }
  return " Apparatus:  ???";
}

std::string TrajectoryTitle(const ExperimentConfiguration& config) {
  const TrajectoryParameters& t = config.Trajectory1;
  switch (config.TrajectoryType) {
    case 0:
      return Loop(t.Impulse.ImpulseType, "Open Loop Impulse", "Closed Loop Impulse");
    case 1:
      return Loop(t.Step.StepType, "Open Loop Step", "Closed Loop Step");
    case 2:
      return "Closed Loop Ramp";
    case 3:
      return "Closed Loop Parabolic";
    case 4:
      return "Closed Loop Cubic";
    case 5:
      return Loop(t.Sine.SineType, "Open Loop Sinusoidal", "Closed Loop Sinusoidal");
    case 6:
      return Loop(t.SineSweep.SineType, "Open Loop Sine Sweep", "Closed Loop Sine Sweep");
    case 7:
      return "User Defined";
    default:
      return "";
  }
}

std::string Trajectory2Title(const ExperimentConfiguration& config) {
  static const char* const kTitles[] = {"Closed Loop Impulse",    "Closed Loop Step",
                                        "Closed Loop Ramp",       "Closed Loop Parabolic",
                                        "Closed Loop Cubic",      "Closed Loop Sinusoidal",
                                        "Closed Loop Sine Sweep", "User Defined"};
  const int type = config.Trajectory2Type;
  return type >= 0 && type <= 7 ? kTitles[type] : "";
}

std::string GatherSourceName(const LabProgram& program, int32_t code) {
  const bool levitation = ui::CInt(ui::Val(program.ApparatusTag)).value_or(0) == 11;
  for (const Signal& s : kSignals) {
    if (s.code == code) return levitation ? s.levitation_name : s.name;
  }
  return "";
}

}  // namespace zimo::labprog
