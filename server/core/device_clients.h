// The process's client lists: per device number, the device objects that
// opened the card with Open, the most recent opener first. An object
// leaves every list when it goes (with or without Close), so no list ever
// names a released object.
#pragma once

#include <list>
#include <mutex>
#include <vector>

namespace zimo::server {

class ZimoDevice;

class DeviceClients {
 public:
  static DeviceClients& Instance();

  bool Contains(int device, const ZimoDevice* object) const;
  // Adds `object` at the head of the device's list.
  void Add(int device, ZimoDevice* object);
  // False when it was not in the list.
  bool Remove(int device, ZimoDevice* object);
  // The devices `object` was in the list of; it is in none afterwards.
  std::vector<int> RemoveEverywhere(ZimoDevice* object);
  // The most recent opener of the device, null when none.
  ZimoDevice* Head(int device) const;
  size_t size(int device) const;

 private:
  mutable std::mutex mu_;
  std::list<ZimoDevice*> lists_[8];
};

}  // namespace zimo::server
