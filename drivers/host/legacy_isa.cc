#include "host/legacy_isa.h"

#include "tqa58/tqa58.h"

namespace zimo::drivers::host {

kernel::DriverObject* LoadPortIoHelper(DriverHost& host) {
  kernel::DriverObject* driver = nullptr;
  if (!kernel::NtSuccess(host.kernel().LoadDriver(
          "Tqa58", &tqa58::Tqa58DriverEntry,
          "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Tqa58", &driver))) {
    return nullptr;
  }
  tqa58::SetPortsInUse(driver, [&host](uint64_t first, uint32_t count) {
    for (const CardInfo& card : host.Cards()) {
      if (!card.started || card.removed) continue;
      std::shared_ptr<Slot> slot = host.machine().Get(card.id);
      if (slot && first < slot->port_base + slot->port_length && slot->port_base < first + count) {
        return true;
      }
    }
    return false;
  });
  return driver;
}

std::shared_ptr<Slot> PlugLegacyCard(DriverHost& host, const CardConfig& config) {
  return host.machine().Plug(config);
}

}  // namespace zimo::drivers::host
