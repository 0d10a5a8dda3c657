// The Qt download and upload dialogs, offscreen.
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "ui_test_support.h"
#include "voctoks_fixture.h"
#include "voctoks_qt.h"

namespace zimo::voctoks::testing {
namespace {

class VoctoKSDialogsTest : public VoctoKSTest {
 protected:
  void SetUp() override {
    zimo::ui::testing::TestApplication();
    VoctoKSTest::SetUp();
    ui::InstallQtServices();
  }
};

TEST_F(VoctoKSDialogsTest, TheDownloadDialogShowsReportsAndCancelAbortsTheDownload) {
  CVoctoKSCtrl& c = MakeOpen();
  auto view = Services().make_download_view(c, true);
  auto* dialog = dynamic_cast<QDialog*>(view.get());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), "Downloading.....");
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->findChild<QLabel*>("212")->text(), "0");
  view->AddMessage("Line 3: ERR003");
  view->SetProgress(45);
  EXPECT_EQ(dialog->findChild<QProgressBar*>("208")->value(), 45);
  EXPECT_EQ(dialog->findChild<QLabel*>("212")->text(), "45");
  auto* list = dialog->findChild<QListWidget*>("214");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "Line 3: ERR003");
  dialog->findChild<QPushButton*>("210")->click();
  EXPECT_EQ(fake_->calls, std::vector<std::string>{"ZimoAbortDownload(0)"});
}

TEST_F(VoctoKSDialogsTest, TheUploadDialogShowsItsCommandAndProgress) {
  CVoctoKSCtrl& c = MakeOpen();
  auto view = Services().make_upload_view(c, true);
  auto* dialog = dynamic_cast<QDialog*>(view.get());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), "Please Wait...");
  EXPECT_EQ(dialog->findChild<QLabel*>("218")->text(), "Uploading data from: LIST GATHER");
  auto* bar = dialog->findChild<QProgressBar*>("215");
  view->SetRange(0);
  EXPECT_FALSE(bar->isVisible());
  view->SetRange(40);
  view->SetPosition(12);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 40);
  EXPECT_EQ(bar->value(), 12);
  EXPECT_FALSE(view->cancelled());
  dialog->findChild<QPushButton*>("Cancel")->click();
  EXPECT_TRUE(view->cancelled());
}

TEST_F(VoctoKSDialogsTest, AHiddenUploadStillRunsAndWritesItsFile) {
  CVoctoKSCtrl& c = MakeOpen();
  fake_->lines = {"1", "2"};
  EXPECT_TRUE(c.UploadData(automation::Bstr::FromAnsi((work_ / "u.txt").string()),
                           automation::Bstr(u"LIST"), 2));
  EXPECT_TRUE(zimo::ui::testing::VisibleWindow<QDialog>("212") == nullptr);
}

}  // namespace
}  // namespace zimo::voctoks::testing
