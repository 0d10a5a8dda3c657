#include "link/serial_transport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corvan/command_api.h"
#include "link/card_text.h"
#include "link/device_lock.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/response_lines.h"
#include "link/serial_setup.h"
#include "link/transport_users.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kCharSendGiveUpMs = 1000;
constexpr std::uint32_t kFlushDrainLimit = 255;
// A card's whole output queue and then some.
constexpr std::uint32_t kSettleDrainLimit = 8192;
constexpr std::uint32_t kCommandScratchMax = 255;

SharedDeviceBlock* BlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}

// The block that keeps the port's state (read-ahead, unsettled line): the
// link's home device's, shared by every device number on the port, so that
// what one of them left on the line is the next reader's, whichever number
// it reads for. Falls back to the device's own.
SharedDeviceBlock* LinkBlockOf(int device, SharedDeviceBlock* own) {
  const int home = LinkHomeDevice(device);
  if (home == device || !IsRealDevice(home)) return own;
  SharedDeviceBlock* link = App().Block(home);
  return link != nullptr ? link : own;
}

void SetLastError(SharedDeviceBlock* block, std::uint32_t code) {
  if (block != nullptr) block->SerialLastError = code;
}

// Waits until the port has input, at most `timeout_ms` by the current
// clock. A wait that ran out lets the clock catch up to its deadline, so a
// test clock moves with the port's time-outs.
void WaitForInput(const platform::SerialPort& port, std::uint32_t timeout_ms) {
  const std::uint64_t deadline = platform::TickCount64() + timeout_ms;
  const platform::Status waited = port.WaitReadable(timeout_ms);
  if (waited.ok()) return;
  if (waited.code() != platform::Code::kTimeout) {
    // The far end hung up: nothing will come, but do not spin.
    platform::SleepMs(1);
    return;
  }
  const std::uint64_t now = platform::TickCount64();
  if (now < deadline) platform::SleepMs(static_cast<std::uint32_t>(deadline - now));
}

// Input taken from the port but not yet read is held in the device's shared
// block, so that it is the next reader's, whichever process reads next.
void DropAhead(SharedDeviceBlock& block) {
  block.SerialAheadStart = 0;
  block.SerialAheadCount = 0;
}

// The next input character, if one is there: first what an earlier read
// took from the port, else all the port holds now (up to the room there
// is), in one read. Nothing is handed out past the character asked for:
// the rest waits for the next reader, of this process or another. Callers
// hold the device lock.
bool NextChar(SharedDeviceBlock& block, platform::SerialPort& port, char* c) {
  if (block.SerialAheadCount == 0) {
    auto got = port.ReadAvailable(block.SerialAhead, sizeof block.SerialAhead);
    if (!got.ok() || *got == 0) return false;
    block.SerialAheadStart = 0;
    block.SerialAheadCount = static_cast<std::uint32_t>(*got);
  }
  if (block.SerialAheadStart >= sizeof block.SerialAhead ||
      block.SerialAheadCount > sizeof block.SerialAhead - block.SerialAheadStart) {
    // Not what this library writes there: the record is not to be trusted.
    DropAhead(block);
    return false;
  }
  *c = block.SerialAhead[block.SerialAheadStart++];
  if (--block.SerialAheadCount == 0) block.SerialAheadStart = 0;
  return true;
}

// The card's error number after BEL: the first decimal digits after the BEL,
// when they lie inside a text of more than three characters.
bool CardErrorNumber(const char* text, std::uint32_t length, std::uint32_t* number) {
  const char* bel = static_cast<const char*>(std::memchr(text, kBel, length));
  if (bel == nullptr || length <= 3) return false;
  const char* end = text + length;
  for (const char* p = bel + 1; p < end; ++p) {
    if (*p >= '0' && *p <= '9') {
      std::uint32_t value = 0;
      for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<std::uint32_t>(*p - '0');
      }
      *number = value;
      return true;
    }
  }
  return false;
}

class SerialChannelImpl final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int device, char c) override { return SerSendChar(device, c); }
  std::uint32_t SendLine(int device, const char* text) override {
    return SerSendLine(device, text);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                        std::uint32_t* count) override {
    return SerGetLine(device, buffer, max, count);
  }
  std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) override {
    return SerGetBuffer(device, buffer, max, count);
  }
  std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                            const char* command) override {
    return SerGetResponse(device, buffer, max, command);
  }
  std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) override {
    return SerGetControlResponse(device, buffer, max, c);
  }
  std::uint32_t ReadReady(int device) override { return SerReadReady(device); }
  bool Flush(int device) override {
    SerFlush(device);
    return true;
  }
  std::int32_t LastError(int device) override {
    const SharedDeviceBlock* block = BlockOf(device);
    return block != nullptr ? static_cast<std::int32_t>(block->SerialLastError) : 0;
  }
  void SetLastError(int device, std::int32_t code) override {
    zimo::corvan::SetLastError(BlockOf(device), static_cast<std::uint32_t>(code));
  }
};

}  // namespace

platform::SerialPort* SerialPortOf(int device) {
  if (!IsRealDevice(device)) return nullptr;
  DeviceUserHandle* user = App().User(device);
  if (user->Transport == nullptr || !user->Transport->serial.is_open()) return nullptr;
  return &user->Transport->serial;
}

std::uint32_t SerOpen(int device, LocationHandle& handle) {
  SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr) return platform::win32::kErrorInvalidHandle;
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", enumeration);

  bool have_port = false;
  const std::uint32_t owner = block->SerialOwnerHandle;
  const std::uint32_t owner_pid = block->SerialOwnerProcessId;
  if (owner != kNoOwner && owner != 0 && owner_pid != kNoOwner) {
    auto copy =
        platform::DuplicateFdFromProcess(static_cast<pid_t>(owner_pid), static_cast<int>(owner));
    if (copy.ok()) {
      platform::UniqueFd fd(*copy);
      if (platform::IsComPortDevice(fd.get(), name)) {
        auto adopted = platform::SerialPort::Adopt(std::move(fd));
        if (adopted.ok()) {
          handle.serial = std::move(adopted.value());
          have_port = true;
        }
      }
    }
    if (!have_port) {
      platform::DebugPrintf("Serial port owner %u (process %u) has gone: opening %s anew\n", owner,
                            owner_pid, name);
    }
  }
  if (!have_port) {
    // Shared among the library's own openers: a late opener whose owner has
    // gone must still get the port while other processes hold copies of the
    // owner's descriptor. Openers outside the library that ask for the port
    // alone are still refused.
    auto opened = platform::SerialPort::Open(name, platform::SerialShare::kShared);
    if (!opened.ok()) return platform::Win32ErrorFromStatus(opened.status());
    handle.serial = std::move(opened.value());
    block->SerialOwnerProcessId = static_cast<std::uint32_t>(platform::CurrentProcessId());
    block->SerialOwnerHandle = static_cast<std::uint32_t>(handle.serial.fd());
  }
  platform::DebugPrintf("Initial Serial Handle = %d   dwUserCount = %d\n",
                        static_cast<int>(block->SerialOwnerHandle),
                        static_cast<int>(block->TransportUserCount));
  AddTransportUser(*block);
  return 0;
}

void SerClose(int device, LocationHandle& handle) {
  SharedDeviceBlock* block = BlockOf(device);
  if (block != nullptr) RemoveTransportUser(*block);
  if (handle.serial.is_open()) {
    handle.serial.Close();
  } else {
    platform::DebugOutput("Bogus Handle\n");
  }
  if (block != nullptr && block->TransportUserCount == 0) {
    block->SerialOwnerProcessId = kNoOwner;
    block->SerialOwnerHandle = kNoOwner;
    DropAhead(*block);  // nobody holds the line any more
  }
}

int SerReportCommError(int device, std::uint32_t* errors, platform::ComStat* stat) {
  platform::SerialPort* port = SerialPortOf(device);
  platform::CommErrors state;
  if (port != nullptr) {
    auto read = port->ClearCommError();
    if (read.ok()) {
      state = *read;
    } else {
      state.errors = platform::comm::kErrorMode;
    }
  } else {
    state.errors = platform::comm::kErrorMode;
  }
  // Input already taken from the port but not yet read counts as queued.
  SharedDeviceBlock* block = BlockOf(device);
  if (port != nullptr && block != nullptr) state.stat.in_queue += LinkBlockOf(device, block)->SerialAheadCount;
  if (errors != nullptr) *errors = state.errors;
  if (stat != nullptr) *stat = state.stat;

  static constexpr struct {
    std::uint32_t flag;
    const char* text;
  } kHolds[] = {{0x01, "!!! fCtsHold"},  {0x02, "!!! fDsrHold"},  {0x04, "!!! fRlsdHold"},
                {0x08, "!!! fXoffHold"}, {0x10, "!!! fXoffSent"}, {0x20, "!!! fEof"},
                {0x40, "!!! fTxim"}};
  for (const auto& h : kHolds) {
    if ((state.stat.flags & h.flag) != 0) {
      platform::DebugPrintf("%35s%s\n", "", h.text);
      break;
    }
  }
  if (state.errors == 0) return 1;

  static constexpr struct {
    std::uint32_t flag;
    const char* text;
  } kErrors[] = {
      {0x0010, "The hardware detected a break condition."},
      {0x0800, "Windows 95/98: A parallel device is not selected."},
      {0x0008, "The hardware detected a framing error."},
      {0x0400, "An I/O error occurred during communications with the device."},
      {0x8000,
       "The requested mode is not supported, or the hFile parameter is invalid. If this value is "
       "specified, it is the only valid error."},
      {0x1000, "Windows 95/98: A parallel device signaled that it is out of paper."},
      {0x0002, "A character-buffer overrun has occurred. The next character is lost."},
      {0x0200, "Windows 95/98: A time-out occurred on a parallel device."},
      {0x0001,
       "An input buffer overflow has occurred. There is either no room in the input buffer, or a "
       "character was received after the end-of-file (EOF) character."},
      {0x0004, "The hardware detected a parity error."},
      {0x0100,
       "!!! The application tried to transmit a character, but the output buffer was full."},
  };
  const char* text = "!!! ClearTheCommError: Unexpected error code.";
  for (const auto& e : kErrors) {
    if ((state.errors & e.flag) != 0) {
      text = e.text;
      break;
    }
  }
  platform::DebugPrintf("%16s%s\n", "", text);
  return 0;
}

std::uint32_t SerReadCharTimed(int device, char* c) {
  DeviceLock lock(device);
  SharedDeviceBlock* block = BlockOf(device);
  SetLastError(block, 0);
  platform::SerialPort* port = SerialPortOf(device);
  if (block == nullptr || port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return kStatusFailure;
  }
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    char got = 0;
    if (NextChar(*LinkBlockOf(device, block), *port, &got)) {
      if (c != nullptr) *c = got;
      return 1;
    }
    const std::uint32_t elapsed = platform::TickCount() - start;
    if (elapsed > block->SerCharTimeout) {
      LinkBlockOf(device, block)->LinkUnsettled = 1;
      return kStatusTimeout;
    }
    WaitForInput(*port, block->SerCharTimeout - elapsed + 1);
  }
}

std::uint32_t SerSendChar(int device, char c) {
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return 0;
  }
  DeviceLock lock(device);
  block->SerialLastError = 0;
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    auto written = port->Write(&c, 1);
    if (written.ok() && *written == 1) return 1;
    if (platform::TickCount() - start >= kCharSendGiveUpMs) {
      block->SerialLastError = kSerErrCharNotWritten;
      return 0;
    }
    platform::SleepMs(1);
  }
}

std::uint32_t SerSendLine(int device, const char* text) {
  DeviceLock lock(device);
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return 0;
  }
  if (text == nullptr) {
    block->SerialLastError = platform::win32::kErrorInvalidParameter;
    return 0;
  }
  const std::size_t length = std::strlen(text);
  if (length > kSerMaxLineText) {
    // The line and its CR must fit the line buffer; a longer one is refused
    // whole rather than cut, so the card never runs half a command.
    block->SerialLastError = kSerErrLineFull;
    return kStatusFailure;
  }
  char line[kSerLineBufferSize];
  std::memcpy(line, text, length);
  line[length] = kCr;
  const std::size_t want = length + 1;
  auto written = port->Write(line, want);
  if (written.ok() && *written == want) return static_cast<std::uint32_t>(want);
  block->SerialLastError = written.ok() ? platform::win32::kErrorTimeout
                                        : platform::Win32ErrorFromStatus(written.status());
  LinkBlockOf(device, block)->LinkUnsettled = 1;
  std::uint32_t errors = 0;
  SerReportCommError(device, &errors, nullptr);
  if (errors != 0) return kStatusFailure;
  return written.ok() ? static_cast<std::uint32_t>(*written) : 0;
}

std::uint32_t SerReadReady(int device) {
  DeviceLock lock(device);
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return 0;
  }
  block->SerialLastError = 0;
  std::uint32_t errors = 0;
  platform::ComStat stat;
  SerReportCommError(device, &errors, &stat);
  return errors == 0 && stat.in_queue >= 1 ? 1 : 0;
}

void SerFlush(int device) {
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return;
  }
  DeviceLock lock(device);
  if (SerReadReady(device) == 0) return;
  PurgeSerialPort(*port);
  DropAhead(*LinkBlockOf(device, block));
  const char ctrl_x = kCtrlX;
  (void)port->Write(&ctrl_x, 1);
  // Drain until the card's echo of Ctrl-X: whatever it had queued before
  // the Ctrl-X comes first and is dropped with it.
  std::uint32_t drained = 0;
  std::uint32_t last = platform::TickCount();
  while (drained < kFlushDrainLimit) {
    char c = 0;
    if (NextChar(*LinkBlockOf(device, block), *port, &c)) {
      ++drained;
      last = platform::TickCount();
      if (c == kCtrlX) break;
      continue;
    }
    const std::uint32_t quiet = platform::TickCount() - last;
    if (quiet >= block->SerFlushTimeout) break;
    WaitForInput(*port, block->SerFlushTimeout - quiet);
  }
}

void SerBeginExchange(int device) {
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  DeviceLock lock(device);
  if (block == nullptr || port == nullptr || LinkBlockOf(device, block)->LinkUnsettled == 0) {
    SerFlush(device);
    return;
  }
  // An earlier exchange timed out or failed: its answer may still be on the
  // way. Have the card drop what it holds and read the line up to the echo
  // of the Ctrl-X (a card that was busy answers the earlier command first),
  // then until it stays quiet, so that no late answer is taken for the
  // answer to the command that follows. Only what came in is dropped: the
  // lines still going out (the settings restored after a time-out) must
  // reach the card.
  (void)port->PurgeComm(platform::comm::kPurgeRxAbort | platform::comm::kPurgeRxClear);
  DropAhead(*LinkBlockOf(device, block));
  const char ctrl_x = kCtrlX;
  auto written = port->Write(&ctrl_x, 1);
  if (!written.ok() || *written != 1) return;  // still unsettled
  bool echoed = false;
  std::uint32_t drained = 0;
  std::uint32_t last = platform::TickCount();
  while (drained < kSettleDrainLimit) {
    char c = 0;
    if (NextChar(*LinkBlockOf(device, block), *port, &c)) {
      ++drained;
      last = platform::TickCount();
      if (c == kCtrlX) echoed = true;
      continue;
    }
    const std::uint32_t limit = echoed ? block->SerFlushTimeout : block->SerCharTimeout;
    const std::uint32_t quiet = platform::TickCount() - last;
    if (quiet >= limit) break;
    WaitForInput(*port, limit - quiet);
  }
  // Without the echo the card may still be busy: the next exchange tries
  // again.
  if (echoed) LinkBlockOf(device, block)->LinkUnsettled = 0;
}

std::uint32_t SerGetLine(int device, char* buffer, std::uint32_t max, std::uint32_t* count) {
  DeviceLock lock(device);
  if (count != nullptr) *count = 0;
  SharedDeviceBlock* block = BlockOf(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (port == nullptr) {
    SetLastError(block, kSerErrNotOpen);
    return kStatusFailure;
  }
  if (buffer == nullptr) {
    block->SerialLastError = platform::win32::kErrorInvalidParameter;
    return kStatusFailure;
  }
  buffer[0] = 0;
  block->SerialLastError = 0;
  std::uint32_t n = 0;
  bool bel = false;
  bool ended = false;
  bool timed_out = false;
  std::uint32_t last = platform::TickCount();
  bool in_batch = false;
  // With nothing held, the answer is usually still on its way: wait for it
  // before the first read rather than after a read that finds nothing.
  if (max > 0 && LinkBlockOf(device, block)->SerialAheadCount == 0) WaitForInput(*port, block->SerCharTimeout);
  while (!ended && n < max) {
    // Never past the line's end: what follows belongs to the next read,
    // maybe of another process sharing the port.
    char c = 0;
    if (NextChar(*LinkBlockOf(device, block), *port, &c)) {
      in_batch = true;
      buffer[n++] = c;
      if (c == kBel) {
        bel = true;
      } else if (c == kAck || c == kCr) {
        ended = true;
      }
      continue;
    }
    // Nothing queued: the time-out counts from the end of the last batch.
    if (in_batch) {
      last = platform::TickCount();
      in_batch = false;
    }
    const std::uint32_t quiet = platform::TickCount() - last;
    if (quiet >= block->SerCharTimeout) {
      timed_out = true;
      break;
    }
    WaitForInput(*port, block->SerCharTimeout - quiet);
  }
  buffer[n] = 0;

  std::uint32_t status;
  if (bel) {
    std::uint32_t number = 0;
    if (CardErrorNumber(buffer, n, &number)) block->SerialLastError = number;
    status = kStatusCardError;
  } else if (timed_out) {
    SerReportCommError(device, nullptr, nullptr);
    block->SerialLastError = kSerErrTimeout;
    LinkBlockOf(device, block)->LinkUnsettled = 1;
    status = kStatusTimeout;
  } else if (n > 0 && buffer[0] == kStx) {
    App().rings().StoreUSResponse(static_cast<std::uint32_t>(device), buffer + 1, n - 1);
    n = 0;
    buffer[0] = 0;
    status = kStatusUnsolicited;
  } else if (n > 0 && buffer[n - 1] == kAck) {
    buffer[--n] = 0;
    status = kStatusAck;
  } else if (n > 0 && buffer[n - 1] == kCr) {
    status = kStatusLine;
  } else {
    block->SerialLastError = kSerErrLineFull;
    status = kStatusFailure;
  }
  if (count != nullptr) *count = n;
  return status;
}

namespace {

// Lines back to back until one ends the collection or the buffer is full.
// The count is the characters stored before the line that ended it.
std::uint32_t Collect(int device, char* buffer, std::uint32_t max, std::uint32_t* count) {
  char* p = buffer;
  std::uint32_t left = max;
  std::uint32_t status = kStatusLine;
  while (left > 0) {
    std::uint32_t n = 0;
    status = SerGetLine(device, p, left, &n);
    if ((status & kStatusAck) != 0) break;
    if (status != kStatusUnsolicited) {
      left -= n;
      p += n;
    }
  }
  if (count != nullptr) *count = max - left;
  return status & kStatusMask;
}

// A reader that cannot store a single character is refused before anything
// is sent or read: the card's answer would have nowhere to go.
bool RefuseBuffer(int device, char* buffer, std::uint32_t max, std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  SharedDeviceBlock* block = BlockOf(device);
  if (buffer == nullptr) {
    SetLastError(block, SerialPortOf(device) == nullptr ? kSerErrNotOpen
                                                        : platform::win32::kErrorInvalidParameter);
    return true;
  }
  buffer[0] = 0;
  if (max == 0) {
    SetLastError(block, SerialPortOf(device) == nullptr ? kSerErrNotOpen : kSerErrLineFull);
    return true;
  }
  return false;
}

}  // namespace

std::uint32_t SerGetBuffer(int device, char* buffer, std::uint32_t max, std::uint32_t* count) {
  DeviceLock lock(device);
  if (RefuseBuffer(device, buffer, max, count)) return kStatusFailure;
  return Collect(device, buffer, max, count);
}

void SerSendCommand(int device, const char* text) {
  DeviceLock lock(device);
  SharedDeviceBlock* block = BlockOf(device);
  if (block != nullptr && LinkBlockOf(device, block)->LinkUnsettled != 0) SerBeginExchange(device);
  SerSendLine(device, text);
  char scratch[kCommandScratchMax + 1];
  std::uint32_t n = 0;
  Collect(device, scratch, kCommandScratchMax, &n);
}

namespace {

// A whole response by the collection rule of response_lines.h, read line by
// line; the line reader's own "line full" error gives way to the cut
// response's.
CollectedResponse CollectWholeResponse(int device, char* buffer, std::uint32_t max) {
  const LineReader read = [device](char* at, std::uint32_t room) {
    LineRead line;
    line.status = SerGetLine(device, at, room, &line.count);
    const bool full = line.count == room && (line.count == 0 || at[line.count - 1] != kCr);
    line.cut = full && (line.status == kStatusFailure || line.status == kStatusCardError);
    return line;
  };
  CollectedResponse collected = CollectResponseLines(read, buffer, max);
  if (collected.cut) SetLastError(BlockOf(device), static_cast<std::uint32_t>(kErrResponseCut));
  return collected;
}

}  // namespace

std::uint32_t SerGetResponse(int device, char* buffer, std::uint32_t max, const char* command) {
  DeviceLock lock(device);
  if (RefuseBuffer(device, buffer, max, nullptr)) return kStatusFailure;
  SharedDeviceBlock* block = BlockOf(device);
  if (command == nullptr || std::strlen(command) > kSerMaxLineText) {
    // Nothing is sent: a refused line would only leave the card silent.
    if (SerialPortOf(device) != nullptr) {
      block->SerialLastError =
          command == nullptr ? platform::win32::kErrorInvalidParameter : kSerErrLineFull;
    } else {
      SetLastError(block, kSerErrNotOpen);
    }
    return kStatusFailure;
  }
  SerBeginExchange(device);
  SerSendLine(device, command);
  const CollectedResponse collected = CollectWholeResponse(device, buffer, max);
  const std::uint32_t n = collected.stored;
  if (collected.status == kStatusTimeout) {
    App().rings().ChangeStore(static_cast<std::uint32_t>(device), kSerialRestoreLine);
    SerSendLine(device, kSerialRestoreLine);
    SerFlush(device);
    block->SerialLastError = kSerErrTimeout;
  } else if (collected.status == kStatusAck && n > 2 && buffer[n - 1] != kCr) {
    // Text that ended in ACK without a CR-ended line: a card sending sums.
    block->SerialLastError = kSerErrUnexpectedAck;
  }
  return collected.status | n;
}

std::uint32_t SerGetControlResponse(int device, char* buffer, std::uint32_t max, char c) {
  DeviceLock lock(device);
  if (RefuseBuffer(device, buffer, max, nullptr)) return kStatusFailure;
  SerBeginExchange(device);
  const char line[2] = {c, 0};
  SerSendLine(device, line);
  const CollectedResponse collected = CollectWholeResponse(device, buffer, max);
  return collected.status | collected.stored;
}

AsciiChannel& SerialChannel() {
  static SerialChannelImpl channel;
  return channel;
}

}  // namespace zimo::corvan
