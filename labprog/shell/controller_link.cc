#include "labprog/controller_link.h"

#include "labprog/lab_program.h"
#include "labprog/names.h"
#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

int16_t RoundedInteger(const std::string& text) {
  return ui::CInt(ui::Val(text)).value_or(0);
}

}  // namespace

void ControllerLink::SendControllerCommand(std::string& reply, std::string_view command) {
  if (OnlineFlag != -1) return;
  std::string text(command);
  std::string answer;
  LastLinkStatus = vocto_.GetResponse(answer, text) ? -1 : 0;
  reply = answer;
}

int16_t ControllerLink::ReadControllerLine(std::string& line) {
  if (OnlineFlag != -1) return 0;
  std::string answer;
  LastLinkStatus = vocto_.GetLineCR(answer) ? -1 : 0;
  line = answer;
  return LastLinkStatus;
}

void ControllerLink::SendControllerLine(std::string_view command) {
  if (OnlineFlag == 0) return;
  std::string text(command);
  (void)vocto_.SendLine(text);
}

void ControllerLink::ClearControllerBuffer() {
  if (OnlineFlag != -1) return;
  std::string code = "24";
  (void)vocto_.SendChar(code);
  vocto_.Flush();
}

bool ControllerLink::ConnectController() {
  if (on_busy) on_busy(true);
  OnlineFlag = 0;
  vocto_.LoadSettings();
  vocto_.SetEnabled(automation::Variant(true));
  std::string command = "24";
  (void)vocto_.SendChar(command);
  for (const char* text : {"i3=2", "i9=0"}) {
    command = text;
    (void)vocto_.GetResponse(connect_reply_, command);
  }
  vocto_.Flush();
  command = "?";
  (void)vocto_.GetResponse(connect_reply_, command);
  if (on_busy) on_busy(false);
  if (connect_reply_.size() != 12) {
    OnlineFlag = 0;
    return false;
  }
  OnlineFlag = -1;
  command = "P1000";
  (void)vocto_.GetResponse(connect_reply_, command);
  command = "P666";
  (void)vocto_.GetResponse(accessory_reply_, command);
  if (program_ != nullptr) {
    window_.ApparatusPanel.text = ApparatusCaption(*program_, RoundedInteger(connect_reply_),
                                                   RoundedInteger(accessory_reply_));
    program_->ApparatusTag = connect_reply_;
  }
  command = "P1021";
  (void)vocto_.GetResponse(connect_reply_, command);
  const int16_t apparatus = program_ != nullptr ? program_->Config.ApparatusCode : 0;
  if (ui::Val(connect_reply_) == 1 || apparatus == 6) window_.StatusPanel[2].visible = true;
  vocto_.SaveSettings();
  return true;
}

}  // namespace zimo::labprog
