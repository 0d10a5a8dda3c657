// The library's lock for each ring of the shared device table: a named mutex
// per ring, "ZimoUSRing%d" and "ZimoChangeRing%d" with the device number,
// which every process that stores into or takes from the rings opens. The
// table's layout stays as it is; the locks live beside it.
#pragma once

#include <array>
#include <chrono>
#include <mutex>

#include "corvan/internal/rings.h"
#include "platform/named_mutex.h"

namespace zimo::corvan {

class NamedRingLocks : public RingLocks {
 public:
  // A ring operation is a few thousand byte copies at most, so a lock not
  // had within this long means its holder is stuck, not busy.
  static constexpr std::chrono::milliseconds kLockTimeout{5000};

  NamedRingLocks() = default;
  NamedRingLocks(const NamedRingLocks&) = delete;
  NamedRingLocks& operator=(const NamedRingLocks&) = delete;

  // Opens the ring's mutex on first use. An abandoned mutex (its holder
  // died) is taken over; failing to create or take it is written to the
  // debug channel and returns false.
  bool Lock(RingKind kind, int device) override;
  void Unlock(RingKind kind, int device) override;

 private:
  platform::NamedMutex* MutexFor(RingKind kind, int device);

  std::mutex open_mutex_;  // guards the lazy opening below, not the rings
  std::array<std::array<platform::NamedMutex, kRealDevices>, 2> mutexes_;
};

}  // namespace zimo::corvan
