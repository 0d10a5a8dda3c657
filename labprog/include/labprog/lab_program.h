// The program-wide state that the experiment settings share with the shell:
// the experiment record, the gathered data, the batch flag, the command
// path to the card and the windows the settings write into.
#pragma once

#include <cstdint>
#include <string>

#include "labprog/command_path.h"
#include "labprog/experiment_configuration.h"
#include "labprog/gathered_data.h"

namespace zimo::labprog {

// Captions of the status window's panels for the connected plant.
struct StatusPanelCaptions {
  std::string Cmd;                        // the command panel
  std::string Pos[3];                     // position panels 0 to 2
  std::string FE[3];                      // following-error panels 0 to 2
  bool SensorCalibrationEnabled = false;  // the frame's sensor calibration item
  bool operator==(const StatusPanelCaptions&) const = default;
};

// What the settings change in the shell's windows; the shell binds it to
// its windows, tests record it.
class ShellWindows {
 public:
  virtual ~ShellWindows() = default;
  virtual void SetFrameCaption(const std::string& caption) = 0;
  virtual void SetStatusPanelCaptions(const StatusPanelCaptions& captions) = 0;
  virtual void Beep() = 0;
};

struct LabProgram {
  LabProgram(CommandPath& link, ShellWindows& windows) : Link(link), Windows(windows) {}

  CommandPath& Link;
  ShellWindows& Windows;
  ExperimentConfiguration Config;
  GatheredData Data;
  // -1 while one experiment runs from the command line.
  int16_t BatchModeFlag = 0;
  // The apparatus panel's tag: the card's "P1000" reply of the last
  // connection (empty before any).
  std::string ApparatusTag;
  // The program title the frame caption starts with.
  std::string ProgramTitle = "QEL DX-24 Labrunner (32 bit) 5.5";
};

}  // namespace zimo::labprog
