// The scripted card of the motor set-up tests (current feedback, six-step,
// open loop): it logs control characters as the simulated card logs them
// ("^K") and the gather set-ups, which are no exchange of the command
// path, as lines in brackets; and it answers the feedback-table search.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tuning/tuning.h"
#include "tuning_scripted_path.h"
#include "tuning_transcripts.h"

namespace zimo::corvan::testing {

// A feedback table the search cannot get through: its words from $720 on
// and the status of the reply for $721.
struct UnreadableTable {
  const char* name;
  std::vector<std::string> words;
  std::uint32_t status_of_721;
};

// An empty reply, a card error, and 32 entries with no end by $73F.
inline std::vector<UnreadableTable> UnreadableTables() {
  return {
      {"empty reply", {"1049347", ""}, kStatusAck},
      {"card error", {"1049347", "\aERR003"}, kStatusCardError},
      {"no end by $73F", std::vector<std::string>(32, "1049347"), kStatusAck},
  };
}

class SetupTestCard : public TuningPath {
 public:
  tuning::TuningCard Card(bool spran = false, int device = 0) {
    tuning::TuningCard card{.path = *this, .device = device, .spran = spran};
    card.send_char = [this](char c) { sent.push_back(std::string("^") + char(c + 64)); };
    card.current_gather = [this](std::uint32_t mask, std::int32_t enable) {
      Log("[current gather $%X, %d]", mask, enable);
    };
    card.quick_gather = [this](std::uint32_t mask, std::int32_t enable) {
      Log("[quick gather $%X, %d]", mask, enable);
    };
    card.set_gather = [this](std::uint32_t source, const char* address, std::int32_t enable) {
      Log("[gather source %u %s, %d]", source, address, enable);
    };
    return card;
  }

  // Replies to the feedback-table search: the words from $720 on.
  void Table(const std::vector<std::string>& words) {
    char command[16];
    for (std::size_t i = 0; i < words.size(); ++i) {
      std::snprintf(command, sizeof command, "RY:$%x", static_cast<unsigned>(0x720 + i));
      Reply(command, words[i] + "\r");
    }
  }
  void Table(const UnreadableTable& table) {
    Table(table.words);
    if (table.status_of_721 != kStatusAck) Reply("RY:$721", table.words[1], table.status_of_721);
  }

 private:
  template <typename... Args>
  void Log(const char* format, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    sent.emplace_back(text);
  }
};

inline bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace zimo::corvan::testing
