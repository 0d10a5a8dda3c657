// The server's own routines for the cards' registry keys: the driver key
// HKLM\SYSTEM\CurrentControlSet\Services\ZIMO and its "Device%d" subkeys,
// whose card values are REG_DWORDs. They keep no state, so any thread may
// call them.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/registry.h"

namespace zimo::server {

inline constexpr char kDriverKeyPath[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO";
inline constexpr char kDriverKeyClass[] = "Motion Drivers";

// The driver key, or its subkey `subkey` when one is given. Without
// `create` only an existing key opens; with it a missing key is made (a
// failure is traced as "RegCreateKeyEx() Create Failed: Err: %u").
std::optional<platform::RegistryKey> OpenDriverKey(const char* subkey, bool create);
// "Device%d" of `device` (0 to 7; none for others).
std::optional<platform::RegistryKey> OpenCardKey(int device, bool create);

// 1 with the card's DWORD `name` in *value; 0 with `fallback` there when the
// key or the value is missing or is not a 4-byte DWORD. A missing key is
// not created.
int ReadCardDword(int device, const char* name, uint32_t* value, uint32_t fallback);
// 1 when written (the key is made when missing), else 0.
int WriteCardDword(int device, const char* name, uint32_t value);

// The number of device numbers 0 to 7 whose "Device%d" key exists.
int CountConfiguredDevices();

}  // namespace zimo::server
