#include "pages.h"

#include <cstdio>

#include "corvan_binding.h"
#include "voctoks/voctoks_guids.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks {
namespace {

using controls::FieldKind;
using controls::PageButton;
using controls::PageField;

const std::string kCredits[3] = {
    "Written by the Zimo host software team",
    "Card communication through Corvan32",
    "Thanks to everyone who tried it on real cards",
};

constexpr std::string_view kGeneralTexts[] = {
    "WELCOME!   This control allows you to easily interface with ZIMO.  Please select a ZIMO "
    "Device Number by pressing the button below. "};
constexpr PageField kGeneralFields[] = {
    {201, "DeviceNumber", FieldKind::kNumber, "Device Number"},
    {227, "SimulateCommunication", FieldKind::kCheck,
     "&Simulate communication (choose this when no card is available)"},
};
constexpr PageButton kGeneralButtons[] = {{202, "&Select ZIMO Device Number"}};

constexpr std::string_view kDownloadTexts[] = {"Here you may choose download options."};
constexpr PageField kDownloadFields[] = {
    {217, "DownloadParse", FieldKind::kCheck, "Support &Macros"},
    {218, "DownloadLog", FieldKind::kCheck, "Create a &Log File"},
    {221, "DownloadMap", FieldKind::kCheck, "Create a Ma&p File"},
    {222, "DownloadDo", FieldKind::kCheck, "Download to &ZIMO once processing is complete"},
    {223, "DownloadDeleteTemp", FieldKind::kCheck,
     "&Delete Temporary Files (i.e. *.56K, *.EXM, *.TBL)"},
    {224, "DownloadHide", FieldKind::kCheck, "&Hide the Download Dialog"},
    {225, "DownloadShowErrors", FieldKind::kCheck,
     "&Prompt user to view errors in NOTEPAD if any exist"},
    {219, "DownloadMaxErrors", FieldKind::kNumber,
     "Maximum Number of Download Errors before aborting", true, 0, 100000},
};

constexpr std::string_view kUploadTexts[] = {"Here you may choose upload options."};
constexpr PageField kUploadFields[] = {
    {223, "UploadNoComments", FieldKind::kCheck, "No &Comments in the uploaded file"},
    {224, "UploadHide", FieldKind::kCheck, "&Hide the upload dialog box"},
    {225, "UploadAppend", FieldKind::kCheck, "&Append newly uploaded data to the specified file"},
    {226, "UploadShowProgress", FieldKind::kCheck, "&Show the progress bar"},
};

constexpr std::string_view kAboutTexts[] = {"AUTHORS:"};

class GeneralPage : public controls::PropertyPage {
 public:
  using PropertyPage::PropertyPage;
  void OnCommand(int control_id) override {
    if (control_id != 202) return;
    auto* control = dynamic_cast<CVoctoKSCtrl*>(&object());
    int32_t selected = -1;
    if (control != nullptr && control->bound()) {
      uintptr_t parent =
          control->client_site() != nullptr ? control->client_site()->ParentWindow() : 0;
      selected = Corvan().ZimoSelect(static_cast<uint32_t>(parent));
    }
    if (selected < 0 || selected > 7) selected = 0;
    char text[16];
    std::snprintf(text, sizeof text, "%d", selected);
    SetText(201, text);
    SetModified();
  }
};

class AboutPage : public controls::PropertyPage {
 public:
  using PropertyPage::PropertyPage;
  int TimerInterval() const override { return running_ ? CreditCycle::kIntervalMs : 0; }
  void OnTimer() override { credits_.Next(); }
  void OnSaveData() override { running_ = false; }
  std::string DynamicText(int control_id) const override {
    return control_id == 206 ? credits_.current() : std::string();
  }

 private:
  CreditCycle credits_;
  bool running_ = true;
};

}  // namespace

CreditCycle::CreditCycle(unsigned seed) : index_(static_cast<int>(seed % 2)) {}
const std::string& CreditCycle::current() const { return kCredits[index_]; }
void CreditCycle::Next() { index_ = (index_ + 1) % 3; }

const controls::PageDescription kGeneralPage{
    kGeneralPageClsid, 200, "General", kGeneralTexts, kGeneralFields, kGeneralButtons};
const controls::PageDescription kDownloadPage{kDownloadPageClsid, 213, "Download", kDownloadTexts,
                                              kDownloadFields};
const controls::PageDescription kUploadPage{kUploadPageClsid, 214, "Upload", kUploadTexts,
                                            kUploadFields};
const controls::PageDescription kAboutPage{kAboutPageClsid, 105, "About", kAboutTexts, {}};

std::unique_ptr<controls::PropertyPage> MakePage(const automation::Guid& clsid,
                                                 std::shared_ptr<automation::Dispatch> control) {
  if (clsid == kGeneralPageClsid) return std::make_unique<GeneralPage>(kGeneralPage, control);
  if (clsid == kDownloadPageClsid) {
    return std::make_unique<controls::PropertyPage>(kDownloadPage, control);
  }
  if (clsid == kUploadPageClsid)
    return std::make_unique<controls::PropertyPage>(kUploadPage, control);
  if (clsid == kAboutPageClsid) return std::make_unique<AboutPage>(kAboutPage, control);
  return nullptr;
}

std::unique_ptr<controls::PropertyFrame> MakePropertyFrame(
    std::shared_ptr<automation::Dispatch> control) {
  auto frame = std::make_unique<controls::PropertyFrame>();
  for (const automation::Guid& clsid :
       {kGeneralPageClsid, kDownloadPageClsid, kUploadPageClsid, kAboutPageClsid}) {
    auto page = MakePage(clsid, control);
    page->LoadFromObject();
    frame->AddPage(std::move(page));
  }
  return frame;
}

}  // namespace zimo::voctoks
