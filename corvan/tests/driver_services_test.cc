// The driver services: the service a device's record names is created as a
// kernel driver, started (which starts zimo-drvhost through the launcher
// its binary path names), queried, stopped, reconfigured and deleted, with
// the results of a missing service and the "Driver Error" texts.
#include "corvan/services_api.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "corvan/device_level_api.h"
#include "link/device_level_api.h"
#include "link/driver_services.h"
#include "link/location_settings.h"
#include "pci_card_fixture.h"
#include "platform/message.h"
#include "platform/services.h"

namespace zimo::corvan {
namespace {

using testing::InstallDriverHost;
using testing::WaitForDriverDevice;
using namespace std::chrono_literals;

class DriverServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
    InstallDriverHost("ZimoPCI");
  }
  void TearDown() override {
    // Whatever a test left running goes with it.
    StopDriverService("ZimoPCI");
    App().End();
  }
  // The service's configuration as the service manager keeps it; false when
  // there is no such service.
  bool Config(const std::string& name, platform::ServiceConfig* config) {
    platform::ScHandle manager = 0;
    platform::ScHandle service = 0;
    EXPECT_EQ(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager),
              0);
    const bool found =
        platform::OpenServiceA(manager, name.c_str(), platform::kServiceAllAccess, &service) == 0;
    if (found) platform::QueryServiceConfigA(service, config);
    platform::CloseServiceHandle(service);
    platform::CloseServiceHandle(manager);
    return found;
  }

  zimo::testing::TempHome home_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_boxes_{boxes_};
};

TEST_F(DriverServicesTest, TheDriverServiceStartsAndStopsTheDriverHost) {
  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  platform::ServiceConfig config;
  ASSERT_TRUE(Config("ZimoPCI", &config));
  EXPECT_EQ(config.service_type, platform::kServiceKernelDriver);
  EXPECT_EQ(config.start_type, platform::kServiceSystemStart);
  EXPECT_EQ(config.error_control, platform::kServiceErrorNormal);
  EXPECT_EQ(config.binary_path_name, "\\SystemRoot\\System32\\drivers\\ZimoPCI.SYS");
  EXPECT_EQ(config.load_order_group, "Base");
  EXPECT_TRUE(config.dependencies.empty());
  EXPECT_EQ(DrvIsDriverLoaded(0), 0);

  ASSERT_EQ(DrvLoadKernelDriver(0), 1);
  EXPECT_TRUE(WaitForDriverDevice("ZimoPCI0"));
  EXPECT_EQ(DrvIsDriverLoaded(0), 1);
  EXPECT_EQ(ZimoNTDriverLoaded(0), 1);
  {
    auto device = platform::DeviceFile::Open("\\\\.\\ZimoPCI0");
    EXPECT_TRUE(device.ok()) << device.status().ToString();
  }
  // Starting it again is refused, and the wrapper says why.
  EXPECT_EQ(ZimoLoadNTDriver(0), 0);
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->caption, "Driver Error");
  EXPECT_EQ(boxes_.last()->text,
            "Unable to load driver.\nAn instance of the service is already running.");

  EXPECT_EQ(ZimoUnloadNTDriver(0), 1);
  EXPECT_EQ(DrvIsDriverLoaded(0), 0);
  EXPECT_FALSE(platform::DeviceFile::Open("\\\\.\\ZimoPCI0", nullptr, 200ms).ok());
  // A stopped driver cannot be unloaded.
  EXPECT_EQ(ZimoUnloadNTDriver(0), 0);
  EXPECT_EQ(boxes_.last()->text, "Unable to unload driver.");
  DrvCloseServiceManager(0);
}

TEST_F(DriverServicesTest, AMissingService) {
  // A service that does not exist counts as loaded and is removed already.
  EXPECT_EQ(DrvIsDriverLoaded(0), 1);
  EXPECT_EQ(DrvUnloadKernelDriver(0), 1);
  EXPECT_EQ(DrvRemoveDriver(0), 2);
  EXPECT_EQ(DrvDeleteServicesNode(0), 1);
  EXPECT_EQ(DrvLoadKernelDriver(0), 0);
  platform::ServiceConfig config;
  EXPECT_FALSE(Config("ZimoPCI", &config));

  // Without creation the manager stays open in the record until closed.
  auto table = std::make_unique<SharedDeviceTable>();
  CommLibraryApp::UseServerTable(table.get());
  EXPECT_EQ(DrvCreateServicesNode(0, 0), 0);
  const DriverServiceRecord& record = table->DriverServices[0];
  EXPECT_NE(record.ServiceManagerHandle, 0u);
  EXPECT_STREQ(record.ServiceName, "ZimoPCI");
  // Closing it also deletes the file the record names.
  const std::filesystem::path file = home_.path() / "driver.tmp";
  { std::ofstream(file) << "x"; }
  std::snprintf(table->DriverServices[0].FilePath, sizeof record.FilePath, "%s", file.c_str());
  DrvCloseServiceManager(0);
  EXPECT_EQ(record.ServiceManagerHandle, 0u);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(Config("ZimoPCI", &config));
  App().End();
}

TEST_F(DriverServicesTest, RemovingTheDriverAndTheDevice) {
  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  DrvCloseServiceManager(0);
  EXPECT_EQ(DrvRemoveDriver(0), 1);  // not running: deleted only
  platform::ServiceConfig config;
  EXPECT_FALSE(Config("ZimoPCI", &config));

  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  ASSERT_EQ(DrvLoadKernelDriver(0), 1);
  ASSERT_TRUE(WaitForDriverDevice("ZimoPCI0"));
  EXPECT_EQ(ZimoRemoveNTDriver(0), 2);  // stopped, then deleted
  EXPECT_FALSE(Config("ZimoPCI", &config));

  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  ASSERT_EQ(DrvLoadKernelDriver(0), 1);
  EXPECT_EQ(DrvRemoveDevice(0), 1);
  EXPECT_EQ(DeviceKeyExists(0), 0);
  EXPECT_EQ(IsDriverServiceRunning("ZimoPCI"), 0);
  DrvCloseServiceManager(0);
}

TEST_F(DriverServicesTest, ConfiguringRestartsTheDriverWithTheNewSettings) {
  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  ASSERT_EQ(DrvLoadKernelDriver(0), 1);
  ASSERT_TRUE(WaitForDriverDevice("ZimoPCI0"));
  DeviceConfigBlock block{};
  ReadLocationSettings(kLocationPci, 0, block);
  block.DualPortRamVar = 0x777;
  EXPECT_EQ(DrvConfigureDriver(0, &block), 1);
  std::uint32_t stored = 0;
  GetLocationRegDword(kLocationPci, 0, "DualPortRamVar", &stored, 0);
  EXPECT_EQ(stored, 0x777u);
  EXPECT_EQ(DrvIsDriverLoaded(0), 1);
  EXPECT_TRUE(WaitForDriverDevice("ZimoPCI0"));

  // Every step runs even when one fails: the settings are still written.
  block.DualPortRamVar = 0x555;
  EXPECT_EQ(DrvUnloadKernelDriver(0), 1);
  EXPECT_EQ(DrvConfigureDriver(0, &block), 0);  // the driver was not running
  GetLocationRegDword(kLocationPci, 0, "DualPortRamVar", &stored, 0);
  EXPECT_EQ(stored, 0x555u);
  EXPECT_EQ(DrvIsDriverLoaded(0), 1);
  EXPECT_EQ(DrvConfigureDriver(0, nullptr), 0);
}

TEST_F(DriverServicesTest, RecordsWithoutADriverActOnNoService) {
  // A serial device has no driver; device 5 has no key; 9 is no record.
  ASSERT_EQ(RegisterDevice(1, kLocationSerial, 2, nullptr), 1);
  for (std::uint32_t index : {1u, 5u, 9u}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(DrvCreateServicesNode(index, 1), 0);
    EXPECT_EQ(DrvLoadKernelDriver(index), 0);
    EXPECT_EQ(DrvIsDriverLoaded(index), 0);
    EXPECT_EQ(DrvDeleteServicesNode(index), 0);
    DrvCloseServiceManager(index);
  }
  EXPECT_EQ(DeviceKeyExists(5), 0);  // asking created nothing
  EXPECT_EQ(RecordServiceName(0), "ZimoPCI");
  EXPECT_EQ(RecordServiceName(1), "");
}

TEST(DriverErrorTextTest, ReasonsByErrorCode) {
  EXPECT_EQ(DriverErrorText(true, 1058), "Unable to load driver.\nThe service has been disabled.");
  EXPECT_EQ(DriverErrorText(false, 1062),
            "Unable to unload driver.\nThe service has not been started.");
  EXPECT_EQ(DriverErrorText(false, 1053),
            "Unable to unload driver.\nThe service did not respond to the start request in a "
            "timely fashion.");
  EXPECT_EQ(DriverErrorText(true, 1062), "Unable to load driver.");  // no load reason
  EXPECT_EQ(DriverErrorText(false, 2), "Unable to unload driver.");
}

}  // namespace
}  // namespace zimo::corvan
