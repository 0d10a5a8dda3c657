// The drivers as user mode sees them: zimo-drvhost serving simulated cards,
// reached through the platform's DeviceIoControl client.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "drivers/zimo_ioctl.h"
#include "host_process.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::chrono_literals;
using platform::DeviceFile;
using platform::IoControlResult;

DeviceFile OpenDevice(const std::string& path) {
  auto file = DeviceFile::Open(path);
  EXPECT_TRUE(file.ok()) << file.status().ToString();
  return file.ok() ? std::move(file.value()) : DeviceFile();
}

IoControlResult Call(DeviceFile& f, uint32_t code, const std::string& text = {}) {
  return f.DeviceIoControl(code, text.empty() ? nullptr : text.c_str(),
                           text.empty() ? 0 : static_cast<uint32_t>(text.size() + 1), nullptr, 0);
}

LineIoBlock GetLine(DeviceFile& f, uint32_t code) {
  LineIoBlock line{};
  line.requested = 256;
  IoControlResult r = f.DeviceIoControl(code, &line, sizeof(line), &line, sizeof(line));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes_returned, sizeof(line));
  return line;
}

class HostTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
};

TEST_F(HostTest, LinesThroughThePortAndTheMailboxOfBothLayouts) {
  HostProcess host({"pci older", "pci spran"});
  for (const char* name : {"\\\\.\\ZimoPCI0", "\\\\.\\zimopci1"}) {
    SCOPED_TRACE(name);
    DeviceFile f = OpenDevice(name);
    ASSERT_TRUE(f.is_open());
    Call(f, IOCTL_ZIMO_BUS_FLUSH);
    EXPECT_EQ(Call(f, IOCTL_ZIMO_BUS_SEND_LINE, "I10").bytes_returned, 1u);
    LineIoBlock line = GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);
    EXPECT_STREQ(line.text, "3713707\r");
    EXPECT_EQ(line.status, kLineCr);
    EXPECT_EQ(line.count, 8u);
    LineIoBlock end = GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);
    EXPECT_EQ(end.status, kLineEnd);
    EXPECT_EQ(end.count, 0u);

    // The mailbox, once the card's mailbox firmware is on.
    Call(f, IOCTL_ZIMO_BUS_SEND_LINE, "I58=1");
    GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);
    EXPECT_EQ(Call(f, IOCTL_ZIMO_DPR_SEND_LINE, "I10").bytes_returned, 3u);
    line = GetLine(f, IOCTL_ZIMO_DPR_GET_LINE);
    EXPECT_STREQ(line.text, "3713707");
    EXPECT_EQ(line.status, kLineCr);
    EXPECT_EQ(line.count, 7u);
    end = GetLine(f, IOCTL_ZIMO_DPR_GET_LINE);
    EXPECT_EQ(end.status, kLineEnd);
    EXPECT_EQ(Call(f, IOCTL_ZIMO_DPR_SEND_LINE, std::string(160, 'I')).bytes_returned, 0u);
  }
}

TEST_F(HostTest, ACardErrorAndItsNumber) {
  HostProcess host({"pci older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
  ASSERT_EQ(host.Command("error 0 31"), "ok");
  Call(f, IOCTL_ZIMO_BUS_SEND_LINE, "I10");
  LineIoBlock line = GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);
  EXPECT_EQ(line.status, kLineError);
  EXPECT_EQ(Call(f, IOCTL_ZIMO_BUS_GET_ERROR).bytes_returned, 31u);
}

// The card's servo cycle counter (M0, X:0) as the card reports it.
std::string CycleCounter(DeviceFile& f) {
  Call(f, IOCTL_ZIMO_BUS_FLUSH);
  Call(f, IOCTL_ZIMO_BUS_SEND_LINE, "M0->X:$0,24");
  GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);
  Call(f, IOCTL_ZIMO_BUS_SEND_LINE, "M0");
  std::string text = GetLine(f, IOCTL_ZIMO_BUS_GET_LINE).text;
  GetLine(f, IOCTL_ZIMO_BUS_GET_LINE);  // the end of the response
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

// A card in the host runs its servo clock, as a card in a machine does; with
// --manual-clock it stands still until the control commands step it.
TEST_F(HostTest, ServoClockRunsUnlessManual) {
  {
    HostProcess host({"pci older"}, false, /*running_clocks=*/true);
    DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
    ASSERT_TRUE(f.is_open());
    // Wall time moves the counter; the deadline only bounds a broken host.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::string counter = CycleCounter(f);
    while (counter == "0" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
      counter = CycleCounter(f);
    }
    EXPECT_NE(counter, "0") << "the servo clock did not run";
    EXPECT_FALSE(counter.empty());
  }
  {
    // A card plugged in later through the control socket runs its clock too.
    HostProcess host({}, false, /*running_clocks=*/true);
    ASSERT_EQ(host.Command("add pci spran"), "ok 0 ZimoPCI0");
    DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
    ASSERT_TRUE(f.is_open());
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::string counter = CycleCounter(f);
    while (counter == "0" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
      counter = CycleCounter(f);
    }
    EXPECT_NE(counter, "0") << "the added card's servo clock did not run";
  }
  HostProcess host({"pci older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
  ASSERT_TRUE(f.is_open());
  EXPECT_EQ(CycleCounter(f), "0");
  ASSERT_EQ(host.Command("servo 0 5"), "ok");
  EXPECT_EQ(CycleCounter(f), "5");
  // So does one added later to a host whose clocks are stepped by hand.
  ASSERT_EQ(host.Command("add pci older"), "ok 1 ZimoPCI1");
  DeviceFile g = OpenDevice("\\\\.\\ZimoPCI1");
  ASSERT_TRUE(g.is_open());
  EXPECT_EQ(CycleCounter(g), "0");
  ASSERT_EQ(host.Command("servo 1 3"), "ok");
  EXPECT_EQ(CycleCounter(g), "3");
  EXPECT_EQ(CycleCounter(f), "5");
}

TEST_F(HostTest, Identification) {
  HostProcess host({"pci older", "pci spran", "pci older version=1.14"});
  struct Case {
    const char* device;
    uint32_t type;
    bool link_list;
  };
  for (const Case& c : {Case{"\\\\.\\ZimoPCI0", 2, true}, Case{"\\\\.\\ZimoPCI1", 7, true},
                        Case{"\\\\.\\ZimoPCI2", 2, false}}) {
    SCOPED_TRACE(c.device);
    DeviceFile f = OpenDevice(c.device);
    uint32_t type = 0;
    IoControlResult r = f.DeviceIoControl(IOCTL_ZIMO_GET_CARD_TYPE, nullptr, 0, &type, 4);
    EXPECT_EQ(r.bytes_returned, 4u);
    EXPECT_EQ(type, c.type);
    ZimoResourceInfo info{};
    r = f.DeviceIoControl(IOCTL_ZIMO_GET_RESOURCES, nullptr, 0, &info, sizeof(info));
    EXPECT_EQ(r.bytes_returned, 24u);
    EXPECT_EQ(info.dpr_length, 16384u);
    ZimoLinkList list{};
    r = f.DeviceIoControl(IOCTL_ZIMO_GET_LINK_LIST, nullptr, 0, &list, sizeof(list));
    EXPECT_EQ(r.bytes_returned, c.link_list ? 272u : 0u);
    EXPECT_EQ(list.entries[0] != 0, c.link_list);
  }
}

TEST_F(HostTest, UnknownCodesFailAsInvalidDeviceRequests) {
  HostProcess host({"pci older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
  uint8_t out[8];
  std::memset(out, 0x5A, sizeof(out));
  IoControlResult r = f.DeviceIoControl(0x1D0FFC, nullptr, 0, out, sizeof(out));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(static_cast<uint32_t>(r.status), 0xC0000010u);
  EXPECT_EQ(r.error, platform::win32::kErrorInvalidFunction);
  EXPECT_EQ(r.bytes_returned, 0u);
  EXPECT_EQ(out[0], 0x5A);
}

TEST_F(HostTest, InterruptsSetTheEventsTheLibraryHandsOver) {
  HostProcess host({"pci older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
  const char* names[8] = {"ZIMO0IPOS", "ZIMO0BREQ", "ZIMO0ERROR", "ZIMO0FERROR",
                          "ZIMO0HREQ", "ZIMO0IR5",  "ZIMO0IR6",   "ZIMO0IR7"};
  std::vector<platform::NamedEvent> events;
  uint32_t set[9] = {};
  for (int i = 0; i < 8; ++i) {
    events.push_back(
        platform::NamedEvent::Create(names[i], platform::EventReset::kAuto, false).value());
    set[i] = platform::EventHandleForDriver(names[i]);
  }
  auto stop = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false).value();
  set[8] = platform::EventHandleForDriver(stop.name());
  EXPECT_TRUE(f.DeviceIoControl(IOCTL_ZIMO_SET_INTR_EVENTS, set, sizeof(set), nullptr, 0).ok);
  auto any = platform::NamedEvent::Create("ZIMO0ANY", platform::EventReset::kManual, false).value();
  EXPECT_TRUE(Call(f, IOCTL_ZIMO_SET_USER_EVENT, "ZIMO0ANY").ok);
  uint32_t mask = 0;
  EXPECT_EQ(f.DeviceIoControl(IOCTL_ZIMO_SET_INTR_MASK, &mask, 4, nullptr, 0).bytes_returned, 4u);

  // Two interrupts before the deferred procedure runs: both are reported.
  ASSERT_EQ(host.Command("raise 0 0x01 0x04"), "ok");
  EXPECT_TRUE(any.Wait(10s).ok());
  EXPECT_TRUE(events[0].Wait(10s).ok());
  EXPECT_TRUE(events[2].Wait(10s).ok());
  EXPECT_EQ(events[1].Wait(0ms).code(), platform::Code::kTimeout);
}

TEST_F(HostTest, CardsComeAndGo) {
  HostProcess host({});
  EXPECT_EQ(host.Command("add pci older"), "ok 0 ZimoPCI0");
  EXPECT_EQ(host.Command("add pci spran"), "ok 1 ZimoPCI1");
  EXPECT_EQ(host.Command("add pci older noirq").rfind("error 0xC0000182", 0), 0u);

  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI1");
  auto control = ConnectControl();
  ASSERT_TRUE(control.ok());
  auto removal = std::async(std::launch::async, [&] { return Control(*control, "remove 1"); });
  EXPECT_EQ(removal.wait_for(200ms), std::future_status::timeout);  // the handle is open
  int32_t refused = 0;
  EXPECT_FALSE(DeviceFile::Open("\\\\.\\ZimoPCI1", &refused).ok());
  EXPECT_EQ(static_cast<uint32_t>(refused), 0xC0000056u);  // removal in progress
  f.Close();
  ASSERT_EQ(removal.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(removal.get(), "ok");
  EXPECT_EQ(DeviceFile::Open("\\\\.\\ZimoPCI1").status().code(), platform::Code::kNotFound);
  // The other card is served on.
  DeviceFile first = OpenDevice("\\\\.\\ZimoPCI0");
  EXPECT_EQ(Call(first, IOCTL_ZIMO_DPR_AVAILABLE).bytes_returned, 1u);
  EXPECT_EQ(host.Command("power 0 sleep3"), "ok");
  EXPECT_EQ(host.Command("power 0 working"), "ok");
  EXPECT_EQ(host.Command("stop 0"), "ok");
  EXPECT_EQ(Call(first, IOCTL_ZIMO_DPR_AVAILABLE).bytes_returned, 0u);
  EXPECT_EQ(host.Command("start 0"), "ok");
  EXPECT_EQ(Call(first, IOCTL_ZIMO_DPR_AVAILABLE).bytes_returned, 1u);
  EXPECT_EQ(host.Command("frobnicate 0").rfind("error", 0), 0u);
}

TEST_F(HostTest, BadInputGetsItsStatusAndTheHostServesOn) {
  HostProcess host({"pci older", "pci older"});
  DeviceFile f = OpenDevice("\\\\.\\ZimoPCI0");
  // Short record, offsets outside the DPR.
  uint8_t small[10] = {};
  IoControlResult r =
      f.DeviceIoControl(IOCTL_ZIMO_BUS_GET_LINE, small, sizeof(small), small, sizeof(small));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes_returned, 0u);
  uint32_t offset = 16384;
  uint8_t block[4];
  EXPECT_EQ(f.DeviceIoControl(IOCTL_ZIMO_DPR_READ, &offset, 4, block, 4).bytes_returned, 0u);
  uint16_t word = 7;
  offset = 0xFFFFFFFF;
  EXPECT_EQ(f.DeviceIoControl(IOCTL_ZIMO_DPR_WRITE_WORD, &word, 2, &offset, 4).bytes_returned, 0u);

  // Garbage and oversized frames on the raw socket.
  for (int variant = 0; variant < 2; ++variant) {
    auto raw = platform::UnixConnection::Connect(platform::DeviceSocketPath("ZimoPCI1"), 5s);
    ASSERT_TRUE(raw.ok());
    platform::device_io_wire::OpenReply open{};
    ASSERT_TRUE(raw->RecvExact(&open, sizeof(open), 5s).ok());
    EXPECT_EQ(open.status, 0);
    platform::device_io_wire::RequestHeader header{};
    if (variant == 0) {
      std::memset(&header, 0x41, sizeof(header));
    } else {
      header = {platform::device_io_wire::kRequestMagic, IOCTL_ZIMO_DPR_READ, 4, 64u << 20, 0, 0};
    }
    ASSERT_TRUE(raw->SendAll(&header, sizeof(header)).ok());
    platform::device_io_wire::ReplyHeader reply{};
    ASSERT_TRUE(raw->RecvExact(&reply, sizeof(reply), 5s).ok());
    EXPECT_EQ(static_cast<uint32_t>(reply.status), 0xC000000Du);
    char byte;
    EXPECT_EQ(raw->RecvExact(&byte, 1, 5s).code(), platform::Code::kClosed);
  }
  // A client that vanishes mid-frame.
  {
    auto raw = platform::UnixConnection::Connect(platform::DeviceSocketPath("ZimoPCI1"), 5s);
    ASSERT_TRUE(raw.ok());
    platform::device_io_wire::RequestHeader header{
        platform::device_io_wire::kRequestMagic, IOCTL_ZIMO_BUS_SEND_LINE, 100, 0, 0, 0};
    ASSERT_TRUE(raw->SendAll(&header, sizeof(header)).ok());
  }
  EXPECT_TRUE(host.process().IsRunning());
  for (const char* name : {"\\\\.\\ZimoPCI0", "\\\\.\\ZimoPCI1"}) {
    DeviceFile g = OpenDevice(name);
    EXPECT_EQ(Call(g, IOCTL_ZIMO_DPR_AVAILABLE).bytes_returned, 1u);
  }
}

// A registry the host cannot read is no empty list of cards: the host says
// which line of which file is wrong and does not start.
TEST_F(HostTest, MalformedRegistryStopsTheStartWithItsFileAndLine) {
  {
    std::ofstream reg(platform::RegistryFile(), std::ios::binary | std::ios::trunc);
    reg << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zimo]\r\nthis is no value\r\n";
  }
  const std::filesystem::path err = std::filesystem::path(home_.path()) / "drvhost.err";
  // A host that took the file for "no cards" would serve on: stopped after a
  // while, it exits with 124.
  const std::string command = "timeout 10 '" + (zimo::testing::BinDir() / "zimo-drvhost").string() +
                              "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::ifstream in(err);
  const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(said.find(platform::RegistryFile().string() + ":4"), std::string::npos) << said;
}

TEST_F(HostTest, StartedAsTheDriverServiceWithItsCardsInTheRegistry) {
  {
    auto card = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                              std::string(host::kCardsKey) + "\\Card0");
    ASSERT_TRUE(card.ok());
    ASSERT_TRUE(card->SetString("Bus", "ISA").ok());
    ASSERT_TRUE(card->SetString("Layout", "SPRAN").ok());
  }
  platform::ScHandle manager = 0, service = 0;
  ASSERT_EQ(platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess, &manager), 0);
  const std::string image = (zimo::testing::BinDir() / "zimo-drvhost").string();
  ASSERT_EQ(platform::CreateServiceA(manager, "ZimoPCI", "ZimoPCI", platform::kServiceAllAccess,
                                     platform::kServiceKernelDriver, platform::kServiceDemandStart,
                                     platform::kServiceErrorNormal, image.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr, &service),
            0);
  ASSERT_EQ(platform::StartServiceA(service, 0, nullptr), 0);
  auto control = ConnectControl();
  ASSERT_TRUE(control.ok()) << control.status().ToString();
  {
    DeviceFile f = OpenDevice("\\\\.\\ZIMOISA0");
    ZimoIsaResourceInfo isa{};
    EXPECT_EQ(f.DeviceIoControl(IOCTL_ZIMO_GET_RESOURCES, nullptr, 0, &isa, 16).bytes_returned,
              16u);
    EXPECT_NE(isa.port_base, 0u);
    uint32_t type = 0;
    f.DeviceIoControl(IOCTL_ZIMO_GET_CARD_TYPE, nullptr, 0, &type, 4);
    EXPECT_EQ(type, 7u);
  }
  platform::ServiceStatus status;
  EXPECT_EQ(platform::ControlService(service, platform::kServiceControlStop, &status), 0);
  EXPECT_EQ(status.current_state, platform::kServiceStopped);
  platform::CloseServiceHandle(service);
  platform::CloseServiceHandle(manager);
}

}  // namespace
}  // namespace zimo::drivers::testing
