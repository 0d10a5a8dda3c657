// Two DPR words, both zeroed when a device is opened: the variable
// background service's entry total (zero pauses the service) and the count
// of write-buffer entries not yet consumed by the card (zero means the
// buffer is available).
#pragma once

#include <cstdint>

namespace zimo::corvan {

void ZimoDPRSetVBGNumEntries(int device, std::uint16_t entries);
void ZimoDPRSetWriteBufferControl(int device, std::uint16_t entries);

}  // namespace zimo::corvan
