// Model of the "Configure ZIMO Serial Port" dialog. It edits a device's
// baud rate, parity, RTS control, CTS output and both time-outs, all stored
// in the serial location key for the device's Enumeration. The port is shown
// but not changed: the transport opens the port its Enumeration names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zimo::corvan::dialogs {

inline constexpr std::array<std::uint32_t, 9> kBaudRates = {1200,  2400,  4800,  9600, 19200,
                                                            38400, 57600, 76800, 115200};
inline constexpr int kDefaultBaudIndex = 5;  // 38400
inline constexpr int kComPorts = 8;          // "COM1" .. "COM8"
inline constexpr std::array<const char*, 3> kParityNames = {"NONE", "ODD", "EVEN"};
// RTS control radio buttons, in their order.
inline constexpr std::array<const char*, 4> kRtsControlNames = {"Disabled", "Enabled",
                                                                "Handshake", "Toggle"};

inline constexpr char kCannotSaveSerialText[] =
    "The serial port settings could not be written to the registry.";

// The list index of a stored baud rate: any rate the list does not hold
// shows as 38400.
int BaudIndexOf(std::uint32_t baud);
// The rate of a list index; an index outside the list gives 38400.
std::uint32_t BaudOfIndex(int index);

class SerialPortSettings {
 public:
  // Keeps the device, sets the device caption and reads the device's
  // Enumeration.
  explicit SerialPortSettings(int device);

  // Opening: reads the Enumeration again and every setting with its default
  // and range.
  void Load();
  // Writes every setting to the serial key; false when a write failed.
  bool Save();
  // OK: registers the device as serial (Location 2), then saves.
  bool Ok();

  int device() const { return device_; }
  std::uint32_t enumeration() const { return enumeration_; }
  const std::string& caption() const { return caption_; }

  // The controls' values.
  int port_index = 0;
  int baud_index = 0;
  int parity_index = 0;
  bool cts_output = true;
  // 0 to 3, the checked radio button; another stored value checks none and
  // is written back unchanged.
  std::uint32_t rts_control = 0xFFFFFFFF;
  std::uint32_t char_timeout_ms = 0;
  std::uint32_t flush_timeout_ms = 0;

 private:
  int device_;
  std::uint32_t enumeration_ = 0;
  std::string caption_;
};

}  // namespace zimo::corvan::dialogs
