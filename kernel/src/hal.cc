// The hardware side of the kernel: port and memory access through the
// HardwareAccess table, stalls, and interrupt objects chained per vector and
// serviced on the kernel's interrupt thread.
#include <algorithm>

#include "kernel/kernel.h"

namespace zimo::kernel {

// ---- Mapped memory ----------------------------------------------------------------

uint8_t MappedMemory::Read8(size_t offset) const {
  return Inside(offset, 1) ? hw_->read_memory_u8(hw_->context, physical_ + offset) : 0;
}
uint16_t MappedMemory::Read16(size_t offset) const {
  return Inside(offset, 2) ? hw_->read_memory_u16(hw_->context, physical_ + offset) : 0;
}
uint32_t MappedMemory::Read32(size_t offset) const {
  return Inside(offset, 4) ? hw_->read_memory_u32(hw_->context, physical_ + offset) : 0;
}
void MappedMemory::Write8(size_t offset, uint8_t value) {
  if (Inside(offset, 1)) hw_->write_memory_u8(hw_->context, physical_ + offset, value);
}
void MappedMemory::Write16(size_t offset, uint16_t value) {
  if (Inside(offset, 2)) hw_->write_memory_u16(hw_->context, physical_ + offset, value);
}
void MappedMemory::Write32(size_t offset, uint32_t value) {
  if (Inside(offset, 4)) hw_->write_memory_u32(hw_->context, physical_ + offset, value);
}
bool MappedMemory::ReadBlock(size_t offset, void* out, size_t length) const {
  if (!Inside(offset, length)) return false;
  hw_->read_memory_block(hw_->context, physical_ + offset, out, length);
  return true;
}
bool MappedMemory::WriteBlock(size_t offset, const void* in, size_t length) {
  if (!Inside(offset, length)) return false;
  hw_->write_memory_block(hw_->context, physical_ + offset, in, length);
  return true;
}
void MappedMemory::Barrier() {
  if (hw_->barrier != nullptr) hw_->barrier(hw_->context);
}

// ---- Ports, memory, stalls --------------------------------------------------------

uint8_t Kernel::ReadPortUchar(uint64_t port) {
  return hardware_.read_port_u8 != nullptr ? hardware_.read_port_u8(hardware_.context, port)
                                           : 0xFF;
}

void Kernel::WritePortUchar(uint64_t port, uint8_t value) {
  if (hardware_.write_port_u8 != nullptr) hardware_.write_port_u8(hardware_.context, port, value);
}

std::unique_ptr<MappedMemory> Kernel::MapIoSpace(uint64_t physical, size_t length) {
  if (TakeFault(FaultPoint::kMapIoSpace) != kStatusSuccess) return nullptr;
  if (length == 0 || hardware_.memory_present == nullptr ||
      !hardware_.memory_present(hardware_.context, physical, length)) {
    return nullptr;
  }
  return std::make_unique<MappedMemory>(&hardware_, physical, length);
}

void Kernel::StallExecutionProcessor(uint32_t microseconds) {
  if (hardware_.stall != nullptr) hardware_.stall(hardware_.context, microseconds);
}

// ---- Interrupts ---------------------------------------------------------------------

InterruptObject::InterruptObject(Kernel* kernel, InterruptServiceRoutine routine, void* context,
                                 uint32_t vector, uint32_t level, InterruptMode mode,
                                 bool shared, uint64_t affinity)
    : kernel_(kernel),
      routine_(routine),
      context_(context),
      vector_(vector),
      level_(level),
      mode_(mode),
      shared_(shared),
      affinity_(affinity) {}

bool InterruptObject::Service() {
  std::lock_guard lock(lock_);
  return routine_(this, context_);
}

bool InterruptObject::Synchronize(SynchronizeRoutine routine, void* context) {
  std::lock_guard lock(lock_);
  return routine(context);
}

NTSTATUS Kernel::ConnectInterrupt(std::unique_ptr<InterruptObject>* interrupt,
                                  InterruptServiceRoutine routine, void* context,
                                  uint32_t vector, uint32_t level, uint32_t synchronize_level,
                                  InterruptMode mode, bool shared, uint64_t affinity) {
  (void)synchronize_level;  // one lock per object stands for the level
  if (const NTSTATUS fault = TakeFault(FaultPoint::kConnectInterrupt); fault != kStatusSuccess) {
    return fault;
  }
  if (hardware_.connect_interrupt == nullptr) return kStatusInvalidParameter;
  auto object = std::make_unique<InterruptObject>(this, routine, context, vector, level, mode,
                                                  shared, affinity);
  std::lock_guard lock(vectors_mu_);
  std::unique_ptr<VectorChain>& chain = vectors_[vector];
  if (!chain) chain = std::make_unique<VectorChain>(VectorChain{this, vector, {}, false});
  if (!chain->objects.empty() && (!shared || !chain->objects.front()->shared())) {
    return kStatusInvalidParameter;  // someone holds the vector exclusively
  }
  if (!chain->hardware_connected) {
    if (!hardware_.connect_interrupt(hardware_.context, vector, &Kernel::OnInterruptLine,
                                     chain.get())) {
      return kStatusInvalidParameter;
    }
    chain->hardware_connected = true;
  }
  chain->objects.push_back(object.get());
  *interrupt = std::move(object);
  return kStatusSuccess;
}

void Kernel::DisconnectInterrupt(std::unique_ptr<InterruptObject>* interrupt) {
  if (!*interrupt) return;
  {
    // The interrupt thread services under this lock, so once it is ours no
    // routine of the object runs any more.
    std::lock_guard lock(vectors_mu_);
    auto it = vectors_.find((*interrupt)->vector());
    if (it != vectors_.end()) {
      VectorChain& chain = *it->second;
      std::erase(chain.objects, interrupt->get());
      if (chain.objects.empty() && chain.hardware_connected) {
        if (hardware_.disconnect_interrupt != nullptr) {
          hardware_.disconnect_interrupt(hardware_.context, chain.vector);
        }
        chain.hardware_connected = false;
      }
    }
  }
  interrupt->reset();
}

bool Kernel::SynchronizeExecution(InterruptObject* interrupt, SynchronizeRoutine routine,
                                  void* context) {
  return interrupt->Synchronize(routine, context);
}

void Kernel::OnInterruptLine(void* cookie) {
  auto* chain = static_cast<VectorChain*>(cookie);
  Kernel* kernel = chain->kernel;
  {
    std::lock_guard lock(kernel->irq_mu_);
    kernel->irq_queue_.push_back(chain->vector);
  }
  kernel->irq_cv_.notify_all();
}

void Kernel::InterruptThread() {
  std::unique_lock lock(irq_mu_);
  for (;;) {
    irq_cv_.wait(lock, [this] { return irq_stop_ || !irq_queue_.empty(); });
    if (irq_stop_) return;
    const uint32_t vector = irq_queue_.front();
    irq_queue_.pop_front();
    irq_busy_ = true;
    lock.unlock();
    ServiceVector(vector);
    lock.lock();
    irq_busy_ = false;
    irq_idle_cv_.notify_all();
  }
}

void Kernel::ServiceVector(uint32_t vector) {
  std::lock_guard lock(vectors_mu_);
  auto it = vectors_.find(vector);
  if (it == vectors_.end()) return;
  for (InterruptObject* object : it->second->objects) {
    if (object->Service()) break;
  }
}

void Kernel::FlushInterrupts() {
  std::unique_lock lock(irq_mu_);
  irq_idle_cv_.wait(lock, [this] { return irq_queue_.empty() && !irq_busy_; });
}

}  // namespace zimo::kernel
