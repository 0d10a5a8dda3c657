#include "link/interrupts.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "corvan/internal/library_calls.h"
#include "corvan/interrupt_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/device_registry.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "link/transport.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/device_io.h"

namespace zimo::corvan {
namespace {

constexpr int kSourceCount = 8;
constexpr int kStopEvent = 8;
constexpr int kEventCount = 9;
constexpr std::uint32_t kStartSettleMs = 500;
constexpr char kInfoText[] = "Test Data";
constexpr std::uint32_t kInfoSize = 4;

// One device's events in this process.
struct EventSet {
  std::array<platform::NamedEvent, kEventCount> events;
  std::array<std::uint32_t, kEventCount> driver_handles{};  // as handed to the driver

  ~EventSet() {
    for (std::uint32_t handle : driver_handles) {
      if (handle != 0) platform::ReleaseEventHandleForDriver(handle);
    }
  }
};

// The process's interrupt state beside the devices' records.
struct ProcessInterrupts {
  std::mutex mutex;  // guards the tables and every device's notification fields
  std::array<std::shared_ptr<EventSet>, kRealDevices> events;
  // The device number whose events each (Location, Enumeration) made.
  std::array<std::array<int, kEnumerations>, kLocationRows> owner;
  std::array<platform::NamedEvent, kRealDevices> user_events;  // ZimoINTRSetupInterruptEvent
  WindowMessageSender window_sender;

  ProcessInterrupts() {
    for (auto& row : owner) row.fill(-1);
  }
};

// Lives to the very end of the process, for the library's end at exit
// that stops the interrupts of devices still open (see the driver table).
ProcessInterrupts& State() {
  static ProcessInterrupts* const state = new ProcessInterrupts();
  return *state;
}

std::shared_ptr<EventSet> EventsOf(int device) {
  ProcessInterrupts& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.events[static_cast<std::size_t>(device)];
}

std::atomic_ref<std::uint32_t> StopFlag(DeviceUserHandle& user) {
  return std::atomic_ref<std::uint32_t>(user.Interrupts.IntrStopFlag);
}

bool IsInterruptLocation(std::uint32_t location) {
  const Transport* transport = TransportFor(location);
  return transport != nullptr && transport->HasInterrupts();
}

// A PCI card whose settings disable interrupts: it only ever gets mask 255.
bool InterruptsDisabled(int device) {
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr && block->Location == kLocationPci && block->InterruptsEnabled == 0;
}

// Time-critical scheduling where the system allows it; without the right to
// it the thread runs at normal priority, which only costs latency.
void RaiseToTimeCritical(std::thread& thread) {
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param) != 0) {
    platform::DebugOutput("Interrupt thread runs at normal priority\n");
  }
}

struct Notification {
  std::uintptr_t target = 0;
  std::uint32_t kind = 0;
  std::uint32_t parameter = 0;
  std::uint32_t mask = 0;
};

void Notify(int device, DeviceUserHandle& user, const Notification& n, std::uint32_t bit) {
  InterruptInfo* info = &user.Interrupts.IntrInfo;
  switch (n.kind) {
    case kNotifyWindowMessage: {
      WindowMessageSender sender;
      {
        std::lock_guard<std::mutex> lock(State().mutex);
        sender = State().window_sender;
      }
      if (sender) {
        sender(n.target, n.parameter, bit, 0);
      } else {
        platform::DebugPrintf("Interrupt 0x%02X of device %d: no window system for message %u\n",
                              bit, device, n.parameter);
      }
      break;
    }
    case kNotifyRunThread: {
      auto start = reinterpret_cast<ZimoIntrThreadStart>(n.target);
      if (start != nullptr) std::thread([start, info] { start(info); }).detach();
      break;
    }
    case kNotifyFunctionCall: {
      auto function = reinterpret_cast<ZimoIntrFunction>(n.target);
      if (function != nullptr) function(n.parameter, info);
      break;
    }
    case kNotifySetEvent: {
      auto* event = reinterpret_cast<platform::NamedEvent*>(n.target);
      if (event != nullptr && event->valid()) (void)event->Set();
      break;
    }
    default:
      break;
  }
}

// The waiting thread of one device in this process.
void WaitForInterrupts(int device) {
  DeviceUserHandle& user = *App().User(device);
  std::shared_ptr<EventSet> set = EventsOf(device);
  bool usable = set != nullptr;
  if (usable) {
    for (const platform::NamedEvent& e : set->events) usable = usable && e.valid();
  }
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    user.Interrupts.IntrInfo.Data = kInfoText;
    user.Interrupts.IntrInfo.Size = kInfoSize;
    user.Interrupts.IntrThreadId = static_cast<std::uint32_t>(::gettid());
  }
  // Without its events the thread cannot hear anything: it says so through
  // its stop flag, which its starter reads once the start event is set.
  StopFlag(user).store(usable ? 0 : 1);
  if (user.Interrupts.IntrStartEvent.valid()) (void)user.Interrupts.IntrStartEvent.Set();
  if (!usable) return;

  std::array<platform::NamedEvent*, kEventCount> waits{};
  for (int i = 0; i < kEventCount; ++i)
    waits[static_cast<std::size_t>(i)] = &set->events[static_cast<std::size_t>(i)];
  // The thread ends when told, and also once its event set is no longer
  // the device's: a close from inside a handler (this very thread) drops
  // the set, and the thread then ends after the handler returns.
  while (StopFlag(user).load() == 0 && EventsOf(device) == set) {
    const platform::Result<std::size_t> fired = platform::WaitAny(waits);
    if (!fired.ok() || *fired == kStopEvent) {
      StopFlag(user).store(1);
      break;
    }
    const std::uint32_t bit = 1u << *fired;
    Notification n;
    {
      std::lock_guard<std::mutex> lock(State().mutex);
      n = {user.Interrupts.NotifyTarget, user.Interrupts.NotifyKind,
           user.Interrupts.NotifyParameter, user.Interrupts.NotifyMask};
      if ((n.mask & bit) == 0) user.Interrupts.IntrInfo.Bit = bit;
    }
    if ((n.mask & bit) == 0) Notify(device, user, n, bit);
  }
}

int Dev(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  return IsRealDevice(d) ? d : -1;
}

bool SendMask(int device, std::uint32_t mask) {
  const platform::IoControlResult r =
      DriverIoctl(device, drivers::IOCTL_ZIMO_SET_INTR_MASK, &mask, sizeof mask, nullptr, 0);
  return r.ok;
}

}  // namespace

void SetWindowMessageSender(WindowMessageSender sender) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().window_sender = std::move(sender);
}

int CreateInterruptEvents(std::uint32_t location, std::uint32_t enumeration) {
  if (!IsInterruptLocation(location) || enumeration >= kEnumerations) return 0;
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\ZIMO%s%u", location == kLocationIsa ? "ISA" : "PCI",
                enumeration);
  auto driver = platform::DeviceFile::Open(path);
  if (!driver.ok()) return 1;
  int device = -1;
  if (FindDeviceByLocation(location, enumeration, &device) == 0 || !IsRealDevice(device)) {
    return 1;
  }

  auto set = std::make_shared<EventSet>();
  for (int i = 0; i < kSourceCount; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "ZIMO%d%s", device, kIntrSourceNames[i]);
    auto event = platform::NamedEvent::Create(name, platform::EventReset::kAuto, false);
    if (!event.ok()) {
      platform::DebugPrintf("Interrupt event %s: %s\n", name, event.status().ToString().c_str());
      return 0;
    }
    set->events[static_cast<std::size_t>(i)] = std::move(event.value());
  }
  auto stop = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
  if (!stop.ok()) return 0;
  set->events[kStopEvent] = std::move(stop.value());

  // The driver takes one handle per source (and a ninth slot it does not
  // read); here an event's handle is the value that carries its name.
  drivers::ZimoIntrEventSet32 handles{};
  for (int i = 0; i < kEventCount; ++i) {
    const std::uint32_t h =
        platform::EventHandleForDriver(set->events[static_cast<std::size_t>(i)].name());
    set->driver_handles[static_cast<std::size_t>(i)] = h;
    handles.handles[i] = h;
  }
  const platform::IoControlResult r = driver->DeviceIoControl(drivers::IOCTL_ZIMO_SET_INTR_EVENTS,
                                                              &handles, sizeof handles, nullptr, 0);
  driver->Close();
  if (!r.ok) {
    platform::DebugOutput("Unable to hand the interrupt events to the driver\n");
    return 0;
  }
  ProcessInterrupts& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.events[static_cast<std::size_t>(device)] = std::move(set);
  s.owner[location][enumeration] = device;
  return 1;
}

void CloseInterruptEvents(std::uint32_t location, std::uint32_t enumeration) {
  if (location >= kLocationRows || enumeration >= kEnumerations) return;
  std::shared_ptr<EventSet> set;
  ProcessInterrupts& s = State();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    const int device = std::exchange(s.owner[location][enumeration], -1);
    if (device < 0) return;
    set = std::move(s.events[static_cast<std::size_t>(device)]);
    s.user_events[static_cast<std::size_t>(device)] = platform::NamedEvent();
  }
  // The events close with the last holder of the set.
}

int EndInterruptsForClose(int d) {
  if (!IsRealDevice(d)) return 0;
  DeviceUserHandle& user = *App().User(d);
  if (user.Interrupts.IntrThread.joinable() &&
      user.Interrupts.IntrThread.get_id() == std::this_thread::get_id()) {
    // A handler closes its own device: the waiting thread cannot join
    // itself. It is let go and ends after the handler returns (its event set
    // goes with the close), so a later start gets a thread of its own and a
    // later Terminate or close joins only that one.
    StopFlag(user).store(1);
    user.Interrupts.IntrThread.detach();
    user.Interrupts.IntrThread = std::thread();
    user.Interrupts.IntrThreadId = 0;
    return 1;
  }
  return StopInterrupts(d);
}

int StopInterrupts(int d) {
  if (!IsRealDevice(d)) return 0;
  if (InterruptsDisabled(d)) {
    SendMask(d, kIntrAllSources);
    return 0;
  }
  DeviceUserHandle& user = *App().User(d);
  if (!user.Interrupts.IntrThread.joinable()) return 1;
  if (user.Interrupts.IntrThread.get_id() == std::this_thread::get_id()) return 0;
  std::shared_ptr<EventSet> set = EventsOf(d);
  if (set != nullptr && set->events[kStopEvent].valid()) (void)set->events[kStopEvent].Set();
  StopFlag(user).store(1);
  user.Interrupts.IntrThread.join();
  user.Interrupts.IntrThread = std::thread();
  user.Interrupts.IntrThreadId = 0;
  return 1;
}

}  // namespace zimo::corvan

using zimo::corvan::Dev;

extern "C" {

std::int32_t ZimoINTRWndMsgInit(std::uint32_t device, std::uintptr_t window, std::uint32_t message,
                                std::uint32_t mask) {
  return ZimoINTRInit(device, window, zimo::corvan::kNotifyWindowMessage, message, mask);
}

std::int32_t ZimoINTRFuncCallInit(std::uint32_t device, ZimoIntrFunction function,
                                  std::uint32_t parameter, std::uint32_t mask) {
  return ZimoINTRInit(device, reinterpret_cast<std::uintptr_t>(function),
                      zimo::corvan::kNotifyFunctionCall, parameter, mask);
}

std::int32_t ZimoINTRRunThreadInit(std::uint32_t device, ZimoIntrThreadStart function,
                                   std::uint32_t parameter, std::uint32_t mask) {
  return ZimoINTRInit(device, reinterpret_cast<std::uintptr_t>(function),
                      zimo::corvan::kNotifyRunThread, parameter, mask);
}

std::int32_t ZimoINTRFireEventInit(std::uint32_t device, zimo::platform::NamedEvent* event,
                                   std::uint32_t mask) {
  return ZimoINTRInit(device, reinterpret_cast<std::uintptr_t>(event),
                      zimo::corvan::kNotifySetEvent, 0, mask);
}

std::int32_t ZimoINTRInit(std::uint32_t device, std::uintptr_t target, std::uint32_t kind,
                          std::uint32_t parameter, std::uint32_t mask) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (d < 0) return 0;
  DeviceUserHandle& user = *App().User(d);
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    user.Interrupts.NotifyTarget = target;
    user.Interrupts.NotifyKind = kind;
    user.Interrupts.NotifyDevice = static_cast<std::uint32_t>(d);
    user.Interrupts.NotifyParameter = parameter;
    user.Interrupts.NotifyMask = mask;
  }
  if (InterruptsDisabled(d)) {
    SendMask(d, kIntrAllSources);
    return 0;
  }
  if (!SendMask(d, mask)) return 0;
  if (user.Interrupts.IntrThread.joinable()) return 1;

  if (!user.Interrupts.IntrStartEvent.valid()) {
    auto start =
        zimo::platform::NamedEvent::CreateUnnamed(zimo::platform::EventReset::kAuto, false);
    if (!start.ok()) return 0;
    user.Interrupts.IntrStartEvent = std::move(start.value());
  }
  // The device travels with the thread itself, so two starts for two
  // devices cannot mix up their devices.
  try {
    user.Interrupts.IntrThread = std::thread(WaitForInterrupts, d);
  } catch (const std::system_error&) {
    return 0;
  }
  zimo::platform::SleepMs(kStartSettleMs);
  RaiseToTimeCritical(user.Interrupts.IntrThread);
  (void)user.Interrupts.IntrStartEvent.Wait();
  if (StopFlag(user).load() != 0) {
    user.Interrupts.IntrThread.join();
    user.Interrupts.IntrThread = std::thread();
    user.Interrupts.IntrThreadId = 0;
    return 0;
  }
  return 1;
}

std::int32_t ZimoINTRTerminate(std::uint32_t device) {
  return zimo::corvan::StopInterrupts(zimo::corvan::IndexFromDeviceNumber(device));
}

std::int32_t ZimoINTRSetupMask(std::uint32_t device, std::uint32_t mask) {
  const int d = Dev(device);
  if (d < 0 || !zimo::corvan::HasDriverDevice(d)) return 0;
  return zimo::corvan::SendMask(d, mask) ? 1 : 0;
}

std::int32_t ZimoINTRSetupInterruptEvent(std::uint32_t device, const char* event_name) {
  using namespace zimo::corvan;
  const int d = Dev(device);
  if (d < 0 || !HasDriverDevice(d) || event_name == nullptr || event_name[0] == '\0') return 0;
  // The driver takes an event, not a text: the program's event by its
  // name, kept open here while the driver holds it.
  auto event =
      zimo::platform::NamedEvent::Create(event_name, zimo::platform::EventReset::kAuto, false);
  if (!event.ok()) return 0;
  const std::uint32_t handle = zimo::platform::EventHandleForDriver(event->name());
  const zimo::platform::IoControlResult r =
      DriverIoctl(d, zimo::drivers::IOCTL_ZIMO_SET_USER_EVENT, &handle, sizeof handle, nullptr, 0);
  if (!r.ok) return 0;
  std::lock_guard<std::mutex> lock(State().mutex);
  State().user_events[static_cast<std::size_t>(d)] = std::move(event.value());
  return 1;
}

}  // extern "C"
