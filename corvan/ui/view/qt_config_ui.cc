#include "view/qt_config_ui.h"

#include <QApplication>
#include <QThread>
#include <mutex>
#include <utility>

#include "logic/available_devices.h"
#include "logic/comm_type.h"
#include "logic/device_properties.h"
#include "logic/serial_port_settings.h"
#include "ui/file_dialog.h"
#include "view/available_devices_dialog.h"
#include "view/comm_type_dialog.h"
#include "view/device_properties_dialog.h"
#include "view/firmware_download_dialog.h"
#include "view/serial_port_dialog.h"

namespace zimo::corvan::dialogs::view {
namespace {

std::mutex& FirmwareDialogMutex() {
  static std::mutex mutex;
  return mutex;
}
FirmwareDownloadDialog& FirmwareDialog() {
  static FirmwareDownloadDialog dialog = &RunFirmwareDownloadDialog;
  return dialog;
}

}  // namespace

void SetFirmwareDownloadDialog(FirmwareDownloadDialog dialog) {
  std::lock_guard<std::mutex> lock(FirmwareDialogMutex());
  FirmwareDialog() = std::move(dialog);
}

bool CanShowWindows() {
  QCoreApplication* app = QCoreApplication::instance();
  return qobject_cast<QApplication*>(app) != nullptr && QThread::currentThread() == app->thread();
}

std::optional<DeviceChoice> QtConfigUi::SelectAvailableDevice() {
  if (!CanShowWindows()) return std::nullopt;
  AvailableDevices model(probe_, *this);
  AvailableDevicesDialog dialog(model);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return DeviceChoice{model.location(), model.enumeration()};
}

std::optional<int> QtConfigUi::SelectCommType() {
  if (!CanShowWindows()) return std::nullopt;
  CommType model;
  CommTypeDialog dialog(model);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return model.index();
}

void QtConfigUi::EditDeviceProperties(int device) {
  if (!CanShowWindows()) return;
  DeviceProperties model(device);
  DevicePropertiesDialog dialog(model);
  dialog.exec();
}

void QtConfigUi::EditSerialPort(int device) {
  if (!CanShowWindows()) return;
  SerialPortSettings model(device);
  SerialPortDialog dialog(model, tester_);
  dialog.exec();
}

std::optional<std::string> QtConfigUi::ChooseFile(const FileChoiceRequest& request) {
  if (!CanShowWindows()) return std::nullopt;
  ui::OpenFileRequest open;
  open.filter = request.filter;
  open.default_extension = request.default_extension;
  open.initial_name = request.initial_name;
  open.file_must_exist = request.file_must_exist;
  const std::optional<ui::ChosenFile> chosen = ui::GetOpenFileName(open);
  if (!chosen) return std::nullopt;
  return chosen->path.string();
}

bool QtConfigUi::RunFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                                     const std::string& file_name) {
  FirmwareDownloadDialog dialog;
  {
    std::lock_guard<std::mutex> lock(FirmwareDialogMutex());
    dialog = FirmwareDialog();
  }
  if (!dialog || !CanShowWindows()) return false;
  dialog(location, enumeration, file_name);
  return true;
}

}  // namespace zimo::corvan::dialogs::view
