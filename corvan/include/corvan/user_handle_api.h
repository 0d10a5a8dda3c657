// The library's functions on a device's per-process record.
#pragma once

#include <cstdint>

namespace zimo::corvan {

struct DeviceUserHandle;

// The address of the device's record in the calling process; null for a
// device number above 8 (there is no such record to point at).
DeviceUserHandle* ZimoGetUserHandle(std::uint32_t device);

// Keeps a window handle in the device's record; device numbers above 8 are
// ignored.
void ZimoSetWindow(std::uint32_t device, std::uint32_t window);

}  // namespace zimo::corvan
