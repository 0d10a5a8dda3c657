// The command API against a simulated card on a pseudo-terminal: results
// and counts of real exchanges, card errors and their texts, a muted card,
// unsolicited lines, the command log, the W forms, and input that must be
// refused without reaching the card.
#include "corvan/command_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "corvan/device_api.h"
#include "corvan/status_query_api.h"
#include "link/serial_checksum.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CommandApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    card_->card().script().ClearLog();
    char record[400];
    while (App().rings().ChangeReadReady(0) != 0) App().rings().ChangeGet(0, record, 399);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
  }

  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(CommandApiTest, ResponseCarriesTheCardsValueWithAckStatusAndCount) {
  char buffer[100];
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
  EXPECT_EQ(word & kStatusMask, kStatusAck);
  EXPECT_STREQ(buffer, "3713707\r");
  EXPECT_EQ(word & kCountMask, 8u);  // the characters stored, CR included
  EXPECT_EQ(ZimoGetResponseA(0, buffer, sizeof buffer, "P1=5P1"), 2u);
  EXPECT_STREQ(buffer, "5\r");
  EXPECT_EQ(ZimoGetError(0), 0);
}

TEST_F(CommandApiTest, MultiLineResponseLiesBackToBack) {
  char buffer[100];
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "P1=1P2=22P1..2");
  EXPECT_EQ(word, kStatusAck | 5u);
  EXPECT_STREQ(buffer, "1\r22\r");
}

TEST_F(CommandApiTest, CardErrorGivesStatusEAndTheCardsTextThroughGetErrorStr) {
  char buffer[100];
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "NOSUCHCOMMAND");
  EXPECT_EQ(word & kStatusMask, kStatusCardError);
  EXPECT_STREQ(buffer, "\aERR003\r");
  char text[100] = "untouched";
  EXPECT_EQ(ZimoGetErrorStrA(0, text, sizeof text), 3);
  EXPECT_STREQ(text, "Data error or unrecognized command.");
  EXPECT_STREQ(block().LastErrorText, "Data error or unrecognized command.");

  // A short buffer gets a terminated piece of the text; the W form the same.
  char small[5];
  EXPECT_EQ(ZimoGetErrorStrA(0, small, sizeof small), 3);
  EXPECT_STREQ(small, "Data");
  char16_t wide[100];
  EXPECT_EQ(ZimoGetErrorStrW(0, wide, 100), 3);
  EXPECT_EQ(std::u16string(wide), u"Data error or unrecognized command.");
  EXPECT_EQ(ZimoGetErrorStrW(0, wide, 4), -3);

  // The number is the card's: an injected error 7 comes back as 7.
  card_->card().script().InjectError(7);
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "P1") & kStatusMask, kStatusCardError);
  EXPECT_EQ(ZimoGetErrorStrA(0, text, sizeof text), 7);
  EXPECT_STREQ(text, "Buffer already in use.");

  // After a clean exchange there is no error and the buffer is left alone.
  ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
  char clean[8] = "keep";
  EXPECT_EQ(ZimoGetErrorStrA(0, clean, sizeof clean), 0);
  EXPECT_STREQ(clean, "keep");
}

TEST_F(CommandApiTest, MutedCardTimesOutAndGetsTheRestoreLine) {
  card_->card().script().SetMuted(true);
  char16_t buffer[100];
  // The W form takes the A form's path: the card receives the restore line.
  const std::uint32_t word = ZimoGetResponseExW(0, buffer, 100, u"I10");
  EXPECT_EQ(word & kStatusMask, kStatusTimeout);
  EXPECT_EQ(word & kCountMask, 0u);
  EXPECT_EQ(ZimoGetError(0), 1008);
  EXPECT_TRUE(card_->Received("I3=2 I6=1"));
  char change[100];
  ASSERT_EQ(App().rings().ChangeGet(0, change, 99), 1);
  EXPECT_STREQ(change, "I3=2 I6=1");
  EXPECT_EQ(ZimoSendCommandA(0, "P1"), 0);

  card_->card().script().SetMuted(false);
  char reply[100];
  EXPECT_EQ(ZimoGetResponseExA(0, reply, sizeof reply, "I10") & kStatusMask, kStatusAck);
  EXPECT_EQ(ZimoSendCommandA(0, "P1=7"), 1);
}

TEST_F(CommandApiTest, UnsolicitedLineLandsInTheRing) {
  card_->card().PostUnsolicited("MOTOR 1 FAULT");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ZimoReadReady(0) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  char buffer[100] = "stale";
  EXPECT_EQ(ZimoGetLineExA(0, buffer, sizeof buffer), kStatusUnsolicited);
  EXPECT_STREQ(buffer, "");
  char message[100];
  ASSERT_EQ(App().rings().USReadReady(0), 1);
  ASSERT_EQ(App().rings().GetUSResponse(0, message, 99), 1);
  EXPECT_STREQ(message, "MOTOR 1 FAULT");
}

TEST_F(CommandApiTest, CommandLogRecordsEveryExchange) {
  const std::string log = (home_.path() / "exchanges.log").string();
  ASSERT_EQ(ZimoSetCommandLogging(0, 1, log.c_str()), 1);
  EXPECT_EQ(ZimoGetCommandLogging(0), 1);
  char buffer[100];
  ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");            // ends with ACK
  ZimoGetResponseExA(0, buffer, sizeof buffer, "NOSUCHCOMMAND");  // card error
  ZimoSendCharA(0, 26);  // the card answers Ctrl-Z with nothing
  ZimoGetResponseExA(0, buffer, sizeof buffer, "P1=2P1..3");
  EXPECT_EQ(ZimoCommandLog(0, "note\tafter tab"), 1);
  EXPECT_EQ(ZimoCommandLog(1, "not open here"), 1);  // nothing written, still 1
  EXPECT_EQ(ZimoCommandLog(9, "no such device"), 0);
  ASSERT_EQ(ZimoSetCommandLogging(0, 0, nullptr), 1);
  ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");  // logging off
  EXPECT_EQ(ReadFile(log),
            "I10\r\n;3713707\r\n"
            "NOSUCHCOMMAND\r\n;\r\n"
            "\r\n"
            "P1=2P1..3\r\n;2\r\n"
            "note\r\n");

  // Switching on again empties the file; a name too long is refused.
  ASSERT_EQ(ZimoSetCommandLogging(0, 1, nullptr), 1);
  EXPECT_EQ(ReadFile(log), "");
  const std::string too_long(260, 'x');
  EXPECT_EQ(ZimoSetCommandLogging(0, 1, too_long.c_str()), 0);
}

// A command sent for its effect logs the command alone (its response is
// dropped); a control character is a reply entry from the narrow form and
// a command entry from the wide one.
TEST_F(CommandApiTest, CommandLogEntriesOfSendCommandAndControlCharacters) {
  const std::string log = (home_.path() / "entries.log").string();
  ASSERT_EQ(ZimoSetCommandLogging(0, 1, log.c_str()), 1);
  EXPECT_EQ(ZimoSendCommandA(0, "I10"), 1);
  EXPECT_EQ(ZimoSendCommandW(0, u"P1"), 1);
  char buffer[100];
  char16_t wide[100];
  ZimoGetControlResponseExA(0, buffer, sizeof buffer, 7);
  ZimoGetControlResponseExW(0, wide, 100, 7);
  ASSERT_EQ(ZimoSetCommandLogging(0, 0, nullptr), 1);
  EXPECT_EQ(ReadFile(log), "I10\r\nP1\r\n;\r\n\r\n");
}

// The size limit is read from the file that was opened, even after the
// process has moved to another working directory.
TEST_F(CommandApiTest, CommandLogKeepsToItsFileAcrossAChangeOfDirectory) {
  struct RestoreDirectory {
    std::filesystem::path path = std::filesystem::current_path();
    ~RestoreDirectory() { std::filesystem::current_path(path); }
  } restore;
  std::filesystem::current_path(home_.path());
  ASSERT_EQ(ZimoSetCommandLogging(0, 1, "moved.log"), 1);
  std::filesystem::create_directory(home_.path() / "elsewhere");
  std::filesystem::current_path(home_.path() / "elsewhere");
  char buffer[100];
  ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
  ASSERT_EQ(ZimoSetCommandLogging(0, 0, nullptr), 1);
  EXPECT_EQ(ReadFile((home_.path() / "moved.log").string()), "I10\r\n;3713707\r\n");
}

TEST_F(CommandApiTest, WideFormsMatchTheNarrowOnes) {
  char16_t buffer[100];
  const std::uint32_t word = ZimoGetResponseExW(0, buffer, 100, u"I10");
  EXPECT_EQ(word, kStatusAck | 8u);
  EXPECT_EQ(std::u16string(buffer), u"3713707\r");
  EXPECT_EQ(ZimoSendCommandW(0, u"P3=4"), 1);
  EXPECT_EQ(ZimoGetResponseW(0, buffer, 100, u"P3"), 2u);
  EXPECT_EQ(std::u16string(buffer), u"4\r");
  // A wide buffer of four characters takes three and the terminator: the
  // reply is cut, with the three characters counted.
  const std::uint32_t small = ZimoGetResponseExW(0, buffer, 4, u"I10");
  EXPECT_EQ(std::u16string(buffer), u"371");
  EXPECT_EQ(small, kStatusFailure | 3u);
  EXPECT_EQ(ZimoGetError(0), 54);
}

TEST_F(CommandApiTest, ControlCharacterExchangeAndStatusQueries) {
  char buffer[100];
  // ^G: the two global status words as 12 hex digits and CR, then ACK.
  EXPECT_EQ(ZimoGetControlResponseExA(0, buffer, sizeof buffer, 7), kStatusAck | 13u);
  EXPECT_STREQ(buffer, "000000000000\r");
  EXPECT_TRUE(card_->Received("^G"));

  EXPECT_EQ(ZimoSetCriticalIVars(0), 1);
  EXPECT_TRUE(card_->Received("I3=2I6=1I63=1I64=1"));
  char change[100];
  ASSERT_EQ(App().rings().ChangeGet(0, change, 99), 1);
  EXPECT_STREQ(change, "I3=2I6=1I63=1I64=1");
  EXPECT_EQ(App().rings().ChangeReadReady(0), 0);  // one record, not two
}

// The buffer queries look at the eighth character of the ^G reply, the
// hexadecimal digit of status bits 16-19: its value 8 (bit 19) for the
// motion buffer, 4 (bit 18) for the rotary buffer.
TEST_F(CommandApiTest, BufferQueriesTestTheirBitOfTheGlobalStatusReply) {
  struct Case {
    std::uint64_t status;
    int motion;
    int rotary;
  };
  const Case cases[] = {
      {0x0ull << 16, 0, 0},  // '0': a digit, but no bit set
      {0x4ull << 16, 0, 1}, {0x8ull << 16, 1, 0},
      {0xAull << 16, 1, 0},  // 'A' = 0x41: the digit's value counts, not its code
      {0xDull << 16, 1, 1}, {0x4ull << 12, 0, 0},  // the neighbouring digit does not count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    ShutdownZimoDevice(0, 1);
    card_.reset();
    cardsim::CardModel model = cardsim::CardModel::Older();
    model.global_status = c.status;
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    ASSERT_EQ(OpenZimoDevice(0), 1);
    EXPECT_EQ(ZimoMotionBufOpen(0), c.motion);
    EXPECT_EQ(ZimoRotBufOpen(0), c.rotary);
  }
}

// A serial card has no DPR: the status queries that may ask the card do,
// whatever the shared buffer flags say, and the DPR-only ones give 0 and
// send nothing.
TEST_F(CommandApiTest, StatusQueriesOnASerialCardAskTheCard) {
  SharedDeviceBlock* block = App().Block(0);
  block->RealTimeActive = 1;
  block->BackgroundActive = 1;
  card_->card().script().ClearLog();
  ZimoGetCommandedPos(0, 1, 1);
  ZimoFollowError(0, 0, 1);
  ZimoPe(0, 0);
  ZimoMotorEnabled(0, 0);
  EXPECT_EQ(ZimoGetTargetPos(0, 0, 1), 0);
  EXPECT_EQ(ZimoGetAxisTargetPos(0, 0, 'X'), 0);
  EXPECT_EQ(ZimoTimeRemInMove(0, 0), 0);
  ZimoSetJogReturn(0, 0);
  EXPECT_EQ(card_->received(), (std::vector<std::string>{"RL$64", "#1F", "&1PE", "rhx:$3D"}));
  block->RealTimeActive = 0;
  block->BackgroundActive = 0;
}

// With checksums on, the same calls go through the checksummed transport;
// switched off again, through the plain one.
TEST_F(CommandApiTest, ChecksummedModeTakesTheChecksummedTransport) {
  ASSERT_EQ(ZimoDoChecksums(0, 1), 1);
  EXPECT_TRUE(ChecksumsOn(0));
  EXPECT_TRUE(card_->card().ChecksumMode());
  char buffer[100];
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
  EXPECT_EQ(word & kErrorBits, 0u);
  EXPECT_STREQ(buffer, "3713707\r");
  ASSERT_EQ(ZimoDoChecksums(0, 0), 1);
  EXPECT_FALSE(card_->card().ChecksumMode());
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "I10"), kStatusAck | 8u);
  EXPECT_EQ(ZimoDoChecksums(9, 1), 0);
}

TEST_F(CommandApiTest, FlushAndSendCommandReportWhatHappened) {
  EXPECT_EQ(ZimoFlush(0), 1);
  EXPECT_EQ(ZimoSendCommandA(0, "P7=1"), 1);
  EXPECT_EQ(ZimoSendCommandA(0, "NOSUCHCOMMAND"), 0);  // a card error is no success
  EXPECT_EQ(ZimoGetDpramAvailable(0), 0);              // a serial card has no DPR
  ShutdownZimoDevice(0, 1);
  EXPECT_EQ(ZimoFlush(0), 0);
  EXPECT_EQ(ZimoSendCommandA(0, "P7=1"), 0);
  char buffer[100];
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "I10"), kStatusFailure);
  EXPECT_EQ(ZimoGetError(0), 1011);
}

// Bad input: each call gets its failure result, the caller's buffer beyond
// what the call may write is untouched, and the card receives nothing.
TEST_F(CommandApiTest, BadInputIsRefusedWithoutReachingTheCard) {
  struct Case {
    const char* what;
    std::uint32_t device;
    std::uint32_t size;
    bool null_buffer;
    std::string command;
    std::uint32_t expected;
    std::int32_t error;  // device 0's error afterwards
  };
  const std::string overlong(299, 'P');
  const Case cases[] = {
      {"device 8", 8, 100, false, "I10", 0, 0},
      {"device 9", 9, 100, false, "I10", 0, 0},
      {"device -1", 0xFFFFFFFF, 100, false, "I10", 0, 0},
      {"null buffer", 0, 100, true, "I10", kStatusFailure, 54},
      {"size 0", 0, 0, false, "I10", kStatusFailure, 54},
      {"size 1", 0, 1, false, "I10", kStatusFailure, 54},
      {"line of 299 characters", 0, 100, false, overlong, kStatusFailure, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char buffer[104];
    std::memset(buffer, '#', sizeof buffer);
    const std::uint32_t word =
        ZimoGetResponseExA(c.device, c.null_buffer ? nullptr : buffer, c.size, c.command.c_str());
    EXPECT_EQ(word, c.expected);
    EXPECT_EQ(ZimoGetError(0), c.error);
    // Only the terminator may have been written, and only inside the size.
    for (std::size_t i = c.size == 0 ? 0 : 1; i < sizeof buffer; ++i) {
      if (c.null_buffer) break;
      ASSERT_EQ(buffer[i], '#') << "byte " << i;
    }
  }
  EXPECT_TRUE(card_->received().empty());
  EXPECT_EQ(ZimoSendLineA(0, overlong.c_str()), kStatusFailure);
  EXPECT_EQ(ZimoGetError(0), 28);
  EXPECT_TRUE(card_->received().empty());
  // A line of 298 characters still fits.
  EXPECT_EQ(ZimoSendLineA(0, std::string(298, ' ').c_str()), 299u);
}

}  // namespace
}  // namespace zimo::corvan
