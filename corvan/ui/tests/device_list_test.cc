// The device list dialog's logic: the line of every kind of device, the
// button states, and what Insert, Remove, Test, Properties, OK and the user
// buttons do to the registry and to the shared device table.
#include "logic/device_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "platform/file_mapping.h"
#include "platform/process.h"

namespace zimo::corvan::dialogs {
namespace {

namespace fs = std::filesystem;
using platform::kIdCancel;
using platform::kIdOk;

class DeviceListTest : public testing::DialogTest {
 protected:
  DeviceListTest() : list_(ui_, probe_, tester_, [this](std::string_view line) {
    started_.emplace_back(line);
    return start_result_;
  }) {}

  std::uint32_t RegLocation(int device) {
    std::uint32_t value = 0;
    GetDeviceRegDword(device, kLocationValue, &value, 0);
    return value;
  }

  DeviceTest tester_{ui_};
  std::vector<std::string> started_;
  std::uint32_t start_result_ = platform::kWinExecStarted;
  DeviceList list_;
};

TEST_F(DeviceListTest, EveryKindOfDeviceHasItsLine) {
  ASSERT_EQ(RegisterDevice(1, kLocationIsa, 0, nullptr), 1);
  probe_.isa[0] = IsaProbe{true, IsaResources{0x300, 0x25, 0xD0000}};
  ASSERT_EQ(RegisterDevice(2, kLocationSerial, 3, nullptr), 1);  // no SerialPortNumber
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialBaudrate", 19200), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialParity", 2), 1);
  ASSERT_EQ(RegisterDevice(3, kLocationEthernet, 1, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 1, "IPAddress", 0x0A000005), 1);
  ASSERT_EQ(RegisterDevice(4, kLocationPci, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(5, kLocationUsb, 2, nullptr), 1);
  ASSERT_EQ(RegisterDevice(6, kLocationIsa, 1, nullptr), 1);  // resources not reported
  ASSERT_EQ(RegisterDevice(7, kLocationSerial, 4, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 4, "SerialPortNumber", 5), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 4, "SerialParity", 7), 1);  // out of range

  list_.Start();
  EXPECT_EQ(list_.lines(),
            (std::vector<std::string>{
                "ZIMO 00 - NA",
                "ZIMO 01 - ISA0 - Port:0x300, Intr:5, DPRAM:0xD0000",
                "ZIMO 02 - SER3 - COM3, Baudrate:19200, Parity:Even",
                "ZIMO 03 - ETH1 - IP:10.0.0.5",
                "ZIMO 04 - PCI0 - Plug and play",
                "ZIMO 05 - USB2 - Plug and play",
                "ZIMO 06 - ISA1 - Unable to determine resources ",
                "ZIMO 07 - SER4 - COM6, Baudrate:38400, Parity:None",
            }));
  EXPECT_FALSE(list_.configured(0));
  for (int d = 1; d < 8; ++d) EXPECT_TRUE(list_.configured(d)) << d;
}

TEST_F(DeviceListTest, AFirstFillSelectsDevice0AndOffersOnlyInsertWithoutCreatingKeys) {
  list_.Start();
  EXPECT_EQ(list_.current_device(), 0);
  for (const std::string& line : list_.lines()) EXPECT_NE(line.find(" - NA"), std::string::npos);
  EXPECT_TRUE(list_.insert_enabled());
  EXPECT_FALSE(list_.remove_enabled());
  EXPECT_FALSE(list_.ok_enabled());
  EXPECT_FALSE(list_.test_enabled());
  EXPECT_FALSE(list_.properties_enabled());
  // Listing devices registers nothing.
  EXPECT_EQ(CountDeviceKeys(), 0);
  EXPECT_EQ(list_.Ok(), DeviceList::End::kCancel);
  EXPECT_EQ(list_.DoubleClick(), DeviceList::End::kCancel);
}

TEST_F(DeviceListTest, InsertRegistersTheChosenInterfaceUnderTheSelectedNumber) {
  // A number removed earlier (Location 0) takes the new registration.
  ASSERT_EQ(RegisterDevice(2, kLocationUsb, 0, nullptr), 1);
  ASSERT_EQ(UnregisterDevice(2, nullptr), 1);
  list_.Start();
  list_.SelectionChanged(2);
  ui_.selection_answer = DeviceChoice{kLocationPci, 1};
  list_.Insert();
  EXPECT_EQ(ui_.selections, 1);
  EXPECT_EQ(RegLocation(2), kLocationPci);
  EXPECT_EQ(list_.lines()[2], "ZIMO 02 - PCI1 - Plug and play");
  EXPECT_TRUE(list_.ok_enabled());
  EXPECT_FALSE(list_.insert_enabled());
  EXPECT_EQ(list_.Ok(), DeviceList::End::kOk);
  EXPECT_EQ(recorder_.count(), 0u);
}

TEST_F(DeviceListTest, InsertOnAConfiguredNumberAsksForItsRemovalFirst) {
  ASSERT_EQ(RegisterDevice(0, kLocationUsb, 0, nullptr), 1);
  list_.Start();
  ui_.selection_answer = DeviceChoice{kLocationPci, 1};
  list_.Insert();
  EXPECT_EQ(ui_.selections, 0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "You must remove the current device first?");
  EXPECT_NE(recorder_.last()->flags & platform::kMbTopmost, 0u);
  EXPECT_EQ(RegLocation(0), kLocationUsb);
}

TEST_F(DeviceListTest, InsertThatChoosesNothingRegistersNothing) {
  list_.Start();
  ui_.selection_answer.reset();  // Cancel
  list_.Insert();
  ui_.selection_answer = DeviceChoice{};  // OK on nothing usable: Location 0
  list_.Insert();
  EXPECT_EQ(ui_.selections, 2);
  EXPECT_EQ(CountDeviceKeys(), 0);
}

TEST_F(DeviceListTest, RemoveAsksAndOnlyOkUnregisters) {
  ASSERT_EQ(RegisterDevice(3, kLocationPci, 0, nullptr), 1);
  list_.Start();
  list_.SelectionChanged(3);
  recorder_.QueueAnswers({kIdCancel, kIdOk});
  list_.Remove();
  EXPECT_EQ(RegLocation(3), kLocationPci);
  list_.Remove();
  EXPECT_EQ(RegLocation(3), kLocationUnknown);
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(3, kEnumerationValue, &enumeration, 0);
  EXPECT_EQ(enumeration, kNoEnumeration);
  EXPECT_EQ(list_.lines()[3], "ZIMO 03 - NA");
  ASSERT_EQ(recorder_.count(), 2u);
  EXPECT_EQ(recorder_.last()->text, "Are you sure you want to remove the device?");
  EXPECT_EQ(recorder_.last()->flags, platform::kMbOkCancel | platform::kMbTopmost);

  // A key without a valid Location goes without asking; no key, nothing.
  recorder_.Clear();
  list_.Remove();
  list_.SelectionChanged(6);
  list_.Remove();
  EXPECT_EQ(recorder_.count(), 0u);
  EXPECT_EQ(DeviceKeyExists(6), 0);
}

// The shared device table of a running server, mapped by this process.
class DeviceListWithTableTest : public DeviceListTest {
 protected:
  void SetUp() override {
    auto created = platform::FileMapping::Create(kSharedTableName, kSharedTableSize);
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    mapping_ = std::move(created.value());
    InitializeTableHeader(*SharedTableAt(mapping_.data()), 0);
    ASSERT_TRUE(App().MapTable());
  }
  void TearDown() override { App().End(); }

  SharedDeviceBlock& block(int device) { return App().table()->Devices[device]; }

  platform::FileMapping mapping_;
};

TEST_F(DeviceListWithTableTest, RemoveIsRefusedForADeviceThatWasSetUp) {
  ASSERT_EQ(RegisterDevice(1, kLocationSerial, 2, App().table()), 1);
  block(1).FirstOpenDone = 1;
  list_.Start();
  list_.SelectionChanged(1);
  list_.Remove();
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text,
            "Unable to remove device. First close all applications (including the ZIMOSERVER) "
            "communicating to this device.");
  EXPECT_EQ(RegLocation(1), kLocationSerial);

  // Registering through the dialog also tells the shared table.
  list_.SelectionChanged(4);
  ui_.selection_answer = DeviceChoice{kLocationEthernet, 2};
  list_.Insert();
  EXPECT_EQ(block(4).Location, kLocationEthernet);
  EXPECT_EQ(block(4).Enumeration, 2u);
}

TEST_F(DeviceListTest, TestRunsTheDeviceTestOfTheSelectedDevice) {
  // A PCI card with no driver device behind it cannot be opened.
  ASSERT_EQ(RegisterDevice(4, kLocationPci, 0, nullptr), 1);
  list_.Start();
  list_.TakeSelection(4);
  list_.Test();
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "The ZIMO could not be detected.");
  EXPECT_EQ(list_.current_device(), 4);
}

TEST_F(DeviceListTest, PropertiesRunTheSettingsDialogOfTheLocation) {
  ASSERT_EQ(RegisterDevice(1, kLocationSerial, 2, nullptr), 1);
  ASSERT_EQ(RegisterDevice(2, kLocationUsb, 0, nullptr), 1);
  list_.Start();
  list_.Properties();  // device 0 is not configured: nothing
  list_.TakeSelection(1);
  list_.Properties();
  list_.TakeSelection(2);
  list_.Properties();
  EXPECT_EQ(ui_.serial_devices, std::vector<int>{1});
  EXPECT_EQ(ui_.properties_devices, std::vector<int>{2});
}

TEST_F(DeviceListTest, UserButtonsShowTheirNamesAndStartTheirPrograms) {
  ASSERT_EQ(SetRootRegString("UserApp2Name", "Tuning"), 1);
  ASSERT_EQ(SetRootRegString("UserApp2Path", "/opt/zimo/tune"), 1);
  ASSERT_EQ(RegisterDevice(3, kLocationPci, 0, nullptr), 1);
  list_.Start();
  EXPECT_FALSE(list_.user_button(1).visible);
  EXPECT_TRUE(list_.user_button(2).visible);
  EXPECT_EQ(list_.user_button(2).caption, "Tuning");

  list_.TakeSelection(3);
  EXPECT_EQ(list_.UserApp(1), 0);  // no path: nothing started, nothing said
  EXPECT_EQ(list_.UserApp(2), 1);
  EXPECT_EQ(started_, std::vector<std::string>{"/opt/zimo/tune /zimo 3"});
  EXPECT_EQ(recorder_.count(), 0u);
}

TEST_F(DeviceListTest, AUserProgramThatDoesNotStartIsExplained) {
  ASSERT_EQ(SetRootRegString("UserApp1Path", "/opt/zimo/gone"), 1);
  list_.Start();
  struct Case {
    std::uint32_t result;
    std::string text;
  };
  const Case cases[] = {
      {platform::kWinExecOutOfMemory, "The system is out of memory or resources."},
      {platform::kWinExecFileNotFound, "The specified file: /opt/zimo/gone /zimo 0, was not found."},
      {platform::kWinExecPathNotFound, "The specified path: /opt/zimo/gone /zimo 0, was not found."},
      {platform::kWinExecBadFormat,
       "The .exe file is invalid (non-Win32 .exe or error in .exe image)."},
  };
  for (const Case& c : cases) {
    start_result_ = c.result;
    recorder_.Clear();
    EXPECT_EQ(list_.UserApp(1), 0);
    ASSERT_EQ(recorder_.count(), 1u);
    EXPECT_EQ(recorder_.last()->text, c.text);
  }
}

TEST_F(DeviceListTest, AUserProgramReallyStartsWithTheDeviceNumber) {
  const fs::path script = home_.path() / "user app.sh";
  const fs::path out = home_.path() / "args.txt";
  std::ofstream(script) << "#!/bin/sh\necho \"$@\" > '" << out.string() << ".tmp' && mv '"
                        << out.string() << ".tmp' '" << out.string() << "'\n";
  fs::permissions(script, fs::perms::owner_all);
  ASSERT_EQ(SetRootRegString("UserApp1Path", ("\"" + script.string() + "\"").c_str()), 1);
  ASSERT_EQ(RegisterDevice(5, kLocationUsb, 0, nullptr), 1);
  DeviceList list(ui_, probe_, tester_, [](std::string_view line) {
    return platform::WinExec(line);
  });
  list.Start();
  list.TakeSelection(5);
  EXPECT_EQ(list.UserApp(1), 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(out) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream in(out);
  std::stringstream args;
  args << in.rdbuf();
  EXPECT_EQ(args.str(), "/zimo 5\n");
}

}  // namespace
}  // namespace zimo::corvan::dialogs
