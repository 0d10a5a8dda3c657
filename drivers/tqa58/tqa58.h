// Tqa58: the port-I/O helper driver of the older backend library. It serves
// the device "\\.\_Default" and grants user mode ranges of I/O ports, one
// access per request. A range is refused while it overlaps a range granted
// before (to another handle, or other ports to the same one) or the ports of
// a card that another driver runs.
//
// Requests (device type 0xF003, buffered; words little-endian):
//   0xF003BC0C session information: in u32 session id; out 76 bytes, words
//              {1 found, session id, 0: no range held for the session}
//   0xF003BBDC claim: in {session, 1, 0, first port, count}; out 16 bytes
//              {ok, first port, count, range number}; ok 0 when refused
//   0xF003BBE0 release: in {session, range number}
//   0xF003BBC4 port accesses: a 12-byte header {session, repeat, count} and
//              12-byte entries {range u8, op u8 (read 1/2/4, write 8/16/32
//              bytes), offset u16, value u32, host address u32}; the same
//              list comes back with the values read (repeat stays 0)
//   0xF003BBCC map memory: in {1, 0, physical address, size, 0}; out 16 bytes
//              {0, token, size, 0}: the token (the physical address) names the
//              window, the shared mapping "ZimoIsaDpr%05X" of the address
//              (at most 16384 bytes), which the caller maps itself
//   0xF003BBD0 unmap memory: in u32 token
//   0xF003BBE8 close session: in u32 session id (releases nothing: the
//              session id does not tell clients apart)
// Ranges belong to the handle that claimed them (one per client process):
// the same ports claimed again through it are shared (released by as many
// requests), and closing the handle (the client ended) gives back the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "kernel/kernel.h"

namespace zimo::drivers::tqa58 {

inline constexpr uint32_t kSessionInfo = 0xF003BC0C;
inline constexpr uint32_t kClaimRange = 0xF003BBDC;
inline constexpr uint32_t kReleaseRange = 0xF003BBE0;
inline constexpr uint32_t kPortAccess = 0xF003BBC4;
inline constexpr uint32_t kMapMemory = 0xF003BBCC;
inline constexpr uint32_t kUnmapMemory = 0xF003BBD0;
inline constexpr uint32_t kCloseSession = 0xF003BBE8;

// True when [first, first + count) touches ports another driver uses.
using PortsInUse = std::function<bool(uint64_t first, uint32_t count)>;

kernel::NTSTATUS Tqa58DriverEntry(kernel::DriverObject* driver, std::string_view registry_path);

// The host tells the driver which ports its other drivers hold.
void SetPortsInUse(kernel::DriverObject* driver, PortsInUse in_use);

}  // namespace zimo::drivers::tqa58
