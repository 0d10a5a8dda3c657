#include "kernel/child_dispatch.h"

namespace zimo::kernel {

NTSTATUS ChildPnpStatus(IoStackLocation& location, const DeviceCapabilities& capabilities,
                        NTSTATUS status) {
  switch (location.minor) {
    case pnp::kQueryCapabilities:
      if (location.capabilities != nullptr) {
        // The caller's structure version stays as the caller set it.
        const uint16_t version = location.capabilities->version;
        *location.capabilities = capabilities;
        location.capabilities->version = version;
      }
      return kStatusSuccess;
    case pnp::kStartDevice:
    case pnp::kQueryRemoveDevice:
    case pnp::kRemoveDevice:
    case pnp::kCancelRemoveDevice:
    case pnp::kStopDevice:
    case pnp::kQueryStopDevice:
    case pnp::kCancelStopDevice:
    case pnp::kSurpriseRemoval:
      return kStatusSuccess;
    default:
      return status;  // not for the bus: the status stays as it came
  }
}

NTSTATUS CompleteChildRequest(DeviceObject* device, Irp& irp, NTSTATUS status) {
  irp.io_status.status = status;
  device->kernel().CompleteRequest(irp);
  return status;
}

NTSTATUS DispatchChildPower(DeviceObject* device, Irp& irp) {
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
  return CompleteChildRequest(device, irp, status);
}

NTSTATUS DispatchChildOther(DeviceObject* device, Irp& irp) {
  const IrpMajor major = irp.CurrentStackLocation().major;
  NTSTATUS status = kStatusInvalidDeviceRequest;
  if (major == IrpMajor::kCreate || major == IrpMajor::kClose || major == IrpMajor::kCleanup) {
    status = kStatusSuccess;
  }
  irp.io_status.information = 0;
  return CompleteChildRequest(device, irp, status);
}

}  // namespace zimo::kernel
