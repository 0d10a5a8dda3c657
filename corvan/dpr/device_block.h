// The shared record of the device an export names.
#pragma once

#include <cstdint>

#include "link/library_app.h"

namespace zimo::corvan {

// Null for a number that names no device that can be opened (0 to 7).
inline SharedDeviceBlock* BlockOf(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  return IsRealDevice(d) ? App().Block(d) : nullptr;
}

}  // namespace zimo::corvan
