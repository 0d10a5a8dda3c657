// Plug-and-play requests: start (resources, probe, DPR size), stop, removal
// and the query and cancel requests around them.
#include <mutex>
#include <shared_mutex>

#include "kernel/pass_down.h"
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

using kernel::Irp;

NTSTATUS StartDevice(DeviceExtension& ext, Irp& irp) {
  kernel::Kernel& kernel = ext.kernel();
  NTSTATUS status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
  if (!kernel::NtSuccess(status)) return kernel::CompleteWith(ext.kernel(), irp, status);
  std::unique_lock resources_lock(ext.resources_mu);

  const kernel::ResourceList* resources = irp.CurrentStackLocation().resources_translated;
  bool have_port = false, have_interrupt = false, have_memory = false;
  uint64_t port_start = 0, memory_start = 0;
  uint32_t port_length = 0, memory_length = 0;
  bool port_in_memory = false;
  uint32_t level = 0, vector = 0;
  uint64_t affinity = 0;
  kernel::InterruptMode mode = kernel::InterruptMode::kLevelSensitive;
  bool shared = false;
  if (resources != nullptr) {
    for (const kernel::ResourceDescriptor& d : *resources) {
      switch (d.type) {
        case kernel::ResourceType::kPort:
          have_port = true;
          port_start = d.start;
          port_length = d.length;
          port_in_memory = (d.flags & kernel::kPortIo) == 0;
          break;
        case kernel::ResourceType::kInterrupt:
          have_interrupt = true;
          level = d.level & 0xFF;
          vector = d.vector;
          affinity = d.affinity;
          mode = d.flags == kernel::kInterruptLatched ? kernel::InterruptMode::kLatched
                                                      : kernel::InterruptMode::kLevelSensitive;
          shared = d.share_disposition == kernel::kShareShared;
          break;
        case kernel::ResourceType::kMemory:
          have_memory = true;
          memory_start = d.start;
          memory_length = d.length;
          break;
        case kernel::ResourceType::kDevicePrivate:
          break;
        default:
          kernel.DbgPrint("ZIMOPCI: Unexpected I/O resource type %d\n", static_cast<int>(d.type));
          break;
      }
    }
  }
  if (!have_port || !have_interrupt || !have_memory) {
    kernel.DbgPrint("ZIMOPCI: Didn't get expected I/O resources\n");
    return kernel::CompleteWith(ext.kernel(), irp, kernel::kStatusDeviceConfigurationError);
  }

  if (port_in_memory) {
    ext.port_mapping = kernel.MapIoSpace(port_start, port_length);
    if (!ext.port_mapping) {
      kernel.DbgPrint("ZIMOPCI: Unable to map port range %llX, length %X\n",
                      static_cast<unsigned long long>(port_start), port_length);
      return kernel::CompleteWith(ext.kernel(), irp, kernel::kStatusInsufficientResources);
    }
  }
  ext.dpr = kernel.MapIoSpace(memory_start, memory_length);
  if (!ext.dpr) {
    kernel.DbgPrint("ZIMOPCI: Unable to map memory block %llX, length %X\n",
                    static_cast<unsigned long long>(memory_start), memory_length);
    ext.port_mapping.reset();
    return kernel::CompleteWith(ext.kernel(), irp, kernel::kStatusInsufficientResources);
  }
  ext.port_base = port_start;
  ext.port_length = port_length;
  ext.dpr_physical = memory_start;

  DisableInts(ext, true);
  status = kernel.ConnectInterrupt(&ext.interrupt, &OnInterrupt, &ext, vector, level, level, mode,
                                   shared, affinity);
  if (!kernel::NtSuccess(status)) {
    kernel.DbgPrint("ZIMOPCI: IoConnectInterrupt failed - %X\n", static_cast<unsigned>(status));
    ext.port_mapping.reset();
    ext.dpr.reset();
    ext.port_length = 0;
    return kernel::CompleteWith(ext.kernel(), irp, status);
  }
  ext.interrupt_vector = vector;
  ext.interrupt_level = level;

  if (!CardOnPort(ext)) {
    kernel::ErrorLogEntry entry;
    entry.source = "ZIMOPCI";
    entry.error_code = 0xC0040003;
    entry.unique_value = 1003;
    entry.final_status = kernel::kStatusUnsuccessful;
    entry.strings = {"ZIMOPCI", "Unable to detect device on port."};
    kernel.WriteErrorLogEntry(std::move(entry));
    return kernel::CompleteWith(ext.kernel(), irp, kernel::kStatusDeviceConfigurationError);
  }

  uint32_t size = 0;
  if (!GetDpramSize(ext, &size) || size == 0) ext.dpr.reset();  // runs without DPR

  ext.state = PnpState::kStarted;
  return kernel::CompleteWith(ext.kernel(), irp, kernel::kStatusSuccess);
}

NTSTATUS RemoveDevice(DeviceExtension& ext, Irp& irp) {
  kernel::Kernel& kernel = ext.kernel();
  DereferenceIntrEvents(ext);
  ReleaseUserIntrEvent(ext);
  StopDevice(ext);
  ext.state = PnpState::kRemoved;
  const NTSTATUS status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
  // Gives up the dispatcher's hold and the lock's own, then waits for open
  // handles and running requests.
  ext.remove_lock.ReleaseAndWait();
  kernel.DeleteSymbolicLink(ext.link_name);
  kernel.RemoveQueuedDpc(&ext.dpc);
  kernel::DeviceObject* device = ext.device;
  kernel.DetachDevice(ext.lower_device);
  kernel.DeleteDevice(device);
  return status;
}

}  // namespace

void StopDevice(DeviceExtension& ext) {
  kernel::Kernel& kernel = ext.kernel();
  std::unique_lock resources(ext.resources_mu);  // waits for running requests
  if (ext.interrupt) {
    DisableInts(ext, false);
    kernel.DisconnectInterrupt(&ext.interrupt);
  }
  ext.port_mapping.reset();
  ext.dpr.reset();
  ext.port_length = 0;
  ext.port_base = 0;
}

NTSTATUS DispatchPnp(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  kernel::Kernel& kernel = ext.kernel();
  NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) return kernel::CompleteWith(ext.kernel(), irp, status);

  const uint8_t minor = irp.CurrentStackLocation().minor;
  switch (minor) {
    case kernel::pnp::kStartDevice:
      status = StartDevice(ext, irp);
      break;
    case kernel::pnp::kQueryRemoveDevice:
      ext.state_before_query_remove = ext.state.load();
      ext.state = PnpState::kRemovePending;
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
    case kernel::pnp::kRemoveDevice:
      return RemoveDevice(ext, irp);  // releases the lock itself
    case kernel::pnp::kCancelRemoveDevice:
      if (ext.state == PnpState::kRemovePending) {
        status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
        if (kernel::NtSuccess(status)) {
          ext.state = ext.state_before_query_remove.load();
        } else {
          kernel.DbgPrint(
              "ZIMOPCI: Status %8.8lX returned by PDO for IRP_MN_CANCEL_REMOVE_DEVICE\n",
              static_cast<unsigned long>(static_cast<uint32_t>(status)));
        }
        kernel::CompleteWith(ext.kernel(), irp, status);
      } else {
        status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      }
      break;
    case kernel::pnp::kStopDevice:
      if (ext.state != PnpState::kStopPending) {
        kernel.DbgPrint("ZIMOPCI: STOP with no previous QUERY_STOP!\n");
      }
      StopDevice(ext);
      ext.state = PnpState::kNotStarted;
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
    case kernel::pnp::kQueryStopDevice:
      if (ext.state == PnpState::kStarted) ext.state = PnpState::kStopPending;
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
    case kernel::pnp::kCancelStopDevice:
      if (ext.state == PnpState::kStopPending) {
        status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
        if (kernel::NtSuccess(status)) {
          ext.state = PnpState::kStarted;
        } else {
          kernel.DbgPrint("ZIMOPCI: Status %8.8lX returned by PDO for IRP_MN_CANCEL_STOP_DEVICE\n",
                          static_cast<unsigned long>(static_cast<uint32_t>(status)));
        }
        kernel::CompleteWith(ext.kernel(), irp, status);
      } else {
        status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      }
      break;
    case kernel::pnp::kQueryCapabilities: {
      kernel::DeviceCapabilities* caps = irp.CurrentStackLocation().capabilities;
      if (caps == nullptr || caps->version == 0) {
        status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
        break;
      }
      status = kernel::PassDownAndWait(ext.kernel(), ext.lower_device, irp);
      if (kernel::NtSuccess(status)) ext.capabilities = *caps;
      kernel::CompleteWith(ext.kernel(), irp, status);
      break;
    }
    case kernel::pnp::kSurpriseRemoval:
      ext.state = PnpState::kSurpriseRemoved;
      StopDevice(ext);
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
    default:
      status = kernel::PassDown(ext.kernel(), ext.lower_device, irp);
      break;
  }
  ext.remove_lock.Release();
  return status;
}

}  // namespace zimo::drivers::pci
