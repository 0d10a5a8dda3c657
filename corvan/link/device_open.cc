#include "link/device_open.h"

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

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kCalibrationMs = 500;
constexpr std::uint32_t kHandshakeReplyMax = 255;
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kStatusReplyMax = 15;

// Open and close of one process's devices run one at a time: the location
// handle table and a device's record are set up across several steps.
std::recursive_mutex& OpenCloseMutex() {
  static std::recursive_mutex mutex;
  return mutex;
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
// fields every other part of the library reads.
void IdentifyCard(int device, SharedDeviceBlock& block) {
  RunFirstOpenIdentification(device);
  CalibrateWaits(kCalibrationMs, &block.LoopsPer500ms);
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

bool OpenDevice(int device, FirstOpenSetUp dpr_set_up) {
  std::lock_guard<std::recursive_mutex> serialise(OpenCloseMutex());
  CommLibraryApp& app = App();
  app.set_current_device(device);
  if (DrvNumberOfDevices() == 0 || !IsRealDevice(device)) return false;
  DeviceUserHandle& user = *app.User(device);
  if (user.Transport != nullptr) {
    platform::DebugOutput("VALID HANDLE PRESENT\n");
    ++user.OpenCount;
    return true;
  }
  platform::DebugOutput("INVALID HANDLE\n");

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
  SharedDeviceTable* table = app.table();
  if (table == nullptr) return false;
  SharedDeviceBlock& block = table->Devices[device];

  std::uint32_t location = 0;  // no Location until the registry names one
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  Transport* transport = TransportFor(location);
  if (transport == nullptr || enumeration >= kEnumerations) return false;
  block.Location = location;
  block.Enumeration = enumeration;

  char name[32];
  std::snprintf(name, sizeof name, "MutexZimo%d", device);
  auto command_mutex = platform::NamedMutex::Create(name);
  if (!command_mutex.ok()) return false;
  std::snprintf(name, sizeof name, "DPRMutexZimo%d", device);
  auto dpr_mutex = platform::NamedMutex::Create(name);
  if (!dpr_mutex.ok()) return false;
  user.CommandMutex = std::move(command_mutex.value());
  user.DprDataMutex = std::move(dpr_mutex.value());

  LockDevice(device);
  platform::DebugOutput("Preparing to Open ZIMO\n");
  LocationHandle* handle = OpenLocationHandle(device, *transport, enumeration);
  if (handle == nullptr) {
    ReleaseDevice(device);
    user.CommandMutex = platform::NamedMutex();
    user.DprDataMutex = platform::NamedMutex();
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
    IdentifyCard(device, block);
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
  std::lock_guard<std::recursive_mutex> serialise(OpenCloseMutex());
  CommLibraryApp& app = App();
  DeviceUserHandle& user = *app.User(device);
  // Nothing of the device is open in this process: closing it must not
  // touch a transport that other devices or processes still use.
  if (user.Transport == nullptr && !user.CommandMutex.valid()) return 1;

  LockDevice(device);
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
    if (Transport* transport = TransportFor(user.Transport->location)) {
      transport->CloseDevice(device, user);
    }
  }
  user.DprAvailable = 0;
  ReleaseLocationHandle(user.Transport);
  user.Transport = nullptr;
  CloseCommandLog(device);
  ReleaseDevice(device);
  // Both of the device's locks go with it; the next open makes new handles.
  user.CommandMutex = platform::NamedMutex();
  user.DprDataMutex = platform::NamedMutex();
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
