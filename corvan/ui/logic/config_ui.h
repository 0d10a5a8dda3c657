// What the configuration dialogs' logic asks of the screen: the nested
// dialogs one dialog opens from another, the open-file dialog of the
// firmware chooser and the firmware download dialog. The Qt views provide
// it; tests provide their own answers, so every rule of the dialogs runs
// without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zimo::corvan::dialogs {

// A device interface picked in the device selection dialog.
struct DeviceChoice {
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
};

// An open-file dialog as the system describes it (Windows-style filter).
struct FileChoiceRequest {
  std::string default_extension;
  std::string initial_name;
  std::string filter;
  bool file_must_exist = true;
};

class ConfigUi {
 public:
  virtual ~ConfigUi() = default;

  // The device selection dialog, modal: its Location and Enumeration when
  // it ended with OK (Location 0 when nothing was chosen), else nothing.
  virtual std::optional<DeviceChoice> SelectAvailableDevice() = 0;
  // The comm-type dialog, modal: the checked entry's index (0 serial port,
  // 1 Ethernet) when it ended with OK.
  virtual std::optional<int> SelectCommType() = 0;
  // The device properties dialog and the serial port dialog for a device,
  // modal. They write what they change into the registry themselves.
  virtual void EditDeviceProperties(int device) = 0;
  virtual void EditSerialPort(int device) = 0;
  // The open-file dialog: the chosen file's full path, or nothing when
  // cancelled.
  virtual std::optional<std::string> ChooseFile(const FileChoiceRequest& request) = 0;
  // The firmware download dialog for a device interface and a file, modal.
  // False when there is no such dialog to run.
  virtual bool RunFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                                   const std::string& file_name) = 0;
};

}  // namespace zimo::corvan::dialogs
