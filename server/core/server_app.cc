#include "core/server_app.h"

#include <signal.h>

#include <atomic>
#include <thread>

#include "core/registration.h"
#include "core/server_ids.h"
#include "core/server_trace.h"
#include "core/zimo_service.h"
#include "platform/message.h"
#include "platform/process.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;

// What a termination signal stops; cleared before the server goes away.
std::atomic<automation::LocalServer*> g_signal_target{nullptr};

// SIGTERM, SIGINT and SIGHUP end the server in order, as the quiet time
// does. Blocked in every thread; one thread waits for them.
void HandleTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
      if (automation::LocalServer* s = g_signal_target.load()) {
        ServerTrace("ZimoServer: signal %d, shutting down", sig);
        s->Quit();
      }
    }
  }).detach();
}

}  // namespace

ServerApp::ServerApp() = default;

ServerApp::~ServerApp() { g_signal_target = nullptr; }

int ServerApp::Main(int argc, const char* const* argv) {
  const Switch how = ScanCommandLine(JoinArguments(argc, argv));
  // Registration first: it must work (and say so) even while a server runs.
  if (how == Switch::kRegister || how == Switch::kUnregister) return Register(how);

  HandleTerminationSignals();
  if (!InitInstance(how)) {
    if (run_flag_) ExitInstance();
    // A second instance ends as a normal end: the first one serves. Any
    // other start that failed says so.
    return another_instance_ ? kExitOk : kExitFailed;
  }
  server_.Run();
  server_.StopServing();
  return ExitInstance();
}

int ServerApp::Register(Switch how) {
  platform::Status s = how == Switch::kRegister
                           ? RegisterZimoServer(platform::ExecutablePath().string())
                           : UnregisterZimoServer();
  if (!s.ok()) {
    ServerTrace("ZimoServer: %s failed: %s",
                how == Switch::kRegister ? "registration" : "unregistration", s.ToString().c_str());
    return kExitFailed;
  }
  ServerTrace("ZimoServer: %s", how == Switch::kRegister ? "registered" : "unregistered");
  return kExitOk;
}

bool ServerApp::InitInstance(Switch how) {
  // 1. One instance per machine (per home).
  auto mutex = platform::NamedMutex::Create(kInstanceMutexName, /*initially_owned=*/true);
  if (!mutex.ok()) {
    ServerTrace("ZimoServer: cannot create \"%s\": %s", kInstanceMutexName,
                mutex.status().ToString().c_str());
    return false;
  }
  if (mutex->already_existed()) {
    ServerTrace("ZimoServer: another instance is running");
    another_instance_ = true;
    return false;
  }
  instance_ = std::move(*mutex);

  // 2. The object layer: the socket clients reach the server through.
  if (platform::Status s = server_.Listen(kSocketName); !s.ok()) {
    ServerTrace("ZimoServer: %s", s.ToString().c_str());
    platform::ShowMessageBox("OLE Initialization Failed!", "ZimoServer",
                             platform::kMbOk | platform::kMbIconExclamation);
    return false;
  }

  // 4. From here on the shutdown runs whatever was started.
  run_flag_ = true;
  ServerTrace("ZimoServer: started (pid %d)%s", static_cast<int>(platform::CurrentProcessId()),
              how == Switch::kEmbedding ? " for activation" : "");

  // 5. The monitor that ends the server once the last client has gone.
  lifetime_ = std::make_unique<automation::ServerLifetime>([this] {
    ServerTrace("ZimoServer: no client for %lld ms, shutting down",
                static_cast<long long>(automation::ServerLifetime::kDefaultQuietTime.count()));
    server_.Quit();
  });
  lifetime_->Start();
  g_signal_target = &server_;

  // 6. Class objects (a failure is traced, the start goes on).
  RegisterClassObjects();

  // 9. The shared device table.
  auto table = CreateSharedDeviceTable(cards_);
  if (!table.ok()) {
    ServerTrace("ZimoServer: cannot create the shared device table: %s",
                table.status().ToString().c_str());
    return false;
  }
  table_ = std::move(*table);
  ServerTrace("ZimoServer: shared device table created%s",
              table_->already_existed() ? " (taken over from its users)" : "");

  // 10. The USB watchdog is not part of this build.
  ServerTrace("ZimoServer: no USB watchdog in this build; running without it");

  // 11. The server's identity in the table.
  WriteServerIdentity(*table_, static_cast<uint32_t>(platform::CurrentProcessId()));

  // 12, 13. Opening the cards for the server itself and the TAMRX bridges
  // are not part of this build.
  ServerTrace("ZimoServer: cards are not opened by the server in this build");
  ServerTrace("ZimoServer: no TAMRX bridges in this build");
  return true;
}

void ServerApp::RegisterClassObjects() {
  automation::ServerLifetime* lifetime = lifetime_.get();
  platform::Status s = server_.RegisterClassObject(
      kClsidZimoService, [lifetime](std::shared_ptr<automation::Dispatch>* out) {
        *out = std::make_shared<ZimoService>(lifetime);
        return automation::S_OK;
      });
  if (!s.ok()) ServerTrace("ZimoServer: class object ZimoService: %s", s.ToString().c_str());
  ServerTrace("ZimoServer: the ZimoDevice and ZimoNC classes are not part of this build");
}

int ServerApp::ExitInstance() {
  g_signal_target = nullptr;
  // 1-3. NC threads, the watchdog, bridges, mirrors and server-opened cards
  // are not part of this build: nothing to stop.
  // 4. The shared device table.
  table_.reset();
  // 5. Class objects.
  server_.RevokeClassObjects();
  // 6.
  std::this_thread::sleep_for(1000ms);
  // Objects clients still held go with their connections; each still
  // counts in the lifetime until then.
  server_.Shutdown();
  lifetime_.reset();
  ServerTrace("ZimoServer: ended");
  return kExitOk;
}

}  // namespace zimo::server
