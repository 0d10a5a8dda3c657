#include "cardsim/attach_port.h"

namespace zimo::cardsim {

PortRegisters::PortRegisters(Card& card) : card_(card) {}

void PortRegisters::StickBits(unsigned offset, uint8_t mask, uint8_t value) {
  if (offset >= port::kCount) return;
  stuck_mask_[offset] = mask;
  stuck_value_[offset] = value & mask;
}

bool PortRegisters::OutputReady(std::chrono::microseconds now) const {
  return !out_.empty() && out_.front().due <= now;
}

void PortRegisters::TakeUnsolicited(std::chrono::microseconds now) {
  // While the DPR mailbox is on, the card's own messages go there instead.
  if (!out_.empty() || card_.IVar(58) == 1) return;
  for (char c : card_.TakeStreamOutput()) out_.push_back({c, now});
}

void PortRegisters::TakeData(uint8_t value, std::chrono::microseconds now) {
  if (image_ && !card_.InBootstrap()) image_ = false;
  if (image_) {
    // A firmware image arrives as words: low byte in register 5, middle in
    // 6, high in 7, the write to 7 completing the word. A configured image
    // length ends the image; without one, CTRL-R with 5 and 6 cleared does.
    const bool ended = card_.firmware().expected_bytes() != 0
                           ? card_.firmware().Complete()
                           : value == ctrl::kCtrlR && regs_[5] == 0 && regs_[6] == 0;
    if (!ended) {
      card_.LoadFirmwareWord((uint32_t{value} << 16) | (uint32_t{regs_[6]} << 8) | regs_[5]);
      return;
    }
    image_ = false;
  }
  const char c = static_cast<char>(value);
  // CTRL-X flushes: the card drops whatever output still waits for the host.
  if (c == ctrl::kCtrlX) out_.clear();
  std::chrono::microseconds delay{0};
  const std::string out = card_.Feed(std::string_view(&c, 1), &delay);
  for (char o : out) out_.push_back({o, now + delay});
  if (c == ctrl::kCtrlO && card_.InBootstrap()) image_ = true;
}

uint8_t PortRegisters::Read(unsigned offset, std::chrono::microseconds now) {
  if (absent_ || offset >= port::kCount) return 0xFF;
  uint8_t v = 0;
  switch (offset) {
    case port::kStatus:
      TakeUnsolicited(now);
      v = port::kWriteReady | (OutputReady(now) ? port::kReadReady : 0);
      break;
    case port::kData:
      if (OutputReady(now)) {
        v = static_cast<uint8_t>(out_.front().c);
        out_.pop_front();
      }
      break;
    case port::kPending:
      v = pending_;
      break;
    case port::kEnable:
      v = enable_;
      break;
    default:
      v = regs_[offset];
      break;
  }
  return static_cast<uint8_t>((v & ~stuck_mask_[offset]) | stuck_value_[offset]);
}

void PortRegisters::Write(unsigned offset, uint8_t value, std::chrono::microseconds now) {
  if (absent_ || offset >= port::kCount) return;
  switch (offset) {
    case port::kData:
      TakeData(value, now);
      break;
    case port::kStatus:
      break;  // read-only: the probe's write of 0 changes nothing
    case port::kPending:
      pending_ &= value;  // writing 0 acknowledges every source
      break;
    case port::kEnable:
      enable_ = value;
      break;
    default:
      regs_[offset] = value;
      break;
  }
}

}  // namespace zimo::cardsim
