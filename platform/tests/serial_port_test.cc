#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/win_error.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
}

// What the far end receives: exactly n bytes, or fewer when they do not come
// within a generous time.
std::string ReadFar(int fd, size_t n) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (out.size() < n && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

bool FarHasNothing(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 30) == 0;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pair = OpenPtyPair();
    ASSERT_TRUE(pair.ok()) << pair.status().ToString();
    pty_ = std::move(*pair);
    ASSERT_TRUE(RegisterComPort(7, pty_.slave_path).ok());
    auto port = SerialPort::Open("\\\\.\\COM7");
    ASSERT_TRUE(port.ok()) << port.status().ToString();
    port_ = std::move(*port);
  }

  int far() const { return pty_.master.get(); }

  // Waits until the port's input queue holds n characters.
  void WaitQueued(uint32_t n) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      auto e = port_.ClearCommError();
      ASSERT_TRUE(e.ok());
      if (e->stat.in_queue >= n) return;
      std::this_thread::sleep_for(milliseconds(1));
    }
    FAIL() << "input never reached " << n << " characters";
  }

  std::string Read(size_t max) {
    std::string buf(max, '\0');
    auto n = port_.Read(buf.data(), max);
    EXPECT_TRUE(n.ok()) << n.status().ToString();
    buf.resize(n.ok() ? *n : 0);
    return buf;
  }

  zimo::testing::TempHome home_;
  PtyPair pty_;
  SerialPort port_;
};

TEST(ComPortNameTest, NumbersOfPortNames) {
  const std::pair<const char*, int> good[] = {
      {"\\\\.\\COM3", 3}, {"COM12", 12}, {"com1", 1}, {"\\\\.\\com255", 255}};
  for (const auto& [name, n] : good) {
    auto got = ComPortNumber(name);
    ASSERT_TRUE(got.ok()) << name;
    EXPECT_EQ(*got, n) << name;
  }
  for (const char* bad : {"", "COM", "COM0", "COM256", "COM99999999999", "LPT1", "COM1x",
                          "\\\\.\\COM-1", "COM 1", "\\\\.\\"}) {
    EXPECT_EQ(ComPortNumber(bad).status().code(), Code::kInvalidArgument) << bad;
  }
}

TEST(ComPortNameTest, ResolvedThroughSerialCommValueNames) {
  zimo::testing::TempHome home;
  // No key at all: the port's conventional device.
  auto none = ResolveComPort(3);
  ASSERT_TRUE(none.ok()) << none.status().ToString();
  EXPECT_EQ(*none, "/dev/ttyS2");

  ASSERT_TRUE(RegisterComPort(3, "/dev/pts/77").ok());
  ASSERT_TRUE(RegisterComPort(4, "/dev/ttyUSB0").ok());
  EXPECT_EQ(*ResolveComPort(3), "/dev/pts/77");
  // Registering the number again moves it; the other port stays.
  ASSERT_TRUE(RegisterComPort(3, "/dev/pts/78").ok());
  EXPECT_EQ(*ResolveComPort(3), "/dev/pts/78");
  EXPECT_EQ(*ResolveComPort(4), "/dev/ttyUSB0");
  auto key = RegistryKey::Open(kHkeyLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(key->Values()->size(), 2u);

  // Entries written by hand may spell the data in any case.
  ASSERT_TRUE(key->SetString("/dev/ttyS9", "com5").ok());
  EXPECT_EQ(*ResolveComPort(5), "/dev/ttyS9");
}

TEST_F(SerialPortTest, BinaryRoundTripChangesNoByte) {
  EXPECT_EQ(port_.device_path(), pty_.slave_path);
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));

  // Card to host: CR, LF, Ctrl-C, Ctrl-S/Ctrl-Q, DEL, bytes above 127.
  ASSERT_TRUE(port_.SetCommTimeouts({0, 0, 5000, 0, 0}).ok());
  WriteAll(far(), all);
  std::string got;
  while (got.size() < all.size()) {
    std::string part = Read(all.size() - got.size());
    ASSERT_FALSE(part.empty());
    got += part;
  }
  EXPECT_EQ(got, all);
  EXPECT_TRUE(FarHasNothing(far())) << "the port echoed";

  // Host to card.
  auto sent = port_.Write(all.data(), all.size());
  ASSERT_TRUE(sent.ok());
  EXPECT_EQ(*sent, all.size());
  EXPECT_EQ(ReadFar(far(), all.size()), all);
}

TEST_F(SerialPortTest, ReadTimeoutsKeepTheirWindowsMeaning) {
  // Total time-out: what came by then.
  ASSERT_TRUE(port_.SetCommTimeouts({0, 0, 50, 0, 0}).ok());
  WriteAll(far(), "abc");
  EXPECT_EQ(Read(10), "abc");
  EXPECT_EQ(Read(10), "");  // nothing: success with 0 bytes

  // Interval time-out alone: the read ends after a pause behind the data
  // and waits for the first byte without limit.
  ASSERT_TRUE(port_.SetCommTimeouts({50, 0, 0, 0, 0}).ok());
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(30));
    WriteAll(far(), "ab");
  });
  EXPECT_EQ(Read(10), "ab");
  late.join();

  // MAXDWORD interval, no totals: what is queued now.
  ASSERT_TRUE(port_.SetCommTimeouts({kMaxDword, 0, 0, 0, 0}).ok());
  EXPECT_EQ(Read(10), "");
  WriteAll(far(), "q");
  WaitQueued(1);
  EXPECT_EQ(Read(10), "q");

  // MAXDWORD interval and multiplier: the first bytes to come.
  ASSERT_TRUE(port_.SetCommTimeouts({kMaxDword, kMaxDword, 5000, 0, 0}).ok());
  std::thread first([&] {
    std::this_thread::sleep_for(milliseconds(20));
    WriteAll(far(), "z");
  });
  EXPECT_EQ(Read(10), "z");
  first.join();
  ASSERT_TRUE(port_.SetCommTimeouts({kMaxDword, kMaxDword, 20, 0, 0}).ok());
  EXPECT_EQ(Read(10), "");

  // No time-outs: every byte asked for.
  ASSERT_TRUE(port_.SetCommTimeouts({0, 0, 0, 0, 0}).ok());
  std::thread pieces([&] {
    WriteAll(far(), "12");
    std::this_thread::sleep_for(milliseconds(20));
    WriteAll(far(), "34");
  });
  EXPECT_EQ(Read(4), "1234");
  pieces.join();

  Status st = port_.SetCommTimeouts({kMaxDword, kMaxDword, kMaxDword, 0, 0});
  EXPECT_EQ(st.code(), Code::kInvalidArgument);
  EXPECT_EQ(port_.GetCommTimeouts().read_total_timeout_constant, 0u);

  // A total far beyond any clock (multiplier and constant near MAXDWORD,
  // times a large read) must not wrap into a time already past: the read
  // waits for the bytes and ends at the pause behind them.
  ASSERT_TRUE(port_.SetCommTimeouts({20, kMaxDword - 1, kMaxDword - 1, 0, 0}).ok());
  std::thread slow([&] {
    std::this_thread::sleep_for(milliseconds(20));
    WriteAll(far(), "wxyz");
  });
  EXPECT_EQ(Read(1 << 20), "wxyz");
  slow.join();
}

// The two calls a line reader builds on: take what is queued in one call,
// never waiting whatever the time-outs say, and wait for input without
// taking any.
TEST_F(SerialPortTest, ReadAvailableTakesWhatIsQueuedAndWaitReadableTakesNothing) {
  // Time-outs that would make Read wait for every byte asked for.
  ASSERT_TRUE(port_.SetCommTimeouts({0, 0, 0, 0, 0}).ok());
  char buf[64];
  auto none = port_.ReadAvailable(buf, sizeof buf);
  ASSERT_TRUE(none.ok()) << none.status().ToString();
  EXPECT_EQ(*none, 0u);
  EXPECT_EQ(port_.WaitReadable(30).code(), Code::kTimeout);
  EXPECT_EQ(port_.WaitReadable(0).code(), Code::kTimeout);

  // Two writes of the far end: one call takes both, up to the room given;
  // the rest stays queued for the next call.
  WriteAll(far(), "12\r\x06");
  WriteAll(far(), "\x02MSG\r");
  WaitQueued(9);
  ASSERT_TRUE(port_.WaitReadable(0).ok());
  auto part = port_.ReadAvailable(buf, 3);
  ASSERT_TRUE(part.ok());
  EXPECT_EQ(std::string(buf, *part), "12\r");
  auto rest = port_.ReadAvailable(buf, sizeof buf);
  ASSERT_TRUE(rest.ok());
  EXPECT_EQ(std::string(buf, *rest), "\x06\x02MSG\r");

  // A wait ends when input comes, and leaves it queued.
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(20));
    WriteAll(far(), "7");
  });
  EXPECT_TRUE(port_.WaitReadable(5000).ok());
  late.join();
  auto queued = port_.ClearCommError();
  ASSERT_TRUE(queued.ok());
  EXPECT_EQ(queued->stat.in_queue, 1u);
  auto seven = port_.ReadAvailable(buf, sizeof buf);
  ASSERT_TRUE(seven.ok());
  EXPECT_EQ(std::string(buf, *seven), "7");

  // The far end goes away: both say so instead of waiting or reading 0.
  pty_.master.reset();
  EXPECT_EQ(port_.WaitReadable(5000).code(), Code::kClosed);
  EXPECT_EQ(port_.ReadAvailable(buf, sizeof buf).status().code(), Code::kClosed);

  SerialPort closed;
  EXPECT_EQ(closed.ReadAvailable(buf, sizeof buf).status().code(), Code::kInvalidArgument);
  EXPECT_EQ(closed.WaitReadable(0).code(), Code::kInvalidArgument);
}

// A copy of another opener's descriptor is only used while it still names
// the port.
TEST_F(SerialPortTest, DescriptorIsTheComPortOnlyWhileItNamesIt) {
  EXPECT_TRUE(IsComPortDevice(port_.fd(), "\\\\.\\COM7"));
  EXPECT_TRUE(IsComPortDevice(port_.fd(), "com7"));
  EXPECT_TRUE(IsComPortDevice(port_.fd(), pty_.slave_path.string()));
  auto other = OpenPtyPair();
  ASSERT_TRUE(other.ok());
  EXPECT_FALSE(IsComPortDevice(other->slave_hold.get(), "COM7"));
  UniqueFd null_file(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  EXPECT_FALSE(IsComPortDevice(null_file.get(), "COM7"));
  EXPECT_FALSE(IsComPortDevice(port_.fd(), "COM8"));  // registered nowhere: /dev/ttyS7
  EXPECT_FALSE(IsComPortDevice(port_.fd(), "LPT1"));
}

TEST_F(SerialPortTest, WriteTimeoutGivesShortCount) {
  // The far end reads nothing, so the output queue fills.
  ASSERT_TRUE(port_.SetCommTimeouts({0, 0, 0, 0, 50}).ok());
  std::string big(1 << 20, 'x');
  auto n = port_.Write(big.data(), big.size());
  ASSERT_TRUE(n.ok()) << n.status().ToString();
  EXPECT_GT(*n, 0u);
  EXPECT_LT(*n, big.size());
}

TEST_F(SerialPortTest, PurgeQueueCountsAndImmediateCharacter) {
  WriteAll(far(), "ERR03");
  WaitQueued(5);
  auto e = port_.ClearCommError();
  ASSERT_TRUE(e.ok());
  EXPECT_EQ(e->errors, 0u);
  EXPECT_EQ(e->stat.in_queue, 5u);

  ASSERT_TRUE(port_
                  .PurgeComm(comm::kPurgeTxAbort | comm::kPurgeRxAbort | comm::kPurgeTxClear |
                             comm::kPurgeRxClear)
                  .ok());
  EXPECT_EQ(port_.ClearCommError()->stat.in_queue, 0u);
  ASSERT_TRUE(port_.SetCommTimeouts({kMaxDword, 0, 0, 0, 0}).ok());
  EXPECT_EQ(Read(10), "");
  EXPECT_EQ(port_.PurgeComm(0x10).code(), Code::kInvalidArgument);

  ASSERT_TRUE(port_.TransmitCommChar(0x1A).ok());
  EXPECT_EQ(ReadFar(far(), 1), "\x1A");
}

TEST_F(SerialPortTest, LineSettingsReachTheTtyAndComeBack) {
  auto before = port_.GetCommState();
  ASSERT_TRUE(before.ok());
  EXPECT_EQ(before->dcb_length, 28u);
  EXPECT_TRUE(before->flags & dcb::kBinary);

  Dcb d = *before;
  d.baud_rate = 9600;
  d.byte_size = 7;
  d.parity = dcb::kEvenParity;
  d.stop_bits = dcb::kTwoStopBits;
  d.flags |= dcb::kParity | dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow | dcb::kDsrSensitivity;
  dcb::SetRtsControl(d, dcb::kRtsControlToggle);  // no modem lines on a pty: accepted
  dcb::SetDtrControl(d, dcb::kDtrControlDisable);
  d.evt_char = '\r';
  d.xon_lim = 100;
  ASSERT_TRUE(port_.SetCommState(d).ok());

  // What the tty keeps (a pseudo-terminal always runs 8 bits, no parity).
  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.slave_hold.get(), &t), 0);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));

  auto after = port_.GetCommState();
  ASSERT_TRUE(after.ok());
  EXPECT_EQ(std::memcmp(&*after, &d, sizeof d), 0);

  // Changed through another handle: the tty's word counts for that group.
  t.c_iflag &= ~(IXON | IXOFF);
  cfsetspeed(&t, B19200);
  ASSERT_EQ(::tcsetattr(pty_.slave_hold.get(), TCSANOW, &t), 0);
  auto changed = port_.GetCommState();
  ASSERT_TRUE(changed.ok());
  EXPECT_EQ(changed->baud_rate, 19200u);
  EXPECT_FALSE(changed->flags & (dcb::kOutX | dcb::kInX));
  EXPECT_EQ(changed->byte_size, 7);
  EXPECT_EQ(changed->parity, dcb::kEvenParity);
  EXPECT_EQ(changed->evt_char, '\r');

  // Rates outside the B-constants, and mark and space parity.
  const std::pair<uint32_t, uint8_t> cases[] = {
      {76800, dcb::kMarkParity}, {51200, dcb::kSpaceParity}, {115200, dcb::kOddParity}};
  for (const auto& [rate, parity] : cases) {
    d.baud_rate = rate;
    d.parity = parity;
    ASSERT_TRUE(port_.SetCommState(d).ok()) << rate;
    auto got = port_.GetCommState();
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->baud_rate, rate);
    EXPECT_EQ(got->parity, parity);
  }
}

TEST_F(SerialPortTest, InvalidLineSettingsAreRefusedAndChangeNothing) {
  Dcb good = *port_.GetCommState();
  good.baud_rate = 38400;
  ASSERT_TRUE(port_.SetCommState(good).ok());
  auto bad = [&](auto change) {
    Dcb d = good;
    change(d);
    return d;
  };
  const Dcb cases[] = {
      bad([](Dcb& d) { d.baud_rate = 0; }),
      bad([](Dcb& d) { d.byte_size = 4; }),
      bad([](Dcb& d) { d.byte_size = 9; }),
      bad([](Dcb& d) { d.parity = 5; }),
      bad([](Dcb& d) { d.stop_bits = 3; }),
      bad([](Dcb& d) { d.stop_bits = dcb::kOne5StopBits; }),  // with 8 data bits
      bad([](Dcb& d) { d.byte_size = 5, d.stop_bits = dcb::kTwoStopBits; }),
      bad([](Dcb& d) { dcb::SetDtrControl(d, 3); }),
      bad([](Dcb& d) { d.flags |= dcb::kOutX, d.xon_char = d.xoff_char = 0x11; }),
  };
  for (const Dcb& d : cases) {
    Status st = port_.SetCommState(d);
    EXPECT_EQ(st.code(), Code::kInvalidArgument) << st.ToString();
    EXPECT_EQ(Win32ErrorFromStatus(st), win32::kErrorInvalidParameter);
  }
  Dcb now = *port_.GetCommState();
  EXPECT_EQ(std::memcmp(&now, &good, sizeof now), 0);
}

TEST_F(SerialPortTest, ShareModes) {
  // The fixture holds COM7 exclusively.
  auto second = SerialPort::Open("COM7");
  EXPECT_FALSE(second.ok());
  EXPECT_EQ(second.status().os_error(), EBUSY);
  EXPECT_EQ(Win32ErrorFromStatus(second.status()), win32::kErrorBusy);
  EXPECT_FALSE(SerialPort::Open("COM7", SerialShare::kShared).ok());

  port_.Close();
  auto a = SerialPort::Open("COM7", SerialShare::kShared);
  auto b = SerialPort::Open("com7", SerialShare::kShared);
  EXPECT_TRUE(a.ok() && b.ok());
  EXPECT_FALSE(SerialPort::Open("COM7").ok());
}

TEST_F(SerialPortTest, MissingDevicesAndOtherFiles) {
  auto missing = SerialPort::Open((home_.path() / "no-such-tty").string());
  EXPECT_EQ(missing.status().code(), Code::kNotFound);
  EXPECT_EQ(Win32ErrorFromStatus(missing.status()), win32::kErrorFileNotFound);

  ASSERT_TRUE(RegisterComPort(9, home_.path() / "gone").ok());
  EXPECT_EQ(SerialPort::Open("\\\\.\\COM9").status().code(), Code::kNotFound);

  std::ofstream(home_.path() / "plain") << "x";
  EXPECT_EQ(SerialPort::Open((home_.path() / "plain").string()).status().os_error(), ENOTTY);
  EXPECT_EQ(SerialPort::Open("COM0").status().code(), Code::kInvalidArgument);
}

TEST_F(SerialPortTest, AdoptedDescriptorAndHangUp) {
  auto adopted = SerialPort::Adopt(UniqueFd(::fcntl(port_.fd(), F_DUPFD_CLOEXEC, 0)));
  ASSERT_TRUE(adopted.ok()) << adopted.status().ToString();
  EXPECT_EQ(adopted->device_path(), pty_.slave_path);
  ASSERT_TRUE(adopted->SetCommTimeouts({0, 0, 5000, 0, 0}).ok());
  WriteAll(far(), "7");
  char c = 0;
  auto n = adopted->Read(&c, 1);
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(c, '7');

  // The far end goes away: a waiting read ends with kClosed, not at its
  // time-out and not in a spin.
  std::thread closer([&] {
    std::this_thread::sleep_for(milliseconds(20));
    pty_.master.reset();
  });
  auto gone = adopted->Read(&c, 1);
  closer.join();
  EXPECT_EQ(gone.status().code(), Code::kClosed);
}

}  // namespace
}  // namespace zimo::platform
