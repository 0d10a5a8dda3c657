// The serial channel: a card on a COM port, with the same framing as the bus
// channel. Waits poll the port's status (ClearCommError); each poll pauses
// once (kPollPause), and the record's timeout counts polls without a
// character. A poll that finds input reads all of it in one go; the readers
// then take it character by character from the slot's input buffer, which
// counts as queued input, and ask the port again only once it is empty.
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "channels.h"
#include "internal.h"
#include "platform/clock.h"

namespace p = zimo::platform;
using namespace jux;

namespace {

constexpr char kAck = 6, kBel = 7, kCr = 13;

// One comm state for the whole library, as every serial card shares it.
p::Dcb g_dcb;

constexpr int kRates[] = {300,   400,   600,   800,   900,   1200,  1600,  1800,  2400,
                          3200,  3600,  4800,  6400,  7200,  9600,  12800, 14400, 19200,
                          25600, 28800, 38400, 51200, 57600, 76800, 115200};
constexpr int kSearch[] = {76800, 51200, 38400, 19200, 9600, 4800, 2400, 1200};

p::SerialPort* Port(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (slot == nullptr || !slot->serial || !slot->serial->is_open()) return nullptr;
  return &*slot->serial;
}

// The port's status; line errors are kept until a failure reports them.
// The input count includes what was read ahead into the slot's buffer.
bool Poll(tagMCardInfo* r, p::ComStat* stat) {
  p::SerialPort* port = Port(r);
  if (port == nullptr) return false;
  auto e = port->ClearCommError();
  if (!e.ok()) return false;
  SlotResources* slot = SlotOf(r);
  slot->serial_errors |= e->errors;
  *stat = e->stat;
  stat->in_queue += static_cast<uint32_t>(slot->serial_input.size());
  return true;
}

enum class Take { kChar, kNone, kFailed };

// Fills the empty read-ahead buffer: one poll of the port and, when it
// reports input, one read of everything queued. kChar: the buffer holds
// input; kNone: the poll found nothing (an idle poll); kFailed: the port is
// gone.
Take FillInput(tagMCardInfo* r, SerialInput& in) {
  p::ComStat stat;
  if (!Poll(r, &stat)) return Take::kFailed;
  if (stat.in_queue == 0) return Take::kNone;
  in.clear();
  // No more than the poll counted: that much is there, whatever the port's
  // read time-outs are.
  auto got = Port(r)->Read(in.bytes, std::min<size_t>(stat.in_queue, sizeof(in.bytes)));
  if (!got.ok() || *got == 0) return Take::kNone;
  in.end = *got;
  return Take::kChar;
}

// The next received character: from the read-ahead buffer, else after
// FillInput.
Take TakeChar(tagMCardInfo* r, char* c) {
  SlotResources* slot = SlotOf(r);
  if (slot == nullptr) return Take::kFailed;
  SerialInput& in = slot->serial_input;
  if (in.size() == 0) {
    const Take filled = FillInput(r, in);
    if (filled != Take::kChar) return filled;
  }
  *c = in.bytes[in.begin++];
  if (in.size() == 0) in.clear();
  return Take::kChar;
}

// The code of the first line error bit in the order they are reported, or 0.
long LineErrorCode(uint32_t bits) {
  if (bits & p::comm::kErrorTxFull) return 3010;
  if (bits & p::comm::kErrorFrame) return 3006;
  if (bits & p::comm::kErrorOverrun) return 3008;
  if (bits & p::comm::kErrorIoError) return 3007;
  if (bits & p::comm::kErrorRxParity) return 3009;
  if (bits & p::comm::kErrorRxOver) return 3011;
  if (bits & p::comm::kErrorBreak) return 3005;
  return 0;
}

// Stores the code of the line errors seen (clearing them); `fallback` when
// there were none (0: keep the record's code).
void ReportLineErrors(tagMCardInfo* r, long fallback) {
  p::ComStat stat;
  Poll(r, &stat);
  SlotResources* slot = SlotOf(r);
  const long code = LineErrorCode(slot != nullptr ? slot->serial_errors : 0);
  if (slot != nullptr) slot->serial_errors = 0;
  if (code != 0) {
    SetError(r, code);
  } else if (fallback != 0) {
    SetError(r, fallback);
  }
}

// The pause after an empty read poll. On the real clock it ends early when
// input arrives, so the next poll finds the character at once; the poll
// count stays what it is. On another clock (tests) it is the plain pause.
void InputPause(tagMCardInfo* r) {
  p::SerialPort* port = Port(r);
  if (port == nullptr || &p::CurrentClock() != &p::RealClock()) {
    PollPause();
    return;
  }
  pollfd fd{port->fd(), POLLIN, 0};
  const timespec pause{0, static_cast<long>(kPollPause.count()) * 1000};
  (void)::ppoll(&fd, 1, &pause, nullptr);
}

// Polls until the transmit queue drains, giving up after `timeout` polls.
bool WaitOutputEmpty(tagMCardInfo* r) {
  for (int32_t i = 0;; ++i) {
    p::ComStat stat;
    if (!Poll(r, &stat)) return false;
    if (stat.out_queue == 0) return true;
    if (i >= r->timeout) return false;
    PollPause();
  }
}

void CloseSlotPort(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (slot != nullptr && slot->serial) {
    if (slot->serial->is_open()) (void)slot->serial->PurgeComm(0xF);
    slot->serial.reset();
    slot->serial_errors = 0;
    slot->serial_input.clear();
  }
  r->serial_handle = 0;
}

bool OpenPort(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (slot == nullptr) return false;
  char name[32];
  std::snprintf(name, sizeof(name), "COM%ld", static_cast<long>(r->com_port));
  auto port = p::SerialPort::Open(name, p::SerialShare::kExclusive);
  if (!port.ok()) return false;
  slot->serial.emplace(std::move(*port));
  slot->serial_errors = 0;
  slot->serial_input.clear();
  r->serial_handle = static_cast<uint32_t>(r->slot) + 1;
  return true;
}

bool SetTimeouts(tagMCardInfo* r) {
  p::CommTimeouts t;
  t.read_interval_timeout = p::kMaxDword;
  t.read_total_timeout_multiplier = 0;
  t.read_total_timeout_constant = 0;
  t.write_total_timeout_multiplier = 100;
  t.write_total_timeout_constant = 0;
  return Port(r) != nullptr && Port(r)->SetCommTimeouts(t).ok();
}

bool SetState(tagMCardInfo* r) { return Port(r) != nullptr && Port(r)->SetCommState(g_dcb).ok(); }

void SetLine(int rate) {
  g_dcb.baud_rate = static_cast<uint32_t>(rate);
  g_dcb.byte_size = 8;
  g_dcb.parity = p::dcb::kNoParity;
  g_dcb.stop_bits = p::dcb::kOneStopBit;
}

void Transmit(tagMCardInfo* r, char c) {
  if (p::SerialPort* port = Port(r)) (void)port->TransmitCommChar(c);
}

// Reads characters while they come, until `size` are stored, an ACK (or,
// with `stop_at_cr`, a CR) ended the read, or timeout polls passed without
// one. The text is terminated (the buffer holds size + 1).
ResponseEnd ReadText(tagMCardInfo* r, char* buffer, unsigned size, bool stop_at_cr,
                     size_t* length) {
  size_t n = 0;
  int32_t idle = 0;
  ResponseEnd end = ResponseEnd::kSize;
  while (n < size) {
    char c = 0;
    const Take took = TakeChar(r, &c);
    if (took == Take::kFailed) {
      end = ResponseEnd::kTimeout;
      break;
    }
    if (took == Take::kChar) {
      idle = 0;
      const ResponseEnd ended = TakeResponseChar(c, buffer, &n, stop_at_cr);
      if (ended != ResponseEnd::kNone) {
        end = ended;
        break;
      }
      continue;
    }
    if (idle >= r->timeout) {
      end = ResponseEnd::kTimeout;
      break;
    }
    InputPause(r);
    ++idle;
  }
  buffer[n] = '\0';
  *length = n;
  return end;
}

int GetLine(tagMCardInfo* r, char* buffer, unsigned size, bool stop_at_cr) {
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  size_t n = 0;
  const ResponseEnd end = ReadText(r, buffer, size, stop_at_cr, &n);
  if (std::memchr(buffer, kBel, n) != nullptr) return StoreCardError(r, buffer, n);
  if (end == ResponseEnd::kTimeout) {
    ReportLineErrors(r, 3004);
    return 0;
  }
  CutResponseEnd(buffer, n, end, stop_at_cr);
  return 1;
}

// Reads pending responses away into `buffer`, at most 11, while they succeed.
// The command's own outcome decides the record's code, not what ended the
// reading of old output.
// The card echoes the CTRL-X sent just before: when that echo is already
// queued it is taken here, as the line reader would skip it anyway. An echo
// alone is no pending response, and reading it as one would wait out the
// whole timeout for a response that never comes.
void ReadPending(tagMCardInfo* r, char* buffer, unsigned size) {
  SlotResources* slot = SlotOf(r);
  if (slot == nullptr) return;
  SerialInput& in = slot->serial_input;
  for (;;) {
    if (in.size() == 0 && FillInput(r, in) != Take::kChar) return;  // nothing queued
    if (in.bytes[in.begin] != 24) break;
    ++in.begin;
    if (in.size() == 0) in.clear();
  }
  const int32_t code = r->last_error;
  for (int i = 0; i < 11; ++i) {
    if (!SERGetLine(r, buffer, size)) break;
  }
  r->last_error = code;
}

}  // namespace

namespace jux {
void SerialTransmit(tagMCardInfo* record, char c) { Transmit(record, c); }

bool AcceptedBaudRate(int32_t rate) {
  if (rate == 0) return true;  // search
  for (int accepted : kRates) {
    if (accepted == rate) return true;
  }
  return false;
}
}  // namespace jux

extern "C" {

int SERInit(tagMCardInfo* r) {
  if (r == nullptr) return SetGlobalError(1005), 0;
  if (r->com_port < 1 || r->com_port > 16) return SetError(r, 3001), 0;
  if (!AcceptedBaudRate(r->baud_rate)) return SetError(r, 3002), 0;
  if (r->timeout < 20) r->timeout = 20;
  if (!OpenPort(r)) return SetError(r, 3013), 0;
  auto state = Port(r)->GetCommState();
  if (!state.ok()) {
    CloseSlotPort(r);
    return SetError(r, 3014), 0;
  }
  g_dcb = *state;
  SetTimeouts(r);
  if (r->baud_rate != 0) {
    SetLine(r->baud_rate);
    if (!SetState(r)) {
      CloseSlotPort(r);
      return SetError(r, 3015), 0;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      (void)Port(r)->SetupComm(15000, 500);
      if (SERCardOnLine(r)) break;
      if (attempt == 0) {
        r->timeout *= 2;
        SetState(r);
      }
    }
  } else {
    const int tries = r->retries + 1;
    for (int i = 0; i < tries; ++i) {
      if (SERFindBaudrate(r)) break;
      if (i + 1 < tries) r->timeout *= 2;
    }
    r->baud_rate = static_cast<int32_t>(g_dcb.baud_rate);
  }
  if (!r->serial_open || Port(r) == nullptr) {
    CloseSlotPort(r);
    r->serial_open = 0;
    return SetError(r, 3012), 0;
  }
  SERSendLine(r, "I6=1");
  SERFlush(r);
  if (r->serial_open) return 1;
  CloseSlotPort(r);
  return SetError(r, 3012), 0;
}

int SERCloseComm(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  CloseSlotPort(r);
  r->serial_open = 0;
  return 1;
}

int SERFindBaudrate(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  CloseSlotPort(r);
  if (!OpenPort(r)) return SetError(r, 3013), 0;
  SetTimeouts(r);
  for (int rate : kSearch) {
    auto state = Port(r)->GetCommState();
    if (!state.ok()) return SetError(r, 3014), 0;
    g_dcb = *state;
    SetLine(rate);
    g_dcb.flags |= p::dcb::kAbortOnError;
    if (!SetState(r)) return SetError(r, 3015), 0;
    (void)Port(r)->SetupComm(15000, 500);
    p::ComStat stat;
    Poll(r, &stat);
    if (SERCardOnLine(r)) {
      r->baud_rate = rate;
      return 1;
    }
    CloseSlotPort(r);
    if (!OpenPort(r)) return SetError(r, 3013), 0;
    SetTimeouts(r);
  }
  return 0;
}

int SERCardOnLine(tagMCardInfo* r) {
  if (r == nullptr || Port(r) == nullptr) return 0;
  const int32_t method = r->method;
  r->method = 2;
  r->serial_open = 1;
  g_dcb.flags |= p::dcb::kOutX | p::dcb::kInX;
  g_dcb.flags &= ~p::dcb::kOutxCtsFlow;
  SetState(r);
  Transmit(r, 24);
  SERFlush(r);
  Transmit(r, 26);
  char reply[256];
  SERGetResponse(r, reply, 255, "?");
  g_dcb.flags |= p::dcb::kOutxCtsFlow;
  g_dcb.flags &= ~(p::dcb::kOutX | p::dcb::kInX);
  SetState(r);
  SERGetResponse(r, reply, 127, "@0I1=2@0");
  bool found = false;
  bool bootstrap = false;
  for (int round = 0; round < r->retries && !found; ++round) {
    Transmit(r, 24);
    Transmit(r, 26);
    SERGetResponse(r, reply, 70, "?");
    szStripControlChar(reply);
    bootstrap = std::strstr(reply, "BOOTSTRAP") != nullptr;
    found = std::strlen(reply) == 12 || bootstrap;
  }
  if (!found) {
    r->serial_open = 0;
    r->method = method;
    return 0;
  }
  if (bootstrap) {
    r->bootstrap = 1;
    return 1;
  }
  SERGetResponse(r, reply, 255, "@0");
  return 1;
}

int SERSendChar(tagMCardInfo* r, char c) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr) return 0;
  if (WaitOutputEmpty(r)) {
    auto put = Port(r)->Write(&c, 1);
    if (put.ok() && *put == 1) return 1;
  }
  SetError(r, 3003);
  ReportLineErrors(r, 0);
  return 0;
}

int SERSendLine(tagMCardInfo* r, const char* line) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr || line == nullptr) return 0;
  std::string text;
  for (const char* q = line; *q != '\0'; ++q) {
    if (!IsCtrl(*q)) text.push_back(*q);
  }
  if (text.size() > 250) return SetError(r, 5001), 0;
  text.push_back(kCr);
  if (WaitOutputEmpty(r)) {
    auto put = Port(r)->Write(text.data(), text.size());
    if (put.ok() && *put == text.size()) return 1;
  }
  SetError(r, 3003);
  ReportLineErrors(r, 0);
  return 0;
}

int SERGetLine(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr) return 0;
  return GetLine(r, buffer, size, false);
}

int SERGetLineCR(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr) return 0;
  return GetLine(r, buffer, size, true);
}

int SERSendCommand(tagMCardInfo* r, const char* line) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr) return 0;
  SERSendLine(r, line);
  SERFlush(r);
  return 1;
}

int SERGetResponse(tagMCardInfo* r, char* buffer, unsigned size, const char* command) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr || buffer == nullptr) return 0;
  buffer[0] = '\0';
  Transmit(r, 24);
  ReadPending(r, buffer, size);
  buffer[0] = '\0';
  if (!SERSendLine(r, command)) return 0;
  return SERGetLine(r, buffer, size);
}

int SERGetControlResponse(tagMCardInfo* r, char* buffer, unsigned size, char c) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr || buffer == nullptr) return 0;
  buffer[0] = '\0';
  if (c == 20) return 0;
  Transmit(r, 24);
  ReadPending(r, buffer, size);
  buffer[0] = '\0';
  if (!SERSendChar(r, c)) return 0;
  if (IsReplyControl(c)) return SERGetLineCR(r, buffer, size);
  return 1;
}

int SERFlush(tagMCardInfo* r) {
  if (r == nullptr || !r->serial_open || Port(r) == nullptr) return 0;
  Transmit(r, 24);
  char text[255];
  size_t n = 0;
  int32_t idle = 0;
  bool timed_out = false;
  while (n < 254) {
    char c = 0;
    const Take took = TakeChar(r, &c);
    if (took == Take::kFailed) {
      timed_out = true;
      break;
    }
    if (took == Take::kChar) {
      text[n++] = c;
      idle = 0;
      if (c == kAck) break;
      continue;
    }
    if (idle >= r->timeout) {
      timed_out = true;
      break;
    }
    InputPause(r);
    ++idle;
  }
  text[n] = '\0';
  if (n > 0 && text[0] == kBel) {
    const long number = n > 4 ? std::strtol(text + 4, nullptr, 10) : 0;
    SetError(r, 50 + number);
    return 0;
  }
  if (timed_out) ReportLineErrors(r, 0);
  return 1;
}

int SERIsLineWaiting(tagMCardInfo* r) {
  if (r == nullptr || !r->serial_open) return 0;
  p::ComStat stat;
  return Poll(r, &stat) && stat.in_queue > 0 ? 1 : 0;
}

int SERCanSendChar(tagMCardInfo* r) {
  if (r == nullptr || !r->serial_open) return 0;
  p::ComStat stat;
  return Poll(r, &stat) && stat.out_queue == 0 ? 1 : 0;
}

}  // extern "C"
