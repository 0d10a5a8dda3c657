#include "core/card_registry.h"

#include <cstdio>
#include <string>

#include "core/server_trace.h"

namespace zimo::server {

std::optional<platform::RegistryKey> OpenDriverKey(const char* subkey, bool create) {
  std::string path = kDriverKeyPath;
  if (subkey != nullptr && subkey[0] != '\0') {
    path += '\\';
    path += subkey;
  }
  if (!create) {
    auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine, path);
    if (!key.ok()) return std::nullopt;
    return std::move(*key);
  }
  auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine, path, kDriverKeyClass);
  if (!key.ok()) {
    ServerTrace("RegCreateKeyEx() Create Failed: Err: %u\n",
                static_cast<unsigned>(platform::WinErrorOf(key.status())));
    return std::nullopt;
  }
  return std::move(*key);
}

std::optional<platform::RegistryKey> OpenCardKey(int device, bool create) {
  if (device < 0 || device > 7) return std::nullopt;
  char name[16];
  std::snprintf(name, sizeof name, "Device%d", device);
  return OpenDriverKey(name, create);
}

int ReadCardDword(int device, const char* name, uint32_t* value, uint32_t fallback) {
  if (value == nullptr) return 0;
  *value = fallback;
  if (name == nullptr) return 0;
  // Reading must not make a key: a made key would count as a configured
  // device from then on.
  std::optional<platform::RegistryKey> key = OpenCardKey(device, /*create=*/false);
  if (!key) return 0;
  auto v = key->GetValue(name);
  if (!v.ok() || v->type != platform::kRegDword || v->data.size() != 4) return 0;
  *value = static_cast<uint32_t>(v->data[0]) | static_cast<uint32_t>(v->data[1]) << 8 |
           static_cast<uint32_t>(v->data[2]) << 16 | static_cast<uint32_t>(v->data[3]) << 24;
  return 1;
}

int WriteCardDword(int device, const char* name, uint32_t value) {
  if (name == nullptr) return 0;
  std::optional<platform::RegistryKey> key = OpenCardKey(device, /*create=*/true);
  if (!key) return 0;
  return key->SetDword(name, value).ok() ? 1 : 0;
}

int CountConfiguredDevices() {
  int count = 0;
  for (int d = 0; d < 8; ++d) {
    if (OpenCardKey(d, /*create=*/false)) ++count;
  }
  return count;
}

}  // namespace zimo::server
