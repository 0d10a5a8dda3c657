// The property pages and the about box, in their Qt views (offscreen).
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "controls/ui/property_frame_dialog.h"
#include "pages.h"
#include "ui_test_support.h"
#include "voctoks_fixture.h"
#include "voctoks_qt.h"

namespace zimo::voctoks::testing {
namespace {

using automation::kPropertyGet;

class VoctoKSPagesTest : public VoctoKSTest {
 protected:
  void SetUp() override {
    zimo::ui::testing::TestApplication();
    VoctoKSTest::SetUp();
  }
  Variant Get(const char* name) {
    Variant v;
    EXPECT_EQ(control_->CallByName(name, kPropertyGet, {}, &v), automation::S_OK);
    return v;
  }
};

TEST_F(VoctoKSPagesTest, TheFrameListsTheFourPagesInOrder) {
  Make();
  auto frame = MakePropertyFrame(control_);
  ASSERT_EQ(frame->page_count(), 4u);
  std::vector<std::string> captions;
  std::vector<int> templates;
  for (size_t i = 0; i < 4; ++i) {
    captions.emplace_back(frame->page(i).description().caption);
    templates.push_back(frame->page(i).description().template_id);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"General", "Download", "Upload", "About"}));
  EXPECT_EQ(templates, (std::vector<int>{200, 213, 214, 105}));
  EXPECT_EQ(control_->PropertyPages(),
            (std::vector<automation::Guid>{kGeneralPageClsid, kDownloadPageClsid, kUploadPageClsid,
                                           kAboutPageClsid}));
}

TEST_F(VoctoKSPagesTest, TheSelectButtonPutsTheChosenNumberOrZeroIntoTheEdit) {
  fake_->device_count = 8;
  Make();
  control_->put_DeviceNumber(5);
  auto frame = MakePropertyFrame(control_);
  controls::ui::PropertyFrameDialog dialog(*frame);
  auto* edit = qobject_cast<QLineEdit*>(dialog.Control(0, 201));
  auto* button = qobject_cast<QPushButton*>(dialog.Control(0, 202));
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(edit->text(), "5");
  fake_->select_result = -1;
  button->click();
  EXPECT_EQ(edit->text(), "0");
  EXPECT_TRUE(dialog.apply_button()->isEnabled());
  fake_->select_result = 3;
  button->click();
  EXPECT_EQ(edit->text(), "3");
  dialog.apply_button()->click();
  EXPECT_EQ(Get("DeviceNumber"), Variant(3));
}

TEST_F(VoctoKSPagesTest, ShowErrorsOnTheDownloadPageAlsoSetsTheLog) {
  Make();
  ASSERT_EQ(Get("DownloadLog"), Variant(false));
  auto frame = MakePropertyFrame(control_);
  controls::ui::PropertyFrameDialog dialog(*frame);
  auto* show_errors = qobject_cast<QCheckBox*>(dialog.Control(1, 225));
  ASSERT_NE(show_errors, nullptr);
  EXPECT_EQ(show_errors->text(), "&Prompt user to view errors in NOTEPAD if any exist");
  show_errors->setChecked(false);
  dialog.apply_button()->click();
  show_errors->setChecked(true);
  dialog.apply_button()->click();
  EXPECT_EQ(Get("DownloadShowErrors"), Variant(true));
  // The log box was not touched: only the setter set it.
  EXPECT_EQ(Get("DownloadLog"), Variant(true));
  EXPECT_TRUE(qobject_cast<QCheckBox*>(dialog.Control(1, 218))->isChecked());
}

TEST_F(VoctoKSPagesTest, TheErrorLimitIsRangeCheckedBeforeApply) {
  Make();
  auto frame = MakePropertyFrame(control_);
  controls::ui::PropertyFrameDialog dialog(*frame);
  auto* limit = qobject_cast<QLineEdit*>(dialog.Control(1, 219));
  ASSERT_NE(limit, nullptr);
  limit->setText("100001");
  dialog.PullFromWidgets(1);
  dialog.apply_button()->click();
  EXPECT_EQ(Get("DownloadMaxErrors"), Variant(10));
  EXPECT_EQ(boxes_.last()->text, "Please enter an integer between 0 and 100000.");
  limit->setText("100000");
  dialog.PullFromWidgets(1);
  dialog.apply_button()->click();
  EXPECT_EQ(Get("DownloadMaxErrors"), Variant(100000));
}

TEST_F(VoctoKSPagesTest, CreditsMoveOnEveryTickAndStopWithTheBox) {
  Make();
  auto frame = MakePropertyFrame(control_);
  controls::ui::PropertyFrameDialog dialog(*frame);
  QTimer* timer = dialog.page_timer(3);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 1500);
  auto* credits = qobject_cast<QLabel*>(dialog.Control(3, 206));
  ASSERT_NE(credits, nullptr);
  std::vector<QString> seen{credits->text()};
  for (int i = 0; i < 3; ++i) {
    QMetaObject::invokeMethod(timer, "timeout");
    seen.push_back(credits->text());
  }
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[1], seen[2]);
  EXPECT_EQ(seen[0], seen[3]);  // three lines in a cycle

  ui::AboutDialog box;
  EXPECT_EQ(box.timer()->interval(), 1500);
  EXPECT_TRUE(box.timer()->isActive());
  QString first = box.credits();
  QMetaObject::invokeMethod(box.timer(), "timeout");
  EXPECT_NE(box.credits(), first);
  box.findChild<QPushButton*>("OK")->click();
  EXPECT_FALSE(box.timer()->isActive());
}

TEST_F(VoctoKSPagesTest, TheCreditCycleStartsWithOneOfTheFirstTwo) {
  CreditCycle even(0), odd(1);
  EXPECT_NE(even.current(), odd.current());
  even.Next();
  EXPECT_EQ(even.current(), odd.current());
}

}  // namespace
}  // namespace zimo::voctoks::testing
