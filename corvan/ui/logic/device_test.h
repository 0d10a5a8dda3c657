// The device test: does the card of a configured device number answer? The
// answer is shown in a message box. A card that answers from its firmware
// loader (bootstrap mode) is offered two ways out: download a firmware file,
// or start the firmware it has (Ctrl-R).
//
// The test opens the device itself when this process has it closed, and
// closes only that open of its own: a caller's open is never released.
#pragma once

#include <cstdint>

#include "link/card_text.h"
#include "logic/config_ui.h"

namespace zimo::corvan::dialogs {

// Possible test outcomes; the same value is written to the caller's out
// parameter.
inline constexpr std::int32_t kTestDetected = 0;
inline constexpr std::int32_t kTestSerialHandshakeFailed = 51;
inline constexpr std::int32_t kTestFirmwareFailed = 205;
inline constexpr std::int32_t kTestNotDetected = 1003;
inline constexpr std::int32_t kTestBootstrap = 1009;

inline constexpr char kLeavingBootstrapText[] =
    "ZIMO will be switch to normal Mode(out of Bootstrap mode)";
// The firmware chooser's open-file dialog.
inline constexpr char kFirmwareFilter[] = "Firmware Files (*.bin)|*.bin;*.BIN |All Files(*.*)|*.*|";
inline constexpr char kFirmwareExtension[] = "bin";
inline constexpr char kFirmwareInitialName[] = "*.bin";
// What the card's firmware loader answers instead of its status.

class DeviceTest {
 public:
  explicit DeviceTest(ConfigUi& ui) : ui_(ui) {}

  // 1 when the card of `device` is detected, else 0. `result` (may be null)
  // receives the code, except for a device without a valid Location.
  int TestDevice(int device, std::int32_t* result);
  // The device number registered for the pair; 0 when there is none.
  int TestDeviceAtLocation(std::uint32_t location, std::uint32_t enumeration, std::int32_t* result);
  // 1 if the user picked a firmware file and the download dialog was shown
  // for it; 0 if the pick was cancelled or no download dialog exists.
  int ChooseFirmwareFile(std::uint32_t location, std::uint32_t enumeration);

 private:
  ConfigUi& ui_;
};

}  // namespace zimo::corvan::dialogs
