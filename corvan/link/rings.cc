#include "corvan/internal/rings.h"

#include <atomic>
#include <cstring>

#include "link/card_text.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kRingEnd = static_cast<std::uint32_t>(kRingSize);

// One ring inside the table. The indexes are read without the lock by the
// ready test (in any process), so every access to them is atomic.
struct Ring {
  char* data;
  std::uint32_t* write;
  std::uint32_t* read;

  std::uint32_t LoadWrite() const {
    return std::atomic_ref(*write).load(std::memory_order_acquire);
  }
  std::uint32_t LoadRead() const { return std::atomic_ref(*read).load(std::memory_order_acquire); }
  void StoreWrite(std::uint32_t v) const {
    std::atomic_ref(*write).store(v, std::memory_order_release);
  }
  void StoreRead(std::uint32_t v) const {
    std::atomic_ref(*read).store(v, std::memory_order_release);
  }

  // Indexes run 0 to 2000. Another process can leave anything in the table;
  // an index out of that range would make us read or write past the ring, so
  // such a ring is emptied instead.
  void RepairIndexes() const {
    if (LoadWrite() > kRingEnd || LoadRead() > kRingEnd) {
      StoreWrite(0);
      StoreRead(0);
    }
  }
};

Ring RingOf(SharedDeviceTable& table, RingKind kind, std::uint32_t device) {
  if (kind == RingKind::kUnsolicited) {
    return {table.UsRingData[device], &table.UsRingWrite[device], &table.UsRingRead[device]};
  }
  return {table.ChangeRingData[device], &table.ChangeRingWrite[device],
          &table.ChangeRingRead[device]};
}

class LockHolder {
 public:
  LockHolder(RingLocks* locks, RingKind kind, std::uint32_t device)
      : locks_(locks), kind_(kind), device_(static_cast<int>(device)) {
    held_ = locks_ == nullptr || locks_->Lock(kind_, device_);
  }
  ~LockHolder() {
    if (locks_ != nullptr && held_) locks_->Unlock(kind_, device_);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool held() const { return held_; }

 private:
  RingLocks* locks_;
  RingKind kind_;
  int device_;
  bool held_ = false;
};

}  // namespace

SharedRings::SharedRings(SharedDeviceTable* table, RingLocks* locks)
    : table_(table), locks_(locks) {}

int SharedRings::Store(RingKind kind, std::uint32_t device, const char* bytes, std::size_t length) {
  SharedDeviceTable* table = this->table();
  if (table == nullptr || device >= static_cast<std::uint32_t>(kRealDevices)) return 0;
  LockHolder lock(locks_, kind, device);
  if (!lock.held()) return 0;
  Ring ring = RingOf(*table, kind, device);
  ring.RepairIndexes();
  // The write index ends at 1..2000 and wraps only on the next byte, so a
  // full ring (2000 unread bytes after an empty one) still reads from 0.
  std::uint32_t w = ring.LoadWrite();
  for (std::size_t i = 0; i < length; ++i) {
    if (w == kRingEnd) w = 0;
    ring.data[w++] = bytes[i];
  }
  ring.StoreWrite(w);
  return 1;
}

int SharedRings::Take(RingKind kind, std::uint32_t device, char* buffer, std::uint32_t limit) {
  SharedDeviceTable* table = this->table();
  if (table == nullptr || device >= static_cast<std::uint32_t>(kRealDevices) || buffer == nullptr) {
    return 0;
  }
  LockHolder lock(locks_, kind, device);
  if (!lock.held()) return 0;
  Ring ring = RingOf(*table, kind, device);
  ring.RepairIndexes();
  const std::uint32_t w = ring.LoadWrite();
  std::uint32_t r = ring.LoadRead();
  std::uint32_t count = 0;
  while (r != w && count < limit) {
    if (r == kRingEnd) r = 0;
    const char c = ring.data[r++];
    if (c == kCr) break;
    buffer[count++] = c;
  }
  // If we stopped early (ring empty or buffer limit), only the copied part is
  // consumed; the result is NUL-terminated all the same.
  buffer[count] = '\0';
  ring.StoreRead(r);
  return 1;
}

int SharedRings::Ready(RingKind kind, std::uint32_t device) const {
  SharedDeviceTable* table = this->table();
  if (table == nullptr || device >= static_cast<std::uint32_t>(kRealDevices)) return 0;
  Ring ring = RingOf(*table, kind, device);
  return ring.LoadRead() != ring.LoadWrite() ? 1 : 0;
}

int SharedRings::StoreUSResponse(std::uint32_t device, const char* text, std::uint32_t length) {
  if (text == nullptr && length > 0) return 0;
  return Store(RingKind::kUnsolicited, device, text, length);
}

int SharedRings::GetUSResponse(std::uint32_t device, char* buffer, std::uint32_t limit) {
  return Take(RingKind::kUnsolicited, device, buffer, limit);
}

int SharedRings::USReadReady(std::uint32_t device) const {
  return Ready(RingKind::kUnsolicited, device);
}

int SharedRings::ChangeStore(std::uint32_t device, const char* text) {
  if (text == nullptr || text[0] == '\0') return 0;
  // The record is formatted into 400 bytes: at most 398 characters of text,
  // the CR and the terminator. A longer text is cut rather than overrunning.
  char record[kChangeRecordMaxText + 2];
  const std::size_t n = ::strnlen(text, kChangeRecordMaxText);
  std::memcpy(record, text, n);
  record[n] = kCr;
  return Store(RingKind::kChange, device, record, n + 1);
}

int SharedRings::ChangeGet(std::uint32_t device, char* buffer, std::uint32_t limit) {
  return Take(RingKind::kChange, device, buffer, limit);
}

int SharedRings::ChangeReadReady(std::uint32_t device) const {
  return Ready(RingKind::kChange, device);
}

}  // namespace zimo::corvan
