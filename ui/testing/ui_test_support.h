// What view tests share: the offscreen application, acting on a modal window
// once it is on screen (the test cannot act while exec() runs, so a timer
// watches for the window), the texts a window shows, and its picture.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace zimo::ui::testing {

// Selects the offscreen platform (unless the test run chose another) before
// any application exists.
inline void UseOffscreenPlatform() { ::setenv("QT_QPA_PLATFORM", "offscreen", 0); }

// The test process's application, created on first use.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "zimo-test";
  static char* argv[] = {name, nullptr};
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  UseOffscreenPlatform();
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The visible top-level window of type T whose object name is `name` (any
// name when empty).
template <typename T>
T* VisibleWindow(const QString& name = QString()) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    T* window = qobject_cast<T*>(widget);
    if (window == nullptr || !window->isVisible()) continue;
    if (name.isEmpty() || window->objectName() == name) return window;
  }
  return nullptr;
}

// Once a visible top-level window of type T named `name` appears, calls
// `act` with it (on the window thread, from the event loop that shows it).
// The watch gives up, failing the test, when nothing appears in time.
template <typename T>
void WhenShown(const QString& name, std::function<void(T*)> act, int give_up_ms = 15000) {
  auto* timer = new QTimer(QCoreApplication::instance());
  auto waited = std::make_shared<int>(0);
  constexpr int kTickMs = 5;
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    if (T* window = VisibleWindow<T>(name)) {
      timer->stop();
      timer->deleteLater();
      act(window);
      return;
    }
    *waited += kTickMs;
    if (*waited > give_up_ms) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no window " << name.toStdString() << " appeared";
    }
  });
  timer->start(kTickMs);
}

// Presses `button` of the next message box that appears, after handing the
// box to `inspect` (when given).
inline void AnswerNextBox(QMessageBox::StandardButton button,
                          std::function<void(QMessageBox*)> inspect = nullptr) {
  WhenShown<QMessageBox>(QString(), [=](QMessageBox* box) {
    if (inspect) inspect(box);
    QAbstractButton* b = box->button(button);
    if (b == nullptr) {
      ADD_FAILURE() << "the box has no such button: " << box->text().toStdString();
      box->reject();
      return;
    }
    b->click();
  });
}

// The child of `parent` with object name `name` (a control id), or null.
template <typename T>
T* Control(QWidget* parent, const char* name) {
  return parent->findChild<T*>(QString::fromLatin1(name));
}

// Every text the window shows: its title, labels, buttons, group boxes,
// edits, list and combo box entries (hidden widgets are left out).
inline std::vector<std::string> TextsOf(QWidget* window) {
  std::vector<std::string> texts;
  texts.push_back(window->windowTitle().toStdString());
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) texts.push_back(label->text().toStdString());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      texts.push_back(button->text().toStdString());
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) texts.push_back(group->title().toStdString());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) texts.push_back(edit->text().toStdString());
    if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) texts.push_back(combo->itemText(i).toStdString());
    }
  }
  return texts;
}

inline bool Shows(QWidget* window, const std::string& text) {
  for (const std::string& t : TextsOf(window)) {
    if (t == text) return true;
  }
  return false;
}

// Renders the window (shown offscreen) into a PNG file; true when written.
inline bool SavePicture(QWidget* window, const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  const QPixmap picture = window->grab();
  return !picture.isNull() && picture.save(QString::fromStdString(file.string()), "PNG");
}

// Where one picture of each dialog is kept for a person to look at.
inline std::filesystem::path GalleryDir() { return "/tmp/zimo-dialogs"; }

}  // namespace zimo::ui::testing
