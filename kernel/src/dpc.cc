// Deferred procedure calls and event references.
#include <algorithm>

#include "kernel/kernel.h"

namespace zimo::kernel {

void Kernel::InitializeDpc(Dpc* dpc, DeferredRoutine routine, void* context) {
  dpc->routine = routine;
  dpc->context = context;
  dpc->inserted = false;
}

bool Kernel::InsertQueueDpc(Dpc* dpc, void* argument1, void* argument2) {
  {
    std::lock_guard lock(dpc_mu_);
    if (dpc->inserted.exchange(true)) return false;
    dpc->argument1 = argument1;
    dpc->argument2 = argument2;
    dpc_queue_.push_back(dpc);
  }
  dpc_cv_.notify_all();
  return true;
}

void Kernel::RemoveQueuedDpc(Dpc* dpc) {
  std::unique_lock lock(dpc_mu_);
  if (std::erase(dpc_queue_, dpc) > 0) dpc->inserted = false;
  dpc_idle_cv_.wait(lock, [this, dpc] { return dpc_running_ != dpc; });
}

void Kernel::HoldDpcs(bool hold) {
  {
    std::lock_guard lock(dpc_mu_);
    dpc_hold_ = hold;
  }
  dpc_cv_.notify_all();
}

void Kernel::FlushDpcs() {
  std::unique_lock lock(dpc_mu_);
  dpc_idle_cv_.wait(lock, [this] { return dpc_queue_.empty() && dpc_running_ == nullptr; });
}

void Kernel::DpcThread() {
  std::unique_lock lock(dpc_mu_);
  for (;;) {
    dpc_cv_.wait(lock, [this] { return dpc_stop_ || (!dpc_hold_ && !dpc_queue_.empty()); });
    if (dpc_stop_) return;
    Dpc* dpc = dpc_queue_.front();
    dpc_queue_.pop_front();
    // Out of the queue before it runs, so the routine's device may queue it again.
    dpc->inserted = false;
    dpc_running_ = dpc;
    lock.unlock();
    dpc->routine(dpc, dpc->context, dpc->argument1, dpc->argument2);
    lock.lock();
    dpc_running_ = nullptr;
    dpc_idle_cv_.notify_all();
  }
}

NTSTATUS Kernel::ReferenceEventByHandle(uint64_t handle, const Irp& irp, EventRef* event) {
  if (handle == 0 || irp.handles == nullptr) return kStatusInvalidHandle;
  auto it = irp.handles->find(handle);
  if (it == irp.handles->end()) return kStatusInvalidHandle;
  const NTSTATUS status = ReferenceEventByName(it->second, event);
  return status == kStatusObjectNameNotFound ? kStatusInvalidHandle : status;
}

NTSTATUS Kernel::ReferenceEventByName(std::string_view name, EventRef* event) {
  if (name.empty()) return kStatusObjectNameInvalid;
  platform::Result<platform::NamedEvent> opened = platform::NamedEvent::Open(name);
  if (!opened.ok()) {
    return opened.status().code() == platform::Code::kNotFound ? kStatusObjectNameNotFound
                                                               : kStatusObjectNameInvalid;
  }
  *event = std::make_shared<KernelEvent>(std::string(name), std::move(opened.value()),
                                         [this](const std::string& set) {
                                           std::function<void(const std::string&)> trace;
                                           {
                                             std::lock_guard lock(trace_mu_);
                                             trace = event_trace_;
                                           }
                                           if (trace) trace(set);
                                         });
  return kStatusSuccess;
}

void Kernel::SetEventTrace(std::function<void(const std::string&)> trace) {
  std::lock_guard lock(trace_mu_);
  event_trace_ = std::move(trace);
}

}  // namespace zimo::kernel
