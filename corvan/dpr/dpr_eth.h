// The network route of raw DPR access: the DPR front (dpr/dpr_access.h)
// sends the DPR requests of Ethernet devices (Location 3) through it, in
// blocks of at most kDprNetworkChunk bytes, and takes a request as done only
// when its answer has the exact size. The Ethernet transport installs the
// route when it opens a device.
#pragma once

#include "dpr/dpr_access.h"

namespace zimo::corvan {

// The route over the Ethernet DPR requests (EthDPRGetMem and friends).
DprNetworkRoute& EthDprNetworkRoute();

// Installs EthDprNetworkRoute() as the process's network route.
void InstallEthDprRoute();

}  // namespace zimo::corvan
