// What a why-not-moving diagnosis reads of the card besides its settings:
// the feed hold ("\"), and on the older cards the word per coordinate
// system that says which motors have an axis there (Y:$818 + $C0 (s - 1),
// three bits per motor from bit 0).
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
constexpr uint32_t kSystemMotorWord = 0x818;
constexpr uint32_t kSystemMotorStride = 0xC0;
}  // namespace

int Interpreter::FeedHold(Scanner&, Reply&) {
  auto it = cs_.find(coord_);
  if (it != cs_.end() && it->second.running) it->second.held = true;
  return 0;
}

uint32_t Interpreter::AxisField(char letter) {
  switch (letter) {
    case 'X':
      return 1;
    case 'Y':
      return 2;
    case 'Z':
      return 3;
    case 'U':
    case 'V':
    case 'W':
      return 4;
    case 'A':
    case 'B':
    case 'C':
      return 5;
    default:
      return 0;  // in the system without an axis
  }
}

void Interpreter::PublishSystemMotorWords() {
  if (model_.spran) return;
  for (int s = 1; s <= model_.coordinate_systems() && s <= 8; ++s) {
    uint32_t word = 0;
    for (const auto& [motor, axis] : AxesOf(s)) {
      if (motor < 1 || motor > 8) continue;
      word |= AxisField(axis.letter) << (3 * (motor - 1));
    }
    const uint32_t address = kSystemMotorWord + kSystemMotorStride * static_cast<uint32_t>(s - 1);
    if (memory_.Read(Space::kY, address) != word) memory_.Write(Space::kY, address, word);
  }
}

}  // namespace zimo::cardsim
