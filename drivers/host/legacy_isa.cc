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

LegacyCards::~LegacyCards() {
  for (auto& card : cards_) card.second.reset();
}

std::shared_ptr<Slot> LegacyCards::Plug(const CardConfig& config) {
  std::shared_ptr<Slot> slot = host_.machine().Plug(config);
  if (!slot) return nullptr;
  cards_.emplace_back(slot, std::make_unique<cardsim::IsaDprWindow>(*slot->bus));
  return slot;
}

}  // namespace zimo::drivers::host
