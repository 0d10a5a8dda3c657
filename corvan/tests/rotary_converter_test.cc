// The motion-text converter: lines of the card's motion language become
// rotary tokens and then the card's binary units, on both card generations.
// Expected units are written out as the card reads them (four 16-bit words
// per unit, low word first).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dpr/rotary_encoder.h"
#include "dpr/rotary_parser.h"
#include "link/error_texts.h"

namespace zimo::corvan {
namespace {

struct Tok {
  int code;
  int word;
  int sub;
  int count;
  double value;
};

std::string Describe(const Tok& t) {
  char text[96];
  std::snprintf(text, sizeof text, "{%d w%d s%d c%d v%g}", t.code, t.word, t.sub, t.count, t.value);
  return text;
}

// Tokens of a line up to and including the closing 0, or the error.
std::string Tokens(const RotaryDialect& d, const std::string& line) {
  std::array<RotaryToken, kRotaryTokenLimit> list{};
  const int r = RotaryParseLine(d, line.c_str(), list.data());
  if (r != 0) return "error " + std::to_string(r);
  std::string out;
  for (const RotaryToken& t : list) {
    out += Describe({t.code, t.word, t.sub, t.count, t.value});
    if (t.code == 0) break;
  }
  return out;
}

std::string Expect(const std::vector<Tok>& tokens) {
  std::string out;
  for (const Tok& t : tokens) out += Describe(t);
  return out;
}

// Units of a line as "w0 w1 w2 w3 / ...", or the error.
std::string Units(const RotaryDialect& d, const std::string& line) {
  std::array<std::uint8_t, kRotaryBlockBytes> block{};
  const int words = RotaryConvertLine(d, line.c_str(), block.data());
  if (words < 0) return "error " + std::to_string(words);
  std::string out;
  for (int u = 0; u < words / 2; ++u) {
    if (u > 0) out += " / ";
    for (int w = 0; w < 4; ++w) {
      char hex[8];
      std::snprintf(hex, sizeof hex, w == 0 ? "%04X" : " %04X",
                    block[8 * u + 2 * w] | block[8 * u + 2 * w + 1] << 8);
      out += hex;
    }
  }
  return out;
}

TEST(RotaryParserTest, LinesBecomeTheirTokens) {
  struct Case {
    const char* line;
    std::vector<Tok> tokens;
  };
  const Case cases[] = {
      {"X10 Y20", {{320, 32 + 24, 0, 0, 10}, {320, 25, 0, 0, 20}, {0, 0, 0, 0, 0}}},
      {"P1=P2+3",
       {{260, 32, 2, 1, 1},
        {36, 0, 0, 2, 2},
        {128, 0, 0, 0, 0},
        {40, 0, 0, 0, 3},
        {0, 0, 0, 0, 0}}},
      {"P1.5", {{320, 32 + 16, 0, 0, 1.5}, {0, 0, 0, 0, 0}}},
      {"IF(P1>0)X10",
       {{292, 32, 0, 0, 0},
        {36, 0, 0, 1, 1},
        {176, 178, 0, 0, 0},
        {40, 0, 0, 0, 0},
        {98, 0, 0, 0, 0},
        {320, 24, 0, 0, 10},
        {0, 0, 0, 0, 0}}},
      {"DISABLE PLC 1..3,5", {{322, 32 + 30, 1, 0x2E, 0}, {0, 0, 0, 0, 0}}},
      {"DISPLC 1..3,5", {{322, 32 + 30, 1, 0x2E, 0}, {0, 0, 0, 0, 0}}},
      {"DIS PLC 0x1F", {{322, 32 + 30, 1, static_cast<int>(0x80000000u), 0}, {0, 0, 0, 0, 0}}},
      {"ENA PLCC 010", {{322, 32 + 30, 2, 1 << 8, 0}, {0, 0, 0, 0, 0}}},
      {"ABS(X,Y)", {{323, 32 + 30, 0, 0xA000, 0}, {0, 0, 0, 0, 0}}},
      {"INC", {{323, 32 + 30, 1, 0x2AAAA, 0}, {0, 0, 0, 0, 0}}},
      {"FRAX(X,Y)", {{324, 32 + 30, 0, 0x5000, 0}, {0, 0, 0, 0, 0}}},
      {"P2=ABS(P1)",
       {{260, 32, 2, 2, 2}, {78, 0, 0, 0, 0}, {36, 0, 0, 1, 1}, {98, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {"AROTATE", {{326, 32 + 30, 13, 0, 0}, {0, 0, 0, 0, 0}}},
      {"AROT1015", {{326, 32 + 30, 13, 1015, 0}, {0, 0, 0, 0, 0}}},
      {"HM 1..2,8", {{325, 32 + 30, 3, 0x83, 0}, {0, 0, 0, 0, 0}}},
      {"HOMEZ3", {{325, 32 + 30, 6, 4, 0}, {0, 0, 0, 0, 0}}},
      {"LIN NRM RPD BSTART",
       {{327, 32 + 30, 1, 0, 0},
        {327, 30, 2, 0, 0},
        {327, 30, 9, 0, 0},
        {327, 30, 6, 0, 0},
        {0, 0, 0, 0, 0}}},
      {"DWE 5 DLY$10 TA-2 :3 ^4",
       {{321, 32 + 28, 68, 0, 5},
        {321, 28, 69, 0, 16},
        {321, 28, 0, 0, -2},
        {321, 28, 70, 0, 3},
        {321, 28, 71, 0, 4},
        {0, 0, 0, 0, 0}}},
      {"M3==1", {{274, 32, 3, 3, 3}, {40, 0, 0, 0, 1}, {0, 0, 0, 0, 0}}},
      {"M3^=1", {{274, 32, 1, 3, 3}, {40, 0, 0, 0, 1}, {0, 0, 0, 0, 0}}},
      {"Q2=-P(4)",
       {{263, 32, 3, 2, 2}, {68, 0, 0, 0, 0}, {40, 0, 0, 0, 4}, {98, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {"P(P1)=-2",
       {{770, 32, 4, 0, 0},
        {36, 0, 0, 1, 1},
        {98, 0, 0, 0, 0},
        {101, 0, 0, 0, 0},
        {40, 0, 0, 0, 2},
        {0, 0, 0, 0, 0}}},
      {"P(P3+7)=P(P3+7)+1",
       {{770, 32, 4, 0, 0},
        {36, 0, 0, 3, 3},
        {128, 0, 0, 0, 0},
        {40, 0, 0, 0, 7},
        {98, 0, 0, 0, 0},
        {100, 0, 0, 0, 0},
        {68, 0, 0, 0, 0},
        {36, 0, 0, 3, 3},
        {128, 0, 0, 0, 0},
        {40, 0, 0, 0, 7},
        {98, 0, 0, 0, 0},
        {128, 0, 0, 0, 0},
        {40, 0, 0, 0, 1},
        {0, 0, 0, 0, 0}}},
      {"M(1)&=3",
       {{772, 32, 4, 0, 0},
        {40, 0, 0, 0, 1},
        {98, 0, 0, 0, 0},
        {100, 0, 0, 0, 0},
        {40, 0, 0, 0, 3},
        {0, 0, 0, 0, 0}}},
      {"P(3)", {{270, 32, 16, 0, 0}, {40, 0, 0, 0, 3}, {98, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {"X(-P1*-2)",
       {{271, 32, 24, 0, 0},
        {36, 0, 0, 1, 1},
        {130, 0, 0, 0, 0},
        {40, 0, 0, 0, -2},
        {98, 0, 0, 0, 0},
        {0, 0, 0, 0, 0}}},
      {"WHILE(P1!<2 AND- P2=3)",
       {{296, 32, 0, 0, 0},
        {36, 0, 0, 1, 1},
        {176, 188, 0, 0, 0},
        {40, 0, 0, 0, 2},
        {171, 0, 0, 0, 0},
        {36, 0, 0, 2, 2},
        {176, 176, 0, 0, 0},
        {40, 0, 0, 0, 3},
        {98, 0, 0, 0, 0},
        {0, 0, 0, 0, 0}}},
      {"IF(P1>-1)",
       {{292, 32, 0, 0, 0},
        {36, 0, 0, 1, 1},
        {176, 179, 0, 0, 0},
        {40, 0, 0, 0, 1},
        {98, 0, 0, 0, 0},
        {0, 0, 0, 0, 0}}},
      {"X1\rY2", {{320, 32 + 24, 0, 0, 1}, {320, 32 + 25, 0, 0, 2}, {0, 0, 0, 0, 0}}},
      {",X1", {{320, 24, 0, 0, 1}, {0, 0, 0, 0, 0}}},
      {"CALL 1.5 X. ; Y2", {{320, 32 + 27, 0, 0, 1.5}, {320, 24, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {"", {{0, 32, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tokens(kRotaryOlder, c.line), Expect(c.tokens)) << c.line;
  }
}

TEST(RotaryParserTest, BadLinesGiveTheirErrors) {
  struct Case {
    RotaryDialect dialect;
    const char* line;
    int error;
  };
  const Case cases[] = {
      {kRotaryOlder, "P1=(2", -37},       {kRotaryOlder, "IF(P1>0", -37},
      {kRotaryOlder, "X;", -61},          {kRotaryOlder, "X", -61},
      {kRotaryOlder, "X$", -61},          {kRotaryOlder, "IF(P1)X10", -62},
      {kRotaryOlder, "IF((P1>0))", -62},  {kRotaryOlder, "IF(P1>0>1)", -62},
      {kRotaryOlder, "IF(P1==1)", -62},   {kRotaryOlder, "ABS(P1)", -62},
      {kRotaryOlder, "AND X1", -62},      {kRotaryOlder, "X10\xC4", -62},
      {kRotaryOlder, "x10", -62},         {kRotaryOlder, "N10", -62},
      {kRotaryOlder, "P1=", -62},         {kRotaryOlder, "P1=2+", -62},
      {kRotaryOlder, "P1=()", -62},       {kRotaryOlder, "P1=2)", -62},
      {kRotaryOlder, "P1=P2>3", -62},     {kRotaryOlder, "P1&=3", -62},
      {kRotaryOlder, "SIN 3", -62},       {kRotaryOlder, "PA", -62},
      {kRotaryOlder, "P 1=P2+3", -62},    {kRotarySpran, "P1=P 2+3", -62},
      {kRotaryOlder, "IF(Q 1>0)X1", -62}, {kRotarySpran, "I 10=1", -62},
      {kRotaryOlder, "P1.5=2", -63},      {kRotaryOlder, "P1024=2", -63},
      {kRotaryOlder, "P1=P-2", -63},      {kRotaryOlder, "AROTATE 1016", -63},
      {kRotaryOlder, "CIRCLE3", -63},     {kRotaryOlder, "PRELUDE 1025", -63},
      {kRotaryOlder, "HOME 9", -67},      {kRotaryOlder, "HOME 0", -67},
      {kRotaryOlder, "HOME 2,2", -67},    {kRotaryOlder, "HOME", -67},
      {kRotaryOlder, "DIS PLC 3,1", -68}, {kRotaryOlder, "ENA PLC 32", -68},
      {kRotaryOlder, "ENA PLC 1X", -68},  {kRotaryOlder, "INC(X,Q)", -69},
      {kRotaryOlder, "FRAX(R,X)", -69},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tokens(c.dialect, c.line), "error " + std::to_string(c.error)) << c.line;
  }
  // The ranges that differ: 32 motors and 8192 variables on SPRAN cards.
  EXPECT_EQ(Tokens(kRotarySpran, "HOME 9").substr(0, 5), "{325 ");
  EXPECT_EQ(Tokens(kRotarySpran, "P1024=2").substr(0, 5), "{260 ");
  EXPECT_EQ(Tokens(kRotarySpran, "HOME 33"), "error -67");
}

TEST(RotaryParserTest, ATokenListBeyondItsRoomIsRefused) {
  std::string line;
  for (int i = 0; i < 124; ++i) line += "X1 ";
  EXPECT_EQ(Tokens(kRotaryOlder, line).substr(0, 5), "{320 ") << "124 tokens and the end";
  EXPECT_EQ(Tokens(kRotaryOlder, line + "X1"), "error -66");
  EXPECT_EQ(Tokens(kRotaryOlder, line + line), "error -66");
}

TEST(RotaryParserTest, KeywordsMatchWithTheirOptionalLetters) {
  const unsigned char disable_plc[] = {
      'D', 'I', 'S', 'A' | 0x80, 'B' | 0x80, 'L' | 0x80, 'E' | 0x80, ' ' | 0x80, 'P', 'L', 'C', 0};
  struct Case {
    const char* text;
    int result;
    int length;
  };
  const Case cases[] = {
      {"DISABLE PLC", 0, 11}, {"DISPLC 3", 0, 6},     {"DIS PLC", 0, 7}, {"DISABPLC", 0, 8},
      {"DISBAPLC", 1, 0},     {"DISABLE  PLC", 1, 0}, {"DIPLC", 1, 0},   {"DISPLCC", 0, 6},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    EXPECT_EQ(RotaryMatchKeyword(c.text, disable_plc, &end), c.result) << c.text;
    if (c.result == 0) {
      EXPECT_EQ(end - c.text, c.length) << c.text;
    }
  }
}

TEST(RotaryEncoderTest, LinesBecomeTheCardsUnits) {
  struct Case {
    RotaryDialect dialect;
    const char* line;
    const char* units;
  };
  const Case cases[] = {
      {kRotaryOlder, "X10", "0E20 0000 5000 0000"},
      {kRotaryOlder, "X0", "0E00 0000 0000 0000"},
      {kRotaryOlder, "X-1", "FE1D FFFF BFFF 0000"},
      {kRotaryOlder, "X1E12", "error -60"},
      {kRotaryOlder, "X1E-10", "error -60"},
      {kRotaryOlder, "LINEAR", "0F80 0001 0000 0000"},
      {kRotaryOlder, "X1 LINEAR", "0E1D 0000 4000 0000 / 0780 0001 0000 0000"},
      {kRotaryOlder, "TA100", "0F23 0000 6400 0000"},
      {kRotaryOlder, "DWELL 1", "0F1D 0088 4000 0000"},
      {kRotaryOlder, "DISABLE PLC 1..3,5", "1F81 002E 0000 0000"},
      {kRotaryOlder, "ABS(X,Y)", "0F82 0000 1400 0000"},
      {kRotaryOlder, "FRAX(X,Y)", "0F82 0002 2800 0000"},
      // Motor masks: bits 24-31 on older cards, 16-47 on SPRAN cards.
      {kRotaryOlder, "HOME 1,3", "0F83 0500 0000 0000"},
      {kRotarySpran, "HOME 1,3", "0F83 0005 0000 0000"},
      {kRotarySpran, "HOMEZ 32", "0F86 0000 8000 0000"},
      // A count of 0 stands for the generation's largest.
      {kRotaryOlder, "AROTATE", "0F80 000D 0004 0000"},
      {kRotarySpran, "AROTATE", "0F80 000D 0020 0000"},
      {kRotaryOlder, "CC2", "0F80 020A 0000 0000"},
      // Assignment headers: 24 bits with type and number on older cards, the
      // same inside the stream on SPRAN cards.
      {kRotaryOlder, "P1=P2", "682E 0000 5005 0000"},
      {kRotarySpran, "P1=P2", "A82E 5000 4001 0000"},
      {kRotaryOlder, "X1 P1=P1+1",
       "0E1D 0000 4000 0000 / 602E 1C00 5002 0000 / "
       "07DD 0000 4000 0000"},
      {kRotaryOlder, "IF(P1>0)X10",
       "083E 2F00 5003 0000 / 07C0 0000 0000 0000 / 0000 0200 2000 0000 / "
       "0620 0000 5000 0000 / 0000 0000 0000 0000"},
      {kRotaryOlder, "WHILE(P1<10)P1=P1+1",
       "083F 4F00 5003 0000 / 07E0 0000 5000 0000 / 0000 0300 3000 0000 / "
       "602E 1C00 5002 0000 / 07DD 0000 4000 0000 / 0000 FA00 00FF 0000"},
      // A word expression whose bits exactly fill its unit still marks it
      // as the statement's last.
      {kRotaryOlder, "X(((P1+3)+4))",
       "F838 0870 0140 0000 / 07DE 0000 6000 0000 / 07DF 0000 4000 0000"},
      {kRotaryOlder, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Units(c.dialect, c.line), c.units) << c.line << (c.dialect.spran ? " SPRAN" : "");
  }
}

TEST(RotaryEncoderTest, WhileJumpsBackWithTheGenerationsWidth) {
  auto last = [](const RotaryDialect& d) {
    const std::string units = Units(d, "WHILE(P1<10)X1");
    return units.substr(units.size() - 19);
  };
  EXPECT_EQ(last(kRotaryOlder), "0000 FB00 00FF 0000");
  EXPECT_EQ(last(kRotarySpran), "0000 FB00 0FFF 0000");
}

TEST(RotaryEncoderTest, FramesOfChainedConditions) {
  // Two IFs in a row share one frame after the second's condition; the
  // frame jumps over the body to the closing zero unit.
  const std::string units = Units(kRotaryOlder, "IF(P1>0)IF(P2>0)X1");
  std::vector<std::string> u;
  for (std::size_t at = 0; at < units.size(); at += 22) u.push_back(units.substr(at, 19));
  ASSERT_EQ(u.size(), 7u) << units;
  EXPECT_EQ(u[4], "0000 0200 2000 0000");
  EXPECT_EQ(u[5], "061D 0000 4000 0000");
  EXPECT_EQ(u[6], "0000 0000 0000 0000");
}

TEST(RotaryEncoderTest, LimitsOfALineAndAStatement) {
  std::string line;
  for (int i = 0; i < 76; ++i) line += "X1 ";
  std::array<std::uint8_t, kRotaryBlockBytes> block{};
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, line.c_str(), block.data()), 152);
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, (line + "X1").c_str(), block.data()), -66);

  std::string sum = "P1=1";
  for (int i = 1; i < 16; ++i) sum += "+1";
  // 94 bits of stream in three units (24 + 36 + 36 payload bits), then the
  // 16 constant units.
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, sum.c_str(), block.data()), 2 * (3 + 16))
      << "16 constants";
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, (sum + "+1").c_str(), block.data()), -66);
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, "P1=2*1E12", block.data()), -60);
  EXPECT_EQ(RotaryConvertLine(kRotaryOlder, "P1=2*1E-10", block.data()), -60);
}

TEST(RotaryEncoderTest, NoUnitCarriesBitsAbove47) {
  // Long expressions spread over many units; the top 16 bits stay clear.
  std::array<std::uint8_t, kRotaryBlockBytes> block{};
  const int words = RotaryConvertLine(
      kRotarySpran, "P1=P2+P3*P4-P5/P6+SIN(P7)+P(P8+1) IF(P9>P10 OR P11<P12) M1==P13",
      block.data());
  ASSERT_GT(words, 8);
  for (int u = 0; u < words / 2; ++u) {
    EXPECT_EQ(block[8 * u + 6] | block[8 * u + 7] << 8, 0) << "unit " << u;
  }
}

TEST(RotaryConverterTest, ErrorTextsOfTheConverter) {
  const std::pair<int, const char*> texts[] = {
      {37, "PLCC Unmatching parenthesis"},
      {60, "RS274 to BIN DPROT Unable to pack floating point number"},
      {61, "RS274 to BIN DPROT Unable to convert string to float number"},
      {62, "RS274 to BIN DPROT Illegal Command or Format in string"},
      {63, "RS274 to BIN DPROT Integer number out of range"},
      {66, "RS274 to BIN DPROT Exceeded Max number ZIMO cmmmands per line"},
      {67, "RS274 to BIN DPROT Illegal Motor numbers"},
      {68, "RS274 to BIN DPROT Illegal PLC numbers"},
      {69, "RS274 to BIN DPROT Illegal Axis numbers"},
      {70, "RS274 to BIN DPROT DPR or ZIMO Rotary Buffer Size Err"},
  };
  for (const auto& [number, text] : texts) {
    ASSERT_NE(LibraryText(static_cast<std::uint32_t>(number)), nullptr) << number;
    EXPECT_STREQ(LibraryText(static_cast<std::uint32_t>(number)), text);
  }
}

}  // namespace
}  // namespace zimo::corvan
