// A simulated card of either generation opened as device 0 over one of the
// transports that carry commands: the serial line, Ethernet (UDP or TCP),
// and, through zimo-drvhost, the PCI bus port, the PCI DPR mailbox and USB.
// Cards on a driver host run in its process; the others in the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "eth_test_fixture.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"
#include "temp_home.h"

namespace zimo::corvan::testing {

enum class GatherLink { kSerial, kUdp, kTcp, kPciPort, kPciMailbox, kUsb };

struct GatherRigCase {
  GatherLink link;
  bool spran;
};

inline std::string GatherRigName(const GatherRigCase& c) {
  static const char* const kNames[] = {"Serial", "Udp", "Tcp", "PciPort", "PciMailbox", "Usb"};
  return std::string(kNames[static_cast<int>(c.link)]) + (c.spran ? "Spran" : "Older");
}

inline std::vector<GatherRigCase> AllGatherRigs() {
  std::vector<GatherRigCase> all;
  for (bool spran : {false, true}) {
    for (GatherLink link : {GatherLink::kSerial, GatherLink::kUdp, GatherLink::kTcp,
                            GatherLink::kPciPort, GatherLink::kPciMailbox, GatherLink::kUsb}) {
      all.push_back({link, spran});
    }
  }
  return all;
}

class GatherRig {
 public:
  explicit GatherRig(GatherRigCase c) : case_(c) {}
  ~GatherRig() {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    host_.reset();
    if (eth_) eth_->Stop();
    serial_.reset();
  }

  // Registers device 0, starts the card and opens the device; false (with
  // the reason reported) when any step fails.
  bool Open() {
    const char* generation = case_.spran ? "spran" : "older";
    cardsim::CardModel model =
        case_.spran ? cardsim::CardModel::Spran() : cardsim::CardModel::Older();
    switch (case_.link) {
      case GatherLink::kSerial:
        serial_ = std::make_unique<SerialCard>(1, std::move(model));
        RegisterSerialDevice(0, 1);
        break;
      case GatherLink::kUdp:
      case GatherLink::kTcp: {
        const bool tcp = case_.link == GatherLink::kTcp;
        card_ = std::make_unique<cardsim::Card>(std::move(model));
        cardsim::EthOptions options;
        options.address = UniqueLoopbackAddress();
        auto started = cardsim::EthAttachment::Start(*card_, options);
        EXPECT_TRUE(started.ok()) << started.status().ToString();
        if (!started.ok()) return false;
        eth_ = std::move(started.value());
        EXPECT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
        EXPECT_EQ(
            SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(options.address)),
            1);
        EXPECT_EQ(SetLocationRegDword(kLocationEthernet, 0, "TCPMode", tcp ? 1 : 0), 1);
        break;
      }
      case GatherLink::kPciPort:
      case GatherLink::kPciMailbox:
        EXPECT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
        host_ = std::make_unique<DriverHostProcess>(
            std::vector<std::string>{std::string("pci ") + generation});
        if (!WaitForDriverDevice("ZimoPCI0")) return false;
        break;
      case GatherLink::kUsb:
        EXPECT_EQ(RegisterDevice(0, kLocationUsb, 0, nullptr), 1);
        host_ = std::make_unique<DriverHostProcess>(
            std::vector<std::string>{std::string("usb ") + generation});
        if (!WaitForDriverDevice("ZimoUSB0")) return false;
        break;
    }
    server_ = std::make_unique<StandInServer>();
    if (OpenZimoDevice(0) != 1) return false;
    if (case_.link == GatherLink::kPciMailbox) {
      Command("I58=1");
      if (ZimoSetAsciiComm(0, 1) != 1 || ZimoGetAsciiComm(0) != 1) return false;
    }
    return true;
  }

  // The card's servo clock: n cycles now.
  void Servo(int cycles) {
    if (host_) {
      EXPECT_EQ(host_->Command("servo 0 " + std::to_string(cycles)), "ok");
    } else {
      card().AdvanceServo(cycles);
    }
  }
  // A command through the library's own command path; the reply text.
  std::string Command(const std::string& line) {
    char reply[512] = {};
    ZimoGetResponseA(0, reply, sizeof reply, line.c_str());
    return reply;
  }
  // A card that answers nothing (on) or answers again (off).
  void Mute(bool on) {
    if (host_) {
      EXPECT_EQ(host_->Command(std::string("mute 0 ") + (on ? "on" : "off")), "ok");
    } else {
      card().script().SetMuted(on);
    }
  }
  // An Ethernet card that stops serving: its connections close.
  void StopServing() {
    if (eth_) eth_->Stop();
  }
  // The card object, for cards in this process (serial and Ethernet).
  cardsim::Card& card() { return serial_ ? serial_->card() : *card_; }
  bool in_process() const { return !host_; }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

 private:
  GatherRigCase case_;
  std::unique_ptr<SerialCard> serial_;
  std::unique_ptr<cardsim::Card> card_;
  std::unique_ptr<cardsim::EthAttachment> eth_;
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<StandInServer> server_;
};

}  // namespace zimo::corvan::testing
