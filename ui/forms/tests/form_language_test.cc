// The forms' number functions: what a text box, a reply or a settings file
// reads as a number, how numbers are written into commands, captions and
// messages, and the whole-number conversions that must not wrap.
#include "ui/form_language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace zimo::ui {
namespace {

TEST(ValTest, TakesTheLeadingNumberOfATextWithBlanksAnywhere) {
  struct Case {
    std::string text;
    double value;
  };
  const Case cases[] = {
      {" 1 2.5E1x", 125},
      {"&H1F", 31},
      {"&h1f", 31},
      {"&O17", 15},
      {"1.5D2", 150},
      {"1.5d-1", 0.15},
      {"abc", 0},
      {"", 0},
      {"-3", -3},
      {"+4.5", 4.5},
      {"- 3", -3},
      {".5", 0.5},
      {"\t2\n0", 20},
      {"1E", 1},
      {"2E+", 2},
      {"7.", 7},
      {".", 0},
      {"-", 0},
      {"0.000884", 0.000884},
      {" .000884", 0.000884},
      {"12abc3", 12},
      {"2000\r", 2000},
      {"1,5", 1},
      {"&HFFFF", -1},
      {"&H10000", 65536},
      {"&Hx", 0},
      {"&", 0},
      {"1E-400", 0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(Val(c.text), c.value) << '"' << c.text << '"';
  }
  EXPECT_TRUE(std::isinf(Val("1E400")));
  EXPECT_TRUE(std::isinf(Val("&H100000000")));
}

TEST(StrTest, WritesTheShortestFormWithABlankForNonNegativeValues) {
  EXPECT_EQ(Str(int64_t{10}), " 10");
  EXPECT_EQ(Str(int16_t{-3}), "-3");
  EXPECT_EQ(Str(int32_t{0}), " 0");
  EXPECT_EQ(Str(10.0), " 10");
  EXPECT_EQ(Str(-3.0), "-3");
  EXPECT_EQ(Str(0.5), " .5");
  EXPECT_EQ(Str(-0.5), "-.5");
  EXPECT_EQ(Str(0.0), " 0");
  EXPECT_EQ(StrSingle(1.0f / 3.0f), " .3333333");
  EXPECT_EQ(Str(1.0 / 3.0), " .333333333333333");
  EXPECT_EQ(Str(0.001768 / 0.000884 * 2), " 4");
  EXPECT_EQ(Str(0.000884), " .000884");
  EXPECT_EQ(Str(2.54), " 2.54");
  EXPECT_EQ(Str(123456789012345.0), " 123456789012345");
  EXPECT_EQ(Str(1e15), " 1E+15");
  EXPECT_EQ(Str(-1.5e15), "-1.5E+15");
  EXPECT_EQ(Str(0.0001), " .0001");
  EXPECT_EQ(Str(0.00001), " 1E-05");
  EXPECT_EQ(StrSingle(1234567.0f), " 1234567");
  EXPECT_EQ(StrSingle(12345678.0f), " 1.234568E+07");
  EXPECT_EQ(StrSingle(2000.0f), " 2000");
  EXPECT_EQ(StrSingle(0.1f), " .1");  // not .1000000015 of the float's exact value
  EXPECT_EQ(CStr(0.5), ".5");
  EXPECT_EQ(CStr(-0.25), "-.25");
  EXPECT_EQ(CStrSingle(50.8f), "50.8");
  EXPECT_EQ(CStr(int64_t{-32768}), "-32768");
}

TEST(FormatTest, WritesThePatternsOfTheWindows) {
  struct Case {
    double value;
    std::string pattern;
    std::string text;
  };
  const Case cases[] = {
      {150, "######0.###", "150."},
      {10, "######0.###", "10."},
      {2.75, "######0.###", "2.75"},
      {0.0004, "######0.###", "0."},
      {1.0 / 3.0, "######0.###", "0.333"},
      {50.8, "##########0.00", "50.80"},
      {1, "###0.000000", "1.000000"},
      {0.5, "########0.0####", "0.5"},
      {0.123456, "########0.0####", "0.12346"},
      {3, "########0.0####", "3.0"},
      {1.2345, "#0.000", "1.235"},  // the decimal half rounds up, not the binary value
      {-1.5, "#0.000", "-1.500"},
      {-0.0001, "#0.000", "0.000"},
      {0.9996, "#0.000", "1.000"},
      {99.9996, "#0.000", "100.000"},
      {2.675, "0.00", "2.68"},
      {0.25, "0.000000", "0.250000"},
      {2.5, "#########0", "3"},
      {-2.5, "#########0", "-3"},
      {0.4, "#########0", "0"},
      {1234567.891, "#########0", "1234568"},
      {123456789012.0, "#0", "123456789012"},
      {0, "#0.000", "0.000"},
      {0.5, "#.##", ".5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.value, c.pattern), c.text) << c.value << " with " << c.pattern;
  }
}

TEST(WholeNumberTest, RoundsHalvesToEvenAndReportsOverflow) {
  struct Case {
    double value;
    std::optional<int16_t> integer;
  };
  const Case cases[] = {
      {2.5, 2},      {3.5, 4},           {-2.5, -2},   {2.4999, 2}, {2.5001, 3}, {32767, 32767},
      {32767.5, {}}, {-32768.5, -32768}, {-32769, {}}, {40000, {}}, {NAN, {}},   {INFINITY, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CInt(c.value), c.integer) << c.value;
  }
  EXPECT_EQ(CLng(40000), 40000);
  EXPECT_EQ(CLng(0.5), 0);
  EXPECT_EQ(CLng(1.5), 2);
  EXPECT_EQ(CLng(2147483647.0), 2147483647);
  EXPECT_EQ(CLng(-2147483648.0), -2147483647 - 1);
  EXPECT_EQ(CLng(2147483647.5), std::nullopt);
  EXPECT_EQ(CLng(3e10), std::nullopt);
  EXPECT_EQ(CSng(2.5), 2.5f);
  EXPECT_EQ(CSng(-3.4e38), -3.4e38f);
  EXPECT_EQ(CSng(1e39), std::nullopt);
  EXPECT_EQ(CSng(-1e39), std::nullopt);
  EXPECT_EQ(CSng(NAN), std::nullopt);
}

}  // namespace
}  // namespace zimo::ui
