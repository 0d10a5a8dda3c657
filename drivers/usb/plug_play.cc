// Plug-and-play requests: start (descriptors, card identification,
// configuration), stop (unconfigure), capabilities, and removal.
#include <mutex>

#include "kernel/kernel_registry.h"
#include "kernel/pass_down.h"
#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

using kernel::Irp;

// The capability bit that lets the device go without a warning to the user.
constexpr uint32_t kSurpriseRemovalOk = 1u << 9;

NTSTATUS StartDevice(DeviceExtension& ext) {
  ext.started_once = true;
  NTSTATUS status = ReadDeviceDescriptor(ext);
  if (!kernel::NtSuccess(status)) return status;
  IdentifyCard(ext);
  status = ReadConfigurationDescriptor(ext);
  if (!kernel::NtSuccess(status)) return status;
  return SelectConfiguration(ext);
}

NTSTATUS RemoveDevice(DeviceExtension& ext, Irp& irp) {
  kernel::Kernel& kernel = ext.kernel();
  // Nothing may stay in flight on the pipes: the stream ends, the rest is
  // aborted; then every request that holds the lock finishes.
  {
    std::lock_guard lock(ext.stream_mu);
    if (ext.stream) ext.stream->stop = true;
  }
  AbortPipes(ext);
  EndIsoStream(ext);
  ext.remove_lock.ReleaseAndWait();
  const NTSTATUS status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);

  ext.removed = true;
  {
    std::lock_guard lock(ext.usb_mu);
    ext.device_descriptor.clear();
    ext.configuration_descriptor.clear();
    ext.interface.reset();
    ext.configuration_handle = 0;
  }
  if (ext.started_once) {
    kernel::KernelRegistryKey key;
    if (kernel::NtSuccess(kernel::KernelRegistryKey::Create(ext.registry_path, &key))) {
      key.SetDword("InstallError", kInstallErrorRemoved);
    }
  }
  // The links, the response buffer and the events go whether or not the
  // device was ever started.
  for (const std::string& link : ext.link_names) kernel.DeleteSymbolicLink(link);
  {
    std::lock_guard lock(ext.ioctl_mu);
    std::vector<char>().swap(ext.card.response);
    ext.card.fill = 0;
    ext.card.position = 0;
    ext.card.more_lines = false;
  }
  ReleaseEvents(ext);
  kernel::DeviceObject* device = ext.device;
  kernel.DetachDevice(ext.lower_device);
  ext.lower_device = nullptr;
  kernel.DeleteDevice(device);
  return status;
}

}  // namespace

NTSTATUS DispatchPnp(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) return kernel::CompleteWith(ext.kernel(), irp, status);

  switch (irp.CurrentStackLocation().minor) {
    case kernel::pnp::kStartDevice:
      status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
      if (kernel::NtSuccess(status)) {
        status = StartDevice(ext);
        if (kernel::NtSuccess(status)) ext.started = true;
      }
      kernel::CompleteWith(ext.kernel(), irp, status);
      break;
    case kernel::pnp::kRemoveDevice:
      return RemoveDevice(ext, irp);  // gives up the lock itself
    case kernel::pnp::kStopDevice:
      kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
      status = Unconfigure(ext);
      kernel::CompleteWith(ext.kernel(), irp, status);
      break;
    case kernel::pnp::kQueryCapabilities: {
      kernel::DeviceCapabilities* caps = irp.CurrentStackLocation().capabilities;
      if (caps == nullptr || caps->version < 1) {
        status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
        break;
      }
      status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
      if (kernel::NtSuccess(status)) caps->flags |= kSurpriseRemovalOk;
      kernel::CompleteWith(ext.kernel(), irp, status);
      break;
    }
    default:  // surprise removal and everything else
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
  }
  ext.remove_lock.Release();
  return status;
}

// Every power request goes down unchanged.
NTSTATUS DispatchPower(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  kernel::Kernel& kernel = ext.kernel();
  irp.io_status.status = kernel::kStatusSuccess;
  kernel.PoStartNextPowerIrp(irp);
  irp.CopyCurrentStackLocationToNext();
  const NTSTATUS status = kernel.PoCallDriver(ext.lower_device, irp);
  if (status == kernel::kStatusPending) irp.MarkPending();
  return status;
}

}  // namespace zimo::drivers::usb
