#include "platform/message.h"

#include <gtest/gtest.h>

#include "platform/debug.h"

namespace zimo::platform {
namespace {

TEST(MessageBoxTest, DefaultAnswerFollowsTheDefaultButton) {
  struct Case {
    uint32_t flags;
    int answer;
  };
  const Case cases[] = {
      {kMbOk, kIdOk},
      {kMbOk | kMbIconError | kMbTopmost, kIdOk},
      {kMbOkCancel, kIdOk},
      {kMbOkCancel | kMbDefButton2 | kMbTopmost, kIdCancel},
      {kMbAbortRetryIgnore | kMbDefButton3, kIdIgnore},
      {kMbYesNoCancel | kMbDefButton2 | kMbIconQuestion, kIdNo},
      {kMbYesNo | kMbDefButton3, kIdYes},  // no third button: the first
      {kMbRetryCancel, kIdRetry},
      {0xE | kMbDefButton2, kIdOk},  // unknown buttons: OK alone
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultAnswer(c.flags), c.answer) << std::hex << c.flags;
  }
  EXPECT_EQ(BoxButtons(kMbYesNoCancel), (std::vector<int>{kIdYes, kIdNo, kIdCancel}));
  EXPECT_EQ(BoxButtons(kMbAbortRetryIgnore), (std::vector<int>{kIdAbort, kIdRetry, kIdIgnore}));
}

TEST(MessageRecorderTest, RecordsBoxesAndAnswersFromTheScriptThenDefaults) {
  MessageRecorder recorder;
  ScopedMessageService use(recorder);
  recorder.QueueAnswers({kIdCancel, kIdNo});
  EXPECT_EQ(
      ShowMessageBox("Checksum communications error", "Bad Checksum", kMbOkCancel | kMbTopmost),
      kIdCancel);
  EXPECT_EQ(ShowMessageBox("Save?", "Question", kMbYesNoCancel), kIdNo);
  EXPECT_EQ(recorder.pending_answers(), 0u);
  EXPECT_EQ(ShowMessageBox("Again?", "Question", kMbYesNo | kMbDefButton2), kIdNo);
  EXPECT_EQ(ShowMessageBox("Device not registered.", "", kMbOk), kIdOk);

  std::vector<MessageRecorder::Box> boxes = recorder.boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, "Checksum communications error");
  EXPECT_EQ(boxes[0].caption, "Bad Checksum");
  EXPECT_EQ(boxes[0].flags, kMbOkCancel | kMbTopmost);
  EXPECT_EQ(boxes[0].answer, kIdCancel);
  EXPECT_EQ(recorder.last()->text, "Device not registered.");
  for (const auto& box : boxes) EXPECT_FALSE(box.script_mismatch);

  recorder.Clear();
  EXPECT_EQ(recorder.count(), 0u);
  EXPECT_FALSE(recorder.last().has_value());
}

TEST(MessageRecorderTest, AnswerNoButtonCouldGiveIsRefused) {
  MessageRecorder recorder;
  recorder.QueueAnswers({kIdYes, kIdRetry});
  EXPECT_EQ(recorder.Show("Download Complete!!", "", kMbOk), kIdOk);
  EXPECT_TRUE(recorder.last()->script_mismatch);
  // The refused answer was used up; the next box takes the next one.
  EXPECT_EQ(recorder.Show("Retry?", "", kMbRetryCancel), kIdRetry);
  EXPECT_FALSE(recorder.last()->script_mismatch);
}

TEST(MessageServiceTest, ConsoleServiceAnswersAtOnceAndTellsTheDebugChannel) {
  MessageRecorder recorder;
  {
    ScopedMessageService use(recorder);
    EXPECT_EQ(&CurrentMessageService(), &recorder);
  }
  EXPECT_NE(&CurrentMessageService(), &recorder);

  DebugCapture capture;
  EXPECT_EQ(ShowMessageBox("Unable to open gather file x.", "File Error",
                           kMbYesNoCancel | kMbDefButton3 | kMbIconError),
            kIdCancel);
  EXPECT_TRUE(capture.Contains("File Error: Unable to open gather file x."));
  EXPECT_EQ(recorder.count(), 0u);
}

}  // namespace
}  // namespace zimo::platform
