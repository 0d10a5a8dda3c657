// zimo-jux against the simulated card on a serial line, and on a bus card
// through the helper driver's service.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "platform/home.h"
#include "platform/services.h"
#include "temp_home.h"
#include "tests/host_process.h"

namespace {

// Runs zimo-jux with `args`; its standard output and exit code. The card
// answers every command these tests wait for, so the tool gets a time-out of
// half a second of polls: a loaded machine's slow simulated card is waited for.
std::string RunTool(const std::string& args, int* code) {
  const char* bin = std::getenv("ZIMO_BIN_DIR");
  const std::string command =
      std::string(bin != nullptr ? bin : ".") + "/zimo-jux --timeout 5000 " + args;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(ZimoJux, PrintsResponsesAndErrors) {
  zimo::testing::TempHome home;
  zimo::cardsim::Card card(zimo::cardsim::CardModel::Older());
  card.SetIVar(10, 3713707);
  zimo::cardsim::PtyOptions options;
  options.com_port = 6;
  auto pty = zimo::cardsim::PtyAttachment::Start(card, options);
  ASSERT_TRUE(pty.ok());
  card.script().FailLinesMatching("BAD", 3);
  int code = -1;
  EXPECT_EQ(RunTool("--method serial --com 6 --baud 38400 I10 BAD", &code),
            "> I10\n3713707\nerror 0 No errors to report.\n"
            "> BAD\nerror 53 Syntax error, unrecognized command, or bad program structure (i.e. "
            "missing ENDIF or ENDWHILE)\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(RunTool("--method serial --com 7 I10", &code),
            "open failed\nerror 3013 CreateFile() API failed.  Communication port may already be "
            "in use.\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(RunTool("--method sim I10", &code), "> I10\nerror 0 No errors to report.\n");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(RunTool("--bogus", &code), "");
  EXPECT_EQ(code, 2);
  (*pty)->Stop();
}

TEST(ZimoJux, DamagedSettingsFileIsRefusedNamingItsField) {
  zimo::testing::TempHome home;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(home.path());
  // A settings file that is all text, and records with one field each out
  // of its range; every other field as zimo-jux would fill them for a
  // simulated card.
  tagMCardInfo base;
  std::memset(&base, 0, sizeof(base));
  std::strcpy(base.name, "JUNK");
  base.method = 3;
  base.simulated = 1;
  base.timeout = 500;
  base.com_port = 1;
  base.baud_rate = 38400;
  base.bus_type = 1;
  base.bus_base = 528;
  const std::string bad_parameter = "error 1005 Bad parameter passed, tagMCardInfo\n";
  const struct {
    const char* what;
    void (*spoil)(tagMCardInfo&);
    std::string error;
    const char* field;
  } cases[] = {
      {"text", [](tagMCardInfo& r) { std::memset(&r, 'A', sizeof(r)); }, bad_parameter,
       "method"},
      {"simulated 0x41414141", [](tagMCardInfo& r) { r.method = 0, r.simulated = 0x41414141; },
       bad_parameter, "simulated flag"},
      {"method 4", [](tagMCardInfo& r) { r.method = 4; }, bad_parameter, "method"},
      {"bus type 3", [](tagMCardInfo& r) { r.bus_type = 3; }, bad_parameter, "bus type"},
      {"DPR open 2", [](tagMCardInfo& r) { r.dpr_open = 2; }, bad_parameter, "DPR open flag"},
      {"COM 17", [](tagMCardInfo& r) { r.method = 2, r.simulated = 0, r.com_port = 17; },
       "error 3001 Bad port number for initialization (1-16 are valid).\n", "COM port"},
      {"baud 1000", [](tagMCardInfo& r) { r.method = 2, r.simulated = 0, r.baud_rate = 1000; },
       "error 3002 Bad baudrate chosen for initialization.\n", "baud rate"},
  };
  for (const auto& c : cases) {
    tagMCardInfo image = base;
    c.spoil(image);
    ASSERT_EQ(PStoreState(&image, "JUNK"), 1);
    int code = -1;
    EXPECT_EQ(RunTool("--cfg JUNK I10", &code),
              "open failed\n" + c.error + "card record: " + c.field + " out of range\n")
        << c.what;
    EXPECT_EQ(code, 1) << c.what;
  }
  // The same record, sound, opens as the simulated card it describes.
  ASSERT_EQ(PStoreState(&base, "JUNK"), 1);
  int code = -1;
  EXPECT_EQ(RunTool("--cfg JUNK I10", &code), "> I10\nerror 0 No errors to report.\n");
  EXPECT_EQ(code, 0);
  std::filesystem::current_path(previous);
}

// The whole road: the helper driver registered as a service, its launcher
// (the driver host with a legacy card) installed as the driver's file;
// zimo-jux starts it and talks over the bus.
TEST(ZimoJux, BusCardThroughTheHelperDriverService) {
  zimo::testing::TempHome home;
  ASSERT_EQ(HwConfigureDriver(), 1);
  // The installer's launcher where the system loads the driver from.
  const std::filesystem::path drivers = zimo::platform::WindowsDir() / "System32" / "drivers";
  std::filesystem::create_directories(drivers);
  {
    std::ofstream launcher(drivers / "Tqa58.sys");
    launcher << "#!/bin/sh\nexec \"" << (zimo::testing::BinDir() / "zimo-drvhost").string()
             << "\" --no-registry --manual-clock --card \"isa port=528 dpr=0xD4000\"\n";
  }
  std::filesystem::permissions(drivers / "Tqa58.sys", std::filesystem::perms::owner_all);
  int code = -1;
  const std::string out = RunTool("--method bus --base 528 I10 I10=I10", &code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_TRUE(std::regex_match(out, std::regex("> I10\n[0-9]+\nerror 0 No errors to report\\.\n"
                                               "> I10=I10\nerror 0 No errors to report\\.\n")))
      << out;
  // The DPR channel of the same card, through the running host.
  EXPECT_TRUE(std::regex_match(RunTool("--method dpr --base 528 --dpr 0xD4000 VER", &code),
                               std::regex("> VER\n1\\.16F\nerror 0 No errors to report\\.\n")));
  EXPECT_EQ(code, 0);
  // The card's knobs through the driver host's control commands.
  auto control = zimo::drivers::testing::ConnectControl();
  ASSERT_TRUE(control.ok());
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 fail I10 3"), "ok");
  EXPECT_EQ(RunTool("--method bus --base 528 I10", &code),
            "> I10\nerror 53 Syntax error, unrecognized command, or bad program structure (i.e. "
            "missing ENDIF or ENDWHILE)\n");
  // Without the CTRL-Y answer the "?" reply decides: 11 characters is no card.
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 fail CLOSE 3"), "ok");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 status 11"), "ok");
  EXPECT_EQ(RunTool("--method bus --base 528 --retries 0 I10", &code),
            "open failed\nerror 53 Syntax error, unrecognized command, or bad program structure "
            "(i.e. missing ENDIF or ENDWHILE)\n");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 status 12"), "ok");
  EXPECT_EQ(RunTool("--method bus --base 528 --retries 0 P1", &code),
            "> P1\n0\nerror 0 No errors to report.\n");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 fail off"), "ok");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 status 0"), "ok");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 clear-log"), "ok");
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 error 0"), "ok");
  EXPECT_EQ(RunTool("--method bus --base 528 P1", &code),
            "> P1\n0\nerror 0 No errors to report.\n");
  const std::string log = zimo::drivers::testing::Control(*control, "legacy 528 log");
  EXPECT_NE(log.find("|P1|"), std::string::npos) << log;
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 999 log"),
            "error no legacy card at 999");

  // While this process holds the card's ports, another process is refused
  // and keeps no claim; once they are given back it gets them.
  // Two claims of the same ports in one process share them: both are given
  // back before another process gets them.
  const std::string refused =
      "open failed\nerror 1011 Bus port address already in use by another device.\n";
  HwPortRange held = HwNewPortRange(528, 8);
  ASSERT_NE(held, nullptr);
  HwPortRange shared = HwNewPortRange(528, 8);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(RunTool("--method bus --base 528 I10", &code), refused);
  HwDeletePort(held);
  EXPECT_EQ(RunTool("--method bus --base 528 I10", &code), refused);
  HwDeletePort(shared);
  EXPECT_EQ(RunTool("--method bus --base 528 I10=I10", &code),
            "> I10=I10\nerror 0 No errors to report.\n");

  // A process killed while it holds the card (zimo-jux waiting for commands
  // on its standard input) leaves no claim: the driver host sees its
  // connection close.
  EXPECT_EQ(zimo::drivers::testing::Control(*control, "legacy 528 clear-log"), "ok");
  int to_child[2];
  ASSERT_EQ(::pipe(to_child), 0);
  const std::string tool = (zimo::testing::BinDir() / "zimo-jux").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(to_child[0], 0);
    ::close(to_child[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(tool.c_str(), tool.c_str(), "--method", "bus", "--base", "528",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(to_child[0]);
  // The open's last line ("I6=1") reaching the card shows the child has the
  // card open, ports claimed (bounded wait on the card's log).
  {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string log;
    while (std::chrono::steady_clock::now() < deadline) {
      log = zimo::drivers::testing::Control(*control, "legacy 528 log");
      if (log.find("|I6=1|") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(log.find("|I6=1|"), std::string::npos) << log;
  }
  EXPECT_EQ(RunTool("--method bus --base 528 --retries 0 I10=I10", &code), refused);
  ::kill(child, SIGKILL);
  int child_status = 0;
  ASSERT_EQ(::waitpid(child, &child_status, 0), child);
  ::close(to_child[1]);
  // Bounded wait on what the driver host reports, never on a set time.
  auto until = [&](const std::string& want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string out;
    while (std::chrono::steady_clock::now() < deadline) {
      out = RunTool("--method bus --base 528 --retries 0 I10=I10", &code);
      if (out == want) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return out;
  };
  const std::string opened = "> I10=I10\nerror 0 No errors to report.\n";
  EXPECT_EQ(until(opened), opened);
  // Stop the service's driver host.
  zimo::platform::ScHandle manager = 0, service = 0;
  ASSERT_EQ(zimo::platform::OpenSCManagerA(nullptr, nullptr, 0xF003F, &manager), 0);
  ASSERT_EQ(zimo::platform::OpenServiceA(manager, "Tqa58", 0xF01FF, &service), 0);
  zimo::platform::ServiceStatus status;
  zimo::platform::ControlService(service, 1, &status);
  zimo::platform::CloseServiceHandle(service);
  zimo::platform::CloseServiceHandle(manager);
}

}  // namespace
