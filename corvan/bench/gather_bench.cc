// Uploading a gather: samples per second through ZimoCollectGatherData (4
// sources, 10,000 samples on an Ethernet card in this process) beside, in
// the same run and in turns, the bare "list gat" exchange into a buffer of
// the same size, and a raw DPR read (ZimoDPRGetMem, window by window) of as
// many bytes as the listing has. The collection's time over the bare
// exchange's is printed at the end (target: within 1.2).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/gather_api.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "paired_times.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace {

using namespace zimo;

constexpr std::uint32_t kSamples = 10000;
constexpr std::uint32_t kSources = 4;
constexpr std::uint32_t kDprWindow = 16384;

class Bench {
 public:
  static Bench& Get() {
    static Bench* const bench = new Bench();
    return *bench;
  }
  bool ok() const { return ok_; }
  std::uint32_t listing_bytes() const { return listing_bytes_; }

 private:
  Bench() {
    std::uint32_t ip = 0;
    auto eth = bench::ServeOnLoopback(card_, 78, &ip, /*tcp=*/false);
    if (!eth.ok()) return;
    eth_ = std::move(eth.value());
    if (corvan::RegisterDevice(0, corvan::kLocationEthernet, 0, nullptr) != 1) return;
    corvan::SetLocationRegDword(corvan::kLocationEthernet, 0, "IPAddress", ip);
    table_.AddSlot(0, corvan::kLocationEthernet, 0);
    {
      corvan::testing::LibraryClock fast;
      if (OpenZimoDevice(0) != 1) return;
    }
    // Four sources: the servo counter, a position, two plain words.
    ZimoClearGather(0);
    ZimoSetGather(0, 0, "X:$0", 1);
    ZimoSetGather(0, 1, "D:$28", 1);
    ZimoSetGather(0, 2, "X:$3000", 1);
    ZimoSetGather(0, 3, "Y:$3000", 1);
    ZimoInitPlotGather(0, 0, 1);
    ZimoStartGather(0);
    card_.AdvanceServo(kSamples);
    ZimoStopGather(0);
    std::uint32_t sources = 0, samples = 0;
    ok_ = ZimoCollectGatherData(0, &sources, &samples) == 1 && sources == kSources &&
          samples == kSamples;
    listing_bytes_ = kSources * kSamples * 14 + 1500;
  }

  zimo::testing::TempHome home_;
  cardsim::Card card_{cardsim::CardModel::Older()};
  std::unique_ptr<cardsim::EthAttachment> eth_;
  corvan::testing::OwnDeviceTable table_;
  std::uint32_t listing_bytes_ = 0;
  bool ok_ = false;
};

bool Collect() {
  std::uint32_t sources = 0, samples = 0;
  return ZimoCollectGatherData(0, &sources, &samples) == 1 && samples == kSamples;
}

bool BareListing(std::vector<char>& buffer) {
  return ZimoGetResponseA(0, buffer.data(), static_cast<std::uint32_t>(buffer.size()), "list gat") >
         0;
}

bool RawDpr(std::vector<char>& buffer) {
  for (std::uint32_t at = 0; at < buffer.size(); at += kDprWindow) {
    const auto n =
        std::min<std::uint32_t>(kDprWindow, static_cast<std::uint32_t>(buffer.size()) - at);
    if (ZimoDPRGetMem(0, 0, n, buffer.data() + at) == nullptr) return false;
  }
  return true;
}

// False, with the run skipped, when the card could not be gathered.
bool Ready(benchmark::State& state) {
  if (Bench::Get().ok()) return true;
  state.SkipWithError("no gathered card");
  return false;
}

// The collection and the bare exchange in turns.
void BM_CollectVersusBareListing(benchmark::State& state) {
  if (!Ready(state)) return;
  Bench& bench = Bench::Get();
  std::vector<char> buffer(bench.listing_bytes());
  bench::PairedTimes times;
  for (auto _ : state) {
    auto t0 = bench::PairedTimes::Clock::now();
    if (!Collect()) {
      state.SkipWithError("collect failed");
      break;
    }
    auto t1 = bench::PairedTimes::Clock::now();
    if (!BareListing(buffer)) {
      state.SkipWithError("listing failed");
      break;
    }
    auto t2 = bench::PairedTimes::Clock::now();
    times.AddLibrary(t1 - t0);
    times.AddDirect(t2 - t1);
  }
  times.Report(state);
  state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_Collect(benchmark::State& state) {
  if (!Ready(state)) return;
  bench::RunSteps(state, "collect failed", Collect, kSamples);
}

void BM_BareListing(benchmark::State& state) {
  if (!Ready(state)) return;
  std::vector<char> buffer(Bench::Get().listing_bytes());
  bench::RunSteps(
      state, "listing failed", [&] { return BareListing(buffer); }, kSamples);
}

void BM_RawDprRead(benchmark::State& state) {
  if (!Ready(state)) return;
  if (ZimoGetDpramAvailable(0) != 1) {
    state.SkipWithError("no DPR");
    return;
  }
  std::vector<char> buffer(Bench::Get().listing_bytes());
  bench::RunSteps(
      state, "DPR read failed", [&] { return RawDpr(buffer); }, kSamples);
}

BENCHMARK(BM_CollectVersusBareListing)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareListing)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Collect)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawDprRead)->UseRealTime()->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto ratio = run.counters.find("ratio");
      if (ratio != run.counters.end()) ratio_ = ratio->second;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (ratio_ > 0) {
      std::printf("collect / bare \"list gat\" (paired medians) = %.2f (target <= 1.20)\n", ratio_);
    }
  }

 private:
  double ratio_ = 0;
};

}  // namespace

int main(int argc, char** argv) { return zimo::bench::RunWithReporter<RatioReporter>(argc, argv); }
