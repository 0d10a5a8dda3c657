// The USB bus against a scripted device: configuration selection, bulk
// transfers with stalls and babbling devices, and aborting scheduled
// isochronous transfers.
#include "kernel/usb_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>

namespace zimo::kernel {
namespace {

using namespace std::chrono_literals;
using usb::Handshake;

// One interface: bulk IN 0x81, bulk OUT 0x02, isochronous IN 0x83.
std::vector<uint8_t> Configuration() {
  std::vector<uint8_t> d = {9, 2, 0,    0, 1,  7,    0, 0x80, 50,  // configuration 7
                            9, 4, 0,    0, 3,  0xFF, 0, 0,    0,   // interface 0, 3 endpoints
                            7, 5, 0x81, 2, 64, 0,    0,            //
                            7, 5, 0x02, 2, 64, 0,    0,            //
                            7, 5, 0x83, 1, 0,  1,    1};
  d[2] = static_cast<uint8_t>(d.size());
  return d;
}

class ScriptedDevice : public usb::UsbFunction {
 public:
  Handshake Control(const usb::SetupPacket& setup, std::span<const uint8_t>,
                    std::vector<uint8_t>* in) override {
    controls.push_back(setup);
    if (setup.request == usb::kSetConfiguration) configuration = setup.value;
    if (in != nullptr && setup.request == usb::kGetDescriptor) {
      *in = Configuration();
      in->resize(std::min<size_t>(in->size(), setup.length));
    }
    return Handshake::kAck;
  }
  Handshake Transfer(uint8_t endpoint, std::span<const uint8_t>, size_t,
                     std::vector<uint8_t>* in) override {
    if (stall_next) {
      stall_next = false;
      return Handshake::kStall;
    }
    if (in != nullptr) in->assign(answer.begin(), answer.end());
    (void)endpoint;
    return Handshake::kAck;
  }
  Handshake IsoPacket(uint8_t, uint32_t frame, std::span<const uint8_t>, size_t in_length,
                      std::vector<uint8_t>* in) override {
    if (in != nullptr) in->assign(in_length, static_cast<uint8_t>(frame));
    return Handshake::kAck;
  }
  void PortReset() override { configuration = 0; }

  std::vector<usb::SetupPacket> controls;
  int configuration = 0;
  bool stall_next = false;
  std::string answer = "abc";
};

class UsbBusTest : public ::testing::Test {
 protected:
  explicit UsbBusTest(std::chrono::microseconds frame = 1ms)
      : kernel_(HardwareAccess{}), bus_(kernel_, "UsbHub", frame) {
    device_ = std::make_shared<ScriptedDevice>();
    pdo_ = bus_.CreateChild(device_, DeviceCapabilities{});
  }
  ~UsbBusTest() override { bus_.DeleteChild(pdo_); }

  // Submits the request block and waits for it; the request's status.
  NTSTATUS Submit(usb::Urb& urb) {
    Irp irp(pdo_->stack_size);
    IoStackLocation& location = irp.NextStackLocation();
    location.major = IrpMajor::kInternalDeviceControl;
    location.io_control_code = usb::kIoctlInternalSubmitUrb;
    location.argument1 = &urb;
    kernel_.CallDriver(pdo_, irp);
    irp.WaitForCompletion();
    return irp.io_status.status;
  }
  usb::InterfaceInfo Configure() {
    const std::vector<uint8_t> config = Configuration();
    const auto offset = usb::ParseConfigurationDescriptor(config, -1, -1);
    EXPECT_TRUE(offset.has_value());
    const size_t offsets[] = {*offset};
    std::optional<usb::Urb> urb = usb::CreateConfigurationRequest(config, offsets);
    EXPECT_TRUE(urb.has_value());
    EXPECT_EQ(Submit(*urb), kStatusSuccess);
    return urb->interfaces.at(0);
  }

  Kernel kernel_;
  UsbBus bus_;
  std::shared_ptr<ScriptedDevice> device_;
  DeviceObject* pdo_ = nullptr;
};

TEST_F(UsbBusTest, SelectingTheConfigurationGivesEachPipeAHandle) {
  const usb::InterfaceInfo info = Configure();
  EXPECT_EQ(device_->configuration, 7);
  ASSERT_EQ(info.pipes.size(), 3u);
  EXPECT_EQ(info.pipes[0].type, usb::PipeType::kBulk);
  EXPECT_EQ(info.pipes[2].type, usb::PipeType::kIsochronous);
  EXPECT_EQ(info.pipes[2].endpoint_address, 0x83);
  EXPECT_NE(info.pipes[0].handle, info.pipes[1].handle);

  // A descriptor that runs past its own end is no configuration.
  std::vector<uint8_t> broken = Configuration();
  broken[18] = 40;
  EXPECT_FALSE(usb::InterfaceAt(broken, 9).has_value());
  // Unconfigured, the old handles are gone.
  usb::Urb none;
  none.function = usb::kFunctionSelectConfiguration;
  EXPECT_EQ(Submit(none), kStatusSuccess);
  EXPECT_EQ(device_->configuration, 0);
  std::vector<uint8_t> buffer(8);
  usb::Urb bulk;
  usb::BuildBulkOrInterruptTransfer(&bulk, info.pipes[0].handle, true, buffer, 8);
  EXPECT_EQ(Submit(bulk), kStatusInvalidParameter);
  EXPECT_EQ(bulk.status, usb::kUsbdInvalidPipeHandle);
}

TEST_F(UsbBusTest, StallsHaltAPipeAndBabbleNeverReachesTheBuffer) {
  const usb::InterfaceInfo info = Configure();
  std::vector<uint8_t> buffer(8, 0xEE);
  usb::Urb urb;
  usb::BuildBulkOrInterruptTransfer(&urb, info.pipes[0].handle, true, buffer, 8);
  ASSERT_EQ(Submit(urb), kStatusSuccess);
  EXPECT_EQ(urb.transfer_length, 3u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3), "abc");

  device_->stall_next = true;
  EXPECT_EQ(Submit(urb), kStatusUnsuccessful);
  EXPECT_EQ(urb.status, usb::kUsbdStall);
  EXPECT_EQ(Submit(urb), kStatusUnsuccessful);
  EXPECT_EQ(urb.status, usb::kUsbdEndpointHalted);
  usb::Urb reset;
  usb::BuildPipeRequest(&reset, usb::kFunctionResetPipe, info.pipes[0].handle,
                        usb::kPipeRequestLength);
  ASSERT_EQ(Submit(reset), kStatusSuccess);
  EXPECT_EQ(device_->controls.back().request, usb::kClearFeature);
  EXPECT_EQ(device_->controls.back().index, 0x81);

  // More than asked for: an overrun, and the buffer keeps what it had.
  device_->answer = "0123456789";
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  usb::BuildBulkOrInterruptTransfer(&urb, info.pipes[0].handle, true, buffer, 8);
  EXPECT_EQ(Submit(urb), kStatusUnsuccessful);
  EXPECT_EQ(urb.status, usb::kUsbdDataOverrun);
  EXPECT_EQ(urb.transfer_length, 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0xEE));

  // A descriptor request announcing more than its buffer holds gets only
  // what fits; the bytes behind the buffer stay untouched.
  std::vector<uint8_t> room(16, 0xEE);
  usb::Urb descriptor;
  usb::BuildGetDescriptorRequest(&descriptor, usb::kDescriptorConfiguration, 0, 0,
                                 std::span(room).first(9));
  descriptor.transfer_length = 100;
  EXPECT_EQ(Submit(descriptor), kStatusSuccess);
  EXPECT_EQ(descriptor.transfer_length, 9u);
  EXPECT_EQ(device_->controls.back().length, 9);
  EXPECT_EQ(std::vector<uint8_t>(room.begin() + 9, room.end()), std::vector<uint8_t>(7, 0xEE));
}

class SlowFramesTest : public UsbBusTest {
 protected:
  SlowFramesTest() : UsbBusTest(std::chrono::milliseconds(200)) {}
};

TEST_F(SlowFramesTest, AbortingAPipeCancelsItsScheduledTransfers) {
  const usb::InterfaceInfo info = Configure();
  struct Pending {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(64);
    usb::Urb urb;
    std::unique_ptr<Irp> irp;
    std::atomic<bool> done{false};
  } pending[3];
  for (Pending& p : pending) {
    p.urb.function = usb::kFunctionIsochTransfer;
    p.urb.pipe = info.pipes[2].handle;
    p.urb.transfer_flags = usb::kTransferStartIsoAsap | usb::kTransferDirectionIn;
    p.urb.buffer = p.buffer;
    p.urb.transfer_length = 64;
    p.urb.packets.resize(4);
    for (uint32_t i = 0; i < 4; ++i) p.urb.packets[i].offset = 16 * i;
    p.irp = std::make_unique<Irp>(pdo_->stack_size);
    IoStackLocation& location = p.irp->NextStackLocation();
    location.major = IrpMajor::kInternalDeviceControl;
    location.io_control_code = usb::kIoctlInternalSubmitUrb;
    location.argument1 = &p.urb;
    p.irp->SetCompletionRoutine([&p](DeviceObject*, Irp&) {
      p.done = true;
      return kStatusMoreProcessingRequired;
    });
    EXPECT_EQ(kernel_.CallDriver(pdo_, *p.irp), kStatusPending);
  }
  // Four frames of 200 ms each are far from over: the abort ends them all.
  usb::Urb abort;
  usb::BuildPipeRequest(&abort, usb::kFunctionAbortPipe, info.pipes[2].handle,
                        usb::kPipeRequestLength);
  ASSERT_EQ(Submit(abort), kStatusSuccess);
  for (Pending& p : pending) {
    EXPECT_TRUE(p.done);
    EXPECT_EQ(p.urb.status, usb::kUsbdCanceled);
  }
}

}  // namespace
}  // namespace zimo::kernel
