// Checksummed serial mode over a pseudo-terminal: the sum exchange with the
// simulated card, and a scripted card in the test for what the simulated one
// does not do wrong on its own: bad transmit sums (the "Bad Checksum"
// question), a bad line sum, a bad acknowledge, responses too long for the
// buffer.
#include "link/serial_checksum.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "cardsim/script.h"
#include "corvan/command_api.h"
#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/serial_transport.h"
#include "platform/file_mapping.h"
#include "platform/message.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

constexpr int kDevice = 0;
constexpr int kComPort = 3;
constexpr char kAck = 0x06;
constexpr char kCr = 0x0D;
constexpr char kCtrlN = 0x0E;
constexpr char kCtrlX = 0x18;

std::uint8_t Sum(const std::string& text) {
  return CardChecksum(text.data(), static_cast<std::uint32_t>(text.size()));
}

// Device 0 as a serial device on COM3, open in this process with its
// command lock, as device open leaves it.
class SerialDevice {
 public:
  explicit SerialDevice(const std::filesystem::path& port) {
    auto created = platform::FileMapping::Create(kSharedTableName, kSharedTableSize);
    EXPECT_TRUE(created.ok()) << created.status().ToString();
    if (!created.ok()) return;
    mapping_ = std::move(created.value());
    table_ = SharedTableAt(mapping_.data());
    InitializeTableHeader(*table_, 0);
    (void)InitializeDeviceSlot(*table_, kDevice, 0, 0);
    App().End();
    App().Start();
    EXPECT_TRUE(platform::RegisterComPort(kComPort, port).ok());
    EXPECT_EQ(RegisterDevice(kDevice, kLocationSerial, kComPort, table_), 1);
    block().SerCharTimeout = 300;
    block().SerFlushTimeout = 30;
    handle_.location = kLocationSerial;
    handle_.enumeration = kComPort;
    handle_.users = 1;
    handle_.opener_device = kDevice;
    EXPECT_EQ(SerOpen(kDevice, handle_), 0u);
    DeviceUserHandle& user = *App().User(kDevice);
    user.Transport = &handle_;
    auto mutex = platform::NamedMutex::Create("MutexZimo0");
    EXPECT_TRUE(mutex.ok());
    if (mutex.ok()) user.CommandMutex = std::move(mutex.value());
  }
  ~SerialDevice() {
    DeviceUserHandle& user = *App().User(kDevice);
    SerClose(kDevice, handle_);
    user.Transport = nullptr;
    user.CommandMutex = platform::NamedMutex();
    user.TransportState.reset();
    App().End();
  }

  SharedDeviceBlock& block() { return table_->Devices[kDevice]; }
  DeviceUserHandle& user() { return *App().User(kDevice); }

 private:
  platform::FileMapping mapping_;
  SharedDeviceTable* table_ = nullptr;
  LocationHandle handle_;
};

// --- With the simulated card ------------------------------------------------

class ChecksumCardTest : public ::testing::Test {
 protected:
  ChecksumCardTest() {
    auto started = cardsim::PtyAttachment::Start(card_);
    EXPECT_TRUE(started.ok()) << started.status().ToString();
    if (started.ok()) pty_ = std::move(started.value());
    device_ = std::make_unique<SerialDevice>(pty_->slave_path());
  }
  ~ChecksumCardTest() override {
    device_.reset();
    pty_->Stop();
  }

  zimo::testing::TempHome home_;
  cardsim::Card card_{cardsim::CardModel::Older()};
  std::unique_ptr<cardsim::PtyAttachment> pty_;
  std::unique_ptr<SerialDevice> device_;
};

TEST_F(ChecksumCardTest, SwitchedOnEveryExchangeIsCheckedAndSwitchedOffItIsPlainAgain) {
  ASSERT_EQ(ZimoSERDoChecksums(kDevice, 1), 1);
  EXPECT_TRUE(card_.ChecksumMode());
  EXPECT_TRUE(ChecksumsOn(kDevice));
  EXPECT_EQ(device_->block().SerialChecksumMode, 1u);  // the card's mode, for every process
  char record[400];
  ASSERT_EQ(App().rings().ChangeGet(kDevice, record, 399), 1);
  EXPECT_STREQ(record, "CLOSE I3=2 I6=1 I4=1");

  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "I10"), 0x80000008u);
  EXPECT_STREQ(buffer, "3713707\r");
  EXPECT_EQ(SerialStateOf(device_->user()).LastChecksum, Sum("I10"));

  // An empty response counts the characters stored: none.
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1=5"), 0x80000000u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0x80000002u);
  EXPECT_STREQ(buffer, "5\r");
  EXPECT_EQ(SerialStateOf(device_->user()).LastChecksum, 0x81u);

  // A control character goes alone and is what the ACK is followed by.
  const std::uint32_t status = ZimoSERCheckResponseA(kDevice, buffer, 100, "\x07");
  EXPECT_EQ(status, 0x8000000Du);
  EXPECT_EQ(std::strlen(buffer), 13u);
  EXPECT_EQ(SerialStateOf(device_->user()).LastChecksum, 7u);

  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "NONSENSE") & kStatusMask, 0xE0000000u);
  EXPECT_EQ(device_->block().SerialLastError, 3u);

  // An empty command sends nothing and answers 1, with the caller's buffer
  // emptied and the last error cleared.
  card_.script().ClearLog();
  std::strcpy(buffer, "stale");
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, ""), 1u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(device_->block().SerialLastError, 0u);
  EXPECT_TRUE(card_.script().received().empty());

  // The dispatcher's channel: a good line is a plain CR-ended line.
  EXPECT_EQ(ChecksumSerialChannel().SendLine(kDevice, "I10"), 1u);
  std::uint32_t count = 0;
  EXPECT_EQ(ChecksumSerialChannel().GetLine(kDevice, buffer, 100, &count), kStatusLine);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(ChecksumSerialChannel().GetLine(kDevice, buffer, 100, &count), kStatusAck);

  ASSERT_EQ(ZimoSERDoChecksums(kDevice, 0), 1);
  EXPECT_FALSE(card_.ChecksumMode());
  EXPECT_FALSE(ChecksumsOn(kDevice));
  EXPECT_EQ(SerGetResponse(kDevice, buffer, 100, "I10"), 0x80000008u);
  EXPECT_STREQ(buffer, "3713707\r");
}

// --- With a scripted card -----------------------------------------------------

// The card's side of checksummed mode, with faults on request: characters
// are summed until Ctrl-N, which answers the sum; CR runs the line (every
// line answers "5"), each response line is followed by its sum, the ACK by
// the command's sum; Ctrl-X drops the line and is echoed.
class ScriptedCard {
 public:
  ScriptedCard() {
    auto pair = platform::OpenPtyPair();
    EXPECT_TRUE(pair.ok());
    if (!pair.ok()) return;
    pair_ = std::move(pair.value());
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedCard() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  const std::filesystem::path& port() const { return pair_.slave_path; }

  // Faults, each for the next n times.
  std::atomic<int> bad_transmit_sums{0};
  std::atomic<int> bad_line_sums{0};
  std::atomic<int> bad_acknowledges{0};
  // The response of every line.
  std::string reply_lines = "5\r";

  std::string received() {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_;
  }
  int Count(char c) {
    const std::string all = received();
    return static_cast<int>(std::count(all.begin(), all.end(), c));
  }

 private:
  void Send(const std::string& bytes) {
    (void)::write(pair_.master.get(), bytes.data(), bytes.size());
  }

  void Take(char c) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      received_.push_back(c);
    }
    if (c == kCtrlX) {
      line_.clear();
      Send(std::string(1, kCtrlX));
    } else if (c == kCtrlN) {
      std::uint8_t sum = Sum(line_);
      if (bad_transmit_sums > 0) {
        --bad_transmit_sums;
        ++sum;
      }
      Send(std::string(1, static_cast<char>(sum)));
    } else if (c == kCr) {
      const std::uint8_t command_sum = Sum(line_);
      line_.clear();
      std::string out;
      std::size_t start = 0;
      while (start < reply_lines.size()) {
        const std::size_t end = reply_lines.find(kCr, start);
        const std::string line = reply_lines.substr(start, end - start + 1);
        std::uint8_t sum = Sum(line);
        if (bad_line_sums > 0) {
          --bad_line_sums;
          ++sum;
        }
        out += line + static_cast<char>(sum);
        start = end + 1;
      }
      std::uint8_t ack_sum = command_sum;
      if (bad_acknowledges > 0) {
        --bad_acknowledges;
        ++ack_sum;
      }
      out += std::string(1, kAck) + static_cast<char>(ack_sum);
      Send(out);
    } else {
      line_.push_back(c);
    }
  }

  void Run() {
    while (!stop_) {
      pollfd p{pair_.master.get(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char bytes[256];
      const ssize_t n = ::read(pair_.master.get(), bytes, sizeof bytes);
      for (ssize_t i = 0; i < n; ++i) Take(bytes[i]);
    }
  }

  platform::PtyPair pair_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
  std::string line_;
  std::thread thread_;
};

class ChecksumFaultTest : public ::testing::Test {
 protected:
  ChecksumFaultTest() {
    device_ = std::make_unique<SerialDevice>(card_.port());
    device_->block().SerialChecksumMode = 1;
  }
  ~ChecksumFaultTest() override { device_.reset(); }

  zimo::testing::TempHome home_;
  ScriptedCard card_;
  std::unique_ptr<SerialDevice> device_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_{boxes_};
};

TEST_F(ChecksumFaultTest, SumExchangeIsTextCtrlNThenCr) {
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0x80000002u);
  EXPECT_STREQ(buffer, "5\r");
  const std::string expected = std::string("P1") + kCtrlN + kCr;
  EXPECT_NE(card_.received().find(expected), std::string::npos);
}

TEST_F(ChecksumFaultTest, SixBadTransmitSumsAskAndCancelGivesUp) {
  card_.bad_transmit_sums = 1000;
  boxes_.QueueAnswer(platform::kIdCancel);
  char buffer[101];
  const std::uint32_t result = ZimoSERCheckResponseA(kDevice, buffer, 100, "P1");
  EXPECT_EQ(result, 0xD0000000u);
  EXPECT_EQ(device_->block().SerialLastError, 80u);
  ASSERT_EQ(boxes_.count(), 1u);  // the user's cancel ends the exchange
  EXPECT_EQ(boxes_.last()->caption, "Bad Checksum");
  EXPECT_EQ(boxes_.last()->text,
            "Checksum communications error, Bad Data on Transmit to ZIMO. Retried 5 times "
            "already! Do you want to retry again?");
  EXPECT_EQ(boxes_.last()->flags,
            platform::kMbOkCancel | platform::kMbDefButton2 | platform::kMbTopmost);
  EXPECT_EQ(card_.Count(kCtrlN), 6);
  EXPECT_EQ(card_.Count(kCr), 0);  // the card never ran the line
}

// Nobody at the screen: the box's unattended answer ends the exchange
// rather than retrying for ever under the device lock.
TEST_F(ChecksumFaultTest, UnansweredBoxGivesUp) {
  card_.bad_transmit_sums = 1000;
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0xD0000000u);
  EXPECT_EQ(device_->block().SerialLastError, 80u);
  EXPECT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(card_.Count(kCtrlN), 6);
}

TEST_F(ChecksumFaultTest, OkGivesSixMoreAttempts) {
  card_.bad_transmit_sums = 7;
  boxes_.QueueAnswer(platform::kIdOk);
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0x80000002u);
  EXPECT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(card_.Count(kCtrlN), 8);
  EXPECT_EQ(card_.Count(kCr), 1);
}

TEST_F(ChecksumFaultTest, BadLineSumIsRetriedThenSucceeds) {
  card_.bad_line_sums = 1;
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0x80000002u);
  EXPECT_STREQ(buffer, "5\r");
  EXPECT_EQ(card_.Count(kCr), 2);  // the command went again
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(ChecksumFaultTest, BadAcknowledgeEveryTimeFailsAfterFiveAttempts) {
  card_.bad_acknowledges = 1000;
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "P1"), 0xD0000000u);
  EXPECT_EQ(device_->block().SerialLastError, 76u);
  EXPECT_EQ(card_.Count(kCr), 5);
}

TEST_F(ChecksumFaultTest, ResponsesThatFillTheBufferAreWholeAndLongerOnesCut) {
  card_.reply_lines = "12\r34\r";
  char buffer[7];
  // Exactly filled: 6 characters, a whole response.
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 6, "P1"), 0x80000006u);
  EXPECT_STREQ(buffer, "12\r34\r");
  EXPECT_EQ(device_->block().SerialLastError, 0u);
  // Longer than the buffer: cut, and the command runs once.
  char small[5];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, small, 4, "P2"), 0xF0000004u);
  EXPECT_EQ(device_->block().SerialLastError, 54u);
  EXPECT_EQ(card_.Count(kCr), 2);
  EXPECT_EQ(small[4], 0);
}

TEST_F(ChecksumFaultTest, LineReaderChecksEachLineAndTheAcknowledge) {
  SerialStateOf(device_->user()).LastChecksum = Sum("P1");
  ASSERT_EQ(ZimoSERCheckSendLineA(kDevice, "P1"), 1u);
  char buffer[101];
  std::uint32_t count = 0;
  // "5" CR and its sum 0x35 + 0x0D.
  EXPECT_EQ(ZimoSERCheckGetLineA(kDevice, buffer, 100, &count), 1u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ZimoSERCheckGetLineA(kDevice, buffer, 100, &count), 0x80000000u);
}

TEST_F(ChecksumFaultTest, LinesThatCannotBeCheckedAreRefused) {
  // Longer than what is sent: refused, not summed and cut.
  const std::string long_line(257, 'A');
  EXPECT_EQ(ZimoSERCheckSendLineA(kDevice, long_line.c_str()), 0u);
  EXPECT_EQ(device_->block().SerialLastError, 28u);
  EXPECT_EQ(card_.received(), "");
  // A byte above 0x7F is text, not a control character: it is summed.
  char buffer[101];
  EXPECT_EQ(ZimoSERCheckResponseA(kDevice, buffer, 100, "\xC1P"), 0x80000002u);
  EXPECT_EQ(SerialStateOf(device_->user()).LastChecksum, Sum("\xC1P"));
  EXPECT_EQ(card_.Count(kCtrlN), 1);
}

TEST(ChecksumAllWentWellTest, ComparesTheByteAfterTheAckWithTheSum) {
  zimo::testing::TempHome home;
  ScriptedCard card;
  SerialDevice device(card.port());
  struct Case {
    std::uint32_t status;
    char byte;
    std::uint8_t checksum;
    std::uint32_t result;
    std::uint32_t error;
  };
  const Case cases[] = {
      {0xC0000000, 0x11, 0x22, 0xC0000000, 0},  // time-out: unchanged
      {0xE0000007, 0x11, 0x22, 0xE0000007, 0},  // card error: unchanged
      {0xF0000000, 0x11, 0x22, 0xF0000000, 0},  // failure: unchanged
      {0x80000003, 0x22, 0x22, 0x80000003, 0},  // the sum came back
      {0x80000003, 0x21, 0x22, 0, 76},          // another byte came back
      {0x80000003, 0x01, 0x00, 0, 76},
      {0x00000002, 0x11, 0x22, 0x00000002, 0},  // a line: nothing to check
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    device.block().SerialLastError = 0;
    char buffer[2] = {c.byte, 0};
    EXPECT_EQ(ZimoSerCheckAllWentWell(kDevice, c.status, buffer, c.checksum), c.result);
    EXPECT_EQ(device.block().SerialLastError, c.error);
    if ((c.status & kStatusMask) == kStatusAck) {
      EXPECT_EQ(buffer[0], 0);
    }
  }
}

}  // namespace
}  // namespace zimo::corvan
