#include "corvan/internal/device_user_handle.h"

#include <gtest/gtest.h>

#include <cstring>

#include "temp_home.h"

namespace zimo::corvan {
namespace {

TEST(DeviceUserHandle, ResetGivesBackTheStartStateOfItsSlot) {
  zimo::testing::TempHome home;
  DeviceUserHandle user;
  // Everything a device's life in the process can leave behind.
  user.OpenCount = 3;
  user.Transport = reinterpret_cast<LocationHandle*>(&user);
  user.CommandMutex = platform::NamedMutex::Create("MutexZimo5").value();
  user.DprDataMutex = platform::NamedMutex::Create("DPRMutexZimo5").value();
  user.EthMutex = platform::NamedMutex::Create("ETHMutext5").value();
  user.EthEvent =
      platform::NamedEvent::Create("ETHEvent5", platform::EventReset::kAuto, false).value();
  user.IntrStartEvent =
      platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false).value();
  user.EthRecvBuffer.assign(4096, 'r');
  user.EthScanPtr = 17;
  user.EthLineStart = 9;
  user.EthLastError = 3;
  user.CommandLogging = 1;
  std::strcpy(user.CommandLogName, "ZimoCLog.log");
  user.CommandLogFile = platform::TextFileWriter::Open(home.path() / "ZimoCLog.log").value();
  user.ChecksumMode = 1;
  user.LastChecksum = 0x5A;
  user.AsciiCommMode = 1;
  user.DprAvailable = 1;
  user.VbgUsers[2] = VarBufUser{4, 1, 0x100, 0x200};
  user.RotBufDataOffset[7] = 0x3000;
  user.GatherData[5] = {1.0, 2.0};
  user.RtGatherResult = {0.5, 0.5, 0.5};
  user.IntrThreadId = 42;
  user.IntrStopFlag = 1;
  user.NotifyTarget = 0x1234;
  user.NotifyKind = 0x30000;
  user.NotifyDevice = 1;
  user.NotifyParameter = 99;
  user.NotifyMask = 0xFF;
  user.IntrInfo = {"Test Data", 4, 0x10};
  user.WindowHandle = 77;

  ResetDeviceUserHandle(user, 5);

  EXPECT_EQ(user.OpenCount, 0u);
  EXPECT_EQ(user.Transport, nullptr);
  EXPECT_FALSE(user.CommandMutex.valid());
  EXPECT_FALSE(user.DprDataMutex.valid());
  EXPECT_FALSE(user.EthMutex.valid());
  EXPECT_FALSE(user.EthEvent.valid());
  EXPECT_FALSE(user.IntrStartEvent.valid());
  EXPECT_TRUE(user.EthRecvBuffer.empty());
  EXPECT_EQ(user.EthScanPtr, 0u);
  EXPECT_EQ(user.EthLineStart, 0u);
  EXPECT_EQ(user.EthLastError, 0u);
  EXPECT_EQ(user.CommandLogging, 0u);
  EXPECT_STREQ(user.CommandLogName, "");
  EXPECT_FALSE(user.CommandLogFile.is_open());
  EXPECT_EQ(user.ChecksumMode, 0u);
  EXPECT_EQ(user.LastChecksum, 0u);
  EXPECT_EQ(user.AsciiCommMode, 0u) << "bus channel";
  EXPECT_EQ(user.DprAvailable, 0u);
  for (const auto& v : user.VbgUsers) EXPECT_FALSE(v.has_value());
  for (auto offset : user.RotBufDataOffset) EXPECT_EQ(offset, 0u);
  for (const auto& samples : user.GatherData) EXPECT_TRUE(samples.empty());
  EXPECT_TRUE(user.RtGatherResult.empty());
  EXPECT_EQ(user.IntrThreadId, 0u);
  EXPECT_EQ(user.IntrStopFlag, 0u);
  EXPECT_EQ(user.NotifyTarget, 0u);
  EXPECT_EQ(user.NotifyKind, 0u);
  EXPECT_EQ(user.NotifyDevice, 5u) << "the notification names its own slot";
  EXPECT_EQ(user.NotifyParameter, 0u);
  EXPECT_EQ(user.NotifyMask, 0u);
  EXPECT_EQ(user.IntrInfo.Data, nullptr);
  EXPECT_EQ(user.IntrInfo.Bit, 0u);
  EXPECT_EQ(user.WindowHandle, 0u);

  // The reset closed this process's handles: the names are free again.
  auto again = platform::NamedMutex::Create("MutexZimo5");
  ASSERT_TRUE(again.ok());
  EXPECT_FALSE(again->already_existed());
}

}  // namespace
}  // namespace zimo::corvan
