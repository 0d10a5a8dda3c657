#include "platform/debug.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace zimo::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(DebugChannelTest, CaptureKeepsEachMessageAsSent) {
  DebugCapture capture;
  DebugOutput("OpenProcessToken Failed");
  DebugPrintf("socket error %d on %s\n", 10054, "ETHMutext0");
  DebugOutput("");
  EXPECT_THAT(capture.Messages(),
              ElementsAre("OpenProcessToken Failed", "socket error 10054 on ETHMutext0\n", ""));
  EXPECT_EQ(capture.Text(), "OpenProcessToken Failedsocket error 10054 on ETHMutext0\n");
  EXPECT_TRUE(capture.Contains("10054"));
  EXPECT_FALSE(capture.Contains("10060"));
  capture.Clear();
  EXPECT_TRUE(capture.Messages().empty());
}

TEST(DebugChannelTest, LongFormattedMessageIsNotCut) {
  DebugCapture capture;
  const std::string long_text(5000, 'x');
  DebugPrintf("[%s]%d", long_text.c_str(), 42);
  ASSERT_EQ(capture.Messages().size(), 1u);
  EXPECT_EQ(capture.Messages()[0], "[" + long_text + "]42");
}

TEST(DebugChannelTest, NestedCapturesHandOver) {
  auto outer = std::make_unique<DebugCapture>();
  DebugOutput("one");
  {
    DebugCapture inner;
    DebugOutput("two");
    EXPECT_THAT(inner.Messages(), ElementsAre("two"));
  }
  DebugOutput("three");
  EXPECT_THAT(outer->Messages(), ElementsAre("one", "three"));

  // Ended out of order: the remaining capture still records, nothing dangles.
  auto middle = std::make_unique<DebugCapture>();
  DebugCapture newest;
  middle.reset();
  DebugOutput("four");
  EXPECT_THAT(newest.Messages(), ElementsAre("four"));
  outer.reset();
  DebugOutput("five");
  EXPECT_THAT(newest.Messages(), ElementsAre("four", "five"));
}

TEST(DebugChannelTest, MessagesFromManyThreadsAreAllRecordedWhole) {
  DebugCapture capture;
  constexpr int kThreads = 8;
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) DebugPrintf("thread %d message %d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<std::string> messages = capture.Messages();
  ASSERT_EQ(messages.size(), static_cast<size_t>(kThreads * kEach));
  for (const std::string& m : messages) EXPECT_THAT(m, ::testing::StartsWith("thread "));
}

// Each check runs in a fresh process, since the setting is read once.
TEST(DebugChannelDeathTest, StderrOnlyWhenEnabled) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("ZIMO_DEBUG", "1", 1);
        DebugOutput("MultiMedia Timer Error");
        std::exit(DebugToStderr() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "\\[[0-9]+\\] MultiMedia Timer Error");
  EXPECT_EXIT(
      {
        ::unsetenv("ZIMO_DEBUG");
        DebugOutput("MultiMedia Timer Error");
        std::exit(DebugToStderr() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), Not(HasSubstr("MultiMedia")));
}

}  // namespace
}  // namespace zimo::platform
