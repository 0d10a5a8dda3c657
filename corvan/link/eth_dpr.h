// The DPR route of Ethernet cards: the card's DPR requests (EthDPRGetMem and
// friends, corvan/eth_api.h) in blocks of at most kDprNetworkChunk bytes. A
// request is done only when its answer has the exact size: a read answered
// with fewer bytes than asked, or a write answered with anything but its
// one acknowledge byte, is a failure.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// The network's DPR requests for one device, each returning the number of
// bytes the card answered with, or -1 when the request could not be made or
// no answer came. Expected: GetMem `count`, the bit reads 4 (they read the
// whole dword), every write 1.
class DprNetworkRoute {
 public:
  virtual ~DprNetworkRoute() = default;
  // True when `device` has its network link open in this process.
  virtual bool IsOpen(int device) = 0;
  virtual std::int32_t GetMem(int device, void* destination, std::uint32_t offset,
                              std::uint32_t count) = 0;
  virtual std::int32_t SetMem(int device, const void* source, std::uint32_t offset,
                              std::uint32_t count) = 0;
  virtual std::int32_t GetMemBits(int device, std::uint32_t offset, std::uint16_t first_bit,
                                  std::uint16_t bit_count, std::uint32_t* value) = 0;
  virtual std::int32_t SetMemBits(int device, std::uint32_t offset, std::uint16_t first_bit,
                                  std::uint16_t bit_count, std::uint32_t value) = 0;
  virtual std::int32_t GetMemBit(int device, std::uint32_t offset, std::uint32_t bit,
                                 std::uint32_t* value) = 0;
  virtual std::int32_t SetMemBit(int device, std::uint32_t offset, std::uint32_t bit,
                                 std::uint32_t set) = 0;
};

// Largest block of one network request.
inline constexpr std::uint32_t kDprNetworkChunk = 1400;
// Answer sizes taken as success.
inline constexpr std::int32_t kDprNetworkWriteAnswer = 1;
inline constexpr std::int32_t kDprNetworkDwordAnswer = 4;

// The route over the card's Ethernet DPR requests.
DprNetworkRoute& EthDprNetworkRoute();

// The DPR operations over a route: whole blocks only (a failed read leaves
// `destination` untouched), bits as the exact answers say.
bool NetworkDprRead(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                    void* destination);
bool NetworkDprWrite(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t length,
                     const void* source);
bool NetworkDprGetBits(DprNetworkRoute& route, int device, std::uint32_t offset,
                       std::uint16_t first, std::uint16_t count, std::uint32_t* value);
bool NetworkDprSetBits(DprNetworkRoute& route, int device, std::uint32_t offset,
                       std::uint16_t first, std::uint16_t count, std::uint32_t value);
bool NetworkDprGetBit(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t bit,
                      std::uint32_t* value);
bool NetworkDprSetBit(DprNetworkRoute& route, int device, std::uint32_t offset, std::uint32_t bit,
                      std::uint32_t value);

}  // namespace zimo::corvan
