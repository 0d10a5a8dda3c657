// The card drivers' I/O-control interface: device names, request codes and
// the records that travel in the request buffers. Shared by the drivers and
// by the library, so it depends on nothing but the standard library.
//
// Every code is CTL_CODE(device type 0x1D, function, method, any access).
// Records are little-endian and packed exactly as the drivers read them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zimo::drivers {

inline constexpr uint32_t kZimoDeviceType = 0x1D;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kMethodInDirect = 1;
inline constexpr uint32_t kMethodOutDirect = 2;
inline constexpr uint32_t kMethodNeither = 3;

constexpr uint32_t ZimoCtlCode(uint32_t function, uint32_t method) {
  return kZimoDeviceType << 16 | 0u << 14 | function << 2 | method;
}
constexpr uint32_t IoctlMethod(uint32_t code) { return code & 3u; }
constexpr uint32_t IoctlFunction(uint32_t code) { return (code >> 2) & 0xFFFu; }

// Interrupts and events.
inline constexpr uint32_t IOCTL_ZIMO_INTR_ENABLE = 0x1D0838;
inline constexpr uint32_t IOCTL_ZIMO_INTR_DISABLE = 0x1D083C;
inline constexpr uint32_t IOCTL_ZIMO_SET_USER_EVENT = 0x1D0854;
inline constexpr uint32_t IOCTL_ZIMO_SET_INTR_MASK = 0x1D0858;
inline constexpr uint32_t IOCTL_ZIMO_SET_INTR_EVENTS = 0x1D085C;
inline constexpr uint32_t IOCTL_ZIMO_ADD_EVENT = 0x1D0860;
inline constexpr uint32_t IOCTL_ZIMO_REMOVE_EVENT = 0x1D0864;

// Bus (port) ASCII channel.
inline constexpr uint32_t IOCTL_ZIMO_BUS_FLUSH = 0x1D0880;
inline constexpr uint32_t IOCTL_ZIMO_BUS_READ_READY = 0x1D0884;
inline constexpr uint32_t IOCTL_ZIMO_BUS_GET_LINE = 0x1D0888;
inline constexpr uint32_t IOCTL_ZIMO_BUS_SEND_LINE = 0x1D088C;
inline constexpr uint32_t IOCTL_ZIMO_BUS_SEND_CHAR = 0x1D0890;
inline constexpr uint32_t IOCTL_ZIMO_BUS_GET_ERROR = 0x1D0894;
inline constexpr uint32_t IOCTL_ZIMO_PORT_WRITE = 0x1D0898;
inline constexpr uint32_t IOCTL_ZIMO_PORT_READ = 0x1D089C;
inline constexpr uint32_t IOCTL_ZIMO_BUS_CONTROL_RESPONSE = 0x1D08A0;
inline constexpr uint32_t IOCTL_ZIMO_BUS_GET_BUFFER = 0x1D08B8;
inline constexpr uint32_t IOCTL_ZIMO_BUS_GET_LINE_EX = 0x1D08BC;

// DPR mailbox ASCII channel.
inline constexpr uint32_t IOCTL_ZIMO_DPR_FLUSH = 0x1D08C0;
inline constexpr uint32_t IOCTL_ZIMO_DPR_READ_READY = 0x1D08C4;
inline constexpr uint32_t IOCTL_ZIMO_DPR_GET_LINE = 0x1D08C8;
inline constexpr uint32_t IOCTL_ZIMO_DPR_SEND_LINE = 0x1D08CC;
inline constexpr uint32_t IOCTL_ZIMO_DPR_SEND_CHAR = 0x1D08D0;
inline constexpr uint32_t IOCTL_ZIMO_DPR_SEND_CONTROL = 0x1D08D4;
inline constexpr uint32_t IOCTL_ZIMO_DPR_GET_ERROR = 0x1D08D8;
inline constexpr uint32_t IOCTL_ZIMO_DPR_CONTROL_RESPONSE = 0x1D08E4;

// DPR memory.
inline constexpr uint32_t IOCTL_ZIMO_DPR_READ = 0x1D0900;
inline constexpr uint32_t IOCTL_ZIMO_DPR_WRITE = 0x1D0904;
inline constexpr uint32_t IOCTL_ZIMO_DPR_MAILBOX_STATUS = 0x1D0908;
inline constexpr uint32_t IOCTL_ZIMO_DPR_GET_BITS = 0x1D090C;
inline constexpr uint32_t IOCTL_ZIMO_DPR_SET_BITS = 0x1D0910;
inline constexpr uint32_t IOCTL_ZIMO_DPR_GET_BIT = 0x1D0914;
inline constexpr uint32_t IOCTL_ZIMO_DPR_SET_BIT = 0x1D0918;
inline constexpr uint32_t IOCTL_ZIMO_DPR_AVAILABLE = 0x1D0924;
inline constexpr uint32_t IOCTL_ZIMO_DPR_TEST = 0x1D0928;
inline constexpr uint32_t IOCTL_ZIMO_DPR_WRITE_WORD = 0x1D092C;
inline constexpr uint32_t IOCTL_ZIMO_DPR_READ_WORD = 0x1D0930;

// Card identification.
inline constexpr uint32_t IOCTL_ZIMO_GET_VERSION = 0x1D0940;
inline constexpr uint32_t IOCTL_ZIMO_GET_DATE = 0x1D0944;
inline constexpr uint32_t IOCTL_ZIMO_GET_LINK_LIST = 0x1D0948;
inline constexpr uint32_t IOCTL_ZIMO_GET_POS_SCALES = 0x1D094C;
inline constexpr uint32_t IOCTL_ZIMO_GET_VEL_SCALES = 0x1D0950;
inline constexpr uint32_t IOCTL_ZIMO_GET_CARD_TYPE = 0x1D0954;
inline constexpr uint32_t IOCTL_ZIMO_GET_I10 = 0x1D0958;

// Device housekeeping and USB-only transfers.
inline constexpr uint32_t IOCTL_ZIMO_GET_RESOURCES = 0x1D096C;
inline constexpr uint32_t IOCTL_ZIMO_CLEAR_PORT_REGS = 0x1D0970;
inline constexpr uint32_t IOCTL_ZIMO_RESET_CARD = 0x1D0964;
inline constexpr uint32_t IOCTL_ZIMO_GET_RESPONSE_BLOCK = 0x1D08A4;
inline constexpr uint32_t IOCTL_ZIMO_SEND_BLOCK = 0x1D08A8;
inline constexpr uint32_t IOCTL_ZIMO_DOWNLOAD_BLOCK = 0x1D08AC;
inline constexpr uint32_t IOCTL_ZIMO_DOWNLOAD_STATUS = 0x1D08B0;
inline constexpr uint32_t IOCTL_ZIMO_VALUE_BLOCK = 0x1D08B4;
inline constexpr uint32_t IOCTL_ZIMO_ROT_PUT = 0x1D0934;
inline constexpr uint32_t IOCTL_ZIMO_ROT_STATUS = 0x1D0938;
inline constexpr uint32_t IOCTL_ZIMO_ROT_INIT = 0x1D093C;
inline constexpr uint32_t IOCTL_ZIMO_VENDOR_REQUEST = 0x1D0974;
inline constexpr uint32_t IOCTL_ZIMO_HOSTROT_REQ_E9 = 0x1D09C0;
inline constexpr uint32_t IOCTL_ZIMO_HOSTROT_PUT = 0x1D09C5;
inline constexpr uint32_t IOCTL_ZIMO_HOSTROT_REQ_E8 = 0x1D09C8;
inline constexpr uint32_t IOCTL_ZIMO_HOSTROT_REQ_E7 = 0x1D09CC;
inline constexpr uint32_t IOCTL_ZIMO_HOSTROT_INIT = 0x1D09D0;

// Codes that succeed without effect.
inline constexpr uint32_t IOCTL_ZIMO_RESERVED_8DC = 0x1D08DC;
inline constexpr uint32_t IOCTL_ZIMO_RESERVED_8E0 = 0x1D08E0;

static_assert(IOCTL_ZIMO_INTR_ENABLE == ZimoCtlCode(0x20E, kMethodBuffered));
static_assert(IOCTL_ZIMO_HOSTROT_PUT == ZimoCtlCode(0x271, kMethodInDirect));
static_assert(IOCTL_ZIMO_CLEAR_PORT_REGS == ZimoCtlCode(0x25C, kMethodBuffered));

// Line status words: the top four bits of a line result and of the record's
// status; the low 28 bits of a line result carry the count.
inline constexpr uint32_t kLineCr = 0x00000000;        // a CR-ended line; more may follow
inline constexpr uint32_t kLineMore = 0x10000000;      // mailbox: more posted
inline constexpr uint32_t kLineEnd = 0x80000000;       // the response has ended
inline constexpr uint32_t kLineTimeout = 0xC0000000;   // nothing (more) arrived
inline constexpr uint32_t kLineError = 0xE0000000;     // the card answered an error
inline constexpr uint32_t kLineCut = 0xF0000000;       // cut at the requested length
inline constexpr uint32_t kLineStatusMask = 0xF0000000;
inline constexpr uint32_t kLineCountMask = 0x0FFFFFFF;

// Last-error values of the channels besides the card's own error numbers.
inline constexpr uint32_t kErrorPortTimeout = 1006;
inline constexpr uint32_t kErrorMailboxTimeout = 1007;
inline constexpr uint32_t kErrorNoDigits = 3;

// I10 when the card does not tell.
inline constexpr uint32_t kDefaultI10 = 3713707;

#pragma pack(push, 1)

// Shared in/out buffer for the get-line and control-response codes; 268 bytes.
struct LineIoBlock {
  char text[256];      // in: control character in byte 0; out: the text, NUL-terminated
  uint32_t status;     // out: top four bits
  uint32_t count;      // out: characters stored in text
  uint32_t requested;  // in: longest text accepted, its NUL counted (capped at 256)
};
static_assert(sizeof(LineIoBlock) == 268);
static_assert(offsetof(LineIoBlock, status) == 256);
static_assert(offsetof(LineIoBlock, count) == 260);
static_assert(offsetof(LineIoBlock, requested) == 264);
using ZimoLineRecord = LineIoBlock;

// Input and output of the four bit codes (16 bytes). The single-bit codes
// read the bit number as a u32 over `first_bit` and `width`.
struct ZimoDprBitsRecord {
  uint32_t value;
  uint32_t offset;
  uint16_t first_bit;
  uint16_t width;
  uint32_t done;
};
static_assert(sizeof(ZimoDprBitsRecord) == 16);
static_assert(offsetof(ZimoDprBitsRecord, offset) == 4);
static_assert(offsetof(ZimoDprBitsRecord, first_bit) == 8);
static_assert(offsetof(ZimoDprBitsRecord, width) == 10);
static_assert(offsetof(ZimoDprBitsRecord, done) == 12);

// Output of IOCTL_ZIMO_GET_RESOURCES on a PCI device (24 bytes).
struct ZimoResourceInfo {
  uint64_t port_base;
  uint32_t interrupt_vector;
  uint32_t reserved;
  uint32_t dpr_length;
  uint32_t padding;
};
static_assert(sizeof(ZimoResourceInfo) == 24);
static_assert(offsetof(ZimoResourceInfo, dpr_length) == 16);

// Output of IOCTL_ZIMO_GET_RESOURCES on an ISA device (16 bytes), as the
// library's device selection asks for it.
struct ZimoIsaResourceInfo {
  uint32_t port_base;
  uint32_t interrupt;
  uint32_t dpr_address;  // physical address of the DPR window, 0 = none
  uint32_t reserved;
};
static_assert(sizeof(ZimoIsaResourceInfo) == 16);

// IOCTL_ZIMO_SET_INTR_EVENTS payload: one event handle per interrupt source,
// indexed by the source's bit number (0..7); the ninth slot is unused. The
// 72-byte form carries 8-byte handles, the 36-byte form 4-byte ones.
inline constexpr size_t kIntrEventSlots = 9;
struct ZimoIntrEventSet {
  uint64_t handles[kIntrEventSlots];
};
static_assert(sizeof(ZimoIntrEventSet) == 72);
struct ZimoIntrEventSet32 {
  uint32_t handles[kIntrEventSlots];
};
static_assert(sizeof(ZimoIntrEventSet32) == 36);

// Output of IOCTL_ZIMO_GET_LINK_LIST (272 bytes).
inline constexpr size_t kLinkListEntries = 68;
struct ZimoLinkList {
  uint32_t entries[kLinkListEntries];
};
static_assert(sizeof(ZimoLinkList) == 272);

#pragma pack(pop)

// Sizes of the position and velocity scale tables (32 u32 values).
inline constexpr size_t kScaleTableBytes = 128;
// Version and date replies.
inline constexpr size_t kVersionBytes = 100;

}  // namespace zimo::drivers
