// The simulated machine behind the kernel's hardware-access table: card
// slots on a PCI (or ISA) bus, each a simulated card with its port
// registers, DPR window and interrupt line, at machine-wide addresses the
// slot is given when the card is plugged in. Stalls advance the simulated
// time of every card, so the drivers' polls and time-outs cost no real time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>

#include "cardsim/attach_bus.h"
#include "cardsim/attach_usb.h"
#include "cardsim/card.h"
#include "kernel/hardware.h"
#include "kernel/resources.h"
#include "kernel/usb_function.h"

namespace zimo::drivers::host {

enum class Bus { kPci, kIsa, kUsb };

struct CardConfig {
  Bus bus = Bus::kPci;
  bool spran = false;        // the SPRAN layout (else the older one)
  bool dpr = true;           // the card has a DPR memory resource
  bool dpr_unused = false;   // the card reports a DPR size of 0 (the driver drops the window)
  bool interrupt = true;     // the card has an interrupt resource
  bool port_in_memory = false;  // its register block is reported in memory space
  bool absent = false;       // nothing answers on the port (it reads 0xFF)
  std::string version;       // firmware version reply; empty: the model's
  std::string type_text;     // "TYPE" reply; empty: the model's
  int usb_id = -1;           // USB: the identification row (-1: by layout)
  // A legacy ISA card: jumpered to 8 ports from this address and its DPR
  // window at legacy_dpr; no plug-and-play driver takes it. 0: not legacy.
  uint32_t legacy_port = 0;
  uint32_t legacy_dpr = 0;
};

// Text form used by the control commands and the registry:
// "pci|isa|usb older|spran [nodpr] [dprunused] [noirq] [memport] [absent] [version=X] [id=N]
// [port=N dpr=ADDRESS]".
std::string FormatCardConfig(const CardConfig& config);

struct Slot {
  int id = 0;
  CardConfig config;
  std::unique_ptr<cardsim::Card> card;
  std::unique_ptr<cardsim::BusAttachment> bus;  // PCI and ISA cards
  std::unique_ptr<cardsim::UsbAttachment> usb;  // USB cards: their port, and the bus's view of it
  std::shared_ptr<kernel::usb::UsbFunction> usb_function;
  uint64_t port_base = 0;
  uint32_t port_length = 0;
  uint64_t memory_base = 0;  // the DPR window (and, for a memory-space port, the block after it)
  uint32_t vector = 0;
  uint32_t level = 0;
  kernel::ResourceList resources;
};

class SimMachine {
 public:
  static constexpr int kMaxSlots = 16;
  static constexpr uint32_t kPortLength = 32;

  SimMachine();
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // The table the kernel drives the hardware through.
  kernel::HardwareAccess access();

  // Plugs a card into a free slot: builds the card and its resource list.
  // Null when every slot is taken.
  std::shared_ptr<Slot> Plug(const CardConfig& config);
  // Takes the card out of its slot (accesses to its addresses then read as
  // an empty bus).
  void Unplug(int slot_id);
  std::shared_ptr<Slot> Get(int slot_id) const;

 private:
  std::shared_ptr<Slot> PlugUsb(int index, const CardConfig& config);

  // Where an address lands; valid while the caller holds mu_ shared (the
  // access runs under it, so a card cannot be unplugged mid-access).
  struct Target {
    Slot* slot = nullptr;
    size_t offset = 0;
    bool port = false;  // a register, else a DPR byte
  };
  bool FindPort(uint64_t port, Target* target) const;
  bool FindMemory(uint64_t physical, size_t length, Target* target) const;

  static uint8_t ReadPortU8(void* self, uint64_t port);
  static void WritePortU8(void* self, uint64_t port, uint8_t value);
  static bool MemoryPresent(void* self, uint64_t physical, size_t length);
  static uint8_t ReadMemU8(void* self, uint64_t physical);
  static uint16_t ReadMemU16(void* self, uint64_t physical);
  static uint32_t ReadMemU32(void* self, uint64_t physical);
  static void WriteMemU8(void* self, uint64_t physical, uint8_t value);
  static void WriteMemU16(void* self, uint64_t physical, uint16_t value);
  static void WriteMemU32(void* self, uint64_t physical, uint32_t value);
  static void ReadMemBlock(void* self, uint64_t physical, void* out, size_t length);
  static void WriteMemBlock(void* self, uint64_t physical, const void* in, size_t length);
  static void Barrier(void* self);
  static bool ConnectInterrupt(void* self, uint32_t vector, kernel::InterruptLineHandler handler,
                               void* cookie);
  static void DisconnectInterrupt(void* self, uint32_t vector);
  static void StallAll(void* self, uint32_t microseconds);

  mutable std::shared_mutex mu_;
  std::array<std::shared_ptr<Slot>, kMaxSlots> slots_;
};

}  // namespace zimo::drivers::host
