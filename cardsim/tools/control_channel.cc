#include "control_channel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "cardsim/brushless_control.h"
#include "cardsim/rotary_control.h"

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
  static Card::Snapshot no_snapshot;
  return RunControlCommand(card, command, &no_snapshot);
}

ControlResult RunControlCommand(Card& card, const std::string& command, Card::Snapshot* snapshot) {
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
  {
    // The binary rotary buffers' commands (cardsim/rotary_control.h).
    std::vector<std::string> all{verb};
    std::istringstream split(rest);
    for (std::string w; split >> w;) all.push_back(w);
    if (auto rotary = RunRotaryControl(card, all)) {
      if (!rotary->ok) return fail(rotary->lines.front());
      const std::string prefix = verb == "motion-log" ? "motion " : "bytes ";
      for (const std::string& l : rotary->lines) result.lines.push_back(prefix + l);
      result.lines.push_back("ok");
      return result;
    }
    // The motors' brushless side (cardsim/brushless_control.h).
    if (auto brushless = RunBrushlessControl(card, all)) {
      if (!brushless->ok) return fail(brushless->lines.front());
      result.lines = brushless->lines;
      result.lines.push_back("ok");
      return result;
    }
  }
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
    for (const std::string& entry : card.script().received())
      result.lines.push_back("log " + entry);
  } else if (verb == "clear-log") {
    card.script().ClearLog();
  } else if (verb == "silence") {
    // "silence after N [COUNT]", "silence at TEXT [COUNT]", "silence off"
    std::string c;
    words >> c;
    const std::optional<long> count = c.empty() ? std::optional<long>(-1) : Number(c);
    if (a == "off" && b.empty()) {
      card.script().ClearSilence();
    } else if (a == "after" && Number(b) && *Number(b) >= 0 && count && *count >= -1) {
      card.script().SilenceAfter(static_cast<int>(*Number(b)), static_cast<int>(*count));
    } else if (a == "at" && !b.empty() && count && *count >= -1) {
      card.script().SilenceAt(b, static_cast<int>(*count));
    } else {
      return fail("silence takes: after N [COUNT], at TEXT [COUNT] or off");
    }
  } else if (verb == "changes") {
    // "changes on|off", "changes" lists them, "changes clear"
    if (a == "clear") {
      card.ClearChanges();
    } else if (!a.empty()) {
      const std::optional<bool> on = OnOff(a);
      if (!on) return fail("changes takes on, off or clear");
      card.SetChangeLogging(*on);
    } else {
      for (const Card::Change& c : card.Changes()) {
        char text[160];
        std::snprintf(text, sizeof text, "change %.3f %s %s %.10g %.10g", c.ms, c.writer.c_str(),
                      c.what.c_str(), c.old_value, c.new_value);
        result.lines.push_back(text);
      }
    }
  } else if (verb == "watch") {
    // "watch X|Y ADDRESS" (decimal or $hex)
    std::optional<long> address = b.size() > 1 && b[0] == '$'
                                      ? std::optional<long>(std::strtol(b.c_str() + 1, nullptr, 16))
                                      : Number(b);
    if ((a != "X" && a != "Y") || !address || *address < 0 || *address > 0xFFFFFF) {
      return fail("watch takes X or Y and an address");
    }
    card.WatchWord(a == "X" ? Space::kX : Space::kY, static_cast<uint32_t>(*address));
  } else if (verb == "snapshot") {
    *snapshot = card.TakeSnapshot();
  } else if (verb == "compare") {
    for (const std::string& d : Card::Compare(*snapshot, card.TakeSnapshot())) {
      result.lines.push_back("differs " + d);
    }
  } else if (verb == "fault") {
    // "fault MOTOR LOAD [stuck]"
    std::string c;
    words >> c;
    const std::optional<long> motor = Number(a);
    char* end = nullptr;
    const double load = std::strtod(b.c_str(), &end);
    if (!motor || b.empty() || *end != '\0' || (!c.empty() && c != "stuck")) {
      return fail("fault takes a motor, a load and optionally stuck");
    }
    card.SetPlantFault(static_cast<int>(*motor), load, c == "stuck");
  } else if (verb == "limit") {
    // "limit MOTOR +|- on|off"
    std::string c;
    words >> c;
    const std::optional<long> motor = Number(a);
    const std::optional<bool> on = OnOff(c);
    if (!motor || (b != "+" && b != "-") || !on)
      return fail("limit takes a motor, + or -, on or off");
    card.SetLimitSwitch(static_cast<int>(*motor), b == "+", *on);
  } else if (verb == "freeze") {
    // "freeze on|off": the fixed DPR buffers stop (or resume) refreshing
    const std::optional<bool> on = OnOff(a);
    if (!on || !b.empty()) return fail("freeze takes on or off");
    card.script().SetDprFrozen(*on);
  } else if (verb == "motor-bits" || verb == "coord-bits") {
    // "motor-bits MOTOR SERVO MOTOR", "coord-bits SYSTEM FIRST SECOND" (hex)
    std::string c;
    words >> c;
    const std::optional<long> n = Number(a);
    char* end1 = nullptr;
    char* end2 = nullptr;
    const unsigned long w1 = std::strtoul(b.c_str(), &end1, 16);
    const unsigned long w2 = std::strtoul(c.c_str(), &end2, 16);
    if (!n || b.empty() || c.empty() || *end1 != '\0' || *end2 != '\0')
      return fail(verb + " takes a number and two hex words");
    if (verb == "motor-bits") {
      card.SetMotorStatusBits(static_cast<int>(*n), static_cast<uint32_t>(w1),
                              static_cast<uint32_t>(w2));
    } else {
      card.SetCoordStatusBits(static_cast<int>(*n), static_cast<uint32_t>(w1),
                              static_cast<uint32_t>(w2));
    }
  } else if (verb == "global-error") {
    // "global-error servo|reentry|memory|prom on|off"
    const std::optional<bool> on = OnOff(b);
    GlobalError e = GlobalError::kServo;
    if (a == "reentry")
      e = GlobalError::kReEntry;
    else if (a == "memory")
      e = GlobalError::kMemoryChecksum;
    else if (a == "prom")
      e = GlobalError::kPromChecksum;
    else if (a != "servo")
      return fail("global-error takes servo, reentry, memory or prom");
    if (!on) return fail("global-error takes on or off");
    card.SetGlobalError(e, *on);
  } else if (verb == "cut") {
    // "cut CHAR LENGTH": the answer to control character CHAR (its code) is cut
    const std::optional<long> c = Number(a);
    const std::optional<long> length = Number(b);
    if (!c || !length || *c < 0 || *c > 31 || *length < 0)
      return fail("cut takes a code 0..31 and a length");
    card.script().SetControlReplyLength(static_cast<char>(*c), static_cast<int>(*length));
  } else if (verb == "ring") {
    // "ring NODE [TYPE]" adds a station, "ring NODE off" removes it
    const std::optional<long> node = Number(a);
    if (!node) return fail("ring takes a node and a type or off");
    if (b == "off") {
      card.RemoveRingStation(static_cast<int>(*node));
    } else {
      const std::optional<long> type = b.empty() ? std::optional<long>(1) : Number(b);
      if (!type) return fail("ring takes a node and a type or off");
      card.AddRingStation(static_cast<int>(*node), static_cast<double>(*type));
    }
  } else if (verb == "servo") {
    // "servo N": run N servo cycles now
    const std::optional<long> n = Number(a);
    if (!n || *n < 0 || *n > 100000000) return fail("servo takes a number of cycles");
    card.AdvanceServo(static_cast<int>(*n));
  } else if (verb == "quit") {
    result.quit = true;
  } else {
    return fail("unknown command \"" + verb + "\"");
  }
  result.lines.push_back("ok");
  return result;
}

}  // namespace zimo::cardsim
