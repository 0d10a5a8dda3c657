// The DPR mailbox channel: command text and replies through the mailbox in
// the card's dual-ported RAM, mapped through the helper driver. The card's
// DPR address is agreed over the bus first. Waits poll the mailbox words,
// pausing once per poll (kPollPause).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channels.h"
#include "internal.h"

using namespace jux;

namespace {

constexpr uint32_t kWindowSize = 16384;
constexpr long kMailbox = 1580;   // from the window's start
constexpr long kFlag = 1580;      // u16: the host's command waits
constexpr long kText = 1584;      // the command text, 160 bytes
constexpr long kTextLast = 1743;  // always 0
constexpr long kStatus = 1744;    // u16: the card's entry
constexpr long kLength = 1746;    // u16: line characters + 1
constexpr long kLine = 1748;      // the card's line
constexpr size_t kLineMax = kWindowSize - kLine;

uint8_t* Window(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  return slot != nullptr && r->dpr_view != 0 ? slot->dpr_window : nullptr;
}

uint16_t Load(uint8_t* w, long at) { return *reinterpret_cast<volatile uint16_t*>(w + at); }
void Store(uint8_t* w, long at, uint16_t v) { *reinterpret_cast<volatile uint16_t*>(w + at) = v; }

bool Open(tagMCardInfo* r) { return r != nullptr && r->dpr_open && Window(r) != nullptr; }

bool SendWait(tagMCardInfo* r) {
  uint8_t* w = Window(r);
  for (int32_t i = 0;; ++i) {
    if (Load(w, kFlag) != 1) return true;
    if (i >= r->timeout) return false;
    PollPause();
  }
}

void SendTimeout(tagMCardInfo* r) {
  r->send_status = 4002;
  if (r->last_error == 0) r->last_error = 4002;
}

// Waits for an entry: timeout polls per round, at most `rounds` rounds.
uint16_t ReceiveWait(tagMCardInfo* r, int32_t rounds) {
  uint8_t* w = Window(r);
  for (int32_t round = 0; round < rounds; ++round) {
    for (int32_t i = 0; i < r->timeout; ++i) {
      const uint16_t status = Load(w, kStatus);
      if (status != 0) return status;
      PollPause();
    }
  }
  return Load(w, kStatus);
}

int32_t Rounds(tagMCardInfo* r) { return r->retries > 1 ? r->retries : 1; }

long CardError(uint16_t status) { return ((status >> 4) & 0xF) * 10 + (status & 0xF); }

void Empty(char* buffer, unsigned size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
}

// "ERRnnn" at `at`, as far as `capacity` bytes hold it with its terminator.
void PutErrorText(char* at, size_t capacity, long number) {
  char text[16];
  std::snprintf(text, sizeof(text), "ERR%03ld", number);
  CopyText(at, capacity, text);
}

void Unmap(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (slot != nullptr) {
    HwUnmapMemory(&slot->dpr_mapping);
    slot->dpr_window = nullptr;
  }
  r->dpr_view = 0;
  r->mailbox = 0;
}

// The card's stored DPR address and the host's must agree; the card keeps a
// new one only after "save".
void SetAddress(tagMCardInfo* r) {
  const uint32_t base = static_cast<uint32_t>(r->dpr_base);
  const unsigned hi = (base & 0xF0000) >> 16;
  const unsigned lo = ((base & 0xF000) >> 8) + 5;
  char command[48];
  std::snprintf(command, sizeof(command), "wx$E009,$%X,$%X", hi, lo);
  PSendCommand(r, command);
  char reply[24] = {};
  PGetResponse(r, reply, 19, "rhx:$786,2");
  char* end = nullptr;
  const unsigned long first = std::strtoul(reply, &end, 16);
  const unsigned long second = std::strtoul(end, nullptr, 16);
  const unsigned long stored = (first << 16) | ((second & 0xF0) << 8);
  if (stored != base) {
    std::snprintf(command, sizeof(command), "wx$786,$%X,$%X", hi, lo);
    PSendCommand(r, command);
    PSendCommand(r, "save");
    for (int i = 0; i < 201; ++i) {
      reply[0] = '\0';
      PGetResponse(r, reply, 19, "?");
      if (std::strlen(reply) >= 12) break;
    }
  }
  r->dpr_open = 1;
}

int CardOnLine(tagMCardInfo* r) {
  if (!Open(r)) return 0;
  char reply[256];
  if (r->bus_type != 2) {
    BUSGetResponse(r, reply, 255, "?");
    BUSGetResponse(r, reply, 255, "i58=1");
  }
  r->method = 1;
  Store(Window(r), kFlag, 0);
  Store(Window(r), kStatus, 0);
  // A short pause for the card to see the mailbox enabled.
  volatile int32_t pause = 0;
  for (int32_t i = 0; i < 2 * r->timeout; ++i) pause = i;
  (void)pause;
  double version = 0;
  bool got = false;
  for (int32_t i = 0; i < r->retries && !got; ++i) {
    reply[0] = '\0';
    PGetResponse(r, reply, 9, "VER");
    got = std::strlen(reply) >= 4;
  }
  if (got && std::strstr(reply, "ERR") == nullptr) {
    const char* digit = std::strpbrk(reply, "0123456789");
    if (digit != nullptr) version = std::strtod(digit, nullptr);
  }
  if (version >= 1.14) {
    PFlush(r);
    return 1;
  }
  r->dpr_open = 0;
  r->connected = 0;
  return 0;
}

}  // namespace

extern "C" {

int DPRInit(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (r == nullptr || slot == nullptr || (!r->bus_open && r->bus_type != 2)) return 0;
  uint32_t token = 0;
  slot->dpr_window =
      HwMapMemory(&slot->dpr_mapping, static_cast<uint32_t>(r->dpr_base), kWindowSize, &token);
  if (slot->dpr_window == nullptr) {
    r->dpr_open = 0;
    r->connected = 0;
    return SetError(r, 1010), 0;
  }
  r->dpr_view = token;
  r->mailbox = token + kMailbox;
  if (r->bus_type == 2) {
    r->dpr_open = 1;
    r->connected = 1;
  } else {
    SetAddress(r);
  }
  int ok = CardOnLine(r);
  for (int32_t extra = 0; !ok && extra < r->retries; ++extra) {
    r->timeout *= 2;
    ok = CardOnLine(r);
  }
  if (ok && r->dpr_open) {
    r->method = 1;
    r->connected = 1;
    return 1;
  }
  Unmap(r);
  r->dpr_open = 0;
  return SetError(r, 4005), 0;
}

int DPRShutdown(tagMCardInfo* r) {
  if (r == nullptr) return 1;
  Unmap(r);
  r->dpr_open = 0;
  return 1;
}

int DPRSendChar(tagMCardInfo* r, char c) {
  if (!Open(r)) return SetError(r, 4003), 0;
  if (!SendWait(r)) return SendTimeout(r), 0;
  uint8_t* w = Window(r);
  w[kText] = static_cast<uint8_t>(c);
  w[kText + 1] = 0;
  Store(w, kFlag, 1);
  return 1;
}

int DPRSendLine(tagMCardInfo* r, const char* line) {
  if (!Open(r)) return SetError(r, 4003), 0;
  if (line == nullptr) return 0;
  if (std::strlen(line) >= 160) return SetError(r, 5001), 0;
  r->last_error = 0;
  if (!SendWait(r)) return SendTimeout(r), 0;
  uint8_t* w = Window(r);
  CopyText(reinterpret_cast<char*>(w + kText), 160, line);
  w[kTextLast] = 0;
  Store(w, kFlag, 1);
  return 1;
}

// The whole response: its lines, each ended by CR, the last CR dropped.
// The buffer holds size characters and a terminator; what does not fit is
// read and dropped, so the mailbox is left at the response's end.
int DPRGetLine(tagMCardInfo* r, char* buffer, unsigned size) {
  Empty(buffer, size + 1);
  if (!Open(r)) return SetError(r, 4003), 0;
  if (buffer == nullptr) return 0;
  uint8_t* w = Window(r);
  size_t pos = 0;
  for (;;) {
    const uint16_t status = ReceiveWait(r, Rounds(r));
    if (status == 0) {
      buffer[0] = '\0';
      return SetError(r, 4004), 0;
    }
    if (status & 0x8000) {
      const long number = CardError(status);
      SetError(r, 50 + number);
      if (size >= 6) PutErrorText(buffer + pos, size + 1 - pos, number);
      Store(w, kStatus, 0);
      return 0;
    }
    if (status == 6) {
      if (pos > 0 && buffer[pos - 1] == '\r') --pos;
      buffer[pos] = '\0';
      Store(w, kStatus, 0);
      return 1;
    }
    const long length = static_cast<long>(Load(w, kLength)) - 1;
    if (length > 0) {
      const size_t n = std::min<size_t>(static_cast<size_t>(length), kLineMax);
      for (size_t i = 0; i < n && pos < size; ++i) {
        const char c = static_cast<char>(w[kLine + i]);
        if (c == '\0') break;
        buffer[pos++] = c;
      }
      if (pos < size) buffer[pos++] = '\r';
    }
    buffer[pos] = '\0';
    Store(w, kStatus, 0);
  }
}

int DPRGetLineCR(tagMCardInfo* r, char* buffer, unsigned size) {
  Empty(buffer, size + 1);
  if (!Open(r)) return SetError(r, 4003), 0;
  if (buffer == nullptr) return 0;
  uint8_t* w = Window(r);
  const uint16_t status = ReceiveWait(r, 1);
  if (status == 0) return SetError(r, 4004), 0;
  size_t n = 0;
  if (status & 0x8000) {
    const long number = CardError(status);
    SetError(r, 50 + number);
    // The card's text for the caller, but a failed read all the same.
    PutErrorText(buffer, size + 1, number);
    Store(w, kStatus, 0);
    return 0;
  } else {
    const long length = static_cast<long>(Load(w, kLength)) - 1;
    const size_t limit = std::min<size_t>(length > 0 ? static_cast<size_t>(length) : 0, kLineMax);
    while (n < limit && n < size) {
      buffer[n] = static_cast<char>(w[kLine + n]);
      ++n;
    }
    buffer[n] = '\0';
  }
  Store(w, kStatus, 0);
  return static_cast<int>(n);
}

int DPRGetControlResponse(tagMCardInfo* r, char* buffer, unsigned size, char c) {
  Empty(buffer, size + 1);
  if (!Open(r)) return SetError(r, 4003), 0;
  if (c == 20) return 0;
  // Earlier output goes first; how that read ends is not this call's failure.
  char scratch[256];
  const int32_t code = r->last_error;
  while (DPRGetLine(r, scratch, 255)) {
  }
  r->last_error = code;
  if (!DPRSendChar(r, c)) return 0;
  if (IsReplyControl(c)) return DPRGetLine(r, buffer, size);
  return 1;
}

int DPRGetResponse(tagMCardInfo* r, char* buffer, unsigned size, const char* command) {
  Empty(buffer, size + 1);
  if (!Open(r)) return SetError(r, 4003), 0;
  if (Load(Window(r), kStatus) != 0) {
    char scratch[256];
    const int32_t code = r->last_error;
    while (DPRGetLine(r, scratch, 255)) {
    }
    r->last_error = code;
  }
  if (!DPRSendLine(r, command)) return 0;
  return DPRGetLine(r, buffer, size);
}

int DPRFlush(tagMCardInfo* r) {
  if (!Open(r)) return SetError(r, 4003), 0;
  const uint16_t status = ReceiveWait(r, 1);
  if ((status & 0x8000) && r->last_error == 0) SetError(r, 50 + CardError(status));
  Store(Window(r), kStatus, 0);
  return 1;
}

int DPRSendCommand(tagMCardInfo* r, const char* line) {
  if (!Open(r)) return SetError(r, 4003), 0;
  DPRSendLine(r, line);
  DPRFlush(r);
  return 1;
}

int DPRIsLineWaiting(tagMCardInfo* r) {
  if (!Open(r)) return 0;
  return Load(Window(r), kStatus) != 0 ? 1 : 0;
}

}  // extern "C"
