// zimoserver started by hand with its cards' threads: the DPR mirror seen
// from a client process through the library (and ending once when a client
// switches both areas off, or once at the end when two servers were started
// together), the TAMRX bridge of the one card that has a bridge device, and
// the USB watchdog closing each pulled card and reopening it when it comes
// back; a card whose open hangs beside one that opens; each with the
// server's own lines.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/status_api.h"
#include "device_server_fixture.h"
#include "link/library_app.h"
#include "platform/home.h"
#include "platform/named_mutex.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using automation::S_FALSE;
using automation::S_OK;
using testing::Call;
using testing::Eventually;
using testing::HostControl;
using testing::Text;

constexpr char kZimoKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\";

void SetDword(const std::string& key, const char* name, uint32_t value) {
  auto k = platform::RegistryKey::Create(platform::kHkeyLocalMachine, kZimoKey + key);
  ASSERT_TRUE(k.ok());
  ASSERT_TRUE(k->SetDword(name, value).ok());
}

void RegisterDevice(int device, uint32_t location, uint32_t enumeration) {
  SetDword("Device" + std::to_string(device), "Location", location);
  SetDword("Device" + std::to_string(device), "Enumeration", enumeration);
}

class ServerThreadsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    objects_.clear();
    corvan::App().End();
    StopServer();
    if (control_.connected()) control_.Command("quit");
    if (host_.valid() && !host_.Wait(20s).ok()) {
      (void)host_.Signal(9);
      (void)host_.Wait();
    }
    (void)platform::UnlinkHomeSharedMemory();
  }

  void StartHost(std::vector<std::string> cards, std::vector<std::string> devices) {
    std::vector<std::string> argv = {(zimo::testing::BinDir() / "zimo-drvhost").string(),
                                     "--no-registry", "--manual-clock"};
    for (const std::string& c : cards) {
      argv.push_back("--card");
      argv.push_back(c);
    }
    auto host = platform::Spawn(argv);
    ASSERT_TRUE(host.ok()) << host.status().ToString();
    host_ = std::move(*host);
    ASSERT_TRUE(control_.Connect());
    for (const std::string& dev : devices) {
      ASSERT_TRUE(
          Eventually([&] { return std::filesystem::exists(platform::DeviceSocketPath(dev)); }));
    }
  }
  // The server by hand, its standard output in a file of the home.
  void StartServer() {
    const std::string server = (zimo::testing::BinDir() / "zimoserver").string();
    ASSERT_NO_FATAL_FAILURE(Register());
    auto p = platform::Spawn({"/bin/sh", "-c", "exec \"$0\" > \"$1\" 2>&1", server, out_.string()});
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    server_ = std::move(*p);
    ASSERT_TRUE(Eventually(
        [&] { return Output().find("shared device table created") != std::string::npos; }));
    // Its start is over once the bridges were looked for.
    ASSERT_TRUE(Eventually([&] { return ServiceUp(); }));
  }
  // One more server process by hand, its output appended to the same file.
  platform::Process SpawnServer() {
    const std::string server = (zimo::testing::BinDir() / "zimoserver").string();
    auto p =
        platform::Spawn({"/bin/sh", "-c", "exec \"$0\" >> \"$1\" 2>&1", server, out_.string()});
    EXPECT_TRUE(p.ok()) << p.status().ToString();
    return p.ok() ? std::move(*p) : platform::Process();
  }
  void Register() {
    auto reg = platform::Spawn({(zimo::testing::BinDir() / "zimoserver").string(), "-RegServer"});
    ASSERT_TRUE(reg.ok());
    ASSERT_EQ(*reg->Wait(30s), 0);
    out_ = home_.path() / "server.out";
  }
  bool ServiceUp() { return std::filesystem::exists(platform::RunDir() / "ZimoServer.sock"); }
  // SIGTERM: the server ends as at the end of its quiet time. The time it
  // took.
  std::chrono::milliseconds StopServer() {
    if (!server_.valid()) return 0ms;
    const auto start = std::chrono::steady_clock::now();
    (void)server_.Signal(SIGTERM);
    auto code = server_.Wait(30s);
    EXPECT_TRUE(code.ok());
    if (!code.ok()) {
      (void)server_.Signal(9);
      (void)server_.Wait();
    }
    server_ = platform::Process();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }
  // SIGTERM: the server must end, with 0, within a limit that fails the
  // test (never the suite), say so once and leave its single-instance
  // mutex free.
  void ExpectEndOnTermination() {
    ASSERT_TRUE(server_.Signal(SIGTERM).ok());
    auto code = server_.Wait(20s);
    if (!code.ok()) {
      ADD_FAILURE() << "the server did not end within 20 s\n" << Output();
      (void)server_.Signal(SIGKILL);
      (void)server_.Wait();
    } else {
      EXPECT_EQ(*code, 0);
    }
    server_ = platform::Process();
    EXPECT_EQ(Lines("ZimoServer: ended"), 1) << Output();
    auto mutex = platform::NamedMutex::Create("ZimoServer Mutex");
    ASSERT_TRUE(mutex.ok());
    EXPECT_FALSE(mutex->already_existed());
  }
  std::string Output() const {
    std::ifstream in(out_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  int Lines(const std::string& line) const {
    std::istringstream in(Output());
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l == line ? 1 : 0;
    return n;
  }
  std::shared_ptr<automation::Dispatch> NewObject() {
    std::shared_ptr<automation::Dispatch> object;
    EXPECT_EQ(automation::CreateInstance("ZimoServer.ZimoDevice.1", &object), S_OK);
    objects_.push_back(object);
    return object;
  }

  zimo::testing::TempHome home_;
  platform::Process host_;
  platform::Process server_;
  HostControl control_;
  std::filesystem::path out_;
  std::vector<std::shared_ptr<automation::Dispatch>> objects_;
};

TEST_F(ServerThreadsTest, MirrorKeepsTheTableFreshForAnotherProcess) {
  RegisterDevice(0, 4, 0);
  RegisterDevice(1, 4, 1);
  SetDword("ZimoPCI1", "DPRAutoActive", 1);
  SetDword("ZimoPCI1", "DPRMonitorPeriod", 20);
  ASSERT_NO_FATAL_FAILURE(StartHost({"pci older", "pci spran"}, {"ZimoPCI0", "ZimoPCI1"}));
  ASSERT_EQ(control_.Command("clock 1 on"), "ok");
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[1] Dual ported RAM auto updating started.") == 1;
  })) << Output();

  // This process is a client: it reads the server's copies through the
  // library, under "DPRMutexZimo1", without asking the card.
  ASSERT_NE(OpenZimoDevice(1), 0u);
  for (int round = 0; round < 5; ++round) {
    const int32_t before = ZimoDPRGetServoTimer(1);
    EXPECT_TRUE(Eventually([&] { return ZimoDPRGetServoTimer(1) != before; })) << round;
  }
  char reply[256];
  ZimoGetResponseExA(1, reply, sizeof reply, "#1J+");
  const double start = ZimoDPRPosition(1, 0, 1.0);
  EXPECT_TRUE(Eventually([&] { return ZimoDPRPosition(1, 0, 1.0) > start + 100; }));
  ZimoGetResponseExA(1, reply, sizeof reply, "#1J/");
  CloseZimoDevice(1);
  corvan::App().End();

  StopServer();
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating started."), 1);
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating stopped."), 1) << Output();
}

TEST_F(ServerThreadsTest, AClientSwitchingBothAreasOffEndsTheMirrorOnce) {
  RegisterDevice(0, 4, 0);
  RegisterDevice(1, 4, 1);
  SetDword("ZimoPCI1", "DPRAutoActive", 1);
  SetDword("ZimoPCI1", "DPRMonitorPeriod", 20);
  ASSERT_NO_FATAL_FAILURE(StartHost({"pci older", "pci spran"}, {"ZimoPCI0", "ZimoPCI1"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[1] Dual ported RAM auto updating started.") == 1;
  })) << Output();

  ASSERT_NE(OpenZimoDevice(1), 0u);
  ZimoDPRRealTimeEx(1, 255, 20, 0);
  ZimoDPRBackgroundEx(1, 0, 20, 1);
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[1] Dual ported RAM auto updating (SELF) stopped.") == 1;
  })) << Output();
  std::this_thread::sleep_for(200ms);  // ten periods: the line is not repeated
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating (SELF) stopped."), 1);
  CloseZimoDevice(1);
  corvan::App().End();

  // A mirror that ended by itself is not stopped again at the end.
  StopServer();
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating (SELF) stopped."), 1) << Output();
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating stopped."), 0) << Output();
}

TEST_F(ServerThreadsTest, ALaterCardOpenPassStartsAMirrorThatStoppedItself) {
  RegisterDevice(0, 5, 0);
  SetDword("ZimoUSB0", "DPRAutoActive", 1);
  SetDword("ZimoUSB0", "DPRMonitorPeriod", 20);
  ASSERT_NO_FATAL_FAILURE(StartHost({"usb older"}, {"ZimoUSB0"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[0] Dual ported RAM auto updating started.") == 1;
  })) << Output();
  ASSERT_NE(OpenZimoDevice(0), 0u);
  ZimoDPRRealTimeEx(0, 255, 20, 0);
  ZimoDPRBackgroundEx(0, 0, 20, 1);
  CloseZimoDevice(0);
  corvan::App().End();
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[0] Dual ported RAM auto updating (SELF) stopped.") == 1;
  })) << Output();

  // A second card plugged in: the card-open pass opens card 0 again, which
  // was open all along, and applies its settings: the mirror runs again.
  const std::string added = control_.Command("add usb older");
  ASSERT_EQ(added.rfind("ok ", 0), 0u) << added;
  EXPECT_TRUE(Eventually([&] {
    return Lines("ZIMO[0] Dual ported RAM auto updating started.") == 2;
  })) << Output();
  StopServer();
  EXPECT_EQ(Lines("ZIMO[0] Dual ported RAM auto updating stopped."), 1) << Output();
}

// A termination while a client holds a card's lock and a card-open pass
// of the watchdog waits for that lock: the server still ends, within a
// limit, and leaves its single-instance mutex free.
TEST_F(ServerThreadsTest, ATerminationEndsWhileAClientHoldsTheLockACardOpenPassWaitsFor) {
  RegisterDevice(0, 5, 0);
  ASSERT_NO_FATAL_FAILURE(StartHost({"usb older"}, {"ZimoUSB0"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 0 opened") == 1; })) << Output();
  auto client = NewObject();
  ASSERT_EQ(Call(*client, 0x1, {automation::Variant(0)}), S_OK);   // Open
  ASSERT_EQ(Call(*client, 0x18, {automation::Variant(0)}), S_OK);  // LockDevice
  // A card plugged in: the pass that follows closes card 0 for the server
  // first, which needs the lock the client holds.
  const std::string added = control_.Command("add usb older");
  ASSERT_EQ(added.rfind("ok ", 0), 0u) << added;
  std::this_thread::sleep_for(1s);  // the watcher looks every 100 ms

  ExpectEndOnTermination();
  objects_.clear();
}

// The same with the lock held by another process's own use of the library:
// the watchdog's stop gives the pass its limit, and the server still ends.
TEST_F(ServerThreadsTest, ATerminationEndsWhileAnotherProcessHoldsTheLockACardOpenPassWaitsFor) {
  RegisterDevice(0, 5, 0);
  ASSERT_NO_FATAL_FAILURE(StartHost({"usb older"}, {"ZimoUSB0"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 0 opened") == 1; })) << Output();
  ASSERT_NE(OpenZimoDevice(0), 0u);
  ASSERT_EQ(LockZimo(0), 0u);
  const std::string added = control_.Command("add usb older");
  ASSERT_EQ(added.rfind("ok ", 0), 0u) << added;
  std::this_thread::sleep_for(1s);  // the watcher looks every 100 ms

  ExpectEndOnTermination();
  ReleaseZimo(0);
  CloseZimoDevice(0);
}

TEST_F(ServerThreadsTest, TwoServersStartedTogetherMirrorOnceAndStopOnce) {
  RegisterDevice(0, 4, 0);
  RegisterDevice(1, 4, 1);
  SetDword("ZimoPCI1", "DPRAutoActive", 1);
  SetDword("ZimoPCI1", "DPRMonitorPeriod", 20);
  ASSERT_NO_FATAL_FAILURE(StartHost({"pci older", "pci spran"}, {"ZimoPCI0", "ZimoPCI1"}));
  ASSERT_NO_FATAL_FAILURE(Register());
  platform::Process first = SpawnServer();
  platform::Process second = SpawnServer();
  ASSERT_TRUE(first.valid() && second.valid());
  // One of them finds the other running and ends as a normal end.
  ASSERT_TRUE(Eventually([&] { return !first.IsRunning() || !second.IsRunning(); })) << Output();
  platform::Process& ended = first.IsRunning() ? second : first;
  server_ = std::move(first.IsRunning() ? first : second);
  auto code = ended.Wait(30s);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  ASSERT_TRUE(Eventually([&] { return ServiceUp(); }));
  ASSERT_TRUE(Eventually([&] {
    return Lines("ZIMO[1] Dual ported RAM auto updating started.") == 1;
  })) << Output();
  EXPECT_EQ(Lines("ZimoServer: another instance is running"), 1) << Output();

  StopServer();
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating started."), 1) << Output();
  EXPECT_EQ(Lines("ZIMO[1] Dual ported RAM auto updating stopped."), 1) << Output();
  EXPECT_EQ(Lines("ZimoServer: ended"), 1) << Output();
}

TEST_F(ServerThreadsTest, BridgeLinksTheTamrxDeviceToItsCard) {
  RegisterDevice(0, 4, 0);
  RegisterDevice(3, 4, 1);
  ASSERT_NO_FATAL_FAILURE(StartHost({"pci older", "pci spran"}, {"ZimoPCI0", "ZimoPCI1"}));
  ASSERT_EQ(control_.Command("tamrx add 3"), "ok");
  ASSERT_EQ(control_.Command("tamrx set 3 1112131415161718191A1B1C1D1E1F2021222324"), "ok");
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] { return Lines("ZIMO[3] TAMRX auto updating started.") == 1; }));

  ASSERT_NE(OpenZimoDevice(3), 0u);
  const uint8_t in[20] = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A,
                          0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24};
  EXPECT_TRUE(Eventually([&] {
    uint8_t got[20] = {};
    return ZimoDPRGetMem(3, 0x3F40, sizeof got, got) != nullptr &&
           std::memcmp(got, in, sizeof in) == 0;
  }));
  const uint8_t out[11] = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA};
  ASSERT_NE(ZimoDPRSetMem(3, 0x3F60, sizeof out, out), nullptr);
  EXPECT_TRUE(Eventually(
      [&] { return control_.Command("tamrx get 3").rfind("ok C0C1C2C3C4C5C6C7C8C9CA ", 0) == 0; }));
  CloseZimoDevice(3);
  corvan::App().End();

  StopServer();
  const std::string output = Output();
  EXPECT_EQ(output.find("ZIMO[0] TAMRX"), std::string::npos) << output;
  EXPECT_EQ(Lines("ZIMO[3] TAMRX auto updating stopped."), 1) << output;
}

// A card whose open hangs (another process holds its device lock and does
// not let go) holds up neither the server's start nor its other card: the
// other card opens and a client's call is served; the hung card is taken up
// as soon as its lock is free.
TEST_F(ServerThreadsTest, ACardWhoseOpenHangsHoldsUpNeitherTheStartNorTheOtherCard) {
  RegisterDevice(0, 4, 0);
  RegisterDevice(1, 4, 1);
  ASSERT_NO_FATAL_FAILURE(StartHost({"pci older", "pci older"}, {"ZimoPCI0", "ZimoPCI1"}));
  auto held = platform::NamedMutex::Create("MutexZimo0");
  ASSERT_TRUE(held.ok());
  ASSERT_TRUE(held->Lock(5s).ok());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  EXPECT_TRUE(Eventually([&] { return Lines("ZimoServer: device 1 opened") == 1; })) << Output();

  // A client's object and call, on a thread of their own: a server that
  // never ends its start would leave them waiting.
  auto served = std::async(std::launch::async, [] {
    std::shared_ptr<automation::Dispatch> client;
    const automation::HRESULT created = automation::CreateInstance("ZimoServer.ZimoDevice.1", &client);
    if (created != S_OK || client == nullptr) return created != S_OK ? created : S_FALSE;
    automation::Variant answer;
    return Call(*client, 0x17,
                {automation::Variant(1), Text("I10"),
                 automation::Variant::ByRef(&answer, automation::VT_BSTR)});
  });
  if (served.wait_for(40s) != std::future_status::ready) {
    ADD_FAILURE() << "the server served no call within 40 s\n" << Output();
    (void)server_.Signal(SIGKILL);  // the call ends with the server
    served.wait();
    (void)server_.Wait();
    server_ = platform::Process();
    (void)held->Unlock();
    return;
  }
  EXPECT_EQ(served.get(), S_OK);
  EXPECT_EQ(Lines("ZimoServer: device 0 opened"), 0) << Output();

  ASSERT_TRUE(held->Unlock().ok());
  EXPECT_TRUE(Eventually([&] { return Lines("ZimoServer: device 0 opened") == 1; })) << Output();
}

TEST_F(ServerThreadsTest, AWatchdogThatCannotStartFailsTheStart) {
  // No event can be made in this home: a directory stands where the events'
  // shared counter lives. The watchdog needs events to start.
  const std::filesystem::path blocker = "/dev/shm" + platform::ObjectName("evgen", "home");
  ASSERT_TRUE(std::filesystem::create_directory(blocker));
  ASSERT_NO_FATAL_FAILURE(Register());
  platform::Process server = SpawnServer();
  ASSERT_TRUE(server.valid());
  auto code = server.Wait(30s);
  std::filesystem::remove(blocker);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 1);
  EXPECT_EQ(Lines("ZimoServer: the USB watchdog did not start"), 1) << Output();
  EXPECT_EQ(Lines("ZimoServer: ended"), 1) << Output();
  EXPECT_FALSE(ServiceUp());
}

TEST_F(ServerThreadsTest, WatchdogClosesAPulledCardAndReopensItWhenItComesBack) {
  // The library counts device keys from Device0 on: one with no card.
  RegisterDevice(0, 4, 7);
  RegisterDevice(1, 4, 7);
  RegisterDevice(2, 4, 7);
  RegisterDevice(3, 4, 7);
  RegisterDevice(4, 5, 0);
  RegisterDevice(5, 5, 1);
  ASSERT_NO_FATAL_FAILURE(StartHost({"usb older", "usb older"}, {"ZimoUSB0", "ZimoUSB1"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 5 opened") == 1; })) << Output();
  auto client = NewObject();
  automation::Variant answer;
  ASSERT_EQ(Call(*client, 0x17,
                 {automation::Variant(4), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_OK);

  // Pulled: the server closes it for everyone.
  ASSERT_EQ(control_.Command("surprise 0"), "ok");
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 4 removed") == 1; })) << Output();
  EXPECT_EQ(Call(*client, 0x17,
                 {automation::Variant(4), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_FALSE);
  // With no enumeration 0 left, the card at 1 is still watched.
  ASSERT_EQ(Call(*client, 0x17,
                 {automation::Variant(5), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_OK);
  ASSERT_EQ(control_.Command("surprise 1"), "ok");
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 5 removed") == 1; })) << Output();
  EXPECT_EQ(Call(*client, 0x17,
                 {automation::Variant(5), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_FALSE);
  // Back: opened again by the server, and the client's calls answer.
  const std::string added = control_.Command("add usb older");
  ASSERT_EQ(added.rfind("ok ", 0), 0u) << added;
  const int again = std::stoi(added.substr(3));
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 4 opened") == 2; })) << Output();
  EXPECT_EQ(Call(*client, 0x17,
                 {automation::Variant(4), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_OK);
  EXPECT_FALSE(answer.bstr().empty());
  const std::string added5 = control_.Command("add usb older");
  ASSERT_EQ(added5.rfind("ok ", 0), 0u) << added5;
  const int again5 = std::stoi(added5.substr(3));
  ASSERT_TRUE(Eventually([&] { return Lines("ZimoServer: device 5 opened") == 2; })) << Output();
  EXPECT_EQ(Call(*client, 0x17,
                 {automation::Variant(5), Text("I10"),
                  automation::Variant::ByRef(&answer, automation::VT_BSTR)}),
            S_OK);
  objects_.clear();

  // The stop does not wait for a USB event, and nothing opens a card after.
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(StopServer(), 3000ms);  // the shutdown's own pause is 1000 ms
  const size_t log0 = control_.Log(again).size();
  const size_t log1 = control_.Log(again5).size();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(control_.Log(again).size(), log0);
  EXPECT_EQ(control_.Log(again5).size(), log1);
}

}  // namespace
}  // namespace zimo::server
