#include "link/device_open.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "automation/dispatch.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/eth_api.h"
#include "corvan/identify_api.h"
#include "corvan/interrupt_api.h"
#include "corvan/registry_api.h"
#include "corvan/variables_api.h"
#include "dpr/rotary_reset.h"
#include "dpr/varbuf_count.h"
#include "drivers/zimo_ioctl.h"
#include "link/command_log.h"
#include "link/device_lock.h"
#include "link/device_registry.h"
#include "link/driver_device.h"
#include "link/eth_transport.h"
#include "link/identify.h"
#include "link/interrupts.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "link/serial_setup.h"
#include "link/serial_transport.h"
#include "link/server_activation.h"
#include "link/wait_loop.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kHandshakeWaitMs = 1000;
constexpr std::uint32_t kCalibrationMs = 500;
constexpr std::uint32_t kHandshakeReplyMax = 255;
constexpr char kCtrlZ = 26;
constexpr char kCtrlT = 20;
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kStatusReplyMax = 15;

// Open and close of one process's devices run one at a time: the location
// handle table and a device's record are set up across several steps.
std::recursive_mutex& OpenCloseMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::uint32_t CalibratedWaits(std::uint32_t milliseconds) {
  std::uint32_t count = 0;
  CalibrateWaits(milliseconds, &count);
  return count;
}

// The driver device of a bus Location: for ISA and PCI cards also the port
// registers 5 and 6 cleared, and the interrupt events handed to the driver
// (ISA, or PCI with interrupts enabled in its settings) or every interrupt
// source disabled.
bool OpenBusLocation(std::uint32_t location, std::uint32_t enumeration) {
  DeviceConfigBlock settings{};
  ReadLocationSettings(location, enumeration, settings);
  const std::uint32_t error = OpenDriverDevice(location, enumeration);
  if (location == kLocationUsb) {
    // The text has always named unit 0.
    platform::DebugOutput(error == 0 ? "CreateFile ZimoUSB0 Passed" : "CreateFile ZimoUSB0 Failed");
  }
  if (error != 0) {
    App().set_last_open_error(error);
    return false;
  }
  if (location == kLocationUsb) return true;
  LocationIoctl(location, enumeration, drivers::IOCTL_ZIMO_CLEAR_PORT_REGS, nullptr, 0, nullptr, 0);
  if (location == kLocationIsa || settings.EnableInterrupts != 0) {
    CreateInterruptEvents(location, enumeration);
  } else {
    const std::uint32_t all_disabled = kIntrAllSources;
    LocationIoctl(location, enumeration, drivers::IOCTL_ZIMO_SET_INTR_MASK, &all_disabled,
                  sizeof all_disabled, nullptr, 0);
  }
  return true;
}

bool IsBusLocation(std::uint32_t location) {
  return location == kLocationIsa || location == kLocationPci || location == kLocationUsb;
}

// The process's transport of (Location, Enumeration), opened on first use;
// each device that takes it counts as one user.
LocationHandle* OpenLocationHandle(int device, std::uint32_t location, std::uint32_t enumeration) {
  CommLibraryApp& app = App();
  std::lock_guard<std::mutex> guard(app.handles_mutex());
  std::unique_ptr<LocationHandle>* slot = app.HandleSlot(location, enumeration);
  if (slot == nullptr) return nullptr;
  if (*slot != nullptr) {
    ++(*slot)->users;
    return slot->get();
  }
  auto handle = std::make_unique<LocationHandle>();
  handle->location = location;
  handle->enumeration = enumeration;
  switch (location) {
    case kLocationSerial: {
      int owner_device = device;
      if (FindDeviceByLocation(location, enumeration, &owner_device) == 0) owner_device = device;
      const std::uint32_t error = SerOpen(owner_device, *handle);
      if (error != 0) {
        app.set_last_open_error(error);
        return nullptr;
      }
      handle->opener_device = owner_device;
      break;
    }
    case kLocationEthernet: {
      DeviceConfigBlock settings{};
      ReadLocationSettings(location, enumeration, settings);
      int owner_device = device;
      if (FindDeviceByLocation(location, enumeration, &owner_device) == 0) owner_device = device;
      if (EthOpen(owner_device, settings.IPAddress) == nullptr) return nullptr;
      handle->opener_device = owner_device;
      break;
    }
    case kLocationIsa:
    case kLocationPci:
    case kLocationUsb:
      if (!OpenBusLocation(location, enumeration)) return nullptr;
      break;
    default:
      return nullptr;
  }
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
  if (handle->location == kLocationSerial) SerClose(handle->opener_device, *handle);
  if (handle->location == kLocationEthernet) EthClose(handle->opener_device);
  if (IsBusLocation(handle->location)) {
    // The interrupt events go with the location that made them.
    CloseInterruptEvents(handle->location, handle->enumeration);
    CloseDriverDevice(handle->location, handle->enumeration);
  }
  if (slot != nullptr && slot->get() == handle) slot->reset();
}

void SetXonXoffHandshake(SharedDeviceBlock& block, bool on) {
  if (on) {
    block.SerialDcb.Flags &= ~kDcbOutxCtsFlow;
    block.SerialDcb.Flags |= kDcbOutX | kDcbInX;
  } else {
    block.SerialDcb.Flags = (block.SerialCTSOutput & 1u) != 0
                                ? block.SerialDcb.Flags | kDcbOutxCtsFlow
                                : block.SerialDcb.Flags & ~kDcbOutxCtsFlow;
    block.SerialDcb.Flags &= ~(kDcbOutX | kDcbInX);
  }
}

bool SerialHandshake(int device, SharedDeviceBlock& block, platform::SerialPort& port) {
  SetupSerialPort(device, block, port, CalibratedWaits);
  SetXonXoffHandshake(block, true);
  ApplySerialState(block, port);
  if (platform::Status sent = port.TransmitCommChar(kCtrlZ); !sent.ok()) {
    block.SerialLastError = platform::Win32ErrorFromStatus(sent);
  }
  SerSendLine(device, "I3=2?");
  App().rings().ChangeStore(static_cast<std::uint32_t>(device), "I3=2");
  SerReportCommError(device, nullptr, nullptr);

  char reply[kHandshakeReplyMax + 1] = {};
  std::uint32_t n = 0;
  SerGetLine(device, reply, kHandshakeReplyMax, &n);
  if (reply[0] == 0) {
    platform::SleepMs(kHandshakeWaitMs);
    SerGetLine(device, reply, kHandshakeReplyMax, &n);
    if (reply[0] == 0) {
      platform::DebugOutput("Open handshake: the card does not answer\n");
      return false;
    }
  }

  SetXonXoffHandshake(block, false);
  ApplySerialState(block, port);
  SerGetResponse(device, reply, kHandshakeReplyMax, "I4=0");
  SerGetResponse(device, reply, kHandshakeReplyMax, "@0");
  if (std::strstr(reply, "@0") != nullptr) {
    SerGetControlResponse(device, reply, kHandshakeReplyMax, kCtrlT);
  }
  SerSendLine(device, kCriticalIVars);
  App().rings().ChangeStore(static_cast<std::uint32_t>(device), kCriticalIVars);
  platform::SleepMs(kHandshakeWaitMs);
  const std::uint32_t word = SerGetResponse(device, reply, kHandshakeReplyMax, "?");
  if (std::strstr(reply, "BOOTSTRAP") != nullptr) {
    block.BootstrapFlag = 1;
    return true;
  }
  const std::uint32_t count = word & kCountMask;
  if ((word & kErrorBits) != 0 || count < kStatusReplyMin || count > kStatusReplyMax) {
    platform::DebugPrintf("Open handshake: status reply 0x%08X is no card status\n", word);
    return false;
  }
  // A card that answers its status has left bootstrap mode: the next first
  // opener identifies it again.
  block.BootstrapFlag = 0;
  return true;
}

// The open handshake of every Location but serial: an Ethernet card must
// answer the address request first; a card in bootstrap mode is taken as
// it is; otherwise the card's communication settings are set and its status
// must come back (12 to 15 characters), after which the card is identified
// and this process learns whether it can use the card's DPR.
bool CommandHandshake(int device, const SharedDeviceBlock& block) {
  const std::uint32_t d = static_cast<std::uint32_t>(device);
  if (block.Location == kLocationEthernet) {
    std::uint8_t address[4] = {};
    if (EthIpAddress(d, 0, address) != 4) {
      platform::DebugOutput("Open handshake: the card does not answer its address request\n");
      return false;
    }
  }
  if (ZimoInBootStrapMode(d) != 0) return true;
  char reply[kHandshakeReplyMax + 1] = {};
  const std::uint32_t count = ZimoGetResponseA(d, reply, sizeof reply, "I3=2I6=1I63=1I64=1?");
  if (count < kStatusReplyMin || count > kStatusReplyMax) {
    platform::DebugPrintf("Open handshake: status reply of %u characters is no card status\n",
                          count);
    return false;
  }
  ZimoGetZimoType(d);
  ZimoDPRAvailable(d);
  return true;
}

// The first opener's DPR bookkeeping: poll limits from a fresh calibration,
// empty rotary buffers and variable background buffers, and the DPR
// variable area.
void DprSetUp(int device, SharedDeviceBlock& block, DeviceConfigBlock& config) {
  CalibrateWaits(kCalibrationMs, &block.LoopsPer500ms);
  ResetRotaryDescriptors(device);
  ZimoDPRSetVBGNumEntries(device, 0);
  ZimoDPRSetWriteBufferControl(device, 0);
  App().User(device)->VbgUsers.fill(std::nullopt);
  block.VbgUserCount = 0;
  std::uint32_t i24 = 0;
  if (block.SpranFlag != 0 && block.CardType == 8) {
    i24 =
        static_cast<std::uint32_t>(ZimoGetIVariableLong(static_cast<std::uint32_t>(device), 24, 0));
  }
  ComputeDprSetUp(block, config, i24);
  block.DprSetUpDone = 1;
}

// Identification and timing of a card that a first opener found: the
// fields every other part of the library reads.
void IdentifyCard(int device, SharedDeviceBlock& block) {
  RunFirstOpenIdentification(device);
  CalibrateWaits(kCalibrationMs, &block.LoopsPer500ms);
}

}  // namespace

bool InitAsciiHandshake(int device) {
  DeviceLock lock(device);
  DeviceUserHandle* user = App().User(device);
  SharedDeviceBlock* block = App().Block(device);
  if (user == nullptr || block == nullptr || user->Transport == nullptr) return false;
  if (block->Location == kLocationSerial) {
    return SerialHandshake(device, *block, user->Transport->serial);
  }
  return CommandHandshake(device, *block);
}

bool OpenDevice(int device) {
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

  std::uint32_t location = kLocationUnknown;
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  if (location < kLocationIsa || location > kLocationUsb || enumeration >= kEnumerations) {
    return false;
  }
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
  LocationHandle* handle = OpenLocationHandle(device, location, enumeration);
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

  if (location == kLocationIsa || location == kLocationPci) {
    user.AsciiCommMode = 0;
    auto start = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
    if (!start.ok()) {
      app.set_last_open_error(platform::Win32ErrorFromStatus(start.status()));
      ReleaseDevice(device);
      CloseDevice(device, false);
      return false;
    }
    user.IntrStartEvent = std::move(start.value());
  } else if (location == kLocationUsb) {
    user.AsciiCommMode = 0;
    DriverIoctl(device, drivers::IOCTL_ZIMO_RESET_CARD, nullptr, 0, nullptr, 0);
  }
  if (location == kLocationSerial) SetupSerialPort(device, block, handle->serial, CalibratedWaits);
  LoadDeviceSettings(device, table->DeviceConfigs[device], table);

  if (!InitAsciiHandshake(device)) {
    ReleaseDevice(device);
    CloseDevice(device, false);
    return false;
  }

  if (block.FirstOpenDone == 0 && block.BootstrapFlag == 0) {
    IdentifyCard(device, block);
    if (location == kLocationPci) {
      block.InterruptsEnabled = table->DeviceConfigs[device].EnableInterrupts;
    }
    if (location == kLocationSerial) {
      // A serial card has no dual-ported RAM to set up.
      ++user.OpenCount;
      block.FirstOpenDone = 1;
      ReleaseDevice(device);
      return true;
    }
    block.HostRotaryMode = 0;
    if (user.DprAvailable != 0 && block.DprSetUpDone == 0) {
      DprSetUp(device, block, table->DeviceConfigs[device]);
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
  const std::uint32_t location = user.Transport != nullptr ? user.Transport->location : 0;
  if (location == kLocationIsa || location == kLocationPci) {
    ZimoINTRTerminate(static_cast<std::uint32_t>(device));
    user.IntrStartEvent = platform::NamedEvent();
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

std::int32_t OpenZimoDevice(std::uint32_t device) {
  return zimo::corvan::OpenDevice(zimo::corvan::DeviceIndex(device)) ? 1 : 0;
}

std::int32_t CloseZimoDevice(std::uint32_t device) {
  return zimo::corvan::CloseDevice(zimo::corvan::DeviceIndex(device), false);
}

std::int32_t ShutdownZimoDevice(std::uint32_t device, std::int32_t force) {
  return zimo::corvan::CloseDevice(zimo::corvan::DeviceIndex(device), force != 0);
}

}  // extern "C"
