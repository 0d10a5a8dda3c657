// Create, close and device control: the card interface's codes, carried out
// with vendor requests, each run under the device's I/O-control mutex.
#include <algorithm>
#include <cstring>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

using kernel::Irp;

constexpr uint32_t kLineBytes = sizeof(LineIoBlock);
constexpr size_t kBitsBytes = sizeof(ZimoDprBitsRecord);

// The request's buffers: the system buffer (max(input, output) bytes,
// starting as the input) and the caller's own output buffer.
struct Request {
  Irp& irp;
  uint32_t input_length;
  uint32_t output_length;

  uint8_t* buffer() { return irp.system_buffer.data(); }
  size_t buffer_size() const { return irp.system_buffer.size(); }
  LineIoBlock& Line() { return *reinterpret_cast<LineIoBlock*>(buffer()); }
  ZimoDprBitsRecord& Bits() { return *reinterpret_cast<ZimoDprBitsRecord*>(buffer()); }
  // The 32-bit argument some write codes take in the caller's output buffer.
  bool OutputArgument(uint32_t* value) const {
    if (irp.user_buffer.size() < 4) return false;
    std::memcpy(value, irp.user_buffer.data(), 4);
    return true;
  }
  uint32_t U32() {
    uint32_t v = 0;
    std::memcpy(&v, buffer(), std::min<size_t>({4, buffer_size(), input_length}));
    return v;
  }
  size_t TextLength() { return strnlen(reinterpret_cast<const char*>(buffer()), input_length); }
};

bool IsLineCode(uint32_t code) {
  return code == IOCTL_ZIMO_BUS_GET_LINE || code == IOCTL_ZIMO_DPR_GET_LINE ||
         code == IOCTL_ZIMO_BUS_CONTROL_RESPONSE || code == IOCTL_ZIMO_DPR_CONTROL_RESPONSE ||
         code == IOCTL_ZIMO_BUS_GET_LINE_EX;
}

NTSTATUS Complete(DeviceExtension& ext, Irp& irp, NTSTATUS status, uint64_t information) {
  irp.io_status.status = status;
  irp.io_status.information = information;
  ext.kernel().CompleteRequest(irp);
  return status;
}

}  // namespace

NTSTATUS DispatchCreate(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  if (!ext.started) return Complete(ext, irp, kernel::kStatusUnsuccessful, 0);
  ++ext.open_handles;
  return Complete(ext, irp, kernel::kStatusSuccess, 0);
}

NTSTATUS DispatchClose(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  --ext.open_handles;
  return Complete(ext, irp, kernel::kStatusSuccess, 0);
}

NTSTATUS DispatchControl(kernel::DeviceObject* device, Irp& irp) {
  DeviceExtension& ext = Ext(device);
  if (ext.removed) return Complete(ext, irp, kernel::kStatusUnsuccessful, 0);
  NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) return Complete(ext, irp, status, 0);
  const uint32_t code = irp.CurrentStackLocation().io_control_code;
  uint64_t reply = 0;
  if (DeviceTypeOf(code) == kZimoDeviceType) {
    std::lock_guard lock(ext.ioctl_mu);
    status = RunCardCode(ext, code, irp, &reply);
  } else if (DeviceTypeOf(code) == kMaintenanceDeviceType) {
    status = RunMaintenanceCode(ext, code, irp, &reply);
  } else {
    status = kernel::kStatusInvalidParameter;
  }
  Complete(ext, irp, status, reply);
  ext.remove_lock.Release();
  return status;
}

NTSTATUS RunCardCode(DeviceExtension& ext, uint32_t code, Irp& irp, uint64_t* reply) {
  const kernel::IoStackLocation& location = irp.CurrentStackLocation();
  Request r{irp, location.input_length, location.output_length};
  *reply = 0;
  if (ext.card.response.empty()) return kernel::kStatusUnsuccessful;  // going away

  if (IsLineCode(code)) {
    // One record in both directions.
    if (r.output_length != kLineBytes || r.buffer_size() < kLineBytes) {
      return kernel::kStatusSuccess;
    }
    LineIoBlock& line = r.Line();
    if (code == IOCTL_ZIMO_BUS_GET_LINE || code == IOCTL_ZIMO_DPR_GET_LINE) {
      GetLineUsb(ext, line, code == IOCTL_ZIMO_DPR_GET_LINE);
    } else if (code == IOCTL_ZIMO_BUS_GET_LINE_EX) {
      ReadLineUsbOnce(ext, line);
    } else {
      GetControlResponseUsb(ext, line);
    }
    *reply = kLineBytes;
    return kernel::kStatusSuccess;
  }

  switch (code) {
    // ---- Interrupts and events: no interrupt line.
    case IOCTL_ZIMO_INTR_ENABLE:
    case IOCTL_ZIMO_INTR_DISABLE:
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_ADD_EVENT:
      return AddEvent(ext, irp);
    case IOCTL_ZIMO_REMOVE_EVENT:
      return RemoveEvent(ext, irp);

    // ---- The text channel (bus and mailbox codes alike).
    case IOCTL_ZIMO_BUS_FLUSH:
    case IOCTL_ZIMO_DPR_FLUSH:
      FlushUsb(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_READ_READY:
    case IOCTL_ZIMO_DPR_READ_READY:
      *reply = ReadReadyUsb(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_SEND_LINE:
    case IOCTL_ZIMO_DPR_SEND_LINE:
      WriteLineUsb(ext, reinterpret_cast<const char*>(r.buffer()), r.TextLength(), r.input_length);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_SEND_CHAR:
    case IOCTL_ZIMO_DPR_SEND_CHAR:
      if (r.input_length >= 1) *reply = WriteCharUsb(ext, static_cast<char>(r.buffer()[0]));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_SEND_CONTROL:
      if (r.input_length >= 1) {
        VendorOut(ext, vendor::kSendChar, r.buffer()[0], 0, {});
        *reply = 1;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_GET_ERROR:
    case IOCTL_ZIMO_DPR_GET_ERROR:
      *reply = static_cast<uint32_t>(ext.last_card_error.load());
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_PORT_WRITE:
      if (r.input_length >= 2) PortWriteUsb(ext, r.buffer()[0], r.buffer()[1]);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_PORT_READ:
      if (r.input_length >= 1) *reply = PortReadUsb(ext, r.buffer()[0]);
      return kernel::kStatusSuccess;

    // ---- DPR memory.
    case IOCTL_ZIMO_DPR_READ:
      if (r.input_length >= 4) *reply = ReadDpramUsb(ext, r.U32(), r.buffer(), r.output_length);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_WRITE: {
      uint32_t offset;
      if (r.OutputArgument(&offset)) WriteDpramUsb(ext, offset, r.buffer(), r.input_length);
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_GET_BITS:
    case IOCTL_ZIMO_DPR_SET_BITS:
    case IOCTL_ZIMO_DPR_GET_BIT:
    case IOCTL_ZIMO_DPR_SET_BIT: {
      if (r.input_length < kBitsBytes || r.buffer_size() < kBitsBytes) {
        return kernel::kStatusSuccess;
      }
      ZimoDprBitsRecord& bits = r.Bits();
      if (code == IOCTL_ZIMO_DPR_GET_BITS || code == IOCTL_ZIMO_DPR_GET_BIT) {
        GetMemBitsUsb(ext, bits, code == IOCTL_ZIMO_DPR_GET_BIT);
      } else if (code == IOCTL_ZIMO_DPR_SET_BITS) {
        SetMemBitsUsb(ext, bits);
      } else {
        SetMemBitUsb(ext, bits);
      }
      *reply = kBitsBytes;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_AVAILABLE:
      *reply = 1;
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_READ_WORD:  // the gather control on this driver
      if (r.input_length >= 4) {
        uint16_t on, period;
        std::memcpy(&on, r.buffer(), 2);
        std::memcpy(&period, r.buffer() + 2, 2);
        GatherControlUsb(ext, on, period);
      }
      return kernel::kStatusSuccess;

    // ---- Identification.
    case IOCTL_ZIMO_GET_VERSION:
    case IOCTL_ZIMO_GET_DATE:
      *reply = GetIdentText(ext, code == IOCTL_ZIMO_GET_VERSION ? "VER" : "DATE",
                            reinterpret_cast<char*>(r.buffer()),
                            std::min<size_t>(r.output_length, r.buffer_size()));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_CARD_TYPE: {
      const uint32_t type = GetCardTypeUsb(ext);
      if (r.output_length >= 4) {
        std::memcpy(r.buffer(), &type, 4);
        *reply = 4;
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_GET_I10:
      *reply = GetI10Usb(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_LINK_LIST: {
      uint32_t values[kLinkListEntries] = {};
      const uint32_t n =
          GetLinkListUsb(ext, values, std::min<size_t>(r.output_length / 4, kLinkListEntries));
      std::memcpy(r.buffer(), values, n * 4);
      *reply = n * 4;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_GET_POS_SCALES:
    case IOCTL_ZIMO_GET_VEL_SCALES: {
      uint32_t values[32] = {};
      const uint32_t n = GetScalesUsb(ext, code == IOCTL_ZIMO_GET_VEL_SCALES, values,
                                      std::min<size_t>(r.output_length / 4, 32));
      std::memcpy(r.buffer(), values, n * 4);
      *reply = n * 4;
      return kernel::kStatusSuccess;
    }

    // ---- Housekeeping and the USB card's own transfers.
    case IOCTL_ZIMO_RESET_CARD:
      ResetCardUsb(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_RESPONSE_BLOCK:
      *reply = GetResponseBlockUsb(
          ext, reinterpret_cast<char*>(r.buffer()),
          static_cast<uint32_t>(std::min<size_t>(r.output_length, r.buffer_size())));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_SEND_BLOCK:
      VendorOut(ext, vendor::kSendBlock, 0, 0, std::span(r.buffer(), r.TextLength()));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DOWNLOAD_BLOCK:
      VendorOut(ext, vendor::kDownloadBlock, 0, 0, std::span(r.buffer(), r.input_length));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DOWNLOAD_STATUS: {
      uint8_t word[4] = {};
      VendorIn(ext, vendor::kDownloadStatus, 0, 0, word);
      uint32_t status;
      std::memcpy(&status, word, 4);
      *reply = status;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_VALUE_BLOCK: {
      uint32_t value;
      if (r.OutputArgument(&value)) {
        VendorOut(ext, vendor::kValueBlock, static_cast<uint16_t>(value & 0xFFFF), 0,
                  std::span(r.buffer(), r.input_length));
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_ROT_PUT:
      *reply = RotBufPutUsb(ext, std::span(r.buffer(), r.input_length));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_ROT_STATUS:
      *reply = RotBufStatusUsb(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_ROT_INIT:
      // The buffer value: a u16, or the low 16 bits of a u32 (0 without input).
      RotBufInitUsb(ext, r.input_length >= 2 ? static_cast<uint16_t>(r.U32() & 0xFFFF) : 0);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_VENDOR_REQUEST:
      if (r.input_length >= 1) {
        *reply = RawVendorRequestUsb(
            ext, r.buffer()[0],
            std::span(r.buffer(), std::min<size_t>(r.output_length, r.buffer_size())));
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_HOSTROT_REQ_E9:
      HostRotBufUsb(ext, vendor::kHostRotaryE9);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_HOSTROT_REQ_E8:
    case IOCTL_ZIMO_HOSTROT_INIT:
      HostRotBufUsb(ext, vendor::kHostRotaryE8);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_HOSTROT_REQ_E7:
      HostRotBufUsb(ext, vendor::kHostRotaryE7);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_HOSTROT_PUT:
      *reply = HostRotPutUsb(ext, irp.user_buffer);
      return kernel::kStatusSuccess;

    // ---- Codes that succeed without effect.
    case IOCTL_ZIMO_RESERVED_8DC:
    case IOCTL_ZIMO_RESERVED_8E0:
    case 0x1D084C:
    case 0x1D0850:
    case 0x1D095C:
    case 0x1D0960:
    case 0x1D0968:
      return kernel::kStatusSuccess;

    default:
      // Unknown codes, and the codes only the PCI driver serves.
      return kernel::kStatusInvalidParameter;
  }
}

}  // namespace zimo::drivers::usb
