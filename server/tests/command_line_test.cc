#include "core/command_line.h"

#include <gtest/gtest.h>

namespace zimo::server {
namespace {

TEST(CommandLineTest, SwitchesMatchOnlyWhenNothingFollowsThem) {
  const struct {
    const char* line;
    Switch expected;
  } cases[] = {
      {"", Switch::kNone},
      {"-Embedding", Switch::kEmbedding},
      {"/automation", Switch::kEmbedding},
      {"/RegServer", Switch::kRegister},
      {"-regserver", Switch::kRegister},
      {"-Install", Switch::kRegister},
      {"-UnregServer", Switch::kUnregister},
      {"/UNINSTALL", Switch::kUnregister},
      // The whole rest of the line must be the word.
      {"-RegServer now", Switch::kNone},
      {"-RegServerX", Switch::kNone},
      // Other words are skipped; the scan goes on after the next - or /.
      {"hello -Embedding", Switch::kEmbedding},
      {"/opt/my-dir/x -UnregServer", Switch::kUnregister},
      {"RegServer", Switch::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(ScanCommandLine(c.line), c.expected) << c.line;
}

TEST(CommandLineTest, ArgumentsAreJoinedWithBlanks) {
  const char* argv[] = {"zimoserver", "-RegServer", "now"};
  EXPECT_EQ(JoinArguments(3, argv), "-RegServer now");
  EXPECT_EQ(ScanCommandLine(JoinArguments(3, argv)), Switch::kNone);
}

}  // namespace
}  // namespace zimo::server
