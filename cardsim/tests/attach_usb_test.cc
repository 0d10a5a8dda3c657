// The card's USB port, driven without a bus: descriptors, the vendor
// requests as the host sends them and the answers the card gives, what the
// requests do to the card, and the faults a test can script.
#include "cardsim/attach_usb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cardsim/card.h"
#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
namespace rq = usb_request;

uint32_t FromLe32(const std::string& s) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[i]);
  return v;
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

class UsbPortTest : public ::testing::Test {
 protected:
  explicit UsbPortTest(CardModel model = CardModel::Older(), UsbOptions options = {})
      : card_(std::move(model)), port_(card_, options) {}

  UsbAnswer In(uint8_t request, uint16_t length, uint16_t value = 0, uint16_t index = 0) {
    return port_.Control(UsbSetup{rq::kIn | rq::kVendor, request, value, index, length}, "");
  }
  UsbAnswer Out(uint8_t request, const std::string& data = {}, uint16_t value = 0,
                uint16_t index = 0) {
    return port_.Control(
        UsbSetup{rq::kVendor, request, value, index, static_cast<uint16_t>(data.size())}, data);
  }
  std::string InData(uint8_t request, uint16_t length, uint16_t value = 0) {
    const UsbAnswer a = In(request, length, value);
    EXPECT_EQ(a.handshake, UsbHandshake::kAck);
    return a.data;
  }
  UsbAnswer GetDescriptor(uint8_t type, uint8_t index, uint16_t length) {
    return port_.Control(
        UsbSetup{rq::kIn, rq::kGetDescriptor, static_cast<uint16_t>(type << 8 | index), 0, length},
        "");
  }

  Card card_;
  UsbAttachment port_;
};

TEST_F(UsbPortTest, DescriptorsDescribeOneInterfaceWithFourEndpointsInPipeOrder) {
  const std::string device = GetDescriptor(1, 0, 18).data;
  ASSERT_EQ(device.size(), 18u);
  EXPECT_EQ(device[1], 1);
  const UsbIdentity id = UsbIdentityRow(port_.identity_row());
  EXPECT_EQ(static_cast<uint8_t>(device[8]) | static_cast<uint8_t>(device[9]) << 8, id.vendor_id);
  EXPECT_EQ(static_cast<uint8_t>(device[10]) | static_cast<uint8_t>(device[11]) << 8,
            id.product_id);

  // The host reads 9 bytes, then the total length.
  const std::string head = GetDescriptor(2, 0, 9).data;
  ASSERT_EQ(head.size(), 9u);
  const size_t total = static_cast<uint8_t>(head[2]) | static_cast<uint8_t>(head[3]) << 8;
  const std::string config = GetDescriptor(2, 0, static_cast<uint16_t>(total + 16)).data;
  ASSERT_EQ(config.size(), total);
  ASSERT_EQ(total, 9u + 9u + 4 * 7u);
  EXPECT_EQ(config[9 + 4], 4);  // endpoints of interface 0
  const struct { uint8_t address, type; } expected[] = {{0x81, 2}, {0x01, 2}, {0x02, 2}, {0x83, 1}};
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = 18 + 7 * i;
    EXPECT_EQ(static_cast<uint8_t>(config[at + 2]), expected[i].address) << i;
    EXPECT_EQ(config[at + 3] & 3, expected[i].type) << i;
  }

  EXPECT_EQ(GetDescriptor(3, 0, 255).data, "\x04\x03\x09\x04"s);
  EXPECT_EQ(GetDescriptor(3, 9, 255).handshake, UsbHandshake::kStall);
}

TEST_F(UsbPortTest, RepliesComeOutByLineAndByBlock) {
  // Line by line: each line with its CR, the ACK with the last one.
  ASSERT_EQ(Out(rq::kSendLine, "I10..11").handshake, UsbHandshake::kAck);
  EXPECT_EQ(InData(rq::kReadLine, 256), "3713707\r");
  EXPECT_EQ(InData(rq::kReadLine, 256), "10\r\x06");
  EXPECT_EQ(InData(rq::kReadLine, 256), "\0"s);  // nothing waits

  // By block, cut at the length asked for; the rest comes next.
  Out(rq::kSendLine, "I10..11");
  EXPECT_EQ(InData(rq::kReadBlock, 5), "37137");
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "07\r10\r\x06");

  // Errors, flushes and control characters.
  Out(rq::kSendLine, "XYZZY");
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "\aERR003\r");
  Out(rq::kSendLine, "I10");
  Out(rq::kFlush, "", 20);
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "\0"s);
  EXPECT_EQ(InData(rq::kControlResponse, 256, 1024 + 7), std::string(12, '0') + "\r\x06");
  EXPECT_EQ(InData(rq::kReadyWord, 2), "\0\0"s);
  Out(rq::kSendChar, "", 'I');
  Out(rq::kSendChar, "", '5');
  Out(rq::kSendChar, "", '\r');
  EXPECT_EQ(InData(rq::kReadyWord, 2), "\x01\0"s);
  EXPECT_EQ(InData(rq::kReadLine, 256), "0\r\x06");
}

TEST_F(UsbPortTest, DprRequestsStayInsideTheWindow) {
  ASSERT_EQ(Out(rq::kWriteDpr, "\x11\x22\x33\x44", 0x3FFC).handshake, UsbHandshake::kAck);
  EXPECT_EQ(InData(rq::kReadDpr, 4, 0x3FFC), "\x11\x22\x33\x44");
  // Blocks that leave the 16384-byte window are refused, nothing written.
  EXPECT_EQ(Out(rq::kWriteDpr, "\x55\x55\x55\x55\x55", 0x3FFC).handshake, UsbHandshake::kStall);
  EXPECT_EQ(In(rq::kReadDpr, 8, 0x3FFC).handshake, UsbHandshake::kStall);
  EXPECT_EQ(card_.memory().DprDword(0x3FFC), 0x44332211u);

  // Set bit 3, then write bits 4..7 = 0xA (AND mask, OR bits).
  card_.memory().SetDprDword(0x100, 0);
  Out(rq::kSetDprBit, Le32(1u << 3), 0x100, 1);
  Out(rq::kSetDprBits, Le32(0xFFFFFF0F) + Le32(0xA0), 0x100);
  EXPECT_EQ(card_.memory().DprDword(0x100), 0xA8u);
  Out(rq::kSetDprBit, Le32(~(1u << 3)), 0x100, 0);
  EXPECT_EQ(card_.memory().DprDword(0x100), 0xA0u);
  EXPECT_EQ(Out(rq::kSetDprBit, Le32(1), 0x3FFE, 1).handshake, UsbHandshake::kStall);
}

TEST_F(UsbPortTest, DownloadBlocksReportTheFailingLine) {
  Out(rq::kDownloadBlock, "I100=1\0I101=2\0XYZZY\0I104=3\0"s);
  const uint32_t status = FromLe32(InData(rq::kDownloadStatus, 4));
  EXPECT_EQ(status & 0x80000000u, 0x80000000u);
  EXPECT_EQ(status & 0xFFFF, 3u);
  EXPECT_EQ((status >> 16) & 0xFF, 3u);
  EXPECT_EQ(card_.IVar(101), 2);
  EXPECT_EQ(card_.IVar(104), 0);  // lines after the failing one do not run

  Out(rq::kDownloadBlock, "I104=3\0"s);
  EXPECT_EQ(FromLe32(InData(rq::kDownloadStatus, 4)), 0u);
}

TEST_F(UsbPortTest, ResetIdentifyAndTheOtherPortsOfTheCard) {
  Out(rq::kSendLine, "I10");
  Out(rq::kReset);
  EXPECT_EQ(port_.resets(), 1);
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "\0"s);  // the reset dropped the reply

  const auto id = UsbIdentityRow(port_.identity_row()).Bytes();
  EXPECT_EQ(InData(rq::kIdentify, 7), std::string(id.begin(), id.end()));
  const std::string back = InData(rq::kReadBack, 48);
  ASSERT_EQ(back.size(), 48u);
  EXPECT_EQ(back.substr(8, card_.model().version.size()), card_.model().version);

  Out(rq::kGather, "", 5 * 60 + 10, 1);
  EXPECT_TRUE(port_.gathering());
  EXPECT_EQ(port_.gather_value(), 310);

  // The USB controller's memory takes blocks inside it only.
  EXPECT_EQ(Out(rq::kLoadController, "abc", 0x100).handshake, UsbHandshake::kAck);
  EXPECT_EQ(port_.controller_memory(0x100, 3), "abc");
  EXPECT_EQ(Out(rq::kLoadController, "abc", rq::kControllerMemory - 2).handshake,
            UsbHandshake::kStall);

  // Endpoints work once the device is configured.
  EXPECT_EQ(port_.Transfer(UsbAttachment::kBulkOut, "I10\r", 0).handshake, UsbHandshake::kStall);
  port_.Control(UsbSetup{0, rq::kSetConfiguration, 1, 0, 0}, "");
  port_.Transfer(UsbAttachment::kBulkOut, "I10\r", 0);
  EXPECT_EQ(port_.Transfer(UsbAttachment::kBulkIn, "", 64).data, "3713707\r\x06");
  port_.Transfer(UsbAttachment::kRotaryOut, "\x01\x02\x03", 0);
  EXPECT_EQ(port_.host_rotary_data(), "\x01\x02\x03");
  Out(rq::kHostRotaryReset, "", 20);
  EXPECT_EQ(port_.host_rotary_data(), "");
  const std::string packet = port_.IsoPacket(UsbAttachment::kIsoIn, 0x1234, "", 8).data;
  EXPECT_EQ(packet, "\x34\x12\0\0\x38\x39\x3A\x3B"s);
}

TEST_F(UsbPortTest, ScriptedFaultsShapeTheAnswers) {
  // Short: a fixed answer loses its tail; text keeps the rest for the next read.
  port_.ScriptFault(rq::kIdentify, UsbFault::kShort, 3);
  EXPECT_EQ(InData(rq::kIdentify, 7).size(), 3u);
  EXPECT_EQ(InData(rq::kIdentify, 7).size(), 7u);  // one fault only
  Out(rq::kSendLine, "I10");
  port_.ScriptFault(rq::kReadBlock, UsbFault::kShort, 1);
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "3");
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "713707\r\x06");

  // Oversized: more than the host asked for.
  port_.ScriptFault(rq::kReadyWord, UsbFault::kOversized, 5);
  EXPECT_EQ(InData(rq::kReadyWord, 2).size(), 7u);

  // Stalled and unanswered requests, until cleared.
  port_.ScriptFault(rq::kReadDpr, UsbFault::kStall, 0, -1);
  EXPECT_EQ(In(rq::kReadDpr, 4).handshake, UsbHandshake::kStall);
  EXPECT_EQ(In(rq::kReadDpr, 4).handshake, UsbHandshake::kStall);
  port_.ClearFaults();
  EXPECT_EQ(In(rq::kReadDpr, 4).handshake, UsbHandshake::kAck);
  port_.ScriptFault(rq::kSendLine, UsbFault::kNoResponse);
  EXPECT_EQ(Out(rq::kSendLine, "I10").handshake, UsbHandshake::kNoResponse);
  EXPECT_EQ(InData(rq::kReadBlock, 4096), "\0"s);  // the line never ran

  // A muted card takes commands but answers nothing; an unplugged one nothing at all.
  card_.script().SetMuted(true);
  EXPECT_EQ(Out(rq::kSendLine, "I10").handshake, UsbHandshake::kAck);
  EXPECT_EQ(In(rq::kReadBlock, 4096).handshake, UsbHandshake::kNoResponse);
  card_.script().SetMuted(false);
  port_.SetDetached(true);
  EXPECT_EQ(GetDescriptor(1, 0, 18).handshake, UsbHandshake::kNoResponse);
  EXPECT_EQ(Out(rq::kFlush, "", 20).handshake, UsbHandshake::kNoResponse);
}

TEST(UsbIdentityTest, RowsTellGenerationAndLayout) {
  struct Case {
    int row;
    bool older, small;
  } cases[] = {{0, true, true},  {1, true, false},  {2, true, false},
               {3, false, true}, {4, false, false}, {5, false, true},
               {8, false, true}, {11, false, true}, {12, false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(UsbRowIsOlderFirmware(c.row), c.older) << c.row;
    EXPECT_EQ(UsbRowIsSmallLayout(c.row), c.small) << c.row;
  }
  // Every row differs from every other in the bytes a host compares.
  for (int a = 0; a < kUsbIdentityRows; ++a) {
    for (int b = a + 1; b < kUsbIdentityRows; ++b) {
      const auto x = UsbIdentityRow(a).Bytes(), y = UsbIdentityRow(b).Bytes();
      EXPECT_NE(std::memcmp(x.data(), y.data(), 5), 0) << a << " " << b;
    }
  }
  Card older(CardModel::Older()), spran(CardModel::Spran());
  EXPECT_EQ(UsbAttachment(older).identity_row(), 3);
  EXPECT_EQ(UsbAttachment(spran).identity_row(), 4);
  EXPECT_EQ(UsbAttachment(spran).status_word_offset(), 0x0F40);
}

TEST(UsbOlderFirmwareTest, ReadyWordLivesInTheMailboxStatusWord) {
  Card card(CardModel::Older());
  UsbOptions options;
  options.identity_row = 0;
  UsbAttachment port(card, options);
  ASSERT_EQ(port.status_word_offset(), 0x06D0);
  port.Control(UsbSetup{rq::kVendor, rq::kSendLine, 0, 0, 3}, "I10");
  EXPECT_EQ(card.memory().DprWord(0x06D0), 1);
  port.Control(UsbSetup{rq::kIn | rq::kVendor, rq::kReadBlock, 0, 0, 4096}, "");
  EXPECT_EQ(card.memory().DprWord(0x06D0), 0);
}

}  // namespace
}  // namespace zimo::cardsim
