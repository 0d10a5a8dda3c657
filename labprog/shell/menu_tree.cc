#include "labprog/menu_tree.h"

namespace zimo::labprog {

const std::vector<MenuRow>& FrameMenuTree() {
  static const std::vector<MenuRow> rows = {
      {"mnuFile", "&File", true, 0},
      {"mnuFileLoad", "&Load settings..."},
      {"mnuFileSave", "&Save settings..."},
      {"sep1", "-"},
      {"mnuFileAbout", "&About..."},
      {"sep2", "-"},
      {"mnuFileExit", "E&xit"},
      {"mnuSetup", "&Setup", true, 0},
      {"mnuSetupControl", "&Control Algorithm..."},
      {"mnuSensorCalibration", "&Setup Sensor Calibration...", false},
      {"mnuSetupUnits", "&User Units...", false},
      {"sep3", "-"},
      {"mnuSetupComm", "C&ommunications..."},
      {"mnuCmd", "&Command", true, 0},
      {"mnuCmdTrajectory", "&Trajectory 1..."},
      {"mnuCmdTrajectory2", "Tra&jectory 2..."},
      {"mnuCmdDisturbance", "&Disturbance...", false},
      {"mnuCmdExecute", "E&xecute..."},
      {"mnuCommandSep", "-"},
      {"mnuCmdRotor", "&Initialize Rotor Speed"},
      {"mneData", "&Data", true, 0},
      {"mnuDataSetupAq", "Setup Data Aquisition..."},
      {"mnuDataUpload", "&Upload Data", false},
      {"sep4", "-"},
      {"mnuDataExport", "E&xport Raw Data...", false},
      {"mnuPlot", "&Plotting", true, 0},
      {"mnuPlotSetup", "&Setup Plot..."},
      {"mnuPlotPlot", "Plot Data", false},
      {"sep5", "-"},
      {"mnuPlotAxis", "&Axis Scaling..."},
      {"mnuPlotPrint", "&Print Plot..."},
      {"sep6", "-"},
      {"mnuPlotLoad", "&Load Plot Data..."},
      {"mnuPlotSave", "&Save Plot Data..."},
      {"sep7", "-"},
      {"mnuPlotRTPlot", "&Real Time Plot..."},
      {"sep8", "-"},
      {"mnuPlotClose", "&Close Window"},
      {"mnuUtility", "&Utility", true, 0},
      {"mnuUtilConfig", "&Configure Auxilary DACs..."},
      {"sep10", "-"},
      {"mnuUtilJog", "&Jog Position", false},
      {"mnuUtilZero", "&Zero Position"},
      {"sep11", "-"},
      {"mnuUtilReset", "&Reset Controller"},
      {"mnuUtilRephase", "Rephase &Motor", false},
      {"mnuUtilDownload", "&Download Controller Personality File..."},
  };
  return rows;
}

}  // namespace zimo::labprog
