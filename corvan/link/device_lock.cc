#include "link/device_lock.h"

#include <memory>

#include "corvan/command_api.h"
#include "link/library_app.h"
#include "platform/debug.h"

namespace zimo::corvan {
namespace {

// What the calling thread holds of each device: the very handles it took
// (a close may drop the record's handles meanwhile; they stay alive here
// until this thread lets go) and how often it took them.
struct Hold {
  std::shared_ptr<platform::NamedMutex> device;
  std::shared_ptr<platform::NamedMutex> port;
  int depth = 0;
};

Hold& HoldOf(int device) {
  thread_local Hold holds[kDeviceSlots];
  return holds[device];
}

// 0 taken, 1 abandoned (taken), -1 failed.
int Take(platform::NamedMutex& mutex, int device) {
  platform::Status s = mutex.Lock();
  if (s.ok()) return 0;
  if (s.code() == platform::Code::kAbandoned) return 1;
  platform::DebugPrintf("MutexZimo%d: %s\n", device, s.ToString().c_str());
  return -1;
}

}  // namespace

int LinkHomeDevice(int device) {
  if (device < 0 || device >= kDeviceSlots) return device;
  DeviceUserHandle* user = App().User(device);
  if (user == nullptr || user->Transport == nullptr) return device;
  const int home = user->Transport->opener_device;
  return home >= 0 && home < kDeviceSlots ? home : device;
}

void MarkLinkUnsettled(int device) {
  const int home = LinkHomeDevice(device);
  if (!IsRealDevice(home)) return;
  if (SharedDeviceBlock* block = App().Block(home)) block->LinkUnsettled = 1;
}

std::uint32_t LockDevice(int device) {
  DeviceUserHandle* user = App().User(device);
  if (user == nullptr || device < 0 || device >= kDeviceSlots) return kWaitObject0;
  Hold& hold = HoldOf(device);
  if (hold.depth > 0) {
    ++hold.depth;
    return kWaitObject0;
  }
  std::shared_ptr<platform::NamedMutex> mutex = user->CommandMutex.Share();
  if (mutex == nullptr) return kWaitObject0;
  return LockDeviceWith(device, std::move(mutex), user->PortMutex.Share());
}

std::uint32_t LockDeviceWith(int device, std::shared_ptr<platform::NamedMutex> mutex,
                             std::shared_ptr<platform::NamedMutex> port) {
  if (device < 0 || device >= kDeviceSlots || mutex == nullptr) return kWaitFailed;
  Hold& hold = HoldOf(device);
  if (hold.depth > 0) {
    ++hold.depth;
    return kWaitObject0;
  }
  bool abandoned = false;
  if (port != nullptr) {
    const int taken = Take(*port, device);
    if (taken < 0) return kWaitFailed;
    abandoned = taken > 0;
  }
  const int taken = Take(*mutex, device);
  if (taken < 0) {
    if (port != nullptr) (void)port->Unlock();
    return kWaitFailed;
  }
  abandoned = abandoned || taken > 0;
  hold.device = std::move(mutex);
  hold.port = std::move(port);
  hold.depth = 1;
  if (!abandoned) return kWaitObject0;
  // Its last holder ended in the middle of an exchange: the answer to its
  // command may still be coming. The next exchange settles the link first.
  MarkLinkUnsettled(device);
  return kWaitAbandoned;
}

int ReleaseDevice(int device) {
  if (device < 0 || device >= kDeviceSlots) return 0;
  Hold& hold = HoldOf(device);
  if (hold.depth == 0) return 0;
  if (--hold.depth > 0) return 1;
  const bool released = hold.device->Unlock().ok();
  if (hold.port != nullptr) (void)hold.port->Unlock();
  hold.device.reset();
  hold.port.reset();
  return released ? 1 : 0;
}

bool HoldsDevice(int device) {
  return device >= 0 && device < kDeviceSlots && HoldOf(device).depth > 0;
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
