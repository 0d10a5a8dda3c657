// The property pages in their Qt view, the about box and the dialogs
// (offscreen).
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>
#include <map>

#include "controls/ui/property_frame_dialog.h"
#include "pages.h"
#include "ui_test_support.h"
#include "vocto_fixture.h"
#include "vocto_qt.h"

namespace zimo::vocto::testing {
namespace {

class VoctoPagesTest : public VoctoTest {
 protected:
  void SetUp() override {
    zimo::ui::testing::TestApplication();
    VoctoTest::SetUp();
  }
  std::vector<std::string> Texts(const controls::PageDescription& page) {
    return {page.texts.begin(), page.texts.end()};
  }
};

TEST_F(VoctoPagesTest, TheFrameListsTheFivePagesInOrder) {
  site_.user_mode = false;
  Make();
  auto frame = MakePropertyFrame(controls_.back());
  ASSERT_EQ(frame->page_count(), 5u);
  std::vector<std::string> captions;
  std::vector<int> templates;
  for (size_t i = 0; i < 5; ++i) {
    captions.emplace_back(frame->page(i).description().caption);
    templates.push_back(frame->page(i).description().template_id);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"General", "Bus", "DPR", "Serial", "About"}));
  EXPECT_EQ(templates, (std::vector<int>{100, 104, 105, 106, 223}));
  EXPECT_EQ(control().PropertyPages(),
            (std::vector<automation::Guid>{kGeneralPageClsid, kBusPageClsid, kDprPageClsid,
                                           kSerialPageClsid, kAboutPageClsid}));
}

TEST_F(VoctoPagesTest, TheRadiosSetCommMethodAndSerialPlusApplyDisables) {
  Make();  // run time, enabled and open (simulated)
  ASSERT_NE(control().card_record(), nullptr);
  auto frame = MakePropertyFrame(controls_.back());
  controls::ui::PropertyFrameDialog dialog(*frame);
  const int ids[] = {203, 204, 205, 214};
  const char* labels[] = {"&Bus", "&Dual Ported Ram", "&Serial", "S&imulated communication"};
  for (int i = 0; i < 4; ++i) {
    auto* radio = qobject_cast<QRadioButton*>(dialog.Control(0, ids[i]));
    ASSERT_NE(radio, nullptr) << ids[i];
    EXPECT_EQ(radio->text().toStdString(), labels[i]);
    EXPECT_EQ(radio->isChecked(), i == 3);  // DRY is the default
  }
  qobject_cast<QRadioButton*>(dialog.Control(0, 205))->click();
  dialog.apply_button()->click();
  EXPECT_EQ(Get("CommMethod"), Variant(2));
  EXPECT_EQ(Get("Enabled"), Variant(false));
  EXPECT_EQ(control().card_record(), nullptr);
  for (int i = 0; i < 4; ++i) {
    if (i == 2) continue;
    qobject_cast<QRadioButton*>(dialog.Control(0, ids[i]))->click();
    dialog.apply_button()->click();
    EXPECT_EQ(Get("CommMethod"), Variant(i)) << ids[i];
  }
}

TEST_F(VoctoPagesTest, TheEditsShowTheDefaultsAndApplyThem) {
  site_.user_mode = false;
  Make();
  auto frame = MakePropertyFrame(controls_.back());
  controls::ui::PropertyFrameDialog dialog(*frame);
  auto text = [&](size_t page, int id) {
    auto* edit = qobject_cast<QLineEdit*>(dialog.Control(page, id));
    return edit != nullptr ? edit->text().toStdString() : std::string("<none>");
  };
  EXPECT_EQ(text(0, 201), "1000");
  EXPECT_EQ(text(1, 202), "528");
  EXPECT_EQ(text(2, 202), "$D4000");
  EXPECT_EQ(text(3, 213), "2");
  EXPECT_EQ(text(3, 203), "38400");
  auto* base = qobject_cast<QLineEdit*>(dialog.Control(1, 202));
  base->setText("784");
  dialog.PullFromWidgets(1);
  auto* dpr = qobject_cast<QLineEdit*>(dialog.Control(2, 202));
  dpr->setText("0xCC000");
  dialog.PullFromWidgets(2);
  dialog.findChild<QPushButton*>("OK")->click();
  EXPECT_EQ(Get("BusBase"), Variant(784));
  EXPECT_EQ(control().BuildImage(false).dpr_base, 0xCC000);
}

TEST_F(VoctoPagesTest, TheHelpTextsAreThePagesOwn) {
  EXPECT_EQ(Texts(kGeneralPage),
            (std::vector<std::string>{
                "WELCOME!   This control allows you to easily interface with ZIMO.  Please select "
                "how you will be talking to ZIMO below, followed by choosing the corresponding "
                "tab above for detailed setup.",
                "How will you communicate with ZIMO?",
                "The timeout value determines how long the communication functions wait for a "
                "response from ZIMO after sending a command.  typical values are from 500 to "
                "20000, depending on your PC speed."}));
  EXPECT_EQ(Texts(kBusPage),
            (std::vector<std::string>{
                "This page is used to specify how to talk to ZIMO over the PC bus.  Type in the "
                "decimal base address that ZIMO is setup for (the factory default is 528).  "
                "Also, for ZIMO 1 users, make sure the jumper settings match your specified PC "
                "bus address."}));
  EXPECT_EQ(Texts(kDprPage),
            (std::vector<std::string>{
                "This page allows you to specify the base address of ZIMO's dual port RAM.  Type "
                "in the physical address of dual port RAM as it appears in the PC's address "
                "space.  To specify the address in hex, preceed it with '0x' or '$'.",
                "For example, to specify $D4000, type in '$D4000' or '0xD4000'"}));
  EXPECT_EQ(Texts(kSerialPage),
            (std::vector<std::string>{
                "This page is used to specify how to talk to ZIMO over the serial port.  Type in "
                "the number of the desired COM port (1 through 16) and also type in the desired "
                "baudrate.  Note that the default baudrate for ZIMO1 is 9600 and 38400 for "
                "ZIMO2. ",
                " Also, be sure ZIMO's buadrate settings match your typed in value for baudrate.",
                "Note: A baudrate of 0 does a search for baudrate."}));
  EXPECT_TRUE(kAboutPage.texts.empty());
  EXPECT_TRUE(kAboutPage.fields.empty());
}

TEST_F(VoctoPagesTest, TheAboutBoxAndTheDialogsShowWhatTheyAreGiven) {
  ui::AboutDialog about;
  EXPECT_EQ(about.windowTitle().toStdString(), "About Vocto Control");
  EXPECT_NE(about.findChild<QPushButton*>("OK"), nullptr);

  ui::DownloadDialog download;
  EXPECT_EQ(download.windowTitle().toStdString(), "Downloading...");
  auto* bar = download.findChild<QProgressBar*>("215");
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isHidden());
  download.SetText(203, "4");
  download.SetText(210, "now downloading to ZIMO . . .");
  download.ShowProgress();
  download.SetProgress(40);
  EXPECT_EQ(download.Text(203).toStdString(), "4");
  EXPECT_EQ(download.Text(210).toStdString(), "now downloading to ZIMO . . .");
  EXPECT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->value(), 40);
  EXPECT_FALSE(download.cancel_pressed());
  download.findChild<QPushButton*>("Cancel")->click();
  EXPECT_TRUE(download.cancel_pressed());

  ui::UploadDialog upload;
  EXPECT_EQ(upload.windowTitle().toStdString(), "Please Wait...");
  auto* text = upload.findChild<QLabel*>("218");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text().toStdString(), "Uploading data from: LIST GATHER");
  EXPECT_TRUE(upload.findChild<QProgressBar*>("217")->isHidden());
}

// What the download dialog is told during a run, and its Cancel.
class RecordingDownloadView : public DownloadView {
 public:
  std::map<int, std::vector<std::string>> texts;
  bool progress_shown = false;
  int percent = -1;
  bool cancel = false;
  void SetText(int id, const std::string& text) override { texts[id].push_back(text); }
  void ShowProgress() override { progress_shown = true; }
  void SetProgress(int p) override { percent = p; }
  bool cancel_pressed() const override { return cancel; }
};

TEST_F(VoctoPagesTest, TheDownloadDialogFollowsARunAndCancelStopsIt) {
  Make();  // simulated: every line succeeds
  std::ofstream(work_ / "main.pmc") << "#foo\nP1=1\nP2=2\n";
  RecordingDownloadView* view = nullptr;
  bool cancel_on_pump = false;
  Services().make_download_view = [&](CVoctoCtrl&, bool visible) -> std::unique_ptr<DownloadView> {
    EXPECT_TRUE(visible);
    auto v = std::make_unique<RecordingDownloadView>();
    view = v.get();
    return v;
  };
  std::map<int, std::vector<std::string>> seen;
  bool shown = false;
  int percent = -1;
  Services().process_messages = [&] {
    view->cancel = cancel_on_pump;
    seen = view->texts;
    shown = view->progress_shown;
    percent = view->percent;
  };
  EXPECT_TRUE(control().DownloadFile(Bstr(u"main.pmc"), 0));
  EXPECT_EQ(seen[210], (std::vector<std::string>{"preprocessing files . . .",
                                                 "now downloading to ZIMO . . ."}));
  EXPECT_EQ(seen[208].back(), "main.pmc");
  EXPECT_EQ(seen[202].back(), "3");  // total lines
  EXPECT_EQ(seen[203].back(), "1");  // total warnings
  EXPECT_TRUE(shown);
  EXPECT_EQ(percent, 100);

  cancel_on_pump = true;
  EXPECT_FALSE(control().DownloadFile(Bstr(u"main.pmc"), 0));
  EXPECT_EQ(boxes_.last()->text, "Download aborted.");
  EXPECT_EQ(errors_.back(), (ErrorEvent{5003, "Download Failed"}));
}

}  // namespace
}  // namespace zimo::vocto::testing
