// The driver host: one simulated machine with its kernel, the bus driver
// that enumerates the cards plugged into it, the function drivers loaded
// for them, and the plug-and-play and power manager's part (add, start,
// stop, remove, surprise removal, power changes). It plays the I/O manager
// for user mode through DeviceServer.
//
// Drivers are listed in a table by the bus their cards sit on; a USB driver
// joins by adding its entry (and its bus) to the table.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/sim_machine.h"
#include "kernel/bus_driver.h"
#include "kernel/kernel.h"
#include "kernel/usb_bus.h"

namespace zimo::drivers::host {

struct HostedDriver {
  std::string name;  // "ZimoPCI": the driver object "\Driver\ZimoPCI"
  Bus bus;
  kernel::DriverEntryRoutine entry;
};

// The drivers this host loads: ZimoPCI for PCI cards, the same driver
// answering for ISA cards ("\\.\ZimoISA%d"), and ZimoUSB for USB cards.
std::vector<HostedDriver> StandardDrivers();

struct CardInfo {
  int id = -1;
  CardConfig config;
  std::string device_name;  // "ZimoPCI0", the name user mode opens
  bool started = false;
  bool removed = false;
};

class DriverHost {
 public:
  explicit DriverHost(std::vector<HostedDriver> drivers = StandardDrivers());
  ~DriverHost();  // removes every card, unloads the drivers
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  kernel::Kernel& kernel() { return *kernel_; }
  SimMachine& machine() { return machine_; }

  // Whether each card added from now on starts with its servo clock running
  // at wall time, as a card in a machine does (off: the clock stands still
  // until stepped or started through the card; tests step it by hand).
  void SetClocksRunning(bool on) { clocks_running_ = on; }
  bool clocks_running() const { return clocks_running_; }

  // Plugs a card in and lets plug and play add and start its device. A
  // failed start removes the device again and unplugs the card; the status
  // says why. *card is the card's id (its slot) on success.
  kernel::NTSTATUS AddCard(const CardConfig& config, int* card);
  // Starts a stopped card again.
  kernel::NTSTATUS StartCard(int card);
  // Query stop, then stop.
  kernel::NTSTATUS StopCard(int card);
  // Query remove, then remove: returns once the device is gone, which
  // waits for its open handles to close. The card is unplugged.
  kernel::NTSTATUS RemoveCard(int card);
  // The card vanishes: it reads as an empty bus, the device is told of the
  // surprise removal, then removed (again waiting for open handles).
  kernel::NTSTATUS SurpriseRemoveCard(int card);
  // A system power change for the card's device stack.
  kernel::NTSTATUS SetSystemPower(int card, kernel::SystemPowerState state);

  // The card raises interrupt sources, one set after the other; each set is
  // taken by the interrupt routine before the next is raised. With
  // `hold_dpc` the deferred procedure runs only after the last.
  bool RaiseInterrupts(int card, const std::vector<uint8_t>& sets, bool hold_dpc);

  std::vector<CardInfo> Cards() const;
  bool GetCard(int card, CardInfo* info) const;
  // The simulated card, for scripting (null when there is none).
  cardsim::Card* SimCard(int card);
  kernel::DeviceObject* PhysicalDevice(int card) const;

 private:
  struct Entry {
    CardInfo info;
    kernel::DeviceObject* pdo = nullptr;
    std::shared_ptr<Slot> slot;
  };

  kernel::NTSTATUS Start(Entry& entry);
  kernel::NTSTATUS Remove(int card, bool surprise);
  HostedDriver* DriverFor(Bus bus);
  void DeleteChild(Bus bus, kernel::DeviceObject* pdo);

  SimMachine machine_;
  std::unique_ptr<kernel::Kernel> kernel_;
  std::unique_ptr<kernel::BusDriver> bus_;
  std::unique_ptr<kernel::UsbBus> usb_bus_;
  std::vector<HostedDriver> hosted_;
  std::map<std::string, kernel::DriverObject*> drivers_;  // by name

  std::mutex pnp_mu_;  // one plug-and-play operation at a time, as the manager sends them
  mutable std::mutex cards_mu_;
  std::map<int, Entry> cards_;
  std::vector<std::string> new_links_;  // links made during the current add
  int link_observer_ = 0;
  std::atomic<bool> clocks_running_{false};
};

}  // namespace zimo::drivers::host
