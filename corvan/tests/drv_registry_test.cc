#include "link/drv_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvan/registry_api.h"
#include "link/device_registry.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

using platform::kHkeyLocalMachine;
using platform::RegistryKey;
namespace win32 = platform::win32;

const std::string kRoot = kDriverRootKeyPath;

RegistryKey MakeKey(const std::string& relative) {
  auto key = RegistryKey::Create(kHkeyLocalMachine, kRoot + "\\" + relative);
  EXPECT_TRUE(key.ok());
  return std::move(key.value());
}

bool KeyExists(const std::string& relative) {
  return RegistryKey::Exists(kHkeyLocalMachine, kRoot + "\\" + relative);
}

class DrvRegistry : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(DrvRegistry, NumberOfDevicesCountsConsecutiveKeysOnly) {
  struct Case {
    std::vector<int> keys;
    int count;
  };
  const Case cases[] = {
      {{}, 0}, {{1, 2}, 0}, {{0}, 1}, {{0, 1, 3}, 2}, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 8},
  };
  for (const Case& c : cases) {
    testing::TempHome home;
    for (int d : c.keys) MakeKey("Device" + std::to_string(d));
    EXPECT_EQ(DrvNumberOfDevices(), c.count) << ::testing::PrintToString(c.keys);
    // Counting only opens keys.
    EXPECT_EQ(DrvNumberOfDevices(), c.count);
  }
}

TEST_F(DrvRegistry, RemovedDevicesStillCount) {
  ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(1, kLocationUsb, 0, nullptr), 1);
  ASSERT_EQ(UnregisterDevice(0, nullptr), 1);
  EXPECT_EQ(DrvNumberOfDevices(), 2);
}

TEST_F(DrvRegistry, DeviceDwordQueryTakesOnlyDwords) {
  RegistryKey key = MakeKey("Device0");
  ASSERT_TRUE(key.SetDword("Location", 4).ok());
  ASSERT_TRUE(key.SetString("Text", "4").ok());
  ASSERT_TRUE(key.SetString("LongText", "a text far longer than four bytes").ok());
  ASSERT_TRUE(key.SetBinary("Binary", {4, 0, 0, 0}).ok());

  struct Case {
    const char* name;
    std::int32_t result;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"Location", win32::kErrorSuccess, 4},       {"Text", win32::kErrorFileNotFound, 77},
      {"LongText", win32::kErrorFileNotFound, 77}, {"Binary", win32::kErrorFileNotFound, 77},
      {"Missing", win32::kErrorFileNotFound, 77},
  };
  for (const Case& c : cases) {
    std::uint32_t value = 0;
    EXPECT_EQ(DrvQueryDeviceDword(0, c.name, &value, 77), c.result) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST_F(DrvRegistry, QueryOfDeviceWithoutKeyCreatesItAndGivesDefault) {
  std::uint32_t value = 0;
  EXPECT_EQ(DrvQueryDeviceDword(5, "Location", &value, 3), win32::kErrorFileNotFound);
  EXPECT_EQ(value, 3u);
  EXPECT_TRUE(KeyExists("Device5"));
}

TEST_F(DrvRegistry, DeviceStringQueryFitsTheCallersBuffer) {
  ASSERT_EQ(DrvSetDeviceString(1, "Language", "German"), win32::kErrorSuccess);
  RegistryKey key = MakeKey("Device1");
  ASSERT_TRUE(key.SetDword("Number", 5).ok());
  ASSERT_TRUE(key.SetExpandString("Path", "%SystemRoot%").ok());

  struct Case {
    const char* name;
    std::uint32_t size;
    std::int32_t result;
    const char* text;
  };
  const Case cases[] = {
      {"Language", 32, win32::kErrorSuccess, "German"},
      {"Language", 7, win32::kErrorSuccess, "German"},   // exactly fits
      {"Language", 6, win32::kErrorMoreData, "Engli"},   // too long: the default, cut
      {"Missing", 4, win32::kErrorFileNotFound, "Eng"},  // "English" into 4 bytes
      {"Number", 32, win32::kErrorFileNotFound, "English"},
      {"Path", 32, win32::kErrorSuccess, "%SystemRoot%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << " in " << c.size);
    char buffer[40];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(DrvQueryDeviceString(1, c.name, buffer, c.size, "English"), c.result);
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(buffer[c.size], 'z') << "written past the buffer";
  }
  char buffer[4] = "abc";
  EXPECT_EQ(DrvQueryDeviceString(1, "Language", buffer, 0, "English"),
            win32::kErrorInvalidParameter);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(DrvQueryDeviceString(1, "Language", nullptr, 10, "English"),
            win32::kErrorInvalidParameter);
}

TEST_F(DrvRegistry, DeviceNumbersOutsideTheRangeAreRefusedWithoutKeys) {
  for (std::uint32_t device : {8u, 9u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(device);
    std::uint32_t value = 0;
    char text[16] = "";
    EXPECT_EQ(DrvQueryDeviceDword(device, "Location", &value, 6), win32::kErrorFileNotFound);
    EXPECT_EQ(value, 6u);
    EXPECT_EQ(DrvQueryDeviceString(device, "Language", text, sizeof text, "English"),
              win32::kErrorFileNotFound);
    EXPECT_STREQ(text, "English");
    EXPECT_EQ(DrvSetDeviceDword(device, "Location", 4), win32::kErrorFileNotFound);
    EXPECT_EQ(DrvSetDeviceString(device, "Language", "x"), win32::kErrorFileNotFound);
    EXPECT_EQ(DrvOpenDeviceKey(device), 0u);
    EXPECT_EQ(DrvOpenNcKey(device, 0, "Axis"), 0u);
    EXPECT_EQ(DrvSetNcDword(device, 0, nullptr, "X", 1), win32::kErrorFileNotFound);
  }
  EXPECT_FALSE(RegistryKey::Exists(kHkeyLocalMachine, kRoot));
}

TEST_F(DrvRegistry, OpenedKeysAreCreatedWithTheLibraryClass) {
  const platform::HKey sub = DrvOpenRegKey(12345, "Extra\\Deep");
  ASSERT_NE(sub, 0u);
  EXPECT_EQ(platform::RegCloseKey(sub), win32::kErrorSuccess);
  EXPECT_EQ(RegistryKey::Open(kHkeyLocalMachine, kRoot + "\\Extra\\Deep")->ClassText().value(),
            kLibraryKeyClass);

  const platform::HKey root = DrvOpenRegKey(0, nullptr);
  ASSERT_NE(root, 0u);
  std::uint32_t value = 9;
  ASSERT_EQ(platform::RegSetValueExA(root, "UserApp1Name", 0, platform::kRegSz,
                                     reinterpret_cast<const std::uint8_t*>("Tool"), 5),
            win32::kErrorSuccess);
  platform::RegCloseKey(root);
  EXPECT_EQ(RegistryKey::Open(kHkeyLocalMachine, kRoot)->GetString("UserApp1Name").value(), "Tool");

  const platform::HKey device = DrvOpenDeviceKey(3);
  ASSERT_NE(device, 0u);
  platform::RegCloseKey(device);
  EXPECT_EQ(DrvQueryDeviceDword(3, "Location", &value, 0), win32::kErrorFileNotFound);
  EXPECT_TRUE(KeyExists("Device3"));
}

TEST_F(DrvRegistry, NcKeysSitBelowTheDeviceWithOptionalSection) {
  ASSERT_EQ(DrvSetNcDword(2, 1, nullptr, "Count", 5), win32::kErrorSuccess);
  ASSERT_EQ(DrvSetNcDword(2, 1, "", "Empty", 6), win32::kErrorSuccess);
  ASSERT_EQ(DrvSetNcString(2, 1, "Spindle", "Name", "S1"), win32::kErrorSuccess);
  EXPECT_EQ(MakeKey("Device2\\Nc1").GetDword("Count").value(), 5u);
  EXPECT_EQ(MakeKey("Device2\\Nc1").GetDword("Empty").value(), 6u);
  EXPECT_EQ(MakeKey("Device2\\Nc1\\Spindle").GetString("Name").value(), "S1");

  std::uint32_t value = 0;
  EXPECT_EQ(DrvQueryNcDword(2, 1, nullptr, "Count", &value, 0), win32::kErrorSuccess);
  EXPECT_EQ(value, 5u);
  char text[8];
  EXPECT_EQ(DrvQueryNcString(2, 1, "Spindle", "Name", text, sizeof text, ""), win32::kErrorSuccess);
  EXPECT_STREQ(text, "S1");
  EXPECT_EQ(DrvQueryNcString(2, 1, "Spindle", "Missing", text, sizeof text, "dflt"),
            win32::kErrorFileNotFound);
  EXPECT_STREQ(text, "dflt");
  // The NC dword query takes REG_DWORD only.
  EXPECT_EQ(DrvQueryNcDword(2, 1, "Spindle", "Name", &value, 11), win32::kErrorFileNotFound);
  EXPECT_EQ(value, 11u);
}

TEST_F(DrvRegistry, NcDoublesAreStoredAsTextAndConvertedBack) {
  ASSERT_EQ(DrvSetNcDouble(0, 0, "Axis", "Scale", 0.125), win32::kErrorSuccess);
  EXPECT_EQ(MakeKey("Device0\\Nc0\\Axis").GetString("Scale").value(), "0.125000");
  ASSERT_EQ(DrvSetNcString(0, 0, "Axis", "Junk", "abc"), win32::kErrorSuccess);
  ASSERT_EQ(DrvSetNcDouble(0, 0, "Axis", "Huge", 1e300), win32::kErrorSuccess);

  struct Case {
    const char* name;
    std::int32_t result;
    double value;
  };
  const Case cases[] = {
      {"Scale", win32::kErrorSuccess, 0.125},
      {"Junk", win32::kErrorSuccess, 0.0},
      {"Huge", win32::kErrorSuccess, 1e300},
      {"Missing", win32::kErrorFileNotFound, -2.5},
  };
  for (const Case& c : cases) {
    double value = 99.0;
    EXPECT_EQ(DrvQueryNcDouble(0, 0, "Axis", c.name, &value, -2.5), c.result) << c.name;
    EXPECT_DOUBLE_EQ(value, c.value) << c.name;
  }
  // A default too long to show as 43 characters is still given back whole.
  double value = 0;
  EXPECT_EQ(DrvQueryNcDouble(0, 0, "Axis", "Missing", &value, -1e200), win32::kErrorFileNotFound);
  EXPECT_EQ(value, -1e200);
}

TEST_F(DrvRegistry, NcBoolsAreZeroOrOne) {
  ASSERT_EQ(DrvSetNcBool(1, 0, nullptr, "On", 9), win32::kErrorSuccess);
  EXPECT_EQ(MakeKey("Device1\\Nc0").GetDword("On").value(), 1u);
  ASSERT_EQ(DrvSetNcBool(1, 0, nullptr, "Off", 0), win32::kErrorSuccess);
  ASSERT_EQ(DrvSetNcDword(1, 0, nullptr, "Five", 5), win32::kErrorSuccess);

  struct Case {
    const char* name;
    std::int32_t result;
    std::int32_t flag;
  };
  const Case cases[] = {
      {"On", win32::kErrorSuccess, 1},
      {"Off", win32::kErrorSuccess, 0},
      {"Five", win32::kErrorSuccess, 1},
      {"Missing", win32::kErrorFileNotFound, 7},  // the default as given
  };
  for (const Case& c : cases) {
    std::int32_t flag = -1;
    EXPECT_EQ(DrvQueryNcBool(1, 0, nullptr, c.name, &flag, 7), c.result) << c.name;
    EXPECT_EQ(flag, c.flag) << c.name;
  }
}

TEST_F(DrvRegistry, MapperNameNeedsItsKeyToExist) {
  const std::string mapper = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Motionmap";
  EXPECT_EQ(DrvSetMapperName("ZimoMap"), win32::kErrorFileNotFound);
  EXPECT_FALSE(RegistryKey::Exists(kHkeyLocalMachine, mapper));

  ASSERT_TRUE(RegistryKey::Create(kHkeyLocalMachine, mapper).ok());
  EXPECT_EQ(DrvSetMapperName("ZimoMap"), win32::kErrorSuccess);
  EXPECT_EQ(RegistryKey::Open(kHkeyLocalMachine, mapper)->GetString("Mapping Name").value(),
            "ZimoMap");
}

TEST_F(DrvRegistry, NcValueNamesListOneKeyAndRestartOnASection) {
  RegistryKey axis = MakeKey("Device0\\Nc2\\Axis");
  ASSERT_TRUE(axis.SetDword("First", 1).ok());
  ASSERT_TRUE(axis.SetDword(std::string(128, 'L'), 1).ok());  // too long to hand out
  ASSERT_TRUE(axis.SetString("Second", "x").ok());
  ASSERT_TRUE(MakeKey("Device0\\Nc2\\Tool").SetDword("Only", 1).ok());

  NcValueNames names;
  std::string name;
  std::vector<std::string> listed;
  for (int more = names.Next(0, 2, "Axis", &name); more; more = names.Next(0, 2, nullptr, &name)) {
    listed.push_back(name);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(names.Next(0, 2, nullptr, &name), 0);

  ASSERT_EQ(names.Next(0, 2, "Axis", &name), 1);
  EXPECT_EQ(name, "First");
  ASSERT_EQ(names.Next(0, 2, "Tool", &name), 1);  // a section starts over
  EXPECT_EQ(name, "Only");
  names.Close();
  EXPECT_EQ(names.Next(0, 2, nullptr, &name), 0);
  EXPECT_EQ(names.Next(0, 2, "NoSuchSection", &name), 0);
  EXPECT_FALSE(KeyExists("Device0\\Nc2\\NoSuchSection"));
}

}  // namespace
}  // namespace zimo::corvan
