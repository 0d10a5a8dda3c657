// The card's text side of the request-driven attachments (Ethernet and USB):
// the host's lines, sent whole or one character at a time, and the reply
// text that waits, with the script's reply delay, until the host fetches it.
// Unsolicited card messages go out one at a time, each as an STX line.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "cardsim/card.h"

namespace zimo::cardsim {

class TextPort {
 public:
  using Clock = std::chrono::steady_clock;

  // Lines taken one character at a time stop growing at `max_line`.
  TextPort(Card& card, size_t max_line) : card_(card), max_line_(max_line) {}

  // Runs a text: a NUL ends it and a CR inside starts a further line, as on
  // the card's serial port.
  void TakeText(std::string_view text);
  // One character: CR runs the line so far, CTRL-X flushes, other control
  // characters are answered, the rest collect into the line.
  void TakeCharacter(char c);
  // Queues the reply's bytes behind what already waits.
  void AppendReply(const Reply& reply);
  // Drops the waiting output and the partial line.
  void Flush();

  // Output is due now, or an unsolicited message waits.
  bool OutputReady();
  // When nothing waits, puts the next unsolicited message (STX, text, CR)
  // into the output; false when there is none.
  bool StartUnsolicited();
  // How long the waiting output is still held back (0 when due or empty).
  std::chrono::microseconds Delay() const;
  // Nothing waits, neither output nor unsolicited messages taken from the card.
  bool Idle() const { return pending_.empty() && unsolicited_.empty(); }

  std::string& pending() { return pending_; }
  Clock::time_point& ready_at() { return ready_at_; }

 private:
  // Takes the card's next unsolicited message into the queue; a muted card
  // keeps its messages until it may speak again.
  bool PullUnsolicited();

  Card& card_;
  const size_t max_line_;
  std::string pending_;               // reply text the host has not fetched yet
  Clock::time_point ready_at_{};      // a delayed reply shows up from then on
  std::deque<std::string> unsolicited_;  // taken from the card, not yet sent
  std::string line_;                  // characters taken one at a time, until CR
};

}  // namespace zimo::cardsim
