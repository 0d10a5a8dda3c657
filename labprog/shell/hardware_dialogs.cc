#include "labprog/hardware_dialogs.h"

#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

void Send(LabProgram& program, const std::string& command) {
  program.Link.SendControllerCommand(program.Link.ReplyText, command);
}

}  // namespace

const std::vector<std::string>& AuxOutputSources() {
  static const std::vector<std::string> sources = {
      "Commanded Position", "Encoder 1 Position", "Encoder 2 Position",
      "Encoder 3 Position", "Variable Q10",       "Variable Q11",
      "Variable Q12",       "Variable Q13",       "Control Effort"};
  return sources;
}

AuxOutputFields AuxOutputsOnLoad(const ExperimentConfiguration& config) {
  const int count = static_cast<int>(AuxOutputSources().size());
  AuxOutputFields fields;
  fields.source1 = config.AuxDAC3 >= 0 && config.AuxDAC3 < count ? config.AuxDAC3 : 0;
  fields.source2 = config.AuxDAC4 >= 0 && config.AuxDAC4 < count ? config.AuxDAC4 : 0;
  fields.scale1 = ui::Format(config.AuxDAC3Scaler, "###0.000000");
  fields.scale2 = ui::Format(config.AuxDAC4Scaler, "###0.000000");
  return fields;
}

void AuxOutputsOk(LabProgram& program, const AuxOutputFields& fields) {
  ExperimentConfiguration& config = program.Config;
  config.AuxDAC3 = static_cast<int16_t>(fields.source1);
  Send(program, "P1003=" + std::to_string(fields.source1 + 1));
  config.AuxDAC3Scaler = ui::Val(fields.scale1);
  Send(program, "P1005=" + ui::CStr(config.AuxDAC3Scaler));
  config.AuxDAC4 = static_cast<int16_t>(fields.source2);
  Send(program, "P1004=" + std::to_string(fields.source2 + 1));
  config.AuxDAC4Scaler = ui::Val(fields.scale2);
  Send(program, "P1006=" + ui::CStr(config.AuxDAC4Scaler));
}

std::string RotorSpeedOnLoad(LabProgram& program) {
  CommandPath& link = program.Link;
  if (link.OnlineFlag != -1) return "200";
  Send(program, "I622");
  const auto rpm = ui::CInt(ui::Val(link.ReplyText) * 950 / 60 / 1.058);
  if (!rpm || *rpm < 0 || *rpm > 1200) return "200";
  return std::to_string(*rpm);
}

void RotorSpeedOk(LabProgram& program, const std::string& rpm_text) {
  if (program.Link.OnlineFlag != -1) return;
  Send(program, "I622=" + ui::CStr(ui::Val(rpm_text)) + "*60/950*1.058");
  Send(program, "M136=1");
}

SensorFields SensorCalibrationOnLoad(const ExperimentConfiguration& config) {
  SensorFields fields;
  fields.calibrate = config.SensorMode != 0;
  for (int i = 0; i < 4; ++i) {
    fields.coefficients[i] = ui::CStr(config.LowerCoeff[i + 1]);
    fields.coefficients[i + 4] = ui::CStr(config.UpperCoeff[i + 1]);
  }
  fields.thermal_compensation = config.ThermalCompensation == 1;
  return fields;
}

void SensorCalibrationOk(LabProgram& program, const SensorFields& fields) {
  ExperimentConfiguration& config = program.Config;
  config.SensorMode = fields.calibrate ? 1 : 0;
  for (int i = 0; i < 4; ++i) {
    config.LowerCoeff[i + 1] = ui::Val(fields.coefficients[i]);
    config.UpperCoeff[i + 1] = ui::Val(fields.coefficients[i + 4]);
  }
  config.ThermalCompensation = fields.thermal_compensation ? 1 : 0;
  if (program.Link.OnlineFlag != -1) return;
  Send(program, config.SensorMode == 1 ? "M906=1" : "M906=0");
  for (int i = 0; i < 4; ++i) {
    Send(program, "P" + std::to_string(750 + i) + "=" + ui::CStr(config.LowerCoeff[i + 1]));
  }
  for (int i = 0; i < 4; ++i) {
    Send(program, "P" + std::to_string(754 + i) + "=" + ui::CStr(config.UpperCoeff[i + 1]));
  }
  Send(program, config.ThermalCompensation == 1 ? "M777=1" : "M777=0");
}

}  // namespace zimo::labprog
