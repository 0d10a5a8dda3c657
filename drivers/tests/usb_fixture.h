// In-process fixture for ZimoUSB: the driver host's kernel, USB bus and
// drivers with simulated USB cards, without sockets; requests go through the
// kernel's I/O manager as a user-mode DeviceIoControl would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/attach_usb.h"
#include "drivers/zimo_ioctl.h"
#include "host/driver_host.h"
#include "platform/registry.h"
#include "temp_home.h"
#include "usb/maintenance_ioctl.h"

namespace zimo::drivers::testing {

using kernel::NTSTATUS;
namespace usbreq = cardsim::usb_request;

inline constexpr NTSTATUS kUnsuccessful = kernel::kStatusUnsuccessful;
inline constexpr NTSTATUS kInvalidParameter = kernel::kStatusInvalidParameter;

struct UsbReply {
  NTSTATUS status = 0;
  uint64_t count = 0;  // the transfer count
  std::vector<uint8_t> out;
  std::string Text() const { return std::string(out.begin(), out.end()); }
};

inline host::CardConfig UsbCard(int id = -1, bool spran = false) {
  host::CardConfig c;
  c.bus = host::Bus::kUsb;
  c.spran = spran;
  c.usb_id = id;
  return c;
}

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
inline std::vector<uint8_t> Text(const std::string& s) {
  std::vector<uint8_t> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}
template <typename T>
std::vector<uint8_t> RecordBytes(const T& record) {
  std::vector<uint8_t> v(sizeof(T));
  std::memcpy(v.data(), &record, sizeof(T));
  return v;
}
template <typename T>
T FromBytes(const std::vector<uint8_t>& bytes, size_t at = 0) {
  T value{};
  std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

// The InstallError value of USB device n, or -1 when there is none.
inline int64_t InstallError(int n) {
  auto key = platform::RegistryKey::Open(
      platform::kHkeyLocalMachine,
      "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Zimousb" + std::to_string(n), platform::kKeyRead);
  if (!key.ok()) return -1;
  auto value = key->GetDword("InstallError");
  return value.ok() ? static_cast<int64_t>(*value) : -1;
}

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override { host_ = std::make_unique<host::DriverHost>(); }
  void TearDown() override {
    for (auto& f : files_) {
      if (f) host_->kernel().CloseFile(f);
    }
    files_.clear();
    host_.reset();
  }

  // Adds and starts a card and opens its device as the next handle.
  int AddCard(host::CardConfig config = UsbCard()) {
    int card = -1;
    const NTSTATUS status = host_->AddCard(config, &card);
    EXPECT_EQ(status, kernel::kStatusSuccess) << std::hex << status;
    Open(card);
    return card;
  }
  size_t Open(int card) {
    host::CardInfo info;
    host_->GetCard(card, &info);
    std::shared_ptr<kernel::FileObject> file;
    EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\" + info.device_name, &file), kernel::kStatusSuccess)
        << info.device_name;
    files_.push_back(file);
    return files_.size() - 1;
  }

  // A request with `out_size` bytes of output (filled with 0xEE first).
  UsbReply Ioctl(uint32_t code, const std::vector<uint8_t>& in, size_t out_size = 0,
                 size_t handle = 0, const kernel::HandleNames* handles = nullptr) {
    UsbReply r;
    r.out.assign(out_size, 0xEE);
    const kernel::DeviceIoResult result =
        host_->kernel().DeviceIoControl(*files_.at(handle), code, in, r.out, handles);
    r.status = result.status;
    r.count = result.information;
    return r;
  }
  UsbReply Query(uint32_t code, size_t out_size = 0, size_t handle = 0) {
    return Ioctl(code, {}, out_size, handle);
  }

  LineIoBlock LineCode(uint32_t code, char control = 0, uint32_t requested = 256,
                       size_t handle = 0) {
    LineIoBlock in{};
    in.text[0] = control;
    in.requested = requested;
    UsbReply r = Ioctl(code, RecordBytes(in), sizeof(LineIoBlock), handle);
    EXPECT_EQ(r.count, sizeof(LineIoBlock));
    return FromBytes<LineIoBlock>(r.out);
  }
  uint64_t SendLine(const std::string& line, size_t handle = 0) {
    return Ioctl(IOCTL_ZIMO_BUS_SEND_LINE, Text(line), 0, handle).count;
  }
  // Flushes, sends the command and reads reply lines until one ends the reply.
  std::vector<LineIoBlock> Exchange(const std::string& command,
                                    uint32_t code = IOCTL_ZIMO_BUS_GET_LINE, size_t handle = 0) {
    Query(IOCTL_ZIMO_BUS_FLUSH, 0, handle);
    SendLine(command, handle);
    return ReadLines(code, handle);
  }
  std::vector<LineIoBlock> ReadLines(uint32_t code = IOCTL_ZIMO_BUS_GET_LINE, size_t handle = 0) {
    std::vector<LineIoBlock> lines;
    for (int i = 0; i < 1000; ++i) {
      lines.push_back(LineCode(code, 0, 256, handle));
      if (lines.back().status != kLineCr) break;
    }
    return lines;
  }

  cardsim::Card& Card(int card) { return *host_->SimCard(card); }
  cardsim::UsbAttachment& Port(int card) { return *host_->machine().Get(card)->usb; }
  // The vendor requests with this code the card received since its log was cleared.
  std::vector<cardsim::UsbAttachment::Logged> Requests(int card, uint8_t code) {
    std::vector<cardsim::UsbAttachment::Logged> out;
    for (const auto& r : Port(card).vendor_requests()) {
      if (r.setup.request == code) out.push_back(r);
    }
    return out;
  }
  std::vector<uint8_t> RequestCodes(int card) {
    std::vector<uint8_t> out;
    for (const auto& r : Port(card).vendor_requests()) out.push_back(r.setup.request);
    return out;
  }
  int32_t LastUsbError(size_t handle = 0) {
    return FromBytes<int32_t>(Query(usb::IOCTL_ZIMOUSB_GET_LAST_ERROR, 4, handle).out);
  }

  zimo::testing::TempHome home_;
  std::unique_ptr<host::DriverHost> host_;
  std::vector<std::shared_ptr<kernel::FileObject>> files_;
};

}  // namespace zimo::drivers::testing
