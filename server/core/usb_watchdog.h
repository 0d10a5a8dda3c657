// The USB watchdog: notices USB cards that are pulled out or plugged in
// while the server runs. Two threads: the plug-in watcher counts the USB
// card names that open ("\\.\ZimoUSB0" to 7) every 100 ms and signals the
// plug-in event when the count grows; the worker keeps one removal event
// per USB card registered with the driver and waits for a removal, a
// plug-in or the stop. A removal closes that card for every user, waits
// (bounded) until its name is gone and runs the server's card-open pass; a
// plug-in runs the card-open pass.
//
// The USB driver sets no removal event itself, so the worker also looks at
// the names every 100 ms: an armed card whose name no longer opens counts as
// removed, and a name that appeared since the last look without being
// armed as plugged in (a card pulled and put back between two counts of the
// plug-in watcher). Its diagnostics go to the debug channel.
#pragma once

#include <atomic>
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
inline constexpr int kRemovalVanishPolls = 100;  // of 100 ms each

class UsbWatchdog {
 public:
  struct Hooks {
    // The server's card-open pass.
    std::function<void()> reopen_cards;
    // Closes device `device` for every user and forgets that the server
    // holds it.
    std::function<void(int device)> close_removed;
  };
  explicit UsbWatchdog(Hooks hooks);
  // Stops both threads.
  ~UsbWatchdog();
  UsbWatchdog(const UsbWatchdog&) = delete;
  UsbWatchdog& operator=(const UsbWatchdog&) = delete;

  // Starts the plug-in watcher, then the worker; false when either could
  // not start (the server's start then fails).
  bool Init();
  // Asks both threads to end and waits for them; false only when called on
  // the worker's own thread.
  bool Stop();

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
  };

  bool StartWatcher();
  void WatcherThread();
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

  Hooks hooks_;
  // Set to ask the threads to end; wakes the worker's wait and both pauses.
  std::optional<platform::NamedEvent> stop_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> watcher_quit_{false};
  std::thread worker_;
  std::thread watcher_;
  std::thread::id worker_id_;
  // Created by the watcher thread; the worker waits on it.
  std::optional<platform::NamedEvent> plug_in_;
  mutable std::mutex armed_mu_;
  std::optional<Armed> armed_[kUsbEnumerations];
  std::atomic<int> removals_{0};
  bool removed_while_arming_ = false;  // the worker's own
  uint32_t present_ = 0;               // names present at the worker's last look
  std::atomic<uint32_t> seen_{0};      // names that opened at the watcher's last count
};

}  // namespace zimo::server
