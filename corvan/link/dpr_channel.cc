#include "link/dpr_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "corvan/dpr_channel_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/card_text.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "link/response_lines.h"
#include "link/transport.h"
#include "platform/codepage.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kLineTextSize = sizeof(drivers::LineIoBlock::text);  // 256
constexpr std::uint32_t kMaxCommand = 255;
constexpr int kFlushReads = 5;
constexpr std::uint32_t kFlushScratchMax = 256;
constexpr std::uint32_t kReplyMax = 63;

int Dev(std::uint32_t device) { return IndexFromDeviceNumber(device); }

platform::IoControlResult Ioctl(int device, std::uint32_t code, const void* in,
                                std::uint32_t in_size, void* out, std::uint32_t out_size) {
  return DriverIoctl(device, code, in, in_size, out, out_size);
}

struct Line {
  std::uint32_t status = kStatusFailure;
  std::uint32_t count = 0;
  bool cut = false;  // the text did not fit the caller's buffer
};

// Copies a mailbox text of `n` characters into a buffer of max + 1, with
// the CR the mailbox leaves off when `cr_wanted`: the CR is part of the
// line, so a line whose CR does not fit is cut too (a failure with what
// fitted).
Line StoreText(const char* text, std::uint32_t n, char* buffer, std::uint32_t max,
               std::uint32_t status, bool cr_wanted = true) {
  Line line;
  line.status = status;
  const bool with_cr = cr_wanted && n > 0;
  const std::uint32_t length = with_cr ? n + 1 : n;
  const std::uint32_t stored = std::min(length, max);
  std::memcpy(buffer, text, std::min(n, stored));
  if (with_cr && stored == length) buffer[n] = kCr;
  buffer[stored] = 0;
  line.count = stored;
  if (length > max) {
    line.status = kStatusFailure;
    line.cut = true;
  }
  return line;
}

// The characters of a driver record's text.
std::uint32_t TextLength(const drivers::LineIoBlock& block) {
  return std::min<std::uint32_t>(block.count,
                                 static_cast<std::uint32_t>(strnlen(block.text, kLineTextSize)));
}

Line ReadLine(int device, char* buffer, std::uint32_t max) {
  drivers::LineIoBlock block{};
  block.requested = std::min(max, kLineTextSize);
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DPR_GET_LINE, &block, sizeof block, &block, sizeof block);
  if (!r.ok || r.bytes_returned != sizeof block) return Line{};
  block.text[kLineTextSize - 1] = 0;
  const std::uint32_t n = TextLength(block);
  const std::uint32_t status = block.status & kStatusMask;
  if (status == kStatusUnsolicited) {
    // The card's own message, with the CR that ends a ring record.
    std::string record(block.text, n);
    record.push_back(kCr);
    App().rings().StoreUSResponse(static_cast<std::uint32_t>(device), record.data(),
                                  static_cast<std::uint32_t>(record.size()));
    buffer[0] = 0;
    Line line;
    line.status = kStatusUnsolicited;
    return line;
  }
  return StoreText(block.text, n, buffer, max, status);
}

// Lines back to back until one with the top status bit; a max of 0 reads
// nothing and reports failure.
std::uint32_t Collect(int device, char* buffer, std::uint32_t max, std::uint32_t* count) {
  std::uint32_t position = 0;
  std::uint32_t status = kStatusFailure;
  buffer[0] = 0;
  while (position < max) {
    const Line line = ReadLine(device, buffer + position, max - position);
    status = line.status;
    if (line.cut) {
      position += line.count;
      break;
    }
    if ((status & kStatusAck) != 0) break;
    if (status != kStatusUnsolicited) position += line.count;
  }
  *count = position;
  return status & kStatusMask;
}

bool BadCommand(const char* text) {
  return text == nullptr || strnlen(text, kMaxCommand + 1) > kMaxCommand;
}

// A reply's text without its line end.
std::string Exchange(CardCommandPath& path, int device, const char* command) {
  char reply[kReplyMax + 1] = {};
  const std::uint32_t word = path.GetResponseEx(device, reply, sizeof reply, command);
  if ((word & kErrorBits) != 0) return {};
  std::string text(reply);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

// A reply that is one hexadecimal card word ("1A2B3C").
bool IsHexWord(const std::string& text) {
  if (text.empty() || text.size() > 12) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
}

bool HoldsPattern(const std::string& reply) {
  return reply.size() > 1 && reply.find("AAAA", 1) != std::string::npos;
}

class DprMailboxChannelImpl final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int device, char c) override {
    return static_cast<std::uint32_t>(DprSendChar(device, c));
  }
  std::uint32_t SendLine(int device, const char* text) override {
    return static_cast<std::uint32_t>(ZimoDPRSendLineA(static_cast<std::uint32_t>(device), text));
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                        std::uint32_t* count) override {
    return ZimoDPRGetLineA(static_cast<std::uint32_t>(device), buffer, max, count);
  }
  std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) override {
    return ZimoDPRGetBufferA(static_cast<std::uint32_t>(device), buffer, max, count);
  }
  std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                            const char* command) override {
    return ZimoDPRGetResponseA(static_cast<std::uint32_t>(device), buffer, max, command);
  }
  std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) override {
    return ZimoDPRGetControlResponseA(static_cast<std::uint32_t>(device), buffer, max, c);
  }
  std::uint32_t ReadReady(int device) override { return DprReadReady(device); }
  bool Flush(int device) override {
    ZimoDPRFlush(static_cast<std::uint32_t>(device));
    return true;
  }
  std::int32_t LastError(int device) override {
    const std::int32_t own = LinkErrorOf(device);
    return own != 0 ? own : DprLastError(device);
  }
  void SetLastError(int device, std::int32_t code) override { SetLinkError(device, code); }
};

}  // namespace

std::int32_t DprSendChar(int device, char c) {
  if (!HasDriverDevice(device)) return 0;
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DPR_SEND_CHAR, &c, 1, nullptr, 0);
  return r.ok ? static_cast<std::int32_t>(r.bytes_returned) : kDprSendFailed;
}

std::int32_t DprSendCtrlChar(int device, char c) {
  if (!HasDriverDevice(device)) return 0;
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DPR_SEND_CONTROL, &c, 1, nullptr, 0);
  return r.ok ? static_cast<std::int32_t>(r.bytes_returned) : kDprSendFailed;
}

std::uint32_t DprReadReady(int device) {
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DPR_READ_READY, nullptr, 0, nullptr, 0);
  return r.ok && r.bytes_returned != 0 ? 1 : 0;
}

std::int32_t DprLastError(int device) {
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DPR_GET_ERROR, nullptr, 0, nullptr, 0);
  if (!r.ok) return 0;
  const auto code = static_cast<std::int16_t>(r.bytes_returned & 0xFFFF);
  if (SharedDeviceBlock* block = App().Block(device)) block->DprLastError = code;
  return code;
}

int TestDprByCommands(CardCommandPath& path, int device, std::int32_t card_type) {
  CommandPathLock lock(path, device);
  // I9 and the borrowed word are changed only when they can be put back.
  char i9_text[kVariableTextSize] = {};
  if (QueryVariableText(path, device, 'I', 9, i9_text) == 0) return 0;
  const std::int32_t old_i9 = VariableTextToLong(i9_text);
  SetVariable32(path, device, 'I', 9, 2, true);
  int available = 0;
  if (card_type > 4) {
    const std::string first = Exchange(path, device, "rhx$320f");
    const std::string second = Exchange(path, device, "rhx$3210");
    if (!first.empty() && !second.empty()) {
      const long size =
          (std::strtol(second.c_str(), nullptr, 16) - std::strtol(first.c_str(), nullptr, 16)) * 4;
      available = size != 0 ? 1 : 0;
    }
  } else {
    char command[64];
    std::snprintf(command, sizeof command, "rhy$%X", kDprPatternAddress);
    const std::string saved_y = Exchange(path, device, command);
    std::snprintf(command, sizeof command, "rhx$%X", kDprPatternAddress);
    const std::string saved_x = Exchange(path, device, command);
    // The word belongs to the card's control panel: it is borrowed only
    // when it can be given back.
    if (IsHexWord(saved_y) && IsHexWord(saved_x)) {
      std::snprintf(command, sizeof command, "wl$%X,$AAAAAAAAAAAA", kDprPatternAddress);
      path.SendCommand(device, command);
      std::snprintf(command, sizeof command, "rhy$%X", kDprPatternAddress);
      const std::string y = Exchange(path, device, command);
      std::snprintf(command, sizeof command, "rhx$%X", kDprPatternAddress);
      const std::string x = Exchange(path, device, command);
      std::snprintf(command, sizeof command, "wy$%X,$%s", kDprPatternAddress, saved_y.c_str());
      path.SendCommand(device, command);
      std::snprintf(command, sizeof command, "wx$%X,$%s", kDprPatternAddress, saved_x.c_str());
      path.SendCommand(device, command);
      available = HoldsPattern(y) && HoldsPattern(x) ? 1 : 0;
    }
  }
  SetVariable32(path, device, 'I', 9, old_i9, true);
  return available;
}

AsciiChannel& DprMailboxChannel() {
  static DprMailboxChannelImpl channel;
  return channel;
}

int RefreshDprAvailable(int d) {
  if (!IsRealDevice(d)) return 0;
  DeviceUserHandle* user = App().User(d);
  const SharedDeviceBlock* block = App().Block(d);
  user->DprAvailable = 0;
  Transport* transport = TransportOf(d);
  if (block == nullptr || user->Transport == nullptr || transport == nullptr) return 0;
  user->DprAvailable = static_cast<std::uint32_t>(transport->TestDprAvailable(d, *block));
  return static_cast<int>(user->DprAvailable);
}

}  // namespace zimo::corvan

using zimo::corvan::Dev;

extern "C" {

std::uint32_t LockZimoDPR(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (!IsRealDevice(d)) return 0;
  zimo::platform::NamedMutex& mutex = App().User(d)->DprDataMutex;
  if (!mutex.valid()) return 0;
  const zimo::platform::Status taken = mutex.Lock();
  if (taken.ok()) return kWaitObject0;
  return taken.code() == zimo::platform::Code::kAbandoned ? kWaitAbandoned : kWaitFailed;
}

std::int32_t ReleaseZimoDPR(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (!IsRealDevice(d)) return 0;
  zimo::platform::NamedMutex& mutex = App().User(d)->DprDataMutex;
  return mutex.valid() && mutex.Unlock().ok() ? 1 : 0;
}

std::int32_t ZimoDPRAvailable(std::uint32_t device) {
  return zimo::corvan::RefreshDprAvailable(Dev(device));
}

std::int32_t ZimoDPRComm(std::uint32_t device, std::int32_t on) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (!IsRealDevice(d)) return 0;
  const int available = RefreshDprAvailable(d);
  SharedDeviceBlock* block = App().Block(d);
  if (block == nullptr) return 0;
  if (available == 0) {
    block->DprAsciiEnabled = 0;
    return 0;
  }
  if (on != 0) {
    if (block->CardType == 2 || block->CardType == 3) {
      ZimoSendCommandA(device, "I56=0");
      App().rings().ChangeStore(device, "I56=0");
    }
    ZimoSendCommandA(device, "I58=1");
    App().rings().ChangeStore(device, "I58=1");
    block->DprAsciiEnabled = 1;
  } else {
    ZimoSendCommandA(device, "i58=0");
    ZimoSendCommandA(device, "i56=0");
    App().rings().ChangeStore(device, "I56=0 I58=0");
    block->DprAsciiEnabled = 0;
  }
  return 1;
}

std::int32_t ZimoDPRFlush(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  char scratch[kFlushScratchMax + 1];
  for (int i = 0; i < kFlushReads && DprReadReady(d) != 0; ++i) {
    std::uint32_t n = 0;
    ZimoDPRGetBufferA(device, scratch, kFlushScratchMax, &n);
  }
  const zimo::platform::IoControlResult r =
      Ioctl(d, zimo::drivers::IOCTL_ZIMO_DPR_FLUSH, nullptr, 0, nullptr, 0);
  return r.ok ? 1 : 0;
}

std::int32_t ZimoDPRSendLineA(std::uint32_t device, const char* text) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (!HasDriverDevice(d)) return 0;
  // The driver keeps 159 characters; a line that would not even fit the
  // channel's own 255 is refused here, before anything reaches the card.
  if (BadCommand(text)) {
    SetLinkError(d, text != nullptr ? kLinkErrLineTooLong : kLinkErrUnknown);
    return kDprSendFailed;
  }
  const auto length = static_cast<std::uint32_t>(std::strlen(text));
  const zimo::platform::IoControlResult r =
      Ioctl(d, zimo::drivers::IOCTL_ZIMO_DPR_SEND_LINE, text, length + 1, nullptr, 0);
  return r.ok ? static_cast<std::int32_t>(r.bytes_returned) : kDprSendFailed;
}

std::int32_t ZimoDPRSendLineW(std::uint32_t device, const char16_t* text) {
  zimo::platform::NarrowText narrow(text);
  return ZimoDPRSendLineA(device, narrow.c_str());
}

std::int32_t ZimoDPRSendCommandA(std::uint32_t device, const char* text) {
  ZimoDPRFlush(device);
  return ZimoDPRSendLineA(device, text);
}

std::int32_t ZimoDPRSendCommandW(std::uint32_t device, const char16_t* text) {
  zimo::platform::NarrowText narrow(text);
  return ZimoDPRSendCommandA(device, narrow.c_str());
}

std::uint32_t ZimoDPRGetLineA(std::uint32_t device, char* buffer, std::uint32_t max,
                              std::uint32_t* count) {
  using namespace zimo::corvan;
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return kStatusFailure;
  buffer[0] = 0;
  // With no room the posted line would be taken from the card and lost.
  if (max == 0) return kStatusFailure;
  const Line line = ReadLine(Dev(device), buffer, max);
  if (count != nullptr) *count = line.count;
  return line.status;
}

std::uint32_t ZimoDPRGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                              std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return zimo::corvan::kStatusFailure;
  std::string narrow(static_cast<std::size_t>(max) + 1, '\0');
  const std::uint32_t status = ZimoDPRGetLineA(device, narrow.data(), max, nullptr);
  const std::size_t written =
      zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(max) + 1);
  if (count != nullptr) *count = static_cast<std::uint32_t>(written + 1);
  return status;
}

std::uint32_t ZimoDPRGetBufferA(std::uint32_t device, char* buffer, std::uint32_t max,
                                std::uint32_t* count) {
  using namespace zimo::corvan;
  std::uint32_t n = 0;
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return kStatusFailure;
  const std::uint32_t status = Collect(Dev(device), buffer, max, &n);
  if (count != nullptr) *count = n;
  return status;
}

std::uint32_t ZimoDPRGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return zimo::corvan::kStatusFailure;
  std::string narrow(static_cast<std::size_t>(max) + 1, '\0');
  const std::uint32_t status = ZimoDPRGetBufferA(device, narrow.data(), max, count);
  zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(max) + 1);
  return status;
}

std::uint32_t ZimoDPRGetResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                  const char* command) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  ClearLinkError(d);
  if (buffer == nullptr || BadCommand(command)) {
    SetLinkError(d, command != nullptr && buffer != nullptr ? kLinkErrLineTooLong : kLinkErrUnknown);
    return kStatusFailure;
  }
  buffer[0] = 0;
  ZimoDPRFlush(device);
  ZimoDPRSendLineA(device, command);
  if (max == 0) return kStatusFailure;
  const LineReader read = [d](char* at, std::uint32_t room) {
    const Line line = ReadLine(d, at, room);
    LineRead result;
    result.status = line.status;
    result.count = line.count;
    result.cut = line.cut;
    return result;
  };
  const CollectedResponse collected = CollectResponseLines(read, buffer, max);
  if (collected.status == kStatusTimeout) {
    ZimoDPRSendLineA(device, kDprRestoreLine);
    App().rings().ChangeStore(device, kDprRestoreLine);
    ZimoDPRFlush(device);
    return kStatusTimeout;
  }
  if (collected.cut) SetLinkError(d, kErrResponseCut);
  return collected.status | (collected.stored & kCountMask);
}

std::uint32_t ZimoDPRGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                  const char16_t* command) {
  if (buffer == nullptr || command == nullptr) return zimo::corvan::kStatusFailure;
  zimo::platform::NarrowText narrow_command(command);
  std::string narrow(static_cast<std::size_t>(max) + 1, '\0');
  const std::uint32_t word =
      ZimoDPRGetResponseA(device, narrow.data(), max, narrow_command.c_str());
  zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(max) + 1);
  return word;
}

std::uint32_t ZimoDPRGetControlResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                         char character) {
  using namespace zimo::corvan;
  if (buffer == nullptr) return kStatusFailure;
  buffer[0] = 0;
  const int d = Dev(device);
  if (character == 5 || character == 9) {
    // No direct answer: the character goes into the mailbox and whatever
    // the card posts is collected.
    ZimoDPRFlush(device);
    DprSendCtrlChar(d, character);
    std::uint32_t n = 0;
    ZimoDPRGetBufferA(device, buffer, max, &n);
    return n & kCountMask;
  }
  zimo::drivers::LineIoBlock block{};
  block.text[0] = character;
  const zimo::platform::IoControlResult r =
      Ioctl(d, zimo::drivers::IOCTL_ZIMO_DPR_CONTROL_RESPONSE, &character, 1, &block, sizeof block);
  if (!r.ok || r.bytes_returned != sizeof block) return kStatusFailure;
  block.text[kLineTextSize - 1] = 0;
  // The CR goes on only for a caller whose buffer could have taken the
  // whole driver record; smaller buffers get the answer as the card sent it.
  const bool cr_wanted = max >= r.bytes_returned + 1;
  const Line line =
      StoreText(block.text, TextLength(block), buffer, max, block.status & kStatusMask, cr_wanted);
  return line.status | (line.count & kCountMask);
}

std::uint32_t ZimoDPRGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                         char16_t character) {
  if (buffer == nullptr) return 0;
  std::string narrow(static_cast<std::size_t>(max) + 1, '\0');
  const std::uint32_t word = ZimoDPRGetControlResponseA(
      device, narrow.data(), max, zimo::platform::Utf16ToCp1252Char(character));
  zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(max) + 1);
  // The wide form gives the count alone, as its line-reading twin does.
  return word & zimo::corvan::kCountMask;
}

void ZimoDPRStatus(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                   std::uint32_t, std::uint32_t) {}

}  // extern "C"
