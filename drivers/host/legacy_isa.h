// What the driver host adds for the older backend library: its port-I/O
// helper driver (Tqa58, serving "\\.\_Default") and legacy ISA cards, which
// sit at their jumpered port and DPR address and which no plug-and-play
// driver takes.
#pragma once

#include "host/driver_host.h"
#include "kernel/kernel.h"

namespace zimo::drivers::host {

// Loads Tqa58 beside the card drivers; it refuses ports of cards that a
// hosted driver has started. Null when the driver does not load.
kernel::DriverObject* LoadPortIoHelper(DriverHost& host);

// Plugs a legacy card (config.legacy_port set) into the machine. Its slot,
// or null when no slot is free.
std::shared_ptr<Slot> PlugLegacyCard(DriverHost& host, const CardConfig& config);

}  // namespace zimo::drivers::host
