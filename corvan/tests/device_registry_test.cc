#include "link/device_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

using platform::kHkeyLocalMachine;
using platform::RegistryKey;

const std::string kRoot = kDriverRootKeyPath;

bool KeyExists(const std::string& relative) {
  return RegistryKey::Exists(kHkeyLocalMachine, kRoot + "\\" + relative);
}

RegistryKey MakeKey(const std::string& relative) {
  auto key = RegistryKey::Create(kHkeyLocalMachine, kRoot + "\\" + relative);
  EXPECT_TRUE(key.ok()) << key.status().ToString();
  return std::move(key.value());
}

std::vector<std::string> RootSubkeys() {
  auto root = RegistryKey::Open(kHkeyLocalMachine, kRoot);
  if (!root.ok()) return {};
  return root->SubkeyNames().value();
}

class DeviceRegistry : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(DeviceRegistry, EmptyRegistryHasNoDevicesAndLookupsCreateNothing) {
  EXPECT_EQ(CountDeviceKeys(), 0);
  int device = 5;
  EXPECT_EQ(FindDeviceByLocation(kLocationPci, 0, &device), 0);
  EXPECT_EQ(device, 0);
  EXPECT_EQ(DeviceKeyExists(0), 0);
  EXPECT_EQ(LocationKeyExists(kLocationPci, 0), 0);
  EXPECT_EQ(DeleteDeviceKey(0), 0);
  EXPECT_TRUE(RootSubkeys().empty());
}

TEST_F(DeviceRegistry, ReadingAMissingDeviceValueCreatesTheEmptyKey) {
  std::uint32_t location = 77;
  EXPECT_EQ(GetDeviceRegDword(3, kLocationValue, &location, 0), 0);
  EXPECT_EQ(location, 0u);

  auto key = RegistryKey::Open(kHkeyLocalMachine, kRoot + "\\Device3");
  ASSERT_TRUE(key.ok());
  EXPECT_TRUE(key->Values()->empty());
  EXPECT_EQ(key->ClassText().value(), kLibraryKeyClass);
  // Device0 to Device2 are still missing, so no device counts yet.
  EXPECT_EQ(CountDeviceKeys(), 0);
}

TEST_F(DeviceRegistry, ServerBuildCreatesKeysWithItsOwnClass) {
  SetCreatedKeyClass(kServerKeyClass);
  EXPECT_EQ(SetLocationRegDword(kLocationUsb, 1, "DPRMonitorPeriod", 20), 1);
  SetCreatedKeyClass(kLibraryKeyClass);
  auto key = RegistryKey::Open(kHkeyLocalMachine, kRoot + "\\ZimoUSB1");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(key->ClassText().value(), kServerKeyClass);
}

// Each stored value, read as a DWORD and as a text.
struct TypedValue {
  const char* what;
  std::function<void(RegistryKey&)> store;
  int dword_result;
  std::uint32_t dword;
  int text_result;
  std::string text;
};

TEST_F(DeviceRegistry, ReadersTakeOnlyTheirOwnTypes) {
  const std::vector<TypedValue> cases = {
      {"dword", [](RegistryKey& k) { ASSERT_TRUE(k.SetDword("V", 4).ok()); }, 1, 4, 0, "dflt"},
      {"text", [](RegistryKey& k) { ASSERT_TRUE(k.SetString("V", "4").ok()); }, 0, 99, 1, "4"},
      {"expandable text",
       [](RegistryKey& k) { ASSERT_TRUE(k.SetExpandString("V", "%SystemRoot%\\x").ok()); }, 0, 99,
       1, "%SystemRoot%\\x"},
      {"binary of 4 bytes",
       [](RegistryKey& k) {
         ASSERT_TRUE(k.SetBinary("V", {4, 0, 0, 0}).ok());
       },
       0, 99, 0, "dflt"},
      {"text of 254 characters",
       [](RegistryKey& k) { ASSERT_TRUE(k.SetString("V", std::string(254, 'a')).ok()); }, 0, 99, 1,
       std::string(254, 'a')},
      {"text of 255 characters",
       [](RegistryKey& k) { ASSERT_TRUE(k.SetString("V", std::string(255, 'a')).ok()); }, 0, 99, 0,
       "dflt"},
      {"Windows-1252 text",
       [](RegistryKey& k) { ASSERT_TRUE(k.SetString("V", "caf\xc3\xa9").ok()); }, 0, 99, 1,
       "caf\xe9"},
  };
  for (const TypedValue& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryKey device = MakeKey("Device1");
    RegistryKey location = MakeKey("ZimoETH2");
    c.store(device);
    c.store(location);

    std::uint32_t dword = 0;
    std::string text;
    EXPECT_EQ(GetDeviceRegDword(1, "V", &dword, 99), c.dword_result);
    EXPECT_EQ(dword, c.dword);
    EXPECT_EQ(GetDeviceRegString(1, "V", &text, "dflt"), c.text_result);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(GetLocationRegDword(kLocationEthernet, 2, "V", &dword, 99), c.dword_result);
    EXPECT_EQ(dword, c.dword);
    EXPECT_EQ(GetLocationRegString(kLocationEthernet, 2, "V", &text, "dflt"), c.text_result);
    EXPECT_EQ(text, c.text);
  }
}

TEST_F(DeviceRegistry, LocationStoredAsTextCountsAsNotConfigured) {
  ASSERT_TRUE(MakeKey("Device0").SetString(kLocationValue, "4").ok());
  std::uint32_t location = 9;
  EXPECT_EQ(GetDeviceRegDword(0, kLocationValue, &location, 0), 0);
  EXPECT_EQ(location, 0u);
}

TEST_F(DeviceRegistry, WritersRoundTripThroughEveryKeyKind) {
  std::string text;
  std::uint32_t dword = 0;
  EXPECT_EQ(SetRootRegString("UserApp1Name", "Tuner \xe9"), 1);
  EXPECT_EQ(GetRootRegString("UserApp1Name", &text, ""), 1);
  EXPECT_EQ(text, "Tuner \xe9");
  EXPECT_EQ(GetRootRegString("UserApp2Name", &text, nullptr), 0);
  EXPECT_EQ(text, "");

  EXPECT_EQ(SetDeviceRegString(7, kLanguageValue, "German"), 1);
  EXPECT_EQ(GetDeviceRegString(7, kLanguageValue, &text, "English"), 1);
  EXPECT_EQ(text, "German");
  EXPECT_EQ(SetDeviceRegDword(7, "DPRNumCoordSys", 2), 1);
  EXPECT_EQ(GetDeviceRegDword(7, "DPRNumCoordSys", &dword, 1), 1);
  EXPECT_EQ(dword, 2u);

  EXPECT_EQ(SetLocationRegString(kLocationIsa, 0, "Note", "x"), 1);
  EXPECT_EQ(SetLocationRegDword(kLocationIsa, 0, "Port", 0x210), 1);
  EXPECT_EQ(GetLocationRegDword(kLocationIsa, 0, "Port", &dword, 0), 1);
  EXPECT_EQ(dword, 0x210u);
  EXPECT_TRUE(KeyExists("ZimoISA0"));
  EXPECT_TRUE(KeyExists("Device7"));
}

TEST_F(DeviceRegistry, NumbersThatNameNoKeyAreRefusedAndCreateNothing) {
  std::uint32_t dword = 0;
  std::string text;
  for (int device : {-1, 8, 100}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(GetDeviceRegDword(device, kLocationValue, &dword, 42), 0);
    EXPECT_EQ(dword, 42u);
    EXPECT_EQ(GetDeviceRegString(device, kLanguageValue, &text, "English"), 0);
    EXPECT_EQ(text, "English");
    EXPECT_EQ(SetDeviceRegDword(device, kLocationValue, 4), 0);
    EXPECT_EQ(SetDeviceRegString(device, kLanguageValue, "x"), 0);
    EXPECT_EQ(GetDeviceLocationDword(device, "DPRRTTimeout", &dword, 2), 0);
    EXPECT_EQ(dword, 2u);
    EXPECT_EQ(SetDeviceLocationDword(device, "DPRRTTimeout", 5), 0);
    EXPECT_EQ(RegisterDevice(device, kLocationPci, 0, nullptr), 0);
    EXPECT_EQ(UnregisterDevice(device, nullptr), 0);
    EXPECT_EQ(DeviceKeyExists(device), 0);
    EXPECT_EQ(DeleteDeviceKey(device), 0);
  }
  // Location 0 "Unknown", 6 "Invalid" and anything above have no settings;
  // neither has an Enumeration outside 0 to 7.
  const std::pair<std::uint32_t, std::uint32_t> no_key[] = {{kLocationUnknown, 0},
                                                            {kLocationInvalid, 0},
                                                            {7, 1},
                                                            {kLocationPci, 8},
                                                            {kLocationSerial, kNoEnumeration}};
  for (auto [location, enumeration] : no_key) {
    SCOPED_TRACE(::testing::Message() << location << "/" << enumeration);
    EXPECT_EQ(GetLocationRegDword(location, enumeration, "DPRRTTimeout", &dword, 2), 0);
    EXPECT_EQ(dword, 2u);
    EXPECT_EQ(GetLocationRegString(location, enumeration, "X", &text, "d"), 0);
    EXPECT_EQ(text, "d");
    EXPECT_EQ(SetLocationRegDword(location, enumeration, "DPRRTTimeout", 5), 0);
    EXPECT_EQ(SetLocationRegString(location, enumeration, "X", "y"), 0);
    EXPECT_EQ(LocationKeyExists(location, enumeration), 0);
  }
  EXPECT_TRUE(RootSubkeys().empty());
}

TEST_F(DeviceRegistry, KeyNamesFollowLocationShortNames) {
  EXPECT_EQ(LocationKeyName(kLocationIsa, 0), "ZimoISA0");
  EXPECT_EQ(LocationKeyName(kLocationSerial, 2), "ZimoSER2");
  EXPECT_EQ(LocationKeyName(kLocationEthernet, 0), "ZimoETH0");
  EXPECT_EQ(LocationKeyName(kLocationPci, 7), "ZimoPCI7");
  EXPECT_EQ(LocationKeyName(kLocationUsb, 1), "ZimoUSB1");
  EXPECT_EQ(LocationKeyName(kLocationInvalid, 1), "");
  EXPECT_EQ(DeviceKeyName(0), "Device0");
  EXPECT_EQ(DeviceKeyName(8), "");
  EXPECT_STREQ(LocationShortName(0), "Unknown");
  EXPECT_STREQ(LocationShortName(6), "Invalid");
  EXPECT_STREQ(LocationShortName(1000), "Invalid");
}

TEST_F(DeviceRegistry, DeviceLocationValuesUseTheRegisteredLocationKey) {
  std::uint32_t value = 0;
  // Not registered: Location 0 reaches no per-location key.
  EXPECT_EQ(GetDeviceLocationDword(2, "DPRRTTimeout", &value, 2), 0);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(SetDeviceLocationDword(2, "DPRRTTimeout", 5), 0);
  EXPECT_EQ(RootSubkeys(), std::vector<std::string>{"Device2"});

  ASSERT_EQ(RegisterDevice(2, kLocationPci, 1, nullptr), 1);
  EXPECT_EQ(SetDeviceLocationDword(2, "DPRRTTimeout", 5), 1);
  EXPECT_EQ(GetLocationRegDword(kLocationPci, 1, "DPRRTTimeout", &value, 2), 1);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(GetDeviceLocationDword(2, "DPRRTTimeout", &value, 2), 1);
  EXPECT_EQ(value, 5u);
}

TEST_F(DeviceRegistry, LookupFindsLowestMatchingDeviceAndSkipsRemovedOnes) {
  ASSERT_EQ(RegisterDevice(1, kLocationUsb, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(4, kLocationPci, 1, nullptr), 1);
  ASSERT_EQ(RegisterDevice(6, kLocationPci, 1, nullptr), 1);
  int device = -1;
  EXPECT_EQ(FindDeviceByLocation(kLocationPci, 1, &device), 1);
  EXPECT_EQ(device, 4);
  EXPECT_EQ(FindDeviceByLocation(kLocationUsb, 0, &device), 1);
  EXPECT_EQ(device, 1);

  ASSERT_EQ(UnregisterDevice(4, nullptr), 1);
  EXPECT_EQ(FindDeviceByLocation(kLocationPci, 1, &device), 1);
  EXPECT_EQ(device, 6);
  // A removed device (Location 0, Enumeration -1) answers no lookup.
  EXPECT_EQ(FindDeviceByLocation(kLocationUnknown, kNoEnumeration, &device), 0);
  EXPECT_EQ(device, 0);
  EXPECT_EQ(FindDeviceByLocation(kLocationPci, 0, &device), 0);
  // Lookups only read existing keys.
  EXPECT_FALSE(KeyExists("Device0"));
}

TEST_F(DeviceRegistry, RegisterAndUnregisterKeepRegistryAndSharedBlockInStep) {
  auto table = std::make_unique<SharedDeviceTable>();
  ASSERT_EQ(RegisterDevice(0, kLocationSerial, 3, table.get()), 1);
  ASSERT_EQ(RegisterDevice(1, kLocationPci, 0, table.get()), 1);
  EXPECT_EQ(table->Devices[0].Location, kLocationSerial);
  EXPECT_EQ(table->Devices[0].Enumeration, 3u);
  EXPECT_EQ(CountDeviceKeys(), 2);

  ASSERT_EQ(UnregisterDevice(0, table.get()), 1);
  EXPECT_EQ(table->Devices[0].Location, kLocationUnknown);
  EXPECT_EQ(table->Devices[0].Enumeration, kNoEnumeration);
  std::uint32_t value = 0;
  EXPECT_EQ(GetDeviceRegDword(0, kLocationValue, &value, 9), 1);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(GetDeviceRegDword(0, kEnumerationValue, &value, 9), 1);
  EXPECT_EQ(value, kNoEnumeration);
  // The removed device keeps its key, so device 1 still counts.
  EXPECT_EQ(CountDeviceKeys(), 2);

  // Unregistering a device without key only clears the shared block.
  table->Devices[5].Location = kLocationUsb;
  EXPECT_EQ(UnregisterDevice(5, table.get()), 1);
  EXPECT_EQ(table->Devices[5].Location, kLocationUnknown);
  EXPECT_FALSE(KeyExists("Device5"));
}

TEST_F(DeviceRegistry, RegisterRefusesLocationsAndEnumerationsWithoutKeys) {
  auto table = std::make_unique<SharedDeviceTable>();
  table->Devices[2].Location = kLocationUsb;
  table->Devices[2].Enumeration = 1;
  for (auto [location, enumeration] :
       {std::pair{kLocationUnknown, 0u}, {kLocationInvalid, 0u}, {kLocationPci, 8u}}) {
    EXPECT_EQ(RegisterDevice(2, location, enumeration, table.get()), 0);
  }
  EXPECT_EQ(table->Devices[2].Location, kLocationUsb);
  EXPECT_EQ(table->Devices[2].Enumeration, 1u);
  EXPECT_FALSE(KeyExists("Device2"));
}

TEST_F(DeviceRegistry, DeleteRemovesTheDeviceWithItsNcKeysOnly) {
  ASSERT_TRUE(MakeKey("Device3\\Nc0\\Axis").SetDword("X", 1).ok());
  MakeKey("Device4");
  EXPECT_EQ(DeleteDeviceKey(3), 1);
  EXPECT_FALSE(KeyExists("Device3"));
  EXPECT_TRUE(KeyExists("Device4"));
  EXPECT_EQ(DeleteDeviceKey(3), 0);
}

}  // namespace
}  // namespace zimo::corvan
