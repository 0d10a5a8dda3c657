// The I/O manager's side of the kernel: passing and completing requests,
// open handles, buffered device control, and the requests the plug-and-play
// and power managers send.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "kernel/kernel.h"

namespace zimo::kernel {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "\\.\Name", "\??\Name" and "\DosDevices\Name" all name the link
// "\DosDevices\Name".
std::string LinkNameOf(std::string_view path) {
  for (std::string_view prefix : {"\\\\.\\", "\\??\\", "\\DosDevices\\", "//./"}) {
    if (path.size() > prefix.size() && Lower(path.substr(0, prefix.size())) == Lower(prefix)) {
      return "\\DosDevices\\" + std::string(path.substr(prefix.size()));
    }
  }
  return {};
}

}  // namespace

NTSTATUS Kernel::CallDriver(DeviceObject* device, Irp& irp) {
  if (irp.current_ <= 0) {
    // No location left for this device: a stack-size bug in the caller.
    irp.io_status.status = kStatusInvalidParameter;
    irp.io_status.information = 0;
    CompleteRequest(irp);
    return kStatusInvalidParameter;
  }
  --irp.current_;
  IoStackLocation& location = irp.stack_[static_cast<size_t>(irp.current_)];
  location.device = device;
  return device->driver()->Dispatch(location.major)(device, irp);
}

void Kernel::CompleteRequest(Irp& irp) {
  while (irp.current_ < irp.stack_size()) {
    IoStackLocation& location = irp.stack_[static_cast<size_t>(irp.current_)];
    CompletionRoutine routine = std::move(location.completion);
    location.completion = nullptr;
    ++irp.current_;
    if (routine) {
      DeviceObject* upper = irp.current_ < irp.stack_size()
                                ? irp.stack_[static_cast<size_t>(irp.current_)].device
                                : nullptr;
      if (routine(upper, irp) == kStatusMoreProcessingRequired) return;
    }
  }
  // Unwound: tell the originator. A callback owns the request from here on
  // (it may free it); a waiter is woken under the lock, so the request
  // outlives the notification.
  if (auto done = std::move(irp.originator_done_)) {
    irp.originator_done_ = nullptr;
    done(irp);
    return;
  }
  std::lock_guard lock(irp.mu_);
  irp.completed_ = true;
  irp.done_cv_.notify_all();
}

NTSTATUS Kernel::OpenFile(std::string_view path, std::shared_ptr<FileObject>* file) {
  const std::string link_name = LinkNameOf(path);
  std::shared_ptr<DeviceObject> top;
  {
    std::lock_guard lock(names_mu_);
    auto link = links_.find(Lower(link_name));
    if (link == links_.end()) return kStatusObjectNameNotFound;
    std::shared_ptr<DeviceObject> named = FindDevice(link->second.target);
    if (!named) return kStatusObjectNameNotFound;
    if ((named->flags.load() & kDoDeviceInitializing) != 0) return kStatusNoSuchDevice;
    DeviceObject* top_raw = GetAttachedDevice(named.get());
    for (const auto& d : devices_) {
      if (d.get() == top_raw) top = d;
    }
    if (!top) return kStatusNoSuchDevice;
  }
  auto object = std::make_shared<FileObject>(top);
  Irp irp(top->stack_size);
  irp.NextStackLocation().major = IrpMajor::kCreate;
  irp.NextStackLocation().file_object = object.get();
  CallDriver(top.get(), irp);
  irp.WaitForCompletion();
  if (!NtSuccess(irp.io_status.status)) return irp.io_status.status;
  *file = std::move(object);
  return irp.io_status.status;
}

void Kernel::CloseFile(const std::shared_ptr<FileObject>& file) {
  if (!file) return;
  DeviceObject* device = file->device();
  for (IrpMajor major : {IrpMajor::kCleanup, IrpMajor::kClose}) {
    Irp irp(device->stack_size);
    irp.NextStackLocation().major = major;
    irp.NextStackLocation().file_object = file.get();
    CallDriver(device, irp);
    irp.WaitForCompletion();
  }
}

DeviceIoResult Kernel::DeviceIoControl(FileObject& file, uint32_t code,
                                       std::span<const uint8_t> input, std::span<uint8_t> output,
                                       const HandleNames* handles) {
  DeviceObject* device = file.device();
  const bool buffered = (code & 3u) == 0;
  Irp irp(device->stack_size);
  IoStackLocation& location = irp.NextStackLocation();
  location.major = IrpMajor::kDeviceControl;
  location.file_object = &file;
  location.io_control_code = code;
  location.input_length = static_cast<uint32_t>(input.size());
  location.output_length = static_cast<uint32_t>(output.size());
  irp.system_buffer.assign(buffered ? std::max(input.size(), output.size()) : input.size(), 0);
  if (!input.empty()) std::memcpy(irp.system_buffer.data(), input.data(), input.size());
  irp.user_buffer = output;
  irp.handles = handles;
  CallDriver(device, irp);
  irp.WaitForCompletion();
  DeviceIoResult result{irp.io_status.status, irp.io_status.information};
  if (buffered && !NtError(result.status)) {
    const size_t n = std::min<uint64_t>(
        {result.information, output.size(), static_cast<uint64_t>(irp.system_buffer.size())});
    if (n > 0) std::memcpy(output.data(), irp.system_buffer.data(), n);
  }
  return result;
}

NTSTATUS Kernel::SendAndWait(DeviceObject* physical_device, Irp& irp) {
  DeviceObject* top = GetAttachedDevice(physical_device);
  CallDriver(top, irp);
  irp.WaitForCompletion();
  return irp.io_status.status;
}

NTSTATUS Kernel::SendPnp(DeviceObject* physical_device, uint8_t minor,
                         const ResourceList* resources, DeviceCapabilities* capabilities) {
  Irp irp(GetAttachedDevice(physical_device)->stack_size);
  IoStackLocation& location = irp.NextStackLocation();
  location.major = IrpMajor::kPnp;
  location.minor = minor;
  location.resources_translated = resources;
  location.capabilities = capabilities;
  irp.io_status.status = kStatusNotSupported;
  return SendAndWait(physical_device, irp);
}

NTSTATUS Kernel::SendPower(DeviceObject* physical_device, uint8_t minor, PowerStateType type,
                           PowerState state) {
  Irp irp(GetAttachedDevice(physical_device)->stack_size);
  IoStackLocation& location = irp.NextStackLocation();
  location.major = IrpMajor::kPower;
  location.minor = minor;
  location.power_type = type;
  location.power_state = state;
  irp.io_status.status = kStatusNotSupported;
  return SendAndWait(physical_device, irp);
}

NTSTATUS Kernel::PoRequestPowerIrp(DeviceObject* physical_device, uint8_t minor,
                                   PowerState state, PowerCompletion done) {
  DeviceObject* top = GetAttachedDevice(physical_device);
  auto irp = std::make_shared<Irp>(top->stack_size);
  IoStackLocation& location = irp->NextStackLocation();
  location.major = IrpMajor::kPower;
  location.minor = minor;
  location.power_type = PowerStateType::kDevice;
  location.power_state = state;
  irp->io_status.status = kStatusNotSupported;
  // The request keeps itself alive until its completion has been told.
  irp->SetOriginatorCompletion(
      [keep = irp, done = std::move(done), physical_device, minor, state](Irp& self) mutable {
        if (done) done(physical_device, minor, state, self.io_status);
        keep.reset();
      });
  std::shared_ptr<Irp> hold = irp;  // alive across a completion inside the call
  CallDriver(top, *hold);
  return kStatusPending;
}

void Kernel::PoStartNextPowerIrp(Irp& irp) { (void)irp; }

void Kernel::PoSetPowerState(DeviceObject* device, PowerStateType type, PowerState state) {
  if (type == PowerStateType::kDevice) {
    device->device_power_ = state.device;
  } else {
    device->system_power_ = state.system;
  }
}

}  // namespace zimo::kernel
