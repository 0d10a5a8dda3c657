// ZimoUSB's state: what it keeps per driver and per device (the device
// extension), and the operations its source files share.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drivers/zimo_ioctl.h"
#include "kernel/kernel.h"
#include "kernel/remove_lock.h"
#include "kernel/usb.h"
#include "usb/iso_ring.h"
#include "usb/maintenance_ioctl.h"

namespace zimo::drivers::usb {

using kernel::NTSTATUS;

inline constexpr int kMaxDevices = 8;
inline constexpr int kMaxEvents = 20;
inline constexpr size_t kResponseBufferBytes = 16640;
inline constexpr uint32_t kResponseUsed = 16384;
inline constexpr uint32_t kBlockBytes = 4096;  // one read-ahead block, one DPR piece
inline constexpr uint32_t kDprSize = 0x10000;
inline constexpr uint32_t kInstallErrorRemoved = 1011;
inline constexpr uint32_t kMaxTransferSize = 0xFFFF;

// Vendor request codes of the card's USB firmware.
namespace vendor {
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
inline constexpr uint8_t kValueBlock = 0xCB;
inline constexpr uint8_t kSendBlock = 0xCF;
inline constexpr uint8_t kReadBack = 0xD5;
inline constexpr uint8_t kHostRotaryReady = 0xE2;
inline constexpr uint8_t kHostRotaryE7 = 0xE7;
inline constexpr uint8_t kHostRotaryE8 = 0xE8;
inline constexpr uint8_t kHostRotaryE9 = 0xE9;
inline constexpr uint16_t kFlushValue = 20;
inline constexpr uint16_t kControlResponseValue = 1024;
inline constexpr uint16_t kReadBackBytes = 48;
}  // namespace vendor

// One row of the identification table: the card models' 7 identification
// bytes (header, vendor id, product id, release; little-endian words).
using IdentificationRow = std::array<uint8_t, 7>;
inline constexpr int kIdentificationRows = 13;
const IdentificationRow& IdentificationTableRow(int row);

struct DriverState {
  std::string service_key;  // copy of the service's registry key name
};

// A running isochronous stream: its rings, and the requests in flight.
struct IsoStream {
  IsoStream(size_t data_bytes, size_t descriptor_bytes)
      : data(data_bytes), descriptors(descriptor_bytes) {}
  IsoRing data;
  IsoRing descriptors;
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable idle;
  int active = 0;  // requests in flight (under mu)
};

// The card command layer's state.
struct CardLayer {
  bool newer = true;                     // the generation flag
  uint16_t status_word_offset = 0x0F40;  // older cards' ready word
  uint32_t motors = 32;
  uint32_t card_type = 0;
  uint32_t dpr_size = kDprSize;
  std::vector<char> response;  // the read-ahead buffer (kResponseBufferBytes)
  uint32_t fill = 0;
  uint32_t position = 0;
  bool more_lines = false;
};

struct DeviceExtension {
  // Stack.
  kernel::DeviceObject* device = nullptr;
  kernel::DeviceObject* physical_device = nullptr;
  kernel::DeviceObject* lower_device = nullptr;
  int device_number = 0;

  // Names.
  std::string device_name;                // "\Device\Zimo0"
  std::array<std::string, 2> link_names;  // "\DosDevices\Zimo0", "\DosDevices\Zimousb0"
  std::string registry_path;              // the device's key

  // Flags.
  std::atomic<bool> removed{false};
  std::atomic<bool> started_once{false};
  std::atomic<bool> started{false};

  kernel::RemoveLock remove_lock;

  // USB.
  std::mutex usb_mu;  // the copies below
  std::vector<uint8_t> device_descriptor;
  std::vector<uint8_t> configuration_descriptor;
  kernel::usb::ConfigurationHandle configuration_handle = 0;
  std::optional<kernel::usb::InterfaceInfo> interface;
  std::atomic<int32_t> last_usb_error{0};

  std::atomic<int> open_handles{0};

  // Locks: every card-interface request, and each vendor request.
  std::mutex ioctl_mu;
  std::mutex vendor_mu;

  CardLayer card;
  std::atomic<int32_t> last_card_error{0};

  // Events handed over (none is ever set: the card has no interrupt line).
  std::mutex events_mu;
  std::array<kernel::EventRef, kMaxEvents> events;
  int event_count = 0;

  // Streaming: the current stream, and the stream requests in flight (a
  // replaced stream's included) until they end.
  std::mutex stream_mu;
  std::shared_ptr<IsoStream> stream;
  std::condition_variable stream_idle;
  int stream_requests = 0;

  kernel::Kernel& kernel() const { return device->kernel(); }
};

inline DeviceExtension& Ext(kernel::DeviceObject* device) {
  return *device->extension<DeviceExtension>();
}

// ---- The USB stack (usb_stack.cc).
NTSTATUS CallUsbd(DeviceExtension& ext, kernel::usb::Urb& urb);
NTSTATUS ReadDeviceDescriptor(DeviceExtension& ext);
NTSTATUS ReadConfigurationDescriptor(DeviceExtension& ext);
NTSTATUS SelectConfiguration(DeviceExtension& ext);
NTSTATUS Unconfigure(DeviceExtension& ext);
NTSTATUS ResetPort(DeviceExtension& ext);
void AbortPipes(DeviceExtension& ext);
// A copy of pipe `index` of the selected interface.
NTSTATUS PipeAt(DeviceExtension& ext, uint32_t index, kernel::usb::PipeInfo* pipe);
// A bulk or interrupt transfer on pipe `index` with `buffer` (its whole
// length, or `length` when not 0); *moved gets the bytes transferred.
NTSTATUS PipeTransferUsb(DeviceExtension& ext, uint32_t index, std::span<uint8_t> buffer,
                         uint32_t length, uint32_t* moved);

// ---- Vendor requests (vendor_request.cc). The bytes transferred of an in
// request, 0 for an out request; failures set the last USB error.
uint32_t VendorRequest(DeviceExtension& ext, const VendorRequestRecord& record,
                       std::span<uint8_t> buffer);
uint32_t VendorIn(DeviceExtension& ext, uint8_t request, uint16_t value, uint16_t index,
                  std::span<uint8_t> buffer);
// An out request with `data`; false when it failed.
bool VendorOut(DeviceExtension& ext, uint8_t request, uint16_t value, uint16_t index,
               std::span<const uint8_t> data);

// ---- Identification (identification.cc).
void IdentifyCard(DeviceExtension& ext);
uint32_t GetIdentText(DeviceExtension& ext, const char* command, char* out, size_t room);
uint32_t GetCardTypeUsb(DeviceExtension& ext);
uint32_t GetI10Usb(DeviceExtension& ext);
uint32_t GetLinkListUsb(DeviceExtension& ext, uint32_t* values, size_t max_values);
uint32_t GetScalesUsb(DeviceExtension& ext, bool velocity, uint32_t* values, size_t max_values);

// ---- The response buffer (response.cc).
uint32_t ReadResponseUsb(DeviceExtension& ext, char* buffer, uint32_t n);
void EmptyResponseBuffer(DeviceExtension& ext);
uint32_t SplitLineUsb(const char* from, char* record_text, uint32_t room);
void GetLineUsb(DeviceExtension& ext, LineIoBlock& record, bool mailbox_code);
uint32_t ReadLineUsb(DeviceExtension& ext, char* destination, uint32_t n);
uint32_t GetResponseBlockUsb(DeviceExtension& ext, char* out, uint32_t room);

// ---- Card commands (card_commands.cc).
void WriteLineUsb(DeviceExtension& ext, const char* text, size_t length, size_t input_length);
uint32_t WriteCharUsb(DeviceExtension& ext, char c);
void FlushUsb(DeviceExtension& ext);
uint32_t ReadReadyUsb(DeviceExtension& ext);
void GetControlResponseUsb(DeviceExtension& ext, LineIoBlock& record);
void ReadLineUsbOnce(DeviceExtension& ext, LineIoBlock& record);
void ResetCardUsb(DeviceExtension& ext);
void PortWriteUsb(DeviceExtension& ext, uint8_t reg, uint8_t value);
uint32_t PortReadUsb(DeviceExtension& ext, uint8_t reg);
void GatherControlUsb(DeviceExtension& ext, uint16_t on, uint16_t period);
uint32_t RotBufPutUsb(DeviceExtension& ext, std::span<const uint8_t> input);
uint32_t RotBufStatusUsb(DeviceExtension& ext);
void RotBufInitUsb(DeviceExtension& ext, uint16_t value);
void HostRotBufUsb(DeviceExtension& ext, uint8_t request);
uint32_t HostRotPutUsb(DeviceExtension& ext, std::span<uint8_t> data);
uint32_t RawVendorRequestUsb(DeviceExtension& ext, uint8_t request, std::span<uint8_t> out);

// ---- DPR (dpr.cc).
uint32_t ReadDpramUsb(DeviceExtension& ext, uint32_t offset, uint8_t* out, uint32_t length);
void WriteDpramUsb(DeviceExtension& ext, uint32_t offset, const uint8_t* data, uint32_t length);
void GetMemBitsUsb(DeviceExtension& ext, ZimoDprBitsRecord& record, bool single_bit);
void SetMemBitsUsb(DeviceExtension& ext, ZimoDprBitsRecord& record);
void SetMemBitUsb(DeviceExtension& ext, ZimoDprBitsRecord& record);

// ---- Events (events.cc).
NTSTATUS AddEvent(DeviceExtension& ext, const kernel::Irp& irp);
NTSTATUS RemoveEvent(DeviceExtension& ext, const kernel::Irp& irp);
void ReleaseEvents(DeviceExtension& ext);

// ---- Isochronous transfers and the stream (isochronous.cc).
NTSTATUS IsoTransfer(DeviceExtension& ext, const IsoParameters& params, std::span<uint8_t> buffer);
NTSTATUS StartIsoStream(DeviceExtension& ext, const IsoParameters& params);
void StopIsoStream(DeviceExtension& ext);
NTSTATUS ReadIsoBuffer(DeviceExtension& ext, const IsoParameters& params, std::span<uint8_t> out,
                       uint64_t* reply);
// Stops the stream and waits until its requests have ended.
void EndIsoStream(DeviceExtension& ext);

// ---- Dispatch routines.
NTSTATUS DispatchCreate(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchClose(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchControl(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchPnp(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS DispatchPower(kernel::DeviceObject* device, kernel::Irp& irp);
NTSTATUS AddDevice(kernel::DriverObject* driver, kernel::DeviceObject* physical_device);
// Card-interface codes (type 0x1D) and maintenance codes (type 0x22).
NTSTATUS RunCardCode(DeviceExtension& ext, uint32_t code, kernel::Irp& irp, uint64_t* reply);
NTSTATUS RunMaintenanceCode(DeviceExtension& ext, uint32_t code, kernel::Irp& irp, uint64_t* reply);

}  // namespace zimo::drivers::usb
