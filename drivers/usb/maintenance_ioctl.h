// ZimoUSB's maintenance requests (device type 0x22): descriptors, pipes,
// raw vendor and class requests, USB controller memory loads, bulk and
// isochronous transfers and the isochronous stream, with the records they
// carry. Records are little-endian and packed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zimo::drivers::usb {

inline constexpr uint32_t IOCTL_ZIMOUSB_GET_PIPE_INFO = 0x222000;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_DEVICE_DESCRIPTOR = 0x222004;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_CONFIG_DESCRIPTOR = 0x222008;
inline constexpr uint32_t IOCTL_ZIMOUSB_VENDOR_REQUEST = 0x222014;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_CURRENT_CONFIG = 0x222018;
inline constexpr uint32_t IOCTL_ZIMOUSB_RAM_DOWNLOAD = 0x22201C;
inline constexpr uint32_t IOCTL_ZIMOUSB_RESET_PORT = 0x222031;
inline constexpr uint32_t IOCTL_ZIMOUSB_RESET_PIPE = 0x222035;
inline constexpr uint32_t IOCTL_ZIMOUSB_ABORT_PIPE = 0x22203D;
inline constexpr uint32_t IOCTL_ZIMOUSB_SET_INTERFACE = 0x222040;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_STRING_DESCRIPTOR = 0x222044;
inline constexpr uint32_t IOCTL_ZIMOUSB_BULK_READ = 0x22204E;
inline constexpr uint32_t IOCTL_ZIMOUSB_BULK_WRITE = 0x222051;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_FRAME_NUMBER = 0x222054;
inline constexpr uint32_t IOCTL_ZIMOUSB_CLASS_VENDOR_REQUEST = 0x222059;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_LAST_ERROR = 0x22205C;
inline constexpr uint32_t IOCTL_ZIMOUSB_ISO_READ = 0x222066;
inline constexpr uint32_t IOCTL_ZIMOUSB_ISO_WRITE = 0x222069;
inline constexpr uint32_t IOCTL_ZIMOUSB_RAM_WRITE = 0x22206D;
inline constexpr uint32_t IOCTL_ZIMOUSB_GET_DRIVER_VERSION = 0x222074;
inline constexpr uint32_t IOCTL_ZIMOUSB_START_ISO_STREAM = 0x222078;
inline constexpr uint32_t IOCTL_ZIMOUSB_STOP_ISO_STREAM = 0x22207C;
inline constexpr uint32_t IOCTL_ZIMOUSB_READ_ISO_BUFFER = 0x222082;
inline constexpr uint32_t IOCTL_ZIMOUSB_SET_FEATURE = 0x222084;

inline constexpr uint32_t kMaintenanceDeviceType = 0x22;
constexpr uint32_t DeviceTypeOf(uint32_t code) { return code >> 16; }

#pragma pack(push, 1)

// One vendor request on the default pipe (also the driver's own form of it).
struct VendorRequestRecord {
  uint8_t request;
  uint8_t reserved;
  uint16_t value;
  uint16_t index;
  uint16_t length;    // bytes to transfer
  uint8_t direction;  // 1 card to host, 0 host to card
  uint8_t byte;       // the data of a one-byte host-to-card request
};
static_assert(sizeof(VendorRequestRecord) == 10);

// Input of the isochronous codes.
struct IsoParameters {
  uint32_t pipe_index;
  uint32_t packet_size;
  uint32_t packet_count;
  uint32_t packets_per_request;
  uint32_t request_count;
};
static_assert(sizeof(IsoParameters) == 20);

// One packet's outcome, after the packets' data in the caller's buffer.
struct IsoPacketDescriptor {
  uint32_t offset;
  uint32_t length;
  uint32_t status;
};
static_assert(sizeof(IsoPacketDescriptor) == 12);

// Input of IOCTL_ZIMOUSB_CLASS_VENDOR_REQUEST.
struct ClassVendorRequest {
  uint8_t direction;  // 1 in
  uint8_t type;       // 1 class, 2 vendor
  uint8_t recipient;  // 0 device, 1 interface, 2 endpoint, 3 other
  uint8_t reserved1;
  uint8_t request;
  uint8_t reserved2;
  uint16_t value;
  uint16_t index;
};
static_assert(sizeof(ClassVendorRequest) == 10);

// Output of IOCTL_ZIMOUSB_GET_PIPE_INFO: the interface, then its pipes;
// `length` counts both.
struct InterfaceRecord {
  uint16_t length;
  uint8_t interface_number;
  uint8_t alternate_setting;
  uint8_t interface_class;
  uint8_t interface_subclass;
  uint8_t interface_protocol;
  uint8_t pipe_count;
  uint64_t interface_handle;
};
static_assert(sizeof(InterfaceRecord) == 16);
struct PipeRecord {
  uint8_t endpoint_address;
  uint8_t pipe_type;  // 0 control, 1 isochronous, 2 bulk, 3 interrupt
  uint16_t max_packet_size;
  uint32_t max_transfer_size;
  uint64_t pipe_handle;
  uint8_t interval;
  uint8_t reserved[7];
};
static_assert(sizeof(PipeRecord) == 24);

// Output of IOCTL_ZIMOUSB_GET_DRIVER_VERSION.
struct DriverVersion {
  uint16_t major;
  uint16_t minor;
  uint16_t build;
};
static_assert(sizeof(DriverVersion) == 6);

#pragma pack(pop)

}  // namespace zimo::drivers::usb
