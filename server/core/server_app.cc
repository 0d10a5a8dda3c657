#include "core/server_app.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/card_registry.h"
#include "core/registration.h"
#include "core/server_ids.h"
#include "core/server_trace.h"
#include "core/zimo_device.h"
#include "core/zimo_service.h"
#include "corvan/device_api.h"
#include "download/pipeline.h"
#include "link/device_open.h"
#include "link/library_app.h"
#include "platform/message.h"
#include "platform/process.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;

// How long the shutdown waits for a threaded download to stop: the line
// in progress and the closing of the card's buffer, each bounded by the
// card's own time-outs.
constexpr std::chrono::milliseconds kDownloadStopLimit{10000};
// How long the shutdown waits for each of the USB watchdog's threads.
constexpr std::chrono::milliseconds kWatchdogStopLimit{1000};

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
  // 8. The library's process-local device records, over the server's own
  // table (the server's build never activates a server to find one).
  corvan::CommLibraryApp::UseServerTable(corvan::SharedTableAt(table_->data()));
  ServerTrace("ZimoServer: shared device table created%s",
              table_->already_existed() ? " (taken over from its users)" : "");

  // 10. The USB watchdog; the server does not run without it.
  watchdog_ = std::make_unique<UsbWatchdog>(UsbWatchdog::Hooks{
      [this] { ReopenCards(); }, [this](int device) { CloseRemovedCard(device); }});
  if (!watchdog_->Init()) {
    ServerTrace("ZimoServer: the USB watchdog did not start");
    return false;
  }

  // 11. The server's identity in the table.
  WriteServerIdentity(*table_, static_cast<uint32_t>(platform::CurrentProcessId()));

  // 12. The cards the server keeps open for itself; an open that outlasts
  // the pass's wait is taken up when it ends.
  late_opens_ = std::jthread([this](std::stop_token stop) {
    while (opens_.WaitForEnded(stop)) TakeLateOpens();
  });
  ReopenCards();
  // 13. The outside TAMRX devices, each with its bridge to its card.
  card_threads_.OpenTamrxDevices();
  return true;
}

void ServerApp::RegisterClassObjects() {
  automation::ServerLifetime* lifetime = lifetime_.get();
  releases_ = std::make_shared<ObjectReleases>(&server_);
  ObjectReleases* releases = releases_.get();
  platform::Status s = server_.RegisterClassObject(
      kClsidZimoService, [lifetime, releases](std::shared_ptr<automation::Dispatch>* out) {
        *out = releases->Make<ZimoService>(lifetime);
        return automation::S_OK;
      });
  if (!s.ok()) ServerTrace("ZimoServer: class object ZimoService: %s", s.ToString().c_str());
  s = server_.RegisterClassObject(kClsidZimoDevice,
                                  [lifetime, releases](std::shared_ptr<automation::Dispatch>* out) {
                                    *out = releases->Make<ZimoDevice>(lifetime);
                                    return automation::S_OK;
                                  });
  if (!s.ok()) ServerTrace("ZimoServer: class object ZimoDevice: %s", s.ToString().c_str());
  ServerTrace("ZimoServer: the ZimoNC class is not part of this build");
}

void ServerApp::ReopenCards() {
  std::lock_guard pass(reopen_mu_);
  for (int d = 0; d < kServerCards; ++d) {
    ServerCardState& card = cards_[d];
    // An open of an earlier pass that has ended since: what it opened is
    // the server's, and is closed and opened again below like any other.
    if (std::optional<bool> late = opens_.Take(d); late && *late) card.server_opened = true;
    if (opens_.Running(d)) {
      ServerTrace("ZimoServer: device %d is still opening, left out of this pass", d);
      continue;
    }
    const bool held = card.server_opened;
    if (held) {
      CloseZimoDevice(static_cast<uint32_t>(d));
      card.server_opened = false;
    }
    // A device without a key is not configured: it cannot open, and asking
    // the library would leave an empty key behind that then counts as one.
    if (!opens_.Start(d, [d] {
          return OpenCardKey(d, /*create=*/false) && OpenZimoDevice(static_cast<uint32_t>(d)) != 0;
        })) {
      continue;
    }
    opens_.WaitFor(d, kCardOpenWait);
    if (std::optional<bool> opened = opens_.Take(d)) {
      SettleCard(d, *opened, held);
    } else {
      ServerTrace("ZimoServer: device %d did not open within %lld ms; going on without it", d,
                  static_cast<long long>(kCardOpenWait.count()));
    }
  }
}

void ServerApp::SettleCard(int d, bool opened, bool held) {
  ServerCardState& card = cards_[d];
  card.server_opened = opened;
  if (opened != held) {
    ServerTrace("ZimoServer: device %d %s", d, opened ? "opened" : "no longer opens");
  }
  // A card that opens gets its DPR settings when it was not open before,
  // and again when its mirror has ended by itself: the pass starts it
  // anew. Cards whose settings still hold are left alone.
  if (opened && (!held || card_threads_.MirrorEndedByItself(d))) {
    card_threads_.ApplyCardDprSettings(d);
  }
}

void ServerApp::TakeLateOpens() {
  std::lock_guard pass(reopen_mu_);
  for (int d = 0; d < kServerCards; ++d) {
    if (std::optional<bool> opened = opens_.Take(d)) SettleCard(d, *opened, /*held=*/false);
  }
}

void ServerApp::CloseRemovedCard(int device) {
  if (device < 0 || device >= kServerCards) return;
  std::lock_guard pass(reopen_mu_);
  corvan::CloseDevice(device, /*force=*/true);
  cards_[device].server_opened = false;
  ServerTrace("ZimoServer: device %d removed", device);
}

void ServerApp::CloseServerCards() {
  // Opens still running get a last bounded wait; what they opened is the
  // server's to close.
  opens_.WaitForAll(kCardOpenWait);
  for (int d = 0; d < kServerCards; ++d) {
    if (std::optional<bool> opened = opens_.Take(d); opened && *opened) {
      cards_[d].server_opened = true;
    }
  }
  for (int d = 0; d < kServerCards; ++d) {
    card_threads_.StopTamrxUpdating(d);
    card_threads_.StopDprAutoUpdating(d);
    if (!cards_[d].server_opened) continue;
    CloseZimoDevice(static_cast<uint32_t>(d));
    cards_[d].server_opened = false;
  }
}

int ServerApp::ExitInstance() {
  g_signal_target = nullptr;
  // 5, first. Class objects. Objects clients still hold (a shutdown by
  // signal) go with their connections now, on this thread, while the table
  // is still there for what they close; each still counts in the lifetime
  // until then. Each gives back the device locks it took for its client,
  // so a card-open pass of the watchdog waiting for one of them ends and
  // the watchdog's stop does not wait for ever.
  server_.RevokeClassObjects();
  server_.Shutdown();
  if (releases_) releases_->Detach();
  // A threaded download still running is stopped before its card and the
  // table go (with no client connected, its reports wait for no one). The
  // objects whose last reference its worker dropped go after it, here.
  const bool download_stopped = corvan::StopThreadDownload(kDownloadStopLimit);
  if (!download_stopped) {
    ServerTrace("ZimoServer: the download did not stop within %lld ms",
                static_cast<long long>(kDownloadStopLimit.count()));
  } else if (releases_) {
    releases_->DestroyHandedOver();
  }
  // 1. NC threads are not part of this build.
  // 2. The USB watchdog: no card-open pass runs after this. Each of its
  // threads gets its limit; a card-open pass waiting for a card's lock that
  // another process holds is left behind.
  const bool watchdog_stopped = !watchdog_ || watchdog_->Stop(kWatchdogStopLimit);
  if (!watchdog_stopped) {
    ServerTrace("ZimoServer: the USB watchdog did not stop within %lld ms",
                static_cast<long long>(kWatchdogStopLimit.count()));
  }
  if (late_opens_.joinable()) {
    late_opens_.request_stop();
    late_opens_.join();
  }
  // 3. Per card its bridge and mirror, then the card; 4. the shared device
  // table, once nothing of the library uses it. A thread that would not
  // stop may still use both: they go with the process. An open that never
  // ended still uses the table: it stays mapped to the end of the process.
  const bool stopped = download_stopped && watchdog_stopped;
  if (stopped) {
    CloseServerCards();
    bool opening = false;
    for (int d = 0; d < kServerCards; ++d) opening = opening || opens_.Running(d);
    if (opening) {
      ServerTrace("ZimoServer: a card's open has not ended; its table stays mapped");
      if (table_) (void)new platform::FileMapping(std::move(*table_));
    } else if (table_) {
      corvan::App().End();
    }
    table_.reset();
  }
  // 6.
  std::this_thread::sleep_for(1000ms);
  lifetime_.reset();
  ServerTrace("ZimoServer: ended");
  if (!stopped) {
    // Returning would take the table and the watchdog away under threads
    // still running and wait for them at the program's exit.
    std::fflush(stdout);
    std::_Exit(kExitOk);
  }
  return kExitOk;
}

}  // namespace zimo::server
