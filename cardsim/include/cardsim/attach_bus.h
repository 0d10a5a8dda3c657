// The card as bus hardware: what a driver sees of a bus card, and the
// interface the driver host's hardware-access layer wraps. Three parts:
//  * the port registers (attach_port.h): byte reads and writes at a port
//    offset, status bits, the character FIFOs, the interrupt registers;
//  * the 16384-byte dual-ported RAM window (the card's DPR memory), read and
//    written in 8-, 16- and 32-bit units or blocks, with the ASCII mailbox
//    firmware (attach_mailbox.h) behind it while I58 = 1;
//  * the interrupt line, which a handler hears rising, or which the host
//    polls.
//
// Time is simulated, so that the driver's time-outs come out the same on
// every run: every access costs `access_time`, Stall() advances the clock by
// what the driver waits, and the mailbox firmware runs every
// `firmware_period` of that clock. A scripted reply delay holds replies back
// by simulated time. Thread-safe: accesses are serialised.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "cardsim/attach_mailbox.h"
#include "cardsim/attach_port.h"
#include "cardsim/card.h"

namespace zimo::cardsim {

struct BusOptions {
  // Simulated time one register or DPR access takes (a bus cycle).
  std::chrono::microseconds access_time{1};
  // How often the firmware looks at the mailbox.
  std::chrono::microseconds firmware_period{20};
  // Advance the card's servo clock (motors, programs) with the simulated
  // time, one servo cycle every I10/8388608 ms.
  bool drive_servo = false;
};

class BusAttachment {
 public:
  explicit BusAttachment(Card& card, BusOptions options = {});
  BusAttachment(const BusAttachment&) = delete;
  BusAttachment& operator=(const BusAttachment&) = delete;

  // Port registers, offsets 0 to 16.
  uint8_t ReadPort(unsigned offset);
  void WritePort(unsigned offset, uint8_t value);

  // The DPR window. Accesses outside it read 0 (blocks: false, nothing
  // copied) and write nothing.
  static constexpr size_t kDprSize = Memory::kDprSize;
  uint8_t ReadDpr8(size_t offset);
  uint16_t ReadDpr16(size_t offset);
  uint32_t ReadDpr32(size_t offset);
  void WriteDpr8(size_t offset, uint8_t value);
  void WriteDpr16(size_t offset, uint16_t value);
  void WriteDpr32(size_t offset, uint32_t value);
  bool ReadDpr(size_t offset, void* out, size_t length);
  bool WriteDpr(size_t offset, const void* in, size_t length);

  // The driver waits: the card's time moves on by `duration`.
  void Stall(std::chrono::microseconds duration);
  std::chrono::microseconds now() const;

  // The card raises interrupt sources (bit i = source i: in-position, buffer
  // request, following error, fatal following error, host request, IR5-IR7).
  void RaiseInterrupt(uint8_t bits);
  bool InterruptAsserted() const;
  // Called, outside every lock, each time the line goes up (an enabled
  // source becomes pending). The handler may access the card.
  void SetInterruptHandler(std::function<void()> handler);

  // Faults: no card on the port (every register reads 0xFF); stuck port bits.
  void SetAbsent(bool absent);
  void StickPortBits(unsigned offset, uint8_t mask, uint8_t value);

  const MailboxLayout& mailbox_layout() const { return mailbox_.layout(); }
  Card& card() { return card_; }

 private:
  // Moves the clock (lock held) and runs the firmware when it is due.
  void AdvanceLocked(std::chrono::microseconds duration);
  // Calls the handler when the line rose since `was`.
  void NotifyIfRaised(std::unique_lock<std::mutex>& lock, bool was);

  Card& card_;
  const BusOptions options_;
  mutable std::mutex mu_;
  PortRegisters port_;
  Mailbox mailbox_;
  std::chrono::microseconds now_{0};
  std::chrono::microseconds next_firmware_{0};
  std::chrono::microseconds servo_time_{0};  // simulated time not yet given to the servo
  std::function<void()> handler_;
};

}  // namespace zimo::cardsim
