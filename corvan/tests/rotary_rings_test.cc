// Binary rotary rings in the DPR of a simulated PCI card: their allocation
// below the lowest ring, the put's room and wrap arithmetic, the
// descriptor's error bit, and the firmware that lacks buffers 2 to 7.
// The card's coordinate systems stay idle, so only the test moves the card
// index.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "card_log.h"
#include "corvan/dpr_api.h"
#include "corvan/rotary_api.h"
#include "corvan/status_api.h"
#include "dpr/rotary_reset.h"
#include "pci_card_fixture.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kTop = 0xD000 + 0x1000;  // card address past the window's end

class RotaryRingTest : public testing::PciCardTest {
 protected:
  void SetUp() override {
    testing::PciCardTest::SetUp();
    if (HasFatalFailure()) return;
    App().User(0)->DprAvailable = 1;
    block().DprCardBase = 0xD000;
    block().VbgNextFree = kTop;
    block().CardMotorCount = 8;
    block().CardVariableCount = 1024;
    for (int n = 0; n < 8; ++n) {
      RotBufDescriptor zero{};
      ZimoDPRSetRotBufDescriptor(0, n, &zero);
    }
  }
  void TearDown() override {
    App().User(0)->DprAvailable = 0;
    testing::PciCardTest::TearDown();
  }

  RotBufDescriptor Descriptor(int n) {
    RotBufDescriptor d{};
    EXPECT_EQ(ZimoDPRGetRotBufDescriptor(0, n, &d), 1);
    return d;
  }
  void SetIndexes(int n, std::uint16_t host, std::uint16_t card) {
    RotBufDescriptor d = Descriptor(n);
    d.HostIndex = host;
    d.CardIndex = card;
    ZimoDPRSetRotBufDescriptor(0, n, &d);
  }
  // Word i of ring n as the card sees it.
  std::uint32_t RingWord(int n, int i) {
    const RotBufDescriptor d = Descriptor(n);
    return ZimoDPRGetDWord(0, (d.Start - 0xD000u + static_cast<std::uint32_t>(i)) * 4);
  }
  // The lines the card received since the last call.
  std::vector<std::string> Lines() {
    const std::string reply = Host("log 0");
    Host("clear-log 0");
    return testing::CardLogLines(reply);
  }
  void SetRotaryOpen(bool open) {
    std::uint8_t* globals =
        (block().SpranFlag != 0 ? block().SpranRealTimeCopy : block().RealTimeCopy) + 4;
    const std::uint32_t word = open ? 1u << 18 : 0;
    std::memcpy(globals, &word, 4);
  }
  void FillRing(int n, std::uint32_t value) {
    const RotBufDescriptor d = Descriptor(n);
    std::vector<std::uint32_t> words(d.Size, value);
    ZimoDPRSetMem(0, (d.Start - 0xD000u) * 4, 4 * d.Size, words.data());
  }
};

TEST_F(RotaryRingTest, InitPlacesTheRingBelowTheAreaTop) {
  block().RotBufSize[0] = 101;  // sizes are even
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  const RotBufDescriptor d = Descriptor(0);
  EXPECT_EQ(d.Size, 100);
  EXPECT_EQ(d.BufferNumber, 1);
  EXPECT_EQ(d.HostIndex, 0);
  EXPECT_EQ(d.CardIndex, 0);
  EXPECT_EQ(d.Start, kTop - 100);
  EXPECT_EQ(block().VbgNextFree, kTop - 100);
  EXPECT_EQ(block().RotBufSize[0], 100);
  EXPECT_EQ(App().User(0)->DprBuffers.RotBufDataOffset[0], (0x1000u - 100) * 4);
  EXPECT_EQ(ZimoDPRBufLast(0), 1);
}

TEST_F(RotaryRingTest, PutsWrapAndKeepFourWordsFree) {
  block().RotBufSize[0] = 100;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  FillRing(0, 0xEEEEEEEE);
  const std::uint32_t words[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

  // Host 98, card 10: room 10 - (102 mod 100) = 8.
  SetIndexes(0, 98, 10);
  EXPECT_EQ(ZimoDPRrotput(0, 9, words, 0), 1);
  EXPECT_EQ(Descriptor(0).HostIndex, 98);
  EXPECT_EQ(RingWord(0, 98), 0xEEEEEEEEu) << "nothing written on a full ring";
  EXPECT_EQ(ZimoDPRrotput(0, 8, words, 0), 0);
  EXPECT_EQ(Descriptor(0).HostIndex, 6);
  EXPECT_EQ(Descriptor(0).CardIndex, 10) << "the host never writes the card index";
  const std::uint32_t expect[][2] = {{98, 1}, {99, 2}, {0, 3}, {1, 4}, {5, 8}, {6, 0xEEEEEEEE}};
  for (const auto& [at, value] : expect) EXPECT_EQ(RingWord(0, static_cast<int>(at)), value) << at;

  // Host + count = size: the second part is empty and the host index is 0.
  SetIndexes(0, 90, 20);
  EXPECT_EQ(ZimoDPRrotput(0, 10, words, 0), 0);
  EXPECT_EQ(Descriptor(0).HostIndex, 0);
  EXPECT_EQ(RingWord(0, 99), 10u);

  // A card that never advances: 1 for ever, never an overwrite.
  SetIndexes(0, 0, 0);
  int accepted = 0;
  for (int i = 0; i < 40; ++i) accepted += ZimoDPRrotput(0, 10, words, 0) == 0 ? 1 : 0;
  EXPECT_EQ(accepted, 9) << "96 usable words hold nine puts of ten";
  EXPECT_EQ(Descriptor(0).HostIndex, 90);
  EXPECT_EQ(ZimoDPRrotput(0, 10, words, 0), 1);
}

TEST_F(RotaryRingTest, PutRefusals) {
  const std::uint32_t words[4] = {1, 2, 3, 4};
  EXPECT_EQ(ZimoDPRrotput(0, 4, words, 1), -1) << "buffer not set up";
  block().RotBufSize[1] = 20;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 1), 0);
  RotBufDescriptor d = Descriptor(1);
  d.Status = 0x8000;
  ZimoDPRSetRotBufDescriptor(0, 1, &d);
  EXPECT_EQ(ZimoDPRrotput(0, 4, words, 1), -70);
  d.Status = 0;
  ZimoDPRSetRotBufDescriptor(0, 1, &d);
  EXPECT_EQ(ZimoDPRrotput(0, 4, words, 1), 0);
  EXPECT_EQ(ZimoDPRrotput(0, 17, words, 1), -70) << "more than the ring can ever hold";
  EXPECT_EQ(ZimoDPRrotput(0, 4, words, 8), -1);
  App().User(0)->DprAvailable = 0;
  EXPECT_EQ(ZimoDPRrotput(0, 4, words, 1), -1);
  EXPECT_EQ(ZimoDPRRotBufInit(0, 1), -1);
}

TEST_F(RotaryRingTest, AProcessThatNeverSetTheRingUpPutsIntoIt) {
  block().RotBufSize[0] = 40;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  FillRing(0, 0);
  App().User(0)->DprBuffers.RotBufDataOffset[0] = 0;  // as in another process
  const std::uint32_t words[2] = {0x11111111, 0x22222222};
  const std::uint32_t offset_zero = ZimoDPRGetDWord(0, 0);
  ASSERT_EQ(ZimoDPRrotput(0, 2, words, 0), 0);
  EXPECT_EQ(RingWord(0, 0), 0x11111111u);
  EXPECT_EQ(RingWord(0, 1), 0x22222222u);
  EXPECT_EQ(ZimoDPRGetDWord(0, 0), offset_zero) << "DPR offset 0 untouched";
}

TEST_F(RotaryRingTest, OnlyTheLowestRingMoves) {
  block().RotBufSize[0] = 100;
  block().RotBufSize[1] = 50;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  ASSERT_EQ(ZimoDPRRotBufInit(0, 1), 0);
  EXPECT_EQ(Descriptor(1).Start, kTop - 150);
  EXPECT_EQ(block().VbgNextFree, kTop - 150);
  EXPECT_EQ(ZimoDPRBufLast(0), 2);

  // Ring 0 lies above ring 1: it may be reset, emptied, but not resized.
  EXPECT_EQ(ZimoDPRRotBufChange(0, 0, 120), -1);
  EXPECT_EQ(block().RotBufSize[0], 100) << "the old size stays";
  EXPECT_EQ(Descriptor(0).Size, 100);
  SetIndexes(0, 30, 20);
  EXPECT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  EXPECT_EQ(Descriptor(0).Start, kTop - 100);
  EXPECT_EQ(Descriptor(0).HostIndex, 0);
  EXPECT_EQ(Descriptor(0).CardIndex, 0);
  EXPECT_EQ(block().VbgNextFree, kTop - 150);

  // The lowest ring grows downwards.
  EXPECT_EQ(ZimoDPRRotBufChange(0, 1, 60), 0);
  EXPECT_EQ(Descriptor(1).Start, kTop - 160);
  EXPECT_EQ(Descriptor(1).Size, 60);
  EXPECT_EQ(block().VbgNextFree, kTop - 160);

  // Removing ring 0 leaves its room where it is.
  EXPECT_EQ(ZimoDPRRotBufRemove(0, 0), 0);
  EXPECT_EQ(Descriptor(0).Size, 0);
  EXPECT_EQ(block().VbgNextFree, kTop - 160);
  EXPECT_EQ(Descriptor(1).Size, 60);
  EXPECT_EQ(ZimoDPRBufLast(0), 2);
  // Removing the lowest gives its room back.
  EXPECT_EQ(ZimoDPRRotBufRemove(0, 1), 0);
  EXPECT_EQ(block().VbgNextFree, kTop - 100);
  EXPECT_EQ(ZimoDPRBufLast(0), 0);
}

TEST_F(RotaryRingTest, AllocationLimits) {
  // Variable-background lists take the same area: no new ring then.
  block().VbgUserCount = 1;
  block().RotBufSize[2] = 20;
  EXPECT_EQ(ZimoDPRRotBufInit(0, 2), -1);
  EXPECT_EQ(ZimoDPRBufLast(0), 9);
  EXPECT_EQ(block().VbgNextFree, kTop);
  block().VbgUserCount = 0;

  // The rings stay above the fixed areas (0x240 words on older cards).
  block().RotBufSize[2] = static_cast<std::uint16_t>(0x1000 - 0x240 + 2);
  EXPECT_EQ(ZimoDPRRotBufInit(0, 2), -1);
  block().RotBufSize[2] = static_cast<std::uint16_t>(0x1000 - 0x240);
  EXPECT_EQ(ZimoDPRRotBufInit(0, 2), 0);
  EXPECT_EQ(block().VbgNextFree, 0xD000u + 0x240);
  EXPECT_EQ(ZimoDPRRotBufRemove(0, 2), 0);

  // Numbers above 7 touch nothing.
  block().RotBufSize[8] = 0;
  EXPECT_EQ(ZimoDPRRotBufChange(0, 8, 40), -1);
  EXPECT_EQ(block().RotBufSize[8], 0);
  EXPECT_EQ(ZimoDPRRotBufInit(0, 9), -1);

  // Where the variable-background area starts, as the card keeps it.
  ZimoDPRSetWord(0, 0x7EE, 0x1234);
  EXPECT_EQ(ZimoDPRGetVBGStartAddr(0), 0x1234);

  // A write buffer the card never empties.
  ZimoDPRSetWord(0, 0x7D4, 1);
  block().RotBufSize[3] = 20;
  EXPECT_EQ(ZimoDPRRotBufInit(0, 3), -1);
  EXPECT_EQ(Descriptor(3).Size, 0);
  ZimoDPRSetWord(0, 0x7D4, 0);
}

TEST_F(RotaryRingTest, ClrEmptiesTheRing) {
  block().RotBufSize[0] = 40;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  SetIndexes(0, 12, 7);
  ZimoDPRRotBufClr(0, 0);
  EXPECT_EQ(Descriptor(0).HostIndex, 0);
  EXPECT_EQ(Descriptor(0).CardIndex, 0);
  EXPECT_EQ(Descriptor(0).Size, 40);
}

TEST_F(RotaryRingTest, OlderFirmwareHasNoBuffersTwoToSeven) {
  std::snprintf(block().FirmwareVersion, sizeof block().FirmwareVersion, "1.16A");
  block().RotBufSize[0] = 40;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  EXPECT_EQ(Descriptor(0).Size, 40);
  EXPECT_EQ(ZimoDPRBufLast(0), 0) << "descriptor 7 cannot be read";
  block().RotBufSize[2] = 40;
  EXPECT_EQ(ZimoDPRRotBufInit(0, 2), -1);
}

TEST_F(RotaryRingTest, TextGoesIntoTheRingAsUnits) {
  block().RotBufSize[0] = 40;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  char line[] = "x10 linear";
  ASSERT_EQ(ZimoDPRAsciiStrToRotA(0, line, 0), 0);
  EXPECT_STREQ(line, "X10 LINEAR");
  EXPECT_EQ(Descriptor(0).HostIndex, 4);
  EXPECT_EQ(RingWord(0, 0), 0x00000E20u);
  EXPECT_EQ(RingWord(0, 1), 0x00005000u);
  EXPECT_EQ(RingWord(0, 2), 0x00010780u);
  EXPECT_EQ(RingWord(0, 3), 0u);

  char bad[] = "IF(P1)X10";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, bad, 0), -62);
  EXPECT_EQ(Descriptor(0).HostIndex, 4);
  char blank[] = "P 1=P2+3";  // a variable's number follows its letter directly
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, blank, 0), -62);
  EXPECT_EQ(Descriptor(0).HostIndex, 4);

  std::uint8_t block_out[608];
  std::memset(block_out, 0xAA, sizeof block_out);
  char text[] = "x0";
  EXPECT_EQ(ZimoDPRAsciiStrToBinary(0, text, block_out), 2);
  EXPECT_EQ(block_out[0], 0x00);
  EXPECT_EQ(block_out[1], 0x0E);
  EXPECT_EQ(block_out[607], 0) << "the whole block is copied";
}

TEST_F(RotaryRingTest, BinaryModeLinesOfAnOlderCard) {
  using Lines_ = std::vector<std::string>;
  Lines();
  EXPECT_EQ(ZimoDPRRotBuf(0, 1), 1);
  EXPECT_EQ(Lines(), Lines_({"i57=1"}));
  EXPECT_EQ(block().BinaryRotaryMode, 1);
  SetRotaryOpen(true);
  EXPECT_EQ(ZimoDPRRotBufOpen(0), 1);
  EXPECT_EQ(ZimoDPRRotBuf(0, 1), 1);
  EXPECT_EQ(Lines(), Lines_({"CLOSE", "i57=1", "OPEN ROT"}));
  EXPECT_EQ(ZimoDPRRotBuf(0, 0), 0);
  EXPECT_EQ(Lines(), Lines_({"CLOSE", "i57=0", "OPEN ROT"}));
  EXPECT_EQ(block().BinaryRotaryMode, 0);
  SetRotaryOpen(false);
  EXPECT_EQ(ZimoDPRRotBuf(0, 0), 0);
  EXPECT_EQ(Lines(), Lines_({"i57=0"}));
  App().User(0)->DprAvailable = 0;
  block().BinaryRotaryMode = 1;
  EXPECT_EQ(ZimoDPRRotBuf(0, 0), 0) << "without DPR";
  EXPECT_TRUE(Lines().empty());
}

class RotarySpranRingTest : public RotaryRingTest {
 protected:
  std::vector<std::string> Cards() override { return {"pci spran"}; }
};

TEST_F(RotarySpranRingTest, StartCountsFromTheFixedAreasEnd) {
  block().SpranFlag = 1;
  block().DprCardBase = 0x60000;
  block().VbgNextFree = 0x60000 + 0x1000;
  for (int n = 0; n < 8; ++n) {
    RotBufDescriptor zero{};
    ZimoDPRSetRotBufDescriptor(0, n, &zero);
  }
  block().RotBufSize[0] = 100;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  RotBufDescriptor d{};
  ASSERT_EQ(ZimoDPRGetRotBufDescriptor(0, 0, &d), 1);
  EXPECT_EQ(d.Start, 0x1000 - 100 - 0x450);
  const std::uint32_t words[2] = {0xABCD0001, 0x00000002};
  ASSERT_EQ(ZimoDPRrotput(0, 2, words, 0), 0);
  EXPECT_EQ(ZimoDPRGetDWord(0, (0x1000 - 100) * 4), 0xABCD0001u);
  EXPECT_EQ(ZimoDPRGetWord(0, 0x1050 + 4), 2) << "host index in descriptor 0";
}

TEST_F(RotarySpranRingTest, BinaryModeLinesOfASpranCard) {
  using Lines_ = std::vector<std::string>;
  block().SpranFlag = 1;
  Lines();
  SetRotaryOpen(true);  // makes no difference on SPRAN cards
  EXPECT_EQ(ZimoDPRRotBuf(0, 1), 1);
  EXPECT_EQ(Lines(), Lines_({"CLOSE OPEN BIN ROT"}));
  EXPECT_EQ(ZimoDPRRotBuf(0, 0), 0);
  EXPECT_EQ(Lines(), Lines_({"CLOSE"}));
}

}  // namespace
}  // namespace zimo::corvan
