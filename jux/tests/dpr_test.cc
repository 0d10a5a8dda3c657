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
#include "jux/jux170.h"
#include "legacy_card_fixture.h"
#include "platform/clock.h"
#include "platform/file_mapping.h"

namespace {

using zimo::cardsim::Space;

class Dpr : public jux_testing::LegacyCardTest {
 protected:
  // A generous poll budget: the card serves its mailbox from its own
  // thread, which a loaded machine may hold back for a while.
  tagMCardInfo* Open(int retries = 3) { return OpenRecord("DPR", 1, retries, 20000); }
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
  bool Logged(const std::string& line) {
    const auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
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
  // A line read after a sent command fails the same way, its text in the
  // buffer: the bus and serial forms and this one all return 0.
  card().script().InjectError(3);
  ASSERT_EQ(PSendLine(r, "I10"), 1);
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(PGetLineCR(r, buffer, 63), 0);
  EXPECT_EQ(r->last_error, 53);
  EXPECT_STREQ(buffer, "ERR003");
  ASSERT_EQ(PGetResponse(r, buffer, 63, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
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
