// The device selection dialog's logic: which interfaces it lists and in
// which words, how a refresh keeps the selection, and what a chosen line
// gives back (the whole number, never just its first digit).
#include "logic/available_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "platform/serial_port.h"

namespace zimo::corvan::dialogs {
namespace {

class AvailableDevicesTest : public testing::DialogTest {
 protected:
  AvailableDevices dialog_{probe_, ui_};
};

TEST_F(AvailableDevicesTest, ListsEveryUnregisteredInterfaceInItsOwnWords) {
  probe_.present = {"\\\\.\\ZIMOUSB1", "\\\\.\\ZIMOPCI0", "\\\\.\\ZIMOPCI1"};
  probe_.isa[0] = IsaProbe{true, IsaResources{0x300, 0x25, 0xD0000}};
  probe_.isa[2] = IsaProbe{true, IsaResources{0x210, 0, 0}};
  probe_.isa[3] = IsaProbe{true, std::nullopt};  // cannot report its resources
  probe_.isa[4] = IsaProbe{true, IsaResources{0x200, 3, 0}};
  ASSERT_TRUE(platform::RegisterComPort(1, "/dev/pts/101").ok());
  ASSERT_TRUE(platform::RegisterComPort(2, "/dev/pts/102").ok());
  ASSERT_TRUE(platform::RegisterComPort(12, "/dev/pts/112").ok());
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 1, "IPAddress", 0xC0A80164), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", 0x0A000001), 1);
  // Registered interfaces are not offered again.
  ASSERT_EQ(RegisterDevice(3, kLocationPci, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(0, kLocationSerial, 1, nullptr), 1);
  ASSERT_EQ(RegisterDevice(5, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(6, kLocationIsa, 4, nullptr), 1);

  dialog_.Fill();
  EXPECT_EQ(dialog_.lines(), (std::vector<std::string>{
                                 "Zimo USB1",
                                 "Zimo PCI1",
                                 "Zimo ISA0, Port:0x300, Intr:5, DPRAM:0xD0000",
                                 "Zimo ISA2, Port:0x210, Intr:N/A, DPRAM:N/A",
                                 "Zimo ISA3",
                                 "COM2",
                                 "COM12",
                                 "Zimo ETH1, IP 192.168.1.100",
                             }));
  EXPECT_EQ(dialog_.selection(), 0);
}

TEST_F(AvailableDevicesTest, ARefreshKeepsTheSelectedLineAndSeesNewCards) {
  dialog_.Fill();
  EXPECT_TRUE(dialog_.lines().empty());
  EXPECT_EQ(dialog_.selection(), -1);

  // A card plugged in while the dialog is open shows at the next tick.
  probe_.present = {"\\\\.\\ZIMOPCI0", "\\\\.\\ZIMOPCI1", "\\\\.\\ZIMOPCI2"};
  dialog_.Fill();
  ASSERT_EQ(dialog_.lines().size(), 3u);
  EXPECT_EQ(dialog_.selection(), 0);
  dialog_.Select(2);
  dialog_.Fill();
  EXPECT_EQ(dialog_.selection(), 2);

  // With fewer lines than the kept index the first line is selected.
  probe_.present = {"\\\\.\\ZIMOPCI0"};
  dialog_.Fill();
  EXPECT_EQ(dialog_.selection(), 0);
}

TEST(ParseSelectionLineTest, TheWholeNumberAndTheKindOfEveryLine) {
  struct Case {
    const char* line;
    bool has_number;
    std::uint32_t location;
    std::uint64_t number;
  };
  const Case cases[] = {
      {"Zimo USB3", true, kLocationUsb, 3},
      {"Zimo PCI0", true, kLocationPci, 0},
      {"Zimo ISA1, Port:0x300, Intr:5, DPRAM:0xD0000", true, kLocationIsa, 1},
      {"COM7", true, kLocationSerial, 7},
      {"COM12", true, kLocationSerial, 12},
      {"Zimo ETH2, IP 10.0.0.1", true, kLocationEthernet, 2},
      {"ttyS", false, kLocationUnknown, 0},
      {"Port 4", true, kLocationUnknown, 4},
  };
  for (const Case& c : cases) {
    const LineChoice choice = ParseSelectionLine(c.line);
    EXPECT_EQ(choice.has_number, c.has_number) << c.line;
    EXPECT_EQ(choice.location, c.location) << c.line;
    EXPECT_EQ(choice.number, c.number) << c.line;
  }
}

TEST_F(AvailableDevicesTest, APortBeyondTheEnumerationsIsRefusedAndTheDialogStays) {
  ASSERT_TRUE(platform::RegisterComPort(7, "/dev/pts/107").ok());
  ASSERT_TRUE(platform::RegisterComPort(12, "/dev/pts/112").ok());
  dialog_.Fill();
  ASSERT_EQ(dialog_.lines(), (std::vector<std::string>{"COM7", "COM12"}));

  dialog_.Select(1);
  EXPECT_EQ(dialog_.Ok(), AvailableDevices::Outcome::kStay);
  EXPECT_EQ(dialog_.DoubleClick(), AvailableDevices::Outcome::kStay);
  EXPECT_EQ(dialog_.location(), 0u);
  ASSERT_EQ(recorder_.count(), 2u);
  EXPECT_NE(recorder_.last()->text.find("\"COM12\""), std::string::npos);

  dialog_.Select(0);
  EXPECT_EQ(dialog_.Ok(), AvailableDevices::Outcome::kEndOk);
  EXPECT_EQ(dialog_.location(), kLocationSerial);
  EXPECT_EQ(dialog_.enumeration(), 7u);
}

TEST_F(AvailableDevicesTest, OkAlwaysEndsADoubleClickOnlyOnANumberedLine) {
  ASSERT_TRUE(platform::RegisterComPort(3, "/dev/pts/103").ok());
  auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                           "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetString("/dev/odd", "PORTX").ok());
  dialog_.Fill();
  ASSERT_EQ(dialog_.lines(), (std::vector<std::string>{"COM3", "PORTX"}));

  dialog_.Select(1);
  EXPECT_EQ(dialog_.DoubleClick(), AvailableDevices::Outcome::kStay);
  EXPECT_EQ(dialog_.Ok(), AvailableDevices::Outcome::kEndOk);
  EXPECT_EQ(dialog_.location(), 0u);  // nothing usable: the caller registers nothing

  dialog_.Select(0);
  EXPECT_EQ(dialog_.DoubleClick(), AvailableDevices::Outcome::kEndOk);
  EXPECT_EQ(dialog_.location(), kLocationSerial);
  EXPECT_EQ(dialog_.enumeration(), 3u);
  EXPECT_EQ(recorder_.count(), 0u);
}

TEST_F(AvailableDevicesTest, NewTakesTheLocationFromTheCommTypeDialog) {
  EXPECT_EQ(dialog_.New(), AvailableDevices::Outcome::kStay);  // cancelled
  ui_.comm_type_answer = 1;
  EXPECT_EQ(dialog_.New(), AvailableDevices::Outcome::kEndOk);
  EXPECT_EQ(dialog_.location(), kLocationEthernet);
  EXPECT_EQ(ui_.comm_type_runs, 2);
}

}  // namespace
}  // namespace zimo::corvan::dialogs
