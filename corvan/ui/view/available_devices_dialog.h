// "Available ZIMO Devices" (template 1001): the unregistered card
// interfaces, refreshed by a timer while the dialog shows.
#pragma once

#include <QDialog>

#include "logic/available_devices.h"

class QListWidget;
class QPushButton;
class QTimer;

namespace zimo::corvan::dialogs::view {

inline constexpr int kAvailableDevicesTemplate = 1001;
inline constexpr int kAvailableListId = 5089;
inline constexpr int kNewButtonId = 5091;

class AvailableDevicesDialog : public QDialog {
 public:
  explicit AvailableDevicesDialog(AvailableDevices& model, QWidget* parent = nullptr);

  // The refresh timer's period (2000 ms unless changed).
  void set_refresh_interval_ms(int ms);
  int refresh_interval_ms() const;
  bool refresh_timer_active() const;
  // What the timer does at each tick: list the interfaces again.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ShowLines();
  void Finish(AvailableDevices::Outcome outcome);

  AvailableDevices& model_;
  QListWidget* list_;
  QTimer* timer_;
};

}  // namespace zimo::corvan::dialogs::view
