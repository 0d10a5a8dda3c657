// The command interpreter at the level of replies: variables and their
// memory, M-variable definitions, memory commands, program buffers, PLC
// enables, axis definitions, addressing, identification and bootstrap mode.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"
#include "cardsim/card_word.h"

namespace zimo::cardsim {
namespace {

int ErrorOf(Card& card, std::string_view line) { return card.Execute(line).error; }

TEST(Variables, PVariablesLiveInLMemoryOfTheGeneration) {
  Card older(CardModel::Older());
  older.Execute("P7=2.5");
  EXPECT_DOUBLE_EQ(older.memory().ReadFloat48(0x1000 + 7), 2.5);
  older.memory().WriteFloat48(0x1000 + 8, -0.125);
  EXPECT_EQ(Ask(older, "P8"), Lines{"-0.125"});

  // SPRAN cards find P-variables through the pointer in X:$24.
  Card spran(CardModel::Spran());
  spran.Execute("P8191=9");
  uint32_t base = spran.memory().Read(Space::kX, 0x24);
  EXPECT_DOUBLE_EQ(spran.memory().ReadFloat48(base + 8191), 9.0);
  EXPECT_EQ(ErrorOf(older, "P1024=1"), card_error::kBadCommand);  // older cards stop at 1023
}

TEST(Variables, RangesExpressionsAndQPerCoordinateSystem) {
  Card card(CardModel::Older());
  card.Execute("P100..105=3");
  EXPECT_EQ(Ask(card, "P99..106"), (Lines{"0", "3", "3", "3", "3", "3", "3", "0"}));
  card.Execute("I15=0 P1=SIN(30)+SQRT(16)*2-7%4 P2=$FF&$0F P3=ATAN2(1,1) P4=INT(-1.5)");
  EXPECT_EQ(Ask(card, "P1..4"), (Lines{"5.5", "15", "45", "-2"}));
  card.Execute("&1Q5=1 &2Q5=2");
  EXPECT_EQ(Ask(card, "&1Q5&2Q5"), (Lines{"1", "2"}));
  // A blank before "&" ends the expression; without one it is a bitwise AND.
  card.Execute("&1 P5=6&3 &2 Q1=P5");
  EXPECT_EQ(Ask(card, "P5 &2 Q1 &1 Q1"), (Lines{"2", "2", "0"}));
  EXPECT_EQ(ErrorOf(card, "P1=(2+"), card_error::kBadCommand);
  EXPECT_EQ(ErrorOf(card, "P5..3=1"), card_error::kBadCommand);
}

TEST(Variables, AddressIVariablesInHexOnlyWhereTheCardHasThem) {
  CardModel zimo1 = CardModel::Older();
  zimo1.type = 1;
  zimo1.type_text = "ZIMO1";
  zimo1.hex_address_ivars = false;
  Card one(zimo1);
  Card two(CardModel::Older());
  for (Card* card : {&one, &two}) card->Execute("I9=2 I182=$C006");
  EXPECT_EQ(Ask(one, "I182"), Lines{"49158"});
  EXPECT_EQ(Ask(two, "I182"), Lines{"$C006"});
  // A type 8 card answers I4900 in hex with the digit that tells it apart.
  Card eight(CardModel::SpranType8());
  eight.Execute("I9=2");
  std::string i4900 = Ask(eight, "I4900").at(0);
  EXPECT_EQ(i4900.front(), '$');
  EXPECT_NE(std::string("048C").find(i4900.back()), std::string::npos);
}

TEST(MVariables, DefinitionsAreCardWordsThatProgramsCanRetarget) {
  Card card(CardModel::Older());
  card.Execute("wx$C000,$ABCDEF wy$C001,$800000");
  card.Execute(
      "M1->X:$C000,0,24,S M2->X:$C000,4,8 M3->X:$C000,3 M4->Y:$C001,24 M5->Y:$C001,0,24,S");
  EXPECT_EQ(Ask(card, "M1 M2 M3 M4 M5"), (Lines{"-5517841", "222", "1", "8388608", "-8388608"}));
  // M91 reads X:$C000; M92 points at M91's definition word, so writing M92
  // moves M91 to X:$C001.
  card.Execute("M91->X:$C000,0,24");
  uint32_t def_word = 0xBC00 + 91;
  card.Execute("M92->Y:$" + [&] {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", def_word);
    return std::string(hex);
  }() + ",0,24");
  card.Execute("wx$C001,77 M92=$C001");
  EXPECT_EQ(Ask(card, "M91"), Lines{"77"});
  EXPECT_EQ(Ask(card, "M91->"), Lines{"X:$C001,0,24,U"});
  // Writing through a bit field touches only its bits.
  card.Execute("M2=$FF");
  EXPECT_EQ(card.memory().Read(Space::kX, 0xC000), 0xABCFFFu);
  // Self-kept values, L (floating) and D (fixed) words.
  card.Execute("M10->* M10=1.25 M11->L:$81F M11=-3.5 M12->D:$28 M12=-70000");
  EXPECT_EQ(Ask(card, "M10 M11 M12 M10->"), (Lines{"1.25", "-3.5", "-70000", "*"}));
  EXPECT_EQ(card.memory().ReadFixed48(0x28), -70000);
  EXPECT_EQ(ErrorOf(card, "M1->X:$C000,20,8"), card_error::kBadCommand);
  EXPECT_EQ(ErrorOf(card, "M1->X:$C000,0,24,Q"), card_error::kBadCommand);
  // A range of definitions at once, lower case as a download sends it: every
  // one keeps its own value afterwards and no longer reaches memory.
  card.Execute("M0->X:$C001,0,24,U M1023->D:$28");
  EXPECT_EQ(ErrorOf(card, "m0..1023->*"), 0);
  EXPECT_EQ(Ask(card, "M0-> M512-> M1023->"), (Lines{"*", "*", "*"}));
  card.Execute("M1023=5 M0=9");
  EXPECT_EQ(card.memory().ReadFixed48(0x28), -70000);
  EXPECT_EQ(card.memory().Read(Space::kX, 0xC001), 77u);
  EXPECT_EQ(Ask(card, "M1023 M0"), (Lines{"5", "9"}));
}

TEST(MemoryCommands, ReadAndWriteWordsInEveryForm) {
  Card card(CardModel::Older());
  card.Execute("wx$786,$D,$45");
  EXPECT_EQ(Ask(card, "rhx:$786,2"), Lines{"00000D 000045"});
  card.Execute("WY:$3000,1,-2,$7FFFFF");
  EXPECT_EQ(Ask(card, "RY:$3000,3"), Lines{"1 -2 8388607"});
  card.Execute("wl$3100,$000001000000 wl$3101,-5");
  EXPECT_EQ(Ask(card, "rhl$3100,2"), Lines{"000001000000 FFFFFFFFFFFB"});
  EXPECT_EQ(Ask(card, "rl$3100,2"), Lines{"16777216 -5"});
  card.Execute("wp$8000,$123456");
  EXPECT_EQ(Ask(card, "rhp$8000"), Lines{"123456"});
  // Long reads wrap at 16 words a line; the words stay 7 characters apart.
  Lines many = Ask(card, "rhx$0,32");
  ASSERT_EQ(many.size(), 2u);
  EXPECT_EQ(many[0].size(), 16u * 7 - 1);
  for (const char* bad : {"rhx", "rhx$", "rhx$1,0", "rhx$1,5000", "wx$1", "wx$1,", "rhx$1000000"}) {
    EXPECT_EQ(ErrorOf(card, bad), card_error::kBadCommand) << bad;
  }
}

TEST(MemoryCommands, TheDprPatternTestSeesItsPatternOnBothGenerations) {
  // The host writes a long word pattern at each DPR card address and reads
  // both halves back; then it fills the window from its side and expects
  // the card to see 5555 in each half.
  for (CardModel model : {CardModel::Older(), CardModel::Spran()}) {
    Card card(model);
    uint32_t base = model.dpr_card_base;
    char line[64];
    std::snprintf(line, sizeof line, "wl$%X,$AAAAAAAAAAAA", base + 5);
    card.Execute(line);
    EXPECT_EQ(card.memory().DprWord(5 * 4), 0xAAAA);
    EXPECT_EQ(card.memory().DprWord(5 * 4 + 2), 0xAAAA);
    std::snprintf(line, sizeof line, "rhy$%X rhx$%X", base + 5, base + 5);
    for (const std::string& half : Ask(card, line)) {
      EXPECT_NE(half.find("AAAA", 1), std::string::npos) << half;
    }
    std::string fives(Memory::kDprSize, '\x55');
    card.memory().WriteDpr(0, fives.data(), fives.size());
    std::snprintf(line, sizeof line, "rhy$%X rhx$%X", base + 4095, base + 4095);
    for (const std::string& half : Ask(card, line)) {
      EXPECT_NE(half.find("5555", 2), std::string::npos) << half;
    }
  }
}

TEST(Identification, DprSizeWordsMatchTheWindow) {
  Card spran(CardModel::Spran());
  spran.Execute("I9=2");
  Lines bounds = Ask(spran, "rhx$320f rhx$3210");
  ASSERT_EQ(bounds.size(), 2u);
  EXPECT_EQ((std::stoul(bounds[1], nullptr, 16) - std::stoul(bounds[0], nullptr, 16)) * 4,
            Memory::kDprSize);
  EXPECT_EQ(std::stoul(Ask(spran, "rhy$3f").at(0), nullptr, 16) * 4 - 0x180000, Memory::kDprSize);
  Card older(CardModel::Older());
  EXPECT_EQ(std::stoul(Ask(older, "rhx$3").at(0), nullptr, 16) & 0x800, 0u);
  // A type 8 card moves its window with I24.
  Card eight(CardModel::SpranType8(0x6C000));
  EXPECT_EQ(eight.IVar(24), 0x6C000);
  eight.Execute("I24=$6D000");
  EXPECT_EQ(eight.memory().dpr_card_base(), 0x6D000u);
  eight.Execute("wy$6D001,$1234");
  EXPECT_EQ(eight.memory().DprWord(4), 0x1234);
  eight.Execute("$$$***");
  EXPECT_EQ(eight.memory().dpr_card_base(), 0x6C000u);
}

TEST(ProgramBuffers, LinesGoIntoTheOpenBufferUntilClose) {
  Card card(CardModel::Older());
  card.Execute("OPEN PLC 3 CLEAR P1=5");
  card.Execute("P2=P1+1");
  card.Execute("OPEN PROG 1");  // refused while PLC 3 is open
  card.Execute("CLOSEP3=1");
  EXPECT_EQ(card.ProgramBuffer("PLC 3"), (Lines{"P1=5", "P2=P1+1"}));
  EXPECT_DOUBLE_EQ(card.PVar(1), 0.0);  // program text did not run on line
  EXPECT_DOUBLE_EQ(card.PVar(3), 1.0);  // the rest of the CLOSE line did
  EXPECT_EQ(Ask(card, "LIST PLC 3"), (Lines{"P1=5", "P2=P1+1"}));
  card.Execute("OPEN PLC 3 CLR");
  card.Execute("CLOSE");
  EXPECT_EQ(card.ProgramBuffer("PLC 3"), Lines{});
  EXPECT_EQ(ErrorOf(card, "OPEN PLC 32"), card_error::kBadCommand);
}

TEST(Plcs, EnableAndDisableByListRangeAndControlD) {
  Card card(CardModel::Older());
  card.Execute("ENA PLC 31 ENABLE PLC 1,2 ENAPLC 5..7");
  EXPECT_EQ(card.PlcEnabled(), (1u << 31) | 0x6u | 0xE0u);
  card.Execute("DIS PLC 1 DISABLEPLC 5..6");
  EXPECT_EQ(card.PlcEnabled(), (1u << 31) | 0x4u | 0x80u);
  card.Control(ctrl::kCtrlD);
  EXPECT_EQ(card.PlcEnabled(), 0u);
  EXPECT_EQ(ErrorOf(card, "ENA PLC 32"), card_error::kBadCommand);
}

TEST(Addressing, OnlyTheCardAtAddressZeroAnswers) {
  Card card(CardModel::Older());
  EXPECT_EQ(card.Feed("@0I1=2@0\r"), "\x06");
  EXPECT_TRUE(card.Execute("@1I10").silent);
  EXPECT_TRUE(card.Execute("I10=5").silent);
  EXPECT_EQ(card.IVar(10), 3713707);  // not addressed: nothing ran
  EXPECT_EQ(Ask(card, "@0 I10"), Lines{"3713707"});
  EXPECT_EQ(Ask(card, "@"), Lines{"@0"});
}

TEST(SaveAndReset, DollarsRestoreSavedSettingsAndFactoryDefaults) {
  Card card(CardModel::Older());
  card.Execute("I150=500 SAVE I150=9");
  card.Execute("$$$");
  EXPECT_EQ(card.IVar(150), 500);
  card.Execute("P1=4 $$$***");
  EXPECT_EQ(card.IVar(150), 0);
  EXPECT_DOUBLE_EQ(card.PVar(1), 0.0);
  EXPECT_EQ(card.IVar(10), 3713707);
}

TEST(Bootstrap, OnlyTheStatusQueryAnswersUntilControlR) {
  CardModel model = CardModel::Older();
  model.bootstrap = true;
  Card card(model);
  // Handshake lines end in the status query, which the loader answers.
  EXPECT_EQ(card.Feed("I3=2I6=1I63=1I64=1?\r"), "BOOTSTRAP PROM\r\x06");
  EXPECT_EQ(card.Feed("I3=2?\r"), "BOOTSTRAP PROM\r\x06");
  EXPECT_EQ(card.Feed("I3=2\r"), "\x06");
  EXPECT_EQ(card.Feed("?\r"), "BOOTSTRAP PROM\r\x06");
  EXPECT_EQ(card.Feed("\x18"), "\x18");
  // ^O, an image of two words, then ^R at the end: the firmware starts.
  EXPECT_EQ(card.Feed("\x0F"), "");
  EXPECT_EQ(card.Feed(std::string("\x12\x34\x56\x0D\x0A\x12", 6)), "");
  EXPECT_EQ(card.Feed("\x12"), "");
  EXPECT_FALSE(card.InBootstrap());
  EXPECT_EQ(card.firmware_bytes(), 6u);
  EXPECT_EQ(card.Feed("?\r"), "802000004001\r\x06");
  // Blocks and port words count only in bootstrap mode.
  card.LoadFirmwareBlock("abc", true);
  EXPECT_EQ(card.firmware_bytes(), 6u);
  card.EnterBootstrap();
  card.LoadFirmwareBlock("abcdef", true);
  card.LoadFirmwareWord(0x123456);
  EXPECT_EQ(card.firmware_bytes(), 9u);
}

TEST(Blocks, StatusNamesTheFirstFailingLine) {
  Card card(CardModel::Older());
  EXPECT_EQ(card.ExecuteBlock(std::string("P1=1\0P2=2\0P3=3", 14)), 0u);
  EXPECT_DOUBLE_EQ(card.PVar(3), 3.0);
  uint32_t status = card.ExecuteBlock(std::string("P4=4\0BOGUS\0P5=5", 15));
  EXPECT_EQ(status, 0x80000000u | (3u << 16) | 2u);
  EXPECT_DOUBLE_EQ(card.PVar(4), 4.0);
  EXPECT_DOUBLE_EQ(card.PVar(5), 0.0);  // lines after the failure do not run
}

}  // namespace
}  // namespace zimo::cardsim
