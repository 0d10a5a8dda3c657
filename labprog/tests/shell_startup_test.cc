// The program's start and end: the driver check, the count of running
// copies, the status window's load (card or demonstration mode, the
// configuration file, the plant's rows) and its unload.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_vocto_control.h"
#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/startup.h"
#include "platform/message.h"
#include "platform/home.h"
#include "platform/profile.h"
#include "recording_fakes.h"
#include "temp_home.h"

namespace zimo::labprog {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    link.set_program(&program);
    fs::create_directories(platform::SystemDir());
    control->replies = {{"?", "123456789012"}, {"P1000", "3"}, {"P666", "1"}, {"P1021", "0"}};
  }

  std::string Count() {
    char buffer[80] = {};
    platform::GetPrivateProfileStringA("General", "AppsRunning", "(none)", buffer, sizeof buffer,
                                       SettingsFilePath().c_str());
    return buffer;
  }
  void SetCount(const char* value) {
    platform::WritePrivateProfileStringA("General", "AppsRunning", value,
                                         SettingsFilePath().c_str());
  }
  // A folder holding default.cfg with the given units.
  fs::path FolderWithConfiguration(const fs::path& folder, const std::string& units) {
    fs::create_directories(folder);
    std::ofstream(folder / "default.cfg", std::ios::binary)
        << "[General]\r\nUserUnits=" << units << "\r\n";
    return folder;
  }

  zimo::testing::TempHome home;
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped_boxes{boxes};
  std::shared_ptr<testing::FakeVoctoControl> control =
      std::make_shared<testing::FakeVoctoControl>();
  VoctoClass vocto{control};
  StatusWindow window;
  ControllerLink link{vocto, window};
  testing::RecordingShellWindows shell;
  LabProgram program{link, shell};
};

TEST_F(StartupTest, DriverMissingInstallsItAndEnds) {
  int installs = 0;
  HardwareDriver driver{[] { return 0; }, [&] { ++installs; return 1; }};
  EXPECT_FALSE(SplashStart(driver));
  EXPECT_EQ(installs, 1);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "The hardware driver for QEL Labrunner has been installed and registered.  Please "
            "reboot this computer now before running the QEL Labrunner.");
  EXPECT_EQ(boxes.boxes()[0].caption, "QEL Labrunner");
  EXPECT_EQ(Count(), "(none)");
}

TEST_F(StartupTest, CountOfRunningCopies) {
  HardwareDriver driver{[] { return 1; }, [] { return 1; }};
  struct Row {
    const char* before;
    int answer;
    bool runs;
    const char* after;
  };
  for (const Row& row : {Row{nullptr, 0, true, "1"}, Row{"0", 0, true, "1"},
                         Row{"2", platform::kIdYes, true, "1"}, Row{"2", 7, false, "2"}}) {
    SCOPED_TRACE(row.before ? row.before : "missing");
    fs::remove(SettingsFilePath());
    if (row.before != nullptr) SetCount(row.before);
    if (row.answer != 0) boxes.QueueAnswer(row.answer);
    EXPECT_EQ(SplashStart(driver), row.runs);
    EXPECT_EQ(Count(), row.after);
  }
  for (auto [before, after] : {std::pair{"0", "0"}, std::pair{"3", "2"}, std::pair{"-4", "0"}}) {
    SetCount(before);
    UnloadStatusWindow();
    EXPECT_EQ(Count(), after);
  }
}

TEST_F(StartupTest, DefaultConfigurationInALongFolderLoads) {
  const fs::path folder =
      FolderWithConfiguration(home.path() / std::string(120, 'd') / std::string(60, 'e'), "mm");
  ASSERT_GT(folder.string().size(), 200u);
  LoadStatusWindow(program, window, link, folder.string(), "");
  EXPECT_EQ(program.Config.UserUnits, "mm");
  ASSERT_FALSE(shell.frame_captions.empty());
  EXPECT_EQ(shell.frame_captions.back(),
            "QEL DX-24 Labrunner (32 bit) 5.5- " + (folder / "default.cfg").string());
}

TEST_F(StartupTest, FirstWordOfTheCommandLineNamesTheFile) {
  const fs::path folder = FolderWithConfiguration(home.path() / "work", "mm");
  FolderWithConfiguration(home.path() / "other", "cm");
  const std::string other = (home.path() / "other" / "default.cfg").string();
  LoadStatusWindow(program, window, link, folder.string(), other + " results.txt");
  EXPECT_EQ(program.Config.UserUnits, "cm");

  // A missing file loads nothing, not even default.cfg.
  LabProgram second{link, shell};
  link.set_program(&second);
  StatusWindow fresh;
  LoadStatusWindow(second, fresh, link, folder.string(), (home.path() / "nothing.cfg").string());
  EXPECT_NE(second.Config.UserUnits, "mm");
  EXPECT_NE(second.Config.UserUnits, "cm");
}

TEST_F(StartupTest, NoCardAndNoSetupMeansDemonstrationMode) {
  control->replies["?"] = "12345678901";
  boxes.QueueAnswer(7);
  LoadStatusWindow(program, window, link, home.path().string(), "");
  EXPECT_EQ(link.OnlineFlag, 0);
  EXPECT_EQ(shell.beeps, 1);
  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[0].text, "Controller not found.  Would you like to setup communications?");
  EXPECT_EQ(boxes.boxes()[0].caption, "Warning");
  EXPECT_EQ(boxes.boxes()[0].flags, platform::kMbYesNo | platform::kMbIconQuestion);
  EXPECT_EQ(boxes.boxes()[1].text,
            "This program is now operating in DEMO MODE.  To configure communications, select the "
            "'Communications...' option under the Configure menu.");
  EXPECT_EQ(boxes.boxes()[1].flags, platform::kMbOk | platform::kMbIconInformation);
  EXPECT_EQ(window.ApparatusPanel.text, " Apparatus: ???");
}

TEST_F(StartupTest, NoCardAndSetupTriesOnceMore) {
  control->replies["?"] = "";
  boxes.QueueAnswer(platform::kIdYes);
  LoadStatusWindow(program, window, link, home.path().string(), "");
  EXPECT_EQ(boxes.boxes().size(), 1u);
  const auto select = std::find(control->log.begin(), control->log.end(), "select device");
  ASSERT_NE(select, control->log.end());
  EXPECT_EQ(Strings(select, select + 4),
            (Strings{"select device", "enable", "save settings", "load settings"}));
  EXPECT_EQ(std::count(control->log.begin(), control->log.end(), "?"), 2);
}

TEST_F(StartupTest, RowsForTheBuildAndForTheLevitationPlant) {
  LoadStatusWindow(program, window, link, home.path().string(), "");
  EXPECT_EQ(window.CmdPanel.text, " Command 1 Pos:");
  EXPECT_EQ(window.FEPanel[2].text, " Encoder 1 Vel:");
  EXPECT_TRUE(window.BrakeButton[2].visible);
  EXPECT_TRUE(window.PosPanel[3].visible);
  EXPECT_EQ(window.StatusPanel[1].text, " Motor 1 Status:");

  control->replies["P1000"] = "11";
  StatusWindow maglev;
  LoadStatusWindow(program, maglev, link, home.path().string(), "");
  EXPECT_EQ(maglev.StatusPanel[1].text, " Drive 1 Status:");
  EXPECT_EQ(maglev.StatusPanel[2].text, " Drive 2 Status:");
  EXPECT_EQ(maglev.PosPanel[0].text, " Sensor 1 Pos:");
  EXPECT_EQ(maglev.PosPanel[1].text, " Sensor 2 Pos:");
  EXPECT_FALSE(maglev.PosPanel[2].visible);
  EXPECT_FALSE(maglev.PosPanel[3].visible);
  EXPECT_FALSE(maglev.BrakeButton[2].visible);
}

}  // namespace
}  // namespace zimo::labprog
