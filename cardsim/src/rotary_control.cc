// Test commands of the binary rotary buffers (rotary_control.h).
#include "cardsim/rotary_control.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

// "CODE" or "3:TAKE".
std::optional<std::pair<uint32_t, size_t>> Answer(const std::string& text) {
  const size_t colon = text.find(':');
  const std::optional<long> code = Number(text.substr(0, colon));
  if (!code || *code < 0 || *code > 255) return std::nullopt;
  long take = 0;
  if (colon != std::string::npos) {
    const std::optional<long> t = Number(text.substr(colon + 1));
    if (!t || *t < 0 || *t > 65535) return std::nullopt;
    take = *t;
  }
  return std::make_pair(static_cast<uint32_t>(*code), static_cast<size_t>(take));
}

RotaryControlResult Fail(std::string why) { return RotaryControlResult{false, {std::move(why)}}; }

}  // namespace

std::optional<RotaryControlResult> RunRotaryControl(Card& card,
                                                    const std::vector<std::string>& words) {
  if (words.empty()) return std::nullopt;
  const std::string& verb = words[0];
  const size_t args = words.size() - 1;
  RotaryControlResult result;
  if (verb == "motion-log") {
    if (args != 0) return Fail("motion-log takes nothing");
    result.lines = card.MotionLog();
  } else if (verb == "clear-motion-log") {
    card.ClearMotionLog();
  } else if (verb == "rotary-answer") {
    // "rotary-answer off", "rotary-answer every N CODE[:TAKE] [COUNT]",
    // "rotary-answer CODE[:TAKE] ..." (one per staged put, in order)
    if (args == 1 && words[1] == "off") {
      card.QueueRotaryAnswers({});
      card.ScriptRotaryAnswer(0, 0, 1, 0);
    } else if (args >= 3 && words[1] == "every") {
      const std::optional<long> every = Number(words[2]);
      const auto answer = Answer(words[3]);
      const std::optional<long> count = args >= 4 ? Number(words[4]) : std::optional<long>(-1);
      if (!every || *every < 1 || !answer || !count || *count < -1 || args > 4) {
        return Fail("rotary-answer every takes N, CODE[:TAKE] and a count");
      }
      card.ScriptRotaryAnswer(answer->first, answer->second, static_cast<int>(*every),
                              static_cast<int>(*count));
    } else if (args >= 1) {
      std::vector<std::pair<uint32_t, size_t>> answers;
      for (size_t i = 1; i < words.size(); ++i) {
        const auto answer = Answer(words[i]);
        if (!answer) return Fail("rotary-answer takes CODE[:TAKE] ... (codes 0-255)");
        answers.push_back(*answer);
      }
      card.QueueRotaryAnswers(std::move(answers));
    } else {
      return Fail("rotary-answer takes off, every N CODE[:TAKE] [COUNT], or CODE[:TAKE] ...");
    }
  } else if (verb == "host-rotary-refuse") {
    // "host-rotary-refuse EVERY [COUNT]", "host-rotary-refuse off"
    if (args == 1 && words[1] == "off") {
      card.ScriptHostRotaryRefusal(1, 0);
    } else {
      const std::optional<long> every = args >= 1 ? Number(words[1]) : std::nullopt;
      const std::optional<long> count = args >= 2 ? Number(words[2]) : std::optional<long>(-1);
      if (!every || *every < 1 || !count || *count < -1 || args > 2) {
        return Fail("host-rotary-refuse takes EVERY [COUNT] or off");
      }
      card.ScriptHostRotaryRefusal(static_cast<int>(*every), static_cast<int>(*count));
    }
  } else if (verb == "host-rotary-capacity") {
    const std::optional<long> units = args == 1 ? Number(words[1]) : std::nullopt;
    if (!units || *units < 0) return Fail("host-rotary-capacity takes a number of units");
    card.SetHostRotaryCapacity(static_cast<size_t>(*units));
  } else if (verb == "host-rotary") {
    // The bytes of USB pipe 2 since the last 0xE8, in hex.
    std::string hex;
    for (unsigned char c : card.HostRotaryReceived()) {
      char two[3];
      std::snprintf(two, sizeof two, "%02X", c);
      hex += two;
    }
    result.lines.push_back(hex);
  } else if (verb == "rotary-error") {
    const std::optional<long> buffer = args == 2 ? Number(words[1]) : std::nullopt;
    if (!buffer || *buffer < 0 || *buffer > 7 || (words[2] != "on" && words[2] != "off")) {
      return Fail("rotary-error takes a buffer 0-7 and on or off");
    }
    card.SetRotaryBufferError(static_cast<int>(*buffer), words[2] == "on");
  } else {
    return std::nullopt;
  }
  return result;
}

}  // namespace zimo::cardsim
