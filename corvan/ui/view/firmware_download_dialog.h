// "Downloading Firmware" (template 135) on screen. Begin runs the download
// on a worker thread; the percentage (1030) and the status text (1034) are
// refreshed on the window thread from queued updates, so the window stays
// alive while the card is loaded.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "logic/firmware_download_dialog.h"
#include "ui/wait_cursor.h"

class QLabel;
class QPushButton;

namespace zimo::corvan::dialogs::view {

class FirmwareDownloadDlg : public QDialog {
 public:
  explicit FirmwareDownloadDlg(FirmwareDownloadDialogModel& model, QWidget* parent = nullptr);
  ~FirmwareDownloadDlg() override;

  // Waits for a running download's worker (tests; the dialog's end does it).
  void WaitForWorker();

 protected:
  void reject() override;

 private:
  void StartDownload();
  void Refresh();

  FirmwareDownloadDialogModel& model_;
  QLabel* percent_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* begin_ = nullptr;
  QPushButton* done_ = nullptr;
  std::unique_ptr<ui::WaitCursor> cursor_;
  std::thread worker_;
};

// Runs the dialog modally for a device interface and an image file.
void RunFirmwareDownloadDialog(std::uint32_t location, std::uint32_t enumeration,
                               const std::string& path);

}  // namespace zimo::corvan::dialogs::view
