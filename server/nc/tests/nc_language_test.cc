// The NC macro language: token classification, number conversion, the
// expression parser with its error ids and vacant values, the operators and
// functions, rounding, and the message table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "nc/language/error_ids.h"
#include "nc/language/expression.h"
#include "nc/language/messages.h"
#include "nc/language/operators.h"
#include "nc/language/scanner.h"
#include "nc/language/tokens.h"
#include "nc_fakes.h"

namespace zimo::nc {
namespace {

using testing::FakeCardSide;
using testing::FakeVariables;

struct Kind {
  int kind;
  int token;
};

Kind Classify(const char* text, int prev_kind = kKindStart) {
  NcLineCursor c;
  c.Reset(text);
  c.prev_kind = prev_kind;
  if (!ClassifyNext(c)) return {-1, -1};
  return {c.kind, c.token};
}

TEST(NcScanner, ClassifiesTheTokensOfTheLanguage) {
  struct Case {
    const char* text;
    int prev_kind;
    int kind;
    int token;
  } cases[] = {
      {"X-#1", 0, 12, 0},   {"X-1", 0, 3, 0},       {"X#1", 0, 11, 0},
      {"X#[#1]", 0, 12, 0}, {"X[#1]", 0, 12, 0},    {"SIN[30]", 0, 10, 33},
      {"SIN 30", 0, 3, 0},  {"   \t\r", 0, 1, 0},   {"", 0, 1, 0},
      {"#[1]", 0, 10, 22},  {"#12", 0, 7, 0},       {"(X)", 0, 2, 0},
      {"=", 0, 4, 0},       {"[", 0, 5, 0},         {"]", 0, 6, 0},
      {"*2", 0, 9, 3},      {"/2", 0, 9, 4},        {"AND 3", 8, 10, 15},
      {"DPRNT[X]", 0, 14, 36}, {"GOTO 5", 0, 13, 6}, {"WHILE [", 0, 13, 4},
      {"END1", 0, 13, 8},   {"5", 0, 8, 0},         {".5", 0, 8, 0},
      // "-5" after "=" is one number; after a variable the "-" is binary.
      {"-5", kKindAssign, 8, 0}, {"-5", kKindVariable, 9, 2}, {"+ 5", kKindOpen, 8, 0},
      {"+#1", kKindStart, 9, 1},
  };
  for (const Case& c : cases) {
    const Kind k = Classify(c.text, c.prev_kind);
    EXPECT_EQ(k.kind, c.kind) << c.text;
    EXPECT_EQ(k.token, c.token) << c.text;
  }
}

TEST(NcScanner, BytesAboveAsciiAreOfNoClassAndStartNoToken) {
  for (int c = 128; c < 256; ++c) EXPECT_EQ(ClassOf(static_cast<char>(c)), kClassOther) << c;
  EXPECT_EQ(Classify("\xC4").kind, -1);
  EXPECT_EQ(Classify("!").kind, -1);
}

TEST(NcScanner, NumbersHaveNoExponent) {
  const char* end = nullptr;
  const char text[] = "10E5";
  EXPECT_EQ(ConvertNumber(text, &end), 10.0);
  EXPECT_EQ(end, text + 2);
  const char text2[] = "1.5D2";
  EXPECT_EQ(ConvertNumber(text2, &end), 1.5);
  EXPECT_EQ(*end, 'D');
  const char text3[] = " -0.25X";
  EXPECT_EQ(ConvertNumber(text3, &end), -0.25);
  EXPECT_EQ(*end, 'X');
  // Hexadecimal is no NC number: "0x1F" is 0 followed by the letter x.
  const char text4[] = "0x1F";
  EXPECT_EQ(ConvertNumber(text4, &end), 0.0);
  EXPECT_EQ(*end, 'x');
}

TEST(NcScanner, ReadNumberReportsOverflowAndStrayDigits) {
  FakeCardSide card;
  NcLineCursor c;
  c.card = &card;
  const std::string huge(400, '9');
  c.Reset(huge.c_str());
  double v = 0;
  EXPECT_FALSE(ReadNumber(c, &v, true));
  EXPECT_FALSE(c.ok);
  ASSERT_EQ(card.errors.size(), 1u);
  EXPECT_EQ(card.errors[0].id, 0xC0110040u);
  EXPECT_EQ(card.errors[0].text, "String conversion to double, overflow");

  c.Reset("1.2.3");
  EXPECT_FALSE(ReadNumber(c, &v, true));
  EXPECT_EQ(card.errors.back().id, 0xC0110041u);
  c.Reset("1.2.3");
  EXPECT_TRUE(ReadNumber(c, &v, false));
  EXPECT_EQ(v, 1.2);
}

// Evaluates a statement over the fake store; the result and the first error.
class NcExpressionTest : public ::testing::Test {
 protected:
  bool Run(const std::string& text, int word_slot = kSlotNone, bool condition = false) {
    line_ = text;
    cursor_.card = &card_;
    cursor_.env = &vars_;
    cursor_.Reset(line_.c_str());
    cursor_.word_slot = word_slot;
    cursor_.bracket_condition = condition;
    return word_slot < kSlotNone ? WordValue(cursor_) : EvaluateExpression(cursor_);
  }
  double Var(int n) { return vars_.values.count(n) != 0 ? vars_.values[n] : kVacant; }

  FakeCardSide card_;
  FakeVariables vars_;
  NcLineCursor cursor_;
  std::string line_;
};

TEST_F(NcExpressionTest, AssignsWithPrecedence) {
  const struct {
    const char* text;
    double value;
  } cases[] = {{"#1 = 2 + 3 * 4", 14}, {"#1 = [2 + 3] * 4", 20}, {"#1 = -[2]", -2},
               {"#1=-5", -5},          {"#1 = 2 - 3 - 4", -5},   {"#1 = 8 / 2 / 2", 2},
               {"#1 = 1 EQ 1 AND 3", 1}, {"#1 = 2 * -3", -6}};
  for (const auto& c : cases) {
    vars_.values.clear();
    EXPECT_TRUE(Run(c.text)) << c.text;
    EXPECT_EQ(Var(1), c.value) << c.text;
    EXPECT_EQ(card_.FirstError(), 0u) << c.text;
  }
  vars_.values[2] = 7;
  EXPECT_TRUE(Run("#1=#2-5"));
  EXPECT_EQ(Var(1), 2);
  // An indirect target and an indirect read.
  vars_.values[3] = 5;
  EXPECT_TRUE(Run("#[#3] = #[1 + 2] * 2"));
  EXPECT_EQ(Var(5), 10);
}

TEST_F(NcExpressionTest, ReportsTheErrorsOfBadStatements) {
  const struct {
    const char* text;
    uint32_t id;
  } cases[] = {
      {"#1 = 5 = 6", 0xC0110042}, {"#1 + 2 = 3", 0xC0110043}, {"#1 = * 2", 0xC011003A},
      {"#1 = 2 3", 0xC011003C},   {"#1 = [2", 0xC011003F},    {"#1 = 2]", 0xC011003F},
      {"#1.5 = 2", 0xC011003D},   {"#70000 = 2", 0xC011003D}, {"#1 =", 0xC011003A},
      {"#0 = 1", 0xC011003E},     {"#5000 = 1", 0xC011003E},  {"#1 = 10 MOD 0.4", 0xC0110030},
      {"#1 = SQRT[-1]", 0xC0110031}, {"#1 = #[9000]", 0xC011004C}, {"#1 = #[5000]", 0xC011004C},
  };
  for (const auto& c : cases) {
    card_.errors.clear();
    vars_.values.clear();
    EXPECT_FALSE(Run(c.text)) << c.text;
    EXPECT_FALSE(cursor_.ok) << c.text;
    EXPECT_EQ(card_.FirstError(), c.id) << c.text;
    EXPECT_EQ(vars_.values.count(1), 0u) << c.text;
  }
}

TEST_F(NcExpressionTest, VacantOperands) {
  // #2 is vacant.
  EXPECT_TRUE(Run("#1 = #2"));
  EXPECT_EQ(Var(1), kVacant);
  ASSERT_EQ(vars_.values.count(1), 1u);
  EXPECT_TRUE(Run("#1 = #2 + 1"));
  EXPECT_EQ(Var(1), 1);
  EXPECT_TRUE(Run("[#2 EQ 0]", kSlotNone, true));
  EXPECT_EQ(cursor_.value, 0);
  EXPECT_TRUE(Run("[#2 EQ #0]", kSlotNone, true));
  EXPECT_EQ(cursor_.value, 1);
  EXPECT_TRUE(Run("[#2 NE 0]", kSlotNone, true));
  EXPECT_EQ(cursor_.value, 1);
  EXPECT_TRUE(Run("-#2", kSlotX));
  EXPECT_EQ(cursor_.value, 0.0);
  EXPECT_TRUE(std::signbit(cursor_.value));
  EXPECT_TRUE(Run("-[#2]", kSlotX));
  EXPECT_EQ(cursor_.value, kVacant);
  EXPECT_EQ(card_.FirstError(), 0u);
}

TEST_F(NcExpressionTest, KeywordsAndLettersEndAnExpression) {
  const struct {
    const char* text;
    double value;
    const char* rest;
  } cases[] = {{"#1 = 2 GOTO 5", 2, "GOTO 5"}, {"#1 = 3 * 2 X4", 6, "X4"},
               {"#1 = 1 (note)", 1, "(note)"}, {"#1 = 4 THEN", 4, "THEN"}};
  for (const auto& c : cases) {
    EXPECT_TRUE(Run(c.text)) << c.text;
    EXPECT_EQ(Var(1), c.value) << c.text;
    EXPECT_STREQ(cursor_.pos, c.rest) << c.text;
  }
}

TEST_F(NcExpressionTest, WordValueEndsAtItsBracket) {
  vars_.values[1] = 1;
  EXPECT_TRUE(Run("[#1+2] Y3", kSlotX));
  EXPECT_EQ(cursor_.value, 3);
  EXPECT_STREQ(cursor_.pos, " Y3");
  EXPECT_TRUE(Run("12.5Y3", kSlotX));
  EXPECT_EQ(cursor_.value, 12.5);
  EXPECT_STREQ(cursor_.pos, "Y3");
  EXPECT_FALSE(Run(" 3", kSlotX));
  EXPECT_EQ(card_.FirstError(), 0xC011004Eu);
  // ROUND in a word rounds to the axis format, elsewhere to an integer.
  vars_.digits = 3;
  EXPECT_TRUE(Run("ROUND[1.23456]", kSlotX));
  EXPECT_DOUBLE_EQ(cursor_.value, 1.235);
  EXPECT_TRUE(Run("#1 = ROUND[1.23456]"));
  EXPECT_EQ(Var(1), 1);
}

TEST_F(NcExpressionTest, DeepNestingIsRefusedWithoutOverrunningTheStacks) {
  for (const int depth : {99, 150, 1000}) {
    card_.errors.clear();
    const std::string text = "#1 = " + std::string(depth, '[') + "1" + std::string(depth, ']');
    const bool ok = Run(text);
    if (depth < 100) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(Var(1), 1);
    } else {
      EXPECT_FALSE(ok) << depth;
      EXPECT_EQ(card_.FirstError(), 0xC011003Bu) << depth;
    }
  }
  // As many operands as the stack holds, and one more.
  std::string sum = "#1 = 1";
  for (int i = 0; i < 150; ++i) sum += " + [1";
  EXPECT_FALSE(Run(sum));
  EXPECT_EQ(card_.FirstError(), 0xC011003Bu);
}

TEST_F(NcExpressionTest, OperatorsAndFunctions) {
  const struct {
    const char* expression;
    double value;
  } cases[] = {
      {"10 MOD 3", 1},   {"-10 MOD 3", -1},      {"10 MOD -3", 1},     {"10.4 MOD 3", 1},
      {"6 AND 3", 2},    {"6 OR 3", 7},          {"6 XOR 3", 5},       {"-1 AND 255", 255},
      {"1 EQ 1.0000000005", 1}, {"1 EQ 1.000001", 0}, {"1 NE 1.000001", 1},
      {"FIX[-2.7]", -2}, {"FUP[-2.2]", -3},      {"FIX[2.7]", 2},      {"FUP[2.2]", 3},
      {"ROUND[2.5]", 3}, {"ROUND[-2.5]", -3},    {"SIN[90]", 1},       {"COS[0]", 1},
      {"ABS[-4]", 4},    {"SQRT[16]", 4},        {"EXP[0]", 1},        {"LN[1]", 0},
      {"2 GT 1", 1},     {"2 LE 1", 0},          {"-1 OR 0", 4294967295.0},
  };
  for (const auto& c : cases) {
    vars_.values.clear();
    card_.errors.clear();
    EXPECT_TRUE(Run(std::string("#1 = ") + c.expression)) << c.expression;
    EXPECT_EQ(Var(1), c.value) << c.expression;
  }
  // ATAN[1] is 45 within the equality tolerance (the degree factor has 13 digits).
  EXPECT_TRUE(Run("#1 = ATAN[1]"));
  EXPECT_NEAR(Var(1), 45.0, 1e-9);
  const struct {
    const char* expression;
    uint32_t id;
  } errors[] = {{"5 / 0", 0xC0110030},   {"10 MOD 0.4", 0xC0110030}, {"ACOS[2]", 0xC011004B},
                {"ASIN[-2]", 0xC011004B}, {"LN[0]", 0xC011004B},     {"EXP[710]", 0xC011004B}};
  for (const auto& e : errors) {
    card_.errors.clear();
    EXPECT_FALSE(Run(std::string("#1 = ") + e.expression)) << e.expression;
    EXPECT_EQ(card_.FirstError(), e.id) << e.expression;
  }
}

TEST(NcRounding, HalfAwayFromZeroToDecimals) {
  EXPECT_EQ(RoundToDecimals(3, 1.23456), 1.235);
  EXPECT_EQ(RoundToDecimals(3, -1.23456), -1.235);
  EXPECT_EQ(RoundToDecimals(0, 2.5), 3);
  EXPECT_EQ(RoundToDecimals(-1, -2.5), -3);
  EXPECT_EQ(RoundHalfAway(-0.4), 0);
  EXPECT_EQ(TruncateToInt32(1e300), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(-2.9), -2);
}

TEST(NcMessages, TextsAsTheSystemShowsThem) {
  EXPECT_EQ(FormatNcMessage(0x40110016, {"C:\\PARTS\\X.NC"}), "Unable to open C:\\PARTS\\X.NC file");
  EXPECT_EQ(FormatNcMessage(0xC0110047), "Arguments preceed parametric programming syntax");
  EXPECT_EQ(FormatNcMessage(0xC0110062),
            "Pattern in P-Q sequence is non monontonic or ( U_ and  W_) signs are incorrect");
  // Trailing blanks go.
  EXPECT_EQ(FormatNcMessage(0x40110007),
            "Reset function did not occur in time or failed. Check reset program (reset.zko) as "
            "functional.");
  EXPECT_EQ(FormatNcMessage(0x40110009, {"O1234.NC", "2"}), "M99 - Subroutine O1234.NC, Repeat 2");
  EXPECT_EQ(FormatNcMessage(0x40110025, {"55", "X", "1", "2", "2", "mm"}),
            "You have requested to change G55 axis X from 1 to 2. Do you wish to keep the new "
            "offset of 2 mm?");
  EXPECT_EQ(FormatNcMessage(0xC0100016), "I2T Error");
  EXPECT_EQ(FormatNcMessage(0xC0110056, {"P"}), "P code is required");
  EXPECT_EQ(FormatNcMessage(23), "Send Response");
  EXPECT_EQ(FormatNcMessage(24), "CMD Response");
  EXPECT_EQ(FormatNcMessage(5007), "RS274 Files (*.NC)|*.nc|All Files (*.*)|*.*|");
  EXPECT_EQ(FormatNcMessage(9101), "Unknown error supplied by application");
  EXPECT_NE(NcStringText(6014), nullptr);
  EXPECT_EQ(FormatNcMessage(0xC011004D), "Message not found. Error: 317l");
  EXPECT_EQ(FormatNcMessage(0x12345678, {}, 2), "Message not found. Error: 2l");
  // Every language error the parser reports has its text.
  for (uint32_t id = 0xC0110030; id <= 0xC011004E; ++id) {
    if (id == 0xC0110049 || id == 0xC011004D) continue;
    EXPECT_NE(NcMessageText(id), nullptr) << std::hex << id;
  }
}

}  // namespace
}  // namespace zimo::nc
