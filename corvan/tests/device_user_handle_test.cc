#include "corvan/internal/device_user_handle.h"

#include <gtest/gtest.h>

#include <cstring>

#include "link/eth_transport.h"
#include "link/serial_checksum.h"
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
  EthStateOf(user).EthMutex = platform::NamedMutex::Create("ETHMutext5").value();
  EthStateOf(user).EthEvent =
      platform::NamedEvent::Create("ETHEvent5", platform::EventReset::kAuto, false).value();
  user.Interrupts.IntrStartEvent =
      platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false).value();
  user.CommandLogging = 1;
  std::strcpy(user.CommandLogName, "ZimoCLog.log");
  user.CommandLogFile = platform::TextFileWriter::Open(home.path() / "ZimoCLog.log").value();
  user.AsciiCommMode = 1;
  user.DprAvailable = 1;
  user.DprBuffers.VbgUsers[2] = VarBufUser{4, 1, 0x100, 0x200};
  user.DprBuffers.RotBufDataOffset[7] = 0x3000;
  user.Gather.GatherData[5] = {1.0, 2.0};
  user.Gather.RtGatherResult = {0.5, 0.5, 0.5};
  InterruptState& intr = user.Interrupts;
  intr.IntrThreadId = 42;
  intr.IntrStopFlag = 1;
  intr.NotifyTarget = 0x1234;
  intr.NotifyKind = 0x30000;
  intr.NotifyDevice = 1;
  intr.NotifyParameter = 99;
  intr.NotifyMask = 0xFF;
  intr.IntrInfo = {"Test Data", 4, 0x10};
  user.WindowHandle = 77;

  ResetDeviceUserHandle(user, 5);

  EXPECT_EQ(user.OpenCount, 0u);
  EXPECT_EQ(user.Transport, nullptr);
  EXPECT_FALSE(user.CommandMutex.valid());
  EXPECT_FALSE(user.DprDataMutex.valid());
  EXPECT_EQ(user.TransportState, nullptr) << "the Ethernet lock and event went with it";
  EXPECT_FALSE(intr.IntrStartEvent.valid());
  EXPECT_EQ(user.CommandLogging, 0u);
  EXPECT_STREQ(user.CommandLogName, "");
  EXPECT_FALSE(user.CommandLogFile.is_open());
  EXPECT_EQ(user.AsciiCommMode, 0u) << "bus channel";
  EXPECT_EQ(user.DprAvailable, 0u);
  for (const auto& v : user.DprBuffers.VbgUsers) EXPECT_FALSE(v.has_value());
  for (auto offset : user.DprBuffers.RotBufDataOffset) EXPECT_EQ(offset, 0u);
  for (const auto& samples : user.Gather.GatherData) EXPECT_TRUE(samples.empty());
  EXPECT_TRUE(user.Gather.RtGatherResult.empty());
  EXPECT_EQ(intr.IntrThreadId, 0u);
  EXPECT_EQ(intr.IntrStopFlag, 0u);
  EXPECT_EQ(intr.NotifyTarget, 0u);
  EXPECT_EQ(intr.NotifyKind, 0u);
  EXPECT_EQ(intr.NotifyDevice, 5u) << "the notification names its own slot";
  EXPECT_EQ(intr.NotifyParameter, 0u);
  EXPECT_EQ(intr.NotifyMask, 0u);
  EXPECT_EQ(intr.IntrInfo.Data, nullptr);
  EXPECT_EQ(intr.IntrInfo.Bit, 0u);
  EXPECT_EQ(user.WindowHandle, 0u);

  // The reset closed this process's handles: the names are free again.
  for (const char* name : {"MutexZimo5", "ETHMutext5"}) {
    auto again = platform::NamedMutex::Create(name);
    ASSERT_TRUE(again.ok()) << name;
    EXPECT_FALSE(again->already_existed()) << name;
  }
}

TEST(DeviceUserHandle, ResetDropsTheSerialChecksumState) {
  DeviceUserHandle user;
  SerialStateOf(user).LastChecksum = 0x5A;

  ResetDeviceUserHandle(user, 2);

  EXPECT_EQ(SerialStateOf(user).LastChecksum, 0u);
}

}  // namespace
}  // namespace zimo::corvan
