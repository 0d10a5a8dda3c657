// A bus driver for devices the machine plugs in: each child device gets a
// physical device object (the bottom of its device stack) that carries the
// resources and capabilities the bus assigned it, and completes the
// plug-and-play and power requests that reach the bottom of the stack.
// Tests can make it answer one plug-and-play minor function with a status.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "kernel/kernel.h"

namespace zimo::kernel {

class BusDriver {
 public:
  // Loads the bus driver "\Driver\<name>" into `kernel`.
  BusDriver(Kernel& kernel, std::string_view name);
  ~BusDriver();
  BusDriver(const BusDriver&) = delete;
  BusDriver& operator=(const BusDriver&) = delete;

  // A new child: an unnamed physical device object.
  DeviceObject* CreateChild(ResourceList resources, DeviceCapabilities capabilities = {});
  // The child is gone from the bus (after its removal).
  void DeleteChild(DeviceObject* physical_device);

  const ResourceList& Resources(DeviceObject* physical_device) const;
  // The next request of this minor function completes with `status`.
  void FailNext(DeviceObject* physical_device, uint8_t minor, NTSTATUS status);

  // The capabilities a child reports unless told otherwise: D0 when working,
  // D3 in every sleep state.
  static DeviceCapabilities DefaultCapabilities();

 private:
  struct Child {
    ResourceList resources;
    DeviceCapabilities capabilities;
    std::mutex mu;
    std::map<uint8_t, NTSTATUS> fail_next;
  };
  static NTSTATUS DispatchPnp(DeviceObject* device, Irp& irp);
  static NTSTATUS EntryPoint(DriverObject* driver, std::string_view registry_path);

  Kernel& kernel_;
  DriverObject* driver_ = nullptr;
};

}  // namespace zimo::kernel
