// The card's serial port on a pseudo-terminal: a host opens the slave path
// as its serial device, sends command bytes and reads the card's bytes back
// unchanged.
#include "cardsim/attach_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "cardsim/card.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;

constexpr int kAnswerMs = 5000;  // for what must come
constexpr int kSilenceMs = 150;  // for what must not

// The host's side: the slave opened as a raw serial port.
class SerialHost {
 public:
  explicit SerialHost(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios tio{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~SerialHost() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open() const { return fd_ >= 0; }

  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until `end` has come as the last byte, `count` bytes have come, or
  // `ms` pass without a byte.
  std::string ReadUntil(char end, size_t count = SIZE_MAX, int ms = kAnswerMs) {
    std::string got;
    while (got.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) break;
      char c;
      if (::read(fd_, &c, 1) != 1) break;
      got += c;
      if (c == end) break;
    }
    return got;
  }
  std::string Reply(const std::string& command) {
    Write(command);
    return ReadUntil('\x06');
  }
  bool Silent() { return ReadUntil('\0', 1, kSilenceMs).empty(); }

 private:
  int fd_;
};

class PtyAttachmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = PtyAttachment::Start(card_);
    ASSERT_TRUE(started.ok()) << started.status().ToString();
    pty_ = std::move(*started);
  }

  Card card_{CardModel::Older()};
  std::unique_ptr<PtyAttachment> pty_;
};

TEST_F(PtyAttachmentTest, CommandsAndControlCharactersAnswerAsOnASerialLine) {
  SerialHost host(pty_->slave_path());
  ASSERT_TRUE(host.open()) << pty_->slave_path();
  EXPECT_EQ(host.Reply("I10\r"), "3713707\r\x06");
  host.Write("P1=12\rP1\r");
  EXPECT_EQ(host.ReadUntil('\0', 5), "\x06" "12\r\x06");
  host.Write("NOSUCHCOMMAND\r");
  EXPECT_EQ(host.ReadUntil('\r'), "\aERR003\r");
  // CTRL-X is echoed; a partial line before it is dropped.
  host.Write("P1=9\x18"s);
  EXPECT_EQ(host.ReadUntil('\x18'), "\x18");
  EXPECT_EQ(card_.PVar(1), 12);
}

TEST_F(PtyAttachmentTest, BytesPassUnchangedInChecksummedMode) {
  SerialHost host(pty_->slave_path());
  EXPECT_EQ(host.Reply("I4=1\r"), "\x06");
  // "P1" sums to 0x81: a byte above 0x7F must come through as it is.
  host.Write("P1\x0E"s);
  EXPECT_EQ(host.ReadUntil('\0', 1), "\x81");
  host.Write("\r");
  // "0" CR, its sum 0x3D, ACK and the command's sum.
  EXPECT_EQ(host.ReadUntil('\0', 5), "0\r\x3D\x06\x81");
}

TEST_F(PtyAttachmentTest, UnsolicitedMessagesWaitForAHost) {
  card_.PostUnsolicited("EARLY");
  ::usleep(kSilenceMs * 1000);
  EXPECT_EQ(card_.TakeUnsolicited(), "EARLY");  // nobody listened: still the card's
}

TEST_F(PtyAttachmentTest, UnsolicitedMessagesGoOutBetweenReplies) {
  SerialHost host(pty_->slave_path());
  card_.PostUnsolicited("MOTOR 1 FAULT");
  EXPECT_EQ(host.ReadUntil('\r'), "\x02MOTOR 1 FAULT\r");
  EXPECT_EQ(host.Reply("I10\r"), "3713707\r\x06");
}

TEST_F(PtyAttachmentTest, MuteAndDelayFromTheScript) {
  SerialHost host(pty_->slave_path());
  card_.script().SetMuted(true);
  host.Write("I10\r");
  EXPECT_TRUE(host.Silent());
  card_.script().SetMuted(false);

  card_.script().SetReplyDelay(std::chrono::milliseconds(600), 1);
  host.Write("I10\r");
  EXPECT_TRUE(host.Silent());
  EXPECT_EQ(host.ReadUntil('\x06'), "3713707\r\x06");

  // A flush drops a reply still held back.
  card_.script().SetReplyDelay(std::chrono::milliseconds(600), 1);
  host.Write("I10\r\x18"s);
  EXPECT_EQ(host.ReadUntil('\x18'), "\x18");
  EXPECT_TRUE(host.Silent());
}

TEST_F(PtyAttachmentTest, PortStaysUsableAcrossHostsAndBursts) {
  {
    SerialHost first(pty_->slave_path());
    EXPECT_EQ(first.Reply("I10\r"), "3713707\r\x06");
  }
  SerialHost second(pty_->slave_path());
  EXPECT_EQ(second.Reply("I10\r"), "3713707\r\x06");
  // Many lines in one write: every reply comes, in order.
  std::string burst, expected;
  for (int i = 0; i < 300; ++i) {
    burst += "P" + std::to_string(i + 1) + "=" + std::to_string(i) + " P" + std::to_string(i + 1) +
             "\r";
    expected += std::to_string(i) + "\r\x06";
  }
  second.Write(burst);
  EXPECT_EQ(second.ReadUntil('\0', expected.size()), expected);
}

TEST_F(PtyAttachmentTest, StoppedCardSendsNothing) {
  SerialHost host(pty_->slave_path());
  pty_->Stop();
  host.Write("I10\r");
  EXPECT_TRUE(host.Silent());
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

TEST(PtyRegistrationTest, SlaveIsAComPortWhileTheCardRuns) {
  testing::TempHome home;
  Card card(CardModel::Older());
  PtyOptions options;
  options.com_port = 7;
  auto pty = PtyAttachment::Start(card, options);
  ASSERT_TRUE(pty.ok()) << pty.status().ToString();
  auto path = platform::ResolveComPort(7);
  ASSERT_TRUE(path.ok());
  EXPECT_EQ(path->string(), (*pty)->slave_path());
  SerialHost host(path->string());
  EXPECT_EQ(host.Reply("I10\r"), "3713707\r\x06");

  (*pty)->Stop();
  path = platform::ResolveComPort(7);
  ASSERT_TRUE(path.ok());
  EXPECT_NE(path->string(), (*pty)->slave_path());
}

}  // namespace
}  // namespace zimo::cardsim
