// The block reader: words into the parsed block record, G classification,
// M words, the T split, labels, comments, card-word formatting and code
// errors with the stop block.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "nc/language/block_record.h"
#include "nc/language/code_error.h"
#include "nc/translator/block_reader.h"
#include "nc_fakes.h"

namespace zimo::nc {
namespace {

using testing::FakeCardSide;
using testing::FakeVariables;

class NcBlockTest : public ::testing::Test {
 protected:
  NcBlockTest() : table_(DefaultGroupTable(1)) { InitBlockRecord(record_, table_); }

  // Starts a block and reads line into the record.
  void Parse(const std::string& line) {
    NcBlockContext context;
    context.table = &table_;
    context.card = &card_;
    context.env = &vars_;
    StartBlock(record_, &previous_);
    ParseWords(context, record_, line.c_str());
  }
  double Value(int slot) const { return record_.addr_value[slot]; }
  uint32_t Count(int slot) const { return record_.addr_count[slot]; }

  NcGroupTable table_;
  NcBlockRecord record_;
  NcBlockRecord previous_;
  FakeCardSide card_;
  FakeVariables vars_;
};

TEST_F(NcBlockTest, WordsAndValues) {
  vars_.values[1] = 1;
  Parse("N5 G1 X10E5 Y-2.5 Z#1 A[#1+2] B3");
  EXPECT_EQ(Value(kSlotX), 10);
  EXPECT_EQ(Value(kSlotE), 5);
  EXPECT_EQ(Value(kSlotY), -2.5);
  EXPECT_EQ(Value(kSlotZ), 1);
  EXPECT_EQ(Value(kSlotA), 3);
  EXPECT_EQ(Value(kSlotB), 3);
  EXPECT_EQ(Count(kSlotG), 1u);
  EXPECT_EQ(record_.group_code[1], 1);
  EXPECT_EQ(record_.group_present[1], 1u);
  EXPECT_EQ(card_.FirstError(), 0u);
  Parse("X1.5D2");
  EXPECT_EQ(Value(kSlotX), 1.5);
  EXPECT_EQ(Value(kSlotD), 2);
  // Lower case letters, ':' as O, block delete and end of tape.
  Parse("/x4 :7 %Y9");
  EXPECT_EQ(Value(kSlotX), 4);
  EXPECT_EQ(Value(kSlotO), 7);
  EXPECT_EQ(record_.block_delete, 1u);
  EXPECT_EQ(record_.end_of_tape, 1u);
  EXPECT_EQ(Count(kSlotY), 0u);
  // The previous block went to the copy.
  EXPECT_EQ(previous_.addr_value[kSlotX], 1.5);
}

TEST_F(NcBlockTest, UnreadableWordsAreLeftOutAndReported) {
  Parse("X Y2 Z1.2.3 B4");
  EXPECT_EQ(Count(kSlotX), 0u);
  EXPECT_EQ(Value(kSlotY), 2);
  EXPECT_EQ(Count(kSlotZ), 0u);
  EXPECT_EQ(Value(kSlotB), 4);
  ASSERT_EQ(card_.errors.size(), 2u);
  EXPECT_EQ(card_.errors[0].id, 0xC011004Eu);
  EXPECT_EQ(card_.errors[1].id, 0xC0110041u);
  EXPECT_EQ(card_.errors[0].mode, NcErrorMode::kFatal);
  EXPECT_EQ(card_.errors[0].type, NcErrorType::kCode);
  // A vacant value leaves its word out.
  card_.errors.clear();
  Parse("X#7 Y1");
  EXPECT_EQ(Count(kSlotX), 0u);
  EXPECT_EQ(Count(kSlotY), 1u);
  EXPECT_TRUE(card_.errors.empty());
}

TEST_F(NcBlockTest, GCodesByTheGroupTable) {
  Parse("G0.5");
  EXPECT_EQ(record_.group_code[26], -5);
  EXPECT_EQ(record_.group_present[26], 1u);
  // G41.1 is 1041, which no function has by default.
  Parse("G41.1");
  EXPECT_EQ(GCodeOfText("41.1"), 1041);
  EXPECT_EQ(record_.group_present[7], 0u);
  EXPECT_EQ(record_.group_code[7], 40);
  table_.code[kToolRadiusCompLeft] = 1041;
  Parse("G41.1");
  EXPECT_EQ(record_.group_code[7], 1041);
  EXPECT_EQ(record_.group_present[7], 1u);
  // A configured -5 takes G0.5 into its group.
  table_.code[kSplineInterpolation] = -5;
  Parse("G0.5");
  EXPECT_EQ(record_.group_code[1], -5);
  EXPECT_EQ(record_.group_present[26], 0u);
  // Modal codes stay from block to block; the per-block marks do not.
  Parse("G91 G17 G43");
  Parse("X1");
  EXPECT_EQ(record_.group_code[3], 91);
  EXPECT_EQ(record_.group_code[8], 43);
  EXPECT_EQ(record_.group_present[3], 0u);
  // Lathe codes count only on a lathe: G90 is then single cycle A of group 1.
  Parse("G90");
  EXPECT_EQ(record_.group_code[3], 90);
  table_.machine = 2;
  Parse("G90 G71");
  EXPECT_EQ(record_.group_code[1], 90);
  EXPECT_EQ(record_.group_code[19], 71);
  EXPECT_EQ(record_.group_present[19], 1u);
  table_.machine = 1;
  Parse("G101");  // a cycle read from the settings but never classified
  EXPECT_EQ(record_.group_present[9], 0u);
}

TEST_F(NcBlockTest, TWordSplitsIntoToolAndOffsets) {
  const struct {
    const char* line;
    double t;
    double hd;  // -1: no H and D
    int group8;
  } cases[] = {{"T0101", 1, 1, 43}, {"T0100", 1, 0, 49}, {"T12", 12, -1, 49},
               {"T0114", 1, 14, 43}, {"T9999", 99, 99, 43}, {"T1234", 12, 34, 43}};
  for (const auto& c : cases) {
    InitBlockRecord(record_, table_);
    Parse(c.line);
    EXPECT_EQ(Value(kSlotT), c.t) << c.line;
    if (c.hd < 0) {
      EXPECT_EQ(Count(kSlotH), 0u) << c.line;
      EXPECT_EQ(record_.group_present[8], 0u) << c.line;
    } else {
      // Exactly the remainder: T0114 gives 14, never 13.99999999999999.
      EXPECT_EQ(Value(kSlotH), c.hd) << c.line;
      EXPECT_EQ(Value(kSlotD), c.hd) << c.line;
      EXPECT_EQ(Count(kSlotH), 1u) << c.line;
      EXPECT_EQ(record_.group_present[8], 1u) << c.line;
    }
    EXPECT_EQ(record_.group_code[8], c.group8) << c.line;
  }
  // Every T from 100 to 9999 splits exactly.
  for (int t = 100; t <= 9999; ++t) {
    NcBlockRecord r;
    InitBlockRecord(r, table_);
    AddTWord(r, table_, t);
    ASSERT_EQ(r.addr_value[kSlotH], t % 100) << t;
    ASSERT_EQ(r.addr_value[kSlotT], t / 100) << t;
  }
}

TEST_F(NcBlockTest, MWords) {
  std::string many;
  for (int m = 1; m <= 33; ++m) many += "M" + std::to_string(m) + " ";
  Parse(many);
  EXPECT_EQ(record_.m_count, 32u);
  EXPECT_EQ(record_.m_flags[32], 1);
  EXPECT_EQ(record_.m_flags[33], 0);
  EXPECT_EQ(Count(kSlotM), 32u);

  Parse("M3.0005");
  EXPECT_EQ(record_.m_count, 0u);
  EXPECT_EQ(Count(kSlotM), 0u);
  Parse("M3.5 M0 M-1");
  ASSERT_EQ(record_.m_count, 2u);
  EXPECT_EQ(record_.m_kind[0], kMOther);
  EXPECT_EQ(record_.m_value[0], 3.5);
  EXPECT_EQ(record_.m_kind[1], kMStandard);
  EXPECT_EQ(record_.m_flags[0], 1);
  EXPECT_EQ(record_.synchronous_m, -1);
  EXPECT_EQ(Count(kSlotM), 3u);
  Parse("M150");
  EXPECT_EQ(record_.synchronous_m, 150);
  EXPECT_EQ(record_.m_count, 0u);
  // After G65 an M word is an argument.
  Parse("G65 M7.25");
  ASSERT_EQ(record_.m_count, 1u);
  EXPECT_EQ(record_.m_kind[0], kMArgument);
  EXPECT_EQ(record_.m_value[0], 7.25);
}

TEST_F(NcBlockTest, ProgramLabel) {
  Parse("N10");
  EXPECT_EQ(Value(kSlotO), 10);
  Parse("N20");
  EXPECT_EQ(Value(kSlotO), 10);
  InitBlockRecord(record_, table_);
  Parse("N10 O5");
  EXPECT_EQ(Value(kSlotO), 5);
  InitBlockRecord(record_, table_);
  Parse("O5 N10");
  EXPECT_EQ(Value(kSlotO), 5);
}

TEST_F(NcBlockTest, Comments) {
  Parse("G1 (A(B)C) X2");
  EXPECT_STREQ(record_.comment, "A(B)C");
  EXPECT_EQ(Value(kSlotX), 2);
  Parse("X3 *rest Y4");
  EXPECT_STREQ(record_.comment, "rest Y4");
  EXPECT_EQ(Count(kSlotY), 0u);
  // A long comment is kept whole, and its words are not read.
  const std::string long_comment(380, 'Y');
  Parse("(" + long_comment + ") X5");
  EXPECT_EQ(std::string(record_.comment), long_comment);
  EXPECT_EQ(Count(kSlotY), 0u);
  EXPECT_EQ(Value(kSlotX), 5);
}

TEST_F(NcBlockTest, SpeedsFeedsAndUvw) {
  Parse("S500");
  EXPECT_EQ(record_.spindle_speed, 500);
  Parse("G96 S80");
  EXPECT_EQ(record_.surface_speed, 80);
  Parse("G92 S3000");
  EXPECT_EQ(record_.max_spindle_speed, 3000);
  Parse("G93.1 F2.5");
  EXPECT_EQ(record_.accel_time, 2.5);
  Parse("U1 V2 W3");
  EXPECT_EQ(Count(kSlotX), 0u);
  table_.uvw_incremental = true;
  Parse("U1 V2 W3");
  EXPECT_EQ(Value(kSlotX), 1);
  EXPECT_EQ(Value(kSlotY), 2);
  EXPECT_EQ(Value(kSlotZ), 3);
  Parse("G71 U1 V2");
  EXPECT_EQ(Count(kSlotX), 0u);
  EXPECT_EQ(Count(kSlotY), 1u);
  InitBlockRecord(record_, table_);
  EXPECT_EQ(Value(kSlotF), 5.0);
  EXPECT_EQ(record_.max_spindle_speed, 1000.0);
  EXPECT_EQ(record_.spindle_speed, 100.0);
  EXPECT_EQ(record_.surface_speed, 10.0);
}

TEST_F(NcBlockTest, ImplicitMotion) {
  Parse("X1");
  MarkImplicitMotion(record_);
  EXPECT_EQ(Count(kSlotG), 1u);
  EXPECT_EQ(record_.group_present[1], 1u);
  Parse("F100");
  MarkImplicitMotion(record_);
  EXPECT_EQ(Count(kSlotG), 0u);
}

TEST_F(NcBlockTest, ModalStateOnRewindAndAfterASearch) {
  Parse("G42 G51 G91 X1");
  MarkModalOnRewind(record_, table_);
  EXPECT_EQ(record_.group_code[7], 40);
  EXPECT_EQ(record_.group_code[11], 50);
  EXPECT_EQ(record_.group_code[3], 91);  // not set on rewind
  for (const int g : {7, 8, 9, 11, 16, 18}) EXPECT_EQ(record_.group_present[g], 1u) << g;
  for (const int slot : {kSlotF, kSlotG, kSlotH, kSlotD, kSlotS}) EXPECT_GE(Count(slot), 1u);

  Parse("X2");
  MarkModalRestate(record_, table_, 1u << kSlotX | 1u << kSlotZ);
  for (const int g : {1, 2, 3, 5, 6, 7, 8, 9, 13, 14}) EXPECT_EQ(record_.group_present[g], 1u);
  EXPECT_EQ(Count(kSlotR), 0u);
  Parse("G81 R1 Z-2");
  Parse("M5");
  MarkModalRestate(record_, table_, 1u << kSlotX | 1u << kSlotZ);
  EXPECT_EQ(record_.group_present[1], 0u);
  EXPECT_EQ(record_.group_present[9], 1u);
  EXPECT_EQ(Count(kSlotR), 1u);
  EXPECT_EQ(Count(kSlotQ), 1u);
  EXPECT_EQ(Count(kSlotX), 1u);
  EXPECT_EQ(Count(kSlotZ), 1u);
  EXPECT_EQ(Count(kSlotY), 0u);
}

TEST(NcDialect, LinesOfTheOtherDialect) {
  const struct {
    const char* line;
    const char* rewritten;  // null: left as it is
  } cases[] = {
      {"TU0 PROG1", "M98 (PROG1)"},
      {"CQA 12.5", "G52 C12.5"},
      {"RX0 RY0 RZ30 CX1 CY2 CZ0", "G68 X1.000000 Y2.000000 Z0.000000 R30.000000"},
      {"RZ0.000001 CX0 CY0", "G69"},
      {"RZ5 CX1", nullptr},
      {"G1 X1", nullptr},
  };
  for (const auto& c : cases) {
    char out[128];
    EXPECT_EQ(RewriteDialectLine(c.line, out, sizeof out), c.rewritten != nullptr) << c.line;
    if (c.rewritten != nullptr) EXPECT_STREQ(out, c.rewritten);
  }
  char small[8];
  EXPECT_FALSE(RewriteDialectLine("TU0 LONGNAME", small, sizeof small));

  NcBlockRecord record;
  const NcGroupTable table = DefaultGroupTable(1);
  InitBlockRecord(record, table);
  char buffer[128];
  EXPECT_STREQ(StartBlock(record, nullptr, "CQA 3", true, buffer, sizeof buffer), "G52 C3");
  EXPECT_STREQ(StartBlock(record, nullptr, "CQA 3", false, buffer, sizeof buffer), "CQA 3");
}

TEST(NcFormatWord, CardWords) {
  const struct {
    double value;
    int decimals;
    const char* text;
  } cases[] = {{1.5, 4, "X1.5 "},     {0.25, 4, "X.25 "},     {3, 4, "X3.0 "},
               {-2.5, 4, "X-2.5 "},   {0.001, 4, "X.001 "},   {1.23456, 4, "X1.2346 "},
               {-1.23456, 4, "X-1.2346 "}, {12, 0, "X12.0 "}, {0.1234567, 99, "X.123457 "},
               {0, 4, "X.0 "},        {-0.00001, 4, "X.0 "},  {123456.5, 1, "X123456.5 "}};
  for (const auto& c : cases) {
    char text[64];
    const int n = FormatWord(text, sizeof text, 'X', c.value, c.decimals);
    EXPECT_STREQ(text, c.text) << c.value;
    EXPECT_EQ(n, static_cast<int>(std::char_traits<char>::length(c.text)));
  }
  char small[4];
  EXPECT_EQ(FormatWord(small, sizeof small, 'X', 1.5, 4), -1);
  // A value that overflowed in a macro expression gives no word at all.
  for (const double bad : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    char text[64] = "stale";
    EXPECT_EQ(FormatWord(text, sizeof text, 'X', bad, 4), -1) << bad;
    EXPECT_STREQ(text, "") << bad;
  }
}

TEST(NcCodeError, RecordsAndStopsTheCard) {
  FakeCardSide card;
  CodeError(card, 1, 12, 0xC0110030);
  ASSERT_EQ(card.errors.size(), 1u);
  EXPECT_EQ(card.errors[0].text, "Division by zero");
  EXPECT_EQ(card.errors[0].line, 12u);
  EXPECT_EQ(card.errors[0].axis, ' ');
  EXPECT_EQ(card.error_cs[0], 1u);
  EXPECT_TRUE(card.lines.empty());

  NcBlockRecord block;
  InitBlockRecord(block, DefaultGroupTable(1));
  CodeErrorWithBlock(card, 0, 3, 0xC0110038, "G1 X#5 \r", false, &block);
  EXPECT_EQ(card.errors[1].text, "G1 X#5");
  EXPECT_STREQ(block.comment, "G1 X#5");
  CodeErrorWithBlock(card, 0, 3, 0xC0110038, "G1 X#5", true, &block);
  EXPECT_EQ(card.errors[2].text, "Feature not implemented");
  ASSERT_EQ(card.lines.size(), 2u);
  EXPECT_EQ(card.lines[0], "BSTART STOP BSTOP");
  EXPECT_EQ(card.lines[1], "BSTART STOP BSTOP");
}

}  // namespace
}  // namespace zimo::nc
