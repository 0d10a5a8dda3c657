// The DPR mailbox channel: a legacy ISA card at port 528 whose DPR the
// helper driver maps at 0xD4000, in a driver host running in this process.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/isa_dpr_window.h"
#include "cardsim/memory.h"
#include "gtest/gtest.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/legacy_isa.h"
#include "jux/jux170.h"
#include "platform/clock.h"
#include "platform/file_mapping.h"
#include "temp_home.h"

namespace {

namespace host = zimo::drivers::host;
using zimo::cardsim::Space;

class Dpr : public ::testing::Test {
 protected:
  void Plug(const std::string& version = "") {
    ASSERT_NE(host::LoadPortIoHelper(host_), nullptr);
    host::CardConfig config;
    config.bus = host::Bus::kIsa;
    config.legacy_port = 528;
    config.legacy_dpr = 0xD4000;
    config.version = version;
    slot_ = legacy_.Plug(config);
    ASSERT_NE(slot_, nullptr);
    devices_ = std::make_unique<host::DeviceServer>(host_.kernel());
    devices_->Start();
  }
  void TearDown() override {
    if (record_ != nullptr) JUXShutDown(&record_);
    devices_.reset();
  }
  zimo::cardsim::Card& card() { return *slot_->card; }
  tagMCardInfo* Open(int retries = 3) {
    tagMCardInfo image;
    std::memset(&image, 0, sizeof(image));
    std::strcpy(image.name, "DPR");
    image.method = 2;  // no port: the record stays closed
    image.retries = retries;
    // A generous poll budget: the card serves its mailbox from its own
    // thread, which a loaded machine may hold back for a while.
    image.timeout = 20000;
    record_ = JUXInit(&image);
    if (record_ == nullptr) return nullptr;
    record_->method = 1;
    record_->bus_base = 528;
    record_->dpr_base = 0xD4000;
    record_->bus_type = 1;
    record_->last_error = 0;
    POpenChannel(record_);
    return record_;
  }
  // Lets the card decode at 0xD4000 from power-up (as X:$786/$787 hold it)
  // and waits until its window is there, so a test of the version check
  // does not race the card's first look at its decode registers.
  void DecodeHereFromPowerUp() {
    zimo::cardsim::Memory& m = card().memory();
    m.Write(Space::kX, 0x786, 0xD);
    m.Write(Space::kX, 0x787, 0x45);
    m.Write(Space::kX, 0xE009, 0xD);
    m.Write(Space::kX, 0xE00A, 0x45);
    const std::string name = zimo::cardsim::IsaDprWindow::WindowName(0xD4000);
    for (int i = 0; i < 5000 && !zimo::platform::FileMapping::Open(name).ok(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(zimo::platform::FileMapping::Open(name).ok());
  }
  std::vector<std::string> Log() { return card().script().received(); }
  bool Logged(const std::string& line) {
    const auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  zimo::testing::TempHome home_;
  host::DriverHost host_;
  host::LegacyCards legacy_{host_};
  std::shared_ptr<host::Slot> slot_;
  std::unique_ptr<host::DeviceServer> devices_;
  tagMCardInfo* record_ = nullptr;
};

TEST_F(Dpr, AgreesOnTheAddressAndTalksThroughTheMailbox) {
  Plug();
  // The card powered up decoding (and storing) another address.
  zimo::cardsim::Memory& m = card().memory();
  m.Write(Space::kX, 0x786, 0xD);
  m.Write(Space::kX, 0x787, 0x85);
  m.Write(Space::kX, 0xE009, 0xD);
  m.Write(Space::kX, 0xE00A, 0x85);
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->dpr_open, 1) << r->last_error;
  EXPECT_EQ(r->method, 1);
  EXPECT_EQ(r->connected, 1);
  EXPECT_EQ(r->mailbox, r->dpr_view + 1580);
  for (const char* line :
       {"wx$E009,$D,$45", "rhx:$786,2", "wx$786,$D,$45", "save", "?", "i58=1", "VER"}) {
    EXPECT_TRUE(Logged(line)) << line;
  }
  EXPECT_EQ(m.Read(Space::kX, 0x787), 0x45u);
  card().SetIVar(10, 3713707);
  char buffer[64];
  ASSERT_EQ(PGetResponse(r, buffer, 63, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
  // A long reply into a small buffer stays terminated; the next command
  // finds the mailbox at rest.
  std::memset(buffer, 'x', sizeof(buffer));
  ASSERT_EQ(PGetResponse(r, buffer, 15, "I10..29"), 1);
  EXPECT_EQ(std::strlen(buffer), 15u);
  EXPECT_EQ(std::string(buffer, 8), "3713707\r");
  ASSERT_EQ(PGetResponse(r, buffer, 63, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
  // A card error into a buffer too short for its text.
  card().script().InjectError(3);
  char small[6] = "abcde";
  EXPECT_EQ(DPRGetResponse(r, small, 5, "I10"), 0);
  EXPECT_EQ(r->last_error, 53);
  EXPECT_STREQ(small, "");
  card().script().InjectError(15);
  EXPECT_EQ(PGetResponse(r, buffer, 63, "I10"), 0);
  EXPECT_EQ(r->last_error, 65);
  EXPECT_STREQ(buffer, "ERR015");
  // Data words of the same window.
  m.Write(Space::kX, 0xD003, 0x00ABCD);
  EXPECT_EQ(PDPRGetDWord(r, 4096), 0u);
  EXPECT_EQ(r->last_error, 4001);
}

TEST_F(Dpr, FirmwareBelow114IsRefused) {
  Plug("1.13");
  DecodeHereFromPowerUp();
  tagMCardInfo* r = Open(1);
  const auto log = Log();
  // A failed check leaves the channel closed, so the retry asks nothing more.
  EXPECT_EQ(std::count(log.begin(), log.end(), "VER"), 1);
  EXPECT_EQ(r->dpr_open, 0);
  EXPECT_EQ(r->connected, 0);
  EXPECT_EQ(r->dpr_view, 0u);
  EXPECT_EQ(r->mailbox, 0u);
  EXPECT_EQ(r->last_error, 4005);
}

TEST_F(Dpr, Firmware114Passes) {
  Plug("1.14");
  DecodeHereFromPowerUp();
  tagMCardInfo* r = Open(3);
  EXPECT_EQ(r->dpr_open, 1) << r->last_error;
}

TEST_F(Dpr, ErrorReplyToVerIsRefused) {
  Plug();
  DecodeHereFromPowerUp();
  card().script().FailLinesMatching("VER", 3);
  tagMCardInfo* r = Open(1);
  EXPECT_EQ(r->dpr_open, 0);
  EXPECT_EQ(r->last_error, 4005);
}

TEST_F(Dpr, ReceiveTimeoutCountsPollsOnTheClock) {
  Plug();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->dpr_open, 1);
  card().script().SetMuted(true);
  zimo::platform::FakeClock clock;
  clock.set_auto_advance(true);
  zimo::platform::ScopedClock scoped(clock);
  r->timeout = 50;
  r->retries = 3;
  ASSERT_EQ(DPRSendLine(r, "I10"), 1);
  char buffer[16];
  const auto start = clock.Now();
  EXPECT_EQ(DPRGetLine(r, buffer, 15), 0);
  EXPECT_EQ(r->last_error, 4004);
  EXPECT_EQ((clock.Now() - start).count(), 50 * 3 * 100);
}

}  // namespace
