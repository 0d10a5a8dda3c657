#include "kernel/resources.h"

namespace zimo::kernel {

ResourceDescriptor ResourceDescriptor::Port(uint64_t start, uint32_t length, uint16_t flags) {
  ResourceDescriptor d;
  d.type = ResourceType::kPort;
  d.flags = flags;
  d.start = start;
  d.length = length;
  return d;
}

ResourceDescriptor ResourceDescriptor::Memory(uint64_t start, uint32_t length) {
  ResourceDescriptor d;
  d.type = ResourceType::kMemory;
  d.start = start;
  d.length = length;
  return d;
}

ResourceDescriptor ResourceDescriptor::Interrupt(uint32_t level, uint32_t vector,
                                                 uint64_t affinity, uint16_t flags,
                                                 uint8_t share) {
  ResourceDescriptor d;
  d.type = ResourceType::kInterrupt;
  d.flags = flags;
  d.share_disposition = share;
  d.level = level;
  d.vector = vector;
  d.affinity = affinity;
  return d;
}

ResourceDescriptor ResourceDescriptor::DevicePrivate() {
  ResourceDescriptor d;
  d.type = ResourceType::kDevicePrivate;
  return d;
}

}  // namespace zimo::kernel
