// The card's word formats: text digits and DPR dword pairs to host numbers,
// including the words whose mantissa or fixed value needs 64 bits.
#include "corvan/word_formats_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(WordFormatsTest, TextWordsConvertExactly) {
  struct Case {
    const char* what;
    double (*convert)(const char*);
    const char* digits;
    double want;
  };
  const Case cases[] = {
      {"24-bit most negative", strtod24, "800000", -8388608.0},
      {"24-bit most positive", strtod24, "7FFFFF", 8388607.0},
      {"24-bit all ones", strtod24, "FFFFFF", -1.0},
      {"fixed, negative upper word", strtod48l, "FFFFFF000001", -16777215.0},
      {"fixed, one upper unit", strtod48l, "000001000000", 16777216.0},
      {"fixed, largest", strtod48l, "7FFFFFFFFFFF", 140737488355327.0},
      {"float one (mantissa needs 64 bits)", strtod48f, "400000000800", 1.0},
      {"float minus one", strtod48f, "C00000000800", -1.0},
      {"float zero", strtod48f, "000000000000", 0.0},
      {"float, ninth digit counts", strtod48f, "400000008800", 1.0 + 0x8 / 34359738368.0 * 2},
      {"float, exponent scales", strtod48f, "40000000080A", 1024.0},
      {"double word all ones", strtod32dp, "00FFFF00FFFF", -1.0},
      {"double word halves", strtod32dp, "001234005678", 0x12345678},
      {"double word ignores the high digits", strtod32dp, "FF0001FF0002", 0x10002},
      {"split single one", strtod32f, "003F80000000", 1.0},
      {"split single minus one", strtod32f, "00BF80000000", -1.0},
      {"split single 1.5", strtod32f, "003FC0000000", 1.5},
      {"split single, low half", strtod32f, "004000000001", 2.0 + 2.0 / 8388608.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.convert(c.digits), c.want) << c.what << " (" << c.digits << ")";
  }
}

TEST(WordFormatsTest, HexDigitsFollowTheCardRule) {
  EXPECT_EQ(hex_long2("7FFF", 4), 0x7FFF);
  EXPECT_EQ(hex_long2("ABCDEF", 6), 0xABCDEF);
  EXPECT_EQ(hex_long2("FFFFFFFF", 8), -1);
  EXPECT_EQ(hex_long2("123456789", 9), 0x23456789);  // a ninth digit wraps
  EXPECT_NE(hex_long2("7fff", 4), 0x7FFF);           // lower case is not recognised
  EXPECT_EQ(hex_long2("1234", 2), 0x12);
  EXPECT_EQ(hex_long2("1234", 0), 0);
  EXPECT_EQ(hex_long2(nullptr, 4), 0);
}

TEST(WordFormatsTest, BitOfAHexText) {
  struct Case {
    const char* text;
    int bit;
    int want;
  };
  const Case cases[] = {
      {"8000", 15, 1}, {"8000", 16, 0},  // no digit there
      {"8000", 14, 0}, {"1f", 4, 1},     // lower case counts here
      {"1f", 3, 1},    {"1G", 0, 0},     // no hexadecimal digit
      {"1", -1, 0},    {"A", 1, 1},     {"A", 0, 0}, {"", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getBitValue(c.text, c.bit), c.want) << c.text << " bit " << c.bit;
  }
  EXPECT_EQ(getBitValue(nullptr, 0), 0);
}

TEST(WordFormatsTest, DprWordsMatchTheirTextForm) {
  const std::uint32_t one[2] = {0x800, 0x400000};
  EXPECT_EQ(ZimoDPRFloat(one, 1.0), 1.0);
  EXPECT_EQ(ZimoDPRFloat(one, 2.5), 2.5);
  EXPECT_EQ(ZimoDPRFloat(one, 1.0), strtod48f("400000000800"));
  // A zero mantissa is 0 whatever the exponent.
  const std::uint32_t zero_mantissa[2] = {0xFFF, 0};
  EXPECT_EQ(ZimoDPRFloat(zero_mantissa, 1.0), 0.0);
  // Words with low mantissa bits and a negative upper word (sign-extended,
  // as the DPR presents it) give the same number as their digits.
  struct Pair {
    std::uint32_t lower;
    std::uint32_t upper;
    const char* digits;
  };
  const Pair pairs[] = {
      {0x789ABC, 0x123456, "123456789ABC"},
      {0x987801, 0xFFFEDCBA, "FEDCBA987801"},
      {0x000801, 0xFFC00000, "C00000000801"},
  };
  for (const Pair& p : pairs) {
    const std::uint32_t words[2] = {p.lower, p.upper};
    EXPECT_EQ(ZimoDPRFloat(words, 1.0), strtod48f(p.digits)) << p.digits;
  }
  // An exponent beyond the double range gives 0, not infinity.
  const std::uint32_t huge[2] = {0xFFF, 0x400000};
  EXPECT_EQ(ZimoDPRFloat(huge, 1e300), 0.0);

  const std::uint32_t fixed_negative[2] = {0x000001, 0xFFFFFFFF};
  EXPECT_EQ(ZimoDPRLFixed(fixed_negative, 1.0), strtod48l("FFFFFF000001"));
  const std::uint32_t fixed_upper[2] = {0xFF000000, 0x1};  // bits above 23 of the lower dword drop
  EXPECT_EQ(ZimoDPRLFixed(fixed_upper, 0.5), 8388608.0);
  const std::uint32_t fixed_large[2] = {0xFFFFFF, 0x7FFFFF};
  EXPECT_EQ(ZimoDPRLFixed(fixed_large, 1.0), strtod48l("7FFFFFFFFFFF"));
  EXPECT_EQ(ZimoDPRFloat(nullptr, 1.0), 0.0);
  EXPECT_EQ(ZimoDPRLFixed(nullptr, 1.0), 0.0);
}

}  // namespace

// A text shorter than the word's width is read up to its end only, the
// missing digits counting as 0 (texts on the heap, exactly as long as they
// are, so that the address sanitizer sees any read past them).
TEST(WordFormatsTest, ShortTextsAreReadToTheirEndOnly) {
  const auto heap = [](const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
  };
  struct Case {
    double (*convert)(const char*);
    const char* text;
    double want;
  };
  const Case cases[] = {
      {strtod24, "", 0.0},
      {strtod24, "FF", -65536.0},  // as "FF0000"
      {strtod48l, "FFFFFF", -16777216.0},
      {strtod48l, "000001", 16777216.0},
      {strtod48f, "40000000", 0.0},  // exponent digits missing: 2^-2082, below a double's range
      {strtod32dp, "0012", 0x12000000},
      {strtod32f, "003F8", 1.0},
  };
  for (const Case& c : cases) {
    auto text = heap(c.text);
    EXPECT_EQ(c.convert(text.get()), c.want) << "\"" << c.text << "\"";
  }
  auto two = heap("12");
  EXPECT_EQ(hex_long2(two.get(), 6), 0x120000);
}
