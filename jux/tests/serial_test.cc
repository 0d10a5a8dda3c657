// The serial channel against the simulated card on a pseudo-terminal
// registered as COM3.
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "jux_cards.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace {

namespace p = zimo::platform;
using zimo::cardsim::Card;
using zimo::cardsim::PtyAttachment;

class Serial : public ::testing::Test {
 protected:
  void Attach(uint32_t line_rate = 0) {
    const zimo::platform::Status attached = serial_.Attach(3, line_rate);
    ASSERT_TRUE(attached.ok()) << attached.ToString();
  }
  tagMCardInfo Image(int baud) {
    tagMCardInfo image;
    std::memset(&image, 0, sizeof(image));
    std::strcpy(image.name, "SER");
    image.method = 2;
    image.com_port = 3;
    image.baud_rate = baud;
    image.retries = 3;
    // 500 polls of 100 us: the least the library keeps once the card is open,
    // and enough for the open's probes to find a slow simulated card.
    image.timeout = 500;
    return image;
  }
  tagMCardInfo* Open(int baud = 38400) {
    tagMCardInfo image = Image(baud);
    record_ = JUXInit(&image);
    return record_;
  }
  void TearDown() override {
    if (record_ != nullptr) JUXShutDown(&record_);
    if (pty_) pty_->Stop();
  }
  // The lines the card received since the log was cleared.
  std::vector<std::string> Log() { return card_.script().received(); }

  zimo::testing::TempHome home_;
  jux_testing::PtyCard serial_;
  Card& card_ = serial_.card;
  std::unique_ptr<PtyAttachment>& pty_ = serial_.pty;
  tagMCardInfo* record_ = nullptr;
};

TEST_F(Serial, OpensAtTheGivenRateAndExchangesCommands) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->connected, 1) << PGetLastGlobalError();
  EXPECT_EQ(r->serial_open, 1);
  EXPECT_EQ(r->method, 2);
  EXPECT_NE(r->serial_handle, 0u);
  EXPECT_EQ(r->timeout, 500);
  card_.SetIVar(10, 3713707);
  char buffer[64];
  ASSERT_EQ(PGetResponse(r, buffer, sizeof(buffer) - 1, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
  ASSERT_EQ(PGetResponse(r, buffer, sizeof(buffer) - 1, "I10..11"), 1);
  EXPECT_EQ(std::string(buffer), "3713707\r" + std::to_string(card_.IVar(11)));
  // An empty response (ACK alone).
  ASSERT_EQ(PGetResponse(r, buffer, sizeof(buffer) - 1, "P1=5"), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(card_.PVar(1), 5.0);
  // Card errors: BEL ERR015 CR gives 65; without a number 53.
  card_.script().InjectError(15);
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer) - 1, "B1"), 0);
  EXPECT_EQ(r->last_error, 65);
  // BEL CR alone is too short to carry a number: it fails, the code stays.
  card_.SetIVar(6, 0);
  r->last_error = 0;
  card_.script().InjectError(3);
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer) - 1, "XYZ"), 0);
  EXPECT_EQ(r->last_error, 0);
  card_.SetIVar(6, 1);
  // The on-line check's lines and "I6=1" reached the card.
  const std::vector<std::string> log = Log();
  for (const char* line : {"?", "@0I1=2@0", "@0", "I6=1"}) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
}

TEST_F(Serial, SearchFindsTheCardsRate) {
  Attach(38400);
  tagMCardInfo* r = Open(0);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->connected, 1) << PGetLastGlobalError();
  EXPECT_EQ(r->baud_rate, 38400);
  EXPECT_EQ(pty_->rates_seen(), (std::vector<uint32_t>{76800, 51200, 38400}));
}

TEST_F(Serial, RefusedSettingsAndHeldPort) {
  Attach();
  for (int port : {0, 17}) {
    tagMCardInfo image = Image(38400);
    image.com_port = port;
    EXPECT_EQ(SERInit(&image), 0);
    EXPECT_EQ(image.last_error, 3001);
  }
  tagMCardInfo image = Image(110);
  EXPECT_EQ(SERInit(&image), 0);
  EXPECT_EQ(image.last_error, 3002);
  EXPECT_TRUE(pty_->rates_seen().empty());  // the port was never touched
  auto held = p::SerialPort::Open("COM3");
  ASSERT_TRUE(held.ok());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(record_->connected, 0);
  EXPECT_EQ(PGetLastGlobalError(), 3013);
}

TEST_F(Serial, StatusReplyOfWrongLengthIsNoCard) {
  Attach();
  for (int length : {11, 13}) {
    card_.script().SetStatusLength(length);
    tagMCardInfo image = Image(38400);
    image.retries = 1;
    image.timeout = 100;
    EXPECT_EQ(SERInit(&image), 0) << length;
    EXPECT_EQ(image.last_error, 3012) << length;
    EXPECT_EQ(image.serial_open, 0);
    SERCloseComm(&image);
  }
}

TEST_F(Serial, LinesAreCheckedAndSentWhole) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->connected, 1);
  card_.script().ClearLog();
  EXPECT_EQ(SERSendLine(r, std::string(251, 'A').c_str()), 0);
  EXPECT_EQ(r->last_error, 5001);
  // Control characters do not count and are not sent.
  std::string line = "P1\t" + std::string(248, ' ');
  EXPECT_EQ(SERSendLine(r, line.c_str()), 1);
  char buffer[32];
  ASSERT_EQ(SERGetLine(r, buffer, 31), 1);
  EXPECT_EQ(SERGetControlResponse(r, buffer, 31, 20), 0);
  const auto log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(std::find(log.begin(), log.end(), "^T"), log.end());
}

TEST_F(Serial, TimeoutsCountPollsOnTheClock) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->connected, 1);
  card_.script().SetMuted(true);
  p::FakeClock clock;
  clock.set_auto_advance(true);
  p::ScopedClock scoped(clock);
  r->timeout = 37;
  char buffer[16];
  const auto start = clock.Now();
  EXPECT_EQ(SERGetLine(r, buffer, 15), 0);
  EXPECT_EQ(r->last_error, 3004);
  // One pause per empty poll: the pause is 100 us.
  EXPECT_EQ((clock.Now() - start).count(), 37 * 100);
  // Line errors seen meanwhile choose the code.
  p::InjectCommErrors(pty_->slave_path(), p::comm::kErrorFrame);
  EXPECT_EQ(SERGetLine(r, buffer, 15), 0);
  EXPECT_EQ(r->last_error, 3006);
  p::InjectCommErrors(pty_->slave_path(), p::comm::kErrorOverrun | p::comm::kErrorBreak);
  EXPECT_EQ(SERGetLine(r, buffer, 15), 0);
  EXPECT_EQ(r->last_error, 3008);
}

TEST_F(Serial, ReadStoppedBySizeKeepsItsText) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->connected, 1);
  r->timeout = 20000;  // the card answers: wait for it however loaded the machine
  card_.SetIVar(10, 3713707);
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  ASSERT_EQ(SERSendLine(r, "I10"), 1);
  ASSERT_EQ(SERGetLine(r, buffer, 4), 1);
  EXPECT_STREQ(buffer, "3713");
  ASSERT_EQ(SERGetLineCR(r, buffer, 7), 1);
  EXPECT_STREQ(buffer, "707");
}

// An echo of the flush already queued when a command goes out is no pending
// response: the command waits only for its own reply.
TEST_F(Serial, QueuedFlushEchoIsNoPendingResponse) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->connected, 1);
  ASSERT_EQ(SERSendChar(r, 24), 1);
  for (int i = 0; i < 5000 && !SERIsLineWaiting(r); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(SERIsLineWaiting(r), 1) << "the card never echoed CTRL-X";
  card_.script().SetMuted(true);
  p::FakeClock clock;
  clock.set_auto_advance(true);
  p::ScopedClock scoped(clock);
  r->timeout = 23;
  char buffer[16];
  const auto start = clock.Now();
  EXPECT_EQ(SERGetResponse(r, buffer, 15, "I10"), 0);
  EXPECT_EQ(r->last_error, 3004);
  // The muted card's own reply ran out once: timeout polls, 100 us each.
  EXPECT_EQ((clock.Now() - start).count(), 23 * 100);
}

// What came behind the end of a read stays queued input: it is reported as
// waiting and read away as a pending response before the next command.
TEST_F(Serial, TextAfterTheEndOfAReadStaysQueued) {
  Attach();
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->connected, 1);
  card_.SetIVar(10, 3713707);
  card_.SetIVar(11, 42);
  ASSERT_EQ(SERSendLine(r, "I10..11"), 1);
  char buffer[64];
  ASSERT_EQ(SERGetLineCR(r, buffer, 63), 1);
  EXPECT_STREQ(buffer, "3713707");
  EXPECT_EQ(SERIsLineWaiting(r), 1);
  ASSERT_EQ(PGetResponse(r, buffer, 63, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
  EXPECT_EQ(SERIsLineWaiting(r), 0);
}

}  // namespace
