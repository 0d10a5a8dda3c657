// Power IRPs. Each query or set request walks a small per-request state
// machine: it starts when the request arrives, moves on when the lower
// driver completes it, and, for a system request, once the device power
// request we raised for it has completed. Power changes never touch the
// card.
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

using kernel::DevicePowerState;
using kernel::Irp;
using kernel::PowerStateType;
using kernel::SystemPowerState;

enum class PowerEvent { kNewRequest, kMainIrpComplete, kDeviceIrpComplete };

enum class Step {
  kInitial,
  kSystemDownAwaitDevice,  // lower power: the device request first
  kSystemDownAwaitMain,    // then the system request down
  kSystemUpAwaitMain,      // higher power: the system request down first
  kSystemUpAwaitDevice,    // then the device request
  kDeviceUpAwaitMain,      // device to higher power: record after the lower drivers
  kAwaitMainThenComplete,  // device to lower power, and queries
};

struct PowerContext {
  kernel::DeviceObject* device = nullptr;
  Irp* irp = nullptr;
  Step step = Step::kInitial;
  NTSTATUS status = kernel::kStatusSuccess;
  kernel::PowerState target;
  DevicePowerState previous_device = DevicePowerState::kUnspecified;
  uint8_t minor = 0;
  PowerStateType type = PowerStateType::kSystem;
};

void HandlePowerEvent(PowerContext* ctx, PowerEvent event, NTSTATUS status);

void Finish(PowerContext* ctx, NTSTATUS status) {
  DeviceExtension& ext = Ext(ctx->device);
  kernel::Kernel& kernel = ext.kernel();
  Irp& irp = *ctx->irp;
  kernel.PoStartNextPowerIrp(irp);
  irp.io_status.status = status;
  delete ctx;
  kernel.CompleteRequest(irp);
  ext.remove_lock.Release();
}

void PassMainDown(PowerContext* ctx) {
  DeviceExtension& ext = Ext(ctx->device);
  Irp& irp = *ctx->irp;
  irp.CopyCurrentStackLocationToNext();
  irp.SetCompletionRoutine([ctx](kernel::DeviceObject*, Irp& done) {
    HandlePowerEvent(ctx, PowerEvent::kMainIrpComplete, done.io_status.status);
    return kernel::kStatusMoreProcessingRequired;
  });
  ext.kernel().PoCallDriver(ext.lower_device, irp);
}

// The device state for a system state: D0 when working, else what the
// capabilities give, raised to D3 when lighter.
DevicePowerState DeviceStateFor(const DeviceExtension& ext, SystemPowerState system) {
  if (system == SystemPowerState::kWorking) return DevicePowerState::kD0;
  const auto index = static_cast<size_t>(system);
  DevicePowerState d = index < static_cast<size_t>(kernel::kSystemPowerStates)
                           ? ext.capabilities.device_state[index]
                           : DevicePowerState::kD3;
  if (d < DevicePowerState::kD3) d = DevicePowerState::kD3;
  return d;
}

void RequestDevicePower(PowerContext* ctx) {
  DeviceExtension& ext = Ext(ctx->device);
  kernel::PowerState state;
  state.device = DeviceStateFor(ext, ctx->target.system);
  const NTSTATUS status = ext.kernel().PoRequestPowerIrp(
      ext.physical_device, ctx->minor, state,
      [ctx](kernel::DeviceObject*, uint8_t, kernel::PowerState, const kernel::IoStatusBlock& io) {
        HandlePowerEvent(ctx, PowerEvent::kDeviceIrpComplete, io.status);
      });
  if (!kernel::NtSuccess(status)) {
    ext.kernel().DbgPrint("ZIMOPCI: PoRequestPowerIrp failed - %X\n",
                          static_cast<unsigned>(status));
    Finish(ctx, status);
  }
}

void RecordSystem(PowerContext* ctx) {
  DeviceExtension& ext = Ext(ctx->device);
  ext.system_power = ctx->target.system;
  ext.kernel().PoSetPowerState(ctx->device, PowerStateType::kSystem, ctx->target);
}

void RecordDevice(PowerContext* ctx) {
  DeviceExtension& ext = Ext(ctx->device);
  ctx->previous_device = ext.device_power;
  ext.device_power = ctx->target.device;
  ext.kernel().PoSetPowerState(ctx->device, PowerStateType::kDevice, ctx->target);
}

void HandlePowerEvent(PowerContext* ctx, PowerEvent event, NTSTATUS status) {
  DeviceExtension& ext = Ext(ctx->device);
  const bool set = ctx->minor == kernel::power::kSetPower;
  switch (ctx->step) {
    case Step::kInitial:
      (void)event;
      if (ctx->type == PowerStateType::kSystem) {
        // A higher system state number is less power.
        if (ctx->target.system >= ext.system_power.load()) {
          ctx->step = Step::kSystemDownAwaitDevice;
          RequestDevicePower(ctx);
        } else {
          ctx->step = Step::kSystemUpAwaitMain;
          PassMainDown(ctx);
        }
      } else if (set && ctx->target.device >= ext.device_power.load()) {
        RecordDevice(ctx);
        ctx->step = Step::kAwaitMainThenComplete;
        PassMainDown(ctx);
      } else if (set) {
        ctx->step = Step::kDeviceUpAwaitMain;
        PassMainDown(ctx);
      } else {
        ctx->step = Step::kAwaitMainThenComplete;
        PassMainDown(ctx);
      }
      return;
    case Step::kSystemDownAwaitDevice:
      if (!kernel::NtSuccess(status)) return Finish(ctx, status);
      ctx->step = Step::kSystemDownAwaitMain;
      return PassMainDown(ctx);
    case Step::kSystemDownAwaitMain:
      if (kernel::NtSuccess(status) && set) RecordSystem(ctx);
      return Finish(ctx, status);
    case Step::kSystemUpAwaitMain:
      if (!kernel::NtSuccess(status)) return Finish(ctx, status);
      if (set) RecordSystem(ctx);
      ctx->step = Step::kSystemUpAwaitDevice;
      return RequestDevicePower(ctx);
    case Step::kSystemUpAwaitDevice:
      return Finish(ctx, status);
    case Step::kDeviceUpAwaitMain:
      if (kernel::NtSuccess(status)) RecordDevice(ctx);
      return Finish(ctx, status);
    case Step::kAwaitMainThenComplete:
      return Finish(ctx, status);
  }
}

}  // namespace

NTSTATUS DispatchPower(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  kernel::Kernel& kernel = ext.kernel();
  NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) {
    kernel.PoStartNextPowerIrp(irp);
    irp.io_status.status = status;
    kernel.CompleteRequest(irp);
    return status;
  }
  const kernel::IoStackLocation& location = irp.CurrentStackLocation();
  if (location.minor != kernel::power::kSetPower && location.minor != kernel::power::kQueryPower) {
    kernel.PoStartNextPowerIrp(irp);
    irp.SkipCurrentStackLocation();
    status = kernel.PoCallDriver(ext.lower_device, irp);
    ext.remove_lock.Release();
    return status;
  }
  auto* ctx = new PowerContext;
  ctx->device = device;
  ctx->irp = &irp;
  ctx->minor = location.minor;
  ctx->type = location.power_type;
  ctx->target = location.power_state;
  irp.MarkPending();
  HandlePowerEvent(ctx, PowerEvent::kNewRequest, kernel::kStatusSuccess);
  return kernel::kStatusPending;
}

}  // namespace zimo::drivers::pci
