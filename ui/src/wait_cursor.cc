#include "ui/wait_cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace zimo::ui {

WaitCursor::WaitCursor() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  active_ = true;
}

WaitCursor::~WaitCursor() {
  // Only a scope that set the cursor takes it back, and only while the
  // application that holds it is still there.
  if (active_ && qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    QGuiApplication::restoreOverrideCursor();
  }
}

}  // namespace zimo::ui
