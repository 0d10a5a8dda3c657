#include "tqa58/tqa58.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/file_mapping.h"

namespace zimo::drivers::tqa58 {
namespace {

using kernel::NTSTATUS;

constexpr char kDeviceName[] = "\\Device\\Tqa58";
constexpr char kLinkName[] = "\\DosDevices\\_Default";
constexpr size_t kEntrySize = 12;
constexpr size_t kMaxEntries = 32;
constexpr uint32_t kWindowSize = 16384;

// A granted range belongs to the handle that claimed it (one per client
// process): a second claim of the very same ports through that handle shares
// it, and the handle's cleanup (its process closed it, or ended) gives back
// whatever it still holds.
struct Range {
  uint64_t first;
  uint32_t count;
  const kernel::FileObject* owner = nullptr;
  int holders = 1;
};

// A memory window handed out: the named shared mapping that is the memory
// at that physical address (a legacy card's DPR decodes into it), and how
// many maps hold it.
struct Window {
  platform::FileMapping mapping;
  int holders = 0;
};

struct State {
  std::mutex mu;
  std::map<uint32_t, Window> windows;  // by token (the physical address)
  PortsInUse in_use;
  std::map<uint32_t, Range> ranges;  // by range number
  uint32_t next_range = 1;
  kernel::DeviceObject* device = nullptr;
};

State* StateOf(kernel::DeviceObject* device) { return device->driver()->driver_extension<State>(); }

uint32_t Word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void PutWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

NTSTATUS Complete(kernel::DeviceObject* device, kernel::Irp& irp, NTSTATUS status,
                  uint64_t information = 0) {
  irp.io_status.status = status;
  irp.io_status.information = information;
  device->kernel().CompleteRequest(irp);
  return status;
}

NTSTATUS DispatchOpenClose(kernel::DeviceObject* device, kernel::Irp& irp) {
  return Complete(device, irp, kernel::kStatusSuccess);
}

NTSTATUS DispatchCleanup(kernel::DeviceObject* device, kernel::Irp& irp) {
  State& s = *StateOf(device);
  const kernel::FileObject* file = irp.CurrentStackLocation().file_object;
  if (file != nullptr) {
    std::lock_guard lock(s.mu);
    std::erase_if(s.ranges, [file](const auto& entry) { return entry.second.owner == file; });
  }
  return Complete(device, irp, kernel::kStatusSuccess);
}

bool Overlaps(const Range& a, uint64_t first, uint32_t count) {
  return first < a.first + a.count && a.first < first + count;
}

// One port access; false when the entry names no granted range or leaves it.
bool Access(State& s, const kernel::HardwareAccess& hw, uint8_t* entry) {
  const auto it = s.ranges.find(entry[0]);
  uint16_t offset;
  std::memcpy(&offset, entry + 2, 2);
  const uint8_t op = entry[1];
  const uint32_t width = op == 1 || op == 8    ? 1
                         : op == 2 || op == 16 ? 2
                         : op == 4 || op == 32 ? 4
                                               : 0;
  if (it == s.ranges.end() || width == 0 || offset + width > it->second.count) return false;
  const uint64_t port = it->second.first + offset;
  if (op <= 4) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i) {
      value |= static_cast<uint32_t>(hw.read_port_u8(hw.context, port + i)) << (8 * i);
    }
    PutWord(entry + 4, value);
  } else {
    const uint32_t value = Word(entry + 4);
    for (uint32_t i = 0; i < width; ++i) {
      hw.write_port_u8(hw.context, port + i, static_cast<uint8_t>(value >> (8 * i)));
    }
  }
  return true;
}

NTSTATUS DispatchControl(kernel::DeviceObject* device, kernel::Irp& irp) {
  State& s = *StateOf(device);
  const kernel::IoStackLocation& at = irp.CurrentStackLocation();
  uint8_t* buffer = irp.system_buffer.data();
  const uint32_t in = at.input_length;
  const uint32_t out = at.output_length;
  std::lock_guard lock(s.mu);
  switch (at.io_control_code) {
    case kSessionInfo: {
      if (in < 4 || out < 76) return Complete(device, irp, kernel::kStatusInvalidParameter);
      const uint32_t session = Word(buffer);
      std::memset(buffer, 0, 76);
      PutWord(buffer, 1);
      PutWord(buffer + 4, session);
      return Complete(device, irp, kernel::kStatusSuccess, 76);
    }
    case kClaimRange: {
      if (in < 20 || out < 16) return Complete(device, irp, kernel::kStatusInvalidParameter);
      const uint64_t first = Word(buffer + 12);
      const uint32_t count = Word(buffer + 16);
      const kernel::FileObject* owner = at.file_object;
      // The same ports claimed again through the same handle: shared.
      for (auto& [n, r] : s.ranges) {
        if (owner != nullptr && r.owner == owner && r.first == first && r.count == count) {
          ++r.holders;
          std::memset(buffer, 0, 16);
          PutWord(buffer, 1);
          PutWord(buffer + 4, static_cast<uint32_t>(first));
          PutWord(buffer + 8, count);
          PutWord(buffer + 12, n);
          return Complete(device, irp, kernel::kStatusSuccess, 16);
        }
      }
      bool free = count > 0 && count <= 0x10000 && !(s.in_use && s.in_use(first, count));
      for (const auto& [n, r] : s.ranges) free = free && !Overlaps(r, first, count);
      // Range numbers travel in one byte.
      if (free && s.ranges.size() >= 255) free = false;
      uint32_t number = 0;
      if (free) {
        while (number == 0 || s.ranges.count(number) != 0) {
          number = s.next_range;
          s.next_range = s.next_range % 255 + 1;
        }
        s.ranges[number] = Range{first, count, owner, 1};
      }
      std::memset(buffer, 0, 16);
      PutWord(buffer, free ? 1 : 0);
      PutWord(buffer + 4, static_cast<uint32_t>(first));
      PutWord(buffer + 8, count);
      PutWord(buffer + 12, free ? number : 0xFFFFFFFFu);
      return Complete(device, irp, kernel::kStatusSuccess, 16);
    }
    case kReleaseRange: {
      if (in < 8) return Complete(device, irp, kernel::kStatusInvalidParameter);
      // Only the handle that holds a range gives it back.
      auto it = s.ranges.find(Word(buffer + 4));
      if (it != s.ranges.end() && it->second.owner == at.file_object &&
          --it->second.holders <= 0) {
        s.ranges.erase(it);
      }
      return Complete(device, irp, kernel::kStatusSuccess);
    }
    case kPortAccess: {
      if (in < kEntrySize) return Complete(device, irp, kernel::kStatusInvalidParameter);
      const uint32_t count = Word(buffer + 8);
      const size_t size = (static_cast<size_t>(count) + 1) * kEntrySize;
      if (count > kMaxEntries || in < size || out < size) {
        return Complete(device, irp, kernel::kStatusInvalidParameter);
      }
      const kernel::HardwareAccess& hw = device->kernel().hardware();
      for (uint32_t i = 0; i < count; ++i) {
        if (!Access(s, hw, buffer + kEntrySize * (i + 1))) {
          return Complete(device, irp, kernel::kStatusInvalidParameter);
        }
      }
      PutWord(buffer + 4, 0);
      return Complete(device, irp, kernel::kStatusSuccess, size);
    }
    case kMapMemory: {
      if (in < 20 || out < 16) return Complete(device, irp, kernel::kStatusInvalidParameter);
      const uint32_t physical = Word(buffer + 8);
      const uint32_t size = Word(buffer + 12);
      if (physical == 0 || size == 0 || size > kWindowSize) {
        return Complete(device, irp, kernel::kStatusInvalidParameter);
      }
      Window& w = s.windows[physical];
      if (w.holders == 0) {
        char name[32];
        std::snprintf(name, sizeof(name), "ZimoIsaDpr%05X", physical);
        auto mapping = platform::FileMapping::Create(name, kWindowSize);
        if (!mapping.ok()) {
          s.windows.erase(physical);
          return Complete(device, irp, kernel::kStatusInsufficientResources);
        }
        w.mapping = std::move(*mapping);
      }
      ++w.holders;
      std::memset(buffer, 0, 16);
      PutWord(buffer + 4, physical);
      PutWord(buffer + 8, size);
      return Complete(device, irp, kernel::kStatusSuccess, 16);
    }
    case kUnmapMemory: {
      if (in < 4) return Complete(device, irp, kernel::kStatusInvalidParameter);
      auto it = s.windows.find(Word(buffer));
      if (it != s.windows.end() && --it->second.holders <= 0) s.windows.erase(it);
      return Complete(device, irp, kernel::kStatusSuccess);
    }
    case kCloseSession:
      return Complete(device, irp, kernel::kStatusSuccess);
    default:
      return Complete(device, irp, kernel::kStatusInvalidDeviceRequest);
  }
}

void Unload(kernel::DriverObject* driver) {
  State* s = driver->driver_extension<State>();
  if (s->device != nullptr) {
    driver->kernel().DeleteSymbolicLink(kLinkName);
    driver->kernel().DeleteDevice(s->device);
    s->device = nullptr;
  }
}

}  // namespace

NTSTATUS Tqa58DriverEntry(kernel::DriverObject* driver, std::string_view) {
  State* s = driver->CreateDriverExtension<State>();
  driver->unload = &Unload;
  driver->major_function[static_cast<size_t>(kernel::IrpMajor::kCreate)] = &DispatchOpenClose;
  driver->major_function[static_cast<size_t>(kernel::IrpMajor::kClose)] = &DispatchOpenClose;
  driver->major_function[static_cast<size_t>(kernel::IrpMajor::kCleanup)] = &DispatchCleanup;
  driver->major_function[static_cast<size_t>(kernel::IrpMajor::kDeviceControl)] = &DispatchControl;
  kernel::Kernel& k = driver->kernel();
  NTSTATUS status =
      k.CreateDeviceWith(driver, kDeviceName, 0xF003, false, std::make_shared<int>(0), &s->device);
  if (!kernel::NtSuccess(status)) return status;
  status = k.CreateSymbolicLink(kLinkName, kDeviceName);
  if (!kernel::NtSuccess(status)) {
    k.DeleteDevice(s->device);
    s->device = nullptr;
    return status;
  }
  s->device->flags &= ~kernel::kDoDeviceInitializing;
  return kernel::kStatusSuccess;
}

void SetPortsInUse(kernel::DriverObject* driver, PortsInUse in_use) {
  State* s = driver->driver_extension<State>();
  std::lock_guard lock(s->mu);
  s->in_use = std::move(in_use);
}

}  // namespace zimo::drivers::tqa58
