// Motion lines into binary rotary buffer 0: through the library
// (ZimoDPRAsciiStrToRotA: upper-casing, parsing, encoding, the descriptor's
// read and room check, the ring write and the host index; on Ethernet the
// staging block sent in one request that the card writes into its ring)
// beside the shortest road for the same line: the already encoded words
// written with ZimoDPRSetMem at the ring's host index, then the new host
// index written. Both are timed in turns against the same card in the same
// run, on a simulated PCI card behind zimo-drvhost and on a simulated
// Ethernet card on a loopback address; the ring is emptied between timed
// puts (the card's coordinate system is not running), outside the timing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "bench/paired_times.h"
#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/rotary_api.h"
#include "dpr/dpr_map.h"
#include "dpr/rotary_reset.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "platform/file_mapping.h"

namespace {

using namespace zimo;
using bench::Fail;

constexpr char kLine[] = "LINEAR X10.5 Y-3.25 Z7 F100";
constexpr int kRingWords = 1000;

// The line's words as the converter makes them, once.
struct Encoded {
  std::uint8_t block[608] = {};
  int words = 0;
};
Encoded EncodeOnce() {
  Encoded e;
  char text[sizeof kLine];
  std::memcpy(text, kLine, sizeof kLine);
  e.words = ZimoDPRAsciiStrToBinary(0, text, e.block);
  if (e.words <= 0) Fail("encoding the line");
  return e;
}

// Empties ring 0 as a card that has run everything would leave it.
void EmptyRing() {
  corvan::RotBufDescriptor d{};
  corvan::ZimoDPRGetRotBufDescriptor(0, 0, &d);
  d.HostIndex = 0;
  d.CardIndex = 0;
  corvan::ZimoDPRSetRotBufDescriptor(0, 0, &d);
}

void Run(benchmark::State& state) {
  const Encoded encoded = EncodeOnce();
  corvan::RotBufDescriptor d{};
  if (corvan::ZimoDPRGetRotBufDescriptor(0, 0, &d) == 0 || d.Size == 0) Fail("ring 0");
  const corvan::SharedDeviceBlock* block = corvan::App().Block(0);
  const std::uint32_t ring = (d.Start - block->DprCardBase) * 4;
  const std::uint32_t host_index = corvan::RotaryDescriptorOffset(false, 0) + 4;
  zimo::bench::PairedTimes times;
  using Clock = zimo::bench::PairedTimes::Clock;
  for (auto _ : state) {
    EmptyRing();
    char text[sizeof kLine];
    std::memcpy(text, kLine, sizeof kLine);
    auto start = Clock::now();
    const int r = ZimoDPRAsciiStrToRotA(0, text, 0);
    times.AddLibrary(Clock::now() - start);
    if (r != 0) {
      state.SkipWithError("the library's put failed");
      break;
    }
    EmptyRing();
    start = Clock::now();
    const bool written = ZimoDPRSetMem(0, ring, static_cast<std::uint32_t>(4 * encoded.words),
                                       encoded.block) != nullptr;
    ZimoDPRSetWord(0, host_index, static_cast<std::uint16_t>(encoded.words));
    times.AddDirect(Clock::now() - start);
    if (!written) {
      state.SkipWithError("the direct write failed");
      break;
    }
  }
  times.Report(state);
  state.SetItemsProcessed(state.iterations());
}

// A simulated PCI card behind the driver host, device 0 opened through the
// library with a table of this program's own.
class PciBench {
 public:
  PciBench() {
    // The whole variable area for the rings, as a configured
    // "DualPortRamVar" of 0x1000 gives it.
    corvan::App().Block(0)->VbgNextFree = corvan::kDprCardEndOlder;
    if (ZimoDPRRotBufChange(0, 0, kRingWords) != 0) Fail("setting up ring 0");
  }

 private:
  bench::DriverHostDevice device_{"pci older", "ZimoPCI0", corvan::kLocationPci, true};
};

// The simulated card on a loopback address of this program, device 0
// registered as an Ethernet card and its socket opened.
class EthBench {
 public:
  EthBench() {
    std::uint32_t ip = 0;
    auto eth = bench::ServeOnLoopback(card_, 78, &ip);
    if (!eth.ok()) Fail("the card's Ethernet port: " + eth.status().ToString());
    eth_ = std::move(eth.value());
    corvan::SharedDeviceTable* table = bench::CreateSharedTable(mapping_);
    if (table == nullptr) Fail("the device table");
    corvan::RegisterDevice(0, corvan::kLocationEthernet, 0, table);
    if (corvan::EthOpen(0, ip) == nullptr) Fail("the card's socket");
    corvan::SharedDeviceBlock& block = table->Devices[0];
    block.DprCardBase = corvan::kDprCardStartOlder;
    block.VbgNextFree = corvan::kDprCardEndOlder;
    block.CardMotorCount = 8;
    block.CardVariableCount = 1024;
    corvan::App().User(0)->DprAvailable = 1;
    if (ZimoDPRRotBufChange(0, 0, kRingWords) != 0) Fail("setting up ring 0");
  }
  ~EthBench() {
    corvan::EthClose(0);
    corvan::App().End();
    if (eth_) eth_->Stop();
  }

 private:
  zimo::testing::TempHome home_;
  cardsim::Card card_{cardsim::CardModel::Older()};
  std::unique_ptr<cardsim::EthAttachment> eth_;
  platform::FileMapping mapping_;
};

void BM_RotaryLinesPci(benchmark::State& state) {
  PciBench bench;
  Run(state);
}

void BM_RotaryLinesEthernet(benchmark::State& state) {
  EthBench bench;
  Run(state);
}

BENCHMARK(BM_RotaryLinesPci)->UseRealTime()->Iterations(2000);
BENCHMARK(BM_RotaryLinesEthernet)->UseRealTime()->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
