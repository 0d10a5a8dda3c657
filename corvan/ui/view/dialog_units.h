// Dialog templates give positions in dialog units: a quarter of the dialog
// font's average character width across, an eighth of its height down.
// Placing controls that way keeps each dialog's arrangement whatever font
// the desktop uses.
#pragma once

#include <QDialog>
#include <QFontMetrics>
#include <QString>
#include <QWidget>

namespace zimo::corvan::dialogs::view {

class DialogUnits {
 public:
  explicit DialogUnits(const QWidget& dialog) {
    const QFontMetrics metrics(dialog.font());
    // The average width over the alphabet, as dialog templates measure it.
    const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    base_x_ = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    base_y_ = metrics.height();
  }
  int X(int units) const { return units * base_x_ / 4; }
  int Y(int units) const { return units * base_y_ / 8; }
  void Place(QWidget* widget, int x, int y, int width, int height) const {
    widget->setGeometry(X(x), Y(y), X(width), Y(height));
  }
  void Size(QDialog* dialog, int width, int height) const {
    dialog->setFixedSize(X(width), Y(height));
  }

 private:
  int base_x_ = 6;
  int base_y_ = 13;
};

}  // namespace zimo::corvan::dialogs::view
