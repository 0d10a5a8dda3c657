#include "cardsim/pty_line_rate.h"

#include "platform/serial_port.h"

namespace zimo::cardsim {

bool PtyLineRate::Hears(int master_fd) {
  // On a pseudo-terminal's master the settings read are the host side's.
  const uint32_t rate = platform::LineRateOf(master_fd);
  std::lock_guard lock(mu_);
  if (seen_.empty() || seen_.back() != rate) seen_.push_back(rate);
  return rate_ == 0 || rate == rate_;
}

std::vector<uint32_t> PtyLineRate::seen() const {
  std::lock_guard lock(mu_);
  return seen_;
}

}  // namespace zimo::cardsim
