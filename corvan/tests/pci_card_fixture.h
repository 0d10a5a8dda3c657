// What the PCI tests share: zimo-drvhost serving simulated cards in the
// test's own home, its control connection, a shared device table of the
// test's own, and device 0 opened on "\\.\ZimoPCI0" for this process.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "corvan/internal/shared_table.h"
#include "library_harness.h"
#include "link/device_registry.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "platform/device_io.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/unix_socket.h"
#include "temp_home.h"

namespace zimo::corvan::testing {

using namespace std::chrono_literals;

// What an installer leaves for the driver service `name`: the driver
// binary of its ImagePath ("\SystemRoot\System32\drivers\<name>.SYS"), here
// a launcher of zimo-drvhost (its cards' servo clocks stopped, as the tests
// step them), and the host's card `card` in the registry.
inline void InstallDriverHost(const std::string& name, const std::string& bus = "PCI",
                              const std::string& layout = "Older") {
  const std::filesystem::path folder = platform::WindowsDir() / "System32" / "drivers";
  std::filesystem::create_directories(folder);
  const std::filesystem::path launcher = folder / (name + ".SYS");
  {
    std::ofstream out(launcher);
    out << "#!/bin/sh\nexec '" << (zimo::testing::BinDir() / "zimo-drvhost").string()
        << "' --manual-clock \"$@\"\n";
  }
  std::filesystem::permissions(launcher, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add);
  auto card = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                            "SOFTWARE\\Zimo\\DriverHost\\Cards\\Card0");
  ASSERT_TRUE(card.ok());
  ASSERT_TRUE(card->SetString("Bus", bus).ok());
  ASSERT_TRUE(card->SetString("Layout", layout).ok());
}

// zimo-drvhost started by the test with the given cards ("pci older").
class DriverHostProcess {
 public:
  explicit DriverHostProcess(const std::vector<std::string>& cards) {
    auto spawned = SpawnDriverHost(cards);
    EXPECT_TRUE(spawned.ok()) << spawned.status().ToString();
    if (spawned.ok()) process_ = std::move(spawned.value());
    EXPECT_TRUE(control_.Connect()) << "the driver host did not come up";
  }
  ~DriverHostProcess() {
    if (control_.connected()) control_.Command("quit");
    if (process_.valid() && !process_.Wait(20s).ok()) {
      (void)process_.Signal(9);
      (void)process_.Wait();
    }
  }
  std::string Command(const std::string& line) { return control_.Command(line); }

 private:
  platform::Process process_;
  DriverHostControl control_;
};

// A device opened for this process on a bus driver by hand, as device open
// leaves it: the shared block's Location and Enumeration, the two locks,
// the transport and the driver handle.
class BusDeviceOpener {
 public:
  BusDeviceOpener(int device, std::uint32_t location, std::uint32_t enumeration)
      : device_(device), location_(location), enumeration_(enumeration) {
    handle_.location = location;
    handle_.enumeration = enumeration;
    handle_.users = 1;
  }
  ~BusDeviceOpener() { Close(); }

  bool Open() {
    SharedDeviceBlock* block = App().Block(device_);
    DeviceUserHandle* user = App().User(device_);
    if (block == nullptr || user == nullptr) return false;
    block->Location = location_;
    block->Enumeration = enumeration_;
    const std::string n = std::to_string(device_);
    auto command = platform::NamedMutex::Create("MutexZimo" + n);
    auto dpr = platform::NamedMutex::Create("DPRMutexZimo" + n);
    if (!command.ok() || !dpr.ok()) return false;
    user->CommandMutex = std::move(command.value());
    user->DprDataMutex = std::move(dpr.value());
    if (OpenDriverDevice(location_, enumeration_) != 0) return false;
    user->Transport = &handle_;
    user->OpenCount = 1;
    return true;
  }
  void Close() {
    DeviceUserHandle* user = App().User(device_);
    if (user == nullptr || user->Transport != &handle_) return;
    user->Transport = nullptr;
    user->OpenCount = 0;
    user->CommandMutex = platform::NamedMutex();
    user->DprDataMutex = platform::NamedMutex();
    CloseDriverDevice(location_, enumeration_);
  }

 private:
  int device_;
  std::uint32_t location_;
  std::uint32_t enumeration_;
  LocationHandle handle_;
};

// A driver host with one older PCI card, a table of the test's own in place
// of the server's, and device 0 registered and opened on ZimoPCI0.
class PciCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<SharedDeviceTable>();
    InitializeTableHeader(*table_, 0);
    CommLibraryApp::UseServerTable(table_.get());
    ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, table_.get()), 1);
    host_ = std::make_unique<DriverHostProcess>(Cards());
    ASSERT_TRUE(WaitForDriverDevice("ZimoPCI0"));
    block().CardType = 2;
    std::snprintf(block().FirmwareVersion, sizeof block().FirmwareVersion, "1.16F");
    opener_ = std::make_unique<BusDeviceOpener>(0, kLocationPci, 0);
    ASSERT_TRUE(opener_->Open());
  }
  void TearDown() override {
    opener_.reset();
    host_.reset();
    App().End();
  }
  virtual std::vector<std::string> Cards() { return {"pci older"}; }

  SharedDeviceBlock& block(int device = 0) { return table_->Devices[device]; }
  std::string Host(const std::string& line) { return host_->Command(line); }

  zimo::testing::TempHome home_;
  std::unique_ptr<SharedDeviceTable> table_;
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<BusDeviceOpener> opener_;
};

}  // namespace zimo::corvan::testing
