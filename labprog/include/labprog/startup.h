// The lab program's start and end: the port-I/O driver check, the count
// of running copies in DOVIZE32.INI (in the system folder of ZIMO_HOME),
// and the status window's load and unload.
#pragma once

#include <functional>
#include <string>

#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/status_window.h"

namespace zimo::labprog {

inline constexpr const char* kProgramTitle = "QEL Labrunner";

// The port-I/O helper driver's two functions.
struct HardwareDriver {
  std::function<int()> is_configured;
  std::function<int()> configure;
};

// True when the driver is there; otherwise installs it, asks for a reboot
// and gives false (the program then ends).
bool CheckHardwareDriver(const HardwareDriver& driver);

std::string SettingsFilePath();

// The splash screen's checks: the driver, then the count of running
// copies (a count above 0 asks whether to go on anyway; Yes counts this
// copy as the only one). False when the program is to end.
bool SplashStart(const HardwareDriver& driver);

// The status window's load after its layout: defaults, the card or
// demonstration mode, the configuration file (default.cfg in
// `current_directory`, or the first word of `command_line`), the plant's
// rows.
void LoadStatusWindow(LabProgram& program, StatusWindow& window, ControllerLink& link,
                      const std::string& current_directory, const std::string& command_line);

// The status window's unload: one copy fewer in the count.
void UnloadStatusWindow();

}  // namespace zimo::labprog
