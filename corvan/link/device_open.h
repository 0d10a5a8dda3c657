// Device open and close for the calling process (the exports are in
// corvan/device_api.h), and the pieces of the first opener's set-up that
// other parts of the library call on their own.
#pragma once

#include <cstdint>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// The DPR bookkeeping of a first opener whose card has usable DPR (the DPR
// layer above the link supplies it): poll limits, buffers, variable area.
// Open lock and device lock held.
using FirstOpenSetUp = void (*)(int device, SharedDeviceBlock& block, DeviceConfigBlock& config);

// What the DPR layer gives up when this process's last open reference of a
// device goes (its variable background users). Device lock held, the
// transport still open.
using LastCloseRelease = void (*)(int device);

// OpenZimoDevice: true when the device is open for this process on return.
// Every step that depends on the Location is the device's transport's.
// `release`, when given, is what the device's last close in this process
// calls.
bool OpenDevice(int device, FirstOpenSetUp dpr_set_up, LastCloseRelease release = nullptr);
// CloseDevice(device, force): drops one open reference, or all of them with
// `force`; the last one gives up what the open's `release` names, then
// closes the transport and the device's locks. A device that is not open
// in this process is left alone. 0 for a device number outside 0 to 8,
// else 1.
int CloseDevice(int device, bool force);

// Handshake done on open: resets the card's link settings to known values
// and verifies that the card replies. Holds the device lock throughout.
bool InitAsciiHandshake(int device);

// DPR set-up of the first opener, the parts that need no card access:
// copies the DPR time-outs, flags and periods from `config` into `block`,
// derives the poll limits from LoopsPer500ms, and sets DprCardBase and the
// top of the free DPR variable area (VbgNextFree) from "DualPortRamVar",
// whose clamped value goes back into `config`. `i24` is the card's I24 (the
// DPR start of a type 8 card).
void ComputeDprSetUp(SharedDeviceBlock& block, DeviceConfigBlock& config, std::uint32_t i24);

}  // namespace zimo::corvan
