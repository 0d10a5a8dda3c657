#include "kernel/bus_driver.h"

#include <cstring>

namespace zimo::kernel {

BusDriver::BusDriver(Kernel& kernel, std::string_view name) : kernel_(kernel) {
  kernel_.LoadDriver(name, &BusDriver::EntryPoint, "", &driver_);
}

BusDriver::~BusDriver() {
  if (driver_ != nullptr) kernel_.UnloadDriver(driver_);
}

NTSTATUS BusDriver::EntryPoint(DriverObject* driver, std::string_view registry_path) {
  (void)registry_path;
  for (auto& entry : driver->major_function) entry = &BusDriver::DispatchOther;
  driver->major_function[static_cast<size_t>(IrpMajor::kPnp)] = &BusDriver::DispatchPnp;
  driver->major_function[static_cast<size_t>(IrpMajor::kPower)] = &BusDriver::DispatchPower;
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
  if (!scripted) {
    switch (location.minor) {
      case pnp::kQueryCapabilities:
        if (location.capabilities != nullptr) {
          const uint16_t version = location.capabilities->version;
          *location.capabilities = child->capabilities;
          location.capabilities->version = version;
        }
        status = kStatusSuccess;
        break;
      case pnp::kStartDevice:
      case pnp::kQueryRemoveDevice:
      case pnp::kRemoveDevice:
      case pnp::kCancelRemoveDevice:
      case pnp::kStopDevice:
      case pnp::kQueryStopDevice:
      case pnp::kCancelStopDevice:
      case pnp::kSurpriseRemoval:
        status = kStatusSuccess;
        break;
      default:
        break;  // not for the bus: the status stays as it came
    }
  }
  irp.io_status.status = status;
  device->kernel().CompleteRequest(irp);
  return status;
}

NTSTATUS BusDriver::DispatchPower(DeviceObject* device, Irp& irp) {
  Kernel& kernel = device->kernel();
  kernel.PoStartNextPowerIrp(irp);
  IoStackLocation& location = irp.CurrentStackLocation();
  if (location.minor == power::kSetPower) {
    kernel.PoSetPowerState(device, location.power_type, location.power_state);
  }
  NTSTATUS status = kStatusSuccess;
  if (location.minor == power::kWaitWake || location.minor == power::kPowerSequence) {
    status = irp.io_status.status;
  }
  irp.io_status.status = status;
  kernel.CompleteRequest(irp);
  return status;
}

NTSTATUS BusDriver::DispatchOther(DeviceObject* device, Irp& irp) {
  const IrpMajor major = irp.CurrentStackLocation().major;
  NTSTATUS status = kStatusInvalidDeviceRequest;
  if (major == IrpMajor::kCreate || major == IrpMajor::kClose || major == IrpMajor::kCleanup) {
    status = kStatusSuccess;
  }
  irp.io_status.status = status;
  irp.io_status.information = 0;
  device->kernel().CompleteRequest(irp);
  return status;
}

}  // namespace zimo::kernel
