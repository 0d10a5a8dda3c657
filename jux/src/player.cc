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

}  // namespace

extern "C" {

int PSendChar(tagMCardInfo* r, char c) {
  if (r == nullptr) return 0;
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  switch (r->method) {
    case 0:
      return BUSSendChar(r, c);
    case 1:
      return DPRSendChar(r, c);
    case 2:
      return SERSendChar(r, c);
    default:
      return 0;
  }
}

int PSendLine(tagMCardInfo* r, const char* line) {
  if (r == nullptr) return 0;
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (line == nullptr) return 0;
  switch (r->method) {
    case 0:
      return BUSSendLine(r, line);
    case 1:
      return DPRSendLine(r, line);
    case 2:
      return SERSendLine(r, line);
    default:
      return 0;
  }
}

int PSendCommand(tagMCardInfo* r, const char* line) {
  if (r == nullptr) return 0;
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (line == nullptr) return 1;
  switch (r->method) {
    case 0:
      return BUSSendCommand(r, line);
    case 1:
      return DPRSendCommand(r, line);
    case 2:
      return SERSendCommand(r, line);
    default:
      return 1;
  }
}

int PIsLineWaiting(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  if (r->simulated) return 0;
  if (!r->connected) return SetError(r, 1006), 0;
  switch (r->method) {
    case 0:
      return BUSIsLineWaiting(r);
    case 1:
      return DPRIsLineWaiting(r);
    case 2:
      return SERIsLineWaiting(r);
    default:
      return 0;
  }
}

int PGetLine(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (buffer == nullptr || size == 0) return 0;
  switch (r->method) {
    case 0:
      return BUSGetLine(r, buffer, SizeArg(size));
    case 1:
      return DPRGetLine(r, buffer, size);
    case 2:
      return SERGetLine(r, buffer, size);
    default:
      return 0;
  }
}

int PGetLineCR(tagMCardInfo* r, char* buffer, unsigned size) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (buffer == nullptr || size == 0) return 0;
  switch (r->method) {
    case 0:
      return BUSGetLineCR(r, buffer, SizeArg(size));
    case 1:
      return DPRGetLineCR(r, buffer, size);
    case 2:
      return SERGetLineCR(r, buffer, size);
    default:
      return 0;
  }
}

int PGetControlResponse(tagMCardInfo* r, char* buffer, unsigned size, char c) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (buffer == nullptr || size == 0) return 0;
  switch (r->method) {
    case 0:
      return BUSGetControlResponse(r, buffer, SizeArg(size), c);
    case 1:
      return DPRGetControlResponse(r, buffer, size, c);
    case 2:
      return SERGetControlResponse(r, buffer, size, c);
    default:
      return 0;
  }
}

int PGetResponse(tagMCardInfo* r, char* buffer, unsigned size, const char* command) {
  if (r == nullptr) return 0;
  ClearStart(buffer, size);
  // Refused before any channel (or the simulated short-cut) sees it.
  if (command != nullptr && std::strlen(command) >= 255) return SetError(r, 5001), 0;
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  if (buffer == nullptr || size == 0 || command == nullptr) return 0;
  switch (r->method) {
    case 0:
      return BUSGetResponse(r, buffer, SizeArg(size), command);
    case 1:
      return DPRGetResponse(r, buffer, size, command);
    case 2:
      return SERGetResponse(r, buffer, size, command);
    default:
      return 0;
  }
}

int PFlush(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  if (r->simulated) return 1;
  if (!r->connected) return SetError(r, 1006), 0;
  switch (r->method) {
    case 0:
      BUSFlush(r);
      break;
    case 1:
      DPRFlush(r);
      break;
    case 2:
      SERFlush(r);
      break;
    default:
      break;
  }
  return 1;
}

}  // extern "C"
