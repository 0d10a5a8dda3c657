// The write buffer as the other users of the variable area see it: its
// entries lie just below the area's lowest word until the card has taken
// them, so nothing may be placed there before.
#pragma once

#include <cstdint>

#include "dpr/dpr_map.h"

namespace zimo::corvan {

// Reads WriteBufferControl until the card leaves it at 0 (it has taken
// every entry); false when it still holds entries after the last poll, or
// the word cannot be read.
bool WaitForWriteBuffer(std::uint32_t device, const DprLayout& layout);

}  // namespace zimo::corvan
