#include "host/driver_host.h"

#include <chrono>
#include <thread>

#include "pci/zimo_pci.h"
#include "usb/zimo_usb.h"

namespace zimo::drivers::host {

namespace {

using kernel::NTSTATUS;

constexpr char kServicesKey[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kLinkPrefix[] = "\\DosDevices\\";

}  // namespace

std::vector<HostedDriver> StandardDrivers() {
  return {
      {"ZimoPCI", Bus::kPci, &pci::ZimoPciDriverEntry},
      {"ZimoISA", Bus::kIsa, &pci::ZimoIsaDriverEntry},
      {"ZimoUSB", Bus::kUsb, &usb::ZimoUsbDriverEntry},
  };
}

DriverHost::DriverHost(std::vector<HostedDriver> drivers) : hosted_(std::move(drivers)) {
  kernel_ = std::make_unique<kernel::Kernel>(machine_.access());
  bus_ = std::make_unique<kernel::BusDriver>(*kernel_, "PciBus");
  usb_bus_ = std::make_unique<kernel::UsbBus>(*kernel_, "UsbHub");
  link_observer_ = kernel_->AddLinkObserver([this](const std::string& link, bool created) {
    if (!created) return;
    std::lock_guard lock(cards_mu_);
    new_links_.push_back(link);
  });
  for (const HostedDriver& hosted : hosted_) {
    kernel::DriverObject* driver = nullptr;
    if (kernel::NtSuccess(
            kernel_->LoadDriver(hosted.name, hosted.entry, kServicesKey + hosted.name, &driver))) {
      drivers_[hosted.name] = driver;
    }
  }
}

DriverHost::~DriverHost() {
  std::vector<int> ids;
  {
    std::lock_guard lock(cards_mu_);
    for (const auto& [id, entry] : cards_) ids.push_back(id);
  }
  for (int id : ids) RemoveCard(id);
  for (auto& [name, driver] : drivers_) kernel_->UnloadDriver(driver);
  drivers_.clear();
  kernel_->RemoveLinkObserver(link_observer_);
  usb_bus_.reset();
  bus_.reset();
  kernel_.reset();
}

void DriverHost::DeleteChild(Bus bus, kernel::DeviceObject* pdo) {
  if (bus == Bus::kUsb) {
    usb_bus_->DeleteChild(pdo);
  } else {
    bus_->DeleteChild(pdo);
  }
}

HostedDriver* DriverHost::DriverFor(Bus bus) {
  for (HostedDriver& hosted : hosted_) {
    if (hosted.bus == bus && drivers_.count(hosted.name) != 0) return &hosted;
  }
  return nullptr;
}

NTSTATUS DriverHost::AddCard(const CardConfig& config, int* card) {
  std::lock_guard pnp(pnp_mu_);
  HostedDriver* hosted = DriverFor(config.bus);
  if (hosted == nullptr) return kernel::kStatusNoSuchDevice;
  std::shared_ptr<Slot> slot = machine_.Plug(config);
  if (!slot) return kernel::kStatusInsufficientResources;
  kernel::DeviceObject* pdo =
      config.bus == Bus::kUsb
          ? usb_bus_->CreateChild(slot->usb_function, kernel::BusDriver::DefaultCapabilities())
          : bus_->CreateChild(slot->resources, kernel::BusDriver::DefaultCapabilities());
  if (pdo == nullptr) {
    machine_.Unplug(slot->id);
    return kernel::kStatusInsufficientResources;
  }
  {
    std::lock_guard lock(cards_mu_);
    new_links_.clear();
  }
  kernel::DriverObject* driver = drivers_[hosted->name];
  NTSTATUS status = driver->add_device(driver, pdo);
  if (!kernel::NtSuccess(status)) {
    DeleteChild(config.bus, pdo);
    machine_.Unplug(slot->id);
    return status;
  }
  Entry entry;
  entry.info.id = slot->id;
  entry.info.config = config;
  entry.pdo = pdo;
  entry.slot = slot;
  {
    std::lock_guard lock(cards_mu_);
    for (const std::string& link : new_links_) {
      if (link.rfind(kLinkPrefix, 0) == 0)
        entry.info.device_name = link.substr(sizeof(kLinkPrefix) - 1);
    }
    cards_[slot->id] = entry;
  }

  // What the plug-and-play manager sends a new device: its capabilities,
  // then the start with its resources.
  kernel::DeviceCapabilities caps;
  kernel_->SendPnp(pdo, kernel::pnp::kQueryCapabilities, nullptr, &caps);
  status = Start(cards_[slot->id]);
  if (!kernel::NtSuccess(status)) {
    // A device that failed to start is removed; the removal releases what
    // the start still held.
    kernel_->SendPnp(pdo, kernel::pnp::kRemoveDevice);
    DeleteChild(config.bus, pdo);
    machine_.Unplug(slot->id);
    std::lock_guard lock(cards_mu_);
    cards_.erase(slot->id);
    return status;
  }
  if (clocks_running_ && slot->card) slot->card->StartServoClock(1.0);
  *card = slot->id;
  return status;
}

NTSTATUS DriverHost::Start(Entry& entry) {
  const NTSTATUS status =
      kernel_->SendPnp(entry.pdo, kernel::pnp::kStartDevice, &entry.slot->resources);
  std::lock_guard lock(cards_mu_);
  entry.info.started = kernel::NtSuccess(status);
  return status;
}

NTSTATUS DriverHost::StartCard(int card) {
  std::lock_guard pnp(pnp_mu_);
  Entry* entry;
  {
    std::lock_guard lock(cards_mu_);
    auto it = cards_.find(card);
    if (it == cards_.end()) return kernel::kStatusNoSuchDevice;
    entry = &it->second;
  }
  return Start(*entry);
}

NTSTATUS DriverHost::StopCard(int card) {
  std::lock_guard pnp(pnp_mu_);
  kernel::DeviceObject* pdo;
  {
    std::lock_guard lock(cards_mu_);
    auto it = cards_.find(card);
    if (it == cards_.end()) return kernel::kStatusNoSuchDevice;
    pdo = it->second.pdo;
  }
  NTSTATUS status = kernel_->SendPnp(pdo, kernel::pnp::kQueryStopDevice);
  if (!kernel::NtSuccess(status)) return status;
  status = kernel_->SendPnp(pdo, kernel::pnp::kStopDevice);
  std::lock_guard lock(cards_mu_);
  cards_[card].info.started = false;
  return status;
}

NTSTATUS DriverHost::RemoveCard(int card) { return Remove(card, false); }
NTSTATUS DriverHost::SurpriseRemoveCard(int card) { return Remove(card, true); }

NTSTATUS DriverHost::Remove(int card, bool surprise) {
  std::lock_guard pnp(pnp_mu_);
  Entry entry;
  {
    std::lock_guard lock(cards_mu_);
    auto it = cards_.find(card);
    if (it == cards_.end()) return kernel::kStatusNoSuchDevice;
    it->second.info.removed = true;
    entry = it->second;
  }
  if (surprise) {
    if (entry.slot->bus) entry.slot->bus->SetAbsent(true);
    if (entry.slot->usb) entry.slot->usb->SetDetached(true);
    kernel_->SendPnp(entry.pdo, kernel::pnp::kSurpriseRemoval);
  } else {
    const NTSTATUS query = kernel_->SendPnp(entry.pdo, kernel::pnp::kQueryRemoveDevice);
    if (!kernel::NtSuccess(query)) {
      kernel_->SendPnp(entry.pdo, kernel::pnp::kCancelRemoveDevice);
      std::lock_guard lock(cards_mu_);
      cards_[card].info.removed = false;
      return query;
    }
  }
  const NTSTATUS status = kernel_->SendPnp(entry.pdo, kernel::pnp::kRemoveDevice);
  DeleteChild(entry.info.config.bus, entry.pdo);
  machine_.Unplug(entry.slot->id);
  std::lock_guard lock(cards_mu_);
  cards_.erase(card);
  return status;
}

NTSTATUS DriverHost::SetSystemPower(int card, kernel::SystemPowerState state) {
  std::lock_guard pnp(pnp_mu_);
  kernel::DeviceObject* pdo = PhysicalDevice(card);
  if (pdo == nullptr) return kernel::kStatusNoSuchDevice;
  kernel::PowerState target;
  target.system = state;
  NTSTATUS status =
      kernel_->SendPower(pdo, kernel::power::kQueryPower, kernel::PowerStateType::kSystem, target);
  if (!kernel::NtSuccess(status)) return status;
  return kernel_->SendPower(pdo, kernel::power::kSetPower, kernel::PowerStateType::kSystem, target);
}

bool DriverHost::RaiseInterrupts(int card, const std::vector<uint8_t>& sets, bool hold_dpc) {
  std::shared_ptr<Slot> slot = machine_.Get(card);
  if (!slot || !slot->bus) return false;  // a USB card has no interrupt line
  if (hold_dpc) kernel_->HoldDpcs(true);
  for (uint8_t bits : sets) {
    slot->bus->RaiseInterrupt(bits);
    // The interrupt routine takes the sources and lowers the line before the
    // next set comes (a line that stays up was not this card's driver's).
    kernel_->FlushInterrupts();
  }
  if (hold_dpc) kernel_->HoldDpcs(false);
  kernel_->FlushDpcs();
  return true;
}

std::vector<CardInfo> DriverHost::Cards() const {
  std::lock_guard lock(cards_mu_);
  std::vector<CardInfo> out;
  for (const auto& [id, entry] : cards_) out.push_back(entry.info);
  return out;
}

bool DriverHost::GetCard(int card, CardInfo* info) const {
  std::lock_guard lock(cards_mu_);
  auto it = cards_.find(card);
  if (it == cards_.end()) return false;
  *info = it->second.info;
  return true;
}

cardsim::Card* DriverHost::SimCard(int card) {
  std::shared_ptr<Slot> slot = machine_.Get(card);
  return slot ? slot->card.get() : nullptr;
}

kernel::DeviceObject* DriverHost::PhysicalDevice(int card) const {
  std::lock_guard lock(cards_mu_);
  auto it = cards_.find(card);
  return it == cards_.end() ? nullptr : it->second.pdo;
}

}  // namespace zimo::drivers::host
