// Data gathering from the card's side: the source settings and the sample
// layout in the gather buffer, the pointers, wrap and no wrap, the listing
// format, the short forms of the commands, and the scripted faults.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

// The whole listing as one text, lines ended by CR as a port carries them.
std::string Listing(Card& card, const char* command = "LIST GATHER") {
  Reply r = card.Execute(command);
  EXPECT_EQ(r.error, 0);
  std::string text;
  for (const std::string& line : r.lines) text += line + "\r";
  return text;
}

struct Pointers {
  int start, end;
};
Pointers Read(Card& card, bool spran) {
  const char* x = spran ? "RX$3120" : "RX$F20";
  const char* y = spran ? "RY$3120" : "RY$F20";
  return {std::stoi(FirstLine(card, x)), std::stoi(FirstLine(card, y))};
}

TEST(Gather, UnitsFillLWordsYHalfFirstAndSamplesStartOnAWord) {
  for (bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    Type(card, {"WX$3000,$111111", "WY$3000,$222222", "WL$3001,$AAAAAABBBBBB"});
    // Sources: X:$3000, D:$3001, Y:$3000: units X, pair (Y then X), Y = 4.
    const int base = spran ? 5001 : 21;
    Type(card, {"I" + std::to_string(base) + "=" + std::to_string(0x403000),
                "I" + std::to_string(base + 1) + "=" + std::to_string(0x803001),
                "I" + std::to_string(base + 2) + "=" + std::to_string(0x003000),
                spran ? "I5050=7" : "I20=7", spran ? "I5049=3" : "I19=3", "DEFINE GATHER"});
    const Pointers empty = Read(card, spran);
    EXPECT_EQ(empty.start, spran ? 0x20000 : 0x4000);
    EXPECT_EQ(empty.end, empty.start);
    Type(card, {"GAT"});
    card.AdvanceServo(7);  // samples at cycles 1, 4, 7
    const Pointers p = Read(card, spran);
    EXPECT_EQ(p.start, empty.start);
    EXPECT_EQ(p.end - p.start, 6);  // two L words per sample
    // Word 1: X half = D's Y (low) word, Y half = the X source.
    // Word 2: X half = the Y source, Y half = D's X (high) word.
    const std::string sample = "BBBBBB111111 222222AAAAAA ";
    EXPECT_EQ(Listing(card), sample + sample + "BBBBBB111111 222222AAAAAA\r");
    // An odd count pads: X alone gives one word, X half 0.
    Type(card, {spran ? "I5050=1" : "I20=1", "DEF GAT"});
    card.AdvanceServo(1);
    EXPECT_EQ(Listing(card, "list gat"), "000000111111\r");
  }
}

TEST(Gather, ThirtySourcesOnSpranAcrossBothEnables) {
  Card card(CardModel::Spran());
  Type(card, {"WX$3000,$000001,$000002,$000003,$000004,$000005,$000006,$000007,$000008,"
              "$000009,$00000A,$00000B,$00000C,$00000D,$00000E,$00000F,$000010,$000011,"
              "$000012,$000013,$000014,$000015,$000016,$000017,$000018,$000019,$00001A,"
              "$00001B,$00001C,$00001D,$00001E"});
  for (int n = 0; n < 30; ++n) {
    Type(card, {"I" + std::to_string(5001 + n) + "=" + std::to_string(0x403000 + n)});
  }
  // Sources 0-23 and 24-29, then one more (29) as a pair: 29 + 2 = 31 units.
  Type(card, {"I5030=" + std::to_string(0x803000), "I5050=$FFFFFF", "I5051=$3F", "I5049=1",
              "DEFGAT", "GATGAT"});
  card.AdvanceServo(1);
  const std::string text = Listing(card);
  // 31 units and a pad: 16 words, one line.
  ASSERT_EQ(text.size(), 16u * 13u);
  EXPECT_EQ(text.substr(0, 13), "000002000001 ");
  EXPECT_EQ(text.substr(13 * 13, 13), "00001C00001B ");
  // Source 28 (X = $1D) in the Y half of word 15, the pair (X:$3000 = 1,
  // Y:$3000 = 0) in the X half of word 15 (its Y word) and the Y half of
  // word 16 (its X word); the pad is 0.
  EXPECT_EQ(text.substr(14 * 13, 13), "00000000001D ");
  EXPECT_EQ(text.substr(15 * 13, 13), "000000000001\r");
}

TEST(Gather, ServoCounterStepsByThePeriod) {
  Card card(CardModel::Older());
  Type(card, {"I21=" + std::to_string(0x400000), "I20=1", "I19=5", "DEF GAT 500", "GAT"});
  card.AdvanceServo(21);  // cycles 1, 6, 11, 16, 21; each sample one padded word
  EXPECT_EQ(Read(card, false).end - Read(card, false).start, 5);
  EXPECT_EQ(Listing(card), "000000000001 000000000006 00000000000B 000000000010 000000000015\r");
  Type(card, {"ENDGAT"});
  card.AdvanceServo(10);
  EXPECT_EQ(Read(card, false).end - Read(card, false).start, 5);
}

TEST(Gather, WithoutWrapTheBufferStopsWhenFull) {
  Card card(CardModel::Older());
  // 10 words asked: 5 L words of one D pair each; the sixth sample does not fit.
  Type(card, {"I21=" + std::to_string(0x800000), "I20=1", "I19=1", "I45=0", "DEFINE GATHER 10",
              "GATHER"});
  card.AdvanceServo(6);
  Pointers p = Read(card, false);
  EXPECT_EQ(p.end - p.start, 5);  // one word per sample: the D pair
  card.AdvanceServo(6);
  EXPECT_EQ(Read(card, false).end, p.end);
}

TEST(Gather, WithWrapThePointersCross) {
  Card card(CardModel::Older());
  Type(card, {"I21=" + std::to_string(0x400000), "I20=1", "I19=1", "I45=1", "DEF GAT 8", "GAT"});
  card.AdvanceServo(3);  // counters 1..3 in a ring of 4 words, one free
  Pointers p = Read(card, false);
  EXPECT_EQ(p.start, 0x4000);
  EXPECT_EQ(p.end, 0x4003);
  card.AdvanceServo(2);  // counters 4, 5: the oldest (1, 2) are gone
  p = Read(card, false);
  EXPECT_EQ(p.end, 0x4001);
  EXPECT_EQ(p.start, 0x4002);  // crossed
  EXPECT_EQ(Listing(card), "000000000003 000000000004 000000000005\r");
}

TEST(Gather, ScriptedFreezeAndCutListing) {
  Card card(CardModel::Older());
  Type(card, {"I21=" + std::to_string(0x400000), "I20=1", "I19=1", "DEF GAT", "GAT"});
  card.script().SetGatherFrozen(true);
  card.AdvanceServo(5);
  EXPECT_EQ(Read(card, false).end, Read(card, false).start);
  EXPECT_EQ(Listing(card), "");
  card.script().SetGatherFrozen(false);
  card.AdvanceServo(20);
  card.script().SetGatherListLimit(17);
  const std::string text = Listing(card);
  EXPECT_EQ(text.size(), 17u * 13u);
  card.script().SetGatherListLimit(0);
  EXPECT_EQ(Listing(card).size(), 20u * 13u);
}

TEST(Gather, DeleteAndBadDefinitions) {
  Card card(CardModel::Older());
  EXPECT_EQ(card.Execute("DEFINE GATHER 999999").error, 3);  // more than the card holds
  EXPECT_EQ(card.Execute("LIST GATHER").lines, Lines{});     // nothing defined
  Type(card, {"I21=" + std::to_string(0x400000), "I20=1", "DEF GAT", "GAT"});
  card.AdvanceServo(2);
  Type(card, {"DELETE GATHER"});
  card.AdvanceServo(2);
  EXPECT_EQ(card.Execute("LIST GAT").lines, Lines{});
  EXPECT_EQ(FirstLine(card, "RY$F20"), "0");
  Type(card, {"DEL GAT", "ENDG"});
}

}  // namespace
}  // namespace zimo::cardsim
