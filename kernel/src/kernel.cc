// The object manager's side of the kernel: drivers, devices, names and
// links, device stacks, fault injection, error log and debug output.
#include "kernel/kernel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "platform/debug.h"

namespace zimo::kernel {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool SameName(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

NTSTATUS InvalidDeviceRequest(DeviceObject* device, Irp& irp) {
  irp.io_status.status = kStatusInvalidDeviceRequest;
  irp.io_status.information = 0;
  device->kernel().CompleteRequest(irp);
  return kStatusInvalidDeviceRequest;
}

}  // namespace

DriverObject::DriverObject(Kernel* kernel, std::string name)
    : kernel_(kernel), name_(std::move(name)) {
  major_function.fill(&InvalidDeviceRequest);
}

DeviceObject::DeviceObject(DriverObject* driver, std::string name, uint32_t device_type,
                           std::shared_ptr<void> extension)
    : driver_(driver),
      name_(std::move(name)),
      device_type_(device_type),
      extension_(std::move(extension)) {}

Kernel::Kernel(HardwareAccess hardware) : hardware_(hardware) {
  dpc_thread_ = std::thread([this] { DpcThread(); });
  irq_thread_ = std::thread([this] { InterruptThread(); });
}

Kernel::~Kernel() {
  {
    std::lock_guard lock(irq_mu_);
    irq_stop_ = true;
  }
  irq_cv_.notify_all();
  irq_thread_.join();
  {
    std::lock_guard lock(dpc_mu_);
    dpc_stop_ = true;
  }
  dpc_cv_.notify_all();
  dpc_thread_.join();
  std::lock_guard lock(vectors_mu_);
  for (auto& [vector, chain] : vectors_) {
    if (hardware_.disconnect_interrupt != nullptr) {
      hardware_.disconnect_interrupt(hardware_.context, vector);
    }
  }
}

// ---- Drivers -------------------------------------------------------------------

NTSTATUS Kernel::LoadDriver(std::string_view name, DriverEntryRoutine entry,
                            std::string_view registry_path, DriverObject** driver) {
  auto object = std::make_unique<DriverObject>(this, "\\Driver\\" + std::string(name));
  const NTSTATUS status = entry(object.get(), registry_path);
  if (!NtSuccess(status)) return status;
  std::lock_guard lock(names_mu_);
  *driver = object.get();
  drivers_.push_back(std::move(object));
  return status;
}

void Kernel::UnloadDriver(DriverObject* driver) {
  if (driver->unload != nullptr) driver->unload(driver);
  std::lock_guard lock(names_mu_);
  std::erase_if(drivers_, [driver](const auto& d) { return d.get() == driver; });
}

bool Kernel::IsWdmVersionAvailable(uint8_t major, uint8_t minor) const {
  std::lock_guard lock(names_mu_);
  return wdm_major_ > major || (wdm_major_ == major && wdm_minor_ >= minor);
}

void Kernel::SetWdmVersion(uint8_t major, uint8_t minor) {
  std::lock_guard lock(names_mu_);
  wdm_major_ = major;
  wdm_minor_ = minor;
}

// ---- Devices and names ---------------------------------------------------------

NTSTATUS Kernel::CreateDeviceWith(DriverObject* driver, std::string_view name,
                                  uint32_t device_type, bool exclusive,
                                  std::shared_ptr<void> extension, DeviceObject** device) {
  (void)exclusive;  // every open here goes through the driver's create
  if (const NTSTATUS fault = TakeFault(FaultPoint::kCreateDevice); fault != kStatusSuccess) {
    return fault;
  }
  std::lock_guard lock(names_mu_);
  if (!name.empty()) {
    for (const auto& d : devices_) {
      if (SameName(d->name(), name)) return kStatusObjectNameCollision;
    }
  }
  auto object =
      std::make_shared<DeviceObject>(driver, std::string(name), device_type, std::move(extension));
  *device = object.get();
  devices_.push_back(std::move(object));
  return kStatusSuccess;
}

void Kernel::DeleteDevice(DeviceObject* device) {
  std::lock_guard lock(names_mu_);
  device->deleted_ = true;
  // Open handles keep their own reference; the object goes with the last.
  std::erase_if(devices_, [device](const auto& d) { return d.get() == device; });
}

std::shared_ptr<DeviceObject> Kernel::FindDevice(std::string_view name) const {
  for (const auto& d : devices_) {
    if (!d->name().empty() && SameName(d->name(), name)) return d;
  }
  return nullptr;
}

NTSTATUS Kernel::CreateSymbolicLink(std::string_view link, std::string_view target) {
  if (const NTSTATUS fault = TakeFault(FaultPoint::kCreateSymbolicLink);
      fault != kStatusSuccess) {
    return fault;
  }
  std::vector<LinkObserver> observers;
  {
    std::lock_guard lock(names_mu_);
    const std::string key = Lower(link);
    if (links_.count(key) != 0) return kStatusObjectNameCollision;
    links_[key] = Link{std::string(link), std::string(target)};
    for (const auto& [id, o] : link_observers_) observers.push_back(o);
  }
  for (const LinkObserver& o : observers) o(std::string(link), true);
  return kStatusSuccess;
}

NTSTATUS Kernel::DeleteSymbolicLink(std::string_view link) {
  std::vector<LinkObserver> observers;
  std::string name;
  {
    std::lock_guard lock(names_mu_);
    auto it = links_.find(Lower(link));
    if (it == links_.end()) return kStatusObjectNameNotFound;
    name = it->second.link;
    links_.erase(it);
    for (const auto& [id, o] : link_observers_) observers.push_back(o);
  }
  for (const LinkObserver& o : observers) o(name, false);
  return kStatusSuccess;
}

std::vector<std::string> Kernel::SymbolicLinks() const {
  std::lock_guard lock(names_mu_);
  std::vector<std::string> out;
  for (const auto& [key, link] : links_) out.push_back(link.link);
  return out;
}

int Kernel::AddLinkObserver(LinkObserver observer) {
  std::lock_guard lock(names_mu_);
  const int id = next_observer_++;
  link_observers_[id] = std::move(observer);
  return id;
}

void Kernel::RemoveLinkObserver(int id) {
  std::lock_guard lock(names_mu_);
  link_observers_.erase(id);
}

DeviceObject* Kernel::AttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target) {
  if (TakeFault(FaultPoint::kAttachDevice) != kStatusSuccess) return nullptr;
  std::lock_guard lock(stack_mu_);
  DeviceObject* top = target;
  while (top->attached_device_ != nullptr) top = top->attached_device_;
  if (top->deleted_) return nullptr;
  top->attached_device_ = source;
  source->lower_device_ = top;
  source->stack_size = top->stack_size + 1;
  return top;
}

void Kernel::DetachDevice(DeviceObject* lower) {
  std::lock_guard lock(stack_mu_);
  if (DeviceObject* upper = lower->attached_device_) upper->lower_device_ = nullptr;
  lower->attached_device_ = nullptr;
}

DeviceObject* Kernel::GetAttachedDevice(DeviceObject* device) const {
  std::lock_guard lock(stack_mu_);
  DeviceObject* top = device;
  while (top->attached_device_ != nullptr) top = top->attached_device_;
  return top;
}

// ---- Faults, error log, debug output --------------------------------------------

void Kernel::InjectFault(FaultPoint point, NTSTATUS status) {
  std::lock_guard lock(faults_mu_);
  faults_[point] = status;
}

NTSTATUS Kernel::TakeFault(FaultPoint point) {
  std::lock_guard lock(faults_mu_);
  auto it = faults_.find(point);
  if (it == faults_.end()) return kStatusSuccess;
  const NTSTATUS status = it->second;
  faults_.erase(it);
  return status;
}

void Kernel::WriteErrorLogEntry(ErrorLogEntry entry) {
  std::lock_guard lock(log_mu_);
  if (!error_log_file_.empty()) {
    std::ofstream out(error_log_file_, std::ios::app);
    out << FormatErrorLogEntry(entry) << '\n';
  }
  error_log_.push_back(std::move(entry));
}

std::vector<ErrorLogEntry> Kernel::ErrorLog() const {
  std::lock_guard lock(log_mu_);
  return error_log_;
}

void Kernel::SetErrorLogFile(std::filesystem::path path) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::lock_guard lock(log_mu_);
  error_log_file_ = std::move(path);
}

void Kernel::DbgPrint(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  platform::DebugOutput(text);
}

}  // namespace zimo::kernel
