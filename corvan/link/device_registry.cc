#include "link/device_registry.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

namespace zimo::corvan {
namespace {

namespace reg = platform;

constexpr const char* kLocationShortNames[] = {"Unknown", "ISA", "SER",    "ETH",
                                               "PCI",     "USB", "Invalid"};

std::mutex& KeyClassMutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& KeyClass() {
  static std::string key_class = kLibraryKeyClass;
  return key_class;
}

std::string RootPath(std::string_view sub_key) {
  std::string path = kDriverRootKeyPath;
  if (!sub_key.empty()) {
    path += '\\';
    path += sub_key;
  }
  return path;
}

// A registry read or write gets no key for a path that names none.
RegKey OpenPath(const std::string& relative, bool create) {
  reg::HKey handle = 0;
  const std::string path = RootPath(relative);
  int32_t rc;
  if (create) {
    const std::string key_class = CreatedKeyClass();
    rc = reg::RegCreateKeyExA(reg::kHkeyLocalMachine, path.c_str(), 0, key_class.c_str(),
                              reg::kRegOptionNonVolatile, reg::kKeyAllAccess, nullptr, &handle,
                              nullptr);
  } else {
    rc = reg::RegOpenKeyExA(reg::kHkeyLocalMachine, path.c_str(), 0, reg::kKeyAllAccess, &handle);
  }
  return rc == reg::win32::kErrorSuccess ? RegKey(handle) : RegKey();
}

bool QueryDword(const RegKey& key, const char* name, std::uint32_t* value) {
  if (!key.is_open()) return false;
  std::uint32_t type = 0;
  std::uint32_t data = 0;
  std::uint32_t size = sizeof data;
  const int32_t rc = reg::RegQueryValueExA(key.handle(), name, nullptr, &type,
                                           reinterpret_cast<std::uint8_t*>(&data), &size);
  if (rc != reg::win32::kErrorSuccess || type != reg::kRegDword || size != sizeof data)
    return false;
  *value = data;
  return true;
}

bool QueryText(const RegKey& key, const char* name, std::string* text) {
  if (!key.is_open()) return false;
  char buffer[kRegTextBufferSize];
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  const int32_t rc = reg::RegQueryValueExA(key.handle(), name, nullptr, &type,
                                           reinterpret_cast<std::uint8_t*>(buffer), &size);
  if (rc != reg::win32::kErrorSuccess || (type != reg::kRegSz && type != reg::kRegExpandSz)) {
    return false;
  }
  text->assign(buffer, strnlen(buffer, size));
  return true;
}

bool SetDword(const RegKey& key, const char* name, std::uint32_t value) {
  return key.is_open() && reg::RegSetValueExA(key.handle(), name, 0, reg::kRegDword,
                                              reinterpret_cast<const std::uint8_t*>(&value),
                                              sizeof value) == reg::win32::kErrorSuccess;
}

bool SetText(const RegKey& key, const char* name, const char* text) {
  if (text == nullptr) text = "";
  return key.is_open() && reg::RegSetValueExA(key.handle(), name, 0, reg::kRegSz,
                                              reinterpret_cast<const std::uint8_t*>(text),
                                              static_cast<std::uint32_t>(std::strlen(text) + 1)) ==
                              reg::win32::kErrorSuccess;
}

int ReadDword(const RegKey& key, const char* name, std::uint32_t* out,
              std::uint32_t default_value) {
  if (out == nullptr) return 0;
  if (QueryDword(key, name, out)) return 1;
  *out = default_value;
  return 0;
}

int ReadText(const RegKey& key, const char* name, std::string* out, const char* default_text) {
  if (out == nullptr) return 0;
  if (QueryText(key, name, out)) return 1;
  out->assign(default_text == nullptr ? "" : default_text);
  return 0;
}

// The device's registered Location and Enumeration, 0 for what is missing.
void RegisteredLocation(int device, std::uint32_t* location, std::uint32_t* enumeration) {
  GetDeviceRegDword(device, kLocationValue, location, 0);
  GetDeviceRegDword(device, kEnumerationValue, enumeration, 0);
}

}  // namespace

RegKey::~RegKey() {
  if (handle_ != 0) reg::RegCloseKey(handle_);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    if (handle_ != 0) reg::RegCloseKey(handle_);
    handle_ = std::exchange(other.handle_, 0);
  }
  return *this;
}

const char* LocationShortName(std::uint32_t location) {
  return location < std::size(kLocationShortNames) ? kLocationShortNames[location]
                                                   : kLocationShortNames[kLocationInvalid];
}

bool IsDeviceNumber(int device) { return device >= 0 && device < kRealDevices; }
bool IsConfigLocation(std::uint32_t location) {
  return location >= kLocationIsa && location <= kLocationUsb;
}
bool IsEnumeration(std::uint32_t enumeration) { return enumeration < kEnumerationsPerLocation; }

std::string DeviceKeyName(int device) {
  return IsDeviceNumber(device) ? "Device" + std::to_string(device) : std::string();
}

std::string LocationKeyName(std::uint32_t location, std::uint32_t enumeration) {
  if (!IsConfigLocation(location) || !IsEnumeration(enumeration)) return {};
  return std::string("Zimo") + LocationShortName(location) + std::to_string(enumeration);
}

void SetCreatedKeyClass(std::string_view class_text) {
  std::lock_guard lock(KeyClassMutex());
  KeyClass() = class_text;
}

std::string CreatedKeyClass() {
  std::lock_guard lock(KeyClassMutex());
  return KeyClass();
}

RegKey OpenDriverRegKey(std::string_view sub_key, bool create) {
  return OpenPath(std::string(sub_key), create);
}

RegKey OpenDeviceRegKey(int device, bool create) {
  if (!IsDeviceNumber(device)) return {};
  return OpenPath(DeviceKeyName(device), create);
}

RegKey OpenLocationRegKey(std::uint32_t location, std::uint32_t enumeration, bool create) {
  const std::string name = LocationKeyName(location, enumeration);
  if (name.empty()) return {};
  return OpenPath(name, create);
}

int DeviceKeyExists(int device) { return OpenDeviceRegKey(device, false).is_open() ? 1 : 0; }

int LocationKeyExists(std::uint32_t location, std::uint32_t enumeration) {
  return OpenLocationRegKey(location, enumeration, false).is_open() ? 1 : 0;
}

int DeleteDeviceKey(int device) {
  if (!IsDeviceNumber(device)) return 0;
  RegKey root = OpenDriverRegKey({}, false);
  if (!root.is_open()) return 0;
  // The device's NC keys go with it; a plain key delete would refuse a
  // device that has NC settings.
  const std::string name = DeviceKeyName(device);
  return reg::RegDeleteTreeA(root.handle(), name.c_str()) == reg::win32::kErrorSuccess ? 1 : 0;
}

int GetRootRegString(const char* name, std::string* out, const char* default_text) {
  return ReadText(OpenDriverRegKey({}, true), name, out, default_text);
}

int SetRootRegString(const char* name, const char* text) {
  return SetText(OpenDriverRegKey({}, true), name, text) ? 1 : 0;
}

int GetDeviceRegString(int device, const char* name, std::string* out, const char* default_text) {
  return ReadText(OpenDeviceRegKey(device, true), name, out, default_text);
}

int SetDeviceRegString(int device, const char* name, const char* text) {
  return SetText(OpenDeviceRegKey(device, true), name, text) ? 1 : 0;
}

int GetLocationRegString(std::uint32_t location, std::uint32_t enumeration, const char* name,
                         std::string* out, const char* default_text) {
  return ReadText(OpenLocationRegKey(location, enumeration, true), name, out, default_text);
}

int SetLocationRegString(std::uint32_t location, std::uint32_t enumeration, const char* name,
                         const char* text) {
  return SetText(OpenLocationRegKey(location, enumeration, true), name, text) ? 1 : 0;
}

int GetDeviceRegDword(int device, const char* name, std::uint32_t* out,
                      std::uint32_t default_value) {
  return ReadDword(OpenDeviceRegKey(device, true), name, out, default_value);
}

int SetDeviceRegDword(int device, const char* name, std::uint32_t value) {
  return SetDword(OpenDeviceRegKey(device, true), name, value) ? 1 : 0;
}

int GetLocationRegDword(std::uint32_t location, std::uint32_t enumeration, const char* name,
                        std::uint32_t* out, std::uint32_t default_value) {
  return ReadDword(OpenLocationRegKey(location, enumeration, true), name, out, default_value);
}

int SetLocationRegDword(std::uint32_t location, std::uint32_t enumeration, const char* name,
                        std::uint32_t value) {
  return SetDword(OpenLocationRegKey(location, enumeration, true), name, value) ? 1 : 0;
}

int GetDeviceLocationDword(int device, const char* name, std::uint32_t* out,
                           std::uint32_t default_value) {
  if (!IsDeviceNumber(device)) return ReadDword(RegKey(), name, out, default_value);
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
  RegisteredLocation(device, &location, &enumeration);
  return GetLocationRegDword(location, enumeration, name, out, default_value);
}

int SetDeviceLocationDword(int device, const char* name, std::uint32_t value) {
  if (!IsDeviceNumber(device)) return 0;
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
  RegisteredLocation(device, &location, &enumeration);
  return SetLocationRegDword(location, enumeration, name, value);
}

int FindDeviceByLocation(std::uint32_t location, std::uint32_t enumeration, int* device) {
  if (device != nullptr) *device = 0;
  // Removed devices carry Location 0; they are no answer to any lookup.
  if (!IsConfigLocation(location)) return 0;
  for (int d = 0; d < kRealDevices; ++d) {
    RegKey key = OpenDeviceRegKey(d, false);
    if (!key.is_open()) continue;
    std::uint32_t found_location = 0;
    std::uint32_t found_enumeration = 0;
    ReadDword(key, kLocationValue, &found_location, 0);
    ReadDword(key, kEnumerationValue, &found_enumeration, kNoEnumeration);
    if (found_location == location && found_enumeration == enumeration) {
      if (device != nullptr) *device = d;
      return 1;
    }
  }
  return 0;
}

int RegisterDevice(int device, std::uint32_t location, std::uint32_t enumeration,
                   SharedDeviceTable* table) {
  if (!IsDeviceNumber(device) || !IsConfigLocation(location) || !IsEnumeration(enumeration)) {
    return 0;
  }
  RegKey key = OpenDeviceRegKey(device, true);
  if (!SetDword(key, kLocationValue, location) || !SetDword(key, kEnumerationValue, enumeration)) {
    return 0;
  }
  if (table != nullptr) {
    table->Devices[device].Location = location;
    table->Devices[device].Enumeration = enumeration;
  }
  return 1;
}

int UnregisterDevice(int device, SharedDeviceTable* table) {
  if (!IsDeviceNumber(device)) return 0;
  if (table != nullptr) {
    table->Devices[device].Location = kLocationUnknown;
    table->Devices[device].Enumeration = kNoEnumeration;
  }
  RegKey key = OpenDeviceRegKey(device, false);
  if (!key.is_open()) return 1;
  return SetDword(key, kLocationValue, kLocationUnknown) &&
                 SetDword(key, kEnumerationValue, kNoEnumeration)
             ? 1
             : 0;
}

int CountDeviceKeys() {
  int count = 0;
  while (count < kRealDevices && DeviceKeyExists(count)) ++count;
  return count;
}

}  // namespace zimo::corvan
