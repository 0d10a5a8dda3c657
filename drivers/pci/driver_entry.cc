// Driver entry and unload, and the creation of one device per card.
#include <cstdio>

#include "pci/device_extension.h"
#include "pci/zimo_pci.h"

namespace zimo::drivers::pci {

namespace {

void Unload(kernel::DriverObject* driver) {
  driver->driver_extension<DriverState>()->service_key.clear();
}

NTSTATUS Entry(kernel::DriverObject* driver, std::string_view registry_path, Flavour flavour) {
  if (!driver->kernel().IsWdmVersionAvailable(1, 0)) {
    driver->kernel().DbgPrint("ZIMOPCI: Expected version of WDM (%d.%2.2d) not available\n", 1,
                              0);
    return kernel::kStatusUnsuccessful;
  }
  DriverState* state = driver->CreateDriverExtension<DriverState>();
  state->flavour = flavour;
  state->service_key = std::string(registry_path);
  const char* kind = flavour == Flavour::kIsa ? "ZimoISA" : "ZimoPCI";
  state->device_prefix = std::string("\\Device\\") + kind;
  state->link_prefix = std::string("\\DosDevices\\") + kind;

  driver->unload = &Unload;
  driver->add_device = &AddDevice;
  auto set = [driver](kernel::IrpMajor major, kernel::DispatchRoutine routine) {
    driver->major_function[static_cast<size_t>(major)] = routine;
  };
  set(kernel::IrpMajor::kCreate, &DispatchCreate);
  set(kernel::IrpMajor::kClose, &DispatchClose);
  set(kernel::IrpMajor::kCleanup, &DispatchCleanup);
  set(kernel::IrpMajor::kShutdown, &DispatchShutdown);
  set(kernel::IrpMajor::kDeviceControl, &DispatchControl);
  set(kernel::IrpMajor::kPnp, &DispatchPnp);
  set(kernel::IrpMajor::kPower, &DispatchPower);
  return kernel::kStatusSuccess;
}

}  // namespace

NTSTATUS ZimoPciDriverEntry(kernel::DriverObject* driver, std::string_view registry_path) {
  return Entry(driver, registry_path, Flavour::kPci);
}

NTSTATUS ZimoIsaDriverEntry(kernel::DriverObject* driver, std::string_view registry_path) {
  return Entry(driver, registry_path, Flavour::kIsa);
}

NTSTATUS AddDevice(kernel::DriverObject* driver, kernel::DeviceObject* physical_device) {
  kernel::Kernel& kernel = driver->kernel();
  DriverState* state = driver->driver_extension<DriverState>();
  const int n = ++state->device_counter;
  const std::string device_name = state->device_prefix + std::to_string(n);
  const std::string link_name = state->link_prefix + std::to_string(n);

  kernel::DeviceObject* device = nullptr;
  NTSTATUS status = kernel.CreateDevice<DeviceExtension>(driver, device_name,
                                                         kernel::kFileDeviceUnknown, false, &device);
  if (!kernel::NtSuccess(status)) {
    kernel.DbgPrint("ZIMOPCI: IoCreateDevice failed - %X\n", static_cast<unsigned>(status));
    return status;
  }
  DeviceExtension& ext = Ext(device);
  ext.device = device;
  ext.physical_device = physical_device;
  ext.device_number = n;
  ext.flavour = state->flavour;
  ext.card_type = -1;
  ext.stored_mask = 255;
  kernel.InitializeDpc(&ext.dpc, &DpcForIsr, &ext);
  ext.device_name = device_name;

  ext.lower_device = kernel.AttachDeviceToDeviceStack(device, physical_device);
  if (ext.lower_device == nullptr) {
    kernel.DbgPrint("ZIMOPCI: IoAttachDeviceToDeviceStack failed\n");
    ext.device_name.clear();
    kernel.DeleteDevice(device);
    return kernel::kStatusDeviceRemoved;
  }

  device->flags |= kernel::kDoPowerPagable;
  ext.device_power = kernel::DevicePowerState::kD0;
  ext.system_power = kernel::SystemPowerState::kWorking;
  kernel::PowerState d0;
  d0.device = kernel::DevicePowerState::kD0;
  kernel.PoSetPowerState(device, kernel::PowerStateType::kDevice, d0);

  status = kernel.CreateSymbolicLink(link_name, device_name);
  if (!kernel::NtSuccess(status)) {
    ext.device_name.clear();
    kernel.DetachDevice(ext.lower_device);
    kernel.DeleteDevice(device);
    return status;
  }
  ext.link_name = link_name;
  device->flags &= ~kernel::kDoDeviceInitializing;
  return kernel::kStatusSuccess;
}

}  // namespace zimo::drivers::pci
