// The card's binary rotary buffer seen through zimo-drvhost: the host writes
// a ring into the DPR of a simulated PCI card, the card runs it when the
// control connection steps its servo clock, and the control connection
// reads the motion log and scripts the staged answers.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/zimo_ioctl.h"
#include "host_process.h"
#include "platform/device_io.h"

namespace zimo::drivers::testing {
namespace {

class HostRotaryTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
};

void WriteDpr(platform::DeviceFile& f, uint32_t offset, const std::vector<uint8_t>& bytes) {
  uint32_t where = offset;  // the offset travels in the output buffer
  f.DeviceIoControl(IOCTL_ZIMO_DPR_WRITE, bytes.data(), static_cast<uint32_t>(bytes.size()), &where,
                    sizeof where);
}

std::vector<uint8_t> Le16(uint16_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

TEST_F(HostRotaryTest, ARingWrittenThroughTheDriverRunsAndShowsInTheMotionLog) {
  HostProcess host({"pci older"});
  auto file = platform::DeviceFile::Open("\\\\.\\ZimoPCI0");
  ASSERT_TRUE(file.ok()) << file.status().ToString();
  platform::DeviceFile& f = file.value();
  auto line = [&](const char* text) {
    f.DeviceIoControl(IOCTL_ZIMO_BUS_SEND_LINE, text, static_cast<uint32_t>(std::strlen(text) + 1),
                      nullptr, 0);
  };
  for (const char* text : {"I57=1", "#1->X", "&1B0R"}) line(text);
  // Descriptor 0 (older card, 0x7DC): size 20 words at card address $D480
  // (DPR byte 0x1200); "LINEAR" and "RAPID", then the host index 4.
  WriteDpr(f, 0x7DC + 8, Le16(20));
  WriteDpr(f, 0x7DC + 10, Le16(0xD480));
  WriteDpr(f, 0x1200, {0x80, 0x0F, 0x01, 0x00, 0, 0, 0, 0, 0x80, 0x07, 0x09, 0x00, 0, 0, 0, 0});
  WriteDpr(f, 0x7DC + 4, Le16(4));
  EXPECT_EQ(host.Command("motion-log 0"), "ok");
  ASSERT_EQ(host.Command("servo 0 2"), "ok");
  EXPECT_EQ(host.Command("motion-log 0"), "ok &1 LINEAR|&1 RAPID|");
  EXPECT_EQ(host.Command("clear-motion-log 0"), "ok");
  EXPECT_EQ(host.Command("motion-log 0"), "ok");
  EXPECT_EQ(host.Command("rotary-answer 0 every 3 3:10"), "ok");
  EXPECT_EQ(host.Command("rotary-answer 0 every 0 3"),
            "error rotary-answer every takes N, CODE[:TAKE] and a count");
  EXPECT_EQ(host.Command("rotary-error 0 0 on"), "ok");
  EXPECT_EQ(host.Command("host-rotary 0"), "ok |");
}

}  // namespace
}  // namespace zimo::drivers::testing
