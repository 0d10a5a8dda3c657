#include "host/sim_usb_function.h"

#include <string_view>
#include <thread>

namespace zimo::drivers::host {

namespace {

std::string_view View(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

kernel::usb::Handshake Deliver(const cardsim::UsbAnswer& answer, std::vector<uint8_t>* in) {
  if (answer.delay.count() > 0) std::this_thread::sleep_for(answer.delay);
  switch (answer.handshake) {
    case cardsim::UsbHandshake::kAck:
      if (in != nullptr) in->assign(answer.data.begin(), answer.data.end());
      return kernel::usb::Handshake::kAck;
    case cardsim::UsbHandshake::kStall:
      return kernel::usb::Handshake::kStall;
    case cardsim::UsbHandshake::kNoResponse:
      break;
  }
  return kernel::usb::Handshake::kNoResponse;
}

}  // namespace

kernel::usb::Handshake SimUsbFunction::Control(const kernel::usb::SetupPacket& setup,
                                               std::span<const uint8_t> out,
                                               std::vector<uint8_t>* in) {
  const cardsim::UsbSetup s{setup.request_type, setup.request, setup.value, setup.index,
                            setup.length};
  return Deliver(port_.Control(s, View(out)), in);
}

kernel::usb::Handshake SimUsbFunction::Transfer(uint8_t endpoint, std::span<const uint8_t> out,
                                                size_t in_length, std::vector<uint8_t>* in) {
  return Deliver(port_.Transfer(endpoint, View(out), in_length), in);
}

kernel::usb::Handshake SimUsbFunction::IsoPacket(uint8_t endpoint, uint32_t frame,
                                                 std::span<const uint8_t> out, size_t in_length,
                                                 std::vector<uint8_t>* in) {
  return Deliver(port_.IsoPacket(endpoint, frame, View(out), in_length), in);
}

void SimUsbFunction::PortReset() { port_.PortReset(); }

}  // namespace zimo::drivers::host
