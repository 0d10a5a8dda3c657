// The status window's state without its widgets: every panel and value
// label with its text, colour and visibility, the brake and kill buttons,
// the servo clock, and the last-shown status values of the poll. The Qt
// window draws this state; the link, the poll and the start-up write it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace zimo::labprog {

struct StatusItem {
  std::string text;
  uint32_t color = 0;  // 0x00BBGGRR: 0 black, 0x80 dark red, 0xC0 red
  bool visible = true;
  int writes = 0;  // how often the poll wrote it
};

inline constexpr uint32_t kNormalColor = 0;
inline constexpr uint32_t kAlarmColor = 0x80;
inline constexpr uint32_t kBrakeOnColor = 0xC0;
inline constexpr int32_t kNothingShown = -1234;

struct StatusWindow {
  StatusWindow();

  StatusItem ApparatusPanel;
  StatusItem CmdPanel, CmdPosLabel;
  StatusItem DACPanel, DACLabel;
  std::array<StatusItem, 4> PosPanel, EncPosLabel;
  std::array<StatusItem, 3> FEPanel, FELabel;
  std::array<StatusItem, 4> StatusPanel;
  StatusItem LoopStsLabel, CtrlStsLabel, DistStsLabel, ServoLimitLabel;
  std::array<StatusItem, 3> BrakeButton;
  StatusItem ClockLabel;
  // The frame's rotor item, whose caption the poll keeps.
  StatusItem RotorMenuItem;

  // The poll's last-shown status values: loop, controller, disturbance,
  // servo time limit.
  int32_t LastLoopStatus = kNothingShown;
  int32_t LastControllerStatus = kNothingShown;
  int32_t LastDisturbanceStatus = kNothingShown;
  int32_t LastServoLimit = kNothingShown;

  // -1 while the real-time plot runs; the poll then calls update_graph.
  int16_t RealTimePlotActive = 0;
  std::function<void()> update_graph;
  // False while a transfer has stopped the poll.
  bool PollEnabled = true;

  // The rows of the build: first and second command, positions, velocity,
  // four status rows, the third brake shown.
  void LayOutRows();
  // The magnetic levitation plant: sensors and drives, two position rows,
  // no brake.
  void LayOutMagneticLevitation();
};

}  // namespace zimo::labprog
