// The lab's command file reaches a card the way the lab program sends it:
// line by line through Corvan32, over a serial link to the simulated card.
// The card must take every line, and its P memory must then hold every word
// the file wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "algorithm_test_support.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "labhelper/qeldll32.h"
#include "tests/serial_card_fixture.h"

namespace zimo::labhelper::testing {
namespace {

using corvan::testing::LibraryClock;
using corvan::testing::RegisterSerialDevice;
using corvan::testing::SerialCard;
using corvan::testing::StandInServer;

class CommandFileCardTest : public AlgorithmTest {
 protected:
  zimo::testing::TempHome home_;
  LibraryClock clock_;
};

TEST_F(CommandFileCardTest, PidCommandFileLoadsThroughTheLibrary) {
  WriteLinkList();
  std::string text = kPidAlgorithm;
  text.push_back('\0');
  ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", 0.000884f), 0);
  ASSERT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
  const std::string out = ReadText(Path("plc0.56k"));
  const auto words = Written(out);
  ASSERT_GT(words.size(), 98u);

  RegisterSerialDevice(0, 1);
  SerialCard card(1);
  StandInServer server;
  ASSERT_EQ(OpenZimoDevice(0), 1);
  char reply[256];
  for (const std::string& line : Lines(out)) {
    // A line the card takes ends with the ACK and nothing before it.
    EXPECT_EQ(ZimoGetResponseExA(0, reply, sizeof reply, line.c_str()), 0x80000000u) << line;
  }
  for (const auto& [address, word] : words) {
    char command[32];
    std::snprintf(command, sizeof command, "RHP$%X", address);
    char want[16];
    std::snprintf(want, sizeof want, "%06X\r", word);
    ASSERT_EQ(ZimoGetResponseExA(0, reply, sizeof reply, command), 0x80000000u | 7u) << command;
    EXPECT_STREQ(reply, want) << command;
  }
  ShutdownZimoDevice(0, 1);
  corvan::App().End();
}

}  // namespace
}  // namespace zimo::labhelper::testing
