// The "Please Wait" window of a download: its label, a bar showing the
// share of the file sent and Cancel. The transfer starts once the window is
// on screen and the window closes itself when it ends.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <string>

#include "labprog/card_actions.h"

namespace zimo::labprog {

class DownloadForm : public QDialog {
 public:
  DownloadForm(LabProgram& program, StatusWindow& window, std::string file,
               QWidget* parent = nullptr);
  // The label; the algorithm download sets its own text before showing.
  QLabel* label() const { return label_; }

 private:
  void Transfer();

  Download download_;
  std::string file_;
  QLabel* label_;
  QProgressBar* bar_;
  bool started_ = false;
};

}  // namespace zimo::labprog
