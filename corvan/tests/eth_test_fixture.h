// What the Ethernet tests share: the shared device table of this test
// process (as the server would create it), an Ethernet device registered in
// it, the simulated card served on a loopback address of the test's own,
// and a rogue peer: a socket in the test that plays the card and answers
// whatever a test scripts.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/attach_requests.h"
#include "cardsim/card.h"
#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "platform/file_mapping.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "temp_home.h"

namespace zimo::corvan::testing {

// A loopback address no other test process uses at the same time: each
// test serves its card on port 1025 of an address of its own.
inline std::string UniqueLoopbackAddress() {
  static std::atomic<std::uint32_t> counter{0};
  std::uint32_t v = (static_cast<std::uint32_t>(::getpid()) % 200000u) * 16u + (counter++ % 16u);
  const std::uint32_t d = 1 + v % 250;
  v /= 250;
  const std::uint32_t c = v % 256;
  v /= 256;
  const std::uint32_t b = 1 + v % 254;
  char text[32];
  std::snprintf(text, sizeof text, "127.%u.%u.%u", b, c, d);
  return text;
}

inline std::uint32_t AddressNumber(const std::string& dotted) {
  auto ip = cardsim::ParseIpv4(dotted);
  EXPECT_TRUE(ip.ok()) << dotted;
  return ip.ok() ? *ip : 0;
}

// The shared device table of this process, created as the server creates
// it, and the library mapping it.
class EthTable {
 public:
  EthTable() {
    auto created = platform::FileMapping::Create(kSharedTableName, kSharedTableSize);
    EXPECT_TRUE(created.ok()) << created.status().ToString();
    if (created.ok()) {
      mapping_ = std::move(created.value());
      table_ = SharedTableAt(mapping_.data());
      InitializeTableHeader(*table_, 0);
      for (int slot = 0; slot < kRealDevices; ++slot) {
        (void)InitializeDeviceSlot(*table_, slot, 0, 0);
      }
    }
    App().End();
    App().Start();
  }
  ~EthTable() {
    for (int device = 0; device < kRealDevices; ++device) EthClose(device);
    App().End();
  }

  // Registers `device` as Ethernet device `enumeration`, UDP or TCP.
  void Register(int device, std::uint32_t enumeration, bool tcp) {
    ASSERT_EQ(RegisterDevice(device, kLocationEthernet, enumeration, table_), 1);
    ASSERT_EQ(SetLocationRegDword(kLocationEthernet, enumeration, "TCPMode", tcp ? 1 : 0), 1);
  }

  SharedDeviceTable* table() const { return table_; }
  SharedDeviceBlock& block(int device) const { return table_->Devices[device]; }

 private:
  platform::FileMapping mapping_;
  SharedDeviceTable* table_ = nullptr;
};

// The simulated card on its Ethernet port.
class EthCard {
 public:
  explicit EthCard(const std::string& address, bool udp = true, bool tcp = true)
      : card_(cardsim::CardModel::Older()) {
    cardsim::EthOptions options;
    options.address = address;
    options.udp = udp;
    options.tcp = tcp;
    auto started = cardsim::EthAttachment::Start(card_, options);
    EXPECT_TRUE(started.ok()) << started.status().ToString();
    if (started.ok()) eth_ = std::move(started.value());
  }
  ~EthCard() {
    if (eth_) eth_->Stop();
  }

  cardsim::Card& card() { return card_; }
  bool Received(const std::string& entry) {
    for (const auto& e : card_.script().received()) {
      if (e == entry) return true;
    }
    return false;
  }

 private:
  cardsim::Card card_;
  std::unique_ptr<cardsim::EthAttachment> eth_;
};

// A socket in the test that plays the card on port 1025 of an address, by
// UDP or TCP: every request is logged as it came, and the handler decides
// the answer (nothing: the peer stays silent).
class RoguePeer {
 public:
  using Handler = std::function<std::optional<std::string>(const std::string& request)>;

  RoguePeer(const std::string& address, Handler handler, bool tcp = false)
      : handler_(std::move(handler)), tcp_(tcp) {
    auto socket = platform::Socket::Create(tcp ? platform::SocketType::kStream
                                               : platform::SocketType::kDatagram);
    EXPECT_TRUE(socket.ok());
    if (!socket.ok()) return;
    socket_ = std::move(socket.value());
    if (tcp) {
      EXPECT_TRUE(socket_.SetReuseAddress(true).ok());
    }
    EXPECT_TRUE(socket_.Bind({AddressNumber(address), kEthPort}).ok());
    if (tcp) {
      EXPECT_TRUE(socket_.Listen().ok());
    }
    EXPECT_TRUE(socket_.SetReceiveTimeout(20).ok());
    thread_ = std::thread([this] { tcp_ ? ServeStream() : ServeDatagrams(); });
  }
  ~RoguePeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }

 private:
  std::optional<std::string> Take(std::string request) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      requests_.push_back(request);
    }
    return handler_(request);
  }

  void ServeDatagrams() {
    std::vector<char> buffer(65536);
    while (!stop_) {
      platform::Ipv4Endpoint from;
      auto got = socket_.ReceiveFrom(buffer.data(), buffer.size(), &from);
      if (!got.ok()) continue;
      std::optional<std::string> answer = Take(std::string(buffer.data(), *got));
      if (answer) (void)socket_.SendTo(answer->data(), answer->size(), from);
    }
  }

  // Reads exactly `size` bytes from a connection; false at its end.
  bool ReadExact(platform::Socket& peer, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size && !stop_) {
      auto n = peer.Receive(data + got, size - got);
      if (!n.ok()) {
        if (n.status().code() == platform::Code::kTimeout) continue;
        return false;
      }
      if (*n == 0) return false;
      got += *n;
    }
    return got == size;
  }

  void ServeStream() {
    while (!stop_) {
      auto accepted = socket_.Accept(platform::Timeout(20));
      if (!accepted.ok()) continue;
      platform::Socket peer = std::move(accepted.value());
      (void)peer.SetReceiveTimeout(20);
      for (;;) {
        char head[8];
        if (!ReadExact(peer, head, sizeof head)) break;
        auto header = cardsim::RequestHeader::Parse(std::string_view(head, sizeof head));
        auto length = header ? cardsim::PayloadLength(*header) : std::nullopt;
        if (!length) break;
        std::string request(head, sizeof head);
        std::string payload(*length, 0);
        if (!ReadExact(peer, payload.data(), payload.size())) break;
        std::optional<std::string> answer = Take(request + payload);
        if (answer && !answer->empty()) (void)peer.Send(answer->data(), answer->size());
      }
    }
  }

  Handler handler_;
  bool tcp_;
  platform::Socket socket_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// The request's header fields.
struct Header {
  std::uint8_t type = 0, request = 0;
  std::uint16_t value = 0, index = 0, length = 0;
};
inline Header ParseHeader(const std::string& packet) {
  Header h;
  if (packet.size() < 8) return h;
  auto byte = [&](int i) { return static_cast<std::uint8_t>(packet[i]); };
  h.type = byte(0);
  h.request = byte(1);
  h.value = static_cast<std::uint16_t>(byte(2) << 8 | byte(3));
  h.index = static_cast<std::uint16_t>(byte(4) << 8 | byte(5));
  h.length = static_cast<std::uint16_t>(byte(6) << 8 | byte(7));
  return h;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

inline std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}

// Options that start a helper process with one more environment entry.
inline platform::SpawnOptions WithEnvironment(std::string entry) {
  platform::SpawnOptions options;
  options.environment.push_back(std::move(entry));
  return options;
}

// The path of this test program, for running it again as a helper process.
inline std::string SelfPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace zimo::corvan::testing
