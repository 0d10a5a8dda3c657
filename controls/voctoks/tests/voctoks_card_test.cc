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

#include "corvan/internal/shared_table.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "link/device_registry.h"
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
  // The card's I10; its error 3 with the library's text, the reply without
  // its final CR as every reply (the library counts the error text it
  // stored); a serial link has no DPR.
  EXPECT_EQ(out, (std::vector<std::string>{
                     "call #17: True out \"3713707\"",
                     "event OnError(3, \"Data error or unrecognized command.\")",
                     "call #17: False out \"\aERR003\"",
                     "event OnError(4003, \"No DPR communications established.  Bus will be used "
                     "instead.\")",
                     "call DPRGetWord: 0",
                 }));
  EXPECT_TRUE(card.Received("I10"));
  EXPECT_TRUE(card.Received("NOSUCHCOMMAND"));
}

// The driver host in this process with one older PCI card, registered as
// device 0; the container's library opens it through the host's sockets.
TEST(VoctoKSCardTest, PciCardThroughTheDriverHost) {
  zimo::testing::TempHome home;
  ASSERT_EQ(corvan::RegisterDevice(0, corvan::kLocationPci, 0, nullptr), 1);
  drivers::host::DriverHost host;
  drivers::host::DeviceServer devices(host.kernel());
  devices.Start();
  drivers::host::CardConfig config;
  std::string error;
  ASSERT_TRUE(drivers::host::ParseCardConfig("pci older", &config, &error)) << error;
  int card_id = -1;
  ASSERT_EQ(host.AddCard(config, &card_id), 0);
  ASSERT_TRUE(corvan::testing::WaitForDriverDevice("ZimoPCI0"));
  StandInServer server;
  cardsim::Card& card = *host.SimCard(card_id);
  // DPRGetWord 'X',5 reads the word at byte 22 (the X half of entry 5).
  card.memory().SetDprWord(22, 0x2345);
  card.memory().SetDprWord(20, 0x0111);

  const fs::path dir = home.path() / "form";
  fs::create_directories(dir);
  WriteIni(dir, 0);
  std::ofstream(dir / "load.pmc") << "P10=7\nP11=8\n";
  const std::vector<std::string> out = RunHost(
      dir, {"call DPRGetWord 'X' 5", "call DPRGetWord 'Y' 5", "call #17 @ \"P1=11P2=22P3=33\"",
            "set UploadNoComments 1", "call UploadData \"up.txt\" \"P1..3\" 3",
            "call DownloadFile \"load.pmc\"", "call #17 @ \"P10..11\""});
  // The card's words; the upload's three values; the downloaded file's
  // values read back from the card (the clean-up drops only the last CR).
  EXPECT_EQ(out, (std::vector<std::string>{
                     "call DPRGetWord: 9029",
                     "call DPRGetWord: 273",
                     "call #17: True out \"\"",
                     "changed 15",
                     "set UploadNoComments: ok",
                     "call UploadData: True",
                     "call DownloadFile: True",
                     "call #17: True out \"7\r8\"",
                 }));
  // Each line as the library gave it, card's CR included.
  auto uploaded = platform::ReadLines(dir / "up.txt");
  ASSERT_TRUE(uploaded.ok());
  EXPECT_EQ(*uploaded, (std::vector<std::string>{"11\r", "22\r", "33\r"}));
}

}  // namespace
}  // namespace zimo::voctoks::testing
