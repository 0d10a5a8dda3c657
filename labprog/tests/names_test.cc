// The texts shown for codes: apparatus captions (and the plant they record),
// trajectory titles by type and loop choice, and the plot signal names with
// their way back to a code.
#include "labprog/names.h"

#include <gtest/gtest.h>

#include <string>

#include "labprog/units.h"
#include "recording_fakes.h"

namespace zimo::labprog {
namespace {

class NamesTest : public ::testing::Test {
 protected:
  testing::RecordingCommandPath link_;
  testing::RecordingShellWindows windows_;
  LabProgram program_{link_, windows_};
};

TEST_F(NamesTest, ApparatusCaptionsByPlantAndAccessoryRecordThePlant) {
  struct Case {
    int16_t code, accessory;
    const char* caption;
  };
  const Case cases[] = {
      {1, 0, " Apparatus:  Torsion Bar Model R-31 (3 disk)"},
      {1, 1, " Apparatus:  Model R-31 (3 disk) with K88"},
      {2, 2, " Apparatus:  Torsion Bar Model R-31 (2 disk)"},
      {2, 1, " Apparatus:  Model R-31 (2 disk) with K88"},
      {3, -1, " Apparatus:  Linear Inertia Model R-32"},
      {3, 1, " Apparatus:  Model R-32 with K88"},
      {4, 1, " Apparatus:  Pendulum Model R-34"},
      {4, 0, " Apparatus:  Pendulum Model R-34"},
      {6, 0, " Apparatus:  Industrial Emulator Model R-33"},
      {6, 1, " Apparatus:  Model R-33 with K88"},
      {10, 0, " Apparatus:  C. M. G. Model R-36"},
      {10, 1, " Apparatus:  Model R-36 with K88"},
      {11, 1, " Apparatus:  Magnetic Levitation Model R-35"},
      {11, 0, " Apparatus:  Magnetic Levitation Model R-35"},
      {5, 0, " Apparatus:  ???"},
      {0, 1, " Apparatus:  ???"},
      {-3, 1, " Apparatus:  ???"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    program_.Config.ApparatusCode = 99;
    EXPECT_EQ(ApparatusCaption(program_, c.code, c.accessory), c.caption);
    EXPECT_EQ(program_.Config.ApparatusCode, c.code);
  }
}

TEST_F(NamesTest, TrajectoryTitlesByTypeAndLoopChoice) {
  struct Case {
    int16_t type;
    int16_t loop;  // written into every loop choice of trajectory 1
    const char* title;
  };
  const Case cases[] = {
      {0, 1, "Open Loop Impulse"},
      {0, 0, "Closed Loop Impulse"},
      {1, 1, "Open Loop Step"},
      {1, 2, "Closed Loop Step"},
      {2, 1, "Closed Loop Ramp"},
      {3, 1, "Closed Loop Parabolic"},
      {4, 1, "Closed Loop Cubic"},
      {5, 1, "Open Loop Sinusoidal"},
      {5, 2, "Closed Loop Sinusoidal"},
      {6, 1, "Open Loop Sine Sweep"},
      {6, -1, "Closed Loop Sine Sweep"},
      {7, 1, "User Defined"},
      {8, 1, ""},
      {-1, 1, ""},
  };
  ExperimentConfiguration& c = program_.Config;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.type);
    c.TrajectoryType = k.type;
    c.Trajectory1.Impulse.ImpulseType = c.Trajectory1.Step.StepType = k.loop;
    c.Trajectory1.Sine.SineType = c.Trajectory1.SineSweep.SineType = k.loop;
    EXPECT_EQ(TrajectoryTitle(c), k.title);
  }
  // Each type reads its own loop choice.
  c.TrajectoryType = 6;
  c.Trajectory1.Sine.SineType = 2;
  c.Trajectory1.SineSweep.SineType = 1;
  EXPECT_EQ(TrajectoryTitle(c), "Open Loop Sine Sweep");
  c.TrajectoryType = 5;
  EXPECT_EQ(TrajectoryTitle(c), "Closed Loop Sinusoidal");

  // Trajectory 2 is always closed loop.
  const char* const titles2[] = {"Closed Loop Impulse",    "Closed Loop Step",
                                 "Closed Loop Ramp",       "Closed Loop Parabolic",
                                 "Closed Loop Cubic",      "Closed Loop Sinusoidal",
                                 "Closed Loop Sine Sweep", "User Defined"};
  c.Trajectory2.Step.StepType = c.Trajectory2.Sine.SineType = 1;
  c.Trajectory2.SineSweep.SineType = 1;
  for (int16_t type = 0; type <= 7; ++type) {
    c.Trajectory2Type = type;
    EXPECT_EQ(Trajectory2Title(c), titles2[type]) << type;
  }
  c.Trajectory2Type = 8;
  EXPECT_EQ(Trajectory2Title(c), "");
  c.Trajectory2Type = -1;
  EXPECT_EQ(Trajectory2Title(c), "");
}

TEST_F(NamesTest, SignalNamesDependOnThePlantOfTheLastConnection) {
  program_.ApparatusTag = "3";
  EXPECT_EQ(GatherSourceName(program_, 0x20), "Encoder 3 Position");
  EXPECT_EQ(GatherSourceName(program_, 0x8), "Encoder 1 Position");
  EXPECT_EQ(GatherSourceName(program_, 0x4000000), "Encoder 4 Velocity");
  program_.ApparatusTag = "11";
  EXPECT_EQ(GatherSourceName(program_, 0x20), "");
  EXPECT_EQ(GatherSourceName(program_, 0x8), "Sensor 1 Position");
  EXPECT_EQ(GatherSourceName(program_, 0x2000), "Sensor 2 Acceleration");
  EXPECT_EQ(GatherSourceName(program_, 0x4000), "Encoder 3 Acceleration");
  EXPECT_EQ(GatherSourceName(program_, 0x2000000), "");
  EXPECT_EQ(GatherSourceName(program_, 0x4000000), "Encoder 4 Velocity");
  for (const char* tag : {"", "3", "11", "abc"}) {
    program_.ApparatusTag = tag;
    for (int32_t code : {0, 0x3, 0x40, 0x80, 0x100, 0x1000000, 0x10000000}) {
      EXPECT_EQ(GatherSourceName(program_, code), "") << tag << " " << code;
    }
  }
  program_.ApparatusTag = "";  // before any connection: the encoder names
  EXPECT_EQ(GatherSourceName(program_, 0x10), "Encoder 2 Position");
}

TEST_F(NamesTest, EveryListedNameLeadsBackToItsCode) {
  for (const char* tag : {"1", "11"}) {
    program_.ApparatusTag = tag;
    for (int bit = 0; bit < 32; ++bit) {
      const int32_t code = static_cast<int32_t>(1u << bit);
      const std::string name = GatherSourceName(program_, code);
      if (!name.empty()) {
        EXPECT_EQ(GatherSourceMask(name), code) << name;
      }
    }
  }
  EXPECT_EQ(GatherSourceMask("Sensor 2 Velocity"), 0x400);
  EXPECT_EQ(GatherSourceMask("Encoder 2 Velocity"), 0x400);
  EXPECT_EQ(GatherSourceMask("Control Effort 2"), 0x100000);
  EXPECT_EQ(GatherSourceMask("Encoder 2 Following Error"), 0x80);
  EXPECT_EQ(GatherSourceMask("Encoder 4 Acceleration"), 0x8000000);
}

TEST_F(NamesTest, AnUnknownSignalNameGivesNoCodeWhateverCameBefore) {
  EXPECT_EQ(GatherSourceMask("Encoder 2 Velocity"), 0x400);
  // A plot dialog adds or removes this code: an old one would change the
  // wrong signal.
  EXPECT_EQ(GatherSourceMask("Encoder 9 Velocity"), 0);
  EXPECT_EQ(GatherSourceMask("encoder 2 velocity"), 0);
  EXPECT_EQ(GatherSourceMask(""), 0);
}

}  // namespace
}  // namespace zimo::labprog
