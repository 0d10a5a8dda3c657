// The Qt message service: boxes built from the system's flags, answers from
// the buttons pressed, boxes asked for by other threads, and the case that
// must never hang: a thread that holds a lock asks for a box while the
// window thread waits for that lock.
#include "ui/qt_message_service.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QMessageBox>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/message.h"
#include "ui_test_support.h"

namespace zimo::ui {
namespace {

using namespace zimo::platform;
using testing::AnswerNextBox;
using testing::TestApplication;

struct BoxCase {
  const char* name;
  uint32_t flags;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button;
  QMessageBox::Icon icon;
  bool topmost;
};

class MessageBoxShapeTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxShapeTest, FlagsGiveButtonsDefaultIconAndPlacement) {
  TestApplication();
  const BoxCase& c = GetParam();
  auto box = MakeMessageBox("Text", "Caption", c.flags);
  EXPECT_EQ(box->standardButtons(), c.buttons);
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->standardButton(box->defaultButton()), c.default_button);
  EXPECT_EQ(box->icon(), c.icon);
  EXPECT_EQ(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.topmost);
  EXPECT_EQ(box->windowTitle(), "Caption");
  EXPECT_EQ(box->text(), "Text");
}

INSTANTIATE_TEST_SUITE_P(
    Flags, MessageBoxShapeTest,
    ::testing::Values(
        BoxCase{"OkAlone", kMbOk, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::NoIcon, false},
        BoxCase{"TopmostQuestionSecondDefault", kMbOkCancel | kMbTopmost | kMbIconQuestion | kMbDefButton2,
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Question,
                true},
        BoxCase{"YesNoCancelWarning", kMbYesNoCancel | kMbIconExclamation,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
                QMessageBox::Warning, false},
        BoxCase{"SystemModalError", kMbAbortRetryIgnore | kMbIconError | kMbDefButton3 | kMbSystemModal,
                QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore,
                QMessageBox::Ignore, QMessageBox::Critical, true},
        // A default beyond the last button falls back to the first.
        BoxCase{"DefaultBeyondLastButton", kMbRetryCancel | kMbIconInformation | kMbDefButton3,
                QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry,
                QMessageBox::Information, false}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(QtMessageServiceTest, ReturnsTheButtonThePersonPressed) {
  TestApplication();
  QtMessageService service;
  std::string seen_text;
  AnswerNextBox(QMessageBox::No, [&](QMessageBox* box) { seen_text = box->text().toStdString(); });
  EXPECT_EQ(service.Show("Remove it?", "ZIMO", kMbYesNo), kIdNo);
  EXPECT_EQ(seen_text, "Remove it?");

  AnswerNextBox(QMessageBox::Ok);
  EXPECT_EQ(service.Show("Done.", "ZIMO", kMbOk), kIdOk);
}

TEST(QtMessageServiceTest, ABoxClosedWithoutAButtonAnswersCancelOrItsOnlyButton) {
  TestApplication();
  QtMessageService service;
  testing::WhenShown<QMessageBox>(QString(), [](QMessageBox* box) { box->reject(); });
  EXPECT_EQ(service.Show("Go on?", "ZIMO", kMbOkCancel), kIdCancel);
  testing::WhenShown<QMessageBox>(QString(), [](QMessageBox* box) { box->reject(); });
  EXPECT_EQ(service.Show("Note this.", "ZIMO", kMbOk), kIdOk);
}

TEST(QtMessageServiceTest, ABoxAskedForOnAnotherThreadIsShownByTheWindowThread) {
  QApplication& app = TestApplication();
  QtMessageService service;
  std::atomic<int> answer{0};
  std::atomic<bool> shown_on_window_thread{false};
  AnswerNextBox(QMessageBox::Retry, [&](QMessageBox* box) {
    shown_on_window_thread = box->thread() == app.thread();
  });
  std::thread worker([&] { answer = service.Show("Retry?", "ZIMO", kMbRetryCancel); });
  while (answer == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_EQ(answer, kIdRetry);
  EXPECT_TRUE(shown_on_window_thread);
}

TEST(QtMessageServiceTest, ALockHolderNeverWaitsForABusyWindowThread) {
  TestApplication();
  // Short: the window thread must not take the box up at all here.
  QtMessageService service(std::chrono::milliseconds(50));
  std::mutex device_lock;
  std::atomic<bool> locked{false};
  std::atomic<int> answer{0};
  std::thread worker([&] {
    std::lock_guard<std::mutex> hold(device_lock);
    locked = true;
    answer = service.Show("Checksum error. Retry?", "Bad Checksum",
                          kMbOkCancel | kMbTopmost | kMbDefButton2);
  });
  while (!locked) std::this_thread::yield();
  {
    // The window thread waits for the device, as a poll timer would.
    std::lock_guard<std::mutex> wait_for_device(device_lock);
  }
  worker.join();
  EXPECT_EQ(answer, kIdCancel);  // the box's default button
  // The withdrawn box never shows up later.
  QCoreApplication::processEvents();
  EXPECT_EQ(testing::VisibleWindow<QMessageBox>(), nullptr);
}

}  // namespace
}  // namespace zimo::ui
