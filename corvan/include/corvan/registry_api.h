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

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The root key, or root\sub_key when `sub_key` is neither null nor empty,
// created when missing. The first argument is not used.
uint32_t DrvOpenRegKey(uint32_t number, const char* sub_key);
// "Device%d" below the root, created when missing.
uint32_t DrvOpenDeviceKey(uint32_t device);
// Number of gap-free device keys starting at Device0, capped at 8; removed
// devices are included. Only opens keys, never creates them.
int32_t DrvNumberOfDevices(void);

int32_t DrvSetDeviceDword(uint32_t device, const char* value_name, uint32_t value);
// REG_DWORD only.
int32_t DrvQueryDeviceDword(uint32_t device, const char* value_name, uint32_t* value,
                            uint32_t default_value);
int32_t DrvSetDeviceString(uint32_t device, const char* value_name, const char* text);
// REG_SZ or REG_EXPAND_SZ (not expanded) into `buffer` of `size` bytes; on
// failure the default, cut to size - 1 characters. Always terminated when
// size > 0; a value that does not fit reads as a failure.
int32_t DrvQueryDeviceString(uint32_t device, const char* value_name, char* buffer, uint32_t size,
                             const char* default_text);

// "Device%d\Nc%d\<section>", or "Device%d\Nc%d" when the section is null or
// empty, created when missing.
uint32_t DrvOpenNcKey(uint32_t device, uint32_t nc, const char* section);
int32_t DrvSetNcDword(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                      uint32_t value);
int32_t DrvQueryNcDword(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                        uint32_t* value, uint32_t default_value);
int32_t DrvSetNcString(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                       const char* text);
int32_t DrvQueryNcString(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                         char* buffer, uint32_t size, const char* default_text);
// Stored as text formatted with "%lf".
int32_t DrvSetNcDouble(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                       double value);
// Reads the text and converts it as the C library
// does (a text that is no number gives 0.0); on failure the default.
int32_t DrvQueryNcDouble(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                         double* value, double default_value);
// Stored as REG_DWORD 1 (flag not 0) or 0.
int32_t DrvSetNcBool(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                     int32_t flag);
// 1 for a stored value that is not 0, else 0; on failure the default as given.
int32_t DrvQueryNcBool(uint32_t device, uint32_t nc, const char* section, const char* value_name,
                       int32_t* flag, int32_t default_flag);

// Sets "Mapping Name" of the existing key
//   HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Motionmap
// (never created). The error of opening the key, else of setting the value;
// 0 on success.
int32_t DrvSetMapperName(const char* name);

#ifdef __cplusplus
}  // extern "C"
#endif
