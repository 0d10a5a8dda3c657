#include "dpr/dpr_access.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "corvan/dpr_api.h"
#include "corvan/internal/shared_table.h"
#include "dpr/dpr_map.h"
#include "drivers/zimo_ioctl.h"
#include "link/driver_device.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

std::atomic<DprNetworkRoute*> g_network_route{nullptr};

bool InsideWindow(std::uint32_t offset, std::uint64_t length) {
  return std::uint64_t{offset} + length <= kDprWindowBytes;
}

// The bits of a field [first, first + count) of a dword.
std::uint32_t FieldMask(std::uint32_t first, std::uint32_t count) {
  if (first >= 32 || count == 0) return 0;
  const std::uint64_t low = count >= 32 ? 0xFFFFFFFFull : (1ull << count) - 1;
  return static_cast<std::uint32_t>(low << first);
}

// ---- Bus path: the driver's memory I/O controls.

bool BusRead(int device, std::uint32_t offset, std::uint32_t length, void* destination) {
  // Read into a buffer of our own: the caller's stays untouched unless the
  // driver delivered the whole block.
  std::vector<std::uint8_t> block(length);
  const platform::IoControlResult r = DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_READ, &offset,
                                                  sizeof offset, block.data(), length);
  if (!r.ok || r.bytes_returned != length) return false;
  std::memcpy(destination, block.data(), length);
  return true;
}

bool BusWrite(int device, std::uint32_t offset, std::uint32_t length, const void* source) {
  // The driver takes the offset from the output buffer.
  std::uint32_t offset_argument = offset;
  const platform::IoControlResult r = DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_WRITE, source,
                                                  length, &offset_argument, sizeof offset_argument);
  return r.ok;
}

// One bit-record request; true when the driver reached the location.
bool BusBits(int device, std::uint32_t code, drivers::ZimoDprBitsRecord& record) {
  record.done = 0;
  drivers::ZimoDprBitsRecord reply = record;
  const platform::IoControlResult r =
      DriverIoctl(device, code, &record, sizeof record, &reply, sizeof reply);
  if (!r.ok || r.bytes_returned != sizeof reply || reply.done != 1) return false;
  record = reply;
  return true;
}

drivers::ZimoDprBitsRecord FieldRecord(std::uint32_t offset, std::uint16_t first,
                                       std::uint16_t count, std::uint32_t value) {
  drivers::ZimoDprBitsRecord record{};
  record.value = value;
  record.offset = offset;
  record.first_bit = first;
  record.width = count;
  return record;
}

// The single-bit codes read the bit number as one u32 over first_bit and
// width.
drivers::ZimoDprBitsRecord BitRecord(std::uint32_t offset, std::uint32_t bit, std::uint32_t value) {
  return FieldRecord(offset, static_cast<std::uint16_t>(bit & 0xFFFF),
                     static_cast<std::uint16_t>(bit >> 16), value);
}

// ---- Network path.

bool NetworkRead(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                 void* destination) {
  std::vector<std::uint8_t> block(length);
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t chunk = std::min(length - done, kDprNetworkChunk);
    const std::int32_t got = route.GetMem(device, block.data() + done, offset + done, chunk);
    if (got != static_cast<std::int32_t>(chunk)) return false;
    done += chunk;
  }
  std::memcpy(destination, block.data(), length);
  return true;
}

bool NetworkWrite(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                  const void* source) {
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t chunk = std::min(length - done, kDprNetworkChunk);
    if (route.SetMem(device, bytes + done, offset + done, chunk) != kDprNetworkWriteAnswer) {
      return false;
    }
    done += chunk;
  }
  return true;
}

// ---- The front.

// The way to the device's DPR and, for the network, the route to take (read
// once, so a route removed meanwhile is never followed).
struct Way {
  DprPath path = DprPath::kNone;
  DprNetworkRoute* route = nullptr;
};

Way WayOf(int device) {
  Way way;
  way.path = DprPathOf(device);
  if (way.path == DprPath::kNetwork) {
    way.route = g_network_route.load();
    if (way.route == nullptr) way.path = DprPath::kNone;
  }
  return way;
}

bool ReadBlock(int device, std::uint32_t offset, std::uint32_t length, void* destination) {
  if (destination == nullptr || !InsideWindow(offset, length)) return false;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus:
      return length == 0 || BusRead(device, offset, length, destination);
    case DprPath::kNetwork:
      return NetworkRead(*way.route, device, offset, length, destination);
    case DprPath::kNone:
      break;
  }
  return false;
}

bool WriteBlock(int device, std::uint32_t offset, std::uint32_t length, const void* source) {
  if (source == nullptr || !InsideWindow(offset, length)) return false;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus:
      return length == 0 || BusWrite(device, offset, length, source);
    case DprPath::kNetwork:
      return NetworkWrite(*way.route, device, offset, length, source);
    case DprPath::kNone:
      break;
  }
  return false;
}

bool GetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
             std::uint32_t* value) {
  if (value == nullptr || !InsideWindow(offset, 4)) return false;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus: {
      drivers::ZimoDprBitsRecord record = FieldRecord(offset, first, count, 0);
      if (!BusBits(device, drivers::IOCTL_ZIMO_DPR_GET_BITS, record)) return false;
      *value = record.value;
      return true;
    }
    case DprPath::kNetwork: {
      std::uint32_t got = 0;
      if (way.route->GetMemBits(device, offset, first, count, &got) != kDprNetworkDwordAnswer) {
        return false;
      }
      *value = got;
      return true;
    }
    case DprPath::kNone:
      break;
  }
  return false;
}

bool SetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
             std::uint32_t value) {
  if (!InsideWindow(offset, 4)) return false;
  // A value wider than its field would spill into the neighbouring bits.
  const std::uint32_t field = first < 32 ? (FieldMask(first, count) >> first) : 0;
  value &= field;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus: {
      drivers::ZimoDprBitsRecord record = FieldRecord(offset, first, count, value);
      return BusBits(device, drivers::IOCTL_ZIMO_DPR_SET_BITS, record);
    }
    case DprPath::kNetwork:
      return way.route->SetMemBits(device, offset, first, count, value) == kDprNetworkWriteAnswer;
    case DprPath::kNone:
      break;
  }
  return false;
}

bool GetBit(int device, std::uint32_t offset, std::uint32_t bit, std::uint32_t* value) {
  if (value == nullptr || bit >= 32 || !InsideWindow(offset, 4)) return false;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus: {
      drivers::ZimoDprBitsRecord record = BitRecord(offset, bit, 0);
      if (!BusBits(device, drivers::IOCTL_ZIMO_DPR_GET_BIT, record)) return false;
      *value = record.value != 0 ? 1 : 0;
      return true;
    }
    case DprPath::kNetwork: {
      std::uint32_t got = 0;
      if (way.route->GetMemBit(device, offset, bit, &got) != kDprNetworkDwordAnswer) {
        return false;
      }
      *value = got != 0 ? 1 : 0;
      return true;
    }
    case DprPath::kNone:
      break;
  }
  return false;
}

bool SetBit(int device, std::uint32_t offset, std::uint32_t bit, std::uint32_t value) {
  if (bit >= 32 || !InsideWindow(offset, 4)) return false;
  const Way way = WayOf(device);
  switch (way.path) {
    case DprPath::kBus: {
      drivers::ZimoDprBitsRecord record = BitRecord(offset, bit, value != 0 ? 1 : 0);
      return BusBits(device, drivers::IOCTL_ZIMO_DPR_SET_BIT, record);
    }
    case DprPath::kNetwork:
      return way.route->SetMemBit(device, offset, bit, value != 0 ? 1 : 0) ==
             kDprNetworkWriteAnswer;
    case DprPath::kNone:
      break;
  }
  return false;
}

template <typename T>
T ReadValue(int device, std::uint32_t offset) {
  T value{};
  return ReadBlock(device, offset, sizeof value, &value) ? value : T{};
}

template <typename T>
void WriteValue(int device, std::uint32_t offset, T value) {
  WriteBlock(device, offset, sizeof value, &value);
}

int Dev(std::uint32_t device) { return DeviceIndex(device); }

}  // namespace

void SetDprNetworkRoute(DprNetworkRoute* route) { g_network_route.store(route); }

DprPath DprPathOf(int device) {
  if (!IsRealDevice(device)) return DprPath::kNone;
  const SharedDeviceBlock* block = App().Block(device);
  if (block == nullptr) return DprPath::kNone;
  if (block->Location == kLocationEthernet) {
    DprNetworkRoute* route = g_network_route.load();
    return route != nullptr && route->IsOpen(device) ? DprPath::kNetwork : DprPath::kNone;
  }
  return HasDriverDevice(device) ? DprPath::kBus : DprPath::kNone;
}

}  // namespace zimo::corvan

using zimo::corvan::Dev;

extern "C" {

void* ZimoDPRGetMem(std::uint32_t device, std::uint32_t offset, std::uint32_t length,
                    void* destination) {
  return zimo::corvan::ReadBlock(Dev(device), offset, length, destination) ? destination : nullptr;
}

const void* ZimoDPRSetMem(std::uint32_t device, std::uint32_t offset, std::uint32_t length,
                          const void* source) {
  return zimo::corvan::WriteBlock(Dev(device), offset, length, source) ? source : nullptr;
}

std::int32_t ZimoDPRGetMemBits(std::uint32_t device, std::uint32_t offset, std::uint16_t first_bit,
                               std::uint16_t bit_count, std::uint32_t* value) {
  return zimo::corvan::GetBits(Dev(device), offset, first_bit, bit_count, value) ? 1 : 0;
}

std::int32_t ZimoDPRSetMemBits(std::uint32_t device, std::uint32_t offset, std::uint16_t first_bit,
                               std::uint16_t bit_count, std::uint32_t value) {
  return zimo::corvan::SetBits(Dev(device), offset, first_bit, bit_count, value) ? 1 : 0;
}

std::int32_t ZimoDPRGetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                              std::uint32_t* value) {
  return zimo::corvan::GetBit(Dev(device), offset, bit, value) ? 1 : 0;
}

std::int32_t ZimoDPRSetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                              std::uint32_t value) {
  return zimo::corvan::SetBit(Dev(device), offset, bit, value) ? 1 : 0;
}

std::int32_t ZimoDPRDWordBitSet(std::uint32_t device, std::uint32_t offset, std::uint16_t bit) {
  std::uint32_t value = 0;
  if (!zimo::corvan::GetBits(Dev(device), offset, bit, 1, &value)) return 0;
  return value != 0 ? 1 : 0;
}

void ZimoDPRSetDWordBit(std::uint32_t device, std::uint32_t offset, std::uint16_t bit) {
  zimo::corvan::SetBits(Dev(device), offset, bit, 1, 1);
}

void ZimoDPRResetDWordBit(std::uint32_t device, std::uint32_t offset, std::uint16_t bit) {
  zimo::corvan::SetBits(Dev(device), offset, bit, 1, 0);
}

std::uint16_t ZimoDPRGetWord(std::uint32_t device, std::uint32_t offset) {
  return zimo::corvan::ReadValue<std::uint16_t>(Dev(device), offset);
}

void ZimoDPRSetWord(std::uint32_t device, std::uint32_t offset, std::uint16_t value) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  if (block == nullptr || !InsideWindow(offset, sizeof value)) return;
  // ISA and PCI drivers write a 16-bit word in one access; USB and the
  // network take the two bytes as a block.
  if (DprPathOf(d) == DprPath::kBus && block->Location != kLocationUsb) {
    std::uint32_t offset_argument = offset;
    DriverIoctl(d, zimo::drivers::IOCTL_ZIMO_DPR_WRITE_WORD, &value, sizeof value, &offset_argument,
                sizeof offset_argument);
    return;
  }
  WriteValue(d, offset, value);
}

std::uint32_t ZimoDPRGetDWord(std::uint32_t device, std::uint32_t offset) {
  return zimo::corvan::ReadValue<std::uint32_t>(Dev(device), offset);
}

void ZimoDPRSetDWord(std::uint32_t device, std::uint32_t offset, std::uint32_t value) {
  zimo::corvan::WriteValue(Dev(device), offset, value);
}

double ZimoDPRGetFloat(std::uint32_t device, std::uint32_t offset) {
  return zimo::corvan::ReadValue<float>(Dev(device), offset);
}

void ZimoDPRSetFloat(std::uint32_t device, std::uint32_t offset, double value) {
  zimo::corvan::WriteValue(Dev(device), offset, static_cast<float>(value));
}

void ZimoDPRSetDWordMask(std::uint32_t device, std::uint32_t offset, std::uint32_t mask,
                         std::int32_t flag) {
  // A failed read must not turn into a write of the mask alone.
  std::uint32_t dword = 0;
  if (!zimo::corvan::ReadBlock(Dev(device), offset, sizeof dword, &dword)) return;
  ZimoDPRSetDWord(device, offset, flag == 1 ? (dword | mask) : (dword & ~mask));
}

std::uint32_t ZimoDPRGetDWordMask(std::uint32_t device, std::uint32_t offset, std::uint32_t mask) {
  return ZimoDPRGetDWord(device, offset) & mask;
}

std::uint32_t ZimoDPRAddressRange(std::uint32_t device, std::int32_t end, std::int32_t host) {
  using namespace zimo::corvan;
  if (host != 0) return end != 0 ? kDprWindowBytes : 0;
  const int d = Dev(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  std::uint32_t start = kDprCardStartOlder;
  std::uint32_t stop = kDprCardEndOlder;
  if (block != nullptr && block->SpranFlag != 0) {
    const bool type8 = block->CardType == 8;
    start = type8 ? kDprCardStartType8 : kDprCardStartSpran;
    stop = type8 ? kDprCardEndType8 : kDprCardEndSpran;
  }
  return end != 0 ? stop : start;
}

}  // extern "C"
