// The device test against a simulated card on a pseudo-terminal: a card
// that answers, a card in bootstrap mode with each way out, a caller's own
// open that the test must leave alone, and devices that cannot be tested.
#include "logic/device_test.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "logic/dialog_messages.h"
#include "platform/serial_port.h"
#include "serial_card_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using corvan::testing::LibraryClock;
using corvan::testing::RegisterSerialDevice;
using corvan::testing::SerialCard;
using corvan::testing::StandInServer;
using platform::kIdCancel;
using platform::kIdOk;

constexpr int kDevice = 2;
constexpr std::uint32_t kCom = 3;

class DeviceTestTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    RegisterSerialDevice(kDevice, kCom);
    card_ = std::make_unique<SerialCard>(kCom);
    server_ = std::make_unique<StandInServer>();
  }
  void TearDown() override {
    ShutdownZimoDevice(kDevice, 1);
    App().End();
  }

  bool OpenHere() const { return App().User(kDevice)->Transport != nullptr; }
  SharedDeviceBlock& block() { return server_->table()->Devices[kDevice]; }

  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
  DeviceTest tester_{ui_};
};

TEST_F(DeviceTestTest, ACardThatAnswersIsOpenedReportedAndClosedAgain) {
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 1);
  EXPECT_EQ(result, kTestDetected);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The ZIMO was sucessfully detected."});
  EXPECT_FALSE(OpenHere());
}

TEST_F(DeviceTestTest, BootstrapCancelStartsTheFirmwareAndReportsTheCard) {
  card_->card().EnterBootstrap();
  recorder_.QueueAnswers({kIdCancel});
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 1);
  EXPECT_EQ(result, kTestDetected);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"The ZIMO is in Bootstrap Mode.",
                                                  kLeavingBootstrapText,
                                                  "The ZIMO was sucessfully detected."}));
  EXPECT_EQ(recorder_.boxes()[0].flags & platform::kMbTypeMask, platform::kMbOkCancel);
  EXPECT_TRUE(card_->Received("^R"));
  EXPECT_FALSE(card_->card().InBootstrap());
  EXPECT_EQ(block().BootstrapFlag, 0u);
  EXPECT_FALSE(OpenHere());
  EXPECT_TRUE(ui_.file_requests.empty());
}

TEST_F(DeviceTestTest, BootstrapOkWithACancelledFileChoiceIsAFailedDownload) {
  card_->card().EnterBootstrap();
  recorder_.QueueAnswers({kIdOk});
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 0);
  EXPECT_EQ(result, kTestFirmwareFailed);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"The ZIMO is in Bootstrap Mode.",
                                                  "Firmware Download failed.  Please try again"}));
  ASSERT_EQ(ui_.file_requests.size(), 1u);
  EXPECT_EQ(ui_.file_requests[0].filter, "Firmware Files (*.bin)|*.bin;*.BIN |All Files(*.*)|*.*|");
  EXPECT_EQ(ui_.file_requests[0].default_extension, "bin");
  EXPECT_EQ(ui_.file_requests[0].initial_name, "*.bin");
  EXPECT_TRUE(ui_.file_requests[0].file_must_exist);
  EXPECT_TRUE(ui_.firmware_runs.empty());
  EXPECT_FALSE(OpenHere());
}

TEST_F(DeviceTestTest, BootstrapOkRunsTheFirmwareDialogAndTheCardsAnswerDecides) {
  card_->card().EnterBootstrap();
  ui_.file_answer = "card.bin";
  // The download dialog starts the new firmware.
  ui_.on_firmware = [this] { card_->card().LeaveBootstrap(); };
  recorder_.QueueAnswers({kIdOk});
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 1);
  EXPECT_EQ(result, kTestDetected);
  ASSERT_EQ(ui_.firmware_runs.size(), 1u);
  EXPECT_EQ(ui_.firmware_runs[0].location, kLocationSerial);
  EXPECT_EQ(ui_.firmware_runs[0].enumeration, kCom);
  EXPECT_EQ(ui_.firmware_runs[0].file_name, "card.bin");

  // A download that leaves the card in its loader is a failure, although
  // the loader's answer to "?" has the length of a status reply.
  card_->card().EnterBootstrap();
  ui_.on_firmware = nullptr;
  recorder_.Clear();
  recorder_.QueueAnswers({kIdOk});
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 0);
  EXPECT_EQ(result, kTestFirmwareFailed);
  EXPECT_EQ(block().BootstrapFlag, 1u);
}

TEST_F(DeviceTestTest, ACallersOwnOpenOutlivesTheBootstrapStep) {
  ASSERT_EQ(OpenZimoDevice(kDevice), 1);
  const std::uint32_t opens = App().User(kDevice)->OpenCount;
  card_->card().EnterBootstrap();
  recorder_.QueueAnswers({kIdCancel});
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 1);
  EXPECT_EQ(result, kTestDetected);
  EXPECT_TRUE(card_->Received("^R"));
  EXPECT_TRUE(OpenHere());
  EXPECT_EQ(App().User(kDevice)->OpenCount, opens);
  // And the caller's device still works.
  char reply[64] = {};
  EXPECT_GT(ZimoGetResponseA(kDevice, reply, sizeof reply, "I10"), 0u);
}

TEST_F(DeviceTestTest, AnOpenSerialDeviceWhoseCardIsSilentGives51) {
  ASSERT_EQ(OpenZimoDevice(kDevice), 1);
  card_->card().script().SetMuted(true);
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDevice(kDevice, &result), 0);
  EXPECT_EQ(result, kTestSerialHandshakeFailed);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The ZIMO could not be detected."});
  EXPECT_TRUE(OpenHere());
}

TEST_F(DeviceTestTest, DevicesThatCannotBeTested) {
  // No valid Location: message 92 and the out value untouched.
  std::int32_t result = 77;
  EXPECT_EQ(tester_.TestDevice(5, &result), 0);
  EXPECT_EQ(result, 77);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "The selected location is unknown or is not a valid ZIMO location."});

  // A registered device whose port is not there: 1003.
  recorder_.Clear();
  ASSERT_EQ(RegisterDevice(6, kLocationSerial, 5, server_->table()), 1);
  ASSERT_TRUE(platform::RegisterComPort(5, home_.path() / "no-such-port").ok());
  EXPECT_EQ(tester_.TestDevice(6, &result), 0);
  EXPECT_EQ(result, kTestNotDetected);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The ZIMO could not be detected."});
}

TEST_F(DeviceTestTest, TestAtLocationFindsTheRegisteredDevice) {
  std::int32_t result = -1;
  EXPECT_EQ(tester_.TestDeviceAtLocation(kLocationSerial, 7, &result), 0);
  EXPECT_EQ(recorder_.count(), 0u);
  EXPECT_EQ(tester_.TestDeviceAtLocation(kLocationSerial, kCom, &result), 1);
  EXPECT_EQ(result, kTestDetected);
}

TEST_F(DeviceTestTest, WithoutADownloadDialogTheChooserReportsNothingRan) {
  ui_.file_answer = "card.bin";
  ui_.firmware_dialog_available = false;
  EXPECT_EQ(tester_.ChooseFirmwareFile(kLocationSerial, kCom), 0);
  ui_.firmware_dialog_available = true;
  EXPECT_EQ(tester_.ChooseFirmwareFile(kLocationSerial, kCom), 1);
}

}  // namespace
}  // namespace zimo::corvan::dialogs
