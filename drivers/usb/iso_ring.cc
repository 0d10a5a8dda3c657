#include "usb/iso_ring.h"

#include <algorithm>
#include <cstring>

namespace zimo::drivers::usb {

size_t IsoRing::stored() const {
  std::lock_guard lock(mu_);
  return stored_;
}

size_t IsoRing::Write(const uint8_t* block, size_t length) {
  std::lock_guard lock(mu_);
  if (length == 0 || bytes_.size() - stored_ < length) return 0;
  const size_t first = std::min(length, bytes_.size() - write_);
  std::memcpy(bytes_.data() + write_, block, first);
  std::memcpy(bytes_.data(), block + first, length - first);
  write_ = (write_ + length) % bytes_.size();
  stored_ += length;
  return length;
}

size_t IsoRing::Read(uint8_t* out, size_t length) {
  std::lock_guard lock(mu_);
  if (length > bytes_.size() || stored_ == 0) return 0;
  const size_t n = std::min(length, stored_);
  const size_t first = std::min(n, bytes_.size() - read_);
  std::memcpy(out, bytes_.data() + read_, first);
  std::memcpy(out + first, bytes_.data(), n - first);
  read_ = (read_ + n) % bytes_.size();
  stored_ -= n;
  return n;
}

}  // namespace zimo::drivers::usb
