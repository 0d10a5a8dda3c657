// What a coordinate system running its binary rotary buffer keeps between
// servo cycles (rotary_run.cc): the units read ahead (a WHILE jumps back
// into them), the position of the next unit, the pending move of the
// current block and the modes the units set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <utility>

namespace zimo::cardsim {

// "Bn" with this number points a system at its binary rotary buffer.
inline constexpr int kRotaryProgram = 0;

struct RotaryRun {
  std::deque<uint64_t> window;  // units read, from unit number `base` on
  size_t base = 0;
  size_t pc = 0;                    // number of the next unit to run
  std::optional<size_t> keep_from;  // first unit of a WHILE that may jump back
  uint64_t generation = 0;          // of the buffer when these units were read
  bool conditions = true;           // the IF and WHILE conditions since the last frame held
  bool pset = false;                // axis words of this block set positions
  uint32_t inc_axes = 0;            // axis bits (R 0, A 1, B 3, ... Z 17) of incremental axes
  uint32_t frax_axes = 0x2AAAA;
  int mode = 0;         // 0 linear, 1 rapid, 2 circle CW, 3 circle CCW, 4 spline
  uint32_t homing = 0;  // motors (bit n - 1) whose home search the system waits for
  bool wait_in_position = false;
  bool error = false;  // a unit that does not decode stopped the system
  std::map<char, std::pair<double, double>> pending;  // axis -> value, end velocity
  char last_axis = 0;
};

}  // namespace zimo::cardsim
