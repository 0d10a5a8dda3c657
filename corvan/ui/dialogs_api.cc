// The exported dialogs: each call makes sure a window application is there,
// builds the Qt side of the dialogs over the real drivers and runs them.
#include "dialogs_backend.h"

#include "logic/device_list.h"
#include "logic/device_probe.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/services.h"
#include "ui/application.h"
#include "view/device_list_dialog.h"
#include "view/qt_config_ui.h"

namespace zimo::corvan {
namespace {

// What one dialog call needs: the application, the screen side and the
// drivers it asks.
struct DialogSession {
  ui::ApplicationScope application;
  dialogs::DriverDeviceProbe probe;
  dialogs::view::QtConfigUi screen{probe};
};

// The user may configure the drivers when the service manager opens with
// full access.
bool MayConfigureDrivers() {
  platform::ScHandle manager = 0;
  if (platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager) !=
      platform::win32::kErrorSuccess) {
    return false;
  }
  platform::CloseServiceHandle(manager);
  return true;
}

}  // namespace

int RunDeviceListDialog(std::uint32_t /*window*/, std::int32_t* chosen_device) {
  DialogSession session;
  if (!session.application.ok()) return 0;
  dialogs::DeviceList model(session.screen, session.probe, session.screen.tester(),
                            [](std::string_view line) { return platform::WinExec(line); });
  dialogs::view::DeviceListDialog dialog(model);
  if (dialog.exec() != QDialog::Accepted) return 0;
  if (chosen_device != nullptr) *chosen_device = dialog.current_device();
  return 1;
}

int TestDevice(int device, std::int32_t* result) {
  DialogSession session;
  return session.screen.tester().TestDevice(device, result);
}

int TestDeviceAtLocation(std::uint32_t location, std::uint32_t enumeration, std::int32_t* result) {
  DialogSession session;
  return session.screen.tester().TestDeviceAtLocation(location, enumeration, result);
}

int ChooseFirmwareFile(std::uint32_t location, std::uint32_t enumeration) {
  DialogSession session;
  return session.screen.tester().ChooseFirmwareFile(location, enumeration);
}

void SetFirmwareDownloadDialogRunner(FirmwareDownloadDialogRunner runner) {
  dialogs::view::SetFirmwareDownloadDialog(std::move(runner));
}

}  // namespace zimo::corvan

extern "C" {

std::int32_t ZimoSelect(std::uint32_t window) {
  std::int32_t device = -1;
  return zimo::corvan::RunDeviceListDialog(window, &device) == 1 ? device : -1;
}

std::int32_t ZimoConfigure(std::uint32_t window, std::uint32_t /*device*/) {
  if (!zimo::corvan::MayConfigureDrivers()) {
    zimo::platform::DebugOutput("ZimoConfigure: the service manager cannot be opened\n");
    return 0;
  }
  return zimo::corvan::RunDeviceListDialog(window, nullptr);
}

}  // extern "C"
