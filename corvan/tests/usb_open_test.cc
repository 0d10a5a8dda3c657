// A USB device through the library from end to end: zimo-drvhost serving a
// simulated USB card, device 0 registered on Location 5 and opened with
// OpenZimoDevice (the driver's card reset, the open handshake, the card's
// identification and its DPR found through the pattern test), then the
// command API's line, response, error and control-character calls over the
// USB vendor requests, and DPR blocks and bits through the driver's memory
// controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "link/bus_channel.h"
#include "link/device_registry.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::DriverHostProcess;
using testing::LibraryClock;
using testing::StandInServer;
using testing::WaitForDriverDevice;

// Reads one response through the command API into a buffer of `size`
// characters (plus its terminator).
std::uint32_t Exchange(const char* command, std::string* text, std::uint32_t size = 255) {
  std::vector<char> buffer(size + 1, '\0');
  const std::uint32_t word = ZimoGetResponseExA(0, buffer.data(), size, command);
  *text = buffer.data();
  return word;
}

// The driver host with one USB card of the older generation (`usb older`),
// the shared device table of a stand-in server, and device 0 on ZimoUSB0
// opened by the library.
class UsbCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterDevice(0, kLocationUsb, 0, nullptr), 1);
    host_ = std::make_unique<DriverHostProcess>(std::vector<std::string>{"usb older"});
    ASSERT_TRUE(WaitForDriverDevice("ZimoUSB0"));
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    host_.reset();
  }

  const SharedDeviceBlock& block() const { return server_->table()->Devices[0]; }
  std::string Host(const std::string& line) { return host_->Command(line); }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(UsbCardTest, OpensIdentifiesAndAnswers) {
  EXPECT_TRUE(HasDriverDevice(0));
  EXPECT_EQ(block().Location, kLocationUsb);
  EXPECT_EQ(block().FirstOpenDone, 1u);
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_EQ(block().CardType, 2);
  EXPECT_EQ(block().SpranFlag, 0);
  EXPECT_STREQ(block().FirmwareVersion, "1.16F");
  // USB has no mailbox channel, but its DPR answers the pattern test.
  EXPECT_EQ(App().User(0)->AsciiCommMode, 0u);
  EXPECT_EQ(ZimoGetDpramAvailable(0), 1);
  EXPECT_EQ(block().DprSetUpDone, 1u);
  EXPECT_EQ(block().DprCardBase, 0xD000u);

  std::string text;
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "1.16F\r");
}

// The open sends the driver's card reset, whose "CLOSEI3=2" ends a program
// buffer left open: without it the buffer would swallow the open
// handshake's status request and the open would fail.
TEST_F(UsbCardTest, OpenClosesAProgramBufferLeftOpen) {
  std::string text;
  EXPECT_EQ(Exchange("OPEN PROG 1", &text), kStatusAck);
  EXPECT_EQ(Exchange("I10", &text), kStatusAck);  // taken into the buffer
  EXPECT_EQ(text, "");
  ASSERT_EQ(CloseZimoDevice(0), 1);
  EXPECT_FALSE(HasDriverDevice(0));

  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(Exchange("I10", &text), kStatusAck | 8u);
  EXPECT_EQ(text, "3713707\r");
}

TEST_F(UsbCardTest, GetLineCallsTakeATwoLineReply) {
  ASSERT_NE(ZimoFlush(0), 0);
  ASSERT_EQ(ZimoSendLineA(0, "I10..11"), 8u);
  char line[64];
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line - 1), kStatusLine | 8u);
  EXPECT_STREQ(line, "3713707\r");
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line - 1), kStatusLine | 3u);
  EXPECT_STREQ(line, "10\r");
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line - 1), kStatusAck);
  EXPECT_STREQ(line, "");

  // The count-only twin, and a buffer collection of the same reply.
  ASSERT_EQ(ZimoSendLineA(0, "I10..11"), 8u);
  EXPECT_EQ(ZimoGetLineA(0, line, sizeof line - 1), 8u);
  char all[64];
  EXPECT_EQ(ZimoGetBufferA(0, all, sizeof all - 1), 3u);
  EXPECT_STREQ(all, "10\r");
}

TEST_F(UsbCardTest, CardErrorReachesTheErrorFunctions) {
  ASSERT_EQ(Host("error 0 15"), "ok");
  std::string text;
  // The count is the error text the buffer holds.
  EXPECT_EQ(Exchange("I10", &text), kStatusCardError | 8u);
  EXPECT_EQ(text, "\aERR015\r");
  EXPECT_EQ(ZimoGetError(0), 15);
  char message[256] = {};
  EXPECT_EQ(ZimoGetErrorStrA(0, message, sizeof message), 15);
  EXPECT_STREQ(message, "Not pointing to a valid program buffer.");

  // The next command is answered as usual.
  EXPECT_EQ(Exchange("I10", &text), kStatusAck | 8u);
  EXPECT_EQ(text, "3713707\r");
}

TEST_F(UsbCardTest, ControlCharacters) {
  char reply[256];
  // ^G: the global status, 12 hex digits, as the direct answer.
  const std::uint32_t global = ZimoGetControlResponseExA(0, reply, 255, 7);
  EXPECT_EQ(global, kStatusLine | 13u) << std::hex << global;
  EXPECT_STREQ(reply, "000000000000\r");  // the ACK that ended it is no text
  // ^E has no direct answer: the reply is collected as lines (ACK alone).
  EXPECT_EQ(ZimoGetControlResponseExA(0, reply, 255, 5), kStatusAck);
  EXPECT_STREQ(reply, "");
}

TEST_F(UsbCardTest, ProgramBlocksAndTheirStatus) {
  static constexpr char kGood[] = "I100=5\0I101=6";  // each line NUL-ended
  ASSERT_TRUE(UsbWriteBlock(0, kGood, sizeof kGood));
  std::uint32_t status = 1;
  ASSERT_TRUE(UsbReadBlockStatus(0, &status));
  EXPECT_EQ(status & kUsbBlockFailed, 0u);

  static constexpr char kBad[] = "I102=7\0XYZZY\0I103=8";
  ASSERT_TRUE(UsbWriteBlock(0, kBad, sizeof kBad));
  ASSERT_TRUE(UsbReadBlockStatus(0, &status));
  EXPECT_EQ(status, kUsbBlockFailed | 3u << 16 | 2u) << std::hex << status;
  std::string text;
  EXPECT_EQ(Exchange("I100..102", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "5\r6\r7\r");

  // Blocks the card would cut or misread never leave the host.
  EXPECT_FALSE(UsbWriteBlock(0, "I104=1", 6));
  std::string huge(kUsbBlockMax + kBusMaxLine + 2, 'I');
  huge.back() = 0;
  EXPECT_FALSE(UsbWriteBlock(0, huge.data(), static_cast<std::uint32_t>(huge.size())));
  EXPECT_FALSE(UsbWriteBlock(0, kGood, 0));
  EXPECT_FALSE(UsbWriteBlock(1, kGood, sizeof kGood));  // no USB device
  EXPECT_FALSE(UsbReadBlockStatus(1, &status));
}

// A reply of 21000 characters (3000 DPR words in hex, 16 a line) comes back
// byte for byte through the library's line collection.
TEST_F(UsbCardTest, LongReplyComesBackWhole) {
  std::vector<std::uint8_t> dpr(16384);
  for (std::size_t i = 0; i < dpr.size(); ++i) {
    dpr[i] = static_cast<std::uint8_t>(i * 31 + i / 97);
  }
  ASSERT_NE(ZimoDPRSetMem(0, 0, static_cast<std::uint32_t>(dpr.size()), dpr.data()), nullptr);
  std::string expected;
  for (std::size_t w = 0; w < 3000; ++w) {
    char word[8];
    std::snprintf(word, sizeof word, "%06X", dpr[4 * w + 2] | dpr[4 * w + 3] << 8);
    expected += word;
    expected += (w % 16 == 15 || w == 2999) ? '\r' : ' ';
  }
  ASSERT_EQ(expected.size(), 21000u);

  std::string text;
  EXPECT_EQ(Exchange("RHX$D000,3000", &text, 25000), kStatusAck | 21000u);
  EXPECT_TRUE(text == expected) << "first difference at "
                                << std::mismatch(text.begin(), text.end(), expected.begin()).first -
                                       text.begin();
}

TEST_F(UsbCardTest, DprBlocksWordsAndBits) {
  // 10000 bytes: more than two of the driver's 4096-byte pieces.
  std::vector<std::uint8_t> data(10000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  ASSERT_EQ(ZimoDPRSetMem(0, 0x200, 10000, data.data()), data.data());
  std::vector<std::uint8_t> back(data.size());
  ASSERT_EQ(ZimoDPRGetMem(0, 0x200, 10000, back.data()), back.data());
  EXPECT_TRUE(back == data);

  // A block that leaves the window is read as nothing and left untouched.
  std::vector<std::uint8_t> untouched(200, 0xEE);
  EXPECT_EQ(ZimoDPRGetMem(0, 16384 - 100, 200, untouched.data()), nullptr);
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(200, 0xEE));

  ZimoDPRSetDWord(0, 0x100, 0x12345678);
  ZimoDPRSetWord(0, 0x102, 0xBEEF);  // through the block write on USB
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x100), 0xBEEF5678u);
  EXPECT_EQ(ZimoDPRGetWord(0, 0x100), 0x5678u);

  std::uint32_t value = 0;
  ASSERT_NE(ZimoDPRSetMemBits(0, 0x100, 4, 8, 0xA5), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x100), 0xBEEF5A58u);
  ASSERT_NE(ZimoDPRGetMemBits(0, 0x100, 4, 8, &value), 0);
  EXPECT_EQ(value, 0xA5u);
  ASSERT_NE(ZimoDPRSetMemBit(0, 0x100, 31, 0), 0);
  ASSERT_NE(ZimoDPRSetMemBit(0, 0x100, 0, 1), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x100), 0x3EEF5A59u);
  ASSERT_NE(ZimoDPRGetMemBit(0, 0x100, 0, &value), 0);
  EXPECT_EQ(value, 1u);
  ASSERT_NE(ZimoDPRGetMemBit(0, 0x100, 31, &value), 0);
  EXPECT_EQ(value, 0u);

  // Bits outside the window are not done.
  value = 7;
  EXPECT_EQ(ZimoDPRGetMemBits(0, 16384, 0, 4, &value), 0);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(ZimoDPRSetMemBit(0, 16384, 0, 1), 0);
}

}  // namespace
}  // namespace zimo::corvan
