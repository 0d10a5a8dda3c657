// The download state and its reporters: numbered report lines, error and
// warning counts, card errors, the error limit, the abort and the log.
#include "download/download_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "download/source_name.h"
#include "plcc_test_files.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

std::vector<std::string> g_messages;
std::vector<std::string> g_error_files;

std::int32_t OnMessage(const char* text, std::int32_t new_line) {
  g_messages.push_back(std::string(text) + (new_line == 1 ? "" : "<no new line>"));
  return 0;
}
std::int32_t OnError(const char* file, std::int32_t, std::uint32_t, const char*) {
  g_error_files.push_back(file);
  return 0;
}

class DownloadStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    g_error_files.clear();
    DownloadCallbacks callbacks;
    callbacks.message = OnMessage;
    callbacks.error = OnError;
    state_.BeginRequest(3, callbacks, DownloadOptions{1, 0, 1, 0});
    state_.BeginRun();
  }
  DownloadState state_;
};

TEST_F(DownloadStateTest, ReportsAreNumberedWhileActive) {
  state_.ReportDownloadMessage("one");
  state_.ReportDownloadError("bad", 7);
  state_.ReportDownloadError("worse", 0);
  state_.ReportDownloadWarning("odd", 4);
  state_.ReportDownloadWarning("odder", 0);
  EXPECT_EQ(g_messages,
            (std::vector<std::string>{"one", "Error: 1 Line 7 : bad", "Error: 2 : worse",
                                      "Warning: 1 Line: 4 : odd", "Warning: 2 : odder"}));
  EXPECT_EQ(state_.errors(), 2u);
  EXPECT_EQ(state_.warnings(), 2u);
  EXPECT_EQ(state_.level_errors(), 1u);  // only errors with a line count per level
  EXPECT_EQ(state_.level_warnings(), 1u);
  const std::vector<DownloadReport> log = state_.message_log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[4].sequence, 5u);

  state_.set_active(false);
  state_.ReportDownloadMessage("lost");
  EXPECT_EQ(g_messages.size(), 5u);
  EXPECT_EQ(state_.sequence(), 5u);
}

TEST_F(DownloadStateTest, IncludeLevelsCountTheirOwn) {
  state_.PushIncludeLevel();
  state_.ReportDownloadError("inner", 3);
  EXPECT_EQ(state_.include_level(), 1u);
  EXPECT_EQ(state_.level_errors(), 1u);
  state_.PopIncludeLevel();
  EXPECT_EQ(state_.level_errors(), 0u);
  EXPECT_EQ(state_.errors(), 1u);
}

TEST_F(DownloadStateTest, ErrorLimitAbortsTheRun) {
  state_.SetMaxErrors(2);
  state_.ReportDownloadError("a", 0);
  EXPECT_FALSE(state_.aborted());
  state_.ReportDownloadError("b", 0);
  EXPECT_TRUE(state_.aborted());
  state_.ReportDownloadError("c", 0);
  EXPECT_EQ(g_messages,
            (std::vector<std::string>{"Error: 1 : a", "Error: 2 : b",
                                      "Download aborted. Errors exceed 2 maximum.", "Error: 3 : c",
                                      "Download aborted. Errors exceed 2 maximum."}));
  // A new run starts clean.
  state_.BeginRun();
  EXPECT_FALSE(state_.aborted());
  EXPECT_EQ(state_.errors(), 0u);
  EXPECT_EQ(state_.sequence(), 0u);
}

TEST_F(DownloadStateTest, CardErrorsNameFileAndLine) {
  state_.ReportCardError("PROG\r\n", 3, 40, "#1J+\tX\r\n");
  state_.set_compiler_error(true);
  state_.ReportCardError("PLC.PMC", 35, 12, "P1=1+");
  EXPECT_EQ(g_messages, (std::vector<std::string>{
                            "**ZIMO Error 3, Data error or unrecognized command.",
                            "  File: PROG",
                            "  Line: 40, \"#1J+X\"",
                            "**Error 35, PLCC Illegal Command or Format in string",
                            "  File: PLC.PMC",
                            "  Line: 12, \"P1=1+\"",
                            "Download aborted. PLCC Compiler Error.",
                        }));
  EXPECT_EQ(g_error_files, (std::vector<std::string>{"PROG\r\n", "PLC.PMC"}));
  EXPECT_EQ(state_.errors(), 2u);
  EXPECT_TRUE(state_.aborted());
}

TEST_F(DownloadStateTest, AbortReportsWhileActive) {
  state_.Abort();
  EXPECT_TRUE(state_.aborted());
  EXPECT_EQ(g_messages, std::vector<std::string>{"Download aborted at users request."});
  EXPECT_EQ(ZimoSetMaxDownloadErrors(4), 4u);
  EXPECT_EQ(DownloadState::Instance().max_errors(), 4u);
  ZimoSetMaxDownloadErrors(kDefaultMaxDownloadErrors);
}

TEST_F(DownloadStateTest, LogHoldsTheKeptReports) {
  zimo::testing::TempHome home;
  state_.ReportDownloadMessage("Processing");
  state_.ReportDownloadError("File not found: X.PMC", 1);
  const std::filesystem::path log = home.path() / kDownloadFallbackLog;
  ASSERT_TRUE(state_.WriteLog(log.c_str(), "X.PMC"));
  EXPECT_EQ(
      plcc::testing::OutputLines(log),
      (std::vector<std::string>{";Log created by ZIMO Win32 Driver from file: X.PMC", ";",
                                "000001:            Processing",
                                "000002:            Error: 1 Line 1 : File not found: X.PMC"}));
  EXPECT_FALSE(state_.WriteLog((home.path() / "no" / "log").c_str(), "X.PMC"));
}

TEST(SourceNameTest, CommentsNameTheSource) {
  struct Case {
    const char* line;
    bool names;
    const char* name;
  };
  const Case cases[] = {
      {";MYFILE\n", true, "MYFILE"},
      {"P1=1 ;Motion.pmc\r\n", true, "Motion.pmc"},
      {";/home/zimo/prog.pmc", true, "/home/zimo/prog.pmc"},
      {";./prog.pmc", true, "./prog.pmc"},
      {";12", false, ""},
      {"; MYFILE", false, ""},
      {"SEND \";NOT\" ;", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    char name[kSourceNameSize] = "";
    EXPECT_EQ(CommentSourceName(c.line, name, sizeof name), c.names);
    EXPECT_STREQ(name, c.name);
  }
  char small[5] = "";
  EXPECT_TRUE(CommentSourceName(";ABCDEFG", small, sizeof small));
  EXPECT_STREQ(small, "ABCD");
  EXPECT_EQ(CommentLineNumber("P1=1+ ;12"), 12u);
  EXPECT_EQ(CommentLineNumber(";MYFILE"), 0u);
  EXPECT_EQ(CommentLineNumber("P1=1"), 0u);
}

}  // namespace
}  // namespace zimo::corvan
