// Times of a library run and of its baseline taken in turns, so that both
// meet the same machine load; reported as the median of each and their ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace zimo::bench {

class PairedTimes {
 public:
  using Clock = std::chrono::steady_clock;

  void AddLibrary(Clock::duration d) { library_.push_back(Micros(d)); }
  void AddDirect(Clock::duration d) { direct_.push_back(Micros(d)); }

  // Sets the counters library_us, direct_us and ratio (nothing without times).
  void Report(benchmark::State& state) {
    if (library_.empty() || direct_.empty()) return;
    const double library_us = Median(library_);
    const double direct_us = Median(direct_);
    state.counters["library_us"] = library_us;
    state.counters["direct_us"] = direct_us;
    state.counters["ratio"] = library_us / direct_us;
  }

 private:
  static double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
  }
  static double Median(std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  }

  std::vector<double> library_;
  std::vector<double> direct_;
};

}  // namespace zimo::bench
