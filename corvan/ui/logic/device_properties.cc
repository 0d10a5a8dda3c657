#include "logic/device_properties.h"

#include <cstdio>

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/location_settings.h"
#include "logic/dialog_messages.h"

namespace zimo::corvan::dialogs {

DeviceProperties::DeviceProperties(int device) : device_(device), caption_(DeviceCaption(device)) {
  GetDeviceRegDword(device_, kLocationValue, &location_, 0);
  GetDeviceRegDword(device_, kEnumerationValue, &enumeration_, 0);
}

void DeviceProperties::Load() {
  if (location_ == kLocationEthernet) {
    GetLocationRegDword(location_, enumeration_, "IPAddress", &ip_address_, kDefaultIpAddress);
  }
  GetDeviceRegDword(device_, kEnumerationValue, &enumeration_, 0);
  GetDeviceRegDword(device_, kLocationValue, &location_, 0);
  auto read = [this](const char* name, std::uint32_t default_value) {
    std::uint32_t value = default_value;
    GetLocationRegDword(location_, enumeration_, name, &value, default_value);
    return value;
  };
  auto_active_ = read("DPRAutoActive", 0) != 0;
  background_active = read("DPRBackgroundActive", 0) != 0;
  realtime_active = read("DPRRealTimeActive", 0) != 0;
  background_period = read("DPRBackgroundPeriod", 20);
  realtime_period = read("DPRRealTimePeriod", 20);
  motor_mask_ = read("DPRRealTimeMtrMask", 1);
  enable_interrupts = read("EnableInterrupts", 0) != 0;
  monitor_period = read("DPRMonitorPeriod", 20);
}

bool DeviceProperties::Ok() {
  struct Value {
    const char* name;
    std::uint32_t value;
  };
  const Value values[] = {
      {"DPRAutoActive", auto_active_ ? 1u : 0u},
      {"DPRBackgroundActive", background_active ? 1u : 0u},
      {"DPRRealTimeActive", realtime_active ? 1u : 0u},
      {"DPRBackgroundPeriod", background_period},
      {"DPRRealTimePeriod", realtime_period},
      {"DPRRealTimeMtrMask", motor_mask_},
      {"EnableInterrupts", enable_interrupts ? 1u : 0u},
      {"DPRMonitorPeriod", monitor_period},
  };
  bool all = true;
  for (const Value& v : values) {
    all = SetLocationRegDword(location_, enumeration_, v.name, v.value) != 0 && all;
  }
  return all;
}

bool DeviceProperties::interrupts_visible() const { return location_ == kLocationPci; }
bool DeviceProperties::ip_address_visible() const { return location_ == kLocationEthernet; }

std::string DeviceProperties::ip_address_text() const {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip_address_ >> 24) & 0xFF,
                (ip_address_ >> 16) & 0xFF, (ip_address_ >> 8) & 0xFF, ip_address_ & 0xFF);
  return text;
}

void DeviceProperties::SetAutoActive(bool on) {
  auto_active_ = on;
  if (!on) {
    realtime_active = false;
    background_active = false;
  }
}

bool DeviceProperties::motor(int box) const {
  if (box < 1 || box > kMotorBoxes) return false;
  return (motor_mask_ >> (box - 1) & 1u) != 0;
}

void DeviceProperties::SetMotor(int box, bool on) {
  if (box < 1 || box > kMotorBoxes) return;
  const std::uint32_t bit = 1u << (box - 1);
  motor_mask_ = on ? motor_mask_ | bit : motor_mask_ & ~bit;
}

}  // namespace zimo::corvan::dialogs
