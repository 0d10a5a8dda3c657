// The selection dialog and the device list against the driver host's real
// devices: PCI and ISA cards served in process, reached through the
// platform's device files, the ISA card asked for its resources.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "link/device_registry.h"
#include "logic/available_devices.h"
#include "logic/device_list.h"
#include "logic/device_probe.h"

namespace zimo::corvan::dialogs {
namespace {

namespace host = drivers::host;

class DriverProbeTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    host_ = std::make_unique<host::DriverHost>();
    server_ = std::make_unique<host::DeviceServer>(host_->kernel());
    server_->Start();
  }
  void TearDown() override {
    server_.reset();
    host_.reset();
  }

  int AddCard(host::Bus bus) {
    host::CardConfig config;
    config.bus = bus;
    int card = -1;
    EXPECT_EQ(host_->AddCard(config, &card), 0);
    return card;
  }

  std::unique_ptr<host::DriverHost> host_;
  std::unique_ptr<host::DeviceServer> server_;
  DriverDeviceProbe driver_probe_;
};

TEST_F(DriverProbeTest, PlugAndPlayAndIsaCardsAreFoundAndIsaReportsItsResources) {
  AddCard(host::Bus::kPci);
  const int isa = AddCard(host::Bus::kIsa);
  host::CardInfo info;
  ASSERT_TRUE(host_->GetCard(isa, &info));
  ASSERT_EQ(info.device_name, "ZimoISA0");

  EXPECT_TRUE(driver_probe_.DeviceOpens("\\\\.\\ZIMOPCI0"));
  EXPECT_FALSE(driver_probe_.DeviceOpens("\\\\.\\ZIMOPCI1"));
  EXPECT_FALSE(driver_probe_.DeviceOpens("\\\\.\\ZIMOUSB0"));
  const IsaProbe probe = driver_probe_.ProbeIsa(0);
  ASSERT_TRUE(probe.present);
  ASSERT_TRUE(probe.resources.has_value());
  const std::shared_ptr<host::Slot> slot = host_->machine().Get(isa);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(probe.resources->port, slot->port_base);
  EXPECT_EQ(probe.resources->interrupt & 0xF, slot->level & 0xF);
  EXPECT_NE(probe.resources->dpr_address, 0u);
  EXPECT_FALSE(driver_probe_.ProbeIsa(1).present);

  AvailableDevices dialog(driver_probe_, ui_);
  dialog.Fill();
  ASSERT_EQ(dialog.lines().size(), 2u);
  EXPECT_EQ(dialog.lines()[0], "Zimo PCI0");
  EXPECT_EQ(dialog.lines()[1], "Zimo ISA0, " + FormatIsaResources(*probe.resources));

  // Registered under a device number, the ISA card shows its resources in
  // the device list instead.
  ASSERT_EQ(RegisterDevice(1, kLocationIsa, 0, nullptr), 1);
  DeviceTest tester(ui_);
  DeviceList list(ui_, driver_probe_, tester, nullptr);
  list.Start();
  EXPECT_EQ(list.lines()[1], "ZIMO 01 - ISA0 - " + FormatIsaResources(*probe.resources));
  dialog.Fill();
  EXPECT_EQ(dialog.lines(), std::vector<std::string>{"Zimo PCI0"});
}

TEST(FormatIsaResourcesTest, NumbersInHexAndMissingResourcesAsNA) {
  EXPECT_EQ(FormatIsaResources({0x300, 0x25, 0xD0000}), "Port:0x300, Intr:5, DPRAM:0xD0000");
  EXPECT_EQ(FormatIsaResources({0x210, 0, 0}), "Port:0x210, Intr:N/A, DPRAM:N/A");
  EXPECT_EQ(FormatIsaResources({0x200, 0xF, 0xC8000}), "Port:0x200, Intr:15, DPRAM:0xC8000");
}

}  // namespace
}  // namespace zimo::corvan::dialogs
