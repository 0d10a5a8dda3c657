// The fixed DPR buffers against a simulated PCI card in the driver host:
// the switches and the lines they send, the real-time and background
// handshakes with the card's servo clock stepped by hand, a frozen card,
// a card gone mid-update, and the combined re-arm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "card_log.h"
#include "corvan/bus_api.h"
#include "corvan/dpr_api.h"
#include "corvan/status_api.h"
#include "pci_card_fixture.h"

namespace zimo::corvan {
namespace {

class FixedBuffersTest : public testing::PciCardTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    testing::PciCardTest::SetUp();
    if (HasFatalFailure()) return;
    App().User(0)->DprAvailable = 1;
    block().SpranFlag = Spran() ? 1 : 0;
    block().CardMotorCount = Spran() ? 32 : 8;
    block().RealTimePollLimit = 20;
    block().BackgroundPollLimit = 20;
  }
  void TearDown() override {
    App().User(0)->DprAvailable = 0;
    testing::PciCardTest::TearDown();
  }
  std::vector<std::string> Cards() override { return {Spran() ? "pci spran" : "pci older"}; }
  static bool Spran() { return GetParam(); }

  // The lines the card received since the last call.
  std::vector<std::string> Lines() {
    std::string reply = Host("log 0");
    Host("clear-log 0");
    return testing::CardLogLines(reply);
  }
  void Servo(int cycles) { ASSERT_EQ(Host("servo 0 " + std::to_string(cycles)), "ok"); }
  std::string Ask(const char* command) {
    char reply[128] = {};
    ZimoBUSGetResponseA(0, reply, sizeof reply, command);
    std::string text(reply);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
  }
  static std::uint32_t Dword(const std::uint8_t* copy, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, copy + at, 4);
    return v;
  }
  static std::uint16_t Word(const std::uint8_t* copy, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, copy + at, 2);
    return v;
  }
  std::uint8_t CardByte(std::uint32_t offset) {
    std::uint8_t v = 0xEE;
    ZimoDPRGetMem(0, offset, 1, &v);
    return v;
  }
};

using Texts = std::vector<std::string>;

TEST_P(FixedBuffersTest, RealTimeSwitchesSendTheirLines) {
  Lines();
  if (Spran()) {
    EXPECT_EQ(ZimoDPRRealTime(0, 2, 1), 1);
    EXPECT_EQ(Lines(), (Texts{"i47=2", "i48=1"}));
    EXPECT_EQ(ZimoDPRRealTime(0, 2, 0), 0);
    EXPECT_EQ(Lines(), (Texts{"i47=0", "i48=0"}));
    // The mask goes into the buffer, not to the card's interpreter.
    EXPECT_EQ(ZimoDPRRealTimeSetMotor(0, 0x80000024u), 1);
    EXPECT_EQ(ZimoDPRGetDWord(0, 0x070), 0x80000024u);
    EXPECT_EQ(Lines(), Texts{});
    // Switching off with the Ex form still writes the mask and hands the
    // ready bit back.
    ZimoDPRSetWord(0, 0x06E, 0x8000);
    EXPECT_EQ(ZimoDPRRealTimeEx(0, 5, 3, 0), 0);
    EXPECT_EQ(Lines(), (Texts{"i47=0", "i48=0"}));
    EXPECT_EQ(ZimoDPRGetDWord(0, 0x070), 5u);
    EXPECT_EQ(ZimoDPRGetWord(0, 0x06E), 0u);
  } else {
    EXPECT_EQ(ZimoDPRRealTime(0, 2, 1), 1);
    EXPECT_EQ(Lines(), (Texts{"i19=2", "i48=1", "gat"}));
    EXPECT_EQ(ZimoDPRRealTime(0, 2, 0), 0);
    EXPECT_EQ(Lines(), (Texts{"endgat", "i48=0"}));
    ZimoDPRRealTimeSetMotor(0, 0x24);
    ZimoDPRRealTimeSetMotor(0, 0);
    EXPECT_EQ(Lines(), (Texts{"i59 = 6", "i59 = 0"}));
    // The Ex switch sends the mask itself.
    EXPECT_EQ(ZimoDPRRealTimeEx(0, 3, 4, 1), 1);
    EXPECT_EQ(Lines(), (Texts{"i59=3", "i19=4", "i48=1", "gat"}));
    EXPECT_EQ(ZimoDPRRealTimeEx(0, 3, 4, 0), 0);
    EXPECT_EQ(Lines(), (Texts{"endgat", "i48=0"}));
  }
  // Without DPR: nothing sent, 0.
  App().User(0)->DprAvailable = 0;
  EXPECT_EQ(ZimoDPRRealTime(0, 2, 1), 0);
  EXPECT_EQ(ZimoDPRRealTimeEx(0, 1, 2, 1), 0);
  EXPECT_EQ(ZimoDPRBackground(0, 1), 0);
  EXPECT_EQ(ZimoDPRBackgroundEx(0, 1, 2, 3), 0);
  EXPECT_EQ(Lines(), Texts{});
}

TEST_P(FixedBuffersTest, RealTimeHandshakeCopiesTheCardsBlock) {
  // Off: nothing read, 0.
  EXPECT_EQ(ZimoDPRUpdateRealTime(0), 0);
  if (Spran()) {
    ASSERT_EQ(ZimoDPRRealTimeEx(0, 0x2, 3, 1), 1);
    Lines();
    Servo(3);  // refreshed at cycle 3
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    const std::uint8_t* c = block().SpranRealTimeCopy;
    EXPECT_EQ(Word(c, 4), 3u);         // timer
    EXPECT_EQ(Word(c, 6), 0x8000u);    // ready, timer bits 16-23 zero
    EXPECT_EQ(Dword(c, 8), 0x2u);      // the mask as written
    EXPECT_EQ(Dword(c, 12 + 12), 0u);  // motor 0 was not asked for
    // The card's ready bit is handed back; the next block follows 3 cycles on.
    EXPECT_EQ(ZimoDPRGetWord(0, 0x06E), 0u);
    EXPECT_EQ(ZimoDPRUpdateRealTime(0), 0);
    Servo(3);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    EXPECT_EQ(Word(c, 4), 6u);
  } else {
    ASSERT_EQ(ZimoDPRRealTimeEx(0, 3, 2, 1), 1);
    Ask("OPEN PROG 1 CLEAR");  // global word: a program buffer is open
    Servo(2);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    const std::uint8_t* c = block().RealTimeCopy;
    EXPECT_EQ(Word(c, 0), 1u);         // the copy is taken with host busy set
    EXPECT_EQ(Word(c, 2), 0x8002u);    // ready, timer 2
    EXPECT_EQ(Dword(c, 4), 0x80000u);  // bit 19: a motion program buffer is open
    EXPECT_EQ(Dword(c, 8), 0u);
    // Busy and ready are both clear on the card afterwards.
    EXPECT_EQ(ZimoDPRGetDWord(0, 0x024), 0x00020000u);
    EXPECT_EQ(ZimoDPRUpdateRealTime(0), 0);
    Servo(3);  // cycles 3, 4, 5: refreshed at 4
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    EXPECT_EQ(Word(c, 2), 0x8004u);
  }
  Ask("CLOSE");
}

TEST_P(FixedBuffersTest, FrozenCardGivesNoBlockAndTheCopyStays) {
  const std::uint32_t ready = Spran() ? 0x06E : 0x026;
  ASSERT_EQ(ZimoDPRRealTime(0, 1, 1), 1);
  Servo(1);
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  ASSERT_EQ(Host("freeze 0 on"), "ok");
  Servo(5);
  std::vector<std::uint8_t> before(block().SpranRealTimeCopy,
                                   block().SpranRealTimeCopy + sizeof block().SpranRealTimeCopy);
  std::vector<std::uint8_t> before_older(block().RealTimeCopy,
                                         block().RealTimeCopy + sizeof block().RealTimeCopy);
  EXPECT_EQ(ZimoDPRUpdateRealTime(0), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(block().SpranRealTimeCopy,
                                      block().SpranRealTimeCopy + before.size()),
            before);
  EXPECT_EQ(
      std::vector<std::uint8_t>(block().RealTimeCopy, block().RealTimeCopy + before_older.size()),
      before_older);
  // Host busy untouched, ready still clear.
  EXPECT_EQ(ZimoDPRGetWord(0, Spran() ? 0x06A : 0x024), 0u);
  EXPECT_EQ(ZimoDPRGetWord(0, ready) & 0x8000u, 0u);

  // The background update copies anyway and hands the block back.
  block().BackgroundActive = 1;
  const std::uint32_t bg = Spran() ? 0x674 : 0x228;
  std::uint8_t marker[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_NE(ZimoDPRSetMem(0, bg + 8, sizeof marker, marker), nullptr);
  if (Spran()) {
    EXPECT_EQ(ZimoDPRUpdateBackground(0), 0);
    EXPECT_EQ(ZimoDPRSetBackground(0), 1);
    EXPECT_EQ(std::memcmp(block().SpranBackgroundCopy + 8, marker, 8), 0);
    EXPECT_EQ(CardByte(0x67B), 0u);
  } else {
    EXPECT_EQ(ZimoDPRUpdateBackground(0), 1);
    EXPECT_EQ(ZimoDPRSetBackground(0), 0);
    EXPECT_EQ(std::memcmp(block().BackgroundCopy + 8, marker, 8), 0);
    EXPECT_EQ(ZimoDPRGetWord(0, 0x228), 0u);
  }
}

// A card that goes away mid-session: the bit read fails, and the update
// reports no fresh block instead of taking the failure for "ready".
TEST_P(FixedBuffersTest, FailedReadsLeaveTheCopyAsItWas) {
  ASSERT_EQ(ZimoDPRRealTime(0, 1, 1), 1);
  Servo(1);
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  Servo(1);
  std::uint8_t* copy = Spran() ? block().SpranRealTimeCopy : block().RealTimeCopy;
  const std::size_t size = Spran() ? 1548 : 516;
  std::memset(copy, 0x5A, size);
  opener_->Close();  // the device's driver handle is gone: every DPR access fails
  EXPECT_EQ(ZimoDPRUpdateRealTime(0), 0);
  for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(copy[i], 0x5A) << "byte " << i;
}

TEST_P(FixedBuffersTest, BackgroundSwitchesAndHandshake) {
  Lines();
  if (Spran()) {
    EXPECT_EQ(ZimoDPRBackgroundEx(0, 1, 2, 3), 1);
    EXPECT_EQ(Lines(), (Texts{"i50=2", "i49=1"}));
    EXPECT_EQ(CardByte(0x674), 3u);
    Servo(2);  // refreshed at cycle 2
    EXPECT_EQ(CardByte(0x67B), 0x80u);
    EXPECT_EQ(ZimoDPRUpdateBackground(0), 0);
    EXPECT_EQ(block().SpranBackgroundCopy[7], 0x80u);
    EXPECT_EQ(block().SpranBackgroundCopy[0], 3u);
    EXPECT_EQ(CardByte(0x67B), 0u);
    // Off still sends the period and writes the count.
    EXPECT_EQ(ZimoDPRBackgroundEx(0, 0, 7, 4), 0);
    EXPECT_EQ(Lines(), (Texts{"i50=7", "i49=0"}));
    EXPECT_EQ(CardByte(0x674), 4u);
    EXPECT_EQ(block().BackgroundActive, 0u);
    // No command for the motor count on SPRAN cards.
    ZimoDPRSetMotors(0, 4);
    EXPECT_EQ(block().FixedBufferMotorCount, 4u);
    Texts log = Lines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "i59=4"), 0);
  } else {
    EXPECT_EQ(ZimoDPRBackgroundEx(0, 1, 9, 2), 1);
    EXPECT_EQ(Lines(), (Texts{"i49=1", "i59=2"}));
    EXPECT_EQ(ZimoDPRGetWord(0, 0x228), 0u);  // the switch's own update wrote 0
    Servo(1);
    EXPECT_EQ(ZimoDPRGetWord(0, 0x228), 1u);
    EXPECT_EQ(ZimoDPRUpdateBackground(0), 1);
    EXPECT_EQ(Word(block().BackgroundCopy, 0), 1u);
    EXPECT_EQ(ZimoDPRGetWord(0, 0x228), 0u);
    EXPECT_EQ(ZimoDPRBackground(0, 0), 0);
    EXPECT_EQ(Lines(), Texts{"i49=0"});
    // A count above the card's: 0 stored and sent, background off.
    ZimoDPRSetMotors(0, 9);
    EXPECT_EQ(block().FixedBufferMotorCount, 0u);
    EXPECT_EQ(block().BackgroundActive, 0u);
    Texts log = Lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "i59=0");
    // A count in range with I49 on turns the flag on.
    Ask("I49=1");
    ZimoDPRSetMotors(0, 3);
    EXPECT_EQ(block().FixedBufferMotorCount, 3u);
    EXPECT_EQ(block().BackgroundActive, 1u);
  }
}

// The re-arm of both buffers with the card's clock running beside the host:
// on SPRAN cards it waits for the background ready byte.
TEST_P(FixedBuffersTest, FixedBufferDataUpdateSeesBothBuffersRefreshed) {
  block().BackgroundPollLimit = 20000;
  ASSERT_EQ(ZimoDPRRealTimeEx(0, 1, 1, 1), 1);
  ASSERT_EQ(ZimoDPRBackgroundEx(0, 1, 1, 1), 1);
  ASSERT_EQ(Host("clock 0 on 4"), "ok");
  // A count of polls, not a time: enough for the card's clock thread to get
  // its turn on a loaded machine (the update returns as soon as it sees both).
  block().BackgroundPollLimit = 2000000;
  EXPECT_EQ(ZimoDPRFixedBufferDataUpdate(0), 1);
  ASSERT_EQ(Host("clock 0 off"), "ok");
  ASSERT_EQ(Host("freeze 0 on"), "ok");
  block().BackgroundPollLimit = 50;
  EXPECT_EQ(ZimoDPRFixedBufferDataUpdate(0), 0);
}

INSTANTIATE_TEST_SUITE_P(Generations, FixedBuffersTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Spran") : std::string("Older");
                         });

}  // namespace
}  // namespace zimo::corvan
