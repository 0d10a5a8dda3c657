// The control's properties, card record image, settings file and its
// behaviour while disabled, in the container without a card.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "controls/property_bag.h"
#include "vocto_fixture.h"

namespace zimo::vocto::testing {
namespace {

class VoctoControlTest : public VoctoTest {};

TEST_F(VoctoControlTest, ANewControlHasTheDefaults) {
  site_.user_mode = false;
  Make();
  EXPECT_EQ(Get("BusBase"), Variant(528));
  EXPECT_EQ(Get("BusType"), Variant(1));
  EXPECT_EQ(Get("CommMethod"), Variant(3));
  EXPECT_EQ(Get("DPRBaseAddress"), Variant(Bstr(u"$D4000")));
  EXPECT_EQ(Get("ZIMOType"), Variant(1));
  EXPECT_EQ(Get("SerialBaudrate"), Variant(38400));
  EXPECT_EQ(Get("SerialPortNum"), Variant(2));
  EXPECT_EQ(Get("Timeout"), Variant(1000));
  EXPECT_EQ(Get("Interval"), Variant(int16_t{100}));
  EXPECT_EQ(control().send_flag(), 1);
  // The container's copy holds the same values under their names.
  controls::PropertyBag bag;
  control().Save(bag);
  EXPECT_EQ(bag.Read("BusBase"), "528");
  EXPECT_EQ(bag.Read("DPRBaseAddress"), "$D4000");
  EXPECT_EQ(bag.Read("Interval"), "100");
}

TEST_F(VoctoControlTest, DprAddressesInEveryNotationGiveTheSameBase) {
  struct Case {
    const char* text;
    int32_t base;
  };
  const Case cases[] = {
      {"$D4000", 0xD4000}, {"0xD4000", 0xD4000}, {"868352", 0xD4000}, {"at $d4000x", 0xD4000},
      {"0D4000", 0},       {"01000", 512},       {"$FFFFFFFF", -1},   {"", 0}};
  site_.user_mode = false;
  Make();
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDprAddress(c.text), c.base) << c.text;
    Put("DPRBaseAddress", Variant(Bstr::FromAnsi(c.text)));
    EXPECT_EQ(control().BuildImage(false).dpr_base, c.base) << c.text;
  }
}

TEST_F(VoctoControlTest, TheImageCarriesThePropertiesAndApplyingOneNotifiesInOrder) {
  site_.user_mode = false;
  site_.name = "Axis1";
  Make();
  Put("CommMethod", Variant(0));
  Put("BusBase", Variant(784));
  Put("SerialPortNum", Variant(4));
  Put("SerialBaudrate", Variant(9600));
  Put("Timeout", Variant(2500));
  Put("BusType", Variant(2));
  Put("Interval", Variant(int16_t{250}));
  tagMCardInfo image = control().BuildImage(true);
  tagMCardInfo expected;
  std::memset(&expected, 0, sizeof expected);
  std::strcpy(expected.name, "Axis1");
  expected.method = 0;
  expected.retries = 3;
  expected.timeout = 2500;
  expected.bus_base = 784;
  expected.dpr_base = 0xD4000;
  expected.com_port = 4;
  expected.baud_rate = 9600;
  expected.bus_type = 2;
  expected.poll_interval = 250;
  EXPECT_EQ(std::memcmp(&image, &expected, sizeof image), 0);
  EXPECT_EQ(control().BuildImage(false).poll_interval, 0);
  Put("CommMethod", Variant(3));
  EXPECT_EQ(control().BuildImage(false).simulated, 1);

  tagMCardInfo stored = expected;
  stored.method = 1;
  stored.dpr_base = 0xCC000;
  stored.poll_interval = 40;
  site_.changed.clear();
  control().ApplyImage(stored);
  EXPECT_EQ(site_.changed, (std::vector<automation::DispId>{1, 3, 6, 10, 7, 11, 2, 8, 9}));
  EXPECT_EQ(Get("CommMethod"), Variant(1));
  EXPECT_EQ(Get("DPRBaseAddress"), Variant(Bstr(u"$cc000")));
  EXPECT_EQ(Get("Interval"), Variant(int16_t{40}));
}

TEST_F(VoctoControlTest, ADisabledControlAnswersWithoutTheCard) {
  site_.user_mode = false;
  Make();
  Put("Enabled", Variant(false));
  Variant out(Bstr(u"untouched"));
  Variant result;
  ASSERT_EQ(control().CallByName("GetResponse", automation::kMethod,
                                 {Variant::ByRef(&out, automation::VT_BSTR), Variant(Bstr(u"I10"))},
                                 &result),
            automation::S_OK);
  EXPECT_EQ(result, Variant(true));
  EXPECT_EQ(out, Variant(Bstr(u"untouched")));
  EXPECT_FALSE(control().IsLineWaiting());
  EXPECT_TRUE(control().SendLine(Bstr(u"P1")));
  EXPECT_EQ(control().DPRGetDWord(5), 0);
  EXPECT_EQ(control().DPRGetWord('Y', 5), 0);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(VoctoControlTest, ChangingACommunicationPropertyDisablesAndRestartOpensNothing) {
  Make();  // run time, simulated: opens
  ASSERT_NE(control().card_record(), nullptr);
  EXPECT_EQ(site_.timers, (std::map<int, int>{{1, 100}}));
  Put("BusBase", Variant(800));
  EXPECT_EQ(Get("Enabled"), Variant(false));
  EXPECT_EQ(control().card_record(), nullptr);
  EXPECT_TRUE(site_.timers.empty());
  EXPECT_TRUE(control().Restart());
  EXPECT_EQ(control().card_record(), nullptr);
  EXPECT_EQ(Get("Enabled"), Variant(false));
  // Enabling again opens with the new values.
  Put("Enabled", Variant(true));
  ASSERT_NE(control().card_record(), nullptr);
  EXPECT_EQ(control().card_record()->bus_base, 800);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(VoctoControlTest, UserModeStartsAndStopsTheTimer) {
  Make();
  EXPECT_EQ(site_.timers.count(1), 1u);
  site_.user_mode = false;
  control().OnAmbientPropertyChange(controls::kDispidAmbientUserMode);
  EXPECT_TRUE(site_.timers.empty());
  site_.user_mode = true;
  control().OnAmbientPropertyChange(controls::kDispidAmbientUserMode);
  EXPECT_EQ(site_.timers, (std::map<int, int>{{1, 100}}));
  Put("Interval", Variant(int16_t{20}));
  EXPECT_EQ(site_.timers, (std::map<int, int>{{1, 20}}));
}

// The simulated card cannot send output and then fail the same line with a
// number the table has no text for: a stand-in reader does.
TEST_F(VoctoControlTest, AFailedReplyWithoutErrorTextReportsItsFirstTwentyCharacters) {
  Make();
  ASSERT_NE(control().card_record(), nullptr);
  Replies().get_response = [](tagMCardInfo* record, char* buffer, unsigned size,
                              const char*) -> int {
    std::snprintf(buffer, size + 1, "%s", "123456789012345678901234567890");
    record->last_error = 68;  // card error 18
    return 0;
  };
  Bstr out;
  EXPECT_FALSE(control().GetResponse(&out, Bstr(u"LIST")));
  EXPECT_EQ(out, Bstr(u"123456789012345678901234567890"));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{68, "12345678901234567890"}}));
  // No reply and no text: "Unknown Error".
  Replies().get_response = [](tagMCardInfo* record, char* buffer, unsigned, const char*) -> int {
    buffer[0] = '\0';
    record->last_error = 68;
    return 0;
  };
  EXPECT_FALSE(control().GetResponse(&out, Bstr(u"LIST")));
  EXPECT_EQ(errors_.back(), (ErrorEvent{68, "Unknown Error"}));
}

TEST_F(VoctoControlTest, GetLineAckHandsTheReaderOneLessThanItsBuffer) {
  Make();
  static unsigned seen = 0;
  Replies().get_line = [](tagMCardInfo*, char* buffer, unsigned size) -> int {
    seen = size;
    std::memset(buffer, 'A', size);
    buffer[size] = '\0';
    return 1;
  };
  Bstr out;
  EXPECT_TRUE(control().GetLineACK(&out));
  EXPECT_EQ(seen, 8191u);
  EXPECT_EQ(out.ToAnsi(), std::string(8191, 'A'));
}

// --- the settings file ------------------------------------------------------

TEST_F(VoctoControlTest, AFirstRunOpensFromThePropertiesAndWritesNoFileUntilASave) {
  site_.name = "First";
  Make();
  ASSERT_NE(control().card_record(), nullptr);
  EXPECT_STREQ(control().card_record()->name, "First");
  EXPECT_FALSE(std::filesystem::exists(work_ / "First.CFG"));
  controls::PropertyBag bag;
  control().Save(bag);
  EXPECT_EQ(std::filesystem::file_size(work_ / "First.CFG"), 352u);
}

TEST_F(VoctoControlTest, SaveThenLoadBringsIntervalBackAndLeavesTheControlDisabled) {
  Make();
  Put("Interval", Variant(int16_t{37}));
  ASSERT_TRUE(control().SaveSettings());
  EXPECT_EQ(std::filesystem::file_size(work_ / "VOCTO.CFG"), 352u);
  Put("Interval", Variant(int16_t{100}));
  Put("Timeout", Variant(5000));  // disables
  Put("Enabled", Variant(true));
  EXPECT_TRUE(control().LoadSettings());
  EXPECT_EQ(Get("Interval"), Variant(int16_t{37}));
  EXPECT_EQ(Get("Timeout"), Variant(1000));
  EXPECT_EQ(Get("Enabled"), Variant(false));
  EXPECT_EQ(control().card_record(), nullptr);
}

TEST_F(VoctoControlTest, LoadWithoutAFileFailsAndKeepsTheProperties) {
  Make();
  Put("BusBase", Variant(900));
  EXPECT_FALSE(control().LoadSettings());
  EXPECT_EQ(Get("BusBase"), Variant(900));
  EXPECT_FALSE(std::filesystem::exists(work_ / "VOCTO.CFG"));
}

TEST_F(VoctoControlTest, ARecordFromACopiedFileKeepsTheNameStoredInIt) {
  Make();
  Put("Interval", Variant(int16_t{55}));
  Put("Enabled", Variant(true));
  ASSERT_TRUE(control().SaveSettings());
  std::filesystem::copy_file(work_ / "VOCTO.CFG", work_ / "Other.CFG");
  controls_.clear();

  other_site_.name = "Other";
  Make(&other_site_);
  ASSERT_NE(control().card_record(), nullptr);
  EXPECT_STREQ(control().card_record()->name, "VOCTO");
  EXPECT_EQ(Get("Interval"), Variant(int16_t{55}));
  tagMCardInfo* found = nullptr;
  EXPECT_EQ(FindCardByName("VOCTO", &found), 1);
  EXPECT_EQ(found, control().card_record());
  EXPECT_EQ(FindCardByName("Other", &found), 0);
}

TEST_F(VoctoControlTest, TheContainersValuesGiveWayToTheFileAtDesignTime) {
  site_.user_mode = false;
  Make();
  Put("BusBase", Variant(640));
  controls::PropertyBag bag;
  control().Save(bag);  // writes VOCTO.CFG too
  bag.Write("BusBase", "700");
  Make(nullptr, false).Load(bag);
  EXPECT_EQ(Get("BusBase"), Variant(640));
}

}  // namespace
}  // namespace zimo::vocto::testing
