#include "core/usb_watchdog.h"

#include <errno.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/server_trace.h"
#include "corvan/device_level_api.h"
#include "drivers/zimo_ioctl.h"
#include "platform/debug.h"
#include "platform/device_io.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLocationUsb = 5;
constexpr auto kPoll = 100ms;
constexpr auto kNameOpenTimeout = 2s;

// Process priority classes as the diagnostics number them.
constexpr int kNormalPriorityClass = 0x20;
constexpr int kHighPriorityClass = 0x80;
constexpr int kRealtimePriorityClass = 0x100;

int CurrentPriorityClass() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);
  if (nice <= -20) return kRealtimePriorityClass;
  if (nice <= -10) return kHighPriorityClass;
  return kNormalPriorityClass;
}

// The watchdog's threads are not raised above the other processes here:
// they poll the card names, which the driver host answers, and a poller
// that outranks the driver host starves the removal it waits for (seen
// with root rights on a loaded machine). The process keeps the priority
// the system gave it, and the diagnostics say so.
bool SetPriorityClass(int /*priority_class*/) { return false; }
bool RaiseThisThread() { return false; }

std::string UsbName(int enumeration) { return "\\\\.\\ZimoUSB" + std::to_string(enumeration); }

// Whether an open of a card's name shows the card gone: its name is not
// served or its device refuses the open. An open that only took too long
// (a busy driver host) shows nothing of the kind.
bool ShowsGone(const platform::Status& open) {
  return open.code() == platform::Code::kNotFound || open.code() == platform::Code::kClosed;
}

// Whether the card's name is there (no access asked; the handle is closed
// at once).
bool NameOpens(int enumeration) {
  auto card = platform::DeviceFile::Open(UsbName(enumeration), nullptr, kNameOpenTimeout);
  return card.ok() || !ShowsGone(card.status());
}

// The names that open, one bit per enumeration.
uint32_t UsbCardsPresent() {
  uint32_t present = 0;
  for (int i = 0; i < kUsbEnumerations; ++i) {
    if (NameOpens(i)) present |= 1u << i;
  }
  return present;
}

// Hands `handle` to the card's driver with `code`: true when it took it.
bool EventRequest(platform::DeviceFile& card, uint32_t code, uint32_t handle) {
  return card.DeviceIoControl(code, &handle, sizeof handle, nullptr, 0).ok;
}

}  // namespace

UsbWatchdog::UsbWatchdog(Hooks hooks, std::chrono::milliseconds vanish_limit)
    : hooks_(std::move(hooks)), vanish_limit_(vanish_limit) {}

UsbWatchdog::~UsbWatchdog() { Stop(); }

bool UsbWatchdog::StartWatcher() {
  if (watcher_.joinable()) return true;
  platform::DebugPrintf("ServiceWatchdogInitPushedIn(): Current priority class: %d\n",
                        CurrentPriorityClass());
  if (SetPriorityClass(kRealtimePriorityClass)) {
    platform::DebugPrintf("ServiceWatchdogInitPushedIn(): New priority class: %d\n",
                          CurrentPriorityClass());
  }
  auto made = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
  if (!made.ok()) return false;
  // Shared with the thread, which may still be inside its Set when the
  // starter goes on.
  auto started = std::make_shared<platform::NamedEvent>(std::move(*made));
  watcher_quit_ = true;
  {
    std::lock_guard lock(end_mu_);
    watcher_ended_ = false;
  }
  try {
    watcher_ = std::thread([this, started] {
      watcher_quit_ = false;
      // The plug-in event exists before the start is reported.
      auto plug = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
      if (plug.ok()) {
        plug_in_ = std::move(*plug);
      } else {
        watcher_quit_ = true;
      }
      (void)started->Set();
      if (!watcher_quit_) WatcherThread();
      Ended(&watcher_ended_);
    });
  } catch (const std::system_error&) {
    return false;
  }
  (void)started->Wait();
  if (watcher_quit_) {
    watcher_.join();
    return false;
  }
  return true;
}

uint32_t UsbWatchdog::Look() {
  const uint64_t look = ++looks_begun_;
  const uint32_t present = UsbCardsPresent();
  last_look_ = look << 8 | present;
  return present;
}

void UsbWatchdog::WatcherThread() {
  RaiseThisThread();
  uint32_t present = Look();
  while (!watcher_quit_) {
    if (!PauseUnlessStopped(100)) break;
    const uint32_t now = Look();
    // A name the previous look did not find: a card came, whether or not
    // another one went meanwhile.
    if ((now & ~present) != 0) (void)plug_in_->Set();
    present = now;
  }
}

bool UsbWatchdog::Init() {
  if (!stop_) {
    auto stop = platform::NamedEvent::CreateUnnamed(platform::EventReset::kManual, false);
    if (!stop.ok()) {
      platform::DebugPrintf("ServiceWatchdogInit(): Failed to get event, error:%d\n",
                            static_cast<int>(stop.status().os_error()));
      return false;
    }
    stop_ = std::move(*stop);
  }
  if (!StartWatcher()) return false;
  if (worker_.joinable()) return true;

  platform::DebugPrintf("ServiceWatchdogInit(): Current priority class: %d\n",
                        CurrentPriorityClass());
  if (SetPriorityClass(kHighPriorityClass)) {
    platform::DebugPrintf("ServiceWatchdogInit(): New priority class: %d\n",
                          CurrentPriorityClass());
  } else {
    platform::DebugPrintf("ServiceWatchdogInit(): Could not set priority\n");
  }
  auto made = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
  if (!made.ok()) {
    platform::DebugPrintf("ServiceWatchdogInit(): Failed to get event, error:%d\n",
                          static_cast<int>(made.status().os_error()));
    return false;
  }
  auto started = std::make_shared<platform::NamedEvent>(std::move(*made));
  quit_ = true;
  {
    std::lock_guard lock(end_mu_);
    worker_ended_ = false;
  }
  try {
    worker_ = std::thread([this, started] {
      quit_ = false;
      if (RaiseThisThread()) {
        platform::DebugPrintf(
            "ServiceWatchdogInit(): Watchdog thread priority set for time critical\n");
      }
      (void)started->Set();
      WorkerThread();
      Ended(&worker_ended_);
    });
  } catch (const std::system_error&) {
    platform::DebugPrintf("ServiceWatchdogInit(): Watchdog thread creation failed\n");
    return false;
  }
  worker_id_ = worker_.get_id();
  (void)started->Wait();
  if (quit_) {
    platform::DebugPrintf("ServiceWatchdogInit(): Watchdog thread init failed\n");
    worker_.join();
    platform::DebugPrintf("ServiceWatchdogInit(): Watchdog worker exited\n");
    return false;
  }
  return true;
}

void UsbWatchdog::Ended(bool* flag) {
  {
    std::lock_guard lock(end_mu_);
    *flag = true;
  }
  end_cv_.notify_all();
}

bool UsbWatchdog::EndThread(std::thread& thread, const bool& ended,
                            std::chrono::milliseconds limit) {
  if (!thread.joinable()) return true;
  {
    std::unique_lock lock(end_mu_);
    if (limit == std::chrono::milliseconds::max()) {
      end_cv_.wait(lock, [&ended] { return ended; });
    } else if (!end_cv_.wait_for(lock, limit, [&ended] { return ended; })) {
      thread.detach();
      return false;
    }
  }
  thread.join();
  return true;
}

bool UsbWatchdog::Stop(std::chrono::milliseconds limit) {
  if (worker_.joinable() && std::this_thread::get_id() == worker_id_) return false;
  quit_ = true;
  watcher_quit_ = true;
  if (stop_) (void)stop_->Set();
  // Both threads see the stop at once, wherever they wait; a card-open pass
  // of the worker may still wait for a card's lock another process holds.
  const bool worker_ended = EndThread(worker_, worker_ended_, limit);
  const bool watcher_ended = EndThread(watcher_, watcher_ended_, limit);
  if (!worker_ended || !watcher_ended) return false;
  // The cards still there let go of the server's events.
  std::lock_guard lock(armed_mu_);
  for (int i = 0; i < kUsbEnumerations; ++i) {
    if (!armed_[i]) continue;
    auto card = platform::DeviceFile::Open(UsbName(i), nullptr, kNameOpenTimeout);
    if (card.ok()) EventRequest(*card, drivers::IOCTL_ZIMO_REMOVE_EVENT, armed_[i]->driver_handle);
    platform::ReleaseEventHandleForDriver(armed_[i]->driver_handle);
    armed_[i].reset();
  }
  return true;
}

bool UsbWatchdog::PauseUnlessStopped(uint32_t ms) {
  if (!stop_) return false;
  return stop_->Wait(std::chrono::milliseconds(ms)).code() == platform::Code::kTimeout;
}

void UsbWatchdog::WorkerThread() {
  while (!quit_) {
    changed_while_arming_ = false;
    const int k = Arm();
    if (changed_while_arming_) {
      if (!quit_ && hooks_.reopen_cards) hooks_.reopen_cards();
      continue;
    }
    if (k < 1) {
      if (!PauseUnlessStopped(100)) break;
      continue;
    }
    switch (WaitForUsbEvent()) {
      case 0:
        quit_ = true;
        break;
      default:
        if (!quit_ && hooks_.reopen_cards) hooks_.reopen_cards();
        break;
    }
  }
}

void UsbWatchdog::Forget(int enumeration) {
  std::lock_guard lock(armed_mu_);
  if (armed_[enumeration])
    platform::ReleaseEventHandleForDriver(armed_[enumeration]->driver_handle);
  armed_[enumeration].reset();
}

int UsbWatchdog::Arm() {
  int n = 0;
  uint32_t opened = 0;
  // Every enumeration is tried: a card past a missing name is armed too.
  for (int i = 0; i < kUsbEnumerations; ++i) {
    auto card = platform::DeviceFile::Open(UsbName(i), nullptr, kNameOpenTimeout);
    if (!card.ok()) {
      // An armed card that went while no wait was watching it: a removal
      // all the same.
      if (ShowsGone(card.status()) && armed(i)) {
        HandleRemoval(i);
        changed_while_arming_ = true;
      }
      continue;
    }
    opened |= 1u << i;
    std::lock_guard lock(armed_mu_);
    if (armed_[i]) {
      // Registered once per card: the driver's list holds one event of
      // ours however many passes run (a card put back is a new device,
      // whose entry went with its removal).
      ++n;
      continue;
    }
    auto event = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
    if (!event.ok()) {
      platform::DebugPrintf("CreateEvent Failed\n");
      continue;
    }
    Armed entry;
    // The name opened: a look begun from now on finds it unless it goes.
    entry.looks_before = looks_begun_;
    entry.driver_handle = platform::EventHandleForDriver(event->name());
    entry.event = std::move(*event);
    armed_[i] = std::move(entry);
    if (!EventRequest(*card, drivers::IOCTL_ZIMO_ADD_EVENT, armed_[i]->driver_handle)) {
      platform::ReleaseEventHandleForDriver(armed_[i]->driver_handle);
      armed_[i].reset();
      platform::DebugPrintf("DeviceIoControl CreateEvent Failed\n");
      continue;
    }
    armed_[i]->device = MapDeviceNumToEnumAndLocation(kLocationUsb, static_cast<uint32_t>(i));
    ++n;
  }
  // A name that was not there at the last look came since: a plug-in,
  // which the card-open pass must see even when no wait saw it come.
  if (arming_passes_++ > 0 && (opened & ~present_) != 0) changed_while_arming_ = true;
  present_ = opened;
  if (!plug_in_) return 0;
  return n + 1;
}

int UsbWatchdog::WaitForUsbEvent() {
  for (;;) {
    std::vector<platform::NamedEvent*> events;
    std::vector<int> enumeration_of;
    std::vector<uint64_t> looks_before;
    {
      std::lock_guard lock(armed_mu_);
      for (int i = 0; i < kUsbEnumerations; ++i) {
        if (!armed_[i]) continue;
        events.push_back(&armed_[i]->event);
        enumeration_of.push_back(i);
        looks_before.push_back(armed_[i]->looks_before);
      }
    }
    const size_t plug_index = events.size();
    events.push_back(&*plug_in_);
    const size_t stop_index = events.size();
    events.push_back(&*stop_);
    auto signalled = platform::WaitAny(events, kPoll);
    if (quit_) return 0;
    if (signalled.ok()) {
      if (*signalled == stop_index) return 0;
      if (*signalled == plug_index) return 1;  // taken: the event is clear again
      HandleRemoval(enumeration_of[*signalled]);
      return 1;
    }
    if (signalled.status().code() != platform::Code::kTimeout) {
      ServerTrace("USB watchdog: the wait failed: %s", signalled.status().ToString().c_str());
      return 0;
    }
    // The driver sets no removal event: an armed card whose name is gone
    // was removed. The watcher's last look tells (the names are not opened
    // twice as often, which would keep a removed card's device busy), but
    // only a look begun after the card was armed: an older one may have
    // been taken before the card came.
    const uint64_t last = last_look_;
    const uint32_t present = static_cast<uint32_t>(last & 0xFF);
    for (size_t k = 0; k < enumeration_of.size(); ++k) {
      const int i = enumeration_of[k];
      if ((last >> 8) > looks_before[k] && (present & (1u << i)) == 0) {
        HandleRemoval(i);
        return 1;
      }
    }
    // A name that came since the last look and is not armed: a plug-in
    // (the watcher's event may not have come, as when the card came back
    // before the watcher saw it go).
    const uint32_t came = present & ~present_;
    present_ = present;
    for (int i = 0; i < kUsbEnumerations; ++i) {
      if ((came & (1u << i)) != 0 && !armed(i)) return 1;
    }
  }
}

void UsbWatchdog::HandleRemoval(int enumeration) {
  int device = -1;
  {
    std::lock_guard lock(armed_mu_);
    if (armed_[enumeration]) device = armed_[enumeration]->device;
  }
  Forget(enumeration);
  if (device >= 0 && hooks_.close_removed) hooks_.close_removed(device);
  ++removals_;
  // The card-open pass must not find the card still there.
  const auto give_up = std::chrono::steady_clock::now() + vanish_limit_;
  while (NameOpens(enumeration)) {
    if (std::chrono::steady_clock::now() >= give_up) {
      ServerTrace("USB watchdog: ZimoUSB%d still present %lld ms after its removal", enumeration,
                  static_cast<long long>(vanish_limit_.count()));
      return;
    }
    if (!PauseUnlessStopped(100)) return;
  }
}

bool UsbWatchdog::armed(int enumeration) const {
  if (enumeration < 0 || enumeration >= kUsbEnumerations) return false;
  std::lock_guard lock(armed_mu_);
  return armed_[enumeration].has_value();
}

}  // namespace zimo::server
