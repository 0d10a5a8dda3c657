// Open, close, cleanup and shutdown. An open handle holds the remove lock
// from create to close, so removal waits for it.
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

NTSTATUS Complete(kernel::DeviceObject* device, kernel::Irp& irp, NTSTATUS status) {
  irp.io_status.status = status;
  irp.io_status.information = 0;
  device->kernel().CompleteRequest(irp);
  return status;
}

}  // namespace

NTSTATUS DispatchCreate(kernel::DeviceObject* device, kernel::Irp& irp) {
  DeviceExtension& ext = Ext(device);
  const NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) return Complete(device, irp, status);
  ++ext.open_handles;
  return Complete(device, irp, kernel::kStatusSuccess);
}

NTSTATUS DispatchClose(kernel::DeviceObject* device, kernel::Irp& irp) {
  DeviceExtension& ext = Ext(device);
  --ext.open_handles;
  Complete(device, irp, kernel::kStatusSuccess);
  ext.remove_lock.Release();  // the hold that create took
  return kernel::kStatusSuccess;
}

NTSTATUS DispatchCleanup(kernel::DeviceObject* device, kernel::Irp& irp) {
  return Complete(device, irp, kernel::kStatusSuccess);
}

NTSTATUS DispatchShutdown(kernel::DeviceObject* device, kernel::Irp& irp) {
  return Complete(device, irp, kernel::kStatusSuccess);
}

}  // namespace zimo::drivers::pci
