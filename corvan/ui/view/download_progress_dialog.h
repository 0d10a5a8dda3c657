// "Downloading to ZIMO..." (template 115): the report list, the percent
// done, Abort and DONE, over a threaded program download.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "logic/download_progress.h"

namespace zimo::corvan::dialogs::view {

class DownloadProgressDialog : public QDialog, public ProgressScreen {
 public:
  explicit DownloadProgressDialog(ProgressRequest request, QWidget* parent = nullptr);

  DownloadProgress& model() { return model_; }

  // ProgressScreen: callable from any thread; the work is queued to the
  // dialog's thread.
  void InsertLine(int index, const std::string& text) override;
  void ShowPercent(const std::string& text) override;
  void EnableAbort(bool on) override;
  void EnableDone(bool on) override;
  void Close(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  DownloadProgress model_;
  QListWidget* list_;
  QLabel* percent_;
  QPushButton* abort_;
  QPushButton* done_;
};

}  // namespace zimo::corvan::dialogs::view
