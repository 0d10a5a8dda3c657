// The exported command API: each function takes the device lock, picks the
// device's channel and calls the operation of the same role, and logs the
// exchange when the device's command log is on. W forms convert their text
// and call the A form, so they take the same path (response, restore after
// a time-out, checksummed mode, log).
#include "corvan/command_api.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "corvan/status_api.h"
#include "link/ascii_channel.h"
#include "link/command_log.h"
#include "link/device_lock.h"
#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/response_lines.h"
#include "link/text_utils.h"
#include "platform/codepage.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kSendCommandMax = 255;
constexpr std::uint32_t kStatusQueryMax = 39;
constexpr char kGlobalStatusChar = 7;
constexpr int kErrorStrConversionFailed = -3;

// The device's channel, or null when nothing is there.
AsciiChannel* ChannelFor(int device) { return ChannelOfDevice(device); }

// What a line-level call answers when the device has no channel in this
// process: for a card slot 0-7 (no key, no Location) the transports'
// failure status, so that a caller reading lines until the end of a
// response stops at once, with the error that says so; no slot at all (8
// and up) stays 0.
std::uint32_t NoChannel(int device) {
  if (!IsRealDevice(device)) return 0;
  SetLinkError(device, kLinkErrNotOpen);
  return kStatusFailure;
}

// The start of an exchange: no error of an earlier one stays the
// library's.
AsciiChannel* BeginExchange(int device) {
  ClearLinkError(device);
  return ChannelFor(device);
}

// The end of an exchange: a time-out, card error or failure that the
// channel left without an error gets one, so that ZimoGetError always says
// what went wrong.
std::uint32_t EndExchange(int device, AsciiChannel* channel, std::uint32_t word) {
  const std::uint32_t status = word & kStatusMask;
  if ((status & kErrorBits) == 0 || channel->LastError(device) != 0) return word;
  std::int32_t code = kLinkErrUnknown;
  if (status == kStatusTimeout) code = kLinkErrTimeout;
  if (status == kStatusCardError) code = kLinkErrCardError;
  channel->SetLastError(device, code);
  return word;
}

bool IsOpenHere(int device) {
  if (!IsRealDevice(device)) return false;
  const DeviceUserHandle* user = App().User(device);
  return user->Transport != nullptr && user->CommandMutex.valid();
}

// Whether a program buffer is open for editing. With the DPR usable from
// this process the host copy of the card's global words answers, under the
// command lock; otherwise the card's global status reply, whose eighth
// character is the hexadecimal digit of status bits 19 (motion program
// buffer, value 8) to 16 (rotary buffer: 4).
constexpr int kMotionBufferBit = 8;
constexpr int kRotaryBufferBit = 4;

std::int32_t BufferOpen(std::uint32_t device, int digit_bit,
                        std::int32_t (*from_dpr)(std::uint32_t)) {
  const int d = IndexFromDeviceNumber(device);
  if (IsRealDevice(d) && App().User(d)->DprAvailable != 0) {
    LockZimo(device);
    const std::int32_t open = from_dpr(device);
    ReleaseZimo(device);
    return open;
  }
  char reply[kStatusQueryMax + 1] = {};
  const std::uint32_t count =
      ZimoGetControlResponseA(device, reply, sizeof reply, kGlobalStatusChar);
  if (count < 8) return 0;
  const char c = reply[7];
  int digit = -1;
  if (c >= '0' && c <= '9') digit = c - '0';
  if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
  if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
  return digit >= 0 && (digit & digit_bit) != 0 ? 1 : 0;
}

// A caller's buffer that cannot hold a character and its terminator.
bool BadBuffer(const void* buffer, std::uint32_t size) { return buffer == nullptr || size < 2; }

// A reader refused for a buffer that cannot take a character: the failure
// and the error that says so (the response would not fit).
std::uint32_t RefuseBuffer(int device) {
  DeviceLock lock(device);
  if (AsciiChannel* channel = BeginExchange(device)) {
    channel->SetLastError(device, kErrResponseCut);
  } else {
    NoChannel(device);
  }
  return kStatusFailure;
}

// The A readers store at most size - 1 characters.
std::uint32_t MaxChars(std::uint32_t size) { return size - 1; }

// A byte buffer for a W reader; the text fits the caller's 16-bit buffer.
std::string NarrowBufferFor(std::uint32_t size) { return std::string(size, '\0'); }

std::uint32_t WidenInto(const std::string& bytes, char16_t* out, std::uint32_t size) {
  return static_cast<std::uint32_t>(platform::WidenInto(bytes.c_str(), out, size));
}

std::uint32_t GetLineWord(int device, char* buffer, std::uint32_t size) {
  if (BadBuffer(buffer, size)) return RefuseBuffer(device);
  DeviceLock lock(device);
  buffer[0] = 0;
  AsciiChannel* channel = BeginExchange(device);
  if (channel == nullptr) return NoChannel(device);
  std::uint32_t count = 0;
  const std::uint32_t status = channel->GetLine(device, buffer, MaxChars(size), &count);
  return EndExchange(device, channel, status | (count & kCountMask));
}

// The control-character exchange of both forms. The narrow form logs the
// character as a reply entry (";"), the wide form as a command entry.
std::uint32_t ControlResponseWord(int device, char* buffer, std::uint32_t size, char character,
                                  bool log_as_command) {
  if (BadBuffer(buffer, size)) return RefuseBuffer(device);
  DeviceLock lock(device);
  buffer[0] = 0;
  AsciiChannel* channel = BeginExchange(device);
  if (channel == nullptr) return NoChannel(device);
  const std::uint32_t word = EndExchange(
      device, channel, channel->GetControlResponse(device, buffer, MaxChars(size), character));
  const char text[2] = {character, 0};
  LogCommandEntry(device, text, log_as_command);
  return word;
}

// The device's last error and (when `text` is given) its text, which is
// also kept in the shared block's LastErrorText where there is one. A
// device without a channel here reports the library's own error.
std::int32_t ErrorWithText(int d, std::string* text) {
  AsciiChannel* channel = ChannelFor(d);
  const std::int32_t code = channel != nullptr ? channel->LastError(d) : LinkErrorOf(d);
  if (code < 1) return code;
  const char* loaded = channel != nullptr ? channel->ErrorText(code)
                                          : LoadLibraryString(static_cast<std::uint32_t>(code));
  SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  if (block != nullptr) CopyTerminated(block->LastErrorText, sizeof block->LastErrorText, loaded);
  if (text != nullptr) {
    *text = block != nullptr ? std::string(block->LastErrorText,
                                           strnlen(block->LastErrorText, sizeof block->LastErrorText))
                             : std::string(loaded);
  }
  return code;
}

}  // namespace

std::uint32_t ExchangeResponse(int d, char* buffer, std::uint32_t size, const char* command) {
  if (d < 0 || d >= kDeviceSlots) d = -1;  // no slot: the lock and channel refuse it
  if (BadBuffer(buffer, size)) return RefuseBuffer(d);
  DeviceLock lock(d);
  buffer[0] = 0;
  AsciiChannel* channel = BeginExchange(d);
  if (channel == nullptr) return NoChannel(d);
  const std::uint32_t word =
      EndExchange(d, channel, channel->GetResponse(d, buffer, MaxChars(size), command));
  LogCommandEntry(d, command, true);
  LogCommandEntry(d, buffer, false);
  return word;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;  // NOLINT: the exports below are the library's own

extern "C" {

std::int32_t ZimoGetDpramAvailable(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  if (!IsOpenHere(d)) return 0;
  DeviceLock lock(d);
  return App().User(d)->DprAvailable != 0 ? 1 : 0;
}

std::uint32_t ZimoSendCharA(std::uint32_t device, char character) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  AsciiChannel* channel = BeginExchange(d);
  if (channel == nullptr) return 0;
  const std::uint32_t result = EndExchange(d, channel, channel->SendChar(d, character));
  const char text[2] = {character, 0};
  LogCommandEntry(d, text, true);
  return result;
}

std::uint32_t ZimoSendCharW(std::uint32_t device, char16_t character) {
  return ZimoSendCharA(device, zimo::platform::Utf16ToCp1252Char(character));
}

std::uint32_t ZimoSendLineA(std::uint32_t device, const char* text) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  AsciiChannel* channel = BeginExchange(d);
  if (channel == nullptr) return NoChannel(d);
  const std::uint32_t result = EndExchange(d, channel, channel->SendLine(d, text));
  LogCommandEntry(d, text, true);
  return result;
}

std::uint32_t ZimoSendLineW(std::uint32_t device, const char16_t* text) {
  zimo::platform::NarrowText narrow(text);
  return ZimoSendLineA(device, narrow.c_str());
}

std::uint32_t ZimoGetLineExA(std::uint32_t device, char* buffer, std::uint32_t size) {
  return GetLineWord(IndexFromDeviceNumber(device), buffer, size);
}

std::uint32_t ZimoGetLineA(std::uint32_t device, char* buffer, std::uint32_t size) {
  return ZimoGetLineExA(device, buffer, size) & kCountMask;
}

std::uint32_t ZimoGetLineExW(std::uint32_t device, char16_t* buffer, std::uint32_t size) {
  if (BadBuffer(buffer, size)) return RefuseBuffer(IndexFromDeviceNumber(device));
  std::string narrow = NarrowBufferFor(size);
  const std::uint32_t word = ZimoGetLineExA(device, narrow.data(), size);
  WidenInto(narrow, buffer, size);
  return word;
}

std::uint32_t ZimoGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t size) {
  return ZimoGetLineExW(device, buffer, size) & kCountMask;
}

std::uint32_t ZimoGetBufferA(std::uint32_t device, char* buffer, std::uint32_t size) {
  if (BadBuffer(buffer, size)) return 0;
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  buffer[0] = 0;
  AsciiChannel* channel = BeginExchange(d);
  if (channel == nullptr) return 0;
  std::uint32_t count = 0;
  EndExchange(d, channel, channel->GetBuffer(d, buffer, MaxChars(size), &count));
  return count & kCountMask;
}

std::uint32_t ZimoGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t size) {
  if (BadBuffer(buffer, size)) return 0;
  std::string narrow = NarrowBufferFor(size);
  const std::uint32_t count = ZimoGetBufferA(device, narrow.data(), size);
  WidenInto(narrow, buffer, size);
  return count;
}

std::uint32_t ZimoGetControlResponseExA(std::uint32_t device, char* buffer, std::uint32_t size,
                                        char character) {
  return ControlResponseWord(IndexFromDeviceNumber(device), buffer, size, character,
                             /*log_as_command=*/false);
}

std::uint32_t ZimoGetControlResponseA(std::uint32_t device, char* buffer, std::uint32_t size,
                                      char character) {
  return ZimoGetControlResponseExA(device, buffer, size, character) & kCountMask;
}

std::uint32_t ZimoGetControlResponseExW(std::uint32_t device, char16_t* buffer, std::uint32_t size,
                                        char16_t character) {
  if (BadBuffer(buffer, size)) return RefuseBuffer(IndexFromDeviceNumber(device));
  std::string narrow = NarrowBufferFor(size);
  const std::uint32_t word =
      ControlResponseWord(IndexFromDeviceNumber(device), narrow.data(), size,
                          zimo::platform::Utf16ToCp1252Char(character), /*log_as_command=*/true);
  WidenInto(narrow, buffer, size);
  return word;
}

std::uint32_t ZimoGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t size,
                                      char16_t character) {
  return ZimoGetControlResponseExW(device, buffer, size, character) & kCountMask;
}

std::uint32_t ZimoGetResponseExA(std::uint32_t device, char* buffer, std::uint32_t size,
                                 const char* command) {
  return zimo::corvan::ExchangeResponse(IndexFromDeviceNumber(device), buffer, size, command);
}

std::uint32_t ZimoGetResponseA(std::uint32_t device, char* buffer, std::uint32_t size,
                               const char* command) {
  return ZimoGetResponseExA(device, buffer, size, command) & kCountMask;
}

std::uint32_t ZimoGetResponseExW(std::uint32_t device, char16_t* buffer, std::uint32_t size,
                                 const char16_t* command) {
  if (BadBuffer(buffer, size)) return RefuseBuffer(IndexFromDeviceNumber(device));
  zimo::platform::NarrowText narrow_command(command);
  std::string narrow = NarrowBufferFor(size);
  const std::uint32_t word =
      ZimoGetResponseExA(device, narrow.data(), size, narrow_command.c_str());
  WidenInto(narrow, buffer, size);
  return word;
}

std::uint32_t ZimoGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t size,
                               const char16_t* command) {
  return ZimoGetResponseExW(device, buffer, size, command) & kCountMask;
}

std::int32_t ZimoSendCommandA(std::uint32_t device, const char* command) {
  const int d = IndexFromDeviceNumber(device);
  if (!IsOpenHere(d)) return 0;
  DeviceLock lock(d);
  AsciiChannel* channel = BeginExchange(d);
  if (channel == nullptr) return 0;
  char scratch[kSendCommandMax + 1] = {};
  const std::uint32_t word =
      EndExchange(d, channel, channel->GetResponse(d, scratch, kSendCommandMax, command));
  // The response is dropped, so the log holds the command alone.
  LogCommandEntry(d, command, true);
  return (word & kErrorBits) != 0 ? 0 : 1;
}

std::int32_t ZimoSendCommandW(std::uint32_t device, const char16_t* command) {
  zimo::platform::NarrowText narrow(command);
  return ZimoSendCommandA(device, narrow.c_str());
}

std::uint32_t ZimoReadReady(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  AsciiChannel* channel = ChannelFor(d);
  return channel != nullptr ? channel->ReadReady(d) : 0;
}

std::int32_t ZimoFlush(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  if (!IsOpenHere(d)) return 0;
  DeviceLock lock(d);
  AsciiChannel* channel = ChannelFor(d);
  if (channel == nullptr) return 0;
  return channel->Flush(d) ? 1 : 0;
}

std::int32_t ZimoDoChecksums(std::uint32_t device, std::int32_t on) {
  return SwitchChecksums(IndexFromDeviceNumber(device), on);
}

std::int32_t ZimoMotionBufOpen(std::uint32_t device) {
  return BufferOpen(device, kMotionBufferBit, ZimoDPRMotionBufOpen);
}

std::int32_t ZimoRotBufOpen(std::uint32_t device) {
  return BufferOpen(device, kRotaryBufferBit, ZimoDPRRotBufOpen);
}

std::int32_t ZimoSetCriticalIVars(std::uint32_t device) {
  char scratch[kSendCommandMax + 1];
  ZimoGetResponseA(device, scratch, sizeof scratch, kCriticalIVars);
  App().rings().ChangeStore(device, kCriticalIVars);
  return 1;
}

std::int32_t ZimoGetError(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  return ErrorWithText(d, nullptr);
}

std::int32_t ZimoGetErrorStrA(std::uint32_t device, char* buffer, std::uint32_t size) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  std::string text;
  const std::int32_t code = ErrorWithText(d, &text);
  if (code < 1 || buffer == nullptr || size == 0) return code;
  // A bounded copy that pads with zeros, always terminated.
  std::memset(buffer, 0, size);
  CopyTerminated(buffer, size, text.c_str());
  return code;
}

std::int32_t ZimoGetErrorStrW(std::uint32_t device, char16_t* buffer, std::uint32_t size) {
  const int d = IndexFromDeviceNumber(device);
  DeviceLock lock(d);
  std::string text;
  const std::int32_t code = ErrorWithText(d, &text);
  if (code < 1 || buffer == nullptr || size == 0) return code;
  if (text.size() >= size) return kErrorStrConversionFailed;
  zimo::platform::WidenInto(text, buffer, size);
  return code;
}

std::int32_t ZimoSetCommandLogging(std::uint32_t device, std::int32_t on, const char* name) {
  return SetCommandLogging(IndexFromDeviceNumber(device), on != 0, name);
}

std::int32_t ZimoGetCommandLogging(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  return IsRealDevice(d) ? static_cast<std::int32_t>(App().User(d)->CommandLogging) : 0;
}

std::int32_t ZimoCommandLog(std::uint32_t device, const char* text) {
  return WriteCommandLogAlways(IndexFromDeviceNumber(device), text);
}

}  // extern "C"
