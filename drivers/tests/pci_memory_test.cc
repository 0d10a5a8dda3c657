// DPR memory codes: blocks, words, bits and bit fields, always inside the
// window; and a card that runs without its DPR.
#include <cstring>

#include "cardsim/memory.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using PciMemoryTest = PciTest;

std::vector<uint8_t> U32(uint32_t v) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &v, 4);
  return b;
}

std::vector<uint8_t> Bits(uint32_t value, uint32_t offset, uint16_t first, uint16_t width) {
  ZimoDprBitsRecord r{value, offset, first, width, 0xAAAA};
  std::vector<uint8_t> b(sizeof(r));
  std::memcpy(b.data(), &r, sizeof(r));
  return b;
}

ZimoDprBitsRecord BitsOut(const Reply& r) {
  ZimoDprBitsRecord out{};
  std::memcpy(&out, r.out.data(), sizeof(out));
  return out;
}

constexpr uint32_t kWindow = 16384;

TEST_F(PciMemoryTest, ReadsOnlyBlocksInsideTheWindow) {
  const int card = AddCard();
  Card(card).memory().SetDprDword(kWindow - 4, 0x11223344);
  Reply whole = Ioctl(IOCTL_ZIMO_DPR_READ, U32(0), kWindow);
  EXPECT_EQ(whole.count, kWindow);
  uint32_t last;
  std::memcpy(&last, whole.out.data() + kWindow - 4, 4);
  EXPECT_EQ(last, 0x11223344u);

  struct Case {
    uint32_t offset, length;
  };
  for (const Case& c : {Case{0, kWindow + 1}, Case{1, kWindow}, Case{kWindow - 2, 4},
                        Case{0xFFFFFFFF, 2}, Case{0, 0}}) {
    SCOPED_TRACE(c.offset);
    Reply r = Ioctl(IOCTL_ZIMO_DPR_READ, U32(c.offset), c.length);
    EXPECT_EQ(r.status, kernel::kStatusSuccess);
    EXPECT_EQ(r.count, 0u);
    for (uint8_t b : r.out) ASSERT_EQ(b, 0xEE);  // nothing copied
  }
}

TEST_F(PciMemoryTest, WriteTakesItsOffsetFromTheOutputBufferAndLeavesItAlone) {
  const int card = AddCard();
  Reply r = Ioctl(IOCTL_ZIMO_DPR_WRITE, {1, 2, 3}, 0);
  EXPECT_EQ(r.count, 0u);  // no output argument: nothing written
  std::vector<uint8_t> data = {0xA1, 0xA2, 0xA3};
  std::vector<uint8_t> offset = U32(0x100);
  kernel::DeviceIoResult result =
      host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE, data, offset);
  EXPECT_EQ(result.information, 0u);
  EXPECT_EQ(offset, U32(0x100));
  uint8_t got[3];
  Card(card).memory().ReadDpr(0x100, got, 3);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 3), data);
  // Past the end: nothing written.
  offset = U32(kWindow - 2);
  host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE, data, offset);
  EXPECT_EQ(Card(card).memory().DprWord(kWindow - 2), 0u);
}

TEST_F(PciMemoryTest, Words) {
  const int card = AddCard();
  std::vector<uint8_t> value = {0x34, 0x12};
  std::vector<uint8_t> offset = U32(0x200);
  EXPECT_EQ(host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE_WORD, value, offset)
                .information,
            2u);
  EXPECT_EQ(Card(card).memory().DprWord(0x200), 0x1234u);
  Reply read = Ioctl(IOCTL_ZIMO_DPR_READ_WORD, U32(0x200), 2);
  EXPECT_EQ(read.count, 2u);
  EXPECT_EQ(read.out[0] | read.out[1] << 8, 0x1234);
  offset = U32(kWindow - 1);
  EXPECT_EQ(host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE_WORD, value, offset)
                .information,
            0u);
  Reply outside = Ioctl(IOCTL_ZIMO_DPR_READ_WORD, U32(kWindow - 1), 2);
  EXPECT_EQ(outside.out[0] | outside.out[1] << 8, 0);
}

TEST_F(PciMemoryTest, BitFieldWriteTouchesOnlyItsField) {
  const int card = AddCard();
  Card(card).memory().SetDprDword(0x300, 0xFFFF00FF);
  // Width 4 at bit 8 with a value too wide for it: bits 8 to 11 become 0xF
  // and bit 12 stays clear.
  ZimoDprBitsRecord set = BitsOut(Ioctl(IOCTL_ZIMO_DPR_SET_BITS, Bits(0x1F, 0x300, 8, 4), 16));
  EXPECT_EQ(set.done, 1u);
  EXPECT_EQ(Card(card).memory().DprDword(0x300), 0xFFFF0FFFu);
  ZimoDprBitsRecord get = BitsOut(Ioctl(IOCTL_ZIMO_DPR_GET_BITS, Bits(0, 0x300, 4, 8), 16));
  EXPECT_EQ(get.done, 1u);
  EXPECT_EQ(get.value, 0xFFu);
  // Width 32 takes the whole dword.
  get = BitsOut(Ioctl(IOCTL_ZIMO_DPR_GET_BITS, Bits(0, 0x300, 0, 32), 16));
  EXPECT_EQ(get.value, 0xFFFF0FFFu);
}

TEST_F(PciMemoryTest, SingleBitsAndTheirRangeCheck) {
  const int card = AddCard();
  ZimoDprBitsRecord set = BitsOut(Ioctl(IOCTL_ZIMO_DPR_SET_BIT, Bits(1, 0x400, 5, 0), 16));
  EXPECT_EQ(set.done, 1u);
  EXPECT_EQ(Card(card).memory().DprDword(0x400), 1u << 5);
  // The bit number counts modulo 32.
  ZimoDprBitsRecord get = BitsOut(Ioctl(IOCTL_ZIMO_DPR_GET_BIT, Bits(0, 0x400, 37, 0), 16));
  EXPECT_EQ(get.value, 1u);
  EXPECT_EQ(get.done, 1u);
  // The dword must lie wholly inside the window.
  set = BitsOut(Ioctl(IOCTL_ZIMO_DPR_SET_BIT, Bits(1, kWindow - 2, 0, 0), 16));
  EXPECT_EQ(set.done, 0u);
  // A short record changes nothing and gets nothing back.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SET_BIT, std::vector<uint8_t>(15, 0), 16).count, 0u);
}

TEST_F(PciMemoryTest, ACardThatReportsNoDprRunsWithoutIt) {
  host::CardConfig config;
  config.dpr_unused = true;
  const int card = AddCard(config);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 0u);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_READ, U32(0), 16).count, 0u);
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_DPR_SEND_LINE, Text("I10")).count, 0u);
  std::vector<uint8_t> value = {1, 0};
  std::vector<uint8_t> offset = U32(0);
  EXPECT_EQ(host_->kernel().DeviceIoControl(*files_[0], IOCTL_ZIMO_DPR_WRITE_WORD, value, offset)
                .information,
            2u);
  EXPECT_EQ(Card(card).memory().DprWord(0), 0u);
  // The port channel still works.
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
  Reply resources = Query(IOCTL_ZIMO_GET_RESOURCES, 24);
  ZimoResourceInfo info;
  std::memcpy(&info, resources.out.data(), sizeof(info));
  EXPECT_EQ(info.dpr_length, 0u);
}

TEST_F(PciMemoryTest, WithTheDprMapped) {
  AddCard();
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 1u);
  Reply resources = Query(IOCTL_ZIMO_GET_RESOURCES, 24);
  EXPECT_EQ(resources.count, 24u);
  ZimoResourceInfo info;
  std::memcpy(&info, resources.out.data(), sizeof(info));
  EXPECT_NE(info.port_base, 0u);
  EXPECT_EQ(info.dpr_length, kWindow);
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_RESOURCES, 16).count, 0u);
}

TEST_F(PciMemoryTest, RegistersInMemorySpaceWorkThroughTheMapping) {
  host::CardConfig config;
  config.port_in_memory = true;
  AddCard(config);
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
}

}  // namespace
}  // namespace zimo::drivers::testing
