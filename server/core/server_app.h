// ZimoServer's application: its start-up in the order of its steps, the
// run (serving calls until the last client has been gone for the quiet
// time, or a termination signal), and its shutdown.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "automation/local_server.h"
#include "automation/server_lifetime.h"
#include "core/card_opens.h"
#include "core/card_threads.h"
#include "core/command_line.h"
#include "core/object_releases.h"
#include "core/shared_table_creation.h"
#include "core/usb_watchdog.h"
#include "platform/file_mapping.h"
#include "platform/named_mutex.h"

namespace zimo::server {

inline constexpr char kInstanceMutexName[] = "ZimoServer Mutex";
inline constexpr char kSocketName[] = "ZimoServer";
// How long a card-open pass waits for its cards' opens (a serial card's
// open takes about a second; one that does not answer waits out its
// time-outs first).
inline constexpr std::chrono::milliseconds kCardOpenWait{10000};

// The process's exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // start-up or registration failed

class ServerApp {
 public:
  ServerApp();
  ~ServerApp();

  // The whole program: returns the exit code.
  int Main(int argc, const char* const* argv);

 private:
  int Register(Switch how);
  bool InitInstance(Switch how);
  int ExitInstance();
  void RegisterClassObjects();
  // Opens every configured card for the server itself (a card it held is
  // closed and opened again); a card that does not open stays unmarked,
  // one newly opened gets its DPR settings (and mirror). Run at start and
  // by the USB watchdog, one pass at a time. Each open runs on a thread of
  // its own and the pass waits for it at most kCardOpenWait: a card still
  // opening then is left out, and taken up when its open ends
  // (TakeLateOpens).
  void ReopenCards();
  // The outcome of the server's own open of a card it held (`held`) or not.
  void SettleCard(int device, bool opened, bool held);
  // Takes up the opens that ended after their pass had gone on.
  void TakeLateOpens();
  // A removed USB card: closed for every user, no longer the server's.
  void CloseRemovedCard(int device);
  // Each card's bridge and mirror stopped, then the card closed when the
  // server opened it.
  void CloseServerCards();

  bool run_flag_ = false;
  bool another_instance_ = false;  // InitInstance met a running server
  std::optional<platform::NamedMutex> instance_;
  // Declared before the server, so that the server (and the objects its
  // connections hold) goes first.
  std::unique_ptr<automation::ServerLifetime> lifetime_;
  automation::LocalServer server_;
  // The objects whose last reference went on another thread, destroyed on
  // this one (made at the start, on the serving thread).
  std::shared_ptr<ObjectReleases> releases_;
  ServerCardState cards_[kServerCards];
  std::mutex reopen_mu_;  // one card-open pass at a time
  CardOpens opens_;
  std::jthread late_opens_;  // runs TakeLateOpens as opens end
  CardThreads card_threads_{cards_};
  std::unique_ptr<UsbWatchdog> watchdog_;
  std::optional<platform::FileMapping> table_;
};

}  // namespace zimo::server
