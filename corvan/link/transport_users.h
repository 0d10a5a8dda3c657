// The processes that share a device's transport (serial port or Ethernet
// socket). TransportUserCount says how many there are; the record also keeps
// their process ids, so that the share of a process that ended without
// closing (killed, crashed) is given back and the last real user still
// closes the link.
#pragma once

#include <cstdint>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// Counts the calling process as one more user, after giving back the shares
// of processes that no longer exist. Returns the new count.
std::uint32_t AddTransportUser(SharedDeviceBlock& block);

// Gives up one share of the calling process, and those of processes that no
// longer exist. Returns the count left.
std::uint32_t RemoveTransportUser(SharedDeviceBlock& block);

}  // namespace zimo::corvan
