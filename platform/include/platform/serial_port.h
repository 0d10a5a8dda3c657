// Serial ports ("\\.\COMn") over termios, with the Win32 communications
// calls the library is written against: line settings in the DCB layout,
// COMMTIMEOUTS with their Windows meaning, PurgeComm, TransmitCommChar,
// ClearCommError and SetupComm. Port n is the device whose path is the value
// name under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM with the data "COMn"
// (/dev/ttyS<n-1> when there is none). Tests and the simulated card use
// pseudo-terminal pairs (OpenPtyPair).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unix_socket.h"  // UniqueFd

namespace zimo::platform {

// Line settings in the 28-byte layout of the Win32 DCB, so the shared device
// table can keep them as they are.
struct Dcb {
  uint32_t dcb_length = 28;
  uint32_t baud_rate = 0;
  uint32_t flags = 0;  // dcb:: bits below
  uint16_t reserved = 0;
  uint16_t xon_lim = 0;
  uint16_t xoff_lim = 0;
  uint8_t byte_size = 8;  // 5 to 8
  uint8_t parity = 0;     // dcb::kNoParity ...
  uint8_t stop_bits = 0;  // dcb::kOneStopBit ...
  char xon_char = 0x11;
  char xoff_char = 0x13;
  char error_char = 0;
  char eof_char = 0;
  char evt_char = 0;
  uint16_t reserved1 = 0;
};
static_assert(sizeof(Dcb) == 28);
static_assert(offsetof(Dcb, flags) == 8 && offsetof(Dcb, byte_size) == 18 &&
              offsetof(Dcb, xon_char) == 21 && offsetof(Dcb, evt_char) == 25);

namespace dcb {
// Bits of Dcb::flags.
inline constexpr uint32_t kBinary = 1u << 0;
inline constexpr uint32_t kParity = 1u << 1;       // check parity of received characters
inline constexpr uint32_t kOutxCtsFlow = 1u << 2;  // CTS output flow control
inline constexpr uint32_t kOutxDsrFlow = 1u << 3;
inline constexpr int kDtrControlShift = 4;  // two bits: kDtrControl*
inline constexpr uint32_t kDsrSensitivity = 1u << 6;
inline constexpr uint32_t kTxContinueOnXoff = 1u << 7;
inline constexpr uint32_t kOutX = 1u << 8;  // XON/XOFF output flow control
inline constexpr uint32_t kInX = 1u << 9;   // XON/XOFF input flow control
inline constexpr uint32_t kErrorChar = 1u << 10;
inline constexpr uint32_t kNull = 1u << 11;
inline constexpr int kRtsControlShift = 12;  // two bits: kRtsControl*
inline constexpr uint32_t kAbortOnError = 1u << 14;

inline constexpr uint32_t kDtrControlDisable = 0;
inline constexpr uint32_t kDtrControlEnable = 1;
inline constexpr uint32_t kDtrControlHandshake = 2;
inline constexpr uint32_t kRtsControlDisable = 0;
inline constexpr uint32_t kRtsControlEnable = 1;
inline constexpr uint32_t kRtsControlHandshake = 2;
inline constexpr uint32_t kRtsControlToggle = 3;

inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kMarkParity = 3;
inline constexpr uint8_t kSpaceParity = 4;

inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;

inline uint32_t DtrControl(const Dcb& d) { return (d.flags >> kDtrControlShift) & 3u; }
inline uint32_t RtsControl(const Dcb& d) { return (d.flags >> kRtsControlShift) & 3u; }
inline void SetDtrControl(Dcb& d, uint32_t v) {
  d.flags = (d.flags & ~(3u << kDtrControlShift)) | ((v & 3u) << kDtrControlShift);
}
inline void SetRtsControl(Dcb& d, uint32_t v) {
  d.flags = (d.flags & ~(3u << kRtsControlShift)) | ((v & 3u) << kRtsControlShift);
}
}  // namespace dcb

// Time-outs in the 20-byte layout of the Win32 COMMTIMEOUTS, in milliseconds,
// with their Windows meaning (see SerialPort::Read and Write).
struct CommTimeouts {
  uint32_t read_interval_timeout = 0;
  uint32_t read_total_timeout_multiplier = 0;
  uint32_t read_total_timeout_constant = 0;
  uint32_t write_total_timeout_multiplier = 0;
  uint32_t write_total_timeout_constant = 0;
};
static_assert(sizeof(CommTimeouts) == 20);
inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// The Win32 COMSTAT: hold flags, then the queue counts.
struct ComStat {
  uint32_t flags = 0;  // comm::kCtsHold ...
  uint32_t in_queue = 0;
  uint32_t out_queue = 0;
};
static_assert(sizeof(ComStat) == 12);

namespace comm {
// ComStat::flags.
inline constexpr uint32_t kCtsHold = 0x01;
inline constexpr uint32_t kDsrHold = 0x02;
inline constexpr uint32_t kRlsdHold = 0x04;
inline constexpr uint32_t kXoffHold = 0x08;
inline constexpr uint32_t kXoffSent = 0x10;
inline constexpr uint32_t kEof = 0x20;
inline constexpr uint32_t kTxim = 0x40;
// Error flags of ClearCommError.
inline constexpr uint32_t kErrorRxOver = 0x0001;
inline constexpr uint32_t kErrorOverrun = 0x0002;
inline constexpr uint32_t kErrorRxParity = 0x0004;
inline constexpr uint32_t kErrorFrame = 0x0008;
inline constexpr uint32_t kErrorBreak = 0x0010;
inline constexpr uint32_t kErrorTxFull = 0x0100;
inline constexpr uint32_t kErrorIoError = 0x0400;
inline constexpr uint32_t kErrorMode = 0x8000;
// PurgeComm flags.
inline constexpr uint32_t kPurgeTxAbort = 0x1;
inline constexpr uint32_t kPurgeRxAbort = 0x2;
inline constexpr uint32_t kPurgeTxClear = 0x4;
inline constexpr uint32_t kPurgeRxClear = 0x8;
}  // namespace comm

struct CommErrors {
  uint32_t errors = 0;  // comm::kError* bits seen since the last call
  ComStat stat;
};

// The port number of "\\.\COMn" or "COMn" (any case), 1 to 255.
Result<int> ComPortNumber(std::string_view name);

// The device path of port n: the name of the SERIALCOMM value whose data is
// "COMn" (any case), else /dev/ttyS<n-1>. Fails only when the registry
// cannot be read.
Result<std::filesystem::path> ResolveComPort(int n);

// Makes `device` port n in SERIALCOMM (replacing another device registered
// as "COMn"), as the simulated card and tests do for their pseudo-terminal.
Status RegisterComPort(int n, const std::filesystem::path& device);

enum class SerialShare {
  kExclusive,  // nobody else may open the port (the Win32 share mode 0)
  kShared,     // other shared opens are allowed; an exclusive one is not
};

class SerialPort {
 public:
  SerialPort() = default;

  // Opens "\\.\COMn", "COMn" or a device path ("/dev/..."), without making it
  // the controlling terminal, and puts the line into binary (raw) mode
  // without XON/XOFF; the other line settings stay as the port had them. A port held by another
  // opener fails with os_error EBUSY (Win32 170).
  static Result<SerialPort> Open(std::string_view name,
                                 SerialShare share = SerialShare::kExclusive);
  // Adopts the descriptor of a port opened elsewhere (for instance passed by
  // the process that opened it); its line settings are left as they are.
  static Result<SerialPort> Adopt(UniqueFd fd);

  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const std::filesystem::path& device_path() const { return path_; }
  void Close() { fd_.reset(); }

  // Line settings. The tty runs at the rate, framing, parity checking,
  // XON/XOFF and flow control asked for; GetCommState reads back what was
  // set, also the fields a tty has no place for (DSR flow and sensitivity,
  // RTS toggle, the limits, the error, end and event characters) and what a
  // pseudo-terminal ignores (data bits, parity), unless the tty's settings
  // were changed through another handle since: those are read from the tty.
  // Any baud rate is taken where the tty can run at it (within 3%).
  // DTR and RTS follow their control modes where the tty has modem lines (a
  // pseudo-terminal has none: quietly ignored). Linux has a single switch
  // for CTS output flow control and RTS handshaking: either asks for it.
  // Invalid settings are refused (kInvalidArgument, Win32 87) without
  // touching the port.
  Result<Dcb> GetCommState() const;
  Status SetCommState(const Dcb& settings);

  // All three read values kMaxDword are refused, as Windows does.
  CommTimeouts GetCommTimeouts() const { return timeouts_; }
  Status SetCommTimeouts(const CommTimeouts& timeouts);

  // Queue sizes are the tty's own; the request is accepted.
  Status SetupComm(uint32_t in_queue, uint32_t out_queue);

  // Reads by the time-out rules of ReadFile on a serial port:
  //  - interval kMaxDword, totals 0: what is queued now, maybe nothing;
  //  - interval and multiplier kMaxDword, 0 < constant < kMaxDword: what is
  //    queued now; if nothing, the first bytes to come within the constant;
  //  - interval kMaxDword, other totals (constant < kMaxDword): what is
  //    queued now; if nothing, wait for all `size` within the total;
  //  - otherwise: until `size` bytes came, the total (multiplier x size +
  //    constant) passed, or, once a byte came, the interval passed without
  //    the next; a time-out that is 0 does not apply, all 0 waits for all.
  // Running out of time is no failure: the result is what came, maybe 0.
  Result<size_t> Read(void* data, size_t size);
  // What is queued now, up to `size` bytes, in one call; never waits (0
  // when nothing is there) and ignores the time-outs. A line that hung up
  // fails with kClosed.
  Result<size_t> ReadAvailable(void* data, size_t size);
  // Waits until input is queued, at most `timeout_ms` (0: only looks).
  // kTimeout when nothing came in time; kClosed when the line hung up and
  // nothing is left to read.
  Status WaitReadable(uint32_t timeout_ms) const;
  // Writes, waiting at most the write total (multiplier x size + constant;
  // both 0: no limit) for room in the output queue. Running out of time
  // gives the short count, not a failure.
  Result<size_t> Write(const void* data, size_t size);

  // comm::kPurge* flags: clearing and aborting discard the queue of that
  // direction. Reads and writes here run in the caller's thread, so there
  // is no pending request of another thread to abort.
  Status PurgeComm(uint32_t flags);
  // Sends one character now, without waiting behind the caller's own queue
  // limits; fails when the output queue has no room at all.
  Status TransmitCommChar(char c);
  // The line errors since the last call (from the driver's error counters;
  // a pseudo-terminal has none) and the queue counts.
  Result<CommErrors> ClearCommError();

 private:
  explicit SerialPort(UniqueFd fd, std::filesystem::path path);
  Status LoadIcount();

  UniqueFd fd_;
  std::filesystem::path path_;
  // The tty as it was right after the last SetCommState, by groups: a group
  // still the same reads back from dcb_ (what was asked for).
  struct LineState {
    bool valid = false;
    uint32_t baud = 0;
    uint32_t framing = 0;
    uint32_t input = 0;
    uint32_t flow = 0;
    uint8_t xon = 0;
    uint8_t xoff = 0;
  };
  Dcb dcb_;
  LineState applied_;
  CommTimeouts timeouts_;
  bool have_icount_ = false;
  uint32_t icount_[5] = {};        // frame, overrun, parity, break, buffer overrun
  bool have_modem_lines_ = false;  // without them (a pseudo-terminal) CTS never holds
};

// Whether descriptor `fd` is the device that port `name` ("\\.\COMn",
// "COMn" or a device path) stands for now: a copy of another opener's
// descriptor may have gone stale and name some other file.
bool IsComPortDevice(int fd, std::string_view name);

// Line errors a pseudo-terminal cannot produce, for tests: the next
// ClearCommError of a port open at `device` reports `bits` (comm::kError*)
// as well.
void InjectCommErrors(const std::filesystem::path& device, uint32_t bits);

// A pseudo-terminal pair: the port side (slave) is what SerialPort opens by
// its path; the far side (master) is the card's end. The pair holds one
// descriptor of the slave itself, so the master never sees a hang-up while
// no port is open. The line starts with a fresh terminal's settings
// (cooked), as a real port may.
struct PtyPair {
  UniqueFd master;
  std::filesystem::path slave_path;
  UniqueFd slave_hold;
};
Result<PtyPair> OpenPtyPair();

// The output rate the line of `fd` is set to, in bits per second (also a
// rate without a B-constant); 0 when it cannot be read. On a
// pseudo-terminal's master it is the rate the slave's user set.
uint32_t LineRateOf(int fd);

}  // namespace zimo::platform
