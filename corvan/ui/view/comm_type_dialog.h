// "Select a ZIMO Comm Type" (template 1000): serial port or Ethernet.
#pragma once

#include <QDialog>

#include "logic/comm_type.h"

namespace zimo::corvan::dialogs::view {

inline constexpr int kCommTypeTemplate = 1000;
inline constexpr int kSerialRadioId = 5019;
inline constexpr int kEthernetRadioId = 5022;

class CommTypeDialog : public QDialog {
 public:
  explicit CommTypeDialog(CommType& model, QWidget* parent = nullptr);

 private:
  CommType& model_;
};

}  // namespace zimo::corvan::dialogs::view
