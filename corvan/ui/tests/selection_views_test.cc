// The selection side on screen (offscreen): "Available ZIMO Devices" with
// its refresh timer, "Select a ZIMO Comm Type", and "ZIMO Devices" with its
// buttons, also running the real nested selection dialog.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <chrono>
#include <string>
#include <vector>

#include "link/device_registry.h"
#include "logic/available_devices.h"
#include "logic/comm_type.h"
#include "logic/device_list.h"
#include "platform/process.h"
#include "platform/serial_port.h"
#include "view/available_devices_dialog.h"
#include "view/comm_type_dialog.h"
#include "view/controls.h"
#include "view/device_list_dialog.h"
#include "view/qt_config_ui.h"
#include "view_fixture.h"

namespace zimo::corvan::dialogs {
namespace {

using ui::testing::Control;
using ui::testing::WhenShown;
using view::IdName;

std::vector<std::string> Lines(QListWidget* list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

class SelectionViewsTest : public testing::ViewTest {};

TEST_F(SelectionViewsTest, AvailableDevicesListsTheMachinesInterfacesAndReturnsTheChoice) {
  probe_.present = {"\\\\.\\ZIMOUSB0", "\\\\.\\ZIMOPCI1"};
  probe_.isa[1] = IsaProbe{true, IsaResources{0x300, 5, 0xD0000}};
  ASSERT_TRUE(platform::RegisterComPort(2, "/dev/pts/102").ok());
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress", 0xC0A80064), 1);
  AvailableDevices model(probe_, ui_);
  view::AvailableDevicesDialog dialog(model);
  auto* list = Control<QListWidget>(&dialog, "5089");
  ASSERT_NE(list, nullptr);
  const std::vector<std::string> expected = {"Zimo USB0", "Zimo PCI1",
                                             "Zimo ISA1, Port:0x300, Intr:5, DPRAM:0xD0000",
                                             "COM2", "Zimo ETH0, IP 192.168.0.100"};
  EXPECT_EQ(Lines(list), expected);
  EXPECT_EQ(list->currentRow(), 0);
  EXPECT_FALSE(Control<QPushButton>(&dialog, "5091")->isVisibleTo(&dialog));
  std::vector<std::string> texts = {"ZIMO devices not registered:", "OK", "Cancel"};
  texts.insert(texts.end(), expected.begin(), expected.end());
  CheckPicture(&dialog, "available_devices", "Available ZIMO Devices", texts);

  list->setCurrentRow(3);
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(model.location(), kLocationSerial);
  EXPECT_EQ(model.enumeration(), 2u);
}

TEST_F(SelectionViewsTest, TheRefreshTimerRunsWhileShownAndEachTickSeesNewCards) {
  AvailableDevices model(probe_, ui_);
  view::AvailableDevicesDialog dialog(model);
  auto* list = Control<QListWidget>(&dialog, "5089");
  EXPECT_EQ(dialog.refresh_interval_ms(), 2000);
  EXPECT_FALSE(dialog.refresh_timer_active());
  dialog.show();
  EXPECT_TRUE(dialog.refresh_timer_active());

  // One tick, driven directly.
  probe_.present = {"\\\\.\\ZIMOPCI0"};
  dialog.Refresh();
  EXPECT_EQ(Lines(list), std::vector<std::string>{"Zimo PCI0"});

  // The timer itself, at a short period: a plugged-in card shows up, the
  // selection stays where it was.
  probe_.present = {"\\\\.\\ZIMOPCI0", "\\\\.\\ZIMOPCI1"};
  dialog.Refresh();
  list->setCurrentRow(1);
  probe_.present = {"\\\\.\\ZIMOUSB3", "\\\\.\\ZIMOPCI0", "\\\\.\\ZIMOPCI1"};
  dialog.set_refresh_interval_ms(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (list->count() != 3 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"Zimo USB3", "Zimo PCI0", "Zimo PCI1"}));
  EXPECT_EQ(list->currentRow(), 1);

  dialog.hide();
  EXPECT_FALSE(dialog.refresh_timer_active());
}

TEST_F(SelectionViewsTest, AnUnusablePortIsRefusedAndTheDialogStaysOpen) {
  ASSERT_TRUE(platform::RegisterComPort(12, "/dev/pts/112").ok());
  AvailableDevices model(probe_, ui_);
  view::AvailableDevicesDialog dialog(model);
  dialog.show();
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(recorder_.count(), 1u);
  dialog.hide();
}

TEST_F(SelectionViewsTest, CommTypeStartsOnSerialAndReturnsTheCheckedEntry) {
  CommType model;
  view::CommTypeDialog dialog(model);
  EXPECT_TRUE(Control<QRadioButton>(&dialog, "5019")->isChecked());
  CheckPicture(&dialog, "comm_type", "Select a ZIMO Comm Type",
               {"Serial Port (COM)", "Ethernet (ETH)", "OK", "Cancel"});
  Control<QRadioButton>(&dialog, "5022")->click();
  EXPECT_EQ(model.index(), CommType::kEthernet);
  EXPECT_EQ(CommType::LocationOf(model.index()), kLocationEthernet);
}

class DeviceListViewTest : public testing::ViewTest {
 protected:
  DeviceTest tester_{ui_};
  std::vector<std::string> started_;
  DeviceList model_{ui_, probe_, tester_, [this](std::string_view line) {
                      started_.emplace_back(line);
                      return platform::kWinExecStarted;
                    }};
};

TEST_F(DeviceListViewTest, ShowsTheDevicesAndEnablesTheButtonsOfTheSelection) {
  ASSERT_EQ(RegisterDevice(1, kLocationPci, 0, nullptr), 1);
  ASSERT_EQ(RegisterDevice(2, kLocationSerial, 1, nullptr), 1);
  ASSERT_EQ(SetRootRegString("UserApp1Name", "Scope"), 1);
  ASSERT_EQ(SetRootRegString("UserApp1Path", "/opt/scope"), 1);
  view::DeviceListDialog dialog(model_);
  auto* list = Control<QListWidget>(&dialog, "5087");
  ASSERT_EQ(list->count(), 8);
  EXPECT_EQ(list->item(1)->text().toStdString(), "ZIMO 01 - PCI0 - Plug and play");
  EXPECT_EQ(list->currentRow(), 0);
  auto enabled = [&](const char* id) { return Control<QPushButton>(&dialog, id)->isEnabled(); };
  EXPECT_TRUE(enabled("5086"));
  EXPECT_FALSE(enabled("5088") || enabled("1") || enabled("5094") || enabled("5092"));
  EXPECT_EQ(Control<QPushButton>(&dialog, "5065")->text(), "Scope");
  EXPECT_FALSE(Control<QPushButton>(&dialog, "5097")->isVisibleTo(&dialog));

  list->setCurrentRow(2);
  EXPECT_FALSE(enabled("5086"));
  EXPECT_TRUE(enabled("5088") && enabled("1") && enabled("5094") && enabled("5092"));
  CheckPicture(&dialog, "device_list", "ZIMO Devices",
               {"ZIMO 00 - NA", "ZIMO 01 - PCI0 - Plug and play",
                "ZIMO 02 - SER1 - COM1, Baudrate:38400, Parity:None", "OK", "Insert...",
                "Remove", "Test", "Properties...", "Scope", "Cancel"});

  Control<QPushButton>(&dialog, "5092")->click();
  EXPECT_EQ(ui_.serial_devices, std::vector<int>{2});
  Control<QPushButton>(&dialog, "5065")->click();
  EXPECT_EQ(started_, std::vector<std::string>{"/opt/scope /zimo 2"});
  Control<QPushButton>(&dialog, "1")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.current_device(), 2);
}

TEST_F(DeviceListViewTest, InsertAndRemoveChangeTheRegistryAndTheList) {
  view::DeviceListDialog dialog(model_);
  auto* list = Control<QListWidget>(&dialog, "5087");
  list->setCurrentRow(4);
  ui_.selection_answer = DeviceChoice{kLocationUsb, 1};
  Control<QPushButton>(&dialog, "5086")->click();
  EXPECT_EQ(list->item(4)->text().toStdString(), "ZIMO 04 - USB1 - Plug and play");
  EXPECT_EQ(list->currentRow(), 4);
  EXPECT_TRUE(Control<QPushButton>(&dialog, "5088")->isEnabled());

  recorder_.QueueAnswers({platform::kIdOk});
  Control<QPushButton>(&dialog, "5088")->click();
  EXPECT_EQ(list->item(4)->text().toStdString(), "ZIMO 04 - NA");
  std::uint32_t location = 9;
  GetDeviceRegDword(4, kLocationValue, &location, 9);
  EXPECT_EQ(location, kLocationUnknown);
}

TEST_F(DeviceListViewTest, ADoubleClickOnAnUnconfiguredLineCancels) {
  view::DeviceListDialog dialog(model_);
  auto* list = Control<QListWidget>(&dialog, "5087");
  list->setCurrentRow(3);
  Q_EMIT list->itemDoubleClicked(list->item(3));
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(DeviceListViewTest, InsertRunsTheRealSelectionDialog) {
  probe_.present = {"\\\\.\\ZIMOPCI0", "\\\\.\\ZIMOPCI1"};
  view::QtConfigUi screen(probe_);
  DeviceList model(screen, probe_, screen.tester(), nullptr);
  view::DeviceListDialog dialog(model);
  Control<QListWidget>(&dialog, "5087")->setCurrentRow(6);
  WhenShown<QDialog>(IdName(view::kAvailableDevicesTemplate), [](QDialog* selection) {
    Control<QListWidget>(selection, "5089")->setCurrentRow(1);
    Control<QPushButton>(selection, "1")->click();
  });
  Control<QPushButton>(&dialog, "5086")->click();
  std::uint32_t location = 0;
  std::uint32_t enumeration = 9;
  GetDeviceRegDword(6, kLocationValue, &location, 0);
  GetDeviceRegDword(6, kEnumerationValue, &enumeration, 9);
  EXPECT_EQ(location, kLocationPci);
  EXPECT_EQ(enumeration, 1u);
  EXPECT_EQ(Control<QListWidget>(&dialog, "5087")->item(6)->text().toStdString(),
            "ZIMO 06 - PCI1 - Plug and play");
}

}  // namespace
}  // namespace zimo::corvan::dialogs
