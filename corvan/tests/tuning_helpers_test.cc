// The tuning code's card-query helpers: conversions of card replies and
// card words, the quote-aware stripper, the buffered-mode check, the
// program writer's stop on a lost card, and the exports against the
// simulated card.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "tuning/tuning.h"
#include "tuning_scripted_path.h"

#if __has_include("cardsim/attach_pty.h")
#define TUNING_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "corvan/variables_api.h"
#include "tuning_serial_card.h"
#endif

namespace zimo::corvan {
namespace {

using testing::TuningPath;

TEST(TuningConversions, HexDigits) {
  struct Case {
    const char* text;
    int count;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"00a0FF", 6, 255},  // lower case is skipped, not read as a digit
      {"FFFFFFFF", 8, 0xFFFFFFFFu},
      {"1G2 3", 5, 0x123},
      {"ABC", 2, 0xAB},  // exactly the count
      {"12", 6, 0x12},   // the text ends first
      {"12", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tuning::ParseHexDigits(c.text, c.count), c.value) << c.text;
  }
}

TEST(TuningConversions, CardWords) {
  struct Case {
    const char* word;
    std::int64_t value;
    const char* text;
  };
  const Case cases[] = {
      {"FFFFFF000001", -16777215, "-16777215.000000"},
      {"800000000000", -140737488355328LL, "-140737488355328.000000"},
      {"000001FFFFFF", 33554431, "33554431.000000"},
      {"7FFFFFFFFFFF", 140737488355327LL, "140737488355327.000000"},
      {"000001", 16777216, "16777216.000000"},  // a short word: the high half alone
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertWordToLong(c.word), c.value) << c.word;
    char out[32];
    EXPECT_STREQ(ConvertWordToStringFloat(c.word, out), c.text);
  }

  struct Short {
    const char* text;
    std::int16_t offset;
    std::int16_t value;
  };
  const Short shorts[] = {
      {"FFFF00", 0, -1},     {"7FFFFF", 0, 32767},      {"123456", 0, 4660},
      {"800000", 0, -32768}, {"000000123456", 6, 4660}, {"1234", 9, 0},  // beyond the text
      {"123456", -1, 0},
  };
  for (const auto& c : shorts) {
    EXPECT_EQ(ConvertWordToShort(c.text, c.offset), c.value) << c.text << " at " << c.offset;
  }
}

TEST(TuningConversions, NumberTexts) {
  struct Case {
    const char* text;
    std::int32_t rounded;
    std::int32_t truncated;
  };
  const Case cases[] = {
      {"0.49999", 0, 0},
      {"0.5", 1, 0},
      {"-0.5", 0, 0},
      {"2.5", 3, 2},
      {"-2.5", -2, -2},
      {"-2.7", -2, -2},
      {"-2.9", -2, -2},
      {"abc", 0, 0},
      {"1e12", INT_MAX, INT_MAX},
      {"-1e12", INT_MIN, INT_MIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Round(c.text), c.rounded) << c.text;
    EXPECT_EQ(ConvertToLong(c.text), c.truncated) << c.text;
  }
  char hex[9];
  EXPECT_STREQ(ConvertToHex(255, hex), "FF");
  EXPECT_STREQ(ConvertToHex(-1, hex), "FFFFFFFF");
  EXPECT_STREQ(ConvertToHex(0, hex), "0");
}

TEST(TuningConversions, StripsSpaceOutsideQuotes) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"A B\"C D\"E\x06", "AB\"C D\"E"},
      {"A \"B C\x06 D", "A\"B C\x06 D"},  // after an unmatched quote nothing goes
      {" 12\t34\r\n\x06", "1234"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char text[32];
    std::strcpy(text, c.in);
    szStripUnquotedSpaceA(text);
    EXPECT_STREQ(text, c.out) << c.in;
  }
}

TEST(TuningQueries, BufferedModeFromTheGlobalStatus) {
  struct Case {
    const char* status;
    int card_type;
    int buffered;
  };
  const Case cases[] = {
      {"120000\r", 5, 0},  // bits 20 and 17 on the newer generation
      {"120000\r", 1, 1},  // the same status on an older card
      {"120000\r", 4, 1}, {"020000\r", 5, 1},  {"040000\r", 1, 1},
      {"080000\r", 1, 1}, {"0100000\r", 1, 0},  // bit 24 alone
      {"\r", 1, 0},                             // nothing usable in the reply
  };
  for (const auto& c : cases) {
    TuningPath path;
    path.Reply("???", c.status);
    EXPECT_EQ(tuning::InBufferedMode(path, 0, c.card_type), c.buffered)
        << c.status << " type " << c.card_type;
    EXPECT_EQ(path.sent, std::vector<std::string>{"???"});
  }
  TuningPath silent;
  silent.SilentAfter(0);
  EXPECT_EQ(tuning::InBufferedMode(silent, 0, 1), 0);
}

TEST(TuningQueries, ProgramWriterStopsAtTheFirstLostExchange) {
  TuningPath path;
  path.Reply("B", "\aERR003\r", kStatusCardError);
  path.SilentAfter(3);
  tuning::ProgramWriter w(path, 0);
  EXPECT_TRUE(w.Line("A"));
  EXPECT_TRUE(w.Line("B"));  // a refused line does not stop the program
  EXPECT_TRUE(w.Line("C"));
  EXPECT_FALSE(w.Line("D"));  // no answer
  EXPECT_FALSE(w.Line("E"));
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(path.sent, (std::vector<std::string>{"A", "B", "C", "D"}));

  TuningPath fresh;
  tuning::ProgramWriter longer(fresh, 0);
  EXPECT_FALSE(longer.Line("%s", std::string(256, 'P').c_str()));  // never cut, never sent
  EXPECT_FALSE(longer.Line("P1=1"));
  EXPECT_TRUE(fresh.sent.empty());
  tuning::ProgramWriter fits(fresh, 0);
  EXPECT_TRUE(fits.Line("%s", std::string(255, 'P').c_str()));
  EXPECT_EQ(fresh.sent.size(), 1u);
}

#ifdef TUNING_TEST_WITH_CARD

using namespace zimo::corvan::testing;

class TuningCardTest : public SerialCardTest<> {};

TEST_F(TuningCardTest, CommandsArriveAsComposed) {
  char reply[256];
  FormatAndGetResponse(0, reply, 255, "%%100");
  FormatAndGetResponse(0, reply, 255, "%s", std::string(300, 'P').c_str());
  EXPECT_STREQ(reply, "");
  FormatAndGetResponse(0, reply, 255, "P%d=%d", 7, 42);
  FormatAndGetResponse(0, reply, 255, "P%d", 7);
  EXPECT_STREQ(reply, "42");  // line end and ACK stripped
  EXPECT_EQ(card_->received(), (std::vector<std::string>{"%100", "P7=42", "P7"}));
}

TEST_F(TuningCardTest, IVariableReads) {
  ZimoSetIVariableLong(0, 130, 123456);
  ZimoSetIVariable(0, 131, -300);
  EXPECT_EQ(GetIVariableLongOrZero(0, 130), 123456);
  EXPECT_EQ(CompareIvar(0, 131, "-300"), 1);
  EXPECT_EQ(CompareIvar(0, 131, "-300.5"), 0);
  // Only the low 16 bits take part: 123456 is 0xE240, -7616 as a short.
  EXPECT_EQ(CompareIvar(0, 130, "-7616"), 1);
}

#endif  // TUNING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
