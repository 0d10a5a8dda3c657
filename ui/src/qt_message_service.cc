#include "ui/qt_message_service.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"

namespace zimo::ui {
namespace {

QMessageBox::StandardButton StandardButtonOf(int answer) {
  switch (answer) {
    case platform::kIdOk:
      return QMessageBox::Ok;
    case platform::kIdCancel:
      return QMessageBox::Cancel;
    case platform::kIdAbort:
      return QMessageBox::Abort;
    case platform::kIdRetry:
      return QMessageBox::Retry;
    case platform::kIdIgnore:
      return QMessageBox::Ignore;
    case platform::kIdYes:
      return QMessageBox::Yes;
    case platform::kIdNo:
      return QMessageBox::No;
  }
  return QMessageBox::NoButton;
}

int AnswerOfStandardButton(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return platform::kIdOk;
    case QMessageBox::Cancel:
      return platform::kIdCancel;
    case QMessageBox::Abort:
      return platform::kIdAbort;
    case QMessageBox::Retry:
      return platform::kIdRetry;
    case QMessageBox::Ignore:
      return platform::kIdIgnore;
    case QMessageBox::Yes:
      return platform::kIdYes;
    case QMessageBox::No:
      return platform::kIdNo;
    default:
      return 0;
  }
}

QMessageBox::Icon IconOf(uint32_t flags) {
  switch (flags & platform::kMbIconMask) {
    case platform::kMbIconError:
      return QMessageBox::Critical;
    case platform::kMbIconQuestion:
      return QMessageBox::Question;
    case platform::kMbIconExclamation:
      return QMessageBox::Warning;
    case platform::kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A QApplication (not only a core application) that lives in this process.
bool HaveGuiApplication() { return qobject_cast<QApplication*>(QCoreApplication::instance()); }

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(std::string_view text, std::string_view caption,
                                            uint32_t flags) {
  auto box = std::make_unique<QMessageBox>();
  box->setWindowTitle(FromText(caption));
  box->setText(FromText(text));
  box->setIcon(IconOf(flags));
  const std::vector<int> answers = platform::BoxButtons(flags);
  QMessageBox::StandardButtons buttons;
  for (int answer : answers) buttons |= StandardButtonOf(answer);
  box->setStandardButtons(buttons);
  box->setDefaultButton(StandardButtonOf(platform::DefaultAnswer(flags)));
  box->setWindowModality(Qt::ApplicationModal);
  // Boxes have no owner window: one that the system asks for in front of
  // everything stays there, so it cannot hide behind the window that
  // caused it.
  if ((flags & (platform::kMbTopmost | platform::kMbSystemModal)) != 0) {
    box->setWindowFlags(box->windowFlags() | Qt::WindowStaysOnTopHint);
  }
  return box;
}

int AnswerOfBox(const QMessageBox& box, uint32_t flags) {
  if (QAbstractButton* clicked = box.clickedButton()) {
    const int answer = AnswerOfStandardButton(box.standardButton(clicked));
    if (answer != 0) return answer;
  }
  const std::vector<int> answers = platform::BoxButtons(flags);
  if (std::find(answers.begin(), answers.end(), platform::kIdCancel) != answers.end()) {
    return platform::kIdCancel;
  }
  return answers.size() == 1 ? answers.front() : platform::DefaultAnswer(flags);
}

QtMessageService::QtMessageService(std::chrono::milliseconds pickup_timeout)
    : pickup_timeout_(pickup_timeout) {}

QtMessageService::~QtMessageService() = default;

int QtMessageService::Show(std::string_view text, std::string_view caption, uint32_t flags) {
  if (!HaveGuiApplication()) return console_.Show(text, caption, flags);
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
    return ShowOnGuiThread(text, caption, flags);
  }
  return ShowFromOtherThread(text, caption, flags);
}

int QtMessageService::ShowOnGuiThread(std::string_view text, std::string_view caption,
                                      uint32_t flags) {
  std::unique_ptr<QMessageBox> box = MakeMessageBox(text, caption, flags);
  if ((flags & platform::kMbSetForeground) != 0) {
    box->show();
    box->raise();
    box->activateWindow();
  }
  box->exec();
  return AnswerOfBox(*box, flags);
}

int QtMessageService::ShowFromOtherThread(std::string_view text, std::string_view caption,
                                          uint32_t flags) {
  struct Request {
    std::mutex mutex;
    std::condition_variable changed;
    bool taken = false;
    bool withdrawn = false;
    bool done = false;
    int answer = 0;
  };
  auto request = std::make_shared<Request>();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [this, request, text = std::string(text), caption = std::string(caption), flags] {
        {
          std::lock_guard<std::mutex> lock(request->mutex);
          if (request->withdrawn) return;
          request->taken = true;
        }
        request->changed.notify_all();
        const int answer = ShowOnGuiThread(text, caption, flags);
        {
          std::lock_guard<std::mutex> lock(request->mutex);
          request->answer = answer;
          request->done = true;
        }
        request->changed.notify_all();
      },
      Qt::QueuedConnection);

  std::unique_lock<std::mutex> lock(request->mutex);
  if (!request->changed.wait_for(lock, pickup_timeout_, [&] { return request->taken; })) {
    request->withdrawn = true;
    lock.unlock();
    platform::DebugPrintf(
        "Message box \"%.*s\" not shown: the window thread is busy; taking its default answer\n",
        static_cast<int>(caption.size()), caption.data());
    return platform::DefaultAnswer(flags);
  }
  request->changed.wait(lock, [&] { return request->done; });
  return request->answer;
}

}  // namespace zimo::ui
