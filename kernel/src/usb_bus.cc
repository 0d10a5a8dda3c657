// The USB bus driver: ports, request blocks and the isochronous scheduler.
#include "kernel/usb_bus.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "kernel/child_dispatch.h"

namespace zimo::kernel {

namespace {

using usb::Handshake;
using usb::Urb;
using usb::UsbdStatus;

constexpr uint32_t kFrameBase = 1;  // frame numbers start here, so 0 never reads as one

std::atomic<uint64_t> g_next_handle{0x1000};
uint64_t NewHandle() { return g_next_handle.fetch_add(1); }

UsbdStatus StatusOf(Handshake handshake) {
  switch (handshake) {
    case Handshake::kAck:
      return usb::kUsbdSuccess;
    case Handshake::kStall:
      return usb::kUsbdStall;
    case Handshake::kNoResponse:
      break;
  }
  return usb::kUsbdNotResponding;
}

}  // namespace

struct UsbBus::Port : std::enable_shared_from_this<UsbBus::Port> {
  struct Pipe {
    uint8_t interface_number = 0;
    uint8_t endpoint = 0;
    usb::PipeType type = usb::PipeType::kBulk;
    bool halted = false;
    uint32_t next_frame = 0;  // the first frame free for the next isochronous transfer
  };

  UsbBus* bus = nullptr;
  std::shared_ptr<usb::UsbFunction> function;
  DeviceCapabilities capabilities;

  std::mutex mu;  // everything below
  bool gone = false;
  uint8_t configuration_value = 0;  // 0: not configured
  std::vector<uint8_t> configuration;
  usb::ConfigurationHandle configuration_handle = 0;
  std::map<usb::PipeHandle, Pipe> pipes;

  bool FindPipe(usb::PipeHandle handle, Pipe* pipe) {
    std::lock_guard lock(mu);
    auto it = pipes.find(handle);
    if (it == pipes.end()) return false;
    *pipe = it->second;
    return true;
  }

  // One control transfer; `data` is the data stage (OUT) or receives it (IN).
  UsbdStatus Control(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                     std::span<uint8_t> data, uint32_t length, bool short_ok, uint32_t* moved) {
    *moved = 0;
    {
      std::lock_guard lock(mu);
      if (gone) return usb::kUsbdNotResponding;
    }
    usb::SetupPacket setup{request_type, request, value, index,
                           static_cast<uint16_t>(std::min<uint32_t>(length, 0xFFFF))};
    length = setup.length;
    if ((request_type & usb::kRequestIn) == 0) {
      const Handshake h = function->Control(setup, data.first(length), nullptr);
      if (h == Handshake::kAck) *moved = length;
      return StatusOf(h);
    }
    std::vector<uint8_t> in;
    const Handshake h = function->Control(setup, {}, &in);
    if (h != Handshake::kAck) return StatusOf(h);
    // A device that sends more than asked for babbles: nothing of it is kept.
    if (in.size() > length) return usb::kUsbdDataOverrun;
    if (!in.empty()) std::memcpy(data.data(), in.data(), in.size());
    *moved = static_cast<uint32_t>(in.size());
    if (in.size() < length && !short_ok) return usb::kUsbdShortTransfer;
    return usb::kUsbdSuccess;
  }
};

UsbBus::UsbBus(Kernel& kernel, std::string_view name, std::chrono::microseconds frame_period)
    : kernel_(kernel),
      frame_period_(frame_period.count() > 0 ? frame_period : std::chrono::microseconds(1)),
      epoch_(std::chrono::steady_clock::now()) {
  kernel_.LoadDriver(name, &UsbBus::EntryPoint, "", &driver_);
  scheduler_ = std::thread([this] { SchedulerThread(); });
}

UsbBus::~UsbBus() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  scheduler_.join();
  if (driver_ != nullptr) kernel_.UnloadDriver(driver_);
}

NTSTATUS UsbBus::EntryPoint(DriverObject* driver, std::string_view registry_path) {
  (void)registry_path;
  for (auto& entry : driver->major_function) entry = &DispatchChildOther;
  driver->major_function[static_cast<size_t>(IrpMajor::kPnp)] = &UsbBus::DispatchPnp;
  driver->major_function[static_cast<size_t>(IrpMajor::kPower)] = &DispatchChildPower;
  driver->major_function[static_cast<size_t>(IrpMajor::kInternalDeviceControl)] =
      &UsbBus::DispatchInternal;
  return kStatusSuccess;
}

DeviceObject* UsbBus::CreateChild(std::shared_ptr<usb::UsbFunction> function,
                                  DeviceCapabilities capabilities) {
  auto port = std::make_shared<Port>();
  port->bus = this;
  port->function = std::move(function);
  port->capabilities = capabilities;
  DeviceObject* pdo = nullptr;
  if (kernel_.CreateDeviceWith(driver_, "", kFileDeviceBusExtender, false, port, &pdo) !=
      kStatusSuccess) {
    return nullptr;
  }
  pdo->flags &= ~kDoDeviceInitializing;
  return pdo;
}

void UsbBus::DeleteChild(DeviceObject* physical_device) {
  Port* port = physical_device->extension<Port>();
  {
    std::lock_guard lock(port->mu);
    port->gone = true;
  }
  std::deque<Scheduled> left;
  {
    std::lock_guard lock(mu_);
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (it->port.get() == port) {
        left.push_back(std::move(*it));
        it = queue_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Scheduled& item : left) {
    item.urb->status = usb::kUsbdCanceled;
    Complete(*item.irp, *item.urb);
  }
  kernel_.DeleteDevice(physical_device);
}

uint32_t UsbBus::CurrentFrame() const {
  const auto elapsed = std::chrono::steady_clock::now() - epoch_;
  return kFrameBase + static_cast<uint32_t>(elapsed / frame_period_);
}

// ---- Plug and play, power, everything else -------------------------------------------

NTSTATUS UsbBus::DispatchPnp(DeviceObject* device, Irp& irp) {
  Port* port = device->extension<Port>();
  IoStackLocation& location = irp.CurrentStackLocation();
  return CompleteChildRequest(device, irp,
                              ChildPnpStatus(location, port->capabilities, irp.io_status.status));
}

NTSTATUS UsbBus::DispatchInternal(DeviceObject* device, Irp& irp) {
  Port* port = device->extension<Port>();
  UsbBus* bus = port->bus;
  const IoStackLocation& location = irp.CurrentStackLocation();
  if (location.io_control_code == usb::kIoctlInternalSubmitUrb && location.argument1 != nullptr) {
    return bus->SubmitUrb(*port, irp, *static_cast<Urb*>(location.argument1));
  }
  NTSTATUS status = kStatusInvalidDeviceRequest;
  if (location.io_control_code == usb::kIoctlInternalResetPort) {
    bool gone;
    uint8_t value;
    {
      std::lock_guard lock(port->mu);
      gone = port->gone;
      value = port->configuration_value;
      for (auto& [handle, pipe] : port->pipes) pipe.halted = false;
    }
    status = kStatusUnsuccessful;
    if (!gone) {
      port->function->PortReset();
      // The bus puts the device back into its configuration after the reset.
      uint32_t moved = 0;
      const UsbdStatus s = value == 0 ? usb::kUsbdSuccess
                                      : port->Control(usb::kRequestStandard, usb::kSetConfiguration,
                                                      value, 0, {}, 0, true, &moved);
      status = usb::UsbdSuccess(s) ? kStatusSuccess : kStatusUnsuccessful;
    }
  }
  irp.io_status.status = status;
  irp.io_status.information = 0;
  device->kernel().CompleteRequest(irp);
  return status;
}

// ---- Request blocks ---------------------------------------------------------------------

void UsbBus::Complete(Irp& irp, Urb& urb) {
  NTSTATUS status = kStatusSuccess;
  if (!usb::UsbdSuccess(urb.status)) {
    status = urb.status == usb::kUsbdInvalidParameter ||
                     urb.status == usb::kUsbdInvalidPipeHandle ||
                     urb.status == usb::kUsbdInvalidUrbFunction
                 ? kStatusInvalidParameter
                 : kStatusUnsuccessful;
  }
  irp.io_status.status = status;
  irp.io_status.information = 0;
  kernel_.CompleteRequest(irp);
}

NTSTATUS UsbBus::SubmitUrb(Port& port, Irp& irp, Urb& urb) {
  using Pipe = Port::Pipe;
  urb.status = usb::kUsbdSuccess;
  uint32_t moved = 0;
  auto finish = [&](UsbdStatus status) {
    urb.status = status;
    Complete(irp, urb);
    return irp.io_status.status;
  };

  switch (urb.function) {
    case usb::kFunctionSelectConfiguration: {
      if (urb.configuration.empty()) {
        const UsbdStatus s =
            port.Control(usb::kRequestStandard, usb::kSetConfiguration, 0, 0, {}, 0, true, &moved);
        if (usb::UsbdSuccess(s)) {
          std::lock_guard lock(port.mu);
          port.configuration_value = 0;
          port.configuration.clear();
          port.configuration_handle = 0;
          port.pipes.clear();
        }
        urb.configuration_handle = 0;
        return finish(s);
      }
      if (urb.configuration.size() < sizeof(usb::ConfigurationDescriptor)) {
        return finish(usb::kUsbdInvalidParameter);
      }
      usb::ConfigurationDescriptor header;
      std::memcpy(&header, urb.configuration.data(), sizeof(header));
      std::vector<usb::InterfaceInfo> chosen;
      for (const usb::InterfaceInfo& wanted : urb.interfaces) {
        const auto offset = usb::ParseConfigurationDescriptor(
            urb.configuration, wanted.interface_number, wanted.alternate_setting);
        std::optional<usb::InterfaceInfo> info =
            offset ? usb::InterfaceAt(urb.configuration, *offset) : std::nullopt;
        if (!info) return finish(usb::kUsbdInvalidParameter);
        for (size_t i = 0; i < info->pipes.size() && i < wanted.pipes.size(); ++i) {
          info->pipes[i].max_transfer_size = wanted.pipes[i].max_transfer_size;
        }
        chosen.push_back(std::move(*info));
      }
      const UsbdStatus s = port.Control(usb::kRequestStandard, usb::kSetConfiguration,
                                        header.configuration_value, 0, {}, 0, true, &moved);
      if (!usb::UsbdSuccess(s)) return finish(s);
      {
        std::lock_guard lock(port.mu);
        port.pipes.clear();
        for (usb::InterfaceInfo& info : chosen) {
          info.handle = NewHandle();
          for (usb::PipeInfo& pipe : info.pipes) {
            pipe.handle = NewHandle();
            port.pipes[pipe.handle] = Pipe{info.interface_number, pipe.endpoint_address, pipe.type};
          }
        }
        port.configuration_value = header.configuration_value;
        port.configuration = urb.configuration;
        port.configuration_handle = NewHandle();
        urb.configuration_handle = port.configuration_handle;
      }
      urb.interfaces = std::move(chosen);
      return finish(usb::kUsbdSuccess);
    }

    case usb::kFunctionSelectInterface: {
      std::vector<uint8_t> configuration;
      {
        std::lock_guard lock(port.mu);
        if (port.configuration_handle == 0 ||
            urb.configuration_handle != port.configuration_handle || urb.interfaces.size() != 1) {
          return finish(usb::kUsbdInvalidParameter);
        }
        configuration = port.configuration;
      }
      const usb::InterfaceInfo& wanted = urb.interfaces[0];
      const auto offset = usb::ParseConfigurationDescriptor(configuration, wanted.interface_number,
                                                            wanted.alternate_setting);
      std::optional<usb::InterfaceInfo> info =
          offset ? usb::InterfaceAt(configuration, *offset) : std::nullopt;
      if (!info) return finish(usb::kUsbdInvalidParameter);
      const UsbdStatus s =
          port.Control(usb::kRequestStandard | usb::kRecipientInterface, usb::kSetInterface,
                       info->alternate_setting, info->interface_number, {}, 0, true, &moved);
      if (!usb::UsbdSuccess(s)) return finish(s);
      for (size_t i = 0; i < info->pipes.size() && i < wanted.pipes.size(); ++i) {
        info->pipes[i].max_transfer_size = wanted.pipes[i].max_transfer_size;
      }
      {
        std::lock_guard lock(port.mu);
        std::erase_if(port.pipes, [&](const auto& entry) {
          return entry.second.interface_number == info->interface_number;
        });
        info->handle = NewHandle();
        for (usb::PipeInfo& pipe : info->pipes) {
          pipe.handle = NewHandle();
          port.pipes[pipe.handle] = Pipe{info->interface_number, pipe.endpoint_address, pipe.type};
        }
      }
      urb.interfaces[0] = std::move(*info);
      return finish(usb::kUsbdSuccess);
    }

    case usb::kFunctionAbortPipe: {
      Pipe pipe;
      if (!port.FindPipe(urb.pipe, &pipe)) return finish(usb::kUsbdInvalidPipeHandle);
      irp.MarkPending();
      Schedule(Scheduled{port.shared_from_this(), &irp, &urb, true});
      return kStatusPending;
    }

    case usb::kFunctionResetPipe: {
      if (urb.length != usb::kPipeRequestLength && urb.length != usb::kPipeRequestLength - 4) {
        return finish(usb::kUsbdInvalidParameter);
      }
      Pipe pipe;
      if (!port.FindPipe(urb.pipe, &pipe)) return finish(usb::kUsbdInvalidPipeHandle);
      const UsbdStatus s =
          port.Control(usb::kRequestStandard | usb::kRecipientEndpoint, usb::kClearFeature,
                       usb::kFeatureEndpointHalt, pipe.endpoint, {}, 0, true, &moved);
      if (usb::UsbdSuccess(s)) {
        std::lock_guard lock(port.mu);
        if (auto it = port.pipes.find(urb.pipe); it != port.pipes.end()) it->second.halted = false;
      }
      return finish(s);
    }

    case usb::kFunctionGetCurrentFrameNumber:
      urb.frame_number = CurrentFrame();
      return finish(usb::kUsbdSuccess);

    case usb::kFunctionBulkOrInterruptTransfer: {
      Pipe pipe;
      if (!port.FindPipe(urb.pipe, &pipe)) return finish(usb::kUsbdInvalidPipeHandle);
      if (pipe.type != usb::PipeType::kBulk && pipe.type != usb::PipeType::kInterrupt) {
        return finish(usb::kUsbdInvalidParameter);
      }
      if (pipe.halted) return finish(usb::kUsbdEndpointHalted);
      const uint32_t length =
          std::min<uint32_t>(urb.transfer_length, static_cast<uint32_t>(urb.buffer.size()));
      urb.transfer_length = 0;
      {
        std::lock_guard lock(port.mu);
        if (port.gone) return finish(usb::kUsbdNotResponding);
      }
      Handshake h;
      std::vector<uint8_t> in;
      const bool is_in = (pipe.endpoint & usb::kEndpointIn) != 0;
      if (is_in) {
        h = port.function->Transfer(pipe.endpoint, {}, length, &in);
      } else {
        h = port.function->Transfer(pipe.endpoint, urb.buffer.first(length), 0, nullptr);
      }
      if (h == Handshake::kStall) {
        std::lock_guard lock(port.mu);
        if (auto it = port.pipes.find(urb.pipe); it != port.pipes.end()) it->second.halted = true;
      }
      if (h != Handshake::kAck) return finish(StatusOf(h));
      if (!is_in) {
        urb.transfer_length = length;
        return finish(usb::kUsbdSuccess);
      }
      if (in.size() > length) return finish(usb::kUsbdDataOverrun);
      if (!in.empty()) std::memcpy(urb.buffer.data(), in.data(), in.size());
      urb.transfer_length = static_cast<uint32_t>(in.size());
      if (in.size() < length && (urb.transfer_flags & usb::kTransferShortOk) == 0) {
        return finish(usb::kUsbdShortTransfer);
      }
      return finish(usb::kUsbdSuccess);
    }

    case usb::kFunctionIsochTransfer: {
      Pipe pipe;
      if (!port.FindPipe(urb.pipe, &pipe)) return finish(usb::kUsbdInvalidPipeHandle);
      if (pipe.type != usb::PipeType::kIsochronous || urb.packets.empty()) {
        return finish(usb::kUsbdInvalidParameter);
      }
      irp.MarkPending();
      Schedule(Scheduled{port.shared_from_this(), &irp, &urb, false});
      return kStatusPending;
    }

    case usb::kFunctionGetDescriptorFromDevice: {
      // The data stage never asks for more than the buffer holds.
      const uint32_t length =
          std::min<uint32_t>(urb.transfer_length, static_cast<uint32_t>(urb.buffer.size()));
      const UsbdStatus s = port.Control(usb::kRequestIn | usb::kRequestStandard,
                                        usb::kGetDescriptor, urb.value, urb.index, urb.buffer,
                                        length, true, &moved);
      urb.transfer_length = moved;
      return finish(s);
    }

    case usb::kFunctionSetFeatureToDevice:
      return finish(port.Control(usb::kRequestStandard, usb::kSetFeature, urb.value, urb.index, {},
                                 0, true, &moved));

    case usb::kFunctionVendorDevice:
    case usb::kFunctionVendorInterface:
    case usb::kFunctionVendorEndpoint:
    case usb::kFunctionVendorOther:
    case usb::kFunctionClassDevice:
    case usb::kFunctionClassInterface:
    case usb::kFunctionClassEndpoint:
    case usb::kFunctionClassOther: {
      static const std::map<uint16_t, uint8_t> kTypes = {
          {usb::kFunctionVendorDevice, usb::kRequestVendor | usb::kRecipientDevice},
          {usb::kFunctionVendorInterface, usb::kRequestVendor | usb::kRecipientInterface},
          {usb::kFunctionVendorEndpoint, usb::kRequestVendor | usb::kRecipientEndpoint},
          {usb::kFunctionVendorOther, usb::kRequestVendor | usb::kRecipientOther},
          {usb::kFunctionClassDevice, usb::kRequestClass | usb::kRecipientDevice},
          {usb::kFunctionClassInterface, usb::kRequestClass | usb::kRecipientInterface},
          {usb::kFunctionClassEndpoint, usb::kRequestClass | usb::kRecipientEndpoint},
          {usb::kFunctionClassOther, usb::kRequestClass | usb::kRecipientOther},
      };
      const bool in = (urb.transfer_flags & usb::kTransferDirectionIn) != 0;
      const uint8_t type = kTypes.at(urb.function) | (in ? usb::kRequestIn : 0);
      const uint32_t length =
          std::min<uint32_t>(urb.transfer_length, static_cast<uint32_t>(urb.buffer.size()));
      const UsbdStatus s = port.Control(type, urb.request, urb.value, urb.index, urb.buffer, length,
                                        (urb.transfer_flags & usb::kTransferShortOk) != 0, &moved);
      urb.transfer_length = moved;
      return finish(s);
    }

    default:
      return finish(usb::kUsbdInvalidUrbFunction);
  }
}

// ---- The isochronous scheduler -----------------------------------------------------------

void UsbBus::Schedule(Scheduled item) {
  {
    std::lock_guard lock(mu_);
    queue_.push_back(std::move(item));
  }
  cv_.notify_all();
}

void UsbBus::SchedulerThread() {
  for (;;) {
    Scheduled item;
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) break;
      // Aborts go first: they cancel what waits behind them.
      auto it =
          std::find_if(queue_.begin(), queue_.end(), [](const Scheduled& s) { return s.abort; });
      if (it == queue_.end()) it = queue_.begin();
      item = std::move(*it);
      queue_.erase(it);
    }
    if (item.abort) {
      RunAbort(item);
    } else {
      RunIsochronous(item);
    }
  }
  // Shutting down: whatever is still scheduled completes as canceled.
  std::deque<Scheduled> left;
  {
    std::lock_guard lock(mu_);
    left.swap(queue_);
  }
  for (Scheduled& item : left) {
    item.urb->status = item.abort ? usb::kUsbdSuccess : usb::kUsbdCanceled;
    Complete(*item.irp, *item.urb);
  }
}

void UsbBus::RunAbort(const Scheduled& item) {
  std::deque<Scheduled> canceled;
  {
    std::lock_guard lock(mu_);
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (!it->abort && it->port == item.port && it->urb->pipe == item.urb->pipe) {
        canceled.push_back(std::move(*it));
        it = queue_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Scheduled& c : canceled) {
    c.urb->status = usb::kUsbdCanceled;
    Complete(*c.irp, *c.urb);
  }
  item.urb->status = usb::kUsbdSuccess;
  Complete(*item.irp, *item.urb);
}

void UsbBus::RunIsochronous(const Scheduled& item) {
  Port& port = *item.port;
  Urb& urb = *item.urb;
  Port::Pipe pipe;
  if (!port.FindPipe(urb.pipe, &pipe)) {
    urb.status = usb::kUsbdInvalidPipeHandle;
    Complete(*item.irp, urb);
    return;
  }
  const uint32_t count = static_cast<uint32_t>(urb.packets.size());
  const uint32_t length =
      std::min<uint32_t>(urb.transfer_length, static_cast<uint32_t>(urb.buffer.size()));
  uint32_t start;
  bool gone;
  {
    std::lock_guard lock(port.mu);
    gone = port.gone;
    start = CurrentFrame();
    auto live = port.pipes.find(urb.pipe);
    if (live != port.pipes.end()) start = std::max(start, live->second.next_frame);
    if ((urb.transfer_flags & usb::kTransferStartIsoAsap) == 0 && urb.start_frame > start) {
      start = urb.start_frame;
    }
    if (live != port.pipes.end()) live->second.next_frame = start + count;
  }
  urb.start_frame = start;
  const bool is_in = (pipe.endpoint & usb::kEndpointIn) != 0;
  bool any_done = false;
  UsbdStatus first_failure = usb::kUsbdSuccess;
  for (uint32_t i = 0; i < count; ++i) {
    usb::IsoPacket& packet = urb.packets[i];
    // A packet reaches to the next packet's offset (the last to the transfer's end).
    const uint32_t end = i + 1 < count ? urb.packets[i + 1].offset : length;
    packet.length = 0;
    if (packet.offset > end || end > length) {
      packet.status = usb::kUsbdInvalidParameter;
    } else if (gone) {
      packet.status = usb::kUsbdNotResponding;
    } else {
      const uint32_t room = end - packet.offset;
      std::vector<uint8_t> in;
      const Handshake h =
          is_in ? port.function->IsoPacket(pipe.endpoint, start + i, {}, room, &in)
                : port.function->IsoPacket(pipe.endpoint, start + i,
                                           urb.buffer.subspan(packet.offset, room), 0, nullptr);
      packet.status = StatusOf(h);
      if (h == Handshake::kAck) {
        if (!is_in) {
          packet.length = room;
        } else if (in.size() > room) {
          packet.status = usb::kUsbdDataOverrun;
        } else {
          if (!in.empty()) std::memcpy(urb.buffer.data() + packet.offset, in.data(), in.size());
          packet.length = static_cast<uint32_t>(in.size());
        }
      }
    }
    if (usb::UsbdSuccess(packet.status)) {
      any_done = true;
    } else if (usb::UsbdSuccess(first_failure)) {
      first_failure = packet.status;
    }
  }
  // The transfer completes when its last frame has passed, unless its pipe
  // is aborted first.
  const auto ready = epoch_ + frame_period_ * static_cast<int64_t>(start + count - kFrameBase);
  bool aborted = false;
  {
    std::unique_lock lock(mu_);
    auto abort_waiting = [&] {
      return std::any_of(queue_.begin(), queue_.end(), [&](const Scheduled& s) {
        return s.abort && s.port == item.port && s.urb->pipe == urb.pipe;
      });
    };
    cv_.wait_until(lock, ready, [&] { return stop_ || abort_waiting(); });
    aborted = stop_ || abort_waiting();
  }
  urb.status =
      aborted ? usb::kUsbdCanceled : (any_done || count == 0 ? usb::kUsbdSuccess : first_failure);
  Complete(*item.irp, urb);
}

}  // namespace zimo::kernel
