// The Utility menu's download, Zero Position and Reset Controller, and the
// hardware dialogs' values, over the command path on a stand-in control.
// Pauses run on a fake clock that moves itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_vocto_control.h"
#include "labprog/card_actions.h"
#include "labprog/controller_link.h"
#include "labprog/hardware_dialogs.h"
#include "labprog/lab_program.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "recording_fakes.h"
#include "temp_home.h"

namespace zimo::labprog {
namespace {

using Strings = std::vector<std::string>;
using std::chrono::seconds;

// Beeps land in the card's log, so their place among the commands shows.
class BeepingWindows : public testing::RecordingShellWindows {
 public:
  explicit BeepingWindows(Strings& log) : log_(log) {}
  void Beep() override {
    RecordingShellWindows::Beep();
    log_.push_back("beep");
  }

 private:
  Strings& log_;
};

const Strings kReconnect = {"load settings", "enable", "^X",    "i3=2",  "i9=0",
                            "flush",         "?",      "P1000", "P666", "P1021",
                            "save settings"};

class CardActionsTest : public ::testing::Test {
 protected:
  CardActionsTest() {
    clock.set_auto_advance(true);
    link.set_program(&program);
    control->replies = {{"?", "123456789012"}, {"P1000", "3"}, {"P666", "0"},
                        {"P1021", "0"},        {"p0", "1230"}};
    EXPECT_TRUE(link.ConnectController());
    control->log.clear();
    old_dir = std::filesystem::current_path();
    std::filesystem::current_path(home.path());
  }
  ~CardActionsTest() override { std::filesystem::current_path(old_dir); }

  std::string File(const std::string& name, const std::string& bytes) {
    std::ofstream(home.path() / name, std::ios::binary) << bytes;
    return (home.path() / name).string();
  }

  // What reached the card from the first line of the file on, up to the
  // reconnection.
  static Strings Between(const Strings& log, const std::string& first, size_t tail) {
    auto from = std::find(log.begin(), log.end(), first);
    if (from == log.end() || static_cast<size_t>(log.end() - from) < tail) return {};
    return Strings(from, log.end() - static_cast<std::ptrdiff_t>(tail));
  }

  zimo::testing::TempHome home;
  std::filesystem::path old_dir;
  platform::FakeClock clock;
  platform::ScopedClock scoped_clock{clock};
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped_boxes{boxes};
  std::shared_ptr<testing::FakeVoctoControl> control =
      std::make_shared<testing::FakeVoctoControl>();
  VoctoClass vocto{control};
  StatusWindow window;
  ControllerLink link{vocto, window};
  BeepingWindows shell{control->log};
  LabProgram program{link, shell};
};

TEST_F(CardActionsTest, PersonalityFileOfThreeLines) {
  const std::string file = File("p.zko", "I100=1\r\nP2=2 ; the second\r\nM3->X:$C000,0\r\n");
  Download download(program, window);
  bool poll_stopped = true;
  download.pump_events = [&] { poll_stopped = poll_stopped && !window.PollEnabled; };
  download.Run(file);
  Strings expected = {"^X",   "flush", "$$$***", "beep", "beep", "m0..1023->*", "beep", "beep",
                      "p0..1023=1230", "beep", "beep", "q0..1023=0", "beep", "beep", "i3=2",
                      "I100=1", "P2=2 ", "M3->X:$C000,0", "cls", "beep", "beep", "save", "p0",
                      "beep", "beep", "$$$", "beep", "beep"};
  expected.insert(expected.end(), kReconnect.begin(), kReconnect.end());
  EXPECT_EQ(control->log, expected);
  EXPECT_TRUE(poll_stopped);
  EXPECT_TRUE(window.PollEnabled);
  EXPECT_EQ(link.OnlineFlag, -1);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(CardActionsTest, LinesGoOutWholeWhateverTheirEnds) {
  struct Row {
    const char* name;
    std::string bytes;
    Strings lines;
  };
  const Row rows[] = {
      {"line feeds only", "I100=1\nP2=2\nX\n", {"I100=1", "P2=2", "X"}},
      {"no end on the last line", "I100=1\r\nP2=2", {"I100=1", "P2=2"}},
      {"a single unterminated line", "P7", {"P7"}},
      {"an empty line", "P1=1\r\n\r\nP2=2\r\n", {"P1=1", "", "P2=2"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    control->log.clear();
    const std::string file = File("algorithm.txt", row.bytes);
    std::filesystem::copy_file(file, home.path() / kCompiledAlgorithmFile,
                               std::filesystem::copy_options::overwrite_existing);
    Download download(program, window);
    download.Run(kCompiledAlgorithmFile);
    Strings expected = {"^X", "flush", "i3=2"};
    expected.insert(expected.end(), row.lines.begin(), row.lines.end());
    expected.push_back("cls");
    expected.insert(expected.end(), kReconnect.begin(), kReconnect.end());
    EXPECT_EQ(control->log, expected);
  }
}

TEST_F(CardActionsTest, CancelStopsAtTheNextLine) {
  const std::string file = File("p.zko", "P1=1\r\nP2=2\r\nP3=3\r\n");
  Download download(program, window);
  download.pump_events = [&] { download.Cancel(); };
  download.Run(file);
  const Strings sent = Between(control->log, "i3=2", kReconnect.size() * 2);
  EXPECT_EQ(sent, (Strings{"i3=2", "P1=1", "$$$***"}));
  // The notice, then the card looked for at once and again at the end.
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "Personality download aborted by user. Please download again before using system.");
  EXPECT_EQ(boxes.boxes()[0].caption, "Notice");
  EXPECT_EQ(boxes.boxes()[0].flags, platform::kMbOk | platform::kMbIconExclamation);
  Strings twice = kReconnect;
  twice.insert(twice.end(), kReconnect.begin(), kReconnect.end());
  EXPECT_EQ(Strings(control->log.end() - static_cast<std::ptrdiff_t>(twice.size()),
                    control->log.end()),
            twice);
}

TEST_F(CardActionsTest, ACardSilentAfterSaveIsWaitedForABoundedTime) {
  const std::string file = File("p.zko", "P1=1\r\n");
  control->muted = {"p0"};
  Download download(program, window);
  control->replies["save"] = "";
  const platform::Micros start = clock.Now();
  download.Run(file);
  const auto save = std::find(control->log.begin(), control->log.end(), "save");
  ASSERT_NE(save, control->log.end());
  const auto reset = std::find(save, control->log.end(), "$$$");
  ASSERT_NE(reset, control->log.end());
  EXPECT_GE(std::count(save, reset, "p0"), 2);
  // Pauses: four short before the file, one before "save", two long.
  const auto waited = clock.Now() - start;
  EXPECT_GE(waited, seconds(30) + 5 * kShortPause + 2 * kLongPause);
  EXPECT_LT(waited, seconds(31) + 5 * kShortPause + 2 * kLongPause);
}

TEST_F(CardActionsTest, ProgressBarMovesInTenths) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += "P" + std::string(8, '1') + "\r\n";
  ASSERT_EQ(bytes.size(), 1100u);
  const std::string file = File("p.zko", bytes);
  Download download(program, window);
  std::vector<std::pair<int, double>> shown;
  int line = 0;
  download.pump_events = [&] { ++line; };
  download.on_progress = [&](double p) { shown.emplace_back(line + 1, p); };
  download.Run(file);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().first, 12);
  EXPECT_NEAR(shown.front().second, 9.818, 0.001);
  EXPECT_EQ(shown.back().first, 98);
  EXPECT_NEAR(shown.back().second, 80.18, 0.01);
}

TEST_F(CardActionsTest, ZeroAndReset) {
  ZeroPosition(program);
  EXPECT_EQ(control->log, (Strings{"P1000", "M9..14=0"}));
  control->log.clear();
  control->replies["P1000"] = "11";
  ZeroPosition(program);
  EXPECT_EQ(control->log, (Strings{"P1000"}));
  control->log.clear();
  const platform::Micros start = clock.Now();
  ResetController(program);
  EXPECT_EQ(control->log, (Strings{"line $$$", "i3=2"}));
  EXPECT_EQ(clock.Now() - start, platform::Micros(kResetPause));
  // Offline neither sends anything.
  link.OnlineFlag = 0;
  control->log.clear();
  ZeroPosition(program);
  ResetController(program);
  EXPECT_TRUE(control->log.empty());
}

TEST_F(CardActionsTest, RotorSpeedReadsBackWhatOkSent) {
  struct Row {
    const char* i622;
    const char* shown;
  };
  // 200 rpm is sent as 200*60/950*1.058 = 13.3642105...
  for (const Row& row : {Row{"13.3642105", "200"}, Row{"0", "0"}, Row{"-1", "200"},
                         Row{"80.2", "1200"}, Row{"80.3", "200"}, Row{"1E30", "200"}}) {
    SCOPED_TRACE(row.i622);
    control->replies["I622"] = row.i622;
    EXPECT_EQ(RotorSpeedOnLoad(program), row.shown);
  }
  control->log.clear();
  RotorSpeedOk(program, "200");
  EXPECT_EQ(control->log, (Strings{"I622=200*60/950*1.058", "M136=1"}));
  link.OnlineFlag = 0;
  control->log.clear();
  EXPECT_EQ(RotorSpeedOnLoad(program), "200");
  RotorSpeedOk(program, "300");
  EXPECT_TRUE(control->log.empty());
}

TEST_F(CardActionsTest, SensorCalibrationSendsTenCommands) {
  program.Config.SensorMode = 0;
  program.Config.LowerCoeff[1] = 1.5;
  SensorFields fields = SensorCalibrationOnLoad(program.Config);
  EXPECT_FALSE(fields.calibrate);
  EXPECT_EQ(fields.coefficients[0], "1.5");
  EXPECT_EQ(fields.coefficients[7], "0");
  fields.calibrate = true;
  fields.coefficients = {"1", "2", "3", "4", "0.5", "6", "7", "-8"};
  fields.thermal_compensation = true;
  SensorCalibrationOk(program, fields);
  EXPECT_EQ(control->log, (Strings{"M906=1", "P750=1", "P751=2", "P752=3", "P753=4", "P754=.5",
                                   "P755=6", "P756=7", "P757=-8", "M777=1"}));
  EXPECT_EQ(program.Config.SensorMode, 1);
  EXPECT_EQ(program.Config.UpperCoeff[4], -8);
  EXPECT_EQ(program.Config.ThermalCompensation, 1);
}

TEST_F(CardActionsTest, AuxiliaryOutputs) {
  program.Config.AuxDAC3 = 8;
  program.Config.AuxDAC4 = 20;
  program.Config.AuxDAC3Scaler = 1;
  program.Config.AuxDAC4Scaler = 2.5;
  AuxOutputFields fields = AuxOutputsOnLoad(program.Config);
  EXPECT_EQ(AuxOutputSources()[fields.source1], "Control Effort");
  EXPECT_EQ(AuxOutputSources()[fields.source2], "Commanded Position");
  EXPECT_EQ(fields.scale1, "1.000000");
  AuxOutputsOk(program, fields);
  EXPECT_EQ(control->log, (Strings{"P1003=9", "P1005=1", "P1004=1", "P1006=2.5"}));
  EXPECT_EQ(program.Config.AuxDAC4, 0);
}

}  // namespace
}  // namespace zimo::labprog
