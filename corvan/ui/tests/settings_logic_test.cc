// The serial port dialog's and the device properties dialog's logic: what
// they read with which defaults and ranges, their enable rules, and exactly
// what OK writes.
#include <gtest/gtest.h>

#include <string>

#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "link/location_settings.h"
#include "logic/device_properties.h"
#include "logic/dialog_messages.h"
#include "logic/serial_port_settings.h"

namespace zimo::corvan::dialogs {
namespace {

std::uint32_t Read(std::uint32_t location, std::uint32_t enumeration, const char* name) {
  std::uint32_t value = 0xDEADBEEF;
  GetLocationRegDword(location, enumeration, name, &value, 0xDEADBEEF);
  return value;
}

class SerialPortSettingsTest : public testing::DialogTest {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterDevice(4, kLocationSerial, 3, nullptr), 1); }
  std::uint32_t Stored(const char* name) { return Read(kLocationSerial, 3, name); }
};

TEST(BaudRateListTest, StoredRatesMapToTheListAndBack) {
  struct Case {
    std::uint32_t stored;
    int index;
  };
  const Case cases[] = {{1200, 0},  {2400, 1},  {4800, 2},   {9600, 3}, {19200, 4},
                        {38400, 5}, {57600, 6}, {76800, 7},  {115200, 8},
                        {500, 5},   {14400, 5}, {230400, 5}, {0, 5}};
  for (const Case& c : cases) EXPECT_EQ(BaudIndexOf(c.stored), c.index) << c.stored;
  EXPECT_EQ(BaudOfIndex(6), 57600u);
  EXPECT_EQ(BaudOfIndex(5), 38400u);
  EXPECT_EQ(BaudOfIndex(-1), 38400u);
  EXPECT_EQ(BaudOfIndex(9), 38400u);
}

TEST_F(SerialPortSettingsTest, AnEmptyKeyOpensWithTheDefaults) {
  SerialPortSettings settings(4);
  EXPECT_EQ(settings.caption(), "ZIMO Device number 4");
  EXPECT_EQ(settings.enumeration(), 3u);
  settings.Load();
  EXPECT_EQ(settings.port_index, 0);
  EXPECT_EQ(settings.baud_index, 5);
  EXPECT_EQ(settings.parity_index, 0);
  EXPECT_EQ(settings.char_timeout_ms, 2000u);
  EXPECT_EQ(settings.flush_timeout_ms, 30u);
  EXPECT_TRUE(settings.cts_output);
  EXPECT_EQ(settings.rts_control, 1u);
}

TEST_F(SerialPortSettingsTest, StoredValuesOutOfRangeOpenAsTheirDefaultsAndSaveCleaned) {
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialBaudrate", 500), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialPortNumber", 9), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialParity", 3), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 3, "SerialRTSControl", 7), 1);
  SerialPortSettings settings(4);
  settings.Load();
  EXPECT_EQ(BaudOfIndex(settings.baud_index), 38400u);
  EXPECT_EQ(settings.port_index, 0);
  EXPECT_EQ(settings.parity_index, 0);
  ASSERT_TRUE(settings.Save());
  EXPECT_EQ(Stored("SerialBaudrate"), 38400u);
  EXPECT_EQ(Stored("SerialPortNumber"), 0u);
  EXPECT_EQ(Stored("SerialParity"), 0u);
  EXPECT_EQ(Stored("SerialRTSControl"), 7u);  // no radio button for it: kept as stored
}

TEST_F(SerialPortSettingsTest, OkRegistersTheDeviceAsSerialAndWritesEverySetting) {
  ASSERT_EQ(SetDeviceRegDword(4, kLocationValue, kLocationUnknown), 1);
  SerialPortSettings settings(4);
  settings.Load();
  settings.baud_index = 6;
  settings.parity_index = 2;
  settings.cts_output = false;
  settings.rts_control = 3;
  settings.char_timeout_ms = 1500;
  settings.flush_timeout_ms = 45;
  ASSERT_TRUE(settings.Ok());
  std::uint32_t location = 0;
  GetDeviceRegDword(4, kLocationValue, &location, 0);
  EXPECT_EQ(location, kLocationSerial);
  EXPECT_EQ(Stored("SerialBaudrate"), 57600u);
  EXPECT_EQ(Stored("SerialPortNumber"), 0u);
  EXPECT_EQ(Stored("SerialParity"), 2u);
  EXPECT_EQ(Stored("SerialCTSOutput"), 0u);
  EXPECT_EQ(Stored("SerialRTSControl"), 3u);
  EXPECT_EQ(Stored("SerCharTimeout"), 1500u);
  EXPECT_EQ(Stored("SerFlushTimeout"), 45u);
}

TEST_F(SerialPortSettingsTest, ADeviceWithoutAUsableEnumerationCannotSave) {
  ASSERT_EQ(SetDeviceRegDword(5, kEnumerationValue, 12), 1);
  SerialPortSettings settings(5);
  settings.Load();
  EXPECT_FALSE(settings.Save());
}

TEST(ParseUnsignedTest, OnlyDecimalNumbersThatFit) {
  std::uint32_t v = 0;
  EXPECT_TRUE(ParseUnsigned("2000", &v));
  EXPECT_EQ(v, 2000u);
  EXPECT_TRUE(ParseUnsigned(" 30 ", &v));
  EXPECT_EQ(v, 30u);
  EXPECT_TRUE(ParseUnsigned("4294967295", &v));
  EXPECT_EQ(v, 4294967295u);
  for (const char* bad : {"", "  ", "-1", "12a", "4294967296", "1 2", "0x10"}) {
    EXPECT_FALSE(ParseUnsigned(bad, &v)) << bad;
  }
}

class DevicePropertiesTest : public testing::DialogTest {
 protected:
  std::uint32_t Stored(std::uint32_t location, const char* name) { return Read(location, 1, name); }
};

TEST_F(DevicePropertiesTest, WhatShowsFollowsTheLocation) {
  struct Case {
    std::uint32_t location;
    bool interrupts;
    bool ip;
  };
  const Case cases[] = {{kLocationPci, true, false},
                        {kLocationEthernet, false, true},
                        {kLocationUsb, false, false},
                        {kLocationIsa, false, false}};
  for (const Case& c : cases) {
    ASSERT_EQ(RegisterDevice(2, c.location, 1, nullptr), 1);
    DeviceProperties properties(2);
    properties.Load();
    EXPECT_EQ(properties.interrupts_visible(), c.interrupts) << c.location;
    EXPECT_EQ(properties.ip_address_visible(), c.ip) << c.location;
  }
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 1, "IPAddress", 0xC0A80A14), 1);
  ASSERT_EQ(RegisterDevice(2, kLocationEthernet, 1, nullptr), 1);
  DeviceProperties ethernet(2);
  ethernet.Load();
  EXPECT_EQ(ethernet.ip_address_text(), "192.168.10.20");
  EXPECT_EQ(ethernet.caption(), "ZIMO Device number 2");
}

TEST_F(DevicePropertiesTest, AnEmptyKeyOpensWithPeriods20Mask1AndFlagsOff) {
  ASSERT_EQ(RegisterDevice(0, kLocationUsb, 1, nullptr), 1);
  DeviceProperties properties(0);
  properties.Load();
  EXPECT_FALSE(properties.auto_active());
  EXPECT_FALSE(properties.realtime_active);
  EXPECT_FALSE(properties.background_active);
  EXPECT_FALSE(properties.enable_interrupts);
  EXPECT_EQ(properties.realtime_period, 20u);
  EXPECT_EQ(properties.background_period, 20u);
  EXPECT_EQ(properties.monitor_period, 20u);
  EXPECT_EQ(properties.motor_mask(), 1u);
  EXPECT_TRUE(properties.motor(1));
  EXPECT_FALSE(properties.motor(2));
  EXPECT_FALSE(properties.dependents_enabled());
}

TEST_F(DevicePropertiesTest, ClearingAutomaticFunctionsClearsBothUpdatesAndOkWritesThem) {
  ASSERT_EQ(RegisterDevice(1, kLocationPci, 1, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationPci, 1, "DPRAutoActive", 1), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationPci, 1, "DPRRealTimeActive", 1), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationPci, 1, "DPRBackgroundActive", 1), 1);
  DeviceProperties properties(1);
  properties.Load();
  EXPECT_TRUE(properties.dependents_enabled());
  properties.SetAutoActive(false);
  EXPECT_FALSE(properties.dependents_enabled());
  EXPECT_FALSE(properties.realtime_active);
  EXPECT_FALSE(properties.background_active);
  ASSERT_TRUE(properties.Ok());
  EXPECT_EQ(Stored(kLocationPci, "DPRAutoActive"), 0u);
  EXPECT_EQ(Stored(kLocationPci, "DPRRealTimeActive"), 0u);
  EXPECT_EQ(Stored(kLocationPci, "DPRBackgroundActive"), 0u);
  // Checking it again does not bring the updates back.
  properties.SetAutoActive(true);
  EXPECT_FALSE(properties.realtime_active);
}

TEST_F(DevicePropertiesTest, MotorBoxesMakeTheMaskAndOkWritesAllEightValues) {
  ASSERT_EQ(RegisterDevice(1, kLocationEthernet, 1, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 1, "IPAddress", 0x0A000001), 1);
  DeviceProperties properties(1);
  properties.Load();
  properties.SetMotor(1, true);
  properties.SetMotor(3, true);
  properties.SetAutoActive(true);
  properties.realtime_active = true;
  properties.realtime_period = 5;
  properties.background_period = 40;
  properties.monitor_period = 100;
  ASSERT_TRUE(properties.Ok());
  EXPECT_EQ(Stored(kLocationEthernet, "DPRRealTimeMtrMask"), 5u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRAutoActive"), 1u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRRealTimeActive"), 1u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRBackgroundActive"), 0u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRRealTimePeriod"), 5u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRBackgroundPeriod"), 40u);
  EXPECT_EQ(Stored(kLocationEthernet, "DPRMonitorPeriod"), 100u);
  EXPECT_EQ(Stored(kLocationEthernet, "EnableInterrupts"), 0u);
  EXPECT_EQ(Stored(kLocationEthernet, "IPAddress"), 0x0A000001u);  // shown, never written

  properties.SetMotor(1, false);
  ASSERT_TRUE(properties.Ok());
  EXPECT_EQ(Stored(kLocationEthernet, "DPRRealTimeMtrMask"), 4u);
}

TEST_F(DevicePropertiesTest, MaskBitsOfMotorsWithoutABoxAreKept) {
  ASSERT_EQ(RegisterDevice(1, kLocationUsb, 1, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationUsb, 1, "DPRRealTimeMtrMask", 0x0001FF01), 1);
  DeviceProperties properties(1);
  properties.Load();
  properties.SetMotor(1, false);
  properties.SetMotor(2, true);
  ASSERT_TRUE(properties.Ok());
  EXPECT_EQ(Stored(kLocationUsb, "DPRRealTimeMtrMask"), 0x0001FF02u);
}

}  // namespace
}  // namespace zimo::corvan::dialogs
