// The card's host port: a block of byte-wide registers through which the
// host moves command and response characters one at a time (status register
// 2: bit 0 a character waits in data register 7, bit 1 the card takes a
// character), plus the interrupt registers (0 control, 8 pending sources,
// 10 enable mask, 11). Characters written to register 7 go through the
// card's byte-stream framing; its output waits in a FIFO until register 7 is
// read. In bootstrap mode, after CTRL-O, the registers carry firmware words
// instead.
//
// Not thread-safe on its own: the bus attachment serialises every access.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "cardsim/card.h"

namespace zimo::cardsim {

namespace port {
inline constexpr unsigned kControl = 0;
inline constexpr unsigned kStatus = 2;
inline constexpr unsigned kData = 7;
inline constexpr unsigned kPending = 8;
inline constexpr unsigned kEnable = 10;
inline constexpr unsigned kCount = 17;  // offsets 0 to 16

inline constexpr uint8_t kReadReady = 0x01;
inline constexpr uint8_t kWriteReady = 0x02;
}  // namespace port

class PortRegisters {
 public:
  explicit PortRegisters(Card& card);
  PortRegisters(const PortRegisters&) = delete;
  PortRegisters& operator=(const PortRegisters&) = delete;

  // One register access at simulated time `now`. Offsets above 16 read 0xFF
  // and ignore writes, as an unused port does.
  uint8_t Read(unsigned offset, std::chrono::microseconds now);
  void Write(unsigned offset, uint8_t value, std::chrono::microseconds now);

  // The card raises interrupt sources (bits of register 8).
  void Raise(uint8_t bits) { pending_ |= bits; }
  // The interrupt line: an enabled source is pending.
  bool InterruptAsserted() const { return (pending_ & enable_) != 0; }

  // No card on the port: every register reads 0xFF.
  void SetAbsent(bool absent) { absent_ = absent; }
  // The masked bits of a register read as `value` whatever happens (a stuck
  // status bit, for instance); mask 0 frees them.
  void StickBits(unsigned offset, uint8_t mask, uint8_t value);

  // Characters of output waiting (ready or not).
  size_t output_waiting() const { return out_.size(); }

 private:
  struct Out {
    char c;
    std::chrono::microseconds due;
  };
  bool OutputReady(std::chrono::microseconds now) const;
  void TakeData(uint8_t value, std::chrono::microseconds now);
  void TakeUnsolicited(std::chrono::microseconds now);

  Card& card_;
  uint8_t regs_[port::kCount] = {};
  uint8_t stuck_mask_[port::kCount] = {};
  uint8_t stuck_value_[port::kCount] = {};
  uint8_t pending_ = 0;
  uint8_t enable_ = 0;
  bool absent_ = false;
  bool image_ = false;  // a firmware image is coming in (bootstrap mode, after CTRL-O)
  std::deque<Out> out_;
};

}  // namespace zimo::cardsim
