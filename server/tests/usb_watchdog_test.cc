// The USB watchdog over USB cards of the driver host: removals (the driver
// sets no event, so the watchdog's own look at the names finds them) and
// plug-ins reach the server's hooks, a card past a missing name is watched,
// the driver's event list never fills however often a card comes and goes
// (each card gets one removal event, whatever the number of passes), and
// the stop does not wait for a USB event. A card pulled and another one
// plugged in between two looks of the watcher is still a plug-in, and a
// removed card's name that stays (a new card took it at once) ends the wait
// for it after its limit, with the server's line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/server_trace.h"
#include "core/usb_watchdog.h"
#include "device_server_fixture.h"
#include "platform/debug.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using testing::HostControl;

std::mutex g_trace_mu;
std::vector<std::string> g_trace;
void Record(const char* line) {
  std::lock_guard lock(g_trace_mu);
  g_trace.emplace_back(line);
}
std::vector<std::string> Trace() {
  std::lock_guard lock(g_trace_mu);
  return g_trace;
}

// As the fixture's Eventually, with room for a machine loaded by parallel
// builds and tests (a removal is seen within a few 100 ms polls otherwise).
template <typename F>
bool Eventually(F done) {
  for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

class UsbWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int enumeration = 0; enumeration < 2; ++enumeration) {
      auto key = platform::RegistryKey::Create(
          platform::kHkeyLocalMachine,
          "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device" + std::to_string(4 + enumeration));
      ASSERT_TRUE(key.ok());
      ASSERT_TRUE(key->SetDword("Location", 5).ok());
      ASSERT_TRUE(key->SetDword("Enumeration", static_cast<uint32_t>(enumeration)).ok());
    }
    std::vector<std::string> argv = {(zimo::testing::BinDir() / "zimo-drvhost").string(),
                                     "--no-registry",
                                     "--manual-clock",
                                     "--card",
                                     "usb older",
                                     "--card",
                                     "usb spran"};
    platform::SpawnOptions options;
    if (HostDebugToFile()) {
      // The drivers' debug lines, in a file of the home.
      host_debug_ = home_.path() / "host.err";
      argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$@\" 2> \"$0\"", host_debug_.string()});
      options.environment = {"ZIMO_DEBUG=1"};
    }
    auto host = platform::Spawn(argv, options);
    ASSERT_TRUE(host.ok()) << host.status().ToString();
    host_ = std::move(*host);
    ASSERT_TRUE(control_.Connect());
    ASSERT_TRUE(Eventually([] { return Present(0) && Present(1); }));
  }
  void TearDown() override {
    watchdog_.reset();
    if (control_.connected()) control_.Command("quit");
    if (host_.valid() && !host_.Wait(20s).ok()) {
      (void)host_.Signal(9);
      (void)host_.Wait();
    }
    (void)platform::UnlinkHomeSharedMemory();
  }

  virtual bool HostDebugToFile() const { return false; }
  // How many lines of the host's debug output hold `text`.
  int HostDebugLines(const std::string& text) const {
    std::ifstream in(host_debug_);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
    return n;
  }

  static bool Present(int enumeration) {
    return std::filesystem::exists(
        platform::DeviceSocketPath("ZimoUSB" + std::to_string(enumeration)));
  }
  // The host's card id of USB enumeration `enumeration` (its device is
  // "Zimo<n>", also linked as "ZimoUSB<n>"); -1 when none.
  int CardOf(int enumeration) {
    std::string reply = control_.Command("list");
    for (char& c : reply) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string n = std::to_string(enumeration);
    std::istringstream entries(reply.substr(reply.rfind("ok ", 0) == 0 ? 3 : 0));
    for (std::string entry; std::getline(entries, entry, ';');) {
      const size_t a = entry.find(':');
      const size_t b = entry.find(':', a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      const std::string name = entry.substr(a + 1, b - a - 1);
      if (entry.compare(b + 1, 3, "usb") != 0) continue;
      if (name == "zimo" + n || name == "zimousb" + n) return std::stoi(entry.substr(0, a));
    }
    return -1;
  }
  void Unplug(int enumeration) {
    const int card = CardOf(enumeration);
    ASSERT_GE(card, 0);
    ASSERT_EQ(control_.Command("surprise " + std::to_string(card)), "ok");
  }

  // `on_close` runs in the close hook, after the close is recorded.
  void StartWatchdog(std::function<void(int device)> on_close = nullptr,
                     std::chrono::milliseconds vanish_limit = kRemovalVanishLimit) {
    auto reopen = [this] {
      ++reopens_;
      if (Present(0)) ++reopens_with_0_;
      if (on_reopen_) on_reopen_();
    };
    auto close = [this, on_close](int device) {
      {
        std::lock_guard lock(mu_);
        closed_.push_back(device);
      }
      if (on_close) on_close(device);
    };
    watchdog_ = std::make_unique<UsbWatchdog>(UsbWatchdog::Hooks{reopen, close}, vanish_limit);
    ASSERT_TRUE(watchdog_->Init());
  }
  std::vector<int> Closed() {
    std::lock_guard lock(mu_);
    return closed_;
  }

  zimo::testing::TempHome home_;
  std::filesystem::path host_debug_;
  platform::Process host_;
  HostControl control_;
  std::unique_ptr<UsbWatchdog> watchdog_;
  std::atomic<int> reopens_{0};
  std::atomic<int> reopens_with_0_{0};  // card-open passes that found name 0
  std::function<void()> on_reopen_;     // runs at the end of each card-open pass
  std::mutex mu_;
  std::vector<int> closed_;
};

TEST_F(UsbWatchdogTest, RemovalClosesTheCardAndAPlugInReopens) {
  platform::DebugCapture debug;
  ASSERT_NO_FATAL_FAILURE(StartWatchdog());
  EXPECT_TRUE(debug.Contains("ServiceWatchdogInit(): Current priority class: "));
  EXPECT_TRUE(debug.Contains("ServiceWatchdogInitPushedIn(): Current priority class: "));
  ASSERT_TRUE(Eventually([&] { return watchdog_->armed(0) && watchdog_->armed(1); }));

  ASSERT_NO_FATAL_FAILURE(Unplug(0));
  ASSERT_TRUE(Eventually([&] { return Closed() == std::vector<int>{4}; }));
  ASSERT_TRUE(Eventually([&] { return reopens_ >= 1; }));
  EXPECT_FALSE(watchdog_->armed(0));

  // With no enumeration 0 the card at 1 is still watched.
  EXPECT_TRUE(watchdog_->armed(1));
  ASSERT_NO_FATAL_FAILURE(Unplug(1));
  ASSERT_TRUE(Eventually([&] { return Closed() == std::vector<int>{4, 5}; }));

  // A plug-in runs the card-open pass and the card is watched again.
  const int before = reopens_;
  ASSERT_EQ(control_.Command("add usb older").rfind("ok ", 0), 0u);
  ASSERT_TRUE(Eventually([] { return Present(0); }));
  EXPECT_TRUE(Eventually([&] { return reopens_ > before && watchdog_->armed(0); }));
  EXPECT_EQ(Closed().size(), 2u);  // a plug-in closes nothing
}

TEST_F(UsbWatchdogTest, TheTwentyFifthUnplugOfOneCardIsNoticed) {
  ASSERT_NO_FATAL_FAILURE(StartWatchdog());
  for (int round = 1; round <= 25; ++round) {
    ASSERT_TRUE(Eventually([&] { return watchdog_->armed(1); })) << round;
    ASSERT_NO_FATAL_FAILURE(Unplug(1));
    ASSERT_TRUE(Eventually([&] { return static_cast<int>(Closed().size()) == round; }))
        << round << " removals seen: " << Closed().size();
    EXPECT_EQ(Closed().back(), 5);
    ASSERT_EQ(control_.Command("add usb spran").rfind("ok ", 0), 0u);
    ASSERT_TRUE(Eventually([] { return Present(1); })) << round;
  }
  EXPECT_EQ(watchdog_->removals(), 25);
}

TEST_F(UsbWatchdogTest, StopWhileTheWorkerWaitsReturnsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(StartWatchdog());
  ASSERT_TRUE(Eventually([&] { return watchdog_->armed(0) && watchdog_->armed(1); }));
  std::this_thread::sleep_for(300ms);  // the worker sits in its wait
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(watchdog_->Stop());
  // The wait has the stop among its events: no give-up time to run out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
  // Nothing runs after the stop.
  const int reopens = reopens_;
  ASSERT_NO_FATAL_FAILURE(Unplug(0));
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(reopens_, reopens);
  EXPECT_TRUE(Closed().empty());
}

class UsbWatchdogEventsTest : public UsbWatchdogTest {
 protected:
  bool HostDebugToFile() const override { return true; }
};

TEST_F(UsbWatchdogEventsTest, EachCardGetsOneRemovalEventHoweverManyPassesRun) {
  constexpr char kAdded[] = "ZIMOUSB: ReferenceIntrEvents SUCCESS";
  ASSERT_NO_FATAL_FAILURE(StartWatchdog());
  ASSERT_TRUE(Eventually([&] { return watchdog_->armed(0) && watchdog_->armed(1); }));
  ASSERT_TRUE(Eventually([&] { return HostDebugLines(kAdded) == 2; })) << HostDebugLines(kAdded);
  // A third card comes and goes 21 times: each removal alone is a pass of
  // the worker, so more passes than the driver's list of 20 holds. The two
  // cards that stay are never handed another event; the third gets one each
  // time it comes.
  constexpr int kRounds = 21;
  for (int round = 1; round <= kRounds; ++round) {
    ASSERT_EQ(control_.Command("add usb older").rfind("ok ", 0), 0u) << round;
    ASSERT_TRUE(Eventually([&] { return watchdog_->armed(2); })) << round;
    ASSERT_NO_FATAL_FAILURE(Unplug(2));
    ASSERT_TRUE(Eventually([&] { return watchdog_->removals() == round && !Present(2); })) << round;
  }
  ASSERT_TRUE(Eventually([&] { return reopens_ >= kRounds; })) << reopens_;
  EXPECT_EQ(HostDebugLines(kAdded), 2 + kRounds);
  EXPECT_TRUE(watchdog_->armed(0));
  EXPECT_TRUE(watchdog_->armed(1));
}

TEST_F(UsbWatchdogTest, ACardPluggedInDuringACardOpenPassIsOpenedByTheNext) {
  // Card 0 goes; then card 1 goes, and a new card takes name 0 while the
  // card-open pass after that removal runs: the number of names is the
  // same at every look, and the new card is armed before any wait.
  HostControl plug;
  ASSERT_TRUE(plug.Connect());
  std::atomic<bool> plug_in_next_pass{false};
  std::atomic<bool> added{false};
  on_reopen_ = [&] {
    if (plug_in_next_pass.exchange(false))
      added = plug.Command("add usb older").rfind("ok ", 0) == 0;
  };
  ASSERT_NO_FATAL_FAILURE(StartWatchdog([&](int device) {
    if (device == 5) plug_in_next_pass = true;
  }));
  ASSERT_TRUE(Eventually([&] { return watchdog_->armed(0) && watchdog_->armed(1); }));
  ASSERT_NO_FATAL_FAILURE(Unplug(0));
  ASSERT_TRUE(Eventually([&] { return Closed() == std::vector<int>{4} && !Present(0); }));
  const int before = reopens_with_0_;
  ASSERT_NO_FATAL_FAILURE(Unplug(1));
  ASSERT_TRUE(Eventually([&] { return added && Present(0); }));
  EXPECT_EQ(Closed(), (std::vector<int>{4, 5}));
  // A card-open pass ran with the new card there, which opens it; it is
  // watched, and its removal is seen in turn.
  EXPECT_TRUE(Eventually([&] { return reopens_with_0_ > before; }));
  EXPECT_TRUE(Eventually([&] { return watchdog_->armed(0); }));
  ASSERT_NO_FATAL_FAILURE(Unplug(0));
  EXPECT_TRUE(Eventually([&] { return Closed() == std::vector<int>{4, 5, 4}; }));
}

TEST_F(UsbWatchdogTest, ARemovedCardsNameThatStaysEndsTheWaitAfterItsLimit) {
  {
    std::lock_guard lock(g_trace_mu);
    g_trace.clear();
  }
  SetServerTraceSinkForTesting(&Record);
  // While the worker closes the pulled card, a new card is plugged in and
  // takes its name: the name does not go.
  HostControl plug;
  ASSERT_TRUE(plug.Connect());
  std::atomic<bool> added{false};
  ASSERT_NO_FATAL_FAILURE(StartWatchdog(
      [&](int device) {
        if (device == 4) added = plug.Command("add usb older").rfind("ok ", 0) == 0;
      },
      1000ms));
  ASSERT_TRUE(Eventually([&] { return watchdog_->armed(0) && watchdog_->armed(1); }));
  ASSERT_NO_FATAL_FAILURE(Unplug(0));
  const std::string line = "USB watchdog: ZimoUSB0 still present 1000 ms after its removal";
  EXPECT_TRUE(Eventually([&] {
    const auto trace = Trace();
    return std::count(trace.begin(), trace.end(), line) == 1;
  }));
  // The card-open pass follows, and the new card is watched.
  EXPECT_TRUE(Eventually([&] { return reopens_ >= 1 && watchdog_->armed(0); }));
  EXPECT_TRUE(added);
  EXPECT_EQ(Closed(), std::vector<int>{4});
  watchdog_.reset();
  SetServerTraceSinkForTesting(nullptr);
}

}  // namespace
}  // namespace zimo::server
