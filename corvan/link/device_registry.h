// Registry access for the card link, all below
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\ZIMO: the root values
// of the device list's user buttons, one Device<d> key per device number
// (how it is reached, its language, NC settings below it) and one
// Zimo<kind><n> key per location instance with its settings.
//
// Readers return 1 or 0 and give the caller's default on anything missing
// or of the wrong type; they never complain. Reads create the key they
// look in (callers have always relied on that); only the *Exists checks and
// DeleteDeviceKey leave the registry as it is.
//
// Device numbers outside 0 to 7, Locations outside 1 to 5 and Enumerations
// outside 0 to 7 name no key: refused before the registry is touched.
// Texts are Windows-1252; one that does not fit a 255-byte buffer reads as
// missing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "corvan/internal/shared_table.h"
#include "platform/registry.h"

namespace zimo::corvan {

inline constexpr char kDriverRootKeyPath[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO";

// Class text of the keys this build creates; the server's build uses
// kServerKeyClass. Readers ignore the class.
inline constexpr char kLibraryKeyClass[] = "Base";
inline constexpr char kServerKeyClass[] = "Motion Drivers";

// Values of a device key.
inline constexpr char kLocationValue[] = "Location";
inline constexpr char kEnumerationValue[] = "Enumeration";
inline constexpr char kLanguageValue[] = "Language";
// Enumeration of a removed device.
inline constexpr std::uint32_t kNoEnumeration = 0xFFFFFFFF;
// Instances of one Location: Enumerations 0 to 7.
inline constexpr std::uint32_t kEnumerationsPerLocation = 8;

// Size of the buffer a text value is read through (characters + terminator).
inline constexpr std::uint32_t kRegTextBufferSize = 255;

// Short name of a Location code: "Unknown", "ISA", "SER", "ETH", "PCI",
// "USB", "Invalid" (also for codes above 6).
const char* LocationShortName(std::uint32_t location);

bool IsDeviceNumber(int device);                // 0 to 7
bool IsConfigLocation(std::uint32_t location);  // 1 to 5: has per-location keys
bool IsEnumeration(std::uint32_t enumeration);  // 0 to 7

// "Device%d" and "Zimo%s%d" (relative to the root key); empty for numbers
// that name no key.
std::string DeviceKeyName(int device);
std::string LocationKeyName(std::uint32_t location, std::uint32_t enumeration);

// The class text given to keys this process creates (kLibraryKeyClass unless
// the server's build sets kServerKeyClass at start-up).
void SetCreatedKeyClass(std::string_view class_text);
std::string CreatedKeyClass();

// An open registry key, closed when the owner goes.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(platform::HKey handle) : handle_(handle) {}
  ~RegKey();
  RegKey(RegKey&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  bool is_open() const { return handle_ != 0; }
  platform::HKey handle() const { return handle_; }
  // Hands the handle to the caller, who closes it with RegCloseKey.
  platform::HKey Release() { return std::exchange(handle_, 0); }

 private:
  platform::HKey handle_ = 0;
};

// Opens the root key, or the key at `sub_key` (a path relative to the root)
// when it is not empty, with full access; with `create` missing keys are
// made. Not open on failure.
RegKey OpenDriverRegKey(std::string_view sub_key, bool create);
RegKey OpenDeviceRegKey(int device, bool create);
RegKey OpenLocationRegKey(std::uint32_t location, std::uint32_t enumeration, bool create);

// 1 when the key exists (nothing is created), else 0.
int DeviceKeyExists(int device);
int LocationKeyExists(std::uint32_t location, std::uint32_t enumeration);
// Removes the root's "Device%d" subtree, NC keys included. 1 if removed; 0
// if the root will not open or removal fails. Never creates keys.
int DeleteDeviceKey(int device);

// Getters return 1 on a successful read; otherwise 0, and *out holds the
// default (a null default string counts as ""). Setters return 1 or 0.
int GetRootRegString(const char* name, std::string* out, const char* default_text);
int SetRootRegString(const char* name, const char* text);
int GetDeviceRegString(int device, const char* name, std::string* out, const char* default_text);
int SetDeviceRegString(int device, const char* name, const char* text);
int GetLocationRegString(std::uint32_t location, std::uint32_t enumeration, const char* name,
                         std::string* out, const char* default_text);
int SetLocationRegString(std::uint32_t location, std::uint32_t enumeration, const char* name,
                         const char* text);

int GetDeviceRegDword(int device, const char* name, std::uint32_t* out,
                      std::uint32_t default_value);
int SetDeviceRegDword(int device, const char* name, std::uint32_t value);
int GetLocationRegDword(std::uint32_t location, std::uint32_t enumeration, const char* name,
                        std::uint32_t* out, std::uint32_t default_value);
int SetLocationRegDword(std::uint32_t location, std::uint32_t enumeration, const char* name,
                        std::uint32_t value);

// Like the location accessors above, but the location key is found through
// the device's own "Location" and "Enumeration" values (each defaulting to
// 0). A device never registered has no such key: getters yield the default
// and setters fail.
int GetDeviceLocationDword(int device, const char* name, std::uint32_t* out,
                           std::uint32_t default_value);
int SetDeviceLocationDword(int device, const char* name, std::uint32_t value);

// The lowest device number whose key exists and whose "Location" (default 0)
// and "Enumeration" (default kNoEnumeration) equal the arguments. 1 and the
// number in *device when found; else 0 with 0 in *device. Creates nothing.
int FindDeviceByLocation(std::uint32_t location, std::uint32_t enumeration, int* device);

// Stores "Location" and "Enumeration" under the device key, creating the key
// if needed, and mirrors them into the device's shared block if `table` is
// non-null. Rejected with 0 and no change unless device is 0..7, Location
// 1..5 and Enumeration 0..7. Returns 1 once both values are stored.
int RegisterDevice(int device, std::uint32_t location, std::uint32_t enumeration,
                   SharedDeviceTable* table);

// Marks the device removed: Location 0 and Enumeration kNoEnumeration in its
// shared block when the table is mapped, and in its key when that exists (the
// key stays, so later device numbers keep counting). 1 when done, 0 for a
// device number outside 0 to 7 or a failed write.
int UnregisterDevice(int device, SharedDeviceTable* table);

// Counts Device0, Device1, ... until the first gap (8 at most). Keys of
// removed devices still count. Never creates keys.
int CountDeviceKeys();

}  // namespace zimo::corvan
