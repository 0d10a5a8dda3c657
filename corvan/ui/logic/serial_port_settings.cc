#include "logic/serial_port_settings.h"

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "logic/dialog_messages.h"

namespace zimo::corvan::dialogs {
namespace {

std::uint32_t ReadSetting(std::uint32_t enumeration, const char* name,
                          std::uint32_t default_value) {
  std::uint32_t value = default_value;
  GetLocationRegDword(kLocationSerial, enumeration, name, &value, default_value);
  return value;
}

}  // namespace

int BaudIndexOf(std::uint32_t baud) {
  for (size_t i = 0; i < kBaudRates.size(); ++i) {
    if (kBaudRates[i] == baud) return static_cast<int>(i);
  }
  return kDefaultBaudIndex;
}

std::uint32_t BaudOfIndex(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRates.size()))
    return kBaudRates[kDefaultBaudIndex];
  return kBaudRates[index];
}

SerialPortSettings::SerialPortSettings(int device)
    : baud_index(kDefaultBaudIndex), device_(device), caption_(DeviceCaption(device)) {
  GetDeviceRegDword(device_, kEnumerationValue, &enumeration_, 0);
}

void SerialPortSettings::Load() {
  GetDeviceRegDword(device_, kEnumerationValue, &enumeration_, 0);
  const std::uint32_t port = ReadSetting(enumeration_, "SerialPortNumber", 0);
  port_index = port < kComPorts ? static_cast<int>(port) : 0;
  std::uint32_t baud = ReadSetting(enumeration_, "SerialBaudrate", 38400);
  if (baud < 1200 || baud > 115200) baud = 38400;
  baud_index = BaudIndexOf(baud);
  const std::uint32_t parity = ReadSetting(enumeration_, "SerialParity", 0);
  parity_index = parity <= 2 ? static_cast<int>(parity) : 0;
  char_timeout_ms = ReadSetting(enumeration_, "SerCharTimeout", 2000);
  flush_timeout_ms = ReadSetting(enumeration_, "SerFlushTimeout", 30);
  cts_output = ReadSetting(enumeration_, "SerialCTSOutput", 1) != 0;
  rts_control = ReadSetting(enumeration_, "SerialRTSControl", 1);
}

bool SerialPortSettings::Save() {
  struct Value {
    const char* name;
    std::uint32_t value;
  };
  const Value values[] = {
      {"SerialBaudrate", BaudOfIndex(baud_index)},
      {"SerialPortNumber", static_cast<std::uint32_t>(port_index)},
      {"SerialParity", static_cast<std::uint32_t>(parity_index)},
      {"SerCharTimeout", char_timeout_ms},
      {"SerFlushTimeout", flush_timeout_ms},
      {"SerialCTSOutput", cts_output ? 1u : 0u},
      {"SerialRTSControl", rts_control},
  };
  bool all = true;
  for (const Value& v : values) {
    all = SetLocationRegDword(kLocationSerial, enumeration_, v.name, v.value) != 0 && all;
  }
  return all;
}

bool SerialPortSettings::Ok() {
  const bool registered = SetDeviceRegDword(device_, kLocationValue, kLocationSerial) != 0;
  return Save() && registered;
}

}  // namespace zimo::corvan::dialogs
