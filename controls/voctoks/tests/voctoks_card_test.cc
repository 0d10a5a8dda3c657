// VoctoKS end to end: zimo-ctlhost creates the control from its
// registration, the control binds the real Corvan32 found beside the
// container, and the commands reach a simulated card, first on a serial
// link (a pseudo-terminal), then on a PCI card served by the driver host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text_file.h"
#include "temp_home.h"
#include "tests/serial_card_fixture.h"

namespace zimo::voctoks::testing {
namespace {

namespace fs = std::filesystem;
using corvan::testing::RegisterSerialDevice;
using corvan::testing::SerialCard;
using corvan::testing::StandInServer;

// Runs zimo-ctlhost (beside the real libcorvan32.so) on `steps` in `dir`,
// after registering libvoctoks.so and creating the control sited in user
// mode as Vocto1; returns the lines it printed after those set-up steps.
std::vector<std::string> RunHost(const fs::path& dir, const std::vector<std::string>& steps) {
  const fs::path library = fs::canonical(zimo::testing::BinDir() / "libvoctoks.so");
  {
    std::ofstream script(dir / "script.txt");
    script << "register " << library.string() << "\ncreate VOCTOKS.VoctoKSCtrl.1\n"
           << "site user Vocto1\nnew\n";
    for (const std::string& step : steps) script << step << "\n";
  }
  const std::string command = "cd '" + dir.string() + "' && timeout 90 '" +
                              (zimo::testing::BinDir() / "zimo-ctlhost").string() +
                              "' script.txt > out.txt 2> err.txt";
  const int status = std::system(command.c_str());
  auto err = platform::ReadFileBytes(dir / "err.txt");
  EXPECT_EQ(status, 0) << (err.ok() ? *err : std::string());
  auto out = platform::ReadLines(dir / "out.txt");
  EXPECT_TRUE(out.ok());
  if (!out.ok()) return {};
  std::vector<std::string> lines = *out;
  const std::vector<std::string> set_up = {"register: 0x00000000", "create: ok _DVoctoKS",
                                           "site: user Vocto1", "new: ok"};
  EXPECT_GE(lines.size(), set_up.size());
  if (lines.size() < set_up.size()) return lines;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), set_up);
  return std::vector<std::string>(lines.begin() + 4, lines.end());
}

void WriteIni(const fs::path& dir, int device) {
  std::ofstream(dir / "Vocto1.INI", std::ios::binary)
      << "[Communication]\r\nDeviceNumber=" << device
      << "\r\nSimulateCommunication=0\r\nEnabled=1\r\n";
}

TEST(VoctoKSCardTest, SerialCardAnswersThroughTheContainer) {
  zimo::testing::TempHome home;
  RegisterSerialDevice(0, 1);
  SerialCard card(1);
  StandInServer server;
  const fs::path dir = home.path() / "form";
  fs::create_directories(dir);
  WriteIni(dir, 0);
  const std::vector<std::string> out =
      RunHost(dir, {"call #17 @ \"I10\"", "call #17 @ \"NOSUCHCOMMAND\"",
                    "call DPRGetWord 'X' 5"});
  // The card's I10; its error 3 with the library's text, the reply kept as
  // the card sent it (the library counts no characters of an error reply);
  // a serial link has no DPR.
  EXPECT_EQ(out, (std::vector<std::string>{
                     "call #17: True out \"3713707\"",
                     "event OnError(3, \"Data error or unrecognized command.\")",
                     "call #17: False out \"\aERR003\r\"",
                     "event OnError(4003, \"No DPR communications established.  Bus will be used "
                     "instead.\")",
                     "call DPRGetWord: 0",
                 }));
  EXPECT_TRUE(card.Received("I10"));
  EXPECT_TRUE(card.Received("NOSUCHCOMMAND"));
}

}  // namespace
}  // namespace zimo::voctoks::testing
