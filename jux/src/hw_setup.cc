// The port-I/O helper driver's registration and start: a kernel-driver
// service named "Tqa58" (this system is of the NT family) with its event-log
// source. Starting the service starts the driver host, which serves the
// driver's device.
#include <mutex>
#include <string>

#include "channels.h"
#include "internal.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace jux {
namespace {

namespace p = zimo::platform;

constexpr char kDriverName[] = "Tqa58";
constexpr char kServiceKey[] = "System\\CurrentControlSet\\Services\\Tqa58";
constexpr char kEventLogKey[] = "System\\CurrentControlSet\\Services\\EventLog\\System\\Tqa58";

std::recursive_mutex& ProcessLock() {
  static std::recursive_mutex mu;
  return mu;
}

long g_system_error = 0;

// The service's status through the service control manager; false on any
// failure. With `start`, a service that is not running is started.
bool QueryOrStart(bool start) {
  std::lock_guard lock(ProcessLock());
  p::ScHandle manager = 0;
  if (int32_t e = p::OpenSCManagerA(nullptr, nullptr, 0x0001, &manager)) {
    g_system_error = e;
    return false;
  }
  p::ScHandle service = 0;
  const uint32_t access = p::kServiceQueryStatus | (start ? p::kServiceStart : 0);
  bool running = false;
  if (int32_t e = p::OpenServiceA(manager, kDriverName, access, &service)) {
    g_system_error = e;
  } else {
    p::ServiceStatus status;
    if (int32_t e = p::QueryServiceStatus(service, &status)) {
      g_system_error = e;
    } else if (status.current_state == p::kServiceRunning) {
      running = true;
    } else if (start) {
      const int32_t e = p::StartServiceA(service, 0, nullptr);
      g_system_error = e;
      running = e == 0;
    }
    p::CloseServiceHandle(service);
  }
  p::CloseServiceHandle(manager);
  return running;
}

}  // namespace

int HwIsDriverRunning() { return QueryOrStart(false) ? 1 : 0; }
int HwStartDriver() { return QueryOrStart(true) ? 1 : 0; }
long HwLastSystemError() { return g_system_error; }

}  // namespace jux

extern "C" {

int HwIsDriverConfigured(void) {
  return zimo::platform::RegistryKey::Open(zimo::platform::kHkeyLocalMachine, jux::kServiceKey,
                                           zimo::platform::kKeyRead)
                 .ok()
             ? 1
             : 0;
}

int HwConfigureDriver(void) {
  namespace p = zimo::platform;
  auto service = p::RegistryKey::Create(p::kHkeyLocalMachine, jux::kServiceKey);
  if (!service.ok()) return 0;
  if (!service->SetDword("ErrorControl", 1).ok() || !service->SetDword("Start", 2).ok() ||
      !service->SetDword("Type", 1).ok()) {
    return 0;
  }
  auto parameters = p::RegistryKey::Create(service->handle(), "Parameters");
  if (!parameters.ok()) return 0;
  if (!p::RegistryKey::Create(parameters->handle(), "_Default").ok()) return 0;
  auto events = p::RegistryKey::Create(p::kHkeyLocalMachine, jux::kEventLogKey);
  if (!events.ok()) return 0;
  const std::string message_file =
      std::string("%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\") +
      jux::kDriverName + ".sys";
  if (!events->SetExpandString("EventMessageFile", message_file).ok()) return 0;
  if (!events->SetDword("TypesSupported", 7).ok()) return 0;
  return 1;
}

}  // extern "C"
