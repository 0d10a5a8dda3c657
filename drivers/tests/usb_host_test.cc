// A USB card as user mode sees it: zimo-drvhost serving a simulated USB
// card, reached through the platform's DeviceIoControl client.
#include <chrono>
#include <cstring>
#include <thread>

#include "drivers/zimo_ioctl.h"
#include "host_process.h"
#include "platform/device_io.h"
#include "platform/registry.h"
#include "usb/maintenance_ioctl.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::chrono_literals;
using platform::DeviceFile;
using platform::IoControlResult;

DeviceFile OpenDevice(const std::string& path) {
  auto file = DeviceFile::Open(path);
  EXPECT_TRUE(file.ok()) << file.status().ToString();
  return file.ok() ? std::move(file.value()) : DeviceFile();
}

IoControlResult Call(DeviceFile& f, uint32_t code, const std::string& text = {}) {
  return f.DeviceIoControl(code, text.empty() ? nullptr : text.c_str(),
                           text.empty() ? 0 : static_cast<uint32_t>(text.size() + 1), nullptr, 0);
}

LineIoBlock GetLine(DeviceFile& f) {
  LineIoBlock line{};
  line.requested = 256;
  IoControlResult r =
      f.DeviceIoControl(IOCTL_ZIMO_BUS_GET_LINE, &line, sizeof(line), &line, sizeof(line));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes_returned, sizeof(line));
  return line;
}

// Sends a command and collects the reply's lines.
std::vector<LineIoBlock> Exchange(DeviceFile& f, const std::string& command) {
  Call(f, IOCTL_ZIMO_BUS_FLUSH);
  Call(f, IOCTL_ZIMO_BUS_SEND_LINE, command);
  std::vector<LineIoBlock> lines;
  do {
    lines.push_back(GetLine(f));
  } while (lines.back().status == kLineCr && lines.size() < 1000);
  return lines;
}

void WriteDpr(DeviceFile& f, uint32_t offset, const std::vector<uint8_t>& data) {
  uint32_t argument = offset;
  const IoControlResult r = f.DeviceIoControl(IOCTL_ZIMO_DPR_WRITE, data.data(),
                                              static_cast<uint32_t>(data.size()), &argument, 4);
  EXPECT_TRUE(r.ok);
}

class UsbHostTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
};

TEST_F(UsbHostTest, TheTextChannelOfAUsbCard) {
  HostProcess host({"usb older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoUSB0");
  ASSERT_TRUE(f.is_open());

  // An open program buffer swallows commands until the reset's CLOSE.
  Exchange(f, "OPEN PROG 1");
  std::vector<LineIoBlock> lines = Exchange(f, "I10");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].status, kLineEnd);
  EXPECT_EQ(lines[0].count, 0u);
  EXPECT_TRUE(Call(f, IOCTL_ZIMO_RESET_CARD).ok);
  lines = Exchange(f, "I10");
  EXPECT_STREQ(lines[0].text, "3713707\r");

  char version[kVersionBytes] = {};
  IoControlResult r =
      f.DeviceIoControl(IOCTL_ZIMO_GET_VERSION, nullptr, 0, version, sizeof(version));
  EXPECT_EQ(r.bytes_returned, 6u);
  EXPECT_STREQ(version, "1.16F");

  lines = Exchange(f, "I10..11");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].status, kLineCr);
  EXPECT_EQ(lines[1].status, kLineCr);
  EXPECT_STREQ(lines[1].text, "10\r");
  EXPECT_EQ(lines[2].status, kLineEnd);
  EXPECT_EQ(lines[2].count, 0u);

  ASSERT_EQ(host.Command("error 0 15"), "ok");
  lines = Exchange(f, "I10");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].status, kLineError);
  EXPECT_EQ(Call(f, IOCTL_ZIMO_BUS_GET_ERROR).bytes_returned, 15u);

  // A reply of 21000 bytes: the X halves of 3000 DPR words, written first.
  std::vector<uint8_t> dpr(16384);
  for (size_t i = 0; i < dpr.size(); ++i) dpr[i] = static_cast<uint8_t>(i * 31 + i / 97);
  WriteDpr(f, 0, dpr);
  std::string expected;
  for (size_t w = 0; w < 3000; ++w) {
    char word[8];
    std::snprintf(word, sizeof(word), "%06X", dpr[4 * w + 2] | dpr[4 * w + 3] << 8);
    expected += word;
    expected += (w % 16 == 15 || w == 2999) ? '\r' : ' ';
  }
  std::string got;
  for (const LineIoBlock& line : Exchange(f, "RHX$D000,3000")) got.append(line.text, line.count);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

TEST_F(UsbHostTest, MemoryMaintenanceAndRemoval) {
  HostProcess host({"usb older"});
  {
    DeviceFile f = OpenDevice("\\\\.\\zimousb0");
    ASSERT_TRUE(f.is_open());
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    WriteDpr(f, 0x0200, data);
    std::vector<uint8_t> back(data.size());
    uint32_t offset = 0x0200;
    IoControlResult r = f.DeviceIoControl(IOCTL_ZIMO_DPR_READ, &offset, 4, back.data(),
                                          static_cast<uint32_t>(back.size()));
    EXPECT_EQ(r.bytes_returned, data.size());
    EXPECT_TRUE(back == data);

    usb::DriverVersion version{};
    r = f.DeviceIoControl(usb::IOCTL_ZIMOUSB_GET_DRIVER_VERSION, nullptr, 0, &version, 6);
    EXPECT_EQ(r.bytes_returned, 6u);
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minor, 1);
    EXPECT_EQ(version.build, 0);

    // An isochronous stream fills its ring; a read returns the packets
    // followed by their descriptors.
    const usb::IsoParameters stream{3, 16, 8, 4, 2};
    ASSERT_TRUE(
        f.DeviceIoControl(usb::IOCTL_ZIMOUSB_START_ISO_STREAM, &stream, sizeof(stream), nullptr, 0)
            .ok);
    const usb::IsoParameters read{3, 16, 8, 0, 0};
    std::vector<uint8_t> ring(8 * (16 + 12));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
      std::this_thread::sleep_for(20ms);
      r = f.DeviceIoControl(usb::IOCTL_ZIMOUSB_READ_ISO_BUFFER, &read, sizeof(read), ring.data(),
                            static_cast<uint32_t>(ring.size()));
    } while (r.bytes_returned != ring.size() && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(r.bytes_returned, ring.size());
    for (size_t i = 0; i < 8; ++i) {
      usb::IsoPacketDescriptor d;
      std::memcpy(&d, ring.data() + 8 * 16 + 12 * i, sizeof(d));
      EXPECT_EQ(d.offset, (i % 4) * 16);
      EXPECT_EQ(d.length, 16u);
      EXPECT_EQ(d.status, 0u);
    }
    EXPECT_TRUE(f.DeviceIoControl(usb::IOCTL_ZIMOUSB_STOP_ISO_STREAM, nullptr, 0, nullptr, 0).ok);
  }
  ASSERT_EQ(host.Command("remove 0"), "ok");
  auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine,
                                         "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Zimousb0",
                                         platform::kKeyRead);
  ASSERT_TRUE(key.ok()) << key.status().ToString();
  auto value = key->GetDword("InstallError");
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(*value, 1011u);
  EXPECT_FALSE(DeviceFile::Open("\\\\.\\ZimoUSB0", nullptr, 2s).ok());
}

}  // namespace
}  // namespace zimo::drivers::testing
