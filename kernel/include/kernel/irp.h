// I/O requests: one request packet travels down a stack of devices, one
// stack location per device; completion runs the completion routines back
// up the stack and finally tells the originator.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "kernel/ntstatus.h"
#include "kernel/resources.h"

namespace zimo::kernel {

class DeviceObject;
class FileObject;
class Irp;

enum class IrpMajor : uint8_t {
  kCreate = 0x00,
  kClose = 0x02,
  kRead = 0x03,
  kWrite = 0x04,
  kDeviceControl = 0x0E,
  kInternalDeviceControl = 0x0F,
  kShutdown = 0x10,
  kCleanup = 0x12,
  kPower = 0x16,
  kPnp = 0x1B,
};
inline constexpr size_t kIrpMajorCount = 0x1C;

// Plug-and-play minor functions.
namespace pnp {
inline constexpr uint8_t kStartDevice = 0x00;
inline constexpr uint8_t kQueryRemoveDevice = 0x01;
inline constexpr uint8_t kRemoveDevice = 0x02;
inline constexpr uint8_t kCancelRemoveDevice = 0x03;
inline constexpr uint8_t kStopDevice = 0x04;
inline constexpr uint8_t kQueryStopDevice = 0x05;
inline constexpr uint8_t kCancelStopDevice = 0x06;
inline constexpr uint8_t kQueryCapabilities = 0x09;
inline constexpr uint8_t kSurpriseRemoval = 0x17;
}  // namespace pnp

// Power minor functions.
namespace power {
inline constexpr uint8_t kWaitWake = 0x00;
inline constexpr uint8_t kPowerSequence = 0x01;
inline constexpr uint8_t kSetPower = 0x02;
inline constexpr uint8_t kQueryPower = 0x03;
}  // namespace power

// Runs when the request completes through the location it was set on.
// `device` is the device of the location above (the driver that set it).
// Returning kStatusMoreProcessingRequired stops the completion there: the
// routine's driver now owns the request and completes it again later.
using CompletionRoutine = std::function<NTSTATUS(DeviceObject* device, Irp& irp)>;

struct IoStackLocation {
  IrpMajor major = IrpMajor::kCreate;
  uint8_t minor = 0;
  DeviceObject* device = nullptr;
  // The open handle a create, cleanup, close or device control comes
  // through (null for requests the kernel makes itself).
  FileObject* file_object = nullptr;
  // Device control.
  uint32_t io_control_code = 0;
  uint32_t input_length = 0;
  uint32_t output_length = 0;
  // Plug and play: the start's translated resources; query capabilities.
  const ResourceList* resources_translated = nullptr;
  DeviceCapabilities* capabilities = nullptr;
  // Internal device control: the request's argument (a USB request block).
  void* argument1 = nullptr;
  // Power.
  PowerStateType power_type = PowerStateType::kSystem;
  PowerState power_state;
  CompletionRoutine completion;
};

struct IoStatusBlock {
  NTSTATUS status = kStatusSuccess;
  uint64_t information = 0;
};

// The caller's handle values and the names of the objects they stand for
// (handles do not cross processes here; names do).
using HandleNames = std::map<uint64_t, std::string>;

class Irp {
 public:
  explicit Irp(int stack_size);
  Irp(const Irp&) = delete;
  Irp& operator=(const Irp&) = delete;

  IoStatusBlock io_status;
  // Buffered requests: one buffer of max(input, output) bytes that starts as
  // a copy of the input; the first `information` bytes go back to the caller.
  std::vector<uint8_t> system_buffer;
  // The caller's own output buffer (read directly by the codes that take an
  // argument there, and the data buffer of direct requests).
  std::span<uint8_t> user_buffer;
  const HandleNames* handles = nullptr;
  bool pending_returned = false;

  IoStackLocation& CurrentStackLocation();
  const IoStackLocation& CurrentStackLocation() const;
  IoStackLocation& NextStackLocation();
  // The lower driver gets this driver's location unchanged.
  void SkipCurrentStackLocation();
  // The lower driver gets a copy, without the completion routine.
  void CopyCurrentStackLocationToNext();
  // Sets `routine` on the next location, to run when the lower driver completes.
  void SetCompletionRoutine(CompletionRoutine routine);
  void MarkPending() { pending_returned = true; }

  int stack_size() const { return static_cast<int>(stack_.size()); }

  // Originator side: what runs once the request has unwound the whole stack.
  void SetOriginatorCompletion(std::function<void(Irp&)> done);
  // Waits until the request has unwound the whole stack.
  void WaitForCompletion();
  bool completed() const;

 private:
  friend class Kernel;

  std::vector<IoStackLocation> stack_;
  int current_;  // index of the current location; stack size before the first call
  std::function<void(Irp&)> originator_done_;
  mutable std::mutex mu_;
  std::condition_variable done_cv_;
  bool completed_ = false;
};

}  // namespace zimo::kernel
