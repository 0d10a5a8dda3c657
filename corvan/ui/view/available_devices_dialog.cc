#include "view/available_devices_dialog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>

#include "view/controls.h"
#include "view/dialog_units.h"

namespace zimo::corvan::dialogs::view {

AvailableDevicesDialog::AvailableDevicesDialog(AvailableDevices& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(IdName(kAvailableDevicesTemplate));
  setWindowTitle("Available ZIMO Devices");
  const DialogUnits du(*this);
  du.Size(this, 220, 71);

  auto* label = new QLabel("ZIMO devices not registered:", this);
  du.Place(label, 7, 5, 150, 9);
  list_ = Named(new QListWidget(this), kAvailableListId);
  du.Place(list_, 7, 16, 150, 50);
  QPushButton* ok = Button(this, 1, "OK");
  ok->setDefault(true);
  du.Place(ok, 163, 7, 50, 14);
  QPushButton* cancel = Button(this, 2, "Cancel");
  du.Place(cancel, 163, 27, 50, 14);
  QPushButton* add = Button(this, kNewButtonId, "New...");
  du.Place(add, 163, 47, 50, 14);
  add->hide();

  timer_ = new QTimer(this);
  timer_->setObjectName("RefreshTimer");
  timer_->setInterval(kRefreshIntervalMs);
  connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { model_.Select(row); });
  connect(list_, &QListWidget::itemDoubleClicked, this,
          [this] { Finish(model_.DoubleClick()); });
  connect(ok, &QPushButton::clicked, this, [this] { Finish(model_.Ok()); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(add, &QPushButton::clicked, this, [this] { Finish(model_.New()); });

  model_.Fill();
  ShowLines();
}

void AvailableDevicesDialog::set_refresh_interval_ms(int ms) { timer_->setInterval(ms); }
int AvailableDevicesDialog::refresh_interval_ms() const { return timer_->interval(); }
bool AvailableDevicesDialog::refresh_timer_active() const { return timer_->isActive(); }

void AvailableDevicesDialog::Refresh() {
  model_.Fill();
  ShowLines();
}

void AvailableDevicesDialog::ShowLines() {
  const QSignalBlocker quiet(list_);
  list_->clear();
  for (const std::string& line : model_.lines()) list_->addItem(Text(line));
  list_->setCurrentRow(model_.selection());
}

void AvailableDevicesDialog::Finish(AvailableDevices::Outcome outcome) {
  if (outcome == AvailableDevices::Outcome::kEndOk) accept();
}

void AvailableDevicesDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  timer_->start();
}

void AvailableDevicesDialog::hideEvent(QHideEvent* event) {
  timer_->stop();
  QDialog::hideEvent(event);
}

}  // namespace zimo::corvan::dialogs::view
