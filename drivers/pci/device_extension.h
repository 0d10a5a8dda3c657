// The driver's state: what it keeps per driver and per device (the device
// extension), and the operations its source files share.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "drivers/zimo_ioctl.h"
#include "kernel/kernel.h"
#include "kernel/remove_lock.h"

namespace zimo::drivers::pci {

using kernel::NTSTATUS;

enum class Flavour { kPci, kIsa };

struct DriverState {
  Flavour flavour = Flavour::kPci;
  std::string service_key;              // copy of the service's registry key name
  std::atomic<int> device_counter{-1};  // numbers are never reused
  std::string device_prefix;            // "\Device\ZimoPCI"
  std::string link_prefix;              // "\DosDevices\ZimoPCI"
};

enum class PnpState : int {
  kNotStarted = 0,
  kStarted = 1,
  kStopPending = 2,
  kRemovePending = 3,
  kSurpriseRemoved = 4,
  kRemoved = 5,
};

inline constexpr int kSourceCount = 8;

struct DeviceExtension {
  // Identity.
  kernel::DeviceObject* device = nullptr;
  kernel::DeviceObject* lower_device = nullptr;
  kernel::DeviceObject* physical_device = nullptr;
  int device_number = 0;
  Flavour flavour = Flavour::kPci;

  // Names.
  std::string device_name;
  std::string link_name;

  kernel::RemoveLock remove_lock;

  // Plug and play.
  std::atomic<PnpState> state{PnpState::kNotStarted};
  std::atomic<PnpState> state_before_query_remove{PnpState::kNotStarted};

  // Power.
  std::atomic<kernel::DevicePowerState> device_power{kernel::DevicePowerState::kD0};
  std::atomic<kernel::SystemPowerState> system_power{kernel::SystemPowerState::kWorking};
  kernel::DeviceCapabilities capabilities;

  std::atomic<int> open_handles{0};

  // Requests hold it shared while they use the port range, the DPR window
  // and the interrupt; start and stop hold it alone while they take or give
  // them up, so no request runs on a mapping that is going away.
  std::shared_mutex resources_mu;

  // Port.
  uint64_t port_base = 0;
  uint32_t port_length = 0;  // 0: no port range (not started)
  std::unique_ptr<kernel::MappedMemory> port_mapping;  // a range in memory space

  // DPR.
  uint64_t dpr_physical = 0;
  std::unique_ptr<kernel::MappedMemory> dpr;

  // Interrupt.
  std::unique_ptr<kernel::InterruptObject> interrupt;
  uint32_t interrupt_vector = 0;
  uint32_t interrupt_level = 0;
  kernel::Dpc dpc;
  std::atomic<bool> dpc_queued{false};
  std::atomic<uint32_t> pending_status{0};
  std::mutex interrupt_mu;  // enable count and mask, from request threads
  uint32_t enable_count = 0;
  uint8_t stored_mask = 255;
  std::mutex events_mu;  // the DPC reads the references while requests replace them
  std::array<kernel::EventRef, kSourceCount> source_events;
  kernel::EventRef user_event;

  // Card.
  int card_type = -1;
  std::atomic<uint32_t> port_last_error{0};
  std::atomic<uint32_t> dpr_last_error{0};
  bool bootstrap = false;
  uint32_t i10 = kDefaultI10;
  char version[kVersionBytes] = {};
  char date[kVersionBytes] = {};
  bool link_list_valid = false;
  uint32_t link_list[kLinkListEntries] = {};
  uint32_t pos_scales[32] = {};
  uint32_t vel_scales[32] = {};

  kernel::Kernel& kernel() const { return device->kernel(); }
};

inline DeviceExtension& Ext(kernel::DeviceObject* device) {
  return *device->extension<DeviceExtension>();
}

// ---- Register access (port I/O, or the mapped range of a memory-space port).
uint8_t ReadPortByte(DeviceExtension& ext, unsigned offset);
void WritePortByte(DeviceExtension& ext, unsigned offset, uint8_t value);
void Stall(DeviceExtension& ext, uint32_t microseconds);

// ---- Port ASCII protocol.
uint32_t WriteCharPort(DeviceExtension& ext, char c);
uint32_t WriteLinePort(DeviceExtension& ext, const char* text, size_t length);
void FlushPort(DeviceExtension& ext);
uint32_t ReadReadyPort(DeviceExtension& ext);
uint32_t ReadLinePort(DeviceExtension& ext, char* buffer, uint32_t requested);
uint32_t ReadLinePortEx(DeviceExtension& ext, char* buffer, uint32_t requested);
uint32_t GetControlResponsePort(DeviceExtension& ext, char c, char* buffer, uint32_t requested);
uint32_t GetBufferPort(DeviceExtension& ext, char* buffer, uint32_t requested);
uint32_t GetResponse(DeviceExtension& ext, const char* command, char* buffer, uint32_t length);
int ZimoPingAndClean(DeviceExtension& ext);
int CardOnPort(DeviceExtension& ext);

// ---- DPR mailbox and memory.
uint32_t WriteCharMem(DeviceExtension& ext, char c);
uint32_t WriteCtrlCharMem(DeviceExtension& ext, char c);
void FlushMem(DeviceExtension& ext);
uint32_t ReadReadyMem(DeviceExtension& ext);
uint32_t GetMemStatus(DeviceExtension& ext);
uint32_t WriteLineMem(DeviceExtension& ext, const char* text, size_t length);
uint32_t ReadLineMem(DeviceExtension& ext, LineIoBlock& record);
uint32_t GetControlResponseMem(DeviceExtension& ext, char c, LineIoBlock& record);
void TestDpramWrite(DeviceExtension& ext);
uint32_t ReadDpram(DeviceExtension& ext, uint32_t offset, uint32_t length, uint8_t* out);
uint32_t WriteDpram(DeviceExtension& ext, const uint8_t* data, uint32_t offset, uint32_t length);
uint32_t WriteDpramWord(DeviceExtension& ext, uint16_t value, uint32_t offset);
uint16_t ReadDpramWord(DeviceExtension& ext, uint32_t offset);
uint32_t GetMemBits(DeviceExtension& ext, ZimoDprBitsRecord& record);
uint32_t SetMemBits(DeviceExtension& ext, ZimoDprBitsRecord& record);
uint32_t GetMemBit(DeviceExtension& ext, ZimoDprBitsRecord& record);
uint32_t SetMemBit(DeviceExtension& ext, ZimoDprBitsRecord& record);

// ---- Identification.
int32_t ParseNumber(const char* text);
uint32_t GetIVariable(DeviceExtension& ext, unsigned n, uint32_t default_value);
bool SetIVariable(DeviceExtension& ext, unsigned n, long value);
int GetZimoType(DeviceExtension& ext);
bool GetDpramSize(DeviceExtension& ext, uint32_t* size);
void GetVersionString(DeviceExtension& ext, char* out);
void GetDateString(DeviceExtension& ext, char* out);
void GetScaleFactors(DeviceExtension& ext);
bool GetLinkList(DeviceExtension& ext);

// ---- Interrupts and events.
bool OnInterrupt(kernel::InterruptObject* interrupt, void* context);
void DpcForIsr(kernel::Dpc* dpc, void* context, void* argument1, void* argument2);
void EnableInts(DeviceExtension& ext);
void DisableInts(DeviceExtension& ext, bool direct);
void InterruptInit(DeviceExtension& ext);
// `accepted`: the input held a handle or a name (else nothing changes and
// the request fails with kStatusUnsuccessful).
NTSTATUS ReferenceUserIntrEvent(DeviceExtension& ext, const kernel::Irp& irp, bool* accepted);
NTSTATUS ReferenceIntrEvents(DeviceExtension& ext, const kernel::Irp& irp);
void DereferenceIntrEvents(DeviceExtension& ext);
void ReleaseUserIntrEvent(DeviceExtension& ext);

// ---- Dispatch routines.
NTSTATUS DispatchCreate(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchClose(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchCleanup(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchShutdown(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchControl(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchPnp(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchPower(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS AddDevice(kernel::DriverObject* driver, kernel::DeviceObject* physical_device);
void StopDevice(DeviceExtension& ext);

}  // namespace zimo::drivers::pci
