// The settings file and the property exchange.
#include <fstream>

#include "platform/text_file.h"
#include "voctoks_fixture.h"

namespace zimo::voctoks::testing {
namespace {

using automation::kPropertyGet;
using automation::kPropertyPut;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The file's lines without blank ones.
std::vector<std::string> Lines(const std::filesystem::path& path) {
  auto lines = platform::ReadLines(path);
  EXPECT_TRUE(lines.ok()) << path;
  std::vector<std::string> out;
  if (lines.ok()) {
    for (auto& l : *lines) {
      if (!l.empty()) out.push_back(l);
    }
  }
  return out;
}

class VoctoKSSettingsTest : public VoctoKSTest {
 protected:
  int32_t Get(const char* name) {
    Variant v;
    EXPECT_EQ(control_->CallByName(name, kPropertyGet, {}, &v), automation::S_OK) << name;
    int32_t out = -99;
    EXPECT_EQ(v.To(&out), automation::S_OK);
    return out == -1 ? 1 : out;  // booleans read as 1
  }
};

TEST_F(VoctoKSSettingsTest, SaveSettingsWritesTheFileNamedAfterTheControlInItsOrder) {
  site_.name = "Vocto1";
  CVoctoKSCtrl& c = Make();
  c.put_DownloadMaxErrors(25);
  c.put_UploadAppend(true);
  EXPECT_EQ(CallById(40, {}), Variant(true));
  EXPECT_EQ(Lines(work_ / "Vocto1.INI"),
            (std::vector<std::string>{
                "[Communication]", "DeviceNumber=0", "SimulateCommunication=1", "Enabled=0",
                "[Download]", "DownloadDo=1", "DownloadLog=0", "DownloadMap=0", "DownloadParse=1",
                "DownloadDeleteTemp=1", "DownloadHide=1", "DownloadShowErrors=1",
                "DownloadMaxErrors=25", "[Upload]", "UploadHide=0", "UploadShowProgress=0",
                "UploadNoComments=0", "UploadAppend=1"}));
}

TEST_F(VoctoKSSettingsTest, AnUnnamedControlUsesItsDeviceNumber) {
  fake_->device_count = 4;
  CVoctoKSCtrl& c = Make();
  c.put_DeviceNumber(2);
  EXPECT_EQ(c.SettingsFileName(), (work_ / "VOCTO2.INI").string());
  EXPECT_TRUE(c.SaveSettings());
  EXPECT_TRUE(std::filesystem::exists(work_ / "VOCTO2.INI"));
}

TEST_F(VoctoKSSettingsTest, MissingKeysTakeTheFileDefaultsAndSectionsMatchWithoutCase) {
  WriteFile(work_ / "VOCTO0.INI", "[Communication]\r\nDeviceNumber=1\r\n");
  Make();
  EXPECT_EQ(Get("DeviceNumber"), 1);
  EXPECT_EQ(Get("SimulateCommunication"), 1);
  EXPECT_EQ(Get("UploadShowProgress"), 0);
  EXPECT_EQ(Get("UploadHide"), 0);
  EXPECT_EQ(Get("DownloadShowErrors"), 1);
  EXPECT_EQ(Get("DownloadMaxErrors"), 10);

  WriteFile(work_ / "VOCTO1.INI", "[Download]\r\nDownloadMaxErrors=7\r\n");
  EXPECT_EQ(CallById(41, {}), Variant(true));
  EXPECT_EQ(Get("DownloadMaxErrors"), 7);
}

TEST_F(VoctoKSSettingsTest, WithoutAFileTheDefaultsApplyAndNothingIsCreated) {
  controls::PropertyBag bag;  // the container's values lose to the file's defaults
  bag.Write("DownloadShowErrors", "0");
  bag.Write("UploadHide", "1");
  Make(false);
  control_->Load(bag);
  EXPECT_EQ(Get("DownloadShowErrors"), 1);
  EXPECT_EQ(Get("UploadHide"), 0);
  EXPECT_EQ(Get("DownloadDeleteTemp"), 1);
  EXPECT_TRUE(std::filesystem::is_empty(work_));
}

TEST_F(VoctoKSSettingsTest, LoadSettingsClosesTheDeviceAndIgnoresTheFilesEnabled) {
  CVoctoKSCtrl& c = MakeOpen();
  WriteFile(work_ / "VOCTO0.INI",
            "[Communication]\r\nDeviceNumber=1\r\nSimulateCommunication=0\r\nEnabled=1\r\n");
  EXPECT_EQ(CallById(41, {}), Variant(true));
  EXPECT_FALSE(c.device_open());
  EXPECT_EQ(Get("Enabled"), 0);
  EXPECT_EQ(Get("DeviceNumber"), 1);
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"CloseZimoDevice(0)"}));
}

TEST_F(VoctoKSSettingsTest, TheLoadExchangeOpensTheDeviceTheFileEnables) {
  WriteFile(work_ / "Lab.INI",
            "[Communication]\r\nDeviceNumber=1\r\nSimulateCommunication=0\r\nEnabled=1\r\n");
  site_.name = "Lab";
  CVoctoKSCtrl& c = Make();
  EXPECT_TRUE(c.device_open());
  EXPECT_EQ(fake_->calls,
            (std::vector<std::string>{"OpenZimoDevice(1)", "ZimoGetDpramAvailable(1)"}));
  // A container's save closes it again and keeps Enabled.
  controls::PropertyBag bag;
  c.Save(bag);
  EXPECT_FALSE(c.device_open());
  EXPECT_EQ(bag.Read("Enabled"), "1");
  EXPECT_EQ(bag.Read("DeviceNumber"), "1");
}

TEST_F(VoctoKSSettingsTest, BrokenLinesAndValuesAreReadAsThePlatformReadsThem) {
  // A header without its ']' still opens its section; a line without '='
  // is skipped; a value is cut to 90 characters before it is parsed; a
  // value that is no number leaves the property as the container had it.
  site_.name = "Lab";
  WriteFile(work_ / "Lab.INI",
            "[Download\r\nDownloadLog\r\nDownloadMaxErrors=" + std::string(88, '0') +
                "123\r\n[Communication]\r\n"
                "DeviceNumber=abc\r\n");
  fake_->device_count = 4;
  controls::PropertyBag bag;
  bag.Write("DeviceNumber", "3");
  bag.Write("DownloadLog", "1");
  Make(false);
  control_->Load(bag);
  EXPECT_EQ(Get("DownloadMaxErrors"), 12);
  EXPECT_EQ(Get("DownloadLog"), 0);  // the file default: its line was skipped
  EXPECT_EQ(Get("DeviceNumber"), 3);
}

TEST_F(VoctoKSSettingsTest, AFileThatCannotBeWrittenFailsSaveSettings) {
  site_.name = "Vocto1";
  CVoctoKSCtrl& c = Make();
  std::filesystem::create_directory(work_ / "Vocto1.INI");  // in the way
  EXPECT_FALSE(c.SaveSettings());
}

TEST_F(VoctoKSSettingsTest, AContainersBagRoundTripsTheProperties) {
  site_.user_mode = false;
  CVoctoKSCtrl& c = Make();
  c.put_DownloadMap(true);
  c.put_DownloadMaxErrors(77);
  controls::PropertyBag bag;
  c.Save(bag);
  ASSERT_TRUE(bag.SaveFile(work_ / "form.bag").ok());
  // The design-time save also wrote the settings file.
  EXPECT_TRUE(std::filesystem::exists(work_ / "VOCTO0.INI"));
  auto loaded = controls::PropertyBag::LoadFile(work_ / "form.bag");
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded->Read("DownloadMaxErrors"), "77");
  EXPECT_EQ(loaded->Read("downloadmap"), "1");
  EXPECT_EQ(loaded->Read("_Version"), "65536");
}

}  // namespace
}  // namespace zimo::voctoks::testing
