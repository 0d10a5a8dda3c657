#include "vocto_qt.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "controls/ui/property_frame_dialog.h"
#include "pages.h"
#include "platform/process.h"
#include "vocto_ctrl.h"

namespace zimo::vocto::ui {
namespace {

bool CanShow() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

QLabel* Named(QLabel* label, int id) {
  label->setObjectName(QString::number(id));
  return label;
}

// Without a window system the operations still run, behind no dialog.
class HeadlessDownload : public DownloadView {
 public:
  void SetText(int, const std::string&) override {}
  void ShowProgress() override {}
  void SetProgress(int) override {}
  bool cancel_pressed() const override { return false; }
};
class HeadlessUpload : public UploadView {
 public:
  void SetText(const std::string&) override {}
  void ShowProgress(int32_t) override {}
  void SetPosition(int32_t) override {}
  bool cancel_pressed() const override { return false; }
};

}  // namespace

DownloadDialog::DownloadDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("201");
  setWindowTitle("Downloading...");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  auto* status = new QHBoxLayout;
  status->addWidget(new QLabel("STATUS:", this));
  status->addWidget(Named(new QLabel(this), 210));
  layout->addLayout(status);
  auto* files = new QGroupBox("Files", this);
  auto* files_layout = new QGridLayout(files);
  files_layout->addWidget(new QLabel("MAIN FILE:", files), 0, 0);
  files_layout->addWidget(Named(new QLabel(files), 208), 0, 1);
  files_layout->addWidget(new QLabel("PREPROCESSING:", files), 1, 0);
  files_layout->addWidget(Named(new QLabel(files), 209), 1, 1);
  layout->addWidget(files);
  frame_ = new QGroupBox(this);
  frame_->setObjectName("216");
  auto* frame_layout = new QVBoxLayout(frame_);
  bar_ = new QProgressBar(frame_);
  bar_->setObjectName("215");
  bar_->setRange(0, 100);
  frame_layout->addWidget(bar_);
  frame_->hide();
  bar_->hide();
  layout->addWidget(frame_);
  auto* stats = new QGroupBox("Statistics", this);
  auto* grid = new QGridLayout(stats);
  grid->addWidget(new QLabel("Total", stats), 0, 1);
  grid->addWidget(new QLabel("File", stats), 0, 2);
  const char* rows[] = {"Lines:", "Warnings:", "Errors:"};
  for (int r = 0; r < 3; ++r) {
    grid->addWidget(new QLabel(rows[r], stats), r + 1, 0);
    grid->addWidget(Named(new QLabel("0", stats), 202 + r), r + 1, 1);
    grid->addWidget(Named(new QLabel("0", stats), 205 + r), r + 1, 2);
  }
  layout->addWidget(stats);
  auto* cancel = new QPushButton("&Cancel", this);
  cancel->setObjectName("Cancel");
  layout->addWidget(cancel);
  connect(cancel, &QPushButton::clicked, this, [this] { cancelled_ = true; });
}

void DownloadDialog::SetText(int control_id, const std::string& text) {
  if (auto* label = findChild<QLabel*>(QString::number(control_id))) {
    label->setText(QString::fromLatin1(text.c_str()));
  }
}

void DownloadDialog::ShowProgress() {
  frame_->show();
  bar_->show();
}

void DownloadDialog::SetProgress(int percent) { bar_->setValue(percent); }

QString DownloadDialog::Text(int control_id) const {
  auto* label = findChild<QLabel*>(QString::number(control_id));
  return label != nullptr ? label->text() : QString();
}

UploadDialog::UploadDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("222");
  setWindowTitle("Please Wait...");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  text_ = Named(new QLabel("Uploading data from: LIST GATHER", this), 218);
  layout->addWidget(text_);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("217");
  bar_->hide();
  layout->addWidget(bar_);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("Cancel");
  layout->addWidget(cancel);
  connect(cancel, &QPushButton::clicked, this, [this] { cancelled_ = true; });
}

void UploadDialog::SetText(const std::string& text) {
  text_->setText(QString::fromLatin1(text.c_str()));
}

void UploadDialog::ShowProgress(int32_t maximum) {
  bar_->setRange(0, maximum);
  bar_->show();
}

void UploadDialog::SetPosition(int32_t position) { bar_->setValue(position); }

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("1");
  setWindowTitle("About Vocto Control");
  auto* layout = new QVBoxLayout(this);
  auto* picture = new QLabel(this);
  picture->setObjectName("picture");
  picture->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
  layout->addWidget(picture);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OK");
  layout->addWidget(ok);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void InstallQtServices() {
  ControlServices& s = Services();
  s.make_download_view = [](CVoctoCtrl&, bool visible) -> std::unique_ptr<DownloadView> {
    if (!CanShow()) return std::make_unique<HeadlessDownload>();
    auto dialog = std::make_unique<DownloadDialog>();
    if (visible) dialog->show();
    return dialog;
  };
  s.make_upload_view = [](CVoctoCtrl&, bool visible) -> std::unique_ptr<UploadView> {
    if (!CanShow()) return std::make_unique<HeadlessUpload>();
    auto dialog = std::make_unique<UploadDialog>();
    if (visible) dialog->show();
    return dialog;
  };
  s.process_messages = [] {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
  };
  if (!s.beep) {
    s.beep = [] {
      if (CanShow()) QApplication::beep();
    };
  }
  if (!s.start_viewer) {
    s.start_viewer = [](const std::string& path) {
      // "%s" in the configured command stands for the path (never used as
      // a format: the command comes from the environment).
      std::string command = ViewerCommand();
      size_t at = command.find("%s");
      if (at != std::string::npos) {
        command.replace(at, 2, path);
      } else {
        command += " " + path;
      }
      platform::SpawnOptions options;
      options.detached = true;
      options.quiet = true;
      (void)platform::SpawnCommandLine(command, options);
    };
  }
  s.about_box = [](CVoctoCtrl&) {
    if (!CanShow()) return;
    AboutDialog box;
    box.exec();
  };
  s.property_frame = [](CVoctoCtrl& control) {
    if (!CanShow()) return;
    // The frame binds the pages to the control without owning it.
    std::shared_ptr<automation::Dispatch> self(&control, [](automation::Dispatch*) {});
    auto frame = MakePropertyFrame(self);
    controls::ui::PropertyFrameDialog dialog(*frame);
    dialog.exec();
  };
}

}  // namespace zimo::vocto::ui
