#include "kernel/event.h"

namespace zimo::kernel {

KernelEvent::KernelEvent(std::string name, platform::NamedEvent event,
                         std::function<void(const std::string&)> trace)
    : name_(std::move(name)), event_(std::move(event)), trace_(std::move(trace)) {}

void KernelEvent::Set() {
  (void)event_.Set();
  if (trace_) trace_(name_);
}

void KernelEvent::Clear() { (void)event_.Reset(); }

}  // namespace zimo::kernel
