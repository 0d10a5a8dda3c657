#include "download_form.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace zimo::labprog {

DownloadForm::DownloadForm(LabProgram& program, StatusWindow& window, std::string file,
                           QWidget* parent)
    : QDialog(parent), download_(program, window), file_(std::move(file)) {
  setObjectName(QStringLiteral("DownloadForm"));
  setWindowTitle(QStringLiteral("Please Wait"));
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(QStringLiteral("Downloading personality file..."), this);
  label_->setObjectName(QStringLiteral("DownloadLabel"));
  layout->addWidget(label_);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("DownloadPanel"));
  bar_->setRange(0, 100);
  bar_->setValue(100);
  bar_->setFormat(QStringLiteral("%p%"));
  layout->addWidget(bar_);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  layout->addWidget(cancel);
  connect(cancel, &QPushButton::clicked, this, [this] { download_.Cancel(); });
  download_.on_progress = [this](double percent) { bar_->setValue(static_cast<int>(percent)); };
  download_.pump_events = [] { QApplication::processEvents(); };
  // The transfer begins from the event loop that shows the window.
  QTimer::singleShot(0, this, [this] { Transfer(); });
}

void DownloadForm::Transfer() {
  if (started_) return;
  started_ = true;
  bar_->setValue(0);
  download_.Run(file_);
  accept();
}

}  // namespace zimo::labprog
