// Small writers of the class registry (HKEY_CLASSES_ROOT) shared by the
// registration of local servers and of in-process servers.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace zimo::automation::class_keys {

// Creates `path` and sets its default value; an empty value leaves the key
// without one (a marker key such as "Control").
inline platform::Status SetKey(const std::string& path, std::string_view default_value) {
  auto key = platform::RegistryKey::Create(platform::kHkeyClassesRoot, path);
  if (!key.ok()) return key.status();
  if (default_value.empty()) return platform::Status::Ok();
  return key->SetString("", default_value);
}

inline platform::Status SetNamedValue(const std::string& path, std::string_view name,
                                      std::string_view value) {
  auto key = platform::RegistryKey::Create(platform::kHkeyClassesRoot, path);
  if (!key.ok()) return key.status();
  return key->SetString(name, value);
}

// Removes `path` with everything below it; a key that is not there is fine.
inline platform::Status DeleteTree(const std::string& path) {
  if (!platform::RegistryKey::Exists(platform::kHkeyClassesRoot, path)) {
    return platform::Status::Ok();
  }
  auto root = platform::RegistryKey::Open(platform::kHkeyClassesRoot, "");
  if (!root.ok()) return root.status();
  platform::Status s = root->DeleteTree(path);
  return s.code() == platform::Code::kNotFound ? platform::Status::Ok() : s;
}

// Runs the steps in order and stops at the first failure.
template <typename... Steps>
platform::Status All(Steps&&... steps) {
  platform::Status s;
  ((s.ok() ? (s = steps(), 0) : 0), ...);
  return s;
}

}  // namespace zimo::automation::class_keys
