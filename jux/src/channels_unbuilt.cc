// The bus-port and DPR mailbox channels as they stand until the port-I/O
// helper driver's client is in: no port range can be claimed and no window
// mapped, so opening fails with the claim's and the mapping's codes, and
// every other call finds its channel closed.
#include "channels.h"
#include "internal.h"

using namespace jux;

extern "C" {

int BUSInit(tagMCardInfo* r) {
  if (r == nullptr) return 0;
  r->bus_open = 0;
  r->connected = 0;
  SetError(r, 1011);
  return 0;
}
int BUSCloseComm(tagMCardInfo*) { return 1; }
int BUSSendChar(tagMCardInfo* r, char) { return SetError(r, 2003), 0; }
int BUSSendLine(tagMCardInfo* r, const char*) { return SetError(r, 2003), 0; }
int BUSGetLine(tagMCardInfo*, char*, int) { return 0; }
int BUSGetLineCR(tagMCardInfo*, char*, int) { return 0; }
int BUSSendCommand(tagMCardInfo* r, const char* line) { return BUSSendLine(r, line); }
int BUSGetControlResponse(tagMCardInfo* r, char*, int, char) { return SetError(r, 2003), 0; }
int BUSGetResponse(tagMCardInfo* r, char*, int, const char*) { return SetError(r, 2003), 0; }
int BUSFlush(tagMCardInfo*) { return 1; }
int BUSIsLineWaiting(tagMCardInfo*) { return 0; }

int DPRInit(tagMCardInfo* r) {
  if (r == nullptr || (!r->bus_open && r->bus_type != 2)) return 0;
  r->dpr_open = 0;
  r->connected = 0;
  SetError(r, 1010);
  return 0;
}
int DPRShutdown(tagMCardInfo*) { return 1; }
int DPRSendChar(tagMCardInfo* r, char) { return SetError(r, 4003), 0; }
int DPRSendLine(tagMCardInfo* r, const char*) { return SetError(r, 4003), 0; }
int DPRGetLine(tagMCardInfo* r, char* b, unsigned s) {
  return CopyText(b, s, ""), SetError(r, 4003), 0;
}
int DPRGetLineCR(tagMCardInfo* r, char* b, unsigned s) {
  return CopyText(b, s, ""), SetError(r, 4003), 0;
}
int DPRGetControlResponse(tagMCardInfo* r, char* b, unsigned s, char) {
  return CopyText(b, s, ""), SetError(r, 4003), 0;
}
int DPRGetResponse(tagMCardInfo* r, char* b, unsigned s, const char*) {
  return CopyText(b, s, ""), SetError(r, 4003), 0;
}
int DPRFlush(tagMCardInfo* r) { return SetError(r, 4003), 0; }
int DPRSendCommand(tagMCardInfo* r, const char*) { return SetError(r, 4003), 0; }
int DPRIsLineWaiting(tagMCardInfo*) { return 0; }

}  // extern "C"

namespace jux {
void ReleaseSlot(int slot) {
  if (slot < 0 || slot >= kMaxCards) return;
  SlotResources& s = Slot(slot);
  s.serial.reset();
  s.serial_errors = 0;
}
}  // namespace jux
