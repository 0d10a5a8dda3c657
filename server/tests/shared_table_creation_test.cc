#include "core/shared_table_creation.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::server {
namespace {

using corvan::SharedDeviceTable;

constexpr char kDevices[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device";

void SetDeviceValue(int device, const char* name, uint32_t value) {
  auto key =
      platform::RegistryKey::Create(platform::kHkeyLocalMachine, kDevices + std::to_string(device));
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
  EXPECT_FALSE(
      platform::RegistryKey::Exists(platform::kHkeyLocalMachine, kDevices + std::string("1")));
}

// Another client process that opened devices: it holds each device's
// command lock ("MutexZimo<n>") while the device is open.
class ClientProcess {
 public:
  explicit ClientProcess(std::vector<int> devices) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<platform::NamedMutex> held;
      for (int d : devices) {
        auto m = platform::NamedMutex::Create("MutexZimo" + std::to_string(d));
        if (!m.ok()) ::_exit(1);
        held.push_back(std::move(m).value());
      }
      char c = '!';
      if (::write(ready[1], &c, 1) != 1) ::_exit(1);
      ::pause();
      ::_exit(0);
    }
    char c = 0;
    ::close(ready[1]);
    if (::read(ready[0], &c, 1) != 1) pid_ = -1;
    ::close(ready[0]);
  }
  ~ClientProcess() { Kill(); }
  bool running() const { return pid_ > 0; }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST_F(SharedTableCreationTest, ATableStillInUseKeepsItsUsersAndTheirRecords) {
  SetDeviceValue(1, "Location", 4);
  SetDeviceValue(2, "Location", 5);
  SetDeviceValue(3, "Location", 2);
  SetDeviceValue(4, "Location", 1);
  // Clients hold the table from an earlier run. A live one has the PCI
  // device 1 and the USB device 2 open (bus transports keep no shared user
  // count); a killed one had the serial device 3 open and left its count.
  auto earlier = platform::FileMapping::Create(corvan::kSharedTableName, corvan::kSharedTableSize);
  ASSERT_TRUE(earlier.ok());
  auto* old = static_cast<SharedDeviceTable*>(earlier->data());
  old->UserCount = 3;
  for (int d : {1, 2, 3}) {
    corvan::SharedDeviceBlock& b = old->Devices[d];
    b.FirstOpenDone = 1;
    b.CardType = 6;
    b.Location = d == 1 ? 4 : d == 2 ? 5 : 2;
    b.DprCardBase = 0x6C000;
    b.DprSetUpDone = 1;
    std::strcpy(b.FirmwareVersion, "1.17");
  }
  old->Devices[3].TransportUserCount = 1;
  old->Devices[3].TransportUserPids[0] = 77777;
  old->Devices[4].CardType = 6;  // nobody has device 4 open
  ClientProcess live({1, 2});
  ASSERT_TRUE(live.running());
  {
    ClientProcess killed({3});
    ASSERT_TRUE(killed.running());
  }

  auto mapping = CreateSharedDeviceTable(cards_);
  ASSERT_TRUE(mapping.ok()) << mapping.status().ToString();
  ASSERT_TRUE(mapping->already_existed());
  const auto* t = static_cast<const SharedDeviceTable*>(mapping->data());
  EXPECT_EQ(t->TableSize, 0x1E000u);
  EXPECT_EQ(t->UserCount, 3u);
  for (int d : {1, 2}) {
    const corvan::SharedDeviceBlock& b = t->Devices[d];
    EXPECT_EQ(b.FirstOpenDone, 1u) << d;
    EXPECT_EQ(b.CardType, 6) << d;
    EXPECT_EQ(b.Location, d == 1 ? 4u : 5u) << d;
    EXPECT_EQ(b.DprCardBase, 0x6C000u) << d;
    EXPECT_EQ(b.DprSetUpDone, 1u) << d;
    EXPECT_STREQ(b.FirmwareVersion, "1.17") << d;
  }
  ExpectInitial(t->Devices[3], 2, 0xFFFFFFFF);
  EXPECT_EQ(t->Devices[3].FirstOpenDone, 0u);
  EXPECT_EQ(t->Devices[3].TransportUserPids[0], 0u);
  ExpectInitial(t->Devices[4], 1, 0xFFFFFFFF);
}

TEST_F(SharedTableCreationTest, NoTableIsAFailure) {
  // Another process holds a section of that name too small to be the table.
  auto squatter = platform::FileMapping::Create(corvan::kSharedTableName, 4096);
  ASSERT_TRUE(squatter.ok());
  EXPECT_FALSE(CreateSharedDeviceTable(cards_).ok());
}

}  // namespace
}  // namespace zimo::server
