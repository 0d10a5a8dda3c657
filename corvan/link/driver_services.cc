#include "link/driver_services.h"

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "corvan/services_api.h"
#include "link/device_registry.h"
#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "link/text_utils.h"
#include "platform/message.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "platform/win_path.h"

namespace zimo::corvan {
namespace {

using platform::ScHandle;

constexpr std::uint32_t kMessageCannotRemove = 203;
constexpr char kMessageCaption[] = "Driver Error";
constexpr auto kLockRetry = std::chrono::milliseconds(100);

thread_local std::int32_t g_last_error = 0;

// Records when the shared table is not mapped in this process: the service
// exports work before any server has made the table.
std::array<DriverServiceRecord, kDeviceSlots> g_local_records{};

// The managers this process opened into the records. The records keep the
// value too, but a handle means something only in the process that opened
// it, so only this process's own are ever closed.
std::mutex g_mutex;
std::array<ScHandle, kDeviceSlots> g_managers{};

bool ValidIndex(int index) { return index >= 0 && index < kDeviceSlots; }

DriverServiceRecord* Record(int index) {
  if (!ValidIndex(index)) return nullptr;
  SharedDeviceTable* table = App().table();
  return table != nullptr ? &table->DriverServices[index] : &g_local_records[index];
}

std::int32_t Track(std::int32_t error) {
  g_last_error = error;
  return error;
}

// Closes a handle of ours when it is one.
void Close(ScHandle& handle) {
  if (handle != 0) platform::CloseServiceHandle(handle);
  handle = 0;
}

// Takes the service database lock, asking again every 100 ms while another
// installer holds it; false when it was not had in time (or the manager
// refused it).
bool LockDatabase(ScHandle manager, platform::ScLock* lock) {
  for (int tries = 0; tries < kServiceLockTries; ++tries) {
    const std::int32_t error = Track(platform::LockServiceDatabase(manager, lock));
    if (error == 0) return true;
    if (error != platform::win32::kErrorServiceDatabaseLocked) return false;
    std::this_thread::sleep_for(kLockRetry);
  }
  return false;
}

// Opens (and, when asked, makes) the service on `manager`. 1 when it is a
// kernel driver.
int OpenKernelService(ScHandle manager, const std::string& name, bool create) {
  ScHandle service = 0;
  const std::int32_t error =
      Track(platform::OpenServiceA(manager, name.c_str(), platform::kServiceAllAccess, &service));
  platform::ScLock lock = 0;
  if (error == platform::win32::kErrorServiceDoesNotExist && create &&
      LockDatabase(manager, &lock)) {
    const std::string binary = DriverBinaryPath(name);
    Track(platform::CreateServiceA(manager, name.c_str(), nullptr, platform::kServiceAllAccess,
                                   platform::kServiceKernelDriver, platform::kServiceSystemStart,
                                   platform::kServiceErrorNormal, binary.c_str(), "Base", nullptr,
                                   "\0", nullptr, nullptr, &service));
    platform::UnlockServiceDatabase(lock);
  }
  if (service == 0) return 0;
  platform::ServiceStatus status;
  const bool kernel_driver = Track(platform::QueryServiceStatus(service, &status)) == 0 &&
                             (status.service_type & platform::kServiceKernelDriver) != 0;
  Close(service);
  return kernel_driver ? 1 : 0;
}

// What the service of `name` is doing: 0 running (or stopping), 1 not
// running, 2 no such service, 3 the manager or the status failed.
enum class ServiceState { kRunning, kStopped, kMissing, kUnknown };

ServiceState StateOf(const std::string& name) {
  ScHandle manager = 0;
  if (name.empty() || Track(platform::OpenSCManagerA(
                          nullptr, nullptr, platform::kScManagerAllAccess, &manager)) != 0) {
    return ServiceState::kUnknown;
  }
  ScHandle service = 0;
  const std::int32_t opened =
      Track(platform::OpenServiceA(manager, name.c_str(), platform::kServiceQueryStatus, &service));
  ServiceState state = ServiceState::kUnknown;
  if (opened == platform::win32::kErrorServiceDoesNotExist) {
    state = ServiceState::kMissing;
  } else if (opened == 0) {
    platform::ServiceStatus status;
    if (Track(platform::QueryServiceStatus(service, &status)) == 0) {
      const bool running = status.current_state == platform::kServiceRunning ||
                           status.current_state == platform::kServiceStopPending;
      state = running && (status.service_type & platform::kServiceKernelDriver) != 0
                  ? ServiceState::kRunning
                  : ServiceState::kStopped;
    }
  }
  Close(service);
  Close(manager);
  return state;
}

// Opens the service for `action` on a manager of its own.
template <typename Action>
int WithService(const std::string& name, std::uint32_t access, Action action) {
  if (name.empty()) return 0;
  ScHandle manager = 0;
  if (Track(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager)) !=
      0) {
    return 0;
  }
  ScHandle service = 0;
  int result = 0;
  if (Track(platform::OpenServiceA(manager, name.c_str(), access, &service)) == 0) {
    result = action(service);
  }
  Close(service);
  Close(manager);
  return result;
}

int DeleteService(const std::string& name) {
  if (name.empty()) return 0;
  ScHandle manager = 0;
  if (Track(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager)) !=
      0) {
    return 0;
  }
  ScHandle service = 0;
  const std::int32_t opened =
      Track(platform::OpenServiceA(manager, name.c_str(), platform::kServiceAllAccess, &service));
  int result = 0;
  if (opened == platform::win32::kErrorServiceDoesNotExist) {
    result = 1;
  } else if (opened == 0) {
    platform::ScLock lock = 0;
    if (LockDatabase(manager, &lock)) {
      result = Track(platform::DeleteService(service)) == 0 ? 1 : 0;
      platform::UnlockServiceDatabase(lock);
    }
  }
  Close(service);
  Close(manager);
  return result;
}

}  // namespace

std::int32_t DrvLastServiceError() { return g_last_error; }

std::string RecordServiceName(int index) {
  DriverServiceRecord* record = Record(index);
  if (record == nullptr) return {};
  const std::size_t length = strnlen(record->ServiceName, sizeof record->ServiceName);
  if (length > 0) return std::string(record->ServiceName, length);
  if (!IsDeviceNumber(index) || DeviceKeyExists(index) == 0) return {};
  std::uint32_t location = 0;
  GetDeviceRegDword(index, kLocationValue, &location, 0);
  const char* name = location == kLocationIsa   ? "ZimoISA"
                     : location == kLocationPci ? "ZimoPCI"
                     : location == kLocationUsb ? "ZimoUSB"
                                                : nullptr;
  if (name == nullptr) return {};
  CopyTerminated(record->ServiceName, sizeof record->ServiceName, name);
  return name;
}

std::string DriverBinaryPath(const std::string& name) {
  return "\\SystemRoot\\System32\\drivers\\" + name + ".SYS";
}

int EnsureDriverService(const std::string& name, bool create) {
  if (name.empty()) return 0;
  ScHandle manager = 0;
  if (Track(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager)) !=
      0) {
    return 0;
  }
  const int result = OpenKernelService(manager, name, create);
  Close(manager);
  return result;
}

int StartDriverService(const std::string& name) {
  return WithService(name, platform::kServiceStart, [](ScHandle service) {
    return Track(platform::StartServiceA(service, 0, nullptr)) == 0 ? 1 : 0;
  });
}

int StopDriverService(const std::string& name) {
  switch (StateOf(name)) {
    case ServiceState::kMissing:
      return 1;
    case ServiceState::kRunning:
      return WithService(name, platform::kServiceStop, [](ScHandle service) {
        platform::ServiceStatus status;
        return Track(platform::ControlService(service, platform::kServiceControlStop, &status)) == 0
                   ? 1
                   : 0;
      });
    default:
      return 0;
  }
}

int IsDriverServiceRunning(const std::string& name) {
  const ServiceState state = StateOf(name);
  return state == ServiceState::kRunning || state == ServiceState::kMissing ? 1 : 0;
}

int ReconfigureDriverService(std::uint32_t location, std::uint32_t enumeration,
                             const DeviceConfigBlock& block) {
  const int ensured = EnsureDriverService(kDriverServiceName, true);
  const int stopped = StopDriverService(kDriverServiceName);
  const int written = WriteLocationSettings(location, enumeration, block);
  const int started = StartDriverService(kDriverServiceName);
  return ensured && stopped && written && started ? 1 : 0;
}

int RemoveDriverWithPrompt(int index) {
  const std::string name = RecordServiceName(index);
  if (IsDriverServiceRunning(name) != 0) {
    const int stopped = StopDriverService(name);
    const int deleted = DeleteService(name);
    if (deleted == 0) {
      platform::ShowMessageBox(LoadLibraryString(kMessageCannotRemove), kMessageCaption,
                               platform::kMbOk);
      return 0;
    }
    return stopped != 0 ? 2 : 1;
  }
  if (DeleteService(name) == 0) {
    platform::ShowMessageBox(LoadLibraryString(kMessageCannotRemove), kMessageCaption,
                             platform::kMbOk);
    return 0;
  }
  return 1;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;  // NOLINT: the exports below are the library's own
namespace platform = zimo::platform;

extern "C" {

std::int32_t DrvCreateServicesNode(std::uint32_t index, std::int32_t create) {
  const int i = IndexFromDeviceNumber(index);
  DriverServiceRecord* record = Record(i);
  if (record == nullptr) return 0;
  const std::string name = RecordServiceName(i);
  std::lock_guard<std::mutex> lock(g_mutex);
  ScHandle& manager = g_managers[static_cast<std::size_t>(i)];
  Close(manager);
  record->ServiceManagerHandle = 0;
  if (Track(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager)) !=
      0) {
    return 0;
  }
  record->ServiceManagerHandle = manager;
  if (name.empty()) return 0;
  ScHandle service = 0;
  const std::int32_t opened =
      platform::OpenServiceA(manager, name.c_str(), platform::kServiceAllAccess, &service);
  Close(service);
  if (opened == platform::win32::kErrorServiceDoesNotExist && create == 0) {
    Track(opened);
    return 0;  // the manager stays open for the caller
  }
  if (OpenKernelService(manager, name, create != 0) == 0) {
    if (opened == 0) {  // the service is there but is no kernel driver
      Close(manager);
      record->ServiceManagerHandle = 0;
    }
    return 0;
  }
  return 1;
}

void DrvCloseServiceManager(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  DriverServiceRecord* record = Record(i);
  if (record == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Close(g_managers[static_cast<std::size_t>(i)]);
    record->ServiceManagerHandle = 0;
  }
  const std::size_t length = strnlen(record->FilePath, sizeof record->FilePath);
  if (length > 0) {
    std::error_code ignored;
    std::filesystem::remove(zimo::platform::ToHostPath(std::string(record->FilePath, length)),
                            ignored);
  }
}

std::int32_t DrvDeleteServicesNode(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  return DeleteService(RecordServiceName(i));
}

std::int32_t DrvLoadKernelDriver(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  return StartDriverService(RecordServiceName(i));
}

std::int32_t DrvUnloadKernelDriver(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  return StopDriverService(RecordServiceName(i));
}

std::int32_t DrvIsDriverLoaded(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  return IsDriverServiceRunning(RecordServiceName(i));
}

std::int32_t DrvConfigureDriver(std::uint32_t index, const DeviceConfigBlock* block) {
  const int created = DrvCreateServicesNode(index, 1);
  const int unloaded = DrvUnloadKernelDriver(index);
  const int written = block != nullptr && IsDeviceNumber(IndexFromDeviceNumber(index))
                          ? WriteDeviceSettings(IndexFromDeviceNumber(index), *block)
                          : 0;
  const int loaded = DrvLoadKernelDriver(index);
  DrvCloseServiceManager(index);
  return created && unloaded && written && loaded ? 1 : 0;
}

std::int32_t DrvRemoveDriver(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  const std::string name = RecordServiceName(i);
  const int loaded = IsDriverServiceRunning(name);
  if (loaded != 0) StopDriverService(name);
  if (DeleteService(name) == 0) return 0;
  return loaded != 0 ? 2 : 1;
}

std::int32_t DrvRemoveDevice(std::uint32_t index) {
  const int i = IndexFromDeviceNumber(index);
  if (Record(i) == nullptr) return 0;
  const std::string name = RecordServiceName(i);
  if (IsDriverServiceRunning(name) != 0) StopDriverService(name);
  return IsDeviceNumber(i) ? DeleteDeviceKey(i) : 0;
}

}  // extern "C"
