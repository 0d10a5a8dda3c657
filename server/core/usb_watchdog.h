// The USB watchdog: notices USB cards that are pulled out or plugged in
// while the server runs. Two threads: the plug-in watcher counts the USB
// card names that open ("\\.\ZimoUSB0" to 7) every 100 ms and signals the
// plug-in event when the count grows; the worker keeps one removal event
// per USB card registered with the driver and waits for a removal, a
// plug-in or the stop. A removal closes that card for every user, waits
// (bounded) until its name is gone and runs the server's card-open pass; a
// plug-in runs the card-open pass.
//
// The plug-in watcher signals when a name appears that its previous look
// did not find, so a card pulled and another one plugged in between two
// looks is a plug-in although the number of cards stays the same.
//
// The USB driver sets no removal event itself, so the worker also reads the
// watcher's looks every 100 ms: an armed card whose name did not open in a
// look that began after the card was armed counts as removed (an older look
// may predate the card). A name that times out is taken as still there:
// only a name that is gone or refused counts as missing. A name that was
// not there at the worker's last look (its own arming pass or the watcher's
// look) is a plug-in, whichever of the two finds it first, so the card-open
// pass runs for it even when the arming pass arms it before any wait. Its
// diagnostics go to the debug channel.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/named_event.h"

namespace zimo::server {

// USB card names, by enumeration.
inline constexpr int kUsbEnumerations = 8;
// How long a removed card's name may linger before the worker gives up
// waiting for it (and says so).
inline constexpr std::chrono::milliseconds kRemovalVanishLimit{10000};

class UsbWatchdog {
 public:
  struct Hooks {
    // The server's card-open pass.
    std::function<void()> reopen_cards;
    // Closes device `device` for every user and forgets that the server
    // holds it.
    std::function<void(int device)> close_removed;
  };
  explicit UsbWatchdog(Hooks hooks, std::chrono::milliseconds vanish_limit = kRemovalVanishLimit);
  // Stops both threads.
  ~UsbWatchdog();
  UsbWatchdog(const UsbWatchdog&) = delete;
  UsbWatchdog& operator=(const UsbWatchdog&) = delete;

  // Starts the plug-in watcher, then the worker; false when either could
  // not start (the server's start then fails).
  bool Init();
  // Asks both threads to end and waits for each up to `limit` (without
  // one by default). False when called on the worker's own thread, or when
  // a thread did not end in time: it is then left running, and the process
  // must end before the watchdog goes.
  bool Stop(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

  // Whether the card of enumeration `enumeration` has its removal event
  // registered with the driver now.
  bool armed(int enumeration) const;
  // How many removals the worker has handled.
  int removals() const { return removals_; }

 private:
  struct Armed {
    platform::NamedEvent event;
    uint32_t driver_handle = 0;
    int device = -1;
    // The watcher's looks begun before the card was armed.
    uint64_t looks_before = 0;
  };

  bool StartWatcher();
  void WatcherThread();
  // Counts the names that open as one numbered look; the names found.
  uint32_t Look();
  void WorkerThread();
  // Registers a removal event for each USB card present that has none yet
  // (once per card, so the driver's list never grows; the stop takes them
  // off again); an armed card whose name is gone counts as removed. The
  // number of handles to wait for (the removal events and the plug-in
  // event), 0 when there is no plug-in event yet.
  int Arm();
  // 1 handled (the card-open pass follows), 0 stop.
  int WaitForUsbEvent();
  void HandleRemoval(int enumeration);
  void Forget(int enumeration);
  // Sleeps up to `ms`; false when the stop came first.
  bool PauseUnlessStopped(uint32_t ms);
  // Run by each thread as it ends.
  void Ended(bool* flag);
  // Joins `thread` once `ended` holds, waiting up to `limit`; false (the
  // thread let go) when it did not end in time.
  bool EndThread(std::thread& thread, const bool& ended, std::chrono::milliseconds limit);

  Hooks hooks_;
  const std::chrono::milliseconds vanish_limit_;
  // Set to ask the threads to end; wakes the worker's wait and both pauses.
  std::optional<platform::NamedEvent> stop_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> watcher_quit_{false};
  std::thread worker_;
  std::thread watcher_;
  // Whether each thread has ended (its last step), under end_mu_.
  std::mutex end_mu_;
  std::condition_variable end_cv_;
  bool worker_ended_ = false;
  bool watcher_ended_ = false;
  std::thread::id worker_id_;
  // Created by the watcher thread; the worker waits on it.
  std::optional<platform::NamedEvent> plug_in_;
  mutable std::mutex armed_mu_;
  std::optional<Armed> armed_[kUsbEnumerations];
  std::atomic<int> removals_{0};
  // The worker's own: a removal or a plug-in found by the arming pass.
  bool changed_while_arming_ = false;
  int arming_passes_ = 0;
  uint32_t present_ = 0;  // names present at the worker's last look
  // The watcher's looks: how many began, and the last one finished (its
  // number above the low 8 bits, the names that opened in the low 8 bits).
  std::atomic<uint64_t> looks_begun_{0};
  std::atomic<uint64_t> last_look_{0};
};

}  // namespace zimo::server
