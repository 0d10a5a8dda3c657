#include "link/serial_setup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/device_registry.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

namespace dcb = platform::dcb;

constexpr int kDevice = 2;
constexpr std::uint32_t kComEnumeration = 3;

class SerialSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pty = platform::OpenPtyPair();
    ASSERT_TRUE(pty.ok()) << pty.status().ToString();
    pty_ = std::move(*pty);
    auto port = platform::SerialPort::Open(pty_.slave_path.string());
    ASSERT_TRUE(port.ok()) << port.status().ToString();
    port_ = std::move(*port);
    block_ = std::make_unique<SharedDeviceBlock>();
    std::memset(block_.get(), 0, sizeof *block_);
    ASSERT_EQ(RegisterDevice(kDevice, kLocationSerial, kComEnumeration, nullptr), 1);
  }

  void Store(const char* name, std::uint32_t value) {
    ASSERT_EQ(SetLocationRegDword(kLocationSerial, kComEnumeration, name, value), 1);
  }

  testing::TempHome home_;
  platform::PtyPair pty_;
  platform::SerialPort port_;
  std::unique_ptr<SharedDeviceBlock> block_;
};

TEST_F(SerialSetup, DefaultsGiveEightDataBitsOneStopBitAndHandshakeLines) {
  ASSERT_EQ(SetupSerialPort(kDevice, *block_, port_), 1);
  const SharedDeviceBlock& b = *block_;
  EXPECT_EQ(b.SerialPortNumber, 0u);
  EXPECT_EQ(b.SerialBaudrate, 38400u);
  EXPECT_EQ(b.SerialParity, 0u);
  EXPECT_EQ(b.SerialRTSControl, 1u);
  EXPECT_EQ(b.SerialCTSOutput, 1u);
  EXPECT_EQ(b.SerCharTimeout, 2000u);
  EXPECT_EQ(b.SerFlushTimeout, 30u);

  const SerialDcbRecord& d = b.SerialDcb;
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 38400u);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, dcb::kNoParity);
  EXPECT_EQ(d.StopBits, dcb::kOneStopBit);
  EXPECT_NE(d.Flags & kDcbBinary, 0u);
  EXPECT_NE(d.Flags & kDcbOutxCtsFlow, 0u);
  EXPECT_EQ((d.Flags & kDcbRtsControlMask) >> kDcbRtsControlShift, dcb::kRtsControlEnable);
  EXPECT_EQ(
      d.Flags & (kDcbOutxDsrFlow | kDcbDtrControlMask | kDcbDsrSensitivity | kDcbOutX | kDcbInX),
      0u);
  // CR is the stored event character, for the next apply; the port has the
  // settings as they were applied before.
  EXPECT_EQ(d.EvtChar, '\r');
  auto on_port = port_.GetCommState();
  ASSERT_TRUE(on_port.ok());
  EXPECT_EQ(on_port->baud_rate, 38400u);
  EXPECT_EQ(on_port->evt_char, 0);

  const SerialTimeoutsRecord& t = b.SerialTimeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 1000u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 2000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
  EXPECT_EQ(port_.GetCommTimeouts().read_total_timeout_constant, 2000u);
  EXPECT_EQ(port_.GetCommTimeouts().write_total_timeout_constant, 1000u);
}

TEST_F(SerialSetup, StoredSettingsShapeTheLine) {
  struct Case {
    std::uint32_t baud, parity, rts, cts;
    std::uint8_t byte_size, stop_bits;
    std::uint32_t rts_control;
    bool cts_flow;
  };
  const Case cases[] = {
      {115200, 2, 7, 0, 7, dcb::kTwoStopBits, dcb::kRtsControlEnable, false},
      {57600, 0, 2, 3, 8, dcb::kOneStopBit, dcb::kRtsControlHandshake, true},
      {9600, 1, 0, 2, 7, dcb::kOneStopBit, dcb::kRtsControlDisable, false},
      {230400, 0, 3, 1, 8, dcb::kTwoStopBits, dcb::kRtsControlToggle, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    Store("SerialBaudrate", c.baud);
    Store("SerialParity", c.parity);
    Store("SerialRTSControl", c.rts);
    Store("SerialCTSOutput", c.cts);
    ASSERT_EQ(SetupSerialPort(kDevice, *block_, port_), 1);
    const SerialDcbRecord& d = block_->SerialDcb;
    EXPECT_EQ(d.BaudRate, c.baud);
    EXPECT_EQ(d.Parity, c.parity);
    EXPECT_EQ(d.ByteSize, c.byte_size);
    EXPECT_EQ(d.StopBits, c.stop_bits);
    EXPECT_EQ((d.Flags & kDcbRtsControlMask) >> kDcbRtsControlShift, c.rts_control);
    EXPECT_EQ((d.Flags & kDcbOutxCtsFlow) != 0, c.cts_flow);
    EXPECT_EQ(block_->SerialRTSControl, c.rts);  // the stored copy is as read
  }
}

TEST_F(SerialSetup, FailingPortCallStopsWithZeroAndSaysWhich) {
  port_.Close();
  Store("SerialBaudrate", 19200);
  platform::DebugCapture debug;
  EXPECT_EQ(SetupSerialPort(kDevice, *block_, port_), 0);
  EXPECT_TRUE(debug.Contains("SetupComm() API  failed"));
  // What was read before the failing call stays stored; nothing after it.
  EXPECT_EQ(block_->SerialBaudrate, 19200u);
  EXPECT_EQ(block_->SerCharTimeout, 2000u);
  EXPECT_EQ(block_->SerialDcb.BaudRate, 0u);
  EXPECT_EQ(block_->SerialTimeouts.ReadTotalTimeoutConstant, 0u);
}

TEST_F(SerialSetup, StateRoundTripsAndPortHelpersWork) {
  ASSERT_EQ(ReadSerialState(*block_, port_), 1);
  block_->SerialDcb.BaudRate = 4800;
  ASSERT_EQ(ApplySerialState(*block_, port_), 1);
  EXPECT_EQ(port_.GetCommState()->baud_rate, 4800u);

  block_->SerialDcb.Parity = 9;  // no such parity: refused, port unchanged
  EXPECT_EQ(ApplySerialState(*block_, port_), 0);
  EXPECT_EQ(port_.GetCommState()->baud_rate, 4800u);

  EXPECT_EQ(TransmitSerialChar(port_, 0x18), 1);
  char c = 0;
  ASSERT_EQ(::read(pty_.master.get(), &c, 1), 1);
  EXPECT_EQ(c, 0x18);
  EXPECT_EQ(PurgeSerialPort(port_), 1);

  port_.Close();
  EXPECT_EQ(ReadSerialState(*block_, port_), 0);
  EXPECT_EQ(TransmitSerialChar(port_, 'x'), 0);
}

}  // namespace
}  // namespace zimo::corvan
