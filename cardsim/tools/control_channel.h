// The control channel of zimo-cardsim: one command per line on standard
// input, to script the running card ("mute on", "unsolicited TEXT", "log",
// ...). Each command is answered with its output lines and then "ok" or
// "error TEXT".
#pragma once

#include <string>
#include <vector>

#include "cardsim/card.h"

namespace zimo::cardsim {

struct ControlResult {
  std::vector<std::string> lines;  // output, "ok" or "error ..." last
  bool quit = false;               // the command asked the program to end
};

ControlResult RunControlCommand(Card& card, const std::string& command);
// The same with the snapshot that "snapshot" takes and "compare" compares with.
ControlResult RunControlCommand(Card& card, const std::string& command, Card::Snapshot* snapshot);

}  // namespace zimo::cardsim
