#include "corvan/internal/shared_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace zimo::corvan {
namespace {

constexpr std::uint8_t kFill = 0xAB;

// A table whose every byte starts as kFill, so a test sees exactly which
// bytes an initialiser wrote. Fields are read back through the raw bytes at
// the format's offsets, never through the struct, so a misplaced field fails.
class TableBytes {
 public:
  TableBytes() : table_(new SharedDeviceTable) {
    std::memset(table_.get(), kFill, sizeof(SharedDeviceTable));
  }
  SharedDeviceTable& table() { return *table_; }

  template <typename T>
  T At(std::size_t offset) const {
    T v;
    std::memcpy(&v, reinterpret_cast<const std::uint8_t*>(table_.get()) + offset, sizeof v);
    return v;
  }
  std::uint8_t Byte(std::size_t offset) const { return At<std::uint8_t>(offset); }

 private:
  std::unique_ptr<SharedDeviceTable> table_;
};

std::size_t BlockOffset(int slot) {
  return kSharedDeviceBlocksOffset + static_cast<std::size_t>(slot) * kSharedDeviceBlockSize;
}

TEST(SharedTableInit, DeviceSlotGetsItsStartValuesAtTheirOffsets) {
  TableBytes t;
  const int slot = 3;
  ASSERT_TRUE(InitializeDeviceSlot(t.table(), slot, kLocationPci, 2).ok());
  const std::size_t b = BlockOffset(slot);

  struct U32Case {
    std::size_t offset;
    std::uint32_t value;
    const char* what;
  };
  const U32Case u32_cases[] = {
      {0x0000, 7952, "BlockSize"},
      {0x0004, 0, "FirstOpenDone"},
      {0x0080, 1, "CardType"},
      {0x0090, kLocationPci, "Location"},
      {0x0094, 2, "Enumeration"},
      {0x00D4, 0, "SerialLastError"},
      {0x00EC, 0, "DprCardBase"},
      {0x0108, 0, "BackgroundActive"},
      {0x155C, 3713707, "ServoI10"},
      {0x1784, 0, "VbgNextFree"},
      {0x178C, 1, "PlccEnabled"},
      {0x1794, 0, "BootstrapFlag"},
      {0x1798, 0, "LinkList[0]"},
      {0x1798 + 15 * 4, 0, "LinkList[15]"},
      {0x18C0, 1, "GatherPeriod"},
      {0x18D8 + 47 * 4, 0, "GatherSourceEnabled[47]"},
      {0x1D30, 0, "unused word the server clears"},
      {0x1D60, 0, "DprFlushTimeoutMs"},
      {0x1D7C, 0xFFFFFFFF, "EthOwnerSocket"},
      {0x1D80, 0xFFFFFFFF, "EthOwnerProcessId"},
      {0x1D84, 0xFFFFFFFF, "SerialOwnerHandle"},
      {0x1D88, 0xFFFFFFFF, "SerialOwnerProcessId"},
      {0x1F00, 0, "TransportUserCount"},
      {0x1F0C, 0, "HostRotaryMode"},
  };
  for (const auto& c : u32_cases) {
    EXPECT_EQ(t.At<std::uint32_t>(b + c.offset), c.value) << c.what;
  }

  struct F64Case {
    std::size_t offset;
    double value;
    const char* what;
  };
  const F64Case f64_cases[] = {
      {0x1560, 3072.0, "MotorPositionFactor[0]"},
      {0x1560 + 31 * 8, 3072.0, "MotorPositionFactor[31]"},
      {0x1660, 3072.0, "MotorVelocityFactor[0]"},
      {0x1660 + 31 * 8, 3072.0, "MotorVelocityFactor[31]"},
      {0x18B8, 20.0, "GatherSampleTime"},
  };
  for (const auto& c : f64_cases) {
    EXPECT_EQ(t.At<double>(b + c.offset), c.value) << c.what;
  }

  EXPECT_EQ(t.At<std::int16_t>(b + 0x00A0), 0) << "BusLastError";
  EXPECT_EQ(t.At<std::int16_t>(b + 0x1558), 0) << "DprLastError";
  EXPECT_EQ(t.At<std::uint16_t>(b + 0x00F4), 0) << "DprAsciiEnabled";
  EXPECT_EQ(t.At<std::uint16_t>(b + 0x1760 + 15 * 2), 0) << "RotBufSize[15]";
  EXPECT_EQ(t.Byte(b + 0x0008), 0) << "FirmwareVersion is empty";
  EXPECT_EQ(t.Byte(b + 0x001C), 0) << "FirmwareDate is empty";
  EXPECT_EQ(t.Byte(b + 0x1998 + 47 * 15), 0) << "GatherSourceName[47] is empty";
}

TEST(SharedTableInit, FieldsWithoutStartValuesAndOtherSlotsAreLeftAlone) {
  TableBytes t;
  ASSERT_TRUE(InitializeDeviceSlot(t.table(), 3, kLocationUsb, 0).ok());
  const std::size_t b = BlockOffset(3);
  const std::size_t untouched[] = {
      b + 0x0030,                  // LastErrorText
      b + 0x0084,                  // BoardVariant
      b + 0x00A2,                  // unused
      b + 0x00A4,                  // SerialDcb
      b + 0x00FC,                  // RealTimePeriod
      b + 0x011C,                  // RealTimeCopy
      b + 0x1798 + 64,             // LinkList[16]: only the first sixteen start at 0
      b + 0x18A8,                  // PlcTableBase
      b + 0x1D6C,                  // SerFlushTimeout
      b + 0x1F04,                  // the server's own words
      b - 1,                       // last byte of slot 2
      b + kSharedDeviceBlockSize,  // first byte of slot 4
  };
  for (std::size_t offset : untouched) {
    EXPECT_EQ(t.Byte(offset), kFill) << "offset 0x" << std::hex << offset;
  }
}

TEST(SharedTableInit, OnlyRealDeviceSlotsHaveStartValues) {
  for (int slot : {kOfflineSlot, -1, 9}) {
    TableBytes t;
    platform::Status s = InitializeDeviceSlot(t.table(), slot, kLocationPci, 0);
    EXPECT_EQ(s.code(), platform::Code::kInvalidArgument) << slot;
    EXPECT_NE(s.message().find(std::to_string(slot)), std::string::npos) << s.message();
    EXPECT_EQ(t.At<std::uint32_t>(BlockOffset(kOfflineSlot)), 0xABABABABu) << slot;
  }
}

TEST(SharedTableInit, HeaderAndServerIdentityLandAtTheirOffsets) {
  TableBytes t;
  InitializeTableHeader(t.table(), 0x1234);
  WriteServerIdentity(t.table(), 0xFFFFFFFF, 4321);
  EXPECT_EQ(t.At<std::uint32_t>(0x0), 0x1E000u);
  EXPECT_EQ(t.At<std::uint32_t>(0x4), 0u);
  EXPECT_EQ(t.At<std::uint32_t>(0x152C0), 0x1234u);
  EXPECT_EQ(t.At<std::uint32_t>(0x1DFF4), 0xFFFFFFFFu);
  EXPECT_EQ(t.At<std::uint32_t>(0x1DFF8), 4321u);
  EXPECT_EQ(t.Byte(0x8), kFill) << "the first service record is not part of the header";
}

TEST(SharedTableInit, TableIsLaidOnlyOverAlignedViews) {
  auto table = std::make_unique<SharedDeviceTable>();
  void* view = table.get();
  EXPECT_EQ(SharedTableAt(view), table.get());
  EXPECT_EQ(SharedTableAt(static_cast<char*>(view) + 1), nullptr);
  EXPECT_EQ(SharedTableAt(nullptr), nullptr);
}

}  // namespace
}  // namespace zimo::corvan
