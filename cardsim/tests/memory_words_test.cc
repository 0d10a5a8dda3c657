// Card memory: the 48-bit word formats the host decodes, the DPR window as
// bytes and as card words, its bounds, bit fields, stuck bits and the write
// hook.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card_word.h"
#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

struct FloatCase {
  double value;
  uint64_t word;
};

TEST(Float48, EncodesTheWordsTheHostDecodes) {
  const FloatCase cases[] = {
      {1.0, 0x400000000800}, {-1.0, 0xC00000000800}, {0.0, 0},
      {2.0, 0x400000000801}, {0.75, 0x6000000007FF}, {-0.5, 0xC000000007FF},
  };
  for (const FloatCase& c : cases) {
    EXPECT_EQ(word::Hex48(word::EncodeFloat48(c.value)), word::Hex48(c.word)) << c.value;
    EXPECT_DOUBLE_EQ(word::DecodeFloat48(c.word), c.value);
  }
  // Round trips keep 35 bits of mantissa.
  for (double v : {3713707.0, -123.456, 1e-9, 6.02e23, 0.1}) {
    EXPECT_NEAR(word::DecodeFloat48(word::EncodeFloat48(v)), v, std::abs(v) * 1e-10) << v;
  }
  // Infinity saturates instead of wrapping to a small number.
  EXPECT_GT(word::DecodeFloat48(word::EncodeFloat48(HUGE_VAL)), 1e300);
  EXPECT_LT(word::DecodeFloat48(word::EncodeFloat48(-HUGE_VAL)), -1e300);
}

TEST(Fixed48, TwoComplementAndSaturation) {
  EXPECT_EQ(word::Hex48(word::EncodeFixed48(-16777215)), "FFFFFF000001");
  EXPECT_EQ(word::DecodeFixed48(0x000001000000), 16777216);
  EXPECT_EQ(word::DecodeFixed48(0xFFFFFFFFFFFF), -1);
  EXPECT_EQ(word::DecodeFixed48(word::EncodeFixed48(1e20)), 140737488355327);
  EXPECT_EQ(word::SignExtend24(0x800000), -8388608);
  EXPECT_EQ(word::SignExtend24(0x7FFFFF), 8388607);
}

TEST(DprWindow, CardWordsSitAtFourBytesEachWithYLowAndXHigh) {
  Memory memory(0xD000);
  memory.Write(Space::kY, 0xD010, 0x12ABCD);
  memory.Write(Space::kX, 0xD010, 0x345678);
  EXPECT_EQ(memory.DprDword(0x10 * 4), 0x5678ABCDu);
  // The window holds 16 bits per half: the upper 8 bits do not survive.
  EXPECT_EQ(memory.Read(Space::kY, 0xD010), 0xABCDu);
  memory.SetDprWord(0x20 * 4 + 2, 0xBEEF);
  EXPECT_EQ(memory.Read(Space::kX, 0xD020), 0xBEEFu);
  // Off the window, words keep all 24 bits.
  memory.Write(Space::kY, 0xCFFF, 0x12ABCD);
  EXPECT_EQ(memory.Read(Space::kY, 0xCFFF), 0x12ABCDu);
  EXPECT_TRUE(memory.InDpr(0xDFFF));
  EXPECT_FALSE(memory.InDpr(0xE000));
}

TEST(DprWindow, AccessesOutsideTheWindowChangeNothing) {
  Memory memory(0x60000);
  std::vector<uint8_t> all(Memory::kDprSize, 0x5A);
  EXPECT_TRUE(memory.WriteDpr(0, all.data(), all.size()));
  EXPECT_FALSE(memory.WriteDpr(1, all.data(), all.size()));
  EXPECT_FALSE(memory.SetDprDword(Memory::kDprSize - 2, 0));
  EXPECT_FALSE(memory.SetDprBits(Memory::kDprSize, 0, 1, 1));
  std::vector<uint8_t> back(Memory::kDprSize + 1, 0xFF);
  EXPECT_FALSE(memory.ReadDpr(0, back.data(), back.size()));
  EXPECT_EQ(back[0], 0);  // a refused read hands back zeros
  EXPECT_TRUE(memory.ReadDpr(0, back.data(), Memory::kDprSize));
  EXPECT_EQ(std::count(back.begin(), back.end() - 1, 0x5A), static_cast<long>(Memory::kDprSize));
  EXPECT_EQ(memory.DprDword(Memory::kDprSize - 4), 0x5A5A5A5Au);
  EXPECT_EQ(memory.DprDword(Memory::kDprSize - 3), 0u);
}

TEST(DprBits, FieldsTouchOnlyTheirBits) {
  Memory memory(0xD000);
  memory.SetDprDword(8, 0xFFFF0000);
  // A value wider than its field is cut to the field.
  EXPECT_TRUE(memory.SetDprBits(8, 8, 4, 0x1F));
  EXPECT_EQ(memory.DprDword(8), 0xFFFF0F00u);
  EXPECT_EQ(memory.DprBits(8, 8, 4), 0xFu);
  EXPECT_TRUE(memory.SetDprBits(8, 0, 32, 0x12345678));
  EXPECT_EQ(memory.DprDword(8), 0x12345678u);
  EXPECT_EQ(memory.DprBits(8, 28, 4), 0x1u);
}

TEST(DprBits, StuckBitsHoldAgainstEveryWriter) {
  Memory memory(0xD000);
  memory.StickDprBits(0x6D0, 0x00008000, 0x00008000);
  memory.SetDprWord(0x6D0, 0);
  EXPECT_EQ(memory.DprWord(0x6D0), 0x8000);
  std::vector<uint8_t> zeros(64, 0);
  memory.WriteDpr(0x6C0, zeros.data(), zeros.size());
  EXPECT_EQ(memory.DprDword(0x6D0), 0x8000u);
  memory.Write(Space::kY, 0xD000 + 0x6D0 / 4, 0);
  EXPECT_EQ(memory.DprWord(0x6D0), 0x8000);
  memory.ClearStuckBits();
  memory.SetDprWord(0x6D0, 0);
  EXPECT_EQ(memory.DprWord(0x6D0), 0);
}

TEST(DprHook, ReportsEveryChangeWithItsPlace) {
  Memory memory(0xD000);
  std::vector<std::pair<size_t, size_t>> seen;
  memory.SetDprWriteHook([&](size_t offset, size_t length) { seen.emplace_back(offset, length); });
  memory.SetDprWord(0x62C, 1);
  memory.Write(Space::kY, 0xD001, 5);
  memory.Write(Space::kY, 0xC000, 5);  // off the window: no report
  EXPECT_EQ(seen, (std::vector<std::pair<size_t, size_t>>{{0x62C, 2}, {4, 4}}));
}

}  // namespace
}  // namespace zimo::cardsim
