// The card's USB port: the device a host controller sees on the bus. It
// reports its descriptors, takes the standard requests, and answers the
// vendor requests of the card's USB firmware from the same interpreter and
// DPR as every other port: command text in, reply lines and blocks out, DPR
// blocks, bits and bit fields, emulated port registers, gathering, program
// download blocks and their status, the binary rotary buffers, firmware
// blocks, the host-side rotary packets (bulk pipe 2) and an isochronous
// data stream.
//
// Interface 0 (alternate setting 0) has four endpoints, in this order (the
// host's pipe indexes 0 to 3):
//   0x81 bulk IN    64  the card's byte-stream output (as its serial port sends it)
//   0x01 bulk OUT   64  bytes into the card's byte stream (lines, control characters)
//   0x02 bulk OUT   64  host-side binary rotary packets
//   0x83 iso IN    256  the data stream: each packet starts with its frame
//                       number (u32, little-endian), then bytes (frame + i) & 0xFF
//
// The 7 identification bytes (vendor request 0xB9) are one row of the
// identification table (UsbIdentityRow); rows 0 to 2 are the older USB
// firmware, which keeps a ready word in the DPR mailbox status word
// instead of answering ready requests. cardsim/README.md lists the table.
//
// Tests script faults per vendor request code: short, oversized, stalled
// or unanswered answers, and a card that is unplugged (nothing answers).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cardsim/attach_requests.h"
#include "cardsim/card.h"

namespace zimo::cardsim {

namespace usb_request {
// bmRequestType
inline constexpr uint8_t kIn = 0x80;
inline constexpr uint8_t kTypeMask = 0x60;
inline constexpr uint8_t kStandard = 0x00;
inline constexpr uint8_t kVendor = 0x40;
inline constexpr uint8_t kRecipientMask = 0x1F;

// Standard requests the card takes.
inline constexpr uint8_t kClearFeature = 1;
inline constexpr uint8_t kSetFeature = 3;
inline constexpr uint8_t kGetDescriptor = 6;
inline constexpr uint8_t kGetConfiguration = 8;
inline constexpr uint8_t kSetConfiguration = 9;
inline constexpr uint8_t kSetInterface = 11;

// Vendor requests of the card's USB firmware.
inline constexpr uint8_t kLoadController = 0xA0;
inline constexpr uint8_t kSendLine = 0xB0;
inline constexpr uint8_t kReadLine = 0xB1;
inline constexpr uint8_t kFlush = 0xB3;
inline constexpr uint8_t kReadDpr = 0xB4;
inline constexpr uint8_t kWriteDpr = 0xB5;
inline constexpr uint8_t kSendChar = 0xB6;
inline constexpr uint8_t kGather = 0xB7;
inline constexpr uint8_t kReset = 0xB8;
inline constexpr uint8_t kIdentify = 0xB9;
inline constexpr uint8_t kSetDprBit = 0xBA;
inline constexpr uint8_t kSetDprBits = 0xBB;
inline constexpr uint8_t kPortRegister = 0xBE;
inline constexpr uint8_t kReadyWord = 0xC2;
inline constexpr uint8_t kControlResponse = 0xC4;
inline constexpr uint8_t kReadBlock = 0xC5;
inline constexpr uint8_t kDownloadBlock = 0xC6;
inline constexpr uint8_t kDownloadStatus = 0xC7;
inline constexpr uint8_t kRotaryPut = 0xC8;
inline constexpr uint8_t kRotaryStatus = 0xC9;
inline constexpr uint8_t kRotaryInit = 0xCA;
inline constexpr uint8_t kFirmwareBlock = 0xCB;
inline constexpr uint8_t kSendBlock = 0xCF;
inline constexpr uint8_t kReadBack = 0xD5;
inline constexpr uint8_t kHostRotaryReady = 0xE2;
inline constexpr uint8_t kHostRotaryE7 = 0xE7;
inline constexpr uint8_t kHostRotaryReset = 0xE8;
inline constexpr uint8_t kHostRotaryE9 = 0xE9;

// Sizes.
inline constexpr size_t kIdentificationBytes = 7;
inline constexpr size_t kReadBackBytes = 48;
inline constexpr size_t kControllerMemory = 16384;  // the USB controller's loadable RAM
}  // namespace usb_request

struct UsbSetup {
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};

enum class UsbHandshake { kAck, kStall, kNoResponse };

struct UsbAnswer {
  UsbHandshake handshake = UsbHandshake::kAck;
  std::string data;                    // IN: what the card sends
  std::chrono::microseconds delay{0};  // the card answers only after this long
};

// One row of the identification table: a header byte, then vendor id,
// product id and release, each 16-bit little-endian.
struct UsbIdentity {
  uint8_t header = 0;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t release = 0;
  std::array<uint8_t, usb_request::kIdentificationBytes> Bytes() const;
};
inline constexpr int kUsbIdentityRows = 13;
// Row 0..12 (rows outside give row 4).
UsbIdentity UsbIdentityRow(int row);
// What a row means to the card's firmware.
bool UsbRowIsOlderFirmware(int row);  // rows 0, 1, 2
bool UsbRowIsSmallLayout(int row);    // rows 0, 3, 5, 8, 11: mailbox status word 0x06D0

enum class UsbFault {
  kShort,       // the answer is cut to `bytes` (text reads keep the rest for later)
  kOversized,   // the answer gets `bytes` more bytes than the host asked for
  kStall,       // the card refuses the request
  kNoResponse,  // nothing answers
};

struct UsbOptions {
  // The identification row; -1: row 3 for an older-layout card, row 4 for SPRAN.
  int identity_row = -1;
};

class UsbAttachment {
 public:
  static constexpr uint8_t kBulkIn = 0x81;
  static constexpr uint8_t kBulkOut = 0x01;
  static constexpr uint8_t kRotaryOut = 0x02;
  static constexpr uint8_t kIsoIn = 0x83;
  static constexpr uint16_t kBulkMaxPacket = 64;
  static constexpr uint16_t kIsoMaxPacket = 256;

  explicit UsbAttachment(Card& card, UsbOptions options = {});
  UsbAttachment(const UsbAttachment&) = delete;
  UsbAttachment& operator=(const UsbAttachment&) = delete;

  // ---- The bus side ------------------------------------------------------------
  // A control transfer; `out` is an OUT request's data stage.
  UsbAnswer Control(const UsbSetup& setup, std::string_view out);
  // A bulk transfer on one of the bulk endpoints.
  UsbAnswer Transfer(uint8_t endpoint, std::string_view out, size_t in_length);
  // One isochronous packet of up to `in_length` bytes in `frame`.
  UsbAnswer IsoPacket(uint8_t endpoint, uint32_t frame, std::string_view out, size_t in_length);
  // A port reset: unconfigured, halts cleared.
  void PortReset();

  std::string DeviceDescriptor() const;
  std::string ConfigurationDescriptor() const;
  int identity_row() const { return row_; }
  bool older_firmware() const;
  // DPR offset of the mailbox status word of the card's layout.
  uint16_t status_word_offset() const;

  // ---- Scripting -----------------------------------------------------------------
  // The next `count` vendor requests with this code (-1: every one until
  // ClearFaults) get the fault. Scripted faults queue in order.
  void ScriptFault(uint8_t request, UsbFault fault, size_t bytes = 0, int count = 1);
  void ClearFaults();
  // Unplugged: nothing answers any request.
  void SetDetached(bool detached);
  // The host rotary ready byte (0xE2); ready at start.
  void SetHostRotaryReady(bool ready);

  // ---- What the card received ------------------------------------------------------
  struct Logged {
    UsbSetup setup;
    size_t data_bytes = 0;  // the OUT data stage's length
  };
  // Vendor requests, oldest first (the latest 10000).
  std::vector<Logged> vendor_requests() const;
  void ClearLog();
  int resets() const;         // 0xB8 requests taken
  int configuration() const;  // the configuration value set (0: none)
  std::string controller_memory(size_t at, size_t length) const;
  std::string host_rotary_data() const;  // bytes of the host rotary packets since 0xE8
  bool gathering() const;                // the last 0xB7's on flag
  uint16_t gather_value() const;         // and its value

 private:
  using Clock = std::chrono::steady_clock;
  struct Fault {
    UsbFault fault;
    size_t bytes;
    int count;
  };

  UsbAnswer Standard(const UsbSetup& setup, std::string_view out);
  UsbAnswer Vendor(const UsbSetup& setup, std::string_view out);
  void TakeText(std::string_view text);
  // Pending text: one line (through CR, a following LF, and the ACK that
  // ends the reply) or a block.
  std::string NextLine(size_t max);
  std::string NextBlock(size_t max);
  void UpdateStatusWord();
  std::string StringDescriptor(uint8_t index) const;

  Card& card_;
  RequestServer rotary_;  // the rotary buffers' side, shared with the network port
  const int row_;

  mutable std::mutex mu_;
  bool detached_ = false;
  int configuration_ = 0;
  TextPort text_{card_, 4096};  // the host's lines and the reply text
  std::string bulk_output_;
  std::string host_rotary_;
  bool host_rotary_ready_ = true;
  uint8_t registers_[17] = {};
  uint32_t download_status_ = 0;
  uint32_t rotary_status_ = 0;
  bool gathering_ = false;
  uint16_t gather_value_ = 0;
  int resets_ = 0;
  std::vector<uint8_t> controller_memory_;
  std::map<uint8_t, std::deque<Fault>> faults_;
  std::deque<Logged> log_;
};

}  // namespace zimo::cardsim
