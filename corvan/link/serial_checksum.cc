#include "link/serial_checksum.h"

#include <cstring>

#include "corvan/command_api.h"
#include "link/card_text.h"
#include "link/device_lock.h"
#include "link/library_app.h"
#include "link/serial_transport.h"
#include "platform/clock.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

constexpr unsigned char kLastControlCharacter = 26;
// The card's echo of Ctrl-X comes behind at most this much pending output.
constexpr int kResetDrainLimit = 255;
constexpr std::uint32_t kSumWaitMs = 5;
constexpr std::uint32_t kSwitchScratchMax = 255;

constexpr std::uint32_t kErrCardErrorWithoutNumber = 3;
constexpr std::uint32_t kErrLineTooLong = 28;
constexpr std::uint32_t kErrResponseFilledBuffer = 54;
constexpr std::uint32_t kErrBadLineChecksum = 75;
constexpr std::uint32_t kErrBadAcknowledge = 76;
constexpr std::uint32_t kErrUserCancelled = 80;

constexpr char kSwitchOnLine[] = "CLOSE I3=2 I6=1 I4=1";
constexpr char kSwitchOffLine[] = "I4=0";
constexpr char kBadChecksumTitle[] = "Bad Checksum";
constexpr char kBadChecksumText[] =
    "Checksum communications error, Bad Data on Transmit to ZIMO. Retried 5 times already! Do "
    "you want to retry again?";

// The line reader's status for a good line.
constexpr std::uint32_t kGoodLine = 1;

SharedDeviceBlock* BlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}

void SetLastError(int device, std::uint32_t code) {
  if (SharedDeviceBlock* block = BlockOf(device)) block->SerialLastError = code;
}

std::uint32_t LastError(int device) {
  const SharedDeviceBlock* block = BlockOf(device);
  return block != nullptr ? block->SerialLastError : 0;
}

// The record of the card behind a device number: its link's home device's,
// shared by every device number on the port.
SharedDeviceBlock* CardBlockOf(int device) {
  const int home = LinkHomeDevice(device);
  if (home != device && IsRealDevice(home)) {
    if (SharedDeviceBlock* block = App().Block(home)) return block;
  }
  return BlockOf(device);
}

bool IsControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= kLastControlCharacter;
}

// Makes the card drop a partial line and its pending output before a
// command goes out again: Ctrl-X, then everything up to its echo. A plain
// flush sends nothing while no input waits, and the card would then add the
// repeated text to what it holds.
// The error of the attempt that failed stays for the caller.
void ResetCardLine(int device) {
  const std::uint32_t error = LastError(device);
  SerFlush(device);
  if (SerSendChar(device, kCtrlX) == 1) {
    for (int i = 0; i < kResetDrainLimit; ++i) {
      char c = 0;
      if (SerReadCharTimed(device, &c) != 1 || c == kCtrlX) break;
    }
  }
  SetLastError(device, error);
}

// A response longer than the caller's buffer, which holds its first `max`
// characters: the rest is dropped from the line.
std::uint32_t CutResponse(int device, std::uint32_t max) {
  SetLastError(device, kErrResponseFilledBuffer);
  ResetCardLine(device);
  return kStatusFailure | max;
}

// The card's error number: the first decimal digits after the BEL.
bool ErrorNumberAfterBel(const char* text, std::uint32_t length, std::uint32_t* number) {
  const char* bel = static_cast<const char*>(std::memchr(text, kBel, length));
  if (bel == nullptr) return false;
  const char* end = text + length;
  const char* p = bel + 1;
  while (p < end && (*p < '0' || *p > '9')) ++p;
  if (p == end) return false;
  std::uint32_t value = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
  *number = value;
  return true;
}

class ChecksumSerialChannelImpl final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int device, char c) override { return SerSendChar(device, c); }
  std::uint32_t SendLine(int device, const char* text) override {
    return ZimoSERCheckSendLineA(Dev(device), text);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                        std::uint32_t* count) override {
    const std::uint32_t status = ZimoSERCheckGetLineA(Dev(device), buffer, max, count);
    // A good line is a CR-ended line of the command API.
    return status == kGoodLine ? kStatusLine : status;
  }
  std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) override {
    return SerGetBuffer(device, buffer, max, count);
  }
  std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                            const char* command) override {
    return ZimoSERCheckResponseA(Dev(device), buffer, max, command);
  }
  std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) override {
    const char command[2] = {c, 0};
    return ZimoSERCheckResponseA(Dev(device), buffer, max, command);
  }
  std::uint32_t ReadReady(int device) override { return SerReadReady(device); }
  bool Flush(int device) override {
    SerFlush(device);
    return true;
  }
  std::int32_t LastError(int device) override {
    return static_cast<std::int32_t>(zimo::corvan::LastError(device));
  }
  void SetLastError(int device, std::int32_t code) override {
    zimo::corvan::SetLastError(device, static_cast<std::uint32_t>(code));
  }

 private:
  static std::uint32_t Dev(int device) { return static_cast<std::uint32_t>(device); }
};

}  // namespace

std::uint8_t CardChecksum(const char* text, std::uint32_t length) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum += static_cast<std::uint8_t>(text[i]);
  return sum;
}

bool ChecksumsOn(int device) {
  const SharedDeviceBlock* block = CardBlockOf(device);
  return block != nullptr && block->SerialChecksumMode != 0;
}

void RecordChecksumMode(int device, bool on) {
  if (SharedDeviceBlock* block = CardBlockOf(device)) block->SerialChecksumMode = on ? 1 : 0;
}

AsciiChannel& ChecksumSerialChannel() {
  static ChecksumSerialChannelImpl channel;
  return channel;
}

int SetSerialChecksums(int d, int on) {
  DeviceUserHandle* user = IsRealDevice(d) ? App().User(d) : nullptr;
  if (user == nullptr) return 1;
  DeviceLock lock(d);
  char scratch[kSwitchScratchMax + 1];
  const char* line = on != 0 ? kSwitchOnLine : kSwitchOffLine;
  SerGetResponse(d, scratch, kSwitchScratchMax, line);
  App().rings().ChangeStore(static_cast<std::uint32_t>(d), line);
  // A moment for the card to take up the new mode before the first
  // checksummed line.
  if (on != 0) zimo::platform::SleepMs(1);
  RecordChecksumMode(d, on != 0);
  return 1;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;  // NOLINT: the exports below are the library's own

extern "C" {

std::int32_t ZimoSERDoChecksums(std::uint32_t device, std::int32_t on) {
  return SetSerialChecksums(IndexFromDeviceNumber(device), on);
}

std::uint32_t ZimoSERCheckSendLineA(std::uint32_t device, const char* text) {
  const int d = IndexFromDeviceNumber(device);
  SetLastError(d, 0);
  DeviceUserHandle* user = IsRealDevice(d) ? App().User(d) : nullptr;
  if (user == nullptr || text == nullptr) return 0;
  if (IsControlCharacter(text[0])) {
    SerialStateOf(*user).LastChecksum = static_cast<unsigned char>(text[0]);
    return SerSendChar(d, text[0]);
  }
  const std::size_t length = std::strlen(text);
  if (length > kChecksumLineMax) {
    // The card would be asked for the sum of a text it never got whole.
    SetLastError(d, kErrLineTooLong);
    return 0;
  }
  const std::uint8_t sum = CardChecksum(text, static_cast<std::uint32_t>(length));
  int failures = 0;
  for (;;) {
    for (std::size_t i = 0; i < length; ++i) {
      if (SerSendChar(d, text[i]) != 1) return 0;
    }
    zimo::platform::SleepMs(kSumWaitMs);
    if (SerSendChar(d, kCtrlN) != 1) return 0;
    char answer = 0;
    if (SerReadCharTimed(d, &answer) == 1 && static_cast<std::uint8_t>(answer) == sum) {
      if (SerSendChar(d, kCr) != 1) return 0;
      SerialStateOf(*user).LastChecksum = sum;
      return 1;
    }
    ResetCardLine(d);
    if (++failures < kChecksumTriesBeforeAsking) continue;
    if (App().server_build()) {
      SetLastError(d, kErrUserCancelled);
      return 0;
    }
    // Cancel is the default: a box nobody answers ends the exchange instead
    // of retrying for ever under the device lock.
    const int choice = zimo::platform::ShowMessageBox(
        kBadChecksumText, kBadChecksumTitle,
        zimo::platform::kMbOkCancel | zimo::platform::kMbDefButton2 | zimo::platform::kMbTopmost);
    if (choice != zimo::platform::kIdOk) {
      SetLastError(d, kErrUserCancelled);
      return 0;
    }
    failures = 0;
  }
}

std::uint32_t ZimoSERCheckGetLineA(std::uint32_t device, char* buffer, std::uint32_t max,
                                   std::uint32_t* count) {
  const int d = IndexFromDeviceNumber(device);
  std::uint32_t ignored = 0;
  if (count == nullptr) count = &ignored;
  *count = 0;
  DeviceLock lock(d);
  DeviceUserHandle* user = IsRealDevice(d) ? App().User(d) : nullptr;
  if (user == nullptr || buffer == nullptr) return kStatusFailure;
  buffer[0] = 0;
  if (max == 0) return kStatusFailure;

  std::uint32_t n = 0;
  std::uint8_t sum = 0;
  bool card_error = false;
  while (n < max) {
    char c = 0;
    if (SerReadCharTimed(d, &c) != 1) {
      buffer[n] = 0;
      *count = n;
      return kStatusTimeout;
    }
    if (n == 0 && c == kAck) {
      // The end of the response: the card repeats the sum it confirmed.
      char echoed = 0;
      if (SerReadCharTimed(d, &echoed) != 1) return kStatusTimeout;
      if (static_cast<std::uint8_t>(echoed) ==
          static_cast<std::uint8_t>(SerialStateOf(*user).LastChecksum)) {
        return kStatusAck;
      }
      SetLastError(d, kErrBadAcknowledge);
      return kStatusBadAck;
    }
    buffer[n++] = c;
    sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    if (c == kBel) card_error = true;
    if (c == kCr) break;
  }
  buffer[n] = 0;
  *count = n;

  if (buffer[0] == kStx) {
    App().rings().StoreUSResponse(device, buffer + 1, n - 1);
    buffer[0] = 0;
    *count = 0;
    return kStatusUnsolicited;
  }
  if (card_error) {
    std::uint32_t number = 0;
    if (!ErrorNumberAfterBel(buffer, n, &number)) {
      SetLastError(d, kErrCardErrorWithoutNumber);
    } else if (n > 3) {
      SetLastError(d, number);
    }
    return kStatusCardError;
  }
  if (buffer[n - 1] != kCr) {
    // The line does not fit: its sum byte is still to come, behind the rest.
    SetLastError(d, kErrLineTooLong);
    return kStatusFailure;
  }
  char line_sum = 0;
  if (SerReadCharTimed(d, &line_sum) == 1 && static_cast<std::uint8_t>(line_sum) == sum) {
    return kGoodLine;
  }
  SetLastError(d, kErrBadLineChecksum);
  return kStatusFailure;
}

std::uint32_t ZimoSERCheckResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                    const char* command) {
  const int d = IndexFromDeviceNumber(device);
  SetLastError(d, 0);
  if (buffer == nullptr || command == nullptr) return kStatusFailure;
  buffer[0] = 0;
  if (command[0] == 0) return 1;
  if (max == 0) {
    // The answer would have nowhere to go: the command is not sent.
    SetLastError(d, kErrLineTooLong);
    return kStatusFailure;
  }
  DeviceLock lock(d);
  SerBeginExchange(d);
  std::uint32_t status = kStatusBadAck;
  std::uint32_t left = max;
  bool done = false;
  for (int attempt = 0; attempt < kChecksumExchangeAttempts && !done; ++attempt) {
    if (ZimoSERCheckSendLineA(device, command) == 0) {
      status = kStatusBadAck;
      // The user gave up: asking again on the next attempt would not help.
      if (LastError(d) == kErrUserCancelled) break;
      ResetCardLine(d);
      continue;
    }
    char* p = buffer;
    left = max;
    std::uint32_t count = 0;
    status = kGoodLine;
    while (left > 0) {
      count = 0;
      status = ZimoSERCheckGetLineA(device, p, left, &count);
      if ((status & kStatusAck) != 0) break;
      // Lines lie back to back; an unsolicited one stores nothing.
      left -= count;
      p += count;
    }
    // The count is the characters stored, the error reply's too.
    if ((status & kStatusMask) == kStatusCardError) return status | (max - left + count);
    if (left == 0 && status == kGoodLine) {
      // The buffer is full: the response fitted only if its end comes next.
      char scratch[kChecksumLineMax + 1];
      std::uint32_t more = 0;
      status = ZimoSERCheckGetLineA(device, scratch, kChecksumLineMax, &more);
      // A time-out or a spoilt acknowledge or sum is tried again as
      // always; any more text means the response did not fit.
      const bool spoilt = status == kStatusTimeout || status == kStatusBadAck ||
                          (status == kStatusFailure && LastError(d) == kErrBadLineChecksum);
      if (status != kStatusAck && !spoilt) return CutResponse(d, max);
    }
    if ((status & kErrorBits) == 0) {
      done = true;
      break;
    }
    if (status == kStatusFailure && LastError(d) == kErrLineTooLong && count == left) {
      // The response is longer than the buffer: sending the command again
      // would run it again and end the same way.
      return CutResponse(d, max);
    }
    ResetCardLine(d);
  }
  if (!done) return status & kStatusMask;
  return kStatusAck | (max - left);
}

std::uint32_t ZimoSerCheckAllWentWell(std::uint32_t device, std::uint32_t status, char* buffer,
                                      std::uint8_t checksum) {
  const std::uint32_t top = status & kStatusMask;
  if (top == kStatusTimeout || top == kStatusFailure || top == kStatusCardError) return status;
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  if (top != kStatusAck) return status;
  if (buffer == nullptr) {
    SetLastError(d, kErrBadAcknowledge);
    return 0;
  }
  const auto byte = static_cast<std::uint8_t>(buffer[0]);
  buffer[0] = 0;
  if (byte != checksum) {
    SetLastError(d, kErrBadAcknowledge);
    return 0;
  }
  return status;
}

}  // extern "C"
