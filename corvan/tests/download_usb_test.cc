// Program download to a USB card served by the driver host: blocks through
// the driver's download controls; every line runs once, a failing line is
// reported and only the rest of its block goes again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::DriverHostProcess;
using testing::LibraryClock;
using testing::StandInServer;
using testing::WaitForDriverDevice;
using Lines = std::vector<std::string>;

Lines g_messages;
std::int32_t OnMessage(const char* text, std::int32_t) {
  g_messages.push_back(text);
  return 0;
}

// The USB card in the driver host as device 0, opened through the library
// with the PLC compiler off; closed again after each test.
class UsbDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(home_.path());
    ASSERT_EQ(RegisterDevice(0, kLocationUsb, 0, nullptr), 1);
    host_ = std::make_unique<DriverHostProcess>(std::vector<std::string>{"usb older"});
    ASSERT_TRUE(WaitForDriverDevice("ZimoUSB0"));
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    server_->table()->Devices[0].PlccEnabled = 0;
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    DownloadState::Instance().set_active(false);
    server_.reset();
    host_.reset();
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(UsbDownload, EveryLineRunsOnce) {
  // Each line but the seventh counts itself in P0.
  std::string text = "P0=0\n";
  for (int i = 2; i <= 400; ++i) text += i == 7 ? "XYZZY\n" : "P0=P0+1 ; count\n";
  const std::string source = (home_.path() / "PROG.PMC").string();
  plcc::testing::WriteText(source, text);
  g_messages.clear();
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, source.c_str(), 1, 0, 0, 1), 0);
  char reply[64] = {};
  ZimoGetResponseA(0, reply, sizeof reply, "P0");
  EXPECT_STREQ(reply, "398\r");
  const auto at = std::find(g_messages.begin(), g_messages.end(),
                            "**ZIMO Error 3, Data error or unrecognized command.");
  ASSERT_NE(at, g_messages.end());
  EXPECT_EQ(*(at + 1), "  File: " + source);
  EXPECT_EQ(*(at + 2), "  Line: 7, \"XYZZY;7\"");
  EXPECT_NE(std::find(g_messages.begin(), g_messages.end(), "Download Complete!!"),
            g_messages.end());
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
}

// How the sender holds the file it sends, seen from inside the run: the
// access mode of every descriptor of this process on that file, taken at
// each progress report.
std::string g_sent_file;
std::vector<int> g_access_modes;
std::int32_t OnProgress(std::int32_t) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(entry.path(), ec);
    if (ec || target != g_sent_file) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    for (std::string word; info >> word;) {
      if (word != "flags:") continue;
      std::string octal;
      info >> octal;
      g_access_modes.push_back(static_cast<int>(std::stol(octal, nullptr, 8)) & O_ACCMODE);
    }
  }
  return 0;
}

TEST_F(UsbDownload, TheSentFileIsOpenedForReadingOnly) {
  // Without the macro pass the source itself is sent.
  std::string text;
  for (int i = 1; i <= 40; ++i) text += "P" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  const std::string source = (home_.path() / "PROG.PMC").string();
  plcc::testing::WriteText(source, text);
  g_sent_file = std::filesystem::canonical(source).string();
  g_access_modes.clear();
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, OnProgress, source.c_str(), 0, 0, 2, 1), 1);
  ASSERT_FALSE(g_access_modes.empty());
  EXPECT_EQ(g_access_modes, std::vector<int>(g_access_modes.size(), O_RDONLY));
  char reply[64] = {};
  ZimoGetResponseA(0, reply, sizeof reply, "P40");
  EXPECT_STREQ(reply, "40\r");
}

// A line of the card's full 255 characters goes into the block whole (one
// command: 32 increments), with and without the macro pass; a longer one
// is refused with its file and line and nothing is sent.
TEST_F(UsbDownload, LinesOfTheCardsFullLengthGoOutWhole) {
  std::string full;
  for (int i = 0; i < 31; ++i) full += "P0=P0+1 ";
  full += "P0=P0+1";
  ASSERT_EQ(full.size(), 255u);
  const std::string source = (home_.path() / "PROG.PMC").string();
  char reply[64] = {};
  for (std::int32_t macro : {0, 1}) {
    SCOPED_TRACE(macro);
    plcc::testing::WriteText(source, "P0=0\n" + full + "\nP0=P0+1000\n");
    g_messages.clear();
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, source.c_str(), macro, 0, 0, 1), 1);
    ZimoGetResponseA(0, reply, sizeof reply, "P0");
    EXPECT_STREQ(reply, "1032\r");
  }
  ZimoGetResponseA(0, reply, sizeof reply, "P0=7");
  for (std::int32_t macro : {0, 1}) {
    SCOPED_TRACE(macro);
    plcc::testing::WriteText(source, "P0=0\n" + full + "1\nP0=P0+1000\n");
    g_messages.clear();
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, source.c_str(), macro, 0, 0, 1), 0);
    EXPECT_NE(std::find(g_messages.begin(), g_messages.end(),
                        "Error: 1 Line 2 : Line longer than 255 characters in " + source),
              g_messages.end());
    ZimoGetResponseA(0, reply, sizeof reply, "P0");
    EXPECT_STREQ(reply, "7\r") << "nothing was sent";
  }
}

}  // namespace
}  // namespace zimo::corvan
