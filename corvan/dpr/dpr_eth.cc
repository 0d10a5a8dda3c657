#include "dpr/dpr_eth.h"

#include "corvan/eth_api.h"
#include "link/eth_transport.h"

namespace zimo::corvan {
namespace {

std::uint32_t Dev(int device) { return static_cast<std::uint32_t>(device); }

class EthDprRoute final : public DprNetworkRoute {
 public:
  bool IsOpen(int device) override { return EthSocketValid(EthHolderOf(device).get()); }
  std::int32_t GetMem(int device, void* destination, std::uint32_t offset,
                      std::uint32_t count) override {
    return EthDPRGetMem(Dev(device), destination, offset, count);
  }
  std::int32_t SetMem(int device, const void* source, std::uint32_t offset,
                      std::uint32_t count) override {
    return EthDPRSetMem(Dev(device), source, offset, count);
  }
  std::int32_t GetMemBits(int device, std::uint32_t offset, std::uint16_t first_bit,
                          std::uint16_t bit_count, std::uint32_t* value) override {
    return EthDPRGetMemBits(Dev(device), offset, first_bit, bit_count, value);
  }
  std::int32_t SetMemBits(int device, std::uint32_t offset, std::uint16_t first_bit,
                          std::uint16_t bit_count, std::uint32_t value) override {
    return EthDPRSetMemBits(Dev(device), offset, first_bit, bit_count, value);
  }
  std::int32_t GetMemBit(int device, std::uint32_t offset, std::uint32_t bit,
                         std::uint32_t* value) override {
    return EthDPRGetMemBit(Dev(device), offset, bit, value);
  }
  std::int32_t SetMemBit(int device, std::uint32_t offset, std::uint32_t bit,
                         std::uint32_t set) override {
    return EthDPRSetMemBit(Dev(device), offset, bit, set != 0 ? 1 : 0);
  }
};

}  // namespace

DprNetworkRoute& EthDprNetworkRoute() {
  static EthDprRoute* const route = new EthDprRoute();
  return *route;
}

void InstallEthDprRoute() { SetDprNetworkRoute(&EthDprNetworkRoute()); }

}  // namespace zimo::corvan
