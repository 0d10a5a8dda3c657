// The simulated cards jux170 meets, as tests and benchmarks set them up: a
// legacy ISA card at port 528 with its DPR at 0xD4000 in a driver host
// running in this process beside the port-I/O helper driver, and a card on
// a pseudo-terminal registered as a COM port. No test framework here, so
// the benchmarks share them.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/legacy_isa.h"
#include "jux/jux170.h"
#include "platform/status.h"

namespace jux_testing {

namespace host = zimo::drivers::host;

inline constexpr int kLegacyPort = 528;
inline constexpr int kLegacyDpr = 0xD4000;

// The driver host with the helper driver and, once plugged, the legacy card.
// The caller's ZIMO_HOME must be set before it is made.
struct LegacyMachine {
  host::DriverHost host;
  host::LegacyCards legacy{host};
  std::shared_ptr<host::Slot> slot;
  std::unique_ptr<host::DeviceServer> devices;

  // False when the helper driver does not load or no slot is free.
  bool Plug(const std::string& version = "") {
    if (host::LoadPortIoHelper(host) == nullptr) return false;
    host::CardConfig config;
    config.bus = host::Bus::kIsa;
    config.legacy_port = kLegacyPort;
    config.legacy_dpr = kLegacyDpr;
    config.version = version;
    slot = legacy.Plug(config);
    if (slot == nullptr) return false;
    devices = std::make_unique<host::DeviceServer>(host.kernel());
    devices->Start();
    return true;
  }
  ~LegacyMachine() { devices.reset(); }
};

// A record made without a channel (method 2 with no port keeps it closed),
// then opened with `method` on the legacy card; null when JUXInit fails.
inline tagMCardInfo* OpenLegacyRecord(const char* name, int method, int retries, int timeout) {
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  std::strncpy(image.name, name, sizeof(image.name) - 1);
  image.method = 2;
  image.retries = retries;
  image.timeout = timeout;
  tagMCardInfo* record = JUXInit(&image);
  if (record == nullptr) return nullptr;
  record->method = method;
  record->bus_base = kLegacyPort;
  if (method == 1) record->dpr_base = kLegacyDpr;
  record->bus_type = 1;
  record->last_error = 0;
  POpenChannel(record);
  return record;
}

// An older card on a pseudo-terminal.
struct PtyCard {
  zimo::cardsim::Card card{zimo::cardsim::CardModel::Older()};
  std::unique_ptr<zimo::cardsim::PtyAttachment> pty;

  // Registers the terminal as COM<com_port>; line_rate 0: the card's own.
  zimo::platform::Status Attach(int com_port, uint32_t line_rate = 0) {
    zimo::cardsim::PtyOptions options;
    options.com_port = com_port;
    options.line_rate = line_rate;
    auto started = zimo::cardsim::PtyAttachment::Start(card, options);
    if (!started.ok()) return started.status();
    pty = std::move(*started);
    return zimo::platform::Status::Ok();
  }
  ~PtyCard() {
    if (pty) pty->Stop();
  }
};

}  // namespace jux_testing
