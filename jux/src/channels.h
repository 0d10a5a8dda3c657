// The channel functions the P-layer and start-up call, and the helper
// driver's internal calls.
#pragma once

#include <cstdint>

#include "jux/jux170.h"

namespace jux {

int HwIsDriverRunning();
int HwStartDriver();
// The system error behind the last failed driver start.
long HwLastSystemError();

// Maps `size` bytes of physical memory through the helper driver: the
// address, with the mapping object in *mapping and the driver's token in
// *token; null when refused. Unmapping a null mapping is a success.
uint8_t* HwMapMemory(void** mapping, uint32_t physical, uint32_t size, uint32_t* token);
int HwUnmapMemory(void** mapping);

// Frees whatever a slot still holds (port, range, mapping).
void ReleaseSlot(int slot);

// One character straight onto the serial line (TransmitCommChar).
void SerialTransmit(tagMCardInfo* record, char c);

// Control characters whose reply is read back as a response line (STX, ETX,
// ENQ, ACK, BEL, TAB, CR, DLE, SYN, ETB, EM); the others are only sent.
inline bool IsReplyControl(char c) {
  switch (c) {
    case 2:
    case 3:
    case 5:
    case 6:
    case 7:
    case 9:
    case 13:
    case 16:
    case 22:
    case 23:
    case 25:
      return true;
    default:
      return false;
  }
}

}  // namespace jux
