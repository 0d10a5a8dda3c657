#include "labprog/status_window.h"

namespace zimo::labprog {

namespace {

StatusItem Item(std::string text, bool visible = true, uint32_t color = kNormalColor) {
  StatusItem item;
  item.text = std::move(text);
  item.visible = visible;
  item.color = color;
  return item;
}

}  // namespace

StatusWindow::StatusWindow() {
  ApparatusPanel = Item(" Apparatus: ???");
  CmdPanel = Item(" Command Pos:");
  CmdPosLabel = Item("0.0000");
  DACPanel = Item(" Control Effort:");
  DACLabel = Item("0.0000 volts");
  for (int i = 0; i < 4; ++i) {
    PosPanel[i] = Item(" Encoder " + std::to_string(i + 1) + " Pos:", i < 3);
    EncPosLabel[i] = Item("0.0000", i < 3);
  }
  for (int i = 0; i < 3; ++i) {
    FEPanel[i] = Item(" Following Error " + std::to_string(i + 1) + ":");
    FELabel[i] = Item("0.0000");
  }
  StatusPanel[0] = Item(" Control Loop Status:");
  StatusPanel[1] = Item(" Controller Status:");
  StatusPanel[2] = Item(" Disturbance Status:", false);
  StatusPanel[3] = Item(" Servo Time Limit:", false);
  LoopStsLabel = Item("OPEN");
  CtrlStsLabel = Item("OK");
  DistStsLabel = Item("OK");
  ServoLimitLabel = Item("LIMIT EXCEEDED");
  BrakeButton[0] = Item("Axis 3 Brake Off", false);
  BrakeButton[1] = Item("Axis 4 Brake Off", false);
  BrakeButton[2] = Item("Axis 2 V-Brake Off", false);
  ClockLabel = Item("Servo Clock");
  RotorMenuItem = Item("&Initialize Rotor Speed");
}

void StatusWindow::LayOutRows() {
  StatusPanel[3].visible = true;
  StatusPanel[1].text = " Motor 1 Status:";
  StatusPanel[2].text = " Motor 2 Status:";
  PosPanel[3].visible = true;
  EncPosLabel[3].visible = true;
  DACPanel.text = " Control Effort 1:";
  CmdPanel.text = " Command 1 Pos:";
  FEPanel[0].text = " Command 2 Pos:";
  FEPanel[1].text = " Control Effort 2:";
  FEPanel[2].text = " Encoder 1 Vel:";
  BrakeButton[2].visible = true;
}

void StatusWindow::LayOutMagneticLevitation() {
  StatusPanel[1].text = " Drive 1 Status:";
  StatusPanel[2].text = " Drive 2 Status:";
  PosPanel[0].text = " Sensor 1 Pos:";
  PosPanel[1].text = " Sensor 2 Pos:";
  PosPanel[2].visible = EncPosLabel[2].visible = false;
  PosPanel[3].visible = EncPosLabel[3].visible = false;
  BrakeButton[2].visible = false;
}

}  // namespace zimo::labprog
