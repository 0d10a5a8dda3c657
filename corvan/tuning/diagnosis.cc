// Why a motor or a coordinate system does not move: a fixed list of card
// settings, the feed-rate override and the status words, each compared with
// a limit, one mask bit per finding; and the texts that explain a mask.
//
// A diagnosis changes nothing on the card (it closes an open buffer and puts
// back the motor and coordinate system it addressed) and holds the device's
// command lock across its questions, so no other client's command lands in
// the middle. A question the card does not answer reads as 0, which itself
// shows up as findings; after the first lost exchange nothing more is asked.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "corvan/command_api.h"
#include "corvan/errors.h"
#include "corvan/tuning_api.h"
#include "corvan/variables_api.h"
#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/variables.h"
#include "tuning/diagnosis.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

constexpr std::uint32_t kBadMotorNumber = 0x2000000;
constexpr std::uint32_t kBadSystemNumber = 0x1000;
constexpr char kNoFindings[] = "No motor error found.";
constexpr char kBadMotorForDefinition[] = "Invalid Motor Number Specified in iGetCoordSysDef";
constexpr char kBel = '\a';

std::uint32_t Bit(int b) { return std::uint32_t{1} << b; }

// The path of one diagnosis: once an exchange is lost (a time-out or a
// failure, not a card's error answer) the card is asked nothing more, and
// every later question reads as unanswered. A dead link so costs one
// time-out rather than one per try of every question, all under the lock.
class DiagnosisPath : public CardCommandPath {
 public:
  explicit DiagnosisPath(CardCommandPath& inner) : inner_(inner) {}
  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    if (lost_) {
      if (buffer != nullptr && size > 0) buffer[0] = '\0';
      return kStatusTimeout;
    }
    const std::uint32_t word = inner_.GetResponseEx(device, buffer, size, command);
    const std::uint32_t status = word & kStatusMask;
    if (status == kStatusTimeout || status == kStatusBadAck || status == kStatusFailure) {
      lost_ = true;
    }
    return word;
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t size) override {
    if (lost_) {
      if (buffer != nullptr && size > 0) buffer[0] = '\0';
      return 0;
    }
    return inner_.GetLine(device, buffer, size);
  }
  void SendCommand(int device, const char* command) override {
    if (!lost_) inner_.SendCommand(device, command);
  }
  void ChangeStore(int device, const char* text) override { inner_.ChangeStore(device, text); }
  void Lock(int device) override { inner_.Lock(device); }
  void Unlock(int device) override { inner_.Unlock(device); }

 private:
  CardCommandPath& inner_;
  bool lost_ = false;
};

// One exchange into `reply` (kReplyMax characters); the status word.
std::uint32_t Ask(CardCommandPath& path, int device, char* reply, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
std::uint32_t Ask(CardCommandPath& path, int device, char* reply, const char* format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  const bool composed = ComposeCommand(command, format, args);
  va_end(args);
  reply[0] = '\0';
  if (!composed) return kStatusFailure;
  return path.GetResponseEx(device, reply, kReplyMax, command);
}

// An answer that is a card error (or none) holds no value.
bool IsErrorReply(std::uint32_t status, const char* reply) {
  return (status & kStatusMask) == kStatusCardError || reply[0] == kBel;
}

// A reply read as a number: control characters out, '$' hexadecimal, else
// decimal; an error or no number reads as 0.
double ReplyNumber(std::uint32_t status, char* reply) {
  if (IsErrorReply(status, reply)) return 0.0;
  szStripControlCharA(reply);
  return VariableTextToDouble(reply);
}

// The number after an optional one-character prefix ("#3", "&2"); -1 when
// the reply holds none.
int AddressedNumber(std::uint32_t status, char* reply, char prefix) {
  if (IsErrorReply(status, reply)) return -1;
  szStripWhiteSpaceA(reply);
  const char* digits = reply[0] == prefix ? reply + 1 : reply;
  if (digits[0] < '0' || digits[0] > '9') return -1;
  return std::atoi(digits);
}

// The two 24-bit status words of a "?" or "??" reply: the first and the
// next six hexadecimal digits. An error or a short reply gives no bits.
void StatusWords(std::uint32_t status, char* reply, std::uint32_t* first, std::uint32_t* second) {
  *first = *second = 0;
  if (IsErrorReply(status, reply)) return;
  szStripControlCharA(reply);
  if (std::strlen(reply) < 6) return;
  *first = ParseHexDigits(reply, 6);
  *second = ParseHexDigits(reply + 6, 6);
}

std::int32_t ReadLong(CardCommandPath& path, int device, unsigned number) {
  return GetVariable32(path, device, 'I', number, 0);
}

// A setting read as text and held in single precision; a failed read is 0
// (never the text of an earlier question).
float ReadReal(CardCommandPath& path, int device, unsigned number) {
  char text[kVariableTextSize];
  if (QueryVariableText(path, device, 'I', number, text) == 0) return 0.0f;
  return static_cast<float>(VariableTextToDouble(text));
}

bool InSteps(std::uint32_t value, std::uint32_t base, std::uint32_t step, int count) {
  if (value < base) return false;
  return (value - base) % step == 0 && (value - base) / step < static_cast<std::uint32_t>(count);
}

// Whether Ixx02 is an output address the card type knows. Types without a
// list pass.
bool KnownOutputAddress(int card_type, std::int32_t ix02) {
  const std::uint32_t low16 = static_cast<std::uint32_t>(ix02) & 0xFFFF;
  const std::uint32_t low20 = static_cast<std::uint32_t>(ix02) & 0xFFFFF;
  static const std::uint32_t kBoards[] = {0x78000, 0x78100, 0x78200, 0x78300,
                                          0x79200, 0x79300, 0x7A200, 0x7A300};
  static const std::uint32_t kType8Boards[] = {0x78200, 0x78300, 0x79200, 0x79300,
                                               0x7A200, 0x7A300, 0x7B200, 0x7B300};
  auto any_of_boards = [low20](const std::uint32_t* boards, std::initializer_list<unsigned> offs) {
    for (int i = 0; i < 8; ++i) {
      for (unsigned o : offs) {
        if (low20 == boards[i] + o) return true;
      }
    }
    return false;
  };
  switch (card_type) {
    case 1:
      return InSteps(low16, 0xC002, 8, 8) || InSteps(low16, 0xC003, 8, 8);
    case 2:
      return InSteps(low16, 0xC002, 8, 8) || InSteps(low16, 0xC004, 8, 8);
    case 3:
      return InSteps(low16, 0xC0A0, 4, 8) || InSteps(low16, 0xC0A1, 4, 8);
    case 5:
      return any_of_boards(kBoards, {0x2, 0x3, 0xA, 0xB});
    case 6:
      return any_of_boards(kBoards, {0x2, 0xA, 0x12, 0x1A});
    case 7:
      for (std::uint32_t b : {0x78400u, 0x79400u, 0x7A400u, 0x7B400u}) {
        if (InSteps(low20, b + 0x20, 4, 8)) return true;
      }
      return false;
    case 8:
      return any_of_boards(kType8Boards, {0x2, 0xA, 0x12, 0x1A});
    default:
      return true;
  }
}

// Whether Ixx03 is a feedback address: the older cards' table at Y:$720 to
// $73F; on the newer cards their table by card type. Types without a list
// pass.
bool KnownFeedbackAddress(bool spran_form, int card_type, std::int32_t ix03) {
  if (!spran_form) return ix03 >= 0x720 && ix03 <= 0x73F;
  const std::uint32_t low20 = static_cast<std::uint32_t>(ix03) & 0xFFFFF;
  switch (card_type) {
    case 5:
    case 6:
    case 8:
      return low20 >= 0x3501 && low20 <= 0x3520;
    case 7:
      return InSteps(low20, 0x3502, 2, 32);
    default:
      return true;
  }
}

int LowestBit(std::uint32_t mask) {
  int b = 0;
  while ((mask & 1u) == 0) {
    mask >>= 1;
    ++b;
  }
  return b;
}

}  // namespace

std::uint32_t WhyMotorNotMoving(CardCommandPath& card_path, int device, int card_type,
                                bool spran_form, int motor) {
  const int last_motor = spran_form ? 32 : 8;
  if (motor < 1 || motor > last_motor) return kBadMotorNumber;
  DiagnosisPath path(card_path);
  const unsigned n = static_cast<unsigned>(motor) * 100;
  CommandPathLock lock(path, device);
  char reply[kReplyMax + 1];
  Ask(path, device, reply, "CLOSE");

  std::uint32_t mask = 0;
  auto flag = [&mask](int b, bool finding) {
    if (finding) mask |= Bit(b);
  };
  flag(0, ReadLong(path, device, spran_form ? n + 92 : 12) < 10);
  flag(1, ReadLong(path, device, n + 0) == 0);
  flag(2, !KnownOutputAddress(card_type, ReadLong(path, device, n + 2)));
  flag(3, !KnownFeedbackAddress(spran_form, card_type, ReadLong(path, device, n + 3)));
  const std::int32_t ix07 = ReadLong(path, device, n + 7);
  flag(4, ix07 == 0);
  flag(5, ix07 > 1000);
  const std::int32_t ix08 = ReadLong(path, device, n + 8);
  flag(6, ix08 == 0);
  flag(7, ix08 > 1000);
  const std::int32_t ix11 = ReadLong(path, device, n + 11);
  flag(8, ix11 != 0 && ix11 < 1600);
  flag(9, ReadReal(path, device, n + 16) < 0.001);
  const float ix17 = ReadReal(path, device, n + 17);
  flag(10, ix17 == 0.0f);
  flag(11, ix17 != 0.0f && ix17 < 0.001);
  const float ix19 = ReadReal(path, device, n + 19);
  flag(12, ix19 == 0.0f);
  flag(13, ix19 != 0.0f && ix19 < 0.001);
  flag(14, ReadLong(path, device, n + 20) > 60000);
  flag(15, ReadLong(path, device, n + 21) > 60000);
  flag(16, ReadReal(path, device, n + 22) < 0.001);
  flag(17, ReadLong(path, device, n + 30) < 2001);
  flag(18, ReadLong(path, device, n + 67) < 9600);
  flag(19, ReadLong(path, device, n + 69) < 8192);

  std::uint32_t status = Ask(path, device, reply, "%%");
  flag(20, ReplyNumber(status, reply) <= 10.0);

  Ask(path, device, reply, "#%d", motor);
  status = Ask(path, device, reply, "?");
  std::uint32_t servo = 0, word = 0;
  StatusWords(status, reply, &servo, &word);
  flag(21, (servo & Bit(21)) != 0);
  flag(22, (servo & Bit(22)) != 0);
  flag(23, (servo & Bit(18)) != 0);
  flag(24, (word & Bit(2)) != 0);
  flag(26, (word & Bit(3)) != 0);
  flag(27, (word & Bit(5)) != 0);
  flag(28, (word & Bit(6)) != 0);
  flag(29, (word & Bit(11)) != 0 && (mask & (Bit(22) | Bit(23))) == 0);
  return mask;
}

int GetCoordSysDef(CardCommandPath& path, int device, bool spran, int motor, char* out) {
  const int last_motor = spran ? 32 : 8;
  const int last_system = spran ? 16 : 8;
  if (out != nullptr) out[0] = '\0';
  if (motor < 1 || motor > last_motor) {
    if (out != nullptr) std::strcpy(out, kBadMotorForDefinition);
    return 0;
  }
  CommandPathLock lock(path, device);
  char reply[kReplyMax + 1];
  const int addressed = AddressedNumber(Ask(path, device, reply, "&"), reply, '&');
  int found = 0;
  for (int c = 1; c <= last_system && found == 0; ++c) {
    const std::uint32_t status = Ask(path, device, reply, "&%d#%d->", c, motor);
    // "0" is a motor without an axis there; no answer or an error is no
    // definition either.
    if (IsErrorReply(status, reply)) continue;
    szStripWhiteSpaceA(reply);
    if (reply[0] == '\0' || reply[0] == '0') continue;
    found = c;
    if (out != nullptr) std::strcpy(out, reply);
  }
  if (addressed >= 1) Ask(path, device, reply, "&%d", addressed);
  return found;
}

std::uint32_t WhyCSNotMoving(CardCommandPath& card_path, int device, bool spran_form, int system) {
  const int last_system = spran_form ? 16 : 8;
  if (system < 1 || system > last_system) return kBadSystemNumber;
  DiagnosisPath path(card_path);
  const unsigned s = (spran_form ? 5000u : 0u) + static_cast<unsigned>(system) * 100;
  char reply[kReplyMax + 1];
  std::uint32_t mask = 0;
  auto flag = [&mask](int b, bool finding) {
    if (finding) mask |= Bit(b);
  };

  path.Lock(device);
  Ask(path, device, reply, "CLOSE");
  Ask(path, device, reply, "&%d", system);
  flag(13, ReadLong(path, device, 10) < 250000);
  flag(0, ReadLong(path, device, 11) < 10);
  const std::int32_t i13 = ReadLong(path, device, spran_form ? s + 13 : 13);
  flag(1, i13 == 0);
  flag(2, i13 > 100);
  flag(3, ReadLong(path, device, s + 87) > 60000);
  flag(4, ReadLong(path, device, s + 88) > 60000);
  flag(5, ReadReal(path, device, s + 89) < 1.0);
  flag(6, ReadReal(path, device, s + 90) > 1000000.0);
  flag(7, ReadLong(path, device, s + 94) < 250);
  const float isx96 = ReadReal(path, device, s + 96);
  flag(8, isx96 > 0.0f && isx96 < 5.0);
  std::uint32_t status = Ask(path, device, reply, "%%");
  flag(9, ReplyNumber(status, reply) <= 10.0);
  Ask(path, device, reply, "pc");
  flag(10, reply[0] == kBel);

  int addressed_motor = -1;
  if (!spran_form) {
    status = Ask(path, device, reply, "ry$%x", 2072 + 192 * (system - 1));
    const auto fields = static_cast<std::uint32_t>(static_cast<std::int32_t>(
        IsErrorReply(status, reply) ? 0 : std::strtol(reply, nullptr, 10)));
    addressed_motor = AddressedNumber(Ask(path, device, reply, "#"), reply, '#');
    bool any = false;
    for (int m = 1; m <= 8; ++m) {
      Ask(path, device, reply, "#%d", m);
      any = any || ((fields >> (3 * (m - 1))) & 7u) != 0;
    }
    flag(11, !any);
  } else {
    char definition[kReplyMax + 1];
    bool any = false;
    for (int m = 1; m <= 32 && !any; ++m) {
      any = GetCoordSysDef(path, device, true, m, definition) == system;
    }
    flag(11, !any);
    // The last question runs under the per-exchange lock only.
    path.Unlock(device);
  }

  status = Ask(path, device, reply, "??");
  std::uint32_t first = 0, second = 0;
  StatusWords(status, reply, &first, &second);
  flag(14, (second & Bit(23)) != 0);
  flag(15, ((spran_form ? second : first) & Bit(22)) != 0);
  flag(16, (second & Bit(21)) != 0);
  flag(17, (second & Bit(20)) != 0);
  flag(18, (second & Bit(19)) != 0);
  flag(19, (second & Bit(18)) != 0);

  if (!spran_form) {
    if (addressed_motor >= 1) Ask(path, device, reply, "#%d", addressed_motor);
    path.Unlock(device);
  }
  return mask;
}

const char* WhyMotorText(std::uint32_t mask, bool spran) {
  if (mask == 0) return kNoFindings;
  const std::uint32_t base = spran ? 3600 : 3500;
  const int b = LowestBit(mask);
  // Bit 25 (a motor number out of range) has the text just before the
  // table; bits 26 to 29 the texts of the faults they report.
  std::uint32_t number = base + static_cast<std::uint32_t>(b);
  if (b == 25) number = base - 1;
  if (b >= 26 && b <= 29) number = base + static_cast<std::uint32_t>(b) - 1;
  return LoadLibraryString(number);
}

const char* WhyCSText(std::uint32_t mask, bool spran) {
  if (mask == 0) return kNoFindings;
  return LoadLibraryString((spran ? 4050u : 4000u) + static_cast<std::uint32_t>(LowestBit(mask)));
}

}  // namespace zimo::corvan::tuning

namespace {

using zimo::corvan::App;
using zimo::corvan::IndexFromDeviceNumber;
using zimo::corvan::IsRealDevice;
using zimo::corvan::LibraryCommandPath;
using zimo::corvan::SharedDeviceBlock;

struct DeviceKind {
  int card_type = 0;
  bool spran = false;
};

DeviceKind KindOf(int device) {
  DeviceKind kind;
  const SharedDeviceBlock* block = IsRealDevice(device) ? App().Block(device) : nullptr;
  if (block != nullptr) {
    kind.card_type = block->CardType;
    kind.spran = block->SpranFlag == 1;
  }
  return kind;
}

}  // namespace

extern "C" {

std::uint32_t whyMotorNotMoving(std::uint32_t device, std::int32_t motor) {
  const int d = IndexFromDeviceNumber(device);
  const DeviceKind kind = KindOf(d);
  return zimo::corvan::tuning::WhyMotorNotMoving(LibraryCommandPath(), d, kind.card_type,
                                                 kind.spran, motor);
}

std::uint32_t whyMotorNotMovingSPRAN(std::uint32_t device, std::int32_t motor) {
  const int d = IndexFromDeviceNumber(device);
  return zimo::corvan::tuning::WhyMotorNotMoving(LibraryCommandPath(), d, KindOf(d).card_type, true,
                                                 motor);
}

std::uint32_t whyCSNotMoving(std::uint32_t device, std::int32_t system) {
  const int d = IndexFromDeviceNumber(device);
  return zimo::corvan::tuning::WhyCSNotMoving(LibraryCommandPath(), d, KindOf(d).spran, system);
}

std::uint32_t whyCSNotMovingSPRAN(std::uint32_t device, std::int32_t system) {
  return zimo::corvan::tuning::WhyCSNotMoving(LibraryCommandPath(), IndexFromDeviceNumber(device),
                                              true, system);
}

const char* whyMotorNotMovingString(std::uint32_t mask) {
  return zimo::corvan::tuning::WhyMotorText(mask, false);
}

const char* whyMotorNotMovingStringSPRAN(std::uint32_t mask) {
  return zimo::corvan::tuning::WhyMotorText(mask, true);
}

const char* whyCSNotMovingString(std::uint32_t mask) {
  return zimo::corvan::tuning::WhyCSText(mask, false);
}

const char* whyCSNotMovingStringSPRAN(std::uint32_t mask) {
  return zimo::corvan::tuning::WhyCSText(mask, true);
}

std::int32_t iGetCoordSysDef(std::uint32_t device, std::int32_t motor, char* definition) {
  const int d = IndexFromDeviceNumber(device);
  return zimo::corvan::tuning::GetCoordSysDef(LibraryCommandPath(), d, KindOf(d).spran, motor,
                                              definition);
}

}  // extern "C"
