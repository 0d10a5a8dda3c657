// What the device object's end-to-end tests share: zimo-drvhost with an
// older and a SPRAN PCI card (Device0 and Device1: Location 4, Enumerations
// 0 and 1), ZimoServer registered in the test's own home and started by
// activation, and the cards' logs of what they received.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "automation/activation.h"
#include "automation/dispatch.h"
#include "automation/event_sink.h"
#include "core/server_ids.h"
#include "core/zimo_device.h"
#include "platform/device_io.h"
#include "platform/file_mapping.h"
#include "platform/home.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/unix_socket.h"
#include "temp_home.h"

namespace zimo::automation {
// Test failures show values as text.
inline void PrintTo(const Variant& v, std::ostream* os) { *os << v.DebugString(); }
}  // namespace zimo::automation

namespace zimo::server::testing {

using namespace std::chrono_literals;
using automation::Bstr;
using automation::Dispatch;
using automation::DispId;
using automation::HRESULT;
using automation::kMethod;
using automation::kPropertyGet;
using automation::Variant;

// Polls for up to 20 s: for things that must happen.
template <typename F>
bool Eventually(F done) {
  for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

// One control connection to the home's driver host.
class HostControl {
 public:
  bool Connect() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    do {
      auto c = platform::UnixConnection::Connect(platform::RunDir() / "zimo-drvhost.ctl", 1s);
      if (c.ok()) {
        connection_ = std::move(*c);
        if (Command("ping") == "ok") return true;
      }
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  std::string Command(const std::string& line) {
    const std::string out = line + "\n";
    if (!connection_.SendAll(out.data(), out.size()).ok()) return "send failed";
    std::string reply;
    char c;
    while (connection_.RecvExact(&c, 1, 30s).ok()) {
      if (c == '\n') return reply;
      reply += c;
    }
    return "no reply";
  }
  // What card `card` received, one entry per line or control character.
  std::vector<std::string> Log(int card) {
    const std::string reply = Command("log " + std::to_string(card));
    std::vector<std::string> entries;
    if (reply.rfind("ok ", 0) != 0) {
      ADD_FAILURE() << reply;
      return entries;
    }
    std::string entry;
    for (size_t i = 3; i < reply.size(); ++i) {
      if (reply[i] == '\\' && i + 1 < reply.size()) {
        entry += reply[++i];
      } else if (reply[i] == '|') {
        entries.push_back(entry);
        entry.clear();
      } else {
        entry += reply[i];
      }
    }
    return entries;
  }
  bool connected() const { return connection_.is_open(); }

 private:
  platform::UnixConnection connection_;
};

// The events one sink received, in order.
struct Recorded {
  DispId id;
  std::vector<Variant> args;
};

class EventLog {
 public:
  std::shared_ptr<automation::EventSink> MakeSink(
      std::function<void(DispId, std::span<Variant>)> also = {}) {
    return automation::MakeEventSink(
        k_IZimoDeviceEvents, [this, also](DispId id, std::span<Variant> args, Variant*) {
          {
            std::lock_guard lock(mu_);
            events_.push_back(Recorded{id, std::vector<Variant>(args.begin(), args.end())});
          }
          if (also) also(id, args);
          return automation::S_OK;
        });
  }
  std::vector<Recorded> events() const {
    std::lock_guard lock(mu_);
    return events_;
  }
  void Clear() {
    std::lock_guard lock(mu_);
    events_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::vector<Recorded> events_;
};

class DeviceServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string server = (zimo::testing::BinDir() / "zimoserver").string();
    auto reg = platform::Spawn({server, "-RegServer"});
    ASSERT_TRUE(reg.ok());
    ASSERT_EQ(*reg->Wait(30s), 0);
    for (int d = 0; d < 2; ++d) {
      auto key = platform::RegistryKey::Create(
          platform::kHkeyLocalMachine,
          "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device" + std::to_string(d));
      ASSERT_TRUE(key.ok());
      ASSERT_TRUE(key->SetDword("Location", 4).ok());
      ASSERT_TRUE(key->SetDword("Enumeration", static_cast<uint32_t>(d)).ok());
    }
    auto host = platform::Spawn({(zimo::testing::BinDir() / "zimo-drvhost").string(),
                                 "--no-registry", "--manual-clock", "--card", "pci older",
                                 "--card", "pci spran"});
    ASSERT_TRUE(host.ok()) << host.status().ToString();
    host_ = std::move(*host);
    ASSERT_TRUE(control_.Connect());
    for (const char* dev : {"ZimoPCI0", "ZimoPCI1"}) {
      ASSERT_TRUE(
          Eventually([dev] { return std::filesystem::exists(platform::DeviceSocketPath(dev)); }));
    }
  }
  void TearDown() override {
    objects_.clear();
    if (control_.connected()) control_.Command("quit");
    if (host_.valid() && !host_.Wait(20s).ok()) {
      (void)host_.Signal(9);
      (void)host_.Wait();
    }
    (void)platform::UnlinkHomeSharedMemory();
  }

  // A device object of a client of its own (a connection of its own).
  // The first one activates the class, which starts the server with
  // "-Embedding".
  std::shared_ptr<Dispatch> NewClient() {
    if (objects_.empty()) {
      std::shared_ptr<Dispatch> object;
      EXPECT_EQ(automation::CreateInstance("ZimoServer.ZimoDevice.1", &object), automation::S_OK);
      objects_.push_back(object);
      return object;
    }
    auto c = automation::ServerConnection::Open(platform::RunDir() / "ZimoServer.sock");
    EXPECT_TRUE(c.ok());
    if (!c.ok()) return nullptr;
    connections_.push_back(std::move(*c));
    std::shared_ptr<Dispatch> object;
    EXPECT_EQ(connections_.back().CreateInstance(kClsidZimoDevice, &object), automation::S_OK);
    objects_.push_back(object);
    return object;
  }

  std::string Home() const { return home_.path().string(); }

  zimo::testing::TempHome home_;
  platform::Process host_;
  HostControl control_;
  std::vector<automation::ServerConnection> connections_;
  std::vector<std::shared_ptr<Dispatch>> objects_;
};

// Calls a method; texts go in as automation strings.
inline HRESULT Call(Dispatch& o, DispId id, std::vector<Variant> args, Variant* result = nullptr,
                    uint16_t flags = kMethod) {
  return o.Invoke(id, flags, args, result, nullptr);
}

inline Variant Text(const char* s) { return Variant(Bstr::FromAnsi(s)); }

}  // namespace zimo::server::testing
