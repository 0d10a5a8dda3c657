// The library's service operations on a service by its name, behind the
// Drv service exports (corvan/services_api.h), and the driver-service
// records they use.
#pragma once

#include <cstdint>
#include <string>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// The service that the library reconfigures by Location.
inline constexpr char kDriverServiceName[] = "ZIMO";
// How long a creation or deletion waits for the service database lock,
// asking every 100 ms, before it gives up.
inline constexpr int kServiceLockTries = 600;

// The service name of record `index`: the record's own, or when that is
// empty the driver of its device's registered Location ("ZimoPCI"...),
// which is then kept in the record. Empty when there is none.
std::string RecordServiceName(int index);

// "\SystemRoot\System32\drivers\<name>.SYS".
std::string DriverBinaryPath(const std::string& name);

// As the exports, on a service by name, with a manager of their own.
int EnsureDriverService(const std::string& name, bool create);
int StartDriverService(const std::string& name);
int StopDriverService(const std::string& name);
int IsDriverServiceRunning(const std::string& name);

// On the service "ZIMO": ensure (with creation), stop, write the location's
// settings, start; 1 when all four succeeded.
int ReconfigureDriverService(std::uint32_t location, std::uint32_t enumeration,
                             const DeviceConfigBlock& block);

// On record `index`: when the service runs, stops and deletes it (2 when
// both succeeded, 1 when only the deletion did); when it does not run,
// deletes it (1). A failed deletion shows text 203 and returns 0.
int RemoveDriverWithPrompt(int index);

// The Windows error of the calling thread's last failed service call (0
// when the last one succeeded).
std::int32_t DrvLastServiceError();

}  // namespace zimo::corvan
