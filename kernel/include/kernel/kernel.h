// The kernel: the services drivers are written against, in one object per
// machine (so several machines can live in one test process). It plays the
// object manager (device names and symbolic links), the I/O manager
// (requests, open handles, buffered device control), the plug-and-play and
// power managers' requests, the hardware abstraction (ports, mapped device
// memory, interrupts, stalls, through a HardwareAccess table), deferred
// procedure calls, event references, the system error log and debug output.
#pragma once

#include <cstdarg>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kernel/device.h"
#include "kernel/dpc.h"
#include "kernel/error_log.h"
#include "kernel/event.h"
#include "kernel/hardware.h"
#include "kernel/interrupt.h"
#include "kernel/irp.h"
#include "kernel/ntstatus.h"
#include "kernel/resources.h"

namespace zimo::kernel {

// Device memory mapped into the kernel: accesses by offset from the base.
// Accesses outside the window do nothing and read 0 (a driver bug must not
// reach other devices' memory).
class MappedMemory {
 public:
  MappedMemory(const HardwareAccess* hardware, uint64_t physical, size_t length)
      : hw_(hardware), physical_(physical), length_(length) {}

  uint64_t physical() const { return physical_; }
  size_t length() const { return length_; }

  uint8_t Read8(size_t offset) const;
  uint16_t Read16(size_t offset) const;
  uint32_t Read32(size_t offset) const;
  void Write8(size_t offset, uint8_t value);
  void Write16(size_t offset, uint16_t value);
  void Write32(size_t offset, uint32_t value);
  bool ReadBlock(size_t offset, void* out, size_t length) const;
  bool WriteBlock(size_t offset, const void* in, size_t length);
  void Barrier();

 private:
  bool Inside(size_t offset, size_t length) const {
    return offset <= length_ && length <= length_ - offset;
  }
  const HardwareAccess* hw_;
  uint64_t physical_;
  size_t length_;
};

// An open handle on a device.
class FileObject {
 public:
  explicit FileObject(std::shared_ptr<DeviceObject> device) : device_(std::move(device)) {}
  DeviceObject* device() const { return device_.get(); }

 private:
  std::shared_ptr<DeviceObject> device_;
};

// Kernel calls a test (or the driver host's control commands) can make fail
// once, to drive the drivers' failure paths.
enum class FaultPoint {
  kCreateDevice,
  kCreateSymbolicLink,
  kAttachDevice,
  kMapIoSpace,
  kConnectInterrupt,
};

struct DeviceIoResult {
  NTSTATUS status = kStatusSuccess;
  uint64_t information = 0;  // the transfer count
};

class Kernel {
 public:
  explicit Kernel(HardwareAccess hardware);
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // ---- Drivers ---------------------------------------------------------------
  // Creates the driver object "\Driver\<name>" and runs its entry. The object
  // is dropped again when the entry fails.
  NTSTATUS LoadDriver(std::string_view name, DriverEntryRoutine entry,
                      std::string_view registry_path, DriverObject** driver);
  // Runs the unload routine (all devices must be gone) and drops the driver.
  void UnloadDriver(DriverObject* driver);
  // The WDM version this kernel offers (1.10 unless a test says otherwise).
  bool IsWdmVersionAvailable(uint8_t major, uint8_t minor) const;
  void SetWdmVersion(uint8_t major, uint8_t minor);

  // ---- Devices and names -----------------------------------------------------
  // Creates a device with a fresh `T` as its extension. An empty name makes
  // an unnamed device. kStatusObjectNameCollision when the name is taken.
  template <typename T>
  NTSTATUS CreateDevice(DriverObject* driver, std::string_view name, uint32_t device_type,
                        bool exclusive, DeviceObject** device) {
    return CreateDeviceWith(driver, name, device_type, exclusive, std::make_shared<T>(), device);
  }
  NTSTATUS CreateDeviceWith(DriverObject* driver, std::string_view name, uint32_t device_type,
                            bool exclusive, std::shared_ptr<void> extension,
                            DeviceObject** device);
  // Removes the device's name; the object goes when its last handle closes.
  void DeleteDevice(DeviceObject* device);
  // Link and target are kernel names ("\DosDevices\ZimoPCI0",
  // "\Device\ZimoPCI0"); links compare without regard to case.
  NTSTATUS CreateSymbolicLink(std::string_view link, std::string_view target);
  NTSTATUS DeleteSymbolicLink(std::string_view link);
  std::vector<std::string> SymbolicLinks() const;
  // Observers are told of every link created (true) or deleted (false), on
  // the thread that made the change, outside the kernel's locks.
  using LinkObserver = std::function<void(const std::string& link, bool created)>;
  int AddLinkObserver(LinkObserver observer);
  void RemoveLinkObserver(int id);

  // Attaches `source` above the top of `target`'s stack; returns the device
  // it was attached to, or null.
  DeviceObject* AttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target);
  void DetachDevice(DeviceObject* lower);
  // The top of `device`'s stack.
  DeviceObject* GetAttachedDevice(DeviceObject* device) const;

  // ---- Requests ----------------------------------------------------------------
  // Passes the request to `device`'s dispatch routine at the next location.
  NTSTATUS CallDriver(DeviceObject* device, Irp& irp);
  // Completes the request: completion routines run up the stack.
  void CompleteRequest(Irp& irp);

  // ---- The user-mode face of the I/O manager -----------------------------------
  // Opens "\\.\<name>" (or "\DosDevices\<name>"): follows the link, sends a
  // create request to the top of the device's stack.
  NTSTATUS OpenFile(std::string_view path, std::shared_ptr<FileObject>* file);
  // Sends cleanup and close for the handle.
  void CloseFile(const std::shared_ptr<FileObject>& file);
  // DeviceIoControl: `input` and `output` are the caller's buffers; the
  // output's contents are what the caller passed in it. Buffered codes copy
  // the first min(transfer count, output size) bytes of the system buffer
  // back into `output` unless the status is an error.
  DeviceIoResult DeviceIoControl(FileObject& file, uint32_t code, std::span<const uint8_t> input,
                                 std::span<uint8_t> output, const HandleNames* handles = nullptr);

  // ---- Plug and play and power, as their managers send them --------------------
  // Sends a request to the top of `physical_device`'s stack and waits for its
  // completion. Plug-and-play requests start with kStatusNotSupported.
  NTSTATUS SendPnp(DeviceObject* physical_device, uint8_t minor,
                   const ResourceList* resources = nullptr,
                   DeviceCapabilities* capabilities = nullptr);
  NTSTATUS SendPower(DeviceObject* physical_device, uint8_t minor, PowerStateType type,
                     PowerState state);
  // Asks for a device power request sent to the top of `physical_device`'s
  // stack; `done` runs when it has completed. kStatusPending when sent.
  using PowerCompletion = std::function<void(DeviceObject* device, uint8_t minor,
                                             PowerState state, const IoStatusBlock& status)>;
  NTSTATUS PoRequestPowerIrp(DeviceObject* physical_device, uint8_t minor, PowerState state,
                             PowerCompletion done);
  void PoStartNextPowerIrp(Irp& irp);
  NTSTATUS PoCallDriver(DeviceObject* device, Irp& irp) { return CallDriver(device, irp); }
  void PoSetPowerState(DeviceObject* device, PowerStateType type, PowerState state);

  // ---- Hardware ------------------------------------------------------------------
  uint8_t ReadPortUchar(uint64_t port);
  void WritePortUchar(uint64_t port, uint8_t value);
  // Null when the range is not device memory.
  std::unique_ptr<MappedMemory> MapIoSpace(uint64_t physical, size_t length);
  void StallExecutionProcessor(uint32_t microseconds);

  NTSTATUS ConnectInterrupt(std::unique_ptr<InterruptObject>* interrupt,
                            InterruptServiceRoutine routine, void* context, uint32_t vector,
                            uint32_t level, uint32_t synchronize_level, InterruptMode mode,
                            bool shared, uint64_t affinity);
  void DisconnectInterrupt(std::unique_ptr<InterruptObject>* interrupt);
  // Runs `routine` under the interrupt's lock.
  bool SynchronizeExecution(InterruptObject* interrupt, SynchronizeRoutine routine,
                            void* context);
  // Tests: waits until every line that rose so far has been serviced.
  void FlushInterrupts();

  // ---- Deferred procedure calls ----------------------------------------------------
  void InitializeDpc(Dpc* dpc, DeferredRoutine routine, void* context);
  // False when the DPC is already queued.
  bool InsertQueueDpc(Dpc* dpc, void* argument1, void* argument2);
  // Takes the DPC out of the queue if it is there, and waits for a run of
  // it in progress.
  void RemoveQueuedDpc(Dpc* dpc);
  // Tests: hold queued DPCs back (as if the processor stayed at a raised
  // level), and wait until the queue has run dry.
  void HoldDpcs(bool hold);
  void FlushDpcs();

  // ---- Events ----------------------------------------------------------------------
  // Resolves a handle value of the request's caller. kStatusInvalidHandle
  // when the caller named no object for it or the object is gone.
  NTSTATUS ReferenceEventByHandle(uint64_t handle, const Irp& irp, EventRef* event);
  // kStatusObjectNameNotFound when no such event exists.
  NTSTATUS ReferenceEventByName(std::string_view name, EventRef* event);
  // Told of every event a driver sets, in order (a kernel trace).
  void SetEventTrace(std::function<void(const std::string& name)> trace);

  // ---- Error log and debug output ------------------------------------------------
  void WriteErrorLogEntry(ErrorLogEntry entry);
  std::vector<ErrorLogEntry> ErrorLog() const;
  // Entries are also appended to this file (created with its folder).
  void SetErrorLogFile(std::filesystem::path path);
  void DbgPrint(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // ---- Faults ------------------------------------------------------------------------
  void InjectFault(FaultPoint point, NTSTATUS status);

  const HardwareAccess& hardware() const { return hardware_; }

 private:
  struct VectorChain {
    Kernel* kernel;
    uint32_t vector;
    std::vector<InterruptObject*> objects;
    bool hardware_connected = false;
  };
  struct Link {
    std::string link;    // as created
    std::string target;  // device name
  };

  NTSTATUS TakeFault(FaultPoint point);
  std::shared_ptr<DeviceObject> FindDevice(std::string_view name) const;
  static void OnInterruptLine(void* cookie);
  void InterruptThread();
  void ServiceVector(uint32_t vector);
  void DpcThread();
  NTSTATUS SendAndWait(DeviceObject* physical_device, Irp& irp);

  HardwareAccess hardware_;

  mutable std::mutex names_mu_;
  std::vector<std::unique_ptr<DriverObject>> drivers_;
  std::vector<std::shared_ptr<DeviceObject>> devices_;  // every live device
  std::map<std::string, Link> links_;                   // by lower-cased link
  std::map<int, LinkObserver> link_observers_;
  int next_observer_ = 1;
  uint8_t wdm_major_ = 1;
  uint8_t wdm_minor_ = 0x10;

  mutable std::mutex faults_mu_;
  std::map<FaultPoint, NTSTATUS> faults_;

  mutable std::mutex stack_mu_;  // attach and detach

  // Chains live as long as the kernel: the hardware keeps their address.
  mutable std::mutex vectors_mu_;
  std::map<uint32_t, std::unique_ptr<VectorChain>> vectors_;

  std::mutex irq_mu_;
  std::condition_variable irq_cv_;
  std::condition_variable irq_idle_cv_;
  std::deque<uint32_t> irq_queue_;
  bool irq_busy_ = false;
  bool irq_stop_ = false;
  std::thread irq_thread_;

  std::mutex dpc_mu_;
  std::condition_variable dpc_cv_;
  std::condition_variable dpc_idle_cv_;
  std::deque<Dpc*> dpc_queue_;
  Dpc* dpc_running_ = nullptr;
  bool dpc_hold_ = false;
  bool dpc_stop_ = false;
  std::thread dpc_thread_;

  std::mutex trace_mu_;
  std::function<void(const std::string&)> event_trace_;

  mutable std::mutex log_mu_;
  std::vector<ErrorLogEntry> error_log_;
  std::filesystem::path error_log_file_;
};

}  // namespace zimo::kernel
