#include "core/shared_table_creation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::server {
namespace {

using corvan::SharedDeviceTable;

constexpr char kDevices[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device";

void SetDeviceValue(int device, const char* name, uint32_t value) {
  auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                           kDevices + std::to_string(device));
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetDword(name, value).ok());
}

class SharedTableCreationTest : public ::testing::Test {
 protected:
  ~SharedTableCreationTest() override { (void)platform::UnlinkHomeSharedMemory(); }
  zimo::testing::TempHome home_;
  ServerCardState cards_[kServerCards];
};

// The start values every fresh device record carries.
void ExpectInitial(const corvan::SharedDeviceBlock& b, uint32_t location, uint32_t enumeration) {
  EXPECT_EQ(b.BlockSize, 7952u);
  EXPECT_EQ(b.CardType, 1);
  EXPECT_EQ(b.Location, location);
  EXPECT_EQ(b.Enumeration, enumeration);
  EXPECT_EQ(b.FirmwareVersion[0], '\0');
  EXPECT_EQ(b.ServoI10, 3713707u);
  EXPECT_EQ(b.MotorPositionFactor[31], 3072.0);
  EXPECT_EQ(b.MotorVelocityFactor[0], 3072.0);
  EXPECT_EQ(b.GatherSampleTime, 20.0);
  EXPECT_EQ(b.EthOwnerSocket, 0xFFFFFFFFu);
  EXPECT_EQ(b.SerialOwnerProcessId, 0xFFFFFFFFu);
  EXPECT_EQ(b.TransportUserCount, 0u);
}

TEST_F(SharedTableCreationTest, ANewTableHasItsHeaderAndEveryRecordItsStartValues) {
  SetDeviceValue(0, "Location", 4);
  SetDeviceValue(0, "Enumeration", 1);
  SetDeviceValue(3, "Location", 2);  // no Enumeration
  cards_[5].server_opened = true;
  cards_[5].mirror_period_ms = 100;

  auto mapping = CreateSharedDeviceTable(cards_);
  ASSERT_TRUE(mapping.ok()) << mapping.status().ToString();
  ASSERT_EQ(mapping->size(), 0x1E000u);
  WriteServerIdentity(*mapping, 4321);
  const auto* bytes = static_cast<const uint8_t*>(mapping->data());
  const auto* t = reinterpret_cast<const SharedDeviceTable*>(bytes);
  EXPECT_EQ(t->TableSize, 0x1E000u);
  EXPECT_EQ(t->UserCount, 0u);
  uint32_t pid = 0, handle = 1;
  std::memcpy(&pid, bytes + 0x1DFF8, 4);
  std::memcpy(&handle, bytes + 0x1DFF4, 4);
  EXPECT_EQ(pid, 4321u);
  EXPECT_EQ(handle, 0u);  // a handle value means nothing to another process

  ExpectInitial(t->Devices[0], 4, 1);
  ExpectInitial(t->Devices[3], 2, 0xFFFFFFFF);
  for (int d : {1, 2, 4, 5, 6, 7}) ExpectInitial(t->Devices[d], 0, 0xFFFFFFFF);
  EXPECT_FALSE(cards_[5].server_opened);
  EXPECT_EQ(cards_[5].mirror_period_ms, 20u);
  // Reading the values created no key for a device nobody configured.
  EXPECT_FALSE(platform::RegistryKey::Exists(platform::kHkeyLocalMachine, kDevices + std::string("1")));
}

TEST_F(SharedTableCreationTest, ATableStillInUseKeepsItsUsersAndTheirRecords) {
  SetDeviceValue(2, "Location", 5);
  // Clients hold the table from an earlier run; one of them has device 2 open.
  auto earlier = platform::FileMapping::Create(corvan::kSharedTableName, corvan::kSharedTableSize);
  ASSERT_TRUE(earlier.ok());
  auto* old = static_cast<SharedDeviceTable*>(earlier->data());
  old->UserCount = 3;
  old->Devices[2].TransportUserCount = 1;
  old->Devices[2].Location = 3;
  std::strcpy(old->Devices[2].FirmwareVersion, "1.17");
  old->Devices[4].CardType = 6;  // nobody has device 4 open

  auto mapping = CreateSharedDeviceTable(cards_);
  ASSERT_TRUE(mapping.ok()) << mapping.status().ToString();
  ASSERT_TRUE(mapping->already_existed());
  const auto* t = static_cast<const SharedDeviceTable*>(mapping->data());
  EXPECT_EQ(t->TableSize, 0x1E000u);
  EXPECT_EQ(t->UserCount, 3u);
  EXPECT_EQ(t->Devices[2].Location, 3u);
  EXPECT_STREQ(t->Devices[2].FirmwareVersion, "1.17");
  EXPECT_EQ(t->Devices[2].TransportUserCount, 1u);
  ExpectInitial(t->Devices[4], 0, 0xFFFFFFFF);
}

TEST_F(SharedTableCreationTest, NoTableIsAFailure) {
  // Another process holds a section of that name too small to be the table.
  auto squatter = platform::FileMapping::Create(corvan::kSharedTableName, 4096);
  ASSERT_TRUE(squatter.ok());
  EXPECT_FALSE(CreateSharedDeviceTable(cards_).ok());
}

}  // namespace
}  // namespace zimo::server
