// A simulated card's USB port as the USB bus reaches it: the kernel's
// UsbFunction over cardsim's UsbAttachment. A card that answers late holds
// the transfer for that long, as a device that keeps NAKing does.
#pragma once

#include <memory>

#include "cardsim/attach_usb.h"
#include "kernel/usb_function.h"

namespace zimo::drivers::host {

class SimUsbFunction : public kernel::usb::UsbFunction {
 public:
  explicit SimUsbFunction(cardsim::UsbAttachment& port) : port_(port) {}

  kernel::usb::Handshake Control(const kernel::usb::SetupPacket& setup,
                                 std::span<const uint8_t> out, std::vector<uint8_t>* in) override;
  kernel::usb::Handshake Transfer(uint8_t endpoint, std::span<const uint8_t> out, size_t in_length,
                                  std::vector<uint8_t>* in) override;
  kernel::usb::Handshake IsoPacket(uint8_t endpoint, uint32_t frame, std::span<const uint8_t> out,
                                   size_t in_length, std::vector<uint8_t>* in) override;
  void PortReset() override;

 private:
  cardsim::UsbAttachment& port_;
};

}  // namespace zimo::drivers::host
