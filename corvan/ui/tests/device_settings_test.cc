// The Properties worker: which settings dialog a Location gets, the DPR
// settings that follow the properties dialog into the shared block, and the
// guards of a serial port that is in use (by other processes, or by this
// process on exactly the device being configured).
#include "logic/device_settings.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "serial_card_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using corvan::testing::LibraryClock;
using corvan::testing::RegisterSerialDevice;
using corvan::testing::SerialCard;
using corvan::testing::StandInServer;

class DeviceSettingsTest : public testing::DialogTest {
 protected:
  void TearDown() override {
    ShutdownZimoDevice(1, 1);
    App().End();
  }
  std::uint32_t SerialPortNumber(std::uint32_t enumeration) {
    std::uint32_t value = 99;
    GetLocationRegDword(kLocationSerial, enumeration, "SerialPortNumber", &value, 99);
    return value;
  }
};

TEST_F(DeviceSettingsTest, NoDialogForAnUnregisteredOrUnknownLocation) {
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 0, kLocationUnknown), 0);
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 0, kLocationInvalid), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Device not registered.", "Invalid Device Type."}));
  EXPECT_TRUE(ui_.properties_devices.empty());
  EXPECT_TRUE(ui_.serial_devices.empty());
}

TEST_F(DeviceSettingsTest, WithoutTheTableTheDialogsRunAndNothingElseChanges) {
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 3, kLocationPci), 1);
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 4, kLocationSerial), 1);
  EXPECT_EQ(ui_.properties_devices, std::vector<int>{3});
  EXPECT_EQ(ui_.serial_devices, std::vector<int>{4});
  EXPECT_EQ(recorder_.count(), 0u);
}

class DeviceSettingsWithServerTest : public DeviceSettingsTest {
 protected:
  void SetUp() override {
    RegisterSerialDevice(1, 2);
    ASSERT_EQ(RegisterDevice(3, kLocationPci, 1, nullptr), 1);
    card_ = std::make_unique<SerialCard>(2);
    server_ = std::make_unique<StandInServer>();
    ASSERT_TRUE(App().MapTable());
  }
  SharedDeviceBlock& block(int device) { return server_->table()->Devices[device]; }

  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(DeviceSettingsWithServerTest, PropertiesCopyTheDprSettingsIntoTheSharedBlock) {
  ui_.on_properties = [](int) {
    // What the properties dialog writes.
    SetLocationRegDword(kLocationPci, 1, "DPRAutoActive", 1);
    SetLocationRegDword(kLocationPci, 1, "DPRRealTimeActive", 1);
    SetLocationRegDword(kLocationPci, 1, "DPRRealTimePeriod", 7);
    SetLocationRegDword(kLocationPci, 1, "EnableInterrupts", 1);
  };
  block(3).BackgroundPeriod = 99;
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 3, kLocationPci), 1);
  EXPECT_EQ(block(3).DprAutoActive, 1u);
  EXPECT_EQ(block(3).RealTimeActive, 1u);
  EXPECT_EQ(block(3).RealTimePeriod, 7u);
  EXPECT_EQ(block(3).InterruptsEnabled, 1u);
  EXPECT_EQ(block(3).BackgroundActive, 0u);
  EXPECT_EQ(block(3).BackgroundPeriod, 20u);  // the default of a missing value
}

TEST_F(DeviceSettingsWithServerTest, ASerialDeviceGetsItsPortNumberAndTheSerialDialog) {
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 1, kLocationSerial), 1);
  EXPECT_EQ(ui_.serial_devices, std::vector<int>{1});
  EXPECT_EQ(SerialPortNumber(2), 1u);
}

TEST_F(DeviceSettingsWithServerTest, SerialSettingsWaitUntilNoOtherProcessUsesTheLibrary) {
  server_->table()->UserCount = 2;
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 1, kLocationSerial), 0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text,
            "PORT settings cannot be changed while multiple applications are running. First "
            "close all other applications using Corvan32 library.");
  EXPECT_NE(recorder_.last()->flags & platform::kMbTopmost, 0u);
  EXPECT_TRUE(ui_.serial_devices.empty());
  EXPECT_EQ(SerialPortNumber(2), 99u);
  server_->table()->UserCount = 1;
}

TEST_F(DeviceSettingsWithServerTest, TheOpenDeviceItselfIsGuardedNotTheLastOpenedOne) {
  ASSERT_EQ(OpenZimoDevice(1), 1);
  ASSERT_EQ(block(1).FirstOpenDone, 1u);
  // This process last tried another device, which was never set up.
  EXPECT_EQ(OpenZimoDevice(6), 0);
  ASSERT_EQ(App().current_device(), 6);

  EXPECT_EQ(ConfigureDeviceSettings(ui_, 1, kLocationSerial), 0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text,
            "Unable to change PORT settings while device is open. First close all windows "
            "communicating to this device.");
  EXPECT_TRUE(ui_.serial_devices.empty());

  // Once closed here it may be configured, whatever was opened last.
  ASSERT_EQ(CloseZimoDevice(1), 1);
  block(6).FirstOpenDone = 1;
  recorder_.Clear();
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 1, kLocationSerial), 1);
  EXPECT_EQ(recorder_.count(), 0u);
}

TEST_F(DeviceSettingsWithServerTest, TheServersBuildRunsTheDialogsWithoutGuards) {
  App().UseServerTable(server_->table());
  server_->table()->UserCount = 3;
  ui_.on_properties = [](int) { SetLocationRegDword(kLocationPci, 1, "DPRAutoActive", 1); };
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 1, kLocationSerial), 1);
  EXPECT_EQ(ConfigureDeviceSettings(ui_, 3, kLocationPci), 1);
  EXPECT_EQ(recorder_.count(), 0u);
  EXPECT_EQ(SerialPortNumber(2), 99u);      // no registry write
  EXPECT_EQ(block(3).DprAutoActive, 0u);    // no copy into the block
  server_->table()->UserCount = 0;
}

}  // namespace
}  // namespace zimo::corvan::dialogs
