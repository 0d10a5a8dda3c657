// Program lines per second over the block transports: a prepared file
// through ZimoDownloadFile to a USB card behind zimo-drvhost (driver download
// blocks, each followed by its status) and to an Ethernet card on a loopback
// address (0xC6 block writes, over UDP), each beside this program doing the
// same work by the shortest road: it reads the file, cuts it into the same
// blocks and makes the same exchanges a block download needs (the flush,
// "CLOSEI3=2" and its reply, the flush, the blocks with their status words,
// the closing flush), through the driver's I/O controls on a handle of its
// own and requests on a socket of its own. The fixed 50 ms pause that ends a
// block download is in both sides of one pair and in neither side of the
// other (the library's pause switched off), so that the pair without it
// shows the library's own cost; the BM_Paired benchmarks time the two
// without the pause in turns and report their medians and ratio. All run
// against the same cards in the same run; the ratios are printed at the end.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/paired_times.h"
#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "download/download_state.h"
#include "download/file_sender.h"
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
using bench::Fail;
using namespace std::chrono_literals;

constexpr int kUsbDevice = 0;
constexpr int kEthDevice = 1;
constexpr int kLines = 2000;
// ZimoDownloadFile's fixed pause after a block download.
constexpr auto kClosingPause = 50ms;
constexpr char kOpening[] = "CLOSEI3=2";

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

// The file read whole and cut into blocks of NUL-ended lines without their
// control characters, each block closed once it reaches `threshold` bytes.
std::vector<std::string> ReadBlocks(const std::string& path, std::size_t threshold) {
  std::vector<std::string> blocks(1);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  std::string text;
  char chunk[16384];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, got);
  std::fclose(f);
  std::string line;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    line.clear();
    for (std::size_t i = at; i < end; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != 0x7F) line.push_back(static_cast<char>(c));
    }
    at = end;
    if (line.empty()) continue;
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

    auto eth = bench::ServeOnLoopback(eth_card_, 78, &ip_);
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

    driver_ = bench::OpenDriverDevice("ZimoUSB0");
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

  // The driver's side of a block download: the flush, the opening line and
  // its reply, the flush, every block with its status, the closing flush;
  // true when every line was taken.
  bool DriverDownload(const std::vector<std::string>& blocks) {
    using namespace zimo::drivers;
    if (!DriverFlush()) return false;
    if (!driver_.DeviceIoControl(IOCTL_ZIMO_BUS_SEND_LINE, kOpening, sizeof kOpening, nullptr, 0)
             .ok) {
      return false;
    }
    LineIoBlock reply{};
    reply.requested = sizeof reply.text;
    if (!driver_
             .DeviceIoControl(IOCTL_ZIMO_BUS_GET_LINE, &reply, sizeof reply, &reply, sizeof reply)
             .ok) {
      return false;
    }
    if (!DriverFlush()) return false;
    for (const std::string& block : blocks) {
      const auto size = static_cast<std::uint32_t>(block.size());
      if (!driver_.DeviceIoControl(IOCTL_ZIMO_DOWNLOAD_BLOCK, block.data(), size, nullptr, 0).ok) {
        return false;
      }
      const platform::IoControlResult status =
          driver_.DeviceIoControl(IOCTL_ZIMO_DOWNLOAD_STATUS, nullptr, 0, nullptr, 0);
      if (!status.ok || status.bytes_returned != 0) return false;
    }
    return DriverFlush();
  }

  // The same over the Ethernet requests: 0xB3 flushes, 0xB0 with the
  // opening line, 0xC5 until its reply has ended, 0xC6 with each block and
  // its four-byte status.
  bool EthDownload(const std::vector<std::string>& blocks) {
    unsigned char answer[1400];
    if (!EthFlush()) return false;
    if (Exchange(0xB0, 0, kOpening, sizeof kOpening - 1, answer, sizeof answer) != 1) return false;
    for (;;) {
      const long got = Exchange(0xC5, 0, nullptr, sizeof answer, answer, sizeof answer);
      if (got <= 0) return false;
      const unsigned char last = answer[got - 1];
      if (last == 0x06 || last == '\n' || got < static_cast<long>(sizeof answer)) break;
    }
    if (!EthFlush()) return false;
    for (const std::string& block : blocks) {
      if (Exchange(0xC6, 0, block.data(), block.size(), answer, sizeof answer) != 4) return false;
      if (answer[0] != 0 || answer[1] != 0 || answer[2] != 0 || answer[3] != 0) return false;
    }
    return EthFlush();
  }

 private:
  bool DriverFlush() {
    return driver_.DeviceIoControl(zimo::drivers::IOCTL_ZIMO_BUS_FLUSH, nullptr, 0, nullptr, 0).ok;
  }
  bool EthFlush() {
    unsigned char answer[8];
    return Exchange(0xB3, 10, nullptr, 0, answer, sizeof answer) == 1;
  }

  // One request (type 0x40) with `payload`, or asking for `length` bytes
  // when there is none; the answer's size, -1 on failure.
  long Exchange(unsigned char request, std::uint16_t value, const char* payload, std::size_t length,
                unsigned char* answer, std::size_t answer_size) {
    char packet[1500] = {0x40,
                         static_cast<char>(request),
                         static_cast<char>(value >> 8),
                         static_cast<char>(value & 0xFF),
                         0,
                         0,
                         static_cast<char>(length >> 8),
                         static_cast<char>(length & 0xFF)};
    std::size_t size = 8;
    if (payload != nullptr) {
      std::memcpy(packet + 8, payload, length);
      size += length;
    }
    if (!socket_.Send(packet, size).ok()) return -1;
    auto got = socket_.Receive(answer, answer_size);
    return got.ok() ? static_cast<long>(*got) : -1;
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

void LibraryDownload(benchmark::State& state, int device, bool pause) {
  Bench& bench = TheBench();
  const std::string path = bench.File();
  corvan::DownloadState& download = corvan::DownloadState::Instance();
  const auto kept = corvan::SetBlockDownloadPauseForTesting(pause ? kClosingPause : 0ms);
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
  corvan::SetBlockDownloadPauseForTesting(kept);
  state.SetItemsProcessed(state.iterations() * kLines);
}

template <bool (Bench::*kDownload)(const std::vector<std::string>&)>
void DirectDownload(benchmark::State& state, std::size_t threshold, bool pause) {
  Bench& bench = TheBench();
  const std::string path = bench.File();
  for (auto _ : state) {
    const std::vector<std::string> blocks = ReadBlocks(path, threshold);
    if (blocks.empty() || !(bench.*kDownload)(blocks)) {
      state.SkipWithError("the download was not taken");
      return;
    }
    if (pause) std::this_thread::sleep_for(kClosingPause);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_DirectUsb(benchmark::State& state) {
  DirectDownload<&Bench::DriverDownload>(state, kUsbThreshold, true);
}
void BM_LibraryUsb(benchmark::State& state) { LibraryDownload(state, kUsbDevice, true); }
void BM_DirectUsbNoPause(benchmark::State& state) {
  DirectDownload<&Bench::DriverDownload>(state, kUsbThreshold, false);
}
void BM_LibraryUsbNoPause(benchmark::State& state) { LibraryDownload(state, kUsbDevice, false); }
void BM_DirectEth(benchmark::State& state) {
  DirectDownload<&Bench::EthDownload>(state, kEthThreshold, true);
}
void BM_LibraryEth(benchmark::State& state) { LibraryDownload(state, kEthDevice, true); }
void BM_DirectEthNoPause(benchmark::State& state) {
  DirectDownload<&Bench::EthDownload>(state, kEthThreshold, false);
}
void BM_LibraryEthNoPause(benchmark::State& state) { LibraryDownload(state, kEthDevice, false); }

// The library's download and the direct one in turns without the pause,
// each timed on its own, so both meet the same machine load (on a shared
// machine the load changes faster than one benchmark's run); the order
// alternates. Reports the median of each and their ratio.
template <bool (Bench::*kDownload)(const std::vector<std::string>&)>
void PairedDownloads(benchmark::State& state, int device, std::size_t threshold) {
  using Clock = zimo::bench::PairedTimes::Clock;
  Bench& bench = TheBench();
  const std::string path = bench.File();
  corvan::DownloadState& download = corvan::DownloadState::Instance();
  const auto kept = corvan::SetBlockDownloadPauseForTesting(0ms);
  zimo::bench::PairedTimes times;
  bool library_first = true;
  for (auto _ : state) {
    bool ok = true;
    auto run_library = [&] {
      const Clock::time_point t0 = Clock::now();
      download.BeginRun();
      ZimoDownloadFile(static_cast<std::uint32_t>(device), path.c_str());
      ok = ok && download.errors() == 0;
      download.EndRun();
      times.AddLibrary(Clock::now() - t0);
    };
    auto run_direct = [&] {
      const Clock::time_point t0 = Clock::now();
      const std::vector<std::string> blocks = ReadBlocks(path, threshold);
      ok = ok && !blocks.empty() && (bench.*kDownload)(blocks);
      times.AddDirect(Clock::now() - t0);
    };
    if (library_first) {
      run_library();
      run_direct();
    } else {
      run_direct();
      run_library();
    }
    library_first = !library_first;
    if (!ok) {
      state.SkipWithError("a download failed");
      break;
    }
  }
  corvan::SetBlockDownloadPauseForTesting(kept);
  times.Report(state);
}

void BM_PairedUsbNoPause(benchmark::State& state) {
  PairedDownloads<&Bench::DriverDownload>(state, kUsbDevice, kUsbThreshold);
}
void BM_PairedEthNoPause(benchmark::State& state) {
  PairedDownloads<&Bench::EthDownload>(state, kEthDevice, kEthThreshold);
}

BENCHMARK(BM_DirectUsb)->UseRealTime();
BENCHMARK(BM_LibraryUsb)->UseRealTime();
BENCHMARK(BM_DirectUsbNoPause)->UseRealTime();
BENCHMARK(BM_LibraryUsbNoPause)->UseRealTime();
BENCHMARK(BM_DirectEth)->UseRealTime();
BENCHMARK(BM_LibraryEth)->UseRealTime();
BENCHMARK(BM_DirectEthNoPause)->UseRealTime();
BENCHMARK(BM_LibraryEthNoPause)->UseRealTime();
BENCHMARK(BM_PairedUsbNoPause)->UseRealTime();
BENCHMARK(BM_PairedEthNoPause)->UseRealTime();

// Prints, after the usual table, the library's time per download over the
// direct blocks' for each transport.
class RatioReporter : public bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const std::string transport : {"Usb", "Eth"}) {
      const double paused = DownloadRatio(transport, "");
      const double unpaused = DownloadRatio(transport, "NoPause");
      if (paused <= 0 || unpaused <= 0) continue;
      std::printf(
          "%s: library / direct download = %.2f with the 50 ms closing pause in both, %.2f "
          "without it in either (target <= 1.30)\n",
          transport.c_str(), paused, unpaused);
    }
  }

 private:
  double DownloadRatio(const std::string& transport, const std::string& variant) const {
    return Ratio("BM_Library" + transport + variant + "/real_time",
                 "BM_Direct" + transport + variant + "/real_time");
  }
};

}  // namespace

int main(int argc, char** argv) { return zimo::bench::RunWithReporter<RatioReporter>(argc, argv); }
