// Program lines per second over a serial line to the simulated card on a
// pseudo-terminal: a prepared file through ZimoDownloadFile (line read,
// comment and tag handling, one exchange per line under the device lock,
// reply checks) beside the same lines exchanged directly by this program
// with a card of the same model on a line of its own. Both run in the same
// run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "bench/paired_times.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "serial_bench_fixture.h"

namespace {

using namespace zimo;

using bench::TheBench;

constexpr int kLines = 200;

// The program: one assignment per line, tagged with its line number as the
// macro pass leaves it.
const std::vector<std::string>& ProgramLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> l;
    for (int i = 1; i <= kLines; ++i)
      l.push_back("P" + std::to_string(i) + "=" + std::to_string(i));
    return l;
  }();
  return lines;
}

const std::string& ProgramFile() {
  static const std::string path = [] {
    const std::string p = TheBench().home() + "/PROG.EXM";
    std::ofstream out(p, std::ios::binary);
    int n = 0;
    for (const std::string& line : ProgramLines()) out << line << " ;" << ++n << "\r\n";
    return p;
  }();
  return path;
}

void BM_DownloadFile(benchmark::State& state) {
  TheBench();
  const std::string& path = ProgramFile();
  corvan::DownloadState& download = corvan::DownloadState::Instance();
  for (auto _ : state) {
    download.BeginRun();
    ZimoDownloadFile(0, path.c_str());
    if (download.errors() != 0) {
      state.SkipWithError("the download reported errors");
      break;
    }
    download.EndRun();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_DownloadFile)->UseRealTime();

void BM_DirectLines(benchmark::State& state) {
  bench::Bench& bench = TheBench();
  char buffer[64];
  for (auto _ : state) {
    for (const std::string& line : ProgramLines()) {
      if (!bench.DirectExchange(line, buffer, sizeof buffer)) {
        state.SkipWithError("the direct exchange failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_DirectLines)->UseRealTime();

// The download and the direct lines in turns, each timed on its own, so both
// meet the same machine load. Reports the median of each and their ratio.
void BM_PairedDownload(benchmark::State& state) {
  bench::Bench& bench = TheBench();
  const std::string& path = ProgramFile();
  corvan::DownloadState& download = corvan::DownloadState::Instance();
  char buffer[64];
  zimo::bench::PairedTimes times;
  using Clock = zimo::bench::PairedTimes::Clock;
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    download.BeginRun();
    ZimoDownloadFile(0, path.c_str());
    const bool library_ok = download.errors() == 0;
    download.EndRun();
    const Clock::time_point t1 = Clock::now();
    bool direct_ok = true;
    for (const std::string& line : ProgramLines()) {
      direct_ok = direct_ok && bench.DirectExchange(line, buffer, sizeof buffer);
    }
    const Clock::time_point t2 = Clock::now();
    if (!library_ok || !direct_ok) {
      state.SkipWithError("a download or a direct exchange failed");
      return;
    }
    times.AddLibrary(t1 - t0);
    times.AddDirect(t2 - t1);
  }
  times.Report(state);
  state.SetItemsProcessed(state.iterations() * kLines * 2);
}
BENCHMARK(BM_PairedDownload)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
