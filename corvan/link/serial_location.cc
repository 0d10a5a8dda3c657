// The serial Location: a port per Location and Enumeration
// (serial_transport), plain or checksummed exchanges (serial_checksum), no
// DPR and no interrupts.
#include <cstring>

#include "corvan/command_api.h"
#include "link/card_text.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"
#include "link/serial_setup.h"
#include "link/serial_transport.h"
#include "link/transports.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kHandshakeWaitMs = 1000;
constexpr std::uint32_t kHandshakeReplyMax = 255;
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kStatusReplyMax = 15;
constexpr char kChecksumsOffLine[] = "I4=0";
constexpr char kChecksumsOnLine[] = "I4=1";

void SetXonXoffHandshake(SharedDeviceBlock& block, bool on) {
  if (on) {
    block.SerialDcb.Flags &= ~kDcbOutxCtsFlow;
    block.SerialDcb.Flags |= kDcbOutX | kDcbInX;
  } else {
    block.SerialDcb.Flags = (block.SerialCTSOutput & 1u) != 0
                                ? block.SerialDcb.Flags | kDcbOutxCtsFlow
                                : block.SerialDcb.Flags & ~kDcbOutxCtsFlow;
    block.SerialDcb.Flags &= ~(kDcbOutX | kDcbInX);
  }
}

bool SerialHandshake(int device, SharedDeviceBlock& block, platform::SerialPort& port) {
  SetupSerialPort(device, block, port);
  SetXonXoffHandshake(block, true);
  ApplySerialState(block, port);
  if (platform::Status sent = port.TransmitCommChar(kCtrlZ); !sent.ok()) {
    block.SerialLastError = platform::Win32ErrorFromStatus(sent);
  }
  SerSendLine(device, "I3=2?");
  App().rings().ChangeStore(static_cast<std::uint32_t>(device), "I3=2");
  SerReportCommError(device, nullptr, nullptr);

  char reply[kHandshakeReplyMax + 1] = {};
  std::uint32_t n = 0;
  SerGetLine(device, reply, kHandshakeReplyMax, &n);
  if (reply[0] == 0) {
    platform::SleepMs(kHandshakeWaitMs);
    SerGetLine(device, reply, kHandshakeReplyMax, &n);
    if (reply[0] == 0) {
      platform::DebugOutput("Open handshake: the card does not answer\n");
      return false;
    }
  }

  SetXonXoffHandshake(block, false);
  ApplySerialState(block, port);
  // The handshake talks plain serial. A card that other processes run
  // checksummed is taken out of that mode for it (its answer comes framed
  // by the mode the command met) and put back at the end: the mode is the
  // card's, and an open leaves it as it was for everyone. The record follows
  // the card at each step, so that an opener killed in between (the device
  // lock left abandoned) leaves both telling the same mode: the card stays
  // plain then, and every process talks plain to it.
  const bool checksummed = ChecksumsOn(device);
  if (checksummed) {
    ChecksumSerialChannel().GetResponse(device, reply, kHandshakeReplyMax, kChecksumsOffLine);
    RecordChecksumMode(device, false);
  } else {
    SerGetResponse(device, reply, kHandshakeReplyMax, kChecksumsOffLine);
  }
  SerGetResponse(device, reply, kHandshakeReplyMax, "@0");
  if (std::strstr(reply, "@0") != nullptr) {
    SerGetControlResponse(device, reply, kHandshakeReplyMax, kCtrlT);
  }
  SerSendLine(device, kCriticalIVars);
  App().rings().ChangeStore(static_cast<std::uint32_t>(device), kCriticalIVars);
  platform::SleepMs(kHandshakeWaitMs);
  const std::uint32_t word = SerGetResponse(device, reply, kHandshakeReplyMax, "?");
  if (checksummed) {
    // Recorded first: an opener killed before the card took the line leaves
    // exchanges that fail and say so, never a plain reader storing the
    // card's sum bytes in its replies.
    RecordChecksumMode(device, true);
    char scratch[kHandshakeReplyMax + 1] = {};
    SerGetResponse(device, scratch, kHandshakeReplyMax, kChecksumsOnLine);
  }
  if (std::strstr(reply, "BOOTSTRAP") != nullptr) {
    block.BootstrapFlag = 1;
    return true;
  }
  const std::uint32_t count = word & kCountMask;
  if ((word & kErrorBits) != 0 || count < kStatusReplyMin || count > kStatusReplyMax) {
    platform::DebugPrintf("Open handshake: status reply 0x%08X is no card status\n", word);
    return false;
  }
  // A card that answers its status has left bootstrap mode: the next first
  // opener identifies it again.
  block.BootstrapFlag = 0;
  return true;
}

class SerialLocation final : public Transport {
 public:
  std::uint32_t location() const override { return kLocationSerial; }

  // The port is kept for the first device registered at the Location, so
  // that every device number that maps to it shares one.
  bool OpenLocation(int device, LocationHandle& handle) override {
    int owner_device = device;
    if (FindDeviceByLocation(handle.location, handle.enumeration, &owner_device) == 0) {
      owner_device = device;
    }
    const std::uint32_t error = SerOpen(owner_device, handle);
    if (error != 0) {
      App().set_last_open_error(error);
      return false;
    }
    handle.opener_device = owner_device;
    return true;
  }

  void CloseLocation(LocationHandle& handle) override { SerClose(handle.opener_device, handle); }

  bool PrepareDevice(int device, DeviceUserHandle& user, SharedDeviceBlock& block) override {
    SetupSerialPort(device, block, user.Transport->serial);
    return true;
  }

  bool Handshake(int device, DeviceUserHandle& user, SharedDeviceBlock& block) override {
    return SerialHandshake(device, block, user.Transport->serial);
  }

  // A serial card has no dual-ported RAM to set up.
  bool HasDprSetUp() const override { return false; }

  AsciiChannel* Channel(int device, const DeviceUserHandle&) override {
    return ChecksumsOn(device) ? &ChecksumSerialChannel() : &SerialChannel();
  }

  int SwitchChecksums(int device, int on) override { return SetSerialChecksums(device, on); }

  bool DprReachable(int) override { return false; }
  int TestDprAvailable(int, const SharedDeviceBlock&) override { return 0; }
  bool DprRead(int, std::uint32_t, std::uint32_t, void*) override { return false; }
  bool DprWrite(int, std::uint32_t, std::uint32_t, const void*) override { return false; }
  bool DprGetBits(int, std::uint32_t, std::uint16_t, std::uint16_t, std::uint32_t*) override {
    return false;
  }
  bool DprSetBits(int, std::uint32_t, std::uint16_t, std::uint16_t, std::uint32_t) override {
    return false;
  }
  bool DprGetBit(int, std::uint32_t, std::uint32_t, std::uint32_t*) override { return false; }
  bool DprSetBit(int, std::uint32_t, std::uint32_t, std::uint32_t) override { return false; }
};

}  // namespace

Transport& SerialTransport() {
  static SerialLocation* const transport = new SerialLocation();
  return *transport;
}

}  // namespace zimo::corvan
