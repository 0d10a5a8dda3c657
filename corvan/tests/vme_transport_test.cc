// The VME transport through the stand-in bus manager (libvmemgr.so, loaded
// as "VMEMGR.dll"): command chunks with register 0 written last, reply
// chunks that stop while room is left, a card that does not answer, and
// every failure of the bus manager with its message.
#include "link/vme_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvan/vme_api.h"
#include "platform/message.h"
#include "platform/module.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kMailbox = 0x7FA000;
constexpr std::uint32_t kDpr = 0x700000;
// Waits that a card which answers always meets, and one that lets a card
// that does not answer cost little.
constexpr std::uint32_t kGenerousWait = 2'000'000;
constexpr std::uint32_t kShortWait = 50'000;
constexpr std::uint32_t kFlushWait = 5'000;

constexpr char kDeviceTitle[] = "VMIC I/O Works Access Library";

class VmeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto loaded = platform::Module::Load(kVmeManagerModule);
    ASSERT_TRUE(loaded.ok()) << loaded.status().ToString();
    manager_ = std::move(loaded.value());
    reset_ = *manager_.Function<void()>("vmemgrSimReset");
    set_fault_ = *manager_.Function<void(const char*, std::int32_t)>("vmemgrSimSetFault");
    set_muted_ = *manager_.Function<void(std::int32_t)>("vmemgrSimSetMuted");
    chunks_ = *manager_.Function<std::uint32_t(char*, std::uint32_t)>("vmemgrSimChunks");
    reset_();
  }

  std::string Chunks() {
    std::string text(chunks_(nullptr, 0) + 1, '\0');
    chunks_(text.data(), static_cast<std::uint32_t>(text.size()));
    text.pop_back();
    return text;
  }

  static VmeZimoDevice Device(std::uint32_t reply_wait, std::uint32_t mailbox = kMailbox,
                              std::string module = kVmeManagerModule);

  zimo::testing::TempHome home_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_{boxes_};
  platform::Module manager_;
  void (*reset_)() = nullptr;
  void (*set_fault_)(const char*, std::int32_t) = nullptr;
  void (*set_muted_)(std::int32_t) = nullptr;
  std::uint32_t (*chunks_)(char*, std::uint32_t) = nullptr;
};

TEST_F(VmeTest, CommandTravelsInChunksWithRegisterZeroLastAndTheReplyComesBack) {
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  EXPECT_EQ(boxes_.count(), 0u);
  // The check at open: the line that sets the card's protocol, then "?".
  EXPECT_EQ(Chunks(), "CLOSEI3=2 I6=1\n\r\n?\r\n");
  reset_();

  const char command[] = "P100=12 P101=34 P100";
  static_assert(sizeof command - 1 == 20);
  char reply[64] = {};
  EXPECT_EQ(device.MailboxGetResponse(reply, sizeof reply, command), 3u);
  EXPECT_STREQ(reply, "12\r");
  // The first character and 13 more; then the remaining 6 and the CR. The
  // card reads a chunk when register 0 is written: had it been written
  // first, the chunk would not be whole.
  EXPECT_EQ(Chunks(), "P100=12 P101=3\n4 P100\r\n");

  EXPECT_TRUE(device.MapDprWindow());
  EXPECT_TRUE(device.dpr_mapped());
  EXPECT_NE(device.dpr(), nullptr);
  device.Close();
  EXPECT_FALSE(device.library_loaded());
  EXPECT_FALSE(device.mailbox_mapped());
}

TEST_F(VmeTest, ReplyChunksStopWhileAWholeChunkStillFits) {
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  // Eleven lines of eight characters: far more than 20 bytes.
  std::vector<char> reply(20 + 16, '~');
  const std::uint32_t n = device.MailboxGetResponse(reply.data(), 20, "I10..20");
  EXPECT_GT(n, 0u);
  EXPECT_LE(n + 1, 20u);
  for (std::size_t i = 20; i < reply.size(); ++i) ASSERT_EQ(reply[i], '~') << i;
  // What the card still had is flushed before the next command.
  char next[64] = {};
  EXPECT_EQ(device.MailboxGetResponse(next, sizeof next, "I10"), 8u);
  EXPECT_STREQ(next, "3713707\r");
}

TEST_F(VmeTest, LineStatusesFollowTheChunk) {
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  device.MailboxFlush();
  char chunk[kVmeChunkMax + 1];
  std::uint32_t count = 0;
  ASSERT_EQ(device.MailboxSend("NONSENSE"), 9u);
  EXPECT_EQ(device.MailboxGetLine(chunk, &count), 0xE0000000u);
  EXPECT_STREQ(chunk, "\aERR003\r");
  device.MailboxFlush();
  ASSERT_EQ(device.MailboxSend("I10"), 4u);
  EXPECT_EQ(device.MailboxGetLine(chunk, &count), 1u);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(device.MailboxGetLine(chunk, &count), 0x80000000u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(device.MailboxSend(""), 0u);
}

TEST_F(VmeTest, SilentCardTimesOutAndIsToldItsSettings) {
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  reset_();
  set_muted_(1);
  char reply[64] = {};
  EXPECT_EQ(device.MailboxGetResponse(reply, sizeof reply, "I10"), 0u);
  EXPECT_EQ(Chunks(), "I10\r\nI3=2 I6=1\r\n");
  char chunk[kVmeChunkMax + 1];
  std::uint32_t count = 0;
  EXPECT_EQ(device.MailboxGetLine(chunk, &count), 0xC0000000u);
  // A long command whose first chunk the card never takes: the send gives
  // up and says so.
  VmeZimoDevice nobody(0, 0x600000, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait);
  EXPECT_FALSE(nobody.Open());
  EXPECT_FALSE(nobody.library_loaded());
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(VmeTest, TestOpenAnswersOneOnlyWhenACardAnswered) {
  EXPECT_EQ(VMETestOpenZimoDevice(), 1);
  EXPECT_EQ(Chunks(), "CLOSEI3=2 I6=1\n\r\n?\r\n");
  set_muted_(1);
  EXPECT_EQ(VMETestOpenZimoDevice(), 0);
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(VmeTest, SendGivesUpWhenTheCardDoesNotTakeAChunk) {
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  // Without its "taken" handler the host never hears that the card took a
  // chunk: a send that gives up says so.
  auto install = manager_.Function<VmeInstallInterruptHandlerFn>("vmeInstallInterruptHandler");
  ASSERT_TRUE(install.ok());
  ASSERT_EQ((*install)(0, 7, 160, nullptr), 0);
  EXPECT_EQ(device.MailboxSend("a line longer than one chunk"), 0xC0000000u);
  EXPECT_EQ(device.MailboxSend("short"), 0xC0000000u);
}

TEST_F(VmeTest, MissingLibraryOrEntryPointsAreReported) {
  VmeZimoDevice missing(0, kMailbox, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait,
                        "VMEMGRX.dll");
  EXPECT_FALSE(missing.Open());
  VmeZimoDevice wrong(0, kMailbox, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait, "libm.so.6");
  EXPECT_FALSE(wrong.Open());
  EXPECT_FALSE(wrong.library_loaded());
  const auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Error: 126 in loading VMIC library.");
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_EQ(shown[1].text, "Error: 127 in loading VMIC-VMEMGR library functions.");
  EXPECT_EQ(shown[1].caption, "Error");
  // The no-hardware flag: nothing is loaded, nothing is shown.
  VmeZimoDevice none(1, kMailbox, kDpr, 7, 57, 4, 161, kShortWait, kFlushWait, "VMEMGRX.dll");
  EXPECT_FALSE(none.Open());
  EXPECT_EQ(boxes_.count(), 2u);
}

TEST_F(VmeTest, BusManagerFailuresAreShownAndAFailedOpenHoldsNothing) {
  struct Case {
    const char* entry_point;
    std::int32_t code;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"vmeInit", 0x55, {"vmeInit call returned 55 as the OS or VME Manager error code"}},
      {"vmeInstallInterruptHandler", 3, {"Couldn't install a vector for level 7"}},
      {"vmeLockVmeWindow", 120,
       {"vmeLockVmeWindow is not implemented on this hardware platform",
        "Failed to get pointer to Mailbox base address"}},
      {"vmeLockVmeWindow", 0x1F,
       {"vmeLockVmeWindow call returned 1F as the OS or VME Manager error code",
        "Failed to get pointer to Mailbox base address"}},
      {"vmeGetVmeWindowAdr", 0x2A,
       {"vmeGetVmeWindowAdr call returned 2A as the OS or VME Manager error code",
        "Failed to get pointer to Mailbox base address"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry_point);
    boxes_.Clear();
    set_fault_(c.entry_point, c.code);
    VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
    EXPECT_FALSE(device.Open());
    EXPECT_FALSE(device.library_loaded());
    EXPECT_FALSE(device.mailbox_mapped());
    const auto shown = boxes_.boxes();
    ASSERT_EQ(shown.size(), c.texts.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].text, c.texts[i]);
      EXPECT_EQ(shown[i].caption, kDeviceTitle);
      EXPECT_EQ(shown[i].flags & platform::kMbIconMask, platform::kMbIconExclamation);
    }
    // The next open finds the bus manager as it was.
    VmeZimoDevice again(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
    EXPECT_TRUE(again.Open());
  }

  // A window that cannot be given back stays held, and says why.
  boxes_.Clear();
  VmeZimoDevice device(0, kMailbox, kDpr, 7, 57, 4, 161, kGenerousWait, kFlushWait);
  ASSERT_TRUE(device.Open());
  set_fault_("vmeFreeVmeWindowAdr", 0x33);
  device.Close();
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text,
            "vmeFreeVmeWindowAdr call returned 33 as the OS or VME Manager error code");
}

}  // namespace
}  // namespace zimo::corvan
