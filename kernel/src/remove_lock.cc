#include "kernel/remove_lock.h"

namespace zimo::kernel {

NTSTATUS RemoveLock::Acquire() {
  std::lock_guard lock(mu_);
  if (removing_) return kStatusDeletePending;
  ++count_;
  return kStatusSuccess;
}

void RemoveLock::Release() {
  std::lock_guard lock(mu_);
  if (--count_ == 0) zero_.notify_all();
}

void RemoveLock::ReleaseAndWait() {
  std::unique_lock lock(mu_);
  removing_ = true;
  count_ -= 2;
  zero_.wait(lock, [this] { return count_ <= 0; });
}

bool RemoveLock::removing() const {
  std::lock_guard lock(mu_);
  return removing_;
}

int RemoveLock::holders() const {
  std::lock_guard lock(mu_);
  return count_;
}

}  // namespace zimo::kernel
