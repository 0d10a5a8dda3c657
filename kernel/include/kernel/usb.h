// USB for function drivers: the standard descriptors a device reports, the
// interface and pipe information of a selected configuration, the request
// blocks (URBs) a driver hands to the USB bus in an internal device-control
// request, and the helpers that find an interface in a configuration and
// build the request that selects it.
//
// Descriptors are the byte layouts every USB device reports (little-endian).
// URBs are records of this kernel: one per request, its function deciding
// which fields count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zimo::kernel::usb {

// Internal device-control codes the USB bus serves (argument1: the URB).
inline constexpr uint32_t kIoctlInternalSubmitUrb = 0x220003;
inline constexpr uint32_t kIoctlInternalResetPort = 0x220007;

// ---- Descriptors and standard requests ----------------------------------------

inline constexpr uint8_t kDescriptorDevice = 1;
inline constexpr uint8_t kDescriptorConfiguration = 2;
inline constexpr uint8_t kDescriptorString = 3;
inline constexpr uint8_t kDescriptorInterface = 4;
inline constexpr uint8_t kDescriptorEndpoint = 5;

// bmRequestType: direction, type and recipient.
inline constexpr uint8_t kRequestIn = 0x80;
inline constexpr uint8_t kRequestStandard = 0x00;
inline constexpr uint8_t kRequestClass = 0x20;
inline constexpr uint8_t kRequestVendor = 0x40;
inline constexpr uint8_t kRecipientDevice = 0;
inline constexpr uint8_t kRecipientInterface = 1;
inline constexpr uint8_t kRecipientEndpoint = 2;
inline constexpr uint8_t kRecipientOther = 3;

// Standard request codes and the one feature the bus uses.
inline constexpr uint8_t kClearFeature = 1;
inline constexpr uint8_t kSetFeature = 3;
inline constexpr uint8_t kGetDescriptor = 6;
inline constexpr uint8_t kSetConfiguration = 9;
inline constexpr uint8_t kSetInterface = 11;
inline constexpr uint16_t kFeatureEndpointHalt = 0;

inline constexpr uint8_t kEndpointIn = 0x80;  // bit 7 of an endpoint address

#pragma pack(push, 1)
struct DeviceDescriptor {
  uint8_t length;
  uint8_t descriptor_type;
  uint16_t usb_version;
  uint8_t device_class;
  uint8_t device_subclass;
  uint8_t device_protocol;
  uint8_t max_packet_size0;
  uint16_t vendor_id;
  uint16_t product_id;
  uint16_t device_release;
  uint8_t manufacturer_string;
  uint8_t product_string;
  uint8_t serial_string;
  uint8_t configuration_count;
};
static_assert(sizeof(DeviceDescriptor) == 18);

struct ConfigurationDescriptor {
  uint8_t length;
  uint8_t descriptor_type;
  uint16_t total_length;  // this descriptor and every one that belongs to it
  uint8_t interface_count;
  uint8_t configuration_value;
  uint8_t configuration_string;
  uint8_t attributes;
  uint8_t max_power;
};
static_assert(sizeof(ConfigurationDescriptor) == 9);

struct InterfaceDescriptor {
  uint8_t length;
  uint8_t descriptor_type;
  uint8_t interface_number;
  uint8_t alternate_setting;
  uint8_t endpoint_count;
  uint8_t interface_class;
  uint8_t interface_subclass;
  uint8_t interface_protocol;
  uint8_t interface_string;
};
static_assert(sizeof(InterfaceDescriptor) == 9);

struct EndpointDescriptor {
  uint8_t length;
  uint8_t descriptor_type;
  uint8_t endpoint_address;
  uint8_t attributes;  // bits 0-1: the transfer type (PipeType)
  uint16_t max_packet_size;
  uint8_t interval;
};
static_assert(sizeof(EndpointDescriptor) == 7);
#pragma pack(pop)

// ---- Interfaces and pipes --------------------------------------------------------

enum class PipeType : uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

using PipeHandle = uint64_t;           // 0: no pipe
using ConfigurationHandle = uint64_t;  // 0: not configured
using InterfaceHandle = uint64_t;

inline constexpr uint32_t kDefaultMaxTransferSize = 4096;

struct PipeInfo {
  uint8_t endpoint_address = 0;
  PipeType type = PipeType::kBulk;
  uint16_t max_packet_size = 0;
  uint8_t interval = 0;
  uint32_t max_transfer_size = kDefaultMaxTransferSize;  // the driver's choice, before selection
  PipeHandle handle = 0;                                 // the bus's, after selection
};

struct InterfaceInfo {
  uint8_t interface_number = 0;
  uint8_t alternate_setting = 0;
  uint8_t interface_class = 0;
  uint8_t interface_subclass = 0;
  uint8_t interface_protocol = 0;
  InterfaceHandle handle = 0;
  std::vector<PipeInfo> pipes;
};

// ---- Request blocks ----------------------------------------------------------------

// URB functions.
inline constexpr uint16_t kFunctionSelectConfiguration = 0x0000;
inline constexpr uint16_t kFunctionSelectInterface = 0x0001;
inline constexpr uint16_t kFunctionAbortPipe = 0x0002;
inline constexpr uint16_t kFunctionGetCurrentFrameNumber = 0x0007;
inline constexpr uint16_t kFunctionBulkOrInterruptTransfer = 0x0009;
inline constexpr uint16_t kFunctionIsochTransfer = 0x000A;
inline constexpr uint16_t kFunctionGetDescriptorFromDevice = 0x000B;
inline constexpr uint16_t kFunctionSetFeatureToDevice = 0x000D;
inline constexpr uint16_t kFunctionVendorDevice = 0x0017;
inline constexpr uint16_t kFunctionVendorInterface = 0x0018;
inline constexpr uint16_t kFunctionVendorEndpoint = 0x0019;
inline constexpr uint16_t kFunctionClassDevice = 0x001A;
inline constexpr uint16_t kFunctionClassInterface = 0x001B;
inline constexpr uint16_t kFunctionClassEndpoint = 0x001C;
inline constexpr uint16_t kFunctionResetPipe = 0x001E;
inline constexpr uint16_t kFunctionClassOther = 0x001F;
inline constexpr uint16_t kFunctionVendorOther = 0x0020;

// The size a pipe request (abort, reset) declares; stacks of an interface
// version below 0x101 take it 4 bytes shorter.
inline constexpr uint16_t kPipeRequestLength = 32;

// Transfer flags.
inline constexpr uint32_t kTransferDirectionIn = 0x1;
inline constexpr uint32_t kTransferShortOk = 0x2;
inline constexpr uint32_t kTransferStartIsoAsap = 0x4;

// Request outcomes: negative values are failures.
using UsbdStatus = int32_t;
constexpr UsbdStatus MakeUsbdStatus(uint32_t value) { return static_cast<UsbdStatus>(value); }
inline constexpr UsbdStatus kUsbdSuccess = 0;
inline constexpr UsbdStatus kUsbdPending = 0x40000000;
inline constexpr UsbdStatus kUsbdStall = MakeUsbdStatus(0xC0000004);
inline constexpr UsbdStatus kUsbdNotResponding = MakeUsbdStatus(0xC0000005);
inline constexpr UsbdStatus kUsbdDataOverrun = MakeUsbdStatus(0xC0000008);
inline constexpr UsbdStatus kUsbdEndpointHalted = MakeUsbdStatus(0xC0000030);
inline constexpr UsbdStatus kUsbdShortTransfer = MakeUsbdStatus(0x80000900);
inline constexpr UsbdStatus kUsbdInvalidUrbFunction = MakeUsbdStatus(0x80000200);
inline constexpr UsbdStatus kUsbdInvalidParameter = MakeUsbdStatus(0x80000300);
inline constexpr UsbdStatus kUsbdInvalidPipeHandle = MakeUsbdStatus(0x80000600);
inline constexpr UsbdStatus kUsbdCanceled = MakeUsbdStatus(0xC0010000);
constexpr bool UsbdSuccess(UsbdStatus status) { return status >= 0; }

struct IsoPacket {
  uint32_t offset = 0;  // in the transfer buffer
  uint32_t length = 0;  // out: bytes moved
  UsbdStatus status = kUsbdSuccess;
};

struct Urb {
  uint16_t function = 0;
  uint16_t length = 0;  // pipe requests: kPipeRequestLength (or 4 less)
  UsbdStatus status = kUsbdSuccess;

  // Select configuration (an empty descriptor unconfigures) and interface.
  std::vector<uint8_t> configuration;
  ConfigurationHandle configuration_handle = 0;
  std::vector<InterfaceInfo> interfaces;

  // Pipe requests and transfers.
  PipeHandle pipe = 0;
  uint32_t transfer_flags = 0;
  std::span<uint8_t> buffer;     // the transfer buffer
  uint32_t transfer_length = 0;  // in: bytes to move (at most the buffer); out: bytes moved

  // Control requests: descriptors (value = type << 8 | index, index =
  // language), features, class and vendor requests.
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;

  // Isochronous transfers and the frame number.
  uint32_t start_frame = 0;
  std::vector<IsoPacket> packets;
  uint32_t frame_number = 0;
};

// ---- Building requests -------------------------------------------------------------

void BuildGetDescriptorRequest(Urb* urb, uint8_t type, uint8_t index, uint16_t language,
                               std::span<uint8_t> buffer);
// function: one of the class or vendor functions; direction_in decides the
// transfer direction. The data stage is the first `length` bytes of `buffer`.
void BuildVendorRequest(Urb* urb, uint16_t function, bool direction_in, uint8_t request,
                        uint16_t value, uint16_t index, std::span<uint8_t> buffer, uint32_t length);
void BuildBulkOrInterruptTransfer(Urb* urb, PipeHandle pipe, bool direction_in,
                                  std::span<uint8_t> buffer, uint32_t length);
void BuildPipeRequest(Urb* urb, uint16_t function, PipeHandle pipe, uint16_t length);
void BuildSetFeatureRequest(Urb* urb, uint16_t feature, uint16_t index);
void BuildFrameNumberRequest(Urb* urb);
void BuildSelectInterfaceRequest(Urb* urb, ConfigurationHandle configuration,
                                 InterfaceInfo interface);

// The interface descriptor of the configuration whose number and alternate
// setting match (-1 matches any): its byte offset, or nothing.
std::optional<size_t> ParseConfigurationDescriptor(std::span<const uint8_t> configuration,
                                                   int interface_number, int alternate_setting);
// A select-configuration request for the interfaces at these offsets, each
// with its pipes as the endpoint descriptors after it give them. Nothing
// when the descriptor is malformed.
std::optional<Urb> CreateConfigurationRequest(std::span<const uint8_t> configuration,
                                              std::span<const size_t> interface_offsets);
// The interface and its pipes as described at `offset` (nothing when malformed).
std::optional<InterfaceInfo> InterfaceAt(std::span<const uint8_t> configuration, size_t offset);

// The USB driver interface version of this kernel's bus (major << 8 | minor).
uint32_t GetUsbdiVersion();

}  // namespace zimo::kernel::usb
