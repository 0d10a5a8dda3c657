// The bus channel against a simulated PCI card behind zimo-drvhost: whole
// responses with their status, card errors, time-outs and the restore line,
// full buffers, overlong lines, control characters, the port registers and
// the 16-bit forms.
#include "corvan/bus_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "link/bus_channel.h"
#include "pci_card_fixture.h"
#include "platform/codepage.h"

namespace zimo::corvan {
namespace {

using testing::PciCardTest;

class BusChannelTest : public PciCardTest {
 protected:
  std::uint32_t Response(const char* command, std::string* text, std::int32_t size = 256) {
    std::string buffer(static_cast<std::size_t>(size), '#');
    const std::uint32_t word = ZimoBUSGetResponseA(0, buffer.data(), size, command);
    *text = buffer.c_str();
    return word;
  }
  std::string ChangeRecord() {
    char record[400] = {};
    App().rings().ChangeGet(0, record, sizeof record - 1);
    return record;
  }
};

TEST_F(BusChannelTest, ResponsesComeBackWholeWithTheAckStatus) {
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "1.16F\r");

  // Several lines lie back to back with their CRs.
  ASSERT_EQ(Response("P1=11 P2=22", &text), kStatusAck);
  EXPECT_EQ(Response("P1..2", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "11\r22\r");

  // The same lines collected after a plain send.
  ASSERT_EQ(ZimoBUSSendCommandA(0, "P1..2"), 6u);
  char buffer[64];
  std::uint32_t count = 99;
  EXPECT_EQ(ZimoBUSGetBufferA(0, buffer, sizeof buffer, &count), kStatusAck);
  EXPECT_EQ(count, 6u);
  EXPECT_STREQ(buffer, "11\r22\r");

  // And one line at a time, then the ACK on its own.
  ASSERT_EQ(ZimoBUSSendCommandA(0, "P2"), 3u);
  EXPECT_EQ(ZimoBUSGetLineA(0, buffer, sizeof buffer, &count), kStatusLine);
  EXPECT_STREQ(buffer, "22\r");
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(ZimoBUSGetLineA(0, buffer, sizeof buffer, &count), kStatusAck);
  EXPECT_EQ(count, 0u);
}

TEST_F(BusChannelTest, ABufferThatFillsEndsTheResponseWithoutOverrunning) {
  std::string text;
  ASSERT_EQ(Response("P1=11 P2=22", &text), kStatusAck);
  // Room for three characters: the first line fits, the response is cut
  // (a failure with what was stored), and nothing lands beyond the buffer.
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ZimoBUSGetResponseA(0, buffer, 4, "P1..2"), kStatusFailure | 3u);
  EXPECT_STREQ(buffer, "11\r");
  EXPECT_EQ(std::string(buffer + 4, 4), "####");
  EXPECT_EQ(BusChannel().LastError(0), 54);
  // A line cut by the buffer ends a collection with 0xF.
  ASSERT_EQ(ZimoBUSSendCommandA(0, "P1..2"), 6u);
  std::uint32_t count = 0;
  EXPECT_EQ(ZimoBUSGetBufferA(0, buffer, 5, &count), kStatusFailure);
  EXPECT_EQ(count, 4u);
  EXPECT_STREQ(buffer, "11\r2");

  // A buffer of size 0 sends the command and reads nothing.
  EXPECT_EQ(ZimoBUSGetResponseA(0, nullptr, 0, "P1=33"), 0u);
  EXPECT_EQ(Response("P1", &text), kStatusAck | 3u);
  EXPECT_EQ(text, "33\r");
}

TEST_F(BusChannelTest, ACardErrorCountsWithTheTextBeforeIt) {
  std::string text;
  ASSERT_EQ(Response("P1=11", &text), kStatusAck);
  EXPECT_EQ(Response("P1 XYZZY", &text), kStatusCardError | 11u);
  EXPECT_EQ(text, "11\r\aERR003\r");
  EXPECT_EQ(BusLastError(0), 3);
  EXPECT_EQ(block().BusLastError, 3);
}

TEST_F(BusChannelTest, ATimeOutRestoresTheCommunicationSettings) {
  ASSERT_EQ(Host("mute 0 on"), "ok");
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusTimeout);
  EXPECT_EQ(ChangeRecord(), kBusRestoreLine);
  ASSERT_EQ(Host("mute 0 off"), "ok");
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);

  // The 16-bit form takes the same path.
  ASSERT_EQ(Host("mute 0 on"), "ok");
  char16_t wide[32];
  EXPECT_EQ(ZimoBUSGetResponseW(0, wide, 32, u"VERSION"), kStatusTimeout);
  EXPECT_EQ(ChangeRecord(), kBusRestoreLine);
}

TEST_F(BusChannelTest, OverlongLinesAreRefusedWithoutSendingAnything) {
  std::string text;
  ASSERT_EQ(Response("P1=5", &text), kStatusAck);
  // Cut to 255 characters, this line would still set P1.
  const std::string overlong = "P1=7" + std::string(252, ' ');
  ASSERT_EQ(overlong.size(), 256u);
  EXPECT_EQ(ZimoBUSSendLineA(0, overlong.c_str()), kStatusFailure);
  EXPECT_EQ(Response(overlong.c_str(), &text), kStatusFailure);
  EXPECT_EQ(Response("P1", &text), kStatusAck | 2u);
  EXPECT_EQ(text, "5\r");
  // 255 characters are a line.
  const std::string longest = "P1=7" + std::string(251, ' ');
  EXPECT_EQ(ZimoBUSSendLineA(0, longest.c_str()), 256u);
  EXPECT_EQ(Response("P1", &text), kStatusAck | 2u);
  EXPECT_EQ(text, "7\r");
}

TEST_F(BusChannelTest, BadBuffersAndClosedDevicesFailAndTouchNothing) {
  char buffer[4] = {'#', '#', '#', '#'};
  std::uint32_t count = 99;
  EXPECT_EQ(ZimoBUSGetLineA(0, buffer, 0, &count), kStatusFailure);
  EXPECT_EQ(ZimoBUSGetLineA(0, buffer, -1, &count), kStatusFailure);
  EXPECT_EQ(ZimoBUSGetLineA(0, nullptr, 4, &count), kStatusFailure);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(ZimoBUSSendLineA(0, nullptr), kStatusFailure);

  // Device 1 is not open in this process; 9 is no device.
  for (std::uint32_t device : {1u, 9u}) {
    EXPECT_EQ(ZimoBUSFlush(device), 0);
    EXPECT_EQ(ZimoBUSSendLineA(device, "I10"), kStatusFailure);
    EXPECT_EQ(ZimoBUSGetResponseA(device, buffer, 4, "I10"), kStatusFailure);
    EXPECT_EQ(ZimoBUSGetLineA(device, buffer, 4, &count), kStatusFailure);
    EXPECT_EQ(Inp(device, 2), 0xFF);
    EXPECT_EQ(Outp(device, 5, 0), 0);
  }
}

TEST_F(BusChannelTest, ControlCharacters) {
  char buffer[64];
  // ^G answers at once: its line with status 0.
  const std::uint32_t word = ZimoBUSGetControlResponseA(0, buffer, sizeof buffer, 7);
  EXPECT_EQ(word & kStatusMask, kStatusLine);
  EXPECT_EQ(word & kCountMask, 13u);
  EXPECT_EQ(std::strlen(buffer), 13u);
  EXPECT_EQ(buffer[12], '\r');
  // ^E has no direct answer: what follows is collected up to its ACK.
  EXPECT_EQ(ZimoBUSGetControlResponseA(0, buffer, sizeof buffer, 5), kStatusAck);
  // The exchange leaves the channel clean for the next command.
  std::string text;
  EXPECT_EQ(Response("VERSION", &text), kStatusAck | 6u);
}

TEST_F(BusChannelTest, PortRegisters) {
  EXPECT_EQ(Inp(0, 17), 0xFF);
  EXPECT_EQ(Outp(0, 17, 1), 0);
  EXPECT_NE(Inp(0, 2) & 0x02, 0);  // the card takes a character
  EXPECT_EQ(Outp(0, 5, 0), 1);
}

TEST_F(BusChannelTest, SixteenBitFormsCarryTheSameText) {
  std::string text;
  ASSERT_EQ(Response("P1=11 P2=22", &text), kStatusAck);
  char16_t wide[64];
  EXPECT_EQ(ZimoBUSGetResponseW(0, wide, 64, u"P1..2"), kStatusAck | 6u);
  EXPECT_EQ(std::u16string(wide), u"11\r22\r");

  ASSERT_EQ(ZimoBUSSendCommandW(0, u"P1..2"), 6u);
  std::uint32_t count = 0;
  EXPECT_EQ(ZimoBUSGetBufferW(0, wide, 64, &count), kStatusAck);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(std::u16string(wide), u"11\r22\r");

  ASSERT_EQ(ZimoBUSSendCommandW(0, u"P1"), 3u);
  EXPECT_EQ(ZimoBUSGetLineW(0, wide, 64, &count), kStatusLine);
  EXPECT_EQ(std::u16string(wide), u"11\r");
  EXPECT_EQ(count, 4u);  // with the terminator

  // A buffer of one character: the line does not fit (the driver cuts it at
  // the length asked for), the buffer holds the terminator alone and
  // nothing beyond it is touched.
  ASSERT_EQ(ZimoBUSSendCommandW(0, u"P1"), 3u);
  wide[0] = u'#';
  wide[1] = u'#';
  EXPECT_EQ(ZimoBUSGetLineW(0, wide, 1, &count), 0xF0000000u);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(wide[1], u'#');
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace zimo::corvan
