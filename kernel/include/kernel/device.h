// Driver and device objects. A driver object holds the dispatch table a
// driver fills at entry; a device object is one device of a driver, with the
// driver's own record (its extension) and its place in a device stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kernel/irp.h"
#include "kernel/ntstatus.h"
#include "kernel/resources.h"

namespace zimo::kernel {

class Kernel;
class DriverObject;
class DeviceObject;

using DispatchRoutine = NTSTATUS (*)(DeviceObject* device, Irp& irp);
using AddDeviceRoutine = NTSTATUS (*)(DriverObject* driver, DeviceObject* physical_device);
using UnloadRoutine = void (*)(DriverObject* driver);
using DriverEntryRoutine = NTSTATUS (*)(DriverObject* driver, std::string_view registry_path);

inline constexpr uint32_t kFileDeviceUnknown = 0x22;
inline constexpr uint32_t kFileDeviceBusExtender = 0x38;

// Device object flags.
inline constexpr uint32_t kDoBufferedIo = 0x0004;
inline constexpr uint32_t kDoDeviceInitializing = 0x0080;
inline constexpr uint32_t kDoPowerPagable = 0x2000;

class DriverObject {
 public:
  DriverObject(Kernel* kernel, std::string name);

  Kernel& kernel() const { return *kernel_; }
  const std::string& name() const { return name_; }

  // Every entry starts as "invalid device request".
  std::array<DispatchRoutine, kIrpMajorCount> major_function;
  AddDeviceRoutine add_device = nullptr;
  UnloadRoutine unload = nullptr;

  // The driver's own state (what a driver keeps in its globals).
  template <typename T, typename... Args>
  T* CreateDriverExtension(Args&&... args) {
    auto p = std::make_shared<T>(std::forward<Args>(args)...);
    T* raw = p.get();
    extension_ = std::move(p);
    return raw;
  }
  template <typename T>
  T* driver_extension() const {
    return static_cast<T*>(extension_.get());
  }

  DispatchRoutine Dispatch(IrpMajor major) const {
    return major_function[static_cast<size_t>(major)];
  }

 private:
  Kernel* kernel_;
  std::string name_;
  std::shared_ptr<void> extension_;
};

class DeviceObject {
 public:
  DeviceObject(DriverObject* driver, std::string name, uint32_t device_type,
               std::shared_ptr<void> extension);
  DeviceObject(const DeviceObject&) = delete;
  DeviceObject& operator=(const DeviceObject&) = delete;

  DriverObject* driver() const { return driver_; }
  Kernel& kernel() const { return driver_->kernel(); }
  const std::string& name() const { return name_; }
  uint32_t device_type() const { return device_type_; }

  template <typename T>
  T* extension() const {
    return static_cast<T*>(extension_.get());
  }

  std::atomic<uint32_t> flags{kDoDeviceInitializing};
  // Locations a request needs to pass this device and everything below it.
  int stack_size = 1;

  // What the power manager was last told about this device.
  DevicePowerState device_power_state() const { return device_power_.load(); }
  SystemPowerState system_power_state() const { return system_power_.load(); }

 private:
  friend class Kernel;

  DriverObject* driver_;
  std::string name_;
  uint32_t device_type_;
  std::shared_ptr<void> extension_;
  DeviceObject* attached_device_ = nullptr;  // the device above this one
  DeviceObject* lower_device_ = nullptr;     // the device this one is attached to
  std::atomic<DevicePowerState> device_power_{DevicePowerState::kD0};
  std::atomic<SystemPowerState> system_power_{SystemPowerState::kWorking};
  bool deleted_ = false;
};

}  // namespace zimo::kernel
