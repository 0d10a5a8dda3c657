// Driver entry, and the creation of one device per card: the first free
// number 0 to 7, its two links and its registry key.
#include <cstdio>

#include "kernel/kernel_registry.h"
#include "usb/device_extension.h"
#include "usb/zimo_usb.h"

namespace zimo::drivers::usb {

namespace {

constexpr uint32_t kDoDirectIo = 0x0010;
constexpr char kRegistryPrefix[] =
    "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Zimousb";

void Unload(kernel::DriverObject* driver) { (void)driver; }

}  // namespace

NTSTATUS ZimoUsbDriverEntry(kernel::DriverObject* driver, std::string_view registry_path) {
  DriverState* state = driver->CreateDriverExtension<DriverState>();
  state->service_key = std::string(registry_path);
  driver->unload = &Unload;
  driver->add_device = &AddDevice;
  auto set = [driver](kernel::IrpMajor major, kernel::DispatchRoutine routine) {
    driver->major_function[static_cast<size_t>(major)] = routine;
  };
  set(kernel::IrpMajor::kCreate, &DispatchCreate);
  set(kernel::IrpMajor::kClose, &DispatchClose);
  set(kernel::IrpMajor::kDeviceControl, &DispatchControl);
  set(kernel::IrpMajor::kPower, &DispatchPower);
  set(kernel::IrpMajor::kPnp, &DispatchPnp);
  return kernel::kStatusSuccess;
}

NTSTATUS AddDevice(kernel::DriverObject* driver, kernel::DeviceObject* physical_device) {
  kernel::Kernel& kernel = driver->kernel();
  kernel::DeviceObject* device = nullptr;
  NTSTATUS status = kernel::kStatusUnsuccessful;
  int number = -1;
  std::array<std::string, 2> links;
  std::string device_name;
  // The first number whose device and both links can be made.
  for (int n = 0; n < kMaxDevices && number < 0; ++n) {
    device_name = "\\Device\\Zimo" + std::to_string(n);
    status = kernel.CreateDevice<DeviceExtension>(driver, device_name, kernel::kFileDeviceUnknown,
                                                  false, &device);
    if (!kernel::NtSuccess(status)) continue;
    links = {"\\DosDevices\\Zimo" + std::to_string(n), "\\DosDevices\\Zimousb" + std::to_string(n)};
    status = kernel.CreateSymbolicLink(links[0], device_name);
    if (kernel::NtSuccess(status)) {
      status = kernel.CreateSymbolicLink(links[1], device_name);
      if (!kernel::NtSuccess(status)) kernel.DeleteSymbolicLink(links[0]);
    }
    if (!kernel::NtSuccess(status)) {
      kernel.DeleteDevice(device);
      device = nullptr;
      continue;
    }
    number = n;
  }
  if (number < 0) {
    kernel.DbgPrint("ZIMOUSB: no device could be created - %X\n", static_cast<unsigned>(status));
    return status;
  }

  DeviceExtension& ext = Ext(device);
  ext.device = device;
  ext.physical_device = physical_device;
  ext.device_number = number;
  ext.device_name = device_name;
  ext.link_names = links;
  ext.card.response.assign(kResponseBufferBytes, '\0');
  ext.registry_path = kRegistryPrefix + std::to_string(number);
  kernel::KernelRegistryKey key;
  if (kernel::NtSuccess(kernel::KernelRegistryKey::Create(ext.registry_path, &key))) {
    key.SetDword("InstallError", 0);
  }

  device->flags |= kDoDirectIo | kernel::kDoPowerPagable;
  device->flags &= ~kernel::kDoDeviceInitializing;
  ext.lower_device = kernel.AttachDeviceToDeviceStack(device, physical_device);
  if (ext.lower_device == nullptr) {
    kernel.DbgPrint("ZIMOUSB: IoAttachDeviceToDeviceStack failed\n");
    for (const std::string& link : ext.link_names) kernel.DeleteSymbolicLink(link);
    kernel.DeleteDevice(device);
    return kernel::kStatusDeviceRemoved;
  }
  ext.last_usb_error = 0;
  return kernel::kStatusSuccess;
}

}  // namespace zimo::drivers::usb
