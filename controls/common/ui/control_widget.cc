#include "controls/ui/control_widget.h"

#include <QIcon>
#include <QPainter>

namespace zimo::controls::ui {

ControlWidget::ControlWidget(Control& control, QWidget* parent)
    : QWidget(parent), control_(control) {
  setFixedSize(32, 32);
}

void ControlWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  uint32_t c = control_.AmbientBackColor();
  painter.fillRect(rect(), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  std::string icon = control_.IconName();
  if (!icon.empty()) {
    QIcon::fromTheme(QString::fromStdString(icon)).paint(&painter, QRect(0, 0, 32, 32));
  }
}

}  // namespace zimo::controls::ui
