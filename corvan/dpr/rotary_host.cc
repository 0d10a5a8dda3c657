// Host-side binary rotary buffers: on USB and Ethernet cards the converted
// commands can travel as packets of 48-bit card words, one record per line,
// instead of whole 8-byte units through the card's DPR rings.
#include <array>
#include <cstring>

#include "corvan/eth_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/rotary_api.h"
#include "dpr/rotary_parser.h"
#include "dpr/rotary_staging.h"
#include "drivers/zimo_ioctl.h"
#include "link/driver_device.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

constexpr int kHostBuffers = 16;
constexpr std::size_t kPacketBytes = 8192;
constexpr std::size_t kPacketLimitUsb = 8192;
constexpr std::size_t kPacketLimitEth = 1400;
constexpr std::size_t kRecordHeader = 3;
constexpr int kRecordMaxWords = 255;

// One buffer's packet: the staged records, with room for the three zero
// bytes the USB transfer carries after them.
struct HostPacket {
  std::size_t fill = 0;
  std::array<std::uint8_t, kPacketBytes + 3> bytes{};
};
std::array<std::array<HostPacket, kHostBuffers>, kRealDevices> g_packets;

// Sends the packet: true when the card (or driver) took it.
bool SendPacket(int device, HostPacket& packet) {
  if (RotaryLocation(device) == kLocationUsb) {
    std::memset(packet.bytes.data() + packet.fill, 0, 3);
    const platform::IoControlResult r =
        DriverIoctl(device, drivers::IOCTL_ZIMO_HOSTROT_PUT, nullptr, 0, packet.bytes.data(),
                    static_cast<std::uint32_t>(packet.fill + 3));
    return r.ok && r.bytes_returned != 0;
  }
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  const std::int32_t got = EthRotBufPut(DeviceNumberFromIndex(device), 0, packet.bytes.data(),
                                        static_cast<std::uint32_t>(packet.fill), &first, &second);
  if (got != 4) return false;
  return (static_cast<std::uint32_t>(second) << 16 | first) != 0;
}

}  // namespace

bool RotaryHostMode(int device) {
  const SharedDeviceBlock* block = IsRealDevice(device) ? App().Block(device) : nullptr;
  return block != nullptr && block->HostRotaryMode != 0;
}

int RotaryHostInit(int device) {
  if (!IsRealDevice(device)) return 0;
  for (HostPacket& packet : g_packets[static_cast<std::size_t>(device)]) packet.fill = 0;
  return DriverIoctl(device, drivers::IOCTL_ZIMO_HOSTROT_INIT, nullptr, 0, nullptr, 0).ok ? 1 : 0;
}

RotaryPutOutcome RotaryHostPut(int device, int count, const std::uint32_t* words, int n, bool flush,
                               char* text) {
  RotaryPutOutcome out;
  if (!IsRealDevice(device) || n < 0 || n >= kHostBuffers || count < 0) return out;
  const std::uint32_t location = RotaryLocation(device);
  if (location != kLocationUsb && location != kLocationEthernet) {
    return RotaryStagePut(device, count, words, n, true, nullptr);
  }
  if (count > kRecordMaxWords) {
    out.result = kRotaryBufferSize;
    return out;
  }
  if (count > 0 && words == nullptr) return out;
  HostPacket& packet = g_packets[static_cast<std::size_t>(device)][static_cast<std::size_t>(n)];
  const std::size_t limit = location == kLocationUsb ? kPacketLimitUsb : kPacketLimitEth;
  const std::size_t record = kRecordHeader + 6 * static_cast<std::size_t>(count / 2);
  if (packet.fill + 4 * static_cast<std::size_t>(count) + 6 > limit) {
    if (!SendPacket(device, packet)) {
      out.result = kRotRetry;
      return out;
    }
    packet.fill = 0;
  }
  if (count > 0) {
    std::uint8_t* at = packet.bytes.data() + packet.fill;
    at[0] = static_cast<std::uint8_t>(n);
    at[1] = static_cast<std::uint8_t>(count);
    at[2] = 0x80;
    at += kRecordHeader;
    // Each unit's low 24 bits, then bits 24-47, each most significant byte
    // first; the unit's top two bytes and an odd last word stay behind.
    for (int unit = 0; unit < count / 2; ++unit) {
      std::uint8_t b[8];
      std::memcpy(b, words + 2 * unit, 8);
      const std::uint8_t packed[6] = {b[2], b[1], b[0], b[5], b[4], b[3]};
      std::memcpy(at, packed, 6);
      at += 6;
    }
    packet.fill += record;
    out.staged = true;
  }
  out.result = kRotAccepted;
  if (flush && packet.fill > 0) {
    if (SendPacket(device, packet)) {
      packet.fill = 0;
    } else {
      out.result = kRotRetry;
      if (out.staged && text != nullptr && text[0] != '\0') text[0] = '\0';
    }
  }
  return out;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;

extern "C" {

void SetBinRotHostMode(uint32_t device, int32_t mode) {
  const int d = IndexFromDeviceNumber(device);
  SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  if (block != nullptr) block->HostRotaryMode = static_cast<std::uint32_t>(mode);
}

int16_t ZimoHostrotput(uint32_t device, int32_t count, const uint32_t* words, uint32_t n,
                       int32_t flush, char* text) {
  if (n >= static_cast<uint32_t>(kHostBuffers)) return kRotRefused;
  return static_cast<int16_t>(RotaryHostPut(IndexFromDeviceNumber(device), count, words,
                                            static_cast<int>(n), flush != 0, text)
                                  .result);
}

int32_t ZimoHostBinRotInit(uint32_t device) {
  return RotaryHostInit(IndexFromDeviceNumber(device));
}

}  // extern "C"
