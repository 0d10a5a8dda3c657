// "Configure ZIMO Serial Port" (template 1003): the serial settings of one
// device, with a Test button that saves and tests the card.
#pragma once

#include <QDialog>

#include "logic/device_test.h"
#include "logic/serial_port_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace zimo::corvan::dialogs::view {

inline constexpr int kSerialPortTemplate = 1003;
inline constexpr int kDeviceTextId = 5093;
inline constexpr int kPortListId = 73;
inline constexpr int kBaudListId = 72;
inline constexpr int kParityListId = 74;
inline constexpr int kCtsOutputId = 5102;
inline constexpr int kRtsRadioIds[] = {5019, 5025, 5022, 5101};
inline constexpr int kCharTimeoutId = 5099;
inline constexpr int kFlushTimeoutId = 5098;
inline constexpr int kSerialTestButtonId = 5094;

class SerialPortDialog : public QDialog {
 public:
  SerialPortDialog(SerialPortSettings& model, DeviceTest& tester, QWidget* parent = nullptr);

 private:
  // Controls into the model; false (with a message) for a time-out that is
  // no unsigned number.
  bool TakeData();
  void ShowData();

  SerialPortSettings& model_;
  DeviceTest& tester_;
  QComboBox* port_;
  QComboBox* baud_;
  QComboBox* parity_;
  QCheckBox* cts_;
  QRadioButton* rts_[4];
  QLineEdit* char_timeout_;
  QLineEdit* flush_timeout_;
};

}  // namespace zimo::corvan::dialogs::view
