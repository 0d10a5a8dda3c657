// The library's own card for the tuning procedures and the set-up tests
// (the device's command path and table entry, and the library's exports
// for lines without a reply, control characters and gather set-ups), and
// the quick gather of a motor that the position moves and the autotuning
// downloads share.
#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {

TuningCard LibraryTuningCard(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  TuningCard card{.path = LibraryCommandPath(), .device = d};
  if (block != nullptr) {
    card.card_type = block->CardType;
    card.spran = block->SpranFlag == 1;
  }
  card.send_line = [device](const char* line) {
    const std::uint32_t sent = ZimoSendLineA(device, line);
    return sent > 0 && (sent & kStatusMask) == 0;
  };
  // The card acknowledges a control character: the acknowledgement is read
  // here, so that, arriving late, it cannot end the next line's exchange
  // before the card has even read that line.
  card.send_char = [device](char character) {
    if (ZimoSendCharA(device, character) == 0) return;
    char answer[64];
    ZimoGetLineA(device, answer, sizeof answer);
  };
  card.flush = [device] { ZimoFlush(device); };
  card.quick_gather = [device](std::uint32_t mask, std::int32_t enable) {
    ZimoSetQuickGather(device, mask, enable);
  };
  card.current_gather = [device](std::uint32_t mask, std::int32_t enable) {
    ZimoSetCurrentGather(device, mask, enable);
  };
  card.direct_current_gather = [device](std::uint32_t mask, std::int32_t enable) {
    ZimoSetQuickGatherWithDirectCurrent(device, mask, enable);
  };
  card.set_gather = [device](std::uint32_t source, const char* address, std::int32_t enable) {
    ZimoSetGather(device, source, address, enable);
  };
  return card;
}

std::uint32_t& LastQuickGatherMask() {
  static std::uint32_t mask = 0;
  return mask;
}

std::uint32_t MotorGatherMask(int motor) {
  const unsigned b = static_cast<unsigned>(motor - 1);
  return (1u << b) | (1u << (b + 8)) | (1u << (b + 16));
}

void QuickGatherMotor(TuningCard& card, int motor) {
  if (motor >= 1 && motor <= 8) LastQuickGatherMask() = MotorGatherMask(motor);
  card.quick_gather(LastQuickGatherMask(), 1);
}

}  // namespace zimo::corvan::tuning
