// Devices of the card drivers, opened as "\\.\ZimoPCI0", "\\.\ZimoUSB1",
// "\\.\ZimoISA0" (names compare without regard to case), and DeviceIoControl
// on them. The drivers run in the driver host (zimo-drvhost), which serves
// one Unix socket per device in RunDir(); a request carries the code, the
// input bytes and the contents of the caller's output buffer (some codes
// read an argument there), and comes back with the completion status, the
// transfer count and the bytes the output buffer receives.
//
// Event handles do not cross processes here; their names do. A caller that
// puts event handles into a request (the interrupt events) takes them from
// EventHandleForDriver(name): every registered handle value found in the
// input (at a 4-byte boundary) travels with the request together with its
// event's name, and the driver references the event by that name.
//
// The wire format below is shared with the driver host.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/unix_socket.h"

namespace zimo::platform {

// The socket of device `name` ("ZimoPCI0", any case): RunDir()/zimopci0.dev.
std::filesystem::path DeviceSocketPath(std::string_view name);

// "\\.\ZimoPCI0", "//./ZimoPCI0" or "\DosDevices\ZimoPCI0" -> "ZimoPCI0";
// empty when `path` names no device.
std::string DeviceNameOfPath(std::string_view path);

// A handle value for the named event, to put into a request's input. The
// same name gets the same value in one process until released.
uint32_t EventHandleForDriver(std::string_view event_name);
void ReleaseEventHandleForDriver(uint32_t handle);

// The Win32 error a failed DeviceIoControl leaves for a completion status.
uint32_t Win32ErrorFromNtStatus(int32_t status);

struct IoControlResult {
  bool ok = false;              // DeviceIoControl's result: the status is not an error
  int32_t status = 0;           // the driver's completion status
  uint32_t bytes_returned = 0;  // the transfer count, as the caller's 32-bit count
  uint32_t error = 0;           // Win32 error when !ok (0 otherwise)
};

class DeviceFile {
 public:
  DeviceFile() = default;
  DeviceFile(DeviceFile&&) noexcept = default;
  DeviceFile& operator=(DeviceFile&&) noexcept = default;
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;

  // CreateFile on a device. Code::kNotFound when no such device is served,
  // Code::kClosed when the driver refused the open (its status, e.g. a
  // removal in progress, goes to *refused_status and into the message),
  // Code::kTimeout when the host did not answer within `timeout`.
  static Result<DeviceFile> Open(std::string_view path, int32_t* refused_status = nullptr,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // DeviceIoControl. `output` may be null when `output_size` is 0; what the
  // driver reports back lands there (up to `output_size` bytes). A broken
  // connection fails with kErrorGenFailure and closes the handle.
  IoControlResult DeviceIoControl(uint32_t code, const void* input, uint32_t input_size,
                                  void* output, uint32_t output_size);

  bool is_open() const { return connection_.is_open(); }
  const std::string& name() const { return name_; }
  void Close() { connection_.Close(); }

 private:
  UnixConnection connection_;
  std::string name_;
  std::vector<uint8_t> frame_;  // reused request buffer
};

// ---- Wire format (client and driver host) ------------------------------------
namespace device_io_wire {

inline constexpr uint32_t kOpenMagic = 0x305A4F49;     // "IOZ0"
inline constexpr uint32_t kRequestMagic = 0x315A4F49;  // "IOZ1"
inline constexpr uint32_t kReplyMagic = 0x325A4F49;    // "IOZ2"
inline constexpr uint32_t kMaxBuffer = 1u << 20;       // per input and per output
inline constexpr uint32_t kMaxHandles = 64;
inline constexpr uint32_t kMaxHandleName = 255;

#pragma pack(push, 1)
// Host to client right after the connection: the outcome of the open.
struct OpenReply {
  uint32_t magic;
  int32_t status;
};
// Followed by the input bytes, the output buffer's contents, and per handle
// a HandleEntry and its name's bytes.
struct RequestHeader {
  uint32_t magic;
  uint32_t code;
  uint32_t input_length;
  uint32_t output_length;
  uint32_t handle_count;
  uint32_t reserved;
};
struct HandleEntry {
  uint64_t value;
  uint32_t name_length;
};
// Followed by output_length bytes: what the caller's output buffer receives.
struct ReplyHeader {
  uint32_t magic;
  int32_t status;
  uint64_t information;
  uint32_t output_length;
  uint32_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(OpenReply) == 8);
static_assert(sizeof(RequestHeader) == 24);
static_assert(sizeof(HandleEntry) == 12);
static_assert(sizeof(ReplyHeader) == 24);

struct Request {
  uint32_t code = 0;
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;  // the caller's output buffer as it came
  std::vector<std::pair<uint64_t, std::string>> handles;
};

// Reads one request. Code::kClosed at the end of the stream; Code::kBadData
// for a frame that breaks the format (after which the stream is lost).
Result<Request> ReadRequest(UnixConnection& connection);
Status WriteReply(UnixConnection& connection, int32_t status, uint64_t information,
                  std::span<const uint8_t> output);
Status WriteOpenReply(UnixConnection& connection, int32_t status);

}  // namespace device_io_wire

}  // namespace zimo::platform
