#include "labprog/units.h"

#include <string_view>

#include "ui/form_language.h"

namespace zimo::labprog {
namespace {

// The plant number in the apparatus tag (0 when it holds none).
int ApparatusOfTag(const std::string& tag) { return ui::CInt(ui::Val(tag)).value_or(0); }

constexpr int kMagneticLevitation = 11;

struct SignalName {
  int32_t code;
  const char* name;
};

constexpr SignalName kSignalNames[] = {
    {0x1, "Commanded 1 Position"},
    {0x2, "Commanded 1 Velocity"},
    {0x4, "Commanded 1 Acceleration"},
    {0x8, "Encoder 1 Position"},
    {0x8, "Sensor 1 Position"},
    {0x10, "Encoder 2 Position"},
    {0x10, "Sensor 2 Position"},
    {0x20, "Encoder 3 Position"},
    {0x40, "Encoder 1 Following Error"},
    {0x40, "Sensor 1 Following Error"},
    {0x80, "Encoder 2 Following Error"},
    {0x80, "Sensor 2 Following Error"},
    {0x100, "Encoder 3 Following Error"},
    {0x200, "Encoder 1 Velocity"},
    {0x200, "Sensor 1 Velocity"},
    {0x400, "Encoder 2 Velocity"},
    {0x400, "Sensor 2 Velocity"},
    {0x800, "Encoder 3 Velocity"},
    {0x1000, "Encoder 1 Acceleration"},
    {0x1000, "Sensor 1 Acceleration"},
    {0x2000, "Encoder 2 Acceleration"},
    {0x2000, "Sensor 2 Acceleration"},
    {0x4000, "Encoder 3 Acceleration"},
    {0x8000, "Variable Q10"},
    {0x10000, "Variable Q11"},
    {0x20000, "Variable Q12"},
    {0x40000, "Variable Q13"},
    {0x80000, "Control Effort 1"},
    {0x100000, "Control Effort 2"},
    {0x200000, "Commanded 2 Position"},
    {0x400000, "Commanded 2 Velocity"},
    {0x800000, "Commanded 2 Acceleration"},
    {0x2000000, "Encoder 4 Position"},
    {0x4000000, "Encoder 4 Velocity"},
    {0x8000000, "Encoder 4 Acceleration"},
};

}  // namespace

double CountsToUserUnits(const ExperimentConfiguration& config, double x) {
  const double k = config.UnitsScaleFactor;
  const std::string& u = config.UserUnits;
  if (u == "counts") return x;
  if (u == "inches") return x / k;
  if (u == "cm") return x / k * 2.54;
  if (u == "mm") return x / k * 25.4;
  if (u == "degrees") return x / k * 360;
  if (u == "radians") return x / k * 6.283185307;
  return x;
}

double UserUnitsToCounts(const ExperimentConfiguration& config, double x) {
  return x / CountsToUserUnits(config, 1);
}

int16_t UnitDecimalPlaces(const ExperimentConfiguration& config) {
  const std::string& u = config.UserUnits;
  if (u == "inches" || u == "cm" || u == "degrees") return 3;
  if (u == "mm") return 2;
  if (u == "radians") return 4;
  return 0;
}

std::string FormatUserUnits(const ExperimentConfiguration& config, float x) {
  const int d = UnitDecimalPlaces(config);
  if (d == 0) return ui::Format(x, "#########0");
  return ui::Format(x, std::string_view("##########0.0000000000").substr(0, 12 + d));
}

int32_t GatherSourceMask(const std::string& name) {
  for (const SignalName& s : kSignalNames) {
    if (name == s.name) return s.code;
  }
  return 0;
}

StatusPanelCaptions StatusPanelCaptionsFor(const LabProgram& program) {
  StatusPanelCaptions c;
  c.Cmd = " Command 1 Pos:";
  if (ApparatusOfTag(program.ApparatusTag) == kMagneticLevitation) {
    c.Pos[0] = " Sensor 1 Pos:";
    c.Pos[1] = " Sensor 2 Pos:";
  } else {
    c.Pos[0] = " Encoder 1 Pos:";
    c.Pos[1] = " Encoder 2 Pos:";
  }
  c.Pos[2] = " Encoder 3 Pos:";
  c.FE[0] = " Command 2 Pos:";
  c.FE[1] = " Control Effort 2:";
  c.FE[2] = " Encoder 1 Vel:";
  c.SensorCalibrationEnabled = program.Config.ApparatusCode == kMagneticLevitation;
  return c;
}

void SetStatusPanelCaptions(LabProgram& program) {
  program.Windows.SetStatusPanelCaptions(StatusPanelCaptionsFor(program));
}

}  // namespace zimo::labprog
