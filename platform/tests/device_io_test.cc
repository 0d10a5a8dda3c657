// The DeviceIoControl client against a stand-in for the driver host that
// speaks the same frames.
#include "platform/device_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "platform/win_error.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

namespace wire = device_io_wire;
using namespace std::chrono_literals;

// Serves one connection of device `name`: answers the open with
// `open_status`, then each request with what `answer` returns.
class FakeDevice {
 public:
  using Answer = std::function<void(wire::Request&, UnixConnection&)>;
  FakeDevice(const std::string& name, int32_t open_status, Answer answer)
      : listener_(UnixListener::Listen(DeviceSocketPath(name)).value()) {
    thread_ = std::thread([this, open_status, answer] {
      auto c = listener_.Accept(10s);
      if (!c.ok()) return;
      (void)wire::WriteOpenReply(*c, open_status);
      for (;;) {
        auto r = wire::ReadRequest(*c);
        if (!r.ok()) break;
        requests_.push_back(*r);
        answer(*r, *c);
      }
    });
  }
  ~FakeDevice() {
    listener_.Interrupt();
    thread_.join();
  }
  std::vector<wire::Request> requests_;  // read after the client closed

 private:
  UnixListener listener_;
  std::thread thread_;
};

class DeviceIoTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
};

TEST_F(DeviceIoTest, DevicePathsAndTheirSockets) {
  EXPECT_EQ(DeviceNameOfPath("\\\\.\\ZimoPCI0"), "ZimoPCI0");
  EXPECT_EQ(DeviceNameOfPath("\\\\.\\ZIMOISA3"), "ZIMOISA3");
  EXPECT_EQ(DeviceNameOfPath("//./ZimoUSB1"), "ZimoUSB1");
  EXPECT_EQ(DeviceNameOfPath("C:\\ZimoPCI0"), "");
  EXPECT_EQ(DeviceNameOfPath("\\\\.\\a\\b"), "");
  EXPECT_EQ(DeviceSocketPath("ZIMOpci0"), DeviceSocketPath("zimopci0"));
}

TEST_F(DeviceIoTest, OpenFailures) {
  EXPECT_EQ(DeviceFile::Open("\\\\.\\ZimoPCI7").status().code(), Code::kNotFound);
  EXPECT_EQ(DeviceFile::Open("not a device").status().code(), Code::kNotFound);
  FakeDevice refusing("ZimoPCI0", static_cast<int32_t>(0xC0000056), [](auto&, auto&) {});
  int32_t refused = 0;
  auto f = DeviceFile::Open("\\\\.\\zimopci0", &refused);
  EXPECT_EQ(f.status().code(), Code::kClosed);
  EXPECT_EQ(static_cast<uint32_t>(refused), 0xC0000056u);
}

TEST_F(DeviceIoTest, ARequestCarriesInputOutputContentsAndHandleNames) {
  std::vector<wire::Request> seen;
  {
    FakeDevice device("ZimoPCI0", 0, [](wire::Request& r, UnixConnection& c) {
      const std::vector<uint8_t> back = {9, 8, 7};
      (void)wire::WriteReply(c, 0, 0xC0000000u, back);
    });
    auto f = DeviceFile::Open("\\\\.\\ZimoPCI0");
    ASSERT_TRUE(f.ok()) << f.status().ToString();
    const uint32_t ipos = EventHandleForDriver("ZIMO0IPOS");
    EXPECT_EQ(EventHandleForDriver("ZIMO0IPOS"), ipos);
    const uint32_t other = EventHandleForDriver("ZIMO0BREQ");
    ReleaseEventHandleForDriver(other);
    uint32_t input[3] = {ipos, 0x12345678, other};
    uint8_t output[6] = {1, 2, 3, 4, 5, 6};
    IoControlResult r = f->DeviceIoControl(0x1D0904, input, sizeof(input), output, sizeof(output));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes_returned, 0xC0000000u);  // a value carried in the count
    EXPECT_EQ(std::vector<uint8_t>(output, output + 6), (std::vector<uint8_t>{9, 8, 7, 4, 5, 6}));
    f->Close();
    seen = device.requests_;
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, 0x1D0904u);
  EXPECT_EQ(seen[0].input.size(), 12u);
  EXPECT_EQ(seen[0].output, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  // Only the registered handle travels with its name.
  ASSERT_EQ(seen[0].handles.size(), 1u);
  EXPECT_EQ(seen[0].handles[0].second, "ZIMO0IPOS");
}

TEST_F(DeviceIoTest, FailuresAndBrokenReplies) {
  int calls = 0;
  FakeDevice device("ZimoPCI0", 0, [&calls](wire::Request&, UnixConnection& c) {
    if (++calls == 1) {
      (void)wire::WriteReply(c, static_cast<int32_t>(0xC0000010), 0, {});
    } else {
      const uint32_t junk = 0xDEADBEEF;
      (void)c.SendAll(&junk, sizeof(junk));
      c.Shutdown();
    }
  });
  auto f = DeviceFile::Open("\\\\.\\ZimoPCI0");
  ASSERT_TRUE(f.ok());
  IoControlResult r = f->DeviceIoControl(0x1D0FFC, nullptr, 0, nullptr, 0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, win32::kErrorInvalidFunction);
  r = f->DeviceIoControl(0x1D0884, nullptr, 0, nullptr, 0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, win32::kErrorGenFailure);
  EXPECT_FALSE(f->is_open());
  r = f->DeviceIoControl(0x1D0884, nullptr, 0, nullptr, 0);
  EXPECT_EQ(r.error, win32::kErrorInvalidHandle);
}

TEST(NtStatusTest, Win32Errors) {
  EXPECT_EQ(Win32ErrorFromNtStatus(static_cast<int32_t>(0xC000000D)), win32::kErrorInvalidParameter);
  EXPECT_EQ(Win32ErrorFromNtStatus(static_cast<int32_t>(0xC0000001)), win32::kErrorGenFailure);
  EXPECT_EQ(Win32ErrorFromNtStatus(0), win32::kErrorSuccess);
}

}  // namespace
}  // namespace zimo::platform
