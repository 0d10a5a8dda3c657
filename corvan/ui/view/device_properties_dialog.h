// The device properties dialog (template 1006): the DPR options of one
// ISA, PCI, USB or Ethernet device.
#pragma once

#include <QDialog>

#include "logic/device_properties.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace zimo::corvan::dialogs::view {

inline constexpr int kDevicePropertiesTemplate = 1006;
inline constexpr int kPropertiesDeviceTextId = 5093;
inline constexpr int kAutoActiveId = 5103;
inline constexpr int kRealTimeActiveId = 5104;
inline constexpr int kBackgroundActiveId = 5105;
inline constexpr int kRealTimePeriodId = 5106;
inline constexpr int kBackgroundPeriodId = 5107;
inline constexpr int kFirstMotorBoxId = 5113;  // to 5120
inline constexpr int kMonitorPeriodId = 5112;
inline constexpr int kEnableInterruptsId = 5121;
inline constexpr int kIpLabelId = 5122;
inline constexpr int kIpAddressId = 5090;
// The server's build of the dialog numbers two controls differently.
inline constexpr int kServerMonitorPeriodId = 5108;
inline constexpr int kServerEnableInterruptsId = 5109;

class DevicePropertiesDialog : public QDialog {
 public:
  explicit DevicePropertiesDialog(DeviceProperties& model, QWidget* parent = nullptr);

 private:
  bool TakeData();
  void ShowData();
  void ShowEnabled();

  DeviceProperties& model_;
  QCheckBox* auto_active_;
  QCheckBox* realtime_active_;
  QCheckBox* background_active_;
  QLineEdit* realtime_period_;
  QLineEdit* background_period_;
  QCheckBox* motors_[kMotorBoxes];
  QLabel* motor_labels_[kMotorBoxes];
  QLineEdit* monitor_period_;
  QCheckBox* interrupts_;
  QLabel* ip_label_;
  QLineEdit* ip_address_;
};

}  // namespace zimo::corvan::dialogs::view
