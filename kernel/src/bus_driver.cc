#include "kernel/bus_driver.h"

#include <cstring>

#include "kernel/child_dispatch.h"

namespace zimo::kernel {

BusDriver::BusDriver(Kernel& kernel, std::string_view name) : kernel_(kernel) {
  kernel_.LoadDriver(name, &BusDriver::EntryPoint, "", &driver_);
}

BusDriver::~BusDriver() {
  if (driver_ != nullptr) kernel_.UnloadDriver(driver_);
}

NTSTATUS BusDriver::EntryPoint(DriverObject* driver, std::string_view registry_path) {
  (void)registry_path;
  for (auto& entry : driver->major_function) entry = &DispatchChildOther;
  driver->major_function[static_cast<size_t>(IrpMajor::kPnp)] = &BusDriver::DispatchPnp;
  driver->major_function[static_cast<size_t>(IrpMajor::kPower)] = &DispatchChildPower;
  return kStatusSuccess;
}

DeviceCapabilities BusDriver::DefaultCapabilities() {
  DeviceCapabilities caps;
  caps.device_state[static_cast<int>(SystemPowerState::kWorking)] = DevicePowerState::kD0;
  for (SystemPowerState s : {SystemPowerState::kSleeping1, SystemPowerState::kSleeping2,
                             SystemPowerState::kSleeping3, SystemPowerState::kHibernate,
                             SystemPowerState::kShutdown}) {
    caps.device_state[static_cast<int>(s)] = DevicePowerState::kD3;
  }
  return caps;
}

DeviceObject* BusDriver::CreateChild(ResourceList resources, DeviceCapabilities capabilities) {
  auto child = std::make_shared<Child>();
  child->resources = std::move(resources);
  child->capabilities = capabilities;
  DeviceObject* pdo = nullptr;
  if (kernel_.CreateDeviceWith(driver_, "", kFileDeviceBusExtender, false, child, &pdo) !=
      kStatusSuccess) {
    return nullptr;
  }
  pdo->flags &= ~kDoDeviceInitializing;
  return pdo;
}

void BusDriver::DeleteChild(DeviceObject* physical_device) {
  kernel_.DeleteDevice(physical_device);
}

const ResourceList& BusDriver::Resources(DeviceObject* physical_device) const {
  return physical_device->extension<Child>()->resources;
}

void BusDriver::FailNext(DeviceObject* physical_device, uint8_t minor, NTSTATUS status) {
  Child* child = physical_device->extension<Child>();
  std::lock_guard lock(child->mu);
  child->fail_next[minor] = status;
}

NTSTATUS BusDriver::DispatchPnp(DeviceObject* device, Irp& irp) {
  Child* child = device->extension<Child>();
  IoStackLocation& location = irp.CurrentStackLocation();
  NTSTATUS status = irp.io_status.status;
  bool scripted = false;
  {
    std::lock_guard lock(child->mu);
    auto it = child->fail_next.find(location.minor);
    if (it != child->fail_next.end()) {
      status = it->second;
      child->fail_next.erase(it);
      scripted = true;
    }
  }
  if (!scripted) status = ChildPnpStatus(location, child->capabilities, status);
  return CompleteChildRequest(device, irp, status);
}

}  // namespace zimo::kernel
