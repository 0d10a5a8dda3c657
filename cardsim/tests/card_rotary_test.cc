// The card's binary rotary buffers: units decoded from their bits (the
// hand-written hex of the command format), expression statements, systems
// running their rings through the DPR, the USB and Ethernet puts with their
// scripted answers, the host-side records, the binary rotary mode and the
// motion log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cardsim/attach_requests.h"
#include "cardsim/attach_usb.h"
#include "cardsim/card.h"
#include "cardsim/rotary_control.h"
#include "cardsim/rotary_statement.h"
#include "cardsim/rotary_units.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

uint64_t U(uint16_t w0, uint16_t w1 = 0, uint16_t w2 = 0, uint16_t w3 = 0) {
  return uint64_t{w0} | (uint64_t{w1} << 16) | (uint64_t{w2} << 32) | (uint64_t{w3} << 48);
}

// An expression statement written by hand: `header` (12 or 24 bits wide),
// then the stream `bits` ("0101...", blanks ignored) left-aligned from
// bit 47, 36 bits in every further unit behind a 12-bit header of the same
// kind; bit 5 in the last unit.
std::vector<uint64_t> Statement(uint32_t header, int width, std::string bits) {
  std::erase(bits, ' ');
  std::vector<uint64_t> units;
  uint64_t unit = header;
  int bit = 47;
  int floor = width;
  for (char b : bits) {
    if (bit < floor) {
      units.push_back(unit);
      unit = header & 0x1F;  // the kind, no block start
      bit = 47;
      floor = 12;
    }
    if (b == '1') unit |= uint64_t{1} << bit;
    --bit;
  }
  units.push_back(unit | (1u << 5));
  return units;
}

std::string Bits(uint32_t v, int width) {
  std::string s;
  for (int i = width - 1; i >= 0; --i) s += ((v >> i) & 1u) ? '1' : '0';
  return s;
}

// Constant units (opcode 31): 3 = 0.75 x 2^2, e = 30.
uint64_t Constant(double v) {
  if (v == 0) return 31u << 6;
  int e = 0;
  const double m = std::frexp(std::fabs(v), &e);
  uint64_t mant = static_cast<uint64_t>(std::ldexp(m, 35)) & ((uint64_t{1} << 36) - 1);
  if (v < 0) mant = ~mant & ((uint64_t{1} << 36) - 1);
  return (mant << 12) | (31u << 6) | static_cast<uint64_t>(e + 28);
}
// A word unit the same way (opcode = word code).
uint64_t Word(int code, double v, bool block_start = false) {
  return (Constant(v) & ~(uint64_t{31} << 6)) | (static_cast<uint64_t>(code) << 6) |
         (block_start ? 1u << 11 : 0u);
}

// ---- Units -------------------------------------------------------------------

TEST(RotaryUnits, UnitsDecodeToTheirCanonicalText) {
  struct Case {
    uint64_t unit;
    bool spran;
    std::string text;
    bool block_start;
  };
  const Case cases[] = {
      {U(0x0E20, 0, 0x5000), false, "X10", true},
      {U(0x0E00), false, "X0", true},
      {U(0xFE1D, 0xFFFF, 0xBFFF), false, "X-1", true},
      {U(0x0F80, 0x0001), false, "LINEAR", true},
      {U(0x0780, 0x0009), false, "RAPID", false},
      {U(0x0780, 0x0006), true, "BLOCK START", false},
      // TA100: 100 = 0.78125 x 2^7, e = 35, short mantissa 0x640000 in bits 24-47.
      {U(0x0723, 0x0000, 0x6400), false, "TA100", false},
      // DWELL 250 (time code 68 in bits 17-23): 250 = 0.9765625 x 2^8, e = 36,
      // the top 24 bits 0x7D0000 of the 36-bit mantissa (its sign bit 0).
      {U(0x0724, 0x0088, 0x7D00), false, "DWELL250", false},
      // PLC lists: kind in bits 12-15, mask from bit 16.
      {U(0x0781, 0x002E), false, "ENABLE PLC 1,2,3,5", false},
      {U(0x1781, 0x0001, 0x0000), false, "DISABLE PLC 0", false},
      {U(0x3781, 0x0000, 0x8000), false, "DISABLE PLCC 31", false},
      // ABS(X,Y): axis mask 0xA000 from bit 29.
      {U(0x0782, 0x0000, 0x1400), false, "ABS(X,Y)", false},
      // INC without a list: the nine axes 0x2AAAA.
      {U(0x0782, 0x4001, 0x5555), false, "INC", false},
      // FRAX(X): the mask shifted right by one (0x1000) from bit 31.
      {U(0x0782, 0x0002, 0x0800), false, "FRAX(X)", false},
      // HOME: older cards bits 24-31, SPRAN bits 16-47.
      {U(0x0783, 0x0500), false, "HOME 1,3", false},
      {U(0x0786, 0x0000, 0x0001), true, "HOMEZ 17", false},
      // Counts: CIRCLE 2; a count of 0 travels as 1024 (older) or 8192 (SPRAN).
      {U(0x0780, 0x0200, 0x0000), false, "CIRCLE 2", false},
      {U(0x0780, 0x000D, 0x0004), false, "AROTATE 0", false},
      {U(0x0780, 0x000D, 0x0020), true, "AROTATE 0", false},
      {U(0x0780, 0x000D, 0x0020), false, "AROTATE 8192", false},
      {U(0x06C0), false, "CALL0", false},
  };
  for (const Case& c : cases) {
    const rotary::Item item = rotary::DecodeUnit(c.unit, c.spran);
    EXPECT_EQ(rotary::ItemText(item), c.text) << rotary::UnitHex(c.unit);
    EXPECT_EQ(item.block_start, c.block_start) << c.text;
  }
}

TEST(RotaryUnits, UnitsThatMeanNothingAreInvalid) {
  for (uint64_t unit : {U(0x0380),                  // word code 14 (N)
                        U(0x0700, 0x0000, 0x0000),  // opcode 28, time code 0 is TA: valid
                        U(0x0740),                  // opcode 29
                        U(0x0787),                  // command kind 7
                        U(0x0780, 0x0012),          // count command kind 18
                        U(0x0782, 0x8000),          // ABS with a bit that names no axis
                        U(0x001D)}) {               // statement kind 29
    const rotary::Item item = rotary::DecodeUnit(unit, false);
    if (unit == U(0x0700)) {
      EXPECT_EQ(item.kind, rotary::Item::Kind::kTimeWord);
      continue;
    }
    EXPECT_EQ(item.kind, rotary::Item::Kind::kInvalid) << rotary::UnitHex(unit);
  }
}

TEST(RotaryUnits, FramesAndJumps) {
  // IF frame over 2 units; WHILE frame; jumps back of 16 (older) and 20
  // (SPRAN) bits.
  EXPECT_EQ(rotary::ItemText(rotary::DecodeUnit(uint64_t{0x200002} << 24, false)), "IF FRAME 2");
  EXPECT_EQ(rotary::ItemText(rotary::DecodeUnit(uint64_t{0x300005} << 24, true)), "WHILE FRAME 5");
  EXPECT_EQ(rotary::DecodeUnit(uint64_t{0xFFF9} << 24, false).jump, -7);
  EXPECT_EQ(rotary::DecodeUnit(uint64_t{0xFFFF9} << 24, true).jump, -7);
  EXPECT_EQ(rotary::DecodeUnit(uint64_t{0xFFFF9} << 24, false).kind, rotary::Item::Kind::kInvalid);
  EXPECT_EQ(rotary::DecodeUnit(0, false).kind, rotary::Item::Kind::kEmpty);
}

// ---- Statements --------------------------------------------------------------

std::string Decode(const std::vector<uint64_t>& units, bool spran, size_t* used = nullptr) {
  rotary::Statement st;
  std::string why;
  const auto r = rotary::DecodeStatement(
      [&](size_t k, uint64_t* u) {
        if (k >= units.size()) return false;
        *u = units[k];
        return true;
      },
      spran, &st, &why);
  if (r != rotary::DecodeResult::kDone) return "FAILED " + why;
  if (used != nullptr) *used = st.units;
  return rotary::StatementText(st);
}

// Stream pieces: a variable read (older 14 bits, SPRAN 17), a constant.
std::string Var(int type, int n, bool spran) {
  return "10" + Bits(type, 2) + Bits(n, spran ? 13 : 10);
}
const std::string kConst = "11";

TEST(RotaryStatements, StreamsDecodeToTheirText) {
  // Older "P1=P2": w0 0x682E, w1 0, w2 0x5005.
  EXPECT_EQ(Decode({U(0x682E, 0x0000, 0x5005)}, false), "P1=P2");
  // SPRAN "P1=P2+3": 17-bit header (P = 2, n 1, minus 0), P2, "+", constant, end.
  {
    auto units =
        Statement(14 | 1u << 11, 12,
                  "0" + Bits(2, 2) + Bits(1, 13) + "0" + Var(2, 2, true) + "0000" + kConst + "1");
    units.push_back(Constant(3));
    size_t used = 0;
    EXPECT_EQ(Decode(units, true, &used), "P1=P2+3");
    EXPECT_EQ(used, 3u);  // two stream units and the constant
  }
  // Older "M5&=P1*-2": M operator 2 in the 24-bit header; a negative constant.
  {
    auto units = Statement(15 | 1u << 11 | 2u << 12 | 5u << 14, 24,
                           "0" + Var(2, 1, false) + "0010" + kConst + "1");
    units.push_back(Constant(-2));
    EXPECT_EQ(Decode(units, false), "M5&=P1*-2");
  }
  // "IF(P1>0)": minus 0, P1, ">" (18), constant, ")", end.
  {
    auto units = Statement(30 | 1u << 11, 12, "0" + Var(2, 1, false) + "10010" + kConst + "11");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], (uint64_t{0x50032F} << 24) | 0x83E);
    units.push_back(Constant(0));
    EXPECT_EQ(Decode(units, false), "IF(P1>0)");
  }
  // "WHILE(P1<3 AND -P2!=Q7)" on SPRAN: "<" 20, AND with minus 11, "!=" 24.
  {
    auto units = Statement(31, 12,
                           "0" + Var(2, 1, true) + "10100" + kConst + "1011" + Var(2, 2, true) +
                               "11000" + Var(3, 7, true) + "11");
    units.push_back(Constant(3));
    EXPECT_EQ(Decode(units, true), "WHILE(P1<3 AND -P2!=Q7)");
  }
  // Indirect "P(P1+1)=SIN(-Q2)" (12-bit header, also on older cards):
  // 1, type 2, minus 0; P1 + const; ")"; "="; SIN("(-") Q2 ")"; end.
  for (bool spran : {false, true}) {
    auto units = Statement(14, 12,
                           "1" + Bits(2, 2) + "0" + Var(2, 1, spran) + "0000" + kConst + "1" + "0" +
                               "01" + Bits(9, 5) + Var(3, 2, spran) + "1" + "1");
    units.push_back(Constant(1));
    EXPECT_EQ(Decode(units, spran), "P(P1+1)=SIN(-Q2)") << spran;
  }
  // Word expression "X((P1+2)/2)": no end bit; its own ")" ends it.
  {
    auto units = Statement(
        24, 12, "0" + ("000"s + Var(2, 1, false) + "0000" + kConst + "1") + "0011" + kConst + "1");
    units.push_back(Constant(2));
    units.push_back(Constant(2));
    EXPECT_EQ(Decode(units, false), "X((P1+2)/2)");
  }
  // Time word expression "TM(P5)": 24-bit header with time code 67 in bits 17-23.
  EXPECT_EQ(Decode(Statement(28 | 67u << 17, 24, "0" + Var(2, 5, true) + "1"), true), "TM(P5)");
}

TEST(RotaryStatements, StatementsLongerThanOneUnitAndBrokenStreams) {
  // "P1=P2+P3+P4" on older cards: 1 + 3 x 14 + 2 x 4 + 1 bits over 24 + 36.
  auto units = Statement(
      14 | 2u << 12 | 1u << 14, 24,
      "0" + Var(2, 2, false) + "0000" + Var(2, 3, false) + "0000" + Var(2, 4, false) + "1");
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(Decode(units, false), "P1=P2+P3+P4");
  // Bit 5 in the first unit ends the statement too early.
  auto early = units;
  early[0] |= 1u << 5;
  EXPECT_EQ(Decode(early, false).rfind("FAILED", 0), 0u);
  // Bits left after the end bit.
  EXPECT_EQ(Decode({U(0x682E, 0x0100, 0x5005)}, false).rfind("FAILED", 0), 0u);
  // A constant unit missing behind its statement.
  EXPECT_EQ(Decode({Statement(14 | 2u << 12, 24, "0" + kConst + "1")[0], U(0x0E20)}, false),
            "FAILED statement without its constant");
}

// ---- Running rings ------------------------------------------------------------

// A card with descriptor `buffer` set up for a ring of `size` words at DPR
// byte 0x1200, system buffer + 1 with motor 1 as X, and the rotary mode on.
class RotaryRingTest : public ::testing::TestWithParam<bool> {
 protected:
  RotaryRingTest() : card_(GetParam() ? CardModel::Spran() : CardModel::Older()) {}

  bool spran() const { return GetParam(); }
  size_t Desc(int buffer) const {
    if (spran()) return 0x1050 + 12 * buffer;
    return buffer < 2 ? 0x7DC + 20 * buffer : 0x7F0 + 12 * buffer;
  }
  void SetUpRing(int buffer, uint16_t size, size_t ring_byte = 0x1200) {
    Memory& m = card_.memory();
    const size_t d = Desc(buffer);
    m.SetDprWord(d + 2, static_cast<uint16_t>(buffer + 1));
    m.SetDprWord(d + 4, 0);
    m.SetDprWord(d + 6, 0);
    m.SetDprWord(d + 8, size);
    const uint32_t word = static_cast<uint32_t>(ring_byte / 4);
    m.SetDprWord(d + 10, static_cast<uint16_t>(spran() ? word - 0x450 : m.dpr_card_base() + word));
    rings_[buffer] = ring_byte;
  }
  void ModeOn() { Type({spran() ? "CLOSE OPEN BIN ROT" : "I57=1"}); }
  void Type(const Lines& lines) {
    for (const std::string& line : lines) EXPECT_EQ(card_.Execute(line).error, 0) << line;
  }
  // The host's side of a ring put, written here by hand: the words, then the
  // host index.
  bool Put(int buffer, const std::vector<uint64_t>& units) {
    Memory& m = card_.memory();
    const size_t d = Desc(buffer);
    const uint32_t size = m.DprWord(d + 8);
    uint32_t host = m.DprWord(d + 4);
    const uint32_t card = m.DprWord(d + 6);
    int64_t room = static_cast<int64_t>(card) - (host + 4) % size;
    if (room < 0) room += size;
    if (room < static_cast<int64_t>(2 * units.size())) return false;
    for (uint64_t u : units) {
      for (uint32_t half : {static_cast<uint32_t>(u), static_cast<uint32_t>(u >> 32)}) {
        m.SetDprDword(rings_[buffer] + 4 * host, half);
        host = (host + 1) % size;
      }
    }
    m.SetDprWord(d + 4, static_cast<uint16_t>(host));
    return true;
  }
  uint16_t CardIndex(int buffer) { return card_.memory().DprWord(Desc(buffer) + 6); }
  void Run(int cycles = 10) { card_.AdvanceServo(cycles); }

  Card card_;
  std::map<int, size_t> rings_;
};

TEST_P(RotaryRingTest, RunningSystemReadsItsRingAndAStoppedOneLeavesItFull) {
  SetUpRing(0, 20);
  ModeOn();
  Type({"#1->X", "&1B0"});
  // P10..P13 = 1..4, assignments with a constant each: eight units fill
  // the ring of 20 words (four always stay free).
  std::vector<uint64_t> units;
  for (int i = 0; i < 4; ++i) {
    auto st = spran() ? Statement(14 | 1u << 11, 12,
                                  "0" + Bits(2, 2) + Bits(10 + i, 13) + "0" + kConst + "1")
                      : Statement(14 | 1u << 11 | 2u << 12 | static_cast<uint32_t>(10 + i) << 14,
                                  24, "0" + kConst + "1");
    units.insert(units.end(), st.begin(), st.end());
    units.push_back(Constant(i + 1));
  }
  ASSERT_TRUE(Put(0, units));
  EXPECT_FALSE(Put(0, {U(0x0F80, 1)}));  // full
  Run(5);
  EXPECT_EQ(CardIndex(0), 0);  // not running: nothing read
  EXPECT_TRUE(card_.MotionLog().empty());
  Type({"&1R"});
  Run(2);
  EXPECT_EQ(CardIndex(0), 16);
  EXPECT_EQ(card_.PVar(10), 1);
  EXPECT_EQ(card_.PVar(13), 4);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 P10=1", "&1 P11=2", "&1 P12=3", "&1 P13=4"}));
  // Room again; the next put wraps around the ring's end.
  ASSERT_TRUE(Put(0, {U(0x0F80, 1), Word(24, 10)}));
  Run(200);
  EXPECT_EQ(CardIndex(0), 0);
  EXPECT_EQ(card_.MotionLog().back(), "&1 X10");
  EXPECT_NEAR(card_.MotorCommandedPosition(1), 10, 1e-6);
}

TEST_P(RotaryRingTest, NothingIsReadWhileTheBinaryModeIsOff) {
  SetUpRing(0, 50);
  Type({"#1->X", "&1B0R"});
  ASSERT_TRUE(Put(0, {U(0x0F80, 1)}));
  Run(5);
  EXPECT_EQ(CardIndex(0), 0);
  ModeOn();
  Run(1);
  EXPECT_EQ(CardIndex(0), 2);
  EXPECT_EQ(card_.MotionLog(), Lines{"&1 LINEAR"});
}

TEST_P(RotaryRingTest, BufferNFeedsSystemNPlusOne) {
  SetUpRing(0, 50, 0x1200);
  SetUpRing(2, 50, 0x1400);
  ModeOn();
  Type({"#1->X", "&1B0R", "&3#2->Y", "&3B0R"});
  ASSERT_TRUE(Put(2, {U(0x0781, 0x0028)}));  // ENABLE PLC 3,5 in system 3
  ASSERT_TRUE(Put(0, {U(0x0780, 0x0009)}));  // RAPID in system 1
  Run(1);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 RAPID", "&3 ENABLE PLC 3,5"}));
  EXPECT_EQ(card_.PlcEnabled(), 0x28u);
  ASSERT_TRUE(Put(2, {U(0x1781, 0x0008)}));
  Run(1);
  EXPECT_EQ(card_.PlcEnabled(), 0x20u);
  // System 1 reports rapid mode (second word bit 1).
  EXPECT_EQ(card_.CoordStatusText(1).substr(11), "2");
}

// The IF example line "IF(P1>0)X10": condition, its constant, the frame
// over the body, X10 and the zero unit.
std::vector<uint64_t> IfLine(bool spran) {
  std::vector<uint64_t> line =
      Statement(30 | 1u << 11, 12, "0" + Var(2, 1, spran) + "10010" + kConst + "11");
  line.push_back(Constant(0));
  line.push_back(uint64_t{0x200002} << 24);
  line.push_back(Word(24, 10));
  line.push_back(0);
  return line;
}

TEST_P(RotaryRingTest, IfFramesPassOverTheBodyWhenTheConditionFails) {
  SetUpRing(0, 100);
  ModeOn();
  Type({"#1->X", "&1B0R", "P1=0"});
  ASSERT_TRUE(Put(0, IfLine(spran())));
  ASSERT_TRUE(Put(0, {U(0x0F80, 1)}));
  Run(2);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 IF(P1>0)", "&1 LINEAR"}));
  Type({"P1=1"});
  ASSERT_TRUE(Put(0, IfLine(spran())));
  Run(300);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 IF(P1>0)", "&1 LINEAR", "&1 IF(P1>0)", "&1 X10"}));
  EXPECT_NEAR(card_.MotorCommandedPosition(1), 10, 1e-6);
}

TEST_P(RotaryRingTest, WhileFramesRepeatTheBody) {
  // "WHILE(P1<3)P1=P1+1": the condition and its constant (S = 0), the frame
  // (B = 2), the assignment and its constant (U units so far), the jump back
  // by S - U - 1.
  SetUpRing(0, 100);
  ModeOn();
  Type({"#1->X", "&1B0R", "P1=0"});
  std::vector<uint64_t> line =
      Statement(31 | 1u << 11, 12, "0" + Var(2, 1, spran()) + "10100" + kConst + "11");
  line.push_back(Constant(3));
  auto body =
      spran()
          ? Statement(
                14, 12,
                "0" + Bits(2, 2) + Bits(1, 13) + "0" + Var(2, 1, true) + "0000" + kConst + "1")
          : Statement(14 | 2u << 12 | 1u << 14, 24, "0" + Var(2, 1, false) + "0000" + kConst + "1");
  ASSERT_EQ(body.size(), spran() ? 2u : 1u);
  const uint32_t u = static_cast<uint32_t>(3 + body.size() + 1);
  line.push_back(uint64_t{0x300000 + u - 2} << 24);
  line.insert(line.end(), body.begin(), body.end());
  line.push_back(Constant(1));
  const uint32_t mask = spran() ? 0xFFFFF : 0xFFFF;
  line.push_back(uint64_t{(0u - u - 1) & mask} << 24);
  ASSERT_EQ(line.size(), u + 1);
  ASSERT_TRUE(Put(0, line));
  ASSERT_TRUE(Put(0, {U(0x0F80, 1)}));
  Run(2);
  EXPECT_EQ(card_.PVar(1), 3);
  EXPECT_EQ(card_.MotionLog(),
            (Lines{"&1 WHILE(P1<3)", "&1 P1=P1+1", "&1 WHILE(P1<3)", "&1 P1=P1+1", "&1 WHILE(P1<3)",
                   "&1 P1=P1+1", "&1 WHILE(P1<3)", "&1 LINEAR"}));
  EXPECT_EQ(CardIndex(0), 2 * (u + 2));
}

TEST_P(RotaryRingTest, AUnitThatDoesNotDecodeStopsTheSystemWithARunTimeError) {
  SetUpRing(0, 50);
  ModeOn();
  Type({"#1->X", "&1B0R"});
  ASSERT_TRUE(Put(0, {U(0x0740), U(0x0F80, 1)}));
  Run(2);
  EXPECT_EQ(card_.MotionLog(), Lines{"&1 ERROR unknown opcode 000000000740"});
  EXPECT_EQ(card_.CoordStatusText(1).substr(0, 6), "000000");  // stopped
  EXPECT_EQ(card_.CoordStatusText(1)[6], '4');                 // bit 22: run-time error
  Type({"&1R"});
  Run(1);
  EXPECT_EQ(card_.MotionLog().back(), "&1 LINEAR");
}

TEST_P(RotaryRingTest, MovesOfOneBlockRunTogetherAndIncrementalAxesAdd) {
  SetUpRing(0, 100);
  ModeOn();
  Type({"#1->X", "#2->Y", "&1B0R"});
  // "TM100 X10 Y20", then "INC(X) X5 Y5", then "DWELL 50".
  ASSERT_TRUE(Put(0, {U(0x0F23, 0x0086, 0x6400), Word(24, 10), Word(25, 20)}));
  Run(1);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 TM100", "&1 X10", "&1 Y20"}));
  ASSERT_TRUE(Put(0, {U(0x0F82, 0x0001, 0x0400), Word(24, 5), Word(25, 5)}));
  Run(static_cast<int>(400 / (card_.IVarValue(10) / 8388608.0)));
  EXPECT_NEAR(card_.MotorCommandedPosition(1), 15, 1e-6);
  EXPECT_NEAR(card_.MotorCommandedPosition(2), 5, 1e-6);
  EXPECT_EQ(card_.MotionLog().size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Generations, RotaryRingTest, ::testing::Bool());

// ---- Binary rotary mode ---------------------------------------------------------

TEST(RotaryMode, SpranOpensTheBinaryBufferWithOpenBinRot) {
  Card card(CardModel::Spran());
  EXPECT_EQ(card.Execute("CLOSE OPEN BIN ROT").error, 0);
  // ^G: second word bit 18 (the eighth digit 4); lines still run.
  EXPECT_EQ(card.Control('\x07').lines.at(0).substr(6, 2), "04");
  EXPECT_EQ(card.Execute("P5=7").error, 0);
  EXPECT_EQ(card.PVar(5), 7);
  EXPECT_EQ(card.Execute("CLOSE").error, 0);
  EXPECT_EQ(card.Control('\x07').lines.at(0).substr(6, 2), "00");
}

TEST(RotaryMode, OlderCardsOpenTheBinaryBufferWhileI57IsSet) {
  Card card(CardModel::Older());
  for (const char* line : {"CLOSE", "i57=1", "OPEN ROT", "P5=7"}) {
    EXPECT_EQ(card.Execute(line).error, 0) << line;
  }
  EXPECT_EQ(card.PVar(5), 7);  // run, not stored
  EXPECT_EQ(card.Control('\x07').lines.at(0).substr(6, 2), "04");
  for (const char* line : {"CLOSE", "i57=0", "OPEN ROT", "P5=9"}) {
    EXPECT_EQ(card.Execute(line).error, 0) << line;
  }
  EXPECT_EQ(card.PVar(5), 7);  // stored in the text rotary buffer
  EXPECT_EQ(card.ProgramBuffer("ROT").value(), Lines{"P5=9"});
  EXPECT_EQ(card.Control('\x07').lines.at(0).substr(6, 2), "04");
  EXPECT_EQ(card.Execute("CLOSE").error, 0);
  EXPECT_EQ(card.Control('\x07').lines.at(0).substr(6, 2), "00");
}

// ---- Ports ---------------------------------------------------------------------

std::string Le16(uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(static_cast<uint16_t>(v)) + Le16(static_cast<uint16_t>(v >> 16));
}
uint32_t FromLe32(const std::string& s) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s.at(i));
  return v;
}
// A staged command: byte count, then two 32-bit words per unit.
std::string Staged(const std::vector<uint64_t>& units) {
  std::string s = Le16(static_cast<uint16_t>(8 * units.size()));
  for (uint64_t u : units)
    s += Le32(static_cast<uint32_t>(u)) + Le32(static_cast<uint32_t>(u >> 32));
  return s;
}
// A host-side record: n, 32-bit word count, 0x80, b2 b1 b0 b5 b4 b3 per unit.
std::string Record(int n, const std::vector<uint64_t>& units) {
  std::string s{static_cast<char>(n), static_cast<char>(2 * units.size()), '\x80'};
  for (uint64_t u : units) {
    for (int b : {2, 1, 0, 5, 4, 3}) s += static_cast<char>((u >> (8 * b)) & 0xFF);
  }
  return s;
}

class RotaryPortsTest : public RotaryRingTest {};

TEST_P(RotaryPortsTest, EthernetTellsStagedCommandsFromHostSideRecords) {
  // Both forms of "LINEAR" arrive as 0xC8 for buffer 0: staged 08 00 80 0F ...,
  // records 00 02 80 01 0F 80 ...
  SetUpRing(0, 50);
  ModeOn();
  Type({"#1->X", "&1B0R"});
  RequestServer server(card_, 0);
  auto put = [&](const std::string& payload) {
    return FromLe32(server
                        .Handle(RequestHeader{request::kHostToCard, request::kRotaryPut, 0, 0,
                                              static_cast<uint16_t>(payload.size())},
                                payload)
                        .bytes);
  };
  const std::string staged = Staged({U(0x0F80, 1)});
  const std::string record = Record(0, {U(0x0F80, 1)});
  ASSERT_EQ(staged, "\x08\x00\x80\x0F\x01\x00\x00\x00\x00\x00"s);
  ASSERT_EQ(record, "\x00\x02\x80\x01\x0F\x80\x00\x00\x00"s);
  EXPECT_EQ(put(staged), 10u);  // code 0, 10 bytes taken into the ring
  EXPECT_EQ(card_.memory().DprWord(Desc(0) + 4), 2);
  EXPECT_EQ(put(record), 9u);  // the records, kept by the card
  EXPECT_EQ(card_.memory().DprWord(Desc(0) + 4), 2);
  Run(1);
  // Host-side records run before the ring.
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 LINEAR", "&1 LINEAR"}));
  EXPECT_EQ(CardIndex(0), 2);
  // A record for system 3 (buffer 2).
  Type({"&3#2->Y", "&3B0R"});
  EXPECT_EQ(put(Record(2, {U(0x0780, 0x0009)})), 9u);
  Run(1);
  EXPECT_EQ(card_.MotionLog().back(), "&3 RAPID");
}

TEST_P(RotaryPortsTest, ScriptedStagedAnswers) {
  SetUpRing(0, 100);
  UsbAttachment port(card_);
  auto put = [&](const std::string& staged) {
    port.Control(UsbSetup{usb_request::kVendor, usb_request::kRotaryPut, 0, 0,
                          static_cast<uint16_t>(staged.size())},
                 staged);
    return FromLe32(port.Control(UsbSetup{usb_request::kIn | usb_request::kVendor,
                                          usb_request::kRotaryStatus, 0, 0, 4},
                                 "")
                        .data);
  };
  const std::string two = Staged({U(0x0F80, 1)}) + Staged({U(0x0780, 9)});
  // Code 3 on every third send, taking the whole commands within 12 bytes.
  card_.ScriptRotaryAnswer(3, 12, 3, -1);
  EXPECT_EQ(put(two), 20u);
  EXPECT_EQ(put(two), 20u);
  EXPECT_EQ(put(two), (3u << 16) | 10u);  // the first command only
  EXPECT_EQ(put(two), 20u);
  EXPECT_EQ(card_.memory().DprWord(Desc(0) + 4), 14);
  // Codes 1 and 2 take nothing.
  card_.ScriptRotaryAnswer(1, 0, 1, 1);
  EXPECT_EQ(put(two), 1u << 16);
  card_.ScriptRotaryAnswer(2, 0, 1, 1);
  EXPECT_EQ(put(two), 2u << 16);
  EXPECT_EQ(put(two), 20u);  // the script is used up
  // The descriptor's error bit answers code 2 as well.
  card_.SetRotaryBufferError(0, true);
  EXPECT_EQ(card_.memory().DprWord(Desc(0)) & 0x8000, 0x8000);
  EXPECT_EQ(put(two), 2u << 16);
  card_.SetRotaryBufferError(0, false);
  EXPECT_EQ(put(two), 20u);
}

TEST_P(RotaryPortsTest, UsbPipeTwoCarriesHostSideRecords) {
  ModeOn();
  Type({"#1->X", "&1B0R"});
  UsbAttachment port(card_);
  ASSERT_EQ(port.Control(UsbSetup{0, 9, 1, 0, 0}, "").handshake, UsbHandshake::kAck);  // configure
  auto ready = [&] {
    return port
        .Control(UsbSetup{usb_request::kIn | usb_request::kVendor, usb_request::kHostRotaryReady, 0,
                          0, 1},
                 "")
        .data;
  };
  EXPECT_EQ(ready(), "\x01"s);
  // Two records, then the three zero bytes that end a packet.
  const std::string packet =
      Record(0, {U(0x0F80, 1)}) + Record(0, {U(0x0781, 0x0002), U(0x0780, 9)}) + "\0\0\0"s;
  EXPECT_EQ(port.Transfer(UsbAttachment::kRotaryOut, packet, 0).handshake, UsbHandshake::kAck);
  Run(1);
  EXPECT_EQ(card_.MotionLog(), (Lines{"&1 LINEAR", "&1 ENABLE PLC 1", "&1 RAPID"}));
  // A record cut across two transfers is kept until its end comes.
  const std::string split = Record(0, {U(0x0F80, 1)});
  port.Transfer(UsbAttachment::kRotaryOut, split.substr(0, 5), 0);
  Run(1);
  EXPECT_EQ(card_.MotionLog().size(), 3u);
  port.Transfer(UsbAttachment::kRotaryOut, split.substr(5) + "\0\0\0"s, 0);
  Run(1);
  EXPECT_EQ(card_.MotionLog().size(), 4u);
  // A stopped system keeps its records; with no room left the card is not ready.
  Type({"&1A"});
  card_.SetHostRotaryCapacity(1366);  // the units of one full packet
  port.Transfer(UsbAttachment::kRotaryOut, Record(0, {U(0x0F80, 1)}) + "\0\0\0"s, 0);
  EXPECT_EQ(ready(), "\x00"s);
  // 0xE8 empties the card's reception; ready again.
  port.Control(UsbSetup{usb_request::kVendor, usb_request::kHostRotaryReset, 20, 0, 0}, "");
  EXPECT_EQ(ready(), "\x01"s);
  Type({"&1R"});
  Run(1);
  EXPECT_EQ(card_.MotionLog().size(), 4u);
  // Scripted refusals: every second ready request.
  card_.ScriptHostRotaryRefusal(2, -1);
  EXPECT_EQ(ready(), "\x01"s);
  EXPECT_EQ(ready(), "\x00"s);
  EXPECT_EQ(ready(), "\x01"s);
}

TEST_P(RotaryPortsTest, TestCommandsScriptAnswersAndReadTheLogs) {
  SetUpRing(0, 100);
  ModeOn();
  Type({"#1->X", "&1B0R"});
  auto run = [&](const Lines& words) {
    auto r = RunRotaryControl(card_, words);
    EXPECT_TRUE(r.has_value());
    return r.value_or(RotaryControlResult{false, {"not a rotary command"}});
  };
  EXPECT_FALSE(RunRotaryControl(card_, {"mute", "on"}).has_value());
  EXPECT_TRUE(run({"rotary-answer", "3:10", "1", "0"}).ok);
  const std::string two = Staged({U(0x0F80, 1)}) + Staged({U(0x0780, 9)});
  EXPECT_EQ(card_.RotaryPutStaged(0, two), (3u << 16) | 10u);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 1u << 16);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 20u);
  EXPECT_TRUE(run({"rotary-answer", "every", "2", "2"}).ok);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 20u);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 2u << 16);
  EXPECT_TRUE(run({"rotary-answer", "off"}).ok);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 20u);
  EXPECT_FALSE(run({"rotary-answer", "every", "0", "3"}).ok);
  EXPECT_FALSE(run({"rotary-answer", "3:x"}).ok);
  Run(1);
  EXPECT_EQ(run({"motion-log"}).lines, (Lines{"&1 LINEAR", "&1 LINEAR", "&1 RAPID", "&1 LINEAR",
                                              "&1 RAPID", "&1 LINEAR", "&1 RAPID"}));
  EXPECT_TRUE(run({"clear-motion-log"}).ok);
  EXPECT_TRUE(card_.MotionLog().empty());
  card_.HostRotaryData("\x00\x02\x80"s);
  EXPECT_EQ(run({"host-rotary"}).lines, Lines{"000280"});
  EXPECT_TRUE(run({"rotary-error", "0", "on"}).ok);
  EXPECT_EQ(card_.RotaryPutStaged(0, two), 2u << 16);
  EXPECT_FALSE(run({"rotary-error", "8", "on"}).ok);
}

INSTANTIATE_TEST_SUITE_P(Generations, RotaryPortsTest, ::testing::Bool());

}  // namespace
}  // namespace zimo::cardsim
