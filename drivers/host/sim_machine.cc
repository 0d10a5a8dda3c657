#include "host/sim_machine.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cardsim/card_model.h"

namespace zimo::drivers::host {

namespace {

constexpr uint64_t kPciPortBase = 0xD000;
constexpr uint64_t kIsaPortBase = 0x200;
constexpr uint64_t kMemoryBase = 0xFEB00000;
constexpr uint64_t kMemoryStride = 0x10000;
constexpr uint32_t kDprLength = cardsim::BusAttachment::kDprSize;
constexpr uint64_t kPortMemoryOffset = 0x8000;  // a memory-space port block, within the stride

}  // namespace

std::string FormatCardConfig(const CardConfig& config) {
  std::string text = config.bus == Bus::kIsa ? "isa" : config.bus == Bus::kUsb ? "usb" : "pci";
  text += config.spran ? " spran" : " older";
  if (!config.dpr) text += " nodpr";
  if (config.dpr_unused) text += " dprunused";
  if (!config.interrupt) text += " noirq";
  if (config.port_in_memory) text += " memport";
  if (config.absent) text += " absent";
  if (!config.version.empty()) text += " version=" + config.version;
  if (config.usb_id >= 0) text += " id=" + std::to_string(config.usb_id);
  if (config.legacy_port != 0) {
    char legacy[48];
    std::snprintf(legacy, sizeof(legacy), " port=%u dpr=0x%X", config.legacy_port,
                  config.legacy_dpr);
    text += legacy;
  }
  return text;
}

SimMachine::SimMachine() = default;
SimMachine::~SimMachine() = default;

kernel::HardwareAccess SimMachine::access() {
  kernel::HardwareAccess a;
  a.context = this;
  a.read_port_u8 = &ReadPortU8;
  a.write_port_u8 = &WritePortU8;
  a.memory_present = &MemoryPresent;
  a.read_memory_u8 = &ReadMemU8;
  a.read_memory_u16 = &ReadMemU16;
  a.read_memory_u32 = &ReadMemU32;
  a.write_memory_u8 = &WriteMemU8;
  a.write_memory_u16 = &WriteMemU16;
  a.write_memory_u32 = &WriteMemU32;
  a.read_memory_block = &ReadMemBlock;
  a.write_memory_block = &WriteMemBlock;
  a.barrier = &Barrier;
  a.connect_interrupt = &ConnectInterrupt;
  a.disconnect_interrupt = &DisconnectInterrupt;
  a.stall = &StallAll;
  return a;
}

std::shared_ptr<Slot> SimMachine::Plug(const CardConfig& config) {
  std::unique_lock lock(mu_);
  int index = -1;
  for (int i = 0; i < kMaxSlots; ++i) {
    if (!slots_[static_cast<size_t>(i)]) {
      index = i;
      break;
    }
  }
  if (index < 0) return nullptr;
  if (config.bus == Bus::kUsb) {
    std::shared_ptr<Slot> slot = PlugUsb(index, config);
    slots_[static_cast<size_t>(index)] = slot;
    return slot;
  }

  auto slot = std::make_shared<Slot>();
  slot->id = index;
  slot->config = config;
  cardsim::CardModel model = config.spran ? cardsim::CardModel::Spran() : cardsim::CardModel::Older();
  if (!config.version.empty()) model.version = config.version;
  if (!config.type_text.empty()) model.type_text = config.type_text;
  slot->card = std::make_unique<cardsim::Card>(model);
  slot->bus = std::make_unique<cardsim::BusAttachment>(*slot->card);
  if (config.absent) slot->bus->SetAbsent(true);
  if (config.dpr_unused) {
    // What the card reports as its DPR size: a set bit 11 of X:$3 on older
    // cards, Y:$3F = 0x60000 (no room above 0x180000) on SPRAN cards.
    if (config.spran) {
      slot->card->memory().Write(cardsim::Space::kY, 0x3F, 0x60000);
    } else {
      slot->card->memory().Write(cardsim::Space::kX, 0x3, 0x800);
    }
  } else if (config.spran) {
    slot->card->memory().Write(cardsim::Space::kY, 0x3F, (0x180000 + kDprLength) / 4);
  }

  const uint64_t io_base = config.bus == Bus::kIsa ? kIsaPortBase : kPciPortBase;
  slot->port_length = kPortLength;
  slot->memory_base = kMemoryBase + kMemoryStride * static_cast<uint64_t>(index);
  slot->port_base = config.port_in_memory ? slot->memory_base + kPortMemoryOffset
                                          : io_base + kPortLength * static_cast<uint64_t>(index);
  if (config.legacy_port != 0) {
    slot->port_base = config.legacy_port;
    slot->port_length = 8;
    slot->memory_base = config.legacy_dpr;
  }
  slot->vector = 0x30 + static_cast<uint32_t>(index);
  slot->level = 5 + static_cast<uint32_t>(index % 11);

  kernel::ResourceList& r = slot->resources;
  r.push_back(kernel::ResourceDescriptor::Port(
      slot->port_base, kPortLength, config.port_in_memory ? kernel::kPortMemory : kernel::kPortIo));
  if (config.interrupt) {
    r.push_back(kernel::ResourceDescriptor::Interrupt(slot->level, slot->vector, 1,
                                                      kernel::kInterruptLevelSensitive,
                                                      kernel::kShareShared));
  }
  if (config.dpr) r.push_back(kernel::ResourceDescriptor::Memory(slot->memory_base, kDprLength));
  r.push_back(kernel::ResourceDescriptor::DevicePrivate());

  slots_[static_cast<size_t>(index)] = slot;
  return slot;
}

void SimMachine::Unplug(int slot_id) {
  std::shared_ptr<Slot> gone;
  std::unique_lock lock(mu_);
  if (slot_id < 0 || slot_id >= kMaxSlots) return;
  gone = std::move(slots_[static_cast<size_t>(slot_id)]);
  // `gone` is released after the lock: a card's destruction takes its time.
  lock.unlock();
}

std::shared_ptr<Slot> SimMachine::Get(int slot_id) const {
  std::shared_lock lock(mu_);
  if (slot_id < 0 || slot_id >= kMaxSlots) return nullptr;
  return slots_[static_cast<size_t>(slot_id)];
}

bool SimMachine::FindPort(uint64_t port, Target* target) const {
  for (const auto& slot : slots_) {
    if (slot && slot->bus && !slot->config.port_in_memory && port >= slot->port_base &&
        port < slot->port_base + slot->port_length) {
      *target = Target{slot.get(), static_cast<size_t>(port - slot->port_base), true};
      return true;
    }
  }
  return false;
}

bool SimMachine::FindMemory(uint64_t physical, size_t length, Target* target) const {
  for (const auto& slot : slots_) {
    if (!slot || !slot->bus) continue;
    if (slot->config.dpr && physical >= slot->memory_base &&
        physical + length <= slot->memory_base + kDprLength) {
      *target = Target{slot.get(), static_cast<size_t>(physical - slot->memory_base), false};
      return true;
    }
    if (slot->config.port_in_memory && physical >= slot->port_base &&
        physical + length <= slot->port_base + slot->port_length) {
      *target = Target{slot.get(), static_cast<size_t>(physical - slot->port_base), true};
      return true;
    }
  }
  return false;
}

uint8_t SimMachine::ReadPortU8(void* self, uint64_t port) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindPort(port, &t)) return 0xFF;  // an empty bus
  return t.slot->bus->ReadPort(static_cast<unsigned>(t.offset));
}

void SimMachine::WritePortU8(void* self, uint64_t port, uint8_t value) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (m->FindPort(port, &t)) {
    t.slot->bus->WritePort(static_cast<unsigned>(t.offset), value);
  }
}

bool SimMachine::MemoryPresent(void* self, uint64_t physical, size_t length) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  return m->FindMemory(physical, length, &t);
}

uint8_t SimMachine::ReadMemU8(void* self, uint64_t physical) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindMemory(physical, 1, &t)) return 0xFF;
  return t.port ? t.slot->bus->ReadPort(static_cast<unsigned>(t.offset))
                : t.slot->bus->ReadDpr8(t.offset);
}

uint16_t SimMachine::ReadMemU16(void* self, uint64_t physical) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindMemory(physical, 2, &t) || t.port) return 0xFFFF;
  return t.slot->bus->ReadDpr16(t.offset);
}

uint32_t SimMachine::ReadMemU32(void* self, uint64_t physical) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindMemory(physical, 4, &t) || t.port) return 0xFFFFFFFF;
  return t.slot->bus->ReadDpr32(t.offset);
}

void SimMachine::WriteMemU8(void* self, uint64_t physical, uint8_t value) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindMemory(physical, 1, &t)) return;
  if (t.port) {
    t.slot->bus->WritePort(static_cast<unsigned>(t.offset), value);
  } else {
    t.slot->bus->WriteDpr8(t.offset, value);
  }
}

void SimMachine::WriteMemU16(void* self, uint64_t physical, uint16_t value) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (m->FindMemory(physical, 2, &t) && !t.port) {
    t.slot->bus->WriteDpr16(t.offset, value);
  }
}

void SimMachine::WriteMemU32(void* self, uint64_t physical, uint32_t value) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (m->FindMemory(physical, 4, &t) && !t.port) {
    t.slot->bus->WriteDpr32(t.offset, value);
  }
}

void SimMachine::ReadMemBlock(void* self, uint64_t physical, void* out, size_t length) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (!m->FindMemory(physical, length, &t) || t.port) {
    std::memset(out, 0xFF, length);
    return;
  }
  t.slot->bus->ReadDpr(t.offset, out, length);
}

void SimMachine::WriteMemBlock(void* self, uint64_t physical, const void* in, size_t length) {
  auto* m = static_cast<SimMachine*>(self);
  std::shared_lock lock(m->mu_);
  Target t;
  if (m->FindMemory(physical, length, &t) && !t.port) {
    t.slot->bus->WriteDpr(t.offset, in, length);
  }
}

void SimMachine::Barrier(void* self) {
  (void)self;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

bool SimMachine::ConnectInterrupt(void* self, uint32_t vector,
                                  kernel::InterruptLineHandler handler, void* cookie) {
  auto* machine = static_cast<SimMachine*>(self);
  std::shared_lock lock(machine->mu_);
  for (const auto& slot : machine->slots_) {
    if (slot && slot->bus && slot->config.interrupt && slot->vector == vector) {
      slot->bus->SetInterruptHandler([handler, cookie] { handler(cookie); });
      return true;
    }
  }
  return false;
}

void SimMachine::DisconnectInterrupt(void* self, uint32_t vector) {
  auto* machine = static_cast<SimMachine*>(self);
  std::shared_lock lock(machine->mu_);
  for (const auto& slot : machine->slots_) {
    if (slot && slot->bus && slot->vector == vector) slot->bus->SetInterruptHandler(nullptr);
  }
}

void SimMachine::StallAll(void* self, uint32_t microseconds) {
  auto* machine = static_cast<SimMachine*>(self);
  std::shared_lock lock(machine->mu_);
  for (const auto& slot : machine->slots_) {
    if (slot && slot->bus) slot->bus->Stall(std::chrono::microseconds(microseconds));
  }
}

}  // namespace zimo::drivers::host
