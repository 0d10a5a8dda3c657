// Registry keys for drivers, named by their kernel path
// ("\Registry\Machine\SYSTEM\CurrentControlSet\Services\..."): the machine
// registry of platform/registry.h, with results as completion statuses.
#pragma once

#include <cstdint>
#include <string_view>

#include "kernel/ntstatus.h"
#include "platform/registry.h"

namespace zimo::kernel {

class KernelRegistryKey {
 public:
  KernelRegistryKey() = default;

  // Opens the key, creating it and its missing parents. kStatusObjectNameInvalid
  // for a path outside "\Registry\Machine\" and "\Registry\User\";
  // kStatusUnsuccessful when the registry cannot be written.
  static NTSTATUS Create(std::string_view kernel_path, KernelRegistryKey* key);

  NTSTATUS SetDword(std::string_view value_name, uint32_t value);
  bool is_open() const { return key_.is_open(); }
  void Close() { key_ = platform::RegistryKey(); }

 private:
  platform::RegistryKey key_;
};

}  // namespace zimo::kernel
