// One decimation rule used by all plot-array builders, which guarantees
// that an x array and every y array plotted against it match in length.
#pragma once

#include <cstdint>

namespace zimo::labhelper {

// Calls keep(index) for each sample index a plot of `count` samples shows
// with `divisor`, in order; returns how many it kept. A divisor of 0 or
// below thins nothing.
template <typename Keep>
int32_t ForEachShownSample(int32_t count, int32_t divisor, Keep keep) {
  int32_t kept = 0;
  if (count <= 0) return 0;
  // A divisor above 8000 would leave no room at all; one point per step
  // of the whole count is the least a plot can show.
  const int32_t limit = divisor <= 0 ? count : (8000 / divisor > 0 ? 8000 / divisor : 1);
  if (count <= limit) {
    for (int32_t i = 0; i < count; ++i, ++kept) keep(i);
  } else if (count <= 2 * limit) {
    const int32_t skip = limit / (count - limit) < 2 ? 2 : limit / (count - limit);
    for (int32_t i = 0; i < count; ++i) {
      if (i % skip == 0) continue;
      keep(i);
      ++kept;
    }
  } else {
    const int32_t step = (count + limit - 1) / limit;
    for (int32_t i = 0; i < count; i += step, ++kept) keep(i);
  }
  return kept;
}

}  // namespace zimo::labhelper
