// The routing behind raw DPR access (corvan/dpr_api.h): bus cards (ISA,
// PCI, USB) through their driver's memory I/O controls, Ethernet cards
// through a network route that the Ethernet transport installs. The front
// checks every request against the window and takes a request as done only
// when the driver's flag or the card's answer says so exactly: a read
// answered with fewer bytes than asked, or a write answered with anything but
// its one acknowledge byte, is a failure.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// The network's DPR requests for one device, each returning the number of
// bytes the card answered with, or -1 when the request could not be made or
// no answer came. The front expects: GetMem `count`, the bit reads 4 (they
// read the whole dword), every write 1.
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
// Answer sizes the front takes as success.
inline constexpr std::int32_t kDprNetworkWriteAnswer = 1;
inline constexpr std::int32_t kDprNetworkDwordAnswer = 4;

// Installs the process's network route (null removes it). The route must
// stay alive while installed.
void SetDprNetworkRoute(DprNetworkRoute* route);

// How a device reaches its DPR from this process, decided on every call.
enum class DprPath { kNone, kBus, kNetwork };
DprPath DprPathOf(int device);

}  // namespace zimo::corvan
