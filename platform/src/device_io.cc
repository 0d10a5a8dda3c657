#include "platform/device_io.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/home.h"
#include "platform/win_error.h"

namespace zimo::platform {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Handle values are multiples of 4 in a range of their own, so that other
// data in an input rarely looks like one (and an accidental match only adds
// a name the driver never asks for).
constexpr uint32_t kHandleBase = 0x7A1C0000;

struct HandleTable {
  std::mutex mu;
  std::map<uint32_t, std::string> names;  // value -> event name
  std::map<std::string, uint32_t> values;
  uint32_t next = 1;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

constexpr int32_t kStatusSuccess = 0;

bool IsError(int32_t status) { return (static_cast<uint32_t>(status) >> 30) == 3; }

Status Broken(const char* what) { return Status(Code::kBadData, what); }

}  // namespace

std::filesystem::path DeviceSocketPath(std::string_view name) {
  return RunDir() / (Lower(name) + ".dev");
}

std::string DeviceNameOfPath(std::string_view path) {
  for (std::string_view prefix : {"\\\\.\\", "//./", "\\DosDevices\\", "\\??\\"}) {
    if (path.size() > prefix.size() && Lower(path.substr(0, prefix.size())) == Lower(prefix)) {
      std::string_view name = path.substr(prefix.size());
      if (name.find_first_of("\\/") != std::string_view::npos) return {};
      return std::string(name);
    }
  }
  return {};
}

uint32_t EventHandleForDriver(std::string_view event_name) {
  HandleTable& t = Handles();
  std::lock_guard lock(t.mu);
  std::string name(event_name);
  auto it = t.values.find(name);
  if (it != t.values.end()) return it->second;
  const uint32_t value = kHandleBase + 4 * t.next++;
  t.values[name] = value;
  t.names[value] = name;
  return value;
}

void ReleaseEventHandleForDriver(uint32_t handle) {
  HandleTable& t = Handles();
  std::lock_guard lock(t.mu);
  auto it = t.names.find(handle);
  if (it == t.names.end()) return;
  t.values.erase(it->second);
  t.names.erase(it);
}

uint32_t Win32ErrorFromNtStatus(int32_t status) {
  switch (static_cast<uint32_t>(status)) {
    case 0x00000000: return win32::kErrorSuccess;
    case 0xC0000010: return win32::kErrorInvalidFunction;    // invalid device request
    case 0xC000000D: return win32::kErrorInvalidParameter;   // invalid parameter
    case 0xC0000008: return win32::kErrorInvalidHandle;      // invalid handle
    case 0xC0000024: return win32::kErrorInvalidHandle;      // object type mismatch
    case 0xC0000034: return win32::kErrorFileNotFound;       // object name not found
    case 0xC000000E: return win32::kErrorFileNotFound;       // no such device
    case 0xC0000056: return win32::kErrorAccessDenied;       // delete pending
    case 0xC000009A: return win32::kErrorNoSystemResources;  // insufficient resources
    case 0xC00000BB: return win32::kErrorNotSupported;       // not supported
    case 0xC0000182: return win32::kErrorIoDevice;           // device configuration error
    default: return win32::kErrorGenFailure;
  }
}

// ---- Client ---------------------------------------------------------------------

Result<DeviceFile> DeviceFile::Open(std::string_view path, int32_t* refused_status,
                                    std::chrono::milliseconds timeout) {
  if (refused_status != nullptr) *refused_status = 0;
  const std::string name = DeviceNameOfPath(path);
  if (name.empty()) {
    return Status(Code::kNotFound, "not a device path: " + std::string(path));
  }
  Result<UnixConnection> connected = UnixConnection::Connect(DeviceSocketPath(name), timeout);
  if (!connected.ok()) {
    const Status& s = connected.status();
    if (s.code() == Code::kNotFound || s.code() == Code::kClosed) {
      return Status(Code::kNotFound, "no device " + name + " is served");
    }
    return s;
  }
  DeviceFile file;
  file.connection_ = std::move(connected.value());
  file.name_ = name;
  device_io_wire::OpenReply reply{};
  Status got = file.connection_.RecvExact(&reply, sizeof(reply), timeout);
  if (!got.ok()) {
    if (got.code() == Code::kTimeout) return got;
    return Status(Code::kNotFound, "device " + name + " went away during the open");
  }
  if (reply.magic != device_io_wire::kOpenMagic) return Broken("device host sent no open reply");
  if (reply.status != kStatusSuccess) {
    char text[96];
    std::snprintf(text, sizeof(text), "device %s refused the open: status 0x%08X", name.c_str(),
                  static_cast<uint32_t>(reply.status));
    if (refused_status != nullptr) *refused_status = reply.status;
    return Status(Code::kClosed, text);
  }
  return file;
}

IoControlResult DeviceFile::DeviceIoControl(uint32_t code, const void* input, uint32_t input_size,
                                            void* output, uint32_t output_size) {
  IoControlResult result;
  auto fail = [&](uint32_t error) {
    result.ok = false;
    result.error = error;
    return result;
  };
  if (!connection_.is_open()) return fail(win32::kErrorInvalidHandle);
  if ((input_size > 0 && input == nullptr) || (output_size > 0 && output == nullptr) ||
      input_size > device_io_wire::kMaxBuffer || output_size > device_io_wire::kMaxBuffer) {
    return fail(win32::kErrorInvalidParameter);
  }
  const auto* in = static_cast<const uint8_t*>(input);

  // The names of the registered event handles the input carries.
  std::vector<std::pair<uint32_t, std::string>> handles;
  {
    HandleTable& t = Handles();
    std::lock_guard lock(t.mu);
    if (!t.names.empty()) {
      for (uint32_t at = 0; at + 4 <= input_size; at += 4) {
        uint32_t v;
        std::memcpy(&v, in + at, 4);
        auto it = t.names.find(v);
        if (it != t.names.end() && handles.size() < device_io_wire::kMaxHandles &&
            it->second.size() <= device_io_wire::kMaxHandleName &&
            std::none_of(handles.begin(), handles.end(), [v](auto& h) { return h.first == v; })) {
          handles.emplace_back(v, it->second);
        }
      }
    }
  }

  device_io_wire::RequestHeader header{device_io_wire::kRequestMagic, code, input_size,
                                       output_size, static_cast<uint32_t>(handles.size()), 0};
  frame_.clear();
  auto append = [this](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    frame_.insert(frame_.end(), b, b + n);
  };
  append(&header, sizeof(header));
  if (input_size > 0) append(in, input_size);
  if (output_size > 0) append(output, output_size);
  for (const auto& [value, event_name] : handles) {
    device_io_wire::HandleEntry entry{value, static_cast<uint32_t>(event_name.size())};
    append(&entry, sizeof(entry));
    append(event_name.data(), event_name.size());
  }
  if (!connection_.SendAll(frame_.data(), frame_.size()).ok()) {
    connection_.Close();
    return fail(win32::kErrorGenFailure);
  }

  device_io_wire::ReplyHeader reply{};
  if (!connection_.RecvExact(&reply, sizeof(reply)).ok() ||
      reply.magic != device_io_wire::kReplyMagic || reply.output_length > output_size) {
    connection_.Close();
    return fail(win32::kErrorGenFailure);
  }
  if (reply.output_length > 0 &&
      !connection_.RecvExact(output, reply.output_length).ok()) {
    connection_.Close();
    return fail(win32::kErrorGenFailure);
  }
  result.status = reply.status;
  result.bytes_returned = static_cast<uint32_t>(reply.information);
  result.ok = !IsError(reply.status);
  result.error = result.ok ? 0 : Win32ErrorFromNtStatus(reply.status);
  return result;
}

// ---- Host side --------------------------------------------------------------------

namespace device_io_wire {

Result<Request> ReadRequest(UnixConnection& connection) {
  RequestHeader header{};
  if (Status s = connection.RecvExact(&header, sizeof(header)); !s.ok()) return s;
  if (header.magic != kRequestMagic) return Broken("request frame without its magic");
  if (header.input_length > kMaxBuffer || header.output_length > kMaxBuffer ||
      header.handle_count > kMaxHandles) {
    return Broken("request frame too large");
  }
  Request request;
  request.code = header.code;
  request.input.resize(header.input_length);
  request.output.resize(header.output_length);
  if (header.input_length > 0) {
    if (Status s = connection.RecvExact(request.input.data(), header.input_length); !s.ok()) {
      return s;
    }
  }
  if (header.output_length > 0) {
    if (Status s = connection.RecvExact(request.output.data(), header.output_length); !s.ok()) {
      return s;
    }
  }
  for (uint32_t i = 0; i < header.handle_count; ++i) {
    HandleEntry entry{};
    if (Status s = connection.RecvExact(&entry, sizeof(entry)); !s.ok()) return s;
    if (entry.name_length == 0 || entry.name_length > kMaxHandleName) {
      return Broken("request frame with a bad handle name");
    }
    std::string name(entry.name_length, '\0');
    if (Status s = connection.RecvExact(name.data(), name.size()); !s.ok()) return s;
    request.handles.emplace_back(entry.value, std::move(name));
  }
  return request;
}

Status WriteReply(UnixConnection& connection, int32_t status, uint64_t information,
                  std::span<const uint8_t> output) {
  ReplyHeader header{kReplyMagic, status, information, static_cast<uint32_t>(output.size()), 0};
  if (output.empty()) return connection.SendAll(&header, sizeof(header));
  std::vector<uint8_t> frame(sizeof(header) + output.size());
  std::memcpy(frame.data(), &header, sizeof(header));
  std::memcpy(frame.data() + sizeof(header), output.data(), output.size());
  return connection.SendAll(frame.data(), frame.size());
}

Status WriteOpenReply(UnixConnection& connection, int32_t status) {
  OpenReply reply{kOpenMagic, status};
  return connection.SendAll(&reply, sizeof(reply));
}

}  // namespace device_io_wire

}  // namespace zimo::platform
