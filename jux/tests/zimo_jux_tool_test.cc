// zimo-jux against the simulated card on a serial line.
#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "gtest/gtest.h"
#include "temp_home.h"

namespace {

// Runs zimo-jux with `args`; its standard output and exit code.
std::string RunTool(const std::string& args, int* code) {
  const char* bin = std::getenv("ZIMO_BIN_DIR");
  const std::string command = std::string(bin != nullptr ? bin : ".") + "/zimo-jux " + args;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(ZimoJux, PrintsResponsesAndErrors) {
  zimo::testing::TempHome home;
  zimo::cardsim::Card card(zimo::cardsim::CardModel::Older());
  card.SetIVar(10, 3713707);
  zimo::cardsim::PtyOptions options;
  options.com_port = 6;
  auto pty = zimo::cardsim::PtyAttachment::Start(card, options);
  ASSERT_TRUE(pty.ok());
  card.script().FailLinesMatching("BAD", 3);
  int code = -1;
  EXPECT_EQ(RunTool("--method serial --com 6 --baud 38400 I10 BAD", &code),
            "> I10\n3713707\nerror 0 No errors to report.\n"
            "> BAD\nerror 53 Syntax error, unrecognized command, or bad program structure (i.e. "
            "missing ENDIF or ENDWHILE)\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(RunTool("--method serial --com 7 I10", &code),
            "open failed\nerror 3013 CreateFile() API failed.  Communication port may already be "
            "in use.\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(RunTool("--method sim I10", &code), "> I10\nerror 0 No errors to report.\n");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(RunTool("--bogus", &code), "");
  EXPECT_EQ(code, 2);
  (*pty)->Stop();
}

}  // namespace
