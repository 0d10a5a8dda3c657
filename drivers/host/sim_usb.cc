// USB cards in the simulated machine: a card with its USB port, and the
// bus's view of that port. They take no port range, memory or interrupt.
#include "cardsim/card_model.h"
#include "host/sim_machine.h"
#include "host/sim_usb_function.h"

namespace zimo::drivers::host {

std::shared_ptr<Slot> SimMachine::PlugUsb(int index, const CardConfig& config) {
  auto slot = std::make_shared<Slot>();
  slot->id = index;
  slot->config = config;
  cardsim::CardModel model =
      config.spran ? cardsim::CardModel::Spran() : cardsim::CardModel::Older();
  if (!config.version.empty()) model.version = config.version;
  slot->card = std::make_unique<cardsim::Card>(model);
  cardsim::UsbOptions options;
  options.identity_row = config.usb_id;
  slot->usb = std::make_unique<cardsim::UsbAttachment>(*slot->card, options);
  if (config.absent) slot->usb->SetDetached(true);
  slot->usb_function = std::make_shared<SimUsbFunction>(*slot->usb);
  return slot;
}

}  // namespace zimo::drivers::host
