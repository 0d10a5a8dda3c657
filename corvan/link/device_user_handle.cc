#include "corvan/internal/device_user_handle.h"

#include <cstring>

namespace zimo::corvan {

void ResetDeviceUserHandle(DeviceUserHandle& user, int slot) {
  user.OpenCount = 0;
  user.Transport = nullptr;
  user.CommandMutex = platform::NamedMutex();
  user.EthEvent = platform::NamedEvent();
  user.EthMutex = platform::NamedMutex();
  user.EthRecvBuffer.clear();
  user.EthRecvBuffer.shrink_to_fit();
  user.EthScanPtr = 0;
  user.EthLineStart = 0;
  user.EthLastError = 0;
  user.CommandLogging = 0;
  std::memset(user.CommandLogName, 0, sizeof user.CommandLogName);
  user.CommandLogFile = platform::TextFileWriter();
  user.ChecksumMode = 0;
  user.LastChecksum = 0;
  user.AsciiCommMode = 0;
  user.DprAvailable = 0;
  user.DprDataMutex = platform::NamedMutex();
  user.VbgUsers.fill(std::nullopt);
  user.RotBufDataOffset.fill(0);
  for (auto& samples : user.GatherData) samples = std::vector<double>();
  user.RtGatherResult = std::vector<double>();
  if (!user.IntrThread.joinable()) user.IntrThreadId = 0;
  user.IntrStartEvent = platform::NamedEvent();
  user.IntrStopFlag = 0;
  user.NotifyTarget = 0;
  user.NotifyKind = 0;
  user.NotifyDevice = static_cast<std::uint32_t>(slot);
  user.NotifyParameter = 0;
  user.NotifyMask = 0;
  user.IntrInfo = InterruptInfo();
  user.WindowHandle = 0;
}

}  // namespace zimo::corvan
