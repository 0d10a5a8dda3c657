// Command round trips to a simulated PCI card behind zimo-drvhost: through
// the library ("VERSION" exchanged with ZimoGetResponseExA, under the
// device lock, by the command API's dispatch) over the bus channel and over
// the DPR mailbox, beside the same exchange done with the driver's I/O
// controls directly by this program on a handle of its own (flush, send the
// line, read the lines up to the end of the response). Both run against the
// same card in the same run, so their ratio is the library's own cost.
//
// The mailbox exchange asks first whether the card has posted anything (so
// that a waiting unsolicited line is read into the ring rather than flushed
// away): one I/O control more than the bare flush-send-read. The direct
// mailbox exchange is measured both ways.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/bench_support.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "drivers/zimo_ioctl.h"
#include "platform/device_io.h"

namespace {

using namespace zimo;
using bench::Fail;

// The driver host with one older PCI card, device 0 opened through the
// library in the server's build (the table is this program's own), and a
// handle of this program's own on the same driver device.
class Bench {
 public:
  // The exchange on the driver directly: flush, the line, then lines up to
  // the one that ends the response.
  enum class Kind { kBus, kMailbox, kBareMailbox };
  bool RawExchange(Kind kind) {
    using namespace zimo::drivers;
    if (kind == Kind::kMailbox &&
        raw_.DeviceIoControl(IOCTL_ZIMO_DPR_READ_READY, nullptr, 0, nullptr, 0).bytes_returned !=
            0) {
      return false;  // nothing waits between two exchanges
    }
    return bench::DriverLineExchange(
        raw_, kind == Kind::kBus ? bench::kBusLineControls : bench::kMailboxLineControls);
  }

 private:
  bench::DriverHostDevice device_{"pci older", "ZimoPCI0", corvan::kLocationPci, true};
  platform::DeviceFile raw_ = bench::OpenDriverDevice("ZimoPCI0");
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void LibraryRoundTrips(benchmark::State& state, int channel) {
  TheBench();
  if (ZimoSetAsciiComm(0, channel) != 1) {
    state.SkipWithError("the channel could not be chosen");
    return;
  }
  char buffer[64];
  bench::RunSteps(state, "the library's exchange failed", [&] {
    return ZimoGetResponseExA(0, buffer, sizeof buffer, "VERSION") == (corvan::kStatusAck | 6u);
  });
}

void RawRoundTrips(benchmark::State& state, Bench::Kind kind) {
  Bench& bench = TheBench();
  bench::RunSteps(state, "the direct exchange failed", [&] { return bench.RawExchange(kind); });
}

void BM_LibraryBusChannel(benchmark::State& state) { LibraryRoundTrips(state, 0); }
void BM_DriverBusIoControls(benchmark::State& state) { RawRoundTrips(state, Bench::Kind::kBus); }
// The mailbox runs once the card's mailbox is on, which the first mailbox
// benchmark's switch does.
void BM_LibraryMailbox(benchmark::State& state) { LibraryRoundTrips(state, 1); }
void BM_DriverMailboxIoControls(benchmark::State& state) {
  RawRoundTrips(state, Bench::Kind::kMailbox);
}
void BM_DriverMailboxBareIoControls(benchmark::State& state) {
  RawRoundTrips(state, Bench::Kind::kBareMailbox);
}

BENCHMARK(BM_LibraryBusChannel)->UseRealTime();
BENCHMARK(BM_DriverBusIoControls)->UseRealTime();
BENCHMARK(BM_LibraryMailbox)->UseRealTime();
BENCHMARK(BM_DriverMailboxIoControls)->UseRealTime();
BENCHMARK(BM_DriverMailboxBareIoControls)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
