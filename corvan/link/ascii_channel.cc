#include "link/ascii_channel.h"

#include "corvan/command_api.h"
#include "corvan/shared_table.h"
#include "link/bus_channel.h"
#include "link/eth_response.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"
#include "link/serial_transport.h"

namespace zimo::corvan {
namespace {

// A transport this build does not carry: every exchange fails, nothing is
// sent, and the caller's buffer stays empty.
class UnavailableChannel final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int, char) override { return 0; }
  std::uint32_t SendLine(int, const char*) override { return kStatusFailure; }
  std::uint32_t GetLine(int, char*, std::uint32_t, std::uint32_t* count) override {
    if (count != nullptr) *count = 0;
    return kStatusFailure;
  }
  std::uint32_t GetBuffer(int, char*, std::uint32_t, std::uint32_t* count) override {
    if (count != nullptr) *count = 0;
    return kStatusFailure;
  }
  std::uint32_t GetResponse(int, char*, std::uint32_t, const char*) override {
    return kStatusFailure;
  }
  std::uint32_t GetControlResponse(int, char*, std::uint32_t, char) override {
    return kStatusFailure;
  }
  std::uint32_t ReadReady(int) override { return 0; }
  void Flush(int) override {}
  std::int32_t LastError(int) override { return 0; }
};

}  // namespace

ChannelKind ChannelKindOf(int device) {
  if (!IsRealDevice(device)) return ChannelKind::kNone;
  const SharedDeviceBlock* block = App().Block(device);
  if (block == nullptr) return ChannelKind::kNone;
  const DeviceUserHandle* user = App().User(device);
  switch (block->Location) {
    case kLocationIsa:
    case kLocationPci:
    case kLocationUsb:
      return user->AsciiCommMode == 1 ? ChannelKind::kDprMailbox : ChannelKind::kBus;
    case kLocationSerial:
      return user->ChecksumMode != 0 ? ChannelKind::kSerialChecksum : ChannelKind::kSerial;
    case kLocationEthernet:
      return ChannelKind::kEthernet;
    default:
      return ChannelKind::kNone;
  }
}

AsciiChannel* ChannelOf(ChannelKind kind) {
  static UnavailableChannel unavailable;
  switch (kind) {
    case ChannelKind::kNone:
      return nullptr;
    case ChannelKind::kSerial:
      return &SerialChannel();
    case ChannelKind::kSerialChecksum:
      return &ChecksumSerialChannel();
    case ChannelKind::kBus:
      return &BusChannel();
    case ChannelKind::kEthernet:
      return &EthernetChannel();
    case ChannelKind::kDprMailbox:
      // The DPR mailbox channel joins here once it is built.
      return &unavailable;
  }
  return nullptr;
}

int SwitchSerialChecksums(int device, int on) {
  return ZimoSERDoChecksums(static_cast<std::uint32_t>(device), on);
}

}  // namespace zimo::corvan
