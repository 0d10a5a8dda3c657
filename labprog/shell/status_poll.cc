#include "labprog/status_poll.h"

#include <string>

#include "labprog/units.h"
#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

class TickReader {
 public:
  explicit TickReader(CommandPath& link) : link_(link) {}

  // The numeric value of the card's reply to `command`.
  double Ask(const char* command) {
    if (timed_out_) {
      link_.ReplyText.clear();
      return 0;
    }
    link_.SendControllerCommand(link_.ReplyText, command);
    if (link_.OnlineFlag == -1 && link_.LastLinkStatus == 0 && link_.ReplyText.empty()) {
      timed_out_ = true;
    }
    return ui::Val(link_.ReplyText);
  }

 private:
  CommandPath& link_;
  bool timed_out_ = false;
};

void Write(StatusItem& item, std::string text, uint32_t color = kNormalColor) {
  item.text = std::move(text);
  item.color = color;
  ++item.writes;
}

std::string Position(const ExperimentConfiguration& config, double counts) {
  return FormatUserUnits(config, static_cast<float>(CountsToUserUnits(config, counts))) + " " +
         config.UserUnits;
}

std::string Volts(double value) { return ui::Format(value / 3276, "#0.000") + " volts"; }

int32_t StatusValue(double value) { return ui::CLng(value).value_or(0); }

// Writes a status label only when its value changed since it was shown.
void WriteStatus(StatusItem& item, int32_t& last, int32_t value, bool alarm,
                 const char* alarm_text, const char* normal_text) {
  if (value == last) return;
  if (alarm) {
    Write(item, alarm_text, kAlarmColor);
  } else {
    Write(item, normal_text, kNormalColor);
  }
  last = value;
}

void WriteBrake(StatusItem& button, double value, const char* axis) {
  if (value == 1) {
    Write(button, std::string(axis) + " ON", kBrakeOnColor);
  } else {
    Write(button, std::string(axis) + " Off", kNormalColor);
  }
}

}  // namespace

void PollTick(LabProgram& program, StatusWindow& window) {
  CommandPath& link = program.Link;
  if (link.OnlineFlag == 0 || !window.PollEnabled) return;
  const ExperimentConfiguration& config = program.Config;
  TickReader card(link);

  Write(window.CmdPosLabel, Position(config, card.Ask("M10") / 32));
  const char* encoders[] = {"M11", "M12", "M13", "M14"};
  for (int i = 0; i < 4; ++i) {
    Write(window.EncPosLabel[i], Position(config, card.Ask(encoders[i]) / 32));
  }
  Write(window.FELabel[0], Position(config, card.Ask("M9") / 32));
  Write(window.FELabel[1], Volts(card.Ask("M127")));
  Write(window.FELabel[2],
        FormatUserUnits(config, static_cast<float>(CountsToUserUnits(config, card.Ask("M199")))) +
            " RPM");
  WriteBrake(window.BrakeButton[0], card.Ask("M129"), "Axis 3 Brake");
  WriteBrake(window.BrakeButton[1], card.Ask("M130"), "Axis 4 Brake");
  WriteBrake(window.BrakeButton[2], card.Ask("M131"), "Axis 2 V-Brake");
  Write(window.DACLabel, Volts(card.Ask("M100")));

  int32_t loop = StatusValue(card.Ask("M104"));
  // An odd loop word is closed, an even one open (shown as an alarm).
  WriteStatus(window.LoopStsLabel, window.LastLoopStatus, loop, loop % 2 == 0, "OPEN", "CLOSED");
  int32_t controller = StatusValue(card.Ask("P1002"));
  WriteStatus(window.CtrlStsLabel, window.LastControllerStatus, controller, controller == 1,
              "LIMIT EXCEEDED", "OK");
  int32_t servo = StatusValue(card.Ask("P999"));
  WriteStatus(window.ServoLimitLabel, window.LastServoLimit, servo, servo != 0, "LIMIT EXCEEDED",
              "OK");
  if (window.StatusPanel[2].visible) {
    int32_t disturbance = StatusValue(card.Ask("P1012"));
    WriteStatus(window.DistStsLabel, window.LastDisturbanceStatus, disturbance, disturbance == 1,
                "LIMIT EXCEEDED", "OK");
  }
  Write(window.ClockLabel,
        FormatUserUnits(config, static_cast<float>(CountsToUserUnits(config, card.Ask("rx0")))));
  if (window.RealTimePlotActive == -1 && window.update_graph) window.update_graph();
  if (card.Ask("M136") != 0) {
    window.RotorMenuItem.text = "&Disable Rotor Speed Loop";
  } else {
    window.RotorMenuItem.text = "&Initialize Rotor Speed";
  }
}

void BrakeButtonClick(LabProgram& program, const StatusWindow& window, int index) {
  if (index < 0 || index > 2) return;
  const std::string& caption = window.BrakeButton[index].text;
  const bool off = !caption.empty() && caption.back() == 'f';
  const std::string command = "M" + std::to_string(129 + index) + (off ? "=1" : "=0");
  program.Link.SendControllerCommand(program.Link.ReplyText, command);
}

void DoMotorKill(LabProgram& program, bool bypass_rotor_code) {
  CommandPath& link = program.Link;
  for (const char* command : {"DIS PLCC 0", "M100=0", "M101=1", "M104=0", "&2Q&1Q", "M126=0",
                              "M121=0", "M124=0", "M330=I10", "M30=I10"}) {
    link.SendControllerCommand(link.ReplyText, command);
  }
  if (bypass_rotor_code) return;
  for (const char* command : {"M131=0", "M127=0", "M136=0"}) {
    link.SendControllerCommand(link.ReplyText, command);
  }
}

void KillButtonClick(LabProgram& program) {
  DoMotorKill(program, false);
  program.Windows.Beep();
}

}  // namespace zimo::labprog
