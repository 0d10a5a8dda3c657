// What the tuning tests share: the golden transcripts of the lines a
// procedure sends (data/tuning/*.txt, one line each; in the position-move
// and autotuning ones a "<quick gather MASK>" line stands where the gather
// preset is set up), and for the position moves and autotuning downloads a
// scripted card that records where the preset was asked for.
#pragma once

#include <cstring>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "corvan/gather_api.h"
#include "platform/process.h"
#include "tuning/tuning.h"
#include "tuning_scripted_path.h"

namespace zimo::corvan::testing {

using Lines = std::vector<std::string>;

struct Transcript {
  Lines lines;
  // The quick gather: asked for after `gather_at` lines, with `mask`; -1
  // when the procedure sets up none.
  int gather_at = -1;
  std::uint32_t mask = 0;
};

inline std::filesystem::path TuningGolden(const std::string& name) {
  std::filesystem::path source(__FILE__);
  if (source.is_relative()) source = platform::ExecutableDir().parent_path() / source;
  return source.parent_path() / "data" / "tuning" / name;
}

// The lines of a golden transcript as they stand.
inline Lines GoldenLines(const std::string& name) {
  std::ifstream in(TuningGolden(name), std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  Lines lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline Transcript LoadTranscript(const std::string& name) {
  Transcript t;
  const std::string marker = "<quick gather ";
  for (const std::string& line : GoldenLines(name)) {
    if (line.rfind(marker, 0) == 0) {
      t.gather_at = static_cast<int>(t.lines.size());
      t.mask = static_cast<std::uint32_t>(std::strtoul(line.c_str() + marker.size(), nullptr, 16));
    } else {
      t.lines.push_back(line);
    }
  }
  return t;
}

// What the simulated card receives from a procedure on device 0 that sends
// `golden` through the library: the golden lines with the gather preset's
// own lines where the procedure asks for the preset. `received` returns
// the card's log since its last call.
inline Lines ExpectedOnCard(const Transcript& golden, const std::function<Lines()>& received) {
  received();
  if (golden.gather_at < 0) return golden.lines;
  // The preset's lines depend on the sources it finds set: once to set
  // them, once more to see what it sends when the procedure asks.
  EXPECT_EQ(ZimoSetQuickGather(0, golden.mask, 1), 1);
  received();
  EXPECT_EQ(ZimoSetQuickGather(0, golden.mask, 1), 1);
  const Lines gather_lines = received();
  Lines lines(golden.lines.begin(), golden.lines.begin() + golden.gather_at);
  lines.insert(lines.end(), gather_lines.begin(), gather_lines.end());
  lines.insert(lines.end(), golden.lines.begin() + golden.gather_at, golden.lines.end());
  return lines;
}

// A scripted card (every line answered with ACK unless told otherwise;
// "I10" answered 3713707) and the quick-gather requests it saw, each with
// the count of lines sent before it.
class ScriptedTuningCard {
 public:
  explicit ScriptedTuningCard(int card_type) : card_type_(card_type) {
    path.Reply("I10", "3713707\r");
  }
  tuning::TuningCard card() {
    tuning::TuningCard card{.path = path, .device = 0, .card_type = card_type_};
    card.quick_gather = [this](std::uint32_t mask, std::int32_t enable) {
      EXPECT_EQ(enable, 1);
      gathers.emplace_back(static_cast<int>(path.sent.size()), mask);
    };
    return card;
  }

  TuningPath path;
  std::vector<std::pair<int, std::uint32_t>> gathers;

 private:
  int card_type_;
};

struct TuningProcedure {
  const char* golden;
  int card_type;
  std::function<int(tuning::TuningCard&)> run;
};

// Each procedure sends its golden transcript whole and asks for the quick
// gather where the golden says.
inline void ExpectGoldenTranscripts(const std::vector<TuningProcedure>& procedures) {
  for (const auto& p : procedures) {
    const Transcript golden = LoadTranscript(p.golden);
    ScriptedTuningCard scripted(p.card_type);
    auto card = scripted.card();
    EXPECT_EQ(p.run(card), 1) << p.golden;
    EXPECT_EQ(scripted.path.sent, golden.lines) << p.golden;
    std::vector<std::pair<int, std::uint32_t>> gathers;
    if (golden.gather_at >= 0) gathers.emplace_back(golden.gather_at, golden.mask);
    EXPECT_EQ(scripted.gathers, gathers) << p.golden;
  }
}

// A card silent after k lines, for every k: the procedure fails, nothing
// is sent after the line that got no answer, and the gather is set up only
// when every line before it was answered.
// Whether the card may hold a program buffer open once lines 0 to k have
// gone out and line k went unanswered: an OPEN line went out and no CLOSE
// (or CLS) after it was answered.
inline bool BufferLeftOpen(const Lines& lines, std::size_t k) {
  auto starts = [](const std::string& line, const char* word) {
    const std::size_t n = std::strlen(word);
    if (line.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if ((line[i] & ~0x20) != word[i]) return false;
    }
    return line.size() == n || line[n] == ' ' || (line[n] >= '0' && line[n] <= '9');
  };
  bool open = false;
  for (std::size_t i = 0; i <= k && i < lines.size(); ++i) {
    if (starts(lines[i], "OPEN")) open = true;
    if (i < k && (starts(lines[i], "CLOSE") || starts(lines[i], "CLS"))) open = false;
  }
  return open;
}

// The link cut after each line in turn: nothing more is sent, except the
// CLOSE of a program buffer the cut left open.
inline void ExpectStopAtEveryCut(const std::vector<TuningProcedure>& procedures) {
  for (const auto& p : procedures) {
    const Transcript golden = LoadTranscript(p.golden);
    for (std::size_t k = 0; k < golden.lines.size(); ++k) {
      ScriptedTuningCard scripted(p.card_type);
      scripted.path.SilentAfter(static_cast<int>(k));
      auto card = scripted.card();
      EXPECT_EQ(p.run(card), 0) << p.golden << " cut after " << k;
      Lines sent(golden.lines.begin(), golden.lines.begin() + static_cast<long>(k) + 1);
      if (BufferLeftOpen(golden.lines, k)) sent.push_back("CLOSE");
      EXPECT_EQ(scripted.path.sent, sent) << p.golden << " cut after " << k;
      const bool gathered = golden.gather_at >= 0 && static_cast<int>(k) >= golden.gather_at;
      EXPECT_EQ(scripted.gathers.size(), gathered ? 1u : 0u) << p.golden << " cut after " << k;
    }
  }
}

// A card error reply to `line` does not stop a procedure.
inline void ExpectCardErrorsDoNotStop(const std::vector<TuningProcedure>& procedures,
                                      const std::string& line) {
  for (const auto& p : procedures) {
    const Transcript golden = LoadTranscript(p.golden);
    ScriptedTuningCard scripted(p.card_type);
    scripted.path.Reply(line, "\aERR003\r", kStatusCardError);
    auto card = scripted.card();
    EXPECT_EQ(p.run(card), 1) << p.golden;
    EXPECT_EQ(scripted.path.sent, golden.lines) << p.golden;
  }
}

}  // namespace zimo::corvan::testing
