// Interrupt objects: a driver's interrupt routine connected to a vector.
// Lines are serviced on the kernel's interrupt thread (the processor that
// takes interrupts), never on the thread that made the line rise, so a
// request thread that unmasks a pending source while it holds the
// interrupt's lock simply has the routine run once it lets go. The routine
// runs under the object's spin lock, the lock that SynchronizeExecution also
// takes, so a request thread that changes what the routine reads never races
// it.
#pragma once

#include <cstdint>
#include <mutex>

namespace zimo::kernel {

class Kernel;
class InterruptObject;

// True when the interrupt was this device's.
using InterruptServiceRoutine = bool (*)(InterruptObject* interrupt, void* context);
using SynchronizeRoutine = bool (*)(void* context);

enum class InterruptMode { kLevelSensitive, kLatched };

class InterruptObject {
 public:
  InterruptObject(Kernel* kernel, InterruptServiceRoutine routine, void* context,
                  uint32_t vector, uint32_t level, InterruptMode mode, bool shared,
                  uint64_t affinity);
  InterruptObject(const InterruptObject&) = delete;
  InterruptObject& operator=(const InterruptObject&) = delete;

  uint32_t vector() const { return vector_; }
  uint32_t level() const { return level_; }
  InterruptMode mode() const { return mode_; }
  bool shared() const { return shared_; }
  uint64_t affinity() const { return affinity_; }

 private:
  friend class Kernel;

  // Runs the routine under the lock; true when it claimed the interrupt.
  bool Service();
  bool Synchronize(SynchronizeRoutine routine, void* context);

  Kernel* kernel_;
  InterruptServiceRoutine routine_;
  void* context_;
  uint32_t vector_;
  uint32_t level_;
  InterruptMode mode_;
  bool shared_;
  uint64_t affinity_;
  std::mutex lock_;
};

}  // namespace zimo::kernel
