// Command round trips to a simulated USB card behind zimo-drvhost: through
// the library ("VERSION" exchanged with ZimoGetResponseExA under the device
// lock, over the bus channel's USB route) beside the same exchange made by
// this program with the driver's I/O controls on a handle of its own (flush,
// send the line, read lines up to the end of the response), and beside the
// driver host's bare vendor-request round trip (the 48-byte read-back). All
// run against the same card in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/bench_support.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "drivers/zimo_ioctl.h"
#include "platform/device_io.h"

namespace {

using namespace zimo;
using bench::Fail;

// The read-back request of the card's USB firmware: 48 identification bytes.
constexpr std::uint8_t kReadBackRequest = 0xD5;
constexpr std::uint32_t kReadBackBytes = 48;

// The driver host with one USB card, device 0 opened through the library in
// the server's build (the table is this program's own), and a handle of this
// program's own on the same driver device.
class Bench {
 public:
  bool RawExchange() { return bench::DriverLineExchange(raw_, bench::kBusLineControls); }

  bool RawReadBack() {
    std::uint8_t out[kReadBackBytes];
    return raw_.DeviceIoControl(drivers::IOCTL_ZIMO_VENDOR_REQUEST, &kReadBackRequest, 1, out,
                                kReadBackBytes)
               .bytes_returned == kReadBackBytes;
  }

 private:
  bench::DriverHostDevice device_{"usb older", "ZimoUSB0", corvan::kLocationUsb, false};
  platform::DeviceFile raw_ = bench::OpenDriverDevice("ZimoUSB0");
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void BM_LibraryUsbCommand(benchmark::State& state) {
  TheBench();
  char buffer[64];
  bench::RunSteps(state, "the library's exchange failed", [&] {
    return ZimoGetResponseExA(0, buffer, sizeof buffer - 1, "VERSION") == (corvan::kStatusAck | 6u);
  });
  state.SetLabel("ZimoGetResponseExA");
}

void BM_DriverUsbCommand(benchmark::State& state) {
  Bench& bench = TheBench();
  bench::RunSteps(state, "the direct exchange failed", [&] { return bench.RawExchange(); });
  state.SetLabel("flush, line, line reads on the driver");
}

void BM_DriverVendorRequest(benchmark::State& state) {
  Bench& bench = TheBench();
  bench::RunSteps(state, "the read-back did not come", [&] { return bench.RawReadBack(); });
  state.SetLabel("one vendor request through the driver host");
}

BENCHMARK(BM_LibraryUsbCommand)->UseRealTime();
BENCHMARK(BM_DriverUsbCommand)->UseRealTime();
BENCHMARK(BM_DriverVendorRequest)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
