// zimoserver as a program: registration switches, activation by a client,
// the shared table it creates, one instance per home, the end after the
// last client, and refusal of bad input.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "automation/activation.h"
#include "automation/local_server.h"
#include "core/server_ids.h"
#include "corvan/internal/shared_table.h"
#include "platform/file_mapping.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using automation::kMethod;
using automation::kPropertyGet;
using automation::S_OK;
using automation::Variant;
using platform::kHkeyClassesRoot;
using platform::RegistryKey;

const std::string kServerPath = (zimo::testing::BinDir() / "zimoserver").string();

std::string Default(const std::string& path) {
  auto key = RegistryKey::Open(kHkeyClassesRoot, path);
  if (!key.ok()) return "<missing " + path + ">";
  auto v = key->GetString("");
  return v.ok() ? *v : "<no default in " + path + ">";
}

int RunToEnd(std::vector<std::string> argv) {
  argv.insert(argv.begin(), kServerPath);
  auto p = platform::Spawn(argv);
  EXPECT_TRUE(p.ok()) << p.status().ToString();
  if (!p.ok()) return -1;
  auto code = p->Wait(30s);
  EXPECT_TRUE(code.ok()) << code.status().ToString();
  return code.ok() ? *code : -1;
}

// Polls for up to 20 s: for things that must happen.
template <typename F>
bool Eventually(F done) {
  for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

bool ServiceRegistered() {
  std::error_code ec;
  return std::filesystem::is_symlink(automation::ClassObjectPath(kClsidZimoService), ec);
}

class ZimoServerTest : public ::testing::Test {
 protected:
  ~ZimoServerTest() override { (void)platform::UnlinkHomeSharedMemory(); }

  // A server started by hand; the test ends it.
  platform::Process StartByHand(std::vector<std::string> args = {}) {
    args.insert(args.begin(), kServerPath);
    auto p = platform::Spawn(args);
    EXPECT_TRUE(p.ok()) << p.status().ToString();
    EXPECT_TRUE(Eventually(ServiceRegistered));
    return p.ok() ? std::move(*p) : platform::Process();
  }
  int Terminate(platform::Process& p) {
    EXPECT_TRUE(p.Signal(SIGTERM).ok());
    auto code = p.Wait(30s);
    return code.ok() ? *code : -1;
  }

  zimo::testing::TempHome home_;
};

TEST_F(ZimoServerTest, RegServerWritesTheClassesAndUnregServerRemovesThem) {
  ASSERT_EQ(RunToEnd({"-RegServer"}), 0);
  const std::string service = "CLSID\\" + kClsidZimoService.ToString();
  EXPECT_EQ(Default(service + "\\LocalServer32"), kServerPath);
  EXPECT_EQ(Default(service), "ZimoService Class");
  EXPECT_EQ(Default(service + "\\ProgID"), "ZimoServer.ZimoService.1");
  EXPECT_EQ(Default(service + "\\VersionIndependentProgID"), "ZimoServer.ZimoService");
  EXPECT_EQ(Default(service + "\\ToolboxBitmap32"), kServerPath + ", 103");
  EXPECT_EQ(Default(service + "\\MiscStatus\\1"), "132497");
  EXPECT_EQ(Default(service + "\\TypeLib"), kTypeLibId.ToString());
  auto app = RegistryKey::Open(kHkeyClassesRoot, service);
  ASSERT_TRUE(app.ok());
  EXPECT_EQ(app->GetString("AppID").value(), kAppId.ToString());
  const struct {
    const char* prog_id;
    const char* version_independent;
    Guid clsid;
  } classes[] = {{"ZimoServer.ZimoDevice.1", "ZimoServer.Zimo", kClsidZimoDevice},
                 {"ZimoServer.ZimoService.1", "ZimoServer.ZimoService", kClsidZimoService},
                 {"ZimoServer.ZimoNC.1", "ZimoServer.ZimoNC", kClsidZimoNC}};
  for (const auto& c : classes) {
    EXPECT_EQ(Default(std::string(c.prog_id) + "\\CLSID"), c.clsid.ToString());
    EXPECT_EQ(Default(std::string(c.version_independent) + "\\CLSID"), c.clsid.ToString());
    EXPECT_EQ(Default(std::string(c.version_independent) + "\\CurVer"), c.prog_id);
  }
  EXPECT_EQ(Default("AppID\\" + kAppId.ToString()), "ZimoServer");

  ASSERT_EQ(RunToEnd({"/unregserver"}), 0);
  for (const std::string& gone :
       {service, "CLSID\\" + kClsidZimoDevice.ToString(), std::string("ZimoServer.ZimoNC"),
        std::string("ZimoServer.Zimo"), std::string("ZimoServer.ZimoService.1"),
        "AppID\\" + kAppId.ToString()}) {
    EXPECT_FALSE(RegistryKey::Exists(kHkeyClassesRoot, gone)) << gone;
  }
}

TEST_F(ZimoServerTest, ASwitchFollowedByAnotherWordIsNoSwitch) {
  platform::Process p = StartByHand({"-RegServer", "now"});  // starts normally
  EXPECT_FALSE(RegistryKey::Exists(kHkeyClassesRoot, "ZimoServer.ZimoService"));
  // A registration switch works while a server runs.
  EXPECT_EQ(RunToEnd({"-RegServer"}), 0);
  EXPECT_EQ(Default("ZimoServer.ZimoService\\CurVer"), "ZimoServer.ZimoService.1");
  EXPECT_EQ(Terminate(p), 0);
  EXPECT_FALSE(ServiceRegistered());
}

TEST_F(ZimoServerTest, ActivationStartsTheServerWhichEndsAfterTheLastClient) {
  ASSERT_EQ(RunToEnd({"-RegServer"}), 0);
  {
    auto device0 = RegistryKey::Create(platform::kHkeyLocalMachine,
                                       "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device0");
    ASSERT_TRUE(device0.ok());
    ASSERT_TRUE(device0->SetDword("Location", 4).ok());
    ASSERT_TRUE(device0->SetDword("Enumeration", 1).ok());
  }
  std::shared_ptr<automation::Dispatch> service;
  ASSERT_EQ(automation::CreateInstance("ZimoServer.ZimoService", &service), S_OK);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->Call(1, kMethod, {}), S_OK);
  Variant scanning(7);
  EXPECT_EQ(service->Call(3, kPropertyGet, {}, &scanning), S_OK);
  EXPECT_EQ(scanning, Variant(0));

  // The table, exactly as big as the format says, with the server's pid.
  pid_t server_pid = 0;
  {
    auto table = platform::FileMapping::Open(corvan::kSharedTableName);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    ASSERT_EQ(table->size(), 0x1E000u);
    const auto* bytes = static_cast<const uint8_t*>(table->data());
    const auto* t = reinterpret_cast<const corvan::SharedDeviceTable*>(bytes);
    EXPECT_EQ(t->TableSize, 0x1E000u);
    EXPECT_EQ(t->UserCount, 0u);
    uint32_t pid = 0, handle = 1;
    std::memcpy(&pid, bytes + 0x1DFF8, 4);
    std::memcpy(&handle, bytes + 0x1DFF4, 4);
    EXPECT_EQ(handle, 0u);
    server_pid = static_cast<pid_t>(pid);
    EXPECT_TRUE(platform::IsProcessAlive(server_pid));
    for (int d = 0; d < 8; ++d) {
      const corvan::SharedDeviceBlock& b = t->Devices[d];
      EXPECT_EQ(b.BlockSize, 7952u) << d;
      EXPECT_EQ(b.CardType, 1) << d;
      EXPECT_EQ(b.ServoI10, 3713707u) << d;
      EXPECT_EQ(b.MotorPositionFactor[0], 3072.0) << d;
      EXPECT_EQ(b.GatherSampleTime, 20.0) << d;
      EXPECT_EQ(b.Location, d == 0 ? 4u : 0u) << d;
      EXPECT_EQ(b.Enumeration, d == 0 ? 1u : 0xFFFFFFFFu) << d;
    }
  }

  // One instance only: a second one ends at once, as a normal end (0), and
  // the first goes on.
  EXPECT_EQ(RunToEnd({"-Embedding"}), 0);
  EXPECT_EQ(service->Call(2, kMethod, {}), S_OK);

  const auto released = std::chrono::steady_clock::now();
  service.reset();
  auto code = automation::WaitForStartedServer(server_pid, 30s);
  const auto took = std::chrono::steady_clock::now() - released;
  ASSERT_TRUE(code.ok()) << code.status().ToString();
  EXPECT_EQ(*code, 0);
  // Not before the quiet time of 5000 ms; after it (and the shutdown's own
  // second) within a bound generous enough for a loaded machine.
  EXPECT_GE(took, 5s);
  EXPECT_LE(took, 20s);
  EXPECT_FALSE(ServiceRegistered());
  EXPECT_FALSE(platform::FileMapping::Open(corvan::kSharedTableName).ok());
}

TEST_F(ZimoServerTest, AMalformedFrameClosesOnlyItsConnection) {
  platform::Process p = StartByHand();
  auto client = automation::ServerConnection::Open(platform::RunDir() / "ZimoServer.sock");
  ASSERT_TRUE(client.ok());
  std::shared_ptr<automation::Dispatch> service;
  ASSERT_EQ(client->CreateInstance(kClsidZimoService, &service), S_OK);

  auto raw = platform::UnixConnection::Connect(platform::RunDir() / "ZimoServer.sock");
  ASSERT_TRUE(raw.ok());
  const char junk[] = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(raw->SendAll(junk, sizeof junk).ok());
  char buf[16];
  EXPECT_EQ(raw->RecvSome(buf, sizeof buf, 20s).status().code(), platform::Code::kClosed);

  EXPECT_EQ(service->Call(1, kMethod, {}), S_OK);
  service.reset();
  EXPECT_EQ(Terminate(p), 0);
}

TEST_F(ZimoServerTest, WithoutItsTableTheServerDoesNotStart) {
  // A section of that name too small to be the table, held by this process.
  auto squatter = platform::FileMapping::Create(corvan::kSharedTableName, 4096);
  ASSERT_TRUE(squatter.ok());
  EXPECT_EQ(RunToEnd({"-Embedding"}), 1);
  EXPECT_FALSE(ServiceRegistered());
}

}  // namespace
}  // namespace zimo::server
