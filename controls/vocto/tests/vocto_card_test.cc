// The control against a legacy bus card through jux170: opening, the
// exchange, the shared command table and the DPR check.
#include <algorithm>

#include "card_fixture.h"

namespace zimo::vocto::testing {
namespace {

TEST_F(VoctoCardTest, EnablingABusControlInUserModeOpensItAndItAnswers) {
  CVoctoCtrl& c = MakeBus();
  ASSERT_NE(c.card_record(), nullptr);
  EXPECT_EQ(c.card_record()->connected, 1);
  EXPECT_EQ(c.card_record()->method, 0);
  EXPECT_EQ(site_.timers, (std::map<int, int>{{1, 100}}));
  card().SetIVar(10, 3713707);
  Variant out;
  Variant result;
  ASSERT_EQ(
      c.CallByName("GetResponse", automation::kMethod,
                   {Variant::ByRef(&out, automation::VT_BSTR), Variant(Bstr(u"I10"))}, &result),
      automation::S_OK);
  EXPECT_EQ(result, Variant(true));
  EXPECT_EQ(out, Variant(Bstr(u"3713707")));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(VoctoCardTest, AMutedCardEndsDisabledWithTheGlobalError) {
  card().script().SetMuted(true);
  CVoctoCtrl& c = MakeBus();
  EXPECT_EQ(c.card_record(), nullptr);
  EXPECT_EQ(Get("Enabled"), Variant(false));
  EXPECT_TRUE(site_.timers.empty());
  EXPECT_EQ(errors_,
            (std::vector<ErrorEvent>{{2002, "Bus Receive Timeout (try increasing timeout)."}}));
  EXPECT_EQ(PGetLastGlobalError(), 2002);
}

TEST_F(VoctoCardTest, ACardErrorReachesOnErrorWithItsText) {
  CVoctoCtrl& c = MakeBus();
  tagMCardInfo* record = c.card_record();
  card().script().InjectError(3);
  Bstr out;
  EXPECT_FALSE(c.GetResponse(&out, Bstr(u"I10")));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].code, 53);
  EXPECT_EQ(errors_[0].text,
            "Syntax error, unrecognized command, or bad program structure (i.e. missing ENDIF or "
            "ENDWHILE)");
  EXPECT_EQ(Get("LastError"), Variant(53));
  EXPECT_EQ(c.card_record(), record);  // the record survives the failure
}

TEST_F(VoctoCardTest, DprMethodsOnABusCardRaise4003) {
  CVoctoCtrl& c = MakeBus();
  EXPECT_EQ(c.DPRGetWord('Y', 10), 0);
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{4003, "No DPR communications established."}}));
  EXPECT_EQ(c.card_record()->last_error, 4003);
  EXPECT_FALSE(c.DPRSetDWord(3, 7));
  EXPECT_EQ(errors_.size(), 2u);
}

TEST_F(VoctoCardTest, TwoControlsShowingOneCommandShareItsEntryAndRepaint) {
  CVoctoCtrl& a = MakeBus();
  CVoctoCtrl& b = Make(&other_site_);  // simulated; shows the same command
  char p1[] = "P1", p_1[] = "P 1";
  ASSERT_EQ(add_to_command_table(a.jux_control(), p1, 1, 0), 1);
  ASSERT_EQ(add_to_command_table(b.jux_control(), p_1, 2, 0), 1);
  card().SetPVar(1, 5);
  card().script().ClearLog();

  // Pass 0: the response is new; both intervals divide 0.
  a.OnTimer(1);
  EXPECT_EQ(a.send_flag(), 1);
  auto log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "P1"), 1);
  EXPECT_EQ(site_.repaints, 1);
  EXPECT_EQ(other_site_.repaints, 1);
  char text[16384];
  ASSERT_EQ(get_ZIMO_response_string(b.jux_control(), text), 1);
  EXPECT_STREQ(text, "5");

  // Pass 1: a new value repaints only the control whose interval divides 1.
  card().SetPVar(1, 6);
  a.OnTimer(1);
  EXPECT_EQ(site_.repaints, 2);
  EXPECT_EQ(other_site_.repaints, 1);
  // Pass 2: the same value repaints nobody.
  a.OnTimer(1);
  EXPECT_EQ(site_.repaints, 2);
  EXPECT_EQ(other_site_.repaints, 1);
  log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "P1"), 3);
  EXPECT_EQ(std::count(log.begin(), log.end(), "P 1"), 0);
}

TEST_F(VoctoCardTest, ADestroyedControlLeavesTheCommandTable) {
  CVoctoCtrl& a = MakeBus();
  CVoctoCtrl& b = Make(&other_site_);
  char p1[] = "P1";
  ASSERT_EQ(add_to_command_table(a.jux_control(), p1, 1, 0), 1);
  ASSERT_EQ(add_to_command_table(b.jux_control(), p1, 1, 0), 1);
  controls_.pop_back();  // b goes
  card().SetPVar(1, 9);
  a.OnTimer(1);  // a new response repaints every control still showing it
  EXPECT_EQ(site_.repaints, 1);
  EXPECT_EQ(other_site_.repaints, 0);
  EXPECT_EQ(remove_from_command_table(a.jux_control()), 1);
}

TEST_F(VoctoCardTest, ADprControlReachesTheCardsMemory) {
  CVoctoCtrl& c = Make(nullptr, false);
  site_.user_mode = false;
  c.InitNew();
  c.put_CommMethod(1);
  c.put_DPRBaseAddress(Bstr(u"$D4000"));
  site_.user_mode = true;
  c.put_Enabled(true);
  ASSERT_NE(c.card_record(), nullptr);
  ASSERT_EQ(c.card_record()->method, 1);
  EXPECT_TRUE(c.DPRSetDWord(0x700, 0x123456));
  EXPECT_EQ(c.DPRGetDWord(0x700), 0x123456);
  EXPECT_TRUE(c.DPRDWordSetBit(0x700, 31));
  EXPECT_TRUE(c.DPRDWordBitSet(0x700, 31));
  EXPECT_EQ(static_cast<uint32_t>(c.DPRGetDWord(0x700)), 0x80123456u);
  EXPECT_TRUE(c.DPRSetWord('X', 0x701, 0x1234));
  EXPECT_EQ(c.DPRGetWord('X', 0x701), 0x1234);
  EXPECT_TRUE(errors_.empty());
  Bstr out;
  EXPECT_TRUE(c.GetResponse(&out, Bstr(u"VER")));
  EXPECT_EQ(out, Bstr(u"1.16F"));
}

}  // namespace
}  // namespace zimo::vocto::testing
