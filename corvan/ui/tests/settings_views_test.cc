// The settings dialogs on screen (offscreen): "Configure ZIMO Serial Port"
// and the device properties dialog, driven through their controls.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <memory>
#include <string>

#include "link/device_registry.h"
#include "link/library_app.h"
#include "platform/serial_port.h"
#include "logic/device_properties.h"
#include "logic/device_test.h"
#include "logic/serial_port_settings.h"
#include "view/device_properties_dialog.h"
#include "view/serial_port_dialog.h"
#include "view_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using ui::testing::Control;

std::uint32_t Stored(std::uint32_t location, std::uint32_t enumeration, const char* name) {
  std::uint32_t value = 0xDEADBEEF;
  GetLocationRegDword(location, enumeration, name, &value, 0xDEADBEEF);
  return value;
}

class SerialPortViewTest : public testing::ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    // A device number being configured: its key says serial port 3.
    ASSERT_EQ(SetDeviceRegDword(4, kEnumerationValue, 3), 1);
  }
  std::uint32_t Stored(const char* name) { return dialogs::Stored(kLocationSerial, 3, name); }
  std::uint32_t Location() {
    std::uint32_t location = 0;
    GetDeviceRegDword(4, kLocationValue, &location, 0);
    return location;
  }

  DeviceTest tester_{ui_};
};

TEST_F(SerialPortViewTest, AnUnlistedBaudShowsAs38400AndOkWritesLocation2) {
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialBaudrate", 500), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialPortNumber", 9), 1);
  SerialPortSettings model(4);
  view::SerialPortDialog dialog(model, tester_);
  auto* baud = Control<QComboBox>(&dialog, "72");
  auto* port = Control<QComboBox>(&dialog, "73");
  EXPECT_EQ(baud->currentText(), "38400");
  EXPECT_EQ(port->currentText(), "COM1");
  EXPECT_FALSE(port->isEnabled());
  EXPECT_EQ(Control<QLabel>(&dialog, "5093")->text(), "ZIMO Device number 4");
  EXPECT_TRUE(Control<QRadioButton>(&dialog, "5025")->isChecked());  // RTS enabled
  CheckPicture(&dialog, "serial_port", "Configure ZIMO Serial Port",
               {"ZIMO Device number 4", "&Port Number:", "&Baudrate:", "Parit&y:", "CTS Output",
                "RTS Control", "Disabled", "Enabled", "Handshake", "Toggle", "Timeouts (msecs.)",
                "Character :", "Flush  :", "2000", "30", "OK", "Cancel", "Test", "115200", "EVEN"});

  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Location(), kLocationSerial);
  EXPECT_EQ(Stored("SerialBaudrate"), 38400u);
  EXPECT_EQ(Stored("SerialPortNumber"), 0u);
}

TEST_F(SerialPortViewTest, TheChosenSettingsAreWhatOkWrites) {
  SerialPortSettings model(4);
  view::SerialPortDialog dialog(model, tester_);
  Control<QComboBox>(&dialog, "72")->setCurrentText("57600");
  Control<QComboBox>(&dialog, "74")->setCurrentIndex(1);
  Control<QCheckBox>(&dialog, "5102")->setChecked(false);
  Control<QRadioButton>(&dialog, "5101")->click();
  Control<QLineEdit>(&dialog, "5099")->setText("1500");
  Control<QLineEdit>(&dialog, "5098")->setText("45");
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(Stored("SerialBaudrate"), 57600u);
  EXPECT_EQ(Stored("SerialParity"), 1u);
  EXPECT_EQ(Stored("SerialCTSOutput"), 0u);
  EXPECT_EQ(Stored("SerialRTSControl"), 3u);
  EXPECT_EQ(Stored("SerCharTimeout"), 1500u);
  EXPECT_EQ(Stored("SerFlushTimeout"), 45u);
}

TEST_F(SerialPortViewTest, ATimeoutThatIsNoNumberKeepsTheDialogOpenAndWritesNothing) {
  SerialPortSettings model(4);
  view::SerialPortDialog dialog(model, tester_);
  dialog.show();
  Control<QLineEdit>(&dialog, "5098")->setText("fast");
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "Please enter an unsigned integer.");
  EXPECT_EQ(Location(), kLocationUnknown);
  EXPECT_EQ(Stored("SerFlushTimeout"), 0xDEADBEEFu);
  dialog.hide();
}

TEST_F(SerialPortViewTest, TestSavesAndTestsAndCancelKeepsWhatTestSaved) {
  // Registered as serial on a port that is not there.
  ASSERT_EQ(RegisterDevice(4, kLocationSerial, 3, nullptr), 1);
  ASSERT_TRUE(platform::RegisterComPort(3, home_.path() / "no-such-port").ok());
  SerialPortSettings model(4);
  view::SerialPortDialog dialog(model, tester_);
  dialog.show();
  Control<QComboBox>(&dialog, "72")->setCurrentText("9600");
  Control<QPushButton>(&dialog, "5094")->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Stored("SerialBaudrate"), 9600u);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "The ZIMO could not be detected.");
  Control<QPushButton>(&dialog, "2")->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(Stored("SerialBaudrate"), 9600u);
}

class DevicePropertiesViewTest : public testing::ViewTest {};

TEST_F(DevicePropertiesViewTest, ControlsShownFollowTheLocation) {
  struct Case {
    std::uint32_t location;
    bool interrupts;
    bool ip;
  };
  const Case cases[] = {{kLocationPci, true, false},
                        {kLocationEthernet, false, true},
                        {kLocationUsb, false, false},
                        {kLocationIsa, false, false}};
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 2, "IPAddress", 0xC0A80A14), 1);
  for (const Case& c : cases) {
    ASSERT_EQ(RegisterDevice(5, c.location, 2, nullptr), 1);
    DeviceProperties model(5);
    view::DevicePropertiesDialog dialog(model);
    EXPECT_EQ(Control<QCheckBox>(&dialog, "5121")->isVisibleTo(&dialog), c.interrupts);
    EXPECT_EQ(Control<QLabel>(&dialog, "5122")->isVisibleTo(&dialog), c.ip);
    auto* ip = Control<QLineEdit>(&dialog, "5090");
    EXPECT_EQ(ip->isVisibleTo(&dialog), c.ip);
    EXPECT_FALSE(ip->isEnabled());
    if (c.ip) {
      EXPECT_EQ(ip->text(), "192.168.10.20");
    }
  }
}

TEST_F(DevicePropertiesViewTest, MotorBoxesOneAndThreeWriteTheMask5) {
  ASSERT_EQ(RegisterDevice(5, kLocationPci, 2, nullptr), 1);
  DeviceProperties model(5);
  view::DevicePropertiesDialog dialog(model);
  dialog.show();
  Control<QCheckBox>(&dialog, "5103")->click();  // automatic functions on
  EXPECT_TRUE(Control<QCheckBox>(&dialog, "5113")->isChecked());  // the default mask 1
  Control<QCheckBox>(&dialog, "5115")->click();
  CheckPicture(&dialog, "device_properties", "Device Properties",
               {"ZIMO Device number 5", "DPRAM Automatic Functions", "DPRAM RealTime Update",
                "DPRAM BackGround Update", "RT Update Rate (servo cycles)",
                "BG Update Rate (servo cycles)", "Monitor Rate (ms)", "#1", "#8",
                "Enable Interrupts", "20", "OK", "Cancel"});
  dialog.show();
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Stored(kLocationPci, 2, "DPRRealTimeMtrMask"), 5u);
  EXPECT_EQ(Stored(kLocationPci, 2, "DPRAutoActive"), 1u);
}

TEST_F(DevicePropertiesViewTest, AutomaticFunctionsEnableAndClearTheirDependents) {
  ASSERT_EQ(RegisterDevice(5, kLocationUsb, 2, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationUsb, 2, "DPRAutoActive", 1), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationUsb, 2, "DPRRealTimeActive", 1), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationUsb, 2, "DPRBackgroundActive", 1), 1);
  DeviceProperties model(5);
  view::DevicePropertiesDialog dialog(model);
  const char* dependents[] = {"5104", "5105", "5106", "5107", "5112", "5113", "5120"};
  for (const char* id : dependents) {
    EXPECT_TRUE(dialog.findChild<QWidget*>(id)->isEnabled()) << id;
  }
  Control<QCheckBox>(&dialog, "5103")->click();
  for (const char* id : dependents) {
    EXPECT_FALSE(dialog.findChild<QWidget*>(id)->isEnabled()) << id;
  }
  EXPECT_FALSE(Control<QCheckBox>(&dialog, "5104")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(&dialog, "5105")->isChecked());
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(Stored(kLocationUsb, 2, "DPRRealTimeActive"), 0u);
  EXPECT_EQ(Stored(kLocationUsb, 2, "DPRBackgroundActive"), 0u);

  // Cancel writes nothing.
  DeviceProperties again(5);
  view::DevicePropertiesDialog second(again);
  Control<QCheckBox>(&second, "5103")->click();
  Control<QPushButton>(&second, "2")->click();
  EXPECT_EQ(Stored(kLocationUsb, 2, "DPRAutoActive"), 0u);
}

TEST_F(DevicePropertiesViewTest, TheServersBuildNumbersTheMonitorAndInterruptControlsApart) {
  ASSERT_EQ(RegisterDevice(5, kLocationPci, 2, nullptr), 1);
  auto table = std::make_unique<SharedDeviceTable>();
  App().UseServerTable(table.get());
  DeviceProperties model(5);
  view::DevicePropertiesDialog dialog(model);
  EXPECT_NE(dialog.findChild<QLineEdit*>("5108"), nullptr);
  EXPECT_NE(dialog.findChild<QCheckBox*>("5109"), nullptr);
  EXPECT_EQ(dialog.findChild<QWidget*>("5112"), nullptr);
  EXPECT_EQ(dialog.findChild<QWidget*>("5121"), nullptr);
  EXPECT_TRUE(ui::testing::Shows(&dialog, "Monitor Period (ms)"));
  App().End();
}

}  // namespace
}  // namespace zimo::corvan::dialogs
