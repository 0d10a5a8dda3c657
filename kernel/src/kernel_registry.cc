#include "kernel/kernel_registry.h"

#include <cctype>
#include <string>

namespace zimo::kernel {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

NTSTATUS KernelRegistryKey::Create(std::string_view kernel_path, KernelRegistryKey* key) {
  static constexpr std::string_view kMachine = "\\Registry\\Machine\\";
  static constexpr std::string_view kUser = "\\Registry\\User\\";
  platform::HKey root;
  std::string_view rest;
  if (StartsWithNoCase(kernel_path, kMachine)) {
    root = platform::kHkeyLocalMachine;
    rest = kernel_path.substr(kMachine.size());
  } else if (StartsWithNoCase(kernel_path, kUser)) {
    root = platform::kHkeyUsers;
    rest = kernel_path.substr(kUser.size());
  } else {
    return kStatusObjectNameInvalid;
  }
  if (rest.empty()) return kStatusObjectNameInvalid;
  auto created = platform::RegistryKey::Create(root, rest);
  if (!created.ok()) return kStatusUnsuccessful;
  key->key_ = std::move(created.value());
  return kStatusSuccess;
}

NTSTATUS KernelRegistryKey::SetDword(std::string_view value_name, uint32_t value) {
  if (!key_.is_open()) return kStatusInvalidHandle;
  return key_.SetDword(value_name, value).ok() ? kStatusSuccess : kStatusUnsuccessful;
}

}  // namespace zimo::kernel
