// The byte ring of a running isochronous stream: the completion of each
// transfer writes whole blocks into it (a block that does not fit is
// dropped), requests read from it. Both ends take its lock, so a completion
// and a reading request never see a half-updated count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zimo::drivers::usb {

class IsoRing {
 public:
  explicit IsoRing(size_t size) : bytes_(size) {}
  IsoRing(const IsoRing&) = delete;
  IsoRing& operator=(const IsoRing&) = delete;

  size_t size() const { return bytes_.size(); }
  size_t stored() const;

  // The whole block, or nothing (0) when the free room is smaller.
  size_t Write(const uint8_t* block, size_t length);
  // min(length, stored) bytes, oldest first; 0 for a request larger than
  // the ring or on an empty ring.
  size_t Read(uint8_t* out, size_t length);

 private:
  mutable std::mutex mu_;
  std::vector<uint8_t> bytes_;
  size_t write_ = 0;
  size_t read_ = 0;
  size_t stored_ = 0;
};

}  // namespace zimo::drivers::usb
