// The experiment's settings file: the start-up values written out byte for
// byte as the hand-written golden, a file with every field changed read and
// written back unchanged, saving into a file that exists, the rules of a
// load (defaults, rounding, the 79-character texts, the two-key point
// files, the counts per unit from the card) and files that are not settings
// files at all.
#include "labprog/configuration_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "labprog/experiment_configuration.h"
#include "platform/message.h"
#include "recording_fakes.h"
#include "temp_home.h"

namespace zimo::labprog {
namespace {

namespace fs = std::filesystem;

const fs::path kData = LABPROG_TEST_DATA;
const std::string kTitle = "QEL DX-24 Labrunner (32 bit) 5.5";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// A program in a folder of its own (the current folder while it lives),
// offline unless a test connects it.
class ConfigurationFileTest : public ::testing::Test {
 protected:
  ConfigurationFileTest() : previous_(fs::current_path()) {
    dir_ = home_.path() / "work";
    fs::create_directories(dir_);
    fs::current_path(dir_);
    platform::SetMessageService(&boxes_);
  }
  ~ConfigurationFileTest() override {
    platform::SetMessageService(nullptr);
    fs::current_path(previous_);
  }

  void Online(const std::string& counts_reply) {
    link_.OnlineFlag = -1;
    link_.replies["P1001"] = counts_reply;
  }

  zimo::testing::TempHome home_;
  fs::path previous_;
  fs::path dir_;
  platform::MessageRecorder boxes_;
  testing::RecordingCommandPath link_;
  testing::RecordingShellWindows windows_;
  LabProgram program_{link_, windows_};
};

TEST_F(ConfigurationFileTest, StartUpValuesSaveAsTheGoldenFile) {
  SetDefaultConfiguration(program_);
  SaveConfiguration(program_);
  EXPECT_EQ(ReadBytes(dir_ / "default.cfg"), ReadBytes(kData / "default.cfg"));
  EXPECT_EQ(windows_.frame_captions.back(), kTitle + "- default.cfg");
  EXPECT_EQ(boxes_.count(), 0u);

  // An empty name saves as default.cfg too.
  fs::remove(dir_ / "default.cfg");
  program_.Config.Filename.clear();
  SaveConfiguration(program_);
  EXPECT_EQ(program_.Config.Filename, "default.cfg");
  EXPECT_EQ(ReadBytes(dir_ / "default.cfg"), ReadBytes(kData / "default.cfg"));
}

TEST_F(ConfigurationFileTest, EveryFieldChangedLoadsAndSavesBackIdentical) {
  Online("2000");
  SetDefaultConfiguration(program_);
  LoadConfiguration(program_, (kData / "all_changed.cfg").string());
  const ExperimentConfiguration& c = program_.Config;
  // A few fields against the file's own text.
  EXPECT_EQ(c.Filename, "all_changed.cfg");
  EXPECT_EQ(c.UserUnits, "mm");
  EXPECT_DOUBLE_EQ(c.Ts, 0.002652);
  EXPECT_EQ(c.UnitsScaleFactor, 2000.0f);
  EXPECT_EQ(c.UserTrajectoryFilename, "points one.trj");
  EXPECT_EQ(c.UserTrajectory2Filename, "points two.trj");
  EXPECT_EQ(c.USRAlgorithmFilename, "my algorithms/pid one.alg");
  EXPECT_EQ(c.Unidirectional2, -32768);
  EXPECT_EQ(c.DiscreteTime, 32767);
  EXPECT_EQ(c.WhatToGather, -70018);
  EXPECT_EQ(c.WhatToPlotLeft, 177881);
  EXPECT_DOUBLE_EQ(c.AuxDAC3Scaler, 123456789012345.0);
  EXPECT_EQ(c.Trajectory1.Step.StepSizeOpen, 0.5f);
  EXPECT_EQ(c.Trajectory2.Impulse.ImpulseSizeClosed, 12345680.0f);
  EXPECT_EQ(c.SensorMode, 1);
  EXPECT_DOUBLE_EQ(c.UpperCoeff[4], -1.5e15);
  EXPECT_DOUBLE_EQ(c.LowerCoeff[2], 1e-05);
  EXPECT_EQ(link_.sent, std::vector<std::string>({"P1001", "P1001"}));

  // The plant is never read back: the connection sets it.
  program_.Config.ApparatusCode = 11;
  SaveConfiguration(program_);  // into the current folder: a new file
  EXPECT_EQ(ReadBytes(dir_ / "all_changed.cfg"), ReadBytes(kData / "all_changed.cfg"));
}

TEST_F(ConfigurationFileTest, SavingIntoAnExistingFileKeepsItsOrderAndAppendsNewKeys) {
  WriteBytes(dir_ / "old.cfg",
             "[MagLev]\r\nThermalCompensation=5\r\n; a note\r\n[General]\r\nOwnKey=kept\r\n"
             "ts=1\r\n");
  SetDefaultConfiguration(program_);
  program_.Config.Filename = "old.cfg";
  SaveConfiguration(program_);
  const std::string text = ReadBytes(dir_ / "old.cfg");
  EXPECT_TRUE(text.starts_with(
      "[MagLev]\r\nThermalCompensation=0\r\n; a note\r\nSensorMode= 0\r\nUpperCoeff1=0\r\n"
      "UpperCoeff2=0\r\nUpperCoeff3=0\r\nUpperCoeff4=0\r\nLowerCoeff1=0\r\nLowerCoeff2=0\r\n"
      "LowerCoeff3=0\r\nLowerCoeff4=0\r\n[General]\r\nOwnKey=kept\r\n"
      "ts= .000884\r\nFilename=old.cfg\r\n"))
      << text.substr(0, 300);
  // Then the rest of [General] in the table's order, the other sections
  // after it in theirs; every key once.
  EXPECT_NE(text.find("Filename=old.cfg\r\nUnitsScaleFactor=1\r\nApparatus=1\r\n"
                      "UserUnits=counts\r\nControlAlgorithm=1\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("AuxDAC4Scaler=1\r\n[Disturbance]\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("K5=0\r\nL5=0\r\nK6=0\r\nL6=0\r\n"));
  size_t lines = 0;
  for (char ch : text) lines += ch == '\n';
  EXPECT_EQ(lines, 34u + 377u + 2u);  // the note and the foreign key stay
}

// Each row: the file's text, and what the load makes of one field.
TEST_F(ConfigurationFileTest, LoadRulesForValuesKeysAndTexts) {
  const std::string long_name(100, 'n');
  struct Case {
    const char* what;
    std::string file;
    std::function<bool(const ExperimentConfiguration&)> holds;
  };
  const Case cases[] = {
      {"empty Ts", "[General]\nTs=\n", [](auto& c) { return c.Ts == 0; }},
      {"Ts abc", "[General]\nTs=abc\n", [](auto& c) { return c.Ts == 0; }},
      {"Ts hexadecimal", "[General]\nTs=&H1F\n", [](auto& c) { return c.Ts == 31; }},
      {"StepReps 2.5", "[Step Trajectory]\nStepReps=2.5\n",
       [](auto& c) { return c.Trajectory1.Step.StepReps == 2; }},
      {"StepReps 3.5", "[Step Trajectory]\nStepReps=3.5\n",
       [](auto& c) { return c.Trajectory1.Step.StepReps == 4; }},
      {"missing DataSplined", "[User Trajectory]\nType=2\n",
       [](auto& c) { return c.Trajectory1.User.DataSplined == 0; }},
      {"missing TrajectoryType", "", [](auto& c) { return c.TrajectoryType == 2; }},
      {"missing GatherPeriod", "", [](auto& c) { return c.GatherPeriod == 1; }},
      {"missing EndFrequency", "",
       [](auto& c) { return c.Trajectory2.SineSweep.EndFrequency == 10; }},
      {"missing Feedback Channel", "",
       [](auto& c) { return c.GeneralContinuous.FeedbackChannelF == 1; }},
      {"names without case", "[general]\nTRAJECTORYTYPE=  5  \n",
       [](auto& c) { return c.TrajectoryType == 5; }},
      {"100-character name", "[General]\nFilename=" + long_name + "\n",
       [long_name](auto& c) { return c.Filename == long_name.substr(0, 79); }},
      {"point file in [General] only", "[General]\nUserTrajectoryFilename=a.trj\n",
       [](auto& c) { return c.UserTrajectoryFilename.empty(); }},
      {"point file in both",
       "[General]\nUserTrajectory2Filename=a.trj\n[User2 Trajectory]\nFilename=b.trj\n",
       [](auto& c) { return c.UserTrajectory2Filename == "b.trj"; }},
      // Out of a field's range: the field keeps what it held (9, below).
      {"StepReps 99999", "[Step Trajectory]\nStepReps=99999\n",
       [](auto& c) { return c.Trajectory1.Step.StepReps == 9; }},
      {"Long out of range", "[General]\nWhatToGather=4294967296\n",
       [](auto& c) { return c.WhatToGather == 9; }},
      {"Single out of range", "[Ramp Trajectory]\nRampSize=1E39\n",
       [](auto& c) { return c.Trajectory1.Ramp.RampSize == 9; }},
      {"Double out of range", "[General]\nTs=1E400\n", [](auto& c) { return c.Ts == 9; }},
      {"file's counts per unit", "[General]\nUnitsScaleFactor=500\nApparatus=4\n",
       [](auto& c) { return c.UnitsScaleFactor == 1 && c.ApparatusCode == 9; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetDefaultConfiguration(program_);
    program_.Config.Trajectory1.Step.StepReps = 9;
    program_.Config.WhatToGather = 9;
    program_.Config.Trajectory1.Ramp.RampSize = 9;
    program_.Config.Ts = 9;
    program_.Config.ApparatusCode = 9;
    WriteBytes(dir_ / "rows.cfg", c.file);
    LoadConfiguration(program_, "rows.cfg");
    EXPECT_TRUE(c.holds(program_.Config));
  }
}

TEST_F(ConfigurationFileTest, AMovedFileKeepsItsRecordedNameAndTheCaptionNamesTheFileLoaded) {
  SetDefaultConfiguration(program_);
  fs::create_directories(dir_ / "first");
  const std::string a = (dir_ / "first" / "a.cfg").string();
  program_.Config.Filename = a;
  SaveConfiguration(program_);
  EXPECT_EQ(windows_.frame_captions.back(), kTitle + "- " + a);
  fs::create_directories(dir_ / "second");
  fs::copy_file(a, dir_ / "second" / "b.cfg");
  const std::string b = (dir_ / "second" / "b.cfg").string();
  SetDefaultConfiguration(program_);
  LoadConfiguration(program_, b);
  EXPECT_EQ(program_.Config.Filename, a);
  EXPECT_EQ(windows_.frame_captions.back(), kTitle + "- " + b);
  // After the reads the status captions were refreshed, then the caption.
  ASSERT_GE(windows_.events.size(), 2u);
  EXPECT_EQ(windows_.events[windows_.events.size() - 2], "panels");
}

TEST_F(ConfigurationFileTest, CountsPerUnitComeFromTheCardAndOnlyFromAFreshReply) {
  struct Case {
    const char* reply;
    float counts;
  };
  const Case cases[] = {{"2000", 2000}, {"0", 1}, {"-5", 1}, {"abc", 1}, {"1E99", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    Online(c.reply);
    SetDefaultConfiguration(program_);
    EXPECT_EQ(program_.Config.UnitsScaleFactor, c.counts);
    program_.Config.UnitsScaleFactor = 7;
    LoadConfiguration(program_, "missing.cfg");
    EXPECT_EQ(program_.Config.UnitsScaleFactor, c.counts);
  }
  // Offline the shared reply text still holds the last card's answer; that
  // answer is not a count of this card.
  link_.OnlineFlag = 0;
  link_.ReplyText = "2000";
  link_.sent.clear();
  SetDefaultConfiguration(program_);
  EXPECT_EQ(program_.Config.UnitsScaleFactor, 1.0f);
  program_.Config.UnitsScaleFactor = 7;
  LoadConfiguration(program_, "missing.cfg");
  EXPECT_EQ(program_.Config.UnitsScaleFactor, 1.0f);
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(link_.ReplyText, "2000");
}

// Files that are no settings files load as a missing one: the table's
// defaults, without a crash or a message.
TEST_F(ConfigurationFileTest, FilesThatAreNoSettingsFilesGiveTheDefaults) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 131 + 7) % 256));
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"binary bytes", binary},
      {"lines without =", "[General]\nTrajectoryType 5\nGatherPeriod\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetDefaultConfiguration(program_);
    WriteBytes(dir_ / "bad.cfg", c.bytes);
    LoadConfiguration(program_, "bad.cfg");
    EXPECT_EQ(program_.Config.TrajectoryType, 2);
    EXPECT_EQ(program_.Config.GatherPeriod, 1);
    EXPECT_EQ(program_.Config.Filename, "default.cfg");
    EXPECT_DOUBLE_EQ(program_.Config.Ts, 0.000884);
    EXPECT_EQ(program_.Config.Trajectory1.Step.StepReps, 1);
  }
  // A header without its "]" still opens its section, as in every INI file.
  WriteBytes(dir_ / "open.cfg", "[General\nTrajectoryType=5\n");
  LoadConfiguration(program_, "open.cfg");
  EXPECT_EQ(program_.Config.TrajectoryType, 5);
  // Duplicate keys: the first one counts.
  WriteBytes(dir_ / "twice.cfg",
             "[General]\nGatherPeriod=3\nGatherPeriod=4\n[General]\nGatherPeriod=5\n");
  LoadConfiguration(program_, "twice.cfg");
  EXPECT_EQ(program_.Config.GatherPeriod, 3);
  // A folder in place of the file: defaults on load, nothing written on save.
  fs::create_directories(dir_ / "folder.cfg");
  SetDefaultConfiguration(program_);
  LoadConfiguration(program_, "folder.cfg");
  EXPECT_EQ(program_.Config.TrajectoryType, 2);
  program_.Config.Filename = "folder.cfg";
  SaveConfiguration(program_);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.cfg"));
  EXPECT_EQ(windows_.frame_captions.back(), kTitle + "- folder.cfg");
  EXPECT_EQ(boxes_.count(), 0u);
}

// A settings file marked read-only (a teacher's start-up file) stays as it
// was: the save fails key by key without a message, the caption changes.
TEST_F(ConfigurationFileTest, AReadOnlySettingsFileIsNotOverwritten) {
  SetDefaultConfiguration(program_);
  program_.Config.Filename = "kept.cfg";
  SaveConfiguration(program_);
  const std::string before = ReadBytes(dir_ / "kept.cfg");
  fs::permissions(dir_ / "kept.cfg", fs::perms::owner_read | fs::perms::group_read);
  program_.Config.GatherPeriod = 3;
  program_.Config.UserUnits = "mm";
  SaveConfiguration(program_);
  EXPECT_EQ(ReadBytes(dir_ / "kept.cfg"), before);
  EXPECT_EQ(windows_.frame_captions.back(), kTitle + "- kept.cfg");
  EXPECT_EQ(boxes_.count(), 0u);
  LoadConfiguration(program_, "kept.cfg");
  EXPECT_EQ(program_.Config.GatherPeriod, 10);
  EXPECT_EQ(program_.Config.UserUnits, "counts");
}

// Long lines everywhere, the keys' own among them: every text keeps its
// first 79 characters and nothing is read past the value buffer.
TEST_F(ConfigurationFileTest, ATenMegabyteFileOfLongLinesLoadsWithoutOverrun) {
  std::string big;
  for (int line = 0; big.size() < 10 * 1024 * 1024; ++line) {
    const char* key = line % 3 == 0 ? "Filename=" : line % 3 == 1 ? "UserUnits=" : "Junk=";
    big += (line % 50 == 0 ? "[General]\r\n" : "") + std::string(key) +
           std::string(5000, static_cast<char>('a' + line % 26)) + "\r\n";
  }
  WriteBytes(dir_ / "big.cfg", big);
  SetDefaultConfiguration(program_);
  LoadConfiguration(program_, "big.cfg");
  EXPECT_EQ(program_.Config.Filename, std::string(79, 'a'));
  EXPECT_EQ(program_.Config.UserUnits, std::string(79, 'b'));
  EXPECT_EQ(program_.Config.TrajectoryType, 2);
  EXPECT_EQ(program_.Config.GatherPeriod, 1);
  EXPECT_EQ(program_.Config.Trajectory1.Step.StepReps, 1);
  EXPECT_EQ(boxes_.count(), 0u);
}

}  // namespace
}  // namespace zimo::labprog
