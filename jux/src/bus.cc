// The bus-port channel: an ISA card's eight ports, reached one access at a
// time through the port-I/O helper driver. Status port (offset 2): bit 0 a
// character can be read, bit 1 the card takes one; data port (offset 7).
// Every poll is one request to the driver, so waits count polls and need no
// pause of their own.
#include <cstdlib>
#include <cstring>

#include "channels.h"
#include "internal.h"

using namespace jux;

namespace {

constexpr char kBel = 7, kCr = 13;
constexpr unsigned kStatusPort = 2, kDataPort = 7;

HwPortRange Range(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  return slot != nullptr ? static_cast<HwPortRange>(slot->bus_range) : nullptr;
}

uint8_t Status(tagMCardInfo* r) { return HwInp(Range(r), kStatusPort); }

// Polls for the card to take a character, at most timeout polls.
bool SendWait(tagMCardInfo* r) {
  for (int32_t i = 0; i < r->timeout; ++i) {
    if (Status(r) & 2) return true;
  }
  return false;
}

void SendTimeout(tagMCardInfo* r) {
  r->last_error = 2004;
  r->send_status = 2004;
}

// Receive waits: timeout polls per round, at most `rounds` rounds counted
// over the whole read.
struct Receiver {
  tagMCardInfo* r;
  int32_t rounds;
  int32_t used = 0;
  bool Wait() {
    int32_t polls = 0;
    for (;;) {
      if (Status(r) & 1) return true;
      if (++polls >= r->timeout) {
        polls = 0;
        if (++used >= rounds) return false;
      }
    }
  }
};

// Reads one response (or, with stop_at_cr, one line) into buffer, which
// holds size characters and a terminator.
ResponseEnd Read(tagMCardInfo* r, char* buffer, int size, bool stop_at_cr, size_t* length) {
  Receiver rx{r, r->retries > 1 ? r->retries : 1};
  size_t n = 0;
  ResponseEnd end = ResponseEnd::kNone;
  if (rx.Wait()) {
    for (;;) {
      const char c = static_cast<char>(HwInp(Range(r), kDataPort));
      end = TakeResponseChar(c, buffer, &n, stop_at_cr);
      if (end != ResponseEnd::kNone) break;
      if (n >= static_cast<size_t>(size)) {
        end = ResponseEnd::kSize;
        break;
      }
      if (!rx.Wait()) {
        end = ResponseEnd::kTimeout;
        break;
      }
    }
  }
  buffer[n] = '\0';
  *length = n;
  return end;
}

int GetLine(tagMCardInfo* r, char* buffer, int size, bool stop_at_cr) {
  if (r == nullptr || !r->bus_open || buffer == nullptr || size < 1) return 0;
  if (r->timeout < 1) {
    buffer[0] = '\0';
    return SetError(r, 2002), 0;
  }
  size_t n = 0;
  const ResponseEnd end = Read(r, buffer, size, stop_at_cr, &n);
  if (end == ResponseEnd::kNone) {
    SetError(r, 2002);
    if (stop_at_cr) BUSFlush(r);
    return 0;
  }
  if (std::memchr(buffer, kBel, n) != nullptr) return StoreCardError(r, buffer, n);
  if (end == ResponseEnd::kTimeout) {
    // The response broke off: what came stays, the call fails.
    return SetError(r, 2002), 0;
  }
  CutResponseEnd(buffer, n, end, stop_at_cr);
  return 1;
}

// Responses still waiting are read away into the caller's buffer.
void ReadWaiting(tagMCardInfo* r, char* buffer, int size) {
  while (r->bus_open && (Status(r) & 1) && BUSGetLine(r, buffer, size)) {
  }
}

}  // namespace

extern "C" {

int BUSInit(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (r == nullptr || slot == nullptr) return 0;
  if (slot->bus_range != nullptr) HwDeletePort(static_cast<HwPortRange>(slot->bus_range));
  slot->bus_range = HwNewPortRange(static_cast<unsigned long>(r->bus_base), 8);
  if (slot->bus_range == nullptr) {
    r->bus_open = 0;
    r->connected = 0;
    return SetError(r, 1011), 0;
  }
  int ok = BUSCardOnLine(r);
  for (int32_t extra = 0; !ok && extra < r->retries; ++extra) {
    r->timeout *= 2;
    ok = BUSCardOnLine(r);
  }
  if (!r->bus_open) {
    HwDeletePort(static_cast<HwPortRange>(slot->bus_range));
    slot->bus_range = nullptr;
  }
  return r->bus_open;
}

int BUSCloseComm(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (slot != nullptr && slot->bus_range != nullptr) {
    HwDeletePort(static_cast<HwPortRange>(slot->bus_range));
    slot->bus_range = nullptr;
  }
  if (r != nullptr) r->bus_open = 0;
  return 1;
}

int BUSCardOnLine(tagMCardInfo* r) {
  if (r == nullptr || Range(r) == nullptr) return 0;
  const int32_t connected = r->connected;
  r->bus_open = 1;
  r->connected = 1;
  HwOutp(Range(r), 5, 0);
  HwOutp(Range(r), 6, 0);
  if (r->timeout <= 20) r->timeout = 500;
  for (char c : {char(26), char(24)}) {
    if (SendWait(r)) {
      HwOutp(Range(r), kDataPort, static_cast<uint8_t>(c));
    } else {
      SendTimeout(r);
    }
  }
  r->method = 0;
  // Drain what the card still sends; a card that never stops is not found.
  int32_t drained = 0;
  for (;;) {
    bool more = false;
    for (int32_t i = 0; i < 2 * r->timeout && !more; ++i) more = (Status(r) & 1) != 0;
    if (!more) break;
    HwInp(Range(r), kDataPort);
    if (++drained >= 5002) {
      r->bus_open = 0;
      r->connected = connected;
      return SetError(r, 2001), 0;
    }
  }
  PSendCommand(r, "CLOSE");
  PSendCommand(r, "I3=2I58=0");
  PSendCommand(r, "CLOSE");
  PSendChar(r, 25);
  char reply[72];
  PGetLine(r, reply, 9);
  if (std::strstr(reply, "CLO") != nullptr) return 1;
  r->bus_open = 1;
  ReadWaiting(r, reply, 70);
  reply[0] = '\0';
  if (BUSSendLine(r, "?")) BUSGetLine(r, reply, 70);
  const bool bootstrap = std::strstr(reply, "BOOTSTRAP") != nullptr;
  if (std::strlen(reply) <= 11 && !bootstrap) {
    r->bus_open = 0;
    r->connected = connected;
    return 0;
  }
  if (bootstrap) r->bootstrap = 1;
  r->bus_open = 1;
  return 1;
}

int BUSSendChar(tagMCardInfo* r, char c) {
  if (r == nullptr) return 0;
  if (!r->bus_open || Range(r) == nullptr) return SetError(r, 2003), 0;
  if (!SendWait(r)) return SendTimeout(r), 0;
  return HwOutp(Range(r), kDataPort, static_cast<uint8_t>(c));
}

int BUSSendLine(tagMCardInfo* r, const char* line) {
  if (r == nullptr) return 0;
  if (!r->bus_open || Range(r) == nullptr) return SetError(r, 2003), 0;
  if (line == nullptr) return 0;
  if (std::strlen(line) >= 160) return SetError(r, 5001), 0;
  r->send_status = 0;
  for (const char* q = line; *q != '\0'; ++q) {
    if (IsCtrl(*q)) continue;
    if (!SendWait(r)) return SendTimeout(r), 0;
    HwOutp(Range(r), kDataPort, static_cast<uint8_t>(*q));
  }
  if (!SendWait(r)) return SendTimeout(r), 0;
  HwOutp(Range(r), kDataPort, kCr);
  return r->send_status == 0 ? 1 : 0;
}

int BUSGetLine(tagMCardInfo* r, char* buffer, int size) { return GetLine(r, buffer, size, false); }

int BUSGetLineCR(tagMCardInfo* r, char* buffer, int size) { return GetLine(r, buffer, size, true); }

int BUSSendCommand(tagMCardInfo* r, const char* line) {
  BUSSendLine(r, line);
  return BUSFlush(r);
}

int BUSGetControlResponse(tagMCardInfo* r, char* buffer, int size, char c) {
  if (r == nullptr) return 0;
  if (r->bus_open && Range(r) != nullptr && buffer != nullptr) ReadWaiting(r, buffer, size);
  if (c == 20) return 0;
  if (!r->bus_open || Range(r) == nullptr) return SetError(r, 2003), 0;
  BUSSendChar(r, 24);
  if (!BUSSendChar(r, c)) return 0;
  if (IsReplyControl(c)) return BUSGetLineCR(r, buffer, size);
  return 1;
}

int BUSGetResponse(tagMCardInfo* r, char* buffer, int size, const char* command) {
  if (r == nullptr) return 0;
  if (r->bus_open && Range(r) != nullptr && buffer != nullptr) ReadWaiting(r, buffer, size);
  if (!BUSSendLine(r, command)) return 0;
  return BUSGetLine(r, buffer, size);
}

int BUSFlush(tagMCardInfo* r) {
  if (r == nullptr || !r->bus_open || Range(r) == nullptr) return 1;
  // One budget of timeout polls for the whole flush.
  int32_t budget = r->timeout;
  char text[251];
  size_t n = 0;
  bool any = false;
  while (budget-- > 0) {
    if (!(Status(r) & 1)) {
      if (any) break;
      continue;
    }
    any = true;
    const char c = static_cast<char>(HwInp(Range(r), kDataPort));
    if (n < 250) text[n++] = c;
  }
  text[n] = '\0';
  if (n > 0 && text[0] == kBel && r->last_error == 0) {
    SetError(r, 50 + (n > 4 ? std::strtol(text + 4, nullptr, 10) : 0));
    return 0;
  }
  return 1;
}

int BUSIsLineWaiting(tagMCardInfo* r) {
  if (r == nullptr || !r->bus_open || Range(r) == nullptr) return 0;
  return Status(r) & 1;
}

}  // extern "C"
