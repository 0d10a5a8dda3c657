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
#include <signal.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/unix_socket.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace {

using namespace zimo;
using namespace std::chrono_literals;

// The driver host with one older PCI card, device 0 opened through the
// library in the server's build (the table is this program's own), and a
// handle of this program's own on the same driver device.
class Bench {
 public:
  Bench() {
    auto host = corvan::testing::SpawnDriverHost({"pci older"});
    if (!host.ok()) Fail("starting zimo-drvhost: " + host.status().ToString());
    host_ = std::move(host.value());
    if (!corvan::testing::WaitForDriverDevice("ZimoPCI0")) Fail("the driver host's device");
    if (corvan::RegisterDevice(0, corvan::kLocationPci, 0, nullptr) != 1) Fail("Device0");
    table_.AddSlot(0, corvan::kLocationPci, 0);
    {
      corvan::testing::LibraryClock fast;
      if (OpenZimoDevice(0) != 1) Fail("OpenZimoDevice(0)");
    }
    auto raw = platform::DeviceFile::Open("\\\\.\\ZimoPCI0");
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

  // The exchange on the driver directly: flush, the line, then lines up to
  // the one that ends the response.
  enum class Kind { kBus, kMailbox, kBareMailbox };
  bool RawExchange(Kind kind) {
    using namespace zimo::drivers;
    static constexpr char kLine[] = "VERSION";
    const bool mailbox = kind != Kind::kBus;
    if (kind == Kind::kMailbox &&
        raw_.DeviceIoControl(IOCTL_ZIMO_DPR_READ_READY, nullptr, 0, nullptr, 0).bytes_returned !=
            0) {
      return false;  // nothing waits between two exchanges
    }
    const std::uint32_t flush = mailbox ? IOCTL_ZIMO_DPR_FLUSH : IOCTL_ZIMO_BUS_FLUSH;
    const std::uint32_t send = mailbox ? IOCTL_ZIMO_DPR_SEND_LINE : IOCTL_ZIMO_BUS_SEND_LINE;
    const std::uint32_t read = mailbox ? IOCTL_ZIMO_DPR_GET_LINE : IOCTL_ZIMO_BUS_GET_LINE;
    if (!raw_.DeviceIoControl(flush, nullptr, 0, nullptr, 0).ok) return false;
    if (!raw_.DeviceIoControl(send, kLine, sizeof kLine, nullptr, 0).ok) return false;
    for (int lines = 0; lines < 4; ++lines) {
      LineIoBlock block{};
      block.requested = 256;
      if (!raw_.DeviceIoControl(read, &block, sizeof block, &block, sizeof block).ok) return false;
      if (block.status == kLineEnd) return true;
      if (block.status != kLineCr) return false;
    }
    return false;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "bus_bench: %s failed\n", what.c_str());
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

void LibraryRoundTrips(benchmark::State& state, int channel) {
  TheBench();
  if (ZimoSetAsciiComm(0, channel) != 1) {
    state.SkipWithError("the channel could not be chosen");
    return;
  }
  char buffer[64];
  for (auto _ : state) {
    const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "VERSION");
    if (word != (corvan::kStatusAck | 6u)) {
      state.SkipWithError("the library's exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void RawRoundTrips(benchmark::State& state, Bench::Kind kind) {
  Bench& bench = TheBench();
  for (auto _ : state) {
    if (!bench.RawExchange(kind)) {
      state.SkipWithError("the direct exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
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
