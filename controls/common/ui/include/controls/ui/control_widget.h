// The window of a placed control: filled with the container's ambient
// background colour, the control's icon at the top-left, 32 x 32 pixels and
// not resizable.
#pragma once

#include <QWidget>

#include "controls/control.h"

namespace zimo::controls::ui {

class ControlWidget : public QWidget {
 public:
  ControlWidget(Control& control, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Control& control_;
};

}  // namespace zimo::controls::ui
