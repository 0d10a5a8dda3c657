// What the link tests share: a simulated card on a pseudo-terminal
// registered as a COM port, a stand-in for ZimoServer (the shared device
// table and the service object that device open activates), the registry
// entries of a serial device, and a fast clock for the library's fixed
// waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "automation/dispatch.h"
#include "automation/guid.h"
#include "automation/local_server.h"
#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "corvan/internal/shared_table.h"
#include "library_harness.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "platform/clock.h"
#include "platform/file_mapping.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::corvan::testing {

// Generous for what must happen; the library's own serial time-outs in
// these tests are short so that a muted card costs little.
inline constexpr std::uint32_t kTestCharTimeoutMs = 400;

// The service object: the library only holds it.
class NullObject : public automation::Dispatch {
 public:
  automation::HRESULT Invoke(automation::DispId, std::uint16_t, std::span<automation::Variant>,
                             automation::Variant*, automation::ExcepInfo*) override {
    return automation::DISP_E_MEMBERNOTFOUND;
  }
};

// Plays ZimoServer for a test process: creates the shared device table with
// the start values (Location and Enumeration from the registry) and serves
// the service object, so that device open finds a running server.
class StandInServer {
 public:
  StandInServer() {
    auto created = platform::FileMapping::Create(kSharedTableName, kSharedTableSize);
    EXPECT_TRUE(created.ok()) << created.status().ToString();
    if (!created.ok()) return;
    mapping_ = std::move(created.value());
    table_ = SharedTableAt(mapping_.data());
    InitializeTableHeader(*table_, 0);
    for (int slot = 0; slot < kRealDevices; ++slot) {
      std::uint32_t location = 0;
      std::uint32_t enumeration = 0;
      GetDeviceRegDword(slot, kLocationValue, &location, 0);
      GetDeviceRegDword(slot, kEnumerationValue, &enumeration, 0);
      (void)InitializeDeviceSlot(*table_, slot, location, enumeration);
    }
    WriteServerIdentity(*table_, 0, static_cast<std::uint32_t>(::getpid()));

    const auto clsid = *automation::Guid::Parse("{5A1C0D3E-27B4-4C61-9E0F-6B2D8A7C1F10}");
    auto key =
        platform::RegistryKey::Create(platform::kHkeyClassesRoot, "ZimoServer.ZimoService\\CLSID");
    EXPECT_TRUE(key.ok());
    if (key.ok()) {
      EXPECT_TRUE(key->SetString("", clsid.ToString()).ok());
    }
    EXPECT_TRUE(server_.Listen("zimoserver-standin").ok());
    EXPECT_TRUE(server_
                    .RegisterClassObject(clsid,
                                         [](std::shared_ptr<automation::Dispatch>* out) {
                                           *out = std::make_shared<NullObject>();
                                           return automation::S_OK;
                                         })
                    .ok());
    thread_ = std::thread([this] { server_.Run(); });
  }
  ~StandInServer() {
    server_.Quit();
    if (thread_.joinable()) thread_.join();
    server_.Shutdown();
  }

  SharedDeviceTable* table() const { return table_; }

 private:
  platform::FileMapping mapping_;
  SharedDeviceTable* table_ = nullptr;
  automation::LocalServer server_;
  std::thread thread_;
};

// A simulated card on a pseudo-terminal registered as COM<port>.
class SerialCard {
 public:
  explicit SerialCard(int com_port, cardsim::CardModel model = cardsim::CardModel::Older())
      : card_(std::move(model)) {
    auto started = cardsim::PtyAttachment::Start(card_);
    EXPECT_TRUE(started.ok()) << started.status().ToString();
    if (!started.ok()) return;
    pty_ = std::move(started.value());
    EXPECT_TRUE(platform::RegisterComPort(com_port, pty_->slave_path()).ok());
  }
  ~SerialCard() {
    if (pty_) pty_->Stop();
  }

  cardsim::Card& card() { return card_; }
  std::vector<std::string> received() { return card_.script().received(); }
  // Whether the card has received `entry` (a line, or "^G" and the like for
  // a control character); waits for it, since the card reads the port on a
  // thread of its own.
  bool Received(const std::string& entry) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      for (const auto& e : received()) {
        if (e == entry) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  cardsim::Card card_;
  std::unique_ptr<cardsim::PtyAttachment> pty_;
};

// Registers device `device` as the serial card on COM<enumeration>, with
// short serial time-outs.
inline void RegisterSerialDevice(int device, std::uint32_t enumeration) {
  ASSERT_EQ(RegisterDevice(device, kLocationSerial, enumeration, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationSerial, enumeration, "SerCharTimeout", kTestCharTimeoutMs),
            1);
}

// The path of this test program, for starting it again as a helper process.
inline std::string TestProgramPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace zimo::corvan::testing
