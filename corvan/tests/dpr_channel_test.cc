// The DPR mailbox channel against a simulated PCI card behind zimo-drvhost:
// responses through the mailbox (and the mailbox slot that carried them),
// card errors, time-outs and the restore line, the mailbox's line limits,
// control characters, the 16-bit forms, the DPR test with the card word it
// borrows given back, and the lock of the DPR host copies.
#include "corvan/dpr_channel_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "dpr/dpr_map.h"
#include "link/device_lock.h"
#include "link/dpr_channel.h"
#include "pci_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::PciCardTest;

class DprChannelTest : public PciCardTest {
 protected:
  void SetUp() override {
    PciCardTest::SetUp();
    if (HasFatalFailure()) return;
    // The card's mailbox on, asked through its bus port.
    char reply[16];
    ASSERT_EQ(ZimoBUSGetResponseA(0, reply, sizeof reply, "I58=1"), kStatusAck);
  }
  std::uint32_t Response(const char* command, std::string* text, std::uint32_t max = 255) {
    std::string buffer(max + 1, '#');
    const std::uint32_t word = ZimoDPRGetResponseA(0, buffer.data(), max, command);
    *text = buffer.c_str();
    return word;
  }
  // The command text in the mailbox's host-to-card slot.
  std::string MailboxCommand() {
    char text[161] = {};
    ZimoDPRGetMem(0, kDprOlder.mailbox_host_text, 160, text);
    return text;
  }
  std::string ChangeRecord() {
    char record[400] = {};
    App().rings().ChangeGet(0, record, sizeof record - 1);
    return record;
  }
};

TEST_F(DprChannelTest, ResponsesTravelThroughTheMailbox) {
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "1.16F\r");  // the mailbox leaves the CR off; the channel adds it
  EXPECT_EQ(MailboxCommand(), "VERSION");

  ASSERT_EQ(Response("P1=11 P2=22", &text), kStatusAck);
  EXPECT_EQ(Response("P1..2", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "11\r22\r");

  EXPECT_EQ(ZimoDPRSendCommandA(0, "P2"), 2);
  char buffer[32];
  std::uint32_t count = 99;
  EXPECT_EQ(ZimoDPRGetLineA(0, buffer, 31, &count), kStatusLine);
  EXPECT_STREQ(buffer, "22\r");
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(ZimoDPRGetLineA(0, buffer, 31, &count), kStatusAck);
  EXPECT_EQ(count, 0u);

  ASSERT_EQ(ZimoDPRSendCommandA(0, "P1..2"), 5);
  EXPECT_EQ(ZimoDPRGetBufferA(0, buffer, 31, &count), kStatusAck);
  EXPECT_EQ(count, 6u);
  EXPECT_STREQ(buffer, "11\r22\r");
  EXPECT_EQ(ZimoDPRGetBufferA(0, buffer, 0, &count), kStatusFailure);

  // Output left waiting is read away by the flush.
  ASSERT_EQ(ZimoDPRSendLineA(0, "P1..2"), 5);
  EXPECT_EQ(ZimoDPRFlush(0), 1);
  EXPECT_EQ(DprReadReady(0), 0u);
  EXPECT_EQ(Response("P1", &text), kStatusAck | 3u);
}

TEST_F(DprChannelTest, ACardErrorAndItsNumber) {
  std::string text;
  ASSERT_EQ(Response("P1=11", &text), kStatusAck);
  EXPECT_EQ(Response("P1 XYZZY", &text), kStatusCardError | 11u);
  EXPECT_EQ(text, "11\r\aERR003\r");
  EXPECT_EQ(DprLastError(0), 3);
  EXPECT_EQ(block().DprLastError, 3);
}

TEST_F(DprChannelTest, ATimeOutRestoresTheCommunicationSettings) {
  ASSERT_EQ(Host("mute 0 on"), "ok");
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusTimeout);
  EXPECT_EQ(ChangeRecord(), kDprRestoreLine);
  EXPECT_EQ(MailboxCommand(), kDprRestoreLine);
  ASSERT_EQ(Host("mute 0 off"), "ok");
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);
}

TEST_F(DprChannelTest, LineLimits) {
  std::string text;
  ASSERT_EQ(Response("P1=5", &text), kStatusAck);
  // The mailbox carries 159 characters; the driver takes no longer line.
  const std::string longest = "P1=7" + std::string(155, ' ');
  EXPECT_EQ(ZimoDPRSendLineA(0, longest.c_str()), 159);
  ASSERT_EQ(ZimoDPRFlush(0), 1);
  EXPECT_EQ(ZimoDPRSendLineA(0, (longest + " ").c_str()), 0);
  // 255 characters fill the channel's own buffer and are offered (the
  // driver refuses them); past that nothing is even offered.
  const std::string fills = "P1=9" + std::string(251, ' ');
  ASSERT_EQ(fills.size(), 255u);
  EXPECT_EQ(ZimoDPRSendLineA(0, fills.c_str()), 0);
  const std::string overlong = fills + " ";
  EXPECT_EQ(ZimoDPRSendLineA(0, overlong.c_str()), kDprSendFailed);
  EXPECT_EQ(Response(overlong.c_str(), &text), kStatusFailure);
  EXPECT_EQ(ZimoDPRSendLineA(0, nullptr), kDprSendFailed);
  EXPECT_EQ(Response("P1", &text), kStatusAck | 2u);
  EXPECT_EQ(text, "7\r");

  // A reply longer than the buffer is cut there and ends the exchange.
  char small[4] = {};
  EXPECT_EQ(ZimoDPRGetResponseA(0, small, 3, "VERSION"), kStatusFailure | 3u);
  EXPECT_STREQ(small, "1.1");
  // A device that is not open here takes nothing.
  EXPECT_EQ(ZimoDPRSendLineA(1, "P1"), 0);
  EXPECT_EQ(ZimoDPRGetResponseA(1, small, 3, "P1"), kStatusFailure);
}

TEST_F(DprChannelTest, ControlCharacters) {
  // The CR goes on only when the buffer could take the whole driver record
  // (268 bytes) and one more; a smaller one gets the answer as sent.
  char buffer[300];
  std::uint32_t word = ZimoDPRGetControlResponseA(0, buffer, 63, 7);
  EXPECT_EQ(word & kStatusMask, kStatusAck);
  EXPECT_EQ(word & kCountMask, 12u);
  EXPECT_EQ(std::strlen(buffer), 12u);
  word = ZimoDPRGetControlResponseA(0, buffer, 268, 7);
  EXPECT_EQ(word & kCountMask, 12u);
  word = ZimoDPRGetControlResponseA(0, buffer, 269, 7);
  EXPECT_EQ(word & kStatusMask, kStatusAck);
  EXPECT_EQ(word & kCountMask, 13u);
  EXPECT_EQ(buffer[12], '\r');
  EXPECT_EQ(buffer[13], 0);
  // ^E: into the mailbox, then whatever the card posts (its ACK alone).
  EXPECT_EQ(ZimoDPRGetControlResponseA(0, buffer, 63, 5), 0u);
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);
}

TEST_F(DprChannelTest, SixteenBitFormsCarryTheSameText) {
  std::string text;
  ASSERT_EQ(Response("P1=11 P2=22", &text), kStatusAck);
  char16_t wide[64];
  EXPECT_EQ(ZimoDPRGetResponseW(0, wide, 63, u"P1..2"), kStatusAck | 6u);
  EXPECT_EQ(std::u16string(wide), u"11\r22\r");
  ASSERT_EQ(ZimoDPRSendCommandW(0, u"P1..2"), 5);
  std::uint32_t count = 0;
  EXPECT_EQ(ZimoDPRGetBufferW(0, wide, 63, &count), kStatusAck);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(std::u16string(wide), u"11\r22\r");
  // The wide control answer returns the count alone, no status bits.
  EXPECT_EQ(ZimoDPRGetControlResponseW(0, wide, 63, u'\a'), 12u);
  EXPECT_EQ(std::u16string(wide).size(), 12u);
}

// The command path of identification and variable access, over this test's
// bus channel.
class BusCommandPath : public CardCommandPath {
 public:
  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    ++exchanges;
    return ZimoBUSGetResponseA(static_cast<std::uint32_t>(device), buffer,
                               static_cast<std::int32_t>(size), command);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t size) override {
    std::uint32_t count = 0;
    ZimoBUSGetLineA(static_cast<std::uint32_t>(device), buffer, static_cast<std::int32_t>(size),
                    &count);
    return count;
  }
  void SendCommand(int device, const char* command) override {
    char scratch[256];
    GetResponseEx(device, scratch, sizeof scratch, command);
  }
  void ChangeStore(int device, const char* text) override {
    App().rings().ChangeStore(static_cast<std::uint32_t>(device), text);
  }
  void Lock(int device) override { LockDevice(device); }
  void Unlock(int device) override { ReleaseDevice(device); }
  int exchanges = 0;
};

TEST_F(DprChannelTest, ThePatternTestGivesTheBorrowedWordBack) {
  // The first word of the window: the control panel's request words.
  ZimoDPRSetDWord(0, 0, 0x00050003);
  std::string text;
  ASSERT_EQ(Response("I9=1", &text), kStatusAck);
  BusCommandPath path;
  EXPECT_EQ(TestDprByCommands(path, 0, 2), 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0), 0x00050003u);
  EXPECT_EQ(Response("rhy$D000", &text), kStatusAck | 7u);
  EXPECT_EQ(text, "000003\r");
  EXPECT_EQ(Response("I9", &text), kStatusAck | 5u);
  EXPECT_EQ(text, "I9=1\r");  // I9 = 1 names the variable in its reply
  // A card that does not answer has nothing borrowed and nothing changed.
  ASSERT_EQ(Host("mute 0 on"), "ok");
  EXPECT_EQ(TestDprByCommands(path, 0, 2), 0);
  ASSERT_EQ(Host("mute 0 off"), "ok");
  EXPECT_EQ(ZimoDPRGetDWord(0, 0), 0x00050003u);
}

TEST_F(DprChannelTest, AvailabilityAndTheMailboxSwitch) {
  EXPECT_EQ(ZimoDPRAvailable(0), 1);
  EXPECT_EQ(App().User(0)->DprAvailable, 1u);
  EXPECT_EQ(ZimoDPRAvailable(1), 0);  // not open here
  // Each switch publishes the state to every process and tells the other
  // processes what it set through the change ring (an older card, type 2,
  // has I56 cleared before its mailbox goes on).
  while (App().rings().ChangeReadReady(0) != 0) ChangeRecord();
  EXPECT_EQ(ZimoDPRComm(0, 1), 1);
  EXPECT_EQ(block().DprAsciiEnabled, 1);
  EXPECT_EQ(ChangeRecord(), "I56=0");
  EXPECT_EQ(ChangeRecord(), "I58=1");
  EXPECT_EQ(ZimoDPRComm(0, 0), 1);
  EXPECT_EQ(block().DprAsciiEnabled, 0);
  EXPECT_EQ(ChangeRecord(), "I56=0 I58=0");
  EXPECT_EQ(App().rings().ChangeReadReady(0), 0);
}

class NoDprCardTest : public PciCardTest {
 protected:
  // The card reports a DPR of size 0, so its driver maps none.
  std::vector<std::string> Cards() override { return {"pci older dprunused"}; }
};

TEST_F(NoDprCardTest, WithoutDprNothingIsSwitched) {
  block().DprAsciiEnabled = 1;
  EXPECT_EQ(ZimoDPRAvailable(0), 0);
  EXPECT_EQ(App().User(0)->DprAvailable, 0u);
  EXPECT_EQ(ZimoDPRComm(0, 1), 0);
  EXPECT_EQ(block().DprAsciiEnabled, 0);
}

TEST_F(DprChannelTest, TheDprDataLock) {
  EXPECT_EQ(LockZimoDPR(0), kWaitObject0);
  EXPECT_EQ(LockZimoDPR(0), kWaitObject0);  // recursive
  EXPECT_EQ(ReleaseZimoDPR(0), 1);
  EXPECT_EQ(ReleaseZimoDPR(0), 1);
  EXPECT_EQ(ReleaseZimoDPR(0), 0);  // not held
  EXPECT_EQ(LockZimoDPR(1), 0u);    // no lock here: nothing happens
  EXPECT_EQ(ReleaseZimoDPR(1), 0);
}

}  // namespace
}  // namespace zimo::corvan
