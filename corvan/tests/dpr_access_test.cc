// Raw DPR access: blocks, words, floats, bits and bit fields through the
// PCI driver against a simulated card, the window's bounds, devices without
// DPR access, the network route's exact-answer rule, and the pieces of the
// first opener's DPR set-up (rotary descriptors, variable-buffer words).
#include "corvan/dpr_api.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "dpr/dpr_map.h"
#include "dpr/rotary_reset.h"
#include "dpr/varbuf_count.h"
#include "link/transports.h"
#include "pci_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::PciCardTest;

class DprAccessTest : public PciCardTest {
 protected:
  // The low 16 bits of the Y or X half of card word `address`, asked of the
  // card through its bus port: what the card itself sees in its DPR.
  std::uint32_t CardHalf(char half, std::uint32_t address) {
    char command[32];
    std::snprintf(command, sizeof command, "rh%c$%X", half, address);
    char reply[32] = {};
    const std::uint32_t word = ZimoBUSGetResponseA(0, reply, sizeof reply, command);
    EXPECT_EQ(word & kStatusMask, kStatusAck) << command;
    return static_cast<std::uint32_t>(std::strtoul(reply, nullptr, 16)) & 0xFFFF;
  }
};

TEST_F(DprAccessTest, ABlockWrittenAndReadBackIsWhatTheCardHolds) {
  std::vector<std::uint8_t> block(3000);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 3);
  constexpr std::uint32_t kOffset = 0x1000;
  ASSERT_EQ(ZimoDPRSetMem(0, kOffset, 3000, block.data()), block.data());
  std::vector<std::uint8_t> back(3000, 0);
  ASSERT_EQ(ZimoDPRGetMem(0, kOffset, 3000, back.data()), back.data());
  EXPECT_EQ(back, block);
  // The card sees the same bytes: its word at (offset / 4) past $D000 holds
  // the Y half's low 16 bits at +0 and the X half's at +2.
  for (std::uint32_t at : {0u, 1000u, 2996u}) {
    const std::uint32_t address = kDprCardStartOlder + (kOffset + at) / 4;
    EXPECT_EQ(CardHalf('y', address), block[at] | block[at + 1] << 8) << at;
    EXPECT_EQ(CardHalf('x', address), block[at + 2] | block[at + 3] << 8) << at;
  }
}

TEST_F(DprAccessTest, WordsDwordsAndFloats) {
  ZimoDPRSetWord(0, 0x1200, 0xBEEF);
  EXPECT_EQ(ZimoDPRGetWord(0, 0x1200), 0xBEEF);
  ZimoDPRSetDWord(0, 0x1204, 0x12345678);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x1204), 0x12345678u);
  EXPECT_EQ(ZimoDPRGetDWordMask(0, 0x1204, 0xFF00), 0x5600u);
  ZimoDPRSetDWordMask(0, 0x1204, 0x0F, 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x1204), 0x1234567Fu);
  ZimoDPRSetDWordMask(0, 0x1204, 0xF0, 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0x1204), 0x1234560Fu);
  // A float is stored as the single nearest the double, and read back as
  // that single.
  ZimoDPRSetFloat(0, 0x1208, 0.1);
  EXPECT_EQ(ZimoDPRGetFloat(0, 0x1208), static_cast<double>(0.1f));
  EXPECT_NE(ZimoDPRGetFloat(0, 0x1208), 0.1);
}

TEST_F(DprAccessTest, BitOperationsChangeOnlyTheirBits) {
  constexpr std::uint32_t kAt = 0x1100;
  ZimoDPRSetDWord(0, kAt, 0x12345678);
  EXPECT_EQ(ZimoDPRSetMemBit(0, kAt, 0, 1), 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345679u);
  EXPECT_EQ(ZimoDPRSetMemBit(0, kAt, 4, 0), 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345669u);
  std::uint32_t bit = 7;
  EXPECT_EQ(ZimoDPRGetMemBit(0, kAt, 5, &bit), 1);
  EXPECT_EQ(bit, 1u);
  EXPECT_EQ(ZimoDPRGetMemBit(0, kAt, 4, &bit), 1);
  EXPECT_EQ(bit, 0u);

  // A bit field takes a value no wider than the field: the neighbours stay.
  EXPECT_EQ(ZimoDPRSetMemBits(0, kAt, 8, 4, 0x1F), 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345F69u);
  std::uint32_t field = 0;
  EXPECT_EQ(ZimoDPRGetMemBits(0, kAt, 12, 8, &field), 1);
  EXPECT_EQ(field, 0x45u);

  ZimoDPRSetDWordBit(0, kAt, 31);
  EXPECT_EQ(ZimoDPRDWordBitSet(0, kAt, 31), 1);
  ZimoDPRResetDWordBit(0, kAt, 31);
  EXPECT_EQ(ZimoDPRDWordBitSet(0, kAt, 31), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345F69u);

  // An unaligned dword: the four bytes from the offset on.
  EXPECT_EQ(ZimoDPRSetMemBit(0, kAt + 1, 0, 0), 1);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345E69u);

  EXPECT_EQ(ZimoDPRGetMemBits(0, kAt, 0, 8, nullptr), 0);
  EXPECT_EQ(ZimoDPRGetMemBit(0, kAt, 0, nullptr), 0);
  EXPECT_EQ(ZimoDPRSetMemBit(0, kAt, 32, 1), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, kAt), 0x12345E69u);
}

TEST_F(DprAccessTest, RequestsPastTheWindowFailWithoutWriting) {
  const std::uint8_t ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  ZimoDPRSetDWord(0, 16380, 0xCAFEF00D);
  EXPECT_EQ(ZimoDPRSetMem(0, 16380, 8, ones), nullptr);
  EXPECT_EQ(ZimoDPRSetMem(0, 0xFFFFFFFC, 8, ones), nullptr);
  EXPECT_EQ(ZimoDPRGetDWord(0, 16380), 0xCAFEF00Du);
  EXPECT_EQ(ZimoDPRSetMemBit(0, 16382, 0, 1), 0);
  EXPECT_EQ(ZimoDPRSetMemBits(0, 16381, 0, 8, 0xFF), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, 16380), 0xCAFEF00Du);

  std::uint8_t untouched[4] = {9, 9, 9, 9};
  EXPECT_EQ(ZimoDPRGetMem(0, 16384, 1, untouched), nullptr);
  EXPECT_EQ(ZimoDPRGetMem(0, 16382, 4, untouched), nullptr);
  EXPECT_EQ(untouched[0], 9);
  EXPECT_EQ(ZimoDPRGetDWord(0, 16382), 0u);
  EXPECT_EQ(ZimoDPRGetWord(0, 16383), 0u);
}

TEST_F(DprAccessTest, DevicesWithoutDprAccessGetTheFailureResult) {
  // Device 1 is not open here; device 2 is an open serial device.
  LocationHandle serial_handle;
  App().User(2)->Transport = &serial_handle;
  block(2).Location = kLocationSerial;
  std::uint32_t value = 5;
  std::uint8_t byte = 9;
  for (std::uint32_t device : {1u, 2u, 8u, 9u}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(ZimoDPRGetMem(device, 0, 1, &byte), nullptr);
    EXPECT_EQ(ZimoDPRSetMem(device, 0, 1, &byte), nullptr);
    EXPECT_EQ(ZimoDPRGetMemBits(device, 0, 0, 4, &value), 0);
    EXPECT_EQ(ZimoDPRSetMemBit(device, 0, 0, 1), 0);
    EXPECT_EQ(ZimoDPRGetDWord(device, 0), 0u);
    EXPECT_EQ(ZimoDPRGetFloat(device, 0), 0.0);
  }
  EXPECT_EQ(byte, 9);
  EXPECT_EQ(value, 5u);
  App().User(2)->Transport = nullptr;
}

TEST_F(DprAccessTest, AddressRanges) {
  EXPECT_EQ(ZimoDPRAddressRange(0, 0, 1), 0u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 1, 1), 16384u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 0, 0), 0xD000u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 1, 0), 0xE000u);
  block().SpranFlag = 1;
  block().CardType = 6;
  EXPECT_EQ(ZimoDPRAddressRange(0, 0, 0), 0x60000u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 1, 0), 0x61000u);
  block().CardType = 8;
  EXPECT_EQ(ZimoDPRAddressRange(0, 0, 0), 0x6C000u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 1, 0), 0x6D000u);
  EXPECT_EQ(ZimoDPRAddressRange(0, 1, 1), 16384u);
}

// A network link kept in memory, whose answers a test can spoil.
class MemoryRoute : public DprNetworkRoute {
 public:
  struct Request {
    std::uint32_t offset;
    std::uint32_t count;
  };
  bool IsOpen(int device) override { return device == 3; }
  std::int32_t GetMem(int, void* destination, std::uint32_t offset, std::uint32_t count) override {
    reads.push_back({offset, count});
    std::memcpy(destination, dpr + offset, count);
    return reads.size() == short_read ? static_cast<std::int32_t>(count) - 1
                                      : static_cast<std::int32_t>(count);
  }
  std::int32_t SetMem(int, const void* source, std::uint32_t offset, std::uint32_t count) override {
    std::memcpy(dpr + offset, source, count);
    return write_answer;
  }
  std::int32_t GetMemBits(int, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
                          std::uint32_t* value) override {
    std::uint32_t dword;
    std::memcpy(&dword, dpr + offset, 4);
    *value = (dword >> first) & ((1u << count) - 1);
    return bit_answer;
  }
  std::int32_t SetMemBits(int, std::uint32_t, std::uint16_t, std::uint16_t,
                          std::uint32_t) override {
    return write_answer;
  }
  std::int32_t GetMemBit(int, std::uint32_t, std::uint32_t, std::uint32_t* value) override {
    *value = 1;
    return bit_answer;
  }
  std::int32_t SetMemBit(int, std::uint32_t, std::uint32_t, std::uint32_t) override {
    return write_answer;
  }

  std::uint8_t dpr[kDprWindowBytes] = {};
  std::vector<Request> reads;
  std::size_t short_read = 0;  // the n-th read (1-based) comes back a byte short
  std::int32_t bit_answer = 4;
  std::int32_t write_answer = 1;
};

TEST(DprNetworkRouteTest, BlocksGoInChunksAndOnlyExactAnswersCount) {
  zimo::testing::TempHome home;
  auto table = std::make_unique<SharedDeviceTable>();
  CommLibraryApp::UseServerTable(table.get());
  table->Devices[3].Location = kLocationEthernet;
  MemoryRoute route;
  for (std::uint32_t i = 0; i < kDprWindowBytes; ++i) route.dpr[i] = static_cast<std::uint8_t>(i);
  ScopedTransportOverride over(kLocationEthernet, MakeEthernetTransport(route));

  std::vector<std::uint8_t> block(3000, 0);
  ASSERT_NE(ZimoDPRGetMem(3, 100, 3000, block.data()), nullptr);
  ASSERT_EQ(route.reads.size(), 3u);
  EXPECT_EQ(route.reads[0].offset, 100u);
  EXPECT_EQ(route.reads[0].count, 1400u);
  EXPECT_EQ(route.reads[1].offset, 1500u);
  EXPECT_EQ(route.reads[1].count, 1400u);
  EXPECT_EQ(route.reads[2].offset, 2900u);
  EXPECT_EQ(route.reads[2].count, 200u);
  EXPECT_EQ(block[2999], static_cast<std::uint8_t>(3099));

  // One short chunk fails the whole read and leaves the caller's bytes.
  route.reads.clear();
  route.short_read = 2;
  std::vector<std::uint8_t> untouched(3000, 0xEE);
  EXPECT_EQ(ZimoDPRGetMem(3, 0, 3000, untouched.data()), nullptr);
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(3000, 0xEE));
  EXPECT_EQ(ZimoDPRGetDWord(3, 0), static_cast<std::uint32_t>(0x03020100));  // one chunk: fine

  // A bit request that failed (-1) or answered the wrong size is a failure.
  std::uint32_t value = 0;
  EXPECT_EQ(ZimoDPRGetMemBits(3, 0, 8, 8, &value), 1);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(ZimoDPRSetMemBit(3, 0, 1, 1), 1);
  route.bit_answer = -1;
  route.write_answer = -1;
  value = 77;
  EXPECT_EQ(ZimoDPRGetMemBits(3, 0, 8, 8, &value), 0);
  EXPECT_EQ(ZimoDPRGetMemBit(3, 0, 8, &value), 0);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(ZimoDPRSetMemBit(3, 0, 1, 1), 0);
  EXPECT_EQ(ZimoDPRSetMemBits(3, 0, 1, 1, 1), 0);
  route.write_answer = 2;
  EXPECT_EQ(ZimoDPRSetMemBit(3, 0, 1, 1), 0);
  EXPECT_EQ(ZimoDPRSetMem(3, 0, 4, &value), nullptr);

  over.Restore();  // the card's own route: device 3 has no link open
  EXPECT_EQ(ZimoDPRGetDWord(3, 0), 0u);
  App().End();
}

TEST_F(DprAccessTest, DeviceOpenResetsTheRotaryDescriptorsAndBufferWords) {
  App().User(0)->DprAvailable = 1;
  const RotBufDescriptor before{0x8001, 1, 17, 23, 100, 0xD800};
  for (int n = 0; n < kRotaryDescriptors; ++n) {
    RotBufDescriptor d = before;
    d.BufferNumber = static_cast<std::uint16_t>(n + 1);
    ZimoDPRSetMem(0, RotaryDescriptorOffset(false, n), sizeof d, &d);
  }
  ResetRotaryDescriptors(0);
  for (int n = 0; n < kRotaryDescriptors; ++n) {
    RotBufDescriptor d{};
    ASSERT_EQ(ZimoDPRGetRotBufDescriptor(0, n, &d), 1) << n;
    EXPECT_EQ(d.HostIndex, 0) << n;
    EXPECT_EQ(d.CardIndex, 0) << n;
    EXPECT_EQ(d.Size, 0) << n;
    EXPECT_EQ(d.Status, 0x8001) << n;
    EXPECT_EQ(d.BufferNumber, n + 1) << n;
    EXPECT_EQ(d.Start, 0xD800) << n;
  }

  // Firmware before 1.16B has no descriptors 2 to 7: they are left alone.
  // The version is compared as text from its first digit, so "1.16B" itself
  // has them and "1.16A" has not.
  struct Firmware {
    const char* version;
    bool has_upper;
  };
  for (const Firmware& f : {Firmware{"V1.16A", false}, Firmware{"V1.16B", true},
                            Firmware{"1.16B", true}, Firmware{"1.17", true}}) {
    SCOPED_TRACE(f.version);
    std::snprintf(block().FirmwareVersion, sizeof block().FirmwareVersion, "%s", f.version);
    ZimoDPRSetMem(0, RotaryDescriptorOffset(false, 0), sizeof before, &before);
    ZimoDPRSetMem(0, RotaryDescriptorOffset(false, 2), sizeof before, &before);
    ResetRotaryDescriptors(0);
    RotBufDescriptor d{};
    ASSERT_EQ(ZimoDPRGetRotBufDescriptor(0, 0, &d), 1);
    EXPECT_EQ(d.Size, 0);
    d.Size = 77;
    EXPECT_EQ(ZimoDPRGetRotBufDescriptor(0, 2, &d), f.has_upper ? 1 : 0);
    EXPECT_EQ(d.Size, 0);  // reset, or zeroed without being read
    ZimoDPRGetMem(0, RotaryDescriptorOffset(false, 2), sizeof d, &d);
    EXPECT_EQ(d.Size, f.has_upper ? 0 : 100);
  }
  RotBufDescriptor d{};
  EXPECT_EQ(ZimoDPRGetRotBufDescriptor(0, 8, &d), 0);
  App().User(0)->DprAvailable = 0;
  EXPECT_EQ(ZimoDPRGetRotBufDescriptor(0, 0, &d), 0);
}

// Open clears the variable-background entry count and the write-buffer
// control word, at the host offsets of each DPR generation.
TEST_F(DprAccessTest, DeviceOpenClearsTheVariableBufferWords) {
  struct Words {
    bool spran;
    std::uint32_t entry_count, write_control;
  };
  for (const Words& w : {Words{false, 0x7EC, 0x7D4}, Words{true, 0x1048, 0x104C}}) {
    SCOPED_TRACE(w.spran ? "SPRAN" : "older");
    block().SpranFlag = w.spran ? 1 : 0;
    // Both generations' words and their neighbours.
    std::vector<std::uint32_t> around;
    for (std::uint32_t at = 0x7D0; at < 0x7F0; at += 2) around.push_back(at);
    for (std::uint32_t at = 0x1040; at < 0x1050; at += 2) around.push_back(at);
    for (std::uint32_t at : around) ZimoDPRSetWord(0, at, 0x5A5A);
    ZimoDPRSetVBGNumEntries(0, 0);
    ZimoDPRSetWriteBufferControl(0, 0);
    for (std::uint32_t at : around) {
      const bool cleared = at == w.entry_count || at == w.write_control;
      EXPECT_EQ(ZimoDPRGetWord(0, at), cleared ? 0u : 0x5A5Au) << std::hex << at;
    }
  }
  block().SpranFlag = 0;
}

}  // namespace
}  // namespace zimo::corvan
