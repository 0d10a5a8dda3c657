// A PCI device opened through the library from end to end: the driver host
// started through the library's driver service, ZimoServer started by the
// first open, the card identified and its DPR set up, commands over the bus
// channel and, after the switch, through the DPR mailbox. Then, with the
// driver host inside this process so the card's log can be read: time-outs
// on either channel and the restore line each sends, unsolicited lines,
// interrupts through a device opened the ordinary way, and close.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/interrupt_api.h"
#include "corvan/services_api.h"
#include "dpr/dpr_map.h"
#include "dpr/rotary_reset.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "link/bus_channel.h"
#include "link/device_level_api.h"
#include "link/dpr_channel.h"
#include "link/driver_device.h"
#include "link/location_settings.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace std::chrono_literals;
using testing::InstallDriverHost;
using testing::LibraryClock;
using testing::StandInServer;
using testing::WaitForDriverDevice;

std::uint32_t Exchange(const char* command, std::string* text) {
  char buffer[256];
  buffer[0] = 0;
  const std::uint32_t word = ZimoGetResponseExA(0, buffer, sizeof buffer, command);
  *text = buffer;
  return word;
}

// The command text in the DPR mailbox's host-to-card slot; emptied first by
// ClearMailboxSlot.
std::string MailboxSlot() {
  char text[161] = {};
  ZimoDPRGetMem(0, kDprOlder.mailbox_host_text, 160, text);
  return text;
}
void ClearMailboxSlot() {
  const char zeros[160] = {};
  ASSERT_NE(ZimoDPRSetMem(0, kDprOlder.mailbox_host_text, sizeof zeros, zeros), nullptr);
}

TEST(PciOpenTest, ThroughTheDriverServiceAndZimoServer) {
  const auto server = zimo::testing::BinDir() / "zimoserver";
  if (!std::filesystem::exists(server)) GTEST_SKIP() << "zimoserver is not built";
  zimo::testing::TempHome home;
  LibraryClock clock;
  ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationPci, 0, "EnableInterrupts", 1), 1);
  InstallDriverHost("ZimoPCI");
  auto registered = platform::Spawn({server.string(), "-RegServer"});
  ASSERT_TRUE(registered.ok());
  ASSERT_EQ(*registered->Wait(30s), 0);

  // The driver host comes up as the driver service.
  ASSERT_EQ(DrvCreateServicesNode(0, 1), 1);
  DrvCloseServiceManager(0);
  ASSERT_EQ(ZimoLoadNTDriver(0), 1);
  ASSERT_TRUE(WaitForDriverDevice("ZimoPCI0"));

  // The first open starts ZimoServer, identifies the card and sets its DPR up.
  ASSERT_EQ(App().table(), nullptr);
  ASSERT_EQ(OpenZimoDevice(0), 1);
  SharedDeviceTable* table = App().table();
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(platform::IsProcessAlive(static_cast<pid_t>(table->ServerProcessId)));
  const SharedDeviceBlock& b = table->Devices[0];
  EXPECT_EQ(b.Location, kLocationPci);
  EXPECT_EQ(b.FirstOpenDone, 1u);
  EXPECT_EQ(b.CardType, 2);
  EXPECT_STREQ(b.FirmwareVersion, "1.16F");
  EXPECT_EQ(App().User(0)->DprAvailable, 1u);
  EXPECT_EQ(b.DprSetUpDone, 1u);
  EXPECT_EQ(b.DprCardBase, 0xD000u);
  EXPECT_GT(b.VbgNextFree, 0xD000u);
  EXPECT_EQ(b.InterruptsEnabled, 1u);
  EXPECT_EQ(ZimoGetLocation(0), kLocationPci);

  // VERSION over the bus channel: the mailbox slot stays empty.
  std::string text;
  ClearMailboxSlot();
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "1.16F\r");
  EXPECT_EQ(MailboxSlot(), "");

  // After the switch the same command goes through the mailbox.
  ASSERT_EQ(ZimoSetAsciiComm(0, 1), 1);
  EXPECT_EQ(b.DprAsciiEnabled, 1);
  EXPECT_EQ(ZimoGetAsciiComm(0), 1);
  ClearMailboxSlot();
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(text, "1.16F\r");
  EXPECT_EQ(MailboxSlot(), "VERSION");
  ASSERT_EQ(ZimoSetAsciiComm(0, 0), 1);
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);

  ASSERT_EQ(CloseZimoDevice(0), 1);
  EXPECT_FALSE(HasDriverDevice(0));
  const pid_t server_pid = static_cast<pid_t>(table->ServerProcessId);
  App().End();
  // The server would end on its own after its quiet time; it is not what
  // this test is about.
  ::kill(server_pid, SIGTERM);
  EXPECT_TRUE(automation::WaitForStartedServer(server_pid, 30s).ok());
  EXPECT_EQ(ZimoUnloadNTDriver(0), 1);
  EXPECT_FALSE(platform::DeviceFile::Open("\\\\.\\ZimoPCI0", nullptr, 200ms).ok());
}

// The driver host in this process with one older PCI card, the shared
// device table of a stand-in server, and device 0 opened by the library.
class InProcessPciTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const bool isa = Isa();
    const std::uint32_t location = isa ? kLocationIsa : kLocationPci;
    ASSERT_EQ(RegisterDevice(0, location, 0, nullptr), 1);
    ASSERT_EQ(SetLocationRegDword(location, 0, "EnableInterrupts", EnableInterrupts()), 1);
    devices_ = std::make_unique<drivers::host::DeviceServer>(host_.kernel());
    devices_->Start();
    drivers::host::CardConfig config;
    std::string error;
    ASSERT_TRUE(drivers::host::ParseCardConfig(CardText(), &config, &error)) << error;
    config.type_text = TypeText();
    ASSERT_EQ(host_.AddCard(config, &card_id_), 0);
    ASSERT_TRUE(WaitForDriverDevice(isa ? "ZimoISA0" : "ZimoPCI0"));
    server_ = std::make_unique<StandInServer>();
    // Marks in the card's DPR that the first opener's set-up must clear or
    // keep: rotary descriptor 0's size and indexes, and the first word.
    card().memory().SetDprWord(RotaryDescriptorOffset(false, 0) + 8, 200);
    card().memory().SetDprWord(RotaryDescriptorOffset(false, 0) + 4, 17);
    card().memory().SetDprWord(0, 0x1234);
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    devices_.reset();
  }
  virtual std::uint32_t EnableInterrupts() { return 1; }
  virtual bool Isa() { return false; }
  virtual const char* CardText() { return Isa() ? "isa older" : "pci older"; }
  virtual std::string TypeText() { return ""; }  // the card's "TYPE" reply; "": its own

  // The command lines the card received since its log was cleared, without
  // the control characters of the flushes.
  std::vector<std::string> CardLines() {
    std::vector<std::string> lines;
    for (const std::string& entry : card().script().received()) {
      if (!entry.empty() && entry[0] != '^') lines.push_back(entry);
    }
    return lines;
  }
  std::vector<std::string> TakeChangeRecords() {
    std::vector<std::string> records;
    char record[400];
    while (App().rings().ChangeReadReady(0) != 0) {
      record[0] = 0;
      App().rings().ChangeGet(0, record, sizeof record - 1);
      records.push_back(record);
    }
    return records;
  }
  // Switches the card's mailbox on, then off, and checks the lines the card
  // received and the change records of each switch.
  void SwitchMailbox(const std::vector<std::string>& on_lines,
                     const std::vector<std::string>& on_records) {
    TakeChangeRecords();
    card().script().ClearLog();
    ASSERT_EQ(ZimoDPRComm(0, 1), 1);
    EXPECT_EQ(server_->table()->Devices[0].DprAsciiEnabled, 1);
    EXPECT_EQ(CardLines(), on_lines);
    EXPECT_EQ(TakeChangeRecords(), on_records);
    EXPECT_EQ(card().IVar(58), 1);

    card().script().ClearLog();
    ASSERT_EQ(ZimoDPRComm(0, 0), 1);
    EXPECT_EQ(server_->table()->Devices[0].DprAsciiEnabled, 0);
    EXPECT_EQ(CardLines(), (std::vector<std::string>{"i58=0", "i56=0"}));
    EXPECT_EQ(TakeChangeRecords(), std::vector<std::string>{"I56=0 I58=0"});
    EXPECT_EQ(card().IVar(58), 0);
  }

  cardsim::Card& card() { return *host_.SimCard(card_id_); }
  bool CardReceived(const std::string& line) {
    const std::vector<std::string> log = card().script().received();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::string Unsolicited() {
    char text[100] = {};
    App().rings().GetUSResponse(0, text, sizeof text - 1);
    return text;
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  drivers::host::DriverHost host_;
  std::unique_ptr<drivers::host::DeviceServer> devices_;
  std::unique_ptr<StandInServer> server_;
  int card_id_ = -1;
};

TEST_F(InProcessPciTest, FirstOpenSetsTheDprUpAndLeavesTheControlPanelAlone) {
  const SharedDeviceBlock& b = server_->table()->Devices[0];
  EXPECT_EQ(b.DprSetUpDone, 1u);
  EXPECT_EQ(card().memory().DprWord(RotaryDescriptorOffset(false, 0) + 8), 0);
  EXPECT_EQ(card().memory().DprWord(RotaryDescriptorOffset(false, 0) + 4), 0);
  EXPECT_EQ(card().memory().DprWord(kDprOlder.vbg_entry_count), 0);
  // The DPR tests of the open and of the mailbox switch left word $D000 as
  // it was.
  ASSERT_EQ(ZimoSetAsciiComm(0, 1), 1);
  EXPECT_EQ(card().memory().DprWord(0), 0x1234);
  EXPECT_TRUE(CardReceived("I58=1"));
}

// An older card (type 2) has I56 cleared before its mailbox goes on.
TEST_F(InProcessPciTest, TheMailboxSwitchSendsAndRecordsItsLines) {
  ASSERT_EQ(server_->table()->Devices[0].CardType, 2);
  SwitchMailbox({"I56=0", "I58=1"}, {"I56=0", "I58=1"});
}

class ZimoUPciTest : public InProcessPciTest {
 protected:
  std::string TypeText() override { return "ZIMOU"; }
};

// Type 3 clears I56 too.
TEST_F(ZimoUPciTest, TheMailboxSwitchSendsAndRecordsItsLines) {
  ASSERT_EQ(server_->table()->Devices[0].CardType, 3);
  SwitchMailbox({"I56=0", "I58=1"}, {"I56=0", "I58=1"});
}

class SpranPciTest : public InProcessPciTest {
 protected:
  const char* CardText() override { return "pci spran"; }
};

// A SPRAN card's mailbox goes on with I58 alone.
TEST_F(SpranPciTest, TheMailboxSwitchSendsAndRecordsItsLines) {
  ASSERT_EQ(server_->table()->Devices[0].CardType, 6);  // SPRAN2 in the library's numbering
  SwitchMailbox({"I58=1"}, {"I58=1"});
}

TEST_F(InProcessPciTest, ATimedOutResponseRestoresTheCardOnEitherChannel) {
  std::string text;
  card().script().SetMuted(true);
  EXPECT_EQ(Exchange("VERSION", &text), kStatusTimeout);
  EXPECT_TRUE(CardReceived(kBusRestoreLine));
  char record[100] = {};
  ASSERT_EQ(App().rings().ChangeGet(0, record, sizeof record - 1), 1);
  EXPECT_STREQ(record, kBusRestoreLine);
  card().script().SetMuted(false);
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);

  ASSERT_EQ(ZimoSetAsciiComm(0, 1), 1);
  card().script().SetMuted(true);
  EXPECT_EQ(Exchange("VERSION", &text), kStatusTimeout);
  EXPECT_TRUE(CardReceived(kDprRestoreLine));
  card().script().SetMuted(false);
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
}

TEST_F(InProcessPciTest, UnsolicitedLinesGoToTheRingOnEitherChannel) {
  // The card sends a waiting message when it has nothing else to say.
  std::string text;
  char line[64];
  card().PostUnsolicited("MOTION DONE");
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line), kStatusUnsolicited);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(Unsolicited(), "MOTION DONE");
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);

  ASSERT_EQ(ZimoSetAsciiComm(0, 1), 1);
  card().PostUnsolicited("PROGRAM END");
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line), kStatusUnsolicited);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(Unsolicited(), "PROGRAM END");
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
}

TEST_F(InProcessPciTest, ChoosingTheChannelItUsesAlreadyFlushesNothing) {
  ASSERT_EQ(ZimoSendLineA(0, "VERSION"), 8u);
  EXPECT_EQ(ZimoSetAsciiComm(0, 0), 1);
  char line[64];
  EXPECT_EQ(ZimoGetLineExA(0, line, sizeof line), kStatusLine | 6u);
  EXPECT_STREQ(line, "1.16F\r");
  // Another process's switch reaches this one when it asks.
  server_->table()->Devices[0].DprAsciiEnabled = 1;
  EXPECT_EQ(ZimoGetAsciiComm(0), 1);
  EXPECT_EQ(App().User(0)->AsciiCommMode, 1u);
}

// What an interrupt notification delivered.
struct Heard {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint32_t> bits;
};
Heard* g_heard = nullptr;

void OnInterrupt(std::uint32_t, InterruptInfo* info) {
  std::lock_guard<std::mutex> lock(g_heard->mutex);
  g_heard->bits.push_back(info->Bit);
  g_heard->changed.notify_all();
}

TEST_F(InProcessPciTest, InterruptsOfAnOpenedDeviceAndClose) {
  Heard heard;
  g_heard = &heard;
  ASSERT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 0, 0x01), 1);
  ASSERT_TRUE(host_.RaiseInterrupts(card_id_, {0x01}, true));
  ASSERT_TRUE(host_.RaiseInterrupts(card_id_, {0x02}, true));
  {
    std::unique_lock<std::mutex> lock(heard.mutex);
    ASSERT_TRUE(heard.changed.wait_for(lock, 20s, [&] { return !heard.bits.empty(); }));
    EXPECT_EQ(heard.bits, std::vector<std::uint32_t>{0x02});
  }
  // Close stops the waiting thread and lets the driver go.
  ASSERT_EQ(Outp(0, 5, 0x5A), 1);
  ASSERT_EQ(Inp(0, 5), 0x5A);
  ASSERT_EQ(App().User(0)->DprAvailable, 1u);
  ASSERT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(App().User(0)->DprAvailable, 0u);
  EXPECT_FALSE(App().User(0)->Interrupts.IntrThread.joinable());
  EXPECT_FALSE(HasDriverDevice(0));
  EXPECT_FALSE(App().User(0)->Interrupts.IntrStartEvent.valid());
  g_heard = nullptr;

  // Opened again, the device works as before, its port registers 5 and 6
  // cleared by the open.
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(Inp(0, 5), 0);
  std::string text;
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
}

class InterruptsDisabledTest : public InProcessPciTest {
 protected:
  std::uint32_t EnableInterrupts() override { return 0; }
};

TEST_F(InterruptsDisabledTest, NoNotificationStarts) {
  EXPECT_EQ(server_->table()->Devices[0].InterruptsEnabled, 0u);
  EXPECT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 0, 0), 0);
  EXPECT_FALSE(App().User(0)->Interrupts.IntrThread.joinable());
}

// An ISA card takes the same path; its interrupts are always handed over,
// whatever its settings say.
class IsaCardTest : public InProcessPciTest {
 protected:
  bool Isa() override { return true; }
  std::uint32_t EnableInterrupts() override { return 0; }
};

TEST_F(IsaCardTest, OpensAndHearsItsInterrupts) {
  EXPECT_EQ(server_->table()->Devices[0].Location, kLocationIsa);
  std::string text;
  EXPECT_EQ(Exchange("VERSION", &text), kStatusAck | 6u);
  EXPECT_EQ(App().User(0)->DprAvailable, 1u);
  Heard heard;
  g_heard = &heard;
  ASSERT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 0, 0), 1);
  ASSERT_TRUE(host_.RaiseInterrupts(card_id_, {0x10}, true));
  {
    std::unique_lock<std::mutex> lock(heard.mutex);
    ASSERT_TRUE(heard.changed.wait_for(lock, 20s, [&] { return !heard.bits.empty(); }));
    EXPECT_EQ(heard.bits, std::vector<std::uint32_t>{0x10});
  }
  EXPECT_EQ(ZimoINTRTerminate(0), 1);
  g_heard = nullptr;
}

// The device-level functions on a table of the test's own.
class DeviceLevelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<SharedDeviceTable>();
    CommLibraryApp::UseServerTable(table_.get());
  }
  void TearDown() override { App().End(); }

  zimo::testing::TempHome home_;
  std::unique_ptr<SharedDeviceTable> table_;
};

TEST_F(DeviceLevelTest, DeviceNumbersAndLocations) {
  ASSERT_EQ(RegisterDevice(0, kLocationSerial, 1, table_.get()), 1);
  ASSERT_EQ(RegisterDevice(1, kLocationPci, 0, table_.get()), 1);
  ASSERT_EQ(RegisterDevice(2, kLocationPci, 1, table_.get()), 1);
  EXPECT_EQ(MapDeviceNumToEnumAndLocation(kLocationPci, 1), 2);
  EXPECT_EQ(MapDeviceNumToEnumAndLocation(kLocationPci, 3), -1);
  EXPECT_EQ(MapDeviceNumToEnumAndLocation(kLocationInvalid, 0), -1);
  std::uint32_t location = 99;
  std::uint32_t enumeration = 99;
  EXPECT_EQ(MapLocAndEnumFromDeviceNum(2, &location, &enumeration), 1);
  EXPECT_EQ(location, kLocationPci);
  EXPECT_EQ(enumeration, 1u);
  EXPECT_EQ(MapLocAndEnumFromDeviceNum(5, &location, &enumeration), 0);
  EXPECT_EQ(DeviceKeyExists(5), 0);
  EXPECT_EQ(MapLocAndEnumFromDeviceNum(9, &location, &enumeration), 0);
  EXPECT_EQ(ZimoGetLocation(2), kLocationPci);
  EXPECT_EQ(ZimoGetEnumeration(2), 1u);
  EXPECT_EQ(ZimoGetLocation(9), 0u);
  EXPECT_EQ(ZimoNcAvailable(), 1);
}

TEST_F(DeviceLevelTest, OnlyBusCardsHaveAMailbox) {
  table_->Devices[3].Location = kLocationUsb;
  table_->Devices[4].Location = kLocationEthernet;
  table_->Devices[5].Location = kLocationSerial;
  for (int device : {3, 4, 5}) {
    table_->Devices[device].DprAsciiEnabled = 1;
    EXPECT_EQ(ZimoSetAsciiComm(static_cast<std::uint32_t>(device), 1), 0) << device;
    EXPECT_EQ(table_->Devices[device].DprAsciiEnabled, 0) << device;
  }
  table_->Devices[4].DprAsciiEnabled = 1;
  EXPECT_EQ(ZimoGetAsciiComm(4), 0);
  EXPECT_EQ(ZimoGetAsciiComm(3), 0);
  EXPECT_EQ(ZimoSetAsciiComm(3, 0), 1);
  EXPECT_EQ(ZimoSetAsciiComm(9, 0), 0);
}

TEST_F(DeviceLevelTest, LanguageModules) {
  EXPECT_EQ(SatellitePath("/opt/zimo/X.dll", "German"), "/opt/zimo/X.Ger");
  EXPECT_EQ(SatellitePath("/opt/zimo/libcorvan32.so", "French"), "/opt/zimo/libcorvan32.Fre");
  void* own = nullptr;
  ASSERT_EQ(ZimoLMH(&own), &own);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(SetLanguageModule("C", own, nullptr), 0);
  void* empty = nullptr;
  EXPECT_EQ(SetLanguageModule("C", own, &empty), 0);
  EXPECT_EQ(empty, nullptr);

  ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, table_.get()), 1);
  EXPECT_EQ(ZimoSetLanguage(0, "C"), 1);
  std::string language;
  GetDeviceRegString(0, kLanguageValue, &language, "");
  EXPECT_EQ(language, "C");
  // No satellite beside the library: its own texts stay, and the device
  // records English.
  EXPECT_EQ(ZimoSetLanguage(0, "Klingon"), 0);
  GetDeviceRegString(0, kLanguageValue, &language, "");
  EXPECT_EQ(language, "English");
  void* now = nullptr;
  ZimoLMH(&now);
  EXPECT_EQ(now, own);
}

}  // namespace
}  // namespace zimo::corvan
