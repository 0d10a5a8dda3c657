// Wait-loop calibration: how many 1 ms waits fit into an interval on this
// machine. The DPR poll limits and the serial wait counts are derived from
// it.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// Counts 1 ms waits (the first returns at once) until a one-shot timer of
// `milliseconds` fires. False, with *count left alone, when the timer cannot
// resolve 1 ms.
bool CalibrateWaits(std::uint32_t milliseconds, std::uint32_t* count);

}  // namespace zimo::corvan
