// The lab program's Qt windows: the frame with its menu bar and MDI area,
// the status window drawing the shell's StatusWindow state, and the about
// box. The windows only show state and pass clicks on; the rules live in
// the Qt-free shell library.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <string>

#include "labprog/status_window.h"

namespace zimo::labprog {

// The status window: panels and value labels in rows, the brake and kill
// buttons at the right edge. Refresh() draws the state again.
class StatusForm : public QWidget {
 public:
  explicit StatusForm(StatusWindow& state, QWidget* parent = nullptr);
  void Refresh();

  std::function<void(int)> on_brake;
  std::function<void()> on_kill;

 private:
  struct Pair {
    QLabel* panel = nullptr;
    QLabel* value = nullptr;
  };
  void Show(QLabel* label, const StatusItem& item);

  StatusWindow& state_;
  QLabel* apparatus_ = nullptr;
  Pair cmd_, dac_;
  std::array<Pair, 4> pos_;
  std::array<Pair, 3> fe_;
  std::array<Pair, 4> status_;
  std::array<QPushButton*, 3> brakes_{};
  QPushButton* kill_ = nullptr;
  QLabel* clock_ = nullptr;
};

class AboutForm : public QDialog {
 public:
  explicit AboutForm(QWidget* parent = nullptr);
};

// The frame: every menu item of FrameMenuTree() as a QAction named after
// the item, the status window as its first child.
class MainMdiForm : public QMainWindow {
 public:
  MainMdiForm();
  QMdiArea* area() const { return area_; }
  QAction* Item(const std::string& name) const;
  // Runs `handler` when the item is picked.
  void OnItem(const std::string& name, std::function<void()> handler);

 private:
  QMdiArea* area_;
  std::map<std::string, QAction*> items_;
};

}  // namespace zimo::labprog
