// ZimoUSB's DPR, port, gather, rotary, download and event codes, checked
// against the card's memory and the vendor requests it received.
#include <numeric>

#include "platform/named_event.h"
#include "usb_fixture.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::string_literals;

std::vector<uint8_t> Offset(uint32_t offset) { return RecordBytes(offset); }

TEST_F(UsbTest, DprBlocksMoveIn4096BytePiecesAndReadBackEqual) {
  const int card = AddCard();
  std::vector<uint8_t> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
  Port(card).ClearLog();
  std::vector<uint8_t> argument = Offset(0x0100);
  const kernel::DeviceIoResult w =
      host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE, data, argument);
  EXPECT_EQ(w.status, kernel::kStatusSuccess);
  EXPECT_EQ(w.information, 0u);
  EXPECT_EQ(argument, Offset(0x0100));  // the argument is read, never written

  const UsbReply r = Ioctl(IOCTL_ZIMO_DPR_READ, Offset(0x0100), data.size());
  EXPECT_EQ(r.count, data.size());
  EXPECT_TRUE(r.out == data);
  uint8_t direct[16];
  Card(card).memory().ReadDpr(0x0100 + 9990, direct, 10);
  EXPECT_EQ(std::memcmp(direct, data.data() + 9990, 10), 0);

  for (uint8_t code : {usbreq::kWriteDpr, usbreq::kReadDpr}) {
    std::vector<std::pair<uint16_t, uint16_t>> pieces;
    for (const auto& q : Requests(card, code)) pieces.push_back({q.setup.value, q.setup.length});
    EXPECT_EQ(pieces, (std::vector<std::pair<uint16_t, uint16_t>>{
                          {0x0100, 4096}, {0x1100, 4096}, {0x2100, 1808}}))
        << std::hex << static_cast<int>(code);
  }
}

// Blocks must lie inside the 64 KB the driver addresses: offsets do not
// wrap, and a block the card cannot deliver whole is not reported as read.
TEST_F(UsbTest, DprBlocksPastTheEndAreRefused) {
  const int card = AddCard();
  struct Case {
    uint32_t offset, length;
    bool sent;
  } cases[] = {
      {0xF000, 10000, false},  // would wrap to 0x0000
      {0xFFFF, 2, false},
      {0x0000, 0, false},
      {0x8000, 16, true},  // inside 64 KB, outside the card's window: the card refuses
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Port(card).ClearLog();
    EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_READ, Offset(c.offset), c.length).count, 0u);
    std::vector<uint8_t> argument = Offset(c.offset);
    host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE,
                                    std::vector<uint8_t>(c.length, 0x5A), argument);
    EXPECT_EQ(Port(card).vendor_requests().size(), c.sent ? 2u : 0u);
  }
  EXPECT_EQ(LastUsbError(), kernel::usb::kUsbdStall);
  uint8_t start[4];
  Card(card).memory().ReadDpr(0, start, 4);
  EXPECT_EQ(std::string(start, start + 4), "\0\0\0\0"s);
}

TEST_F(UsbTest, BitOperationsCheckTheOffset) {
  const int card = AddCard();
  Card(card).memory().SetDprDword(0x200, 0x0000F0F0);
  struct Case {
    uint32_t code;
    uint32_t offset, value;
    uint16_t first, width;
    uint32_t done, value_out, dword_after;
  } cases[] = {
      {IOCTL_ZIMO_DPR_GET_BITS, 0x200, 0, 4, 8, 1, 0x0F, 0x0000F0F0},
      {IOCTL_ZIMO_DPR_SET_BITS, 0x200, 0x1A5, 0, 8, 1, 0x1A5, 0x0000F0A5},  // masked to the field
      {IOCTL_ZIMO_DPR_SET_BIT, 0x200, 1, 20, 0, 1, 1, 0x0010F0A5},
      {IOCTL_ZIMO_DPR_GET_BIT, 0x200, 0, 20, 0, 1, 1, 0x0010F0A5},
      {IOCTL_ZIMO_DPR_SET_BIT, 0x200, 0x10000, 20, 0, 1, 0x10000,
       0x0000F0A5},  // low 16 bits 0: clears
      {IOCTL_ZIMO_DPR_SET_BITS, 0x10000, 1, 0, 1, 0, 1, 0x0000F0A5},
      {IOCTL_ZIMO_DPR_SET_BIT, 0xFFFE, 1, 0, 0, 0, 1, 0x0000F0A5},
      {IOCTL_ZIMO_DPR_GET_BITS, 0x10000, 7, 0, 8, 0, 7, 0x0000F0A5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " @" + std::to_string(c.offset));
    const ZimoDprBitsRecord in{c.value, c.offset, c.first, c.width, 0x77};
    Port(card).ClearLog();
    const UsbReply r = Ioctl(c.code, RecordBytes(in), sizeof(in));
    EXPECT_EQ(r.count, 16u);
    const auto out = FromBytes<ZimoDprBitsRecord>(r.out);
    EXPECT_EQ(out.done, c.done);
    EXPECT_EQ(out.value, c.value_out);
    EXPECT_EQ(Card(card).memory().DprDword(0x200), c.dword_after);
    if (c.done == 0) {
      EXPECT_TRUE(Port(card).vendor_requests().empty());
    }
  }
}

TEST_F(UsbTest, PortsGatherAndRawRequests) {
  const int card = AddCard();
  Ioctl(IOCTL_ZIMO_PORT_WRITE, {3, 0x5C});
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_PORT_READ, {3}).count, 0x5Cu);
  const auto write = Requests(card, usbreq::kPortRegister).front().setup;
  EXPECT_EQ(write.value, 3);
  EXPECT_EQ(write.index, 0x5C);

  Card(card).script().ClearLog();
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_READ_WORD, {1, 0, 5, 0}).count, 0u);
  EXPECT_TRUE(Port(card).gathering());
  EXPECT_EQ(Port(card).gather_value(), 5 * 60 + 10);
  Ioctl(IOCTL_ZIMO_DPR_READ_WORD, {0, 0, 2, 0});
  EXPECT_FALSE(Port(card).gathering());
  const std::vector<std::string> lines = Card(card).script().received();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "I48=1 I59=5 GAT ");
  EXPECT_EQ(lines[1], "I48=0");

  // The raw request: 0xD5 reads 48 bytes back, other codes ask for nothing.
  UsbReply r = Ioctl(IOCTL_ZIMO_VENDOR_REQUEST, {usbreq::kReadBack}, 48);
  EXPECT_EQ(r.count, 48u);
  const auto id = cardsim::UsbIdentityRow(Port(card).identity_row()).Bytes();
  EXPECT_EQ(std::memcmp(r.out.data(), id.data(), id.size()), 0);
  Port(card).ClearLog();
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_VENDOR_REQUEST, {usbreq::kIdentify}, 48).count, 0u);
  ASSERT_EQ(Port(card).vendor_requests().size(), 1u);
  EXPECT_EQ(Port(card).vendor_requests()[0].setup.length, 0);
}

TEST_F(UsbTest, RotaryBlocksAndTheirStatus) {
  const int card = AddCard();
  // Buffer 0 of the older layout: 100 words at card address $D000 + 0x200.
  cardsim::Memory& memory = Card(card).memory();
  memory.SetDprWord(0x7DC + 8, 100);
  memory.SetDprWord(0x7DC + 10, 0xD000 + 0x200);

  std::vector<uint8_t> block(4102, 0);
  block[0] = 10;  // one command: a 2-byte count (8) and two words
  block[6] = 8;
  for (int i = 0; i < 8; ++i) block[8 + i] = static_cast<uint8_t>(0x11 * (i + 1));
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_ROT_PUT, block).count, 10u);  // code 0, 10 bytes taken
  EXPECT_EQ(memory.DprWord(0x7DC + 4), 2);                 // host index moved
  EXPECT_EQ(Query(IOCTL_ZIMO_ROT_STATUS).count, 10u);

  struct Case {
    size_t length;
    uint16_t count;
  } refused[] = {{4100, 10}, {4103, 10}, {4102, 4097}};
  for (const Case& c : refused) {
    std::vector<uint8_t> bad(c.length, 0);
    bad[0] = static_cast<uint8_t>(c.count & 0xFF);
    bad[1] = static_cast<uint8_t>(c.count >> 8);
    Port(card).ClearLog();
    EXPECT_EQ(Ioctl(IOCTL_ZIMO_ROT_PUT, bad).count, 0u) << c.length << " " << c.count;
    EXPECT_TRUE(Port(card).vendor_requests().empty());
  }
  // The buffer value of the long form, and the init.
  std::vector<uint8_t> with_buffer(4108, 0);
  with_buffer[4104] = 9;
  Port(card).ClearLog();
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_ROT_PUT, with_buffer).count, 1u << 16);  // buffer 9: not taken
  EXPECT_EQ(Requests(card, usbreq::kRotaryPut)[0].setup.value, 9);
  Ioctl(IOCTL_ZIMO_ROT_INIT, RecordBytes(uint32_t{0x10000}));
  EXPECT_EQ(memory.DprWord(0x7DC + 4), 0);
  EXPECT_EQ(Requests(card, usbreq::kRotaryInit)[0].setup.value, 0);
  // The init's buffer value: a u16 or a u32's low half; 0 without input.
  struct Init {
    std::vector<uint8_t> in;
    uint16_t value;
  } inits[] = {{{3, 0}, 3}, {RecordBytes(uint32_t{0x10005}), 5}, {{}, 0}};
  for (const Init& i : inits) {
    Port(card).ClearLog();
    Ioctl(IOCTL_ZIMO_ROT_INIT, i.in);
    const auto sent = Requests(card, usbreq::kRotaryInit);
    ASSERT_EQ(sent.size(), 1u) << i.in.size();
    EXPECT_EQ(sent[0].setup.value, i.value) << i.in.size();
  }
}

TEST_F(UsbTest, DownloadBlocksHostRotaryAndFirmware) {
  const int card = AddCard();
  Ioctl(IOCTL_ZIMO_DOWNLOAD_BLOCK, Bytes("I100=5\0XYZZY\0I101=6\0"s));
  const uint32_t status = static_cast<uint32_t>(Query(IOCTL_ZIMO_DOWNLOAD_STATUS).count);
  EXPECT_EQ(status, 0x80000000u | 3u << 16 | 2u);
  EXPECT_EQ(Card(card).IVar(100), 5);
  Ioctl(IOCTL_ZIMO_SEND_BLOCK, Text("I101=7"));
  EXPECT_EQ(Card(card).IVar(101), 7);

  // Host-side rotary packets go out on pipe 2 when the card is ready.
  std::vector<uint8_t> packet(300);
  std::iota(packet.begin(), packet.end(), 0);
  std::vector<uint8_t> out = packet;
  kernel::DeviceIoResult put =
      host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_HOSTROT_PUT, {}, out);
  EXPECT_EQ(put.information, 300u);
  EXPECT_EQ(Port(card).host_rotary_data(), std::string(packet.begin(), packet.end()));
  Port(card).SetHostRotaryReady(false);
  put = host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_HOSTROT_PUT, {}, out);
  EXPECT_EQ(put.status, kernel::kStatusSuccess);
  EXPECT_EQ(put.information, 0u);
  Query(IOCTL_ZIMO_HOSTROT_INIT);
  EXPECT_EQ(Port(card).host_rotary_data(), "");
  Port(card).ClearLog();
  Query(IOCTL_ZIMO_HOSTROT_REQ_E9);
  Query(IOCTL_ZIMO_HOSTROT_REQ_E7);
  EXPECT_EQ(RequestCodes(card),
            (std::vector<uint8_t>{usbreq::kHostRotaryE9, usbreq::kHostRotaryE7}));

  // Firmware blocks with the caller's value, to a card in bootstrap mode.
  Card(card).EnterBootstrap();
  std::vector<uint8_t> value = RecordBytes(uint32_t{0x00010001});
  host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_VALUE_BLOCK, std::vector<uint8_t>(300, 1),
                                  value);
  EXPECT_EQ(Card(card).firmware_bytes(), 300u);
  EXPECT_EQ(Requests(card, usbreq::kFirmwareBlock)[0].setup.value, 1);
}

TEST_F(UsbTest, OlderCardsNeverTakeHostRotaryPackets) {
  const int card = AddCard(UsbCard(2));
  std::vector<uint8_t> out(10, 1);
  const kernel::DeviceIoResult put =
      host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_HOSTROT_PUT, {}, out);
  EXPECT_EQ(put.information, 0u);
  EXPECT_EQ(Port(card).host_rotary_data(), "");
}

TEST_F(UsbTest, EventsAreReferencedAndReleasedButNeverSet) {
  AddCard();
  auto ipos = platform::NamedEvent::Create("ZIMO0IPOS", platform::EventReset::kManual, true);
  auto breq = platform::NamedEvent::Create("ZIMO0BREQ", platform::EventReset::kManual, false);
  ASSERT_TRUE(ipos.ok() && breq.ok());
  auto is_set = [](platform::NamedEvent& e) { return e.Wait(std::chrono::milliseconds(0)).ok(); };
  const kernel::HandleNames handles = {{0x100, "ZIMO0IPOS"}, {0x104, "ZIMO0BREQ"}};
  auto handle = [](uint32_t h) { return RecordBytes(uint64_t{h}); };
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_ADD_EVENT, handle(0x100), 0, 0, &handles).status,
            kernel::kStatusSuccess);
  EXPECT_FALSE(is_set(*ipos));  // a referenced event is cleared
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_ADD_EVENT, RecordBytes(uint32_t{0x104}), 0, 0, &handles).status,
            kernel::kStatusSuccess);  // a 32-bit caller's handle
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_ADD_EVENT, handle(0x999), 0, 0, &handles).status,
            kernel::kStatusInvalidHandle);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_REMOVE_EVENT, handle(0x104), 0, 0, &handles).status,
            kernel::kStatusSuccess);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_REMOVE_EVENT, handle(0x998), 0, 0, &handles).status,
            kernel::kStatusInvalidHandle);
  // No interrupt line: enabling does nothing, and nothing is ever set.
  EXPECT_EQ(Query(IOCTL_ZIMO_INTR_ENABLE).count, 0u);
  EXPECT_FALSE(is_set(*ipos));
}

TEST_F(UsbTest, CodesThisDriverDoesNotServeAreInvalidParameters) {
  AddCard();
  struct Case {
    uint32_t code;
    NTSTATUS status;
    uint64_t count;
  } cases[] = {
      {IOCTL_ZIMO_DPR_AVAILABLE, kernel::kStatusSuccess, 1},
      {IOCTL_ZIMO_INTR_DISABLE, kernel::kStatusSuccess, 0},
      {IOCTL_ZIMO_RESERVED_8DC, kernel::kStatusSuccess, 0},
      {0x1D0968, kernel::kStatusSuccess, 0},
      {IOCTL_ZIMO_SET_INTR_MASK, kInvalidParameter, 0},
      {IOCTL_ZIMO_DPR_MAILBOX_STATUS, kInvalidParameter, 0},
      {IOCTL_ZIMO_GET_RESOURCES, kInvalidParameter, 0},
      {IOCTL_ZIMO_DPR_WRITE_WORD, kInvalidParameter, 0},
      {0x1D0FFC, kInvalidParameter, 0},
      {0x00330000, kInvalidParameter, 0},
  };
  for (const Case& c : cases) {
    const UsbReply r = Query(c.code, 24);
    EXPECT_EQ(r.status, c.status) << std::hex << c.code;
    EXPECT_EQ(r.count, c.count) << std::hex << c.code;
  }
}

}  // namespace
}  // namespace zimo::drivers::testing
