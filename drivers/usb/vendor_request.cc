// Vendor requests on the default pipe: the card firmware's own requests.
#include <algorithm>
#include <array>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace usbk = kernel::usb;

uint32_t VendorRequest(DeviceExtension& ext, const VendorRequestRecord& record,
                       std::span<uint8_t> buffer) {
  std::lock_guard lock(ext.vendor_mu);
  const bool in = record.direction == 1;
  std::array<uint8_t, 1> one = {record.byte};
  std::span<uint8_t> data = buffer;
  // A one-byte host-to-card request carries the record's byte.
  if (!in && record.length == 1 && buffer.empty()) data = one;
  const uint32_t length = std::min<uint32_t>(record.length, static_cast<uint32_t>(data.size()));
  usbk::Urb urb;
  usbk::BuildVendorRequest(&urb, usbk::kFunctionVendorDevice, in, record.request, record.value,
                           record.index, data, length);
  const NTSTATUS status = CallUsbd(ext, urb);
  if (!kernel::NtSuccess(status) || !in) return 0;
  return urb.transfer_length;
}

uint32_t VendorIn(DeviceExtension& ext, uint8_t request, uint16_t value, uint16_t index,
                  std::span<uint8_t> buffer) {
  VendorRequestRecord record{};
  record.request = request;
  record.value = value;
  record.index = index;
  record.length = static_cast<uint16_t>(std::min<size_t>(buffer.size(), 0xFFFF));
  record.direction = 1;
  return VendorRequest(ext, record, buffer.first(record.length));
}

bool VendorOut(DeviceExtension& ext, uint8_t request, uint16_t value, uint16_t index,
               std::span<const uint8_t> data) {
  // A data stage longer than a request can announce is not sent at all
  // rather than cut.
  if (data.size() > 0xFFFF) {
    ext.last_usb_error = usbk::kUsbdInvalidParameter;
    return false;
  }
  std::lock_guard lock(ext.vendor_mu);
  // The bus only reads an out request's data.
  std::span<uint8_t> bytes(const_cast<uint8_t*>(data.data()), data.size());
  usbk::Urb urb;
  usbk::BuildVendorRequest(&urb, usbk::kFunctionVendorDevice, false, request, value, index, bytes,
                           static_cast<uint32_t>(data.size()));
  return kernel::NtSuccess(CallUsbd(ext, urb));
}

}  // namespace zimo::drivers::usb
