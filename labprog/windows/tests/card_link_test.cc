// The lab program's command path end to end: VoctoKS created in-process
// from its registration, bound to the real Corvan32, talking to a
// simulated card on a pseudo-terminal registered as device 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "automation/inproc.h"
#include "controls/control.h"
#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/status_poll.h"
#include "platform/message.h"
#include "platform/module.h"
#include "recording_fakes.h"
#include "temp_home.h"
#include "tests/serial_card_fixture.h"

namespace zimo::labprog {
namespace {

namespace fs = std::filesystem;

class Site : public controls::ControlSite {
 public:
  bool UserMode() const override { return true; }
  std::string DisplayName() const override { return "VoctoKS"; }
  uint32_t BackColor() const override { return 0; }
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId) override {}
  void OnModified(bool) override {}
};

TEST(CardLinkTest, ConnectionAndPollReachTheCard) {
  zimo::testing::TempHome home;
  corvan::testing::RegisterSerialDevice(0, 1);
  corvan::testing::SerialCard card(1);
  corvan::testing::StandInServer server;
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped_boxes(boxes);
  const fs::path dir = home.path() / "work";
  fs::create_directories(dir);
  std::ofstream(dir / "VoctoKS.INI", std::ios::binary)
      << "[Communication]\r\nDeviceNumber=0\r\nSimulateCommunication=0\r\nEnabled=1\r\n";
  const fs::path old_dir = fs::current_path();
  fs::current_path(dir);
  card.card().SetPVar(1000, 3);  // the plant
  card.card().SetPVar(666, 1);
  card.card().SetMVar(10, 3200);

  auto library = platform::Module::Load((zimo::testing::BinDir() / "libvoctoks.so").string());
  ASSERT_TRUE(library.ok()) << library.status().ToString();
  auto reg = library->Function<int32_t()>("DllRegisterServer");
  ASSERT_TRUE(reg.ok());
  ASSERT_EQ((*reg)(), 0);
  std::shared_ptr<automation::Dispatch> object;
  ASSERT_EQ(automation::CreateInprocInstance("VOCTOKS.VoctoKSCtrl.1", &object), automation::S_OK);
  Site site;
  auto* control = static_cast<controls::Control*>(object.get());
  control->UseMessageService(&boxes);
  control->SetClientSite(&site);
  control->InitNew();
  {
    VoctoClass vocto(object);
    StatusWindow window;
    ControllerLink link(vocto, window);
    testing::RecordingShellWindows shell;
    LabProgram program(link, shell);
    link.set_program(&program);
    program.Config.UserUnits = "counts";
    program.Config.UnitsScaleFactor = 1;
    EXPECT_TRUE(link.ConnectController());
    EXPECT_EQ(window.ApparatusPanel.text, " Apparatus:  Model R-32 with K88");
    EXPECT_EQ(program.ApparatusTag, "3");
    PollTick(program, window);
    EXPECT_EQ(window.CmdPosLabel.text, "100 counts");
    const std::vector<std::string> received = card.received();
    std::vector<std::string> wanted = {"^X", "i3=2", "i9=0", "?", "P1000", "P666", "P1021", "M10",
                                       "M136"};
    for (const std::string& entry : wanted) EXPECT_TRUE(card.Received(entry)) << entry;
  }
  control->SetClientSite(nullptr);
  control->UseMessageService(nullptr);
  object.reset();
  fs::current_path(old_dir);
}

}  // namespace
}  // namespace zimo::labprog
