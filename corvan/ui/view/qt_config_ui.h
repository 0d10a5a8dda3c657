// The configuration dialogs on screen: the nested dialogs, the open-file
// dialog and the firmware download dialog, as the dialogs' logic asks for
// them. Every request needs a window application on the calling thread;
// without one nothing is shown and the request is answered as cancelled.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "logic/config_ui.h"
#include "logic/device_probe.h"
#include "logic/device_test.h"

namespace zimo::corvan::dialogs::view {

// The firmware download dialog: runs modally for a device interface and a
// firmware file (its full path). The library's own dialog unless replaced.
using FirmwareDownloadDialog = std::function<void(std::uint32_t location, std::uint32_t enumeration,
                                                  const std::string& file_name)>;
void SetFirmwareDownloadDialog(FirmwareDownloadDialog dialog);

class QtConfigUi : public ConfigUi {
 public:
  explicit QtConfigUi(DeviceProbe& probe) : probe_(probe) {}

  std::optional<DeviceChoice> SelectAvailableDevice() override;
  std::optional<int> SelectCommType() override;
  void EditDeviceProperties(int device) override;
  void EditSerialPort(int device) override;
  std::optional<std::string> ChooseFile(const FileChoiceRequest& request) override;
  bool RunFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                           const std::string& file_name) override;

  DeviceTest& tester() { return tester_; }

 private:
  DeviceProbe& probe_;
  DeviceTest tester_{*this};
};

// Whether windows can be shown on this thread now.
bool CanShowWindows();

}  // namespace zimo::corvan::dialogs::view
