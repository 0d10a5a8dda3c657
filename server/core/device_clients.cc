#include "core/device_clients.h"

#include <algorithm>

namespace zimo::server {

DeviceClients& DeviceClients::Instance() {
  static DeviceClients clients;
  return clients;
}

bool DeviceClients::Contains(int device, const ZimoDevice* object) const {
  if (device < 0 || device > 7) return false;
  std::lock_guard lock(mu_);
  const auto& l = lists_[device];
  return std::find(l.begin(), l.end(), object) != l.end();
}

void DeviceClients::Add(int device, ZimoDevice* object) {
  if (device < 0 || device > 7) return;
  std::lock_guard lock(mu_);
  lists_[device].push_front(object);
}

bool DeviceClients::Remove(int device, ZimoDevice* object) {
  if (device < 0 || device > 7) return false;
  std::lock_guard lock(mu_);
  auto& l = lists_[device];
  auto it = std::find(l.begin(), l.end(), object);
  if (it == l.end()) return false;
  l.erase(it);
  return true;
}

std::vector<int> DeviceClients::RemoveEverywhere(ZimoDevice* object) {
  std::vector<int> devices;
  std::lock_guard lock(mu_);
  for (int d = 0; d < 8; ++d) {
    const size_t before = lists_[d].size();
    lists_[d].remove(object);
    if (lists_[d].size() != before) devices.push_back(d);
  }
  return devices;
}

ZimoDevice* DeviceClients::Head(int device) const {
  if (device < 0 || device > 7) return nullptr;
  std::lock_guard lock(mu_);
  return lists_[device].empty() ? nullptr : lists_[device].front();
}

size_t DeviceClients::size(int device) const {
  if (device < 0 || device > 7) return 0;
  std::lock_guard lock(mu_);
  return lists_[device].size();
}

}  // namespace zimo::server
