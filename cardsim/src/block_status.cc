// A scripted answer to program download blocks, for tests of how the host
// takes status words the card would not normally give.
#include "cardsim/script.h"

namespace zimo::cardsim {

void Script::SetBlockStatus(uint32_t status, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  block_status_ = status;
  block_status_count_ = count;
}

std::optional<uint32_t> Script::TakeBlockStatus() {
  std::lock_guard<std::mutex> lock(mu_);
  if (block_status_count_ == 0) return std::nullopt;
  if (block_status_count_ > 0) --block_status_count_;
  return block_status_;
}

}  // namespace zimo::cardsim
