// The NC settings store on the registry, and the G-code group table and
// M-code attributes loaded from it.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "nc/language/group_table.h"
#include "nc/translator/block_reader.h"
#include "nc/translator/group_loader.h"
#include "nc/translator/settings_store.h"
#include "nc_fakes.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::nc {
namespace {

class NcSettingsTest : public ::testing::Test {
 protected:
  NcSettingsTest() : settings_(2, 1, "C:\\ZIMO\\ZIMOSERVER.EXE") {}

  // Stores a raw value below the controller's key.
  void Store(const std::string& section, const std::string& name, uint32_t type,
             const std::string& bytes) {
    auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                             settings_.KeyPath(section));
    ASSERT_TRUE(key.ok());
    platform::RegValue v;
    ASSERT_TRUE(key->SetValue(name, type, std::vector<uint8_t>(bytes.begin(), bytes.end())).ok());
  }
  std::string StoredText(const std::string& section, const std::string& name) {
    auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine, settings_.KeyPath(section));
    if (!key.ok()) return "<no key>";
    auto text = key->GetString(name);
    return text.ok() ? *text : "<none>";
  }

  zimo::testing::TempHome home_;
  NcSettings settings_;
};

TEST_F(NcSettingsTest, KeyOfTheController) {
  EXPECT_EQ(settings_.KeyPath(""), "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device2\\Nc1");
  EXPECT_EQ(settings_.KeyPath("Code\\Group7"),
            "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device2\\Nc1\\Code\\Group7");
  uint32_t v = 0;
  EXPECT_EQ(settings_.GetLong("System", "numOfTools", &v, 100), 2);
  EXPECT_EQ(v, 100u);
  // Reading made the key, with its class.
  auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine, settings_.KeyPath("System"));
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(*key->ClassText(), "Motion Drivers");
  auto parent = platform::RegistryKey::Open(platform::kHkeyLocalMachine, settings_.KeyPath(""));
  ASSERT_TRUE(parent.ok());
  EXPECT_EQ(*parent->ClassText(), "Motion Drivers");
}

TEST_F(NcSettingsTest, ValuesOfTheWrongKindReadAsTheirDefaults) {
  ASSERT_EQ(settings_.SetText("System", "numOfTools", "12"), 0);
  uint32_t v = 0;
  EXPECT_EQ(settings_.GetLong("System", "numOfTools", &v, 30), 2);
  EXPECT_EQ(v, 30u);
  ASSERT_EQ(settings_.SetLong("System", "numOfTools", 12), 0);
  EXPECT_EQ(settings_.GetLong("System", "numOfTools", &v, 30), 0);
  EXPECT_EQ(v, 12u);
  bool b = false;
  EXPECT_EQ(settings_.GetBool("System", "numOfTools", &b, false), 0);
  EXPECT_TRUE(b);
  EXPECT_NE(settings_.GetBool("System", "missing", &b, true), 0);
  EXPECT_TRUE(b);
  std::string text;
  EXPECT_EQ(settings_.GetText("System", "numOfTools", &text, 64, "dflt"), 2);
  EXPECT_EQ(text, "dflt");
}

TEST_F(NcSettingsTest, Texts) {
  ASSERT_EQ(settings_.SetText("System", "msgTextFile", "NcErrors.dat"), 0);
  std::string text;
  EXPECT_EQ(settings_.GetText("System", "msgTextFile", &text, 13, "x"), 0);
  EXPECT_EQ(text, "NcErrors.dat");
  // One character short (the terminator counts): the default.
  EXPECT_EQ(settings_.GetText("System", "msgTextFile", &text, 12, "x"), 234);
  EXPECT_EQ(text, "x");
  EXPECT_EQ(settings_.SetText("System", "empty", ""), 87);
  EXPECT_EQ(StoredText("System", "empty"), "<none>");
  // An expandable text reads as it is stored.
  Store("System", "expand", platform::kRegExpandSz, std::string("a\0b\0\0\0", 6));
  EXPECT_EQ(settings_.GetText("System", "expand", &text, 64, "x"), 0);
  EXPECT_EQ(text, "ab");
}

TEST_F(NcSettingsTest, DoublesKeepSixDecimalsWhateverTheLocale) {
  ASSERT_EQ(settings_.SetDouble("Code", "defaultFeed", 1.2345678), 0);
  EXPECT_EQ(StoredText("Code", "defaultFeed"), "1.234568");
  double d = 0;
  EXPECT_EQ(settings_.GetDouble("Code", "defaultFeed", &d, 5.0), 0);
  EXPECT_EQ(d, 1.234568);
  EXPECT_EQ(settings_.GetDouble("Code", "missing", &d, 5.0), 2);
  EXPECT_EQ(d, 5.0);
  // The largest values write hundreds of digits and still read back whole.
  for (const double big : {1e300, -1.7976931348623157e308}) {
    ASSERT_EQ(settings_.SetDouble("Code", "big", big), 0);
    EXPECT_EQ(StoredText("Code", "big").size(), big > 0 ? 308u : 317u);
    EXPECT_EQ(settings_.GetDouble("Code", "big", &d, 5.0), 0) << big;
    EXPECT_EQ(d, big);
  }

  const std::string old = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) {
    GTEST_SKIP() << "no locale with a decimal comma on this machine";
  }
  ASSERT_EQ(std::localeconv()->decimal_point[0], ',');
  EXPECT_EQ(settings_.SetDouble("Code", "comma", -2.5), 0);
  const std::string stored = StoredText("Code", "comma");
  EXPECT_EQ(settings_.GetDouble("Code", "comma", &d, 0.0), 0);
  const double read_back = d;
  EXPECT_EQ(settings_.SetText("Code", "written", "0.125"), 0);
  EXPECT_EQ(settings_.GetDouble("Code", "written", &d, 0.0), 0);
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_EQ(stored, "-2.500000");
  EXPECT_EQ(read_back, -2.5);
  EXPECT_EQ(d, 0.125);
}

TEST_F(NcSettingsTest, PathsCompleteFromTheServersFile) {
  std::string path;
  settings_.GetPath("System", "toolFile", &path, 260, "NcTools.dat");
  EXPECT_EQ(path, "C:\\ZIMO\\NcTools.dat");
  ASSERT_EQ(settings_.SetText("System", "offsetFile", "\\DATA\\NcOffsets.dat"), 0);
  settings_.GetPath("System", "offsetFile", &path, 260, "x");
  EXPECT_EQ(path, "C:\\DATA\\NcOffsets.dat");
  ASSERT_EQ(settings_.SetText("System", "other", "D:\\NC\\A.NC"), 0);
  settings_.GetPath("System", "other", &path, 260, "x");
  EXPECT_EQ(path, "D:\\NC\\A.NC");
}

TEST_F(NcSettingsTest, EnumeratesValueNames) {
  settings_.SetLong("Code\\Mcodes", "m6AtFront", 1);
  settings_.SetLong("Code\\Mcodes", "m8AtFront", 1);
  std::string name;
  ASSERT_TRUE(settings_.EnumValueNames("Code\\Mcodes", &name));
  EXPECT_EQ(name, "m6AtFront");
  ASSERT_TRUE(settings_.EnumValueNames(nullptr, &name));
  EXPECT_EQ(name, "m8AtFront");
  EXPECT_FALSE(settings_.EnumValueNames(nullptr, &name));
  EXPECT_FALSE(settings_.EnumValueNames(nullptr, &name));
}

// Reads one line with a group table into a fresh record.
NcBlockRecord ReadLine(const NcGroupTable& table, const char* line) {
  testing::FakeCardSide card;
  testing::FakeVariables vars;
  NcBlockContext context;
  context.table = &table;
  context.card = &card;
  context.env = &vars;
  NcBlockRecord record;
  InitBlockRecord(record, table);
  StartBlock(record, nullptr);
  ParseWords(context, record, line);
  return record;
}

TEST_F(NcSettingsTest, GroupTableWithoutSettingsHasTheDefaults) {
  const NcGroupTable t = LoadGroupTable(settings_, 1);
  const NcBlockRecord r = ReadLine(t, "G1 X1");
  EXPECT_EQ(r.group_code[1], 1);
  EXPECT_EQ(r.group_present[1], 1u);
  EXPECT_EQ(ReadLine(t, "G41.1").group_present[7], 0u);
  const int32_t defaults[kGroupCount] = {0,  0,  17, 90, 1090, 94,   20, 40, 49,   80,   98, 50, 0, 97,
                                         54, 64, 69, 15, 1050, 70, 1060, 0,  1092, 0, 26, 1013, 0};
  for (int g = 0; g < kGroupCount; ++g) EXPECT_EQ(t.group_default[g], defaults[g]) << g;
  for (int g = 0; g < kGroupCount; ++g) {
    const bool rewind = g == 7 || g == 8 || g == 9 || g == 11 || g == 16 || g == 18;
    EXPECT_EQ(t.set_on_rewind[g], rewind) << g;
  }
  EXPECT_EQ(t[kTappingCycleRigid], 8041);
  EXPECT_EQ(t[kUser20], 20060);
  EXPECT_EQ(t[kCoordSystemSetCancel], 1092);
  EXPECT_EQ(t.machine, 1u);
  EXPECT_EQ(t.default_feed, 5.0);
  EXPECT_EQ(t.first_synchronous_m, 100.0);
  EXPECT_TRUE(t.at_move_tool_change);
  EXPECT_EQ(r.addr_value[kSlotF], 5.0);

  const NcGroupTable lathe = LoadGroupTable(settings_, 2);
  EXPECT_EQ(lathe.group_default[2], 18);
  EXPECT_EQ(lathe.group_default[5], 95);
  EXPECT_EQ(ReadLine(lathe, "X1").group_code[2], 18);
}

TEST_F(NcSettingsTest, GroupTableFromSettings) {
  settings_.SetLong("Code\\Group7", "toolRadiusCompLeft", 1041);
  settings_.SetLong("Code\\Group3", "defaultVal", 91);
  settings_.SetLong("Code\\Group3", "SetOnRewind", 1);
  settings_.SetLong("Code", "machine", 2);
  settings_.SetDouble("Code", "defaultFeed", 12.5);
  const NcGroupTable t = LoadGroupTable(settings_, 1);
  NcBlockRecord r = ReadLine(t, "G41.1");
  EXPECT_EQ(r.group_code[7], 1041);
  EXPECT_EQ(r.group_present[7], 1u);
  EXPECT_EQ(r.group_code[3], 91);
  EXPECT_TRUE(t.set_on_rewind[3]);
  EXPECT_EQ(t.machine, 2u);
  EXPECT_EQ(r.addr_value[kSlotF], 12.5);
  // machine 2 reads G71 as a lathe cycle of group 19.
  EXPECT_EQ(ReadLine(t, "G71").group_present[19], 1u);
  // Nothing was written back.
  uint32_t v = 0;
  EXPECT_EQ(settings_.GetLong("Code\\Group1", "positioning", &v, 7), 2);
}

TEST_F(NcSettingsTest, MCodeAttributes) {
  for (const char* name : {"m6AtFront", "m6.5AtFront", "m150AtFront", "M7AtFront", "m8atfront",
                           "m9AtFrontX", "m", "xm3AtFront", "m99AtFront", "m0AtFront"}) {
    settings_.SetLong("Code\\Mcodes", name, 1);
  }
  settings_.SetDouble("Code\\Mcodes", "FirstSynchronousM", 200.0);
  NcGroupTable t = LoadGroupTable(settings_, 1);
  for (int m = 0; m < 100; ++m) {
    EXPECT_EQ(t.at_front[m], (m == 6 || m == 99 || m == 0) ? 1 : 0) << m;
  }
  EXPECT_EQ(t.first_synchronous_m, 200.0);
  EXPECT_EQ(ReadLine(t, "M150").m_count, 1u);  // now below the synchronous codes
}

}  // namespace
}  // namespace zimo::nc
