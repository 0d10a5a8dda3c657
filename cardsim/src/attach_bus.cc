#include "cardsim/attach_bus.h"

namespace zimo::cardsim {

using std::chrono::microseconds;

BusAttachment::BusAttachment(Card& card, BusOptions options)
    : card_(card), options_(options), port_(card), mailbox_(card) {}

void BusAttachment::AdvanceLocked(microseconds duration) {
  if (duration.count() > 0) now_ += duration;
  if (now_ >= next_firmware_) {
    mailbox_.Step(now_);
    next_firmware_ = now_ + options_.firmware_period;
  }
  if (options_.drive_servo && duration.count() > 0) {
    servo_time_ += duration;
    // One servo cycle lasts I10 / 8388608 ms.
    const int64_t i10 = card_.IVar(10) > 0 ? card_.IVar(10) : 3713707;
    const int64_t cycles = servo_time_.count() * 8388608 / (i10 * 1000);
    if (cycles > 0) {
      servo_time_ -= microseconds(cycles * i10 * 1000 / 8388608);
      card_.AdvanceServo(static_cast<int>(cycles));
    }
  }
}

void BusAttachment::NotifyIfRaised(std::unique_lock<std::mutex>& lock, bool was) {
  if (was || !port_.InterruptAsserted() || !handler_) return;
  std::function<void()> handler = handler_;
  lock.unlock();
  handler();
}

uint8_t BusAttachment::ReadPort(unsigned offset) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  return port_.Read(offset, now_);
}

void BusAttachment::WritePort(unsigned offset, uint8_t value) {
  std::unique_lock lock(mu_);
  const bool was = port_.InterruptAsserted();
  AdvanceLocked(options_.access_time);
  port_.Write(offset, value, now_);
  NotifyIfRaised(lock, was);
}

uint8_t BusAttachment::ReadDpr8(size_t offset) {
  uint8_t v = 0;
  ReadDpr(offset, &v, 1);
  return v;
}

uint16_t BusAttachment::ReadDpr16(size_t offset) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  return offset + 2 <= kDprSize ? card_.memory().DprWord(offset) : 0;
}

uint32_t BusAttachment::ReadDpr32(size_t offset) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  return offset + 4 <= kDprSize ? card_.memory().DprDword(offset) : 0;
}

void BusAttachment::WriteDpr8(size_t offset, uint8_t value) { WriteDpr(offset, &value, 1); }

void BusAttachment::WriteDpr16(size_t offset, uint16_t value) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  if (offset + 2 <= kDprSize) card_.memory().SetDprWord(offset, value);
}

void BusAttachment::WriteDpr32(size_t offset, uint32_t value) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  if (offset + 4 <= kDprSize) card_.memory().SetDprDword(offset, value);
}

bool BusAttachment::ReadDpr(size_t offset, void* out, size_t length) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  if (offset > kDprSize || length > kDprSize - offset) return false;
  return card_.memory().ReadDpr(offset, out, length);
}

bool BusAttachment::WriteDpr(size_t offset, const void* in, size_t length) {
  std::lock_guard lock(mu_);
  AdvanceLocked(options_.access_time);
  if (offset > kDprSize || length > kDprSize - offset) return false;
  return card_.memory().WriteDpr(offset, in, length);
}

void BusAttachment::Stall(microseconds duration) {
  std::lock_guard lock(mu_);
  AdvanceLocked(duration);
}

microseconds BusAttachment::now() const {
  std::lock_guard lock(mu_);
  return now_;
}

void BusAttachment::RaiseInterrupt(uint8_t bits) {
  std::unique_lock lock(mu_);
  const bool was = port_.InterruptAsserted();
  port_.Raise(bits);
  NotifyIfRaised(lock, was);
}

bool BusAttachment::InterruptAsserted() const {
  std::lock_guard lock(mu_);
  return port_.InterruptAsserted();
}

void BusAttachment::SetInterruptHandler(std::function<void()> handler) {
  std::lock_guard lock(mu_);
  handler_ = std::move(handler);
}

void BusAttachment::SetAbsent(bool absent) {
  std::lock_guard lock(mu_);
  port_.SetAbsent(absent);
}

void BusAttachment::StickPortBits(unsigned offset, uint8_t mask, uint8_t value) {
  std::lock_guard lock(mu_);
  port_.StickBits(offset, mask, value);
}

}  // namespace zimo::cardsim
