// Gathering of motor currents: points the card's gather sources at the
// current registers of the motors a bit mask names, in bit order.
#include <cstdint>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"

namespace {

// The older card map: one register of each kind per motor, $3C apart.
// Bits 0 to 7 the Y word, 8 to 15 the D pair, 16 to 23 the X word of
// motors 1 to 8.
constexpr int kTableBits = 24;
constexpr const char* kCurrentRegisters[kTableBits] = {
    "Y:$46", "Y:$82", "Y:$be", "Y:$fa", "Y:$136", "Y:$172", "Y:$1ae", "Y:$1ea",
    "D:$2B", "D:$67", "D:$A3", "D:$DF", "D:$11B", "D:$157", "D:$193", "D:$1CF",
    "X:$46", "X:$82", "X:$be", "X:$fa", "X:$136", "X:$172", "X:$1ae", "X:$1ea",
};

// Sources this operation clears and assigns.
constexpr std::uint32_t kSources = 24;
// Bits past the table up to 30 are walked and select nothing; bit 31 is
// not looked at.
constexpr int kLastBit = 30;

}  // namespace

extern "C" {

std::int32_t ZimoSetCurrentGather(std::uint32_t device, std::uint32_t mask, std::int32_t enable) {
  // One lock over the whole set-up, so no other process's command falls
  // between two source settings (the gather calls take it again).
  LockZimo(device);
  for (std::uint32_t s = 0; s < kSources; ++s) ZimoSetGather(device, s, "", 0);
  std::uint32_t next = 0;
  for (int bit = 0; bit <= kLastBit && next < kSources; ++bit) {
    if (((mask >> bit) & 1u) == 0 || bit >= kTableBits) continue;
    ZimoSetGather(device, next++, kCurrentRegisters[bit], enable);
  }
  ReleaseZimo(device);
  return 1;
}

}  // extern "C"
