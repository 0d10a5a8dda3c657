#include "view/serial_port_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "logic/dialog_messages.h"
#include "ui/wait_cursor.h"
#include "view/controls.h"

namespace zimo::corvan::dialogs::view {
namespace {

QLabel* Label(QWidget* parent, int id, const char* text, QWidget* buddy) {
  auto* label = Named(new QLabel(QString::fromLatin1(text), parent), id);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

SerialPortDialog::SerialPortDialog(SerialPortSettings& model, DeviceTest& tester, QWidget* parent)
    : QDialog(parent), model_(model), tester_(tester) {
  setObjectName(IdName(kSerialPortTemplate));
  setWindowTitle("Configure ZIMO Serial Port");

  auto* device = Named(new QLabel("Device", this), kDeviceTextId);
  port_ = Named(new QComboBox(this), kPortListId);
  baud_ = Named(new QComboBox(this), kBaudListId);
  parity_ = Named(new QComboBox(this), kParityListId);
  cts_ = Named(new QCheckBox("CTS Output", this), kCtsOutputId);

  auto* lists = new QGridLayout;
  lists->addWidget(Label(this, 1006, "&Port Number:", port_), 0, 0);
  lists->addWidget(port_, 0, 1);
  lists->addWidget(Label(this, 1007, "&Baudrate:", baud_), 1, 0);
  lists->addWidget(baud_, 1, 1);
  lists->addWidget(Label(this, 1008, "Parit&y:", parity_), 2, 0);
  lists->addWidget(parity_, 2, 1);
  lists->addWidget(cts_, 3, 1);

  auto* rts_group = new QGroupBox("RTS Control", this);
  auto* rts_layout = new QVBoxLayout(rts_group);
  for (int i = 0; i < 4; ++i) {
    rts_[i] = Named(new QRadioButton(QString::fromLatin1(kRtsControlNames[i]), rts_group),
                    kRtsRadioIds[i]);
    rts_layout->addWidget(rts_[i]);
    connect(rts_[i], &QRadioButton::clicked, this,
            [this, i] { model_.rts_control = static_cast<std::uint32_t>(i); });
  }

  auto* timeout_group = new QGroupBox("Timeouts (msecs.)", this);
  auto* timeouts = new QGridLayout(timeout_group);
  char_timeout_ = Named(new QLineEdit(timeout_group), kCharTimeoutId);
  flush_timeout_ = Named(new QLineEdit(timeout_group), kFlushTimeoutId);
  timeouts->addWidget(new QLabel("Character :", timeout_group), 0, 0);
  timeouts->addWidget(char_timeout_, 0, 1);
  timeouts->addWidget(new QLabel("Flush  :", timeout_group), 1, 0);
  timeouts->addWidget(flush_timeout_, 1, 1);

  QPushButton* ok = Button(this, 1, "OK");
  ok->setDefault(true);
  QPushButton* cancel = Button(this, 2, "Cancel");
  QPushButton* test = Button(this, kSerialTestButtonId, "Test");
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(test);
  buttons->addStretch();

  auto* left = new QVBoxLayout;
  left->addWidget(device);
  left->addLayout(lists);
  auto* groups = new QHBoxLayout;
  groups->addWidget(rts_group);
  groups->addWidget(timeout_group);
  left->addLayout(groups);
  auto* all = new QHBoxLayout(this);
  all->addLayout(left);
  all->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, [this] {
    if (!TakeData()) return;
    if (!model_.Ok()) {
      ShowMessage(kCannotSaveSerialText, platform::kMbOk | platform::kMbIconExclamation);
      return;
    }
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(test, &QPushButton::clicked, this, [this] {
    ui::WaitCursor wait;
    if (!TakeData()) return;
    if (!model_.Save()) {
      ShowMessage(kCannotSaveSerialText, platform::kMbOk | platform::kMbIconExclamation);
      return;
    }
    tester_.TestDevice(model_.device(), nullptr);
  });

  // Opening: the lists, the stored settings, the port list shown only.
  for (int n = 1; n <= kComPorts; ++n) port_->addItem(QString("COM%1").arg(n));
  for (const char* name : kParityNames) parity_->addItem(QString::fromLatin1(name));
  for (std::uint32_t rate : kBaudRates) baud_->addItem(QString::number(rate));
  device->setText(Text(model_.caption()));
  model_.Load();
  ShowData();
  port_->setEnabled(false);
}

void SerialPortDialog::ShowData() {
  port_->setCurrentIndex(model_.port_index);
  baud_->setCurrentIndex(model_.baud_index);
  parity_->setCurrentIndex(model_.parity_index);
  cts_->setChecked(model_.cts_output);
  for (int i = 0; i < 4; ++i) {
    rts_[i]->setAutoExclusive(false);
    rts_[i]->setChecked(model_.rts_control == static_cast<std::uint32_t>(i));
    rts_[i]->setAutoExclusive(true);
  }
  char_timeout_->setText(QString::number(model_.char_timeout_ms));
  flush_timeout_->setText(QString::number(model_.flush_timeout_ms));
}

bool SerialPortDialog::TakeData() {
  std::uint32_t char_timeout = 0;
  std::uint32_t flush_timeout = 0;
  for (auto [edit, value] : {std::pair{char_timeout_, &char_timeout},
                             std::pair{flush_timeout_, &flush_timeout}}) {
    if (!ParseUnsigned(edit->text().toStdString(), value)) {
      ShowMessage(kNotAnUnsigned, platform::kMbOk | platform::kMbIconExclamation);
      edit->setFocus();
      edit->selectAll();
      return false;
    }
  }
  model_.port_index = port_->currentIndex();
  model_.baud_index = baud_->currentIndex();
  model_.parity_index = parity_->currentIndex();
  model_.cts_output = cts_->isChecked();
  model_.char_timeout_ms = char_timeout;
  model_.flush_timeout_ms = flush_timeout;
  return true;
}

}  // namespace zimo::corvan::dialogs::view
