#include "corvan/internal/ring_locks.h"

#include <cstdio>

#include "platform/debug.h"

namespace zimo::corvan {
namespace {

const char* KindName(RingKind kind) {
  return kind == RingKind::kChange ? "ZimoChangeRing" : "ZimoUSRing";
}

}  // namespace

platform::NamedMutex* NamedRingLocks::MutexFor(RingKind kind, int device) {
  if (device < 0 || device >= kRealDevices) return nullptr;
  std::lock_guard<std::mutex> guard(open_mutex_);
  platform::NamedMutex& m = mutexes_[kind == RingKind::kChange ? 1 : 0][device];
  if (!m.valid()) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%d", KindName(kind), device);
    auto created = platform::NamedMutex::Create(name);
    if (!created.ok()) {
      platform::DebugPrintf("ring lock %s: %s\n", name, created.status().ToString().c_str());
      return nullptr;
    }
    m = std::move(created.value());
  }
  return &m;
}

bool NamedRingLocks::Lock(RingKind kind, int device) {
  platform::NamedMutex* m = MutexFor(kind, device);
  if (m == nullptr) return false;
  platform::Status s = m->Lock(kLockTimeout);
  // An abandoned lock is ours now; at worst the dead holder left a few bytes
  // stored past the write index, which nobody reads.
  if (s.ok() || s.code() == platform::Code::kAbandoned) return true;
  platform::DebugPrintf("ring lock %s%d: %s\n", KindName(kind), device, s.ToString().c_str());
  return false;
}

void NamedRingLocks::Unlock(RingKind kind, int device) {
  platform::NamedMutex* m = MutexFor(kind, device);
  if (m != nullptr) (void)m->Unlock();
}

}  // namespace zimo::corvan
