// Byte-stream framing of the card's answers, as a serial line or the bus
// port carries them. The handshake I-variables decide the form:
//   I3  0: lines end with CR, no ACK      1: lines end with CR LF, no ACK
//       2: lines end with CR, ACK at end  3: lines end with CR LF, ACK at end
//   I6  0: an error is BEL CR             1, 3: BEL "ERRnnn" CR
//       2: errors are not reported (the response ends as if it succeeded)
//   I63 1: answers to control characters end with ACK as well
//   I64 1: unsolicited lines start with STX
//   I4  1: checksummed mode: every response line is followed by the 8-bit
//       sum of its bytes (CR included), the ACK by the sum of the command
//       line (or the control character) it answers; error and unsolicited
//       lines carry no sum.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cardsim/reply.h"

namespace zimo::cardsim {

struct FrameMode {
  int i3 = 2;
  int i6 = 1;
  bool i63 = true;
  bool i64 = true;
  bool checksum = false;
  uint8_t last_checksum = 0;  // what follows the ACK in checksummed mode
};

// The 8-bit wrapping sum of the bytes.
uint8_t Checksum(std::string_view bytes);

// The bytes of one reply.
std::string FormatReply(const Reply& reply, const FrameMode& mode);
// The bytes of one unsolicited line.
std::string FormatUnsolicited(std::string_view line, const FrameMode& mode);

}  // namespace zimo::cardsim
