// ZimoUSB's life cycle: device numbers and names, the registry value, opens
// before and after the start, stop and restart, capabilities, power, and
// removal with and without a start.
#include <thread>

#include "cardsim/card_model.h"
#include "host/sim_usb_function.h"
#include "kernel/usb_bus.h"
#include "usb/zimo_usb.h"
#include "usb_fixture.h"

namespace zimo::drivers::testing {
namespace {

// The kernel, the USB bus and ZimoUSB without the host, so a test can send
// the plug-and-play requests one by one.
class UsbBareTest : public ::testing::Test {
 protected:
  UsbBareTest()
      : kernel_(kernel::HardwareAccess{}),
        bus_(kernel_, "UsbHub"),
        card_(cardsim::CardModel::Older()),
        port_(card_),
        function_(std::make_shared<host::SimUsbFunction>(port_)) {
    EXPECT_EQ(kernel_.LoadDriver(
                  "ZimoUSB", &usb::ZimoUsbDriverEntry,
                  "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZimoUSB", &driver_),
              kernel::kStatusSuccess);
  }
  ~UsbBareTest() override {
    if (file_) kernel_.CloseFile(file_);
    for (kernel::DeviceObject* pdo : pdos_) bus_.DeleteChild(pdo);
    kernel_.UnloadDriver(driver_);
  }

  kernel::DeviceObject* Plug() {
    kernel::DeviceObject* pdo =
        bus_.CreateChild(function_, kernel::BusDriver::DefaultCapabilities());
    pdos_.push_back(pdo);
    EXPECT_EQ(driver_->add_device(driver_, pdo), kernel::kStatusSuccess);
    return pdo;
  }
  void Remove(kernel::DeviceObject* pdo) {
    kernel_.SendPnp(pdo, kernel::pnp::kRemoveDevice);
    bus_.DeleteChild(pdo);
    std::erase(pdos_, pdo);
  }
  bool HasLink(const std::string& name) {
    for (const std::string& link : kernel_.SymbolicLinks()) {
      if (link == "\\DosDevices\\" + name) return true;
    }
    return false;
  }

  zimo::testing::TempHome home_;
  kernel::Kernel kernel_;
  kernel::UsbBus bus_;
  cardsim::Card card_;
  cardsim::UsbAttachment port_;
  std::shared_ptr<host::SimUsbFunction> function_;
  kernel::DriverObject* driver_ = nullptr;
  std::vector<kernel::DeviceObject*> pdos_;
  std::shared_ptr<kernel::FileObject> file_;
};

TEST_F(UsbBareTest, OpensAreRefusedUntilTheStart) {
  kernel::DeviceObject* pdo = Plug();
  EXPECT_TRUE(HasLink("Zimo0"));
  EXPECT_TRUE(HasLink("Zimousb0"));
  EXPECT_EQ(InstallError(0), 0);
  EXPECT_EQ(kernel_.OpenFile("\\\\.\\ZimoUSB0", &file_), kUnsuccessful);

  ASSERT_EQ(kernel_.SendPnp(pdo, kernel::pnp::kStartDevice), kernel::kStatusSuccess);
  EXPECT_EQ(port_.configuration(), 1);
  ASSERT_EQ(kernel_.OpenFile("\\\\.\\ZimoUSB0", &file_), kernel::kStatusSuccess);

  // Removal with the handle still open: the device goes, the handle's
  // requests fail, the registry tells that a started device went.
  Remove(pdo);
  EXPECT_FALSE(HasLink("Zimo0"));
  EXPECT_FALSE(HasLink("Zimousb0"));
  EXPECT_EQ(InstallError(0), 1011);
  std::vector<uint8_t> out;
  const kernel::DeviceIoResult r =
      kernel_.DeviceIoControl(*file_, IOCTL_ZIMO_BUS_READ_READY, {}, out);
  EXPECT_EQ(r.status, kUnsuccessful);
}

TEST_F(UsbBareTest, RemovalBeforeAnyStartFreesTheNames) {
  Remove(Plug());
  EXPECT_TRUE(kernel_.SymbolicLinks().empty());
  EXPECT_EQ(InstallError(0), 0);  // never started
  // The number is free again.
  Plug();
  EXPECT_TRUE(HasLink("Zimousb0"));
}

TEST_F(UsbBareTest, CapabilitiesAllowSurpriseRemoval) {
  kernel::DeviceObject* pdo = Plug();
  kernel::DeviceCapabilities caps;
  ASSERT_EQ(kernel_.SendPnp(pdo, kernel::pnp::kQueryCapabilities, nullptr, &caps),
            kernel::kStatusSuccess);
  EXPECT_NE(caps.flags & (1u << 9), 0u);
  caps = kernel::DeviceCapabilities{};
  caps.version = 0;  // asks for nothing the driver keeps: passed down untouched
  kernel_.SendPnp(pdo, kernel::pnp::kQueryCapabilities, nullptr, &caps);
  EXPECT_EQ(caps.flags & (1u << 9), 0u);
}

TEST_F(UsbTest, DevicesTakeTheFirstFreeNumber) {
  const int a = AddCard(), b = AddCard(), c = AddCard();
  host::CardInfo info;
  for (auto [card, name] : {std::pair{a, "Zimousb0"}, {b, "Zimousb1"}, {c, "Zimousb2"}}) {
    ASSERT_TRUE(host_->GetCard(card, &info));
    EXPECT_EQ(info.device_name, name);
  }
  host_->kernel().CloseFile(files_[0]);
  files_[0].reset();
  ASSERT_EQ(host_->RemoveCard(a), kernel::kStatusSuccess);
  const int d = AddCard();
  ASSERT_TRUE(host_->GetCard(d, &info));
  EXPECT_EQ(info.device_name, "Zimousb0");
  // Both names open the device.
  std::shared_ptr<kernel::FileObject> file;
  EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\zimo1", &file), kernel::kStatusSuccess);
  host_->kernel().CloseFile(file);
}

TEST_F(UsbTest, AFailedStartStillLeavesTheRemovalsTrace) {
  host::CardConfig config = UsbCard();
  config.absent = true;  // nothing answers on the bus
  int card = -1;
  EXPECT_EQ(host_->AddCard(config, &card), kUnsuccessful);
  EXPECT_TRUE(host_->kernel().SymbolicLinks().empty());
  EXPECT_EQ(InstallError(0), 1011);
}

TEST_F(UsbTest, StopUnconfiguresAndAStartConfiguresAgain) {
  const int card = AddCard();
  EXPECT_GT(Query(usb::IOCTL_ZIMOUSB_GET_PIPE_INFO, 256).count, 0u);
  ASSERT_EQ(host_->StopCard(card), kernel::kStatusSuccess);
  EXPECT_EQ(Port(card).configuration(), 0);
  EXPECT_EQ(Query(usb::IOCTL_ZIMOUSB_GET_PIPE_INFO, 256).count, 0u);
  Open(card);  // the device stays open for business after a stop
  ASSERT_EQ(host_->StartCard(card), kernel::kStatusSuccess);
  EXPECT_EQ(Port(card).configuration(), 1);
  EXPECT_EQ(Exchange("I10")[0].count, 8u);
  // Power requests go down to the bus unchanged.
  EXPECT_EQ(host_->SetSystemPower(card, kernel::SystemPowerState::kSleeping1),
            kernel::kStatusSuccess);
  EXPECT_EQ(host_->PhysicalDevice(card)->system_power_state(),
            kernel::SystemPowerState::kSleeping1);
}

TEST_F(UsbTest, RemovalEndsARunningStream) {
  const int card = AddCard();
  const usb::IsoParameters p{3, 32, 16, 4, 2};
  ASSERT_EQ(Ioctl(usb::IOCTL_ZIMOUSB_START_ISO_STREAM, RecordBytes(p)).status,
            kernel::kStatusSuccess);
  host_->kernel().CloseFile(files_[0]);
  files_.clear();
  EXPECT_EQ(host_->SurpriseRemoveCard(card), kernel::kStatusSuccess);
  EXPECT_EQ(InstallError(0), 1011);
}

}  // namespace
}  // namespace zimo::drivers::testing
