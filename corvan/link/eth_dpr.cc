#include "link/eth_dpr.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

bool NetworkDprRead(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                    void* destination) {
  std::vector<std::uint8_t> block(length);
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t chunk = std::min(length - done, kDprNetworkChunk);
    const std::int32_t got = route.GetMem(device, block.data() + done, offset + done, chunk);
    if (got != static_cast<std::int32_t>(chunk)) return false;
    done += chunk;
  }
  if (length != 0) std::memcpy(destination, block.data(), length);
  return true;
}

bool NetworkDprWrite(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                     const void* source) {
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t chunk = std::min(length - done, kDprNetworkChunk);
    if (route.SetMem(device, bytes + done, offset + done, chunk) != kDprNetworkWriteAnswer) {
      return false;
    }
    done += chunk;
  }
  return true;
}

bool NetworkDprGetBits(DprNetworkRoute& route, int device, std::uint32_t offset,
                       std::uint16_t first, std::uint16_t count, std::uint32_t* value) {
  std::uint32_t got = 0;
  if (route.GetMemBits(device, offset, first, count, &got) != kDprNetworkDwordAnswer) return false;
  *value = got;
  return true;
}

bool NetworkDprSetBits(DprNetworkRoute& route, int device, std::uint32_t offset,
                       std::uint16_t first, std::uint16_t count, std::uint32_t value) {
  return route.SetMemBits(device, offset, first, count, value) == kDprNetworkWriteAnswer;
}

bool NetworkDprGetBit(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t bit,
                      std::uint32_t* value) {
  std::uint32_t got = 0;
  if (route.GetMemBit(device, offset, bit, &got) != kDprNetworkDwordAnswer) return false;
  *value = got != 0 ? 1 : 0;
  return true;
}

bool NetworkDprSetBit(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t bit,
                      std::uint32_t value) {
  return route.SetMemBit(device, offset, bit, value != 0 ? 1 : 0) == kDprNetworkWriteAnswer;
}

}  // namespace zimo::corvan
