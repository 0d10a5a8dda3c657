#include "platform/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/registry.h"

namespace zimo::platform {

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The kernel's termios2, which carries the baud rate as a number (any rate,
// not only the B-constants). glibc does not declare it; its layout is the
// kernel's on the usual architectures (19 control characters).
struct KernelTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
const unsigned long kTcGets2 = _IOR('T', 0x2A, KernelTermios2);
const unsigned long kTcSets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kCbaudMask = 0010017;
constexpr tcflag_t kBaudOther = 0010000;
constexpr int kInputBaudShift = 16;

struct SpeedEntry {
  uint32_t rate;
  speed_t code;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeed(uint32_t rate, speed_t* code) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.rate == rate) {
      *code = e.code;
      return true;
    }
  }
  return false;
}

// Modem-line ioctls that the device does not have (a pseudo-terminal).
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL || err == ENOSYS; }

Status Invalid(const std::string& what) {
  return Status(Code::kInvalidArgument, "line settings: " + what, EINVAL);
}

Status ValidateDcb(const Dcb& d) {
  if (d.baud_rate == 0) return Invalid("baud rate 0");
  if (d.byte_size < 5 || d.byte_size > 8) {
    return Invalid("data bits " + std::to_string(d.byte_size) + " (5 to 8)");
  }
  if (d.parity > dcb::kSpaceParity) return Invalid("parity " + std::to_string(d.parity));
  if (d.stop_bits > dcb::kTwoStopBits) return Invalid("stop bits " + std::to_string(d.stop_bits));
  // The combinations a UART cannot send, refused as Windows refuses them.
  if (d.stop_bits == dcb::kOne5StopBits && d.byte_size != 5) {
    return Invalid("1.5 stop bits need 5 data bits");
  }
  if (d.stop_bits == dcb::kTwoStopBits && d.byte_size == 5) {
    return Invalid("2 stop bits with 5 data bits");
  }
  if (dcb::DtrControl(d) > dcb::kDtrControlHandshake) return Invalid("DTR control 3");
  if ((d.flags & (dcb::kOutX | dcb::kInX)) && d.xon_char == d.xoff_char) {
    return Invalid("XON and XOFF are the same character");
  }
  return Status::Ok();
}

uint32_t BaudFromTermios(const termios& t) {
  speed_t code = cfgetospeed(&t);
  for (const SpeedEntry& e : kSpeeds) {
    if (e.code == code) return e.rate;
  }
  return 0;
}

std::string Ascii16(const std::vector<uint8_t>& data) {
  std::string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string ComName(int n) { return "COM" + std::to_string(n); }

Timeout Millis(uint64_t ms) {
  // Beyond any wait we could mean; keeps the clock arithmetic in range.
  constexpr uint64_t kCap = uint64_t{1} << 40;
  return Timeout(static_cast<Timeout::rep>(std::min(ms, kCap)));
}

}  // namespace

// ---------------------------------------------------------------------------
// Port names and the SERIALCOMM map

Result<int> ComPortNumber(std::string_view name) {
  std::string_view rest = name;
  if (rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
  if (rest.size() < 4 || !EqualsNoCase(rest.substr(0, 3), "COM")) {
    return Status(Code::kInvalidArgument, "not a COM port name: " + std::string(name));
  }
  rest.remove_prefix(3);
  int n = 0;
  for (char c : rest) {
    if (c < '0' || c > '9' || n > 255) {
      return Status(Code::kInvalidArgument, "not a COM port name: " + std::string(name));
    }
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 255) {
    return Status(Code::kInvalidArgument, "COM port number out of range: " + std::string(name));
  }
  return n;
}

Result<std::filesystem::path> ResolveComPort(int n) {
  std::filesystem::path fallback = "/dev/ttyS" + std::to_string(n - 1);
  auto key = RegistryKey::Open(kHkeyLocalMachine, kSerialCommKey, kKeyRead);
  if (!key.ok()) {
    if (key.status().code() == Code::kNotFound) return fallback;
    return key.status();
  }
  auto values = key->Values();
  if (!values.ok()) return values.status();
  std::string want = ComName(n);
  for (const RegValue& v : *values) {
    if (v.type == kRegSz && EqualsNoCase(Ascii16(v.data), want)) {
      return std::filesystem::path(v.name);
    }
  }
  return fallback;
}

Status RegisterComPort(int n, const std::filesystem::path& device) {
  if (n < 1 || n > 255) return Status(Code::kInvalidArgument, "COM port number out of range");
  auto key = RegistryKey::Create(kHkeyLocalMachine, kSerialCommKey);
  if (!key.ok()) return key.status();
  auto values = key->Values();
  if (!values.ok()) return values.status();
  std::string com = ComName(n);
  for (const RegValue& v : *values) {
    if (v.name != device.string() && v.type == kRegSz && EqualsNoCase(Ascii16(v.data), com)) {
      if (Status st = key->DeleteValue(v.name); !st.ok()) return st;
    }
  }
  return key->SetString(device.string(), com);
}

// ---------------------------------------------------------------------------
// SerialPort

SerialPort::SerialPort(UniqueFd fd, std::filesystem::path path)
    : fd_(std::move(fd)), path_(std::move(path)) {
  dcb_.flags = dcb::kBinary;
  dcb::SetDtrControl(dcb_, dcb::kDtrControlEnable);
  dcb::SetRtsControl(dcb_, dcb::kRtsControlEnable);
  dcb_.xon_lim = 2048;
  dcb_.xoff_lim = 512;
  have_icount_ = LoadIcount().ok();
  // Whether the device has modem lines at all; asked once, so that a status
  // poll of a line without them costs no look at its flow settings.
  int lines = 0;
  have_modem_lines_ = ::ioctl(fd_.get(), TIOCMGET, &lines) == 0 || !NoModemLines(errno);
}

Result<SerialPort> SerialPort::Open(std::string_view name, SerialShare share) {
  std::filesystem::path path;
  if (!name.empty() && name.front() == '/') {
    path = std::filesystem::path(name);
  } else {
    Result<int> n = ComPortNumber(name);
    if (!n.ok()) return n.status();
    auto resolved = ResolveComPort(*n);
    if (!resolved.ok()) return resolved.status();
    path = *resolved;
  }
  std::string where = std::string(name) + " (" + path.string() + ")";

  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return Status::FromErrno("open serial port " + where, errno);
  if (!::isatty(fd.get())) {
    return Status(Code::kInvalidArgument, "open serial port " + where + ": not a terminal device",
                  ENOTTY);
  }
  // The share mode, among everyone who opens ports through this layer; the
  // lock goes with the open file, so a passed descriptor keeps it.
  int lock = share == SerialShare::kExclusive ? LOCK_EX : LOCK_SH;
  while (::flock(fd.get(), lock | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      return Status(Code::kOsError, "open serial port " + where + ": in use", EBUSY);
    }
    return Status::FromErrno("lock serial port " + where, errno);
  }

  // Binary mode: no echo, no line editing, no signals, no character
  // translation in either direction, no XON/XOFF until asked for. Rate and
  // framing stay as they were.
  termios t{};
  if (::tcgetattr(fd.get(), &t) != 0) return Status::FromErrno("read line of " + where, errno);
  t.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL | IXON | IXOFF);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd.get(), TCSANOW, &t) != 0) {
    return Status::FromErrno("set binary mode on " + where, errno);
  }
  return SerialPort(std::move(fd), std::move(path));
}

Result<SerialPort> SerialPort::Adopt(UniqueFd fd) {
  if (!fd || !::isatty(fd.get())) {
    return Status(Code::kInvalidArgument, "adopt serial port: not a terminal device", ENOTTY);
  }
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return Status::FromErrno("adopt serial port", errno);
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd.get());
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink(link, ec);
  return SerialPort(std::move(fd), std::move(path));
}

Status SerialPort::LoadIcount() {
  serial_icounter_struct ic{};
  if (::ioctl(fd_.get(), TIOCGICOUNT, &ic) != 0) return Status::FromErrno("TIOCGICOUNT", errno);
  icount_[0] = static_cast<uint32_t>(ic.frame);
  icount_[1] = static_cast<uint32_t>(ic.overrun);
  icount_[2] = static_cast<uint32_t>(ic.parity);
  icount_[3] = static_cast<uint32_t>(ic.brk);
  icount_[4] = static_cast<uint32_t>(ic.buf_overrun);
  return Status::Ok();
}

namespace {

constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
constexpr tcflag_t kInputBits = INPCK | IXON | IXOFF;

struct Line {
  termios t{};
  uint32_t baud = 0;
};

Result<Line> ReadLine(int fd) {
  Line line;
  if (::tcgetattr(fd, &line.t) != 0) return Status::FromErrno("read line settings", errno);
  KernelTermios2 t2{};
  line.baud = ::ioctl(fd, kTcGets2, &t2) == 0 ? t2.c_ospeed : BaudFromTermios(line.t);
  return line;
}

}  // namespace

uint32_t LineRateOf(int fd) {
  KernelTermios2 t2{};
  return ::ioctl(fd, kTcGets2, &t2) == 0 ? t2.c_ospeed : 0;
}

Result<Dcb> SerialPort::GetCommState() const {
  Result<Line> line = ReadLine(fd_.get());
  if (!line.ok()) return line.status();
  const termios& t = line->t;
  // What was set last, unless the tty now says otherwise (another handle
  // changed it); groups the tty never kept (a pty has no framing) still
  // read back as set.
  Dcb d = dcb_;
  d.dcb_length = sizeof(Dcb);
  d.flags |= dcb::kBinary;
  const LineState& a = applied_;

  if (!a.valid || line->baud != a.baud) d.baud_rate = line->baud;

  if (!a.valid || (t.c_cflag & kFramingBits) != a.framing) {
    switch (t.c_cflag & CSIZE) {
      case CS5:
        d.byte_size = 5;
        break;
      case CS6:
        d.byte_size = 6;
        break;
      case CS7:
        d.byte_size = 7;
        break;
      default:
        d.byte_size = 8;
        break;
    }
    if (!(t.c_cflag & PARENB)) {
      d.parity = dcb::kNoParity;
    } else if (t.c_cflag & CMSPAR) {
      d.parity = (t.c_cflag & PARODD) ? dcb::kMarkParity : dcb::kSpaceParity;
    } else {
      d.parity = (t.c_cflag & PARODD) ? dcb::kOddParity : dcb::kEvenParity;
    }
    if (!(t.c_cflag & CSTOPB)) {
      d.stop_bits = dcb::kOneStopBit;
    } else {
      d.stop_bits = d.byte_size == 5 ? dcb::kOne5StopBits : dcb::kTwoStopBits;
    }
  }

  auto set = [&d](uint32_t bit, bool on) { d.flags = on ? (d.flags | bit) : (d.flags & ~bit); };
  if (!a.valid || (t.c_iflag & kInputBits) != a.input || t.c_cc[VSTART] != a.xon ||
      t.c_cc[VSTOP] != a.xoff) {
    set(dcb::kParity, t.c_iflag & INPCK);
    set(dcb::kOutX, t.c_iflag & IXON);
    set(dcb::kInX, t.c_iflag & IXOFF);
    d.xon_char = static_cast<char>(t.c_cc[VSTART]);
    d.xoff_char = static_cast<char>(t.c_cc[VSTOP]);
  }

  if (!a.valid || (t.c_cflag & CRTSCTS) != a.flow) {
    // One switch for both: turned on, CTS output flow; turned off, neither.
    if (t.c_cflag & CRTSCTS) {
      set(dcb::kOutxCtsFlow, true);
    } else {
      set(dcb::kOutxCtsFlow, false);
      if (dcb::RtsControl(d) == dcb::kRtsControlHandshake) {
        dcb::SetRtsControl(d, dcb::kRtsControlEnable);
      }
    }
  }
  return d;
}

Status SerialPort::SetCommState(const Dcb& settings) {
  if (Status st = ValidateDcb(settings); !st.ok()) return st;
  int fd = fd_.get();
  termios old{};
  if (::tcgetattr(fd, &old) != 0) return Status::FromErrno("read line settings", errno);
  KernelTermios2 old2{};
  bool have_old2 = ::ioctl(fd, kTcGets2, &old2) == 0;

  termios t = old;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL |
                 INPCK | IGNPAR | IXON | IXOFF);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[settings.byte_size - 5];
  switch (settings.parity) {
    case dcb::kOddParity:
      t.c_cflag |= PARENB | PARODD;
      break;
    case dcb::kEvenParity:
      t.c_cflag |= PARENB;
      break;
    case dcb::kMarkParity:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case dcb::kSpaceParity:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (settings.stop_bits != dcb::kOneStopBit) t.c_cflag |= CSTOPB;
  if ((settings.flags & dcb::kParity) && settings.parity != dcb::kNoParity) t.c_iflag |= INPCK;
  if (settings.flags & dcb::kOutX) t.c_iflag |= IXON;
  if (settings.flags & dcb::kInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(settings.xon_char);
  t.c_cc[VSTOP] = static_cast<cc_t>(settings.xoff_char);
  if ((settings.flags & dcb::kOutxCtsFlow) ||
      dcb::RtsControl(settings) == dcb::kRtsControlHandshake) {
    t.c_cflag |= CRTSCTS;
  }
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t code;
  bool standard = StandardSpeed(settings.baud_rate, &code);
  if (standard) {
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
  }
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return Status::FromErrno("set line settings", errno);

  auto restore = [&] {
    ::tcsetattr(fd, TCSANOW, &old);
    if (have_old2) ::ioctl(fd, kTcSets2, &old2);
  };
  char msg[96];
  if (!standard) {
    KernelTermios2 t2{};
    if (::ioctl(fd, kTcGets2, &t2) != 0) {
      int err = errno;
      restore();
      std::snprintf(msg, sizeof msg, "baud rate %u: the device takes standard rates only",
                    settings.baud_rate);
      return Status(Code::kUnsupported, msg, err);
    }
    t2.c_cflag &= ~(kCbaudMask | (kCbaudMask << kInputBaudShift));
    t2.c_cflag |= kBaudOther;
    t2.c_ispeed = settings.baud_rate;
    t2.c_ospeed = settings.baud_rate;
    if (::ioctl(fd, kTcSets2, &t2) != 0) {
      int err = errno;
      restore();
      std::snprintf(msg, sizeof msg, "set baud rate %u", settings.baud_rate);
      return Status(Code::kUnsupported, msg, err);
    }
  }
  // A UART runs at the nearest rate its clock allows; more than 3% off and
  // the card would not understand it.
  KernelTermios2 now{};
  if (::ioctl(fd, kTcGets2, &now) == 0) {
    uint64_t want = settings.baud_rate;
    uint64_t got = now.c_ospeed;
    uint64_t diff = got > want ? got - want : want - got;
    if (diff * 100 > want * 3) {
      restore();
      std::snprintf(msg, sizeof msg, "baud rate %u: the device can only do %u", settings.baud_rate,
                    now.c_ospeed);
      return Status(Code::kUnsupported, msg, EINVAL);
    }
  }

  // Modem lines, where the device has them.
  auto line = [fd](int bit, bool on) -> Status {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && !NoModemLines(errno)) {
      return Status::FromErrno(bit == TIOCM_DTR ? "set DTR" : "set RTS", errno);
    }
    return Status::Ok();
  };
  if (Status st = line(TIOCM_DTR, dcb::DtrControl(settings) != dcb::kDtrControlDisable); !st.ok()) {
    return st;
  }
  if (Status st = line(TIOCM_RTS, dcb::RtsControl(settings) != dcb::kRtsControlDisable); !st.ok()) {
    return st;
  }

  dcb_ = settings;
  dcb_.dcb_length = sizeof(Dcb);
  dcb_.flags |= dcb::kBinary;  // the only mode there is
  applied_ = LineState();
  if (Result<Line> line = ReadLine(fd); line.ok()) {
    applied_.valid = true;
    applied_.baud = line->baud;
    applied_.framing = line->t.c_cflag & kFramingBits;
    applied_.input = line->t.c_iflag & kInputBits;
    applied_.flow = line->t.c_cflag & CRTSCTS;
    applied_.xon = line->t.c_cc[VSTART];
    applied_.xoff = line->t.c_cc[VSTOP];
  }
  return Status::Ok();
}

Status SerialPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  if (timeouts.read_interval_timeout == kMaxDword &&
      timeouts.read_total_timeout_multiplier == kMaxDword &&
      timeouts.read_total_timeout_constant == kMaxDword) {
    return Status(Code::kInvalidArgument, "read time-outs all MAXDWORD", EINVAL);
  }
  timeouts_ = timeouts;
  return Status::Ok();
}

Status SerialPort::SetupComm(uint32_t in_queue, uint32_t out_queue) {
  if (!fd_) return Status(Code::kInvalidArgument, "port not open", EBADF);
  return Status::Ok();
}

Result<size_t> SerialPort::Read(void* data, size_t size) {
  if (!fd_) return Status(Code::kInvalidArgument, "read: port not open", EBADF);
  if (size == 0) return size_t{0};
  char* p = static_cast<char*>(data);
  size_t got = 0;
  // Takes what is queued now; false on a failure (in `failure`).
  Status failure;
  auto take = [&]() -> bool {
    for (;;) {
      ssize_t n = ::read(fd_.get(), p + got, size - got);
      if (n > 0) {
        got += static_cast<size_t>(n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return true;
      // End of file or EIO: the line hung up (a pty's far end closed).
      int err = n == 0 ? EIO : errno;
      failure = err == EIO ? Status(Code::kClosed, "read: the line hung up", EIO)
                           : Status::FromErrno("read", err);
      return false;
    }
  };
  const CommTimeouts t = timeouts_;
  const bool interval_max = t.read_interval_timeout == kMaxDword;
  if (interval_max) {
    // Every MAXDWORD-interval mode returns at once with what is queued.
    if (!take()) return failure;
    if (got > 0) return got;
    if (t.read_total_timeout_multiplier == 0 && t.read_total_timeout_constant == 0) return got;
    if (t.read_total_timeout_multiplier == kMaxDword &&
        t.read_total_timeout_constant != kMaxDword) {
      // Nothing queued: the first bytes to come within the constant.
      Status st =
          platform::WaitReadable(fd_.get(), Deadline(Millis(t.read_total_timeout_constant)));
      if (st.code() == Code::kTimeout) return got;
      if (!st.ok()) return st;
      if (!take()) return failure;
      return got;
    }
  }

  // A total timer (unless the constant is MAXDWORD with a MAXDWORD interval,
  // where no timer applies), an interval timer once a byte came, or neither.
  const bool use_interval = !interval_max && t.read_interval_timeout != 0;
  const bool use_total =
      !(interval_max && t.read_total_timeout_constant == kMaxDword) &&
      (t.read_total_timeout_multiplier != 0 || t.read_total_timeout_constant != 0);
  Deadline total(use_total ? Millis(uint64_t{t.read_total_timeout_multiplier} * size +
                                    t.read_total_timeout_constant)
                           : kWaitForever);
  const Timeout interval(use_interval ? t.read_interval_timeout : 0);
  auto last_byte = std::chrono::steady_clock::now();
  for (;;) {
    size_t before = got;
    if (!take()) return failure;
    if (got == size) return got;
    auto now = std::chrono::steady_clock::now();
    if (got > before) last_byte = now;
    if (total.expired()) return got;
    Timeout left = total.remaining();
    if (use_interval && got > 0) {
      auto since = std::chrono::duration_cast<Timeout>(now - last_byte);
      if (since >= interval) return got;
      left = std::min(left, interval - since);
    }
    Status st = platform::WaitReadable(fd_.get(), Deadline(left));
    if (!st.ok() && st.code() != Code::kTimeout) return st;
    // Readable or a timer ran out: the checks above decide.
  }
}

Result<size_t> SerialPort::ReadAvailable(void* data, size_t size) {
  if (!fd_) return Status(Code::kInvalidArgument, "read: port not open", EBADF);
  if (size == 0) return size_t{0};
  for (;;) {
    const ssize_t n = ::read(fd_.get(), data, size);
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return size_t{0};
    // End of file or EIO: the far end of the line has gone.
    if (n == 0 || errno == EIO) return Status(Code::kClosed, "read: the line hung up", EIO);
    return Status::FromErrno("read", errno);
  }
}

Status SerialPort::WaitReadable(uint32_t timeout_ms) const {
  if (!fd_) return Status(Code::kInvalidArgument, "wait: port not open", EBADF);
  const Deadline deadline(Millis(timeout_ms));
  for (;;) {
    pollfd p{fd_.get(), POLLIN, 0};
    const int n = ::poll(&p, 1, deadline.poll_ms());
    if (n > 0) {
      if (p.revents & POLLNVAL) return Status(Code::kInvalidArgument, "wait: bad port", EBADF);
      if (!(p.revents & (POLLHUP | POLLERR))) return Status::Ok();
      // A line that hung up still hands out what came before; after that
      // reads fail.
      int queued = 0;
      if (::ioctl(fd_.get(), FIONREAD, &queued) == 0 && queued > 0) return Status::Ok();
      return Status(Code::kClosed, "wait: the line hung up", EIO);
    }
    if (n < 0 && errno != EINTR) return Status::FromErrno("poll", errno);
    if (n == 0 && deadline.expired()) return Status(Code::kTimeout, "timed out", ETIMEDOUT);
  }
}

Result<size_t> SerialPort::Write(const void* data, size_t size) {
  if (!fd_) return Status(Code::kInvalidArgument, "write: port not open", EBADF);
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  const CommTimeouts t = timeouts_;
  bool limited = t.write_total_timeout_multiplier != 0 || t.write_total_timeout_constant != 0;
  Deadline deadline(limited ? Millis(uint64_t{t.write_total_timeout_multiplier} * size +
                                     t.write_total_timeout_constant)
                            : kWaitForever);
  while (done < size) {
    ssize_t n = ::write(fd_.get(), p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errno == EIO) return Status(Code::kClosed, "write: the line hung up", EIO);
      return Status::FromErrno("write", errno);
    }
    Status st = WaitWritable(fd_.get(), deadline);
    if (st.code() == Code::kTimeout) break;  // short count, as WriteFile reports it
    if (!st.ok()) return st;
  }
  return done;
}

Status SerialPort::PurgeComm(uint32_t flags) {
  if (!fd_) return Status(Code::kInvalidArgument, "purge: port not open", EBADF);
  if (flags & ~uint32_t{0xF}) return Status(Code::kInvalidArgument, "purge: unknown flags", EINVAL);
  bool tx = flags & (comm::kPurgeTxAbort | comm::kPurgeTxClear);
  bool rx = flags & (comm::kPurgeRxAbort | comm::kPurgeRxClear);
  int which = tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : rx ? TCIFLUSH : -1;
  if (which >= 0 && ::tcflush(fd_.get(), which) != 0) return Status::FromErrno("purge", errno);
  return Status::Ok();
}

Status SerialPort::TransmitCommChar(char c) {
  if (!fd_) return Status(Code::kInvalidArgument, "transmit: port not open", EBADF);
  for (;;) {
    ssize_t n = ::write(fd_.get(), &c, 1);
    if (n == 1) return Status::Ok();
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      return Status(Code::kOsError, "transmit character: output queue full", EAGAIN);
    }
    if (n < 0 && errno == EIO) return Status(Code::kClosed, "transmit: the line hung up", EIO);
    return Status::FromErrno("transmit character", n < 0 ? errno : EIO);
  }
}

bool IsComPortDevice(int fd, std::string_view name) {
  struct stat got {};
  if (::fstat(fd, &got) != 0 || !S_ISCHR(got.st_mode)) return false;
  std::filesystem::path path;
  if (!name.empty() && name.front() == '/') {
    path = std::filesystem::path(name);
  } else {
    Result<int> number = ComPortNumber(name);
    if (!number.ok()) return false;
    auto resolved = ResolveComPort(*number);
    if (!resolved.ok()) return false;
    path = *resolved;
  }
  struct stat want {};
  if (::stat(path.c_str(), &want) != 0) return false;
  return want.st_rdev == got.st_rdev;
}

namespace {
std::mutex g_injected_mu;
std::map<std::string, uint32_t> g_injected;  // device path -> error bits
}  // namespace

void InjectCommErrors(const std::filesystem::path& device, uint32_t bits) {
  std::lock_guard lock(g_injected_mu);
  g_injected[device.string()] |= bits;
}

Result<CommErrors> SerialPort::ClearCommError() {
  if (!fd_) return Status(Code::kInvalidArgument, "port not open", EBADF);
  CommErrors out;
  {
    std::lock_guard lock(g_injected_mu);
    if (auto it = g_injected.find(path_.string()); it != g_injected.end()) {
      out.errors |= it->second;
      g_injected.erase(it);
    }
  }
  if (have_icount_) {
    uint32_t before[5];
    std::memcpy(before, icount_, sizeof before);
    if (LoadIcount().ok()) {
      static constexpr uint32_t kBits[5] = {comm::kErrorFrame, comm::kErrorOverrun,
                                            comm::kErrorRxParity, comm::kErrorBreak,
                                            comm::kErrorRxOver};
      for (int i = 0; i < 5; ++i) {
        if (icount_[i] != before[i]) out.errors |= kBits[i];
      }
    }
  }
  int in = 0, pending = 0;
  if (::ioctl(fd_.get(), FIONREAD, &in) != 0) return Status::FromErrno("read input count", errno);
  if (::ioctl(fd_.get(), TIOCOUTQ, &pending) != 0) {
    return Status::FromErrno("read output count", errno);
  }
  out.stat.in_queue = static_cast<uint32_t>(in);
  out.stat.out_queue = static_cast<uint32_t>(pending);
  termios t{};
  int lines = 0;
  if (have_modem_lines_ && ::tcgetattr(fd_.get(), &t) == 0 && (t.c_cflag & CRTSCTS) &&
      ::ioctl(fd_.get(), TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS)) {
    out.stat.flags |= comm::kCtsHold;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Pseudo-terminal pairs

Result<PtyPair> OpenPtyPair() {
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master) return Status::FromErrno("open pseudo-terminal", errno);
  if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
    return Status::FromErrno("unlock pseudo-terminal", errno);
  }
  char name[128];
  if (int err = ::ptsname_r(master.get(), name, sizeof name); err != 0) {
    return Status::FromErrno("name pseudo-terminal", err);
  }
  UniqueFd hold(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!hold) return Status::FromErrno(std::string("open ") + name, errno);
  // The line keeps the settings a fresh terminal has (echo, line editing,
  // CR to NL, XON/XOFF): like a real port, it passes bytes unchanged only
  // once its opener has set it up.
  return PtyPair{std::move(master), std::filesystem::path(name), std::move(hold)};
}

}  // namespace zimo::platform
