// The test commands of the motors' brushless side (brushless.h), on
// zimo-cardsim's standard input (cardsim/README.md lists them): a rotor's
// settings and angle, a phase-current channel's sign, gains and offsets.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cardsim/card.h"

namespace zimo::cardsim {

struct BrushlessControlResult {
  bool ok = true;
  std::vector<std::string> lines;  // output; the failure's reason when not ok
};

// `words`: the command word, then its arguments. nullopt: not one of these.
std::optional<BrushlessControlResult> RunBrushlessControl(Card& card,
                                                          const std::vector<std::string>& words);

}  // namespace zimo::cardsim
