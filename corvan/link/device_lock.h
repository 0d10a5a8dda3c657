// The device lock: the named mutex "MutexZimo%d" that keeps every exchange
// with a card together across all processes. Recursive for its owning
// thread, so exported functions may call each other under it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/named_mutex.h"

namespace zimo::corvan {

// Lock order (docs/architecture.md): the home device's lock (PortMutex)
// before the device's own; a device lock before any process-wide lock of
// the library (open, handle table); no process-wide lock is held while
// waiting for a device lock.
//
// Takes the device's lock; 0 when taken, 0x80 when its previous owner ended
// holding it (the link is then marked unsettled: MarkLinkUnsettled). Does
// nothing (0) when the device has no lock in this process. The thread keeps
// the handles it took until its last release, so a close by another thread
// meanwhile never strands the lock.
std::uint32_t LockDevice(int device);
// As LockDevice with the handles given (the open, before the record has
// them). 0xFFFFFFFF without a handle.
std::uint32_t LockDeviceWith(int device, std::shared_ptr<platform::NamedMutex> mutex,
                             std::shared_ptr<platform::NamedMutex> port);
// Nonzero when a hold was released; 0 when the calling thread holds none.
int ReleaseDevice(int device);
// Whether the calling thread holds the device's lock.
bool HoldsDevice(int device);

// The device whose shared block keeps the link's state (the lowest device
// number on the same Location and Enumeration); `device` itself when it is
// not open here.
int LinkHomeDevice(int device);
// Marks the device's link unsettled: its next exchange first clears what
// the card may still send (the link's LinkUnsettled flag).
void MarkLinkUnsettled(int device);

// Holds the device's lock for a scope.
class DeviceLock {
 public:
  explicit DeviceLock(int device) : device_(device) { LockDevice(device_); }
  ~DeviceLock() { ReleaseDevice(device_); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  int device_;
};

}  // namespace zimo::corvan
