// The transport table: one table of operations per Location (ISA, serial,
// Ethernet, PCI, USB), registered once in transport.cc. The open path, the
// command dispatcher and the DPR front ask a device's table and never look
// at its Location code themselves. A new Location is one more Transport
// and one more line in the registration; everything a Location does
// differently is an operation here.
//
// Each operation's comment says whether it may block and which locks the
// caller holds. "open lock": the process's open/close serialisation;
// "table lock": the location handle table's mutex; "device lock": the
// device's "MutexZimo%d" (recursive, across processes).
#pragma once

#include <cstdint>
#include <memory>

#include "corvan/internal/device_user_handle.h"
#include "corvan/internal/shared_table.h"
#include "link/ascii_channel.h"

namespace zimo::corvan {

struct LocationHandle;

class Transport {
 public:
  virtual ~Transport() = default;

  // The Location code this table serves.
  virtual std::uint32_t location() const = 0;

  // ---- Open and close of a location (one per process and Location,
  // Enumeration, shared by every device number that maps to it).

  // Opens this process's link to handle.location/handle.enumeration for
  // `device`; on failure false, with the reason in the library's last open
  // error where there is one. Open lock and table lock held; blocks (driver
  // host, connect, port set-up).
  virtual bool OpenLocation(int device, LocationHandle& handle) = 0;
  // Closes it when the process's last device has let go. Open lock and
  // table lock held; may block (close requests, driver requests).
  virtual void CloseLocation(LocationHandle& handle) = 0;

  // ---- Per-device open and close.

  // After the location is open and before the handshake: this process's
  // set-up of the device (start event, channel choice, card reset, port
  // settings). False fails the open. Open lock and device lock held; may
  // block.
  virtual bool PrepareDevice(int device, DeviceUserHandle& user, SharedDeviceBlock& block) = 0;
  // The open handshake with the card. Device lock held; blocks for the
  // card's answers.
  virtual bool Handshake(int device, DeviceUserHandle& user, SharedDeviceBlock& block) = 0;
  // A first opener's set-up after the card was identified. Open lock and
  // device lock held; never blocks.
  virtual void AfterIdentify(SharedDeviceBlock& block, const DeviceConfigBlock& config) {
    (void)block;
    (void)config;
  }
  // False for a card whose first open has no DPR bookkeeping to do.
  virtual bool HasDprSetUp() const { return true; }
  // The last close of the device in this process, before its location is
  // released. Open lock and device lock held; may block (the interrupt
  // thread is joined).
  virtual void CloseDevice(int device, DeviceUserHandle& user) {
    (void)device;
    (void)user;
  }

  // ---- ASCII channel.

  // The channel the device's exchanges take now (the process's bus or
  // mailbox choice, checksummed or plain serial). Device lock held by the
  // command API; never blocks.
  virtual AsciiChannel* Channel(int device, const DeviceUserHandle& user) = 0;
  // Switches checksummed communication of the device (the card's I4 and
  // this process's flag); 0 where the Location has none. No lock held (the
  // exchange takes the device lock); blocks for the exchange.
  virtual int SwitchChecksums(int device, int on) {
    (void)device;
    (void)on;
    return 0;
  }

  // ---- DPR route. No library lock is held (raw DPR access takes none);
  // each may block for one driver request or network exchange, and the
  // transport serialises its own requests (driver handle, "ETHMutext%d").

  // True when the device's DPR can be reached from this process now.
  virtual bool DprReachable(int device) = 0;
  // Asks the card (or its driver) whether its DPR is there: 1 or 0.
  // Device lock held or not; blocks for the request or exchange.
  virtual int TestDprAvailable(int device, const SharedDeviceBlock& block) = 0;
  // Whole blocks only: false leaves `destination` untouched.
  virtual bool DprRead(int device, std::uint32_t offset, std::uint32_t length,
                       void* destination) = 0;
  virtual bool DprWrite(int device, std::uint32_t offset, std::uint32_t length,
                        const void* source) = 0;
  // A 16-bit word; a transport that has a single-access write uses it.
  virtual bool DprWriteWord(int device, std::uint32_t offset, std::uint16_t value) {
    return DprWrite(device, offset, sizeof value, &value);
  }
  // Bit fields of a dword: `count` bits from `first`, and single bits.
  virtual bool DprGetBits(int device, std::uint32_t offset, std::uint16_t first,
                          std::uint16_t count, std::uint32_t* value) = 0;
  virtual bool DprSetBits(int device, std::uint32_t offset, std::uint16_t first,
                          std::uint16_t count, std::uint32_t value) = 0;
  virtual bool DprGetBit(int device, std::uint32_t offset, std::uint32_t bit,
                         std::uint32_t* value) = 0;
  virtual bool DprSetBit(int device, std::uint32_t offset, std::uint32_t bit,
                         std::uint32_t value) = 0;

  // ---- Interrupts.

  // True when the card's interrupts reach this process (driver events and
  // the device's waiting thread).
  virtual bool HasInterrupts() const { return false; }

  // ---- Direct card access.

  // True when the Location may switch its ASCII exchanges to the DPR
  // mailbox.
  virtual bool HasDprMailbox() const { return false; }
};

// The registered table of a Location code; null for a code without one.
Transport* TransportFor(std::uint32_t location);
// The table of the device's Location in the shared table; null when the
// table is not mapped, the number is outside 0 to 7 or the Location has no
// transport.
Transport* TransportOf(int device);

// Puts another table in place of a Location's for a scope (tests); the
// registered one comes back when it ends, or at Restore().
class ScopedTransportOverride {
 public:
  ScopedTransportOverride(std::uint32_t location, std::unique_ptr<Transport> transport);
  ~ScopedTransportOverride() { Restore(); }
  ScopedTransportOverride(const ScopedTransportOverride&) = delete;
  ScopedTransportOverride& operator=(const ScopedTransportOverride&) = delete;
  void Restore();

 private:
  std::uint32_t location_;
  std::unique_ptr<Transport> transport_;
  Transport* previous_ = nullptr;
  bool active_ = false;
};

// A transport's own state of a device in this process, kept in the
// device's record (DeviceUserHandle::TransportState) until the library
// resets it. The form that creates it is for the transport's writers; the
// other gives null while there is none (readers take their defaults).
template <typename State>
State* TransportStateIf(const DeviceUserHandle& user) {
  return dynamic_cast<State*>(user.TransportState.get());
}
template <typename State>
State& TransportStateOf(DeviceUserHandle& user) {
  if (State* state = TransportStateIf<State>(user)) return *state;
  auto fresh = std::make_unique<State>();
  State& ref = *fresh;
  user.TransportState = std::move(fresh);
  return ref;
}

}  // namespace zimo::corvan
