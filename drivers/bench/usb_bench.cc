// Vendor-request round trips to a simulated USB card: raw on the card's USB
// port, through the kernel and ZimoUSB in process, and through the driver
// host's device socket as user mode makes them. The same exchanges each way.
#include <benchmark/benchmark.h>

#include <cstring>

#include "cardsim/attach_usb.h"
#include "drivers/zimo_ioctl.h"
#include "hosted_card.h"
#include "platform/device_io.h"

namespace {

using namespace zimo;
namespace rq = cardsim::usb_request;

struct Fixture : drivers::bench::HostedCard {
  Fixture() : HostedCard(UsbCard(), "ZimoUSB0") {}
  static drivers::host::CardConfig UsbCard() {
    drivers::host::CardConfig config;
    config.bus = drivers::host::Bus::kUsb;
    return config;
  }
  cardsim::UsbAttachment& port() { return *host.machine().Get(card)->usb; }
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture;  // lives for the whole run
  return *fixture;
}

// ---- One vendor request: the 48-byte read-back (0xD5) -----------------------------

void BM_RawReadBack(benchmark::State& state) {
  cardsim::UsbAttachment& port = Shared().port();
  const cardsim::UsbSetup setup{rq::kIn | rq::kVendor, rq::kReadBack, 0, 0, 48};
  for (auto _ : state) benchmark::DoNotOptimize(port.Control(setup, ""));
}
BENCHMARK(BM_RawReadBack);

void BM_KernelReadBack(benchmark::State& state) {
  Fixture& f = Shared();
  const std::vector<uint8_t> in = {rq::kReadBack};
  std::vector<uint8_t> out(48);
  if (f.host.kernel()
          .DeviceIoControl(*f.file, drivers::IOCTL_ZIMO_VENDOR_REQUEST, in, out)
          .information != 48) {
    state.SkipWithError("the read-back did not come");
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        f.host.kernel().DeviceIoControl(*f.file, drivers::IOCTL_ZIMO_VENDOR_REQUEST, in, out));
  }
  state.SetLabel("ZimoUSB and the USB bus in process");
}
BENCHMARK(BM_KernelReadBack);

void BM_HostReadBack(benchmark::State& state) {
  platform::DeviceFile& f = Shared().device;
  const uint8_t in = rq::kReadBack;
  uint8_t out[48];
  if (f.DeviceIoControl(drivers::IOCTL_ZIMO_VENDOR_REQUEST, &in, 1, out, 48).bytes_returned != 48) {
    state.SkipWithError("the read-back did not come");
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        f.DeviceIoControl(drivers::IOCTL_ZIMO_VENDOR_REQUEST, &in, 1, out, 48));
  }
  state.SetLabel("through the driver host's socket");
}
BENCHMARK(BM_HostReadBack)->UseRealTime();

// ---- A command and its reply: "I10", read as lines ---------------------------------

void BM_RawCommandExchange(benchmark::State& state) {
  cardsim::UsbAttachment& port = Shared().port();
  for (auto _ : state) {
    port.Control(cardsim::UsbSetup{rq::kVendor, rq::kSendLine, 0, 0, 3}, "I10");
    benchmark::DoNotOptimize(
        port.Control(cardsim::UsbSetup{rq::kIn | rq::kVendor, rq::kReadBlock, 0, 0, 4096}, ""));
  }
  state.SetLabel("one send, one block read");
}
BENCHMARK(BM_RawCommandExchange);

void BM_HostCommandExchange(benchmark::State& state) {
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
BENCHMARK(BM_HostCommandExchange)->UseRealTime();

// ---- DPR: 4096 bytes, one vendor request -------------------------------------------

void BM_RawDprRead4096(benchmark::State& state) {
  cardsim::UsbAttachment& port = Shared().port();
  const cardsim::UsbSetup setup{rq::kIn | rq::kVendor, rq::kReadDpr, 0, 0, 4096};
  for (auto _ : state) benchmark::DoNotOptimize(port.Control(setup, ""));
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_RawDprRead4096);

void BM_HostDprRead4096(benchmark::State& state) {
  platform::DeviceFile& f = Shared().device;
  uint32_t offset = 0;
  std::vector<uint8_t> out(4096);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        f.DeviceIoControl(drivers::IOCTL_ZIMO_DPR_READ, &offset, 4, out.data(), 4096));
  }
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_HostDprRead4096)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
