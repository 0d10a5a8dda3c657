// What the driver host adds for the older backend library: its port-I/O
// helper driver (Tqa58, serving "\\.\_Default") and legacy ISA cards, which
// sit at their jumpered port and DPR address and which no plug-and-play
// driver takes.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "cardsim/isa_dpr_window.h"
#include "host/driver_host.h"
#include "kernel/kernel.h"

namespace zimo::drivers::host {

// Loads Tqa58 beside the card drivers; it refuses ports of cards that a
// hosted driver has started. Null when the driver does not load.
kernel::DriverObject* LoadPortIoHelper(DriverHost& host);

// The legacy cards of a host, each with its DPR window on real time.
class LegacyCards {
 public:
  explicit LegacyCards(DriverHost& host) : host_(host) {}
  ~LegacyCards();  // stops the windows before the cards go
  LegacyCards(const LegacyCards&) = delete;
  LegacyCards& operator=(const LegacyCards&) = delete;

  // Plugs a card (config.legacy_port set) into the machine; null when no
  // slot is free.
  std::shared_ptr<Slot> Plug(const CardConfig& config);

 private:
  DriverHost& host_;
  std::vector<std::pair<std::shared_ptr<Slot>, std::unique_ptr<cardsim::IsaDprWindow>>> cards_;
};

}  // namespace zimo::drivers::host
