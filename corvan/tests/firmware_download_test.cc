// Firmware download into a simulated card in bootstrap mode over each road:
// the bus port registers (PCI and ISA, the driver host in this process),
// USB firmware blocks, Ethernet firmware requests over UDP and TCP and the
// serial line; the card keeps what it receives, so each test reads the
// image back word by word. The loaders' fixed waits run on a fake clock.
#include "download/firmware_download.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cardsim/attach_usb.h"
#include "cardsim/card.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "corvan/download_api.h"
#include "corvan/firmware_api.h"
#include "download/download_state.h"
#include "eth_test_fixture.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "host/sim_machine.h"
#include "link/location_settings.h"
#include "link/serial_setup.h"
#include "link/serial_transport.h"
#include "pci_card_fixture.h"
#include "platform/clock.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::LibraryClock;
using testing::StandInServer;
using testing::WaitForDriverDevice;

// What the callbacks received.
std::mutex g_mutex;
std::vector<std::string> g_messages;
std::vector<int> g_percents;

std::int32_t OnMessage(const char* text, std::int32_t new_line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_messages.push_back(text);
  EXPECT_EQ(new_line, 1);
  return 1;
}
std::int32_t OnProgress(std::int32_t percent) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_percents.push_back(percent);
  return 1;
}
std::vector<std::string> Messages() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_messages;
}
void ClearCallbacks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_messages.clear();
  g_percents.clear();
}

// An image of `size` bytes whose first word is 0x120000 (CTRL-R with the
// two low registers clear) and whose data hold CTRL-R, CR and CTRL-X bytes.
std::vector<std::uint8_t> Image(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const std::uint8_t head[] = {0x12, 0x00, 0x00, 0x12, 0x0D, 0x18};
  std::copy(std::begin(head), std::end(head), image.begin());
  return image;
}
std::vector<std::uint32_t> Words(const std::vector<std::uint8_t>& image) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i + 3 <= image.size(); i += 3) {
    words.push_back(std::uint32_t{image[i]} << 16 | std::uint32_t{image[i + 1]} << 8 |
                    image[i + 2]);
  }
  return words;
}

std::string WriteImage(const std::vector<std::uint8_t>& image) {
  const std::filesystem::path path = std::filesystem::current_path() / "FIRM.BIN";
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return path.string();
}

bool Logged(cardsim::Card& card, const std::string& entry) {
  const auto log = card.script().received();
  return std::find(log.begin(), log.end(), entry) != log.end();
}

// Runs the test inside its home folder, where the image and the log go.
class InHomeFolder {
 public:
  explicit InHomeFolder(const std::filesystem::path& folder)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InHomeFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// The loaders' 250 ms, 10 s and 5 s waits pass at once. `at_first_long_wait`
// runs when the first wait of 5 s or more begins.
class FastWaits : public platform::Clock {
 public:
  explicit FastWaits(std::function<void()> at_first_long_wait = nullptr)
      : hook_(std::move(at_first_long_wait)), scoped_(*this) {
    clock_.set_auto_advance(true);
  }
  platform::Micros Now() const override { return clock_.Now(); }
  bool WaitUntil(platform::Micros deadline, std::stop_token stop) override {
    if (hook_ && deadline - clock_.Now() >= std::chrono::seconds(5)) {
      std::exchange(hook_, nullptr)();
    }
    return clock_.WaitUntil(deadline, stop);
  }

 private:
  platform::FakeClock clock_;
  std::function<void()> hook_;
  platform::ScopedClock scoped_;
};

// The driver host in this process with one card in bootstrap mode, and
// device 0 opened on it.
class BusFirmwareTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ClearCallbacks();
    const std::string config_text = GetParam();
    const bool isa = config_text.rfind("isa", 0) == 0;
    const bool usb = config_text.rfind("usb", 0) == 0;
    location_ = isa ? kLocationIsa : usb ? kLocationUsb : kLocationPci;
    ASSERT_EQ(RegisterDevice(0, location_, 0, nullptr), 1);
    devices_ = std::make_unique<drivers::host::DeviceServer>(host_.kernel());
    devices_->Start();
    drivers::host::CardConfig config;
    std::string error;
    ASSERT_TRUE(drivers::host::ParseCardConfig(config_text, &config, &error)) << error;
    ASSERT_EQ(host_.AddCard(config, &card_id_), 0);
    ASSERT_TRUE(WaitForDriverDevice(isa ? "ZimoISA0" : usb ? "ZimoUSB0" : "ZimoPCI0"));
    card().EnterBootstrap();
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    ASSERT_EQ(block().BootstrapFlag, 1u);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    devices_.reset();
  }

  cardsim::Card& card() { return *host_.SimCard(card_id_); }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

  zimo::testing::TempHome home_;
  InHomeFolder folder_{home_.path()};
  LibraryClock clock_;
  drivers::host::DriverHost host_;
  std::unique_ptr<drivers::host::DeviceServer> devices_;
  std::unique_ptr<StandInServer> server_;
  std::uint32_t location_ = 0;
  int card_id_ = -1;
};

class BusPortTest : public BusFirmwareTest {};

TEST_P(BusPortTest, TheCardHoldsTheImageAndLeavesBootstrapMode) {
  const std::vector<std::uint8_t> image = Image(3000);
  card().firmware().set_expected_bytes(image.size());
  const std::string path = WriteImage(image);
  card().script().ClearLog();
  std::int32_t result = 0;
  {
    FastWaits waits;
    result = ZimoDownloadFirmwareFile(0, &OnMessage, &OnProgress, path.c_str());
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_EQ(card().firmware().words().size(), 1000u);
  EXPECT_FALSE(card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "Issuing a Ctrl-D and waiting up to 10 seconds...",
                            "Issuing a Ctrl-O and waiting 5 seconds...",
                            "Sent ZIMO a CTRl-R, Waiting 5 seconds before verifying download.",
                            "Download of firmware version 1.940 successful",
                            "Issuing a '$$$***' then a 'Save'. Wait 5 seconds",
                            "Firmware Download Finished. Press Done"}));
  EXPECT_TRUE(Logged(card(), "$$$***"));
  EXPECT_TRUE(Logged(card(), "SAVE"));
  std::lock_guard<std::mutex> lock(g_mutex);
  ASSERT_EQ(g_percents.size(), 1000u);
  EXPECT_EQ(g_percents.front(), 0);  // 3 of 3000 bytes, truncated
  EXPECT_EQ(g_percents[499], 50);
  EXPECT_EQ(g_percents.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(Cards, BusPortTest, ::testing::Values("pci spran", "isa spran"));

class PciFirmwareTest : public BusFirmwareTest {};

TEST_P(PciFirmwareTest, WithoutAMessageCallbackNothingIsSaved) {
  const std::vector<std::uint8_t> image = Image(3000);
  card().firmware().set_expected_bytes(image.size());
  const std::string path = WriteImage(image);
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, nullptr, nullptr, path.c_str()), 1);
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_FALSE(Logged(card(), "$$$***"));
  EXPECT_FALSE(Logged(card(), "SAVE"));
  EXPECT_EQ(block().BootstrapFlag, 0u);
}

// Stops the running download at its first progress report.
std::int32_t AbortAtOnce(std::int32_t) {
  ZimoAbortDownload(0);
  return 1;
}

TEST_P(PciFirmwareTest, AnAbortEndsTheImageAfterTheCurrentWordAndTheCardIsVerified) {
  const std::vector<std::uint8_t> image = Image(300);
  // The card expects one word, so the CTRL-R after it ends the image.
  card().firmware().set_expected_bytes(3);
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, nullptr, &AbortAtOnce, WriteImage(image).c_str()), 1);
  EXPECT_EQ(card().firmware().words(), std::vector<std::uint32_t>{Words(image)[0]});
  EXPECT_FALSE(card().InBootstrap());
}

TEST_P(PciFirmwareTest, AMailboxDeviceIsSwitchedToTheBusPortAndStaysThere) {
  const std::vector<std::uint8_t> image = Image(300);
  card().firmware().set_expected_bytes(image.size());
  const std::string path = WriteImage(image);
  ASSERT_EQ(ZimoSetAsciiComm(0, 1), 1);
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, path.c_str()), 1);
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_EQ(ZimoGetAsciiComm(0), 0);
}

TEST_P(PciFirmwareTest, ACardNotInBootstrapGetsOnlyCtrlXAndTheQuery) {
  card().LeaveBootstrap();
  const std::string path = WriteImage(Image(300));
  card().script().ClearLog();
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, path.c_str()), 0);
  for (const std::string& entry : card().script().received()) {
    EXPECT_TRUE(entry == "^X" || entry == "?") << entry;
  }
  EXPECT_TRUE(Logged(card(), "?"));
  EXPECT_EQ(card().firmware_bytes(), 0u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ZIMO is not in bootstrap mode!"});
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
  EXPECT_FALSE(DownloadState::Instance().busy());
}

TEST_P(PciFirmwareTest, ACardStillInBootstrapIsOneError) {
  card().firmware().set_stay_in_bootstrap(true);
  const std::vector<std::uint8_t> image = Image(300);
  card().firmware().set_expected_bytes(image.size());
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, WriteImage(image).c_str()), 0);
  EXPECT_EQ(Messages().back(),
            "Firmware download failed.  ZIMO still in boostrap mode.  Reset ZIMO and retry.");
  EXPECT_EQ(block().BootstrapFlag, 1u);
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
}

TEST_P(PciFirmwareTest, AVerificationReplyNeedsElevenCharacters) {
  const std::vector<std::uint8_t> image = Image(300);
  card().firmware().set_expected_bytes(image.size());
  const std::string path = WriteImage(image);
  // The reply as the host receives it ends in CR: a status of 9 characters
  // is a reply of 10, one of 10 a reply of 11.
  for (const int length : {10, 11}) {
    SCOPED_TRACE(length);
    card().EnterBootstrap();
    block().BootstrapFlag = 1;
    card().script().SetStatusLength(length - 1);
    FastWaits waits;
    EXPECT_EQ(ZimoDownloadFirmwareFile(0, nullptr, nullptr, path.c_str()), length == 11 ? 1 : 0);
    EXPECT_EQ(block().BootstrapFlag, length == 11 ? 0u : 1u);
  }
}

TEST_P(PciFirmwareTest, AnImageThatIsNotWholeWordsIsRefusedUnsent) {
  const std::string path = WriteImage(Image(4999));
  card().script().ClearLog();
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, path.c_str()), 0);
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
  EXPECT_EQ(card().firmware_bytes(), 0u);
  EXPECT_EQ(card().script().received(), std::vector<std::string>{});
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Firmware file length is not a multiple of 3 bytes: " + path});
  EXPECT_TRUE(card().InBootstrap());
}

TEST_P(PciFirmwareTest, AMissingFileIsReportedAndLogged) {
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, "NOSUCH.BIN"), 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{"File not found: NOSUCH.BIN"});
  EXPECT_EQ(DownloadState::Instance().errors(), 1u);
  EXPECT_TRUE(std::filesystem::exists("ZIMODNLD.LOG"));
  EXPECT_TRUE(card().InBootstrap());
}

TEST_P(PciFirmwareTest, ARequestDuringAThreadedDownloadIsRefused) {
  DownloadState::Instance().set_busy(true);
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, WriteImage(Image(300)).c_str()), 0);
  DownloadState::Instance().set_busy(false);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Download thread already running!"});
  EXPECT_EQ(card().firmware_bytes(), 0u);
}

TEST_P(PciFirmwareTest, TheDialogsBusLoaderKnowsTheWatchdogReply) {
  const std::vector<std::uint8_t> image = Image(300);
  card().firmware().set_expected_bytes(image.size());
  card().firmware().set_watchdog_reply(true);
  FastWaits waits;
  EXPECT_EQ(StartFirmwareDownload(kLocationPci, 0, &OnMessage, nullptr, WriteImage(image).c_str()),
            0);
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_EQ(Messages().back(), "Watchdog Tripped! Firmware Download Failed.");
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_EQ(FirmwareDownloadContext::Instance().errors(), 1u);
}

TEST_P(PciFirmwareTest, TheDialogRefusesAnInterfaceWithoutAnOpenDevice) {
  FastWaits waits;
  EXPECT_EQ(
      StartFirmwareDownload(kLocationPci, 1, &OnMessage, nullptr, WriteImage(Image(300)).c_str()),
      0);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ZIMO device is not open!"});
  EXPECT_EQ(card().firmware_bytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cards, PciFirmwareTest, ::testing::Values("pci spran"));

class UsbFirmwareTest : public BusFirmwareTest {};

TEST_P(UsbFirmwareTest, BlocksOf4096AndTheRestRebuildTheImage) {
  const std::vector<std::uint8_t> image = Image(4998);
  card().firmware().set_expected_bytes(image.size());
  card().script().ClearLog();
  FastWaits waits;
  EXPECT_EQ(StartFirmwareDownload(kLocationUsb, 0, &OnMessage, nullptr, WriteImage(image).c_str()),
            1);
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_EQ(card().firmware().words().size(), 1666u);
  EXPECT_FALSE(card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  std::vector<std::pair<int, std::size_t>> blocks;
  for (const auto& r : host_.machine().Get(card_id_)->usb->vendor_requests()) {
    if (r.setup.request == 0xCB) blocks.emplace_back(r.setup.value, r.data_bytes);
  }
  EXPECT_EQ(blocks, (std::vector<std::pair<int, std::size_t>>{{1, 4096}, {0, 902}}));
  EXPECT_TRUE(Logged(card(), "I3=2I63=1I64=1?"));
  EXPECT_FALSE(Logged(card(), "SAVE"));
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "Sent ZIMO a CTRl-R, Waiting 5 seconds before verifying download.",
                            "Download of firmware version 1.940 successful",
                            "Firmware Download Finished. Press Done"}));
}

INSTANTIATE_TEST_SUITE_P(Cards, UsbFirmwareTest, ::testing::Values("usb spran"));

// An Ethernet card in bootstrap mode, reached by UDP or TCP.
class EthFirmwareTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ClearCallbacks();
    ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
    ASSERT_EQ(
        SetLocationRegDword(kLocationEthernet, 0, "IPAddress", testing::AddressNumber(address_)),
        1);
    ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "TCPMode", GetParam() ? 1 : 0), 1);
    card_.card().EnterBootstrap();
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
  }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

  zimo::testing::TempHome home_;
  InHomeFolder folder_{home_.path()};
  LibraryClock clock_;
  std::string address_ = testing::UniqueLoopbackAddress();
  testing::EthCard card_{address_};
  std::unique_ptr<StandInServer> server_;
};

TEST_P(EthFirmwareTest, BlocksOf1024AndTheRestRebuildTheImage) {
  const std::vector<std::uint8_t> image = Image(4998);
  card_.card().firmware().set_expected_bytes(image.size());
  FastWaits waits;
  EXPECT_EQ(
      StartFirmwareDownload(kLocationEthernet, 0, &OnMessage, nullptr, WriteImage(image).c_str()),
      1);
  EXPECT_EQ(card_.card().firmware().words(), Words(image));
  EXPECT_EQ(card_.card().firmware().words().size(), 1666u);
  using Block = cardsim::FirmwareImage::Block;
  EXPECT_EQ(card_.card().firmware().blocks(),
            (std::vector<Block>{
                {true, 1024}, {false, 1024}, {false, 1024}, {false, 1024}, {false, 902}}));
  EXPECT_FALSE(card_.card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_TRUE(card_.Received("I3=2I63=1I64=1?"));
  EXPECT_EQ(Messages().back(), "Firmware Download Finished. Press Done");
}

TEST_P(EthFirmwareTest, TheLibraryExportUsesTheEthernetLoader) {
  const std::vector<std::uint8_t> image = Image(3000);
  card_.card().firmware().set_expected_bytes(image.size());
  FastWaits waits;
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, nullptr, nullptr, WriteImage(image).c_str()), 1);
  EXPECT_EQ(card_.card().firmware().words(), Words(image));
  EXPECT_FALSE(card_.card().InBootstrap());
}

INSTANTIATE_TEST_SUITE_P(Transports, EthFirmwareTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

// A serial card in bootstrap mode on a pseudo-terminal.
class SerialFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCallbacks();
    testing::RegisterSerialDevice(0, kCom);
    card_.card().EnterBootstrap();
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
  }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }
  termios LineSettings() {
    termios tio{};
    platform::SerialPort* port = SerialPortOf(0);
    EXPECT_NE(port, nullptr);
    if (port != nullptr) EXPECT_EQ(::tcgetattr(port->fd(), &tio), 0);
    return tio;
  }

  static constexpr int kCom = 7;
  zimo::testing::TempHome home_;
  InHomeFolder folder_{home_.path()};
  LibraryClock clock_;
  testing::SerialCard card_{kCom, cardsim::CardModel::Spran()};
  std::unique_ptr<StandInServer> server_;
};

TEST_F(SerialFirmwareTest, TheBytesArriveInOrderAndTheLineSettingsComeBack) {
  const std::vector<std::uint8_t> image = Image(3000);
  card_.card().firmware().set_expected_bytes(image.size());
  // The device's line runs without CTS flow control; the loader switches
  // flow control for the verification and must give the line back as it was.
  block().SerialDcb.Flags &= ~kDcbOutxCtsFlow;
  ASSERT_EQ(ApplySerialState(block(), *SerialPortOf(0)), 1);
  const termios before = LineSettings();
  ASSERT_EQ(before.c_cflag & CRTSCTS, 0u);
  {
    FastWaits waits;
    EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, &OnProgress, WriteImage(image).c_str()), 1);
  }
  EXPECT_EQ(card_.card().firmware().words(), Words(image));
  EXPECT_FALSE(card_.card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_EQ(Messages().back(), "Download of firmware version 1.940 successful. Press Done");
  const termios after = LineSettings();
  EXPECT_EQ(after.c_cflag & CRTSCTS, before.c_cflag & CRTSCTS);
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF), before.c_iflag & (IXON | IXOFF));
  EXPECT_FALSE(card_.card().script().received().empty());
  std::lock_guard<std::mutex> lock(g_mutex);
  ASSERT_EQ(g_percents.size(), 3000u);
  EXPECT_EQ(g_percents.back(), 100);
}

TEST_F(SerialFirmwareTest, ASilentCardGivesTheBaudRateMessageAndNoError) {
  const std::vector<std::uint8_t> image = Image(300);
  card_.card().firmware().set_expected_bytes(image.size());
  const std::string path = WriteImage(image);
  // The card answers the bootstrap query, then stays silent from the wait
  // after CTRL-O on.
  FastWaits waits([this] { card_.card().script().SetMuted(true); });
  EXPECT_EQ(ZimoDownloadFirmwareFile(0, &OnMessage, nullptr, path.c_str()), 1);
  EXPECT_EQ(Messages().back(),
            "Firmware download may have been successful, baudrate jumpers not set to 38400 may be "
            "causing problem.");
  EXPECT_EQ(DownloadState::Instance().errors(), 0u);
  EXPECT_EQ(block().BootstrapFlag, 1u);
}

}  // namespace
}  // namespace zimo::corvan
