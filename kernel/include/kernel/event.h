// Kernel references to the named events that user mode creates and hands to
// a driver (by handle value, whose name travels with the request, or by
// name). Setting one sets the named event every process sees.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/named_event.h"

namespace zimo::kernel {

class KernelEvent {
 public:
  KernelEvent(std::string name, platform::NamedEvent event,
              std::function<void(const std::string&)> trace);
  KernelEvent(const KernelEvent&) = delete;
  KernelEvent& operator=(const KernelEvent&) = delete;

  void Set();
  void Clear();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  platform::NamedEvent event_;
  std::function<void(const std::string&)> trace_;
};

// A referenced event; dropping the last reference releases it.
using EventRef = std::shared_ptr<KernelEvent>;

}  // namespace zimo::kernel
