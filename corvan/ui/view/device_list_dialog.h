// "ZIMO Devices" (template 1005): the eight device numbers and the buttons
// that register, remove, test and configure them and start the user
// programs.
#pragma once

#include <QDialog>

#include "logic/device_list.h"

class QListWidget;
class QPushButton;

namespace zimo::corvan::dialogs::view {

inline constexpr int kDeviceListTemplate = 1005;
inline constexpr int kDeviceListId = 5087;
inline constexpr int kInsertButtonId = 5086;
inline constexpr int kRemoveButtonId = 5088;
inline constexpr int kTestButtonId = 5094;
inline constexpr int kPropertiesButtonId = 5092;
inline constexpr int kUserButton1Id = 5065;
inline constexpr int kUserButton2Id = 5097;

class DeviceListDialog : public QDialog {
 public:
  explicit DeviceListDialog(DeviceList& model, QWidget* parent = nullptr);

  // The device chosen when the dialog ended with OK.
  int current_device() const { return model_.current_device(); }

 private:
  // Runs a button's handler on the list's selection, then shows the result.
  template <typename Handler>
  void OnSelection(Handler handler);
  void Show();

  DeviceList& model_;
  QListWidget* list_;
  QPushButton* ok_;
  QPushButton* insert_;
  QPushButton* remove_;
  QPushButton* test_;
  QPushButton* properties_;
  QPushButton* user_[2];
};

}  // namespace zimo::corvan::dialogs::view
