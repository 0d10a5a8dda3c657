#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/text_file.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using ::testing::ElementsAre;

TEST(CodePageTest, EveryWindows1252ByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide = Cp1252ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Utf16ToCp1252(wide), all);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  // Distinct bytes give distinct characters, or a round trip could not hold.
  std::u16string sorted = wide;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
}

TEST(CodePageTest, MapsTheHighRangeAsWindowsDoes) {
  struct Case {
    unsigned char byte;
    char16_t ch;
  };
  const Case cases[] = {
      {0x41, u'A'},   {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D},
      {0x8F, 0x008F}, {0x90, 0x0090}, {0x92, 0x2019}, {0x9D, 0x009D}, {0x9F, 0x0178},
      {0xA0, 0x00A0}, {0xDF, 0x00DF}, {0xFF, 0x00FF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(Cp1252ToUtf16Char(c.byte), c.ch);
    EXPECT_EQ(static_cast<unsigned char>(Utf16ToCp1252Char(c.ch)), c.byte);
  }
}

TEST(CodePageTest, UnmappableTextBecomesQuestionMarks) {
  // U+0080 has no byte of its own (0x80 is the euro sign); a surrogate pair is
  // one character and one '?'.
  EXPECT_EQ(Utf16ToCp1252(u"a\u0080b\u0100\u4e2d\U0001F600c"), "a?b???c");
  EXPECT_EQ(Utf8ToCp1252("caf\xc3\xa9 \xe2\x82\xac"), "caf\xe9 \x80");
}

TEST(CodePageTest, Utf8ConversionsHandleBadInput) {
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Grüße \U0001F600")), "Grüße \U0001F600");
  EXPECT_EQ(Utf8ToUtf16("Grüße \U0001F600").size(), 8u);
  // Cut sequences, overlong forms, encoded surrogates, stray continuation bytes.
  EXPECT_EQ(Utf8ToUtf16("a\xc3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80x"), u"\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");
  const char16_t lone[] = {0xD800, u'q', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "\xef\xbf\xbdq");
}

TEST(CodePageTest, NarrowTextFeedsTheAForm) {
  NarrowText text(u"Grüße");
  EXPECT_STREQ(text.c_str(),
               "Gr\xfc\xdf"
               "e");
  EXPECT_EQ(NarrowText(static_cast<const char16_t*>(nullptr)).c_str(), nullptr);
  EXPECT_STREQ(NarrowText(u"").c_str(), "");

  char16_t out[4];
  EXPECT_EQ(WidenInto("\x80"
                      "abcdef",
                      out, 4),
            3u);
  EXPECT_EQ(std::u16string(out), u"€ab");
  EXPECT_EQ(WidenInto("abc", out, 0), 0u);
}

TEST(CodePageTest, ComparesNamesWithoutCase) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"Device0", "DEVICE0", true},
      {"grüße", "GRÜSSE", false},
      {"café", "CAFÉ", true},
      {"ÿ", "Ÿ", true},
      {"łódź", "ŁÓDŹ", true},
      {"Ωmega", "ωMEGA", true},
      {"привет", "ПРИВЕТ", true},
      {"a", "ab", false},
      {"", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal);
  }
  EXPECT_LT(CompareNoCase("alpha", "Beta"), 0);
  EXPECT_GT(CompareNoCase("ab", "A"), 0);
  EXPECT_EQ(CompareNoCase1252("Gr\xfc\xdf", "GR\xdc\xdf"), 0);
  EXPECT_EQ(ToUpperUtf8("zimo ä"), "ZIMO Ä");
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(TextFileTest, WriterTurnsLineFeedsIntoCrLf) {
  testing::TempHome home;
  std::filesystem::path file = home.path() / "log.txt";
  {
    auto w = TextFileWriter::Open(file);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(w->Write("one\ntwo\r\n").ok());
    ASSERT_TRUE(w->Printf("%s=%d\n", "n", 42).ok());
    ASSERT_TRUE(w->Close().ok());
  }
  EXPECT_EQ(Slurp(file), "one\r\ntwo\r\r\nn=42\r\n");
  {
    auto w = TextFileWriter::Open(file, TextFileWriter::Mode::kAppend);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(w->Write("three").ok());
  }  // closed by the destructor
  EXPECT_EQ(Slurp(file), "one\r\ntwo\r\r\nn=42\r\nthree");
  ASSERT_TRUE(WriteTextFile(file, "x\n").ok());
  EXPECT_EQ(Slurp(file), "x\r\n");

  auto bad = TextFileWriter::Open(home.path() / "missing" / "f.txt");
  EXPECT_EQ(bad.status().code(), Code::kNotFound);
  EXPECT_THAT(bad.status().message(), ::testing::HasSubstr("missing/f.txt"));
}

TEST(TextFileTest, ReaderTakesEitherLineEndAndAnUnfinishedLastLine) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\nc", {"a", "b", "c"}},
      {"\r\n\n", {"", ""}},
      {"x\ry\r\n", {"x\ry"}},  // a lone CR is text
  };
  testing::TempHome home;
  std::filesystem::path file = home.path() / "in.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << c.bytes;
    }
    auto reader = LineReader::Open(file);
    ASSERT_TRUE(reader.ok());
    std::vector<std::string> got;
    std::string line;
    while (reader->ReadLine(&line)) got.push_back(line);
    EXPECT_TRUE(reader->status().ok());
    EXPECT_EQ(got, c.lines);
    EXPECT_EQ(SplitLines(c.bytes), c.lines);
    EXPECT_EQ(*ReadLines(file), c.lines);
  }
  EXPECT_EQ(LineReader::Open(home.path() / "none").status().code(), Code::kNotFound);
}

}  // namespace
}  // namespace zimo::platform
