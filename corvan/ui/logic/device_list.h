// Model behind the "ZIMO Devices" dialog: a row per device 0..7 describing
// its configuration, plus the actions behind its buttons (add a card on an
// unused number, delete a registration, test, edit settings, launch either
// of the two user programs). Each refill reads the registry and the shared
// table afresh, so another process's changes appear as soon as a button is
// pressed or the selection moves.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "logic/config_ui.h"
#include "logic/device_probe.h"
#include "logic/device_settings.h"
#include "logic/device_test.h"

namespace zimo::corvan::dialogs {

inline constexpr char kUnableToRegisterText[] =
    "The device could not be registered: its settings cannot be written.";

class DeviceList {
 public:
  enum class End { kOk, kCancel };

  struct UserButton {
    bool visible = false;
    std::string caption;
  };

  DeviceList(ConfigUi& ui, DeviceProbe& probe, DeviceTest& tester, ProgramStarter start)
      : ui_(ui), probe_(probe), tester_(tester), start_(std::move(start)) {}

  // Dialog start: the user buttons' captions, then the first fill.
  void Start();
  // Builds the eight lines again and selects the current device's line.
  void Fill();
  // A new selection in the list: it becomes the current device, then a fill.
  void SelectionChanged(int index);
  // The button handlers first take the list's selection (0 to 7) as the
  // current device.
  void TakeSelection(int index) {
    if (index >= 0 && index < static_cast<int>(configured_.size())) current_ = index;
  }

  const std::vector<std::string>& lines() const { return lines_; }
  int current_device() const { return current_; }
  bool configured(int device) const { return configured_[device]; }
  const UserButton& user_button(int n) const { return user_buttons_[n == 2 ? 1 : 0]; }

  // Button states after a fill.
  bool insert_enabled() const { return !configured_[current_]; }
  bool remove_enabled() const { return configured_[current_]; }
  bool ok_enabled() const { return configured_[current_]; }
  bool test_enabled() const { return configured_[current_]; }
  bool properties_enabled() const { return configured_[current_]; }

  void Insert();
  void Remove();
  void Test();
  void Properties();
  // 1 when the program was started.
  int UserApp(int n);
  End DoubleClick() const { return configured_[current_] ? End::kOk : End::kCancel; }
  End Ok() const { return DoubleClick(); }

 private:
  std::string LineOf(int device);

  ConfigUi& ui_;
  DeviceProbe& probe_;
  DeviceTest& tester_;
  ProgramStarter start_;
  std::vector<std::string> lines_;
  int current_ = 0;
  std::array<std::uint32_t, 8> locations_{};
  std::array<bool, 8> configured_{};
  std::array<UserButton, 2> user_buttons_;
};

}  // namespace zimo::corvan::dialogs
