// The link core's locking and settling through the exports a user's program
// calls (issue 59 and the serial kill item of issue 42): a close racing a
// call that waits for the device lock, the lock order of open and close,
// two device numbers on one serial port, a killed holder of the device lock
// whose answer is still coming, the card's checksum mode across processes,
// another process's open beside this one's exchanges. Every wait has a deadline that fails the
// test rather than hanging the suite.
//
// The program also plays the other processes: started with
// CORVAN_TEST_CHILD_ROLE set, it runs that role instead of the tests.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "eth_test_fixture.h"
#include "link/eth_transport.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using namespace std::chrono_literals;

constexpr char kChildRoleVariable[] = "CORVAN_TEST_CHILD_ROLE";

bool ExchangeI10(std::uint32_t device) {
  char buffer[64];
  const std::uint32_t word = ZimoGetResponseExA(device, buffer, sizeof buffer, "I10");
  return word == (kStatusAck | 8u) && std::strcmp(buffer, "3713707\r") == 0;
}

// Whether a fresh handle of "MutexZimo<device>" can be taken from another
// thread within `limit` (a stranded lock cannot).
bool LockIsFree(int device, std::chrono::milliseconds limit) {
  bool taken = false;
  std::thread other([&] {
    char name[32];
    std::snprintf(name, sizeof name, "MutexZimo%d", device);
    auto mutex = platform::NamedMutex::Create(name);
    if (!mutex.ok()) return;
    platform::Status s = mutex->Lock(limit);
    taken = s.ok() || s.code() == platform::Code::kAbandoned;
    if (taken) (void)mutex->Unlock();
  });
  other.join();
  return taken;
}

constexpr char kGoEventName[] = "LinkCoreTestGo";

// P101 and P102 answer with different values: a reply taken for another
// command's shows.
void SetUpVariables(std::uint32_t device) {
  ASSERT_EQ(ZimoSendCommandA(device, "P101=1111"), 1);
  ASSERT_EQ(ZimoSendCommandA(device, "P102=2222"), 1);
}

bool Exchange(std::uint32_t device, const char* command, const char* reply) {
  char buffer[64];
  const std::uint32_t word = ZimoGetResponseExA(device, buffer, sizeof buffer, command);
  return word == (kStatusAck | static_cast<std::uint32_t>(std::strlen(reply))) &&
         std::strcmp(buffer, reply) == 0;
}

// The other processes.
//   exchange: opens device 0, checks 20 exchanges, closes; exit code 0
//             (exit code 11: an exchange failed).
//   killed:   opens device 0, sends P100 (the test then holds the card's
//             next reply back), waits for the test's go, sends P101 and is
//             killed by the test while the answer is on its way.
//   open:     opens device 0 by the real clock (the open's own waits keep
//             their length), checks one exchange, closes; exit code 0.
//   checksums-on, checksums-off: opens device 0, switches the card's
//             checksums, checks 20 exchanges, closes; exit code 0.
int RunChildRole(const std::string& role) {
  if (role == "open") {
    if (OpenZimoDevice(0) != 1) return 10;
    if (!ExchangeI10(0)) return 11;
    CloseZimoDevice(0);
    App().End();
    return 0;
  }
  LibraryClock clock;
  if (role == "checksums-on" || role == "checksums-off") {
    if (OpenZimoDevice(0) != 1) return 10;
    if (ZimoDoChecksums(0, role == "checksums-on" ? 1 : 0) != 1) return 11;
    for (int i = 0; i < 20; ++i) {
      if (!ExchangeI10(0)) return 12;
    }
    CloseZimoDevice(0);
    App().End();
    return 0;
  }
  if (role == "killed") {
    if (OpenZimoDevice(0) != 1) return 10;
    auto go = platform::NamedEvent::Create(kGoEventName, platform::EventReset::kManual, false);
    if (!go.ok()) return 11;
    char buffer[64];
    (void)ZimoGetResponseExA(0, buffer, sizeof buffer, "P100");
    if (!go->Wait(20000ms).ok()) return 12;
    (void)ZimoGetResponseExA(0, buffer, sizeof buffer, "P101");
    return 13;  // not killed in time
  }
  if (role == "exchange") {
    if (OpenZimoDevice(0) != 1) return 10;
    for (int i = 0; i < 20; ++i) {
      if (!ExchangeI10(0)) return 11;
    }
    CloseZimoDevice(0);
    App().End();
    return 0;
  }
  return 99;
}

platform::Result<platform::Process> StartChild(const std::string& role) {
  platform::SpawnOptions options;
  options.environment.push_back(std::string(kChildRoleVariable) + "=" + role);
  return platform::Spawn({TestProgramPath()}, options);
}

// A child's exit code, or -1 when it did not end within `limit` (it is
// killed then).
int WaitChild(platform::Process& child, std::chrono::milliseconds limit) {
  auto code = child.Wait(limit);
  if (code.ok()) return *code;
  (void)child.Signal(SIGKILL);
  (void)child.Wait(5s);
  return -1;
}

class LinkCoreTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int d = 0; d < kRealDevices; ++d) ShutdownZimoDevice(d, 1);
    App().End();
  }
  void StartServer() { server_ = std::make_unique<StandInServer>(); }
  SharedDeviceBlock& block(int device) { return server_->table()->Devices[device]; }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<StandInServer> server_;
};

// A close while another thread of the process waits in the device lock: the
// waiting thread releases the very lock it took, so the lock is free again
// for every other handle and process (1.102 close step 3, 1.103).
TEST_F(LinkCoreTest, CloseRacingAWaitingCallNeverStrandsTheLock) {
  RegisterSerialDevice(0, 1);
  SerialCard card(1);
  StartServer();
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(OpenZimoDevice(0), 1) << "round " << round;
    std::promise<void> finish;
    std::shared_future<void> may_end = finish.get_future().share();
    std::atomic<bool> call_done{false};
    std::atomic<bool> close_done{false};
    FinishesWithin(20s, "the close racing a call", [&] {
      ASSERT_EQ(LockZimo(0), kWaitObject0);
      auto call = [&] {
        char buffer[64];
        (void)ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
        call_done = true;
        may_end.wait();  // stays alive: a lock it kept would not be abandoned
      };
      auto close = [&] {
        CloseZimoDevice(0);
        close_done = true;
      };
      // Both wait for the lock; the one that waited first mostly gets it
      // first, so the rounds take turns.
      std::thread first(round % 2 == 0 ? std::function<void()>(close) : call);
      std::this_thread::sleep_for(50ms);
      std::thread second(round % 2 == 0 ? std::function<void()>(call) : close);
      std::this_thread::sleep_for(50ms);
      EXPECT_EQ(ReleaseZimo(0), 1);
      while (!call_done || !close_done) std::this_thread::sleep_for(1ms);
      EXPECT_TRUE(LockIsFree(0, 2000ms)) << "round " << round << ": the device lock was stranded";
      finish.set_value();
      first.join();
      second.join();
    });
    if (HasFailure()) return;
  }
  // Another process's exchanges succeed.
  auto child = StartChild("exchange");
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  EXPECT_EQ(WaitChild(*child, 30s), 0) << "the other process failed or hung";
}

// A thread that holds one device's lock (LockZimo, as 1.103 invites) opens
// another device while a second thread closes the first: no process-wide
// lock is held while waiting for a device lock, so both end.
TEST_F(LinkCoreTest, OpenUnderOneDeviceLockAndCloseOfThatDeviceBothEnd) {
  RegisterSerialDevice(0, 1);
  RegisterSerialDevice(1, 2);
  SerialCard card1(1);
  SerialCard card2(2);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  FinishesWithin(20s, "open of device 1 under device 0's lock with a close of device 0", [&] {
    std::promise<void> holding;
    std::thread holder([&] {
      EXPECT_EQ(LockZimo(0), kWaitObject0);
      holding.set_value();
      std::this_thread::sleep_for(100ms);  // the close now waits for device 0
      EXPECT_EQ(OpenZimoDevice(1), 1);
      EXPECT_TRUE(ExchangeI10(1));
      EXPECT_EQ(ReleaseZimo(0), 1);
    });
    holding.get_future().wait();
    std::thread closer([&] { EXPECT_EQ(CloseZimoDevice(0), 1); });
    holder.join();
    closer.join();
  });
  EXPECT_FALSE(ExchangeI10(0));
  EXPECT_TRUE(ExchangeI10(1));
}

// Two device numbers on one COM port exchange one at a time: each of a few
// thousand replies belongs to its own command (1.102, 1.115).
TEST_F(LinkCoreTest, TwoDeviceNumbersOnOneSerialPortNeverMixTheirReplies) {
  RegisterSerialDevice(0, 1);
  RegisterSerialDevice(5, 1);
  SerialCard card(1);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_EQ(OpenZimoDevice(5), 1);
  SetUpVariables(0);
  std::atomic<int> wrong{0};
  std::atomic<int> done{0};
  FinishesWithin(60s, "exchanges of two device numbers on one port", [&] {
    auto run = [&](std::uint32_t device, const char* command, const char* reply) {
      for (int i = 0; i < 1000; ++i) {
        if (!Exchange(device, command, reply)) ++wrong;
        ++done;
      }
    };
    std::thread zero(run, 0u, "P101", "1111\r");
    std::thread five(run, 5u, "P102", "2222\r");
    zero.join();
    five.join();
  });
  EXPECT_EQ(done.load(), 2000);
  EXPECT_EQ(wrong.load(), 0) << "replies that were another command's, or lost";
}

// A client killed while its command's answer is on the line leaves the
// device lock abandoned: the next holder settles the line before its own
// command and gets its own answer (issue 42, 1.115).
TEST_F(LinkCoreTest, SerialAnswerOfAKilledClientIsNeverTheNextHoldersReply) {
  RegisterSerialDevice(0, 1);
  // Long enough that the other process is killed before its read gives up.
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 1, "SerCharTimeout", 4000), 1);
  SerialCard card(1);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  SetUpVariables(0);
  auto go = platform::NamedEvent::Create(kGoEventName, platform::EventReset::kManual, false);
  ASSERT_TRUE(go.ok());
  for (int round = 0; round < 2; ++round) {
    (void)go->Reset();
    auto child = StartChild("killed");
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    ASSERT_TRUE(card.Received("P100")) << "round " << round;
    card.card().script().SetReplyDelay(100ms, 1);
    ASSERT_TRUE(go->Set().ok());
    const bool sent = card.Received("P101");
    (void)child->Signal(SIGKILL);
    EXPECT_EQ(WaitChild(*child, 10s), 128 + SIGKILL);
    ASSERT_TRUE(sent) << "round " << round;
    FinishesWithin(20s, "the exchange after a killed client", [&] {
      EXPECT_TRUE(Exchange(0, "P102", "2222\r")) << "round " << round;
      EXPECT_TRUE(Exchange(0, "P101", "1111\r")) << "round " << round;
    });
  }
}

// A timing setting far outside its range (1.111 step 2 would wait it out
// under the device lock) fails that device's open in bounded time; another
// card opens and answers.
TEST_F(LinkCoreTest, OutOfRangeTimingSettingFailsOnlyThatDevicesOpen) {
  RegisterSerialDevice(0, 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 1, "SerCharTimeout", 0xFFFFFFFFu), 1);
  RegisterSerialDevice(1, 2);
  SerialCard card1(1);
  SerialCard card2(2);
  StartServer();
  FinishesWithin(20s, "opens with an out-of-range setting", [&] {
    EXPECT_EQ(OpenZimoDevice(0), 0);
    EXPECT_EQ(OpenZimoDevice(1), 1);
    EXPECT_TRUE(ExchangeI10(1));
  });
  // In range again: the device opens.
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 1, "SerCharTimeout", kTestCharTimeoutMs), 1);
  FinishesWithin(20s, "the open with the setting in range", [&] {
    EXPECT_EQ(OpenZimoDevice(0), 1);
    EXPECT_TRUE(ExchangeI10(0));
  });
}

// The checksum mode is the card's: another process's open leaves it as it
// is, and a switch by one process holds for every process, so that each
// frames its exchanges as the card answers (no error 80 or bad-checksum box
// after another process opened, no sum byte left in a plain reply).
TEST_F(LinkCoreTest, ChecksumModeHoldsForEveryProcessThatUsesTheCard) {
  struct Case {
    const char* name;
    bool checksums_here;     // this process switches the card on first
    const char* other_role;  // what the other process does meanwhile
    bool card_checksummed;   // the card's mode afterwards
  };
  const Case cases[] = {
      {"another process opens a checksummed card", true, "exchange", true},
      {"another process switches checksums on", false, "checksums-on", true},
      {"another process switches checksums off", true, "checksums-off", false},
  };
  RegisterSerialDevice(0, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialCard card(1);
    StartServer();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    if (c.checksums_here) ASSERT_EQ(ZimoDoChecksums(0, 1), 1);
    ASSERT_EQ(card.card().ChecksumMode(), c.checksums_here);
    EXPECT_TRUE(ExchangeI10(0)) << "before the other process";

    auto child = StartChild(c.other_role);
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    EXPECT_EQ(WaitChild(*child, 60s), 0) << "the other process's exchanges failed or hung";
    EXPECT_EQ(card.card().ChecksumMode(), c.card_checksummed);

    FinishesWithin(60s, "exchanges after the other process", [&] {
      for (int i = 0; i < 5; ++i) {
        char buffer[64];
        const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
        EXPECT_EQ(word, kStatusAck | 8u) << "exchange " << i;
        EXPECT_STREQ(buffer, "3713707\r") << "exchange " << i;
        EXPECT_EQ(ZimoGetError(0), 0) << "exchange " << i;
      }
    });
    for (int d = 0; d < kRealDevices; ++d) ShutdownZimoDevice(d, 1);
    App().End();
    server_.reset();
    if (HasFailure()) return;
  }
}

// Another process killed in its open's handshake, while it has the card out
// of checksum mode for its plain exchanges, leaves the card and the shared
// record telling the same mode: this process's exchanges go on framed as
// the card answers (no error 80 on every exchange until someone opens).
TEST_F(LinkCoreTest, AnOpenKilledInItsHandshakeLeavesTheCardsModeAsTheRecordSays) {
  RegisterSerialDevice(0, 1);
  SerialCard card(1);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_EQ(ZimoDoChecksums(0, 1), 1);
  ASSERT_TRUE(ExchangeI10(0));
  const auto count = [&](const std::string& entry) {
    const std::vector<std::string> lines = card.received();
    return std::count(lines.begin(), lines.end(), entry);
  };
  const auto seen = count("@0");

  auto child = StartChild("open");
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  // "@0" follows the handshake's switch out of checksum mode; the open then
  // pauses a second before it would switch the card back.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (count("@0") == seen && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  (void)child->Signal(SIGKILL);
  (void)WaitChild(*child, 10s);
  ASSERT_GT(count("@0"), seen) << "the other process's handshake never got that far";

  FinishesWithin(60s, "exchanges after the killed open", [&] {
    for (int i = 0; i < 5; ++i) {
      char buffer[64];
      const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
      EXPECT_EQ(word, kStatusAck | 8u) << "exchange " << i;
      EXPECT_STREQ(buffer, "3713707\r") << "exchange " << i;
      EXPECT_EQ(ZimoGetError(0), 0) << "exchange " << i;
    }
  });
}

// Another process's open of a serial card holds the device lock only for
// the open's own exchanges and its one-second pause, not for seconds of
// counting waits: this process's exchanges go on. The character time-out is
// long (the open used to count 1 ms waits over it twice under the lock, 20 s
// here); the other process runs by the real clock.
TEST_F(LinkCoreTest, AnotherProcessOpeningTheCardDoesNotStallItsExchangesForSeconds) {
  RegisterSerialDevice(0, 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, 1, "SerCharTimeout", 10000), 1);
  SerialCard card(1);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_TRUE(ExchangeI10(0));

  std::atomic<bool> stop{false};
  std::atomic<int> failed{0};
  std::vector<std::chrono::steady_clock::time_point> done_at;
  std::thread exchanges([&] {
    while (!stop) {
      if (!ExchangeI10(0)) ++failed;
      done_at.push_back(std::chrono::steady_clock::now());
    }
  });
  auto child = StartChild("open");
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  const int code = WaitChild(*child, 90s);
  stop = true;
  exchanges.join();
  EXPECT_EQ(code, 0) << "the other process's open failed or hung";
  EXPECT_EQ(failed.load(), 0);
  ASSERT_TRUE(card.Received("?"));  // the other open's handshake reached the card
  std::chrono::steady_clock::duration longest{0};
  for (std::size_t i = 1; i < done_at.size(); ++i) {
    longest = std::max(longest, done_at[i] - done_at[i - 1]);
  }
  // The open's pause is one second; 8 s leaves room for a loaded machine
  // and still fails a lock held through the counting (20 s and more).
  EXPECT_LT(longest, std::chrono::steady_clock::duration(8s))
      << "this process's exchanges stalled for "
      << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";
}

class EthLinkCoreTest : public LinkCoreTest, public ::testing::WithParamInterface<bool> {
 protected:
  void TearDown() override {
    SetEthTimeoutCapForTesting(0);
    LinkCoreTest::TearDown();
  }
  // Registers device 0 as the card on a loopback address of the test's own,
  // by UDP or TCP (the test's parameter).
  std::string RegisterEthernet() {
    const std::string address = UniqueLoopbackAddress();
    EXPECT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
    EXPECT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", AddressNumber(address)), 1);
    EXPECT_EQ(SetLocationRegDword(kLocationEthernet, 0, "TCPMode", GetParam() ? 1 : 0), 1);
    return address;
  }
};

// An answer the card sends after the time-out is never taken for the next
// command's (1.117, 1.118): the next exchange settles the link first.
TEST_P(EthLinkCoreTest, LateAnswerAfterATimeOutIsNeverTheNextCommandsReply) {
  const std::string address = RegisterEthernet();
  EthCard card(address);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  SetUpVariables(0);
  SetEthTimeoutCapForTesting(500);
  FinishesWithin(30s, "exchanges after a late answer", [&] {
    for (int round = 0; round < 2; ++round) {
      card.card().script().SetReplyDelay(700ms, 1);
      char buffer[64];
      EXPECT_NE(ZimoGetResponseExA(0, buffer, sizeof buffer, "P101") & kStatusMask, kStatusAck)
          << "round " << round << ": the answer was not late";
      EXPECT_TRUE(Exchange(0, "P102", "2222\r")) << "round " << round;
      EXPECT_TRUE(Exchange(0, "P101", "1111\r")) << "round " << round;
    }
  });
}

// A client killed while its answer is outstanding: the next holder's
// command gets its own answer.
TEST_P(EthLinkCoreTest, AnswerOfAKilledClientIsNeverTheNextHoldersReply) {
  const std::string address = RegisterEthernet();
  EthCard card(address);
  StartServer();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  SetUpVariables(0);
  auto go = platform::NamedEvent::Create(kGoEventName, platform::EventReset::kManual, false);
  ASSERT_TRUE(go.ok());
  auto child = StartChild("killed");
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!card.Received("P100") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(card.Received("P100"));
  card.card().script().SetReplyDelay(200ms, 1);
  ASSERT_TRUE(go->Set().ok());
  while (!card.Received("P101") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  const bool sent = card.Received("P101");
  (void)child->Signal(SIGKILL);
  EXPECT_EQ(WaitChild(*child, 10s), 128 + SIGKILL);
  ASSERT_TRUE(sent);
  FinishesWithin(30s, "the exchange after a killed client", [&] {
    EXPECT_TRUE(Exchange(0, "P102", "2222\r"));
    EXPECT_TRUE(Exchange(0, "P101", "1111\r"));
  });
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, EthLinkCoreTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Tcp" : "Udp";
                         });

}  // namespace
}  // namespace zimo::corvan

int main(int argc, char** argv) {
  if (const char* role = std::getenv(zimo::corvan::kChildRoleVariable)) {
    return zimo::corvan::RunChildRole(role);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
