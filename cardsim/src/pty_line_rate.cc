#include "cardsim/pty_line_rate.h"

#include <sys/ioctl.h>
#include <termios.h>

namespace zimo::cardsim {
namespace {

// The kernel's termios2 (not declared by the C library): it carries the
// rate as a number, also rates without a B-constant.
struct Termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
static_assert(sizeof(Termios2) == 44);
const unsigned long kGet = _IOR('T', 0x2A, Termios2);

}  // namespace

bool PtyLineRate::Hears(int master_fd) {
  Termios2 t{};
  // On a pseudo-terminal's master the settings read are the host side's.
  const uint32_t rate = ::ioctl(master_fd, kGet, &t) == 0 ? t.c_ospeed : 0;
  std::lock_guard lock(mu_);
  if (seen_.empty() || seen_.back() != rate) seen_.push_back(rate);
  return rate_ == 0 || rate == rate_;
}

std::vector<uint32_t> PtyLineRate::seen() const {
  std::lock_guard lock(mu_);
  return seen_;
}

}  // namespace zimo::cardsim
