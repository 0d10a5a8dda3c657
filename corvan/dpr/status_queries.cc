// Status queries that pick their source on each call: the host copies of
// the fixed DPR buffers when the buffer carrying the value is live and this
// process can use the DPR, the card's ASCII answer otherwise. A DPR answer
// is read under the command lock (the reader then takes the DPR data lock
// inside it); an ASCII answer takes the lock inside the exchange.
#include "corvan/status_query_api.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "corvan/command_api.h"
#include "corvan/status_api.h"
#include "dpr/command_lock.h"
#include "dpr/hex_text.h"
#include "dpr/status_bits.h"
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
  CommandLock lock(d.number);
  return read();
}

// The reply an exchange reads into a buffer of `size`, or nothing when none
// was read. The text holds only what the card sent: no parse reads past it.
template <typename Exchange>
std::optional<std::string> ReplyOf(std::uint32_t size, Exchange exchange) {
  std::string buffer(size + 1, '\0');
  const std::uint32_t count = exchange(buffer.data());
  if (count == 0) return std::nullopt;
  buffer.resize(std::min(count, size));
  return buffer;
}

// The reply to the command that `format` and what follows it make.
__attribute__((format(printf, 3, 4))) std::optional<std::string> Ask(const Device& d,
                                                                     std::uint32_t size,
                                                                     const char* format, ...) {
  char command[32];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(command, sizeof command, format, args);
  va_end(args);
  return ReplyOf(size,
                 [&](char* buffer) { return ZimoGetResponseA(d.number, buffer, size, command); });
}

std::optional<std::string> AskControl(const Device& d, char character, std::uint32_t size) {
  return ReplyOf(size, [&](char* buffer) {
    return ZimoGetControlResponseA(d.number, buffer, size, character);
  });
}

// The 24-bit word of six hexadecimal digits at `at`.
std::optional<std::uint32_t> Word24(const std::string& text, std::size_t at) {
  return HexAt(text, at, 6);
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
  const auto reply = Ask(d, size, "RL$%lx", static_cast<unsigned long>(PositionAddress(d, p, m)));
  if (!reply) return 0;
  return std::atof(reply->c_str()) * d.Factor(m) / scale;
}

// A motor query "#nX": the card's decimal answer over the scale.
double AsciiMotorValue(const Device& d, std::int32_t m, char what, double scale) {
  const auto reply = Ask(d, kWordReply, "#%d%c", m + 1, what);
  if (!reply) return 0;
  return std::atof(reply->c_str()) / scale;
}

// The servo (first) or motor (second) status word of a motor.
std::optional<std::uint32_t> AsciiMotorWord(const Device& d, std::int32_t m, bool servo) {
  const auto reply = servo ? Ask(d, kWordReply, "rhx:$%X", ServoStatusAddress(d, m))
                           : Ask(d, kWordReply, "rhy:$%X", MotorStatusAddress(d, m));
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

// A coordinate-system query: DPR reader while the background copy is live,
// else the ASCII form; 0 for a system outside the card's range.
template <typename Dpr, typename Ascii>
std::int32_t BackgroundOrAscii(std::uint32_t number, std::int32_t cs, Dpr dpr, Ascii ascii) {
  const auto d = DeviceOf(number);
  if (!d || !d->System(cs)) return 0;
  if (d->Background()) return UnderCommandLock(*d, dpr);
  return ascii(*d);
}

// A status bit of system cs: the DPR reader's, or the bit of the ^C reply's
// first (program) or second word.
std::int32_t CoordBit(std::uint32_t number, std::int32_t cs, SystemWord word, int bit,
                      std::int32_t (*dpr)(std::uint32_t, std::int32_t)) {
  return BackgroundOrAscii(
      number, cs, [&] { return dpr(number, cs); },
      [&](const Device& d) -> std::int32_t {
        const auto words = AsciiCoordWords(d, cs);
        if (!words) return 0;
        const std::uint32_t w = word == SystemWord::kProgram ? words->first : words->second;
        return static_cast<std::int32_t>((w >> bit) & 1u);
      });
}

// A query the card answers only through the mailbox: its DPR reader under
// the command lock, or 0 (nothing) when the device uses another road.
template <typename Read>
auto ViaMailbox(std::uint32_t number, Read read) -> decltype(read()) {
  const auto d = DeviceOf(number);
  if (!d || !d->Mailbox()) return {};
  return UnderCommandLock(*d, read);
}

// A status bit of a motor, in the servo or motor word the card's generation
// keeps it in: the DPR reader's when the copy holding that word runs (the
// servo word is in the real-time copy, the motor word too on SPRAN cards
// and in the background copy on older ones), else the card's answer.
std::int32_t MotorBit(std::uint32_t number, std::int32_t m, MotorStatusBit at,
                      std::int32_t (*dpr)(std::uint32_t, std::int32_t)) {
  const auto d = DeviceOf(number);
  if (!d || !d->Motor(m)) return 0;
  const MotorWord word = d->spran() ? at.spran_word : at.older_word;
  const int bit = d->spran() ? at.spran_bit : at.older_bit;
  const bool in_real_time = word == MotorWord::kServo || d->spran();
  if (in_real_time ? d->RealTime() : d->Background()) {
    return UnderCommandLock(*d, [&] { return dpr(number, m); });
  }
  const auto w = AsciiMotorWord(*d, m, word == MotorWord::kServo);
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
  return zimo::corvan::BackgroundOrAscii(
      device, cs, [&] { return ZimoDPRPe(device, cs); },
      [&](const Device& d) -> int32_t {
        const auto reply =
            zimo::corvan::Ask(d, zimo::corvan::kWordReply, "&%uPE", static_cast<unsigned>(cs + 1));
        if (!reply) return 0;
        const std::size_t colon = reply->find(':');
        if (colon == std::string::npos) return 0;
        return static_cast<int32_t>(std::atol(reply->c_str() + colon + 1));
      });
}

int32_t ZimoProgRemaining(uint32_t device, int32_t cs) {
  return zimo::corvan::BackgroundOrAscii(
      device, cs, [&] { return ZimoDPRProgRemaining(device, cs); },
      [&](const Device& d) -> int32_t {
        if (cs > 7) return 0;
        const auto reply =
            zimo::corvan::Ask(d, zimo::corvan::kWordReply, "&%uPR", static_cast<unsigned>(cs + 1));
        return reply ? static_cast<int32_t>(std::atol(reply->c_str())) : 0;
      });
}

#define ZIMO_SYSTEM_BIT(Name, word, bit)                                                      \
  int32_t Zimo##Name(uint32_t d, int32_t cs) {                                                \
    return zimo::corvan::CoordBit(d, cs, zimo::corvan::SystemWord::word, bit, ZimoDPR##Name); \
  }
ZIMO_SYSTEM_STATUS_BITS(ZIMO_SYSTEM_BIT)
#undef ZIMO_SYSTEM_BIT

#define ZIMO_MOTOR_BIT(Name, spran_word, spran_bit, older_word, older_bit)          \
  int32_t Zimo##Name(uint32_t d, int32_t m) {                                       \
    using zimo::corvan::MotorWord;                                                  \
    return zimo::corvan::MotorBit(                                                  \
        d, m, {MotorWord::spran_word, spran_bit, MotorWord::older_word, older_bit}, \
        ZimoDPR##Name);                                                             \
  }
ZIMO_MOTOR_STATUS_BITS(ZIMO_MOTOR_BIT)
#undef ZIMO_MOTOR_BIT

double ZimoGetFeedRateMode(uint32_t device, int32_t cs, uint32_t* feed_rate_mode) {
  return zimo::corvan::ViaMailbox(
      device, [&] { return ZimoDPRGetFeedRateMode(device, cs, feed_rate_mode); });
}

double ZimoGetTargetPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::ViaMailbox(device, [&] { return ZimoDPRGetTargetPos(device, m, scale); });
}

double ZimoGetBiasPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::ViaMailbox(device, [&] { return ZimoDPRGetBiasPos(device, m, scale); });
}

double ZimoGetAxisTargetPos(uint32_t device, int32_t cs, char axis) {
  return zimo::corvan::ViaMailbox(device, [&] { return ZimoDPRCommanded(device, cs, axis); });
}

int32_t ZimoTimeRemInMove(uint32_t device, int32_t cs) {
  return zimo::corvan::ViaMailbox(device, [&] { return ZimoDPRTimeRemInMove(device, cs); });
}

int32_t ZimoTimeRemInTATS(uint32_t device, int32_t cs) {
  return zimo::corvan::ViaMailbox(device, [&] { return ZimoDPRTimeRemInTATS(device, cs); });
}

void ZimoSetJogReturn(uint32_t device, int32_t m) {
  const auto d = DeviceOf(device);
  if (!d || !d->Mailbox()) return;
  ZimoDPRSetJogReturn(device, m);  // takes the command lock, then the DPR lock
}

}  // extern "C"
