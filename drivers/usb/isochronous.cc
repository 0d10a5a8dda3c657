// Isochronous transfers: a caller's buffer filled (or sent) by several
// requests in flight that each take the next slice when they complete, and
// the stream whose requests run on and write into two rings until stopped.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace usbk = kernel::usb;

namespace {

constexpr uint32_t kMaxPacketsPerRequest = 1024;
constexpr uint32_t kMaxRequests = 32;
constexpr uint64_t kMaxRingBytes = 16u << 20;

// The checks both transfer kinds make on their parameters and pipe.
NTSTATUS CheckParameters(DeviceExtension& ext, const IsoParameters& p, usbk::PipeInfo* pipe) {
  NTSTATUS status = PipeAt(ext, p.pipe_index, pipe);
  if (!kernel::NtSuccess(status)) return status;
  if (pipe->type != usbk::PipeType::kIsochronous) return kernel::kStatusInvalidParameter;
  if (pipe->handle == 0) return kernel::kStatusUnsuccessful;
  // Counts that would divide by zero or ask for unbounded requests are refused.
  if (p.packet_size == 0 || p.packet_count == 0 || p.packets_per_request == 0 ||
      p.request_count == 0 || p.packets_per_request > kMaxPacketsPerRequest ||
      p.request_count > kMaxRequests) {
    return kernel::kStatusInvalidParameter;
  }
  return kernel::kStatusSuccess;
}

// One request in flight: its packet and its URB over a slice of data.
struct IsoRequest {
  DeviceExtension* ext = nullptr;
  std::unique_ptr<kernel::Irp> irp;
  usbk::Urb urb;
  usbk::PipeInfo pipe;
  uint32_t packets = 0;  // per request
  uint32_t packet_size = 0;
};

void BuildIso(IsoRequest& r, std::span<uint8_t> slice) {
  r.urb = usbk::Urb{};
  r.urb.function = usbk::kFunctionIsochTransfer;
  r.urb.pipe = r.pipe.handle;
  r.urb.transfer_flags =
      usbk::kTransferStartIsoAsap | usbk::kTransferShortOk |
      ((r.pipe.endpoint_address & usbk::kEndpointIn) != 0 ? usbk::kTransferDirectionIn : 0);
  r.urb.buffer = slice;
  r.urb.transfer_length = static_cast<uint32_t>(slice.size());
  r.urb.packets.resize(r.packets);
  for (uint32_t i = 0; i < r.packets; ++i) r.urb.packets[i].offset = i * r.packet_size;
}

// Sends the request down; `done` runs on its completion and tells whether
// to send it again (the URB rebuilt by then).
void Send(IsoRequest& r, std::function<bool(IsoRequest&)> done) {
  kernel::Irp& irp = *r.irp;
  irp.io_status = kernel::IoStatusBlock{};
  kernel::IoStackLocation& location = irp.NextStackLocation();
  location.major = kernel::IrpMajor::kInternalDeviceControl;
  location.io_control_code = usbk::kIoctlInternalSubmitUrb;
  location.argument1 = &r.urb;
  irp.SetCompletionRoutine([&r, done](kernel::DeviceObject*, kernel::Irp&) {
    if (!usbk::UsbdSuccess(r.urb.status)) r.ext->last_usb_error = r.urb.status;
    if (done(r)) Send(r, done);
    return kernel::kStatusMoreProcessingRequired;
  });
  r.ext->kernel().CallDriver(r.ext->lower_device, irp);
}

void StoreDescriptors(const usbk::Urb& urb, uint8_t* out) {
  for (size_t i = 0; i < urb.packets.size(); ++i) {
    const IsoPacketDescriptor d{urb.packets[i].offset, urb.packets[i].length,
                                static_cast<uint32_t>(urb.packets[i].status)};
    std::memcpy(out + i * sizeof(d), &d, sizeof(d));
  }
}

}  // namespace

NTSTATUS IsoTransfer(DeviceExtension& ext, const IsoParameters& p, std::span<uint8_t> buffer) {
  usbk::PipeInfo pipe;
  const NTSTATUS status = CheckParameters(ext, p, &pipe);
  if (!kernel::NtSuccess(status)) return status;
  const uint64_t cycle = uint64_t{p.packets_per_request} * p.request_count;
  if (p.packet_count % cycle != 0) return kernel::kStatusInvalidParameter;
  const uint64_t data_bytes = uint64_t{p.packet_count} * p.packet_size;
  if (buffer.size() < data_bytes + uint64_t{p.packet_count} * sizeof(IsoPacketDescriptor)) {
    return kernel::kStatusUnsuccessful;
  }
  uint8_t* descriptors = buffer.data() + data_bytes;

  struct Shared {
    std::mutex mu;
    std::condition_variable cv;
    uint32_t active = 0;
    bool failed = false;
  } shared;
  std::vector<std::unique_ptr<IsoRequest>> requests;
  std::vector<uint32_t> done_packets(p.request_count);
  for (uint32_t k = 0; k < p.request_count; ++k) {
    auto r = std::make_unique<IsoRequest>();
    r->ext = &ext;
    r->irp = std::make_unique<kernel::Irp>(ext.lower_device->stack_size);
    r->pipe = pipe;
    r->packets = p.packets_per_request;
    r->packet_size = p.packet_size;
    done_packets[k] = k * p.packets_per_request;
    requests.push_back(std::move(r));
  }
  const uint64_t slice_bytes = uint64_t{p.packets_per_request} * p.packet_size;
  shared.active = p.request_count;
  for (uint32_t k = 0; k < p.request_count; ++k) {
    IsoRequest& r = *requests[k];
    BuildIso(r, buffer.subspan(done_packets[k] * uint64_t{p.packet_size}, slice_bytes));
    Send(r, [&, k](IsoRequest& req) {
      uint32_t& done = done_packets[k];
      StoreDescriptors(req.urb, descriptors + uint64_t{done} * sizeof(IsoPacketDescriptor));
      done += static_cast<uint32_t>(cycle);
      const bool failed = !usbk::UsbdSuccess(req.urb.status);
      if (!failed && done < p.packet_count) {
        BuildIso(req, buffer.subspan(uint64_t{done} * p.packet_size, slice_bytes));
        return true;
      }
      // A failed request ends here rather than going round again.
      std::lock_guard lock(shared.mu);
      shared.failed = shared.failed || failed;
      if (--shared.active == 0) shared.cv.notify_all();
      return false;
    });
  }
  std::unique_lock lock(shared.mu);
  shared.cv.wait(lock, [&shared] { return shared.active == 0; });
  return shared.failed ? kernel::kStatusUnsuccessful : kernel::kStatusSuccess;
}

NTSTATUS StartIsoStream(DeviceExtension& ext, const IsoParameters& p) {
  usbk::PipeInfo pipe;
  const NTSTATUS status = CheckParameters(ext, p, &pipe);
  if (!kernel::NtSuccess(status)) return status;
  const uint64_t ring_bytes = uint64_t{p.packet_count} * p.packet_size;
  const uint64_t slice_bytes = uint64_t{p.packets_per_request} * p.packet_size;
  if (ring_bytes > kMaxRingBytes || slice_bytes * p.request_count > kMaxRingBytes) {
    return kernel::kStatusInsufficientResources;
  }
  auto stream = std::make_shared<IsoStream>(static_cast<size_t>(ring_bytes),
                                            size_t{p.packet_count} * sizeof(IsoPacketDescriptor));
  {
    std::lock_guard lock(ext.stream_mu);
    // A stream already running ends at its next completion.
    if (ext.stream) ext.stream->stop = true;
    ext.stream = stream;
    ext.stream_requests += static_cast<int>(p.request_count);
  }
  stream->active = static_cast<int>(p.request_count);

  struct StreamRequest : IsoRequest {
    std::shared_ptr<IsoStream> stream;
    std::vector<uint8_t> data;  // this request's part of the transfer buffer
  };
  for (uint32_t k = 0; k < p.request_count; ++k) {
    auto* r = new StreamRequest;  // owns itself until it ends
    r->ext = &ext;
    r->irp = std::make_unique<kernel::Irp>(ext.lower_device->stack_size);
    r->pipe = pipe;
    r->packets = p.packets_per_request;
    r->packet_size = p.packet_size;
    r->stream = stream;
    r->data.assign(static_cast<size_t>(slice_bytes), 0);
    BuildIso(*r, r->data);
    Send(*r, [r](IsoRequest&) {
      IsoStream& s = *r->stream;
      if (usbk::UsbdSuccess(r->urb.status) && !s.stop) {
        std::vector<uint8_t> descriptors(r->urb.packets.size() * sizeof(IsoPacketDescriptor));
        StoreDescriptors(r->urb, descriptors.data());
        // A block the rings cannot take whole is dropped.
        if (s.data.size() - s.data.stored() >= r->data.size() &&
            s.descriptors.size() - s.descriptors.stored() >= descriptors.size()) {
          s.data.Write(r->data.data(), r->data.size());
          s.descriptors.Write(descriptors.data(), descriptors.size());
        }
        BuildIso(*r, r->data);
        return true;
      }
      // This request ends; the last one of the stream frees its rings.
      DeviceExtension& ext = *r->ext;
      std::shared_ptr<IsoStream> stream = std::move(r->stream);
      bool last;
      {
        std::lock_guard lock(stream->mu);
        last = --stream->active == 0;
      }
      // The request (and this routine's captures) goes before the waiters hear of it.
      delete r;
      std::lock_guard lock(ext.stream_mu);
      if (last && ext.stream == stream) ext.stream.reset();
      if (--ext.stream_requests == 0) ext.stream_idle.notify_all();
      return false;
    });
  }
  return kernel::kStatusSuccess;
}

void StopIsoStream(DeviceExtension& ext) {
  std::lock_guard lock(ext.stream_mu);
  if (ext.stream) ext.stream->stop = true;
}

void EndIsoStream(DeviceExtension& ext) {
  std::unique_lock lock(ext.stream_mu);
  if (ext.stream) ext.stream->stop = true;
  ext.stream_idle.wait(lock, [&ext] { return ext.stream_requests == 0; });
}

NTSTATUS ReadIsoBuffer(DeviceExtension& ext, const IsoParameters& p, std::span<uint8_t> out,
                       uint64_t* reply) {
  *reply = 0;
  if (p.packet_size == 0 || p.packet_count == 0) return kernel::kStatusInvalidParameter;
  const uint64_t data_bytes = uint64_t{p.packet_count} * p.packet_size;
  if (out.size() != data_bytes + uint64_t{p.packet_count} * sizeof(IsoPacketDescriptor)) {
    return kernel::kStatusInvalidParameter;
  }
  std::shared_ptr<IsoStream> stream;
  {
    std::lock_guard lock(ext.stream_mu);
    stream = ext.stream;
  }
  if (!stream) return kernel::kStatusUnsuccessful;
  const size_t read = stream->data.Read(out.data(), static_cast<size_t>(data_bytes));
  const size_t wanted = read / p.packet_size * sizeof(IsoPacketDescriptor);
  const size_t descriptors = wanted == 0 ? 0 : stream->descriptors.Read(out.data() + read, wanted);
  *reply = read + descriptors;
  return kernel::kStatusSuccess;
}

}  // namespace zimo::drivers::usb
