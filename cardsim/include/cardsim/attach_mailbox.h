// The card's side of the ASCII mailbox in dual-ported RAM: while I58 = 1 the
// firmware takes a command line (or a control character) that the host put
// into the host-to-card slot, runs it, and posts the reply one entry at a
// time into the card-to-host slot, each only after the host has cleared the
// status word of the one before.
//
// Two layouts exist: the older cards' (slots at 0x62C and 0x6D0) and the
// SPRAN cards' (0xE9C and 0xF40). On older cards a control character comes
// with the flag word set; SPRAN cards watch the control byte on its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "cardsim/card.h"

namespace zimo::cardsim {

struct MailboxLayout {
  size_t host_flag;    // u16: 1 = a command waits; the card clears it when taken
  size_t control;      // u8: a control character
  size_t host_text;    // NUL-terminated command text, at most 159 characters
  size_t card_status;  // u16: 0 = nothing posted
  size_t card_count;   // u16: characters of the posted text + 1
  size_t card_text;    // the posted text

  static constexpr size_t kHostTextSize = 160;
  // The card-to-host text holds at most this many characters and a NUL.
  static constexpr size_t kCardTextMax = 254;

  static MailboxLayout Older();
  static MailboxLayout Spran();
  static MailboxLayout For(const CardModel& model);
};

// Card-to-host status words.
namespace mailbox_status {
inline constexpr uint16_t kLine = ctrl::kCr;            // a response line
inline constexpr uint16_t kAck = ctrl::kAck;            // the response is complete
inline constexpr uint16_t kFlushAnswer = ctrl::kCtrlX;  // the answer to CTRL-X
inline constexpr uint16_t kUnsolicited = 0x100;         // with kLine: a message of the card's own
inline constexpr uint16_t kError = 0x8000;  // with the error number in BCD, tens in bits 4-7

// 0x8000 | BCD of the number's last two digits (the word has room for two).
uint16_t Error(int number);
}  // namespace mailbox_status

class Mailbox {
 public:
  explicit Mailbox(Card& card);
  Mailbox(const Mailbox&) = delete;
  Mailbox& operator=(const Mailbox&) = delete;

  const MailboxLayout& layout() const { return layout_; }

  // One pass of the firmware at simulated time `now`: take what the host
  // put into the mailbox, then post the next reply entry when the status
  // word is clear and the reply is due (a scripted delay holds it back).
  // Does nothing while I58 is not 1.
  void Step(std::chrono::microseconds now);

  // Reply entries not posted yet.
  size_t waiting() const { return out_.size(); }

 private:
  struct Entry {
    uint16_t status;
    std::string text;
  };

  void TakeControl(char c, std::chrono::microseconds now);
  void Enqueue(const Reply& reply, std::chrono::microseconds now);
  void Post(const Entry& entry);

  Card& card_;
  MailboxLayout layout_;
  std::deque<Entry> out_;
  std::chrono::microseconds due_{0};
};

}  // namespace zimo::cardsim
