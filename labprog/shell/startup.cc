#include "labprog/startup.h"

#include <cstdlib>

#include "labhelper/qeldll32.h"
#include "labprog/configuration_file.h"
#include "platform/home.h"
#include "platform/message.h"
#include "platform/profile.h"
#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

std::string ReadSetting(const char* key, const char* default_text) {
  char buffer[80] = {};
  (void)platform::GetPrivateProfileStringA("General", key, default_text, buffer, sizeof buffer,
                                           SettingsFilePath().c_str());
  return buffer;
}

void WriteCount(int count) {
  (void)platform::WritePrivateProfileStringA("General", "AppsRunning",
                                             std::to_string(count).c_str(),
                                             SettingsFilePath().c_str());
}

}  // namespace

std::string SettingsFilePath() { return (platform::SystemDir() / "DOVIZE32.INI").string(); }

bool CheckHardwareDriver(const HardwareDriver& driver) {
  if (driver.is_configured && driver.is_configured() != 0) return true;
  if (driver.configure) (void)driver.configure();
  (void)platform::ShowMessageBox(
      "The hardware driver for QEL Labrunner has been installed and registered.  Please reboot "
      "this computer now before running the QEL Labrunner.",
      kProgramTitle, platform::kMbOk);
  return false;
}

bool SplashStart(const HardwareDriver& driver) {
  if (!CheckHardwareDriver(driver)) return false;
  int count = ui::CInt(ui::Val(ReadSetting("AppsRunning", "0"))).value_or(0);
  if (count > 0) {
    const int answer = platform::ShowMessageBox(
        "The QEL Labrunner may already be running.  It is not recommended to have more than one "
        "instance of the Labrunner running at a time.  Do you wish to continue anyway?",
        "Warning", platform::kMbYesNo | platform::kMbIconError);
    if (answer != platform::kIdYes) return false;
    count = 0;
  }
  WriteCount(count + 1);
  return true;
}

void LoadStatusWindow(LabProgram& program, StatusWindow& window, ControllerLink& link,
                      const std::string& current_directory, const std::string& command_line) {
  window.LayOutRows();
  SetDefaultConfiguration(program);
  window.LastLoopStatus = window.LastControllerStatus = kNothingShown;
  window.LastDisturbanceStatus = window.LastServoLimit = kNothingShown;
  VoctoClass& vocto = link.vocto();
  const double bus = ui::Val(ReadSetting("PCBusAddress", "528"));
  vocto.SetBusBase(static_cast<int16_t>(ui::CInt(bus).value_or(528)));
  vocto.SetTimeout(automation::Variant(static_cast<int32_t>(ui::Val(ReadSetting("PCTimeout", "20000")))));
  vocto.SetCommMethod(automation::Variant(int16_t{0}));
  vocto.SetEnabled(automation::Variant(true));

  if (!link.ConnectController()) {
    program.Windows.Beep();
    const int answer = platform::ShowMessageBox(
        "Controller not found.  Would you like to setup communications?", "Warning",
        platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdYes) {
      vocto.SelectDevice();
      vocto.SaveSettings();
      (void)link.ConnectController();
    } else {
      (void)platform::ShowMessageBox(
          "This program is now operating in DEMO MODE.  To configure communications, select the "
          "'Communications...' option under the Configure menu.",
          kProgramTitle, platform::kMbOk | platform::kMbIconInformation);
    }
  }

  // The whole current folder, however long it is.
  std::string path = current_directory + "/default.cfg";
  if (!command_line.empty()) {
    char word[260] = {};
    (void)get_parameter(command_line.c_str(), word, 1);
    if (word[0] != '\0') path = word;
  }
  if (file_exists(path.c_str()) != 0) LoadConfiguration(program, path);

  if (ui::Val(program.ApparatusTag) == 11) window.LayOutMagneticLevitation();
  window.RealTimePlotActive = 0;
}

void UnloadStatusWindow() {
  const int count = ui::CInt(ui::Val(ReadSetting("AppsRunning", "0"))).value_or(0);
  WriteCount(count < 1 ? 0 : count - 1);
}

}  // namespace zimo::labprog
