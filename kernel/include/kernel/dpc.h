// Deferred procedure calls: what an interrupt routine queues to finish its
// work outside the interrupt. One queue per kernel, run in order by one
// thread; a DPC object sits in the queue at most once.
#pragma once

#include <atomic>

namespace zimo::kernel {

struct Dpc;
using DeferredRoutine = void (*)(Dpc* dpc, void* context, void* argument1, void* argument2);

struct Dpc {
  DeferredRoutine routine = nullptr;
  void* context = nullptr;
  void* argument1 = nullptr;
  void* argument2 = nullptr;
  std::atomic<bool> inserted{false};
};

}  // namespace zimo::kernel
