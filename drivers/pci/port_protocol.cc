// The card's port registers and the ASCII protocol on them: status register
// 2 (bit 0 read-ready, bit 1 write-ready) and data register 7, polled with
// 4-microsecond stalls.
#include <cctype>
#include <cstring>

#include "common/card_framing.h"
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

constexpr unsigned kRegStatus = 2;
constexpr unsigned kRegData = 7;
constexpr uint8_t kReadReady = 0x01;
constexpr uint8_t kWriteReady = 0x02;
constexpr uint32_t kPollStall = 4;
constexpr int kCharPolls = 5000;
constexpr int kShortReadPolls = 250;
constexpr size_t kMaxLine = 255;
constexpr int kMaxAnswerLines = 64;

using ctrl::kAck;
using ctrl::kBel;
using ctrl::kCr;
using ctrl::kCtrlX;
using ctrl::kLf;

// Step 4 of a line read: a reply that starts with BEL carries the card's
// error number after "ERR" (3 when it has no digits).
uint32_t ErrorReply(DeviceExtension& ext, const char* buffer, uint32_t count) {
  uint32_t number = kErrorNoDigits;
  for (uint32_t i = 0; i < count; ++i) {
    if (std::isdigit(static_cast<unsigned char>(buffer[i]))) {
      number = 0;
      for (uint32_t j = i; j < count && std::isdigit(static_cast<unsigned char>(buffer[j])); ++j) {
        number = number * 10 + static_cast<uint32_t>(buffer[j] - '0');
      }
      break;
    }
  }
  ext.port_last_error = number;
  return kLineError | count;
}

// The body shared by the two line reads. `quick` gives the ordinary read
// the short read's patience (for the rest of an answer already under way).
uint32_t ReadLine(DeviceExtension& ext, char* buffer, uint32_t requested, bool short_read,
                  bool quick = false) {
  ext.port_last_error = 0;
  // A request for no room at all stores nothing; the NUL still fits, as
  // every caller's buffer has at least one byte.
  const uint32_t room = requested == 0 ? 0 : std::min<uint32_t>(requested, 256) - 1;
  const int poll_limit = short_read || quick ? kShortReadPolls : kCharPolls;
  uint32_t status = kLineCut;
  uint32_t count = 0;
  int idle = 0;
  bool timed_out = false;
  while (count < room) {
    if ((ReadPortByte(ext, kRegStatus) & kReadReady) == 0) {
      Stall(ext, kPollStall);
      if (++idle >= poll_limit) {
        timed_out = true;
        break;
      }
      continue;
    }
    const char c = static_cast<char>(ReadPortByte(ext, kRegData));
    idle = 0;
    if (short_read) {
      buffer[count++] = c;
      if (c == kAck || c == kCr || c == kLf || c == kCtrlX) {
        status = kLineCr;
        break;
      }
      continue;
    }
    if (c == kAck) {
      status = kLineEnd;
      break;
    }
    buffer[count++] = c;
    if (c == kCr) {
      status = kLineCr;
      break;
    }
  }
  buffer[count] = '\0';
  if (count > 0 && buffer[0] == kBel) return ErrorReply(ext, buffer, count);
  if (timed_out) {
    ext.port_last_error = kErrorPortTimeout;
    return kLineTimeout | count;
  }
  return status | count;
}

// The drain of a flush: up to 255 characters, until the echoed CTRL-X or
// 5000 empty polls.
void Drain(DeviceExtension& ext) {
  int read = 0;
  int idle = 0;
  while (read < static_cast<int>(kMaxLine)) {
    if ((ReadPortByte(ext, kRegStatus) & kReadReady) != 0) {
      const char c = static_cast<char>(ReadPortByte(ext, kRegData));
      ++read;
      idle = 0;
      if (c == kCtrlX) return;
    } else {
      Stall(ext, kPollStall);
      if (++idle >= kCharPolls) return;
    }
  }
}

}  // namespace

uint8_t ReadPortByte(DeviceExtension& ext, unsigned offset) {
  // Without a port range (not started, or stopped) nothing is there to read.
  if (ext.port_length == 0) return 0;
  if (ext.port_mapping) return ext.port_mapping->Read8(offset);
  return ext.kernel().ReadPortUchar(ext.port_base + offset);
}

void WritePortByte(DeviceExtension& ext, unsigned offset, uint8_t value) {
  if (ext.port_length == 0) return;
  if (ext.port_mapping) {
    ext.port_mapping->Write8(offset, value);
    return;
  }
  ext.kernel().WritePortUchar(ext.port_base + offset, value);
}

void Stall(DeviceExtension& ext, uint32_t microseconds) {
  ext.kernel().StallExecutionProcessor(microseconds);
}

uint32_t WriteCharPort(DeviceExtension& ext, char c) {
  int polls = 0;
  while ((ReadPortByte(ext, kRegStatus) & kWriteReady) == 0) {
    if (++polls >= kCharPolls) {
      ext.port_last_error = kErrorPortTimeout;
      return kLineTimeout;
    }
    Stall(ext, kPollStall);
  }
  WritePortByte(ext, kRegData, static_cast<uint8_t>(c));
  return 1;
}

uint32_t WriteLinePort(DeviceExtension& ext, const char* text, size_t length) {
  ext.port_last_error = 0;
  const size_t n = std::min(length, kMaxLine);
  for (size_t i = 0; i < n; ++i) {
    if (WriteCharPort(ext, text[i]) != 1) return kLineTimeout;
  }
  return WriteCharPort(ext, kCr);
}

void FlushPort(DeviceExtension& ext) {
  (void)WriteCharPort(ext, kCtrlX);
  ext.port_last_error = 0;
  Drain(ext);
}

uint32_t ReadReadyPort(DeviceExtension& ext) { return ReadPortByte(ext, kRegStatus) & kReadReady; }

uint32_t ReadLinePort(DeviceExtension& ext, char* buffer, uint32_t requested) {
  return ReadLine(ext, buffer, requested, false);
}

uint32_t ReadLinePortEx(DeviceExtension& ext, char* buffer, uint32_t requested) {
  return ReadLine(ext, buffer, requested, true);
}

// A control character's answer: its line, then the rest of the answer up
// to the card's ACK, so that nothing of it waits in the port for the next
// exchange (which would read this answer's ACK as an empty answer of its
// own). Lines after the first join it in the buffer as far as it has room;
// a card that ends its answer without an ACK costs the short read's wait.
uint32_t ReadControlAnswer(DeviceExtension& ext, char* buffer, uint32_t requested) {
  uint32_t last = ReadLinePort(ext, buffer, requested);
  uint32_t count = last & kLineCountMask;
  // A card that never stops talking still lets the exchange end.
  for (int lines = 1; (last & kLineStatusMask) == kLineCr && count > 0 && lines < kMaxAnswerLines;
       ++lines) {
    const uint32_t error = ext.port_last_error;
    char rest[256];
    last = ReadLine(ext, rest, sizeof rest, false, true);
    const uint32_t more = last & kLineCountMask;
    if ((last & kLineStatusMask) == kLineTimeout) {
      ext.port_last_error = error;  // no more lines: the answer had none
      break;
    }
    const uint32_t room = requested == 0 ? 0 : std::min<uint32_t>(requested, 256) - 1;
    const uint32_t take = std::min(more, room > count ? room - count : 0);
    std::memcpy(buffer + count, rest, take);
    count += take;
    buffer[count] = '\0';
    if (more == 0) break;
  }
  return count;
}

uint32_t GetControlResponsePort(DeviceExtension& ext, char c, char* buffer, uint32_t requested) {
  (void)WriteCharPort(ext, c);
  switch (c) {
    case ctrl::kCtrlB:
    case ctrl::kCtrlC:
    case ctrl::kCtrlF:
    case ctrl::kCtrlG:
    case ctrl::kCtrlP:
    case ctrl::kCtrlV:
    case ctrl::kCtrlY:
      return kLineEnd | (ReadControlAnswer(ext, buffer, requested) & kLineCountMask);
    case ctrl::kCtrlT:
      return kLineEnd | (ReadLinePortEx(ext, buffer, requested) & kLineCountMask);
    case ctrl::kCtrlE:
    case ctrl::kCtrlI:
      buffer[0] = '\0';
      return 0;
    default:
      buffer[0] = '\0';
      return kLineEnd;
  }
}

uint32_t GetBufferPort(DeviceExtension& ext, char* buffer, uint32_t requested) {
  uint32_t result = 0;
  if (ReadReadyPort(ext) != 0) {
    result = ReadLinePort(ext, buffer, requested);
  } else {
    buffer[0] = '\0';
  }
  FlushPort(ext);
  return result;
}

uint32_t GetResponse(DeviceExtension& ext, const char* command, char* buffer, uint32_t length) {
  FlushPort(ext);
  (void)WriteLinePort(ext, command, std::strlen(command));
  uint32_t room = length;
  uint32_t position = 0;
  uint32_t last = 0;
  buffer[0] = '\0';
  while (room > 0) {
    last = ReadLinePort(ext, buffer + position, room);
    const uint32_t count = last & kLineCountMask;
    if ((last & kLineStatusMask) != 0 || count == 0) break;
    // The next line overwrites this one's NUL: lines come out joined.
    position += count;
    room -= count + 1;
  }
  if ((last & kLineStatusMask) == kLineTimeout) {
    static constexpr char kRestore[] = "I3=2 I6=1";
    (void)WriteLinePort(ext, kRestore, sizeof(kRestore) - 1);
    FlushPort(ext);
    ext.kernel().DbgPrint("ZIMOPCI: GetResponse() I3=2 correction!!\n");
  }
  return (last & kLineStatusMask) | (length - room);
}

int ZimoPingAndClean(DeviceExtension& ext) {
  WritePortByte(ext, kRegData, static_cast<uint8_t>(kCtrlX));
  ext.port_last_error = 0;
  int count = 0;
  int idle = 0;
  for (;;) {
    if ((ReadPortByte(ext, kRegStatus) & kReadReady) != 0) {
      const uint8_t c = ReadPortByte(ext, kRegData);
      idle = 0;
      if (c == static_cast<uint8_t>(kCtrlX)) return 1;
      if (c == 0xFF) {
        ext.kernel().DbgPrint("ZIMOPCI: ZimoPingAndClean() Error: Port returned 0xFF\n");
        return 0;
      }
      if (++count > kCharPolls) {
        ext.kernel().DbgPrint("ZIMOPCI: ZimoPingAndClean() Error: Flushed %d characters\n", count);
        return 0;
      }
    } else {
      Stall(ext, kPollStall);
      if (++idle >= kCharPolls) return 1;
    }
  }
}

int CardOnPort(DeviceExtension& ext) {
  WritePortByte(ext, 5, 0);
  WritePortByte(ext, 6, 0);
  WritePortByte(ext, kRegStatus, 0);
  for (int i = 0; i < kCharPolls; ++i) Stall(ext, kPollStall);

  char reply[256];
  for (const char* command : {"CLOSEI3=2 I6=1", "I3=2", "I58=0", "I2=1", "?"}) {
    GetResponse(ext, command, reply, sizeof(reply));
  }
  // "No characters" by the text: the exchange counts only whole lines, and a
  // port that floods 0xFF fills the buffer without ever ending one.
  if (reply[0] == '\0') return 1;
  if (std::strstr(reply, "BOOTSTRAP") != nullptr) {
    ext.bootstrap = true;
    ext.kernel().DbgPrint("ZIMOPCI: CardOnPort() BOOTSTRAP\n");
    return 1;
  }
  ext.bootstrap = false;
  return ZimoPingAndClean(ext);
}

}  // namespace zimo::drivers::pci
