#include "corvan/internal/device_user_handle.h"

#include <cstring>

namespace zimo::corvan {

void ResetDeviceUserHandle(DeviceUserHandle& user, int slot) {
  user.OpenCount = 0;
  user.Transport = nullptr;
  user.CommandMutex = platform::NamedMutex();
  user.PortMutex = platform::NamedMutex();
  user.DprDataMutex = platform::NamedMutex();
  user.AsciiCommMode = 0;
  user.DprAvailable = 0;
  user.CommandLogging = 0;
  std::memset(user.CommandLogName, 0, sizeof user.CommandLogName);
  user.CommandLogFile = platform::TextFileWriter();
  user.WindowHandle = 0;
  user.LinkError = 0;
  user.TransportState.reset();

  user.DprBuffers.VbgUsers.fill(std::nullopt);
  user.DprBuffers.RotBufDataOffset.fill(0);
  for (auto& samples : user.Gather.GatherData) samples = std::vector<double>();
  user.Gather.RtGatherResult = std::vector<double>();

  InterruptState& intr = user.Interrupts;
  if (!intr.IntrThread.joinable()) intr.IntrThreadId = 0;
  intr.IntrStartEvent = platform::NamedEvent();
  intr.IntrStopFlag = 0;
  intr.NotifyTarget = 0;
  intr.NotifyKind = 0;
  intr.NotifyDevice = static_cast<std::uint32_t>(slot);
  intr.NotifyParameter = 0;
  intr.NotifyMask = 0;
  intr.IntrInfo = InterruptInfo();
}

}  // namespace zimo::corvan
