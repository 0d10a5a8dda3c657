// Status queries that pick their source on each call: the host copies of
// the fixed DPR buffers when the buffer carrying the value is live and this
// process can use the DPR, the card's ASCII answer otherwise. A DPR answer
// is read under the command lock (the reader then takes the DPR data lock
// inside it); an ASCII answer takes the lock inside the exchange.
#include "corvan/status_query_api.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "corvan/command_api.h"
#include "corvan/status_api.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

// Reply buffer sizes of the queries.
constexpr std::uint32_t kWordReply = 29;
constexpr std::uint32_t kShortReply = 14;
constexpr std::uint32_t kCoordReply = 109;
constexpr std::uint32_t kCoordReplyMin = 101;  // a shorter ^C reply is not the status
constexpr std::uint32_t kCoordText = 13;       // one system's 12 digits and a blank
constexpr char kCoordStatusChar = 3;
constexpr char kGlobalStatusChar = 7;

// One device as a query sees it.
struct Device {
  std::uint32_t number = 0;
  const SharedDeviceBlock* block = nullptr;
  const DeviceUserHandle* user = nullptr;

  bool spran() const { return block->SpranFlag != 0; }
  bool Motor(std::int32_t m) const { return m >= 0 && m < (spran() ? 32 : 8); }
  bool System(std::int32_t cs) const { return cs >= 0 && cs < (spran() ? 16 : 8); }
  bool dpr() const { return user->DprAvailable != 0; }
  bool RealTime() const { return dpr() && block->RealTimeActive != 0; }
  bool Background() const { return dpr() && block->BackgroundActive != 0; }
  bool Mailbox() const { return user->AsciiCommMode == 1; }
  double Factor(std::int32_t m) const { return block->MotorPositionFactor[m]; }
};

std::optional<Device> DeviceOf(std::uint32_t number) {
  const int d = IndexFromDeviceNumber(number);
  if (!IsRealDevice(d)) return std::nullopt;
  Device device;
  device.number = number;
  device.block = App().Block(d);
  device.user = App().User(d);
  if (device.block == nullptr || device.user == nullptr) return std::nullopt;
  return device;
}

// A DPR reader run under the command lock.
template <typename Read>
auto UnderCommandLock(const Device& d, Read read) {
  LockZimo(d.number);
  auto value = read();
  ReleaseZimo(d.number);
  return value;
}

// The reply to a command, or nothing when none was read. The text holds
// only what the card sent: no parse reads past it.
std::optional<std::string> Ask(const Device& d, const char* command, std::uint32_t size) {
  std::string buffer(size + 1, '\0');
  const std::uint32_t count = ZimoGetResponseA(d.number, buffer.data(), size, command);
  if (count == 0) return std::nullopt;
  buffer.resize(std::min(count, size));
  return buffer;
}

std::optional<std::string> AskControl(const Device& d, char character, std::uint32_t size) {
  std::string buffer(size + 1, '\0');
  const std::uint32_t count = ZimoGetControlResponseA(d.number, buffer.data(), size, character);
  if (count == 0) return std::nullopt;
  buffer.resize(std::min(count, size));
  return buffer;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The 24-bit word of six hexadecimal digits at `at`, most significant first;
// nothing when the reply ends before them or one is no digit.
std::optional<std::uint32_t> Word24(const std::string& text, std::size_t at) {
  if (at + 6 > text.size()) return std::nullopt;
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    const int v = HexDigit(text[at + i]);
    if (v < 0) return std::nullopt;
    w = (w << 4) | static_cast<std::uint32_t>(v);
  }
  return w;
}

// The digit at `at` of a reply longer than `longer_than`; -1 when none.
int DigitOf(const std::optional<std::string>& reply, std::size_t at, std::size_t longer_than) {
  if (!reply || reply->size() <= longer_than || at >= reply->size()) return -1;
  return HexDigit((*reply)[at]);
}

// ---- card addresses ----

std::uint32_t ServoStatusAddress(const Device& d, std::int32_t m) {
  const auto k = static_cast<std::uint32_t>(m);
  if (d.spran()) return 0xB0 + 0x80 * k;
  return (d.block->BoardVariant == 2 ? 0x4F : 0x3D) + 0x3C * k;
}
std::uint32_t MotorStatusAddress(const Device& d, std::int32_t m) {
  const auto k = static_cast<std::uint32_t>(m);
  return d.spran() ? 0xC0 + 0x80 * k : 0x814 + 0xC0 * k;
}
enum class Position { kCommanded, kActual, kMaster, kCompensation };
std::uint32_t PositionAddress(const Device& d, Position p, std::int32_t m) {
  const auto k = static_cast<std::uint32_t>(m);
  if (d.spran()) {
    switch (p) {
      case Position::kCommanded:
        return 0x88 + 0x80 * k;
      case Position::kActual:
        return 0x8B + 0x80 * k;
      case Position::kMaster:
        return 0x8D + 0x80 * k;
      case Position::kCompensation:
        return 0x90 + 0x80 * k;
    }
  }
  switch (p) {
    case Position::kCommanded:
      return 0x28 + 0x3C * k;
    case Position::kActual:
      return 0x2B + 0x3C * k;
    case Position::kMaster:
      return 0x2D + 0x3C * k;
    case Position::kCompensation:
      return (d.block->CardType == 1 ? 0x46 : 0x4A) + 0x3C * k;
  }
  return 0;
}

// ---- ASCII forms ----

// A position word read as "RL$addr": the card's decimal answer, scaled by
// the motor's position factor.
double AsciiPosition(const Device& d, Position p, std::int32_t m, double scale,
                     std::uint32_t size) {
  char command[32];
  std::snprintf(command, sizeof command, "RL$%lx",
                static_cast<unsigned long>(PositionAddress(d, p, m)));
  const auto reply = Ask(d, command, size);
  if (!reply) return 0;
  return std::atof(reply->c_str()) * d.Factor(m) / scale;
}

// A motor query "#nX": the card's decimal answer over the scale.
double AsciiMotorValue(const Device& d, std::int32_t m, char what, double scale) {
  char command[32];
  std::snprintf(command, sizeof command, "#%d%c", m + 1, what);
  const auto reply = Ask(d, command, kWordReply);
  if (!reply) return 0;
  return std::atof(reply->c_str()) / scale;
}

// The servo (first) or motor (second) status word of a motor.
std::optional<std::uint32_t> AsciiMotorWord(const Device& d, std::int32_t m, bool servo) {
  char command[32];
  std::snprintf(command, sizeof command, servo ? "rhx:$%X" : "rhy:$%X",
                servo ? ServoStatusAddress(d, m) : MotorStatusAddress(d, m));
  const auto reply = Ask(d, command, kWordReply);
  if (!reply) return std::nullopt;
  return Word24(*reply, 0);
}

// The two status words of system cs (0-7) from the ^C reply.
std::optional<std::pair<std::uint32_t, std::uint32_t>> AsciiCoordWords(const Device& d,
                                                                       std::int32_t cs) {
  if (cs < 0 || cs > 7) return std::nullopt;
  const auto reply = AskControl(d, kCoordStatusChar, kCoordReply);
  if (!reply || reply->size() < kCoordReplyMin) return std::nullopt;
  const std::size_t at = kCoordText * static_cast<std::size_t>(cs);
  const auto first = Word24(*reply, at), second = Word24(*reply, at + 6);
  if (!first || !second) return std::nullopt;
  return std::make_pair(*first, *second);
}

// ---- the three ways of answering ----

// Scaled position-like query: DPR reader while the real-time copy is live
// (unless `ascii_only`), else the ASCII form.
template <typename Dpr, typename Ascii>
double RealTimeOrAscii(std::uint32_t number, std::int32_t m, double scale, bool ascii_only, Dpr dpr,
                       Ascii ascii) {
  if (scale == 0) return 0;
  const auto d = DeviceOf(number);
  if (!d || !d->Motor(m)) return 0;
  if (!ascii_only && d->RealTime()) return UnderCommandLock(*d, [&] { return dpr(); });
  return ascii(*d);
}

// A status bit of system cs: first word (first = true) or second word bit.
std::int32_t CoordBit(std::uint32_t number, std::int32_t cs, bool first, int bit,
                      std::int32_t (*dpr)(std::uint32_t, std::int32_t)) {
  const auto d = DeviceOf(number);
  if (!d || !d->System(cs)) return 0;
  if (d->Background()) return UnderCommandLock(*d, [&] { return dpr(number, cs); });
  const auto words = AsciiCoordWords(*d, cs);
  if (!words) return 0;
  const std::uint32_t w = first ? words->first : words->second;
  return static_cast<std::int32_t>((w >> bit) & 1u);
}

// A status bit of a motor: servo or motor word, at the generation's bit.
struct MotorBitSpec {
  bool servo_spran;
  int bit_spran;
  bool servo_older;
  int bit_older;
};
std::int32_t MotorBit(std::uint32_t number, std::int32_t m, MotorBitSpec spec,
                      std::int32_t (*dpr)(std::uint32_t, std::int32_t)) {
  const auto d = DeviceOf(number);
  if (!d || !d->Motor(m)) return 0;
  if (d->Background()) return UnderCommandLock(*d, [&] { return dpr(number, m); });
  const bool servo = d->spran() ? spec.servo_spran : spec.servo_older;
  const int bit = d->spran() ? spec.bit_spran : spec.bit_older;
  const auto w = AsciiMotorWord(*d, m, servo);
  return w ? static_cast<std::int32_t>((*w >> bit) & 1u) : 0;
}

// The digit of the global status reply holding an error flag, masked.
std::int32_t GlobalFlag(std::uint32_t number, std::size_t digit, std::size_t longer_than,
                        int mask) {
  const auto d = DeviceOf(number);
  if (!d) return 0;
  const int v = DigitOf(AskControl(*d, kGlobalStatusChar, kWordReply), digit, longer_than);
  return v < 0 ? 0 : (v & mask);
}

constexpr MotorBitSpec Servo(int bit) { return {true, bit, true, bit}; }
constexpr MotorBitSpec MotorWordBit(int bit) { return {false, bit, false, bit}; }

}  // namespace
}  // namespace zimo::corvan

using zimo::corvan::Device;
using zimo::corvan::DeviceOf;
using zimo::corvan::Position;

extern "C" {

int32_t ZimoGetGlobalStatus(uint32_t device, uint32_t* words) {
  using namespace zimo::corvan;
  const auto d = DeviceOf(device);
  if (!d || words == nullptr) return 0;
  const auto reply = AskControl(*d, kGlobalStatusChar, kWordReply);
  if (!reply || reply->size() <= 1) return 0;
  const auto first = Word24(*reply, 0), second = Word24(*reply, 6);
  if (!first || !second) return 0;
  words[0] = *first;
  words[1] = *second;
  return 1;
}

int32_t ZimoGetCoordStatus(uint32_t device, int32_t cs, uint32_t* words) {
  const auto d = DeviceOf(device);
  if (!d || words == nullptr) return 0;
  const auto pair = zimo::corvan::AsciiCoordWords(*d, cs);
  if (!pair) return 0;
  words[0] = pair->first;
  words[1] = pair->second;
  return 1;
}

int32_t ZimoGetMotorStatus(uint32_t device, int32_t m, uint32_t* words) {
  const auto d = DeviceOf(device);
  if (!d || words == nullptr || !d->Motor(m)) return 0;
  const auto servo = zimo::corvan::AsciiMotorWord(*d, m, true);
  const auto motor = zimo::corvan::AsciiMotorWord(*d, m, false);
  if (servo) words[0] = *servo;
  if (motor) words[1] = *motor;
  return servo || motor ? 1 : 0;
}

int32_t ZimoSysServoError(uint32_t d) { return zimo::corvan::GlobalFlag(d, 0, 1, 8); }
int32_t ZimoSysReEntryError(uint32_t d) { return zimo::corvan::GlobalFlag(d, 0, 1, 2); }
int32_t ZimoSysMemChecksumError(uint32_t d) { return zimo::corvan::GlobalFlag(d, 2, 3, 4); }
int32_t ZimoSysPromChecksumError(uint32_t d) { return zimo::corvan::GlobalFlag(d, 2, 3, 8); }

double ZimoGetCommandedPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::RealTimeOrAscii(
      device, m, scale, false, [&] { return ZimoDPRGetCommandedPos(device, m, scale); },
      [&](const Device& d) {
        return zimo::corvan::AsciiPosition(d, Position::kCommanded, m, scale,
                                           zimo::corvan::kShortReply);
      });
}

double ZimoPosition(uint32_t device, int32_t m, double scale) {
  const auto d = DeviceOf(device);
  const bool spran = d && d->spran();  // SPRAN cards are always asked
  return zimo::corvan::RealTimeOrAscii(
      device, m, scale, spran, [&] { return ZimoDPRPosition(device, m, scale); },
      [&](const Device& dev) {
        return zimo::corvan::AsciiPosition(dev, Position::kActual, m, scale,
                                           zimo::corvan::kShortReply);
      });
}

double ZimoNetActualPosition(uint32_t device, int32_t m, double scale) {
  if (scale == 0) return 0;
  const auto d = DeviceOf(device);
  if (!d || !d->Motor(m)) return 0;
  if (d->spran() && d->RealTime()) {
    return zimo::corvan::UnderCommandLock(
        *d, [&] { return ZimoDPRNetActualPosition(device, m, scale); });
  }
  double compensation = 0, master = 0;
  ZimoGetCompensationPos(device, m, scale, &compensation);
  ZimoGetMasterPos(device, m, scale, &master);
  return ZimoPosition(device, m, scale) + ZimoGetBiasPos(device, m, scale) + compensation - master;
}

double ZimoFollowError(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::RealTimeOrAscii(
      device, m, scale, false, [&] { return ZimoDPRFollowError(device, m, scale); },
      [&](const Device& d) { return zimo::corvan::AsciiMotorValue(d, m, 'F', scale); });
}

double ZimoGetVel(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::RealTimeOrAscii(
      device, m, scale, false, [&] { return ZimoDPRGetVel(device, m, scale); },
      [&](const Device& d) { return zimo::corvan::AsciiMotorValue(d, m, 'V', scale); });
}

void ZimoGetMasterPos(uint32_t device, int32_t m, double scale, double* out) {
  if (out == nullptr) return;
  *out = 0;
  *out = zimo::corvan::RealTimeOrAscii(
      device, m, scale, false,
      [&] {
        double v = 0;
        ZimoDPRGetMasterPos(device, m, scale, &v);
        return v;
      },
      [&](const Device& d) {
        return zimo::corvan::AsciiPosition(d, Position::kMaster, m, scale,
                                           zimo::corvan::kWordReply);
      });
}

void ZimoGetCompensationPos(uint32_t device, int32_t m, double scale, double* out) {
  if (out == nullptr) return;
  *out = 0;
  const auto d = DeviceOf(device);
  const bool spran = d && d->spran();
  *out = zimo::corvan::RealTimeOrAscii(
      device, m, scale, spran,
      [&] {
        double v = 0;
        ZimoDPRGetCompensationPos(device, m, scale, &v);
        return v;
      },
      [&](const Device& dev) {
        return zimo::corvan::AsciiPosition(dev, Position::kCompensation, m, scale,
                                           zimo::corvan::kWordReply);
      });
}

int32_t ZimoPe(uint32_t device, int32_t cs) {
  const auto d = DeviceOf(device);
  if (!d || !d->System(cs)) return 0;
  if (d->Background()) {
    return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRPe(device, cs); });
  }
  char command[32];
  std::snprintf(command, sizeof command, "&%uPE", static_cast<unsigned>(cs + 1));
  const auto reply = zimo::corvan::Ask(*d, command, zimo::corvan::kWordReply);
  if (!reply) return 0;
  const std::size_t colon = reply->find(':');
  if (colon == std::string::npos) return 0;
  return static_cast<int32_t>(std::atol(reply->c_str() + colon + 1));
}

int32_t ZimoProgRemaining(uint32_t device, int32_t cs) {
  const auto d = DeviceOf(device);
  if (!d || !d->System(cs)) return 0;
  if (d->Background()) {
    return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRProgRemaining(device, cs); });
  }
  if (cs > 7) return 0;
  char command[32];
  std::snprintf(command, sizeof command, "&%uPR", static_cast<unsigned>(cs + 1));
  const auto reply = zimo::corvan::Ask(*d, command, zimo::corvan::kWordReply);
  return reply ? static_cast<int32_t>(std::atol(reply->c_str())) : 0;
}

int32_t ZimoProgRunning(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, true, 0, ZimoDPRProgRunning);
}
int32_t ZimoProgStepping(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, true, 1, ZimoDPRProgStepping);
}
int32_t ZimoProgContMotion(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, true, 2, ZimoDPRProgContMotion);
}
int32_t ZimoProgContRequest(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, true, 4, ZimoDPRProgContRequest);
}
int32_t ZimoRotBufFull(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 16, ZimoDPRRotBufFull);
}
int32_t ZimoSysInposition(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 17, ZimoDPRSysInposition);
}
int32_t ZimoSysWarnFError(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 18, ZimoDPRSysWarnFError);
}
int32_t ZimoSysFatalFError(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 19, ZimoDPRSysFatalFError);
}
int32_t ZimoSysAmpFaultError(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 20, ZimoDPRSysAmpFaultError);
}
int32_t ZimoSysCircleRadError(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 21, ZimoDPRSysCircleRadError);
}
int32_t ZimoSysRunTimeError(uint32_t d, int32_t cs) {
  return zimo::corvan::CoordBit(d, cs, false, 22, ZimoDPRSysRunTimeError);
}

int32_t ZimoMotorEnabled(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::Servo(23), ZimoDPRMotorEnabled);
}
int32_t ZimoOnNegativeLimit(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::Servo(22), ZimoDPROnNegativeLimit);
}
int32_t ZimoOnPositiveLimit(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::Servo(21), ZimoDPROnPositiveLimit);
}
int32_t ZimoOpenLoop(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::Servo(18), ZimoDPROpenLoop);
}
int32_t ZimoDataBlock(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::Servo(14), ZimoDPRDataBlock);
}
int32_t ZimoHandwheelEnabled(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, {true, 4, true, 20}, ZimoDPRHandwheelEnabled);
}
int32_t ZimoPhasedMotor(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, {true, 6, true, 19}, ZimoDPRPhasedMotor);
}
int32_t ZimoAmpEnabled(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, {true, 19, false, 14}, ZimoDPRAmpEnabled);
}
int32_t ZimoInposition(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(0), ZimoDPRInposition);
}
int32_t ZimoWarnFError(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(1), ZimoDPRWarnFError);
}
int32_t ZimoFatalFError(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(2), ZimoDPRFatalFError);
}
int32_t ZimoAmpFault(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(3), ZimoDPRAmpFault);
}
int32_t ZimoHomeComplete(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(10), ZimoDPRHomeComplete);
}
int32_t ZimoOnPositionLimit(uint32_t d, int32_t m) {
  return zimo::corvan::MotorBit(d, m, zimo::corvan::MotorWordBit(11), ZimoDPROnPositionLimit);
}

double ZimoGetFeedRateMode(uint32_t device, int32_t cs, uint32_t* feed_rate_mode) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(
      *d, [&] { return ZimoDPRGetFeedRateMode(device, cs, feed_rate_mode); });
}

double ZimoGetTargetPos(uint32_t device, int32_t m, double scale) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRGetTargetPos(device, m, scale); });
}

double ZimoGetBiasPos(uint32_t device, int32_t m, double scale) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRGetBiasPos(device, m, scale); });
}

double ZimoGetAxisTargetPos(uint32_t device, int32_t cs, char axis) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRCommanded(device, cs, axis); });
}

int32_t ZimoTimeRemInMove(uint32_t device, int32_t cs) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRTimeRemInMove(device, cs); });
}

int32_t ZimoTimeRemInTATS(uint32_t device, int32_t cs) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return 0;
  return zimo::corvan::UnderCommandLock(*d, [&] { return ZimoDPRTimeRemInTATS(device, cs); });
}

void ZimoSetJogReturn(uint32_t device, int32_t m) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return;
  ZimoDPRSetJogReturn(device, m);  // takes the command lock, then the DPR lock
}

}  // extern "C"
