// The device lock: the named mutex "MutexZimo%d" that keeps every exchange
// with a card together across all processes. Recursive for its owning
// thread, so exported functions may call each other under it.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// Takes the device's lock; 0 when taken, 0x80 when its previous owner ended
// holding it. Does nothing (0) when the device has no lock in this process.
std::uint32_t LockDevice(int device);
// Nonzero when a hold was released; 0 when there is no lock or no hold.
int ReleaseDevice(int device);

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
