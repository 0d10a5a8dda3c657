// The write buffer: entries the host drops just below the variable area
// (below VbgNextFree, without taking the room) for the card's background
// loop to write into its memory. WriteBufferControl counts the entries the
// card has still to take; the card writes 0 back when it has taken them.
#include "dpr/write_buffer.h"

#include <cstdint>
#include <mutex>

#include "corvan/dpr_api.h"
#include "corvan/internal/device_user_handle.h"
#include "corvan/varbuf_api.h"
#include "dpr/command_lock.h"
#include "dpr/dpr_map.h"
#include "dpr/varbuf_area.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

constexpr int kMaxEntries = 32;
constexpr int kTakenPolls = 9999;
constexpr std::uint32_t kEntryWords = 3;
constexpr std::int16_t kErrorNoDpr = -28;
constexpr std::int16_t kErrorCount = -101;
constexpr std::int16_t kErrorNoRoom = 59;

bool ReadWord(std::uint32_t device, std::uint32_t offset, std::uint16_t* value) {
  return ZimoDPRGetMem(device, offset, sizeof *value, value) != nullptr;
}

// `addressed`, when not null, is the caller's entry array to set the
// address words in; `entries` is what is written.
std::int32_t HandOver(std::uint32_t device, std::int32_t count, const std::uint32_t* entries,
                      std::uint32_t* addressed, const std::uint32_t* addresses,
                      const std::uint32_t* types) {
  const int d = IndexFromDeviceNumber(device);
  if (!IsRealDevice(d)) return 0;
  SharedDeviceBlock* block = App().Block(d);
  const DeviceUserHandle* user = App().User(d);
  if (block == nullptr || user == nullptr) return 0;
  if (user->DprAvailable == 0) {
    block->DprLastError = kErrorNoDpr;
    return 0;
  }
  if (block->BackgroundActive == 0) return 0;
  const bool spran = block->SpranFlag != 0;
  const DprLayout& layout = DprLayoutOf(spran);
  // Placed below the area's lowest word as it stands once no list moves:
  // the device's lock keeps out a registration of another process (it
  // holds the lock while it takes room below the area), the area's mutex
  // those of this one; the same order as theirs.
  CommandLock lock(device);
  std::lock_guard<std::mutex> area(VariableAreaMutex());

  std::uint16_t pending = 0;
  if (!ReadWord(device, layout.write_buffer_control, &pending)) return 0;
  if (pending != 0) return -1;
  if (count < 0 || count > kMaxEntries || (count > 0 && entries == nullptr)) {
    block->DprLastError = kErrorCount;
    return 0;
  }
  std::uint16_t rotary_end = 0;
  if (!ReadWord(device, layout.rotary_area_end, &rotary_end)) return 0;
  const std::uint32_t area_start = AreaStartWord(*block);
  const std::uint32_t need = kEntryWords * static_cast<std::uint32_t>(count);
  if (area_start < need || area_start - need < layout.fixed_end_words + rotary_end) {
    block->DprLastError = kErrorNoRoom;
    return 0;
  }
  const std::uint32_t position = area_start - need;

  if (addressed != nullptr && addresses != nullptr) {
    const std::uint32_t shift = spran ? 19 : 16;
    for (std::int32_t i = 0; i < count; ++i) {
      const std::uint32_t type = types != nullptr ? types[i] : 0;
      addressed[kEntryWords * static_cast<std::uint32_t>(i)] = addresses[i] | (type << shift);
    }
  }
  if (count > 0 && ZimoDPRSetMem(device, position * 4, need * 4, entries) == nullptr) return 0;
  const auto start = static_cast<std::uint16_t>(spran ? position - layout.fixed_end_words
                                                      : block->DprCardBase + position);
  ZimoDPRSetWord(device, layout.write_buffer_start, start);
  ZimoDPRSetWord(device, layout.write_buffer_control, static_cast<std::uint16_t>(count));
  return count;
}

}  // namespace

bool WaitForWriteBuffer(std::uint32_t device, const DprLayout& layout) {
  for (int poll = 0; poll < kTakenPolls; ++poll) {
    std::uint16_t pending = 1;
    if (!ReadWord(device, layout.write_buffer_control, &pending)) return false;
    if (pending == 0) return true;
  }
  return false;
}

}  // namespace zimo::corvan

extern "C" {

int32_t ZimoDPRWriteBufferEx(uint32_t device, int32_t count, uint32_t* entries,
                             const uint32_t* addresses, const uint32_t* types) {
  return zimo::corvan::HandOver(device, count, entries, entries, addresses, types);
}

int32_t ZimoDPRWriteBuffer(uint32_t device, int32_t count, const uint32_t* entries) {
  return zimo::corvan::HandOver(device, count, entries, nullptr, nullptr, nullptr);
}

}  // extern "C"
