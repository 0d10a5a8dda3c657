// The library's functions on a device's per-process record.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
namespace zimo::corvan {
struct DeviceUserHandle;
}
typedef zimo::corvan::DeviceUserHandle ZimoDeviceUserHandle;
extern "C" {
#else
typedef struct ZimoDeviceUserHandle ZimoDeviceUserHandle;
#endif

// The address of the device's record in the calling process; null for a
// device number above 8 (there is no such record to point at).
ZimoDeviceUserHandle* ZimoGetUserHandle(uint32_t device);

// Keeps a window handle in the device's record; device numbers above 8 are
// ignored.
void ZimoSetWindow(uint32_t device, uint32_t window);

#ifdef __cplusplus
}
#endif
