// The card's side of the VME mailbox: a thread that watches the mailbox
// window for command chunks, runs each completed line through the simulated
// card, and posts the card's output back chunk by chunk, raising the
// interrupt vectors the host listens to.
//
// Registers are 16 bits with the data byte at the odd address. Host to card:
// characters 2.. of a chunk in registers 2 to 14, its first character in
// register 0 last; the card takes the chunk, clears register 0 and raises
// "taken". Card to host: up to 16 characters in registers 0 to 15, ending
// after CR or ACK, or with a NUL when shorter; "reply" is raised and the card
// waits until the host clears register 1 before it posts the next chunk. A
// Ctrl-X in register 0 drops the card's partial line and pending output.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "cardsim/card.h"

namespace zimo::vmemgr {

class MailboxCard {
 public:
  // `raise` delivers an interrupt (true: a reply chunk waits; false: a
  // command chunk was taken). `log` hears every command chunk taken.
  MailboxCard(cardsim::Card& card, std::uint8_t* mailbox, std::function<void(bool)> raise,
              std::function<void(const std::string&)> log);
  ~MailboxCard();
  MailboxCard(const MailboxCard&) = delete;
  MailboxCard& operator=(const MailboxCard&) = delete;

  void Stop();

 private:
  std::atomic_ref<std::uint8_t> Register(int r) const;
  void Run();
  void TakeChunk(std::uint8_t first);
  bool Post(const std::string& chunk);

  cardsim::Card& card_;
  std::uint8_t* mailbox_;
  std::function<void(bool)> raise_;
  std::function<void(const std::string&)> log_;
  std::atomic<bool> stop_{false};
  std::string line_;                 // command text taken so far
  std::deque<std::string> pending_;  // reply chunks not posted yet
  bool posted_ = false;              // a reply chunk waits for the host
  std::uint8_t posted_first_ = 0;
  bool watch_taken_ = false;  // the host's clearing of register 1 shows it read the chunk
  std::thread thread_;
};

}  // namespace zimo::vmemgr
