// The BEGIN/END check and the demacrotizer: whole output files compared with
// texts written from the rewriting rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "algorithm_test_support.h"
#include "labhelper/qeldll32.h"

namespace zimo::labhelper::testing {
namespace {

TEST(CheckForBeginAndEnd, FindsBeginThenEndAndEndsTheText) {
  struct Case {
    const char* text;
    int16_t result;
    const char* after;
  };
  const Case cases[] = {
      {"begin\nm100=1\nendif", 1, "begin\nm100=1\nendif\n"},
      {"END\nBEGIN\n", 0, "END\nBEGIN\n"},
      {"BBEGIN\nEND\n", 0, "BBEGIN\nEND\n"},
      {"x BeGiN y EnD", 1, "x BeGiN y EnD\n"},
      {"", 0, "\n"},
  };
  for (const Case& c : cases) {
    char buffer[64] = {};
    std::strcpy(buffer, c.text);
    EXPECT_EQ(check_for_BEGIN_and_END(buffer), c.result) << c.text;
    EXPECT_STREQ(buffer, c.after) << c.text;
  }
}

TEST(CheckForBeginAndEnd, RefusesATextTooLongFor16Bits) {
  std::vector<char> text(0xFFFF + 2, 'x');
  std::memcpy(text.data(), "BEGIN END", 9);
  text[0xFFFF] = '\0';  // 65535 characters
  EXPECT_EQ(check_for_BEGIN_and_END(text.data()), 0);
  EXPECT_EQ(text[0xFFFF], '\0');
  EXPECT_EQ(text[0xFFFE], 'x');
  text[0xFFFE] = '\0';  // 65534 characters still count
  EXPECT_EQ(check_for_BEGIN_and_END(text.data()), 1);
  EXPECT_EQ(text[0xFFFE], '\n');
}

class DemacrotizeTest : public AlgorithmTest {
 protected:
  // The text in a buffer of its exact size, so a walk past its end shows.
  int16_t Run(const std::string& text, float ts = 0.000884f) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return demacrotize_the_file(buffer.data(), "ignored.name", ts);
  }
  std::string Output() const { return ReadText(Path("plc0.$$$")); }
};

TEST_F(DemacrotizeTest, RewritesLinesAsTheRowsSay) {
  ASSERT_EQ(Run("  pos = ENC1_pos*2 ; scaled\n"
                "#define GAIN 0.5 ; proportional\n"
                "M100=GAIN*X\n"
                "; only a comment\n"
                "x = null + 1\n"
                "\tgain|x\r\n"
                "#define nothing null\n"
                "a=nothing+CONTROL_EFFORT2\n"
                "no line feed at the end"),
            0);
  EXPECT_EQ(Output(),
            "  POS = P901*2  ;Line 1\r\n"
            "M100=0.5 *X ;Line 3\r\n"
            "X =  + 1 ;Line 5\r\n"
            "GAIN|X ;Line 6\r\n"
            "A=+m127 ;Line 8\r\n");
  EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(DemacrotizeTest, HashWordsAndBareHashesKeepTheText) {
  ASSERT_EQ(Run("#ABC=1\n"
                "#\n"
                "y=2 #4J/\n"
                "z=3#"),
            0);
  EXPECT_EQ(Output(),
            "#ABC=1 ;Line 1\r\n"
            "# ;Line 2\r\n"
            "Y=2 #4J/ ;Line 3\r\n");
}

TEST_F(DemacrotizeTest, DefinitionStaysOnItsOwnLine) {
  ASSERT_EQ(Run("#define EMPTY\n"
                "p1=EMPTY 7\n"
                "#define\n"
                "p2=1\n"),
            0);
  EXPECT_EQ(Output(),
            "P1= 7 ;Line 2\r\n"
            "P2=1 ;Line 4\r\n");
}

TEST_F(DemacrotizeTest, OverlongLineIsWrittenWhole) {
  const std::string word(700, 'Q');
  ASSERT_EQ(Run("p1=" + word + "\n"), 0);
  EXPECT_EQ(Output(), "P1=" + word + " ;Line 1\r\n");
}

TEST_F(DemacrotizeTest, PidAlgorithmGivesTheGoldenSource) {
  ASSERT_EQ(Run(kPidAlgorithm), 0);
  EXPECT_EQ(Output(), ReadText(DataPath("pid_plc0.txt")));
}

TEST_F(DemacrotizeTest, SamplePeriodSetsTheFrameRate) {
  const struct {
    float ts;
    const char* l108;
    const char* l904;
  } cases[] = {
      {0.000884f, "\r\nIF(L108>0)\r\n", "\r\nIF(L904>0)\r\n"},
      {0.001768f, "\r\nIF(L108>1)\r\n", "\r\nIF(L904>1)\r\n"},
      {0.00442f, "\r\nIF(L108>4)\r\n", "\r\nIF(L904>4)\r\n"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Run("BEGIN\nEND\n", c.ts), 0);
    const std::string out = Output();
    EXPECT_NE(out.find(c.l108), std::string::npos) << c.ts;
    EXPECT_NE(out.find(c.l904), std::string::npos) << c.ts;
  }
}

TEST_F(DemacrotizeTest, EndClosesTheFrameOnItsLine) {
  ASSERT_EQ(Run("\n\n\n\n\n\n\n\nEND\n"), 0);
  EXPECT_EQ(Output(), "ENDIF\r\nCLOSE ;Line 9\r\n");
}

TEST_F(DemacrotizeTest, DuplicateMacroStopsWithItsName) {
  ASSERT_EQ(Run("p1=1\n#define CMD_POS P1\np2=2\n"), 1);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Duplicate macro \"CMD_POS\"");
  EXPECT_EQ(recorder_.boxes()[0].caption, "Download Error");
  EXPECT_EQ(recorder_.boxes()[0].flags, platform::kMbOk | platform::kMbIconExclamation);
  EXPECT_EQ(Output(), "P1=1 ;Line 1\r\n");
}

TEST_F(DemacrotizeTest, DefinitionValueOf82CharactersIsRefusedWithItsLine) {
  // 81 characters are a whole value (trailing blanks before a comment do
  // not count against it).
  const std::string value81 = "P1+" + std::string(78, '1');
  ASSERT_EQ(Run("p1=1\n#define LONG " + value81 + "   ; note\nM100=LONG\n"), 0);
  EXPECT_EQ(Output(), "P1=1 ;Line 1\r\nM100=" + value81 + " ;Line 3\r\n");
  EXPECT_TRUE(recorder_.boxes().empty());

  // One more, and the tail would go out as a line of its own ("#K1" here):
  // the definition is refused with its line and no source is left behind,
  // so the compile step cannot send what came before it either.
  WriteLinkList();
  const std::string value82 = std::string(81, '1') + "#K1";
  EXPECT_EQ(Run("p1=1\np2=2\n#define TOO_LONG " + value82 + "\nM100=TOO_LONG\n"), 1);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Macro \"TOO_LONG\" on line 3 is longer than 81 characters");
  EXPECT_EQ(recorder_.boxes()[0].caption, "Download Error");
  EXPECT_EQ(recorder_.boxes()[0].flags, platform::kMbOk | platform::kMbIconExclamation);
  EXPECT_FALSE(std::filesystem::exists(Path("plc0.$$$")));
  recorder_.Clear();
  EXPECT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 2);
  EXPECT_FALSE(std::filesystem::exists(Path("plc0.56k")));
}

TEST_F(DemacrotizeTest, UnwritableTempFileIsReported) {
  std::filesystem::create_directory(Path("plc0.$$$"));
  EXPECT_EQ(Run("p1=1\n"), 2);
  ASSERT_EQ(recorder_.boxes().size(), 1u);
  EXPECT_EQ(recorder_.boxes()[0].text, "Unable to open temp files.");
  EXPECT_EQ(recorder_.boxes()[0].caption, "Error");
}

}  // namespace
}  // namespace zimo::labhelper::testing
