// The DPR mailbox channel as it stands until the helper driver maps
// windows: no window can be mapped, so opening fails with the mapping's code
// and every other call finds the channel closed.
#include "channels.h"
#include "internal.h"

using namespace jux;

extern "C" {

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
