#include "corvan/dpr_api.h"
#include "corvan/internal/shared_table.h"
#include "dpr/dpr_map.h"
#include "link/library_app.h"
#include "link/transport.h"

namespace zimo::corvan {
namespace {

bool InsideWindow(std::uint32_t offset, std::uint64_t length) {
  return std::uint64_t{offset} + length <= kDprWindowBytes;
}

// The bits of a field [first, first + count) of a dword.
std::uint32_t FieldMask(std::uint32_t first, std::uint32_t count) {
  if (first >= 32 || count == 0) return 0;
  const std::uint64_t low = count >= 32 ? 0xFFFFFFFFull : (1ull << count) - 1;
  return static_cast<std::uint32_t>(low << first);
}

// The device's transport when its DPR can be reached from here now (taken
// once per request, so a table changed meanwhile is never half followed).
Transport* Route(int device) {
  Transport* transport = TransportOf(device);
  return transport != nullptr && transport->DprReachable(device) ? transport : nullptr;
}

bool ReadBlock(int device, std::uint32_t offset, std::uint32_t length, void* destination) {
  if (destination == nullptr || !InsideWindow(offset, length)) return false;
  Transport* route = Route(device);
  return route != nullptr && route->DprRead(device, offset, length, destination);
}

bool WriteBlock(int device, std::uint32_t offset, std::uint32_t length, const void* source) {
  if (source == nullptr || !InsideWindow(offset, length)) return false;
  Transport* route = Route(device);
  return route != nullptr && route->DprWrite(device, offset, length, source);
}

bool GetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
             std::uint32_t* value) {
  if (value == nullptr || !InsideWindow(offset, 4)) return false;
  Transport* route = Route(device);
  return route != nullptr && route->DprGetBits(device, offset, first, count, value);
}

bool SetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
             std::uint32_t value) {
  if (!InsideWindow(offset, 4)) return false;
  // A value wider than its field would spill into the neighbouring bits.
  const std::uint32_t field = first < 32 ? (FieldMask(first, count) >> first) : 0;
  value &= field;
  Transport* route = Route(device);
  return route != nullptr && route->DprSetBits(device, offset, first, count, value);
}

bool GetBit(int device, std::uint32_t offset, std::uint32_t bit, std::uint32_t* value) {
  if (value == nullptr || bit >= 32 || !InsideWindow(offset, 4)) return false;
  Transport* route = Route(device);
  return route != nullptr && route->DprGetBit(device, offset, bit, value);
}

bool SetBit(int device, std::uint32_t offset, std::uint32_t bit, std::uint32_t value) {
  if (bit >= 32 || !InsideWindow(offset, 4)) return false;
  Transport* route = Route(device);
  return route != nullptr && route->DprSetBit(device, offset, bit, value != 0 ? 1 : 0);
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

int Dev(std::uint32_t device) { return IndexFromDeviceNumber(device); }

}  // namespace

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
  if (!InsideWindow(offset, sizeof value)) return;
  // The transport writes the word in one access where its driver can.
  if (Transport* route = Route(d)) route->DprWriteWord(d, offset, value);
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
