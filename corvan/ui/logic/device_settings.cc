#include "logic/device_settings.h"

#include <cstdio>
#include <string>

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "logic/dialog_messages.h"
#include "platform/process.h"

namespace zimo::corvan::dialogs {
namespace {

constexpr std::uint32_t kTopmost = platform::kMbOk | platform::kMbTopmost;

// The DPR settings a device open takes from the registry, copied into the
// shared block after the properties dialog so that running processes see
// them.
void CopyDprSettings(SharedDeviceBlock& block, std::uint32_t location) {
  struct Field {
    const char* name;
    std::uint32_t default_value;
    std::uint32_t SharedDeviceBlock::*member;
  };
  static constexpr Field kFields[] = {
      {"DPRAutoActive", 0, &SharedDeviceBlock::DprAutoActive},
      {"DPRBackgroundActive", 0, &SharedDeviceBlock::BackgroundActive},
      {"DPRBackgroundPeriod", 20, &SharedDeviceBlock::BackgroundPeriod},
      {"DPRRealTimeActive", 0, &SharedDeviceBlock::RealTimeActive},
      {"DPRRealTimePeriod", 20, &SharedDeviceBlock::RealTimePeriod},
      {"EnableInterrupts", 0, &SharedDeviceBlock::InterruptsEnabled},
  };
  for (const Field& field : kFields) {
    std::uint32_t value = field.default_value;
    GetLocationRegDword(location, block.Enumeration, field.name, &value, field.default_value);
    block.*field.member = value;
  }
}

}  // namespace

int ConfigureDeviceSettings(ConfigUi& ui, int device, std::uint32_t location) {
  if (location == kLocationUnknown) {
    ShowMessage(kDeviceNotRegisteredText);
    return 0;
  }
  if (location > kLocationUsb) {
    ShowMessage(kInvalidDeviceTypeText);
    return 0;
  }
  CommLibraryApp& app = App();
  if (location != kLocationSerial) {
    ui.EditDeviceProperties(device);
    if (!app.server_build()) {
      if (SharedDeviceBlock* block = app.Block(device)) CopyDprSettings(*block, location);
    }
    return 1;
  }
  if (!app.server_build()) {
    if (SharedDeviceBlock* block = app.Block(device)) {
      if (app.table()->UserCount > 1) {
        ShowLibraryText(kTextMultipleApplications, kTopmost);
        return 0;
      }
      // The device being configured, not whichever device this process
      // opened last: only its own port must stay as it is.
      const DeviceUserHandle* user = app.User(device);
      if (block->FirstOpenDone != 0 && user != nullptr && user->Transport != nullptr) {
        ShowLibraryText(kTextDeviceOpen, kTopmost);
        return 0;
      }
      SetLocationRegDword(kLocationSerial, block->Enumeration, "SerialPortNumber",
                          block->Enumeration - 1);
    }
  }
  ui.EditSerialPort(device);
  return 1;
}

int LaunchUserApp(int button, int device, const ProgramStarter& start) {
  char name[32];
  std::snprintf(name, sizeof name, "UserApp%dPath", button);
  std::string path;
  GetRootRegString(name, &path, "");
  if (path.empty()) return 0;
  char command_line[600];
  std::snprintf(command_line, sizeof command_line, "%s /zimo %d", path.c_str(), device);
  switch (start(command_line)) {
    case platform::kWinExecOutOfMemory:
      ShowLibraryText(kTextOutOfResources);
      return 0;
    case platform::kWinExecFileNotFound:
      ShowMessage(LibraryTextWith(kTextFileNotFound, command_line));
      return 0;
    case platform::kWinExecPathNotFound:
      ShowMessage(LibraryTextWith(kTextPathNotFound, command_line));
      return 0;
    case platform::kWinExecBadFormat:
      ShowLibraryText(kTextBadExe);
      return 0;
    default:
      return 1;
  }
}

}  // namespace zimo::corvan::dialogs
