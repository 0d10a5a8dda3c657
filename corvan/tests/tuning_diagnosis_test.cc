// Why a motor or a coordinate system does not move: the questions asked,
// in order, for each card generation; each finding at its limit; the texts
// of a mask; and the diagnosis on the simulated card, both generations,
// with a second process that must wait for the diagnosis to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/tuning_api.h"
#include "temp_home.h"
#include "tuning/diagnosis.h"
#include "tuning_scripted_path.h"

#if __has_include("cardsim/attach_pty.h")
#define DIAGNOSIS_TEST_WITH_CARD 1
#include "cardsim/motors.h"
#include "corvan/device_api.h"
#include "platform/process.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using testing::TuningPath;
using Lines = std::vector<std::string>;

// A scripted card that also tells how deep the device lock was held when
// each line went out.
class LockedPath : public TuningPath {
 public:
  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    depth.push_back(depth_);
    return TuningPath::GetResponseEx(device, buffer, size, command);
  }
  void Lock(int) override { ++depth_; }
  void Unlock(int) override { --depth_; }
  void Set(int number, const std::string& value) {
    Reply("I" + std::to_string(number), value + "\r");
  }
  // I-variables base + offset, each with its value.
  void Set(int base, std::initializer_list<std::pair<int, const char*>> values) {
    for (const auto& [offset, value] : values) Set(base + offset, value);
  }

  std::vector<int> depth;
  int depth_ = 0;
};

// A working motor: type 2 addresses on the older cards, type 6 on the newer.
void WorkingMotor(LockedPath& p, int motor, bool spran) {
  const int n = motor * 100;
  p.Set(spran ? n + 92 : 12, "10");
  p.Set(n, {{0, "1"},
            {2, spran ? "$78002" : "$C002"},
            {3, spran ? "$3501" : "$721"},
            {7, "96"},
            {8, "96"},
            {11, "32000"},
            {16, "32"},
            {17, "0.5"},
            {19, "0.25"},
            {20, "50"},
            {21, "50"},
            {22, "32"},
            {30, "2048"},
            {67, "4194304"},
            {69, "32767"}});
  p.Reply("%", "100\r");
  p.Reply("?", "802000000001\r");
}

// A working coordinate system with motor 1 on its X axis.
void WorkingSystem(LockedPath& p, int system, bool spran) {
  const int s = (spran ? 5000 : 0) + system * 100;
  p.Set(10, "3713707");
  p.Set(11, "10");
  p.Set(spran ? s + 13 : 13, "10");
  p.Set(s, {{87, "10"}, {88, "0"}, {89, "1000"}, {90, "1000"}, {94, "1644"}, {96, "0"}});
  p.Reply("%", "100\r");
  p.Reply("pc", "P1:0\r");
  char ry[16];
  std::snprintf(ry, sizeof ry, "ry$%x", 2072 + 192 * (system - 1));
  p.Reply(ry, "1\r");
  p.Reply("#", "#5\r");
  p.Reply("&", "&" + std::to_string(system) + "\r");
  for (int c = 1; c <= 16; ++c)
    p.Reply("&" + std::to_string(c) + "#1->", c == system ? "X\r" : "0\r");
  p.Reply("??", "000000020000\r");
}

const Lines kOlderMotor1 = {"CLOSE", "I12",  "I100", "I102", "I103", "I107", "I108",
                            "I111",  "I116", "I117", "I119", "I120", "I121", "I122",
                            "I130",  "I167", "I169", "%",    "#1",   "?"};
const Lines kSpranMotor3 = {"CLOSE", "I392", "I300", "I302", "I303", "I307", "I308",
                            "I311",  "I316", "I317", "I319", "I320", "I321", "I322",
                            "I330",  "I367", "I369", "%",    "#3",   "?"};

TEST(MotorDiagnosis, AsksItsQuestionsInOrderUnderOneLock) {
  LockedPath older;
  WorkingMotor(older, 1, false);
  EXPECT_EQ(tuning::WhyMotorNotMoving(older, 0, 2, false, 1), 0u);
  EXPECT_EQ(older.sent, kOlderMotor1);
  EXPECT_EQ(older.depth, std::vector<int>(kOlderMotor1.size(), 1));
  EXPECT_EQ(older.depth_, 0);

  LockedPath spran;
  WorkingMotor(spran, 3, true);
  spran.Set(302, "$78012");  // motor 3's output: B + $12 on a type 6 card
  EXPECT_EQ(tuning::WhyMotorNotMoving(spran, 0, 6, true, 3), 0u);
  EXPECT_EQ(spran.sent, kSpranMotor3);
}

TEST(MotorDiagnosis, EachFindingAtItsLimit) {
  struct Case {
    const char* command;
    const char* reply;
    std::uint32_t status;
    std::uint32_t mask;
  };
  const std::uint32_t E = kStatusCardError;
  const std::uint32_t A = kStatusAck;
  const Case cases[] = {
      {"I12", "9", A, 0x1},
      {"I100", "0", A, 0x2},
      {"I102", "$C004", A, 0},  // the type 2 card's second output of a channel
      {"I102", "$C003", A, 0x4},
      {"I102", "$1C03A", A, 0},  // the low 16 bits count
      {"I103", "$73F", A, 0},
      {"I103", "$740", A, 0x8},
      {"I107", "0", A, 0x10},
      {"I107", "1001", A, 0x20},
      {"I108", "0", A, 0x40},
      {"I108", "1001", A, 0x80},
      {"I111", "0", A, 0},
      {"I111", "1599", A, 0x100},
      {"I111", "-5", A, 0x100},
      {"I111", "1600", A, 0},
      {"I116", "0.0009", A, 0x200},
      {"I116", "\aERR003", E, 0x200},  // a failed text read is 0
      {"I117", "0", A, 0x400},
      {"I117", "0.0005", A, 0x800},
      {"I117", "\aERR003", E, 0x400},
      {"I119", "0", A, 0x1000},
      {"I119", "0.0005", A, 0x2000},
      {"I119", "\aERR003", E, 0x1000},
      {"I120", "60001", A, 0x4000},
      {"I121", "60001", A, 0x8000},
      {"I121", "60000", A, 0},
      {"I122", "0.0009", A, 0x10000},
      {"I122", "\aERR003", E, 0x10000},
      {"I130", "2000", A, 0x20000},
      {"I130", "2001", A, 0},
      {"I167", "9599", A, 0x40000},
      {"I169", "8191", A, 0x80000},
      {"%", "10", A, 0x100000},
      {"%", "10.5", A, 0},
      {"%", "\aERR003", E, 0x100000},
      {"?", "A02000000001", A, 0x200000},
      {"?", "C02000000001", A, 0x400000},
      {"?", "842000000001", A, 0x800000},
      {"?", "802000000004", A, 0x1000000},
      {"?", "802000000008", A, 0x4000000},
      {"?", "802000000020", A, 0x8000000},
      {"?", "802000000040", A, 0x10000000},
      {"?", "802000000800", A, 0x20000000},
      {"?", "A02000000800", A, 0x20200000},  // soft limit beside the positive one
      {"?", "C02000000800", A, 0x400000},    // not beside the negative one
      {"?", "842000000800", A, 0x800000},    // nor with the loop open
      {"?", "80", A, 0},                     // a short reply holds no status
      {"?", "\aERR003", E, 0},
  };
  for (const auto& c : cases) {
    LockedPath p;
    WorkingMotor(p, 1, false);
    p.Reply(c.command, std::string(c.reply) + "\r", c.status);
    EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, 2, false, 1), c.mask)
        << c.command << " = " << c.reply;
  }
}

TEST(MotorDiagnosis, AddressTablesByCardType) {
  struct Case {
    int type;
    bool spran;
    const char* i102;
    const char* i103;
    std::uint32_t mask;
  };
  const Case cases[] = {
      {1, false, "$C003", "$720", 0},    {1, false, "$C004", "$720", 0x4},
      {2, false, "$C03C", "$720", 0},    {2, false, "$C044", "$720", 0x4},
      {3, false, "$C0BD", "$720", 0},    {3, false, "$C0C0", "$720", 0x4},
      {3, false, "$C0A0", "$71F", 0x8},  {5, true, "$7A30B", "$3520", 0},
      {5, true, "$7A30C", "$3521", 0xC}, {6, true, "$7931A", "$3501", 0},
      {6, true, "$7931B", "$3500", 0xC}, {7, true, "$79428", "$3502", 0},
      {7, true, "$7942A", "$3503", 0xC}, {7, true, "$7B43C", "$3540", 0},
      {7, true, "$7B440", "$3542", 0xC}, {8, true, "$7B31A", "$3520", 0},
      {8, true, "$7801A", "$3520", 0x4}, {9, true, "$0", "$0", 0},  // type 9: no tables
      {4, false, "$0", "$720", 0},
  };
  for (const auto& c : cases) {
    LockedPath p;
    WorkingMotor(p, 1, c.spran);
    p.Set(102, c.i102);
    p.Set(103, c.i103);
    EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, c.type, c.spran, 1), c.mask)
        << "type " << c.type << " " << c.i102 << " " << c.i103;
  }
}

TEST(MotorDiagnosis, MotorsOutOfRangeAskNothing) {
  for (auto [spran, motor] : {std::pair{false, 0}, {false, 9}, {true, 0}, {true, 33}}) {
    LockedPath p;
    EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, spran ? 6 : 2, spran, motor), 0x2000000u);
    EXPECT_TRUE(p.sent.empty());
  }
  LockedPath p;
  WorkingMotor(p, 32, true);
  p.Set(3202, "$7A31A");
  p.Set(3203, "$3520");
  EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, 6, true, 32), 0u);
}

TEST(MotorDiagnosis, ASilentCardReadsAsZeros) {
  LockedPath p;
  p.SilentAfter(0);
  EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, 1, false, 1), 0x1F165Fu);
  EXPECT_EQ(p.depth_, 0);
}

// A link that dies part way: the question that found no answer is the
// last one asked, and every later one reads as unanswered (the findings of
// zeros and of missing status words).
TEST(MotorDiagnosis, StopsAskingAtTheFirstLostExchange) {
  struct Case {
    int answered;
    std::uint32_t mask;
  };
  // After I103: Ix07, Ix08, Ix16, Ix17, Ix19, Ix22, Ix30, Ix67, Ix69 and %
  // read as 0; the status words bring no bits.
  for (const Case& c : {Case{0, 0x1F165Fu}, Case{5, 0x1F1650u}}) {
    SCOPED_TRACE(c.answered);
    LockedPath p;
    WorkingMotor(p, 1, false);
    p.SilentAfter(c.answered);
    EXPECT_EQ(tuning::WhyMotorNotMoving(p, 0, 2, false, 1), c.mask);
    EXPECT_EQ(p.sent, Lines(kOlderMotor1.begin(), kOlderMotor1.begin() + c.answered + 1));
    EXPECT_EQ(p.depth_, 0);
  }
}

TEST(SystemDiagnosis, StopsAskingAtTheFirstLostExchange) {
  LockedPath p;
  WorkingSystem(p, 2, true);
  p.SilentAfter(13);  // the motor search's first question finds no answer
  EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, true, 2), 0x800u);
  EXPECT_EQ(p.sent, (Lines{"CLOSE", "&2", "I10", "I11", "I5213", "I5287", "I5288", "I5289",
                           "I5290", "I5294", "I5296", "%", "pc", "&"}));
  EXPECT_EQ(p.depth_, 0);

  LockedPath older;
  WorkingSystem(older, 2, false);
  older.SilentAfter(0);
  EXPECT_EQ(tuning::WhyCSNotMoving(older, 0, false, 2), 0x2AA3u);
  EXPECT_EQ(older.sent, Lines{"CLOSE"});
  EXPECT_EQ(older.depth_, 0);
}

const Lines kOlderSystem2 = {
    "CLOSE",  "&2", "I10", "I11", "I13", "I287", "I288", "I289", "I290", "I294", "I296", "%", "pc",
    "ry$8d8", "#",  "#1",  "#2",  "#3",  "#4",   "#5",   "#6",   "#7",   "#8",   "??",   "#5"};

TEST(SystemDiagnosis, OlderFormAsksInOrderAndPutsTheMotorBack) {
  LockedPath p;
  WorkingSystem(p, 2, false);
  EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, false, 2), 0u);
  EXPECT_EQ(p.sent, kOlderSystem2);
  EXPECT_EQ(p.depth, std::vector<int>(kOlderSystem2.size(), 1));
  EXPECT_EQ(p.depth_, 0);
}

TEST(SystemDiagnosis, SpranFormFindsItsMotorsAndAsksStatusLastOutsideTheLock) {
  LockedPath p;
  WorkingSystem(p, 2, true);
  p.Reply("&2#1->", "0\r");  // motor 1 elsewhere; motor 2 has Y here
  p.Reply("&3#1->", "X\r");
  p.Reply("&1#2->", "0\r");
  p.Reply("&2#2->", " 1000 Y\r");
  EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, true, 2), 0u);
  Lines expected = {"CLOSE",  "&2",    "I10",   "I11",    "I5213",  "I5287", "I5288",  "I5289",
                    "I5290",  "I5294", "I5296", "%",      "pc",     "&",     "&1#1->", "&2#1->",
                    "&3#1->", "&2",    "&",     "&1#2->", "&2#2->", "&2",    "??"};
  EXPECT_EQ(p.sent, expected);
  std::vector<int> depth(expected.size(), 1);
  for (std::size_t i = 13; i + 1 < expected.size(); ++i) depth[i] = 2;  // the definition search
  depth.back() = 0;
  EXPECT_EQ(p.depth, depth);
  EXPECT_EQ(p.depth_, 0);
}

TEST(SystemDiagnosis, EachFindingAtItsLimit) {
  struct Case {
    bool spran;
    const char* command;
    const char* reply;
    std::uint32_t status;
    std::uint32_t mask;
  };
  const std::uint32_t E = kStatusCardError;
  const std::uint32_t A = kStatusAck;
  const Case cases[] = {
      {false, "I11", "9", A, 0x1},
      {false, "I13", "0", A, 0x2},
      {false, "I13", "101", A, 0x4},
      {false, "I187", "60001", A, 0x8},
      {false, "I188", "60001", A, 0x10},
      {false, "I189", "0.9", A, 0x20},
      {false, "I189", "\aERR003", E, 0x20},
      {false, "I190", "1000001", A, 0x40},
      {false, "I194", "249", A, 0x80},
      {false, "I196", "0", A, 0},
      {false, "I196", "4.9", A, 0x100},
      {false, "I196", "5", A, 0},
      {false, "I196", "\aERR003", E, 0},
      {false, "%", "10", A, 0x200},
      {false, "pc", "\aERR015", E, 0x400},
      {false, "ry$818", "0", A, 0x800},
      {false, "ry$818", "-8388608", A, 0},  // motor 8's field: the top bits
      {false, "ry$818", "\aERR003", E, 0x800},
      {false, "I10", "249999", A, 0x2000},
      {false, "??", "000000820000", A, 0x4000},
      {false, "??", "400000020000", A, 0x8000},
      {false, "??", "000000420000", A, 0},  // older cards: word 1 bit 22
      {false, "??", "000000220000", A, 0x10000},
      {false, "??", "000000120000", A, 0x20000},
      {false, "??", "0000000A0000", A, 0x40000},
      {false, "??", "000000060000", A, 0x80000},
      {true, "I5113", "0", A, 0x2},
      {true, "I13", "0", A, 0},  // the newer cards read Isx13
      {true, "I5196", "4.9", A, 0x100},
      {true, "??", "000000420000", A, 0x8000},
      {true, "??", "400000020000", A, 0},
  };
  for (const auto& c : cases) {
    LockedPath p;
    WorkingSystem(p, 1, c.spran);
    p.Reply(c.command, std::string(c.reply) + "\r", c.status);
    EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, c.spran, 1), c.mask)
        << (c.spran ? "newer " : "older ") << c.command << " = " << c.reply;
  }
  // A text read that fails counts as 0, never as the text before it.
  LockedPath p;
  WorkingSystem(p, 1, false);
  p.Set(189, "2000000");
  p.Reply("I190", "\aERR003\r", E);
  EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, false, 1), 0u);
}

TEST(SystemDiagnosis, SystemsOutOfRangeAskNothing) {
  for (auto [spran, system] : {std::pair{false, 0}, {false, 9}, {true, 0}, {true, 17}}) {
    LockedPath p;
    EXPECT_EQ(tuning::WhyCSNotMoving(p, 0, spran, system), 0x1000u);
    EXPECT_TRUE(p.sent.empty());
  }
}

TEST(CoordinateSystemDefinition, FirstSystemWithAnAxisAndTheOneAddressedBack) {
  char text[256];
  LockedPath p;
  p.Reply("&", "&4\r");
  p.Reply("&1#3->", "0\r");
  p.Reply("&2#3->", "\aERR003\r", kStatusCardError);
  p.Reply("&3#3->", " 1000 X + 50\r");
  EXPECT_EQ(tuning::GetCoordSysDef(p, 0, false, 3, text), 3);
  EXPECT_STREQ(text, "1000X+50");
  EXPECT_EQ(p.sent, (Lines{"&", "&1#3->", "&2#3->", "&3#3->", "&4"}));

  // No system has it: the search runs to the last system of the generation.
  LockedPath none;
  none.Reply("&", "&1\r");
  EXPECT_EQ(tuning::GetCoordSysDef(none, 0, true, 20, text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(none.sent.size(), 18u);
  EXPECT_EQ(none.sent[16], "&16#20->");
  EXPECT_EQ(none.sent[17], "&1");

  // A dead link is no definition (and nothing is put back).
  LockedPath dead;
  dead.SilentAfter(0);
  EXPECT_EQ(tuning::GetCoordSysDef(dead, 0, false, 1, text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(dead.sent.size(), 9u);

  for (auto [spran, motor] : {std::pair{false, 0}, {false, 9}, {true, 33}}) {
    LockedPath p2;
    EXPECT_EQ(tuning::GetCoordSysDef(p2, 0, spran, motor, text), 0);
    EXPECT_STREQ(text, "Invalid Motor Number Specified in iGetCoordSysDef");
    EXPECT_TRUE(p2.sent.empty());
  }
}

TEST(DiagnosisTexts, LowestFindingPicksTheText) {
  struct Case {
    const char* (*text)(std::uint32_t);
    std::uint32_t mask;
    const char* expected;
  };
  const Case cases[] = {
      {whyMotorNotMovingString, 0, "No motor error found."},
      {whyMotorNotMovingStringSPRAN, 0, "No motor error found."},
      {whyCSNotMovingString, 0, "No motor error found."},
      {whyCSNotMovingStringSPRAN, 0, "No motor error found."},
      {whyMotorNotMovingString, 0x40,
       "  Fault: Motor Position Scale Factor (I%d08) CANNOT be set to 0.\n\n"},
      {whyMotorNotMovingString, 0x30,
       "  Fault: Master Scale Factor (I%d07) CANNOT be set to 0.\n\n"},
      {whyMotorNotMovingString, 0x1,
       "Warning: Jog-to-Postition Calculation Time (I12) may be set too low.\n    I12 is currently "
       "set to %ld msec.\n\n"},
      {whyMotorNotMovingStringSPRAN, 0x1,
       "Warning: Jog-to-Postition Calculation Time (Ixx92) may be set too low.\n    Ixx92 is "
       "currently set to %ld msec.\n\n"},
      {whyMotorNotMovingString, 0x200000,
       "  Fault: Motor #%d has run into the positive position limit.\n    Your positive software "
       "limit (I%d13) is set at %ld.\n\n"},
      {whyMotorNotMovingString, 0x2000000, "  Fault: Invalid Motor Number Chosen.\n\n"},
      {whyMotorNotMovingStringSPRAN, 0x2000000, "  Fault: Invalid Motor Number Chosen.\n\n"},
      {whyMotorNotMovingString, 0x4000000, "  Fault: Amplifier Fault"},
      {whyMotorNotMovingStringSPRAN, 0x4000000, "  Fault: Amplifier Fault"},
      {whyMotorNotMovingString, 0x8000000, "  Fault: I^2 Amplifier Fault"},
      {whyMotorNotMovingString, 0x10000000, "  Fault: Integrated Fatal Following Error"},
      {whyMotorNotMovingString, 0x20000000,
       "  Fault: Soft (I-variable, not digital input) position limit exceeded"},
      {whyMotorNotMovingStringSPRAN, 0x30000000, "  Fault: Integrated Fatal Following Error"},
      {whyCSNotMovingString, 0x400 | 0x800,
       "  Fault: Your program pointer is NOT pointing to any program.\n    Use, for example, B1 "
       "to point to the start of program 1.\n\n"},
      {whyCSNotMovingStringSPRAN, 0x400,
       " Fault: Your program pointer is NOT pointing to any program.\n    Use, for example, B1 "
       "to point to the start of program 1.\n\n"},
      {whyCSNotMovingString, 0x1000,
       "Unable to determine potential cause(s) of problem.\n    Be sure your motors & encoders "
       "are connected properly and that\n    you have voltage on the voltage regulators' outputs "
       "for the DACs.\n\n"},
      {whyCSNotMovingString, 0x4000, "Warning: Feedrate hold implemented using the '\\' command"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.text(c.mask), c.expected) << std::hex << c.mask;
}

#ifdef DIAGNOSIS_TEST_WITH_CARD

using namespace zimo::corvan::testing;

constexpr char kChildRole[] = "ZIMO_DIAGNOSIS_TEST_CHILD";
constexpr char kTrigger[] = "ZIMO_DIAGNOSIS_TEST_TRIGGER";

cardsim::CardModel TypeOne() {
  cardsim::CardModel model = cardsim::CardModel::Older();
  model.type = 1;
  model.type_text = "ZIMO1";
  model.hex_address_ivars = false;
  return model;
}

class DiagnosisCard : public ::testing::Test {
 protected:
  void Start(cardsim::CardModel model) {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    card_->card().script().ClearLog();
  }
  void TearDown() override { Stop(); }
  void Stop() {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    card_.reset();
  }
  void Type(const Lines& lines) {
    char reply[256];
    for (const auto& line : lines) ZimoGetResponseA(0, reply, 255, line.c_str());
  }
  cardsim::Card& card() { return card_->card(); }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

struct Generation {
  const char* name;
  cardsim::CardModel (*model)();
  int motors;
  int base;  // of the coordinate-system I-variables
};
const Generation kGenerations[] = {
    {"older", cardsim::CardModel::Older, 8, 0},
    {"newer", cardsim::CardModel::Spran, 32, 5000},
};

TEST_F(DiagnosisCard, AFreshCardFindsNothingButProgramAndMotors) {
  for (const auto& g : kGenerations) {
    SCOPED_TRACE(g.name);
    Start(g.model());
    for (int m = 1; m <= g.motors; ++m) {
      const std::uint32_t mask = whyMotorNotMoving(0, m);
      EXPECT_EQ(mask, 0u) << "motor " << m;
      EXPECT_STREQ(whyMotorNotMovingString(mask), "No motor error found.");
    }
    // No program pointed to, no motor in the system.
    EXPECT_EQ(whyCSNotMoving(0, 1), 0xC00u);
    Type({"&1#1->X", "OPEN PROG 1 CLR", "X100", "CLOSE", "&1B1"});
    EXPECT_EQ(whyCSNotMoving(0, 1), 0u);
    EXPECT_EQ(whyCSNotMoving(0, 2), 0xC00u);
    Stop();
  }
}

TEST_F(DiagnosisCard, SettingsAtTheirLimitsBothGenerations) {
  struct Case {
    const char* set;  // printf: %d is a system I-variable's number
    const char* undo;
    int xx;  // which one: Isxx of system 1
    std::uint32_t motor;
    std::uint32_t system;
  };
  const Case cases[] = {
      {"I108=0", "I108=96", 0, 0x40, 0},
      {"I111=0", "I111=32000", 0, 0, 0},
      {"I111=1599", "I111=32000", 0, 0x100, 0},
      {"I111=-5", "I111=32000", 0, 0x100, 0},
      {"I130=2000", "I130=2048", 0, 0x20000, 0},
      {"I130=2001", "I130=2048", 0, 0, 0},
      {"&1%%10", "&1%%100", 0, 0x100000, 0x200},
      {"I%d=4.9", "I%d=0", 96, 0, 0x100},
      {"I%d=5", "I%d=0", 96, 0, 0},
      {"I%d=0.5", "I%d=1000", 89, 0, 0x20},
  };
  for (const auto& g : kGenerations) {
    Start(g.model());
    Type({"&1#1->X", "OPEN PROG 1 CLR", "X100", "CLOSE", "&1B1"});
    for (const auto& c : cases) {
      char set[32], undo[32];
      std::snprintf(set, sizeof set, c.set, g.base + 100 + c.xx);
      std::snprintf(undo, sizeof undo, c.undo, g.base + 100 + c.xx);
      Type({set});
      EXPECT_EQ(whyMotorNotMoving(0, 1), c.motor) << g.name << " " << set;
      EXPECT_EQ(whyCSNotMoving(0, 1), c.system) << g.name << " " << set;
      Type({undo});
    }
    EXPECT_EQ(whyMotorNotMoving(0, 1), 0u);
    Stop();
  }
}

TEST_F(DiagnosisCard, StatusFaultsOfMotorsAndSystems) {
  using namespace cardsim::motor_bit;
  for (const auto& g : kGenerations) {
    SCOPED_TRACE(g.name);
    Start(g.model());
    Type({"&1#1->X", "OPEN PROG 1 CLR", "X100", "CLOSE", "&1B1"});
    struct Fault {
      std::uint32_t motor_bits;
      std::uint32_t motor;
      std::uint32_t system;
    };
    const Fault faults[] = {
        {kAmpFault, 0x4000000, 0x20000},
        {kI2TFault, 0x8000000, 0x20000},
        {kIntegratedFollowingError, 0x10000000, 0x40000},
        {kFatalFollowingError, 0x1000000, 0x40000},
        {kWarnFollowingError, 0, 0x80000},
    };
    for (const auto& f : faults) {
      card().SetMotorStatusBits(1, 0, f.motor_bits);
      EXPECT_EQ(whyMotorNotMoving(0, 1), f.motor) << std::hex << f.motor_bits;
      EXPECT_EQ(whyCSNotMoving(0, 1), f.system) << std::hex << f.motor_bits;
    }
    card().SetMotorStatusBits(1, 0, 0);
    EXPECT_STREQ(whyMotorNotMovingString(whyMotorNotMoving(0, 1)), "No motor error found.");

    // Past the software limits: the positive one with the soft-limit bit,
    // the negative one alone.
    Type({"I113=500"});
    card().SetMotorPosition(1, 1000);
    const std::uint32_t past = whyMotorNotMoving(0, 1);
    EXPECT_EQ(past, 0x20200000u);
    EXPECT_STREQ(whyMotorNotMovingString(past),
                 "  Fault: Motor #%d has run into the positive position limit.\n    Your positive "
                 "software limit (I%d13) is set at %ld.\n\n");
    Type({"I113=0", "I114=-500"});
    card().SetMotorPosition(1, -1000);
    EXPECT_EQ(whyMotorNotMoving(0, 1), 0x400000u);
    Type({"I114=0"});
    card().SetMotorPosition(1, 0);

    // System faults: a run-time error (the older cards' first word, the
    // newer cards' second), a circle radius error, a feed hold.
    const bool spran = g.base != 0;
    card().SetCoordStatusBits(1, spran ? 0 : 1u << 22, spran ? 1u << 22 : 0);
    EXPECT_EQ(whyCSNotMoving(0, 1), 0x8000u);
    card().SetCoordStatusBits(1, spran ? 1u << 22 : 0, spran ? 0 : 1u << 22);
    EXPECT_EQ(whyCSNotMoving(0, 1), 0u);
    card().SetCoordStatusBits(1, 0, 1u << 21);
    EXPECT_EQ(whyCSNotMoving(0, 1), 0x10000u);
    card().SetCoordStatusBits(1, 0, 0);
    Type({"&1R", "&1\\"});
    EXPECT_EQ(whyCSNotMoving(0, 1), 0x4000u);
    Type({"&1A"});
    EXPECT_EQ(whyCSNotMoving(0, 1), 0u);
    Stop();
  }
}

TEST_F(DiagnosisCard, MotorsOfASystemAsTheCardShowsThem) {
  Start(cardsim::CardModel::Older());
  Type({"&2#8->1000U", "OPEN PROG 1 CLR", "X100", "CLOSE", "&2B1"});
  EXPECT_EQ(whyCSNotMoving(0, 2), 0u);  // motor 8's field holds the word's top bit
  Type({"#3"});
  card().script().ClearLog();
  EXPECT_EQ(whyCSNotMoving(0, 1), 0xC00u);
  const Lines got = card_->received();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), "#3");  // the motor addressed before is addressed again
  Type({"&2#8->0"});            // in the system without an axis
  EXPECT_EQ(whyCSNotMoving(0, 2), 0x800u);

  char text[256];
  Type({"&5#6->2000Z", "&7"});
  EXPECT_EQ(iGetCoordSysDef(0, 6, text), 5);
  EXPECT_STREQ(text, "2000Z");
  char reply[64];
  ZimoGetResponseA(0, reply, 63, "&");
  EXPECT_EQ(std::string(reply).rfind("&7", 0), 0u) << reply;
}

TEST_F(DiagnosisCard, ATypeOneCardAnsweringEveryLineWithAnError) {
  Start(TypeOne());
  card().script().InjectError(3, -1);
  const std::uint32_t mask = whyMotorNotMoving(0, 1);
  card().script().InjectError(0);
  EXPECT_EQ(mask, 0x1F165Fu);
}

// A muted card: each diagnosis asks its first question, waits out that
// one time-out and asks nothing more.
TEST_F(DiagnosisCard, AMutedCardCostsOneQuestion) {
  for (const auto& g : kGenerations) {
    SCOPED_TRACE(g.name);
    Start(g.model());
    card().script().SetMuted(true);
    card().script().ClearLog();
    whyMotorNotMoving(0, 1);
    auto asked = [&] {
      Lines got;
      // Leaves out the link's own flushes and the settings it restores
      // after a time-out.
      for (const auto& line : card_->received()) {
        if (line != "^X" && line.rfind("I3=2", 0) != 0) got.push_back(line);
      }
      card().script().ClearLog();
      return got;
    };
    EXPECT_EQ(asked(), Lines{"CLOSE"});
    whyCSNotMoving(0, 1);
    EXPECT_EQ(asked(), Lines{"CLOSE"});
    card().script().SetMuted(false);
    Stop();
  }
}

// The second process: opens the card, waits for the trigger file, then
// sends one command.
int RunChild() {
  LibraryClock clock;
  if (OpenZimoDevice(0) != 1) return 10;
  const std::string trigger = std::getenv(kTrigger);
  std::ofstream(trigger + ".ready").put('1');
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(trigger)) {
    if (std::chrono::steady_clock::now() > deadline) return 11;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  char reply[64];
  ZimoGetResponseA(0, reply, 63, "P77=1");
  CloseZimoDevice(0);
  App().End();
  return 0;
}

TEST_F(DiagnosisCard, AnotherProcessWaitsForTheWholeDiagnosis) {
  Start(cardsim::CardModel::Older());
  const std::string trigger = home_.path().string() + "/go";
  platform::SpawnOptions options;
  options.environment.push_back(std::string(kChildRole) + "=1");
  options.environment.push_back(std::string(kTrigger) + "=" + trigger);
  auto child = platform::Spawn({TestProgramPath()}, options);
  ASSERT_TRUE(child.ok());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(trigger + ".ready") &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  card().script().ClearLog();
  // Slow answers: the other process asks while the diagnosis is half done.
  card().script().SetReplyDelay(std::chrono::milliseconds(3), -1);
  std::uint32_t mask = 1;
  std::thread diagnosis([&mask] { mask = whyMotorNotMoving(0, 1); });
  EXPECT_TRUE(card_->Received("I103"));
  std::ofstream(trigger).put('1');
  diagnosis.join();
  auto code = child->Wait();
  card().script().SetReplyDelay(std::chrono::milliseconds(0), 0);
  EXPECT_EQ(mask, 0u);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  const Lines got = card_->received();
  const auto question = std::find(got.begin(), got.end(), "?");
  const auto other = std::find(got.begin(), got.end(), "P77=1");
  ASSERT_NE(question, got.end());
  ASSERT_NE(other, got.end());
  EXPECT_GT(other - got.begin(), question - got.begin());
  EXPECT_EQ(std::find(got.begin(), got.end(), "CLOSE") - got.begin(), 0);
}

#endif  // DIAGNOSIS_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan

int main(int argc, char** argv) {
#ifdef DIAGNOSIS_TEST_WITH_CARD
  if (std::getenv(zimo::corvan::kChildRole) != nullptr) return zimo::corvan::RunChild();
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
