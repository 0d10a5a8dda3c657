#include "link/drv_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corvan/registry_api.h"
#include "link/text_utils.h"

namespace zimo::corvan {
namespace {

namespace reg = platform;
namespace win32 = platform::win32;

constexpr char kMapperKeyPath[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Motionmap";
constexpr char kMapperValue[] = "Mapping Name";
// Room for any number formatted with "%lf" (DBL_MAX has 309 digits before
// the point), so every stored number reads back.
constexpr std::uint32_t kDoubleTextSize = 330;

bool IsDevice(std::uint32_t device) { return device < static_cast<std::uint32_t>(kRealDevices); }

RegKey OpenNcKey(std::uint32_t device, std::uint32_t nc, const char* section, bool create) {
  const std::string path = NcKeyPath(device, nc, section);
  if (path.empty()) return {};
  return OpenDriverRegKey(path, create);
}

// A missing key counts as a missing value.
std::int32_t QueryDword(const RegKey& key, const char* name, std::uint32_t* value,
                        std::uint32_t default_value) {
  std::int32_t rc = win32::kErrorFileNotFound;
  if (key.is_open()) {
    std::uint32_t type = reg::kRegNone;
    std::uint32_t data = 0;
    std::uint32_t size = sizeof data;
    rc = reg::RegQueryValueExA(key.handle(), name, nullptr, &type,
                               reinterpret_cast<std::uint8_t*>(&data), &size);
    // A value of another type (a text, a binary of any length) is missing,
    // whatever the query said about its size.
    if ((rc == win32::kErrorSuccess || rc == win32::kErrorMoreData) && type != reg::kRegDword) {
      rc = win32::kErrorFileNotFound;
    } else if (rc == win32::kErrorSuccess && size != sizeof data) {
      rc = win32::kErrorFileNotFound;
    }
    if (rc == win32::kErrorSuccess) {
      if (value != nullptr) *value = data;
      return rc;
    }
  }
  if (value != nullptr) *value = default_value;
  return rc;
}

std::int32_t QueryString(const RegKey& key, const char* name, char* buffer, std::uint32_t size,
                         const char* default_text) {
  if (buffer == nullptr || size == 0) return win32::kErrorInvalidParameter;
  std::int32_t rc = win32::kErrorFileNotFound;
  if (key.is_open()) {
    // Read into a copy, so a failed query leaves no half text behind and the
    // result can be terminated whatever the stored data holds.
    std::vector<char> data(size);
    std::uint32_t type = reg::kRegNone;
    std::uint32_t data_size = size;
    rc = reg::RegQueryValueExA(key.handle(), name, nullptr, &type,
                               reinterpret_cast<std::uint8_t*>(data.data()), &data_size);
    if ((rc == win32::kErrorSuccess || rc == win32::kErrorMoreData) && type != reg::kRegSz &&
        type != reg::kRegExpandSz) {
      rc = win32::kErrorFileNotFound;
    }
    if (rc == win32::kErrorSuccess) {
      const std::size_t length = strnlen(data.data(), data_size);
      if (length < size) {
        std::memcpy(buffer, data.data(), length);
        buffer[length] = '\0';
        return rc;
      }
      rc = win32::kErrorMoreData;  // no room for the terminator
    }
  }
  CopyTerminated(buffer, size, default_text);
  return rc;
}

std::int32_t SetDword(const RegKey& key, const char* name, std::uint32_t value) {
  if (!key.is_open()) return win32::kErrorFileNotFound;
  return reg::RegSetValueExA(key.handle(), name, 0, reg::kRegDword,
                             reinterpret_cast<const std::uint8_t*>(&value), sizeof value);
}

std::int32_t SetString(const RegKey& key, const char* name, const char* text) {
  if (!key.is_open()) return win32::kErrorFileNotFound;
  if (text == nullptr) text = "";
  return reg::RegSetValueExA(key.handle(), name, 0, reg::kRegSz,
                             reinterpret_cast<const std::uint8_t*>(text),
                             static_cast<std::uint32_t>(std::strlen(text) + 1));
}

RegKey DeviceKey(std::uint32_t device) {
  return IsDevice(device) ? OpenDeviceRegKey(static_cast<int>(device), true) : RegKey();
}

}  // namespace

std::string NcKeyPath(std::uint32_t device, std::uint32_t nc, const char* section) {
  if (!IsDevice(device)) return {};
  std::string path = DeviceKeyName(static_cast<int>(device)) + "\\Nc" + std::to_string(nc);
  if (section != nullptr && section[0] != '\0') {
    path += '\\';
    path += section;
  }
  return path;
}

int NcValueNames::Next(std::uint32_t device, std::uint32_t nc, const char* section,
                       std::string* name) {
  if (section != nullptr) {
    key_ = OpenNcKey(device, nc, section, false);
    index_ = 0;
  }
  while (key_.is_open()) {
    char buffer[kMaxName + 1];
    std::uint32_t length = sizeof buffer;
    const std::int32_t rc = reg::RegEnumValueA(key_.handle(), index_++, buffer, &length, nullptr,
                                               nullptr, nullptr, nullptr);
    if (rc == win32::kErrorMoreData) continue;
    if (rc != win32::kErrorSuccess) break;
    if (name != nullptr) name->assign(buffer, length);
    return 1;
  }
  Close();
  return 0;
}

void NcValueNames::Close() {
  key_ = RegKey();
  index_ = 0;
}

}  // namespace zimo::corvan

using zimo::corvan::RegKey;

extern "C" {

std::uint32_t DrvOpenRegKey(std::uint32_t /*number*/, const char* sub_key) {
  return zimo::corvan::OpenDriverRegKey(sub_key == nullptr ? "" : sub_key, true).Release();
}

std::uint32_t DrvOpenDeviceKey(std::uint32_t device) {
  return zimo::corvan::DeviceKey(device).Release();
}

std::int32_t DrvNumberOfDevices(void) { return zimo::corvan::CountDeviceKeys(); }

std::int32_t DrvSetDeviceDword(std::uint32_t device, const char* value_name, std::uint32_t value) {
  return zimo::corvan::SetDword(zimo::corvan::DeviceKey(device), value_name, value);
}

std::int32_t DrvQueryDeviceDword(std::uint32_t device, const char* value_name, std::uint32_t* value,
                                 std::uint32_t default_value) {
  return zimo::corvan::QueryDword(zimo::corvan::DeviceKey(device), value_name, value,
                                  default_value);
}

std::int32_t DrvSetDeviceString(std::uint32_t device, const char* value_name, const char* text) {
  return zimo::corvan::SetString(zimo::corvan::DeviceKey(device), value_name, text);
}

std::int32_t DrvQueryDeviceString(std::uint32_t device, const char* value_name, char* buffer,
                                  std::uint32_t size, const char* default_text) {
  return zimo::corvan::QueryString(zimo::corvan::DeviceKey(device), value_name, buffer, size,
                                   default_text);
}

std::uint32_t DrvOpenNcKey(std::uint32_t device, std::uint32_t nc, const char* section) {
  return zimo::corvan::OpenNcKey(device, nc, section, true).Release();
}

std::int32_t DrvSetNcDword(std::uint32_t device, std::uint32_t nc, const char* section,
                           const char* value_name, std::uint32_t value) {
  return zimo::corvan::SetDword(zimo::corvan::OpenNcKey(device, nc, section, true), value_name,
                                value);
}

std::int32_t DrvQueryNcDword(std::uint32_t device, std::uint32_t nc, const char* section,
                             const char* value_name, std::uint32_t* value,
                             std::uint32_t default_value) {
  return zimo::corvan::QueryDword(zimo::corvan::OpenNcKey(device, nc, section, true), value_name,
                                  value, default_value);
}

std::int32_t DrvSetNcString(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, const char* text) {
  return zimo::corvan::SetString(zimo::corvan::OpenNcKey(device, nc, section, true), value_name,
                                 text);
}

std::int32_t DrvQueryNcString(std::uint32_t device, std::uint32_t nc, const char* section,
                              const char* value_name, char* buffer, std::uint32_t size,
                              const char* default_text) {
  return zimo::corvan::QueryString(zimo::corvan::OpenNcKey(device, nc, section, true), value_name,
                                   buffer, size, default_text);
}

std::int32_t DrvSetNcDouble(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, double value) {
  char text[zimo::corvan::kDoubleTextSize];
  std::snprintf(text, sizeof text, "%lf", value);
  return DrvSetNcString(device, nc, section, value_name, text);
}

std::int32_t DrvQueryNcDouble(std::uint32_t device, std::uint32_t nc, const char* section,
                              const char* value_name, double* value, double default_value) {
  char default_text[zimo::corvan::kDoubleTextSize];
  std::snprintf(default_text, sizeof default_text, "%lf", default_value);
  char text[zimo::corvan::kDoubleTextSize];
  const std::int32_t rc =
      DrvQueryNcString(device, nc, section, value_name, text, sizeof text, default_text);
  if (value != nullptr) {
    // The default as given, not its text, which may have been cut.
    *value = rc == zimo::platform::win32::kErrorSuccess ? std::atof(text) : default_value;
  }
  return rc;
}

std::int32_t DrvSetNcBool(std::uint32_t device, std::uint32_t nc, const char* section,
                          const char* value_name, std::int32_t flag) {
  return DrvSetNcDword(device, nc, section, value_name, flag != 0 ? 1 : 0);
}

std::int32_t DrvQueryNcBool(std::uint32_t device, std::uint32_t nc, const char* section,
                            const char* value_name, std::int32_t* flag, std::int32_t default_flag) {
  std::uint32_t value = 0;
  const std::int32_t rc =
      DrvQueryNcDword(device, nc, section, value_name, &value, default_flag != 0 ? 1 : 0);
  if (flag != nullptr) {
    *flag = rc == zimo::platform::win32::kErrorSuccess ? (value != 0 ? 1 : 0) : default_flag;
  }
  return rc;
}

std::int32_t DrvSetMapperName(const char* name) {
  namespace reg = zimo::platform;
  reg::HKey handle = 0;
  const std::int32_t rc = reg::RegOpenKeyExA(reg::kHkeyLocalMachine, zimo::corvan::kMapperKeyPath,
                                             0, reg::kKeyWrite, &handle);
  if (rc != reg::win32::kErrorSuccess) return rc;
  RegKey key(handle);
  return zimo::corvan::SetString(key, zimo::corvan::kMapperValue, name);
}

}  // extern "C"
