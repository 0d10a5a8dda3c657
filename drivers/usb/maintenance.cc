// The maintenance codes (device type 0x22): the USB device itself, its
// descriptors, pipes, raw requests, controller memory and isochronous
// transfers. Nothing of this system issues them; they serve service tools.
#include <algorithm>
#include <cstring>
#include <vector>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace usbk = kernel::usb;

namespace {

constexpr uint32_t kRamBlock = 512;
constexpr uint32_t kRamPiece = 64;

uint32_t InputU32(const kernel::Irp& irp) {
  uint32_t v = 0;
  std::memcpy(&v, irp.system_buffer.data(), 4);
  return v;
}

// Writes the interface and its pipes into `out`; the record's full length.
uint32_t PipeInfoRecord(const usbk::InterfaceInfo& info, std::span<uint8_t> out) {
  std::vector<uint8_t> bytes(sizeof(InterfaceRecord) + info.pipes.size() * sizeof(PipeRecord));
  InterfaceRecord head{};
  head.length = static_cast<uint16_t>(bytes.size());
  head.interface_number = info.interface_number;
  head.alternate_setting = info.alternate_setting;
  head.interface_class = info.interface_class;
  head.interface_subclass = info.interface_subclass;
  head.interface_protocol = info.interface_protocol;
  head.pipe_count = static_cast<uint8_t>(info.pipes.size());
  head.interface_handle = info.handle;
  std::memcpy(bytes.data(), &head, sizeof(head));
  for (size_t i = 0; i < info.pipes.size(); ++i) {
    const usbk::PipeInfo& p = info.pipes[i];
    PipeRecord pipe{};
    pipe.endpoint_address = p.endpoint_address;
    pipe.pipe_type = static_cast<uint8_t>(p.type);
    pipe.max_packet_size = p.max_packet_size;
    pipe.max_transfer_size = p.max_transfer_size;
    pipe.pipe_handle = p.handle;
    pipe.interval = p.interval;
    std::memcpy(bytes.data() + sizeof(head) + i * sizeof(pipe), &pipe, sizeof(pipe));
  }
  std::memcpy(out.data(), bytes.data(), std::min(bytes.size(), out.size()));
  return static_cast<uint32_t>(bytes.size());
}

NTSTATUS GetDescriptor(DeviceExtension& ext, uint8_t type, uint8_t index, uint16_t language,
                       std::span<uint8_t> out, uint64_t* reply) {
  usbk::Urb urb;
  usbk::BuildGetDescriptorRequest(&urb, type, index, language, out);
  const NTSTATUS status = CallUsbd(ext, urb);
  if (kernel::NtSuccess(status)) *reply = urb.transfer_length;
  return status;
}

}  // namespace

NTSTATUS RunMaintenanceCode(DeviceExtension& ext, uint32_t code, kernel::Irp& irp,
                            uint64_t* reply) {
  const kernel::IoStackLocation& location = irp.CurrentStackLocation();
  const uint32_t in = location.input_length;
  const uint32_t out = location.output_length;
  // Buffered codes answer in the system buffer, direct ones in the caller's.
  std::span<uint8_t> system(irp.system_buffer.data(),
                            std::min<size_t>(irp.system_buffer.size(), out));
  std::span<uint8_t> direct = irp.user_buffer;
  *reply = 0;

  switch (code) {
    case IOCTL_ZIMOUSB_GET_PIPE_INFO: {
      std::lock_guard lock(ext.usb_mu);
      if (ext.interface) *reply = PipeInfoRecord(*ext.interface, system);
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_GET_DEVICE_DESCRIPTOR: {
      std::lock_guard lock(ext.usb_mu);
      const size_t n = std::min(ext.device_descriptor.size(), system.size());
      std::memcpy(system.data(), ext.device_descriptor.data(), n);
      *reply = n;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_GET_CONFIG_DESCRIPTOR:
      return GetDescriptor(ext, usbk::kDescriptorConfiguration, 0, 0, system, reply);
    case IOCTL_ZIMOUSB_GET_STRING_DESCRIPTOR: {
      if (in < 4) return kernel::kStatusInvalidParameter;
      if (out == 0) return kernel::kStatusInvalidParameter;
      uint16_t language;
      std::memcpy(&language, irp.system_buffer.data() + 2, 2);
      const NTSTATUS status = GetDescriptor(ext, usbk::kDescriptorString, irp.system_buffer[0],
                                            language, system, reply);
      return kernel::NtSuccess(status) && *reply > 0 ? status : kernel::kStatusUnsuccessful;
    }

    case IOCTL_ZIMOUSB_VENDOR_REQUEST: {
      if (in < sizeof(VendorRequestRecord)) return kernel::kStatusInvalidParameter;
      VendorRequestRecord record;
      std::memcpy(&record, irp.system_buffer.data(), sizeof(record));
      if (record.direction == 1) {
        // The data comes back into the buffer, never past it.
        std::span<uint8_t> data(irp.system_buffer.data(),
                                std::min<size_t>(record.length, system.size()));
        record.length = static_cast<uint16_t>(data.size());
        *reply = VendorRequest(ext, record, data);
        return kernel::kStatusSuccess;
      }
      // Out: the driver's own bytes (a test pattern for the device's firmware).
      std::vector<uint8_t> data;
      if (record.length != 1) {
        data.resize(record.length);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
      }
      VendorRequest(ext, record, data);
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_GET_CURRENT_CONFIG:
      return kernel::kStatusSuccess;

    case IOCTL_ZIMOUSB_RAM_DOWNLOAD: {
      // Whole 512-byte blocks, and what is left as a shorter last block.
      const uint8_t* data = irp.system_buffer.data();
      for (uint32_t at = 0; at < in; at += kRamBlock) {
        const uint32_t n = std::min(kRamBlock, in - at);
        if (!VendorOut(ext, vendor::kLoadController, static_cast<uint16_t>(at), 0,
                       std::span(data + at, n))) {
          break;
        }
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_RAM_WRITE: {
      if (in < 2 || direct.empty()) return kernel::kStatusInvalidParameter;
      uint16_t start;
      std::memcpy(&start, irp.system_buffer.data(), 2);
      for (size_t at = 0; at < direct.size(); at += kRamPiece) {
        const size_t n = std::min<size_t>(kRamPiece, direct.size() - at);
        if (!VendorOut(ext, vendor::kLoadController, static_cast<uint16_t>(start + at), 0,
                       direct.subspan(at, n))) {
          break;
        }
      }
      return kernel::kStatusSuccess;
    }

    case IOCTL_ZIMOUSB_RESET_PORT:
      return ResetPort(ext);
    case IOCTL_ZIMOUSB_RESET_PIPE:
    case IOCTL_ZIMOUSB_ABORT_PIPE: {
      if (in < 4) return kernel::kStatusInvalidParameter;
      usbk::PipeInfo pipe;
      const NTSTATUS status = PipeAt(ext, InputU32(irp), &pipe);
      if (!kernel::NtSuccess(status)) return status;
      usbk::Urb urb;
      if (code == IOCTL_ZIMOUSB_RESET_PIPE) {
        // Older USB stacks take the request 4 bytes shorter.
        const uint16_t length = usbk::GetUsbdiVersion() < 0x101 ? usbk::kPipeRequestLength - 4
                                                                : usbk::kPipeRequestLength;
        usbk::BuildPipeRequest(&urb, usbk::kFunctionResetPipe, pipe.handle, length);
      } else {
        usbk::BuildPipeRequest(&urb, usbk::kFunctionAbortPipe, pipe.handle,
                               usbk::kPipeRequestLength);
      }
      return CallUsbd(ext, urb);
    }
    case IOCTL_ZIMOUSB_SET_INTERFACE: {
      if (in < 2) return kernel::kStatusInvalidParameter;
      usbk::InterfaceInfo wanted;
      wanted.interface_number = irp.system_buffer[0];
      wanted.alternate_setting = irp.system_buffer[1];
      wanted.pipes.resize(32);
      for (usbk::PipeInfo& p : wanted.pipes) p.max_transfer_size = kMaxTransferSize;
      usbk::ConfigurationHandle configuration;
      {
        std::lock_guard lock(ext.usb_mu);
        configuration = ext.configuration_handle;
      }
      usbk::Urb urb;
      usbk::BuildSelectInterfaceRequest(&urb, configuration, std::move(wanted));
      const NTSTATUS status = CallUsbd(ext, urb);
      if (kernel::NtSuccess(status) && urb.interfaces.size() == 1) {
        std::lock_guard lock(ext.usb_mu);
        ext.interface = urb.interfaces[0];
      }
      return status;
    }

    case IOCTL_ZIMOUSB_BULK_READ:
    case IOCTL_ZIMOUSB_BULK_WRITE: {
      if (in < 4) return kernel::kStatusInvalidParameter;
      uint32_t moved = 0;
      const NTSTATUS status = PipeTransferUsb(ext, InputU32(irp), direct, 0, &moved);
      *reply = moved;
      return status;
    }
    case IOCTL_ZIMOUSB_GET_FRAME_NUMBER: {
      if (out < 4) return kernel::kStatusInvalidParameter;
      usbk::Urb urb;
      usbk::BuildFrameNumberRequest(&urb);
      const NTSTATUS status = CallUsbd(ext, urb);
      if (!kernel::NtSuccess(status) || urb.frame_number == 0) return kernel::kStatusUnsuccessful;
      std::memcpy(system.data(), &urb.frame_number, 4);
      *reply = 4;
      return status;
    }
    case IOCTL_ZIMOUSB_CLASS_VENDOR_REQUEST: {
      if (in != sizeof(ClassVendorRequest)) return kernel::kStatusInvalidParameter;
      ClassVendorRequest request;
      std::memcpy(&request, irp.system_buffer.data(), sizeof(request));
      static constexpr uint16_t kFunctions[2][4] = {
          {usbk::kFunctionClassDevice, usbk::kFunctionClassInterface, usbk::kFunctionClassEndpoint,
           usbk::kFunctionClassOther},
          {usbk::kFunctionVendorDevice, usbk::kFunctionVendorInterface,
           usbk::kFunctionVendorEndpoint, usbk::kFunctionVendorOther}};
      if ((request.type != 1 && request.type != 2) || request.recipient > 3) {
        return kernel::kStatusInvalidParameter;
      }
      usbk::Urb urb;
      usbk::BuildVendorRequest(&urb, kFunctions[request.type - 1][request.recipient],
                               request.direction == 1, request.request, request.value,
                               request.index, direct,
                               static_cast<uint32_t>(std::min<size_t>(direct.size(), 0xFFFF)));
      std::lock_guard lock(ext.vendor_mu);
      const NTSTATUS status = CallUsbd(ext, urb);
      if (kernel::NtSuccess(status)) *reply = urb.transfer_length;
      return status;
    }
    case IOCTL_ZIMOUSB_GET_LAST_ERROR: {
      if (out < 4) return kernel::kStatusUnsuccessful;
      const int32_t error = ext.last_usb_error;
      std::memcpy(system.data(), &error, 4);
      *reply = 4;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_GET_DRIVER_VERSION: {
      if (out < sizeof(DriverVersion)) return kernel::kStatusUnsuccessful;
      const DriverVersion version{1, 1, 0};
      std::memcpy(system.data(), &version, sizeof(version));
      *reply = sizeof(version);
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMOUSB_SET_FEATURE: {
      if (in != 4) return kernel::kStatusInvalidParameter;
      uint16_t feature, index;
      std::memcpy(&feature, irp.system_buffer.data(), 2);
      std::memcpy(&index, irp.system_buffer.data() + 2, 2);
      usbk::Urb urb;
      usbk::BuildSetFeatureRequest(&urb, feature, index);
      CallUsbd(ext, urb);
      return kernel::kStatusUnsuccessful;
    }

    case IOCTL_ZIMOUSB_ISO_READ:
    case IOCTL_ZIMOUSB_ISO_WRITE:
    case IOCTL_ZIMOUSB_START_ISO_STREAM:
    case IOCTL_ZIMOUSB_READ_ISO_BUFFER: {
      if (in != sizeof(IsoParameters)) return kernel::kStatusInvalidParameter;
      IsoParameters params;
      std::memcpy(&params, irp.system_buffer.data(), sizeof(params));
      if (code == IOCTL_ZIMOUSB_START_ISO_STREAM) return StartIsoStream(ext, params);
      if (code == IOCTL_ZIMOUSB_READ_ISO_BUFFER) return ReadIsoBuffer(ext, params, direct, reply);
      return IsoTransfer(ext, params, direct);
    }
    case IOCTL_ZIMOUSB_STOP_ISO_STREAM:
      StopIsoStream(ext);
      return kernel::kStatusSuccess;

    default:
      return kernel::kStatusInvalidParameter;
  }
}

}  // namespace zimo::drivers::usb
