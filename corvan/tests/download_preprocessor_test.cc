// The macro pass on files in the test's own home: the EXM output line for
// line, the reports, includes and their search, conditionals, the @ macros
// and the bounds of name replacement; then the MAP and dictionary files
// written from what it collected.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "corvan/download_api.h"
#include "download/dictionary.h"
#include "download/download_state.h"
#include "download/preprocessor.h"
#include "plcc_test_files.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

using plcc::testing::OutputLines;
using plcc::testing::WriteText;

std::vector<std::string> g_reports;
std::int32_t OnMessage(const char* text, std::int32_t) {
  g_reports.push_back(text);
  return 0;
}

class PreprocessorTest : public ::testing::Test {
 protected:
  PreprocessorTest() {
    g_reports.clear();
    DownloadCallbacks callbacks;
    callbacks.message = OnMessage;
    state_.BeginRequest(0, callbacks, DownloadOptions{1, 1, 0, 0});
    state_.BeginRun();
  }
  ~PreprocessorTest() override {
    state_.EndRun();
    state_.set_active(false);
  }
  // Runs the pass on `text` as dir/PROG.PMC; the EXM lines after the two
  // header lines and the first marker.
  std::vector<std::string> Pass(const std::string& text) {
    WriteText(source_, text);
    EXPECT_TRUE(pp_.Run(0, source_.string(), exm_.string()));
    std::vector<std::string> lines = OutputLines(exm_);
    EXPECT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "; Created by ZIMO Win32 Driver from:" + source_.string());
    EXPECT_EQ(lines[1], ";");
    EXPECT_EQ(lines[2], ";" + source_.string());
    return {lines.begin() + 3, lines.end()};
  }
  // The reports after the card line.
  std::vector<std::string> Reports() const { return {g_reports.begin() + 1, g_reports.end()}; }

  zimo::testing::TempHome home_;
  std::filesystem::path dir_ = home_.path() / "progs" / "main";
  std::filesystem::path source_ = (std::filesystem::create_directories(dir_), dir_ / "PROG.PMC");
  std::filesystem::path exm_ = dir_ / "PROG.EXM";
  DownloadState& state_ = DownloadState::Instance();
  MacroPreprocessor pp_;
};

TEST_F(PreprocessorTest, LineRules) {
  const std::string text =
      "P1=5 ; set\n"                     // 1: the comment goes, the blank stays
      "CMD\"SEND1 ;x\"\n"                // 2: SEND keeps ';'
      "// only a comment\n"              // 3: nothing left
      "#define LIMIT 100 ; max\n"        // 4
      "P2=LIMIT\n"                       // 5
      "#define FLAG\n"                   // 6
      "#define FF 7\n"                   // 7
      "P3=$FF+FF\n"                      // 8: hex kept, the word replaced
      "P4=1 /* from here\n"              // 9
      "gone */ P5=2\n"                   // 10
      "@SET_ON(M1,$10)\n"                // 11
      "@TIMER_RUNNING(P5)\n"             // 12
      "@SET_ON(M1)\n"                    // 13: too few arguments
      "@off(M2,4) @START_TIMER(P9,2)\n"  // 14: any case
      "@SET_OFF(M3,1) @TESTBIT(M4,2) @ON(M5,3) @TIMER_STOPPED(P7)\n"  // 15
      "@NOPE(1) #other\n"                                             // 16
      "\tI100=1\r\n";  // 17: control characters dropped
  EXPECT_EQ(Pass(text), (std::vector<std::string>{
                            "P1=5 ;1",
                            "CMD\"SEND1 ;x\";2",
                            "P2=100;5",
                            "P3=$FF+7;8",
                            "P4=1 ;9",
                            " P5=2;10",
                            "M1 = M1 | $10;11",
                            "P5 > 0;12",
                            "@;13",
                            "M2 & 4 != 4 P9 = 2 * 8388608/I10;14",
                            "M3 = M3 & (M3 ^ 1) M4 & 2 = 2 M5 & 3 = 3 P7 !> 0;15",
                            "@NOPE(1) #other;16",
                            "I100=1;17",
                            "CLOSE",
                        }));
  EXPECT_EQ(pp_.FindDefinition("FLAG")->value, "?");
  EXPECT_EQ(pp_.FindDefinition("LIMIT")->value, "100");
  EXPECT_EQ(pp_.FindDefinition("LIMIT")->number, 4u);
  EXPECT_EQ(Reports(), (std::vector<std::string>{"Total Lines: 17"}));
  EXPECT_EQ(state_.errors(), 0u);
}

TEST_F(PreprocessorTest, RedefinitionWarnsOnlyOnChange) {
  Pass("#define A 1\n#define A 2\n#define A 2\nP1=A\n");
  EXPECT_EQ(pp_.FindDefinition("A")->value, "2");
  EXPECT_EQ(Reports(), (std::vector<std::string>{
                           "Warning: 1 Line: 2 : Definition: A, defined with different value.",
                           "Total Lines: 4"}));
  EXPECT_EQ(state_.warnings(), 1u);
}

TEST_F(PreprocessorTest, Conditionals) {
  const std::string text =
      "#define ON\n"
      "#ifdef OFFX\n"
      "P1=1\n"
      "#ifdef ON\n"  // nested in a skipped region: stays skipped
      "P2=2\n"
      "#else\n"
      "P3=3\n"
      "#endif\n"
      "#else\n"
      "P4=4\n"
      "#endif\n"
      "#ifndef OFFX\n"
      "P5=5\n"
      "#endif\n"
      "#ifndef\n"  // no name: inactive
      "P6=6\n"
      "#endif\n"
      "#else\n"
      "#endif\n";
  EXPECT_EQ(Pass(text), (std::vector<std::string>{"P4=4;10", "P5=5;13", "CLOSE"}));
  EXPECT_EQ(Reports(), (std::vector<std::string>{"Error: 1 Line 18 : Misplaced #ELSE macro.",
                                                 "Error: 2 Line 19 : Misplaced #ENDIF macro.",
                                                 "Total Lines: 19"}));
}

TEST_F(PreprocessorTest, NestingLimitAndOpenConditionals) {
  ZimoSetMaxDownloadErrors(100);
  std::string text;
  for (int i = 0; i < 10; ++i) text += "#ifndef X" + std::to_string(i) + "\n";
  text += "P1=1\n";
  // The tenth depth is refused and its name stays in the text.
  EXPECT_EQ(Pass(text), (std::vector<std::string>{" X9;10", "P1=1;11", "CLOSE"}));
  std::vector<std::string> expected{"Error: 1 Line 10 : Maximum nested #IF level exceeded."};
  for (int i = 2; i <= 10; ++i)
    expected.push_back("Error: " + std::to_string(i) + " : Missing #endif..");
  expected.push_back("Total Lines: 11");
  EXPECT_EQ(Reports(), expected);
  ZimoSetMaxDownloadErrors(10);
}

TEST_F(PreprocessorTest, ReplacementIsBounded) {
  // A name defined as itself, and a value that grows past the line.
  std::string text = "#define A A\nP1=A\n#define B 0123456789012345678901234567890123456789\n";
  text += "#define C B B B B B B B\nP2=C\nP3=1\n";
  const std::vector<std::string> out = Pass(text);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], "P1=;2");
  EXPECT_EQ(out[1].size(), 255u + 2u) << out[1];  // the line is cut at 255 characters
  EXPECT_EQ(out[1].substr(0, 5), "P2=01");
  EXPECT_EQ(out[2], "P3=1;6");
  EXPECT_EQ(Reports(),
            (std::vector<std::string>{"Error: 1 Line 2 : String write past end of parse buffer.",
                                      "Error: 2 Line 5 : String write past end of parse buffer.",
                                      "Total Lines: 6"}));
}

TEST_F(PreprocessorTest, IncludesBesideTheFileAndInItsParent) {
  WriteText(dir_ / "BESIDE.INC", "P10=1\n#include \"UP.INC\"\nP11=1\n");
  WriteText(dir_.parent_path() / "up.inc", "P20=1\n");
  const std::vector<std::string> out =
      Pass("P1=1\n#include \"beside.inc\"\nP2=1\n#include <missing.inc>\nP3=1\n");
  const std::string beside = (dir_ / "beside.inc").string();
  const std::string up = (dir_ / "UP.INC").string();
  // Names are matched whatever their case; the parent's file is found
  // through its folder.
  EXPECT_EQ(out, (std::vector<std::string>{"P1=1;1", ";" + beside, "P10=1;1",
                                           ";" + (dir_.parent_path() / "UP.INC").string(),
                                           "P20=1;1", ";" + beside, "P11=1;3",
                                           ";" + source_.string(), "P2=1;3", "P3=1;5", "CLOSE"}));
  (void)up;
  EXPECT_EQ(Reports(),
            (std::vector<std::string>{"Including file: " + beside,
                                      "Including file: " + (dir_.parent_path() / "UP.INC").string(),
                                      "Error: 1 Line 4 : File not found: missing.inc",
                                      "  (Be sure to specify full path for #include statements)",
                                      "Total Lines: 9"}));
}

TEST_F(PreprocessorTest, IncludeDepthLimit) {
  // Each file includes the next; the tenth level is refused.
  for (int i = 1; i <= 10; ++i) {
    WriteText(dir_ / ("L" + std::to_string(i) + ".INC"),
              "#include \"L" + std::to_string(i + 1) + ".INC\"\n");
  }
  Pass("#include \"L1.INC\"\n");
  const std::vector<std::string> reports = Reports();
  ASSERT_EQ(reports.size(), 11u);
  EXPECT_EQ(reports[8], "Including file: " + (dir_ / "L9.INC").string());
  EXPECT_EQ(reports[9], "Error: 1 Line 1 : Include file nested too deep: L10.INC");
}

std::vector<std::string> g_lines;
std::int32_t LineSource(std::int32_t index, char* buffer, std::int32_t size) {
  if (index >= static_cast<std::int32_t>(g_lines.size())) return 0;
  EXPECT_EQ(size, 258);  // a line of 255 characters, CR LF and the terminator
  std::snprintf(buffer, static_cast<std::size_t>(size), "%s", g_lines[index].c_str());
  return static_cast<std::int32_t>(g_lines[index].size());
}

TEST_F(PreprocessorTest, MainTextFromTheCaller) {
  g_lines = {"P1=1", "#include \"INC.INC\"", "P2=2 ;c"};
  WriteText(dir_ / "INC.INC", "P9=9\n");
  DownloadCallbacks callbacks;
  callbacks.message = OnMessage;
  callbacks.line_source = LineSource;
  state_.BeginRequest(0, callbacks, DownloadOptions{1, 0, 0, 0});
  EXPECT_EQ(Pass("ignored\n"),
            (std::vector<std::string>{"P1=1;1", ";" + (dir_ / "INC.INC").string(), "P9=9;1",
                                      ";" + source_.string(), "P2=2 ;3", "CLOSE"}));
}

TEST_F(PreprocessorTest, UnopenableFiles) {
  EXPECT_FALSE(pp_.Run(0, (dir_ / "NONE.PMC").string(), exm_.string()));
  WriteText(source_, "P1=1\n");
  EXPECT_FALSE(pp_.Run(0, source_.string(), (dir_ / "no" / "X.EXM").string()));
  const std::string none = "No card symbols for card type 0";
  EXPECT_EQ(
      g_reports,
      (std::vector<std::string>{
          none, "Error: 1 : Unable to open main input file: " + (dir_ / "NONE.PMC").string(), none,
          "Error: 2 : Unable to open output file: " + (dir_ / "no" / "X.EXM").string()}));
}

TEST(DictionaryFiles, MapSortsByNameAndByValue) {
  zimo::testing::TempHome home;
  DefineDictionary d;
  d.entries["B"] = {1, "10"};
  d.entries["A"] = {2, "2"};
  d.entries["C"] = {3, "10"};
  d.entries["_ZIMO2_"] = {0, ""};
  const std::string long_name(40, 'L');
  d.entries[long_name] = {4, "x"};
  const auto map = home.path() / "P.MAP";
  ASSERT_TRUE(WriteMapFile(d, map.c_str(), "C:\\P.PMC"));
  const std::string pad = std::string(31, ' ');
  EXPECT_EQ(
      OutputLines(map),
      (std::vector<std::string>{
          ";Map created by ZIMO Win32 Driver from file: C:\\P.PMC", ";", "", "",
          "; DEFINES sorted by KEY --------------------------", "A" + pad + " 2", "B" + pad + " 10",
          "C" + pad + " 10", long_name + " x", "_ZIMO2_" + std::string(25, ' ') + " ", "", "",
          "; DEFINES sorted by VALUE ------------------------", std::string(32, ' ') + " _ZIMO2_",
          "10" + std::string(30, ' ') + " B", "10" + std::string(30, ' ') + " C", "2" + pad + " A",
          "x" + pad + " " + long_name}));
}

TEST(DictionaryFiles, WriteAndReadBack) {
  zimo::testing::TempHome home;
  const auto tbl = home.path() / "P.TBL";
  WriteText(tbl, "X=Y=Z\r\nno equals\nLONGNAME_0123456789012345678901234=v\nQ=1\nX=W\n");
  DefineDictionary* root = nullptr;
  ASSERT_EQ(ReadDictionary(tbl.c_str(), &root), 1);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->entries.size(), 3u);
  EXPECT_EQ(root->entries.at("X").value, "W");  // replaced by the second line
  EXPECT_EQ(root->entries.at("X").number, 0u);  // keeps its first number
  EXPECT_EQ(root->entries.at("Q").number, 2u);
  EXPECT_EQ(root->entries.count("LONGNAME_0123456789012345678901"), 1u);  // cut to 31
  // Written back in name order, then merged into the same tree.
  const auto out = home.path() / "OUT.TBL";
  ASSERT_EQ(WriteDictionary(out.c_str(), &root), 1);
  EXPECT_EQ(OutputLines(out),
            (std::vector<std::string>{"LONGNAME_0123456789012345678901=v", "Q=1", "X=W"}));
  WriteText(tbl, "A=1\n");
  ASSERT_EQ(ReadDictionary(tbl.c_str(), &root), 1);
  EXPECT_EQ(root->entries.size(), 4u);
  EXPECT_EQ(ReadDictionary((home.path() / "none").c_str(), &root), 0);
  EXPECT_EQ(WriteDictionary((home.path() / "no" / "x").c_str(), &root), 0);
  FreeDictionary(&root);
  EXPECT_EQ(root, nullptr);
}

}  // namespace
}  // namespace zimo::corvan
