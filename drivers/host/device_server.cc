#include "host/device_server.h"

#include <algorithm>
#include <cctype>

#include "platform/debug.h"
#include "platform/device_io.h"

namespace zimo::drivers::host {

namespace wire = platform::device_io_wire;

namespace {

constexpr char kLinkPrefix[] = "\\DosDevices\\";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string DeviceNameOf(const std::string& link) {
  const size_t n = sizeof(kLinkPrefix) - 1;
  if (link.size() <= n || Lower(link.substr(0, n)) != Lower(kLinkPrefix)) return {};
  return link.substr(n);
}

}  // namespace

DeviceServer::DeviceServer(kernel::Kernel& kernel) : kernel_(kernel) {}

DeviceServer::~DeviceServer() {
  if (observer_ != 0) kernel_.RemoveLinkObserver(observer_);
  std::map<std::string, std::unique_ptr<Listener>> listeners;
  {
    std::lock_guard lock(mu_);
    listeners.swap(listeners_);
  }
  for (auto& [name, listener] : listeners) Shutdown(*listener);
}

void DeviceServer::Start() {
  observer_ = kernel_.AddLinkObserver(
      [this](const std::string& link, bool created) { OnLink(link, created); });
  for (const std::string& link : kernel_.SymbolicLinks()) OnLink(link, true);
}

std::vector<std::string> DeviceServer::Served() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> names;
  for (const auto& [key, listener] : listeners_) names.push_back(DeviceNameOf(listener->link));
  return names;
}

void DeviceServer::OnLink(const std::string& link, bool created) {
  const std::string name = DeviceNameOf(link);
  if (name.empty()) return;
  const std::string key = Lower(name);
  if (created) {
    platform::Result<platform::UnixListener> listening =
        platform::UnixListener::Listen(platform::DeviceSocketPath(name));
    if (!listening.ok()) {
      platform::DebugPrintf("zimo-drvhost: cannot serve %s: %s\n", name.c_str(),
                            listening.status().ToString().c_str());
      return;
    }
    auto listener = std::make_unique<Listener>();
    listener->link = link;
    listener->listener = std::move(listening.value());
    Listener* raw = listener.get();
    {
      std::lock_guard lock(mu_);
      if (listeners_.count(key) != 0) return;
      listeners_[key] = std::move(listener);
    }
    raw->thread = std::thread([this, raw] { AcceptLoop(raw); });
    return;
  }
  std::unique_ptr<Listener> gone;
  {
    std::lock_guard lock(mu_);
    auto it = listeners_.find(key);
    if (it == listeners_.end()) return;
    gone = std::move(it->second);
    listeners_.erase(it);
  }
  Shutdown(*gone);
}

void DeviceServer::Shutdown(Listener& listener) {
  listener.listener.Interrupt();
  if (listener.thread.joinable()) listener.thread.join();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(listener.mu);
    connections.swap(listener.connections);
  }
  for (auto& c : connections) c->connection.Shutdown();
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
  }
  listener.listener.Close();
}

void DeviceServer::AcceptLoop(Listener* listener) {
  for (;;) {
    platform::Result<platform::UnixConnection> accepted = listener->listener.Accept();
    if (!accepted.ok()) {
      if (accepted.status().code() == platform::Code::kClosed) return;
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->connection = std::move(accepted.value());
    Connection* raw = connection.get();
    std::lock_guard lock(listener->mu);
    // Connections that have ended are joined here, so they do not pile up.
    for (auto& c : listener->connections) {
      if (c->done && c->thread.joinable()) c->thread.join();
    }
    std::erase_if(listener->connections, [](const auto& c) { return c->done.load(); });
    raw->thread = std::thread([this, listener, raw] { Serve(listener, raw); });
    listener->connections.push_back(std::move(connection));
  }
}

void DeviceServer::Serve(Listener* listener, Connection* connection) {
  platform::UnixConnection& socket = connection->connection;
  std::shared_ptr<kernel::FileObject> file;
  const kernel::NTSTATUS opened = kernel_.OpenFile(listener->link, &file);
  if (!wire::WriteOpenReply(socket, opened).ok() || !kernel::NtSuccess(opened)) {
    if (file) kernel_.CloseFile(file);
    socket.Shutdown();
    connection->done = true;
    return;
  }
  kernel::HandleNames handles;
  for (;;) {
    platform::Result<wire::Request> request = wire::ReadRequest(socket);
    if (!request.ok()) {
      if (request.status().code() == platform::Code::kBadData) {
        (void)wire::WriteReply(socket, kernel::kStatusInvalidParameter, 0, {});
      }
      break;
    }
    wire::Request& r = request.value();
    handles.clear();
    for (auto& [value, name] : r.handles) handles[value] = std::move(name);
    const kernel::DeviceIoResult result =
        kernel_.DeviceIoControl(*file, r.code, r.input, r.output, &handles);
    // What the caller's output buffer receives: for buffered codes the
    // transfer count's worth (nothing after an error); direct codes wrote it.
    size_t back = 0;
    if (!kernel::NtError(result.status)) {
      back = (r.code & 3u) == 0 ? static_cast<size_t>(std::min<uint64_t>(result.information,
                                                                         r.output.size()))
                                : r.output.size();
    }
    if (!wire::WriteReply(socket, result.status, result.information,
                          std::span<const uint8_t>(r.output.data(), back))
             .ok()) {
      break;
    }
  }
  kernel_.CloseFile(file);
  // Only shut down: the descriptor stays ours until the thread is joined,
  // so a concurrent Shutdown() never reaches a reused descriptor.
  socket.Shutdown();
  connection->done = true;
}

}  // namespace zimo::drivers::host
