// The device life cycle: numbering and names, failed starts, removal with
// open handles, stop, surprise removal, power, and requests the driver does
// not serve.
#include <chrono>
#include <future>
#include <thread>

#include "platform/debug.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::chrono_literals;
using PciLifecycleTest = PciTest;

TEST_F(PciLifecycleTest, CardsAreNumberedInOrderOfArrival) {
  const int a = AddCard();
  const int b = AddSpran();
  host::CardInfo first, second;
  host_->GetCard(a, &first);
  host_->GetCard(b, &second);
  EXPECT_EQ(first.device_name, "ZimoPCI0");
  EXPECT_EQ(second.device_name, "ZimoPCI1");
  const auto links = host_->kernel().SymbolicLinks();
  EXPECT_NE(std::find(links.begin(), links.end(), "\\DosDevices\\ZimoPCI1"), links.end());
  // Names compare without regard to case.
  std::shared_ptr<kernel::FileObject> file;
  EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\zimopci1", &file), kernel::kStatusSuccess);
  host_->kernel().CloseFile(file);
}

TEST_F(PciLifecycleTest, AFailedAddUsesUpItsNumber) {
  host_->kernel().InjectFault(kernel::FaultPoint::kCreateSymbolicLink,
                              kernel::kStatusInsufficientResources);
  int card = -1;
  EXPECT_EQ(host_->AddCard({}, &card), kernel::kStatusInsufficientResources);
  EXPECT_TRUE(host_->Cards().empty());
  AddCard();
  EXPECT_EQ(host_->Cards()[0].device_name, "ZimoPCI1");
}

TEST_F(PciLifecycleTest, MissingResourcesFailTheStart) {
  for (bool irq : {false, true}) {
    host::CardConfig config;
    config.interrupt = irq;
    config.dpr = !irq;  // one of the two missing
    int card = -1;
    EXPECT_EQ(host_->AddCard(config, &card), kernel::kStatusDeviceConfigurationError);
  }
  EXPECT_TRUE(host_->Cards().empty());
  EXPECT_TRUE(host_->kernel().SymbolicLinks().empty());  // the failed devices were removed
}

TEST_F(PciLifecycleTest, ACardThatDoesNotAnswerIsNotStartedAndLogged) {
  host::CardConfig config;
  config.absent = true;
  int card = -1;
  EXPECT_EQ(host_->AddCard(config, &card), kernel::kStatusDeviceConfigurationError);
  const auto log = host_->kernel().ErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].error_code, 0xC0040003u);
  EXPECT_EQ(log[0].unique_value, 1003u);
  EXPECT_EQ(log[0].final_status, kernel::kStatusUnsuccessful);
  EXPECT_EQ(log[0].strings, (std::vector<std::string>{"ZIMOPCI", "Unable to detect device on port."}));
}

TEST_F(PciLifecycleTest, RemovalWaitsForTheOpenHandleAndRefusesNewRequests) {
  const int card = AddCard();
  auto removal = std::async(std::launch::async, [&] { return host_->RemoveCard(card); });
  EXPECT_EQ(removal.wait_for(100ms), std::future_status::timeout);
  // While the removal waits, the device refuses requests and opens.
  Reply refused;
  for (int i = 0; i < 500; ++i) {
    refused = Query(IOCTL_ZIMO_BUS_READ_READY);
    if (refused.status == kernel::kStatusDeletePending) break;
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(refused.status, kernel::kStatusDeletePending);
  std::shared_ptr<kernel::FileObject> second;
  EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\ZimoPCI0", &second), kernel::kStatusDeletePending);
  host_->kernel().CloseFile(files_[0]);
  files_.clear();
  ASSERT_EQ(removal.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(removal.get(), kernel::kStatusSuccess);
  EXPECT_TRUE(host_->kernel().SymbolicLinks().empty());
  EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\ZimoPCI0", &second), kernel::kStatusObjectNameNotFound);
}

TEST_F(PciLifecycleTest, StopReleasesTheCardAndStartTakesItAgain) {
  const int card = AddCard();
  ASSERT_EQ(host_->StopCard(card), kernel::kStatusSuccess);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 0u);
  EXPECT_EQ(SendLine("I10"), kLineTimeout);  // no port any more
  ASSERT_EQ(host_->StartCard(card), kernel::kStatusSuccess);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 1u);
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
}

TEST_F(PciLifecycleTest, StopWithoutQueryStopStillStops) {
  const int card = AddCard();
  platform::DebugCapture debug;
  EXPECT_EQ(host_->kernel().SendPnp(host_->PhysicalDevice(card), kernel::pnp::kStopDevice),
            kernel::kStatusSuccess);
  EXPECT_TRUE(debug.Contains("ZIMOPCI: STOP with no previous QUERY_STOP!\n"));
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 0u);
}

TEST_F(PciLifecycleTest, CancelledRemovalKeepsTheDeviceWorking) {
  const int card = AddCard();
  kernel::DeviceObject* pdo = host_->PhysicalDevice(card);
  EXPECT_EQ(host_->kernel().SendPnp(pdo, kernel::pnp::kQueryRemoveDevice), kernel::kStatusSuccess);
  EXPECT_EQ(host_->kernel().SendPnp(pdo, kernel::pnp::kCancelRemoveDevice), kernel::kStatusSuccess);
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
}

TEST_F(PciLifecycleTest, SurpriseRemovalEndsWithTheLastHandle) {
  const int card = AddCard();
  auto removal = std::async(std::launch::async, [&] { return host_->SurpriseRemoveCard(card); });
  EXPECT_EQ(removal.wait_for(100ms), std::future_status::timeout);
  host_->kernel().CloseFile(files_[0]);
  files_.clear();
  ASSERT_EQ(removal.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(host_->Cards().empty());
}

TEST_F(PciLifecycleTest, PowerFollowsTheSystemStateAndLeavesTheCardAlone) {
  const int card = AddCard();
  kernel::DeviceObject* fdo = host_->kernel().GetAttachedDevice(host_->PhysicalDevice(card));
  EXPECT_EQ(host_->SetSystemPower(card, kernel::SystemPowerState::kSleeping3), kernel::kStatusSuccess);
  EXPECT_EQ(fdo->device_power_state(), kernel::DevicePowerState::kD3);
  EXPECT_EQ(fdo->system_power_state(), kernel::SystemPowerState::kSleeping3);
  EXPECT_EQ(host_->SetSystemPower(card, kernel::SystemPowerState::kWorking), kernel::kStatusSuccess);
  EXPECT_EQ(fdo->device_power_state(), kernel::DevicePowerState::kD0);
  EXPECT_EQ(fdo->system_power_state(), kernel::SystemPowerState::kWorking);
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
}

TEST_F(PciLifecycleTest, CodesTheDriverDoesNotServe) {
  AddCard();
  for (uint32_t code : {0x1D0800u, IOCTL_ZIMO_ADD_EVENT, IOCTL_ZIMO_RESET_CARD,
                        IOCTL_ZIMO_ROT_PUT, IOCTL_ZIMO_HOSTROT_PUT, 0x1D095Cu}) {
    SCOPED_TRACE(code);
    Reply r = Ioctl(code, std::vector<uint8_t>(8, 1), 8);
    EXPECT_EQ(r.status, kernel::kStatusInvalidDeviceRequest);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, std::vector<uint8_t>(8, 0xEE));
  }
  // The reserved codes succeed and hand the buffer back as it came.
  Reply reserved = Ioctl(IOCTL_ZIMO_RESERVED_8DC, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}, 8);
  EXPECT_EQ(reserved.status, kernel::kStatusSuccess);
  EXPECT_EQ(reserved.count, 8u);
  EXPECT_EQ(reserved.out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
}  // namespace zimo::drivers::testing
