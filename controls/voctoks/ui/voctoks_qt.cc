#include "voctoks_qt.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "controls/ui/property_frame_dialog.h"
#include "pages.h"
#include "platform/process.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks::ui {
namespace {

bool CanShow() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

class DownloadDialog : public QDialog, public DownloadView {
 public:
  DownloadDialog(CVoctoKSCtrl& control) : control_(control) {
    setObjectName("211");
    setWindowTitle("Downloading.....");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Progress", this));
    bar_ = new QProgressBar(this);
    bar_->setObjectName("208");
    bar_->setRange(0, 100);
    bar_->setValue(0);
    layout->addWidget(bar_);
    percent_ = new QLabel("0", this);
    percent_->setObjectName("212");
    layout->addWidget(percent_);
    layout->addWidget(new QLabel("Log File", this));
    list_ = new QListWidget(this);
    list_->setObjectName("214");
    layout->addWidget(list_);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setObjectName("210");
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] { control_.CancelDownload(); });
  }
  void AddMessage(const std::string& text) override {
    list_->addItem(QString::fromLatin1(text.c_str()));
  }
  void SetProgress(int percent) override {
    bar_->setValue(percent);
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(percent));
    percent_->setText(text);
  }

 private:
  CVoctoKSCtrl& control_;
  QProgressBar* bar_;
  QLabel* percent_;
  QListWidget* list_;
};

class UploadDialog : public QDialog, public UploadView {
 public:
  UploadDialog() {
    setObjectName("212");
    setWindowTitle("Please Wait...");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel("Uploading data from: LIST GATHER", this);
    text_->setObjectName("218");
    layout->addWidget(text_);
    bar_ = new QProgressBar(this);
    bar_->setObjectName("215");
    layout->addWidget(bar_);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setObjectName("Cancel");
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] { cancelled_ = true; });
  }
  void SetText(const std::string& text) override {
    text_->setText(QString::fromLatin1(text.c_str()));
  }
  void SetRange(int32_t maximum) override {
    bar_->setVisible(maximum > 0);
    if (maximum > 0) bar_->setRange(0, maximum);
  }
  void SetPosition(int32_t position) override { bar_->setValue(position); }
  bool cancelled() const override { return cancelled_; }

 private:
  QLabel* text_;
  QProgressBar* bar_;
  bool cancelled_ = false;
};

// Without a window system the operations still run, behind no dialog.
class HeadlessDownload : public DownloadView {
 public:
  void AddMessage(const std::string&) override {}
  void SetProgress(int) override {}
};
class HeadlessUpload : public UploadView {
 public:
  void SetText(const std::string&) override {}
  void SetRange(int32_t) override {}
  void SetPosition(int32_t) override {}
  bool cancelled() const override { return false; }
};

// A dialog that is never shown still carries the state (Cancel flag).
template <typename Dialog>
std::unique_ptr<Dialog> Shown(std::unique_ptr<Dialog> dialog, bool visible) {
  if (visible) dialog->show();
  return dialog;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), cycle_(new CreditCycle()) {
  setObjectName("1");
  setWindowTitle("About VoctoKS");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("AUTHORS:", this));
  credits_ = new QLabel(QString::fromStdString(cycle_->current()), this);
  credits_->setObjectName("206");
  layout->addWidget(credits_);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OK");
  layout->addWidget(ok);
  timer_ = new QTimer(this);
  timer_->setInterval(CreditCycle::kIntervalMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    cycle_->Next();
    credits_->setText(QString::fromStdString(cycle_->current()));
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    timer_->stop();
    accept();
  });
  timer_->start();
}

AboutDialog::~AboutDialog() { delete cycle_; }

QString AboutDialog::credits() const { return credits_->text(); }

void InstallQtServices() {
  ControlServices& s = Services();
  s.make_download_view = [](CVoctoKSCtrl& control, bool visible) -> std::unique_ptr<DownloadView> {
    if (!CanShow()) return std::make_unique<HeadlessDownload>();
    return Shown(std::make_unique<DownloadDialog>(control), visible);
  };
  s.make_upload_view = [](CVoctoKSCtrl&, bool visible) -> std::unique_ptr<UploadView> {
    if (!CanShow()) return std::make_unique<HeadlessUpload>();
    return Shown(std::make_unique<UploadDialog>(), visible);
  };
  s.process_messages = [] {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
    return 0;
  };
  if (!s.beep)
    s.beep = [] {
      if (CanShow()) QApplication::beep();
    };
  if (!s.start_viewer)
    s.start_viewer = [](const std::string& path) {
      // "%s" in the configured command stands for the path (never used as
      // a format: the command comes from the environment).
      std::string command = LogViewerCommand();
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
  s.about_box = [](CVoctoKSCtrl&) {
    if (!CanShow()) return;
    AboutDialog box;
    box.exec();
  };
}

}  // namespace zimo::voctoks::ui
