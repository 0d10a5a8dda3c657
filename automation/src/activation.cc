#include "automation/activation.h"

#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "apartment.h"
#include "automation/local_server.h"
#include "connection.h"
#include "platform/debug.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace zimo::automation {
namespace {

using Clock = std::chrono::steady_clock;

// A server started by one activation gets this many tries: a start can fail
// because the previous instance is still on its way out.
constexpr int kMaxStarts = 10;
constexpr std::chrono::milliseconds kPoll{10};
constexpr std::chrono::milliseconds kRestartBackoff{200};
constexpr std::chrono::milliseconds kConnectTimeout{2000};

// What a client process shares: the apartment its sinks run in (a thread of
// its own), the connections to servers by socket, and the servers it
// started. Never destroyed: proxies may outlive every static object.
struct Runtime {
  std::shared_ptr<internal::Apartment> apartment = std::make_shared<internal::Apartment>();
  std::mutex mu;
  std::map<std::filesystem::path, std::shared_ptr<internal::Connection>> connections;
  std::list<platform::Process> started;

  Runtime() {
    std::thread([a = apartment] { a->Run(); }).detach();
  }

  static Runtime& Get() {
    static Runtime* runtime = new Runtime();
    return *runtime;
  }

  // A live shared connection to `socket`, opening one when needed.
  platform::Result<std::shared_ptr<internal::Connection>> ConnectionTo(
      const std::filesystem::path& socket) {
    std::lock_guard lock(mu);
    auto it = connections.find(socket);
    if (it != connections.end() && !it->second->closed()) return it->second;
    auto conn = platform::UnixConnection::Connect(socket, kConnectTimeout);
    if (!conn.ok()) return conn.status();
    auto c = internal::Connection::Start(std::move(*conn), apartment, nullptr);
    connections[socket] = c;
    return c;
  }
};

enum class Attempt {
  kDone,      // created, or failed for good
  kNoServer,  // nobody serves the class: a server may be started
  kWait,      // a server answers but is not ready (starting or stopping)
};

Attempt TryCreate(const Guid& clsid, std::shared_ptr<Dispatch>* out, HRESULT* hr) {
  std::error_code ec;
  std::filesystem::path target = std::filesystem::read_symlink(ClassObjectPath(clsid), ec);
  if (ec) return Attempt::kNoServer;
  std::filesystem::path socket = platform::RunDir() / target;
  auto conn = Runtime::Get().ConnectionTo(socket);
  if (!conn.ok()) return Attempt::kNoServer;  // a link a dead server left
  *hr = (*conn)->CreateInstance(clsid, out);
  if (*hr == CO_E_SERVER_STOPPING || *hr == RPC_E_DISCONNECTED) return Attempt::kNoServer;
  if (*hr == REGDB_E_CLASSNOTREG) return Attempt::kWait;  // listening, classes not yet there
  return Attempt::kDone;
}

HRESULT LocalServerCommand(const Guid& clsid, std::string* command) {
  auto key = platform::RegistryKey::Open(platform::kHkeyClassesRoot,
                                         "CLSID\\" + clsid.ToString() + "\\LocalServer32",
                                         platform::kKeyRead);
  if (!key.ok()) {
    return key.status().code() == platform::Code::kNotFound ? REGDB_E_CLASSNOTREG
                                                            : REGDB_E_READREGDB;
  }
  auto value = key->GetString("");
  if (!value.ok() || value->empty()) return REGDB_E_CLASSNOTREG;
  *command = *value;
  return S_OK;
}

}  // namespace

HRESULT ClsidFromProgId(std::string_view prog_id, Guid* clsid) {
  if (clsid == nullptr) return E_POINTER;
  std::string name(prog_id);
  // A version-independent ProgID names its current version; one step only.
  for (int step = 0; step < 2 && !name.empty(); ++step) {
    auto key = platform::RegistryKey::Open(platform::kHkeyClassesRoot, name, platform::kKeyRead);
    if (!key.ok()) {
      return key.status().code() == platform::Code::kNotFound ? CO_E_CLASSSTRING
                                                              : REGDB_E_READREGDB;
    }
    auto sub = platform::RegistryKey::Open(key->handle(), "CLSID", platform::kKeyRead);
    if (sub.ok()) {
      auto text = sub->GetString("");
      auto g = text.ok() ? Guid::Parse(*text) : std::nullopt;
      if (!g) return CO_E_CLASSSTRING;
      *clsid = *g;
      return S_OK;
    }
    auto cur = platform::RegistryKey::Open(key->handle(), "CurVer", platform::kKeyRead);
    auto next = cur.ok() ? cur->GetString("") : platform::Result<std::string>(cur.status());
    name = next.ok() ? *next : std::string();
  }
  return CO_E_CLASSSTRING;
}

HRESULT CreateInstance(std::string_view prog_id_or_clsid, std::shared_ptr<Dispatch>* out,
                       const ActivationOptions& options) {
  if (out == nullptr) return E_POINTER;
  Guid clsid;
  if (auto g = Guid::Parse(prog_id_or_clsid); g && prog_id_or_clsid.front() == '{') {
    clsid = *g;
  } else if (HRESULT hr = ClsidFromProgId(prog_id_or_clsid, &clsid); Failed(hr)) {
    return hr;
  }
  return CreateInstance(clsid, out, options);
}

HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out,
                       const ActivationOptions& options) {
  if (out == nullptr) return E_POINTER;
  Runtime& runtime = Runtime::Get();
  const auto deadline = Clock::now() + options.timeout;
  platform::Process* child = nullptr;
  int starts = 0;
  auto next_start = Clock::now();
  for (;;) {
    HRESULT hr = S_OK;
    Attempt a = TryCreate(clsid, out, &hr);
    if (a == Attempt::kDone) return hr;
    auto now = Clock::now();
    if (a == Attempt::kNoServer && (child == nullptr || !child->IsRunning()) && now >= next_start) {
      if (starts == kMaxStarts) break;
      std::string command;
      if (HRESULT reg = LocalServerCommand(clsid, &command); Failed(reg)) return reg;
      command += " -Embedding";
      platform::SpawnOptions spawn;
      spawn.detached = true;  // the server outlives an interrupted client
      spawn.quiet = !platform::DebugToStderr();
      auto p = platform::SpawnCommandLine(command, spawn);
      if (!p.ok()) {
        platform::DebugPrintf("automation: cannot start \"%s\": %s\n", command.c_str(),
                              p.status().ToString().c_str());
        return CO_E_SERVER_EXEC_FAILURE;
      }
      {
        std::lock_guard lock(runtime.mu);
        // Servers that ended are reaped here; their exit codes stay known.
        for (auto& s : runtime.started) s.IsRunning();
        runtime.started.push_back(std::move(*p));
        child = &runtime.started.back();
      }
      ++starts;
      next_start = now + kRestartBackoff * starts;
    }
    if (now >= deadline) break;
    std::this_thread::sleep_for(kPoll);
  }
  platform::DebugPrintf("automation: the server of %s did not register its class object\n",
                        clsid.ToString().c_str());
  return CO_E_SERVER_EXEC_FAILURE;
}

platform::Result<int> WaitForStartedServer(pid_t pid, std::chrono::milliseconds timeout) {
  Runtime& runtime = Runtime::Get();
  platform::Process* p = nullptr;
  {
    std::lock_guard lock(runtime.mu);
    for (auto& s : runtime.started) {
      if (s.pid() == pid) p = &s;
    }
  }
  if (p == nullptr) {
    return platform::Status(platform::Code::kNotFound, "no server with that pid was started here");
  }
  return p->Wait(timeout);
}

platform::Result<ServerConnection> ServerConnection::Open(const std::filesystem::path& socket) {
  auto conn = platform::UnixConnection::Connect(socket, kConnectTimeout);
  if (!conn.ok()) return conn.status();
  ServerConnection c;
  c.connection_ = internal::Connection::Start(std::move(*conn), Runtime::Get().apartment, nullptr);
  return c;
}

HRESULT ServerConnection::CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out) {
  if (out == nullptr) return E_POINTER;
  if (connection_ == nullptr) return RPC_E_DISCONNECTED;
  return connection_->CreateInstance(clsid, out);
}

void ServerConnection::Close() {
  if (connection_ != nullptr) {
    connection_->Close();
    connection_->WaitClosed();
  }
}

bool ServerConnection::closed() const { return connection_ == nullptr || connection_->closed(); }

}  // namespace zimo::automation
