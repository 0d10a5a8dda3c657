// The Ethernet Location: the device's socket (eth_transport), its text
// replies (eth_response) and its DPR through the card's network requests
// (eth_dpr).
#include "corvan/eth_api.h"
#include "link/device_registry.h"
#include "link/dpr_channel.h"
#include "link/eth_response.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "link/transports.h"
#include "link/variables.h"
#include "platform/debug.h"

namespace zimo::corvan {
namespace {

class EthernetLocation final : public Transport {
 public:
  explicit EthernetLocation(DprNetworkRoute& route) : route_(route) {}

  std::uint32_t location() const override { return kLocationEthernet; }

  // The socket is kept for the first device registered at the Location, so
  // that every device number that maps to it shares one.
  bool OpenLocation(int device, LocationHandle& handle) override {
    DeviceConfigBlock settings{};
    ReadLocationSettings(handle.location, handle.enumeration, settings);
    int owner_device = device;
    if (FindDeviceByLocation(handle.location, handle.enumeration, &owner_device) == 0) {
      owner_device = device;
    }
    if (EthOpen(owner_device, settings.IPAddress) == nullptr) return false;
    handle.opener_device = owner_device;
    return true;
  }

  void CloseLocation(LocationHandle& handle) override { EthClose(handle.opener_device); }

  bool PrepareDevice(int, DeviceUserHandle&, SharedDeviceBlock&) override { return true; }

  // The card must answer the address request before anything else.
  bool Handshake(int device, DeviceUserHandle&, SharedDeviceBlock&) override {
    std::uint8_t address[4] = {};
    if (EthIpAddress(static_cast<std::uint32_t>(device), 0, address) != 4) {
      platform::DebugOutput("Open handshake: the card does not answer its address request\n");
      return false;
    }
    return CardStatusHandshake(device);
  }

  AsciiChannel* Channel(int, const DeviceUserHandle&) override { return &EthernetChannel(); }

  bool DprReachable(int device) override { return route_.IsOpen(device); }

  int TestDprAvailable(int device, const SharedDeviceBlock& block) override {
    return TestDprByCommands(LibraryCommandPath(), device, block.CardType);
  }

  bool DprRead(int device, std::uint32_t offset, std::uint32_t length, void* destination) override {
    return NetworkDprRead(route_, device, offset, length, destination);
  }
  bool DprWrite(int device, std::uint32_t offset, std::uint32_t length,
                const void* source) override {
    return NetworkDprWrite(route_, device, offset, length, source);
  }
  bool DprGetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
                  std::uint32_t* value) override {
    return NetworkDprGetBits(route_, device, offset, first, count, value);
  }
  bool DprSetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
                  std::uint32_t value) override {
    return NetworkDprSetBits(route_, device, offset, first, count, value);
  }
  bool DprGetBit(int device, std::uint32_t offset, std::uint32_t bit,
                 std::uint32_t* value) override {
    return NetworkDprGetBit(route_, device, offset, bit, value);
  }
  bool DprSetBit(int device, std::uint32_t offset, std::uint32_t bit,
                 std::uint32_t value) override {
    return NetworkDprSetBit(route_, device, offset, bit, value);
  }

 private:
  DprNetworkRoute& route_;
};

}  // namespace

Transport& EthernetTransport() {
  static EthernetLocation* const transport = new EthernetLocation(EthDprNetworkRoute());
  return *transport;
}

std::unique_ptr<Transport> MakeEthernetTransport(DprNetworkRoute& route) {
  return std::make_unique<EthernetLocation>(route);
}

}  // namespace zimo::corvan
