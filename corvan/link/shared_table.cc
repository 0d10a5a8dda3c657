#include "corvan/internal/shared_table.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace zimo::corvan {

SharedDeviceTable* SharedTableAt(void* view) {
  if (view == nullptr || reinterpret_cast<std::uintptr_t>(view) % alignof(SharedDeviceTable) != 0) {
    return nullptr;
  }
  return static_cast<SharedDeviceTable*>(view);
}

void InitializeTableHeader(SharedDeviceTable& table, std::uint32_t language_module) {
  table.TableSize = static_cast<std::uint32_t>(kSharedTableSize);
  table.UserCount = 0;
  table.LanguageModule = language_module;
}

platform::Status InitializeDeviceSlot(SharedDeviceTable& table, int slot, std::uint32_t location,
                                      std::uint32_t enumeration) {
  if (slot < 0 || slot >= kRealDevices) {
    return {platform::Code::kInvalidArgument,
            "device slot " + std::to_string(slot) + " has no start values (0 to 7 only)"};
  }
  SharedDeviceBlock& b = table.Devices[slot];
  b.BlockSize = kSharedDeviceBlockSize;
  b.FirstOpenDone = 0;
  std::memset(b.FirmwareVersion, 0, sizeof b.FirmwareVersion);
  std::memset(b.FirmwareDate, 0, sizeof b.FirmwareDate);
  b.CardType = kInitialCardType;
  b.Location = location;
  b.Enumeration = enumeration;
  b.BusLastError = 0;
  b.SerialLastError = 0;
  b.DprCardBase = 0;
  b.DprSetUpDone = 0;
  b.DprAsciiEnabled = 0;
  b.RealTimeActive = 0;
  b.FixedBufferMotorCount = 0;
  b.BackgroundActive = 0;
  b.VbgInUse = 0;
  b.ControlPanelOn = 0;
  b.BinaryRotaryMode = 0;
  b.DprLastError = 0;
  b.ServoI10 = kDefaultServoI10;
  for (std::size_t m = 0; m < kMaxMotors; ++m) {
    b.MotorPositionFactor[m] = kInitialScaleFactor;
    b.MotorVelocityFactor[m] = kInitialScaleFactor;
  }
  std::memset(b.RotBufSize, 0, sizeof b.RotBufSize);
  b.VbgUserCount = 0;
  b.VbgEntryReadyMode = 0;
  b.VbgNextFree = 0;
  b.VbgOwnerProcessId = 0;
  b.VbgAreaTop = 0;
  b.LinkListValid = 0;
  b.PlccEnabled = 1;
  b.DownloadBusy = 0;
  b.BootstrapFlag = 0;
  // Only the first sixteen link-list entries have a start value.
  std::memset(b.LinkList, 0, 16 * sizeof b.LinkList[0]);
  b.GatherSampleTime = kInitialGatherSampleTimeMs;
  b.GatherPeriod = kInitialGatherPeriod;
  std::memset(b.GatherEnableMask, 0, sizeof b.GatherEnableMask);
  b.GatherSourceCount = 0;
  b.GatherSampleCount = 0;
  b.GatherWordsPerSample = 0;
  std::memset(b.GatherSourceEnabled, 0, sizeof b.GatherSourceEnabled);
  std::memset(b.GatherSourceName, 0, sizeof b.GatherSourceName);
  std::memset(b.GatherSourceWords, 0, sizeof b.GatherSourceWords);
  b.RtGatherHandle = 0;
  b.RtGatherCount = 0;
  b.Unused1D30 = 0;
  std::memset(b.RtGatherAddress, 0, sizeof b.RtGatherAddress);
  b.LoopsPer500ms = 0;
  b.RealTimePollLimit = 0;
  b.DprRtTimeoutMs = 0;
  b.BackgroundPollLimit = 0;
  b.DprBackTimeoutMs = 0;
  b.DprCharPollLimit = 0;
  b.DprCharTimeoutMs = 0;
  b.DprFlushPollLimit = 0;
  b.DprFlushTimeoutMs = 0;
  b.EthOwnerSocket = kNoOwner;
  b.EthOwnerProcessId = kNoOwner;
  b.SerialOwnerHandle = kNoOwner;
  b.SerialOwnerProcessId = kNoOwner;
  b.TransportUserCount = 0;
  // The users behind the count go with it, or a later open would give back
  // shares that are no longer counted.
  for (std::uint32_t& pid : b.TransportUserPids) pid = 0;
  b.LinkUnsettled = 0;
  b.SerialAheadStart = 0;
  b.SerialAheadCount = 0;
  b.HostRotaryMode = 0;
  return platform::Status::Ok();
}

void WriteServerIdentity(SharedDeviceTable& table, std::uint32_t process_handle,
                         std::uint32_t process_id) {
  table.ServerProcessHandle = process_handle;
  table.ServerProcessId = process_id;
}

}  // namespace zimo::corvan
