// The Qt side of VoctoKS: the download and upload dialogs, the about box,
// the property frame, message handling, the beep and the log viewer.
#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QProgressBar;
class QTimer;

namespace zimo::voctoks {
class CVoctoKSCtrl;
class CreditCycle;
}  // namespace zimo::voctoks

namespace zimo::voctoks::ui {

// Puts the Qt views into the control's services (and keeps test hooks a
// caller already installed for the beep and the viewer).
void InstallQtServices();

// The about box (template 1): picture, "AUTHORS:", the credits (206) changing
// every 1500 ms, and "OK"; closing it stops the timer.
class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  ~AboutDialog() override;
  QTimer* timer() const { return timer_; }
  QString credits() const;

 private:
  QLabel* credits_;
  QTimer* timer_;
  CreditCycle* cycle_;
};

}  // namespace zimo::voctoks::ui
