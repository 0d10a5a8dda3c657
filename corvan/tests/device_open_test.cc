// Device open and close against a simulated card on a pseudo-terminal:
// the open handshake and the first opener's identification, open counts,
// location handles shared by two device numbers, refused registrations,
// a second process sharing the port, a late opener taking over a port whose
// owner has gone, an Ethernet card opened through its socket, ZimoServer
// started by the first open, and the DPR set-up arithmetic.
//
// The program also plays the second process of the sharing tests: started
// with CORVAN_TEST_CHILD_ROLE set, it runs that role instead of the tests.
#include "corvan/device_api.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "automation/activation.h"
#include "corvan/command_api.h"
#include "eth_test_fixture.h"
#include "link/device_open.h"
#include "platform/message.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

constexpr char kChildRoleVariable[] = "CORVAN_TEST_CHILD_ROLE";

bool ExchangeI10(std::uint32_t device) {
  char buffer[64];
  const std::uint32_t word = ZimoGetResponseExA(device, buffer, sizeof buffer, "I10");
  return word == (kStatusAck | 8u) && std::strcmp(buffer, "3713707\r") == 0;
}

// The second process of the sharing tests.
//   share:  opens device 0 while the test holds it, checks that the port is
//           used by two processes, talks to the card, closes, exit code 0.
//   vanish: opens device 0 and ends without closing anything.
int RunChildRole(const std::string& role) {
  LibraryClock clock;
  if (OpenZimoDevice(0) != 1) return 10;
  if (role == "vanish") std::_Exit(0);
  if (role != "share") return 11;
  if (App().Block(0)->TransportUserCount != 2) return 12;
  for (int i = 0; i < 30; ++i) {
    if (!ExchangeI10(0)) return 13;
  }
  if (CloseZimoDevice(0) != 1) return 14;
  App().End();
  return 0;
}

platform::Result<platform::Process> StartChild(const char* role) {
  platform::SpawnOptions options;
  options.environment.push_back(std::string(kChildRoleVariable) + "=" + role);
  return platform::Spawn({TestProgramPath()}, options);
}

class DeviceOpenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int d = 0; d < kRealDevices; ++d) ShutdownZimoDevice(d, 1);
    App().End();
  }
  void StartCardAndServer() {
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
  }
  SharedDeviceBlock& block(int device) { return server_->table()->Devices[device]; }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(DeviceOpenTest, FirstOpenHandshakesIdentifiesAndCountsTheTransport) {
  RegisterSerialDevice(0, 1);
  StartCardAndServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);

  const SharedDeviceBlock& b = block(0);
  EXPECT_EQ(b.Location, kLocationSerial);
  EXPECT_EQ(b.Enumeration, 1u);
  EXPECT_EQ(b.FirstOpenDone, 1u);
  EXPECT_EQ(b.TransportUserCount, 1u);
  EXPECT_EQ(b.SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(b.CardType, 2);  // the older card's "ZIMO2"
  EXPECT_STREQ(b.FirmwareVersion, "1.16F");
  EXPECT_EQ(App().table()->UserCount, 1u);

  // The handshake, in order: wake-up, the handshake variables with XON/XOFF,
  // checksums off, serial address (this card selects itself silently, so no
  // Ctrl-T follows), the known communication state, status.
  const std::vector<std::string> wanted = {"^Z", "I3=2?", "I4=0", "@0", "I3=2I6=1I63=1I64=1", "?"};
  std::vector<std::string> got = card_->received();
  std::size_t at = 0;
  for (const std::string& entry : got) {
    if (at < wanted.size() && entry == wanted[at]) ++at;
  }
  EXPECT_EQ(at, wanted.size()) << "the card missed " << wanted[std::min(at, wanted.size() - 1)];
  char record[100];
  ASSERT_EQ(App().rings().ChangeGet(0, record, 99), 1);
  EXPECT_STREQ(record, "I3=2");
  ASSERT_EQ(App().rings().ChangeGet(0, record, 99), 1);
  EXPECT_STREQ(record, kCriticalIVars);
  EXPECT_TRUE(ExchangeI10(0));
}

TEST_F(DeviceOpenTest, EveryOpenNeedsItsClose) {
  RegisterSerialDevice(0, 1);
  StartCardAndServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(App().User(0)->OpenCount, 2u);
  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_TRUE(ExchangeI10(0));
  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_FALSE(ExchangeI10(0));
  EXPECT_EQ(block(0).TransportUserCount, 0u);
  EXPECT_EQ(block(0).SerialOwnerProcessId, kNoOwner);
  EXPECT_EQ(block(0).SerialOwnerHandle, kNoOwner);
  // Both locks went with the device.
  EXPECT_FALSE(App().User(0)->CommandMutex.valid());
  EXPECT_FALSE(App().User(0)->DprDataMutex.valid());

  // One close with force drops every reference; closing again is harmless.
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(ShutdownZimoDevice(0, 1), 1);
  EXPECT_FALSE(ExchangeI10(0));
  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(ShutdownZimoDevice(8, 1), 1);
  EXPECT_EQ(ShutdownZimoDevice(9, 1), 0);
  EXPECT_EQ(CloseZimoDevice(9), 0);

  // The library's end in the process gives up its place in the table.
  EXPECT_EQ(server_->table()->UserCount, 1u);
  App().End();
  EXPECT_EQ(server_->table()->UserCount, 0u);
}

// Two device numbers on one serial port share this process's transport; it
// stays open while either of them is open, and closing a device that is not
// open touches nothing.
TEST_F(DeviceOpenTest, DevicesOnOnePortShareItsHandleUntilTheLastCloses) {
  RegisterSerialDevice(0, 1);
  RegisterSerialDevice(1, 1);
  StartCardAndServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(CloseZimoDevice(1), 1);  // never opened
  EXPECT_TRUE(ExchangeI10(0));
  ASSERT_EQ(OpenZimoDevice(1), 1);
  EXPECT_EQ(App().User(0)->Transport, App().User(1)->Transport);
  EXPECT_EQ(CloseZimoDevice(1), 1);
  EXPECT_TRUE(ExchangeI10(0));
  EXPECT_EQ(block(0).TransportUserCount, 1u);
  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(block(0).TransportUserCount, 0u);
}

TEST_F(DeviceOpenTest, RefusedRegistrationsCreateNoLock) {
  struct Case {
    const char* what;
    int device;
    std::uint32_t location;
    std::uint32_t enumeration;
    bool register_it;
  };
  const Case cases[] = {
      {"Location 0", 2, 0, 1, true},
      {"Location 6", 3, 6, 1, true},
      {"Enumeration 8", 4, kLocationSerial, 8, true},
      {"not registered", 5, 0, 0, false},
  };
  RegisterSerialDevice(0, 1);
  for (const Case& c : cases) {
    if (!c.register_it) continue;
    auto key = platform::RegistryKey::Create(
        platform::kHkeyLocalMachine,
        std::string(kDriverRootKeyPath) + "\\Device" + std::to_string(c.device));
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetDword(kLocationValue, c.location).ok());
    ASSERT_TRUE(key->SetDword(kEnumerationValue, c.enumeration).ok());
  }
  StartCardAndServer();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(OpenZimoDevice(static_cast<std::uint32_t>(c.device)), 0);
    EXPECT_EQ(App().User(c.device)->Transport, nullptr);
    auto lock = platform::NamedMutex::Open("MutexZimo" + std::to_string(c.device));
    EXPECT_EQ(lock.status().code(), platform::Code::kNotFound);
  }
  EXPECT_EQ(OpenZimoDevice(8), 0);
  EXPECT_EQ(OpenZimoDevice(0xFFFFFFFF), 0);
  EXPECT_TRUE(card_->received().empty());
}

TEST_F(DeviceOpenTest, NoConfiguredDeviceOpensNothing) {
  StartCardAndServer();
  EXPECT_EQ(OpenZimoDevice(0), 0);
}

TEST_F(DeviceOpenTest, SilentCardFailsTheOpenAndLeavesItClosed) {
  RegisterSerialDevice(0, 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 1, "SerCharTimeout", 150), 1);
  StartCardAndServer();
  card_->card().script().SetMuted(true);
  EXPECT_EQ(OpenZimoDevice(0), 0);
  EXPECT_EQ(App().User(0)->Transport, nullptr);
  EXPECT_FALSE(App().User(0)->CommandMutex.valid());
  EXPECT_EQ(block(0).TransportUserCount, 0u);
  EXPECT_EQ(block(0).FirstOpenDone, 0u);
  card_->card().script().SetMuted(false);
  EXPECT_EQ(OpenZimoDevice(0), 1);
}

TEST_F(DeviceOpenTest, SecondProcessSharesThePortUnderTheDeviceLock) {
  RegisterSerialDevice(0, 1);
  StartCardAndServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  auto child = StartChild("share");
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  // Both processes talk at once; every exchange stays whole.
  int exchanges = 0;
  while (child->IsRunning()) {
    ASSERT_TRUE(ExchangeI10(0));
    ++exchanges;
    // A lock taken again at once could keep the other process waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  auto code = child->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0) << "the second process failed (see RunChildRole)";
  EXPECT_GT(exchanges, 0);
  EXPECT_EQ(block(0).TransportUserCount, 1u);
  EXPECT_EQ(block(0).SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
  EXPECT_TRUE(ExchangeI10(0));
}

TEST_F(DeviceOpenTest, LateOpenerTakesOverThePortOfAnOwnerThatHasGone) {
  RegisterSerialDevice(0, 1);
  StartCardAndServer();
  auto child = StartChild("vanish");
  ASSERT_TRUE(child.ok());
  auto code = child->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(code.ok());
  ASSERT_EQ(*code, 0);
  EXPECT_EQ(block(0).SerialOwnerProcessId, static_cast<std::uint32_t>(child->pid()));

  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(block(0).SerialOwnerProcessId, static_cast<std::uint32_t>(::getpid()));
  EXPECT_TRUE(ExchangeI10(0));
}

// The simulated card answers "P5" after the library gave up on it (150 ms
// against a character time-out of 100 ms): that answer must never come back
// as the answer to "P6".
TEST_F(DeviceOpenTest, SerialCardAnsweringLateNeverAnswersTheNextCommand) {
  RegisterSerialDevice(0, 1);
  StartCardAndServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  char buffer[64];
  ASSERT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "P5=55 P6=66"), kStatusAck);
  block(0).SerCharTimeout = 100;
  card_->card().script().SetReplyDelay(std::chrono::milliseconds(150), 1);
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "P5") & kStatusMask, kStatusTimeout);
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "P6"), kStatusAck | 3u);
  EXPECT_STREQ(buffer, "66\r");
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "P5"), kStatusAck | 3u);
  EXPECT_STREQ(buffer, "55\r");
}

TEST_F(DeviceOpenTest, EthernetCardOpensThroughItsSocket) {
  const std::string address = UniqueLoopbackAddress();
  ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address)), 1);
  EthCard card(address);
  server_ = std::make_unique<StandInServer>();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(block(0).Location, kLocationEthernet);
  EXPECT_EQ(block(0).TransportUserCount, 1u);
  EXPECT_EQ(block(0).FirstOpenDone, 1u);
  EXPECT_EQ(block(0).CardType, 2);
  EXPECT_EQ(block(0).DprSetUpDone, App().User(0)->DprAvailable);
  EXPECT_TRUE(card.Received("I3=2I6=1I63=1I64=1?"));
  char buffer[64];
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
  EXPECT_EQ(word & kStatusMask, kStatusAck);
  EXPECT_STREQ(buffer, "3713707\r");
  EXPECT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(block(0).TransportUserCount, 0u);
  EXPECT_EQ(App().User(0)->Transport, nullptr);
}

// A card that misses one exchange is not lost when nobody answers the
// time-out prompt (no message service installed); once the link has gone,
// sends and flushes fail and say why.
TEST_F(DeviceOpenTest, EthernetLinkOutlivesAnUnansweredPromptAndAGoneOneFails) {
  const std::string address = UniqueLoopbackAddress();
  ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address)), 1);
  EthCard card(address);
  server_ = std::make_unique<StandInServer>();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  SetEthTimeoutCapForTesting(150);
  char buffer[64];

  card.card().script().SetMuted(true);
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "I10") & kStatusMask, kStatusFailure);
  card.card().script().SetMuted(false);
  EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "I10"), kStatusAck | 8u);
  EXPECT_STREQ(buffer, "3713707\r");
  EXPECT_EQ(ZimoSendCommandA(0, "P1=5"), 1);

  // Someone answers Yes: the cable was pulled, the link is given up.
  {
    platform::MessageRecorder boxes;
    platform::ScopedMessageService scoped(boxes);
    boxes.QueueAnswer(platform::kIdYes);
    card.card().script().SetMuted(true);
    EXPECT_EQ(ZimoGetResponseExA(0, buffer, sizeof buffer, "I10") & kStatusMask, kStatusFailure);
    card.card().script().SetMuted(false);
    EXPECT_EQ(boxes.count(), 1u);
  }
  EXPECT_EQ(ZimoSendCommandA(0, "P1=6"), 0);
  EXPECT_EQ(ZimoFlush(0), 0);
  EXPECT_EQ(ZimoGetError(0), 10057);
  EXPECT_FALSE(card.Received("P1=6"));
  SetEthTimeoutCapForTesting(0);
}

TEST_F(DeviceOpenTest, FirstOpenStartsZimoServerAndMapsItsTable) {
  const auto server = zimo::testing::BinDir() / "zimoserver";
  ASSERT_TRUE(std::filesystem::exists(server)) << server;
  RegisterSerialDevice(0, 1);
  card_ = std::make_unique<SerialCard>(1);
  auto registered = platform::Spawn({server.string(), "-RegServer"});
  ASSERT_TRUE(registered.ok());
  auto registered_code = registered->Wait(std::chrono::seconds(30));
  ASSERT_TRUE(registered_code.ok());
  ASSERT_EQ(*registered_code, 0);
  ASSERT_EQ(App().table(), nullptr);

  ASSERT_EQ(OpenZimoDevice(0), 1);
  SharedDeviceTable* table = App().table();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->TableSize, kSharedTableSize);
  EXPECT_NE(table->ServerProcessId, static_cast<std::uint32_t>(::getpid()));
  EXPECT_TRUE(platform::IsProcessAlive(static_cast<pid_t>(table->ServerProcessId)));
  EXPECT_GE(table->UserCount, 1u);
  EXPECT_EQ(table->Devices[0].Location, kLocationSerial);
  EXPECT_TRUE(ExchangeI10(0));

  // The library started the server, so it ends it here rather than wait for
  // the server's quiet time.
  const pid_t server_pid = static_cast<pid_t>(table->ServerProcessId);
  ShutdownZimoDevice(0, 1);
  App().End();
  ASSERT_EQ(::kill(server_pid, SIGTERM), 0);
  EXPECT_TRUE(automation::WaitForStartedServer(server_pid, std::chrono::seconds(30)).ok());
}

TEST(DprSetUpTest, VariableAreaAndPollLimits) {
  struct Case {
    const char* what;
    bool spran;
    std::int32_t type;
    std::uint32_t var;
    std::uint32_t i24;
    std::uint32_t base;
    std::uint32_t next_free;
    std::uint32_t clamped;
  };
  const Case cases[] = {
      {"older, size below the least", false, 2, 0x100, 0, 0xD000, 0xD200, 0x200},
      {"older, default size", false, 2, 3424, 0, 0xD000, 0xD000 + 3424, 3424},
      {"older, end address", false, 2, 0xE000, 0, 0xD000, 0xE000, 0xE000},
      {"older, end address below the start", false, 2, 0x5000, 0, 0xD000, 0xD000, 0xD000},
      {"SPRAN, end address past the window", true, 6, 0x70000, 0, 0x60000, 0x64000, 0x64000},
      {"SPRAN, size below the least", true, 6, 0x100, 0, 0x60000, 0x60450, 0x450},
      {"type 8 starts at I24", true, 8, 0x1000, 0x6C000, 0x6C000, 0x6D000, 0x1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto table = std::make_unique<SharedDeviceTable>();
    SharedDeviceBlock& b = table->Devices[0];
    DeviceConfigBlock& config = table->DeviceConfigs[0];
    b.SpranFlag = c.spran ? 1 : 0;
    b.CardType = c.type;
    b.LoopsPer500ms = 1000;  // two loops per millisecond
    config.DualPortRamVar = c.var;
    config.DPRRTTimeout = 2;
    config.DPRBackTimeout = 10;
    config.DPRCharTimeout = 1000;
    config.DPRFlushTimeout = 20;
    config.DualPortRamRot[0] = 0x12345;
    ComputeDprSetUp(b, config, c.i24);
    EXPECT_EQ(b.DprCardBase, c.base);
    EXPECT_EQ(b.VbgNextFree, c.next_free);
    EXPECT_EQ(config.DualPortRamVar, c.clamped);
    EXPECT_EQ(b.RealTimePollLimit, 4u);
    EXPECT_EQ(b.BackgroundPollLimit, 20u);
    EXPECT_EQ(b.DprCharPollLimit, 2000u);
    EXPECT_EQ(b.DprFlushPollLimit, 40u);
    EXPECT_EQ(b.RotBufSize[0], 0x2345u);
  }
}

}  // namespace
}  // namespace zimo::corvan

int main(int argc, char** argv) {
  if (const char* role = std::getenv(zimo::corvan::kChildRoleVariable)) {
    return zimo::corvan::RunChildRole(role);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
