#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "labhelper/qeldll32.h"
#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {
namespace {

class LineReaderTest : public LabHelperTest {
 protected:
  ~LineReaderTest() override { close_file(); }
  void Write(const std::string& name, const std::string& text) {
    WriteBytes(Path(name), std::vector<uint8_t>(text.begin(), text.end()));
  }
};

TEST_F(LineReaderTest, ReadsCleanedLinesUntilTheEnd) {
  Write("p.txt", "P1=5 ; set\r\n\tP1=5\n" + std::string(300, 'x') + "\nlast");
  ASSERT_EQ(open_file(Path("p.txt").c_str()), 1);
  char line[256];
  int16_t raw = -1;
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_EQ(raw, 12);
  EXPECT_STREQ(line, "P1=5 ");
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_EQ(raw, 6);
  EXPECT_STREQ(line, "P1=5");
  // A line longer than 255 characters comes in pieces.
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_EQ(raw, 255);
  EXPECT_EQ(std::string(line), std::string(255, 'x'));
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_EQ(raw, 46);
  // The read that meets the end says so with 16; the next finds nothing and
  // leaves the buffer and the length alone.
  EXPECT_EQ(read_a_line_from_file(line, &raw), 16);
  EXPECT_EQ(raw, 4);
  EXPECT_STREQ(line, "last");
  std::strcpy(line, "kept");
  raw = 99;
  EXPECT_EQ(read_a_line_from_file(line, &raw), 1);
  EXPECT_STREQ(line, "kept");
  EXPECT_EQ(raw, 99);
  EXPECT_EQ(close_file(), 1);
}

TEST_F(LineReaderTest, FileEndingInLineFeedEndsWithAnEmptyRead) {
  Write("p.txt", "I10\n");
  ASSERT_EQ(open_file(Path("p.txt").c_str()), 1);
  char line[256];
  int16_t raw;
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_EQ(read_a_line_from_file(line, &raw), 1);
}

TEST_F(LineReaderTest, OneSharedStream) {
  Write("a.txt", "a\n");
  Write("b.txt", "b\n");
  char line[256];
  int16_t raw;
  EXPECT_EQ(read_a_line_from_file(line, &raw), 1);  // nothing open
  ASSERT_EQ(open_file(Path("a.txt").c_str()), 1);
  ASSERT_EQ(open_file(Path("b.txt").c_str()), 1);  // forgets a.txt, keeps it open
  EXPECT_EQ(read_a_line_from_file(line, &raw), 0);
  EXPECT_STREQ(line, "b");
  EXPECT_EQ(open_file(Path("missing.txt").c_str()), 0);
  EXPECT_EQ(read_a_line_from_file(line, &raw), 1);  // the last open failed
  EXPECT_EQ(close_file(), 2);
  EXPECT_EQ(close_file(), 0);
  EXPECT_EQ(open_file(dir_.c_str()), 0);  // a folder is not a file
}

TEST_F(LabHelperTest, FileTests) {
  WriteBytes(Path("f.bin"), std::vector<uint8_t>(1234, 7));
  EXPECT_EQ(file_exists(Path("f.bin").c_str()), 1);
  EXPECT_EQ(get_file_size(Path("f.bin").c_str()), 1234);
  for (const std::string& path : {std::string(), Path("missing"), dir_.string()}) {
    EXPECT_EQ(file_exists(path.c_str()), 0) << path;
    EXPECT_EQ(get_file_size(path.c_str()), -1) << path;
  }

  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  char buffer[PATH_MAX + 1];
  EXPECT_EQ(get_current_directory(buffer, sizeof buffer > 32767 ? 32767 : sizeof buffer),
            static_cast<int16_t>(std::strlen(cwd)));
  EXPECT_STREQ(buffer, cwd);
  // Too small a buffer keeps what it held.
  std::strcpy(buffer, "x");
  EXPECT_EQ(get_current_directory(buffer, static_cast<int16_t>(std::strlen(cwd))), 1);
  EXPECT_STREQ(buffer, "x");
}

TEST(TextHelpersTest, WordsOfACommandLine) {
  struct Case {
    const char* text;
    int32_t n;
    int16_t length;
    const char* word;
  };
  const Case cases[] = {
      {"exp.cfg out.txt", 2, 7, "out.txt"}, {"exp.cfg out.txt", 1, 7, "exp.cfg"},
      {"exp.cfg out.txt", 3, 0, nullptr},   {"exp.cfg   ", 2, 0, nullptr},
      {"  \t exp.cfg\t\tb ", 2, 1, "b"},    {"", 1, 0, nullptr},
      {"exp.cfg", 0, 0, nullptr},           {"exp.cfg", -1, 0, nullptr},
  };
  for (const Case& c : cases) {
    char word[260] = "untouched";
    EXPECT_EQ(get_parameter(c.text, word, c.n), c.length) << c.text << " n " << c.n;
    if (c.word != nullptr) {
      EXPECT_STREQ(word, c.word);
    }
  }
  // A word longer than the buffer's 259 characters is cut.
  const std::string long_word(400, 'w');
  std::vector<char> word(400, '#');
  EXPECT_EQ(get_parameter(long_word.c_str(), word.data(), 1), 259);
  EXPECT_EQ(std::string(word.data()), std::string(259, 'w'));
  EXPECT_EQ(word[260], '#');
}

TEST(TextHelpersTest, StripOffExtra) {
  struct Case {
    const char* text;
    const char* cleaned;
    int16_t end;
  };
  const Case cases[] = {
      {"P1=5 ; set\r\n", "P1=5 ", ';'},
      {"\tP1=5\r\n", "P1=5", 0},
      {"a\x7f"
       "b\x01"
       "c",
       "abc", 0},
      {";all comment", "", ';'},
  };
  for (const Case& c : cases) {
    char text[64];
    std::strcpy(text, c.text);
    EXPECT_EQ(strip_off_extra(text), c.end);
    EXPECT_STREQ(text, c.cleaned);
  }
}

TEST(TextHelpersTest, CastToLong) {
  const std::pair<double, int32_t> cases[] = {
      {-2.7, -2},
      {2.7, 2},
      {0.0, 0},
      {-0.5, 0},
      {2147483647.9, 2147483647},
      {1e12, INT32_MAX},
      {-1e12, INT32_MIN},
      {std::nan(""), 0},
  };
  for (const auto& [x, want] : cases) EXPECT_EQ(cast_to_long(x), want) << x;
}

TEST(CardWordTest, ShortWords) {
  const std::pair<const char*, int32_t> cases[] = {
      {"FFFFFF", 16777215}, {"00000A", 10},         {"0000a0", 0}, {"A", 10485760}, {"", 0},
      {"123456", 0x123456}, {"12345678", 0x123456},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(hex_long(text), want) << text;
  EXPECT_EQ(hex_long(nullptr), 0);
  EXPECT_EQ(convert_short_word_to_long("FFFFFF"), -1.0);
  EXPECT_EQ(convert_short_word_to_long("800000"), -8388608.0);
  EXPECT_EQ(convert_short_word_to_long("7FFFFF"), 8388607.0);
  EXPECT_EQ(convert_short_word_to_long("F"), 15 * 1048576.0 - 16777216.0);
}

TEST(CardWordTest, LongWords) {
  const std::pair<const char*, double> integers[] = {
      {"FFFFFF000001", -16777215.0},
      {"000001000000", 16777216.0},
      {"000000FFFFFF", 16777215.0},
      {"000001", 16777216.0},  // the low half is missing: zeros
  };
  for (const auto& [text, want] : integers) EXPECT_EQ(convert_word_to_long(text), want) << text;

  const std::pair<const char*, double> floats[] = {
      {"400000000800", 1.0},  {"C00000000800", -1.0},
      {"400000000801", 2.0},  {"600000000801", 3.0},
      {"4000000007FF", 0.5},  {"000000000800", 0.0},
      {"800000000800", -2.0}, {"4", 0.5 * std::ldexp(1.0, -2047)},  // exponent digits missing: 0
  };
  for (const auto& [text, want] : floats) EXPECT_EQ(convert_word_to_double(text), want) << text;
}

}  // namespace
}  // namespace zimo::labhelper::testing
