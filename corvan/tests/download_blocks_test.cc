// Program download to an Ethernet card (UDP and TCP): lines go out in
// blocks, a failing line is reported with its file and source line, and
// only what follows it is sent again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "eth_test_fixture.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using plcc::testing::WriteText;
using Lines = std::vector<std::string>;

Lines g_messages;
std::int32_t OnMessage(const char* text, std::int32_t) {
  g_messages.push_back(text);
  return 0;
}

class EthDownloadTest : public ::testing::TestWithParam<bool> {
 protected:
  EthDownloadTest() {
    g_messages.clear();
    std::filesystem::current_path(home_.path());
    EXPECT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
    EXPECT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address_)), 1);
    EXPECT_EQ(SetLocationRegDword(kLocationEthernet, 0, "TCPMode", GetParam() ? 1 : 0), 1);
  }
  ~EthDownloadTest() override {
    ShutdownZimoDevice(0, 1);
    CommLibraryApp::Instance().End();
    DownloadState::Instance().set_active(false);
  }
  std::string Path(const char* ext) const {
    return (home_.path() / ("PROG." + std::string(ext))).string();
  }
  // The program lines the card received (P variables only).
  Lines Program() {
    Lines out;
    for (const std::string& r : card_.card().script().received()) {
      if (!r.empty() && (r[0] == 'P' || r[0] == 'X')) out.push_back(r);
    }
    return out;
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::string address_ = UniqueLoopbackAddress();
  EthCard card_{address_};
  std::unique_ptr<StandInServer> server_ = std::make_unique<StandInServer>();
};

TEST_P(EthDownloadTest, BlocksAndAResentRest) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  server_->table()->Devices[0].PlccEnabled = 0;
  // Enough lines for several blocks; line 7 is not a command.
  std::string text;
  Lines lines;
  for (int i = 1; i <= 300; ++i) {
    const std::string l = i == 7 ? "XYZZY" : "P" + std::to_string(i) + "=" + std::to_string(i);
    text += l + " ; c\n";
    lines.push_back(l + " ;" + std::to_string(i));
  }
  WriteText(Path("PMC"), text);
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 0);
  const Lines received = Program();
  EXPECT_EQ(received, lines);
  const auto at = std::find(g_messages.begin(), g_messages.end(),
                            "**ZIMO Error 3, Data error or unrecognized command.");
  ASSERT_NE(at, g_messages.end());
  EXPECT_EQ(*(at + 1), "  File: " + Path("PMC"));
  EXPECT_EQ(*(at + 2), "  Line: 7, \"XYZZY ;7\"");
  // The EXM file has 300 lines, two header lines, the marker and CLOSE.
  const auto done = std::find(g_messages.begin(), g_messages.end(), "Download Complete!!");
  ASSERT_NE(done, g_messages.end());
  EXPECT_EQ((done + 1)->rfind("Downloaded 304 lines in ", 0), 0u) << *(done + 1);
  EXPECT_EQ(g_messages.back(), "END.");
}

TEST_P(EthDownloadTest, StatusWordsThatNameNoLineEndTheFile) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  server_->table()->Devices[0].PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\nP2=2\n");
  struct Case {
    std::uint32_t status;
    Lines reports;
  };
  // The part sent holds six lines: the header's two, the marker, P1, P2
  // and CLOSE, so position 7 is past it.
  const Case cases[] = {
      {0x80000000u, {"Error: 1 : Download protocol error: block status 80000000."}},
      {0x80000007u, {"Error: 1 : Download protocol error: block status 80000007."}},
      // A named line whose error field is 0 stands for error 3.
      {0x80000004u,
       {"**ZIMO Error 3, Data error or unrecognized command.", "  File: " + Path("PMC"),
        "  Line: 1, \"P1=1;1\""}},
  };
  for (const Case& c : cases) {
    g_messages.clear();
    card_.card().script().SetBlockStatus(c.status, 1);
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 0);
    const auto at =
        std::find(g_messages.begin(), g_messages.end(), "Downloading file: " + Path("EXM"));
    ASSERT_NE(at, g_messages.end());
    EXPECT_EQ(Lines(at + 1, at + 1 + static_cast<long>(c.reports.size())), c.reports)
        << std::hex << c.status;
  }
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, EthDownloadTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

}  // namespace
}  // namespace zimo::corvan
