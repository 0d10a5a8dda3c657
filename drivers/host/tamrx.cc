#include "host/tamrx.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "kernel/ntstatus.h"
#include "platform/device_io.h"

namespace zimo::drivers::host {
namespace {

namespace wire = platform::device_io_wire;

std::optional<int> Number(const std::string& word) {
  if (word.empty() || word.size() > 2) return std::nullopt;
  int n = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool ParseHex(const std::string& text, uint8_t* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1) return false;
    if (!std::isxdigit(static_cast<unsigned char>(text[2 * i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[2 * i + 1]))) {
      return false;
    }
    out[i] = static_cast<uint8_t>(value);
  }
  return true;
}

}  // namespace

TamrxDevices::~TamrxDevices() {
  std::map<int, std::unique_ptr<Device>> devices;
  {
    std::lock_guard lock(mu_);
    devices.swap(devices_);
  }
  for (auto& [n, device] : devices) Shutdown(*device);
}

std::optional<std::string> TamrxDevices::Control(const std::vector<std::string>& words) {
  if (words.empty() || words[0] != "tamrx") return std::nullopt;
  if (words.size() < 3) return "error usage: tamrx add|remove|set|get <n> ...";
  const std::optional<int> n = Number(words[2]);
  if (!n) return "error bad device number " + words[2];
  const std::string& verb = words[1];
  std::unique_lock lock(mu_);
  auto it = devices_.find(*n);
  if (verb == "add") {
    if (it != devices_.end()) return "error TAMRX" + words[2] + " exists";
    auto listening =
        platform::UnixListener::Listen(platform::DeviceSocketPath("TAMRX" + std::to_string(*n)));
    if (!listening.ok()) return "error " + listening.status().ToString();
    auto device = std::make_unique<Device>();
    device->listener = std::move(*listening);
    Device* raw = device.get();
    devices_[*n] = std::move(device);
    raw->accept = std::thread([raw] { Accept(raw); });
    return "ok";
  }
  if (it == devices_.end()) return "error no TAMRX" + words[2];
  Device& device = *it->second;
  if (verb == "remove") {
    std::unique_ptr<Device> gone = std::move(it->second);
    devices_.erase(it);
    lock.unlock();
    Shutdown(*gone);
    return "ok";
  }
  if (verb == "set" && words.size() == 4) {
    std::array<uint8_t, kTamrxReadSize> bytes{};
    if (!ParseHex(words[3], bytes.data(), bytes.size())) return "error want 40 hex digits";
    std::lock_guard d(device.mu);
    device.to_host = bytes;
    return "ok";
  }
  if (verb == "get") {
    std::lock_guard d(device.mu);
    std::string reply = "ok ";
    char hex[3];
    for (uint8_t b : device.from_host) {
      std::snprintf(hex, sizeof hex, "%02X", b);
      reply += hex;
    }
    return reply + " " + std::to_string(device.writes);
  }
  return "error unknown tamrx command " + verb;
}

void TamrxDevices::Accept(Device* device) {
  for (;;) {
    auto accepted = device->listener.Accept();
    if (!accepted.ok()) {
      if (accepted.status().code() == platform::Code::kClosed) return;
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->socket = std::move(*accepted);
    Connection* raw = connection.get();
    std::lock_guard lock(device->mu);
    for (auto& c : device->connections) {
      if (c->done && c->thread.joinable()) c->thread.join();
    }
    std::erase_if(device->connections, [](const auto& c) { return c->done.load(); });
    raw->thread = std::thread([device, raw] { Serve(device, raw); });
    device->connections.push_back(std::move(connection));
  }
}

void TamrxDevices::Serve(Device* device, Connection* connection) {
  platform::UnixConnection& socket = connection->socket;
  if (wire::WriteOpenReply(socket, kernel::kStatusSuccess).ok()) {
    for (;;) {
      auto request = wire::ReadRequest(socket);
      if (!request.ok()) break;
      wire::Request& r = *request;
      int32_t status = kernel::kStatusSuccess;
      std::vector<uint8_t> out;
      if (r.code == IOCTL_TAMRX_READ) {
        if (r.output.size() < kTamrxReadSize) {
          status = kernel::kStatusInvalidParameter;
        } else {
          std::lock_guard lock(device->mu);
          out.assign(device->to_host.begin(), device->to_host.end());
        }
      } else if (r.code == IOCTL_TAMRX_WRITE) {
        if (r.input.size() < kTamrxWriteSize) {
          status = kernel::kStatusInvalidParameter;
        } else {
          std::lock_guard lock(device->mu);
          std::memcpy(device->from_host.data(), r.input.data(), kTamrxWriteSize);
          ++device->writes;
        }
      } else {
        status = kernel::kStatusInvalidDeviceRequest;
      }
      if (!wire::WriteReply(socket, status, out.size(), out).ok()) break;
    }
  }
  socket.Shutdown();
  connection->done = true;
}

void TamrxDevices::Shutdown(Device& device) {
  device.listener.Interrupt();
  if (device.accept.joinable()) device.accept.join();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(device.mu);
    connections.swap(device.connections);
  }
  for (auto& c : connections) c->socket.Shutdown();
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
  }
  device.listener.Close();
}

}  // namespace zimo::drivers::host
