// The card drivers as services (the service half of the Drv family): create,
// start, stop, query and delete the kernel-driver service that hosts a
// device's driver. Starting the service starts the driver host
// (zimo-drvhost) through the program its ImagePath names.
//
// Each device slot 0 to 8 has a driver-service record: the service manager
// this process opened for it, the service's name and a file to delete when
// the manager closes. Exports are indexed by record, which callers treat as
// the device number; indices over 8 are rejected with 0. A record with an
// empty name falls back to the driver matching the device's registered
// Location: "ZimoISA", "ZimoPCI" or "ZimoUSB" (serial and Ethernet devices
// need no driver, so their records touch no service).
//
// A service made here is a kernel driver started by the system (start type
// system start, error control normal) in load-order group "Base", with the
// binary "\SystemRoot\System32\drivers\<name>.SYS": on this system the
// launcher of the driver host that an installer puts there.
//
// Results: 1 success, 0 failure (DrvRemoveDriver also 2). The system error
// of the last failed service call of the calling thread is kept for the
// callers that explain it (DrvLastServiceError).
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

// The settings block of a driver's location key (the library's shared
// table lays it out); opaque to C programs.
#ifdef __cplusplus
namespace zimo::corvan {
struct DeviceConfigBlock;
}
typedef zimo::corvan::DeviceConfigBlock ZimoDeviceConfigBlock;
#else
typedef struct ZimoDeviceConfigBlock ZimoDeviceConfigBlock;
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opens the service manager into the record and the record's service; with
// `create` set makes the service when it does not exist. 1 when the
// service exists (or was made) and is a kernel driver: the manager stays
// open in the record. 0 otherwise; the manager stays open only when the
// service merely does not exist.
int32_t DrvCreateServicesNode(uint32_t index, int32_t create);
// Closes the record's manager when this process opened it, and deletes the
// record's file when it names one.
void DrvCloseServiceManager(uint32_t index);
// Deletes the record's service: 1 when deleted or when there is no such
// service, 0 on other failures.
int32_t DrvDeleteServicesNode(uint32_t index);
// Starts the record's service: 1 when started.
int32_t DrvLoadKernelDriver(uint32_t index);
// Stops it when it runs: 1 when stopped, and also when there is no such
// service; 0 when it was not running or the stop failed.
int32_t DrvUnloadKernelDriver(uint32_t index);
// 1 when the service is a kernel driver that runs (or is stopping), and also
// when there is no such service; else 0.
int32_t DrvIsDriverLoaded(uint32_t index);
// Makes the service, stops it, writes the settings block to the device's
// location key, starts the service and closes the manager, every step even
// after a failed one: 1 when all four succeeded.
int32_t DrvConfigureDriver(uint32_t index, const ZimoDeviceConfigBlock* block);
// Stops the service when it runs and deletes it: 2 when it ran and is
// deleted, 1 when it did not run and is deleted, 0 when it could not be
// deleted.
int32_t DrvRemoveDriver(uint32_t index);
// Stops the service when it runs and deletes the device's registry key:
// 1 when the key is deleted.
int32_t DrvRemoveDevice(uint32_t index);

#ifdef __cplusplus
}  // extern "C"
#endif

