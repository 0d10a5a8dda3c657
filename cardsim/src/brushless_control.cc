// Test commands of the motors' brushless side (brushless_control.h).
#include "cardsim/brushless_control.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cardsim/brushless.h"

namespace zimo::cardsim {
namespace {

std::optional<double> Real(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> Sign(const std::string& text) {
  if (text == "+") return 1;
  if (text == "-") return -1;
  return std::nullopt;
}

BrushlessControlResult Fail(std::string why) {
  return BrushlessControlResult{false, {std::move(why)}};
}

// "rotor MOTOR": its angle and count; "rotor MOTOR KEY VALUE ...": keys
// cycle COUNTS, lag MS, wiring +|-, hall DEG, angle DEG.
BrushlessControlResult Rotor(Card& card, const std::vector<std::string>& words) {
  const char* usage =
      "rotor takes a motor, then cycle COUNTS, lag MS, wiring +|-, hall DEG or angle DEG";
  const std::optional<double> motor = words.size() >= 2 ? Real(words[1]) : std::nullopt;
  if (!motor || *motor != std::trunc(*motor) || *motor < 1 || *motor > card.model().motors) {
    return Fail(usage);
  }
  const int m = static_cast<int>(*motor);
  BrushlessControlResult result;
  if (words.size() == 2) {
    char text[64];
    std::snprintf(text, sizeof text, "rotor %.10g %.10g", card.RotorAngle(m), card.RotorCounts(m));
    result.lines.push_back(text);
    return result;
  }
  if (words.size() % 2 != 0) return Fail(usage);
  RotorScript s = card.script().rotor(m);
  std::optional<double> angle;
  for (size_t i = 2; i < words.size(); i += 2) {
    const std::string& key = words[i];
    const std::string& value = words[i + 1];
    if (key == "wiring") {
      const std::optional<int> sign = Sign(value);
      if (!sign) return Fail(usage);
      s.wiring = *sign;
      continue;
    }
    const std::optional<double> v = Real(value);
    if (!v) return Fail(usage);
    if (key == "cycle" && *v > 0) {
      s.cycle_counts = *v;
    } else if (key == "lag" && *v >= 0) {
      s.lag_ms = *v;
    } else if (key == "hall") {
      s.hall_offset_deg = *v;
    } else if (key == "angle") {
      angle = *v;
    } else {
      return Fail(usage);
    }
  }
  card.script().SetRotor(m, s);
  if (angle) card.PlaceRotor(m, *angle);
  return result;
}

// "phase-current CHANNEL KEY VALUE ...": keys sign +|-, gain A B, offset A B.
BrushlessControlResult PhaseCurrent(Card& card, const std::vector<std::string>& words) {
  const char* usage = "phase-current takes a channel 0-15, then sign +|-, gain A B or offset A B";
  const std::optional<double> channel = words.size() >= 2 ? Real(words[1]) : std::nullopt;
  if (!channel || *channel != std::trunc(*channel) || *channel < 0 ||
      *channel >= Brushless::kPhaseCurrentChannels || words.size() < 3) {
    return Fail(usage);
  }
  const int c = static_cast<int>(*channel);
  PhaseCurrentScript s = card.script().phase_currents(c);
  for (size_t i = 2; i < words.size();) {
    const std::string& key = words[i];
    if (key == "sign" && i + 1 < words.size() && Sign(words[i + 1])) {
      s.sign = *Sign(words[i + 1]);
      i += 2;
      continue;
    }
    const std::optional<double> a = i + 1 < words.size() ? Real(words[i + 1]) : std::nullopt;
    const std::optional<double> b = i + 2 < words.size() ? Real(words[i + 2]) : std::nullopt;
    if (!a || !b) return Fail(usage);
    if (key == "gain") {
      s.gain_a = *a;
      s.gain_b = *b;
    } else if (key == "offset") {
      s.offset_a = *a;
      s.offset_b = *b;
    } else {
      return Fail(usage);
    }
    i += 3;
  }
  card.script().SetPhaseCurrents(c, s);
  return {};
}

}  // namespace

std::optional<BrushlessControlResult> RunBrushlessControl(Card& card,
                                                          const std::vector<std::string>& words) {
  if (words.empty()) return std::nullopt;
  if (words[0] == "rotor") return Rotor(card, words);
  if (words[0] == "phase-current") return PhaseCurrent(card, words);
  return std::nullopt;
}

}  // namespace zimo::cardsim
