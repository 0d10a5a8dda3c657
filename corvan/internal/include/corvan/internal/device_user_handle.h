// The per-process half of a device: what one process holds for a device
// slot beside the shared table. A process has nine of these, one for each
// slot, and never shares them with other processes.
//
// The record keeps what every device has (its transport, its named locks,
// the ASCII channel choice, the command log, the window handle), then one
// member per service that keeps per-device state (DPR buffers, gathering,
// interrupts): a new service adds its own struct here, not more flat
// fields. What a transport keeps per device (the Ethernet lock and event,
// the serial checksum state) is the transport's own type behind
// TransportState (link/transport.h).
//
// This is a plain C++ record with no binary layout promise: the handles are
// owners of platform objects, and an empty owner stands for the handle value
// 0 of a closed or absent object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "corvan/internal/shared_table.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/text_file.h"

namespace zimo::corvan {

// One open transport of the process, kept in the library's location handle
// table and shared by every device number that maps to its Location and
// Enumeration.
struct LocationHandle;

inline constexpr std::size_t kCommandLogNameSize = 260;  // at most 259 characters
inline constexpr int kVbgUserSlots = 9;                  // handles 1 to 8; slot 0 unused

// One registered variable background user: where its address list and its
// data lie in DPR.
struct VarBufUser {
  std::uint16_t entry_count = 0;     // card addresses in the user's list
  std::uint16_t extra_words = 0;     // two-word (48-bit) entries among them
  std::uint16_t address_offset = 0;  // host DPR byte offset of the address list
  std::uint16_t data_offset = 0;     // host DPR byte offset of the data
};

// Passed to whoever receives an interrupt notification: Data is "Test Data",
// Size is 4, Bit is the bit of the source that most recently fired.
struct InterruptInfo {
  const char* Data = nullptr;
  std::uint32_t Size = 0;
  std::uint32_t Bit = 0;
};

// What a transport keeps per device in this process; each transport derives
// its own.
struct TransportDeviceState {
  virtual ~TransportDeviceState() = default;
};

// The DPR buffers this process set up on the device.
struct DprBufferState {
  std::array<std::optional<VarBufUser>, kVbgUserSlots> VbgUsers;
  // Where each binary rotary buffer's data starts (host DPR byte offset);
  // only meaningful in the process that set that buffer up.
  std::array<std::uint32_t, kRotaryBuffers> RotBufDataOffset{};
};

// Gathered data this process uploaded.
struct GatherState {
  // Uploaded gather samples per source; empty when absent.
  std::array<std::vector<double>, kGatherSources> GatherData;
  std::vector<double> RtGatherResult;  // empty until the process allocates it
};

// The device's interrupt waiting thread in this process and whom it tells.
struct InterruptState {
  std::uint32_t IntrThreadId = 0;
  std::thread IntrThread;
  platform::NamedEvent IntrStartEvent;  // the thread sets it when it is ready
  std::uint32_t IntrStopFlag = 0;
  // Interrupt notification: target (a window, function or event, so wide
  // enough for a pointer), kind, device, parameter, and the mask of sources
  // that do not notify.
  std::uintptr_t NotifyTarget = 0;
  std::uint32_t NotifyKind = 0;
  std::uint32_t NotifyDevice = 0;
  std::uint32_t NotifyParameter = 0;
  std::uint32_t NotifyMask = 0;
  InterruptInfo IntrInfo;
};

// The device lock's handle in this process, shared: a thread that waits in
// or holds the lock keeps its own reference (device_lock.cc), so a close
// that drops the record's handle never strands a lock that a thread took
// through it. Loads and stores are atomic; every holder locks and unlocks
// the very handle it took.
class SharedCommandMutex {
 public:
  SharedCommandMutex() = default;
  SharedCommandMutex(const SharedCommandMutex&) = delete;
  SharedCommandMutex& operator=(const SharedCommandMutex&) = delete;
  // Puts `mutex` in place (an empty handle empties the record).
  SharedCommandMutex& operator=(platform::NamedMutex&& mutex) {
    Store(mutex.valid() ? std::make_shared<platform::NamedMutex>(std::move(mutex)) : nullptr);
    return *this;
  }
  bool valid() const { return Share() != nullptr; }
  std::shared_ptr<platform::NamedMutex> Share() const { return std::atomic_load(&mutex_); }
  void Store(std::shared_ptr<platform::NamedMutex> mutex) {
    std::atomic_store(&mutex_, std::move(mutex));
  }

 private:
  std::shared_ptr<platform::NamedMutex> mutex_;
};

struct DeviceUserHandle {
  // Outstanding opens (open minus close) made by this process.
  std::uint32_t OpenCount = 0;
  // The device's transport in this process (driver device, serial port, or
  // the holder of the shared Ethernet socket); null when not open. The
  // location handle table owns it.
  LocationHandle* Transport = nullptr;
  SharedCommandMutex CommandMutex;    // "MutexZimo%d"
  // The device lock of the link's home device ("MutexZimo%d" of the lowest
  // device number on the same Location and Enumeration) when that is
  // another device: taken before CommandMutex, so exchanges of every device
  // number on one port, socket or card are serialised in every process.
  SharedCommandMutex PortMutex;
  platform::NamedMutex DprDataMutex;  // "DPRMutexZimo%d"
  std::uint32_t AsciiCommMode = 0;    // 0 bus channel, 1 DPR mailbox
  std::uint32_t DprAvailable = 0;     // dual-ported RAM usable from this process
  std::uint32_t CommandLogging = 0;
  char CommandLogName[kCommandLogNameSize] = {};
  platform::TextFileWriter CommandLogFile;  // the open command log
  std::uint32_t WindowHandle = 0;           // set by ZimoSetWindow; 0 after open
  // The library's own error of the last failed exchange here, where the
  // channel's driver keeps the others (0: none; link/ascii_channel.h).
  std::int32_t LinkError = 0;

  // The transport's own per-device state; null until the transport makes it.
  std::unique_ptr<TransportDeviceState> TransportState;

  // Per-device services.
  DprBufferState DprBuffers;
  GatherState Gather;
  InterruptState Interrupts;
};

// Puts the record of device slot `slot` (0 to 7) to its state at library
// start: not open, no transport, no locks or events, bus channel, logging
// off with no name, no transport state, no buffers, no notification (its
// device field set to the slot). The interrupt thread must have been
// stopped before; a thread still running is left to its owner.
void ResetDeviceUserHandle(DeviceUserHandle& user, int slot);

}  // namespace zimo::corvan
