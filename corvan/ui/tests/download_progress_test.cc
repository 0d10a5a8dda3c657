// The download progress dialog offscreen over a card on its pseudo-terminal:
// reports in the list, the percent, closing after a clean run, staying
// open after an error, Abort, and a refused start.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "corvan/device_api.h"
#include "download/download_state.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"
#include "view/download_progress_dialog.h"
#include "view_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using namespace zimo::corvan::testing;

class ProgressDialogTest : public dialogs::testing::ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    server_->table()->Devices[0].PlccEnabled = 0;
  }
  void TearDown() override {
    while (DownloadState::Instance().busy()) Pump();
    ShutdownZimoDevice(0, 1);
    CommLibraryApp::Instance().End();
    DownloadState::Instance().set_active(false);
  }
  static void Pump() {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ProgressRequest Request(const std::string& text, std::int32_t stay_open = 0) {
    const std::string source = (home_.path() / "PROG.PMC").string();
    plcc::testing::WriteText(source, text);
    return ProgressRequest{0, stay_open, 0, source, 1, 0, 0, 1};
  }
  // Shows the dialog and pumps events until the run has ended and its
  // queued calls have arrived, or the dialog closed.
  static void RunUntilEnd(view::DownloadProgressDialog& dialog) {
    dialog.show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && dialog.isVisible()) {
      Pump();
      auto* list = dialog.findChild<QListWidget*>("1034");
      if (!DownloadState::Instance().busy() && list->count() > 0 &&
          list->item(list->count() - 1)->text() == "END.") {
        for (int i = 0; i < 20; ++i) Pump();
        break;
      }
    }
  }
  static QPushButton* ButtonOf(QDialog& d, const char* id) { return d.findChild<QPushButton*>(id); }

  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(ProgressDialogTest, CleanRunClosesItself) {
  view::DownloadProgressDialog dialog(Request("P1=1\nP2=2\n"));
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Downloading to ZIMO...");
  EXPECT_EQ(dialog.findChild<QLabel*>("1030")->text().toStdString(), "0");
  EXPECT_FALSE(ButtonOf(dialog, "1")->isEnabled());
  RunUntilEnd(dialog);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_EQ(dialog.model().start_result(), 1);
  auto* list = dialog.findChild<QListWidget*>("1034");
  ASSERT_GE(list->count(), 3);
  EXPECT_EQ(list->item(0)->text().toStdString().rfind("Processing Macro File: ", 0), 0u);
  EXPECT_EQ(list->item(list->count() - 1)->text().toStdString(), "END.");
  EXPECT_EQ(dialog.findChild<QLabel*>("1030")->text().toStdString(), "100");
}

TEST_F(ProgressDialogTest, AnErrorKeepsItOpenWithDoneEnabled) {
  view::DownloadProgressDialog dialog(Request("P1=1\nXYZZY\n"));
  RunUntilEnd(dialog);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(ButtonOf(dialog, "1")->isEnabled());
  EXPECT_FALSE(ButtonOf(dialog, "2")->isEnabled());
  ButtonOf(dialog, "1")->click();
  for (int i = 0; i < 5; ++i) Pump();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 1);
}

TEST_F(ProgressDialogTest, StayOpenAfterACleanRun) {
  view::DownloadProgressDialog dialog(Request("P1=1\n", 1));
  RunUntilEnd(dialog);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(ButtonOf(dialog, "1")->isEnabled());
}

TEST_F(ProgressDialogTest, AbortStopsTheRun) {
  std::string text;
  for (int i = 1; i <= 400; ++i) text += "P" + std::to_string(i) + "=1\n";
  view::DownloadProgressDialog dialog(Request(text));
  dialog.show();
  ButtonOf(dialog, "2")->click();
  RunUntilEnd(dialog);
  auto* list = dialog.findChild<QListWidget*>("1034");
  bool reported = false;
  for (int i = 0; i < list->count(); ++i) {
    reported = reported || list->item(i)->text() == "Download aborted at users request.";
  }
  EXPECT_TRUE(reported);
  EXPECT_TRUE(ButtonOf(dialog, "1")->isEnabled());
  EXPECT_FALSE(ButtonOf(dialog, "2")->isEnabled());
  EXPECT_FALSE(card_->Received("P400=1"));
}

TEST_F(ProgressDialogTest, ARefusedStartIsShown) {
  ASSERT_TRUE(DownloadState::Instance().TryMarkBusy());
  view::DownloadProgressDialog dialog(Request("P1=1\n"));
  dialog.show();
  dialog.show();  // a second show starts nothing
  for (int i = 0; i < 10; ++i) Pump();
  DownloadState::Instance().set_busy(false);
  EXPECT_EQ(dialog.model().start_result(), 0);
  auto* list = dialog.findChild<QListWidget*>("1034");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text().toStdString(), "Download thread already running!");
  EXPECT_TRUE(ButtonOf(dialog, "1")->isEnabled());
  EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace zimo::corvan::dialogs
