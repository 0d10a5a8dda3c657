// Creating objects in another process: find the class's running server
// (its class object in RunDir()), or start the program registered for the
// class (LocalServer32) with "-Embedding" and wait until its class object is
// registered. Any process can link this; calls and events then travel over
// the connection (local_server.h has the other end).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string_view>

#include "automation/dispatch.h"
#include "automation/guid.h"
#include "platform/status.h"

namespace zimo::automation {

namespace internal {
class Connection;
}

struct ActivationOptions {
  // How long to wait for a started server to register its class object.
  std::chrono::milliseconds timeout{30000};
};

// HKEY_CLASSES_ROOT\<prog_id>\CLSID, or through CurVer for a
// version-independent ProgID. CO_E_CLASSSTRING when there is none.
HRESULT ClsidFromProgId(std::string_view prog_id, Guid* clsid);

// REGDB_E_CLASSNOTREG when the class is neither running nor registered with
// a LocalServer32 command line; CO_E_SERVER_EXEC_FAILURE when the server
// could not be started or did not register the class in time.
HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out,
                       const ActivationOptions& options = {});
// By ProgID ("ZimoServer.ZimoService") or by class id in braces.
HRESULT CreateInstance(std::string_view prog_id_or_clsid, std::shared_ptr<Dispatch>* out,
                       const ActivationOptions& options = {});

// The exit code of a server this process started for an activation, once it
// has ended (Code::kTimeout while it still runs, kNotFound for a pid this
// process did not start).
platform::Result<int> WaitForStartedServer(pid_t pid, std::chrono::milliseconds timeout);

// A connection of the caller's own to a server's socket, apart from the
// connections activation shares within the process.
class ServerConnection {
 public:
  ServerConnection() = default;
  static platform::Result<ServerConnection> Open(const std::filesystem::path& socket);

  HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out);
  // Ends the connection; proxies made through it then fail with
  // RPC_E_DISCONNECTED.
  void Close();
  bool closed() const;

 private:
  std::shared_ptr<internal::Connection> connection_;
};

}  // namespace zimo::automation
