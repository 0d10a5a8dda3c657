// The transports the library registers, one per Location (transport.cc puts
// them in the table), and the seams their tests use.
#pragma once

#include <memory>

#include "link/eth_dpr.h"
#include "link/transport.h"

namespace zimo::corvan {

Transport& IsaTransport();
Transport& SerialTransport();
Transport& EthernetTransport();
Transport& PciTransport();
Transport& UsbTransport();

// An Ethernet transport whose DPR requests go to `route` instead of the
// card (tests put it in place with ScopedTransportOverride).
std::unique_ptr<Transport> MakeEthernetTransport(DprNetworkRoute& route);

// The open handshake of every Location but serial, once the link stands: a
// card in bootstrap mode is taken as it is; otherwise the card's
// communication settings are set and its status must come back (12 to 15
// characters), after which the card is identified and this process learns
// whether it can use the card's DPR. Device lock held; blocks.
bool CardStatusHandshake(int device);

}  // namespace zimo::corvan
