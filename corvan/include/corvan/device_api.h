// Opening and closing Zimo devices 0 to 7 for the calling process.
//
// The first open of a device in a process starts ZimoServer through the
// object layer when the shared device table does not exist yet, maps the
// table, opens the transport of the device's registered Location and
// Enumeration (one transport per Location and Enumeration in the process,
// shared by the devices that map to it), brings the card's communication
// settings to a known state and, for the first opener after the server
// started, identifies the card. Later opens in the process only count.
#pragma once

#include <cstdint>

extern "C" {

// 1 when the device is open for the calling process (again: one more
// reference), 0 on failure; a failure leaves the device closed here.
std::int32_t OpenZimoDevice(std::uint32_t device);

// Drops one open reference; the transport closes with the last one.
// 1, also for a device that is not open in this process (nothing happens
// then); 0 for a device number above 8.
std::int32_t CloseZimoDevice(std::uint32_t device);

// With `force` nonzero drops every open reference at once, else one. Takes
// 0 to 8 (slot 8 never has anything open); 0 for larger numbers, else 1.
std::int32_t ShutdownZimoDevice(std::uint32_t device, std::int32_t force);

// Counts how many 1 ms waits fit into `milliseconds` into *count; 1, or 0
// when the timer cannot resolve 1 ms (the count is then left alone).
std::int32_t CalibrateWaitLoop(std::uint32_t milliseconds, std::uint32_t* count);

}  // extern "C"
