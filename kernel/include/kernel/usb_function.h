// The device on the far side of a USB port, as the host controller reaches
// it: control transfers on the default pipe, bulk and interrupt transfers,
// isochronous packets, and port resets. The USB bus driver turns request
// blocks into these calls; a simulated card (or, later, a real-hardware
// backend) answers them. Implementations must be thread-safe: the bus calls
// from request threads and from its isochronous scheduler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zimo::kernel::usb {

struct SetupPacket {
  uint8_t request_type = 0;  // direction, type and recipient
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;  // the data stage's length
};

// How the device ended a transfer.
enum class Handshake {
  kAck,         // done; an IN transfer's data is what the device sent
  kStall,       // the device refused the request
  kNoResponse,  // nothing answered (the device is gone or hangs)
};

class UsbFunction {
 public:
  virtual ~UsbFunction() = default;

  // A control transfer. OUT: `out` is the data stage. IN: the device's data
  // goes to *in; a faulty device may send more than setup.length, which the
  // bus never lets reach the requester's buffer.
  virtual Handshake Control(const SetupPacket& setup, std::span<const uint8_t> out,
                            std::vector<uint8_t>* in) = 0;
  // A bulk or interrupt transfer on `endpoint` (bit 7: IN, asking for up to
  // `in_length` bytes).
  virtual Handshake Transfer(uint8_t endpoint, std::span<const uint8_t> out, size_t in_length,
                             std::vector<uint8_t>* in) = 0;
  // One isochronous packet in `frame`.
  virtual Handshake IsoPacket(uint8_t endpoint, uint32_t frame, std::span<const uint8_t> out,
                              size_t in_length, std::vector<uint8_t>* in) = 0;
  // The port was reset: the device is back in its default state.
  virtual void PortReset() = 0;
};

}  // namespace zimo::kernel::usb
