#include "kernel/irp.h"

#include <cassert>

namespace zimo::kernel {

Irp::Irp(int stack_size) : stack_(static_cast<size_t>(stack_size > 0 ? stack_size : 1)) {
  current_ = static_cast<int>(stack_.size());
}

IoStackLocation& Irp::CurrentStackLocation() {
  assert(current_ < stack_size());
  return stack_[static_cast<size_t>(current_)];
}

const IoStackLocation& Irp::CurrentStackLocation() const {
  assert(current_ < stack_size());
  return stack_[static_cast<size_t>(current_)];
}

IoStackLocation& Irp::NextStackLocation() {
  assert(current_ > 0);
  return stack_[static_cast<size_t>(current_ - 1)];
}

void Irp::SkipCurrentStackLocation() { ++current_; }

void Irp::CopyCurrentStackLocationToNext() {
  IoStackLocation copy = CurrentStackLocation();
  copy.completion = nullptr;
  copy.device = nullptr;
  NextStackLocation() = std::move(copy);
}

void Irp::SetCompletionRoutine(CompletionRoutine routine) {
  NextStackLocation().completion = std::move(routine);
}

void Irp::SetOriginatorCompletion(std::function<void(Irp&)> done) {
  originator_done_ = std::move(done);
}

void Irp::WaitForCompletion() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [this] { return completed_; });
}

bool Irp::completed() const {
  std::lock_guard lock(mu_);
  return completed_;
}

}  // namespace zimo::kernel
