// The hardware resources the plug-and-play manager assigns to a device (its
// translated resource list), and the power states and capabilities that
// plug-and-play and power requests carry.
#pragma once

#include <cstdint>
#include <vector>

namespace zimo::kernel {

enum class ResourceType : uint8_t {
  kNull = 0,
  kPort = 1,
  kInterrupt = 2,
  kMemory = 3,
  kDma = 4,
  kDevicePrivate = 0x81,
};

inline constexpr uint8_t kShareDeviceExclusive = 1;
inline constexpr uint8_t kShareDriverExclusive = 2;
inline constexpr uint8_t kShareShared = 3;

// Port flags: bit 0 set means the range lies in I/O space.
inline constexpr uint16_t kPortMemory = 0;
inline constexpr uint16_t kPortIo = 1;
// Interrupt flags.
inline constexpr uint16_t kInterruptLevelSensitive = 0;
inline constexpr uint16_t kInterruptLatched = 1;

struct ResourceDescriptor {
  ResourceType type = ResourceType::kNull;
  uint8_t share_disposition = kShareDeviceExclusive;
  uint16_t flags = 0;
  // Port and memory: the range.
  uint64_t start = 0;
  uint32_t length = 0;
  // Interrupt.
  uint32_t level = 0;
  uint32_t vector = 0;
  uint64_t affinity = 0;

  static ResourceDescriptor Port(uint64_t start, uint32_t length, uint16_t flags = kPortIo);
  static ResourceDescriptor Memory(uint64_t start, uint32_t length);
  static ResourceDescriptor Interrupt(uint32_t level, uint32_t vector, uint64_t affinity,
                                      uint16_t flags, uint8_t share);
  static ResourceDescriptor DevicePrivate();
};

// The descriptors of the list's first full descriptor (the only one a PCI
// card has).
using ResourceList = std::vector<ResourceDescriptor>;

enum class SystemPowerState : uint32_t {
  kUnspecified = 0,
  kWorking = 1,
  kSleeping1 = 2,
  kSleeping2 = 3,
  kSleeping3 = 4,
  kHibernate = 5,
  kShutdown = 6,
};
inline constexpr int kSystemPowerStates = 7;

enum class DevicePowerState : uint32_t {
  kUnspecified = 0,
  kD0 = 1,
  kD1 = 2,
  kD2 = 3,
  kD3 = 4,
};

enum class PowerStateType : uint32_t { kSystem = 0, kDevice = 1 };

struct PowerState {
  SystemPowerState system = SystemPowerState::kUnspecified;
  DevicePowerState device = DevicePowerState::kUnspecified;
};

// The device's capabilities as its bus reports them (64 bytes). A request
// with version 0 asks for nothing the function driver keeps.
#pragma pack(push, 1)
struct DeviceCapabilities {
  uint16_t size = 64;
  uint16_t version = 1;
  uint32_t flags = 0;
  uint32_t address = 0xFFFFFFFF;
  uint32_t ui_number = 0xFFFFFFFF;
  DevicePowerState device_state[kSystemPowerStates] = {};
  SystemPowerState system_wake = SystemPowerState::kUnspecified;
  DevicePowerState device_wake = DevicePowerState::kUnspecified;
  uint32_t d1_latency = 0;
  uint32_t d2_latency = 0;
  uint32_t d3_latency = 0;
};
#pragma pack(pop)
static_assert(sizeof(DeviceCapabilities) == 64);

}  // namespace zimo::kernel
