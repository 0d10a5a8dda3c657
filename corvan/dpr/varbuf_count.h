// The two DPR words of the variable background service and the write buffer
// that device open clears: the total number of variable-background entries
// (0 suspends the service) and the number of write-buffer entries the card
// has still to take (0: the buffer is free).
#pragma once

#include <cstdint>

namespace zimo::corvan {

void ZimoDPRSetVBGNumEntries(int device, std::uint16_t entries);
void ZimoDPRSetWriteBufferControl(int device, std::uint16_t entries);

}  // namespace zimo::corvan
