// I/O-control round trips through the driver host's device socket, beside a
// bare Unix-socket round trip of the same frame sizes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>

#include "drivers/zimo_ioctl.h"
#include "hosted_card.h"
#include "platform/device_io.h"

namespace {

using namespace zimo;

drivers::bench::HostedCard& Shared() {
  static auto* card = new drivers::bench::HostedCard({}, "ZimoPCI0");  // lives for the whole run
  return *card;
}

// A request header and a reply header each way, as a no-op control moves.
void BM_BareUnixSocketRoundTrip(benchmark::State& state) {
  auto pair = platform::UnixSocketPair().value();
  platform::UnixConnection client = std::move(pair.first);
  platform::UnixConnection server = std::move(pair.second);
  std::thread echo([&server] {
    uint8_t frame[24];
    while (server.RecvExact(frame, sizeof(frame)).ok()) {
      if (!server.SendAll(frame, sizeof(frame)).ok()) break;
    }
  });
  uint8_t frame[24] = {};
  for (auto _ : state) {
    (void)client.SendAll(frame, sizeof(frame));
    (void)client.RecvExact(frame, sizeof(frame));
  }
  client.Shutdown();
  echo.join();
}
BENCHMARK(BM_BareUnixSocketRoundTrip)->UseRealTime();

void BM_NoOpControl(benchmark::State& state) {
  platform::DeviceFile& f = Shared().device;
  for (auto _ : state) {
    auto r = f.DeviceIoControl(drivers::IOCTL_ZIMO_DPR_AVAILABLE, nullptr, 0, nullptr, 0);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_NoOpControl)->UseRealTime();

void BM_LineSendAndRead(benchmark::State& state) {
  platform::DeviceFile& f = Shared().device;
  drivers::LineIoBlock line{};
  for (auto _ : state) {
    f.DeviceIoControl(drivers::IOCTL_ZIMO_BUS_SEND_LINE, "I10", 4, nullptr, 0);
    do {
      line.requested = 256;
      f.DeviceIoControl(drivers::IOCTL_ZIMO_BUS_GET_LINE, &line, sizeof(line), &line, sizeof(line));
    } while (line.status == drivers::kLineCr);
  }
  state.SetLabel("one send and two line reads");
}
BENCHMARK(BM_LineSendAndRead)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
