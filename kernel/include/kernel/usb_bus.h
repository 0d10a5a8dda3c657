// The USB bus: a bus driver whose children are the devices plugged into
// its ports. Each child's physical device object is the bottom of a device
// stack and serves the internal device-control requests a function driver
// sends: request blocks (descriptors, configuration and interface
// selection, control, bulk, interrupt and isochronous transfers, pipe abort
// and reset, the frame number) and port resets. It also completes the
// plug-and-play and power requests that reach the bottom of the stack.
//
// Control, bulk and interrupt transfers complete before the request returns.
// Isochronous transfers are scheduled: one packet per frame, frames at a
// fixed period of real time, completed on the bus's own thread (as a host
// controller's completion runs at dispatch level), so a driver can send the
// request again from its completion routine. Aborting a pipe cancels its
// scheduled transfers before the abort completes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "kernel/kernel.h"
#include "kernel/usb.h"
#include "kernel/usb_function.h"

namespace zimo::kernel {

class UsbBus {
 public:
  // Loads the bus driver "\Driver\<name>" into `kernel`.
  UsbBus(Kernel& kernel, std::string_view name,
         std::chrono::microseconds frame_period = std::chrono::milliseconds(1));
  ~UsbBus();
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;

  // A device plugged into a free port: its unnamed physical device object.
  DeviceObject* CreateChild(std::shared_ptr<usb::UsbFunction> function,
                            DeviceCapabilities capabilities);
  // The device is gone from the bus (after its removal). Transfers still
  // scheduled for it complete as canceled.
  void DeleteChild(DeviceObject* physical_device);

  // The bus's frame counter (never 0).
  uint32_t CurrentFrame() const;

 private:
  struct Port;
  struct Scheduled {
    std::shared_ptr<Port> port;
    Irp* irp = nullptr;
    usb::Urb* urb = nullptr;
    bool abort = false;  // an abort request for urb->pipe, else an isochronous transfer
  };

  static NTSTATUS EntryPoint(DriverObject* driver, std::string_view registry_path);
  static NTSTATUS DispatchPnp(DeviceObject* device, Irp& irp);
  static NTSTATUS DispatchInternal(DeviceObject* device, Irp& irp);

  NTSTATUS SubmitUrb(Port& port, Irp& irp, usb::Urb& urb);
  void Schedule(Scheduled item);
  void SchedulerThread();
  void RunIsochronous(const Scheduled& item);
  void RunAbort(const Scheduled& item);
  void Complete(Irp& irp, usb::Urb& urb);

  Kernel& kernel_;
  DriverObject* driver_ = nullptr;
  const std::chrono::microseconds frame_period_;
  const std::chrono::steady_clock::time_point epoch_;

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Scheduled> queue_;
  bool stop_ = false;
  std::thread scheduler_;
};

}  // namespace zimo::kernel
