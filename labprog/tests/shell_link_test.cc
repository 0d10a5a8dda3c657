// The command path over the hosted control: what reaches the control for
// each link function, the connection check that tells a card from
// demonstration mode, and the status window's poll, brakes and kill.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_vocto_control.h"
#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/status_poll.h"
#include "labprog/status_window.h"
#include "labprog/vocto_class.h"
#include "recording_fakes.h"

namespace zimo::labprog {
namespace {

using Strings = std::vector<std::string>;

class ShellLinkTest : public ::testing::Test {
 protected:
  ShellLinkTest() {
    link.set_program(&program);
    program.Config.UserUnits = "counts";
    program.Config.UnitsScaleFactor = 1;
  }

  void GoOnline(const std::string& apparatus = "3", const std::string& row2 = "0") {
    control->replies = {{"?", "123456789012"}, {"P1000", apparatus}, {"P666", "1"},
                        {"P1021", row2}};
    ASSERT_TRUE(link.ConnectController());
    control->log.clear();
  }

  std::shared_ptr<testing::FakeVoctoControl> control =
      std::make_shared<testing::FakeVoctoControl>();
  VoctoClass vocto{control};
  StatusWindow window;
  ControllerLink link{vocto, window};
  testing::RecordingShellWindows shell;
  LabProgram program{link, shell};
};

TEST_F(ShellLinkTest, ConnectionAsksTheCardAndLearnsThePlant) {
  control->replies = {{"?", "123456789012"}, {"P1000", "3"}, {"P666", "1"}, {"P1021", "0"}};
  std::vector<bool> busy;
  link.on_busy = [&](bool b) { busy.push_back(b); };
  EXPECT_TRUE(link.ConnectController());
  EXPECT_EQ(control->log, (Strings{"load settings", "enable", "^X", "i3=2", "i9=0", "flush", "?",
                                   "P1000", "P666", "P1021", "save settings"}));
  EXPECT_EQ(link.OnlineFlag, -1);
  EXPECT_EQ(window.ApparatusPanel.text, " Apparatus:  Model R-32 with K88");
  EXPECT_EQ(program.ApparatusTag, "3");
  EXPECT_EQ(program.Config.ApparatusCode, 3);
  EXPECT_FALSE(window.StatusPanel[2].visible);
  EXPECT_EQ(busy, (std::vector<bool>{true, false}));
}

TEST_F(ShellLinkTest, OnlyATwelveCharacterAnswerMeansACard) {
  struct Row {
    std::string reply;
    int16_t online;
  };
  for (const Row& row : {Row{"12345678901", 0}, Row{"123456789012", -1}, Row{"1234567890123", 0},
                         Row{"", 0}}) {
    SCOPED_TRACE(row.reply);
    control->replies = {{"?", row.reply}, {"P1000", "3"}};
    control->log.clear();
    window = StatusWindow();
    EXPECT_EQ(link.ConnectController(), row.online == -1);
    EXPECT_EQ(link.OnlineFlag, row.online);
    if (row.online == 0) {
      // Nothing after "?" and the panel keeps its design text.
      EXPECT_EQ(control->log.back(), "?");
      EXPECT_EQ(window.ApparatusPanel.text, " Apparatus: ???");
    }
  }
}

TEST_F(ShellLinkTest, DisturbanceRowShownByTheCardOrByPlantSix) {
  struct Row {
    std::string apparatus, p1021;
    bool shown;
  };
  for (const Row& row : {Row{"3", "1", true}, Row{"6", "0", true}, Row{"3", "0", false},
                         Row{"11", "2", false}}) {
    SCOPED_TRACE(row.apparatus + "/" + row.p1021);
    window = StatusWindow();
    GoOnline(row.apparatus, row.p1021);
    EXPECT_EQ(window.StatusPanel[2].visible, row.shown);
  }
}

TEST_F(ShellLinkTest, DemonstrationModeSendsNothingAndKeepsReplies) {
  control->replies = {{"?", "12345678901"}};
  EXPECT_FALSE(link.ConnectController());
  control->log.clear();
  std::string reply = "earlier";
  link.SendControllerCommand(reply, "P1001");
  EXPECT_EQ(reply, "earlier");
  control->lines = {"line"};
  EXPECT_EQ(link.ReadControllerLine(reply), 0);
  EXPECT_EQ(reply, "earlier");
  link.SendControllerLine("LIST");
  link.ClearControllerBuffer();
  EXPECT_TRUE(control->log.empty());
}

TEST_F(ShellLinkTest, OnlineLinkFunctions) {
  GoOnline();
  control->replies["I10"] = "3713707";
  std::string reply = "earlier";
  link.SendControllerCommand(reply, "I10");
  EXPECT_EQ(reply, "3713707");
  EXPECT_EQ(link.LastLinkStatus, -1);
  link.SendControllerLine("LIST PLC0");
  link.ClearControllerBuffer();
  EXPECT_EQ(control->log, (Strings{"I10", "line LIST PLC0", "^X", "flush"}));
  // An empty line is no line, whatever the control reports.
  control->lines = {"P1=1", ""};
  EXPECT_EQ(link.ReadControllerLine(reply), -1);
  EXPECT_EQ(reply, "P1=1");
  EXPECT_EQ(link.ReadControllerLine(reply), 0);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(link.LastLinkStatus, 0);
}

TEST_F(ShellLinkTest, WrapperKeepsItsFixedMembersAndReenablesAfterTheDeviceDialog) {
  EXPECT_EQ(vocto.GetBusBase(), 528);
  vocto.SetBusBase(100);
  EXPECT_EQ(vocto.GetBusBase(), 528);
  EXPECT_EQ(vocto.GetTimeout().i2(), 20000);
  EXPECT_TRUE(vocto.GetCommMethod().is_empty());
  vocto.SelectDevice();
  EXPECT_EQ(control->log, (Strings{"select device", "enable"}));
  EXPECT_TRUE(vocto.GetEnabled().boolean());
  EXPECT_EQ(control->ids, (std::vector<automation::DispId>{54, -514, -514}));
}

// --- The poll ---------------------------------------------------------------

const Strings kTickCommands = {"M10",  "M11",  "M12",  "M13",   "M14", "M9",  "M127",
                               "M199", "M129", "M130", "M131",  "M100", "M104", "P1002",
                               "P999", "P1012", "rx0", "M136"};

TEST_F(ShellLinkTest, OneTickAsksInOrderAndShowsTheValues) {
  GoOnline("3", "1");
  control->replies = {{"M10", "3200"}, {"M100", "1638"}, {"M104", "2"}, {"M129", "1"},
                      {"M127", "-3276"}, {"M136", "1"}, {"P999", "-1"}, {"P1002", "2"}};
  PollTick(program, window);
  EXPECT_EQ(control->log, kTickCommands);
  EXPECT_EQ(window.CmdPosLabel.text, "100 counts");
  EXPECT_EQ(window.EncPosLabel[0].text, "0 counts");
  EXPECT_EQ(window.DACLabel.text, "0.500 volts");
  EXPECT_EQ(window.FELabel[1].text, "-1.000 volts");
  EXPECT_EQ(window.LoopStsLabel.text, "OPEN");
  EXPECT_EQ(window.LoopStsLabel.color, 0x80u);
  EXPECT_EQ(window.BrakeButton[0].text, "Axis 3 Brake ON");
  EXPECT_EQ(window.BrakeButton[0].color, 0xC0u);
  EXPECT_EQ(window.BrakeButton[2].text, "Axis 2 V-Brake Off");
  EXPECT_EQ(window.ServoLimitLabel.text, "LIMIT EXCEEDED");
  EXPECT_EQ(window.CtrlStsLabel.text, "OK");
  EXPECT_EQ(window.RotorMenuItem.text, "&Disable Rotor Speed Loop");
}

TEST_F(ShellLinkTest, StatusWordsAndBrakes) {
  struct Row {
    const char* command;
    const char* reply;
    StatusItem StatusWindow::*item;
    const char* text;
    uint32_t color;
  };
  const Row rows[] = {
      {"M104", "3", &StatusWindow::LoopStsLabel, "CLOSED", 0},
      {"M104", "2", &StatusWindow::LoopStsLabel, "OPEN", 0x80},
      {"M104", "abc", &StatusWindow::LoopStsLabel, "OPEN", 0x80},
      {"P999", "-1", &StatusWindow::ServoLimitLabel, "LIMIT EXCEEDED", 0x80},
      {"P999", "0", &StatusWindow::ServoLimitLabel, "OK", 0},
      {"P1002", "1", &StatusWindow::CtrlStsLabel, "LIMIT EXCEEDED", 0x80},
      {"P1002", "2", &StatusWindow::CtrlStsLabel, "OK", 0},
      {"P1012", "1", &StatusWindow::DistStsLabel, "LIMIT EXCEEDED", 0x80},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.command) + "=" + row.reply);
    window = StatusWindow();
    GoOnline("3", "1");
    control->replies = {{row.command, row.reply}};
    PollTick(program, window);
    EXPECT_EQ((window.*row.item).text, row.text);
    EXPECT_EQ((window.*row.item).color, row.color);
  }
  for (auto [reply, text] : {std::pair{"1", "Axis 3 Brake ON"}, std::pair{"2", "Axis 3 Brake Off"}}) {
    control->replies = {{"M129", reply}};
    PollTick(program, window);
    EXPECT_EQ(window.BrakeButton[0].text, text);
  }
}

TEST_F(ShellLinkTest, StatusLabelsAreRewrittenOnlyOnChange) {
  GoOnline("3", "1");
  control->replies = {{"M104", "3"}};
  PollTick(program, window);
  PollTick(program, window);
  EXPECT_EQ(window.LoopStsLabel.writes, 1);
  EXPECT_EQ(window.CtrlStsLabel.writes, 1);
  EXPECT_EQ(window.DistStsLabel.writes, 1);
  EXPECT_EQ(window.ServoLimitLabel.writes, 1);
  EXPECT_EQ(window.CmdPosLabel.writes, 2);
  EXPECT_EQ(window.ClockLabel.writes, 2);
  control->replies = {{"M104", "4"}};
  PollTick(program, window);
  EXPECT_EQ(window.LoopStsLabel.writes, 2);
  EXPECT_EQ(window.LoopStsLabel.text, "OPEN");
}

TEST_F(ShellLinkTest, DisturbanceWordPolledOnlyWithItsRow) {
  GoOnline("3", "0");
  PollTick(program, window);
  Strings expected = kTickCommands;
  std::erase(expected, "P1012");
  EXPECT_EQ(control->log, expected);
}

TEST_F(ShellLinkTest, AMutedCardCostsOneTimeOutPerTick) {
  GoOnline("3", "1");
  control->replies = {{"M10", "3200"}, {"M100", "1638"}, {"M104", "3"}};
  PollTick(program, window);
  control->log.clear();
  control->muted = {"M11", "M12", "M13", "M14", "M9", "M127", "M199", "M129", "M130",
                    "M131", "M100", "M104", "P1002", "P999", "P1012", "rx0", "M136"};
  PollTick(program, window);
  EXPECT_EQ(control->log, (Strings{"M10", "M11"}));
  // The rest read as empty replies: zeros, an open loop.
  EXPECT_EQ(window.CmdPosLabel.text, "100 counts");
  EXPECT_EQ(window.DACLabel.text, "0.000 volts");
  EXPECT_EQ(window.LoopStsLabel.text, "OPEN");
  control->log.clear();
  PollTick(program, window);
  EXPECT_EQ(control->log, (Strings{"M10", "M11"}));
}

TEST_F(ShellLinkTest, DemonstrationModePollLeavesTheDesignTexts) {
  control->replies = {{"?", "short"}};
  ASSERT_FALSE(link.ConnectController());
  control->log.clear();
  PollTick(program, window);
  EXPECT_TRUE(control->log.empty());
  EXPECT_EQ(window.CmdPosLabel.text, "0.0000");
  EXPECT_EQ(window.DACLabel.text, "0.0000 volts");
  EXPECT_EQ(window.LoopStsLabel.text, "OPEN");
}

TEST_F(ShellLinkTest, RealTimePlotFedAfterTheClock) {
  GoOnline();
  control->replies = {{"rx0", "42"}};
  std::string clock_seen;
  window.update_graph = [&] { clock_seen = window.ClockLabel.text; };
  PollTick(program, window);
  EXPECT_EQ(clock_seen, "");
  window.RealTimePlotActive = -1;
  PollTick(program, window);
  EXPECT_EQ(clock_seen, "42");
}

TEST_F(ShellLinkTest, KillAndBrakes) {
  GoOnline();
  DoMotorKill(program, true);
  const Strings first_ten = {"DIS PLCC 0", "M100=0", "M101=1", "M104=0", "&2Q&1Q",
                             "M126=0",     "M121=0", "M124=0", "M330=I10", "M30=I10"};
  EXPECT_EQ(control->log, first_ten);
  control->log.clear();
  KillButtonClick(program);
  Strings all = first_ten;
  all.insert(all.end(), {"M131=0", "M127=0", "M136=0"});
  EXPECT_EQ(control->log, all);
  EXPECT_EQ(shell.beeps, 1);

  control->log.clear();
  window.BrakeButton[2].text = "Axis 2 V-Brake ON";
  BrakeButtonClick(program, window, 2);
  window.BrakeButton[2].text = "Axis 2 V-Brake Off";
  BrakeButtonClick(program, window, 2);
  window.BrakeButton[0].text = "Axis 3 Brake Off";
  BrakeButtonClick(program, window, 0);
  EXPECT_EQ(control->log, (Strings{"M131=0", "M131=1", "M129=1"}));
}

}  // namespace
}  // namespace zimo::labprog
