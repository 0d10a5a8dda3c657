#include "view/device_properties_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "link/library_app.h"
#include "logic/dialog_messages.h"
#include "view/controls.h"

namespace zimo::corvan::dialogs::view {

DevicePropertiesDialog::DevicePropertiesDialog(DeviceProperties& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  const bool server = App().server_build();
  setObjectName(IdName(kDevicePropertiesTemplate));
  setWindowTitle("Device Properties");

  auto* device = Named(new QLabel("Device", this), kPropertiesDeviceTextId);
  auto_active_ = Named(new QCheckBox("DPRAM Automatic Functions", this), kAutoActiveId);
  realtime_active_ = Named(new QCheckBox("DPRAM RealTime Update", this), kRealTimeActiveId);
  background_active_ = Named(new QCheckBox("DPRAM BackGround Update", this), kBackgroundActiveId);
  realtime_period_ = Named(new QLineEdit(this), kRealTimePeriodId);
  background_period_ = Named(new QLineEdit(this), kBackgroundPeriodId);
  monitor_period_ =
      Named(new QLineEdit(this), server ? kServerMonitorPeriodId : kMonitorPeriodId);
  interrupts_ = Named(new QCheckBox("Enable Interrupts", this),
                      server ? kServerEnableInterruptsId : kEnableInterruptsId);
  ip_label_ = Named(new QLabel("IP Address:", this), kIpLabelId);
  ip_address_ = Named(new QLineEdit(this), kIpAddressId);
  ip_address_->setReadOnly(true);

  auto* rates = new QGridLayout;
  rates->addWidget(new QLabel("RT Update Rate (servo cycles)", this), 0, 0);
  rates->addWidget(realtime_period_, 0, 1);
  rates->addWidget(new QLabel("BG Update Rate (servo cycles)", this), 1, 0);
  rates->addWidget(background_period_, 1, 1);
  rates->addWidget(new QLabel(server ? "Monitor Period (ms)" : "Monitor Rate (ms)", this), 2, 0);
  rates->addWidget(monitor_period_, 2, 1);

  auto* motors = new QGridLayout;
  for (int n = 0; n < kMotorBoxes; ++n) {
    motor_labels_[n] = new QLabel(QString("#%1").arg(n + 1), this);
    motor_labels_[n]->setAlignment(Qt::AlignHCenter);
    motors_[n] = Named(new QCheckBox(this), kFirstMotorBoxId + n);
    motors->addWidget(motor_labels_[n], 0, n);
    motors->addWidget(motors_[n], 1, n, Qt::AlignHCenter);
    connect(motors_[n], &QCheckBox::clicked, this,
            [this, n](bool on) { model_.SetMotor(n + 1, on); });
  }

  auto* ip = new QHBoxLayout;
  ip->addWidget(ip_label_);
  ip->addWidget(ip_address_);

  QPushButton* ok = Button(this, 1, "OK");
  ok->setDefault(true);
  QPushButton* cancel = Button(this, 2, "Cancel");
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* left = new QVBoxLayout;
  left->addWidget(device);
  left->addWidget(auto_active_);
  left->addWidget(realtime_active_);
  left->addWidget(background_active_);
  left->addLayout(rates);
  left->addLayout(motors);
  left->addWidget(interrupts_);
  left->addLayout(ip);
  auto* all = new QHBoxLayout(this);
  all->addLayout(left);
  all->addLayout(buttons);

  connect(auto_active_, &QCheckBox::clicked, this, [this](bool on) {
    model_.SetAutoActive(on);
    realtime_active_->setChecked(model_.realtime_active);
    background_active_->setChecked(model_.background_active);
    ShowEnabled();
  });
  connect(realtime_active_, &QCheckBox::clicked, this,
          [this](bool on) { model_.realtime_active = on; });
  connect(background_active_, &QCheckBox::clicked, this,
          [this](bool on) { model_.background_active = on; });
  connect(interrupts_, &QCheckBox::clicked, this,
          [this](bool on) { model_.enable_interrupts = on; });
  connect(ok, &QPushButton::clicked, this, [this] {
    if (!TakeData()) return;
    if (!model_.Ok()) {
      ShowMessage(kCannotSavePropertiesText, platform::kMbOk | platform::kMbIconExclamation);
      return;
    }
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  device->setText(Text(model_.caption()));
  model_.Load();
  ShowData();
  interrupts_->setVisible(model_.interrupts_visible());
  ip_label_->setVisible(model_.ip_address_visible());
  ip_address_->setVisible(model_.ip_address_visible());
  ip_address_->setEnabled(false);
  ShowEnabled();
}

void DevicePropertiesDialog::ShowData() {
  auto_active_->setChecked(model_.auto_active());
  realtime_active_->setChecked(model_.realtime_active);
  background_active_->setChecked(model_.background_active);
  realtime_period_->setText(QString::number(model_.realtime_period));
  background_period_->setText(QString::number(model_.background_period));
  monitor_period_->setText(QString::number(model_.monitor_period));
  interrupts_->setChecked(model_.enable_interrupts);
  if (model_.ip_address_visible()) ip_address_->setText(Text(model_.ip_address_text()));
  for (int n = 0; n < kMotorBoxes; ++n) motors_[n]->setChecked(model_.motor(n + 1));
}

void DevicePropertiesDialog::ShowEnabled() {
  const bool on = model_.dependents_enabled();
  for (QWidget* w : std::initializer_list<QWidget*>{realtime_active_, background_active_,
                                                    realtime_period_, background_period_,
                                                    monitor_period_}) {
    w->setEnabled(on);
  }
  for (QCheckBox* box : motors_) box->setEnabled(on);
}

bool DevicePropertiesDialog::TakeData() {
  std::uint32_t values[3] = {};
  QLineEdit* edits[3] = {realtime_period_, background_period_, monitor_period_};
  for (int i = 0; i < 3; ++i) {
    if (!ParseUnsigned(edits[i]->text().toStdString(), &values[i])) {
      ShowMessage(kNotAnUnsigned, platform::kMbOk | platform::kMbIconExclamation);
      edits[i]->setFocus();
      edits[i]->selectAll();
      return false;
    }
  }
  model_.realtime_period = values[0];
  model_.background_period = values[1];
  model_.monitor_period = values[2];
  return true;
}

}  // namespace zimo::corvan::dialogs::view
