// A simulated card with a DPR, opened as device 0 by the library through
// the ordinary open path, on the link a test asks for: PCI or USB through
// the driver host inside the test's own process, or Ethernet on a loopback
// address of the test's own. The card itself stays in reach of the test
// (its memory, its servo clock, its scripted faults, its log).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "corvan/internal/shared_table.h"
#include "eth_test_fixture.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"

namespace zimo::corvan::testing {

enum class Link { kPci, kUsb, kEthernet };

struct RigOptions {
  Link link = Link::kPci;
  bool spran = false;
  std::string version;  // the card's firmware version; empty: its model's
};

inline std::string LinkName(Link link) {
  switch (link) {
    case Link::kPci:
      return "Pci";
    case Link::kUsb:
      return "Usb";
    case Link::kEthernet:
      return "Eth";
  }
  return "";
}

class DprCardRig {
 public:
  // Starts the card and opens device 0 on it; check ok() before use.
  explicit DprCardRig(const RigOptions& options) : options_(options) {
    const std::uint32_t location = options.link == Link::kPci   ? kLocationPci
                                   : options.link == Link::kUsb ? kLocationUsb
                                                                : kLocationEthernet;
    if (RegisterDevice(0, location, 0, nullptr) != 1) return;
    if (options.link == Link::kEthernet) {
      const std::string address = UniqueLoopbackAddress();
      SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address));
      cardsim::CardModel model =
          options.spran ? cardsim::CardModel::Spran() : cardsim::CardModel::Older();
      if (!options.version.empty()) model.version = options.version;
      eth_card_ = std::make_unique<cardsim::Card>(model);
      cardsim::EthOptions eth;
      eth.address = address;
      auto started = cardsim::EthAttachment::Start(*eth_card_, eth);
      if (!started.ok()) return;
      eth_ = std::move(started.value());
    } else {
      SetLocationRegDword(location, 0, "EnableInterrupts", 0);
      devices_ = std::make_unique<drivers::host::DeviceServer>(host_.kernel());
      devices_->Start();
      drivers::host::CardConfig config;
      std::string error;
      std::string words = options.link == Link::kUsb ? "usb " : "pci ";
      words += options.spran ? "spran" : "older";
      if (!options.version.empty()) words += " version=" + options.version;
      if (!drivers::host::ParseCardConfig(words, &config, &error)) return;
      if (host_.AddCard(config, &card_id_) != 0) return;
      if (!WaitForDriverDevice(options.link == Link::kUsb ? "ZimoUSB0" : "ZimoPCI0")) return;
    }
    server_ = std::make_unique<StandInServer>();
    opened_ = OpenZimoDevice(0) == 1;
  }
  ~DprCardRig() {
    if (opened_) ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    if (eth_) eth_->Stop();
    devices_.reset();
  }
  DprCardRig(const DprCardRig&) = delete;
  DprCardRig& operator=(const DprCardRig&) = delete;

  bool ok() const { return opened_; }
  cardsim::Card& card() { return eth_card_ ? *eth_card_ : *host_.SimCard(card_id_); }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }
  const RigOptions& options() const { return options_; }

  // The command lines the card received since its log was last cleared,
  // without control characters.
  std::vector<std::string> CardLines() {
    std::vector<std::string> lines;
    for (const std::string& entry : card().script().received()) {
      if (!entry.empty() && entry[0] != '^') lines.push_back(entry);
    }
    return lines;
  }

 private:
  RigOptions options_;
  zimo::testing::TempHome home_;
  LibraryClock clock_;
  drivers::host::DriverHost host_;
  std::unique_ptr<drivers::host::DeviceServer> devices_;
  std::unique_ptr<cardsim::Card> eth_card_;
  std::unique_ptr<cardsim::EthAttachment> eth_;
  std::unique_ptr<StandInServer> server_;
  int card_id_ = -1;
  bool opened_ = false;
};

}  // namespace zimo::corvan::testing
