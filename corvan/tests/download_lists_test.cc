// Per-user download lists in an INI file, and the download of a user's
// list through the include file it becomes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "platform/home.h"
#include "platform/profile.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using plcc::testing::OutputLines;
using plcc::testing::WriteText;
using Lines = std::vector<std::string>;

class ListsTest : public ::testing::Test {
 protected:
  ListsTest() { std::filesystem::current_path(home_.path()); }
  ~ListsTest() override { DownloadState::Instance().set_active(false); }

  std::int32_t Add(const char* user, const char* file, const char* ini = "") {
    std::strcpy(user_, user);
    std::strcpy(file_, file);
    return ZimoAddDownloadFileA(0, ini, user_, file_);
  }
  std::int32_t Remove(const char* user, const char* file) {
    std::strcpy(user_, user);
    if (file != nullptr) std::strcpy(file_, file);
    return ZimoRemoveDownloadFileA(0, "", user_, file != nullptr ? file_ : nullptr);
  }
  // The list's entries in key order, up to the first missing key.
  Lines List() const {
    Lines out;
    for (int n = 1;; ++n) {
      char value[256];
      platform::GetPrivateProfileStringA("ZIMODOWNLOAD",
                                         ("DOWNLOADFILE" + std::to_string(n)).c_str(),
                                         "NoFilePresent", value, sizeof value, "WIN.INI");
      if (std::strcmp(value, "NoFilePresent") == 0) return out;
      out.push_back(value);
    }
  }

  zimo::testing::TempHome home_;
  char user_[64] = {};
  char file_[280] = {};
};

TEST_F(ListsTest, AddChecksTheWholeListAndFillsTheFirstGap) {
  EXPECT_EQ(Add(" anne", "c:\\prog\\a.zko "), 1);
  // The caller's buffers hold the stripped, upper-cased texts, not the entry.
  EXPECT_STREQ(user_, "ANNE");
  EXPECT_STREQ(file_, "C:\\PROG\\A.ZKO");
  EXPECT_EQ(plcc::testing::ReadText(platform::WindowsDir() / "WIN.INI"),
            "[ZIMODOWNLOAD]\r\nDOWNLOADFILE1=\"ANNE C:\\PROG\\A.ZKO\"\r\n");
  EXPECT_EQ(Add("ANNE", "C:\\PROG\\A.ZKO"), 0);
  EXPECT_EQ(Add("BOB", "b.zko"), 1);
  EXPECT_EQ(Add("", "b.zko"), 0);
  // A gap before an entry that is added again: still refused.
  platform::WritePrivateProfileStringA("ZIMODOWNLOAD", "DOWNLOADFILE1", "", "WIN.INI");
  EXPECT_EQ(Add("bob", "B.ZKO"), 0);
  EXPECT_EQ(Add("carl", "c.zko"), 1);
  EXPECT_EQ(List(), (Lines{"CARL C.ZKO", "BOB B.ZKO"}));
}

TEST_F(ListsTest, RemoveAndRenumber) {
  Add("ANNE", "A1");
  Add("BOB", "B1");
  Add("ANNE", "A2");
  EXPECT_EQ(Remove("anne", "a1"), 1);
  EXPECT_EQ(List(), (Lines{"BOB B1", "ANNE A2"}));
  EXPECT_EQ(Remove("anne", "a1"), 0);
  // By user: only entries whose user is ANNE, not a path holding "ANNE".
  Add("BOB", "C:\\ANNE\\X");
  Add("ANNE", "A3");
  EXPECT_EQ(Remove("ANNE", nullptr), 1);
  EXPECT_EQ(List(), (Lines{"BOB B1", "BOB C:\\ANNE\\X"}));
  EXPECT_EQ(Remove("ANNE", nullptr), 0);
  EXPECT_EQ(Remove("", nullptr), 0);
  // Renumbering from a missing key deletes the key before it.
  EXPECT_NE(ZimoRenumberFilesA(0, 3, "WIN.INI"), 0);
  EXPECT_EQ(List(), (Lines{"BOB B1"}));
}

TEST_F(ListsTest, WideForms) {
  EXPECT_EQ(ZimoAddDownloadFileW(0, u"", u"anne", u"a.zko"), 1);
  EXPECT_EQ(ZimoAddDownloadFileW(0, u"", u"anne", u"\u4E00.zko"), 0);
  EXPECT_EQ(ZimoRemoveDownloadFileW(0, u"", u"ANNE", u"A.ZKO"), 1);
  EXPECT_EQ(List(), Lines{});
}

TEST_F(ListsTest, MultiDownload) {
  RegisterSerialDevice(0, 1);
  SerialCard card(1);
  StandInServer server;
  ASSERT_EQ(OpenZimoDevice(0), 1);
  server.table()->Devices[0].PlccEnabled = 0;
  const auto dir = home_.path() / "drive_c" / "prog";
  std::filesystem::create_directories(dir);
  WriteText(dir / "A.ZKO", "P1=11\n");
  WriteText(dir / "B.ZKO", "P2=22\n");
  Add("anne", "c:\\prog\\a.zko");
  Add("bob", "c:\\prog\\b.zko");
  Add("anne", "c:\\prog\\b.zko");
  // ZIMO_HOME's drive folder stands for C:.
  char user[16] = "anne";
  EXPECT_EQ(ZimoMultiDownloadA(0, nullptr, "", "", user, 1, 0, 0, 1), 1);
  EXPECT_EQ(OutputLines(home_.path() / "ZIMODNLD"),
            (Lines{"#include \"C:\\PROG\\A.ZKO\"", "#include \"C:\\PROG\\B.ZKO\""}));
  EXPECT_TRUE(card.Received("P1=11"));
  EXPECT_TRUE(card.Received("P2=22"));
  // Without the macro pass the card gets the #include lines themselves.
  EXPECT_EQ(ZimoMultiDownloadA(0, nullptr, "", "", user, 0, 0, 0, 1), 0);
  EXPECT_TRUE(card.Received("#include \"C:\\PROG\\A.ZKO\""));
  // A null user takes every entry; an empty one none.
  EXPECT_EQ(ZimoMultiDownloadA(0, nullptr, "", "", nullptr, 1, 0, 0, 0), 1);
  EXPECT_EQ(OutputLines(home_.path() / "ZIMODNLD").size(), 3u);
  char empty[4] = "";
  EXPECT_EQ(ZimoMultiDownloadA(0, nullptr, "", "", empty, 1, 0, 0, 1), 0);
  ShutdownZimoDevice(0, 1);
  CommLibraryApp::Instance().End();
}

}  // namespace
}  // namespace zimo::corvan
