// What the driver host adds for the older backend library: its port-I/O
// helper driver (Tqa58, serving "\\.\_Default") and legacy ISA cards, which
// sit at their jumpered port and DPR address and which no plug-and-play
// driver takes.
#pragma once

#include <memory>
#include <optional>
#include <string>
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

  // The control command "legacy <port> <knob> ..." for the card at that
  // port; nullopt for any other command. Knobs:
  //   mute on|off            the card logs but answers nothing
  //   error <n> [count]      the next count lines fail with ERRn
  //   fail <text> <n>|off    lines holding the text fail with ERRn
  //   endless on|off         a character is always waiting (the card never stops sending)
  //   txready low|normal     the card takes no character (status bit 1 held low)
  //   status <length>        the "?" reply has that many characters (0: the model's)
  //   delay <ms> [count]     replies are held back
  //   bootstrap              the card enters bootstrap mode
  //   log                    ok <entries received, separated by "|">
  //   clear-log              ok
  std::optional<std::string> Control(const std::vector<std::string>& words);

 private:
  DriverHost& host_;
  std::vector<std::pair<std::shared_ptr<Slot>, std::unique_ptr<cardsim::IsaDprWindow>>> cards_;
};

}  // namespace zimo::drivers::host
