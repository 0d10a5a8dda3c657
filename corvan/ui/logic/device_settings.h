// The device list dialog's two workers: the Properties button's settings
// worker, which picks the settings dialog by the device's Location and
// guards a serial port that is in use, and the user buttons' program
// starter.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "logic/config_ui.h"

namespace zimo::corvan::dialogs {

inline constexpr char kDeviceNotRegisteredText[] = "Device not registered.";
inline constexpr char kInvalidDeviceTypeText[] = "Invalid Device Type.";

// Runs the settings dialog of `device` for its Location: the device
// properties dialog for ISA, Ethernet, PCI and USB (then the DPR settings
// are copied into the device's shared block when the table is mapped), the
// serial port dialog for serial devices (refused while other processes use
// the library, or while this process has that device open after its
// set-up). 1 when a settings dialog ran, else 0.
int ConfigureDeviceSettings(ConfigUi& ui, int device, std::uint32_t location);

// WinExec: starts a command line, returns its result number (above 31 when
// started).
using ProgramStarter = std::function<std::uint32_t(std::string_view command_line)>;

// Starts the program of user button `button` (1 or 2), "UserApp%dPath",
// as "<path> /zimo <device>". Returns 1 on a successful launch; 0 either
// silently (no program set) or after a message explaining the failure.
int LaunchUserApp(int button, int device, const ProgramStarter& start);

}  // namespace zimo::corvan::dialogs
