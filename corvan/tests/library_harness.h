// What the library's tests and benchmarks both need, free of any test
// framework: a fast clock for the library's fixed waits, the driver host
// started with simulated cards, a device table of the program's own in place
// of the server's, and the folder of the built programs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "corvan/internal/shared_table.h"
#include "link/library_app.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/unix_socket.h"

namespace zimo::corvan::testing {

// A clock for the library's fixed waits: a sleep or a pause passes in
// 1/kScale of its length and the clock then jumps to the pause's end, so the
// calibrations and the open handshake's pauses go quickly while keeping their
// order (a pause still gives the card time to answer). Between pauses the
// clock runs at real speed, so a time-out that waits for the card (a port
// read bounded by poll() and the clock) keeps its real length: a card thread
// that is slow on a loaded machine is still waited for.
class ScaledClock : public platform::Clock {
 public:
  static constexpr int kScale = 20;

  platform::Micros Now() const override {
    return Real() + platform::Micros(skipped_.load(std::memory_order_acquire));
  }
  bool WaitUntil(platform::Micros deadline, std::stop_token stop) override {
    const platform::Micros left = deadline - Now();
    if (left.count() <= 0) return true;
    const auto real_deadline = std::chrono::steady_clock::now() + left / kScale;
    std::mutex mutex;
    std::unique_lock<std::mutex> lock(mutex);
    std::condition_variable_any wake;
    wake.wait_until(lock, stop, real_deadline, [] { return false; });
    if (stop.stop_requested()) return false;
    // Jump to the pause's end: the offset grows to what this deadline needs,
    // never by more, so sleepers waking together move the clock only as far
    // as the latest of them (and never back).
    const std::int64_t needed = (deadline - Real()).count();
    std::int64_t current = skipped_.load(std::memory_order_acquire);
    while (current < needed &&
           !skipped_.compare_exchange_weak(current, needed, std::memory_order_acq_rel)) {
    }
    return true;
  }

 private:
  static platform::Micros Real() {
    return std::chrono::duration_cast<platform::Micros>(
        std::chrono::steady_clock::now().time_since_epoch());
  }

  std::atomic<std::int64_t> skipped_{0};
};

// Runs `body` on a thread of its own; a body that has not ended after
// `limit` fails the test and ends the program (a hung thread cannot be
// joined), so the suite never hangs.
inline void FinishesWithin(std::chrono::milliseconds limit, const char* what,
                           std::function<void()> body) {
  std::packaged_task<void()> task(std::move(body));
  std::future<void> done = task.get_future();
  std::thread thread(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: %s did not end within %lld ms (hung)\n", what,
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(3);
  }
  thread.join();
}

// The scaled clock installed for the holder's lifetime.
class LibraryClock {
 public:
  LibraryClock() : scoped_(clock_) {}

 private:
  ScaledClock clock_;
  platform::ScopedClock scoped_;
};

// The folder of the built programs (zimo-drvhost, zimoserver, ...): the one
// ctest names, else the "bin" folder beside this program's own.
inline std::filesystem::path ProgramsDir() {
  if (const char* dir = std::getenv("ZIMO_BIN_DIR")) return dir;
  return platform::ExecutableDir().parent_path() / "bin";
}

inline std::filesystem::path DriverHostControlPath() {
  return platform::RunDir() / "zimo-drvhost.ctl";
}

// Starts zimo-drvhost, without the registry's cards, serving `cards`
// ("pci older", "usb older", ...) with their servo clocks stopped: a test
// steps them ("servo 0 N") or starts them ("clock 0 on").
inline platform::Result<platform::Process> SpawnDriverHost(const std::vector<std::string>& cards) {
  std::vector<std::string> argv = {(ProgramsDir() / "zimo-drvhost").string(), "--no-registry",
                                   "--manual-clock"};
  for (const std::string& card : cards) {
    argv.push_back("--card");
    argv.push_back(card);
  }
  return platform::Spawn(argv);
}

// Waits until the host serves the device ("ZimoPCI0").
inline bool WaitForDriverDevice(const std::string& name,
                                std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    if (std::filesystem::exists(platform::DeviceSocketPath(name))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// A control connection to the home's driver host: one command line, one
// reply line ("ok ..." or "error ...").
class DriverHostControl {
 public:
  // Connects once the host answers; false after `timeout`.
  bool Connect(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      auto c = platform::UnixConnection::Connect(DriverHostControlPath(), std::chrono::seconds(1));
      if (c.ok()) {
        connection_ = std::move(c.value());
        if (Command("ping") == "ok") return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  std::string Command(const std::string& line) {
    const std::string out = line + "\n";
    if (!connection_.SendAll(out.data(), out.size()).ok()) return "send failed";
    std::string reply;
    char c;
    while (connection_.RecvExact(&c, 1, std::chrono::seconds(30)).ok()) {
      if (c == '\n') return reply;
      reply += c;
    }
    return "no reply";
  }
  bool connected() const { return connection_.is_open(); }

 private:
  platform::UnixConnection connection_;
};

// A device table of the program's own, used by the library in place of the
// server's (the library in the server's build), with the slots the program
// sets up.
class OwnDeviceTable {
 public:
  OwnDeviceTable() : table_(std::make_unique<SharedDeviceTable>()) {
    InitializeTableHeader(*table_, 0);
    CommLibraryApp::UseServerTable(table_.get());
  }
  OwnDeviceTable(const OwnDeviceTable&) = delete;
  OwnDeviceTable& operator=(const OwnDeviceTable&) = delete;

  void AddSlot(int device, std::uint32_t location, std::uint32_t enumeration) {
    (void)InitializeDeviceSlot(*table_, device, location, enumeration);
  }
  SharedDeviceTable* get() const { return table_.get(); }

 private:
  std::unique_ptr<SharedDeviceTable> table_;
};

}  // namespace zimo::corvan::testing
