// The test commands of the card's binary rotary buffers, shared by
// zimo-cardsim's standard input and the driver host's control connection
// (cardsim/README.md lists them): the motion log, scripted answers of the
// staged puts and of the host-side records, the host-side capacity, the
// bytes USB pipe 2 brought, a descriptor's error bit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cardsim/card.h"

namespace zimo::cardsim {

struct RotaryControlResult {
  bool ok = true;
  std::vector<std::string> lines;  // output; the failure's reason when not ok
};

// `words`: the command word, then its arguments. nullopt: not a rotary command.
std::optional<RotaryControlResult> RunRotaryControl(Card& card,
                                                    const std::vector<std::string>& words);

}  // namespace zimo::cardsim
