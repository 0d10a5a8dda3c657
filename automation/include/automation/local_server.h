// A program that serves objects to other processes. It listens on a socket
// in RunDir(), makes its classes known to activation (class objects), and
// executes every call on the one thread that runs Run(); while that thread
// waits for a client (an event being delivered), it keeps executing calls.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "automation/dispatch.h"
#include "automation/guid.h"
#include "platform/status.h"
#include "platform/unix_socket.h"

namespace zimo::automation {

namespace internal {
class Apartment;
class Connection;
}  // namespace internal

// Where activation finds the server of a class: a link in RunDir() to the
// socket of the process that registered the class object.
std::filesystem::path ClassObjectPath(const Guid& clsid);

class LocalServer {
 public:
  // Makes a new object of a class; runs on the serving thread.
  using Factory = std::function<HRESULT(std::shared_ptr<Dispatch>* out)>;

  LocalServer();
  ~LocalServer();  // Shutdown()
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Listens on RunDir()/<name>.sock and starts taking connections.
  platform::Status Listen(std::string_view name);
  const std::filesystem::path& socket_path() const { return socket_path_; }

  // From now on activation of `clsid` reaches this server (multiple use:
  // every client and every request gets a new object from `factory`).
  platform::Status RegisterClassObject(const Guid& clsid, Factory factory);
  // Activation no longer finds this server; later requests to create are
  // refused with CO_E_SERVER_STOPPING.
  void RevokeClassObjects();

  // Executes calls on the calling thread until Quit().
  void Run();
  // Any thread; Run() returns after the call in progress.
  void Quit();
  // Any thread: `task` runs on the serving thread after the calls queued
  // before it, or (with false) on the thread that stops the serving when
  // that comes first. False once serving has stopped: nothing runs then.
  bool Post(std::function<void(bool run)> task);
  // After Run(): calls still coming are refused (RPC_E_SERVERCALL_REJECTED)
  // while the program winds down; connections stay open.
  void StopServing();
  // After Run(): refuses calls still coming, revokes the class objects,
  // closes every connection (their objects are released) and the socket.
  void Shutdown();

  size_t connection_count() const;

 private:
  class Classes;
  void AcceptLoop();

  std::shared_ptr<internal::Apartment> apartment_;
  std::unique_ptr<Classes> classes_;
  platform::UnixListener listener_;
  std::filesystem::path socket_path_;
  std::thread acceptor_;
  mutable std::mutex mu_;
  std::vector<std::shared_ptr<internal::Connection>> connections_;
  bool shut_down_ = false;
};

}  // namespace zimo::automation
