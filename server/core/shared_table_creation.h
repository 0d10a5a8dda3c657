// Creation of the shared device table "ZimoSharedMemory" at the server's
// start: the named mapping of 0x1E000 bytes, its header, and the start
// values of device slots 0 to 7 (Location and Enumeration from the device's
// registry key). The server keeps the mapping until it ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "corvan/internal/shared_table.h"
#include "platform/file_mapping.h"
#include "platform/status.h"

namespace zimo::server {

// What the server keeps per card; reset when the table is created. The
// card's threads read it while the main thread and the USB watchdog change
// it.
struct ServerCardState {
  std::atomic<bool> server_opened{false};  // the server holds an open reference of the card
  std::atomic<uint32_t> mirror_period_ms{20};

  void Reset() {
    server_opened = false;
    mirror_period_ms = 20;
  }
};

inline constexpr int kServerCards = corvan::kRealDevices;

// Creates (or, when some process still has it, takes over) the table.
// A mapping that already existed keeps its user count and every device
// record some process still has open (a non-zero process count); only the
// other records get their start values, so their users lose nothing.
// Fails when the mapping cannot be created or mapped: the server must not
// run without a table.
platform::Result<platform::FileMapping> CreateSharedDeviceTable(
    ServerCardState (&cards)[kServerCards]);

// Writes the server's identity into the header: its process id, and 0 for
// the process handle field (a handle value means nothing in another process).
void WriteServerIdentity(platform::FileMapping& table, uint32_t process_id);

}  // namespace zimo::server
