// The P-layer: every transfer call picks its channel by the record's method.
// A simulated record answers everything with success and no text.
#include <cstring>

#include "channels.h"
#include "internal.h"

using namespace jux;

namespace {

// The first two bytes of a caller's buffer are cleared before anything else,
// so a failure never leaves an old text behind.
void ClearStart(char* buffer, unsigned size) {
  if (buffer == nullptr) return;
  if (size >= 1) buffer[0] = '\0';
  if (size >= 2) buffer[1] = '\0';
}

int SizeArg(unsigned size) { return size > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(size); }

// One transfer on the channel of the record's method: the bus (0), the
// dual-ported RAM (1) or the serial line (2). A simulated record answers
// `simulated`; unusable arguments and an unknown method answer `otherwise`.
template <typename Bus, typename Dpr, typename Ser>
int Transfer(tagMCardInfo* r, int simulated, bool usable, int otherwise, Bus bus, Dpr dpr,
             Ser ser) {
  if (r->simulated) return simulated;
  if (!r->connected) return SetError(r, 1006), 0;
  if (!usable) return otherwise;
  switch (r->method) {
    case 0:
      return bus();
    case 1:
      return dpr();
    case 2:
      return ser();
    default:
      return otherwise;
  }
}

}  // namespace

extern "C" {

int PSendChar(tagMCardInfo* r, char c) {
  if (r == nullptr) return 0;
  return Transfer(
      r, 1, true, 0, [&] { return BUSSendChar(r, c); }, [&] { return DPRSendChar(r, c); },
      [&] { return SERSendChar(r, c); });
}

int PSendLine(tagMCardInfo* r, const char* line) {
  if (r == nullptr) return 0;
  return Transfer(
      r, 1, line != nullptr, 0, [&] { return BUSSendLine(r, line); },
      [&] { return DPRSendLine(r, line); }, [&] { return SERSendLine(r, line); });
}

int PSendCommand(tagMCardInfo* r, const char* line) {
  if (r == nullptr) return 0;
  return Transfer(
      r, 1, line != nullptr, 1, [&] { return BUSSendCommand(r, line); },
      [&] { return DPRSendCommand(r, line); }, [&] { return SERSendCommand(r, line); });
}

int PIsLineWaiting(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  return Transfer(
      r, 0, true, 0, [&] { return BUSIsLineWaiting(r); }, [&] { return DPRIsLineWaiting(r); },
      [&] { return SERIsLineWaiting(r); });
}

int PGetLine(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  return Transfer(
      r, 1, buffer != nullptr && size != 0, 0, [&] { return BUSGetLine(r, buffer, SizeArg(size)); },
      [&] { return DPRGetLine(r, buffer, size); }, [&] { return SERGetLine(r, buffer, size); });
}

int PGetLineCR(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  return Transfer(
      r, 1, buffer != nullptr && size != 0, 0,
      [&] { return BUSGetLineCR(r, buffer, SizeArg(size)); },
      [&] { return DPRGetLineCR(r, buffer, size); }, [&] { return SERGetLineCR(r, buffer, size); });
}

int PGetControlResponse(tagMCardInfo* r, char* buffer, unsigned size, char c) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  return Transfer(
      r, 1, buffer != nullptr && size != 0, 0,
      [&] { return BUSGetControlResponse(r, buffer, SizeArg(size), c); },
      [&] { return DPRGetControlResponse(r, buffer, size, c); },
      [&] { return SERGetControlResponse(r, buffer, size, c); });
}

int PGetResponse(tagMCardInfo* r, char* buffer, unsigned size, const char* command) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  // Refused before any channel (or the simulated short-cut) sees it.
  if (command != nullptr && std::strlen(command) >= 255) return SetError(r, 5001), 0;
  return Transfer(
      r, 1, buffer != nullptr && size != 0 && command != nullptr, 0,
      [&] { return BUSGetResponse(r, buffer, SizeArg(size), command); },
      [&] { return DPRGetResponse(r, buffer, size, command); },
      [&] { return SERGetResponse(r, buffer, size, command); });
}

int PFlush(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  // A flush answers 1 whatever its channel makes of it.
  return Transfer(
      r, 1, true, 1, [&] { return BUSFlush(r), 1; }, [&] { return DPRFlush(r), 1; },
      [&] { return SERFlush(r), 1; });
}

}  // extern "C"
