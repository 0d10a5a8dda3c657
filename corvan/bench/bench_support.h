// Set-up and running pieces the library's benchmarks share: a card behind
// zimo-drvhost opened as device 0, the simulated card on a loopback address
// of the process's own, a device table in shared memory, the loop that
// stops at the first failed step, and a main that prints through a
// reporter of the benchmark's own.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/internal/shared_table.h"
#include "drivers/zimo_ioctl.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "platform/device_io.h"
#include "platform/file_mapping.h"
#include "platform/process.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace zimo::bench {

// Ends the program when a benchmark's set-up cannot go on.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s failed\n", program_invocation_short_name, what.c_str());
  std::exit(1);
}

// A home of the program's own with zimo-drvhost serving one simulated card
// (`card`: "pci older", "usb older", ...) as `driver_device` ("ZimoPCI0"),
// registered as device 0 at `location` in a device table of the program's
// own and opened through the library (with the scaled clock when
// `fast_open`, so that the open's fixed pauses pass quickly).
class DriverHostDevice {
 public:
  DriverHostDevice(const std::string& card, const std::string& driver_device,
                   std::uint32_t location, bool fast_open) {
    auto host = corvan::testing::SpawnDriverHost({card});
    if (!host.ok()) Fail("starting zimo-drvhost: " + host.status().ToString());
    host_ = std::move(host.value());
    if (!corvan::testing::WaitForDriverDevice(driver_device)) Fail("the driver host's device");
    if (corvan::RegisterDevice(0, location, 0, nullptr) != 1) Fail("Device0");
    table_.AddSlot(0, location, 0);
    if (fast_open) {
      corvan::testing::LibraryClock fast;
      if (OpenZimoDevice(0) != 1) Fail("OpenZimoDevice(0)");
    } else if (OpenZimoDevice(0) != 1) {
      Fail("OpenZimoDevice(0)");
    }
  }
  ~DriverHostDevice() {
    ShutdownZimoDevice(0, 1);
    corvan::App().End();
    (void)host_.Signal(SIGTERM);
    (void)host_.Wait(std::chrono::seconds(20));
  }
  DriverHostDevice(const DriverHostDevice&) = delete;
  DriverHostDevice& operator=(const DriverHostDevice&) = delete;

  corvan::testing::OwnDeviceTable& table() { return table_; }

 private:
  zimo::testing::TempHome home_;
  platform::Process host_;
  corvan::testing::OwnDeviceTable table_;
};

// A handle of the program's own on the driver device `name` ("ZimoPCI0").
inline platform::DeviceFile OpenDriverDevice(const std::string& name) {
  auto driver = platform::DeviceFile::Open("\\\\.\\" + name);
  if (!driver.ok()) Fail("opening the driver device");
  return std::move(driver.value());
}

// The driver's I/O controls of one line channel.
struct LineControls {
  std::uint32_t flush;
  std::uint32_t send;
  std::uint32_t read;
};
inline constexpr LineControls kBusLineControls{drivers::IOCTL_ZIMO_BUS_FLUSH,
                                               drivers::IOCTL_ZIMO_BUS_SEND_LINE,
                                               drivers::IOCTL_ZIMO_BUS_GET_LINE};
inline constexpr LineControls kMailboxLineControls{drivers::IOCTL_ZIMO_DPR_FLUSH,
                                                   drivers::IOCTL_ZIMO_DPR_SEND_LINE,
                                                   drivers::IOCTL_ZIMO_DPR_GET_LINE};

// "VERSION" exchanged with the driver directly on a handle of the program's
// own: the flush, the line, then the lines up to the one that ends the
// response (four at the most).
inline bool DriverLineExchange(platform::DeviceFile& driver, const LineControls& controls) {
  static constexpr char kLine[] = "VERSION";
  if (!driver.DeviceIoControl(controls.flush, nullptr, 0, nullptr, 0).ok) return false;
  if (!driver.DeviceIoControl(controls.send, kLine, sizeof kLine, nullptr, 0).ok) return false;
  for (int lines = 0; lines < 4; ++lines) {
    drivers::LineIoBlock block{};
    block.requested = 256;
    if (!driver.DeviceIoControl(controls.read, &block, sizeof block, &block, sizeof block).ok) {
      return false;
    }
    if (block.status == drivers::kLineEnd) return true;
    if (block.status != drivers::kLineCr) return false;
  }
  return false;
}

// Serves `card` on a loopback address of the process's own, 127.`net`.x.y
// with x.y from the process id (so that benchmarks run side by side never
// meet); `ip` gets the address.
inline platform::Result<std::unique_ptr<cardsim::EthAttachment>> ServeOnLoopback(
    cardsim::Card& card, unsigned net, std::uint32_t* ip, bool tcp = true) {
  char address[32];
  std::snprintf(address, sizeof address, "127.%u.%u.%u", net, (::getpid() >> 8) % 250 + 1,
                ::getpid() % 250 + 1);
  auto parsed = cardsim::ParseIpv4(address);
  if (!parsed.ok()) return parsed.status();
  *ip = *parsed;
  cardsim::EthOptions options;
  options.address = address;
  options.tcp = tcp;
  return cardsim::EthAttachment::Start(card, options);
}

// Creates the device table under the library's shared name with every slot
// empty, and restarts the library's process state on it; null when the
// table cannot be made.
inline corvan::SharedDeviceTable* CreateSharedTable(platform::FileMapping& mapping) {
  auto created = platform::FileMapping::Create(corvan::kSharedTableName, corvan::kSharedTableSize);
  if (!created.ok()) return nullptr;
  mapping = std::move(created.value());
  corvan::SharedDeviceTable* table = corvan::SharedTableAt(mapping.data());
  corvan::InitializeTableHeader(*table, 0);
  for (int slot = 0; slot < corvan::kRealDevices; ++slot) {
    (void)corvan::InitializeDeviceSlot(*table, slot, 0, 0);
  }
  corvan::App().End();
  corvan::App().Start();
  return table;
}

// Runs `step` once an iteration until the benchmark has enough; the first
// step that fails ends the run with `what`. Counts `items` per iteration.
template <typename Step>
void RunSteps(benchmark::State& state, const char* what, Step step, std::int64_t items = 1) {
  for (auto _ : state) {
    if (!step()) {
      state.SkipWithError(what);
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * items);
}

// A console reporter that also keeps the real time per iteration of every
// run that went through, in seconds, by the run's name, for the ratios a
// benchmark prints after its table.
class TimesReporter : public benchmark::ConsoleReporter {
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

 protected:
  // The time of run `over` over that of run `under` (the median of their
  // repetitions when there are any); 0 when either is missing.
  double Ratio(const std::string& over, const std::string& under) const {
    const auto a = Find(over), b = Find(under);
    if (a == seconds_.end() || b == seconds_.end() || b->second <= 0) return 0;
    return a->second / b->second;
  }

 private:
  std::map<std::string, double>::const_iterator Find(const std::string& name) const {
    const auto median = seconds_.find(name + "_median");
    return median != seconds_.end() ? median : seconds_.find(name);
  }

  std::map<std::string, double> seconds_;
};

// The benchmarks' main, printing through `Reporter`.
template <typename Reporter>
int RunWithReporter(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace zimo::bench
