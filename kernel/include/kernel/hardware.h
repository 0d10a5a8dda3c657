// The hardware-access interface: everything a driver does to its card goes
// through one table of functions, so the same driver runs against the
// simulated card (cardsim behind the driver host) or, later, a real-hardware
// backend that fills the same table.
//
// Addresses are machine-wide, as the resource list gives them: port
// addresses for port I/O, physical addresses for device memory, vectors for
// interrupt lines. Memory accesses are volatile device accesses: each goes
// out in program order, never merged, and `barrier` is a full fence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zimo::kernel {

// Called by the hardware, outside its own locks, when the line of `vector`
// rises. `cookie` is what connect_interrupt was given.
using InterruptLineHandler = void (*)(void* cookie);

struct HardwareAccess {
  void* context = nullptr;

  uint8_t (*read_port_u8)(void* context, uint64_t port) = nullptr;
  void (*write_port_u8)(void* context, uint64_t port, uint8_t value) = nullptr;

  // Whether [physical, physical + length) is device memory that can be mapped.
  bool (*memory_present)(void* context, uint64_t physical, size_t length) = nullptr;
  uint8_t (*read_memory_u8)(void* context, uint64_t physical) = nullptr;
  uint16_t (*read_memory_u16)(void* context, uint64_t physical) = nullptr;
  uint32_t (*read_memory_u32)(void* context, uint64_t physical) = nullptr;
  void (*write_memory_u8)(void* context, uint64_t physical, uint8_t value) = nullptr;
  void (*write_memory_u16)(void* context, uint64_t physical, uint16_t value) = nullptr;
  void (*write_memory_u32)(void* context, uint64_t physical, uint32_t value) = nullptr;
  void (*read_memory_block)(void* context, uint64_t physical, void* out, size_t length) = nullptr;
  void (*write_memory_block)(void* context, uint64_t physical, const void* in,
                             size_t length) = nullptr;
  void (*barrier)(void* context) = nullptr;

  // One handler per vector: the kernel chains the interrupt objects that
  // share it. False when the vector does not exist.
  bool (*connect_interrupt)(void* context, uint32_t vector, InterruptLineHandler handler,
                            void* cookie) = nullptr;
  void (*disconnect_interrupt)(void* context, uint32_t vector) = nullptr;

  // The drivers' microsecond busy-wait. A simulated backend advances the
  // simulated time instead of waiting, so time-outs are exact and fast.
  void (*stall)(void* context, uint32_t microseconds) = nullptr;
};

}  // namespace zimo::kernel
