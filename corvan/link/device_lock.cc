#include "link/device_lock.h"

#include "corvan/command_api.h"
#include "link/library_app.h"
#include "platform/debug.h"

namespace zimo::corvan {

std::uint32_t LockDevice(int device) {
  DeviceUserHandle* user = App().User(device);
  if (user == nullptr || !user->CommandMutex.valid()) return kWaitObject0;
  platform::Status s = user->CommandMutex.Lock();
  if (s.ok()) return kWaitObject0;
  if (s.code() == platform::Code::kAbandoned) return kWaitAbandoned;
  platform::DebugPrintf("MutexZimo%d: %s\n", device, s.ToString().c_str());
  return kWaitFailed;
}

int ReleaseDevice(int device) {
  DeviceUserHandle* user = App().User(device);
  if (user == nullptr || !user->CommandMutex.valid()) return 0;
  return user->CommandMutex.Unlock().ok() ? 1 : 0;
}

}  // namespace zimo::corvan

extern "C" {

std::uint32_t LockZimo(std::uint32_t device) {
  return zimo::corvan::LockDevice(zimo::corvan::IndexFromDeviceNumber(device));
}

std::int32_t ReleaseZimo(std::uint32_t device) {
  return zimo::corvan::ReleaseDevice(zimo::corvan::IndexFromDeviceNumber(device));
}

}  // extern "C"
