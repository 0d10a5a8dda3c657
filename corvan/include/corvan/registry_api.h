// Corvan32's exported registry functions (the Drv family) for programs that
// configure cards: device key values, NC settings and the mapper name. All
// keys lie below HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\ZIMO;
// texts are 8-bit (Windows-1252).
//
// Return values are Windows error codes: 0 for success, 2 if the key will
// not open or the value is absent or of the wrong type, and otherwise
// whatever the registry call returned. A query stores the default in its out argument on
// any failure. A device number outside 0 to 7 names no key: queries give the
// default and 2, writes 2, key openers 0, and nothing is created.
//
// Key handles are registry handles (platform/registry.h); the caller closes
// them with RegCloseKey. 0 is no handle.
#pragma once

#include <cstdint>

extern "C" {

// The root key, or root\sub_key when `sub_key` is neither null nor empty,
// created when missing. The first argument is not used.
std::uint32_t DrvOpenRegKey(std::uint32_t number, const char* sub_key);
// "Device%d" below the root, created when missing.
std::uint32_t DrvOpenDeviceKey(std::uint32_t device);
// Number of gap-free device keys starting at Device0, capped at 8; removed
// devices are included. Only opens keys, never creates them.
std::int32_t DrvNumberOfDevices(void);

std::int32_t DrvSetDeviceDword(std::uint32_t device, const char* value_name, std::uint32_t value);
// REG_DWORD only.
std::int32_t DrvQueryDeviceDword(std::uint32_t device, const char* value_name, std::uint32_t* value,
                                 std::uint32_t default_value);
std::int32_t DrvSetDeviceString(std::uint32_t device, const char* value_name, const char* text);
// REG_SZ or REG_EXPAND_SZ (not expanded) into `buffer` of `size` bytes; on
// failure the default, cut to size - 1 characters. Always terminated when
// size > 0; a value that does not fit reads as a failure.
std::int32_t DrvQueryDeviceString(std::uint32_t device, const char* value_name, char* buffer,
                                  std::uint32_t size, const char* default_text);

// "Device%d\Nc%d\<section>", or "Device%d\Nc%d" when the section is null or
// empty, created when missing.
std::uint32_t DrvOpenNcKey(std::uint32_t device, std::uint32_t nc, const char* section);
std::int32_t DrvSetNcDword(std::uint32_t device, std::uint32_t nc, const char* section,
                           const char* value_name, std::uint32_t value);
std::int32_t DrvQueryNcDword(std::uint32_t device, std::uint32_t nc, const char* section,
                             const char* value_name, std::uint32_t* value,
                             std::uint32_t default_value);
std::int32_t DrvSetNcString(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, const char* text);
std::int32_t DrvQueryNcString(std::uint32_t device, std::uint32_t nc, const char* section,
                              const char* value_name, char* buffer, std::uint32_t size,
                              const char* default_text);
// Stored as text formatted with "%lf".
std::int32_t DrvSetNcDouble(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, double value);
// Reads the text and converts it as the C library
// does (a text that is no number gives 0.0); on failure the default.
std::int32_t DrvQueryNcDouble(std::uint32_t device, std::uint32_t nc, const char* section,
                              const char* value_name, double* value, double default_value);
// Stored as REG_DWORD 1 (flag not 0) or 0.
std::int32_t DrvSetNcBool(std::uint32_t device, std::uint32_t nc, const char* section,
                          const char* value_name, std::int32_t flag);
// 1 for a stored value that is not 0, else 0; on failure the default as given.
std::int32_t DrvQueryNcBool(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, std::int32_t* flag, std::int32_t default_flag);

// Sets "Mapping Name" of the existing key
//   HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Motionmap
// (never created). The error of opening the key, else of setting the value;
// 0 on success.
std::int32_t DrvSetMapperName(const char* name);

}  // extern "C"
