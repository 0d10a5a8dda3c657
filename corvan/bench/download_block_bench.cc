// Program lines per second over the block transports: a prepared file
// through ZimoDownloadFile to a USB card behind zimo-drvhost (driver download
// blocks, each followed by its status) and to an Ethernet card on a loopback
// address (0xC6 block writes, over UDP), each beside the same blocks sent by
// this program by the shortest road: the driver's two I/O controls on a
// handle of its own, and the 0xC6 requests on a socket of its own. All run
// against the same cards in the same run; the ratios are printed at the end,
// also without the fixed 50 ms pause that ends every block download.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "drivers/zimo_ioctl.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace {

using namespace zimo;
using namespace std::chrono_literals;

constexpr int kUsbDevice = 0;
constexpr int kEthDevice = 1;
constexpr int kLines = 2000;
// ZimoDownloadFile's fixed pause after a block download.
constexpr double kClosingPause = 0.050;

// Where a block goes out: once it holds this many bytes (the library's fill
// levels for each transport).
constexpr std::size_t kUsbThreshold = 3840;
constexpr std::size_t kEthThreshold = 1144;

// The program: one assignment per line, tagged with its line number as the
// macro pass leaves it.
std::vector<std::string> ProgramLines() {
  std::vector<std::string> lines;
  for (int i = 1; i <= kLines; ++i) {
    lines.push_back("P1=" + std::to_string(i) + " ;" + std::to_string(i));
  }
  return lines;
}

// The lines as blocks of NUL-ended lines, each closed once it reaches
// `threshold` bytes.
std::vector<std::string> Blocks(std::size_t threshold) {
  std::vector<std::string> blocks(1);
  for (const std::string& line : ProgramLines()) {
    if (blocks.back().size() >= threshold) blocks.emplace_back();
    blocks.back() += line;
    blocks.back().push_back('\0');
  }
  return blocks;
}

// The driver host with one USB card, an Ethernet card in this process, both
// opened through the library in the server's build (the table is this
// program's own), and this program's own handle and socket on each.
class Bench {
 public:
  Bench() {
    {
      std::ofstream out(File(), std::ios::binary);
      for (const std::string& line : ProgramLines()) out << line << "\r\n";
    }

    auto host = corvan::testing::SpawnDriverHost({"usb older"});
    if (!host.ok()) Fail("starting zimo-drvhost: " + host.status().ToString());
    host_ = std::move(host.value());
    if (!corvan::testing::WaitForDriverDevice("ZimoUSB0")) Fail("the driver host's device");

    char address[32];
    std::snprintf(address, sizeof address, "127.78.%u.%u", (::getpid() >> 8) % 250 + 1,
                  ::getpid() % 250 + 1);
    auto ip = cardsim::ParseIpv4(address);
    if (!ip.ok()) Fail("the card's address");
    ip_ = *ip;
    cardsim::EthOptions options;
    options.address = address;
    auto eth = cardsim::EthAttachment::Start(eth_card_, options);
    if (!eth.ok()) Fail("the Ethernet card: " + eth.status().ToString());
    eth_ = std::move(eth.value());

    if (corvan::RegisterDevice(kUsbDevice, corvan::kLocationUsb, 0, nullptr) != 1) Fail("Device0");
    if (corvan::RegisterDevice(kEthDevice, corvan::kLocationEthernet, 0, nullptr) != 1) {
      Fail("Device1");
    }
    corvan::SetLocationRegDword(corvan::kLocationEthernet, 0, "IPAddress", ip_);
    table_.AddSlot(kUsbDevice, corvan::kLocationUsb, 0);
    table_.AddSlot(kEthDevice, corvan::kLocationEthernet, 0);
    if (OpenZimoDevice(kUsbDevice) != 1) Fail("OpenZimoDevice(0)");
    if (OpenZimoDevice(kEthDevice) != 1) Fail("OpenZimoDevice(1)");

    auto driver = platform::DeviceFile::Open("\\\\.\\ZimoUSB0");
    if (!driver.ok()) Fail("opening the driver device");
    driver_ = std::move(driver.value());
    auto socket = platform::Socket::Create(platform::SocketType::kDatagram);
    if (!socket.ok() || !socket->Connect({ip_, corvan::kEthPort}).ok()) Fail("the socket");
    socket_ = std::move(socket.value());
    (void)socket_.SetReceiveTimeout(2000);
  }
  ~Bench() {
    driver_.Close();
    ShutdownZimoDevice(kEthDevice, 1);
    ShutdownZimoDevice(kUsbDevice, 1);
    corvan::App().End();
    (void)host_.Signal(SIGTERM);
    (void)host_.Wait(20s);
  }

  std::string File() const { return (home_.path() / "PROG.ZKO").string(); }

  // One download block and its status through the driver; true when every
  // line was taken.
  bool DriverBlock(const std::string& block) {
    using namespace zimo::drivers;
    const auto size = static_cast<std::uint32_t>(block.size());
    if (!driver_.DeviceIoControl(IOCTL_ZIMO_DOWNLOAD_BLOCK, block.data(), size, nullptr, 0).ok) {
      return false;
    }
    const platform::IoControlResult status =
        driver_.DeviceIoControl(IOCTL_ZIMO_DOWNLOAD_STATUS, nullptr, 0, nullptr, 0);
    return status.ok && status.bytes_returned == 0;
  }

  // One 0xC6 request with the block and its four-byte answer; true when
  // every line was taken.
  bool EthBlock(const std::string& block) {
    const auto size = static_cast<std::uint16_t>(block.size());
    std::string request = {0x40,
                           static_cast<char>(0xC6),
                           0,
                           0,
                           0,
                           0,
                           static_cast<char>(size >> 8),
                           static_cast<char>(size & 0xFF)};
    request += block;
    if (!socket_.Send(request.data(), request.size()).ok()) return false;
    unsigned char answer[8];
    auto got = socket_.Receive(answer, sizeof answer);
    return got.ok() && *got == 4 && answer[0] == 0 && answer[1] == 0 && answer[2] == 0 &&
           answer[3] == 0;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "download_block_bench: %s failed\n", what.c_str());
    std::exit(1);
  }

  zimo::testing::TempHome home_;
  platform::Process host_;
  cardsim::Card eth_card_{cardsim::CardModel::Older()};
  std::unique_ptr<cardsim::EthAttachment> eth_;
  std::uint32_t ip_ = 0;
  corvan::testing::OwnDeviceTable table_;
  platform::DeviceFile driver_;
  platform::Socket socket_;
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void LibraryDownload(benchmark::State& state, int device) {
  Bench& bench = TheBench();
  const std::string path = bench.File();
  corvan::DownloadState& download = corvan::DownloadState::Instance();
  for (auto _ : state) {
    download.BeginRun();
    ZimoDownloadFile(static_cast<std::uint32_t>(device), path.c_str());
    const bool failed = download.errors() != 0;
    download.EndRun();
    if (failed) {
      state.SkipWithError("the download reported errors");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

template <bool (Bench::*kSend)(const std::string&)>
void DirectBlocks(benchmark::State& state, std::size_t threshold) {
  Bench& bench = TheBench();
  const std::vector<std::string> blocks = Blocks(threshold);
  for (auto _ : state) {
    for (const std::string& block : blocks) {
      if (!(bench.*kSend)(block)) {
        state.SkipWithError("a block was not taken");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_LibraryUsb(benchmark::State& state) { LibraryDownload(state, kUsbDevice); }
void BM_DirectUsb(benchmark::State& state) {
  DirectBlocks<&Bench::DriverBlock>(state, kUsbThreshold);
}
void BM_LibraryEth(benchmark::State& state) { LibraryDownload(state, kEthDevice); }
void BM_DirectEth(benchmark::State& state) { DirectBlocks<&Bench::EthBlock>(state, kEthThreshold); }

BENCHMARK(BM_DirectUsb)->UseRealTime();
BENCHMARK(BM_LibraryUsb)->UseRealTime();
BENCHMARK(BM_DirectEth)->UseRealTime();
BENCHMARK(BM_LibraryEth)->UseRealTime();

// Prints, after the usual table, the library's time per download over the
// direct blocks' for each transport.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred) {
        seconds_[run.benchmark_name()] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* transport : {"Usb", "Eth"}) {
      const auto library = Find(std::string("BM_Library") + transport + "/real_time");
      const auto direct = Find(std::string("BM_Direct") + transport + "/real_time");
      if (library == seconds_.end() || direct == seconds_.end() || direct->second <= 0) continue;
      std::printf(
          "%s: library / direct download = %.2f; without the library's fixed 50 ms "
          "closing pause %.2f (target <= 1.30)\n",
          transport, library->second / direct->second,
          (library->second - kClosingPause) / direct->second);
    }
  }

 private:
  // The median of repetitions when there are any, else the one run.
  std::map<std::string, double>::const_iterator Find(const std::string& name) const {
    const auto median = seconds_.find(name + "_median");
    return median != seconds_.end() ? median : seconds_.find(name);
  }

  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
