// Program download in blocks: card errors in an included file and in the
// main file after it are reported with the file each line came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
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

TEST(BlockDownloadFiles, ErrorsNameTheFileOfTheirLine) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  std::filesystem::current_path(home.path());
  const std::string address = UniqueLoopbackAddress();
  EthCard card{address};
  auto server = std::make_unique<StandInServer>();
  ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address)), 1);
  ASSERT_EQ(OpenZimoDevice(0), 1);
  server->table()->Devices[0].PlccEnabled = 0;

  const std::string main_file = (home.path() / "PROG.PMC").string();
  const std::string included = (home.path() / "INC.PMC").string();
  WriteText(included, "P2=2\nABCDE\nP3=3\n");
  WriteText(main_file, "P1=1\n#include \"INC.PMC\"\nXYZZY\nP4=4\n");
  g_messages.clear();
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, main_file.c_str(), 1, 0, 0, 1), 0);

  Lines errors;
  for (auto at = g_messages.begin(); at != g_messages.end(); ++at) {
    if (*at == "**ZIMO Error 3, Data error or unrecognized command." &&
        g_messages.end() - at >= 3) {
      errors.insert(errors.end(), at, at + 3);
    }
  }
  EXPECT_EQ(errors,
            (Lines{"**ZIMO Error 3, Data error or unrecognized command.", "  File: " + included,
                   "  Line: 2, \"ABCDE;2\"", "**ZIMO Error 3, Data error or unrecognized command.",
                   "  File: " + main_file, "  Line: 3, \"XYZZY;3\""}));
  EXPECT_EQ(DownloadState::Instance().errors(), 2u);

  ShutdownZimoDevice(0, 1);
  CommLibraryApp::Instance().End();
  DownloadState::Instance().set_active(false);
}

}  // namespace
}  // namespace zimo::corvan
