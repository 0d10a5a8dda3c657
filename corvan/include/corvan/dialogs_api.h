// Corvan32's configuration dialogs: the device list ("ZIMO Devices") with
// which a user registers, removes, tests and configures the cards of device
// numbers 0 to 7, and the device test with its way out of bootstrap mode.
//
// The dialogs are modal and have no owner window; the window arguments are
// kept for callers that pass one. A program without a window application
// gets one for the call when a window system is there; without a window
// system nothing is shown and the call reports that nothing was chosen.
// The dialogs must be called on the program's window thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

extern "C" {

// Lets the user pick a device in the device list dialog: its number when
// the dialog ended with OK on a configured device, else -1.
std::int32_t ZimoSelect(std::uint32_t window);

// The device list dialog as the configuration window: 1 when it ended with
// OK, else 0 (also when this process may not configure the drivers).
std::int32_t ZimoConfigure(std::uint32_t window, std::uint32_t device);

}  // extern "C"

namespace zimo::corvan {

// The back end of both: runs the device list dialog; 1 on OK, else 0. On OK
// the chosen device number goes to *chosen_device (when not null).
int RunDeviceListDialog(std::uint32_t window, std::int32_t* chosen_device);

// The device test (messages tell the outcome): 1 when the card of `device`
// answers, else 0; *result (may be null) gets 0 detected, 51 serial
// handshake failed, 205 firmware download failed, 1003 not detected.
int TestDevice(int device, std::int32_t* result);
// The device test of the device number registered for the pair; 0 when
// there is none.
int TestDeviceAtLocation(std::uint32_t location, std::uint32_t enumeration,
                         std::int32_t* result);
// Lets the user choose a firmware file and runs the firmware download
// dialog with it: 1 when it ran, 0 when the choice was cancelled or there is
// no download dialog.
int ChooseFirmwareFile(std::uint32_t location, std::uint32_t enumeration);

// Replaces the firmware download dialog that ChooseFirmwareFile runs (the
// library's own at start): it is given the device interface and the chosen
// file's full path and runs modally.
using FirmwareDownloadDialogRunner = std::function<void(
    std::uint32_t location, std::uint32_t enumeration, const std::string& file_name)>;
void SetFirmwareDownloadDialogRunner(FirmwareDownloadDialogRunner runner);

}  // namespace zimo::corvan
