// The remove lock: every request holds it while it runs and every open
// handle while it is open; removal marks it, gives up its own hold and waits
// until every holder is gone.
#pragma once

#include <condition_variable>
#include <mutex>

#include "kernel/ntstatus.h"

namespace zimo::kernel {

class RemoveLock {
 public:
  RemoveLock() = default;
  RemoveLock(const RemoveLock&) = delete;
  RemoveLock& operator=(const RemoveLock&) = delete;

  // kStatusDeletePending once removal has begun.
  NTSTATUS Acquire();
  void Release();
  // Removal: the caller holds one acquisition. Marks the lock removing,
  // gives up that hold and the one the lock started with, and waits until
  // every other holder has released.
  void ReleaseAndWait();

  bool removing() const;
  int holders() const;

 private:
  mutable std::mutex mu_;
  std::condition_variable zero_;
  int count_ = 1;
  bool removing_ = false;
};

}  // namespace zimo::kernel
