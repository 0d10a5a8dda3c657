#include "view/device_list_dialog.h"

#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

#include "ui/wait_cursor.h"
#include "view/controls.h"
#include "view/dialog_units.h"

namespace zimo::corvan::dialogs::view {

DeviceListDialog::DeviceListDialog(DeviceList& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(IdName(kDeviceListTemplate));
  setWindowTitle("ZIMO Devices");
  const DialogUnits du(*this);
  du.Size(this, 280, 109);

  list_ = Named(new QListWidget(this), kDeviceListId);
  list_->setSortingEnabled(true);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  du.Place(list_, 7, 7, 209, 75);
  ok_ = Button(this, 1, "OK");
  ok_->setDefault(true);
  du.Place(ok_, 223, 7, 50, 14);
  insert_ = Button(this, kInsertButtonId, "Insert...");
  du.Place(insert_, 223, 27, 50, 14);
  remove_ = Button(this, kRemoveButtonId, "Remove");
  du.Place(remove_, 223, 47, 50, 14);
  test_ = Button(this, kTestButtonId, "Test");
  du.Place(test_, 223, 67, 50, 14);
  properties_ = Button(this, kPropertiesButtonId, "Properties...");
  du.Place(properties_, 7, 88, 55, 14);
  user_[0] = Button(this, kUserButton1Id, "User Button 1...");
  du.Place(user_[0], 70, 88, 65, 14);
  QPushButton* cancel = Button(this, 2, "Cancel");
  du.Place(cancel, 223, 88, 50, 14);
  user_[1] = Button(this, kUserButton2Id, "User Button 2...");
  du.Place(user_[1], 143, 88, 65, 14);

  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    model_.SelectionChanged(row);
    Show();
  });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] {
    model_.TakeSelection(list_->currentRow());
    if (model_.DoubleClick() == DeviceList::End::kOk) {
      accept();
    } else {
      reject();
    }
  });
  connect(ok_, &QPushButton::clicked, this, [this] {
    ui::WaitCursor wait;
    model_.TakeSelection(list_->currentRow());
    if (model_.Ok() == DeviceList::End::kOk) {
      accept();
    } else {
      reject();
    }
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(insert_, &QPushButton::clicked, this, [this] { OnSelection([this] { model_.Insert(); }); });
  connect(remove_, &QPushButton::clicked, this, [this] { OnSelection([this] { model_.Remove(); }); });
  connect(test_, &QPushButton::clicked, this, [this] {
    ui::WaitCursor wait;
    OnSelection([this] { model_.Test(); });
  });
  connect(properties_, &QPushButton::clicked, this,
          [this] { OnSelection([this] { model_.Properties(); }); });
  for (int n = 0; n < 2; ++n) {
    connect(user_[n], &QPushButton::clicked, this,
            [this, n] { OnSelection([this, n] { model_.UserApp(n + 1); }); });
  }

  model_.Start();
  for (int n = 0; n < 2; ++n) {
    const DeviceList::UserButton& button = model_.user_button(n + 1);
    user_[n]->setVisible(button.visible);
    if (button.visible) user_[n]->setText(Text(button.caption));
  }
  Show();
}

template <typename Handler>
void DeviceListDialog::OnSelection(Handler handler) {
  model_.TakeSelection(list_->currentRow());
  handler();
  Show();
}

void DeviceListDialog::Show() {
  {
    const QSignalBlocker quiet(list_);
    list_->clear();
    // The list scrolls sideways by itself when a line is wider than it.
    for (const std::string& line : model_.lines()) list_->addItem(Text(line));
    list_->setCurrentRow(model_.current_device());
  }
  remove_->setEnabled(model_.remove_enabled());
  ok_->setEnabled(model_.ok_enabled());
  test_->setEnabled(model_.test_enabled());
  properties_->setEnabled(model_.properties_enabled());
  insert_->setEnabled(model_.insert_enabled());
}

}  // namespace zimo::corvan::dialogs::view
