#include "view/download_progress_dialog.h"

#include <QMetaObject>

#include "corvan/download_api.h"
#include "ui/application.h"
#include "view/controls.h"
#include "view/dialog_units.h"

namespace zimo::corvan::dialogs::view {

DownloadProgressDialog::DownloadProgressDialog(ProgressRequest request, QWidget* parent)
    : QDialog(parent), model_(std::move(request), *this) {
  setObjectName(IdName(kDownloadProgressTemplate));
  setWindowTitle("Downloading to ZIMO...");
  const DialogUnits du(*this);
  du.Size(this, 300, 170);
  list_ = Named(new QListWidget(this), kProgressListId);
  du.Place(list_, 7, 7, 286, 120);
  auto* label = new QLabel("Percent Done", this);
  du.Place(label, 7, 135, 50, 10);
  percent_ = Named(new QLabel("0", this), kProgressPercentId);
  du.Place(percent_, 60, 135, 30, 10);
  abort_ = Button(this, kProgressAbortId, "&Abort");
  du.Place(abort_, 180, 150, 50, 14);
  done_ = Button(this, kProgressDoneId, "&DONE");
  done_->setEnabled(false);
  du.Place(done_, 243, 150, 50, 14);
  connect(abort_, &QPushButton::clicked, this, [this] { model_.Abort(); });
  connect(done_, &QPushButton::clicked, this, [this] { model_.Done(); });
}

void DownloadProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  model_.Start();
}

void DownloadProgressDialog::InsertLine(int index, const std::string& text) {
  const QString line = QString::fromLatin1(text.c_str());
  QMetaObject::invokeMethod(
      this,
      [this, index, line] {
        list_->insertItem(index, line);
        list_->scrollToItem(list_->item(index), QAbstractItemView::PositionAtTop);
      },
      Qt::QueuedConnection);
}

void DownloadProgressDialog::ShowPercent(const std::string& text) {
  const QString value = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this, [this, value] { percent_->setText(value); }, Qt::QueuedConnection);
}

void DownloadProgressDialog::EnableAbort(bool on) {
  QMetaObject::invokeMethod(
      this, [this, on] { abort_->setEnabled(on); }, Qt::QueuedConnection);
}

void DownloadProgressDialog::EnableDone(bool on) {
  QMetaObject::invokeMethod(
      this,
      [this, on] {
        done_->setEnabled(on);
        if (on) done_->setFocus();
      },
      Qt::QueuedConnection);
}

void DownloadProgressDialog::Close(int result) {
  QMetaObject::invokeMethod(
      this, [this, result] { done(result); }, Qt::QueuedConnection);
}

}  // namespace zimo::corvan::dialogs::view

extern "C" std::int32_t ZimoDownloadProgress(std::int32_t checksum_mode, std::int32_t stay_open,
                                             void* /*parent*/, std::uint32_t device,
                                             const char* source, std::int32_t macro,
                                             std::int32_t map, std::int32_t log,
                                             std::int32_t download) {
  zimo::ui::ApplicationScope application;
  if (!application.ok()) return 0;
  zimo::corvan::dialogs::ProgressRequest request{
      checksum_mode, stay_open, device, source != nullptr ? source : "", macro, map, log, download};
  zimo::corvan::dialogs::view::DownloadProgressDialog dialog(request);
  dialog.exec();
  return dialog.model().start_result();
}
