// Each device owns two byte rings in the shared table. The unsolicited ring
// holds lines the card pushed on its own (the transports strip the STX). The
// change ring logs commands that alter card state, so other processes can
// display or repeat them.
//
// Every record ends with CR. A take hands out the next record without its CR
// and consumes it: the first process to take a line is the only one that
// sees it. A writer never waits for readers: storing more than the ring holds
// overwrites the oldest unread bytes.
//
// Writers and takers in every process serialise on one lock per ring (the
// table layout has no room for one, so the lock is a named object beside it,
// see RingLocks); without it two processes storing at once interleave their
// bytes and indexes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

enum class RingKind { kUnsolicited, kChange };

// A change record is the text and CR formatted into 400 bytes, so its text
// is cut to this many characters.
inline constexpr std::size_t kChangeRecordMaxText = 398;

// Serialises the users of one ring. The library's own implementation is a
// named mutex per ring (NamedRingLocks); tests on a heap table pass their own
// or none.
class RingLocks {
 public:
  virtual ~RingLocks() = default;
  // Holds the lock of the ring of `kind` for `device` (0 to 7) on return
  // true; false when it cannot be had, and the ring is then left alone.
  virtual bool Lock(RingKind kind, int device) = 0;
  virtual void Unlock(RingKind kind, int device) = 0;
};

// Ring operations on this process's mapping of the table. Return values
// match the exported calls: 1 on success; 0 if the table is unmapped, the
// device number is 8 or more, or the operation is rejected.
class SharedRings {
 public:
  // `table` null means not mapped (yet); `locks` null means no locking,
  // which only a single user of the table (a test) may choose.
  explicit SharedRings(SharedDeviceTable* table = nullptr, RingLocks* locks = nullptr);

  // The process maps the table later than it builds this (at device open).
  void SetTable(SharedDeviceTable* table) { table_.store(table, std::memory_order_release); }
  SharedDeviceTable* table() const { return table_.load(std::memory_order_acquire); }

  // Appends `length` bytes of `text` to the device's unsolicited-message ring.
  int StoreUSResponse(std::uint32_t device, const char* text, std::uint32_t length);
  // Takes the next line into `buffer`, which holds `limit` + 1 bytes: up to
  // `limit` characters, stopping after a CR (consumed, not copied) or when
  // the ring runs empty; the text is always zero-terminated.
  int GetUSResponse(std::uint32_t device, char* buffer, std::uint32_t limit);
  // Nonzero when the ring holds unread bytes.
  int USReadReady(std::uint32_t device) const;

  // Appends the text (cut to kChangeRecordMaxText characters) and a CR to
  // the device's change ring; 0 for an empty or null text.
  int ChangeStore(std::uint32_t device, const char* text);
  int ChangeGet(std::uint32_t device, char* buffer, std::uint32_t limit);
  int ChangeReadReady(std::uint32_t device) const;

 private:
  int Store(RingKind kind, std::uint32_t device, const char* bytes, std::size_t length);
  int Take(RingKind kind, std::uint32_t device, char* buffer, std::uint32_t limit);
  int Ready(RingKind kind, std::uint32_t device) const;

  std::atomic<SharedDeviceTable*> table_;
  RingLocks* locks_;
};

}  // namespace zimo::corvan
