// Program download to a PCI card served by the driver host: line by line
// over the bus port and over the DPR mailbox; every line runs once and a
// failing line is reported with its source line.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;

Lines g_messages;
std::int32_t OnMessage(const char* text, std::int32_t) {
  g_messages.push_back(text);
  return 0;
}

class BusDownloadTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
    host_ = std::make_unique<testing::DriverHostProcess>(std::vector<std::string>{"pci older"});
    ASSERT_TRUE(testing::WaitForDriverDevice("ZimoPCI0"));
    server_ = std::make_unique<testing::StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    ASSERT_EQ(ZimoSetAsciiComm(0, GetParam()), 1);
    server_->table()->Devices[0].PlccEnabled = 0;
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    host_.reset();
  }

  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  std::unique_ptr<testing::DriverHostProcess> host_;
  std::unique_ptr<testing::StandInServer> server_;
};

TEST_P(BusDownloadTest, EveryLineRunsOnce) {
  std::string text = "P0=0\n";
  for (int i = 2; i <= 60; ++i) text += i == 7 ? "XYZZY\n" : "P0=P0+1 ; count\n";
  const std::string source = (home_.path() / "PROG.PMC").string();
  plcc::testing::WriteText(source, text);
  g_messages.clear();
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, source.c_str(), 1, 0, 0, 1), 0);
  DownloadState::Instance().set_active(false);
  char reply[64] = {};
  ZimoGetResponseA(0, reply, sizeof reply, "P0");
  EXPECT_STREQ(reply, "58\r");
  const auto at = std::find(g_messages.begin(), g_messages.end(),
                            "**ZIMO Error 3, Data error or unrecognized command.");
  ASSERT_NE(at, g_messages.end());
  EXPECT_EQ(*(at + 1), "  File: " + source);
  EXPECT_EQ(*(at + 2), "  Line: 7, \"XYZZY\"");
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
}

INSTANTIATE_TEST_SUITE_P(PortAndMailbox, BusDownloadTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "Mailbox" : "Port"; });

}  // namespace
}  // namespace zimo::corvan
