#include "control_channel.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sstream>

namespace zimo::cardsim {
namespace {

std::optional<long> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

std::optional<bool> OnOff(const std::string& text) {
  if (text == "on") return true;
  if (text == "off") return false;
  return std::nullopt;
}

}  // namespace

ControlResult RunControlCommand(Card& card, const std::string& command) {
  ControlResult result;
  std::string line = command;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  const size_t cut = line.find(' ');
  const std::string verb = line.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : line.substr(cut + 1);
  std::istringstream words(rest);
  std::string a, b;
  words >> a >> b;
  auto fail = [&](const std::string& why) {
    result.lines.push_back("error " + why);
    return result;
  };

  if (verb.empty()) return fail("empty command");
  if (verb == "mute" || verb == "ack") {
    const std::optional<bool> on = OnOff(a);
    if (!on || !b.empty()) return fail(verb + " takes on or off");
    if (verb == "mute") {
      card.script().SetMuted(*on);
    } else {
      card.script().SetAckOmitted(!*on);
    }
  } else if (verb == "error") {
    const std::optional<long> n = Number(a);
    const std::optional<long> count = b.empty() ? std::optional<long>(1) : Number(b);
    if (!n || *n < 0 || *n > 999 || !count || *count < -1) {
      return fail("error takes a number 0-999 and a count (-1: every line)");
    }
    card.script().InjectError(static_cast<int>(*n), static_cast<int>(*count));
  } else if (verb == "delay") {
    const std::optional<long> ms = Number(a);
    const std::optional<long> count = b.empty() ? std::optional<long>(-1) : Number(b);
    if (!ms || *ms < 0 || *ms > 600000 || !count || *count < -1) {
      return fail("delay takes milliseconds and a count (-1: every reply)");
    }
    card.script().SetReplyDelay(std::chrono::milliseconds(*ms), static_cast<int>(*count));
  } else if (verb == "unsolicited") {
    if (rest.empty()) return fail("unsolicited needs a text");
    card.PostUnsolicited(rest);
  } else if (verb == "log") {
    for (const std::string& entry : card.script().received()) result.lines.push_back("log " + entry);
  } else if (verb == "clear-log") {
    card.script().ClearLog();
  } else if (verb == "quit") {
    result.quit = true;
  } else {
    return fail("unknown command \"" + verb + "\"");
  }
  result.lines.push_back("ok");
  return result;
}

}  // namespace zimo::cardsim
