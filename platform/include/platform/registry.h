// The machine registry: keys, values and handles with Win32 shapes and result
// codes, kept in one REGEDIT4 text file ($ZIMO_HOME/registry.reg) that several
// processes share and a person can edit.
//
// Two faces over one store:
//  * Win32-shaped calls (RegOpenKeyExA, RegQueryValueExW, ...) that return the
//    Windows error number as a plain int32_t (win32::kErrorSuccess == 0). A forms
//    take Windows-1252 text, W forms char16_t text, the Windows way.
//  * RegistryKey, a typed RAII owner with UTF-8 text, for new code.
//
// Semantics kept from Windows:
//  * Key names compare case-insensitively and keep the case they were created
//    with; subkeys enumerate in case-insensitive name order, values in the
//    order they were first set.
//  * RegDeleteKey refuses a key that still has subkeys (kAccessDenied);
//    RegDeleteTree removes a whole branch.
//  * A handle names its key by path: when another handle or process deletes
//    the key, calls through the handle fail with kKeyDeleted.
//  * HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes; HKEY_CURRENT_USER
//    and HKEY_USERS live in the same file (one user per home).
//
// The file:
//  * "REGEDIT4", a blank line, then one "[ROOT\path]" section per key with
//    "Name"=... lines ("@" is the default value). Values:
//      "text"            REG_SZ (\\ and \" escaped; the file is UTF-8)
//      dword:0000000a    REG_DWORD
//      hex:01,02         REG_BINARY
//      hex(2):...        REG_EXPAND_SZ, UTF-16LE bytes with the terminator
//      hex(7):...        REG_MULTI_SZ, UTF-16LE bytes, strings and final NUL
//      hex(N):...        any other type N (hex), raw bytes
//    A REG_SZ whose data is not a plain terminated text (odd length, embedded
//    NUL, line breaks) is written as hex(1): so nothing is lost. Long hex data
//    may continue on the next line after a trailing backslash. Lines starting
//    with ';' are comments (not kept when the file is rewritten); ";class="
//    right after a section header holds the key's class text. Deletion entries
//    ("[-key]", "name"=-) belong to import scripts, not to this file, and
//    count as malformed.
//  * Every write takes an exclusive flock on registry.reg.lock, re-reads the
//    file if another process changed it, applies the change, writes a
//    temporary file and renames it over the old one. Readers re-read whenever
//    the file's inode, size or modification time changed. Concurrent writers
//    in several processes lose no value.
//  * A malformed file is never rewritten: while it does not parse, every call
//    fails with kBadDb (the typed API with Code::kBadData and a message naming
//    the file and the line), reads included, so nobody acts on half a
//    registry. CheckRegistryFile() tells what is wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/win_error.h"

namespace zimo::platform {

// Key handle: a 32-bit value, so it fits the fields of shared tables. 0 is no
// handle; the predefined roots have their Windows values.
using HKey = uint32_t;
inline constexpr HKey kHkeyClassesRoot = 0x80000000u;
inline constexpr HKey kHkeyCurrentUser = 0x80000001u;
inline constexpr HKey kHkeyLocalMachine = 0x80000002u;
inline constexpr HKey kHkeyUsers = 0x80000003u;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegDwordBigEndian = 5;
inline constexpr uint32_t kRegLink = 6;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// Access rights (samDesired). A handle opened without a right gets
// kAccessDenied for the calls that need it.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyNotify = 0x0010;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// RegCreateKeyEx options and dispositions. Volatile keys are not kept here:
// the option is refused with kInvalidParameter.
inline constexpr uint32_t kRegOptionNonVolatile = 0;
inline constexpr uint32_t kRegOptionVolatile = 1;
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// ---- Win32-shaped calls ----------------------------------------------------
// Arguments and their order follow Win32; "reserved" and "security" arguments
// are ignored. Sizes are in bytes for data and in characters for names, the
// terminator counted where Win32 counts it. A null or empty value name is the
// default value. A missing key or value gives kFileNotFound.

int32_t RegCreateKeyExA(HKey key, const char* sub_key, uint32_t reserved, const char* class_text,
                        uint32_t options, uint32_t access, const void* security, HKey* result,
                        uint32_t* disposition);
int32_t RegCreateKeyExW(HKey key, const char16_t* sub_key, uint32_t reserved,
                        const char16_t* class_text, uint32_t options, uint32_t access,
                        const void* security, HKey* result, uint32_t* disposition);
int32_t RegOpenKeyExA(HKey key, const char* sub_key, uint32_t options, uint32_t access,
                      HKey* result);
int32_t RegOpenKeyExW(HKey key, const char16_t* sub_key, uint32_t options, uint32_t access,
                      HKey* result);
int32_t RegCloseKey(HKey key);
// Every write is already in the file; kept for callers that flush.
int32_t RegFlushKey(HKey key);

// data may be null to ask for the size only. A short buffer gives kMoreData
// and the needed size in *data_size. A forms return REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ data as Windows-1252 text, sized for that text.
int32_t RegQueryValueExA(HKey key, const char* value_name, uint32_t* reserved, uint32_t* type,
                         uint8_t* data, uint32_t* data_size);
int32_t RegQueryValueExW(HKey key, const char16_t* value_name, uint32_t* reserved, uint32_t* type,
                         uint8_t* data, uint32_t* data_size);
// A forms take text data of the string types as Windows-1252 bytes, W forms as
// UTF-16 (char16_t) bytes; other types are stored as given.
int32_t RegSetValueExA(HKey key, const char* value_name, uint32_t reserved, uint32_t type,
                       const uint8_t* data, uint32_t data_size);
int32_t RegSetValueExW(HKey key, const char16_t* value_name, uint32_t reserved, uint32_t type,
                       const uint8_t* data, uint32_t data_size);

// *name_size: in, the buffer's characters; out, the name's length without the
// terminator. kMoreData when the name (or class) does not fit; kNoMoreItems
// past the last. last_write_time may be null (file times are not kept: 0).
int32_t RegEnumKeyExA(HKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* reserved,
                      char* class_text, uint32_t* class_size, uint64_t* last_write_time);
int32_t RegEnumKeyExW(HKey key, uint32_t index, char16_t* name, uint32_t* name_size,
                      uint32_t* reserved, char16_t* class_text, uint32_t* class_size,
                      uint64_t* last_write_time);
int32_t RegEnumValueA(HKey key, uint32_t index, char* value_name, uint32_t* value_name_size,
                      uint32_t* reserved, uint32_t* type, uint8_t* data, uint32_t* data_size);
int32_t RegEnumValueW(HKey key, uint32_t index, char16_t* value_name, uint32_t* value_name_size,
                      uint32_t* reserved, uint32_t* type, uint8_t* data, uint32_t* data_size);

// Counts and longest lengths (characters without terminator; data in bytes).
// Any out pointer may be null.
int32_t RegQueryInfoKeyA(HKey key, char* class_text, uint32_t* class_size, uint32_t* reserved,
                         uint32_t* sub_keys, uint32_t* max_sub_key_len, uint32_t* max_class_len,
                         uint32_t* values, uint32_t* max_value_name_len, uint32_t* max_value_len,
                         uint32_t* security_descriptor_size, uint64_t* last_write_time);

int32_t RegDeleteValueA(HKey key, const char* value_name);
int32_t RegDeleteValueW(HKey key, const char16_t* value_name);
// Fails with kAccessDenied when the key has subkeys, as Win32 does.
int32_t RegDeleteKeyA(HKey key, const char* sub_key);
int32_t RegDeleteKeyW(HKey key, const char16_t* sub_key);
// Deletes the subkey and everything below it; a null or empty sub_key deletes
// the key's subkeys and values but keeps the key.
int32_t RegDeleteTreeA(HKey key, const char* sub_key);
int32_t RegDeleteTreeW(HKey key, const char16_t* sub_key);

// ---- Typed API --------------------------------------------------------------

// One value as stored: type and raw data (string types as UTF-16LE bytes with
// their terminators, as Windows keeps them).
struct RegValue {
  std::string name;  // UTF-8
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

// An open key; closes its handle when destroyed. Failures carry
// Code::kNotFound for a missing key or value, Code::kInvalidArgument for a
// value of another type or a bad name, Code::kClosed when the key was deleted
// meanwhile, Code::kBadData for a malformed registry file, Code::kOsError for
// access denied or file trouble (os_error() is the errno, if any). WinErrorOf()
// gives the Windows number back.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key; path may be empty (a new handle to `parent`).
  static Result<RegistryKey> Open(HKey parent, std::string_view path,
                                  uint32_t access = kKeyAllAccess);
  // Opens the key, creating it and any missing parents with `class_text`.
  // *created tells whether the key is new.
  static Result<RegistryKey> Create(HKey parent, std::string_view path,
                                    std::string_view class_text = {}, bool* created = nullptr,
                                    uint32_t access = kKeyAllAccess);
  // Whether the key exists (nothing is created).
  static bool Exists(HKey parent, std::string_view path);

  bool is_open() const { return handle_ != 0; }
  HKey handle() const { return handle_; }
  // Gives up ownership of the handle.
  HKey Release() { return std::exchange(handle_, 0); }

  // REG_DWORD only.
  Result<uint32_t> GetDword(std::string_view name) const;
  // REG_SZ or REG_EXPAND_SZ (not expanded), without the terminator.
  Result<std::string> GetString(std::string_view name) const;
  Result<std::vector<std::string>> GetMultiString(std::string_view name) const;
  // Any type: the value as stored.
  Result<RegValue> GetValue(std::string_view name) const;

  Status SetDword(std::string_view name, uint32_t value);
  Status SetString(std::string_view name, std::string_view text);
  Status SetExpandString(std::string_view name, std::string_view text);
  Status SetMultiString(std::string_view name, const std::vector<std::string>& texts);
  Status SetBinary(std::string_view name, const std::vector<uint8_t>& bytes);
  Status SetValue(std::string_view name, uint32_t type, const std::vector<uint8_t>& data);
  Status DeleteValue(std::string_view name);

  Result<std::vector<std::string>> SubkeyNames() const;
  Result<std::vector<RegValue>> Values() const;
  Result<std::string> ClassText() const;
  // Like RegDeleteKey (refused while it has subkeys) and RegDeleteTree.
  Status DeleteSubkey(std::string_view path);
  Status DeleteTree(std::string_view path);

 private:
  explicit RegistryKey(HKey handle) : handle_(handle) {}
  HKey handle_ = 0;
};

// The Windows error number behind a Status from the typed API (kSuccess for ok).
int32_t WinErrorOf(const Status& status);

// Parses the registry file as it is now: ok, or Code::kBadData with a message
// "<file>:<line>: <what>". A missing file is an empty registry (ok).
Status CheckRegistryFile();

}  // namespace zimo::platform
