// The card threads inside this process, over cards of the driver host and
// the library linked here with a table made as the server makes it: the
// mirror's start and its trace lines, its self-stop, the settings that keep
// it off, one thread for two quick starts, the older card's background
// handshake, and the TAMRX bridge in both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/card_opens.h"
#include "core/card_threads.h"
#include "core/server_trace.h"
#include "core/shared_table_creation.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/status_api.h"
#include "device_server_fixture.h"
#include "link/library_app.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::HostControl;

std::mutex g_trace_mu;
std::vector<std::string> g_trace;

void Record(const char* line) {
  std::lock_guard lock(g_trace_mu);
  g_trace.emplace_back(line);
}

int TraceCount(const std::string& line) {
  std::lock_guard lock(g_trace_mu);
  return static_cast<int>(std::count(g_trace.begin(), g_trace.end(), line));
}

std::vector<std::string> TraceWith(const std::string& part) {
  std::lock_guard lock(g_trace_mu);
  std::vector<std::string> lines;
  for (const std::string& l : g_trace) {
    if (l.find(part) != std::string::npos) lines.push_back(l);
  }
  return lines;
}

constexpr char kZimoKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\";

void SetDword(const std::string& key, const char* name, uint32_t value) {
  auto k = platform::RegistryKey::Create(platform::kHkeyLocalMachine, kZimoKey + key);
  ASSERT_TRUE(k.ok());
  ASSERT_TRUE(k->SetDword(name, value).ok());
}

// A PCI card at device `device` (Location 4, Enumeration `enumeration`).
void RegisterPciDevice(int device, uint32_t enumeration) {
  SetDword("Device" + std::to_string(device), "Location", 4);
  SetDword("Device" + std::to_string(device), "Enumeration", enumeration);
}

// The location key of PCI enumeration `enumeration`.
std::string PciKey(uint32_t enumeration) { return "ZimoPCI" + std::to_string(enumeration); }

class CardThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard lock(g_trace_mu);
      g_trace.clear();
    }
    SetServerTraceSinkForTesting(&Record);
  }
  void TearDown() override {
    threads_.reset();
    for (int d = 0; d < kServerCards; ++d) {
      if (cards_[d].server_opened) CloseZimoDevice(static_cast<uint32_t>(d));
    }
    corvan::App().End();
    table_.reset();
    SetServerTraceSinkForTesting(nullptr);
    if (control_.connected()) control_.Command("quit");
    if (host_.valid() && !host_.Wait(20s).ok()) {
      (void)host_.Signal(9);
      (void)host_.Wait();
    }
    (void)platform::UnlinkHomeSharedMemory();
  }

  // The driver host with `cards` ("pci older", ...), then the table as the
  // server makes it.
  void Start(std::vector<std::string> cards) {
    std::vector<std::string> argv = {(zimo::testing::BinDir() / "zimo-drvhost").string(),
                                     "--no-registry", "--manual-clock"};
    for (const std::string& c : cards) {
      argv.push_back("--card");
      argv.push_back(c);
    }
    auto host = platform::Spawn(argv);
    ASSERT_TRUE(host.ok()) << host.status().ToString();
    host_ = std::move(*host);
    ASSERT_TRUE(control_.Connect());
    for (size_t i = 0; i < cards.size(); ++i) {
      const std::string dev = "ZimoPCI" + std::to_string(i);
      ASSERT_TRUE(
          Eventually([&] { return std::filesystem::exists(platform::DeviceSocketPath(dev)); }));
    }
    auto table = CreateSharedDeviceTable(cards_);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    table_ = std::move(*table);
    corvan::CommLibraryApp::UseServerTable(corvan::SharedTableAt(table_->data()));
    threads_ = std::make_unique<CardThreads>(cards_);
  }
  void Open(int device) {
    ASSERT_NE(OpenZimoDevice(static_cast<uint32_t>(device)), 0);
    cards_[device].server_opened = true;
  }
  corvan::SharedDeviceBlock& Block(int device) { return *corvan::App().Block(device); }

  zimo::testing::TempHome home_;
  platform::Process host_;
  HostControl control_;
  ServerCardState cards_[kServerCards];
  std::optional<platform::FileMapping> table_;
  std::unique_ptr<CardThreads> threads_;
};

TEST_F(CardThreadsTest, MirrorStartsWithTheLocationsSettingsAndStopsItselfOnce) {
  RegisterPciDevice(0, 0);
  RegisterPciDevice(1, 1);
  SetDword(PciKey(1), "DPRAutoActive", 1);
  SetDword(PciKey(1), "DPRMonitorPeriod", 20);
  ASSERT_NO_FATAL_FAILURE(Start({"pci older", "pci spran"}));
  ASSERT_NO_FATAL_FAILURE(Open(1));
  ASSERT_EQ(control_.Command("clock 1 on"), "ok");

  threads_->ApplyCardDprSettings(1);
  EXPECT_EQ(TraceCount("ZIMO[1] Dual ported RAM auto updating started."), 1);
  EXPECT_TRUE(threads_->mirror_running(1));
  EXPECT_EQ(cards_[1].mirror_period_ms, 20u);
  EXPECT_NE(Block(1).RealTimeActive, 0u);
  EXPECT_NE(Block(1).BackgroundActive, 0u);
  // The copy follows the card's servo timer without anyone asking.
  for (int round = 0; round < 3; ++round) {
    const int32_t before = ZimoDPRGetServoTimer(1);
    EXPECT_TRUE(Eventually([&] { return ZimoDPRGetServoTimer(1) != before; })) << round;
  }

  // A client switches both areas off: the mirror ends itself, once.
  ZimoDPRRealTimeEx(1, 255, 20, 0);
  ZimoDPRBackgroundEx(1, 0, 20, 1);
  EXPECT_TRUE(Eventually([&] { return !threads_->mirror_running(1); }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(TraceCount("ZIMO[1] Dual ported RAM auto updating (SELF) stopped."), 1);
  // Stopping a mirror that ended by itself prints nothing.
  threads_->StopDprAutoUpdating(1);
  EXPECT_EQ(TraceCount("ZIMO[1] Dual ported RAM auto updating stopped."), 0);
}

TEST_F(CardThreadsTest, WithoutAutoActiveBothAreasGoOffAndNoMirrorRuns) {
  RegisterPciDevice(0, 0);
  ASSERT_NO_FATAL_FAILURE(Start({"pci older"}));
  ASSERT_NO_FATAL_FAILURE(Open(0));
  ZimoDPRRealTimeEx(0, 1, 20, 1);
  ZimoDPRBackgroundEx(0, 1, 20, 1);
  ASSERT_NE(Block(0).RealTimeActive, 0u);
  cards_[0].mirror_period_ms = 70;

  threads_->ApplyCardDprSettings(0);  // DPRAutoActive missing: 0
  EXPECT_EQ(Block(0).RealTimeActive, 0u);
  EXPECT_EQ(Block(0).BackgroundActive, 0u);
  EXPECT_FALSE(threads_->mirror_running(0));
  EXPECT_TRUE(TraceWith("ZIMO[0]").empty());
  EXPECT_EQ(cards_[0].mirror_period_ms, 70u);  // the period stays as it was
}

TEST_F(CardThreadsTest, TwoQuickStartsMakeOneMirrorAndOneStop) {
  RegisterPciDevice(0, 0);
  ASSERT_NO_FATAL_FAILURE(Start({"pci older"}));
  ASSERT_NO_FATAL_FAILURE(Open(0));
  ZimoDPRRealTimeEx(0, 1, 20, 1);
  ZimoDPRBackgroundEx(0, 1, 20, 1);
  ASSERT_NE(Block(0).RealTimeActive, 0u);
  ASSERT_NE(Block(0).BackgroundActive, 0u);
  for (int round = 0; round < 5; ++round) {
    std::thread a([&] { threads_->StartDprAutoUpdating(0); });
    std::thread b([&] { threads_->StartDprAutoUpdating(0); });
    a.join();
    b.join();
    // A stop right after the starts always finds the thread.
    threads_->StopDprAutoUpdating(0);
    EXPECT_FALSE(threads_->mirror_running(0));
  }
  EXPECT_EQ(TraceCount("ZIMO[0] Dual ported RAM auto updating started."), 5);
  EXPECT_EQ(TraceCount("ZIMO[0] Dual ported RAM auto updating stopped."), 5);
  threads_->StopDprAutoUpdating(0);  // not running: nothing more
  EXPECT_EQ(TraceCount("ZIMO[0] Dual ported RAM auto updating stopped."), 5);
}

TEST_F(CardThreadsTest, OlderCardsBackgroundIsCopiedOnlyWhenItsFirstWordIsSet) {
  RegisterPciDevice(0, 0);
  SetDword(PciKey(0), "DPRAutoActive", 1);
  SetDword(PciKey(0), "DPRMonitorPeriod", 10);
  ASSERT_NO_FATAL_FAILURE(Start({"pci older"}));
  ASSERT_NO_FATAL_FAILURE(Open(0));
  threads_->ApplyCardDprSettings(0);
  ASSERT_TRUE(threads_->mirror_running(0));
  ASSERT_EQ(control_.Command("freeze 0 on"), "ok");

  const uint8_t marker[8] = {0xA5, 0x5A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  ZimoDPRSetWord(0, 0x228, 0);
  ASSERT_NE(ZimoDPRSetMem(0, 0x228 + 100, sizeof marker, marker), nullptr);
  std::this_thread::sleep_for(100ms);  // ten mirror periods
  EXPECT_NE(std::memcmp(Block(0).BackgroundCopy + 100, marker, sizeof marker), 0);

  ZimoDPRSetWord(0, 0x228, 0x0101);
  EXPECT_TRUE(Eventually(
      [&] { return std::memcmp(Block(0).BackgroundCopy + 100, marker, sizeof marker) == 0; }));
  EXPECT_EQ(Block(0).BackgroundCopy[0], 0x01);  // the copy holds the word as it was
  EXPECT_EQ(ZimoDPRGetWord(0, 0x228), 0u);      // and the card's word is cleared
}

TEST_F(CardThreadsTest, BridgeCopiesBothWindowsOfItsOwnCardOnly) {
  RegisterPciDevice(0, 0);
  RegisterPciDevice(3, 1);
  ASSERT_NO_FATAL_FAILURE(Start({"pci older", "pci spran"}));
  ASSERT_EQ(control_.Command("tamrx add 3"), "ok");
  ASSERT_EQ(control_.Command("tamrx set 3 0102030405060708090A0B0C0D0E0F1011121314"), "ok");
  ASSERT_NO_FATAL_FAILURE(Open(0));
  ASSERT_NO_FATAL_FAILURE(Open(3));
  const uint8_t out[11] = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA};
  ASSERT_NE(ZimoDPRSetMem(3, 0x3F60, sizeof out, out), nullptr);

  threads_->OpenTamrxDevices();
  EXPECT_TRUE(threads_->tamrx_linked(3));
  EXPECT_FALSE(threads_->tamrx_linked(0));
  EXPECT_EQ(TraceWith("TAMRX"), std::vector<std::string>{"ZIMO[3] TAMRX auto updating started."});

  const uint8_t in[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  EXPECT_TRUE(Eventually([&] {
    uint8_t got[20] = {};
    return ZimoDPRGetMem(3, 0x3F40, sizeof got, got) != nullptr &&
           std::memcmp(got, in, sizeof in) == 0;
  }));
  EXPECT_TRUE(Eventually([&] {
    const std::string reply = control_.Command("tamrx get 3");
    return reply.rfind("ok B0B1B2B3B4B5B6B7B8B9BA ", 0) == 0;
  }));
  uint8_t untouched[20] = {};
  ASSERT_NE(ZimoDPRGetMem(0, 0x3F40, sizeof untouched, untouched), nullptr);
  EXPECT_NE(std::memcmp(untouched, in, sizeof in), 0);

  threads_->StopAll();
  EXPECT_EQ(TraceWith("TAMRX").back(), "ZIMO[3] TAMRX auto updating stopped.");
  EXPECT_EQ(TraceWith("TAMRX").size(), 2u);
}

// The server's own opens of its cards: an open that has ended keeps its
// result until it is taken, even when a new pass starts the card again in
// between (that start is refused), so a card the server opened is always
// in its records and closed at its end.
TEST(CardOpensTest, AnEndedOpensResultIsNeverDroppedByTheNextStart) {
  CardOpens opens;
  std::atomic<int> calls{0};
  ASSERT_TRUE(opens.Start(0, [&] {
    ++calls;
    return true;
  }));
  opens.WaitFor(0, 30s);
  ASSERT_FALSE(opens.Running(0)) << "the open did not end within 30 s";
  EXPECT_FALSE(opens.Start(0, [&] {
    ++calls;
    return false;
  }));
  EXPECT_EQ(opens.Take(0), std::optional<bool>(true));
  EXPECT_EQ(opens.Take(0), std::nullopt);
  // Taken: the card can be opened again.
  ASSERT_TRUE(opens.Start(0, [&] {
    ++calls;
    return false;
  }));
  opens.WaitFor(0, 30s);
  EXPECT_EQ(opens.Take(0), std::optional<bool>(false));
  EXPECT_EQ(calls.load(), 2);
}

}  // namespace
}  // namespace zimo::server
