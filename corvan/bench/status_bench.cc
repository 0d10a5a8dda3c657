// The real-time status round of a client: ZimoDPRUpdateRealTime (wait for
// the ready bit, copy the whole SPRAN buffer under the DPR data lock, hand
// the ready bit back) and then one position read per motor from the copy,
// beside the bare DPR accesses that handshake needs (a bit read, a
// 1548-byte ZimoDPRGetMem, a bit write) done in the same run against the
// same card, in turns, so both meet the same load. On PCI (zimo-drvhost)
// and on Ethernet (the card in this program on a loopback address). The
// card's own refresh is frozen and the ready bit is raised before each round
// outside the timing, so no round waits for the card. Reports the medians
// and their ratio (target: within 1.3).
#include <signal.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/status_api.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "paired_times.h"
#include "platform/named_mutex.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace {

using namespace zimo;
using bench::Fail;
using namespace std::chrono_literals;

constexpr std::uint32_t kBuffer = 0x068;  // SPRAN real-time buffer
constexpr std::uint32_t kBufferBytes = 1548;
constexpr std::uint32_t kReady = 0x06E;  // bit 15
constexpr int kMotors = 8;

// Switches the buffer on for motors 0-7 and sets the shared block as
// identification leaves it for a SPRAN card.
void PrepareDevice(int device) {
  corvan::SharedDeviceBlock* block = corvan::App().Block(device);
  block->SpranFlag = 1;
  block->CardMotorCount = 32;
  block->RealTimePollLimit = 1000;
  for (int m = 0; m < 32; ++m) block->MotorPositionFactor[m] = 1.0 / 3072.0;
  corvan::App().User(device)->DprAvailable = 1;
  if (ZimoDPRRealTimeEx(device, (1u << kMotors) - 1, 1, 1) != 1) Fail("switching the buffer on");
}

// Device 0 on a SPRAN PCI card behind zimo-drvhost, device 1 on a SPRAN
// card on Ethernet (UDP) whose card lives in this program; one home and one
// device table for both.
class Bench {
 public:
  Bench() : card_(cardsim::CardModel::Spran()) {
    if (!control_.Connect()) Fail("the driver host's control");
    PrepareDevice(0);
    control_.Command("servo 0 1");
    if (control_.Command("freeze 0 on") != "ok") Fail("freezing the card's refresh");

    std::uint32_t ip = 0;
    auto eth = bench::ServeOnLoopback(card_, 78, &ip);
    if (!eth.ok()) Fail("the card's Ethernet port");
    eth_ = std::move(eth.value());
    if (corvan::RegisterDevice(1, corvan::kLocationEthernet, 0, nullptr) != 1) Fail("Device1");
    pci_.table().AddSlot(1, corvan::kLocationEthernet, 0);
    corvan::DeviceUserHandle* user = corvan::App().User(1);
    auto command = platform::NamedMutex::Create("MutexZimo1");
    auto dpr = platform::NamedMutex::Create("DPRMutexZimo1");
    if (!command.ok() || !dpr.ok()) Fail("the device's locks");
    user->CommandMutex = std::move(command.value());
    user->DprDataMutex = std::move(dpr.value());
    if (corvan::EthOpen(1, ip) == nullptr) Fail("EthOpen");
    eth_handle_.location = corvan::kLocationEthernet;
    eth_handle_.users = 1;
    user->Transport = &eth_handle_;
    user->OpenCount = 1;
    PrepareDevice(1);
    card_.AdvanceServo(1);
    card_.script().SetDprFrozen(true);
  }
  ~Bench() {
    corvan::EthClose(1);
    corvan::App().User(1)->Transport = nullptr;
    eth_->Stop();
  }

 private:
  // Device 0 first: its home and table hold device 1 as well, and it is
  // shut down last.
  bench::DriverHostDevice pci_{"pci spran", "ZimoPCI0", corvan::kLocationPci, true};
  corvan::testing::DriverHostControl control_;
  cardsim::Card card_;
  std::unique_ptr<cardsim::EthAttachment> eth_;
  corvan::LocationHandle eth_handle_;
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

// One round each way, timed apart, as often as the benchmark asks.
void PairedRounds(benchmark::State& state, int device) {
  std::vector<std::uint8_t> block(kBufferBytes);
  zimo::bench::PairedTimes times;
  using Clock = zimo::bench::PairedTimes::Clock;
  double sink = 0;
  for (auto _ : state) {
    ZimoDPRSetMemBit(device, kReady, 15, 1);  // as the card does when it has refreshed
    const Clock::time_point t0 = Clock::now();
    const bool updated = ZimoDPRUpdateRealTime(device) == 1;
    for (int m = 0; m < kMotors; ++m) sink += ZimoDPRPosition(device, m, 1.0);
    const Clock::time_point t1 = Clock::now();

    ZimoDPRSetMemBit(device, kReady, 15, 1);
    const Clock::time_point t2 = Clock::now();
    std::uint32_t ready = 0;
    bool bare = ZimoDPRGetMemBit(device, kReady, 15, &ready) != 0 && ready == 1;
    bare = bare && ZimoDPRGetMem(device, kBuffer, kBufferBytes, block.data()) != nullptr;
    bare = bare && ZimoDPRSetMemBit(device, kReady, 15, 0) != 0;
    const Clock::time_point t3 = Clock::now();
    if (!updated || !bare) {
      state.SkipWithError("an update or a bare access failed");
      return;
    }
    times.AddLibrary(t1 - t0);
    times.AddDirect(t3 - t2);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  benchmark::DoNotOptimize(sink);
  times.Report(state);
  state.SetItemsProcessed(state.iterations());
}

void BM_PciUpdateAndPositions(benchmark::State& state) {
  TheBench();
  PairedRounds(state, 0);
}
BENCHMARK(BM_PciUpdateAndPositions)->UseManualTime();

void BM_EthUpdateAndPositions(benchmark::State& state) {
  TheBench();
  PairedRounds(state, 1);
}
BENCHMARK(BM_EthUpdateAndPositions)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
