#include "link/location_settings.h"

#include <cstring>

#include "link/device_registry.h"

namespace zimo::corvan {
namespace {

constexpr std::size_t RotOffset(int n) {
  return offsetof(DeviceConfigBlock, DualPortRamRot) + 4 * static_cast<std::size_t>(n - 1);
}

// An Ethernet location reads its address first, then the set every bus-like
// location (ISA, PCI, USB) reads; both lists share one array.
constexpr LocationSetting kEthernetSettings[] = {
    {"IPAddress", offsetof(DeviceConfigBlock, IPAddress), kDefaultIpAddress},
    {"BUSCharTimeout", offsetof(DeviceConfigBlock, BUSCharTimeout), 1000},
    {"BUSFlushTimeout", offsetof(DeviceConfigBlock, BUSFlushTimeout), 10},
    {"DualPortRamRot1", RotOffset(1), 1024},
    {"DualPortRamRot2", RotOffset(2), 1024},
    {"DualPortRamRot3", RotOffset(3), 0},
    {"DualPortRamRot4", RotOffset(4), 0},
    {"DualPortRamRot5", RotOffset(5), 0},
    {"DualPortRamRot6", RotOffset(6), 0},
    {"DualPortRamRot7", RotOffset(7), 0},
    {"DualPortRamRot8", RotOffset(8), 0},
    {"DualPortRamVar", offsetof(DeviceConfigBlock, DualPortRamVar), 3424},
    {"DPRBackTimeout", offsetof(DeviceConfigBlock, DPRBackTimeout), 10},
    {"DPRRTTimeout", offsetof(DeviceConfigBlock, DPRRTTimeout), 2},
    {"DPRCharTimeout", offsetof(DeviceConfigBlock, DPRCharTimeout), 1000},
    {"DPRFlushTimeout", offsetof(DeviceConfigBlock, DPRFlushTimeout), 20},
    {"DPRAutoActive", offsetof(DeviceConfigBlock, DPRAutoActive), 0},
    {"DPRRealTimeActive", offsetof(DeviceConfigBlock, DPRRealTimeActive), 0},
    {"DPRBackgroundActive", offsetof(DeviceConfigBlock, DPRBackgroundActive), 0},
    {"DPRRealTimePeriod", offsetof(DeviceConfigBlock, DPRRealTimePeriod), 20},
    {"DPRBackgroundPeriod", offsetof(DeviceConfigBlock, DPRBackgroundPeriod), 20},
    {"EnableInterrupts", offsetof(DeviceConfigBlock, EnableInterrupts), 0},
};

constexpr LocationSetting kSerialSettings[] = {
    {"SerialPortNumber", offsetof(DeviceConfigBlock, SerialPortNumber), 0},
    {"SerialBaudrate", offsetof(DeviceConfigBlock, SerialBaudrate), 38400},
    {"SerialParity", offsetof(DeviceConfigBlock, SerialParity), 0},
    {"SerCharTimeout", offsetof(DeviceConfigBlock, SerCharTimeout), 2000},
    {"SerFlushTimeout", offsetof(DeviceConfigBlock, SerFlushTimeout), 30},
};

// One minute for a character or a response, ten seconds for a flush: the
// Part's own waits stay well inside these.
constexpr SettingRange kTimingRanges[] = {
    {"SerCharTimeout", 0, 60000},  {"SerFlushTimeout", 0, 10000}, {"BUSCharTimeout", 0, 60000},
    {"BUSFlushTimeout", 0, 10000}, {"DPRBackTimeout", 0, 60000},  {"DPRRTTimeout", 0, 60000},
    {"DPRCharTimeout", 0, 60000},  {"DPRFlushTimeout", 0, 10000},
};

std::uint32_t FieldAt(const DeviceConfigBlock& block, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&block) + offset, sizeof value);
  return value;
}

void SetFieldAt(DeviceConfigBlock& block, std::size_t offset, std::uint32_t value) {
  std::memcpy(reinterpret_cast<unsigned char*>(&block) + offset, &value, sizeof value);
}

}  // namespace

std::span<const LocationSetting> SettingsOfLocation(std::uint32_t location) {
  const std::span<const LocationSetting> ethernet(kEthernetSettings);
  switch (location) {
    case kLocationSerial:
      return kSerialSettings;
    case kLocationEthernet:
      return ethernet;
    case kLocationIsa:
    case kLocationPci:
    case kLocationUsb:
      return ethernet.subspan(1);
    default:
      return {};
  }
}

std::span<const SettingRange> TimingSettingRanges() { return kTimingRanges; }

bool CheckLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                           const char** bad_key) {
  if (bad_key != nullptr) *bad_key = nullptr;
  if (!IsEnumeration(enumeration)) return true;
  for (const LocationSetting& s : SettingsOfLocation(location)) {
    for (const SettingRange& range : kTimingRanges) {
      if (std::strcmp(range.name, s.name) != 0) continue;
      std::uint32_t value = 0;
      GetLocationRegDword(location, enumeration, s.name, &value, s.default_value);
      if (value < range.least || value > range.most) {
        if (bad_key != nullptr) *bad_key = s.name;
        return false;
      }
    }
  }
  return true;
}

void ReadLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                          DeviceConfigBlock& block) {
  if (!IsEnumeration(enumeration)) return;
  for (const LocationSetting& s : SettingsOfLocation(location)) {
    std::uint32_t value = 0;
    GetLocationRegDword(location, enumeration, s.name, &value, s.default_value);
    SetFieldAt(block, s.offset, value);
  }
}

int WriteLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                          DeviceConfigBlock block) {
  if (!IsEnumeration(enumeration)) return 1;
  int result = 1;
  for (const LocationSetting& s : SettingsOfLocation(location)) {
    if (!SetLocationRegDword(location, enumeration, s.name, FieldAt(block, s.offset))) result = 0;
  }
  return result;
}

void LoadDeviceSettings(int device, DeviceConfigBlock& block, const SharedDeviceTable* table) {
  if (!IsDeviceNumber(device)) return;
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
  if (table != nullptr) {
    location = table->Devices[device].Location;
    enumeration = table->Devices[device].Enumeration;
    block.Location = location;
  } else {
    GetDeviceRegDword(device, kLocationValue, &location, 0);
    GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  }
  ReadLocationSettings(location, enumeration, block);
}

int WriteDeviceSettings(int device, DeviceConfigBlock block) {
  if (!IsDeviceNumber(device)) return 0;
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  return WriteLocationSettings(location, enumeration, block);
}

}  // namespace zimo::corvan
