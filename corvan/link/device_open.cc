#include "link/device_open.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "automation/dispatch.h"
#include "corvan/command_api.h"
#include "corvan/registry_api.h"
#include "link/ascii_channel.h"
#include "link/command_log.h"
#include "link/device_lock.h"
#include "link/device_registry.h"
#include "link/dpr_channel.h"
#include "link/identify.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "link/server_activation.h"
#include "link/transport.h"
#include "link/transports.h"
#include "link/wait_loop.h"
#include "platform/debug.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kCalibrationMs = 500;
constexpr std::uint32_t kHandshakeReplyMax = 255;
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kStatusReplyMax = 15;

// The process's one-time set-up of an open (the server's service object,
// the shared table's mapping). Held only around that set-up, never while
// waiting for a device lock: a device's own open and close are serialised
// by its device lock (docs/architecture.md, "Lock order").
std::mutex& ProcessSetUpMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<platform::NamedMutex> CreateDeviceMutex(int device) {
  char name[32];
  std::snprintf(name, sizeof name, "MutexZimo%d", device);
  auto created = platform::NamedMutex::Create(name);
  if (!created.ok()) return nullptr;
  return std::make_shared<platform::NamedMutex>(std::move(created.value()));
}

// The process's transport of (Location, Enumeration), opened on first use;
// each device that takes it counts as one user.
LocationHandle* OpenLocationHandle(int device, Transport& transport, std::uint32_t enumeration) {
  CommLibraryApp& app = App();
  std::lock_guard<std::mutex> guard(app.handles_mutex());
  std::unique_ptr<LocationHandle>* slot = app.HandleSlot(transport.location(), enumeration);
  if (slot == nullptr) return nullptr;
  if (*slot != nullptr) {
    ++(*slot)->users;
    return slot->get();
  }
  auto handle = std::make_unique<LocationHandle>();
  handle->location = transport.location();
  handle->enumeration = enumeration;
  if (!transport.OpenLocation(device, *handle)) return nullptr;
  handle->users = 1;
  LocationHandle* raw = handle.get();
  *slot = std::move(handle);
  return raw;
}

// Drops one user of a location handle; the last one closes the transport.
void ReleaseLocationHandle(LocationHandle* handle) {
  if (handle == nullptr) return;
  CommLibraryApp& app = App();
  std::lock_guard<std::mutex> guard(app.handles_mutex());
  if (--handle->users > 0) return;
  std::unique_ptr<LocationHandle>* slot = app.HandleSlot(handle->location, handle->enumeration);
  if (Transport* transport = TransportFor(handle->location)) transport->CloseLocation(*handle);
  if (slot != nullptr && slot->get() == handle) slot->reset();
}

// Identification and timing of a card that a first opener found: the
// fields every other part of the library reads. The wait loop is counted
// only for a card whose DPR poll limits are made from it; a serial card's
// exchanges are timed in milliseconds, and the half second of counting
// would only hold up every other process waiting for the device lock.
void IdentifyCard(int device, SharedDeviceBlock& block, const Transport& transport) {
  RunFirstOpenIdentification(device);
  if (transport.HasDprSetUp()) CalibrateWaits(kCalibrationMs, &block.LoopsPer500ms);
}

// What each device's last close in this process gives up (OpenDevice's
// `release`).
std::atomic<LastCloseRelease>& CloseReleaseOf(int device) {
  static std::array<std::atomic<LastCloseRelease>, kDeviceSlots> releases{};
  return releases[static_cast<std::size_t>(device)];
}

}  // namespace

bool CardStatusHandshake(int device) {
  if (InBootstrapMode(device) != 0) return true;
  char reply[kHandshakeReplyMax + 1] = {};
  const std::uint32_t count =
      ExchangeResponse(device, reply, sizeof reply, "I3=2I6=1I63=1I64=1?") & kCountMask;
  if (count < kStatusReplyMin || count > kStatusReplyMax) {
    platform::DebugPrintf("Open handshake: status reply of %u characters is no card status\n",
                          count);
    return false;
  }
  CardTypeOf(device);
  RefreshDprAvailable(device);
  return true;
}

bool InitAsciiHandshake(int device) {
  DeviceLock lock(device);
  DeviceUserHandle* user = App().User(device);
  SharedDeviceBlock* block = App().Block(device);
  Transport* transport = TransportOf(device);
  if (user == nullptr || block == nullptr || user->Transport == nullptr || transport == nullptr) {
    return false;
  }
  return transport->Handshake(device, *user, *block);
}

bool OpenDevice(int device, FirstOpenSetUp dpr_set_up, LastCloseRelease release) {
  CommLibraryApp& app = App();
  app.set_current_device(device);
  if (DrvNumberOfDevices() == 0 || !IsRealDevice(device)) return false;
  if (release != nullptr) CloseReleaseOf(device).store(release);
  DeviceUserHandle& user = *app.User(device);
  if (user.Transport != nullptr && LockDevice(device) != kWaitFailed) {
    // Under the device's lock: a close by another thread may have come first.
    if (user.Transport != nullptr) {
      platform::DebugOutput("VALID HANDLE PRESENT\n");
      ++user.OpenCount;
      ReleaseDevice(device);
      return true;
    }
    ReleaseDevice(device);
  }
  platform::DebugOutput("INVALID HANDLE\n");

  {
    std::lock_guard<std::mutex> set_up(ProcessSetUpMutex());
    if (!app.server_build() && app.server_interface() == nullptr) {
      std::shared_ptr<automation::Dispatch> service;
      if (!CreateServerServiceObject(&service)) {
        platform::DebugOutput("Server CoCreateInstance() failed.\n");
        return false;
      }
      app.server_interface() = std::move(service);
      platform::DebugOutput("Server CoCreateInstance() Successful.\n");
    }
    if (!app.server_build() && app.table() == nullptr) {
      platform::DebugOutput("Before GLOBAL initialization()\n");
      if (!app.MapTable()) {
        app.server_interface().reset();
        return false;
      }
    }
  }
  SharedDeviceTable* table = app.table();
  if (table == nullptr) return false;
  SharedDeviceBlock& block = table->Devices[device];

  std::uint32_t location = 0;  // no Location until the registry names one
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  Transport* transport = TransportFor(location);
  if (transport == nullptr || enumeration >= kEnumerations) return false;

  // A timing setting outside its documented range fails the open before
  // anything waits by it (1.111 step 2 reads them as they are).
  const char* bad_key = nullptr;
  if (!CheckLocationSettings(location, enumeration, &bad_key)) {
    platform::DebugPrintf("Device %d: registry value \"%s\" is outside its range\n", device,
                          bad_key);
    app.set_last_open_error(platform::win32::kErrorInvalidData);
    return false;
  }

  // Every device number on one Location and Enumeration takes the lock of
  // the lowest of them first: one link, one exchange at a time.
  int home = device;
  if (FindDeviceByLocation(location, enumeration, &home) == 0 || home > device) home = device;
  std::shared_ptr<platform::NamedMutex> command_mutex = CreateDeviceMutex(device);
  if (command_mutex == nullptr) return false;
  std::shared_ptr<platform::NamedMutex> port_mutex;
  if (home != device) {
    port_mutex = CreateDeviceMutex(home);
    if (port_mutex == nullptr) return false;
  }
  char name[32];
  std::snprintf(name, sizeof name, "DPRMutexZimo%d", device);
  auto dpr_mutex = platform::NamedMutex::Create(name);
  if (!dpr_mutex.ok()) return false;

  // No process-wide lock is held here.
  if (LockDeviceWith(device, command_mutex, port_mutex) == kWaitFailed) return false;
  if (user.Transport != nullptr) {
    // Another thread of the process opened it while this one waited.
    ++user.OpenCount;
    ReleaseDevice(device);
    return true;
  }
  block.Location = location;
  block.Enumeration = enumeration;
  user.CommandMutex.Store(command_mutex);
  user.PortMutex.Store(port_mutex);
  user.DprDataMutex = std::move(dpr_mutex.value());

  platform::DebugOutput("Preparing to Open ZIMO\n");
  LocationHandle* handle = OpenLocationHandle(device, *transport, enumeration);
  if (handle == nullptr) {
    user.CommandMutex = platform::NamedMutex();
    user.PortMutex = platform::NamedMutex();
    user.DprDataMutex = platform::NamedMutex();
    ReleaseDevice(device);
    return false;
  }
  platform::DebugOutput("ZimoOpened\n");
  user.Transport = handle;
  user.WindowHandle = 0;
  CloseCommandLog(device);
  std::snprintf(user.CommandLogName, sizeof user.CommandLogName, "%s", kDefaultCommandLogName);

  if (!transport->PrepareDevice(device, user, block)) {
    ReleaseDevice(device);
    CloseDevice(device, false);
    return false;
  }
  LoadDeviceSettings(device, table->DeviceConfigs[device], table);

  if (!InitAsciiHandshake(device)) {
    ReleaseDevice(device);
    CloseDevice(device, false);
    return false;
  }

  if (block.FirstOpenDone == 0 && block.BootstrapFlag == 0) {
    IdentifyCard(device, block, *transport);
    transport->AfterIdentify(block, table->DeviceConfigs[device]);
    if (!transport->HasDprSetUp()) {
      ++user.OpenCount;
      block.FirstOpenDone = 1;
      ReleaseDevice(device);
      return true;
    }
    block.HostRotaryMode = 0;
    if (user.DprAvailable != 0 && block.DprSetUpDone == 0 && dpr_set_up != nullptr) {
      dpr_set_up(device, block, table->DeviceConfigs[device]);
    }
    block.FirstOpenDone = 1;
  }
  ++user.OpenCount;
  ReleaseDevice(device);
  return true;
}

int CloseDevice(int device, bool force) {
  if (device < 0 || device >= kDeviceSlots) return 0;
  CommLibraryApp& app = App();
  DeviceUserHandle& user = *app.User(device);
  // Nothing of the device is open in this process: closing it must not
  // touch a transport that other devices or processes still use.
  if (user.Transport == nullptr && !user.CommandMutex.valid()) return 1;

  // The device's lock serialises its open and close with every call on it;
  // no process-wide lock is held while waiting for it.
  LockDevice(device);
  if (user.Transport == nullptr && !user.CommandMutex.valid()) {
    ReleaseDevice(device);  // another thread closed it meanwhile
    return 1;
  }
  if (app.table() != nullptr) {
    if (force) {
      user.OpenCount = 0;
    } else if (user.OpenCount > 0) {
      --user.OpenCount;
    }
  }
  if (app.table() == nullptr || user.OpenCount > 0) {
    ReleaseDevice(device);
    return 1;
  }
  if (user.Transport != nullptr) {
    if (LastCloseRelease release = CloseReleaseOf(device).load()) release(device);
    if (Transport* transport = TransportFor(user.Transport->location)) {
      transport->CloseDevice(device, user);
    }
  }
  user.DprAvailable = 0;
  ReleaseLocationHandle(user.Transport);
  user.Transport = nullptr;
  CloseCommandLog(device);
  // Both of the device's locks go with it; the next open makes new handles.
  // A thread that waits for the lock now keeps the handle it waits on and
  // releases that same handle (device_lock.cc), as this thread does below.
  user.CommandMutex = platform::NamedMutex();
  user.PortMutex = platform::NamedMutex();
  user.DprDataMutex = platform::NamedMutex();
  ReleaseDevice(device);
  return 1;
}

void ComputeDprSetUp(SharedDeviceBlock& block, DeviceConfigBlock& config, std::uint32_t i24) {
  block.DprRtTimeoutMs = config.DPRRTTimeout;
  block.DprBackTimeoutMs = config.DPRBackTimeout;
  block.DprCharTimeoutMs = config.DPRCharTimeout;
  block.DprFlushTimeoutMs = config.DPRFlushTimeout;
  block.DprAutoActive = config.DPRAutoActive;
  block.RealTimeActive = config.DPRRealTimeActive;
  block.BackgroundActive = config.DPRBackgroundActive;
  block.RealTimePeriod = config.DPRRealTimePeriod;
  block.BackgroundPeriod = config.DPRBackgroundPeriod;

  const double loops_per_ms = block.LoopsPer500ms / 500.0;
  auto limit = [loops_per_ms](std::uint32_t ms) {
    return static_cast<std::uint32_t>(ms * loops_per_ms);
  };
  block.RealTimePollLimit = limit(block.DprRtTimeoutMs);
  block.BackgroundPollLimit = limit(block.DprBackTimeoutMs);
  block.DprCharPollLimit = limit(block.DprCharTimeoutMs);
  block.DprFlushPollLimit = limit(block.DprFlushTimeoutMs);
  for (std::size_t n = 0; n < kRotaryBuffers; ++n) {
    block.RotBufSize[n] = static_cast<std::uint16_t>(config.DualPortRamRot[n] & 0xFFFF);
  }

  const bool spran = block.SpranFlag != 0;
  const std::uint32_t start = !spran ? 0xD000u : (block.CardType == 8 ? i24 : 0x60000u);
  block.DprCardBase = start;
  constexpr std::uint32_t kWindowWords = 0x4000;
  std::uint32_t v = config.DualPortRamVar;
  if (v <= kWindowWords) {
    const std::uint32_t least = spran ? 0x450u : 0x200u;
    if (v < least) v = least;
    if (v > start) v = start;
    block.VbgNextFree = start + v;
  } else {
    if (v < start) v = start;
    if (v > start + kWindowWords) v = start + kWindowWords;
    block.VbgNextFree = v;
  }
  config.DualPortRamVar = v;
}

}  // namespace zimo::corvan

extern "C" {

std::int32_t CloseZimoDevice(std::uint32_t device) {
  return zimo::corvan::CloseDevice(zimo::corvan::IndexFromDeviceNumber(device), false);
}

std::int32_t ShutdownZimoDevice(std::uint32_t device, std::int32_t force) {
  return zimo::corvan::CloseDevice(zimo::corvan::IndexFromDeviceNumber(device), force != 0);
}

}  // extern "C"
