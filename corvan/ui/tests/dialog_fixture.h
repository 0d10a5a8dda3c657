// What the dialog tests share: a fresh home with a message recorder
// installed, a scripted stand-in for the screen (the nested dialogs, the
// file chooser and the firmware dialog) and a machine whose driver devices
// the test decides.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "logic/config_ui.h"
#include "logic/device_probe.h"
#include "platform/message.h"
#include "temp_home.h"

namespace zimo::corvan::dialogs::testing {

class ScriptedUi : public ConfigUi {
 public:
  std::optional<DeviceChoice> SelectAvailableDevice() override {
    ++selections;
    return selection_answer;
  }
  std::optional<int> SelectCommType() override {
    ++comm_type_runs;
    return comm_type_answer;
  }
  void EditDeviceProperties(int device) override {
    properties_devices.push_back(device);
    if (on_properties) on_properties(device);
  }
  void EditSerialPort(int device) override { serial_devices.push_back(device); }
  std::optional<std::string> ChooseFile(const FileChoiceRequest& request) override {
    file_requests.push_back(request);
    return file_answer;
  }
  bool RunFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                           const std::string& file_name) override {
    firmware_runs.push_back({location, enumeration, file_name});
    if (on_firmware) on_firmware();
    return firmware_dialog_available;
  }

  std::optional<DeviceChoice> selection_answer;
  int selections = 0;
  std::optional<int> comm_type_answer;
  int comm_type_runs = 0;
  std::vector<int> properties_devices;
  std::function<void(int)> on_properties;
  std::vector<int> serial_devices;
  std::optional<std::string> file_answer;
  std::vector<FileChoiceRequest> file_requests;
  struct FirmwareRun {
    std::uint32_t location;
    std::uint32_t enumeration;
    std::string file_name;
  };
  std::vector<FirmwareRun> firmware_runs;
  std::function<void()> on_firmware;
  bool firmware_dialog_available = true;
};

// Driver devices present on the test's machine, by path
// ("\\.\ZIMOPCI1"), and the ISA units with what they report.
class ScriptedProbe : public DeviceProbe {
 public:
  bool DeviceOpens(std::string_view path) override { return present.count(std::string(path)) > 0; }
  IsaProbe ProbeIsa(int unit) override {
    auto it = isa.find(unit);
    return it == isa.end() ? IsaProbe{} : it->second;
  }
  std::set<std::string> present;
  std::map<int, IsaProbe> isa;
};

// A fresh home and a message recorder for each test.
class DialogTest : public ::testing::Test {
 protected:
  // The texts of the boxes shown so far.
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : recorder_.boxes()) texts.push_back(box.text);
    return texts;
  }

  zimo::testing::TempHome home_;
  platform::MessageRecorder recorder_;
  platform::ScopedMessageService messages_{recorder_};
  ScriptedUi ui_;
  ScriptedProbe probe_;
};

}  // namespace zimo::corvan::dialogs::testing
