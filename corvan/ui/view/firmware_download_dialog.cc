#include "view/firmware_download_dialog.h"

#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>

#include "ui/wait_cursor.h"
#include "view/controls.h"
#include "view/dialog_units.h"

namespace zimo::corvan::dialogs::view {

FirmwareDownloadDlg::FirmwareDownloadDlg(FirmwareDownloadDialogModel& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(IdName(kFirmwareDialogTemplate));
  setWindowTitle(kFirmwareDialogTitle);
  const DialogUnits du(*this);
  du.Size(this, 246, 74);

  auto* label = new QLabel("Percent Done", this);
  du.Place(label, 7, 9, 50, 8);
  percent_ = Named(new QLabel(this), kFirmwarePercentId);
  du.Place(percent_, 60, 9, 40, 8);
  status_ = Named(new QLabel(this), kFirmwareStatusId);
  status_->setWordWrap(true);
  du.Place(status_, 7, 24, 232, 24);
  begin_ = Button(this, kFirmwareBeginId, "&Begin");
  du.Place(begin_, 67, 53, 50, 14);
  done_ = Button(this, kFirmwareDoneId, "&Done");
  done_->setDefault(true);
  du.Place(done_, 129, 53, 50, 14);

  connect(begin_, &QPushButton::clicked, this, [this] { StartDownload(); });
  connect(done_, &QPushButton::clicked, this, &QDialog::accept);
  // Updates come from the worker; they are carried over to this thread.
  QPointer<FirmwareDownloadDlg> self(this);
  model_.set_on_change([self] {
    if (self)
      QMetaObject::invokeMethod(
          self,
          [self] {
            if (self) self->Refresh();
          },
          Qt::QueuedConnection);
  });
  Refresh();
}

FirmwareDownloadDlg::~FirmwareDownloadDlg() {
  WaitForWorker();
  model_.set_on_change(nullptr);
}

void FirmwareDownloadDlg::WaitForWorker() {
  if (worker_.joinable()) worker_.join();
}

void FirmwareDownloadDlg::reject() {
  // The card is being loaded: the dialog stays until the download is over.
  if (model_.running()) return;
  QDialog::reject();
}

void FirmwareDownloadDlg::StartDownload() {
  if (!model_.begin_enabled() || worker_.joinable()) return;
  begin_->setEnabled(false);
  cursor_ = std::make_unique<ui::WaitCursor>();
  worker_ = std::thread([this] { model_.Begin(); });
}

void FirmwareDownloadDlg::Refresh() {
  percent_->setText(Text(model_.percent_text()));
  status_->setText(Text(model_.status_text()));
  begin_->setEnabled(model_.begin_enabled() && !worker_.joinable());
  done_->setEnabled(model_.done_enabled());
  if (model_.done_enabled()) cursor_.reset();
}

void RunFirmwareDownloadDialog(std::uint32_t location, std::uint32_t enumeration,
                               const std::string& path) {
  FirmwareDownloadDialogModel model(location, enumeration, path);
  FirmwareDownloadDlg dialog(model);
  dialog.exec();
}

}  // namespace zimo::corvan::dialogs::view
