// The device properties dialog's logic: the DPR options of one ISA, PCI,
// USB or Ethernet device, kept in its per-location registry key. Which
// controls show and which can be changed follow the device's Location and
// the "DPRAM Automatic Functions" box.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zimo::corvan::dialogs {

inline constexpr int kMotorBoxes = 8;
inline constexpr char kCannotSavePropertiesText[] =
    "The device properties could not be written to the registry.";

class DeviceProperties {
 public:
  // Keeps the device, sets the device caption and reads the device's
  // Location and Enumeration.
  explicit DeviceProperties(int device);

  // Opening: the IP address (Ethernet), the Location and Enumeration again,
  // then every value with its default.
  void Load();
  // OK: writes the eight values (the IP address is only shown); false when
  // a write failed.
  bool Ok();

  int device() const { return device_; }
  std::uint32_t location() const { return location_; }
  std::uint32_t enumeration() const { return enumeration_; }
  const std::string& caption() const { return caption_; }

  // What shows: the interrupt box on PCI devices, the IP address (never
  // editable) on Ethernet devices.
  bool interrupts_visible() const;
  bool ip_address_visible() const;
  // The update boxes, the three rates and the motor boxes follow the
  // automatic functions box.
  bool dependents_enabled() const { return auto_active_; }
  // "dotted" text of the card's address.
  std::string ip_address_text() const;

  bool auto_active() const { return auto_active_; }
  // Clearing it also clears both update boxes.
  void SetAutoActive(bool on);
  bool motor(int box) const;  // box 1 to 8
  void SetMotor(int box, bool on);

  bool realtime_active = false;
  bool background_active = false;
  std::uint32_t realtime_period = 20;
  std::uint32_t background_period = 20;
  std::uint32_t monitor_period = 20;
  bool enable_interrupts = false;

  std::uint32_t motor_mask() const { return motor_mask_; }

 private:
  int device_;
  std::uint32_t location_ = 0;
  std::uint32_t enumeration_ = 0;
  std::string caption_;
  bool auto_active_ = false;
  // Bits 0 to 7 are the motor boxes. Bits above them belong to motors this
  // dialog does not show; they are kept as stored.
  std::uint32_t motor_mask_ = 1;
  std::uint32_t ip_address_ = 0;
};

}  // namespace zimo::corvan::dialogs
