// The basic code-word emitters: routine calls, N4 loads, integer operators,
// pool words, the card's float and the end of scan of a compiled PLC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "plcc/plcc_compilation.h"
#include "plcc/plcc_emit.h"

namespace zimo::corvan::plcc {
namespace {

std::vector<std::uint32_t> Words(const PlccCodeBuffer& code) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < code.size(); ++i) words.push_back(code[i]);
  return words;
}

TEST(PlccEmitTest, RoutineCallsAreShortLongOrInline) {
  PlccTarget older = PlccTarget::Older("1.16F");
  older.link_list[7] = 0x0A00;   // absolute value
  older.link_list[31] = 0x0A10;  // negate
  PlccCompilation c(older);
  PlccCodeBuffer code(64);
  PlccEmitter emit(c, code);
  emit.EmitRoutineCall(0x0FFF);
  emit.EmitRoutineCall(0x1000);
  emit.EmitRoutineCall(0x0A10);
  emit.EmitRoutineCall(0x0A00);
  EXPECT_EQ(Words(code), (std::vector<std::uint32_t>{0x0D0FFF, 0x0BF080, 0x001000, 0x200036,
                                                     0x01DD15, 0x200026, 0x01DD15}));

  // With the extended firmware every routine sits at $FF00 + 2k: a long call,
  // unless it is one of the three done inline.
  PlccCompilation x(PlccTarget::Spran("1.940"));
  PlccCodeBuffer xcode(64);
  PlccEmitter xemit(x, xcode);
  xemit.EmitRoutineCall(x.routines.entry[33]);
  xemit.EmitRoutineCall(x.routines.entry[34]);
  EXPECT_EQ(Words(xcode),
            (std::vector<std::uint32_t>{0x0BF080, 0x00FF42, 0x0C1881, 0x00C000, 0x213514}));
}

TEST(PlccEmitTest, RoutineTableFollowsTheFirmware) {
  PlccTarget older = PlccTarget::Older("1.16F");
  for (std::uint32_t i = 0; i < 68; ++i) older.link_list[i] = 0x0C00 + 0x2D * i;
  PlccCompilation c(older);
  EXPECT_FALSE(c.extended_firmware);
  EXPECT_EQ(c.routines.divide_popped, 0x0C00u + 0x2D * 39);
  EXPECT_EQ(c.routines.divide_pushed, 0x0C00u + 0x2D * 39 + 1);
  EXPECT_EQ(c.routines.modulo_pushed, 0x0C00u + 0x2D * 40 + 1);

  PlccCompilation x(PlccTarget::Spran("1.937"));
  EXPECT_TRUE(x.extended_firmware);
  EXPECT_FALSE(x.servo_firmware);
  EXPECT_EQ(x.target.link_list[61], 0xFF00u + 122);
  EXPECT_EQ(x.routines.divide_pushed, 0xFF00u + 90);
  EXPECT_EQ(x.routines.modulo_pushed, 0xFF00u + 92);
  EXPECT_EQ(x.routines.entry[43], 0x35C2u);
  EXPECT_TRUE(PlccCompilation(PlccTarget::Spran("1.938")).servo_firmware);
  EXPECT_FALSE(PlccCompilation(PlccTarget::Spran("1.936")).extended_firmware);
}

TEST(PlccEmitTest, FirmwareVersionsCompareByFiveCharacters) {
  struct Case {
    const char* version;
    const char* reference;
    int sign;
  };
  const Case cases[] = {
      {"1.935", "1.935", 0},  {"1.934", "1.935", -1}, {"1.937", "1.936", 1},
      {"1.9371", "1.937", 0},  // only five characters count
      {"1.16F", "1.16F", 0},  {"1.16E", "1.16F", -1}, {"1.940", "1.16F", 1},
      {"N/A", "1.16F", -1},   {"", "1.935", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " against " + c.reference);
    const int r = CompareFirmware5(c.version, c.reference);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

TEST(PlccEmitTest, LoadN4CarriesThePendingMark) {
  PlccCompilation c(PlccTarget::Older("1.16F"));
  PlccCodeBuffer code(64);
  PlccEmitter emit(c, code);
  emit.EmitLoadN4(255);
  emit.state().pending_mark = kBlockMark;
  emit.state().r4_cache = 0x400;
  emit.EmitLoadN4(256);
  EXPECT_EQ(Words(code), (std::vector<std::uint32_t>{0x3CFF00, 0x74F400 | kBlockMark, 0x000100}));
  EXPECT_EQ(emit.state().pending_mark, 0u);
  EXPECT_EQ(emit.state().r4_cache, 0u);
}

TEST(PlccEmitTest, IntegerOperatorsByCard) {
  struct Case {
    const char* name;
    bool spran;
    std::uint32_t op;
    bool popped;
    std::vector<std::uint32_t> words;
  };
  const Case cases[] = {
      {"minus popped", false, 129, true, {0x280000, 0x200036, 0x200060}},
      {"minus", true, 129, false, {0x200064}},
      {"times on an older card", false, 130, false, {0x218700, 0x2000F0, 0x200022, 0x210E00}},
      {"times on SPRAN", true, 130, false, {0x218700, 0x2000F0, 0x0C1D2E}},
      {"or", false, 132, false, {0x200062, 0x218E00}},
      {"divide popped, extended", true, 131, true, {0x0BF080, 0xFF00 + 78}},
      {"modulo pushed, extended", true, 135, false, {0x0BF080, 0xFF00 + 92}},
      {"no operator", false, 136, false, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    PlccCompilation c(k.spran ? PlccTarget::Spran("1.940") : PlccTarget::Older("1.16F"));
    PlccCodeBuffer code(64);
    PlccEmitter emit(c, code);
    emit.EmitIntOperator(k.op, k.popped);
    EXPECT_EQ(Words(code), k.words);
  }
}

TEST(PlccEmitTest, PushPacksAFloatFirst) {
  PlccCompilation c(PlccTarget::Spran("1.940"));
  PlccCodeBuffer code(64);
  PlccEmitter emit(c, code);
  emit.EmitPushA();
  emit.state().integer_context = true;
  emit.EmitPushA();
  EXPECT_EQ(Words(code), (std::vector<std::uint32_t>{0x0BF080, 0x00FF42, 0x487F00, 0x487F00}));
}

TEST(PlccEmitTest, PoolWordsEndWithTheWordHoldingAZero) {
  PlccCompilation c(PlccTarget::Older("1.16F"));
  const std::uint8_t pool[] = {'A', 'B', 0, 'A', 'B', 'C', 0, 0, 0};
  std::copy(std::begin(pool), std::end(pool), c.pool.begin());
  PlccCodeBuffer code(64);
  PlccEmitter emit(c, code);
  emit.EmitPoolWords(0, 0);
  emit.EmitPoolWords(3, 0);
  emit.EmitPoolWords(0, 2);  // at least three words
  EXPECT_EQ(Words(code), (std::vector<std::uint32_t>{0x414200, 0x414243, 0x000000, 0x414200,
                                                     0x414243, 0x000000}));
}

TEST(PlccEmitTest, PackCardFloat) {
  struct Case {
    double value;
    std::uint32_t low;
    std::uint32_t high;
  };
  const Case cases[] = {
      {1.0, 0x000800, 0x400000},
      {-1.0, 0x000800, 0xC00000},
      {0.5, 0x0007FF, 0x400000},
      {3.0, 0x000801, 0x600000},
      {0.0, 0, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.value);
    std::uint32_t low = 1;
    std::uint32_t high = 1;
    EXPECT_EQ(PackCardFloat(k.value, &low, &high), 0);
    EXPECT_EQ(low, k.low);
    EXPECT_EQ(high, k.high);
  }
  // What the card's float cannot hold is refused, not packed into garbage.
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  EXPECT_EQ(PackCardFloat(std::strtod("1e400", nullptr), &low, &high), -33);
  EXPECT_EQ(PackCardFloat(std::numeric_limits<double>::quiet_NaN(), &low, &high), -33);
  EXPECT_EQ(PackCardFloat(1e-310, &low, &high), -33);
}

TEST(PlccEmitTest, HighOperatorFollows) {
  const PlccToken tokens[] = {{36, 1}, {130, 0}, {36, 2}, {128, 0}, {40, 1}, {135, 0}};
  EXPECT_EQ(IsNotFollowedByHighOperator(tokens, 0), 0);
  EXPECT_EQ(IsNotFollowedByHighOperator(tokens, 2), 1);
  EXPECT_EQ(IsNotFollowedByHighOperator(tokens, 4), 0);
}

TEST(PlccEmitTest, EndOfScan) {
  // Older card: S = $8020, E = $8060, B = $8000.
  PlccCompilation older(PlccTarget::Older("1.16F"));
  PlccCodeBuffer code(64);
  PlccEmitter emit(older, code);
  emit.EmitPlccReturnCode(5);
  EXPECT_EQ(Words(code), (std::vector<std::uint32_t>{
                             0x07F084, 0x00802B, 0x56F400, 0x00802C, 0x200044, 0x0AF0AA, 0x00802C,
                             0x07F094, 0x008005, 0x077094, 0x00802B, 0x0AF080, 0x00802C}));
  code.Clear();
  emit.EmitPlccReturnCode(0);
  ASSERT_EQ(code.size(), 12u);
  EXPECT_EQ(code[3], 0x008060u);  // PLCC 0 goes on to the chain end
  EXPECT_EQ(code[11], 0x00000Cu);

  // SPRAN card: S = $50020, B = $50000.
  PlccCompilation spran(PlccTarget::Spran("1.940"));
  PlccCodeBuffer scode(64);
  PlccEmitter semit(spran, scode);
  semit.EmitPlccReturnCode(1);
  EXPECT_EQ(Words(scode),
            (std::vector<std::uint32_t>{0x07F084, 0x050023, 0x56F400, 0x050024, 0x200044, 0x0AF0AA,
                                        0x050024, 0x07F08E, 0x050001, 0x0140C6, 0x07FFFF, 0x07708C,
                                        0x050023, 0x0AF080, 0x050024}));
}

TEST(PlccEmitTest, CodeBufferRefusesWordsPastItsEnd) {
  PlccCompilation c(PlccTarget::Older("1.16F"));
  PlccCodeBuffer code(14);
  PlccEmitter emit(c, code);
  emit.EmitPlccReturnCode(1);
  EXPECT_FALSE(code.overflowed());
  emit.EmitLoadN4(256);
  EXPECT_TRUE(code.overflowed());
  EXPECT_EQ(code.size(), 14u);
  EXPECT_EQ(code[13], 0x74F400u);
}

}  // namespace
}  // namespace zimo::corvan::plcc
