#include "link/ascii_channel.h"

#include "corvan/command_api.h"
#include "corvan/internal/shared_table.h"
#include "link/bus_channel.h"
#include "link/dpr_channel.h"
#include "link/eth_response.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"
#include "link/serial_transport.h"

namespace zimo::corvan {

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
      return &DprMailboxChannel();
  }
  return nullptr;
}

int SwitchSerialChecksums(int device, int on) {
  return ZimoSERDoChecksums(static_cast<std::uint32_t>(device), on);
}

}  // namespace zimo::corvan
