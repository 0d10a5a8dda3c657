#include "link/bus_channel.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/card_text.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "link/response_lines.h"
#include "link/text_utils.h"
#include "platform/codepage.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kLineTextSize = sizeof(drivers::LineIoBlock::text);  // 256
constexpr std::uint32_t kHighestPortRegister = 16;

using drivers::LineIoBlock;

int Dev(std::uint32_t device) { return IndexFromDeviceNumber(device); }

platform::IoControlResult Ioctl(int device, std::uint32_t code, const void* in,
                                std::uint32_t in_size, void* out, std::uint32_t out_size) {
  return DriverIoctl(device, code, in, in_size, out, out_size);
}

// One line as the driver read it.
struct Line {
  std::uint32_t status = kStatusFailure;  // status bits
  std::uint32_t count = 0;                // characters stored in the caller's buffer
  bool call_failed = true;
  // The driver stopped at the room it was given: more of the line follows.
  bool cut() const { return !call_failed && status == kStatusFailure; }
};

// Reads one line into `buffer` of `size` bytes (1 or more; the driver is
// asked for at most 255 characters). STX lines go to the ring.
Line ReadLine(int device, char* buffer, std::uint32_t size) {
  Line line;
  LineIoBlock block{};
  block.requested = std::min(size, kLineTextSize);
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_BUS_GET_LINE, &block, sizeof block, &block, sizeof block);
  if (!r.ok || r.bytes_returned != sizeof block) return line;
  line.call_failed = false;
  block.text[kLineTextSize - 1] = 0;
  const std::uint32_t got = std::min<std::uint32_t>(
      block.count, static_cast<std::uint32_t>(strnlen(block.text, kLineTextSize)));
  if (got >= 1 && block.text[0] == kStx) {
    App().rings().StoreUSResponse(static_cast<std::uint32_t>(device), block.text + 1, got - 1);
    buffer[0] = 0;
    line.status = kStatusUnsolicited;
    line.count = 0;
    return line;
  }
  line.count = static_cast<std::uint32_t>(CopyTerminated(buffer, size, block.text));
  line.status = block.status & kStatusMask;
  // A driver that hands out as much as was asked for leaves no room for the
  // terminator: the line did not fit, as when the driver says so itself.
  if (line.count < got && line.status != kStatusCardError) line.status = kStatusFailure;
  return line;
}

// Reads lines back to back from `buffer` on until one ends the collection
// (bit 31 of its status) or the buffer is full. *count = the characters of
// the lines before the one that ended it. Returns that line's status bits;
// a line cut at the buffer's end ends it with its failure status.
std::uint32_t Collect(int device, char* buffer, std::uint32_t size, std::uint32_t* count,
                      std::uint32_t initial_status) {
  std::uint32_t position = 0;
  std::uint32_t status = initial_status;
  if (size > 0) buffer[0] = 0;
  // The room for characters is size - 1 - position; a line needs at least one.
  while (size > 0 && position + 1 < size) {
    const Line line = ReadLine(device, buffer + position, size - position);
    if (line.cut()) {
      position += line.count;
      status = line.status;
      break;
    }
    status = line.status;
    if ((status & kStatusAck) != 0) break;
    if (status != kStatusUnsolicited) position += line.count;
  }
  *count = position;
  return status;
}

bool TooLong(const char* text) { return strnlen(text, kBusMaxLine + 1) > kBusMaxLine; }

class BusChannelImpl final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int device, char c) override { return BusSendChar(device, c); }
  std::uint32_t SendLine(int device, const char* text) override {
    return ZimoBUSSendLineA(static_cast<std::uint32_t>(device), text);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                        std::uint32_t* count) override {
    return ZimoBUSGetLineA(static_cast<std::uint32_t>(device), buffer, Size(max), count);
  }
  std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) override {
    return ZimoBUSGetBufferA(static_cast<std::uint32_t>(device), buffer, Size(max), count);
  }
  std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                            const char* command) override {
    return ZimoBUSGetResponseA(static_cast<std::uint32_t>(device), buffer, Size(max), command);
  }
  std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) override {
    return ZimoBUSGetControlResponseA(static_cast<std::uint32_t>(device), buffer, Size(max), c);
  }
  std::uint32_t ReadReady(int device) override { return BusReadReady(device); }
  bool Flush(int device) override {
    ZimoBUSFlush(static_cast<std::uint32_t>(device));
    return true;
  }
  std::int32_t LastError(int device) override {
    const std::int32_t own = LinkErrorOf(device);
    return own != 0 ? own : BusLastError(device);
  }
  void SetLastError(int device, std::int32_t code) override { SetLinkError(device, code); }

 private:
  // The dispatcher's buffers hold max + 1 characters.
  static std::int32_t Size(std::uint32_t max) {
    return max >= static_cast<std::uint32_t>(INT_MAX) ? INT_MAX
                                                      : static_cast<std::int32_t>(max + 1);
  }
};

}  // namespace

std::uint32_t BusReadReady(int device) {
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_BUS_READ_READY, nullptr, 0, nullptr, 0);
  return r.ok ? r.bytes_returned : 0;
}

std::uint32_t BusSendChar(int device, char c) {
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_BUS_SEND_CHAR, &c, 1, nullptr, 0);
  return r.ok ? r.bytes_returned : kStatusFailure;
}

std::int32_t BusLastError(int device) {
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_BUS_GET_ERROR, nullptr, 0, nullptr, 0);
  if (!r.ok) return 0;
  SharedDeviceBlock* block = App().Block(device);
  const auto code = static_cast<std::int16_t>(r.bytes_returned & 0xFFFF);
  if (block != nullptr) block->BusLastError = code;
  return code;
}

bool UsbWriteBlock(int device, const char* block, std::uint32_t size) {
  const SharedDeviceBlock* shared = App().Block(device);
  if (shared == nullptr || shared->Location != kLocationUsb) return false;
  if (block == nullptr || size == 0 || size > kUsbBlockMax + kBusMaxLine + 1) return false;
  if (block[size - 1] != 0) return false;
  return Ioctl(device, drivers::IOCTL_ZIMO_DOWNLOAD_BLOCK, block, size, nullptr, 0).ok;
}

bool UsbReadBlockStatus(int device, std::uint32_t* status) {
  const SharedDeviceBlock* shared = App().Block(device);
  if (status == nullptr || shared == nullptr || shared->Location != kLocationUsb) return false;
  const platform::IoControlResult r =
      Ioctl(device, drivers::IOCTL_ZIMO_DOWNLOAD_STATUS, nullptr, 0, nullptr, 0);
  if (!r.ok) return false;
  *status = r.bytes_returned;
  return true;
}

AsciiChannel& BusChannel() {
  static BusChannelImpl channel;
  return channel;
}

}  // namespace zimo::corvan

using zimo::corvan::Dev;

extern "C" {

std::int32_t ZimoBUSFlush(std::uint32_t device) {
  const zimo::platform::IoControlResult r =
      zimo::corvan::Ioctl(Dev(device), zimo::drivers::IOCTL_ZIMO_BUS_FLUSH, nullptr, 0, nullptr, 0);
  return r.ok ? 1 : 0;
}

std::uint32_t ZimoBUSSendLineA(std::uint32_t device, const char* text) {
  using namespace zimo::corvan;
  // The driver takes at most 255 characters and would cut a longer line:
  // the card would run a different command than the caller's.
  if (text == nullptr || TooLong(text)) {
    SetLinkError(Dev(device), text == nullptr ? kLinkErrUnknown : kLinkErrLineTooLong);
    return kStatusFailure;
  }
  const auto length = static_cast<std::uint32_t>(std::strlen(text));
  const zimo::platform::IoControlResult r =
      Ioctl(Dev(device), zimo::drivers::IOCTL_ZIMO_BUS_SEND_LINE, text, length + 1, nullptr, 0);
  return r.ok ? length + 1 : kStatusFailure;
}

std::uint32_t ZimoBUSSendLineW(std::uint32_t device, const char16_t* text) {
  if (text == nullptr) return 0;
  zimo::platform::NarrowText narrow(text);
  return ZimoBUSSendLineA(device, narrow.c_str());
}

std::uint32_t ZimoBUSSendCommandA(std::uint32_t device, const char* text) {
  ZimoBUSFlush(device);
  return ZimoBUSSendLineA(device, text);
}

std::uint32_t ZimoBUSSendCommandW(std::uint32_t device, const char16_t* text) {
  ZimoBUSFlush(device);
  return ZimoBUSSendLineW(device, text);
}

std::uint32_t ZimoBUSGetLineA(std::uint32_t device, char* buffer, std::int32_t size,
                              std::uint32_t* count) {
  using namespace zimo::corvan;
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || size < 1) return kStatusFailure;
  buffer[0] = 0;
  const Line line = ReadLine(Dev(device), buffer, static_cast<std::uint32_t>(size));
  if (count != nullptr) *count = line.count;
  return line.status;
}

std::uint32_t ZimoBUSGetLineW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                              std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || size < 1) return zimo::corvan::kStatusFailure;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  std::uint32_t n = 0;
  const std::uint32_t status = ZimoBUSGetLineA(device, narrow.data(), size, &n);
  const std::size_t written =
      zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(size));
  if (count != nullptr) *count = static_cast<std::uint32_t>(written + 1);
  return status;
}

std::uint32_t ZimoBUSGetBufferA(std::uint32_t device, char* buffer, std::int32_t size,
                                std::uint32_t* count) {
  using namespace zimo::corvan;
  std::uint32_t n = 0;
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || size < 1) return kStatusFailure;
  const std::uint32_t status = Collect(Dev(device), buffer, static_cast<std::uint32_t>(size), &n,
                                       kStatusLine);
  if (count != nullptr) *count = n;
  return status & kStatusMask;
}

std::uint32_t ZimoBUSGetBufferW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || size < 1) return zimo::corvan::kStatusFailure;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const std::uint32_t status = ZimoBUSGetBufferA(device, narrow.data(), size, count);
  zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(size));
  return status;
}

std::uint32_t ZimoBUSGetResponseA(std::uint32_t device, char* buffer, std::int32_t size,
                                  const char* command) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  ClearLinkError(d);
  if (command == nullptr || TooLong(command)) {
    SetLinkError(d, command == nullptr ? kLinkErrUnknown : kLinkErrLineTooLong);
    return kStatusFailure;
  }
  if (size > 0 && buffer == nullptr) return kStatusFailure;
  ZimoBUSFlush(device);
  ZimoBUSSendLineA(device, command);
  if (size < 1) return kStatusLine;
  const LineReader read = [d](char* at, std::uint32_t room) {
    const Line line = ReadLine(d, at, room + 1);
    LineRead result;
    result.status = line.status;
    result.count = line.count;
    result.cut = line.cut() || (line.status == kStatusCardError && line.count == room &&
                                at[line.count - 1] != kCr);
    return result;
  };
  const CollectedResponse collected =
      CollectResponseLines(read, buffer, static_cast<std::uint32_t>(size) - 1);
  if (collected.status == kStatusTimeout) {
    App().rings().ChangeStore(device, kBusRestoreLine);
    ZimoBUSSendLineA(device, kBusRestoreLine);
    ZimoBUSFlush(device);
    return kStatusTimeout;
  }
  if (collected.cut) SetLinkError(d, kErrResponseCut);
  return collected.status | (collected.stored & kCountMask);
}

std::uint32_t ZimoBUSGetResponseW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                  const char16_t* command) {
  if (command == nullptr) return zimo::corvan::kStatusFailure;
  zimo::platform::NarrowText narrow_command(command);
  std::string narrow(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  const std::uint32_t word =
      ZimoBUSGetResponseA(device, size > 0 ? narrow.data() : nullptr, size, narrow_command.c_str());
  if (buffer != nullptr && size > 0) {
    zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(size));
  }
  return word;
}

std::uint32_t ZimoBUSGetControlResponseA(std::uint32_t device, char* buffer, std::int32_t size,
                                         char character) {
  using namespace zimo::corvan;
  if (buffer == nullptr || size < 1) return kStatusFailure;
  const int d = Dev(device);
  buffer[0] = 0;
  zimo::drivers::LineIoBlock block{};
  block.text[0] = character;
  block.requested = std::min(static_cast<std::uint32_t>(size), kLineTextSize);
  const zimo::platform::IoControlResult r = Ioctl(d, zimo::drivers::IOCTL_ZIMO_BUS_CONTROL_RESPONSE,
                                                  &block, sizeof block, &block, sizeof block);
  if (!r.ok || r.bytes_returned != sizeof block) return kStatusFailure;
  block.text[kLineTextSize - 1] = 0;
  // The USB driver hands over the card's answer as it came, with the ACK
  // that ends it; the ACK is no text, as on the port.
  const std::size_t length = strnlen(block.text, kLineTextSize);
  if (length > 0 && block.text[length - 1] == kAck) block.text[length - 1] = 0;
  std::uint32_t count = static_cast<std::uint32_t>(
      CopyTerminated(buffer, static_cast<std::size_t>(size), block.text));
  std::uint32_t status = kStatusLine;
  if ((block.status & kStatusMask) == 0) {
    // The driver sent the character and read nothing: the answer (if any)
    // comes as ordinary lines.
    status = Collect(d, buffer, static_cast<std::uint32_t>(size), &count, kStatusLine);
  }
  return (status & kStatusMask) | (count & kCountMask);
}

std::uint32_t ZimoBUSGetControlResponseW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                         char16_t character) {
  if (buffer == nullptr || size < 1) return zimo::corvan::kStatusFailure;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const std::uint32_t word = ZimoBUSGetControlResponseA(
      device, narrow.data(), size, zimo::platform::Utf16ToCp1252Char(character));
  zimo::platform::WidenInto(narrow.c_str(), buffer, static_cast<std::size_t>(size));
  return word;
}

std::int32_t Outp(std::uint32_t device, std::uint32_t offset, std::uint8_t value) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (offset > kHighestPortRegister || !IsRealDevice(d) || App().User(d)->AsciiCommMode > 1) {
    return 0;
  }
  const std::uint8_t input[2] = {static_cast<std::uint8_t>(offset), value};
  const zimo::platform::IoControlResult r =
      Ioctl(d, zimo::drivers::IOCTL_ZIMO_PORT_WRITE, input, sizeof input, nullptr, 0);
  return r.ok ? static_cast<std::int32_t>(r.bytes_returned) : 0;
}

std::uint8_t Inp(std::uint32_t device, std::uint32_t offset) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (offset > kHighestPortRegister || !IsRealDevice(d) || App().User(d)->AsciiCommMode > 1) {
    return 0xFF;
  }
  const std::uint8_t input = static_cast<std::uint8_t>(offset);
  const zimo::platform::IoControlResult r =
      Ioctl(d, zimo::drivers::IOCTL_ZIMO_PORT_READ, &input, 1, nullptr, 0);
  return r.ok ? static_cast<std::uint8_t>(r.bytes_returned & 0xFF) : 0xFF;
}

}  // extern "C"
