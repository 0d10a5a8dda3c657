// A legacy ISA bus card at port 528 (DPR at 0xD4000) in a driver host
// running in this process, with the port-I/O helper driver registered as
// a running service, so a control opens it through jux170 as it would on a
// machine with the card.
#pragma once

#include <filesystem>
#include <fstream>

#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/legacy_isa.h"
#include "jux/jux170.h"
#include "platform/home.h"
#include "platform/services.h"
#include "vocto_fixture.h"

namespace zimo::vocto::testing {

namespace host = zimo::drivers::host;

class VoctoCardTest : public VoctoTest {
 protected:
  void SetUp() override {
    VoctoTest::SetUp();
    ASSERT_NE(host::LoadPortIoHelper(host_), nullptr);
    host::CardConfig config;
    config.bus = host::Bus::kIsa;
    config.legacy_port = 528;
    config.legacy_dpr = 0xD4000;
    slot_ = legacy_.Plug(config);
    ASSERT_NE(slot_, nullptr);
    devices_ = std::make_unique<host::DeviceServer>(host_.kernel());
    devices_->Start();
    // The helper driver's service: its "driver" is a placeholder process,
    // the driver itself is the one in this process.
    ASSERT_EQ(HwConfigureDriver(), 1);
    const std::filesystem::path drivers = platform::WindowsDir() / "System32" / "drivers";
    std::filesystem::create_directories(drivers);
    std::ofstream(drivers / "Tqa58.sys") << "#!/bin/sh\nexec sleep 120\n";
    std::filesystem::permissions(drivers / "Tqa58.sys", std::filesystem::perms::owner_all);
    platform::SetServiceStopWaitMs(200);
  }
  void TearDown() override {
    VoctoTest::TearDown();
    devices_.reset();
    platform::ScHandle manager = 0, service = 0;
    if (platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager) == 0) {
      if (platform::OpenServiceA(manager, "Tqa58", platform::kServiceAllAccess, &service) == 0) {
        platform::ServiceStatus status;
        (void)platform::ControlService(service, platform::kServiceControlStop, &status);
        platform::CloseServiceHandle(service);
      }
      platform::CloseServiceHandle(manager);
    }
  }
  cardsim::Card& card() { return *slot_->card; }
  std::vector<std::string> Log() { return card().script().received(); }

  // An enabled BUS control at run time.
  CVoctoCtrl& MakeBus(RecordingSite* site = nullptr) {
    CVoctoCtrl& c = Make(site, false);
    RecordingSite* s = site != nullptr ? site : &site_;
    const bool user_mode = s->user_mode;
    s->user_mode = false;
    c.InitNew();
    c.put_CommMethod(0);
    s->user_mode = user_mode;
    c.put_Enabled(true);
    return c;
  }

  host::DriverHost host_;
  host::LegacyCards legacy_{host_};
  std::shared_ptr<host::Slot> slot_;
  std::unique_ptr<host::DeviceServer> devices_;
};

}  // namespace zimo::vocto::testing
