// The one rule by which the line-based channels (serial, bus port, DPR
// mailbox) collect a whole response into a caller's buffer; the Ethernet
// reader, which gets a response in packets, keeps the same rule:
//
// - the count is the characters the buffer holds, whatever ended the
//   response (an error reply's text, CR included, counts too);
// - a response that fits whole (its characters and the terminator) is
//   complete when its end (ACK) comes, even when it fills the buffer: its
//   end is read, never left behind;
// - a response that does not fit is cut: the buffer holds what fitted, the
//   status is a failure (0xF) with that count, and the channel sets error 54
//   ("more than maximum characters"); the rest of it is read and dropped, so
//   the next exchange starts clean.
#pragma once

#include <cstdint>
#include <functional>

namespace zimo::corvan {

// The response error of a reply cut to the caller's buffer.
inline constexpr std::int32_t kErrResponseCut = 54;

// One line as a channel read it: its status bits and the characters it
// stored. `cut` when the line went on beyond the room it was given.
struct LineRead {
  std::uint32_t status = 0;
  std::uint32_t count = 0;
  bool cut = false;
};

// Reads one line into `at`, which has room for `room` characters and the
// terminator (`room` is at least 1).
using LineReader = std::function<LineRead(char* at, std::uint32_t room)>;

struct CollectedResponse {
  std::uint32_t status = 0;  // status bits of what ended the response
  std::uint32_t stored = 0;  // characters in the buffer
  bool cut = false;          // the response did not fit (status 0xF)
};

// Collects lines back to back into `buffer` (room for `max` characters and
// the terminator; `max` at least 1) by the rule above. Unsolicited lines
// take no room.
CollectedResponse CollectResponseLines(const LineReader& read, char* buffer, std::uint32_t max);

}  // namespace zimo::corvan
