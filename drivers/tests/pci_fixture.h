// In-process fixture: the driver host's kernel, ZimoPCI and simulated cards
// without sockets; requests go through the kernel's I/O manager as a user
// mode DeviceIoControl would.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drivers/zimo_ioctl.h"
#include "host/driver_host.h"
#include "temp_home.h"

namespace zimo::drivers::testing {

using kernel::NTSTATUS;

struct Reply {
  NTSTATUS status = 0;
  uint64_t count = 0;  // the transfer count
  std::vector<uint8_t> out;
};

class PciTest : public ::testing::Test {
 protected:
  void SetUp() override { host_ = std::make_unique<host::DriverHost>(); }
  void TearDown() override {
    for (auto& f : files_) host_->kernel().CloseFile(f);
    files_.clear();
    host_.reset();
  }

  // Adds and starts a card; its device is opened as handle 0, 1, ...
  int AddCard(host::CardConfig config = {}) {
    int card = -1;
    const NTSTATUS status = host_->AddCard(config, &card);
    EXPECT_EQ(status, kernel::kStatusSuccess) << std::hex << status;
    host::CardInfo info;
    host_->GetCard(card, &info);
    std::shared_ptr<kernel::FileObject> file;
    EXPECT_EQ(host_->kernel().OpenFile("\\\\.\\" + info.device_name, &file), kernel::kStatusSuccess);
    files_.push_back(file);
    return card;
  }
  int AddSpran() {
    host::CardConfig c;
    c.spran = true;
    return AddCard(c);
  }

  Reply Ioctl(uint32_t code, std::vector<uint8_t> in, size_t out_size = 0, size_t handle = 0,
              const kernel::HandleNames* handles = nullptr) {
    Reply r;
    r.out.assign(out_size, 0xEE);
    const kernel::DeviceIoResult result =
        host_->kernel().DeviceIoControl(*files_.at(handle), code, in, r.out, handles);
    r.status = result.status;
    r.count = result.information;
    return r;
  }
  // A code without input.
  Reply Query(uint32_t code, size_t out_size = 0, size_t handle = 0) {
    return Ioctl(code, std::vector<uint8_t>{}, out_size, handle);
  }

  static std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
  }

  // One line record in, the record out.
  LineIoBlock LineCode(uint32_t code, char control = 0, uint32_t requested = 256,
                       size_t handle = 0) {
    LineIoBlock in{};
    in.text[0] = control;
    in.requested = requested;
    std::vector<uint8_t> bytes(sizeof(in));
    std::memcpy(bytes.data(), &in, sizeof(in));
    Reply r = Ioctl(code, bytes, sizeof(LineIoBlock), handle);
    EXPECT_EQ(r.count, sizeof(LineIoBlock));
    LineIoBlock out{};
    std::memcpy(&out, r.out.data(), sizeof(out));
    return out;
  }

  uint64_t SendLine(const std::string& line, size_t handle = 0) {
    return Ioctl(IOCTL_ZIMO_BUS_SEND_LINE, Text(line), 0, handle).count;
  }

  // Sends a command on the port and reads its reply lines up to the end.
  std::vector<LineIoBlock> PortExchange(const std::string& command, size_t handle = 0) {
    Query(IOCTL_ZIMO_BUS_FLUSH, 0, handle);
    SendLine(command, handle);
    std::vector<LineIoBlock> lines;
    for (int i = 0; i < 20; ++i) {
      lines.push_back(LineCode(IOCTL_ZIMO_BUS_GET_LINE, 0, 256, handle));
      if (lines.back().status != kLineCr) break;
    }
    return lines;
  }

  cardsim::Card& Card(int card) { return *host_->SimCard(card); }

  zimo::testing::TempHome home_;
  std::unique_ptr<host::DriverHost> host_;
  std::vector<std::shared_ptr<kernel::FileObject>> files_;
};

}  // namespace zimo::drivers::testing
