// Stand-ins for the card's command path and the shell's windows: they
// record what the settings code sends and shows, and answer from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "labprog/command_path.h"
#include "labprog/lab_program.h"

namespace zimo::labprog::testing {

// Keeps the link's rules (offline: nothing sent, replies untouched) and
// logs every line that would reach the card; control-X is logged as "^X".
class RecordingCommandPath : public CommandPath {
 public:
  std::vector<std::string> sent;
  std::map<std::string, std::string> replies;  // command -> reply ("" if none)
  std::deque<std::string> lines;               // for ReadControllerLine
  bool card_present = true;                    // what ConnectController finds

  void SendControllerCommand(std::string& reply, std::string_view command) override {
    if (OnlineFlag == 0) return;
    sent.emplace_back(command);
    auto it = replies.find(std::string(command));
    reply = it != replies.end() ? it->second : "";
    LastLinkStatus = -1;
  }
  int16_t ReadControllerLine(std::string& line) override {
    if (OnlineFlag == 0) return 0;
    line = lines.empty() ? "" : lines.front();
    if (!lines.empty()) lines.pop_front();
    LastLinkStatus = line.empty() ? 0 : -1;
    return LastLinkStatus;
  }
  void SendControllerLine(std::string_view command) override {
    if (OnlineFlag != 0) sent.emplace_back(command);
  }
  void ClearControllerBuffer() override {
    if (OnlineFlag != 0) sent.emplace_back("^X");
  }
  bool ConnectController() override {
    OnlineFlag = card_present ? -1 : 0;
    return card_present;
  }
};

class RecordingShellWindows : public ShellWindows {
 public:
  std::vector<std::string> events;  // "beep", "caption <text>", "panels"
  std::vector<std::string> frame_captions;
  std::vector<StatusPanelCaptions> panel_captions;
  int beeps = 0;

  void SetFrameCaption(const std::string& caption) override {
    frame_captions.push_back(caption);
    events.push_back("caption " + caption);
  }
  void SetStatusPanelCaptions(const StatusPanelCaptions& captions) override {
    panel_captions.push_back(captions);
    events.push_back("panels");
  }
  void Beep() override {
    ++beeps;
    events.push_back("beep");
  }
};

}  // namespace zimo::labprog::testing
