// The frame's menu bar against the table of its items, the about box, and
// the status window drawing the shell's state.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QApplication>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <string>
#include <vector>

#include "lab_windows.h"
#include "ui_test_support.h"

namespace zimo::labprog {
namespace {

struct Row {
  std::string name, caption;
  bool enabled;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
  *os << r.name << " \"" << r.caption << "\" " << (r.enabled ? "on" : "off");
}

TEST(FrameTest, MenuBarHoldsEveryItemInOrder) {
  zimo::ui::testing::TestApplication();
  MainMdiForm frame;
  std::vector<Row> seen;
  for (QAction* top : frame.menuBar()->actions()) {
    QMenu* menu = top->menu();
    ASSERT_NE(menu, nullptr);
    seen.push_back({menu->objectName().toStdString(), top->text().toStdString(), top->isEnabled()});
    for (QAction* item : menu->actions()) {
      seen.push_back({item->objectName().toStdString(),
                      item->isSeparator() ? "-" : item->text().toStdString(), item->isEnabled()});
    }
  }
  const std::vector<Row> expected = {
      {"mnuFile", "&File", true},
      {"mnuFileLoad", "&Load settings...", true},
      {"mnuFileSave", "&Save settings...", true},
      {"sep1", "-", true},
      {"mnuFileAbout", "&About...", true},
      {"sep2", "-", true},
      {"mnuFileExit", "E&xit", true},
      {"mnuSetup", "&Setup", true},
      {"mnuSetupControl", "&Control Algorithm...", true},
      {"mnuSensorCalibration", "&Setup Sensor Calibration...", false},
      {"mnuSetupUnits", "&User Units...", false},
      {"sep3", "-", true},
      {"mnuSetupComm", "C&ommunications...", true},
      {"mnuCmd", "&Command", true},
      {"mnuCmdTrajectory", "&Trajectory 1...", true},
      {"mnuCmdTrajectory2", "Tra&jectory 2...", true},
      {"mnuCmdDisturbance", "&Disturbance...", false},
      {"mnuCmdExecute", "E&xecute...", true},
      {"mnuCommandSep", "-", true},
      {"mnuCmdRotor", "&Initialize Rotor Speed", true},
      {"mneData", "&Data", true},
      {"mnuDataSetupAq", "Setup Data Aquisition...", true},
      {"mnuDataUpload", "&Upload Data", false},
      {"sep4", "-", true},
      {"mnuDataExport", "E&xport Raw Data...", false},
      {"mnuPlot", "&Plotting", true},
      {"mnuPlotSetup", "&Setup Plot...", true},
      {"mnuPlotPlot", "Plot Data", false},
      {"sep5", "-", true},
      {"mnuPlotAxis", "&Axis Scaling...", true},
      {"mnuPlotPrint", "&Print Plot...", true},
      {"sep6", "-", true},
      {"mnuPlotLoad", "&Load Plot Data...", true},
      {"mnuPlotSave", "&Save Plot Data...", true},
      {"sep7", "-", true},
      {"mnuPlotRTPlot", "&Real Time Plot...", true},
      {"sep8", "-", true},
      {"mnuPlotClose", "&Close Window", true},
      {"mnuUtility", "&Utility", true},
      {"mnuUtilConfig", "&Configure Auxilary DACs...", true},
      {"sep10", "-", true},
      {"mnuUtilJog", "&Jog Position", false},
      {"mnuUtilZero", "&Zero Position", true},
      {"sep11", "-", true},
      {"mnuUtilReset", "&Reset Controller", true},
      {"mnuUtilRephase", "Rephase &Motor", false},
      {"mnuUtilDownload", "&Download Controller Personality File...", true},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(frame.windowTitle().toStdString(), "QEL (DX-24) Labrunner ");
}

TEST(FrameTest, AboutBox) {
  zimo::ui::testing::TestApplication();
  AboutForm about;
  EXPECT_EQ(about.windowTitle().toStdString(), "About QEL Labrunner");
  EXPECT_TRUE(zimo::ui::testing::Shows(&about, "Version 5.5 (32 bit)"));
  EXPECT_TRUE(zimo::ui::testing::Shows(&about, "Build:021808"));
}

TEST(FrameTest, StatusWindowDrawsItsState) {
  zimo::ui::testing::TestApplication();
  StatusWindow state;
  state.LayOutRows();
  StatusForm form(state);
  form.show();
  EXPECT_TRUE(zimo::ui::testing::Shows(&form, " Apparatus: ???"));
  EXPECT_TRUE(zimo::ui::testing::Shows(&form, "0.0000 volts"));
  EXPECT_TRUE(zimo::ui::testing::Shows(&form, "OPEN"));
  EXPECT_TRUE(zimo::ui::testing::Shows(&form, " Command 2 Pos:"));
  auto* brake = form.findChild<QPushButton*>("BrakeButton2");
  ASSERT_NE(brake, nullptr);
  EXPECT_TRUE(brake->isVisible());
  EXPECT_FALSE(form.findChild<QPushButton*>("BrakeButton0")->isVisible());
  int clicked = -1;
  form.on_brake = [&](int i) { clicked = i; };
  brake->click();
  EXPECT_EQ(clicked, 2);

  state.LayOutMagneticLevitation();
  form.Refresh();
  EXPECT_TRUE(zimo::ui::testing::Shows(&form, " Sensor 1 Pos:"));
  EXPECT_FALSE(brake->isVisible());
  EXPECT_FALSE(form.findChild<QLabel*>("PosPanel2")->isVisible());
}

// Pictures of the frame for a look (saved to the gallery folder; the test
// checks that each was written).
TEST(FrameTest, Pictures) {
  zimo::ui::testing::TestApplication();
  struct Shot {
    const char* file;
    bool online;
    bool levitation;
  };
  for (const Shot& shot : {Shot{"kabrun32-online.png", true, false},
                           Shot{"kabrun32-demo.png", false, false},
                           Shot{"kabrun32-apparatus11.png", true, true}}) {
    StatusWindow state;
    state.LayOutRows();
    if (shot.online) {
      state.ApparatusPanel.text = " Apparatus:  Model R-20";
      state.CmdPosLabel.text = "100 counts";
      state.DACLabel.text = "0.500 volts";
      state.LoopStsLabel = {"CLOSED", 0, true, 1};
      state.BrakeButton[2] = {"Axis 2 V-Brake ON", 0xC0, true, 1};
    }
    if (shot.levitation) state.LayOutMagneticLevitation();
    MainMdiForm frame;
    auto* form = new StatusForm(state);
    frame.area()->addSubWindow(form)->showMaximized();
    frame.show();
    QApplication::processEvents();
    const auto file = zimo::ui::testing::GalleryDir() / shot.file;
    EXPECT_TRUE(zimo::ui::testing::SavePicture(&frame, file)) << file;
  }
  AboutForm about;
  about.show();
  EXPECT_TRUE(zimo::ui::testing::SavePicture(&about, zimo::ui::testing::GalleryDir() / "kabrun32-about.png"));
}

}  // namespace
}  // namespace zimo::labprog
