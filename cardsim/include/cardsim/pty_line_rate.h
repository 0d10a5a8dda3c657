// The line rate of the card's serial port on a pseudo-terminal. A real port
// at another rate than the card's hears garbage, so bytes that arrive while
// the host's side runs at another rate are dropped unanswered. The rates
// the host's side was seen at are kept in order, each change once.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace zimo::cardsim {

class PtyLineRate {
 public:
  // 0: the card answers at any rate.
  explicit PtyLineRate(uint32_t rate) : rate_(rate) {}

  // Reads the host side's output rate through the master and notes it; true
  // when the card hears bytes sent at it.
  bool Hears(int master_fd);
  std::vector<uint32_t> seen() const;

 private:
  const uint32_t rate_;
  mutable std::mutex mu_;
  std::vector<uint32_t> seen_;
};

}  // namespace zimo::cardsim
