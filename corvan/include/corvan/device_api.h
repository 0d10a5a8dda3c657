// Opening and closing Zimo devices 0 to 7 for the calling process.
//
// A process's first open of a device: if the shared table is missing, have
// the object layer launch ZimoServer; map the table; open the transport for
// the device's registered Location/Enumeration (a process keeps one per
// pair, reused by every device registered there); reset the card's link
// settings to known values; and, if nobody has opened it since the server
// came up, identify the card. Further opens just bump a counter.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1 once the device is open in this process (a repeat open adds a
// reference); 0 on failure, in which case it stays closed here.
int32_t OpenZimoDevice(uint32_t device);

// Releases one reference; the last one closes the transport. Returns 1,
// including the no-op case of a device this process has not opened; 0 only
// when device > 8.
int32_t CloseZimoDevice(uint32_t device);

// Releases all references if `force` is nonzero, otherwise one. Accepts
// 0..8 (nothing is ever open on slot 8) and returns 1; 0 beyond that.
int32_t ShutdownZimoDevice(uint32_t device, int32_t force);

// Counts how many 1 ms waits fit into `milliseconds` into *count; 1, or 0
// when the timer cannot resolve 1 ms (the count is then left alone).
int32_t CalibrateWaitLoop(uint32_t milliseconds, uint32_t* count);

#ifdef __cplusplus
}  // extern "C"
#endif
