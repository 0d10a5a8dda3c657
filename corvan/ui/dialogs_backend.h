// The dialogs' back end inside the library: the device list and the device
// test as the exported dialogs and the device properties use them. Not
// exported from libcorvan32.so.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "corvan/dialogs_api.h"

namespace zimo::corvan {

// The back end of both: runs the device list dialog; 1 on OK, else 0. On OK
// the chosen device number goes to *chosen_device (when not null).
int RunDeviceListDialog(uint32_t window, int32_t* chosen_device);

// The device test (messages tell the outcome): 1 when the card of `device`
// answers, else 0; *result (may be null) gets 0 detected, 51 serial
// handshake failed, 205 firmware download failed, 1003 not detected.
int TestDevice(int device, int32_t* result);
// The device test of the device number registered for the pair; 0 when
// there is none.
int TestDeviceAtLocation(uint32_t location, uint32_t enumeration, int32_t* result);
// Lets the user choose a firmware file and runs the firmware download
// dialog with it: 1 when it ran, 0 when the choice was cancelled or there is
// no download dialog.
int ChooseFirmwareFile(uint32_t location, uint32_t enumeration);

// Replaces the firmware download dialog that ChooseFirmwareFile runs (the
// library's own at start): it is given the device interface and the chosen
// file's full path and runs modally.
using FirmwareDownloadDialogRunner =
    std::function<void(uint32_t location, uint32_t enumeration, const std::string& file_name)>;
void SetFirmwareDownloadDialogRunner(FirmwareDownloadDialogRunner runner);

}  // namespace zimo::corvan
