// Command round trips to a simulated USB card behind zimo-drvhost: through
// the library ("VERSION" exchanged with ZimoGetResponseExA under the device
// lock, over the bus channel's USB route) beside the same exchange made by
// this program with the driver's I/O controls on a handle of its own (flush,
// send the line, read lines up to the end of the response), and beside the
// driver host's bare vendor-request round trip (the 48-byte read-back). All
// run against the same card in the same run.
#include <signal.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "drivers/zimo_ioctl.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/process.h"
// The library's own start-up pieces: its device registration and the
// process's table, which this program provides in place of the server's.
#include "link/device_registry.h"
#include "link/library_app.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace {

using namespace zimo;
using namespace std::chrono_literals;

// The read-back request of the card's USB firmware: 48 identification bytes.
constexpr std::uint8_t kReadBackRequest = 0xD5;
constexpr std::uint32_t kReadBackBytes = 48;

// The driver host with one USB card, device 0 opened through the library in
// the server's build (the table is this program's own), and a handle of this
// program's own on the same driver device.
class Bench {
 public:
  Bench() {
    auto host = corvan::testing::SpawnDriverHost({"usb older"});
    if (!host.ok()) Fail("starting zimo-drvhost: " + host.status().ToString());
    host_ = std::move(host.value());
    if (!corvan::testing::WaitForDriverDevice("ZimoUSB0")) Fail("the driver host's device");
    if (corvan::RegisterDevice(0, corvan::kLocationUsb, 0, nullptr) != 1) Fail("Device0");
    table_.AddSlot(0, corvan::kLocationUsb, 0);
    if (OpenZimoDevice(0) != 1) Fail("OpenZimoDevice(0)");
    auto raw = platform::DeviceFile::Open("\\\\.\\ZimoUSB0");
    if (!raw.ok()) Fail("opening the driver device");
    raw_ = std::move(raw.value());
  }
  ~Bench() {
    raw_.Close();
    ShutdownZimoDevice(0, 1);
    corvan::App().End();
    (void)host_.Signal(SIGTERM);
    (void)host_.Wait(20s);
  }

  bool RawExchange() {
    using namespace zimo::drivers;
    static constexpr char kLine[] = "VERSION";
    if (!raw_.DeviceIoControl(IOCTL_ZIMO_BUS_FLUSH, nullptr, 0, nullptr, 0).ok) return false;
    if (!raw_.DeviceIoControl(IOCTL_ZIMO_BUS_SEND_LINE, kLine, sizeof kLine, nullptr, 0).ok) {
      return false;
    }
    for (int lines = 0; lines < 4; ++lines) {
      LineIoBlock block{};
      block.requested = 256;
      if (!raw_.DeviceIoControl(IOCTL_ZIMO_BUS_GET_LINE, &block, sizeof block, &block, sizeof block)
               .ok) {
        return false;
      }
      if (block.status == kLineEnd) return true;
      if (block.status != kLineCr) return false;
    }
    return false;
  }

  bool RawReadBack() {
    std::uint8_t out[kReadBackBytes];
    return raw_.DeviceIoControl(drivers::IOCTL_ZIMO_VENDOR_REQUEST, &kReadBackRequest, 1, out,
                                kReadBackBytes)
               .bytes_returned == kReadBackBytes;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "usb_lib_bench: %s failed\n", what.c_str());
    std::exit(1);
  }

  zimo::testing::TempHome home_;
  platform::Process host_;
  corvan::testing::OwnDeviceTable table_;
  platform::DeviceFile raw_;
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void BM_LibraryUsbCommand(benchmark::State& state) {
  TheBench();
  char buffer[64];
  for (auto _ : state) {
    if (ZimoGetResponseExA(0, buffer, sizeof buffer - 1, "VERSION") != (corvan::kStatusAck | 6u)) {
      state.SkipWithError("the library's exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("ZimoGetResponseExA");
}

void BM_DriverUsbCommand(benchmark::State& state) {
  Bench& bench = TheBench();
  for (auto _ : state) {
    if (!bench.RawExchange()) {
      state.SkipWithError("the direct exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("flush, line, line reads on the driver");
}

void BM_DriverVendorRequest(benchmark::State& state) {
  Bench& bench = TheBench();
  for (auto _ : state) {
    if (!bench.RawReadBack()) {
      state.SkipWithError("the read-back did not come");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("one vendor request through the driver host");
}

BENCHMARK(BM_LibraryUsbCommand)->UseRealTime();
BENCHMARK(BM_DriverUsbCommand)->UseRealTime();
BENCHMARK(BM_DriverVendorRequest)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
