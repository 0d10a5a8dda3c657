// Ethernet command round trips to the simulated card on a loopback address,
// over UDP and over TCP: through the library ("I10" exchanged with
// EthGetResponse: lock, stale-answer check, time-out, request, answer, text)
// beside the same request and answer done directly on a socket of this
// program. Both run against the same card in the same run, so their ratio is
// the library's own cost; it is printed at the end (target: within 1.3).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/eth_api.h"
#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "platform/file_mapping.h"
#include "platform/socket.h"
#include "temp_home.h"

namespace {

using namespace zimo;

constexpr int kUdpDevice = 0;
constexpr int kTcpDevice = 1;
constexpr char kCommand[] = "I10";
constexpr char kExpected[] = "3713707\r";

// The card, the device table and both devices, set up once for the run.
class Bench {
 public:
  static Bench& Get() {
    static Bench* const bench = new Bench();
    return *bench;
  }

  bool ok() const { return ok_; }
  std::uint32_t ip() const { return ip_; }

 private:
  Bench() {
    auto eth = bench::ServeOnLoopback(card_, 77, &ip_);
    if (!eth.ok()) {
      std::fprintf(stderr, "card: %s\n", eth.status().ToString().c_str());
      return;
    }
    eth_ = std::move(eth.value());

    corvan::SharedDeviceTable* table = bench::CreateSharedTable(mapping_);
    if (table == nullptr) return;
    corvan::RegisterDevice(kUdpDevice, corvan::kLocationEthernet, 0, table);
    corvan::RegisterDevice(kTcpDevice, corvan::kLocationEthernet, 1, table);
    corvan::SetLocationRegDword(corvan::kLocationEthernet, 1, "TCPMode", 1);
    ok_ =
        corvan::EthOpen(kUdpDevice, ip_) != nullptr && corvan::EthOpen(kTcpDevice, ip_) != nullptr;
  }
  ~Bench() = default;

  cardsim::Card card_{cardsim::CardModel::Older()};
  std::unique_ptr<cardsim::EthAttachment> eth_;
  platform::FileMapping mapping_;
  zimo::testing::TempHome home_;
  std::uint32_t ip_ = 0;
  bool ok_ = false;
};

void LibraryRoundTrip(benchmark::State& state, int device) {
  Bench& bench = Bench::Get();
  if (!bench.ok()) {
    state.SkipWithError("no card");
    return;
  }
  char reply[256];
  for (auto _ : state) {
    const std::uint32_t word = EthGetResponse(device, reply, sizeof reply - 1, kCommand);
    if (word != 0x80000008u) {
      state.SkipWithError("unexpected reply");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  state.SetItemsProcessed(state.iterations());
}

// The same request and answer on a socket of this program.
void BareRoundTrip(benchmark::State& state, platform::SocketType type) {
  Bench& bench = Bench::Get();
  if (!bench.ok()) {
    state.SkipWithError("no card");
    return;
  }
  auto socket = platform::Socket::Create(type);
  if (!socket.ok() || !socket->Connect({bench.ip(), corvan::kEthPort}).ok()) {
    state.SkipWithError("no socket");
    return;
  }
  if (type == platform::SocketType::kStream) (void)socket->SetNoDelay(true);
  const char request[] = {0x40, static_cast<char>(0xBF), 0, 0, 0, 0, 0, 3, 'I', '1', '0'};
  char answer[1400];
  for (auto _ : state) {
    if (!socket->Send(request, sizeof request).ok()) break;
    std::size_t got = 0;
    // The answer is the reply and its ACK.
    while (got < sizeof kExpected) {
      auto n = socket->Receive(answer + got, sizeof answer - got);
      if (!n.ok() || *n == 0) break;
      got += *n;
    }
    if (got != sizeof kExpected) {
      state.SkipWithError("unexpected answer");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LibraryUdp(benchmark::State& state) { LibraryRoundTrip(state, kUdpDevice); }
void BM_BareUdp(benchmark::State& state) { BareRoundTrip(state, platform::SocketType::kDatagram); }
void BM_LibraryTcp(benchmark::State& state) { LibraryRoundTrip(state, kTcpDevice); }
void BM_BareTcp(benchmark::State& state) { BareRoundTrip(state, platform::SocketType::kStream); }

BENCHMARK(BM_BareUdp)->UseRealTime();
BENCHMARK(BM_LibraryUdp)->UseRealTime();
BENCHMARK(BM_BareTcp)->UseRealTime();
BENCHMARK(BM_LibraryTcp)->UseRealTime();

// Prints, after the usual table, the library's time per round trip over the
// bare one for each protocol.
class RatioReporter : public bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const std::string protocol : {"Udp", "Tcp"}) {
      const double ratio =
          Ratio("BM_Library" + protocol + "/real_time", "BM_Bare" + protocol + "/real_time");
      if (ratio <= 0) continue;
      std::printf("%s: library / bare round trip = %.2f (target <= 1.30)\n", protocol.c_str(),
                  ratio);
    }
  }
};

}  // namespace

int main(int argc, char** argv) { return zimo::bench::RunWithReporter<RatioReporter>(argc, argv); }
