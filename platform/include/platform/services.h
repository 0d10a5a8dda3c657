// Service records, in place of the Service Control Manager. A service is the
// registry key HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name>
// with the values Windows keeps there: "Type", "Start", "ErrorControl"
// (REG_DWORD), "ImagePath" (REG_EXPAND_SZ), "DisplayName", "Group",
// "ObjectName" (REG_SZ), "DependOnService" (REG_MULTI_SZ).
//
// Starting a service runs the program that ImagePath names (a kernel driver
// without ImagePath: "\SystemRoot\System32\drivers\<name>.sys"): a path, or a
// command line whose first word is the program (quoted, or the longest
// leading run of words that names an existing file). Windows paths go through
// the path helper ("\SystemRoot\System32\drivers\ZIMO.SYS" is
// $ZIMO_HOME/windows/System32/drivers/ZIMO.SYS: an installer puts an
// executable launcher there). StartService's arguments follow the command
// line's. The program runs detached (own session, stdin from /dev/null,
// stdout and stderr appended to RunDir()/service-<NAME>.log) and its pid is
// recorded in RunDir()/service-<NAME>.pid. A service is running while that
// process is alive; a record whose process died (or whose pid now belongs to
// another program) is stale and counts as stopped.
//
// Stopping sends SIGTERM to the service's process group, waits up to
// kServiceStopWaitMs (see SetServiceStopWaitMs), then sends SIGKILL. States
// are kServiceRunning or kServiceStopped: a started program counts as running
// at once, so kServiceStartPending is never reported.
//
// Calls return the Windows error number (win32::kErrorSuccess == 0) instead of
// setting a last error; handles come back through out arguments. Handles are
// 32-bit values local to the process, 0 is none. Texts are Windows-1252.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace zimo::platform {

using ScHandle = uint32_t;
using ScLock = uint32_t;

// Service types.
inline constexpr uint32_t kServiceKernelDriver = 0x01;
inline constexpr uint32_t kServiceFileSystemDriver = 0x02;
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceWin32ShareProcess = 0x20;
// Start types.
inline constexpr uint32_t kServiceBootStart = 0;
inline constexpr uint32_t kServiceSystemStart = 1;
inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceDisabled = 4;
// Error control.
inline constexpr uint32_t kServiceErrorIgnore = 0;
inline constexpr uint32_t kServiceErrorNormal = 1;
// States.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
// Controls.
inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlInterrogate = 4;
inline constexpr uint32_t kServiceAcceptStop = 1;
// Access rights (recorded; every handle here may do everything).
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kServiceQueryStatus = 0x0004;
inline constexpr uint32_t kServiceStart = 0x0010;
inline constexpr uint32_t kServiceStop = 0x0020;

inline constexpr int kServiceStopWaitMs = 3000;
// How long a stop waits after SIGTERM before it sends SIGKILL (for the whole
// process; tests shorten it).
void SetServiceStopWaitMs(int ms);

// The registry path of the service records.
inline constexpr char kServicesKeyPath[] = "SYSTEM\\CurrentControlSet\\Services";

struct ServiceStatus {
  uint32_t service_type = 0;
  uint32_t current_state = 0;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
  // Not in the Win32 structure: the process while running, else 0.
  int32_t process_id = 0;
};

struct ServiceConfig {
  uint32_t service_type = 0;
  uint32_t start_type = 0;
  uint32_t error_control = 0;
  std::string binary_path_name;
  std::string load_order_group;
  std::vector<std::string> dependencies;
  std::string service_start_name;
  std::string display_name;
};

// machine_name must be null or empty (only this machine); database_name null
// or "ServicesActive".
int32_t OpenSCManagerA(const char* machine_name, const char* database_name, uint32_t access,
                       ScHandle* manager);

// dependencies: a double-NUL list or null. tag_id, password: ignored.
// kServiceExists when the service exists, kServiceMarkedForDelete when it is
// marked for deletion, kInvalidName for an empty name or one with '\' or '/',
// kInvalidParameter for an empty binary path.
int32_t CreateServiceA(ScHandle manager, const char* service_name, const char* display_name,
                       uint32_t access, uint32_t service_type, uint32_t start_type,
                       uint32_t error_control, const char* binary_path_name,
                       const char* load_order_group, uint32_t* tag_id, const char* dependencies,
                       const char* service_start_name, const char* password, ScHandle* service);

// kServiceDoesNotExist when there is no such record.
int32_t OpenServiceA(ScHandle manager, const char* service_name, uint32_t access,
                     ScHandle* service);

// Marks the service for deletion: a stopped service's record is removed at
// once, a running one's when it stops. kServiceMarkedForDelete when already
// marked.
int32_t DeleteService(ScHandle service);

// kServiceAlreadyRunning when alive, kServiceDisabled for start type
// disabled, kServiceMarkedForDelete, kFileNotFound when the program does not
// exist, kBadExeFormat when it cannot be run.
int32_t StartServiceA(ScHandle service, uint32_t argc, const char* const* argv);

// kServiceControlStop: stops and fills *status (stopped);
// kServiceNotActive when not running. kServiceControlInterrogate: the status.
// Other controls: kInvalidServiceControl.
int32_t ControlService(ScHandle service, uint32_t control, ServiceStatus* status);
int32_t QueryServiceStatus(ScHandle service, ServiceStatus* status);
int32_t QueryServiceConfigA(ScHandle service, ServiceConfig* config);

// The service database lock, shared by every process of this home:
// kServiceDatabaseLocked while someone else holds it.
int32_t LockServiceDatabase(ScHandle manager, ScLock* lock);
int32_t UnlockServiceDatabase(ScLock lock);

int32_t CloseServiceHandle(ScHandle handle);

}  // namespace zimo::platform
