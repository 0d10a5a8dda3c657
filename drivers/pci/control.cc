// Device control: the request codes of the card interface, each run under
// the remove lock and completed before the dispatch routine returns.
#include <algorithm>
#include <cstring>
#include <shared_mutex>

#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

using kernel::Irp;

struct Request {
  uint32_t input_length;
  uint32_t output_length;
  uint8_t* buffer;  // the system buffer: max(input, output) bytes
  Irp& irp;

  LineIoBlock& Line() { return *reinterpret_cast<LineIoBlock*>(buffer); }
  ZimoDprBitsRecord& Bits() { return *reinterpret_cast<ZimoDprBitsRecord*>(buffer); }
  size_t buffer_size() const { return irp.system_buffer.size(); }
  // The 32-bit argument some write codes take in the caller's output buffer.
  bool OutputArgument(uint32_t* value) const {
    if (irp.user_buffer.size() < 4) return false;
    std::memcpy(value, irp.user_buffer.data(), 4);
    return true;
  }
  uint32_t U32() const {
    uint32_t v = 0;
    std::memcpy(&v, buffer, std::min<size_t>(4, buffer_size()));
    return v;
  }
};

// A text input: up to its NUL, never past the input. No input at all is an
// empty text (the system buffer then has no storage).
const char* TextOf(const Request& r) {
  return r.input_length == 0 ? "" : reinterpret_cast<const char*>(r.buffer);
}
size_t TextLength(const Request& r) { return strnlen(TextOf(r), r.input_length); }

void StoreLineResult(LineIoBlock& line, uint32_t result) {
  line.status = result & kLineStatusMask;
  line.count = result & kLineCountMask;
}

constexpr uint32_t kLineBytes = sizeof(LineIoBlock);

// Runs one code; returns its status and sets the reply count.
NTSTATUS Run(DeviceExtension& ext, uint32_t code, Request& r, uint64_t* reply) {
  *reply = 0;
  switch (code) {
    // ---- Interrupts and events.
    case IOCTL_ZIMO_INTR_ENABLE:
      if (ext.interrupt) {
        {
          std::lock_guard lock(ext.interrupt_mu);
          ++ext.enable_count;
        }
        EnableInts(ext);
        *reply = 4;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_INTR_DISABLE:
      if (ext.interrupt) {
        bool zero;
        {
          std::lock_guard lock(ext.interrupt_mu);
          if (ext.enable_count > 0) --ext.enable_count;
          zero = ext.enable_count == 0;
        }
        if (zero) DisableInts(ext, false);
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_SET_USER_EVENT: {
      bool accepted = false;
      const NTSTATUS status = ReferenceUserIntrEvent(ext, r.irp, &accepted);
      if (accepted) *reply = 8;
      return status;
    }
    case IOCTL_ZIMO_SET_INTR_MASK:
      if (r.input_length == 4) {
        {
          std::lock_guard lock(ext.interrupt_mu);
          ext.stored_mask = static_cast<uint8_t>(~r.buffer[0]);
        }
        EnableInts(ext);
        *reply = 4;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_SET_INTR_EVENTS: {
      if (!ext.interrupt || (r.input_length != sizeof(ZimoIntrEventSet) &&
                             r.input_length != sizeof(ZimoIntrEventSet32))) {
        return kernel::kStatusSuccess;
      }
      const NTSTATUS status = ReferenceIntrEvents(ext, r.irp);
      if (!kernel::NtSuccess(status)) {
        kernel::ErrorLogEntry entry;
        entry.source = ext.device_name;
        entry.error_code = static_cast<uint32_t>(status);
        entry.unique_value = 0;
        entry.final_status = status;
        entry.strings = {"Unable to reference interrupt events\n"};
        ext.kernel().WriteErrorLogEntry(std::move(entry));
        ext.kernel().DbgPrint("ZIMOPCI: Unable to reference interrupt events\n");
      } else {
        EnableInts(ext);
      }
      *reply = r.input_length;
      return status;
    }

    // ---- Port ASCII channel.
    case IOCTL_ZIMO_BUS_FLUSH:
      FlushPort(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_READ_READY:
      *reply = ReadReadyPort(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_GET_LINE:
    case IOCTL_ZIMO_BUS_GET_LINE_EX:
    case IOCTL_ZIMO_BUS_GET_BUFFER:
    case IOCTL_ZIMO_BUS_CONTROL_RESPONSE: {
      if (r.output_length != kLineBytes) return kernel::kStatusSuccess;
      LineIoBlock& line = r.Line();
      uint32_t result;
      if (code == IOCTL_ZIMO_BUS_GET_LINE) {
        result = ReadLinePort(ext, line.text, line.requested);
      } else if (code == IOCTL_ZIMO_BUS_GET_LINE_EX) {
        result = ReadLinePortEx(ext, line.text, line.requested);
      } else if (code == IOCTL_ZIMO_BUS_GET_BUFFER) {
        result = GetBufferPort(ext, line.text, line.requested);
      } else {
        result = GetControlResponsePort(ext, line.text[0], line.text, line.requested);
      }
      StoreLineResult(line, result);
      *reply = kLineBytes;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_BUS_SEND_LINE:
      *reply = WriteLinePort(ext, TextOf(r), TextLength(r));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_SEND_CHAR:
      if (r.input_length >= 1) *reply = WriteCharPort(ext, static_cast<char>(r.buffer[0]));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_BUS_GET_ERROR:
      *reply = ext.port_last_error;
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_PORT_WRITE:
      // Only registers of the card's own range: an offset past it would
      // write another device's port.
      if (r.input_length >= 2 && r.buffer[0] < ext.port_length) {
        WritePortByte(ext, r.buffer[0], r.buffer[1]);
        *reply = 1;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_PORT_READ:
      if (r.input_length >= 1 && r.buffer[0] < ext.port_length) {
        *reply = ReadPortByte(ext, r.buffer[0]);
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_CLEAR_PORT_REGS:
      WritePortByte(ext, 5, 0);
      WritePortByte(ext, 6, 0);
      return kernel::kStatusSuccess;

    // ---- DPR mailbox ASCII channel.
    case IOCTL_ZIMO_DPR_FLUSH:
      FlushMem(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_READ_READY:
      *reply = ReadReadyMem(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_GET_LINE:
    case IOCTL_ZIMO_DPR_CONTROL_RESPONSE: {
      if (r.output_length != kLineBytes) return kernel::kStatusSuccess;
      LineIoBlock& line = r.Line();
      const uint32_t result = code == IOCTL_ZIMO_DPR_GET_LINE
                                  ? ReadLineMem(ext, line)
                                  : GetControlResponseMem(ext, line.text[0], line);
      StoreLineResult(line, result);
      *reply = kLineBytes;
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_SEND_LINE:
      *reply = WriteLineMem(ext, TextOf(r), TextLength(r));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_SEND_CHAR:
      if (r.input_length >= 1) *reply = WriteCharMem(ext, static_cast<char>(r.buffer[0]));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_SEND_CONTROL:
      if (r.input_length >= 1) *reply = WriteCtrlCharMem(ext, static_cast<char>(r.buffer[0]));
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_GET_ERROR:
      *reply = ext.dpr_last_error;
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_RESERVED_8DC:
    case IOCTL_ZIMO_RESERVED_8E0:
      *reply = 8;
      return kernel::kStatusSuccess;

    // ---- DPR memory.
    case IOCTL_ZIMO_DPR_READ:
      if (r.input_length >= 4) *reply = ReadDpram(ext, r.U32(), r.output_length, r.buffer);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_WRITE: {
      uint32_t offset;
      if (r.OutputArgument(&offset)) WriteDpram(ext, r.buffer, offset, r.input_length);
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_MAILBOX_STATUS:
      if (r.output_length >= 4) {
        const uint32_t status = GetMemStatus(ext);
        std::memcpy(r.buffer, &status, 4);
        *reply = 4;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_GET_BITS:
    case IOCTL_ZIMO_DPR_SET_BITS:
    case IOCTL_ZIMO_DPR_GET_BIT:
    case IOCTL_ZIMO_DPR_SET_BIT: {
      if (r.input_length < sizeof(ZimoDprBitsRecord)) return kernel::kStatusSuccess;
      ZimoDprBitsRecord& bits = r.Bits();
      if (code == IOCTL_ZIMO_DPR_GET_BITS) {
        *reply = GetMemBits(ext, bits);
      } else if (code == IOCTL_ZIMO_DPR_SET_BITS) {
        *reply = SetMemBits(ext, bits);
      } else if (code == IOCTL_ZIMO_DPR_GET_BIT) {
        *reply = GetMemBit(ext, bits);
      } else {
        *reply = SetMemBit(ext, bits);
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_AVAILABLE:
      *reply = ext.dpr ? 1 : 0;
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_TEST:
      TestDpramWrite(ext);
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_DPR_WRITE_WORD: {
      uint32_t offset;
      if (r.input_length >= 2 && r.OutputArgument(&offset)) {
        uint16_t value;
        std::memcpy(&value, r.buffer, 2);
        *reply = WriteDpramWord(ext, value, offset);
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_DPR_READ_WORD:
      if (r.input_length >= 4 && r.output_length >= 2) {
        const uint16_t word = ReadDpramWord(ext, r.U32());
        std::memcpy(r.buffer, &word, 2);
        *reply = 2;
      }
      return kernel::kStatusSuccess;

    // ---- Card identification.
    case IOCTL_ZIMO_GET_VERSION:
    case IOCTL_ZIMO_GET_DATE:
      if (r.output_length == kVersionBytes) {
        if (code == IOCTL_ZIMO_GET_VERSION) {
          GetVersionString(ext, reinterpret_cast<char*>(r.buffer));
        } else {
          GetDateString(ext, reinterpret_cast<char*>(r.buffer));
        }
        *reply = kVersionBytes;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_LINK_LIST:
      if (r.output_length == sizeof(ZimoLinkList)) {
        if (GetLinkList(ext)) {
          std::memcpy(r.buffer, ext.link_list, sizeof(ZimoLinkList));
          *reply = sizeof(ZimoLinkList);
        } else {
          ext.kernel().DbgPrint("ZIMOPCI: CanUsePlcc == FALSE..\n");
        }
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_POS_SCALES:
    case IOCTL_ZIMO_GET_VEL_SCALES:
      if (r.output_length == kScaleTableBytes) {
        GetScaleFactors(ext);
        std::memcpy(r.buffer, code == IOCTL_ZIMO_GET_POS_SCALES ? ext.pos_scales : ext.vel_scales,
                    kScaleTableBytes);
        *reply = kScaleTableBytes;
      }
      return kernel::kStatusSuccess;
    case IOCTL_ZIMO_GET_CARD_TYPE: {
      const int32_t type = GetZimoType(ext);
      if (r.output_length >= 4) {
        std::memcpy(r.buffer, &type, 4);
        *reply = 4;
      }
      return kernel::kStatusSuccess;
    }
    case IOCTL_ZIMO_GET_I10: {
      uint32_t i10 = GetIVariable(ext, 10, kDefaultI10);
      if (i10 == 0) i10 = kDefaultI10;
      ext.i10 = i10;
      *reply = i10;
      return kernel::kStatusSuccess;
    }

    // ---- Housekeeping.
    case IOCTL_ZIMO_GET_RESOURCES:
      if (ext.flavour == Flavour::kIsa) {
        if (r.output_length == sizeof(ZimoIsaResourceInfo)) {
          ZimoIsaResourceInfo info{};
          info.port_base = static_cast<uint32_t>(ext.port_base);
          info.interrupt = ext.interrupt_level;
          info.dpr_address = ext.dpr ? static_cast<uint32_t>(ext.dpr_physical) : 0;
          std::memcpy(r.buffer, &info, sizeof(info));
          *reply = sizeof(info);
        }
      } else if (r.output_length == sizeof(ZimoResourceInfo)) {
        ZimoResourceInfo info{};
        info.port_base = ext.port_base;
        info.interrupt_vector = ext.interrupt_vector;
        info.dpr_length = ext.dpr ? static_cast<uint32_t>(ext.dpr->length()) : 0;
        std::memcpy(r.buffer, &info, sizeof(info));
        *reply = sizeof(info);
      }
      return kernel::kStatusSuccess;

    default:
      // Unknown codes, and the USB driver's codes, which this driver does not serve.
      return kernel::kStatusInvalidDeviceRequest;
  }
}

}  // namespace

NTSTATUS DispatchControl(kernel::DeviceObject* device, kernel::Irp& irp) {
  DeviceExtension& ext = Ext(device);
  kernel::Kernel& kernel = ext.kernel();
  NTSTATUS status = ext.remove_lock.Acquire();
  if (!kernel::NtSuccess(status)) {
    irp.io_status.status = status;
    irp.io_status.information = 0;
    kernel.CompleteRequest(irp);
    return status;
  }
  const kernel::IoStackLocation& location = irp.CurrentStackLocation();
  Request request{location.input_length, location.output_length, irp.system_buffer.data(), irp};
  uint64_t reply = 0;
  {
    std::shared_lock resources(ext.resources_mu);
    status = Run(ext, location.io_control_code, request, &reply);
  }
  irp.io_status.status = status;
  irp.io_status.information = reply;
  kernel.CompleteRequest(irp);
  ext.remove_lock.Release();
  return status;
}

}  // namespace zimo::drivers::pci
