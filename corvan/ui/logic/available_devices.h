// The device selection dialog's logic ("Available ZIMO Devices"): the card
// interfaces present on this machine that no device number is registered
// for, refreshed every two seconds, and the Location and Enumeration of the
// line the user picks.
//
// A line's number is read whole: "COM12" is port 12, never port 1. A number
// that no device can be registered under (Enumerations are 0 to 7) is
// refused with a message and the dialog stays open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logic/config_ui.h"
#include "logic/device_probe.h"

namespace zimo::corvan::dialogs {

// The refresh timer: id 1, every 2000 ms while the dialog is shown.
inline constexpr int kRefreshTimerId = 1;
inline constexpr int kRefreshIntervalMs = 2000;

// The Location and Enumeration a selection line names.
struct LineChoice {
  bool has_number = false;      // the line has a digit
  std::uint32_t location = 0;   // 0 when no known kind is named
  std::uint64_t number = 0;     // the whole number from the first digit on
};
LineChoice ParseSelectionLine(std::string_view line);

class AvailableDevices {
 public:
  enum class Outcome { kEndOk, kStay };

  AvailableDevices(DeviceProbe& probe, ConfigUi& ui) : probe_(probe), ui_(ui) {}

  // Lists the unregistered interfaces again (dialog start and every timer
  // tick), keeping the selected index when the list had one.
  void Fill();
  const std::vector<std::string>& lines() const { return lines_; }
  // The selected line's index, -1 for none.
  int selection() const { return selection_; }
  void Select(int index);

  // OK: takes the selected line's choice and ends with OK (Location 0 when
  // nothing usable is selected); a line whose number is no Enumeration is
  // refused with a message.
  Outcome Ok();
  // Double-click: as OK, but only a line with a number ends the dialog.
  Outcome DoubleClick();
  // "New...": the comm-type dialog; its entry gives the Location (2 serial,
  // 3 Ethernet) and ends with OK.
  Outcome New();

  std::uint32_t location() const { return choice_.location; }
  std::uint32_t enumeration() const { return choice_.enumeration; }

 private:
  // Reads the selected line into choice_; false when refused.
  bool TakeChoice(bool* has_number);

  DeviceProbe& probe_;
  ConfigUi& ui_;
  std::vector<std::string> lines_;
  int selection_ = -1;
  DeviceChoice choice_;
};

}  // namespace zimo::corvan::dialogs
