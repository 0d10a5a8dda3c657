// The download's "Please Wait" window: its texts while it runs, a whole
// personality file sent from the window, and Cancel stopping after the line
// in flight.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "download_form.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "recording_fakes.h"
#include "temp_home.h"
#include "ui_test_support.h"

namespace zimo::labprog {
namespace {

using Strings = std::vector<std::string>;

class DownloadFormTest : public ::testing::Test {
 protected:
  DownloadFormTest() {
    ui::testing::TestApplication();
    clock_.set_auto_advance(true);
    link_.OnlineFlag = -1;
    link_.replies["p0"] = "1230";
    file_ = (home_.path() / "three.zko").string();
    std::ofstream(file_, std::ios::binary) << "I100=1\r\nP2=2\r\nM3=0\r\n";
  }

  zimo::testing::TempHome home_;
  platform::FakeClock clock_;
  platform::ScopedClock scoped_clock_{clock_};
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_boxes_{boxes_};
  testing::RecordingCommandPath link_;
  testing::RecordingShellWindows windows_;
  LabProgram program_{link_, windows_};
  StatusWindow window_;
  std::string file_;
};

TEST_F(DownloadFormTest, WindowSendsTheFileAndClosesItself) {
  DownloadForm form(program_, window_, file_);
  EXPECT_EQ(form.windowTitle().toStdString(), "Please Wait");
  ASSERT_NE(form.findChild<QPushButton*>("CancelButton"), nullptr);
  EXPECT_EQ(form.label()->text().toStdString(), "Downloading personality file...");
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  const Strings head = {"^X", "$$$***", "m0..1023->*", "p0..1023=1230", "q0..1023=0",
                        "i3=2", "I100=1", "P2=2", "M3=0", "cls", "save", "p0", "$$$"};
  ASSERT_GE(link_.sent.size(), head.size());
  EXPECT_EQ(Strings(link_.sent.begin(), link_.sent.begin() + head.size()), head);
  auto* bar = form.findChild<QProgressBar*>("DownloadPanel");
  ASSERT_NE(bar, nullptr);
  // Each line counts two bytes short: 14 of the file's 20 bytes.
  EXPECT_EQ(bar->value(), 70);
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(DownloadFormTest, CancelStopsAfterTheLineInFlight) {
  DownloadForm form(program_, window_, file_);
  form.findChild<QPushButton*>("CancelButton")->click();
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  const auto first = std::find(link_.sent.begin(), link_.sent.end(), "I100=1");
  ASSERT_NE(first, link_.sent.end());
  ASSERT_NE(first + 1, link_.sent.end());
  EXPECT_EQ(*(first + 1), "$$$***");
  EXPECT_EQ(std::count(link_.sent.begin(), link_.sent.end(), "save"), 0);
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->caption, "Notice");
}

}  // namespace
}  // namespace zimo::labprog
