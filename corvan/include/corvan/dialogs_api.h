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

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Lets the user pick a device in the device list dialog: its number when
// the dialog ended with OK on a configured device, else -1.
int32_t ZimoSelect(uint32_t window);

// The device list dialog as the configuration window: 1 when it ended with
// OK, else 0 (also when this process may not configure the drivers).
int32_t ZimoConfigure(uint32_t window, uint32_t device);

#ifdef __cplusplus
}  // extern "C"
#endif
