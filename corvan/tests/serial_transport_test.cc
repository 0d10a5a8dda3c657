// The serial transport byte for byte: a pseudo-terminal whose far end the
// test plays, so every framing case the card might send (or fail to send)
// can be produced exactly. The device's port is attached directly, as the
// server's build does with its own table.
#include "corvan/serial_api.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "corvan/command_api.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/serial_setup.h"
#include "link/serial_transport.h"
#include "platform/process.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kCharTimeoutMs = 200;

// The far end of the line: answers each CR-ended line it receives with what
// `answer` returns, echoes Ctrl-X at once, and keeps everything it received.
class RawPeer {
 public:
  RawPeer(int fd, std::function<std::string(const std::string&)> answer)
      : fd_(fd), answer_(std::move(answer)), thread_([this] { Run(); }) {}
  ~RawPeer() {
    stop_ = true;
    thread_.join();
  }
  std::string received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }
  // Waits until `part` has been received.
  bool WaitFor(const std::string& part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (received().find(part) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

 private:
  void Run() {
    std::string line;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      char c;
      if (::read(fd_, &c, 1) != 1) continue;
      {
        std::lock_guard<std::mutex> lock(mu_);
        received_ += c;
      }
      if (c == 0x18) {
        Send("\x18");
        line.clear();
      } else if (c == '\r') {
        Send(answer_(line));
        line.clear();
      } else {
        line += c;
      }
    }
  }
  void Send(const std::string& bytes) {
    if (!bytes.empty()) (void)!::write(fd_, bytes.data(), bytes.size());
  }

  int fd_;
  std::function<std::string(const std::string&)> answer_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::string received_;
  std::thread thread_;
};

class SerialTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<SharedDeviceTable>();
    ASSERT_TRUE(InitializeDeviceSlot(*table_, 0, kLocationSerial, 1).ok());
    block().SerCharTimeout = kCharTimeoutMs;
    block().SerFlushTimeout = 30;
    CommLibraryApp::UseServerTable(table_.get());
    auto pair = platform::OpenPtyPair();
    ASSERT_TRUE(pair.ok());
    pty_ = std::move(pair.value());
    ASSERT_TRUE(platform::RegisterComPort(1, pty_.slave_path).ok());
    ASSERT_EQ(RegisterDevice(0, kLocationSerial, 1, nullptr), 1);
    auto port =
        platform::SerialPort::Open(pty_.slave_path.string(), platform::SerialShare::kShared);
    ASSERT_TRUE(port.ok());
    handle_.serial = std::move(port.value());
    handle_.location = kLocationSerial;
    handle_.enumeration = 1;
    auto mutex = platform::NamedMutex::Create("MutexZimo0");
    ASSERT_TRUE(mutex.ok());
    user().CommandMutex = std::move(mutex.value());
    user().Transport = &handle_;
  }
  void TearDown() override {
    peer_.reset();
    user().Transport = nullptr;
    App().End();
  }

  SharedDeviceBlock& block() { return table_->Devices[0]; }
  DeviceUserHandle& user() { return *App().User(0); }
  void Answer(std::function<std::string(const std::string&)> answer) {
    peer_ = std::make_unique<RawPeer>(pty_.master.get(), std::move(answer));
  }
  void CardSends(const std::string& bytes) {
    ASSERT_EQ(::write(pty_.master.get(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    // The bytes are in the port's queue before the reader looks.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ZimoSERReadReady(0) == 0 && !bytes.empty() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::string CardReceivedNow() {
    std::string got;
    char c;
    pollfd p{pty_.master.get(), POLLIN, 0};
    while (::poll(&p, 1, 20) > 0 && ::read(pty_.master.get(), &c, 1) == 1) got += c;
    return got;
  }

  zimo::testing::TempHome home_;
  std::unique_ptr<SharedDeviceTable> table_;
  platform::PtyPair pty_;
  LocationHandle handle_;
  std::unique_ptr<RawPeer> peer_;
};

TEST_F(SerialTransportTest, LineReaderDecidesTheStatusOfEachFraming) {
  struct Case {
    const char* what;
    std::string bytes;
    std::uint32_t max;
    std::uint32_t status;
    std::uint32_t count;
    std::string text;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"line", "1234\r", 100, kStatusLine, 5, "1234\r", 0},
      {"end of response", "1234\x06", 100, kStatusAck, 4, "1234", 0},
      {"card error", "\aERR003\r", 100, kStatusCardError, 8, "\aERR003\r", 3},
      {"error without number", "\a\r", 100, kStatusCardError, 2, "\a\r", 0},
      {"error number in a short text", "\a7\r", 100, kStatusCardError, 3, "\a7\r", 0},
      {"unsolicited", "\x02MOTOR 3 HOMED\r", 100, kStatusUnsolicited, 0, "", 0},
      {"buffer filled", "0123456789", 10, kStatusFailure, 10, "0123456789", 28},
      {"silence", "", 100, kStatusTimeout, 0, "", 1008},
      {"silence after part of a line", "12", 100, kStatusTimeout, 2, "12", 1008},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CardSends(c.bytes);
    char buffer[112];
    std::memset(buffer, '#', sizeof buffer);
    std::uint32_t count = 99;
    EXPECT_EQ(ZimoSERGetLineA(0, buffer, c.max, &count), c.status);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(std::string(buffer), c.text);
    EXPECT_EQ(buffer[c.max + 1], '#');  // nothing past the terminator's place
    EXPECT_EQ(block().SerialLastError, c.error);
    ASSERT_EQ(ZimoSERReadReady(0), 0u);
  }
  char message[100];
  ASSERT_EQ(App().rings().GetUSResponse(0, message, 99), 1);
  EXPECT_STREQ(message, "MOTOR 3 HOMED");
}

TEST_F(SerialTransportTest, ResponseExchangeCollectsUntilTheEndOfTheResponse) {
  Answer([](const std::string& line) -> std::string {
    if (line == "TWO") return "A\rBB\r\x06";
    if (line == "NOCR") return "1234\x06";
    if (line == "NOISY") return "\x02MSG\r7\r\x06";
    if (line == "BAD") return "\aERR020\r";
    return "";  // silence
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "TWO"), kStatusAck | 5u);
  EXPECT_STREQ(buffer, "A\rBB\r");
  EXPECT_EQ(block().SerialLastError, 0u);

  // A reply ending in ACK without a CR-ended line: the digits are counted,
  // and the error points at checksummed mode.
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "NOCR"), kStatusAck | 4u);
  EXPECT_STREQ(buffer, "1234");
  EXPECT_EQ(block().SerialLastError, 82u);

  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "NOISY"), kStatusAck | 2u);
  EXPECT_STREQ(buffer, "7\r");
  char message[100];
  ASSERT_EQ(App().rings().GetUSResponse(0, message, 99), 1);
  EXPECT_STREQ(message, "MSG");

  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "BAD"), kStatusCardError | 8u);
  EXPECT_STREQ(buffer, "\aERR020\r");
  EXPECT_EQ(block().SerialLastError, 20u);

  // Silence: time-out, the card gets its serial settings back, and other
  // processes learn of it from the change ring.
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "MUTE"), kStatusTimeout);
  EXPECT_EQ(block().SerialLastError, 1008u);
  EXPECT_TRUE(peer_->WaitFor("MUTE\rI3=2 I6=1\r"));
  char change[100];
  ASSERT_EQ(App().rings().ChangeGet(0, change, 99), 1);
  EXPECT_STREQ(change, "I3=2 I6=1");

  // The W form takes the same path and returns the count alone.
  char16_t wide[100];
  EXPECT_EQ(ZimoSERGetResponseW(0, wide, 100, u"TWO"), 5u);
  EXPECT_EQ(std::u16string(wide), u"A\rBB\r");
  EXPECT_EQ(ZimoSERGetResponseW(0, wide, 100, u"MUTE"), 0u);
}

// The card's answer may come in pieces, with pauses shorter than the
// character time-out between them: the exchange still reads one response.
TEST_F(SerialTransportTest, ReplyInSeveralWritesIsOneResponse) {
  const int far = pty_.master.get();
  const std::string long_reply =
      std::string(100, 'a') + "\r" + std::string(100, 'b') + "\r" + std::string(100, 'c') + "\r";
  Answer([far, long_reply](const std::string& line) -> std::string {
    if (line == "LONG") return long_reply + "\x06";  // more than one read takes
    if (line != "SPLIT") return "";
    for (const char* piece : {"12", "34\r5", "6\r"}) {
      (void)!::write(far, piece, std::strlen(piece));
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return "\x06";
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "SPLIT"), kStatusAck | 8u);
  EXPECT_STREQ(buffer, "1234\r56\r");
  EXPECT_EQ(block().SerialLastError, 0u);
  EXPECT_EQ(ZimoSERReadReady(0), 0u);

  char long_buffer[400];
  EXPECT_EQ(ZimoSERGetResponseA(0, long_buffer, 399, "LONG"), kStatusAck | 303u);
  EXPECT_EQ(std::string(long_buffer), long_reply);
  EXPECT_EQ(ZimoSERReadReady(0), 0u);
}

// What the card sends after the end of a response (here an unsolicited line
// and a second response, in the same write as the first) is not the
// exchange's: it is neither taken into the answer nor dropped, but is
// there for the next reader, also one that reads through another copy of
// the port (as another process does).
TEST_F(SerialTransportTest, WhatFollowsTheEndOfAnExchangeStaysForTheNextReader) {
  Answer([](const std::string& line) -> std::string {
    if (line == "FIRST")
      return "1\r\x06\x02"
             "EVENT\r9\r\x06";
    if (line == "THIRD") return "3\r\x06";
    return "";
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "FIRST"), kStatusAck | 2u);
  EXPECT_STREQ(buffer, "1\r");
  EXPECT_EQ(App().rings().USReadReady(0), 0);  // not read yet
  EXPECT_EQ(ZimoSERReadReady(0), 1u);

  block().SerialOwnerProcessId = static_cast<std::uint32_t>(::getpid());
  block().SerialOwnerHandle = static_cast<std::uint32_t>(handle_.serial.fd());
  block().TransportUserCount = 1;
  LocationHandle other;
  ASSERT_EQ(SerOpen(0, other), 0u);
  user().Transport = &other;
  std::uint32_t count = 0;
  EXPECT_EQ(ZimoSERGetBufferA(0, buffer, 99, &count), kStatusAck);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(buffer, "9\r");
  char message[100];
  ASSERT_EQ(App().rings().GetUSResponse(0, message, 99), 1);
  EXPECT_STREQ(message, "EVENT");
  EXPECT_EQ(ZimoSERReadReady(0), 0u);

  // Nothing was held back from the card's next answer either, and no flush
  // was needed: only the command went out.
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "THIRD"), kStatusAck | 2u);
  EXPECT_STREQ(buffer, "3\r");
  EXPECT_EQ(peer_->received(), "FIRST\rTHIRD\r");
  user().Transport = &handle_;
  SerClose(0, other);
}

// Held input is input: a flush drops it with the port's queue (and sends
// Ctrl-X, as for any waiting input), and the character reader of the
// checksummed mode takes it first.
TEST_F(SerialTransportTest, HeldInputIsFlushedAndReadLikeQueuedInput) {
  Answer([](const std::string& line) -> std::string {
    if (line == "A")
      return "1\r\x06"
             "ab";
    return "";
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "A"), kStatusAck | 2u);
  char c = 0;
  ASSERT_EQ(SerReadCharTimed(0, &c), 1u);
  EXPECT_EQ(c, 'a');
  EXPECT_EQ(ZimoSERReadReady(0), 1u);
  ZimoSERFlush(0);
  EXPECT_EQ(ZimoSERReadReady(0), 0u);
  EXPECT_TRUE(peer_->WaitFor("A\r\x18"));
  EXPECT_EQ(SerReadCharTimed(0, &c), kStatusTimeout);
}

// A card busy past the time-out answers "P5" late, before it reads what
// came after: that answer must not be taken for the answer to "P6", and the
// line must be cleared once only.
TEST_F(SerialTransportTest, LateAnswerIsNeverTakenForTheNextCommands) {
  Answer([](const std::string& line) -> std::string {
    if (line == "P5") {
      std::this_thread::sleep_for(std::chrono::milliseconds(kCharTimeoutMs + 150));
      return "5\r\x06";
    }
    if (line == "P6") return "6\r\x06";
    if (line == "I3=2 I6=1") return "\x06";
    return "";
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "P5"), kStatusTimeout);
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "P6"), kStatusAck | 2u);
  EXPECT_STREQ(buffer, "6\r");
  EXPECT_EQ(block().SerialLastError, 0u);
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 99, "P6"), kStatusAck | 2u);
  EXPECT_STREQ(buffer, "6\r");
  EXPECT_EQ(peer_->received(), "P5\rI3=2 I6=1\r\x18P6\rP6\r");
}

// A port opens with whatever line settings it had: here a fresh terminal's
// (echo, line editing, CR to NL, XON/XOFF). The library's own set-up must
// make every byte pass unchanged both ways, the checksum bytes included.
TEST_F(SerialTransportTest, EveryBytePassesUnchangedOverACookedLine) {
  handle_.serial.Close();
  // The set-up opened the port already: cook the line again.
  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.slave_hold.get(), &t), 0);
  t.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
  t.c_iflag |= ICRNL | IXON;
  t.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(::tcsetattr(pty_.slave_hold.get(), TCSANOW, &t), 0);
  ASSERT_EQ(SerOpen(0, handle_), 0u);
  ASSERT_EQ(SetupSerialPort(0, block(), handle_.serial), 1);

  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (char c : all) ASSERT_EQ(SerSendChar(0, c), 1u);
  std::string got;
  char c;
  pollfd p{pty_.master.get(), POLLIN, 0};
  while (got.size() < all.size() && ::poll(&p, 1, 2000) > 0 &&
         ::read(pty_.master.get(), &c, 1) == 1) {
    got += c;
  }
  EXPECT_EQ(got, all);

  ASSERT_EQ(::write(pty_.master.get(), all.data(), all.size()), static_cast<ssize_t>(all.size()));
  got.clear();
  while (got.size() < all.size() && SerReadCharTimed(0, &c) == 1) got += c;
  EXPECT_EQ(got, all);
  EXPECT_EQ(CardReceivedNow(), "");  // nothing was echoed back to the card
}

TEST_F(SerialTransportTest, ControlResponseSendsTheCharacterAsALine) {
  Answer([](const std::string& line) -> std::string {
    return line == "\x07" ? std::string(
                                "\x02"
                                "EVENT\r012345678901\r\x06")
                          : "";
  });
  char buffer[100];
  EXPECT_EQ(ZimoSERGetControlResponseA(0, buffer, 99, 7), kStatusAck | 13u);
  EXPECT_STREQ(buffer, "012345678901\r");
  EXPECT_TRUE(peer_->WaitFor("\x07\r"));
}

TEST_F(SerialTransportTest, FlushDrainsUpToTheEchoAndSendsNothingWhenIdle) {
  Answer([](const std::string&) { return std::string(); });
  ZimoSERFlush(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(peer_->received(), "");

  // With output waiting, Ctrl-X goes out and the flush reads up to its
  // echo. The flush time is generous so that a slow peer still answers
  // within it; the flush ends at the echo, not at the time.
  peer_.reset();
  block().SerFlushTimeout = 5000;
  CardSends("stale output\r\x06");
  Answer([](const std::string&) { return std::string(); });
  ZimoSERFlush(0);
  ASSERT_TRUE(peer_->WaitFor("\x18"));
  EXPECT_EQ(peer_->received(), "\x18");
  EXPECT_EQ(ZimoSERReadReady(0), 0u);
}

TEST_F(SerialTransportTest, SendLineBoundsAndWideText) {
  EXPECT_EQ(ZimoSERSendLineA(0, std::string(298, 'P').c_str()), 299u);
  EXPECT_EQ(CardReceivedNow(), std::string(298, 'P') + "\r");
  EXPECT_EQ(ZimoSERSendLineA(0, std::string(299, 'P').c_str()), kStatusFailure);
  EXPECT_EQ(block().SerialLastError, 28u);
  EXPECT_EQ(CardReceivedNow(), "");

  // The W form sends exactly the bytes of the A form in the ANSI code page.
  EXPECT_EQ(ZimoSERSendLineW(0, u"P1=5 \u00e9\u20ac"), 8u);
  EXPECT_EQ(CardReceivedNow(), "P1=5 \xe9\x80\r");
  EXPECT_EQ(ZimoSERSendCharA(0, 'x'), 1u);
  EXPECT_EQ(CardReceivedNow(), "x");
}

TEST_F(SerialTransportTest, ClosedPortFailsEveryOperation) {
  user().Transport = nullptr;
  char buffer[16] = "keep";
  std::uint32_t count = 7;
  EXPECT_EQ(ZimoSERGetLineA(0, buffer, 15, &count), kStatusFailure);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(block().SerialLastError, 1011u);
  block().SerialLastError = 0;
  EXPECT_EQ(ZimoSERSendLineA(0, "I10"), 0u);
  EXPECT_EQ(block().SerialLastError, 1011u);
  EXPECT_EQ(ZimoSERSendCharA(0, 'x'), 0u);
  EXPECT_EQ(ZimoSERReadReady(0), 0u);
  EXPECT_EQ(ZimoSERGetResponseA(0, buffer, 15, "I10"), kStatusFailure);
  // Device numbers without a record are refused without touching anything.
  EXPECT_EQ(ZimoSERGetLineA(8, buffer, 15, &count), kStatusFailure);
  EXPECT_EQ(ZimoSERGetResponseA(12, buffer, 15, "I10"), kStatusFailure);
  EXPECT_EQ(ZimoSERGetBaudrate(9), 0u);
}

TEST_F(SerialTransportTest, LaterOpenersShareTheOwnersPort) {
  // This process owns the port: a second opener takes a copy of it.
  block().SerialOwnerProcessId = static_cast<std::uint32_t>(::getpid());
  block().SerialOwnerHandle = static_cast<std::uint32_t>(handle_.serial.fd());
  block().TransportUserCount = 1;
  LocationHandle second;
  ASSERT_EQ(SerOpen(0, second), 0u);
  EXPECT_NE(second.serial.fd(), handle_.serial.fd());
  EXPECT_EQ(block().TransportUserCount, 2u);
  EXPECT_EQ(block().SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
  const char x = 'x';
  ASSERT_EQ(::write(second.serial.fd(), &x, 1), 1);
  EXPECT_EQ(CardReceivedNow(), "x");  // the copy is the same line

  SerClose(0, second);
  EXPECT_EQ(block().TransportUserCount, 1u);
  EXPECT_EQ(block().SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
  SerClose(0, handle_);
  EXPECT_EQ(block().TransportUserCount, 0u);
  EXPECT_EQ(block().SerialOwnerProcessId, kNoOwner);
  EXPECT_EQ(block().SerialOwnerHandle, kNoOwner);
}

TEST_F(SerialTransportTest, LateOpenerWhoseOwnerHasGoneTakesThePortOver) {
  auto gone = platform::Spawn({"true"});
  ASSERT_TRUE(gone.ok());
  const pid_t dead = gone->pid();
  ASSERT_TRUE(gone->Wait().ok());
  const int other_file = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other_file, 0);
  struct Owner {
    const char* what;
    std::uint32_t pid;
    std::uint32_t handle;
  };
  const Owner owners[] = {
      {"owner process ended", static_cast<std::uint32_t>(dead), 5},
      {"owner's descriptor now names another file", static_cast<std::uint32_t>(::getpid()),
       static_cast<std::uint32_t>(other_file)},
  };
  for (const Owner& o : owners) {
    SCOPED_TRACE(o.what);
    block().SerialOwnerProcessId = o.pid;
    block().SerialOwnerHandle = o.handle;
    block().TransportUserCount = 1;
    LocationHandle late;
    ASSERT_EQ(SerOpen(0, late), 0u);
    EXPECT_EQ(block().SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(block().SerialOwnerHandle, static_cast<std::uint32_t>(late.serial.fd()));
    EXPECT_EQ(block().TransportUserCount, 2u);
    const char x = 'y';
    ASSERT_EQ(::write(late.serial.fd(), &x, 1), 1);
    EXPECT_EQ(CardReceivedNow(), "y");
    SerClose(0, late);
  }
  ::close(other_file);
}

}  // namespace
}  // namespace zimo::corvan
