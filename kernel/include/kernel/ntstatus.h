// Completion statuses of requests (32-bit, negative on failure), with the
// values user mode knows them by.
#pragma once

#include <cstdint>

namespace zimo::kernel {

using NTSTATUS = int32_t;

constexpr NTSTATUS MakeStatus(uint32_t value) { return static_cast<NTSTATUS>(value); }

inline constexpr NTSTATUS kStatusSuccess = 0;
inline constexpr NTSTATUS kStatusPending = 0x103;
inline constexpr NTSTATUS kStatusMoreProcessingRequired = MakeStatus(0xC0000016);
inline constexpr NTSTATUS kStatusUnsuccessful = MakeStatus(0xC0000001);
inline constexpr NTSTATUS kStatusNotImplemented = MakeStatus(0xC0000002);
inline constexpr NTSTATUS kStatusInvalidHandle = MakeStatus(0xC0000008);
inline constexpr NTSTATUS kStatusInvalidParameter = MakeStatus(0xC000000D);
inline constexpr NTSTATUS kStatusNoSuchDevice = MakeStatus(0xC000000E);
inline constexpr NTSTATUS kStatusInvalidDeviceRequest = MakeStatus(0xC0000010);
inline constexpr NTSTATUS kStatusObjectTypeMismatch = MakeStatus(0xC0000024);
inline constexpr NTSTATUS kStatusObjectNameInvalid = MakeStatus(0xC0000033);
inline constexpr NTSTATUS kStatusObjectNameNotFound = MakeStatus(0xC0000034);
inline constexpr NTSTATUS kStatusObjectNameCollision = MakeStatus(0xC0000035);
inline constexpr NTSTATUS kStatusDeletePending = MakeStatus(0xC0000056);
inline constexpr NTSTATUS kStatusInsufficientResources = MakeStatus(0xC000009A);
inline constexpr NTSTATUS kStatusNotSupported = MakeStatus(0xC00000BB);
inline constexpr NTSTATUS kStatusDeviceConfigurationError = MakeStatus(0xC0000182);
inline constexpr NTSTATUS kStatusDeviceRemoved = MakeStatus(0xC00002B6);

// Success and informational statuses (the top bit clear).
constexpr bool NtSuccess(NTSTATUS status) { return status >= 0; }
// Errors proper (severity 3): the I/O manager copies no output back for them.
constexpr bool NtError(NTSTATUS status) {
  return (static_cast<uint32_t>(status) >> 30) == 3;
}

}  // namespace zimo::kernel
