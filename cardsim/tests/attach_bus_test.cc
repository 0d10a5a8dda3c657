// The card as bus hardware, driven the way a driver drives it: characters
// through port registers 2 and 7 with 4-microsecond stalls between polls,
// command lines through the DPR mailbox of both layouts with 5-microsecond
// stalls, interrupt sources through registers 8 and 10. Time is simulated,
// so every time-out here comes out the same on every run.
#include "cardsim/attach_bus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kPolls = 5000;  // a driver's poll limit

// The port side of a driver.
class PortDriver {
 public:
  explicit PortDriver(BusAttachment& bus) : bus_(bus) {}

  bool WriteChar(char c) {
    for (int i = 0; i < kPolls; ++i) {
      if (bus_.ReadPort(2) & 0x02) {
        bus_.WritePort(7, static_cast<uint8_t>(c));
        return true;
      }
      bus_.Stall(microseconds(4));
    }
    return false;
  }
  bool WriteLine(const std::string& text) {
    for (char c : text) {
      if (!WriteChar(c)) return false;
    }
    return WriteChar('\r');
  }

  enum class End { kCr, kAck, kTimeout };
  struct Line {
    std::string text;
    End end;
  };
  // One line: up to CR (kept), ACK (not kept), or 5000 empty polls.
  Line ReadLine() {
    Line line{"", End::kTimeout};
    for (int idle = 0; idle < kPolls;) {
      if (!(bus_.ReadPort(2) & 0x01)) {
        bus_.Stall(microseconds(4));
        ++idle;
        continue;
      }
      idle = 0;
      const char c = static_cast<char>(bus_.ReadPort(7));
      if (c == '\x06') {
        line.end = End::kAck;
        return line;
      }
      line.text += c;
      if (c == '\r') {
        line.end = End::kCr;
        return line;
      }
    }
    return line;
  }

 private:
  BusAttachment& bus_;
};

TEST(BusPortTest, CommandLinesRepliesAndFlush) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  PortDriver driver(bus);
  ASSERT_TRUE(driver.WriteLine("I10"));
  PortDriver::Line line = driver.ReadLine();
  EXPECT_EQ(line.text, "3713707\r");
  EXPECT_EQ(line.end, PortDriver::End::kCr);
  line = driver.ReadLine();
  EXPECT_EQ(line.text, "");
  EXPECT_EQ(line.end, PortDriver::End::kAck);

  ASSERT_TRUE(driver.WriteLine("NOSUCHCOMMAND"));
  EXPECT_EQ(driver.ReadLine().text, "\aERR003\r");

  // A flush drops the output still waiting (more than a driver drains) and
  // answers with the echoed CTRL-X.
  ASSERT_TRUE(driver.WriteLine("P1..300"));
  ASSERT_TRUE(driver.WriteChar('\x18'));
  std::string drained;
  while (bus.ReadPort(2) & 0x01) drained += static_cast<char>(bus.ReadPort(7));
  EXPECT_EQ(drained, "\x18");
}

TEST(BusPortTest, SilenceAbsenceAndStuckBits) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  PortDriver driver(bus);

  card.script().SetMuted(true);
  ASSERT_TRUE(driver.WriteLine("I10"));
  EXPECT_EQ(driver.ReadLine().end, PortDriver::End::kTimeout);
  card.script().SetMuted(false);

  // A card that never takes a character: the write-ready bit is stuck clear.
  bus.StickPortBits(2, 0x02, 0x00);
  EXPECT_FALSE(driver.WriteChar('I'));
  bus.StickPortBits(2, 0x00, 0x00);
  EXPECT_TRUE(driver.WriteChar('\x18'));

  bus.SetAbsent(true);
  for (unsigned offset = 0; offset <= 16; ++offset) EXPECT_EQ(bus.ReadPort(offset), 0xFF);
  bus.SetAbsent(false);
  EXPECT_EQ(bus.ReadPort(17), 0xFF);  // past the port
}

TEST(BusPortTest, PlainRegistersKeepWhatIsWritten) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  for (unsigned offset : {0u, 5u, 6u, 11u, 16u}) {
    bus.WritePort(offset, static_cast<uint8_t>(0x50 + offset));
    EXPECT_EQ(bus.ReadPort(offset), 0x50 + offset) << offset;
  }
  bus.WritePort(2, 0);  // the status register is the card's
  EXPECT_EQ(bus.ReadPort(2), 0x02);
}

TEST(BusPortTest, ReplyDelayIsSimulatedTime) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  PortDriver driver(bus);
  // 30 ms is more than a driver waits (5000 polls of 4 us and their accesses).
  card.script().SetReplyDelay(milliseconds(30), 1);
  const microseconds start = bus.now();
  ASSERT_TRUE(driver.WriteLine("I10"));
  EXPECT_EQ(driver.ReadLine().end, PortDriver::End::kTimeout);
  EXPECT_LT(bus.now() - start, milliseconds(30));
  EXPECT_EQ(driver.ReadLine().text, "3713707\r");
  EXPECT_GE(bus.now() - start, milliseconds(30));
}

TEST(BusPortTest, FirmwareWordsInBootstrapMode) {
  CardModel model = CardModel::Older();
  model.bootstrap = true;
  Card card(model);
  BusAttachment bus(card);
  PortDriver driver(bus);
  ASSERT_TRUE(driver.WriteLine("?"));
  EXPECT_NE(driver.ReadLine().text.find("BOOTSTRAP"), std::string::npos);
  driver.ReadLine();  // its ACK

  ASSERT_TRUE(driver.WriteChar('\x0F'));  // CTRL-O: an image follows
  for (int word = 0; word < 100; ++word) {
    ASSERT_TRUE(bus.ReadPort(2) & 0x02);
    bus.WritePort(5, static_cast<uint8_t>(word));  // low
    bus.WritePort(6, 0x12);                        // middle
    bus.WritePort(7, 0x00);                        // high: completes the word
  }
  EXPECT_EQ(card.firmware_bytes(), 300u);
  EXPECT_TRUE(card.InBootstrap());
  bus.WritePort(5, 0);
  bus.WritePort(6, 0);
  ASSERT_TRUE(driver.WriteChar('\x12'));  // CTRL-R starts the firmware
  EXPECT_FALSE(card.InBootstrap());
  ASSERT_TRUE(driver.WriteLine("I10"));
  EXPECT_EQ(driver.ReadLine().text, "3713707\r");
}

TEST(BusInterruptTest, EnabledSourcesRaiseTheLineOnce) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  int raised = 0;
  bus.SetInterruptHandler([&] {
    ++raised;
    EXPECT_NE(bus.ReadPort(8), 0);  // the handler may read the card
  });
  bus.WritePort(10, 0x05);  // in-position and following error
  bus.RaiseInterrupt(0x02);
  EXPECT_FALSE(bus.InterruptAsserted());
  EXPECT_EQ(raised, 0);
  bus.RaiseInterrupt(0x01);
  EXPECT_TRUE(bus.InterruptAsserted());
  bus.RaiseInterrupt(0x04);  // the line is already up
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(bus.ReadPort(8) & bus.ReadPort(10), 0x05);
  bus.WritePort(8, 0);  // acknowledge
  EXPECT_FALSE(bus.InterruptAsserted());
  EXPECT_EQ(bus.ReadPort(8), 0);

  // A masked source that is pending raises the line when it is enabled.
  bus.RaiseInterrupt(0x80);
  EXPECT_EQ(raised, 1);
  bus.WritePort(10, 0x80);
  EXPECT_EQ(raised, 2);
}

struct Layout {
  const char* name;
  CardModel (*model)();
  size_t flag, control, text, status, count, card_text;
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

// The mailbox of both card generations, at the offsets the drivers use.
class MailboxTest : public ::testing::TestWithParam<Layout> {
 protected:
  MailboxTest() : card_(GetParam().model()), bus_(card_) { card_.SetIVar(58, 1); }

  bool spran() const { return card_.model().spran; }
  bool WaitFlagClear() {
    for (int i = 0; i < kPolls; ++i) {
      if (bus_.ReadDpr16(GetParam().flag) == 0) return true;
      bus_.Stall(microseconds(5));
    }
    return false;
  }
  bool WriteLine(const std::string& text) {
    if (!WaitFlagClear()) return false;
    bus_.WriteDpr(GetParam().text, text.c_str(), text.size() + 1);
    bus_.WriteDpr16(GetParam().flag, 1);
    return true;
  }
  bool WriteControl(char c) {
    if (!WaitFlagClear()) return false;
    bus_.WriteDpr8(GetParam().control, static_cast<uint8_t>(c));
    if (!spran()) bus_.WriteDpr16(GetParam().flag, 1);  // SPRAN cards watch the byte alone
    return true;
  }
  struct Entry {
    uint16_t status = 0;  // 0: nothing came
    uint16_t count = 0;
    std::string text;
  };
  Entry Read() {
    Entry e;
    for (int i = 0; i < kPolls && e.status == 0; ++i) {
      e.status = bus_.ReadDpr16(GetParam().status);
      if (e.status == 0) bus_.Stall(microseconds(5));
    }
    if (e.status == 0) return e;
    e.count = bus_.ReadDpr16(GetParam().count);
    if (e.count > 0) {
      char text[256] = {};
      bus_.ReadDpr(GetParam().card_text, text, std::min<size_t>(e.count - 1, 255));
      e.text = text;
    }
    bus_.WriteDpr16(GetParam().status, 0);
    return e;
  }

  Card card_;
  BusAttachment bus_;
};

TEST_P(MailboxTest, LayoutMatchesTheDrivers) {
  const MailboxLayout& l = bus_.mailbox_layout();
  EXPECT_EQ(l.host_flag, GetParam().flag);
  EXPECT_EQ(l.control, GetParam().control);
  EXPECT_EQ(l.host_text, GetParam().text);
  EXPECT_EQ(l.card_status, GetParam().status);
  EXPECT_EQ(l.card_count, GetParam().count);
  EXPECT_EQ(l.card_text, GetParam().card_text);
}

TEST_P(MailboxTest, LineInRepliesOutOneEntryAtATime) {
  ASSERT_TRUE(WriteLine("I10 P1..2"));
  Entry e = Read();
  EXPECT_EQ(e.status, 13);
  EXPECT_EQ(e.count, 8);  // characters + 1
  EXPECT_EQ(e.text, "3713707");
  // The next entry waits until the host has cleared the status word.
  EXPECT_EQ(Read().text, "0");
  EXPECT_EQ(Read().text, "0");
  e = Read();
  EXPECT_EQ(e.status, 6);
  EXPECT_EQ(e.count, 1);
  EXPECT_EQ(Read().status, 0);  // nothing more
  EXPECT_EQ(bus_.ReadDpr16(GetParam().flag), 0);  // the command was taken
}

TEST_P(MailboxTest, ErrorsComeAsBcdStatusWords) {
  ASSERT_TRUE(WriteLine("NOSUCHCOMMAND"));
  EXPECT_EQ(Read().status, 0x8003);
  card_.script().InjectError(12);
  ASSERT_TRUE(WriteLine("P1"));
  EXPECT_EQ(Read().status, 0x8012);
  EXPECT_EQ(Read().status, 0);  // an error ends the reply: no ACK behind it
}

TEST_P(MailboxTest, ControlCharactersAndFlush) {
  ASSERT_TRUE(WriteControl('\x07'));  // CTRL-G: the global status line
  Entry e = Read();
  EXPECT_EQ(e.status, 13);
  EXPECT_FALSE(e.text.empty());
  EXPECT_EQ(Read().status, 6);
  EXPECT_EQ(bus_.ReadDpr8(GetParam().control), 0);  // taken

  // A flush in the middle of a reply drops the rest and is answered with 24.
  ASSERT_TRUE(WriteLine("P1..30"));
  EXPECT_EQ(Read().status, 13);
  bus_.WriteDpr16(GetParam().status, 0);
  ASSERT_TRUE(WriteControl('\x18'));
  e = Read();
  EXPECT_EQ(e.status & 0x1F, 24);
  EXPECT_EQ(Read().status, 0);

  // A character sent as a one-character text is a control character too.
  ASSERT_TRUE(WriteLine("\x07"));
  EXPECT_EQ(Read().status, 13);
}

TEST_P(MailboxTest, UnsolicitedMessagesAreMarkedAndNeverCut) {
  card_.PostUnsolicited("AXIS 1 IN POSITION");
  Entry e = Read();
  EXPECT_EQ(e.status, 0x100 | 13);
  EXPECT_EQ(e.text, "AXIS 1 IN POSITION");

  const std::string long_message(300, 'M');
  card_.PostUnsolicited(long_message);
  e = Read();
  EXPECT_EQ(e.status, 0x100 | 13);
  std::string joined = e.text;
  joined += Read().text;
  EXPECT_EQ(joined, long_message);
}

TEST_P(MailboxTest, MutedCardKeepsItsMessages) {
  card_.script().SetMuted(true);
  card_.PostUnsolicited("KEPT");
  ASSERT_TRUE(WriteLine("I10"));
  EXPECT_EQ(Read().status, 0);
  card_.script().SetMuted(false);
  EXPECT_EQ(Read().text, "KEPT");
}

TEST_P(MailboxTest, OffWhileI58IsNotOne) {
  card_.SetIVar(58, 0);
  ASSERT_TRUE(WriteLine("I10"));
  EXPECT_EQ(Read().status, 0);
  EXPECT_FALSE(WriteLine("I10"));  // the flag was never cleared
  card_.SetIVar(58, 1);
  EXPECT_EQ(Read().text, "3713707");
}

TEST_P(MailboxTest, DelayedReplyOutlastsADriversWait) {
  card_.script().SetReplyDelay(milliseconds(40), 1);
  ASSERT_TRUE(WriteLine("I10"));
  EXPECT_EQ(Read().status, 0);  // 5000 polls of 5 us: not yet
  EXPECT_EQ(Read().text, "3713707");
}

TEST_P(MailboxTest, ControlByteReadsBackWhatTheHostWrote) {
  // The driver's write test: write 0x10, read it back at once.
  ASSERT_EQ(bus_.ReadDpr8(GetParam().control), 0);
  bus_.WriteDpr8(GetParam().control, 0x10);
  EXPECT_EQ(bus_.ReadDpr8(GetParam().control), 0x10);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, MailboxTest,
    ::testing::Values(
        Layout{"Older", &CardModel::Older, 0x62C, 0x62E, 0x630, 0x6D0, 0x6D2, 0x6D4},
        Layout{"Spran", [] { return CardModel::Spran(); }, 0xE9C, 0xE9E, 0xEA0, 0xF40, 0xF42,
               0xF44}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST(BusClockTest, StallsDriveTheServoWhenAsked) {
  for (const bool drive : {false, true}) {
    Card card(CardModel::Older());
    BusOptions options;
    options.drive_servo = drive;
    BusAttachment bus(card, options);
    card.Execute("#1J=100");
    for (int i = 0; i < 2000; ++i) bus.Stall(milliseconds(1));
    EXPECT_EQ(card.MotorPosition(1), drive ? 100 : 0) << drive;
  }
}

TEST(BusDprTest, AccessesStayInsideTheWindow) {
  Card card(CardModel::Older());
  BusAttachment bus(card);
  bus.WriteDpr32(0x3FFC, 0xA1B2C3D4);
  EXPECT_EQ(bus.ReadDpr32(0x3FFC), 0xA1B2C3D4u);
  EXPECT_EQ(bus.ReadDpr16(0x3FFE), 0xA1B2);
  EXPECT_EQ(bus.ReadDpr8(0x3FFF), 0xA1);
  bus.WriteDpr32(0x3FFE, 0xFFFFFFFF);  // would pass the end: nothing written
  EXPECT_EQ(bus.ReadDpr32(0x3FFC), 0xA1B2C3D4u);
  EXPECT_EQ(bus.ReadDpr32(0x3FFE), 0u);
  char block[8];
  EXPECT_FALSE(bus.ReadDpr(0x3FFC, block, 8));
  EXPECT_TRUE(bus.ReadDpr(0, block, 8));
  EXPECT_FALSE(bus.WriteDpr(SIZE_MAX - 2, block, 8));  // no wrap-around
}

}  // namespace
}  // namespace zimo::cardsim
