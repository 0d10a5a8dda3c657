#include "view/comm_type_dialog.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

#include "view/controls.h"
#include "view/dialog_units.h"

namespace zimo::corvan::dialogs::view {

CommTypeDialog::CommTypeDialog(CommType& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(IdName(kCommTypeTemplate));
  setWindowTitle("Select a ZIMO Comm Type");
  const DialogUnits du(*this);
  du.Size(this, 144, 47);

  QPushButton* ok = Button(this, 1, "OK");
  ok->setDefault(true);
  du.Place(ok, 87, 7, 50, 14);
  QPushButton* cancel = Button(this, 2, "Cancel");
  du.Place(cancel, 87, 24, 50, 14);
  auto* serial = Named(new QRadioButton("Serial Port (COM)", this), kSerialRadioId);
  du.Place(serial, 7, 12, 79, 10);
  auto* ethernet = Named(new QRadioButton("Ethernet (ETH)", this), kEthernetRadioId);
  du.Place(ethernet, 7, 24, 79, 10);

  auto* group = new QButtonGroup(this);
  group->addButton(serial, CommType::kSerialPort);
  group->addButton(ethernet, CommType::kEthernet);
  group->button(model_.index())->setChecked(true);
  connect(group, &QButtonGroup::idClicked, this, [this](int id) { model_.Check(id); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace zimo::corvan::dialogs::view
