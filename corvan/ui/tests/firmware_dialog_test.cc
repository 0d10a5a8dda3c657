// The firmware download dialog offscreen against a PCI card in bootstrap
// mode (the driver host in this process): its start, a download run from
// Begin on its worker, a device that is not in bootstrap mode and a missing
// image; then the device test's firmware chooser leading into the dialog's
// download on a serial card. The waits run on a fake clock.
#include "logic/firmware_download_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "logic/device_test.h"
#include "pci_card_fixture.h"
#include "platform/clock.h"
#include "serial_card_fixture.h"
#include "view/firmware_download_dialog.h"
#include "view_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using corvan::testing::LibraryClock;
using corvan::testing::StandInServer;

// An image whose data hold CTRL-R, CR and CTRL-X bytes.
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
std::string WriteImage(const std::filesystem::path& folder,
                       const std::vector<std::uint8_t>& image) {
  const std::filesystem::path path = folder / "FIRM.BIN";
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return path.string();
}

// Every wait of the loaders and the dialog passes at once.
class FastWaits {
 public:
  FastWaits() : scoped_(clock_) { clock_.set_auto_advance(true); }

 private:
  platform::FakeClock clock_;
  platform::ScopedClock scoped_;
};

class FirmwareDialogTest : public testing::ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    previous_folder_ = std::filesystem::current_path();
    std::filesystem::current_path(home_.path());  // the log of a failed run goes here
    ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, nullptr), 1);
    devices_ = std::make_unique<drivers::host::DeviceServer>(host_.kernel());
    devices_->Start();
    drivers::host::CardConfig config;
    std::string error;
    ASSERT_TRUE(drivers::host::ParseCardConfig("pci spran", &config, &error)) << error;
    ASSERT_EQ(host_.AddCard(config, &card_id_), 0);
    ASSERT_TRUE(corvan::testing::WaitForDriverDevice("ZimoPCI0"));
    card().EnterBootstrap();
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    devices_.reset();
    std::filesystem::current_path(previous_folder_);
  }

  // Presses Begin and lets the worker's updates arrive.
  void RunBegin(view::FirmwareDownloadDlg& dialog) {
    FastWaits waits;
    dialog.findChild<QPushButton*>("1026")->click();
    dialog.WaitForWorker();
    QCoreApplication::processEvents();
  }
  std::string Label(QWidget& dialog, const char* id) {
    return dialog.findChild<QLabel*>(id)->text().toStdString();
  }
  bool Enabled(QWidget& dialog, const char* id) {
    return dialog.findChild<QPushButton*>(id)->isEnabled();
  }

  cardsim::Card& card() { return *host_.SimCard(card_id_); }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

  std::filesystem::path previous_folder_;
  LibraryClock clock_;
  drivers::host::DriverHost host_;
  std::unique_ptr<drivers::host::DeviceServer> devices_;
  std::unique_ptr<StandInServer> server_;
  int card_id_ = -1;
};

TEST_F(FirmwareDialogTest, BeginLoadsTheCardAndLeavesOnlyDone) {
  const std::vector<std::uint8_t> image = Image(3000);
  card().firmware().set_expected_bytes(image.size());
  FirmwareDownloadDialogModel model(kLocationPci, 0, WriteImage(home_.path(), image));
  view::FirmwareDownloadDlg dialog(model);
  CheckPicture(&dialog, "firmware_download", "Downloading Firmware",
               {"Percent Done", "Press Begin to initiate firmware download", "&Begin", "&Done"});
  EXPECT_EQ(Label(dialog, "1030"), "0");
  EXPECT_FALSE(Enabled(dialog, "1"));
  EXPECT_TRUE(Enabled(dialog, "1026"));

  RunBegin(dialog);
  EXPECT_EQ(Label(dialog, "1030"), "100%");
  EXPECT_EQ(Label(dialog, "1034"), "Firmware Download Finished. Press Done");
  EXPECT_TRUE(Enabled(dialog, "1"));
  EXPECT_FALSE(Enabled(dialog, "1026"));
  EXPECT_EQ(card().firmware().words(), Words(image));
  EXPECT_FALSE(card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(FirmwareDialogTest, ADeviceNotInBootstrapModeIsRefusedWithTheBox) {
  block().BootstrapFlag = 0;
  FirmwareDownloadDialogModel model(kLocationPci, 0, WriteImage(home_.path(), Image(300)));
  view::FirmwareDownloadDlg dialog(model);
  RunBegin(dialog);
  EXPECT_EQ(Label(dialog, "1034"), "ZIMO is not in bootstrap mode!");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "Cannot download firmware. The ZIMO is not in bootstrap mode."});
  EXPECT_EQ(card().firmware_bytes(), 0u);
  EXPECT_TRUE(Enabled(dialog, "1"));
}

TEST_F(FirmwareDialogTest, AMissingImageIsShownInTheStatusText) {
  const std::string path = (home_.path() / "NONE.BIN").string();
  FirmwareDownloadDialogModel model(kLocationPci, 0, path);
  FastWaits waits;
  model.Begin();
  EXPECT_EQ(model.status_text(), "File not found: " + path);
  EXPECT_TRUE(model.done_enabled());
  EXPECT_FALSE(model.begin_enabled());
  EXPECT_TRUE(card().InBootstrap());
}

// The device test's chooser on a serial card in bootstrap mode: the screen
// answers with an image file and runs the firmware dialog's download.
class FirmwareChooserTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    corvan::testing::RegisterSerialDevice(kDevice, kCom);
    card_ = std::make_unique<corvan::testing::SerialCard>(kCom, cardsim::CardModel::Spran());
    server_ = std::make_unique<StandInServer>();
  }
  void TearDown() override {
    ShutdownZimoDevice(kDevice, 1);
    App().End();
  }

  static constexpr int kDevice = 2;
  static constexpr std::uint32_t kCom = 3;
  LibraryClock clock_;
  std::unique_ptr<corvan::testing::SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
  DeviceTest tester_{ui_};
};

TEST_F(FirmwareChooserTest, TheChosenImageIsLoadedAndTheCardIsDetected) {
  const std::vector<std::uint8_t> image = Image(3000);
  card_->card().EnterBootstrap();
  card_->card().firmware().set_expected_bytes(image.size());
  ui_.file_answer = WriteImage(home_.path(), image);
  std::string last_status;
  ui_.on_firmware = [&] {
    const auto& run = ui_.firmware_runs.back();
    FirmwareDownloadDialogModel model(run.location, run.enumeration, run.file_name);
    FastWaits waits;
    model.Begin();
    last_status = model.status_text();
  };
  recorder_.QueueAnswers({platform::kIdOk});
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 1);
  EXPECT_EQ(result, kTestDetected);
  EXPECT_EQ(last_status, "Download of firmware version 1.940 successful. Press Done");
  EXPECT_EQ(card_->card().firmware().words(), Words(image));
  EXPECT_FALSE(card_->card().InBootstrap());
}

}  // namespace
}  // namespace zimo::corvan::dialogs
