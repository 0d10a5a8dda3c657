#include "cardsim/firmware_image.h"

#include "cardsim/reply.h"

namespace zimo::cardsim {

void FirmwareImage::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  words_.clear();
  blocks_.clear();
  partial_ = 0;
  partial_count_ = 0;
}

void FirmwareImage::AddWord(uint32_t word) {
  std::lock_guard<std::mutex> lock(mu_);
  words_.push_back(word & 0xFFFFFF);
}

void FirmwareImage::AddByteLocked(uint8_t byte, bool high_first) {
  if (high_first) {
    partial_ = (partial_ << 8) | byte;
  } else {
    partial_ |= uint32_t{byte} << (8 * partial_count_);
  }
  if (++partial_count_ == 3) {
    words_.push_back(partial_ & 0xFFFFFF);
    partial_ = 0;
    partial_count_ = 0;
  }
}

void FirmwareImage::AddSerialByte(uint8_t byte) {
  std::lock_guard<std::mutex> lock(mu_);
  AddByteLocked(byte, true);
}

void FirmwareImage::AddBlock(std::string_view bytes, bool first_block) {
  std::lock_guard<std::mutex> lock(mu_);
  if (first_block) {
    words_.clear();
    blocks_.clear();
    partial_ = 0;
    partial_count_ = 0;
  }
  blocks_.push_back(Block{first_block, bytes.size()});
  for (char c : bytes) AddByteLocked(static_cast<uint8_t>(c), false);
}

std::vector<uint32_t> FirmwareImage::words() const {
  std::lock_guard<std::mutex> lock(mu_);
  return words_;
}

std::vector<FirmwareImage::Block> FirmwareImage::blocks() const {
  std::lock_guard<std::mutex> lock(mu_);
  return blocks_;
}

std::size_t FirmwareImage::bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return words_.size() * 3 + static_cast<std::size_t>(partial_count_);
}

void FirmwareImage::set_expected_bytes(std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  expected_bytes_ = bytes;
}

std::size_t FirmwareImage::expected_bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return expected_bytes_;
}

bool FirmwareImage::Complete() const {
  std::lock_guard<std::mutex> lock(mu_);
  return expected_bytes_ != 0 &&
         words_.size() * 3 + static_cast<std::size_t>(partial_count_) >= expected_bytes_;
}

void FirmwareImage::set_stay_in_bootstrap(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  stay_in_bootstrap_ = on;
}

bool FirmwareImage::stay_in_bootstrap() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stay_in_bootstrap_;
}

void FirmwareImage::set_watchdog_reply(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  watchdog_reply_ = on;
}

void FirmwareImage::ShapeReply(std::string_view line, Reply& reply) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!watchdog_reply_ || reply.lines.empty() || reply.lines.front().empty()) return;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  if (line.empty() || line.back() != '?') return;
  reply.lines.front()[0] = static_cast<char>(0xFF);
}

}  // namespace zimo::cardsim
