// The checks of entered numbers as a student meets them (beep, message,
// refusal), the card limits they ask for, the user units with their display
// and the status captions of the connected plant.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "labprog/checks.h"
#include "labprog/units.h"
#include "platform/message.h"
#include "recording_fakes.h"

namespace zimo::labprog {
namespace {

// Records each box, and where it came among the beeps.
class OrderedBoxes : public platform::MessageService {
 public:
  OrderedBoxes(platform::MessageRecorder& boxes, std::vector<std::string>& events)
      : boxes_(boxes), events_(events) {}
  int Show(std::string_view text, std::string_view caption, uint32_t flags) override {
    events_.push_back("box");
    return boxes_.Show(text, caption, flags);
  }

 private:
  platform::MessageRecorder& boxes_;
  std::vector<std::string>& events_;
};

class ChecksTest : public ::testing::Test {
 protected:
  ChecksTest() {
    platform::SetMessageService(&ordered_);
    program_.Config.UserUnits = "counts";
    program_.Config.UnitsScaleFactor = 1;
  }
  ~ChecksTest() override { platform::SetMessageService(nullptr); }

  // The one box of a refused value, after its beep.
  void ExpectRefused(const std::string& text, const char* title) {
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.last()->text, text);
    EXPECT_EQ(boxes_.last()->caption, title);
    EXPECT_EQ(boxes_.last()->flags, platform::kMbOk | platform::kMbIconError);
    EXPECT_EQ(windows_.events, std::vector<std::string>({"beep", "box"}));
    EXPECT_EQ(link_.LastLinkStatus, platform::kIdOk);
  }
  void Reset() {
    boxes_.Clear();
    windows_.beeps = 0;
    windows_.events.clear();
    link_.LastLinkStatus = 0;
    link_.sent.clear();
  }

  platform::MessageRecorder boxes_;
  testing::RecordingCommandPath link_;
  testing::RecordingShellWindows windows_;
  LabProgram program_{link_, windows_};
  OrderedBoxes ordered_{boxes_, windows_.events};
};

TEST_F(ChecksTest, FixedLimitsAcceptTheRangeAndRefuseWithTheMaximumShown) {
  EXPECT_FALSE(CheckValueInRange(program_, -0.5f, 10, 5));
  ExpectRefused("This value must be between 0 and 10.", "Invalid Number");
  Reset();
  EXPECT_TRUE(CheckValueInRange(program_, 10, 10, 5));
  EXPECT_TRUE(CheckValueInRange(program_, 0, 10, 5));
  EXPECT_TRUE(CheckValueInRange(program_, 2.5f, 2.75f, 5));
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_EQ(windows_.beeps, 0);
  EXPECT_FALSE(CheckValueInRange(program_, 3, 2.75f, 5));
  ExpectRefused("This value must be between 0 and 2.75", "Invalid Number");
  Reset();
  EXPECT_TRUE(CheckValueInRange(program_, 32767, 0, 3));
  EXPECT_FALSE(CheckValueInRange(program_, 32768, 0, 3));
  ExpectRefused("This value must be between 0 and 32767.", "Invalid Number");
  Reset();
  // Kind 4: a limit in counts, compared in user units.
  program_.Config.UserUnits = "mm";
  program_.Config.UnitsScaleFactor = 1000;
  EXPECT_TRUE(CheckValueInRange(program_, 50.8f, 2000, 4));
  EXPECT_FALSE(CheckValueInRange(program_, 51, 2000, 4));
  ExpectRefused("This value must be between 0 and 50.8", "Invalid Number");
  EXPECT_TRUE(link_.sent.empty());
}

TEST_F(ChecksTest, CardLimitsAreAskedForOnline) {
  link_.OnlineFlag = -1;
  link_.replies["P74"] = "150";
  EXPECT_TRUE(CheckValueInRange(program_, 150, 74, 0));
  EXPECT_EQ(link_.sent, std::vector<std::string>({"P74"}));
  EXPECT_EQ(link_.ReplyText, "150");
  link_.sent.clear();
  EXPECT_FALSE(CheckValueInRange(program_, 151, -74, 0));
  EXPECT_EQ(link_.sent, std::vector<std::string>({"P74"}));
  ExpectRefused("This value must be between 0 and 150.", "Invalid Number");
  Reset();
  // Kind 1: DAC counts to volts.
  link_.replies["P21"] = "32760";
  EXPECT_TRUE(CheckValueInRange(program_, 10, 21, 1));
  EXPECT_FALSE(CheckValueInRange(program_, 10.5f, 21, 1));
  ExpectRefused("This value must be between 0 and 10.", "Invalid Number");
  Reset();
  // A number beyond any Single bounds nothing.
  link_.replies["P57"] = "1E99";
  EXPECT_TRUE(CheckValueInRange(program_, 3e38f, 57, 0));
  EXPECT_EQ(boxes_.count(), 0u);
  link_.sent.clear();
  // Kind 2: counts in user units.
  program_.Config.UserUnits = "mm";
  program_.Config.UnitsScaleFactor = 1000;
  link_.replies["P11"] = "2000";
  EXPECT_FALSE(CheckValueInRange(program_, 60, 11, 2));
  EXPECT_EQ(link_.sent, std::vector<std::string>({"P11"}));
  ExpectRefused("This value must be between 0 and 50.8", "Invalid Number");
}

// Offline nothing is asked: the number in the reply text as it last stood
// is the limit, also for a value the card never gave.
TEST_F(ChecksTest, OfflineCardLimitsTakeTheNumberTheReplyTextLastHeld) {
  struct Case {
    int kind;
    const char* reply_text;
    float accepted;
    float refused;
    const char* message;
  };
  const Case cases[] = {
      {0, "150", 150, 150.5f, "This value must be between 0 and 150."},
      {1, "32760", 10, 10.5f, "This value must be between 0 and 10."},
      {2, "2000", 50.8f, 51, "This value must be between 0 and 50.8"},
      {0, "", 0, 0.5f, "This value must be between 0 and 0."},
      {1, "abc", 0, 1, "This value must be between 0 and 0."},
  };
  program_.Config.UserUnits = "mm";
  program_.Config.UnitsScaleFactor = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.reply_text);
    Reset();
    link_.ReplyText = c.reply_text;
    EXPECT_TRUE(CheckValueInRange(program_, c.accepted, 74, c.kind));
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_FALSE(CheckValueInRange(program_, c.refused, 74, c.kind));
    ExpectRefused(c.message, "Invalid Number");
    EXPECT_TRUE(link_.sent.empty());
    EXPECT_EQ(link_.ReplyText, c.reply_text);
  }
}

TEST_F(ChecksTest, TextBoundsRefuseBelowAndAboveWithTheBoundShown) {
  EXPECT_FALSE(CheckTextBounds(program_, "5", "Segment time", 10, 1000));
  ExpectRefused("Segment time must be larger than 10", "Bad Value");
  Reset();
  EXPECT_FALSE(CheckTextBounds(program_, "1001", "Segment time", 10, 1000));
  ExpectRefused("Segment time must be smaller than 1000", "Bad Value");
  Reset();
  EXPECT_FALSE(CheckTextBounds(program_, "abc", "Segment time", 10, 1000));
  ExpectRefused("Segment time must be larger than 10", "Bad Value");
  Reset();
  EXPECT_FALSE(CheckTextBounds(program_, "0.0001", "Sample period", 0.000884f, 1));
  ExpectRefused("Sample period must be larger than .000884", "Bad Value");
  Reset();
  for (const char* text : {"10", "1000", " 5 00", "50ms"}) {
    EXPECT_TRUE(CheckTextBounds(program_, text, "Segment time", 10, 1000)) << text;
  }
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_EQ(windows_.beeps, 0);
}

TEST_F(ChecksTest, UserUnitsConvertShowAndInvert) {
  struct Case {
    const char* unit;
    double user;  // 2000 counts at 1000 counts per unit
    int16_t decimals;
    const char* shown;
  };
  const Case cases[] = {
      {"counts", 2000, 0, "2000"},    {"inches", 2, 3, "2.000"},
      {"cm", 5.08, 3, "5.080"},       {"mm", 50.8, 2, "50.80"},
      {"degrees", 720, 3, "720.000"}, {"radians", 12.566370614, 4, "12.5664"},
      {"furlongs", 2000, 0, "2000"},  {"MM", 2000, 0, "2000"},
  };
  ExperimentConfiguration& c = program_.Config;
  c.UnitsScaleFactor = 1000;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.unit);
    c.UserUnits = k.unit;
    const double user = CountsToUserUnits(c, 2000);
    EXPECT_NEAR(user, k.user, 1e-9);
    EXPECT_EQ(UnitDecimalPlaces(c), k.decimals);
    EXPECT_EQ(FormatUserUnits(c, static_cast<float>(user)), k.shown);
    EXPECT_NEAR(UserUnitsToCounts(c, user), 2000, 1e-9);
    EXPECT_NEAR(UserUnitsToCounts(c, k.user), 2000, 1e-9);
  }
  c.UserUnits = "counts";
  EXPECT_EQ(FormatUserUnits(c, 2.5f), "3");  // whole, halves rounded away from 0
  EXPECT_EQ(FormatUserUnits(c, 3.5f), "4");
}

TEST_F(ChecksTest, StatusCaptionsFollowThePlantOfTheLastConnection) {
  program_.ApparatusTag = "3";
  program_.Config.ApparatusCode = 3;
  SetStatusPanelCaptions(program_);
  StatusPanelCaptions encoders;
  encoders.Cmd = " Command 1 Pos:";
  encoders.Pos[0] = " Encoder 1 Pos:";
  encoders.Pos[1] = " Encoder 2 Pos:";
  encoders.Pos[2] = " Encoder 3 Pos:";
  encoders.FE[0] = " Command 2 Pos:";
  encoders.FE[1] = " Control Effort 2:";
  encoders.FE[2] = " Encoder 1 Vel:";
  ASSERT_EQ(windows_.panel_captions.size(), 1u);
  EXPECT_EQ(windows_.panel_captions[0], encoders);

  program_.ApparatusTag = "11";
  program_.Config.ApparatusCode = 11;
  SetStatusPanelCaptions(program_);
  StatusPanelCaptions sensors = encoders;
  sensors.Pos[0] = " Sensor 1 Pos:";
  sensors.Pos[1] = " Sensor 2 Pos:";
  sensors.SensorCalibrationEnabled = true;
  EXPECT_EQ(windows_.panel_captions.back(), sensors);
}

}  // namespace
}  // namespace zimo::labprog
