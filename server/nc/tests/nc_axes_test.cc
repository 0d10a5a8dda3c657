// The axes of a controller: reading an axis from the settings, declaring it
// to the card, display formats, positions from the card's shared memory, jog
// and handwheel commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nc/translator/axes.h"
#include "nc/translator/settings_store.h"
#include "nc_fakes.h"
#include "temp_home.h"

namespace zimo::nc {
namespace {

using Lines = std::vector<std::string>;

class NcAxesTest : public ::testing::Test {
 protected:
  NcAxesTest() : settings_(0, 0, "C:\\ZIMO\\ZIMOSERVER.EXE") {}

  void Enable(const std::string& section, uint32_t motor) {
    ASSERT_EQ(settings_.SetLong(section, "Enabled", 1), 0);
    ASSERT_EQ(settings_.SetLong(section, "Motor", motor), 0);
  }
  // Creates the axis in the table and its slot.
  NcAxis& Add(unsigned cs, char letter) {
    NcAxis& a = table_.axes[static_cast<std::size_t>(table_.count)];
    EXPECT_TRUE(InitAxis(card_, settings_, &a, cs, letter));
    const uint32_t code = AxisAddressCode(letter);
    if (code == kSpindleAddress) {
      table_.spindleAxis = table_.count++;
    } else {
      table_.slot[cs][code] = table_.count++;
    }
    return a;
  }

  zimo::testing::TempHome home_;
  NcSettings settings_;
  testing::FakeCardSide card_;
  NcAxisTable table_;
};

TEST_F(NcAxesTest, AxisIsCreatedOnlyWhenEnabledOnAMotorOfTheCard) {
  NcAxis a;
  EXPECT_FALSE(InitAxis(card_, settings_, &a, 0, 'x'));  // nothing stored
  ASSERT_EQ(settings_.SetLong("AxisX0", "Motor", 2), 0);
  EXPECT_FALSE(InitAxis(card_, settings_, &a, 0, 'x'));  // not enabled
  Enable("AxisY0", 8);
  EXPECT_FALSE(InitAxis(card_, settings_, &a, 0, 'Y'));
  Enable("AxisZ0", 0xFFFFFFFFu);
  EXPECT_FALSE(InitAxis(card_, settings_, &a, 0, 'Z'));
  EXPECT_TRUE(card_.commands.empty());

  Enable("AxisX0", 2);
  card_.i_variables[369] = 12000;
  ASSERT_TRUE(InitAxis(card_, settings_, &a, 0, 'x'));
  EXPECT_EQ(a.letter, 'X');
  EXPECT_EQ(a.section, "AxisX0");
  EXPECT_EQ(a.motorNumber, 3u);
  EXPECT_EQ(a.motorIndex, 2u);
  EXPECT_EQ(a.addressCode, 3u);
  EXPECT_EQ(a.outputLimit, 12000);
  EXPECT_EQ(a.displayMm, "1X%9.3f");
  EXPECT_EQ(a.displayInch, "1X%9.4f");
  EXPECT_EQ(a.combinedLetter, 'X');

  Enable("AxisB1", 4);  // the card does not answer for motor 5
  ASSERT_TRUE(InitAxis(card_, settings_, &a, 1, 'B'));
  EXPECT_EQ(a.outputLimit, 32767);
  EXPECT_EQ(a.addressCode, 1u);
  EXPECT_EQ(a.displayDeg, "2B%9.3f");
}

TEST_F(NcAxesTest, AddressCodesOfTheLetters) {
  const std::string letters = "ABCXYZUVWSQ";
  const uint32_t codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 24, 3};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    EXPECT_EQ(AxisAddressCode(letters[i]), codes[i]) << letters[i];
  }
}

TEST_F(NcAxesTest, AxisDefinitionsAndMotorSetUp) {
  Enable("AxisZ0", 2);
  Enable("AxisS0", 3);
  Enable("AxisA1", 0);
  ASSERT_EQ(settings_.SetLong("AxisS0", "isSpindle", 0), 0);  // S is a spindle all the same
  const NcAxis& z = Add(0, 'Z');
  const NcAxis& s = Add(0, 'S');
  const NcAxis& a = Add(1, 'A');
  EXPECT_EQ(s.isSpindle, 1u);

  DefineAxis(card_, z);
  DefineAxis(card_, s);
  DefineAxis(card_, a);
  EXPECT_EQ(card_.commands,
            (Lines{"&1#3->1000.000000Z", "&4#4->1000.000000X", "&2#1->1000.000000A"}));
  EXPECT_EQ(card_.pauses, (std::vector<unsigned>{30, 30, 30}));

  card_.commands.clear();
  SetupAxisMotor(card_, z);
  SetupAxisMotor(card_, a);
  EXPECT_EQ(card_.commands,
            (Lines{"close", "i300=1", "i306=0", "i311=400.000000", "i312=240.000000",
                   "i316=5.000000", "i322=0.083333", "i327=0", "i328=400.000000",
                   "close", "i100=1", "i106=0", "i111=400.000000", "i112=240.000000",
                   "i116=5.000000", "i122=0.083333", "i127=360000.000000", "i128=400.000000"}));

  card_.commands.clear();
  SetAxisMaxSpeed(card_, z, -600.0);
  SetAxisJogSpeed(card_, z, 120.0);
  StopAxisJog(card_, &z);
  StopAxisJog(card_, nullptr);
  EXPECT_EQ(card_.commands, (Lines{"i316=10.000000", "i322=2.000000", "#3J/"}));
}

TEST_F(NcAxesTest, HandwheelScaleIsBoundedAndRecordedInTheChangeRing) {
  Enable("AxisX0", 2);
  const NcAxis& x = Add(0, 'X');
  SetMasterScale(card_, x, 1, 0.0001);
  SetMasterScale(card_, x, 1, 0.01);
  SetMasterScale(card_, x, 0, 0.01);
  const Lines sent{"I307=I308*1.000000", "I307=I308*10.000000", "I307=I308"};
  EXPECT_EQ(card_.commands, sent);
  EXPECT_EQ(card_.changes, sent);
}

TEST_F(NcAxesTest, FormatsAndDisplayedValues) {
  Enable("AxisX0", 0);
  Enable("AxisY0", 1);
  Enable("AxisA0", 3);
  ASSERT_EQ(settings_.SetLong("AxisY0", "metricUnits", 1), 0);
  Add(0, 'X');
  const NcAxis& y = Add(0, 'Y');
  const NcAxis& a = Add(0, 'A');

  std::string text = "unchanged";
  GetAxisFormatText(table_, 0, 'Z', &text, false);
  EXPECT_EQ(text, "unchanged");
  GetAxisFormatText(table_, 0, 'X', &text, false);
  EXPECT_EQ(text, "X%9.4f");
  GetAxisFormatText(table_, 0, 'A', &text, false);
  EXPECT_EQ(text, "A%9.3f");
  unsigned w = 0, d = 0;
  EXPECT_EQ(GetAxisFormatDigits(table_, 0, 'Z', &w, &d, true), 0);
  EXPECT_EQ(GetAxisFormatDigits(table_, 0, 'X', &w, &d, false), 2);
  EXPECT_EQ(w, 9u);
  EXPECT_EQ(d, 4u);

  ASSERT_TRUE(SetAxisFormatDigits(table_, settings_, 0, 'X', 12, 5, true));
  std::string stored;
  EXPECT_EQ(settings_.GetText("AxisX0", "format_mm", &stored, 10, ""), 0);
  EXPECT_EQ(stored, "12.5");
  EXPECT_EQ(table_.axes[0].displayMm, "1X%12.5f");

  // Rotary: the value as given; a metric axis shown while the program is in inch.
  EXPECT_EQ(FormatAxisValue(table_, 0, a, 10.0), "1A   10.000");
  table_.metricInputCode = 21;
  table_.unitsCode[0] = 20;
  EXPECT_EQ(FormatAxisValue(table_, 0, y, 25.4), "1Y   1.0000");
  table_.unitsCode[0] = 21;
  EXPECT_EQ(FormatAxisValue(table_, 0, table_.axes[0], 1.0), "1X    25.40000");
  EXPECT_EQ(FormatAxisValue(table_, 0, y, 1.0), "1Y    1.000");
}

TEST_F(NcAxesTest, PositionsFromTheCard) {
  Enable("AxisA0", 0);
  Enable("AxisX0", 1);
  Enable("AxisZ0", 2);
  Add(0, 'A');
  Add(0, 'X');
  Add(0, 'Z');
  table_.origin[0][kSlotX] = 2.0f;

  card_.dpr[kDprPanelBlock] = 1u << 4;  // automatic mode
  card_.motors[0].net_actual = 370.0;
  card_.motors[0].following = 0.5;
  card_.cs_commanded[{0, 'A'}] = -370.0;
  EXPECT_DOUBLE_EQ(GetAxisPosition(card_, table_, 0, kSlotA, kPosMachine), 10.0);
  EXPECT_DOUBLE_EQ(GetAxisPosition(card_, table_, 0, kSlotA, kPosCommanded), -10.0);
  EXPECT_DOUBLE_EQ(GetAxisPosition(card_, table_, 0, kSlotA, kPosFollowingError), 0.5);
  EXPECT_DOUBLE_EQ(GetAxisPosition(card_, table_, 0, kSlotB, kPosMachine), 0.0);

  // X: bias 1, handwheel 0.5, net 11.5, commanded by the program 14.
  card_.motors[1] = {1.0, 0.5, 11.5, 3.0, 0.0, 0, false};
  card_.cs_commanded[{0, 'X'}] = 14.0;
  card_.motors[2] = {0.0, 0.0, 7.0, 0.0, 0.0, 0, false};
  card_.cs_commanded[{0, 'Z'}] = 8.0;
  table_.machineType = kMachineLathe;
  table_.diameterProgramming = true;
  UpdateAllAxisPositions(card_, table_);
  const NcAxis& x = table_.axes[1];
  EXPECT_DOUBLE_EQ(x.position[kPosMachine], 11.0);
  EXPECT_DOUBLE_EQ(x.position[kPosAbsolute], 23.0);
  EXPECT_DOUBLE_EQ(x.position[kPosRelative], 18.0);
  EXPECT_DOUBLE_EQ(x.position[kPosCommanded], 14.0);
  EXPECT_DOUBLE_EQ(x.position[kPosDistanceToGo], -9.0);
  const NcAxis& z = table_.axes[2];
  EXPECT_DOUBLE_EQ(z.position[kPosAbsolute], 7.0);
  EXPECT_DOUBLE_EQ(z.position[kPosDistanceToGo], 1.0);

  // Manual mode: commanded from the motor plus bias, nothing to go.
  card_.dpr[kDprPanelBlock] = 2u << 4;
  table_.diameterProgramming = false;
  UpdateAxisPosition(card_, table_, 0, kSlotX);
  EXPECT_DOUBLE_EQ(x.position[kPosCommanded], 4.0);
  EXPECT_DOUBLE_EQ(x.position[kPosAbsolute], 11.5);
  EXPECT_DOUBLE_EQ(x.position[kPosRelative], 9.0);
  EXPECT_DOUBLE_EQ(x.position[kPosDistanceToGo], 0.0);
}

TEST_F(NcAxesTest, JogRequestsAndHoming) {
  Enable("AxisX0", 1);
  Enable("AxisS0", 3);
  const NcAxis& x = Add(0, 'X');
  const NcAxis& s = Add(0, 'S');
  const uint32_t jog_word = kDprCommandBlock + 8;

  JogAxis(card_, table_, x, '+');
  EXPECT_EQ(card_.commands, (Lines{"#2J+"}));
  EXPECT_EQ(card_.Dword(jog_word), 1u << 7);
  EXPECT_EQ(table_.commandCopy[2], 1u << 7);

  // The motor moves: no host jog command; the panel already requests '-'.
  card_.motors[1].motion = 1;
  card_.dpr[kDprPanelBlock + 8] = 1u << 8;
  JogAxis(card_, table_, x, '-');
  EXPECT_EQ(card_.commands, (Lines{"#2J+"}));
  EXPECT_EQ(card_.Dword(jog_word), 1u << 7);
  EXPECT_EQ(table_.commandCopy[2], 1u << 7);
  JogAxis(card_, table_, x, '=');
  JogAxis(card_, table_, x, '?');
  EXPECT_EQ(card_.Dword(jog_word), (1u << 7) | (1u << 10));
  EXPECT_EQ(table_.commandCopy[2], (1u << 7) | (1u << 10));

  table_.operationMode = 0;
  card_.motors[1].motion = 0;
  JogAxis(card_, table_, x, '/');
  EXPECT_EQ(card_.commands, (Lines{"#2J+"}));
  EXPECT_EQ(card_.Dword(jog_word), (1u << 7) | (1u << 9) | (1u << 10));

  EXPECT_FALSE(IsAxisHomed(card_, nullptr));
  EXPECT_TRUE(IsAxisHomed(card_, &s));
  EXPECT_FALSE(IsAxisHomed(card_, &x));
  card_.motors[1].homed = true;
  EXPECT_TRUE(IsAxisHomed(card_, &x));
}

TEST_F(NcAxesTest, StatusBitSet) {
  Enable("AxisX0", 1);
  const NcAxis& x = Add(0, 'X');
  struct Case {
    uint32_t servo, status;
    bool older;
    uint32_t bits;
  };
  const Case cases[] = {
      {1u << 23, 1u << 10, false, 0x000},                // active, homed
      {0, 1u << 10, false, 0x001},                       // not activated
      {1u << 23, (1u << 10) | 2u, false, 0x002},         // warning while active
      {0, (1u << 10) | 2u, false, 0x003},                // warning, not activated
      {1u << 23, 0, false, 0x008},                       // not homed
      {(1u << 23) | (1u << 22), (1u << 10) | (1u << 2) | (1u << 3) | (1u << 11), false,
       0x134},                                           // limits, fatal, amplifier fault
      {(1u << 23) | (1u << 21) | (1u << 18) | (1u << 14), (1u << 10) | 0x160, false,
       0x3CC0},  // positive limit, open loop, data block error, raw bits
      {1u << 23, 1u << 10, true, 0x200},                 // older card, amplifier off
      {1u << 23, (1u << 10) | (1u << 14), true, 0x000},  // older card, amplifier on
  };
  for (const Case& c : cases) {
    card_.motors[1].servo_status = c.servo;
    card_.motors[1].motor_status = c.status;
    card_.older_card = c.older;
    EXPECT_EQ(GetAxisStatusBits(card_, x), c.bits) << std::hex << c.servo << " " << c.status;
  }
}

}  // namespace
}  // namespace zimo::nc
