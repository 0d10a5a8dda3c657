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

}  // namespace jux
