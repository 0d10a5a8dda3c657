// The card drivers' devices as this process holds them: one handle of
// "\\.\ZimoISA%d", "\\.\ZimoPCI%d" or "\\.\ZimoUSB%d" per (Location,
// Enumeration), opened with the device's location handle and closed with it,
// and the I/O controls sent on it.
//
// A device number reaches the driver only while it is open in this process
// (its record holds a transport) and its Location is a bus Location with an
// open driver handle. Requests on one handle are serialised: the command
// exchanges (under the device lock), the raw DPR accesses (under no lock)
// and the interrupt set-up of several threads share the handle's one
// connection to the driver.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device_io.h"

namespace zimo::corvan {

// The driver device of a bus Location (1 ISA, 4 PCI, 5 USB) and an
// Enumeration 0 to 7: "\\.\ZimoISA0" and so on; empty for any other.
std::string DriverDevicePath(std::uint32_t location, std::uint32_t enumeration);

// Opens this process's handle of the driver device. 0 on success, also when
// it is open already; otherwise the Win32 error of the failed open (2 when
// no such device is served, 1 for a Location that has no driver).
std::uint32_t OpenDriverDevice(std::uint32_t location, std::uint32_t enumeration);
// Closes it; requests still running on another thread finish first.
void CloseDriverDevice(std::uint32_t location, std::uint32_t enumeration);

// True when `device` (0 to 7) can reach its driver from this process.
bool HasDriverDevice(int device);

// DeviceIoControl on the device's driver handle. Without one: not ok, error
// 6 (invalid handle), nothing sent and nothing written to `output`.
platform::IoControlResult DriverIoctl(int device, std::uint32_t code, const void* input,
                                      std::uint32_t input_size, void* output,
                                      std::uint32_t output_size);

// The same on a (Location, Enumeration) whose handle this process holds,
// whatever device numbers map to it.
platform::IoControlResult LocationIoctl(std::uint32_t location, std::uint32_t enumeration,
                                        std::uint32_t code, const void* input,
                                        std::uint32_t input_size, void* output,
                                        std::uint32_t output_size);

}  // namespace zimo::corvan
