// The Qt side of Vocto: the download and upload dialogs, the about box, the
// property frame, message handling, the beep and the error-file viewer.
#pragma once

#include <QDialog>
#include <string>

#include "transfer.h"

class QLabel;
class QProgressBar;
class QGroupBox;

namespace zimo::vocto::ui {

// Puts the Qt views into the control's services (and keeps test hooks a
// caller already installed for the beep and the viewer).
void InstallQtServices();

// The download dialog (template 201, "Downloading...").
class DownloadDialog : public QDialog, public DownloadView {
 public:
  explicit DownloadDialog(QWidget* parent = nullptr);
  void SetText(int control_id, const std::string& text) override;
  void ShowProgress() override;
  void SetProgress(int percent) override;
  bool cancel_pressed() const override { return cancelled_; }
  QString Text(int control_id) const;

 private:
  QProgressBar* bar_;
  QGroupBox* frame_;
  bool cancelled_ = false;
};

// The upload dialog (template 222, "Please Wait...").
class UploadDialog : public QDialog, public UploadView {
 public:
  explicit UploadDialog(QWidget* parent = nullptr);
  void SetText(const std::string& text) override;
  void ShowProgress(int32_t maximum) override;
  void SetPosition(int32_t position) override;
  bool cancel_pressed() const override { return cancelled_; }

 private:
  QLabel* text_;
  QProgressBar* bar_;
  bool cancelled_ = false;
};

// The about box (template 1): "About Vocto Control", a picture and "OK".
class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace zimo::vocto::ui
