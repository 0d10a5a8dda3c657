// The channel functions the P-layer and start-up call, and the helper
// driver's internal calls.
#pragma once

#include "jux/jux170.h"

extern "C" {
int DPRInit(tagMCardInfo* record);
int DPRShutdown(tagMCardInfo* record);
int DPRSendChar(tagMCardInfo* record, char c);
int DPRSendLine(tagMCardInfo* record, const char* line);
int DPRGetLine(tagMCardInfo* record, char* buffer, unsigned size);
int DPRGetLineCR(tagMCardInfo* record, char* buffer, unsigned size);
int DPRGetControlResponse(tagMCardInfo* record, char* buffer, unsigned size, char c);
int DPRGetResponse(tagMCardInfo* record, char* buffer, unsigned size, const char* command);
int DPRFlush(tagMCardInfo* record);
int DPRSendCommand(tagMCardInfo* record, const char* line);
int DPRIsLineWaiting(tagMCardInfo* record);
}

namespace jux {

int HwIsDriverRunning();
int HwStartDriver();
// The system error behind the last failed driver start.
long HwLastSystemError();

// Frees whatever a slot still holds (port, range, mapping).
void ReleaseSlot(int slot);

// One character straight onto the serial line (TransmitCommChar).
void SerialTransmit(tagMCardInfo* record, char c);

}  // namespace jux
