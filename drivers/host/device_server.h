// Serves every device link of a kernel as a Unix socket in RunDir() (see
// platform/device_io.h): a connection is an open handle, each request on it
// one DeviceIoControl. Sockets come and go with the links. A broken frame
// gets an invalid-parameter reply and ends its connection only; every other
// connection and device keeps being served.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "platform/unix_socket.h"

namespace zimo::drivers::host {

class DeviceServer {
 public:
  explicit DeviceServer(kernel::Kernel& kernel);
  // Stops listening and ends every connection (closing its handle).
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Serves the links that exist now and follows the kernel's link changes.
  void Start();

  // Device names served now ("ZimoPCI0").
  std::vector<std::string> Served() const;

 private:
  struct Connection {
    platform::UnixConnection connection;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  struct Listener {
    std::string link;
    platform::UnixListener listener;
    std::thread thread;
    std::mutex mu;
    std::vector<std::unique_ptr<Connection>> connections;
  };

  void OnLink(const std::string& link, bool created);
  void AcceptLoop(Listener* listener);
  void Serve(Listener* listener, Connection* connection);
  static void Shutdown(Listener& listener);

  kernel::Kernel& kernel_;
  int observer_ = 0;
  mutable std::mutex mu_;
  std::map<std::string, std::unique_ptr<Listener>> listeners_;  // by device name, lower-case
};

}  // namespace zimo::drivers::host
