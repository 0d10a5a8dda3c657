// A simulated card behind device 0, on a bus (PCI or USB, served by
// zimo-drvhost) or on Ethernet (the card in this process, behind a peer on a
// loopback address that records every request), with what the status tests
// need of it: the card's servo clock stepped by hand, the lines it received,
// and the shared block set up as identification leaves it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "card_log.h"
#include "cardsim/attach_requests.h"
#include "cardsim/card.h"
#include "corvan/command_api.h"
#include "corvan/internal/shared_table.h"
#include "eth_test_fixture.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"

namespace zimo::corvan::testing {

// Which card, on which bus: "pci older", "usb spran", "eth older", ...
struct RigKind {
  const char* name;
  std::uint32_t location;
  bool spran;
};

inline std::string RigName(const ::testing::TestParamInfo<RigKind>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (c == ' ') c = '_';
  }
  return name;
}

class Rig {
 public:
  virtual ~Rig() = default;
  // Runs the card's servo clock `cycles` cycles now.
  virtual void Servo(int cycles) = 0;
  // What the card received since the last call: lines, and control
  // characters as "^C"; the channel's flushes (^X) left out.
  virtual std::vector<std::string> Lines() = 0;
  // The card itself, when it lives in this process.
  virtual cardsim::Card* card() { return nullptr; }
  // The Ethernet requests so far (none on a bus).
  virtual std::vector<std::string> Requests() { return {}; }
};

// zimo-drvhost serving one card on ZimoPCI0 or ZimoUSB0.
class BusRig : public Rig {
 public:
  explicit BusRig(const RigKind& kind, SharedDeviceTable* table) {
    const bool usb = kind.location == kLocationUsb;
    const std::string card = std::string(usb ? "usb " : "pci ") + (kind.spran ? "spran" : "older");
    EXPECT_EQ(RegisterDevice(0, kind.location, 0, table), 1);
    host_ = std::make_unique<DriverHostProcess>(std::vector<std::string>{card});
    EXPECT_TRUE(WaitForDriverDevice(usb ? "ZimoUSB0" : "ZimoPCI0"));
    opener_ = std::make_unique<BusDeviceOpener>(0, kind.location, 0);
    ok_ = opener_->Open();
  }
  ~BusRig() override {
    opener_.reset();
    host_.reset();
  }
  bool ok() const { return ok_; }
  void Servo(int cycles) override {
    ASSERT_EQ(host_->Command("servo 0 " + std::to_string(cycles)), "ok");
  }
  std::vector<std::string> Lines() override {
    const std::string reply = host_->Command("log 0");
    host_->Command("clear-log 0");
    return CardLogLines(reply);
  }

 private:
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<BusDeviceOpener> opener_;
  bool ok_ = false;
};

// The card in this process on Ethernet (UDP), reached through a peer that
// hands each request to the card's request server and keeps it.
class EthRig : public Rig {
 public:
  EthRig(const RigKind& kind, SharedDeviceTable* table)
      : card_(kind.spran ? cardsim::CardModel::Spran() : cardsim::CardModel::Older()),
        server_(card_, AddressNumber(address_)) {
    peer_ = std::make_unique<RoguePeer>(
        address_, [this](const std::string& request) -> std::optional<std::string> {
          auto header = cardsim::RequestHeader::Parse(request);
          if (!header) return std::nullopt;
          const std::string_view payload =
              std::string_view(request).substr(cardsim::request::kHeaderSize);
          {
            std::lock_guard<std::mutex> guard(mutex_);
            if (header->request == cardsim::request::kGetResponse && payload == stand_in_for_) {
              return stand_in_answer_;
            }
          }
          const cardsim::RequestAnswer answer = server_.Handle(*header, payload);
          if (!answer.send) return std::nullopt;
          return answer.bytes;
        });
    EXPECT_EQ(RegisterDevice(0, kLocationEthernet, 0, table), 1);
    SharedDeviceBlock* block = App().Block(0);
    DeviceUserHandle* user = App().User(0);
    block->Location = kLocationEthernet;
    block->Enumeration = 0;
    auto command = platform::NamedMutex::Create("MutexZimo0");
    auto dpr = platform::NamedMutex::Create("DPRMutexZimo0");
    EXPECT_TRUE(command.ok() && dpr.ok());
    if (!command.ok() || !dpr.ok()) return;
    user->CommandMutex = std::move(command.value());
    user->DprDataMutex = std::move(dpr.value());
    ok_ = EthOpen(0, AddressNumber(address_)) != nullptr;
    handle_.location = kLocationEthernet;
    handle_.users = 1;
    user->Transport = &handle_;
    user->OpenCount = 1;
  }
  ~EthRig() override {
    EthClose(0);
    DeviceUserHandle* user = App().User(0);
    if (user != nullptr) {
      user->Transport = nullptr;
      user->OpenCount = 0;
      user->CommandMutex = platform::NamedMutex();
      user->DprDataMutex = platform::NamedMutex();
    }
    peer_.reset();
  }
  bool ok() const { return ok_; }
  void Servo(int cycles) override { card_.AdvanceServo(cycles); }
  std::vector<std::string> Lines() override {
    std::vector<std::string> lines;
    for (const std::string& e : card_.script().received()) {
      if (e != "^X") lines.push_back(e);
    }
    card_.script().ClearLog();
    return lines;
  }
  cardsim::Card* card() override { return &card_; }
  std::vector<std::string> Requests() override { return peer_->requests(); }
  // Answers the command line `command` with `answer` (the bytes as sent,
  // ACK included) in place of the card.
  void StandIn(std::string command, std::string answer) {
    std::lock_guard<std::mutex> guard(mutex_);
    stand_in_for_ = std::move(command);
    stand_in_answer_ = std::move(answer);
  }

 private:
  LocationHandle handle_;
  std::mutex mutex_;
  std::string stand_in_for_, stand_in_answer_;
  std::string address_ = UniqueLoopbackAddress();
  cardsim::Card card_;
  cardsim::RequestServer server_;
  std::unique_ptr<RoguePeer> peer_;
  bool ok_ = false;
};

// Device 0 on the rig of the test's parameter, with its shared block as
// identification leaves it (generation, motor count, position and velocity
// factors from the card's Ixx08 and Ixx09) and the DPR usable.
class StatusRigTest : public ::testing::TestWithParam<RigKind> {
 protected:
  void SetUp() override {
    table_ = std::make_unique<SharedDeviceTable>();
    InitializeTableHeader(*table_, 0);
    CommLibraryApp::UseServerTable(table_.get());
    if (GetParam().location == kLocationEthernet) {
      auto rig = std::make_unique<EthRig>(GetParam(), table_.get());
      ASSERT_TRUE(rig->ok());
      rig_ = std::move(rig);
    } else {
      auto rig = std::make_unique<BusRig>(GetParam(), table_.get());
      ASSERT_TRUE(rig->ok());
      rig_ = std::move(rig);
    }
    SharedDeviceBlock& b = block();
    b.SpranFlag = Spran() ? 1 : 0;
    b.CardType = Spran() ? 6 : 2;
    b.CardMotorCount = Spran() ? 32 : 8;
    b.RealTimePollLimit = 50;
    b.BackgroundPollLimit = 50;
    for (int m = 0; m < 4; ++m) {
      const double i08 = AskNumber("I" + std::to_string((m + 1) * 100 + 8));
      const double i09 = AskNumber("I" + std::to_string((m + 1) * 100 + 9));
      ASSERT_GT(i08, 0);
      b.MotorPositionFactor[m] = 1.0 / (i08 * 32.0);
      b.MotorVelocityFactor[m] = 1.0 / (i09 * 32.0);
    }
    App().User(0)->DprAvailable = 1;
    rig_->Lines();
  }
  void TearDown() override {
    if (App().User(0) != nullptr) App().User(0)->DprAvailable = 0;
    rig_.reset();
    App().End();
  }

  static bool Spran() { return GetParam().spran; }
  SharedDeviceBlock& block() { return table_->Devices[0]; }
  Rig& rig() { return *rig_; }

  // The card's reply to a command, without its line end.
  std::string Ask(const std::string& command) {
    char reply[256] = {};
    ZimoGetResponseA(0, reply, sizeof reply - 1, command.c_str());
    std::string text(reply);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
  }
  double AskNumber(const std::string& command) { return std::atof(Ask(command).c_str()); }

  zimo::testing::TempHome home_;
  std::unique_ptr<SharedDeviceTable> table_;
  std::unique_ptr<Rig> rig_;
};

}  // namespace zimo::corvan::testing
