// Command round trips over a serial line to the simulated card on a
// pseudo-terminal: through the library ("I10" exchanged with
// ZimoGetResponseExA: flush check, send, line reads, lock) beside the same
// exchange done directly by this program (write the line, read up to the
// ACK) with a card of the same model on a line of its own in the same mode.
// Both run in the same run, so their ratio is the library's own cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/paired_times.h"
#include "corvan/command_api.h"
#include "serial_bench_fixture.h"

namespace {

using namespace zimo;

using bench::TheBench;

void BM_LibraryRoundTrip(benchmark::State& state) {
  TheBench();
  char buffer[64];
  for (auto _ : state) {
    const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
    if (word != (corvan::kStatusAck | 8u)) {
      state.SkipWithError("the library's exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibraryRoundTrip)->UseRealTime();

void BM_DirectRoundTrip(benchmark::State& state) {
  bench::Bench& bench = TheBench();
  char buffer[64];
  for (auto _ : state) {
    if (!bench.DirectExchange("I10", buffer, sizeof buffer)) {
      state.SkipWithError("the direct exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectRoundTrip)->UseRealTime();

// The two exchanges in turns, each timed on its own, so both meet the same
// machine load: on a shared machine the load changes faster than one
// benchmark's run. Reports the median of each and their ratio.
void BM_PairedRoundTrips(benchmark::State& state) {
  bench::Bench& bench = TheBench();
  char buffer[64];
  zimo::bench::PairedTimes times;
  using Clock = zimo::bench::PairedTimes::Clock;
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
    const Clock::time_point t1 = Clock::now();
    const bool direct_ok = bench.DirectExchange("I10", buffer, sizeof buffer);
    const Clock::time_point t2 = Clock::now();
    if (word != (corvan::kStatusAck | 8u) || !direct_ok) {
      state.SkipWithError("an exchange failed");
      return;
    }
    times.AddLibrary(t1 - t0);
    times.AddDirect(t2 - t1);
  }
  times.Report(state);
}
BENCHMARK(BM_PairedRoundTrips)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
