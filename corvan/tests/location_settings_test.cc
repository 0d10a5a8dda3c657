#include "link/location_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/device_registry.h"
#include "platform/home.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

using platform::kHkeyLocalMachine;
using platform::RegistryKey;

constexpr std::uint32_t kUntouched = 0xA5A5A5A5;

// Byte offset in the block -> expected word. Offsets are written out here,
// not taken from the struct, so a field at the wrong place fails.
using Words = std::map<std::size_t, std::uint32_t>;

const Words kBusDefaults = {
    {0x0C, 1024}, {0x10, 1024}, {0x14, 0}, {0x18, 0},  {0x1C, 0},    {0x20, 0},  {0x24, 0},
    {0x28, 0},    {0x4C, 3424}, {0x50, 2}, {0x54, 10}, {0x58, 1000}, {0x5C, 20}, {0x60, 10},
    {0x64, 1000}, {0x90, 0},    {0x94, 0}, {0x98, 0},  {0x9C, 20},   {0xA0, 20}, {0xA4, 0},
};

const Words kSerialDefaults = {
    {0x68, 0}, {0x6C, 38400}, {0x70, 0}, {0x74, 30}, {0x78, 2000},
};

Words EthernetDefaults() {
  Words w = kBusDefaults;
  w[0xA8] = kDefaultIpAddress;
  return w;
}

// Registry name -> offset, for values stored by hand.
const std::map<std::string, std::size_t> kOffsetOfName = {
    {"DualPortRamRot1", 0x0C},     {"DualPortRamRot2", 0x10},     {"DualPortRamRot3", 0x14},
    {"DualPortRamRot4", 0x18},     {"DualPortRamRot5", 0x1C},     {"DualPortRamRot6", 0x20},
    {"DualPortRamRot7", 0x24},     {"DualPortRamRot8", 0x28},     {"DualPortRamVar", 0x4C},
    {"DPRRTTimeout", 0x50},        {"DPRBackTimeout", 0x54},      {"DPRCharTimeout", 0x58},
    {"DPRFlushTimeout", 0x5C},     {"BUSFlushTimeout", 0x60},     {"BUSCharTimeout", 0x64},
    {"SerialPortNumber", 0x68},    {"SerialBaudrate", 0x6C},      {"SerialParity", 0x70},
    {"SerFlushTimeout", 0x74},     {"SerCharTimeout", 0x78},      {"DPRAutoActive", 0x90},
    {"DPRRealTimeActive", 0x94},   {"DPRBackgroundActive", 0x98}, {"DPRRealTimePeriod", 0x9C},
    {"DPRBackgroundPeriod", 0xA0}, {"EnableInterrupts", 0xA4},    {"IPAddress", 0xA8},
};

std::uint32_t WordAt(const void* base, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}

// Every word of the block: the expected ones as listed, all others untouched.
void ExpectBlock(const void* block, const Words& expected, const Words& also = {}) {
  for (std::size_t off = 0; off < kDeviceConfigBlockSize; off += 4) {
    auto it = expected.find(off);
    auto extra = also.find(off);
    const std::uint32_t want = it != expected.end()  ? it->second
                               : extra != also.end() ? extra->second
                                                     : kUntouched;
    EXPECT_EQ(WordAt(block, off), want) << "at offset 0x" << std::hex << off;
  }
}

std::unique_ptr<SharedDeviceTable> NewTable() {
  auto table = std::make_unique<SharedDeviceTable>();
  std::memset(table.get(), 0, sizeof *table);
  std::memset(table->DeviceConfigs, 0xA5, sizeof table->DeviceConfigs);
  return table;
}

DeviceConfigBlock UntouchedBlock() {
  DeviceConfigBlock block;
  std::memset(&block, 0xA5, sizeof block);
  return block;
}

RegistryKey LocationKey(const std::string& name) {
  auto key = RegistryKey::Create(kHkeyLocalMachine, std::string(kDriverRootKeyPath) + "\\" + name);
  EXPECT_TRUE(key.ok());
  return std::move(key.value());
}

class LocationSettings : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(LocationSettings, EmptyKeysGiveEachLocationItsDefaultsInTheSharedTable) {
  struct Case {
    std::uint32_t location;
    Words expected;
  };
  const Case cases[] = {
      {kLocationIsa, kBusDefaults},
      {kLocationSerial, kSerialDefaults},
      {kLocationEthernet, EthernetDefaults()},
      {kLocationPci, kBusDefaults},
      {kLocationUsb, kBusDefaults},
  };
  auto table = NewTable();
  int device = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    table->Devices[device].Location = c.location;
    table->Devices[device].Enumeration = 1;
    LoadDeviceSettings(device, table->DeviceConfigs[device], table.get());

    const unsigned char* raw = reinterpret_cast<const unsigned char*>(table.get()) +
                               kDeviceConfigBlocksOffset + device * 0x618;
    // The Location is copied to offset 4 when the table is mapped.
    ExpectBlock(raw, c.expected, {{0x04, c.location}});
    EXPECT_TRUE(LocationKeyExists(c.location, 1)) << "reading creates the key";
    ++device;
  }
}

TEST_F(LocationSettings, StoredValuesLandAtTheirOwnOffsets) {
  RegistryKey eth = LocationKey("ZimoETH0");
  RegistryKey ser = LocationKey("ZimoSER4");
  Words eth_expected, ser_expected;
  std::uint32_t n = 1000;
  for (const auto& [name, offset] : kOffsetOfName) {
    ++n;
    ASSERT_TRUE(eth.SetDword(name, n).ok());
    ASSERT_TRUE(ser.SetDword(name, n).ok());
    const bool serial_value = offset >= 0x68 && offset <= 0x78;
    (serial_value ? ser_expected : eth_expected)[offset] = n;
  }

  DeviceConfigBlock block = UntouchedBlock();
  ReadLocationSettings(kLocationEthernet, 0, block);
  ExpectBlock(&block, eth_expected);

  block = UntouchedBlock();
  ReadLocationSettings(kLocationSerial, 4, block);
  ExpectBlock(&block, ser_expected);
}

TEST_F(LocationSettings, ValuesOfAnotherTypeFallBackToTheirDefault) {
  RegistryKey key = LocationKey("ZimoETH1");
  ASSERT_TRUE(key.SetString("IPAddress", "10.0.0.5").ok());
  ASSERT_TRUE(key.SetBinary("DPRRTTimeout", {7, 0, 0, 0}).ok());
  DeviceConfigBlock block = UntouchedBlock();
  ReadLocationSettings(kLocationEthernet, 1, block);
  EXPECT_EQ(WordAt(&block, 0xA8), kDefaultIpAddress);
  EXPECT_EQ(WordAt(&block, 0x50), 2u);
}

TEST_F(LocationSettings, LocationsAndEnumerationsWithoutKeysReadAndWriteNothing) {
  const std::pair<std::uint32_t, std::uint32_t> no_key[] = {
      {kLocationUnknown, 0}, {kLocationInvalid, 0}, {kLocationPci, 8}, {kLocationSerial, 9}};
  for (auto [location, enumeration] : no_key) {
    SCOPED_TRACE(::testing::Message() << location << "/" << enumeration);
    DeviceConfigBlock block = UntouchedBlock();
    ReadLocationSettings(location, enumeration, block);
    ExpectBlock(&block, {});
    EXPECT_EQ(WriteLocationSettings(location, enumeration, block), 1);
  }
  EXPECT_FALSE(RegistryKey::Exists(kHkeyLocalMachine, kDriverRootKeyPath));
}

TEST_F(LocationSettings, SerialWriteTouchesOnlyTheFiveSerialValues) {
  RegistryKey key = LocationKey("ZimoSER2");
  ASSERT_TRUE(key.SetDword("IPAddress", 0x0A000001).ok());
  ASSERT_TRUE(key.SetDword("DPRRTTimeout", 7).ok());

  DeviceConfigBlock block = UntouchedBlock();
  block.SerialPortNumber = 1;
  block.SerialBaudrate = 115200;
  block.SerialParity = 2;
  block.SerFlushTimeout = 40;
  block.SerCharTimeout = 2500;
  ASSERT_EQ(WriteLocationSettings(kLocationSerial, 2, block), 1);

  const std::map<std::string, std::uint32_t> want = {
      {"IPAddress", 0x0A000001},  {"DPRRTTimeout", 7}, {"SerialPortNumber", 1},
      {"SerialBaudrate", 115200}, {"SerialParity", 2}, {"SerFlushTimeout", 40},
      {"SerCharTimeout", 2500}};
  std::map<std::string, std::uint32_t> have;
  const std::vector<platform::RegValue> values = key.Values().value();
  for (const platform::RegValue& v : values) have[v.name] = key.GetDword(v.name).value();
  EXPECT_EQ(have, want);
}

TEST_F(LocationSettings, WriteThenReadGivesBackEveryFieldOfTheLocation) {
  for (std::uint32_t location :
       {kLocationIsa, kLocationSerial, kLocationEthernet, kLocationPci, kLocationUsb}) {
    SCOPED_TRACE(location);
    DeviceConfigBlock written = UntouchedBlock();
    Words expected;
    std::uint32_t n = 7;
    for (const LocationSetting& s : SettingsOfLocation(location)) {
      n += 3;
      std::memcpy(reinterpret_cast<unsigned char*>(&written) + s.offset, &n, sizeof n);
      expected[s.offset] = n;
    }
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(WriteLocationSettings(location, 3, written), 1);
    DeviceConfigBlock read = UntouchedBlock();
    ReadLocationSettings(location, 3, read);
    ExpectBlock(&read, expected);
  }
  // The periods and flags are kept under the names other readers use.
  auto usb = RegistryKey::Open(kHkeyLocalMachine, std::string(kDriverRootKeyPath) + "\\ZimoUSB3");
  ASSERT_TRUE(usb.ok());
  for (const char* name :
       {"DPRRealTimePeriod", "DPRBackgroundPeriod", "DPRRealTimeActive", "DPRBackgroundActive"}) {
    EXPECT_TRUE(usb->GetDword(name).ok()) << name;
  }
}

TEST_F(LocationSettings, DeviceSettingsFollowTheDeviceRegistration) {
  // Without a mapped table the device key decides; unregistered reads nothing.
  DeviceConfigBlock block = UntouchedBlock();
  LoadDeviceSettings(1, block, nullptr);
  ExpectBlock(&block, {});

  ASSERT_EQ(RegisterDevice(1, kLocationSerial, 5, nullptr), 1);
  block.SerialBaudrate = 9600;
  ASSERT_EQ(WriteDeviceSettings(1, block), 1);
  EXPECT_EQ(LocationKey("ZimoSER5").GetDword("SerialBaudrate").value(), 9600u);

  DeviceConfigBlock loaded = UntouchedBlock();
  LoadDeviceSettings(1, loaded, nullptr);
  EXPECT_EQ(loaded.SerialBaudrate, 9600u);
  EXPECT_EQ(loaded.Location, kUntouched);  // stored only from a mapped table
}

TEST_F(LocationSettings, DeviceNumbersOutsideTheRangeChangeNothing) {
  auto table = NewTable();
  for (int device : {-1, 8, 9}) {
    DeviceConfigBlock block = UntouchedBlock();
    LoadDeviceSettings(device, block, table.get());
    ExpectBlock(&block, {});
    EXPECT_EQ(WriteDeviceSettings(device, block), 0);
  }
  EXPECT_FALSE(RegistryKey::Exists(kHkeyLocalMachine, kDriverRootKeyPath));
}

TEST_F(LocationSettings, UnwritableRegistryFailsTheWriteAndReadsDefaults) {
  { std::ofstream(platform::RegistryFile()) << "this is no registry file\n"; }
  DeviceConfigBlock block = UntouchedBlock();
  EXPECT_EQ(WriteLocationSettings(kLocationPci, 0, block), 0);
  ReadLocationSettings(kLocationPci, 0, block);
  ExpectBlock(&block, kBusDefaults);
}

}  // namespace
}  // namespace zimo::corvan
